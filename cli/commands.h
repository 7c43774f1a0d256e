// The subcommands of the tova tool. Each takes the words after its name,
// prints its results on stdout, throws CliError / UsageError on failure and
// returns the exit status.
#pragma once

#include <string>
#include <vector>

namespace tova_cli {

using Words = std::vector<std::string>;

struct Command {
  const char* name;
  const char* summary;  // one line for "tova --help"
  const char* help;     // the full text of "tova NAME --help"
  int (*run)(const Words& args);
};

int RunInfo(const Words& args);
int RunDump(const Words& args);
int RunExport(const Words& args);
int RunCat(const Words& args);
int RunRm(const Words& args);
int RunMv(const Words& args);
int RunDu(const Words& args);
int RunClean(const Words& args);
int RunSample(const Words& args);
int RunRepair(const Words& args);
int RunView(const Words& args);

extern const char* const kInfoHelp;
extern const char* const kDumpHelp;
extern const char* const kExportHelp;
extern const char* const kCatHelp;
extern const char* const kRmHelp;
extern const char* const kMvHelp;
extern const char* const kDuHelp;
extern const char* const kCleanHelp;
extern const char* const kSampleHelp;
extern const char* const kRepairHelp;
extern const char* const kViewHelp;

// Prints a command's help text on stdout; returns 0.
int PrintHelp(const char* help);

}  // namespace tova_cli
