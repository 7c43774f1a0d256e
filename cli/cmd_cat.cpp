// tova cat: joins the frames of several recordings into one document. Every
// frame passes the library's compatibility check (device, sensor and image
// size, data unit, calibration, measurement range).
#include <cstdio>
#include <filesystem>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "progress_bar.h"

namespace fs = std::filesystem;

namespace tova_cli {

const char* const kCatHelp =
    "Usage: tova cat FILE... -o OUT.tova [--append | --force]\n"
    "\n"
    "Writes all frames of the given recordings, in order, to OUT.tova. The\n"
    "recordings must fit together: same device, sensor and image size, data\n"
    "unit, calibration kind and measurement range. Every input is checked\n"
    "before anything is written; one that does not fit stops the command with\n"
    "the library's result code (60 device, data unit or calibration; 61\n"
    "measurement range; 62 sensor or image size). Should writing fail later,\n"
    "a new OUT.tova is removed again, so that no half-made file stays.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT  the document to write (extension .tova)\n"
    "  --append          add to an existing OUT.tova instead of making a new one;\n"
    "                    (checked against its first frame); frames added\n"
    "                    before a write failure stay\n"
    "  --force           replace an existing OUT.tova\n"
    "\n"
    "Example:\n"
    "  tova cat morning.tova noon.tova -o day.tova\n";

namespace {

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::equivalent(a, b, ec)) return true;
  std::error_code ea, eb;
  const fs::path ca = fs::weakly_canonical(a, ea), cb = fs::weakly_canonical(b, eb);
  return !ea && !eb && ca == cb;
}

// Runs the library's compatibility check for every input before anything is
// written: the first frame of each input is appended to a memory document
// that starts with the first frame of the output (when appending to one)
// or of the first input. The file append checks each input against the
// output the same way, so a recording that does not fit is found before
// gigabytes of the others have been written.
void CheckFit(const std::vector<Document>& sources, const std::string& out, bool out_has_frames) {
  Document probe = Document::OpenMemory(0, 0, false);
  if (out_has_frames) {
    const Document existing = Document::OpenRead(out);
    Check(TOVADLL_ADD_TOVA(probe.handle(), existing.handle(), 0), "cannot check " + Quote(out));
  }
  for (const Document& source : sources) {
    const int32_t rc = TOVADLL_ADD_TOVA(probe.handle(), source.handle(), 0);
    if (rc != TOVA_OK)
      throw CliError("cannot append " + Quote(source.path()) + " to " + Quote(out) + ": " + DescribeResult(rc) +
                     "; nothing was written");
  }
}

}  // namespace

int RunCat(const Words& words) {
  const Args args(words, {{"--output", "-o", true}, {"--append", "", false}, {"--force", "", false}});
  if (args.help()) return PrintHelp(kCatHelp);
  const auto out = args.value("--output");
  if (!out || out->empty()) throw UsageError("missing -o OUT.tova");
  if (args.positional().empty()) throw UsageError("missing input recordings");
  if (args.has("--append") && args.has("--force")) throw UsageError("give either --append or --force");
  if (!HasTovaExtension(*out)) throw UsageError("the output " + Quote(*out) + " must carry the extension .tova");
  const bool append = args.has("--append");
  for (const std::string& input : args.positional())
    if (SameFile(input, *out))
      throw UsageError("the output " + Quote(*out) + " is also an input; write to another file");
  std::error_code ec;
  if (fs::exists(*out, ec) && !append && !args.has("--force"))
    throw CliError(Quote(*out) + " exists; use --append to add to it or --force to replace it");

  // Every input is read before the output is touched, so that a missing or
  // damaged input leaves the output as it was.
  std::vector<Document> sources;
  uint64_t total = 0;
  for (const std::string& input : args.positional()) {
    sources.push_back(Document::OpenRead(input));
    total += sources.back().NumFrames();
  }

  CheckFit(sources, *out, append && fs::exists(*out, ec) && fs::file_size(*out, ec) > 0);

  Document target = Document::OpenWrite(*out, append);
  ProgressBar progress("Joining", total);
  uint64_t done = 0;
  for (const Document& source : sources) {
    const int32_t rc = TOVADLL_ADD_TOVA(target.handle(), source.handle(), 1);
    if (rc != TOVA_OK) {
      progress.Finish();
      std::string consequence;
      target.Close();
      if (!append) {
        DeletePath(*out);
        consequence = "; " + Quote(*out) + " was not written";
      } else if (done > 0) {
        consequence = "; the " + std::to_string(done) + " frames added before stay in " + Quote(*out);
      }
      throw CliError("cannot append " + Quote(source.path()) + " to " + Quote(*out) + ": " + DescribeResult(rc) +
                     consequence);
    }
    done += source.NumFrames();
    progress.Update(done);
  }
  progress.Finish();
  target.Close();
  std::printf("%s: %llu frame%s from %zu recording%s%s\n", out->c_str(), static_cast<unsigned long long>(done),
              done == 1 ? "" : "s", sources.size(), sources.size() == 1 ? "" : "s", append ? " appended" : "");
  return kExitOk;
}

}  // namespace tova_cli
