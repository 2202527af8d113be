// The command-line driver: checks the command line, names the temporary
// image file, has the program file prepared and disassembled, and cleans up.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "prgdis.h"

// Invocation name for the usage line, and the temporary image file's name.
static std::string progname;
static std::string tmpfilename;

[[noreturn]] static void usage(const char* message) {
  print_text(stderr, std::string(message) + "\n");
  print_text(stderr, "Usage: " + progname + " cbmfilename\n");
  std::exit(1);
}

std::string temporary_name(const std::string& inputname) {
  const std::size_t n = inputname.size();
  if (n >= 4) {
    const std::string last4 = inputname.substr(n - 4);
    if (last4 == ".prg" || last4 == ".PRG") {
      return inputname.substr(0, n - 4) + ".tmp";
    }
  }
  return inputname + ".tmp";
}

int main(int argc, char* argv[]) {
  // A caller may start us without any argument words (or with an empty
  // word 0); the usage line then shows our own name.
  progname = (argc > 0 && argv[0] != nullptr && argv[0][0] != '\0') ? argv[0] : "prgdis";

  // A closed pipe on standard output or a file size limit makes a write
  // fail instead of ending the run half-way: the job is finished or stopped
  // with a message, never cut off. Tolvek.exe inherits both settings.
#ifdef SIGPIPE
  std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif

  if (argc < 2) usage("No input file given!");
  if (argc > 2) usage("Too many input files given (probably due to a space in filename)!");

  const std::string inputname = argv[1];
  tmpfilename = temporary_name(naming_name(inputname));

  // Refuse before any file is touched: the name must reach Tolvek.exe as
  // one word and never as a command, and there must be a Tolvek.exe to run.
  command_word(tmpfilename);
  const std::string disassembler = disassembler_word();

  std::int32_t load = 0;
  std::int32_t entry = 0;
  prepare_file(inputname, tmpfilename, load, entry);
  run_disassembler(disassembler, load, entry, tmpfilename);

  remove_temporary_file(tmpfilename);
  print_text(stdout, "\n\nFile " + inputname +
                         " was disassembled successfully, see .asm and .lst file!\n");
  // The .asm and .lst are complete, but whoever reads standard output (a
  // pipe closed early, a full disk) did not get the report: say so.
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) error_exit("Error writing standard output!");
  return 0;
}
