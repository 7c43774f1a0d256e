// tova dump: the sections and entries of one frame, each entry with its data
// rendered as text by the library.
#include <cstdio>
#include <sstream>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"
#include "text.h"
#include "tova_ext.h"

namespace tova_cli {

const char* const kDumpHelp =
    "Usage: tova dump FILE [--frame N] [--section gh|dh|im[,...]]\n"
    "\n"
    "Lists the sections of a frame (global header gh, data header dh, image im)\n"
    "with every entry: its name, identifier and size, followed by its data as\n"
    "the library renders it (labelled lines with units and names of values).\n"
    "\n"
    "Options:\n"
    "  --frame N       the frame to show, counted from 0 (default 0)\n"
    "  --section LIST  only these sections, e.g. dh or gh,dh (default all three)\n"
    "\n"
    "Frame 0 lists every entry of the recording. A later frame lists only the\n"
    "entries stored with that frame (time stamp, temperatures, image data...);\n"
    "the entries shared by all frames belong to frame 0.\n"
    "\n"
    "Example:\n"
    "  tova dump sample.tova --frame 3 --section dh\n";

namespace {

struct SectionChoice {
  const char* key;
  uint16_t id;
};
constexpr SectionChoice kSections[] = {
    {"gh", TOVA_SECT_GlobalHeader}, {"dh", TOVA_SECT_DataHeader}, {"im", TOVA_SECT_Image}};

std::vector<uint16_t> ParseSections(const std::optional<std::string>& list) {
  std::vector<uint16_t> chosen;
  if (!list) {
    for (const SectionChoice& s : kSections) chosen.push_back(s.id);
    return chosen;
  }
  std::stringstream words(*list);
  std::string word;
  while (std::getline(words, word, ',')) {
    bool known = false;
    for (const SectionChoice& s : kSections)
      if (word == s.key) {
        chosen.push_back(s.id);
        known = true;
      }
    if (!known) throw UsageError("unknown section '" + word + "' (use gh, dh or im)");
  }
  if (chosen.empty()) throw UsageError("--section needs gh, dh or im");
  return chosen;
}

void PrintIndented(const std::string& text, const char* indent) {
  std::stringstream lines(NormaliseLineEnds(text));
  std::string line;
  while (std::getline(lines, line)) std::printf("%s%s\n", indent, line.c_str());
}

// A rendering of tova_ext into text; the result code goes to rc.
template <typename Render>
std::string Rendered(Render render, int32_t& rc) {
  std::string text(256, '\0');
  uint32_t needed = 0;
  rc = render(text.data(), static_cast<uint32_t>(text.size()), &needed);
  if (rc == TOVAEXT_ERR_BUFFER_TOO_SMALL) {
    text.resize(needed);
    rc = render(text.data(), needed, &needed);
  }
  text.resize(rc == TOVA_OK ? needed - 1 : 0);
  return text;
}

void DumpSection(const Document& doc, uint16_t section) {
  const uint64_t h = doc.handle();
  int32_t rc = TOVA_OK;
  const std::string heading =
      Rendered([&](char* b, uint32_t c, uint32_t* n) { return tovaext_section_string(h, section, b, c, n); }, rc);
  if (rc == TOVA_ERR_NO_SECTION) {
    std::printf("section %X: not present in this frame\n", section);
    return;
  }
  Check(rc, "cannot describe section " + std::to_string(section));
  std::printf("%s\n", heading.c_str());

  uint32_t count = 0;
  Check(TOVADLL_GET_NUM_ENTRIES(h, section, &count), "cannot count the entries");
  if (count == 0) std::printf("  (no entries stored with this frame)\n");
  for (uint32_t i = 0; i < count; ++i) {
    const std::string entry =
        Rendered([&](char* b, uint32_t c, uint32_t* n) { return tovaext_entry_string(h, section, i, b, c, n); }, rc);
    Check(rc, "cannot describe entry " + std::to_string(i + 1));
    std::printf("  %s\n", entry.c_str());
    const std::string data =
        Rendered([&](char* b, uint32_t c, uint32_t* n) { return tovaext_data_string(h, section, i, b, c, n); }, rc);
    Check(rc, "cannot render entry " + std::to_string(i + 1));
    PrintIndented(data, "      ");
  }
}

}  // namespace

int RunDump(const Words& words) {
  const Args args(words, {{"--frame", "", true}, {"--section", "", true}});
  if (args.help()) return PrintHelp(kDumpHelp);
  if (args.positional().size() != 1) throw UsageError(args.positional().empty() ? "missing FILE" : "too many files");
  const std::vector<uint16_t> sections = ParseSections(args.value("--section"));
  const uint32_t frame = static_cast<uint32_t>(args.number("--frame", UINT32_MAX).value_or(0));

  Document doc = Document::OpenRead(args.positional()[0]);
  const uint32_t frames = doc.NumFrames();
  if (frame >= frames)
    throw CliError("frame " + std::to_string(frame) + " does not exist: " + Quote(doc.path()) + " holds " +
                   std::to_string(frames) + " frame" + (frames == 1 ? "" : "s") + " (0 to " +
                   std::to_string(frames - 1) + ")");
  doc.SelectFrame(frame, true);
  std::printf("%s: frame %u (frames 0 to %u)\n", doc.path().c_str(), frame, frames - 1);
  for (uint16_t section : sections) {
    std::printf("\n");
    DumpSection(doc, section);
  }
  return kExitOk;
}

}  // namespace tova_cli
