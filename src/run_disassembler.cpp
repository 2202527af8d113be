// The two runs of Tolvek.exe through the command processor.
#include <cstdio>
#include <cstdlib>

#include "prgdis.h"

// The command line being run.
static std::string callstr;

namespace {

// Characters that no command processor treats specially; a name made of
// these alone goes on the command line as it is.
bool is_plain(const std::string& name, bool backslash_too) {
  if (name.empty()) return false;
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    const bool punct = c == '.' || c == '_' || c == '-' || c == '/' || c == '+' ||
                       c == ',' || c == ':' || c == '@' || c == '=';
    if (!alnum && !punct && !(backslash_too && c == '\\')) return false;
  }
  return true;
}

// Runs callstr; output written so far goes out first, so that it stands
// before the tool's own output also when it goes to a file or a pipe.
int run_callstr() {
  std::fflush(stdout);
  return std::system(callstr.c_str());
}

}  // namespace

std::optional<std::string> posix_shell_word(const std::string& name) {
  if (is_plain(name, false)) return name;
  // Inside single quotes sh takes every byte literally; a quote itself is
  // closed, escaped and reopened.
  std::string word = "'";
  for (const char c : name) word += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return word + "'";
}

std::optional<std::string> cmd_shell_word(const std::string& name) {
  if (is_plain(name, true)) return name;
  // cmd.exe expands %VAR% even inside double quotes and cannot escape it
  // there; a double quote or a control character cannot be passed either.
  for (const char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '%' || c == '"' || c < 0x20 || c == 0x7F) return std::nullopt;
  }
  // Inside double quotes cmd.exe takes & | < > ^ ( ) and spaces literally.
  // The program's argument parser reads backslashes before the closing quote
  // as escapes, so trailing ones are doubled.
  std::string word = "\"" + name;
  for (auto it = name.rbegin(); it != name.rend() && *it == '\\'; ++it) word += '\\';
  return word + "\"";
}

std::optional<std::string> shell_word(const std::string& name) {
#ifdef _WIN32
  return cmd_shell_word(name);
#else
  return posix_shell_word(name);
#endif
}

std::string disassembler_command(char option, std::int32_t load, std::int32_t entry,
                                 const std::string& name) {
  return std::string("Tolvek.exe -") + option + " -c6502 -o" + std::to_string(load) +
         " -e" + std::to_string(entry) + " -t " + name;
}

std::string command_word(const std::string& name) {
  const std::optional<std::string> word = shell_word(name);
  if (!word) error_exit("Input file name holds a character that cannot be passed safely to Tolvek.exe!");
  return *word;
}

void run_disassembler(std::int32_t load, std::int32_t entry, const std::string& tmpname) {
  const std::string name = command_word(tmpname);

  callstr = disassembler_command('a', load, entry, name);
  print_text(stdout, callstr + "\n");
  if (run_callstr() != 0) error_exit("Tolvek terminated due to an error!");

  callstr = disassembler_command('w', load, entry, name);
  if (run_callstr() != 0) {
    error_exit("Tolvek terminated due to an error when generating the list file!");
  }
}
