// prgdis: disassembles a Commodore program file (.prg) with the Tolvek.exe
// 6502 disassembler. These are the operations shared by its modules.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

// Writes message and a newline to standard error and ends the process with
// exit status 1 through the normal exit path (buffered output is written).
[[noreturn]] void error_exit(const std::string& message);

// Writes text to standard output or standard error, as printable_text
// shows it. On Windows a console gets it as UTF-16, so that it shows names
// beyond its own code page; files and pipes get the UTF-8 bytes, on every
// platform.
void print_text(std::FILE* stream, const std::string& text);

// The text with '?' for what a terminal would act on rather than show:
// control characters (C0 but the line feed, DEL, and C1 as UTF-8) and
// bytes that are not UTF-8. Names quoted in messages cannot break a line
// or drive the terminal this way; UTF-8 text such as "ü.prg" is kept.
std::string printable_text(const std::string& text);

// The device a file name stands for on Windows whatever its folder and
// extension ("AUX" for aux.prg), or "" when it names a file: CON, PRN,
// AUX, NUL, COM1-9, LPT1-9, CONIN$ and CONOUT$, in any letter case.
std::string windows_device(const std::string& name);

// The name the temporary file and the outputs are named after. On Windows
// the program file's name as Windows knows it: the long name for a short
// one (GAME~1.PRG is game-long-name.prg, whose hints file is
// game-long-name.hints), without the dots and spaces at the end that
// Windows drops (game.prg. is game.prg). Elsewhere the name as given.
std::string naming_name(const std::string& inputname);

// Name of the temporary image file for the program file `inputname`: a
// trailing ".prg" or ".PRG" is replaced by ".tmp", any other name gets ".tmp"
// appended.
std::string temporary_name(const std::string& inputname);

// Copies the program file `inputname` without its two-byte load address to
// `tmpname`, and determines the load address and the entry address. The
// program file must be a regular file and its image at most 64 KiB, and
// Tolvek.exe must be free to replace its outputs (the .asm and .lst named
// after `tmpname`): one that the user made read-only stops the run. All
// this is found out before anything is written.
// `tmpname` is then made anew, never written through what had that name,
// and stays this run's until remove_temporary_file: another prgdis run on
// the same name meanwhile is refused and leaves it alone.
// Ends the process through error_exit on any failure.
void prepare_file(const std::string& inputname, const std::string& tmpname,
                  std::int32_t& load, std::int32_t& entry);

// Removes the temporary image file that prepare_file made, and with it
// this run's hold on the name.
void remove_temporary_file(const std::string& tmpname);

// State of the search for "SYS <number>" in the memory image.
struct SysScan {
  bool armed = false;
  std::uint32_t accumulator = 0;  // wraps modulo 2^32, read as signed
};

// Feeds one image byte to the SYS search; a number that is closed and not
// below the load address becomes the entry address.
void sys_scan_step(SysScan& scan, unsigned char c, std::int32_t load,
                   std::int32_t& entry);

// sys_scan_step over `count` bytes, skipping quickly over bytes that cannot
// matter while no SYS token is pending.
void sys_scan_block(SysScan& scan, const unsigned char* bytes, std::size_t count,
                    std::int32_t load, std::int32_t& entry);

// The file name as one word for the command processor: unchanged when it is
// made of harmless characters only, quoted otherwise; nothing when the
// command processor cannot be given it safely.
std::optional<std::string> posix_shell_word(const std::string& name);
std::optional<std::string> cmd_shell_word(const std::string& name);
std::optional<std::string> shell_word(const std::string& name);

// shell_word for this platform; ends the process through error_exit when the
// name cannot be passed safely.
std::string command_word(const std::string& name);

// One command line for Tolvek.exe: program is the word that names it
// ("Tolvek.exe" as echoed, or the path of the one that runs), option is 'a'
// (assembly source) or 'w' (list file), name is already a shell word.
std::string disassembler_command(const std::string& program, char option, std::int32_t load,
                                 std::int32_t entry, const std::string& name);

// The Tolvek.exe that prgdis runs: the one in own_folder (prgdis's own) when
// there is one, else the first in a folder of path_list (PATH's value). The current folder
// is never searched, neither by itself nor through a relative entry such as
// "." or an empty one: only absolute folders count. Nothing when there is
// none.
std::optional<std::string> find_disassembler(const std::string& own_folder,
                                             const std::string& path_list);

// find_disassembler for this process (its own folder on Windows and Linux,
// where it can be told), as a word for the command processor; ends the
// process through error_exit when there is none or its path cannot be
// passed safely.
std::string disassembler_word();

// Runs Tolvek.exe (program, a word from disassembler_word) twice on the
// temporary image file; returns only when both runs succeeded, ends the
// process through error_exit otherwise.
void run_disassembler(const std::string& program, std::int32_t load, std::int32_t entry,
                      const std::string& tmpname);
