// tova: the command-line tool for TOVA documents. It looks at, exports,
// joins and manages recordings through the public API of the library only.
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "HOLMDAQTova.h"
#include "commands.h"
#include "errors.h"

namespace tova_cli {
namespace {

const Command kCommands[] = {
    {"info", "what a recording holds: frames, sizes, calibration, device, times, size on disk", kInfoHelp, RunInfo},
    {"dump", "the sections and entries of a frame, with their data as text", kDumpHelp, RunDump},
    {"export", "a frame's pixels as a false-colour PNG, CSV or raw file", kExportHelp, RunExport},
    {"cat", "join recordings into one (they must fit together)", kCatHelp, RunCat},
    {"rm", "delete documents with their continuation files", kRmHelp, RunRm},
    {"mv", "rename a document with its continuation files", kMvHelp, RunMv},
    {"du", "size of documents with their continuation files", kDuHelp, RunDu},
    {"clean", "delete old documents in a directory tree", kCleanHelp, RunClean},
    {"view", "look at a recording in the browser: frames, temperatures, plots over time", kViewHelp, RunView},
    {"sample", "write a synthetic recording: a hot spot moving over a warm background", kSampleHelp, RunSample},
    {"repair", "keep the whole frames of a damaged recording, drop a torn last frame", kRepairHelp, RunRepair},
};

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: tova COMMAND [ARGS...]\n"
               "       tova COMMAND --help\n"
               "\n"
               "Reads, writes and manages TOVA documents (infrared images and recordings).\n"
               "\n"
               "Commands:\n");
  for (const Command& c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
  std::fprintf(out,
               "\n"
               "Frames are counted from 0. Failures are reported on stderr with the\n"
               "library's result code; the exit status is 0 on success, 1 when the work\n"
               "failed and 2 for a wrong command line.\n");
}

}  // namespace

int PrintHelp(const char* help) {
  std::fputs(help, stdout);
  return kExitOk;
}

}  // namespace tova_cli

int main(int argc, char** argv) {
  using namespace tova_cli;
  // The library's progress window has no place in a terminal tool.
  TOVADLL_SET_DLG_SHOW(0);

  if (argc < 2) {
    PrintUsage(stderr);
    return kExitUsage;
  }
  const std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    if (name == "help" && argc > 2) {
      for (const Command& c : kCommands)
        if (argv[2] == std::string(c.name)) return PrintHelp(c.help);
    }
    PrintUsage(stdout);
    return kExitOk;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands)
    if (name == c.name) command = &c;
  if (!command) {
    std::fprintf(stderr, "tova: unknown command '%s'\n\n", name.c_str());
    PrintUsage(stderr);
    return kExitUsage;
  }

  const Words args(argv + 2, argv + argc);
  try {
    return command->run(args);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tova %s: %s\nTry 'tova %s --help'.\n", command->name, e.what(), command->name);
    return e.exit_status();
  } catch (const CliError& e) {
    std::fprintf(stderr, "tova %s: %s\n", command->name, e.what());
    return e.exit_status();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tova %s: out of memory\n", command->name);
    return kExitFailure;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tova %s: %s\n", command->name, e.what());
    return kExitFailure;
  }
}
