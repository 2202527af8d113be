// Commodore BASIC V2 programs at the start of an image.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image.hpp"

namespace tolvek {

struct BasicLine {
    std::uint32_t address = 0;  // of the link word
    std::uint32_t size = 0;     // link, line number, text and the closing zero
    std::string text;           // "10 SYS2061"
    std::uint32_t number = 0;   // the line number
    // The addresses its SYS statements call, in order: those whose
    // address is a constant (SYS2061, SYS 2061, SYS(2061), SYS 2000+61).
    std::vector<std::uint32_t> sys;
};

struct BasicProgram {
    std::vector<BasicLine> lines;
    std::uint32_t end = 0;  // address after the final zero link
};

// The BASIC program the image starts with, if it holds one: lines linked
// exactly as the BASIC editor stores them, closed by a zero link inside the
// image. Returns an empty program otherwise.
BasicProgram find_basic(const Image& image);

// A SYS statement's address and the number of its line.
struct SysCall {
    std::uint32_t address = 0;
    std::uint32_t line = 0;
};

// The first SYS of `program`, in its order, that calls past the program's
// end to an address `into` takes, if any (as RUN would reach it).
std::optional<SysCall> first_sys_after(const BasicProgram& program,
                                       const std::function<bool(std::uint32_t)>& into);

// The listing of one line's tokenized text, as LIST shows it.
std::string detokenize(const std::vector<std::uint8_t>& text);

// The addresses that the SYS statements of one line's tokenized text call,
// where the address is a constant: numbers, + - * / and parentheses,
// spaces anywhere, ending at the statement's end (':'), a comma or the
// line's end, and within 0..65535 (as BASIC takes it: the fraction cut
// off). Statements after REM and the text of DATA are not looked into.
std::vector<std::uint32_t> sys_addresses(const std::vector<std::uint8_t>& text);

}  // namespace tolvek
