#include <cstdio>
#include <cstdlib>

#include "prgdis.h"

void error_exit(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  // exit(), not abort(): stdout is flushed so the echoed command stays
  // visible, and open streams are closed.
  std::exit(1);
}
