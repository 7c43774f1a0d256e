// tova repair: the companion library's salvage of a recording whose writer
// died while appending (a torn last frame, stray bytes, stray continuation
// files), with a report of what was kept and what was dropped.
#include <cstdio>
#include <string>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "tova_salvage.h"

namespace tova_cli {

const char* const kRepairHelp =
    "Usage: tova repair FILE -o OUT.tova\n"
    "       tova repair FILE --in-place\n"
    "       tova repair FILE\n"
    "\n"
    "Keeps every whole frame of a recording and its continuation files and\n"
    "drops what follows the last one: a frame cut short when its writer died,\n"
    "stray bytes, continuation files the reader never enters. Without an\n"
    "option it only tells what it would keep and drop (exit status 1 when\n"
    "something needs repair). A recording that reads cleanly and has nothing\n"
    "to drop is never changed.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT  write the whole frames as a new recording OUT\n"
    "                    (FILE stays as it is; a recording OUT is replaced)\n"
    "  --in-place        cut FILE back to the end of its last whole frame and\n"
    "                    remove the continuation files beyond it\n"
    "\n"
    "The exit status is 0 when the result reads cleanly.\n"
    "\n"
    "Example:\n"
    "  tova repair crashed.tova -o rescued.tova\n";

namespace {

std::string Plural(uint64_t n, const char* word) {
  return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

const char* StopText(uint32_t stop) {
  switch (stop) {
    case TOVAEXT_SALVAGE_STOP_TORN: return "a record cut short";
    case TOVAEXT_SALVAGE_STOP_SECTION_LENGTH: return "a section length below 6";
    case TOVAEXT_SALVAGE_STOP_SECTION_ID: return "bytes that are no section";
    case TOVAEXT_SALVAGE_STOP_ENTRY_RECORD: return "a malformed entry record";
    default: return "the end of the data";
  }
}

std::string PartName(uint32_t part) {
  if (part == 0) return "the main file";
  char text[32];
  std::snprintf(text, sizeof text, "continuation file %03u", part);
  return text;
}

void PrintReport(const std::string& path, const tovaext_salvage_report& r) {
  std::printf("%s: %s\n", path.c_str(),
              r.read_before == TOVA_OK ? "reads cleanly" : ("does not read: " + DescribeResult(r.read_before)).c_str());
  std::printf("kept:    %s, %s in %s\n", Plural(r.datasets_kept, "whole frame").c_str(),
              Plural(r.bytes_kept, "byte").c_str(), Plural(r.parts_kept, "file").c_str());
  if (r.bytes_cut == 0 && r.parts_removed == 0) {
    std::printf("dropped: nothing\n");
    return;
  }
  std::printf("dropped: %s, %s after the last whole frame", Plural(r.datasets_dropped, "incomplete frame").c_str(),
              Plural(r.bytes_cut, "byte").c_str());
  if (r.parts_removed) std::printf(" (%s)", Plural(r.parts_removed, "stray continuation file").c_str());
  std::printf("\n");
  if (r.stop != TOVAEXT_SALVAGE_STOP_END)
    std::printf("         the walk met %s in %s at byte %llu\n", StopText(r.stop), PartName(r.stop_part).c_str(),
                static_cast<unsigned long long>(r.stop_offset));
}

std::string SalvageText(int32_t rc, const tovaext_salvage_report& r) {
  switch (rc) {
    case TOVAEXT_ERR_SALVAGE_NOTHING: return "not one whole frame to keep; nothing was changed";
    case TOVA_ERR_OPEN: return "the file cannot be opened";
    case TOVAEXT_ERR_SALVAGE_IO: return "a file could not be read, written, cut or removed";
    case TOVAEXT_ERR_SALVAGE_UNREADABLE: return "the result does not read: " + DescribeResult(r.read_after);
    case TOVAEXT_ERR_SALVAGE_SAME_FILE: return "OUT is FILE itself; use --in-place";
    case TOVAEXT_ERR_SALVAGE_REFUSED: return "the library reads more frames than the repair would keep; nothing was changed";
    default: return DescribeResult(rc);
  }
}

}  // namespace

int RunRepair(const Words& words) {
  const Args args(words, {{"--output", "-o", true}, {"--in-place", "", false}});
  if (args.help()) return PrintHelp(kRepairHelp);
  if (args.positional().size() != 1) throw UsageError("expects one FILE");
  const std::string path = args.positional()[0];
  const std::optional<std::string> out = args.value("--output");
  const bool in_place = args.has("--in-place");
  if (out && in_place) throw UsageError("-o and --in-place exclude each other");
  if (out && !HasTovaExtension(*out)) throw UsageError(Quote(*out) + " is not a TOVA document name (extension .tova)");

  tovaext_salvage_report report{};
  const int32_t check = tovaext_salvage_check(path.c_str(), &report);
  if (check != TOVA_OK) throw CliError("cannot repair " + Quote(path) + ": " + SalvageText(check, report));
  PrintReport(path, report);
  const bool clean = report.read_before == TOVA_OK && report.bytes_cut == 0 && report.parts_removed == 0;
  if (!out && !in_place) {
    if (!clean) std::printf("run 'tova repair %s --in-place' or '-o OUT.tova' to repair it\n", path.c_str());
    return clean ? kExitOk : kExitFailure;
  }
  if (clean && in_place) {
    std::printf("nothing to repair; the file was not changed\n");
    return kExitOk;
  }
  const int32_t rc = tovaext_salvage(path.c_str(), out ? out->c_str() : nullptr, &report);
  if (rc != TOVA_OK) throw CliError("cannot repair " + Quote(path) + ": " + SalvageText(rc, report));
  if (out)
    std::printf("wrote %s: reads cleanly, %s\n", out->c_str(), Plural(report.datasets_kept, "frame").c_str());
  else
    std::printf("repaired %s in place: reads cleanly, %s\n", path.c_str(), Plural(report.datasets_kept, "frame").c_str());
  return kExitOk;
}

}  // namespace tova_cli
