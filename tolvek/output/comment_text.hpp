// Text from the user or the image shown to the user: in a comment of the
// .asm or .lst (names, BASIC lines, PETSCII text, hints), or in a message.
#pragma once

#include <string>
#include <string_view>

namespace tolvek {

// Appends `text` to `out` so that it stays inside one comment line whatever
// it holds: control characters (C0, DEL, and C1 as UTF-8), the Unicode
// line and paragraph separators and bytes that are not UTF-8 are written as
// escapes (\n, \r, \t, \xNN, \uNNNN), and the backslash as \\ so that
// every escape reads one way. Anything else, UTF-8 included, is kept as it
// is. `preprocessed`: for a source that a C-like preprocessor reads first,
// also in comments, "/*" is written "\x2f*" (no comment opens) and the
// backslash "\x5c" (none ends the line and joins the next one to it).
void append_comment_text(std::string& out, std::string_view text, bool preprocessed = false);

// `text` for a message on one line of a terminal: control characters (C0,
// DEL, and C1 as UTF-8) and bytes that are not UTF-8 show as '?', so that
// what a name or a hints file holds can neither break the line nor drive
// the terminal. Anything else, UTF-8 included, is kept as it is.
std::string one_line(std::string_view text);

}  // namespace tolvek
