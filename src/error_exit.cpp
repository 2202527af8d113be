#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "prgdis.h"

#ifdef _WIN32
// The length of the UTF-8 sequence that starts with `lead`; 0 for a byte
// that starts none.
static std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  return lead < 0xF5 ? 4 : 0;
}

// UTF-8 as UTF-16; a byte that starts no complete sequence shows as U+FFFD.
static std::wstring utf16_text(const std::string& text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = sequence_length(lead);
    char32_t code = length <= 1 ? lead : lead & (0x7Fu >> length);
    std::size_t k = 1;
    for (; k < length && i + k < text.size(); ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) break;
      code = (code << 6) | (next & 0x3Fu);
    }
    if (length == 0 || k < length) {
      wide += L'\xFFFD';
      i += 1;
    } else if (code >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
      i += length;
    } else {
      wide += static_cast<wchar_t>(code);
      i += length;
    }
  }
  return wide;
}
#endif

void print_text(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
  // A console shows bytes in its own code page, which is not UTF-8; UTF-16
  // it shows whole.
  if (_isatty(_fileno(stream))) {
    std::fflush(stream);
    const int mode = _setmode(_fileno(stream), _O_U16TEXT);
    std::fputws(utf16_text(text).c_str(), stream);
    std::fflush(stream);
    _setmode(_fileno(stream), mode);
    return;
  }
#endif
  std::fputs(text.c_str(), stream);
}

void error_exit(const std::string& message) {
  print_text(stderr, message + "\n");
  // exit(), not abort(): stdout is flushed so the echoed command stays
  // visible, and open streams are closed.
  std::exit(1);
}
