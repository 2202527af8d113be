// The two runs of Tolvek.exe through the command processor, and which
// Tolvek.exe that is.
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "prgdis.h"

// The command line being run.
static std::string callstr;

namespace {

// The name the disassembler is known by, also in the echoed command line.
const std::string disassembler_name = "Tolvek.exe";

#ifdef _WIN32
const char path_list_separator = ';';
const char folder_separator = '\\';
#else
const char path_list_separator = ':';
const char folder_separator = '/';
#endif

bool is_folder_separator(char c) { return c == '/' || c == folder_separator; }

// Only an absolute folder is the same wherever prgdis runs; a relative one
// (".", "bin", an empty PATH entry) would be looked up in the current
// folder, which may hold anything, such as a downloaded Tolvek.exe.
bool is_absolute_folder(const std::string& folder) {
#ifdef _WIN32
  const bool drive = folder.size() >= 3 && folder[1] == ':' && is_folder_separator(folder[2]) &&
                     ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z'));
  const bool network = folder.size() >= 2 && is_folder_separator(folder[0]) && is_folder_separator(folder[1]);
  return drive || network;
#else
  return !folder.empty() && folder[0] == '/';
#endif
}

// The folders of a PATH value in order. On Windows an entry may be quoted,
// so that it can hold the separator; the quotes are not part of the name.
std::vector<std::string> path_folders(const std::string& path_list) {
  std::vector<std::string> folders(1);
  bool quoted = false;
  for (const char c : path_list) {
#ifdef _WIN32
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
#endif
    if (c == path_list_separator && !quoted) {
      folders.emplace_back();
    } else {
      folders.back() += c;
    }
  }
  return folders;
}

// A file that the command processor can run: on Windows any file, on POSIX
// systems a regular file that we may execute.
bool is_program(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
#else
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
#endif
}

// The folder that holds this program's own executable, with its trailing
// separator; "" where that cannot be told (POSIX systems other than Linux).
std::string own_folder() {
  std::string path;
#ifdef _WIN32
  // The buffer grows until the whole name fits.
  for (DWORD size = MAX_PATH;; size *= 2) {
    path.assign(size, '\0');
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
    if (length == 0) return "";
    if (length < size) {
      path.resize(length);
      break;
    }
  }
#elif defined(__linux__)
  for (std::size_t size = 256;; size *= 2) {
    path.assign(size, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), size);
    if (length < 0) return "";
    if (static_cast<std::size_t>(length) < size) {
      path.resize(static_cast<std::size_t>(length));
      break;
    }
  }
#endif
  // The folder keeps its trailing separator.
  std::size_t end = path.size();
  while (end > 0 && !is_folder_separator(path[end - 1])) --end;
  return path.substr(0, end);
}

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
#ifdef _WIN32
  // cmd.exe /c takes the first and the last quote off a command line that
  // starts with one (but for a lone quoted program name); the pair around
  // it is what it takes, so that a quoted path and a quoted name stay whole.
  return std::system(("\"" + callstr + "\"").c_str());
#else
  return std::system(callstr.c_str());
#endif
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

std::string disassembler_command(const std::string& program, char option, std::int32_t load,
                                 std::int32_t entry, const std::string& name) {
  return program + " -" + option + " -c6502 -o" + std::to_string(load) + " -e" +
         std::to_string(entry) + " -t " + name;
}

std::optional<std::string> find_disassembler(const std::string& own_folder,
                                             const std::string& path_list) {
  std::vector<std::string> folders = path_folders(path_list);
  folders.insert(folders.begin(), own_folder);
  for (const std::string& folder : folders) {
    if (!is_absolute_folder(folder)) continue;
    const std::string separator = is_folder_separator(folder.back()) ? "" : std::string(1, folder_separator);
    const std::string program = folder + separator + disassembler_name;
    if (is_program(program)) return program;
  }
  return std::nullopt;
}

std::string disassembler_word() {
  const char* path_list = std::getenv("PATH");
  const std::optional<std::string> program = find_disassembler(own_folder(), path_list ? path_list : "");
  if (!program) error_exit(disassembler_name + " is neither beside prgdis nor on PATH!");
  const std::optional<std::string> word = shell_word(*program);
  if (!word) {
    error_exit("The path " + *program +
               " holds a character that cannot be passed safely to the command processor!");
  }
  return *word;
}

std::string command_word(const std::string& name) {
  const std::optional<std::string> word = shell_word(name);
  if (!word) error_exit("Input file name holds a character that cannot be passed safely to Tolvek.exe!");
  return *word;
}

void run_disassembler(const std::string& program, std::int32_t load, std::int32_t entry,
                      const std::string& tmpname) {
  const std::string name = command_word(tmpname);

  // The echoed line names the tool as the user knows it; the command that
  // runs names the one found by its path, so that the command processor
  // does not search for it. cmd.exe would look in the current folder first;
  // NoDefaultCurrentDirectoryInExePath keeps Windows' cmd.exe from that, but
  // not wine's.
  print_text(stdout, disassembler_command(disassembler_name, 'a', load, entry, name) + "\n");
  callstr = disassembler_command(program, 'a', load, entry, name);
  if (run_callstr() != 0) error_exit("Tolvek terminated due to an error!");

  callstr = disassembler_command(program, 'w', load, entry, name);
  if (run_callstr() != 0) {
    error_exit("Tolvek terminated due to an error when generating the list file!");
  }
}
