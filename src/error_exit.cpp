// Messages and other text for the user, on standard output or standard
// error.
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "prgdis.h"

namespace {

// The length of the UTF-8 sequence at text[i]; 0 where none starts there
// (a stray or cut-off byte, an overlong form, a surrogate, a code point
// beyond U+10FFFF).
std::size_t utf8_length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t k) {
    return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
  };
  const unsigned lead = byte(0);
  if (lead < 0x80) return 1;
  // The lead byte gives the length and the range of the second byte; every
  // further byte is a plain continuation byte.
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (byte(1) < low || byte(1) > high) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
  }
  return length;
}

#ifdef _WIN32
// UTF-8 as UTF-16; a byte that starts no sequence shows as U+FFFD.
std::wstring utf16_text(const std::string& text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = utf8_length(text, i);
    if (length == 0) {
      wide += L'\xFFFD';
      i += 1;
      continue;
    }
    const auto lead = static_cast<unsigned char>(text[i]);
    char32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    if (code >= 0x10000) {
      wide += static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
      wide += static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(code);
    }
    i += length;
  }
  return wide;
}
#endif

}  // namespace

std::string printable_text(const std::string& text) {
  std::string shown;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8_length(text, i);
    const bool control = (c < 0x20 && c != '\n') || c == 0x7F ||
                         (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (length == 0 || control) {
      shown += '?';
    } else {
      shown.append(text, i, length);
    }
    i += length == 0 ? 1 : length;  // a byte that is not UTF-8 alone
  }
  return shown;
}

void print_text(std::FILE* stream, const std::string& text) {
  const std::string shown = printable_text(text);
#ifdef _WIN32
  // A console shows bytes in its own code page, which is not UTF-8; UTF-16
  // it shows whole.
  if (_isatty(_fileno(stream))) {
    std::fflush(stream);
    const int mode = _setmode(_fileno(stream), _O_U16TEXT);
    std::fputws(utf16_text(shown).c_str(), stream);
    std::fflush(stream);
    _setmode(_fileno(stream), mode);
    return;
  }
#endif
  std::fputs(shown.c_str(), stream);
}

void error_exit(const std::string& message) {
  print_text(stderr, message + "\n");
  // exit(), not abort(): stdout is flushed so the echoed command stays
  // visible, and open streams are closed.
  std::exit(1);
}
