// The whole program behind main(): arguments in, one output file out.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tolvek {

// Runs Tolvek with the arguments after the program name. Returns the exit
// status; problems go to `err` as one line.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tolvek
