// tova rm, mv, du and clean: a stored document together with its
// continuation files ("FILE 001", "FILE 002", ...) treated as one unit.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <set>

#include "HOLMDAQTova.h"
#include "args.h"
#include "commands.h"
#include "document.h"
#include "errors.h"

namespace fs = std::filesystem;

namespace tova_cli {

const char* const kRmHelp =
    "Usage: tova rm FILE... [-f]\n"
    "\n"
    "Deletes each document together with its continuation files.\n"
    "\n"
    "Options:\n"
    "  -f, --force  no error for a document that does not exist (its leftover\n"
    "               continuation files are still deleted)\n"
    "\n"
    "Example:\n"
    "  tova rm old.tova\n";

const char* const kMvHelp =
    "Usage: tova mv OLD.tova NEW.tova [-f]\n"
    "       tova mv OLD.tova DIR [-f]\n"
    "\n"
    "Renames a document together with its continuation files; each part keeps\n"
    "its number (OLD.tova 002 becomes NEW.tova 002). Into a directory, the\n"
    "document keeps its name.\n"
    "\n"
    "Options:\n"
    "  -f, --force  replace an existing NEW.tova (and drop its continuation\n"
    "               files that OLD.tova has no counterpart for)\n"
    "\n"
    "Example:\n"
    "  tova mv scan.tova archive/scan-2024-05-17.tova\n";

const char* const kDuHelp =
    "Usage: tova du PATH...\n"
    "\n"
    "Shows the size on disk of each document with its continuation files, in\n"
    "megabytes (1 MB = 1024 x 1024 bytes). A directory is searched for\n"
    "documents (*.tova) in its whole tree; a total follows when more than one\n"
    "document was sized.\n"
    "\n"
    "Example:\n"
    "  tova du recordings/\n";

const char* const kCleanHelp =
    "Usage: tova clean DIR --older-than AGE [--dry-run]\n"
    "\n"
    "Deletes, in DIR and all its subdirectories, every document (*.tova) that\n"
    "was last modified longer than AGE ago, together with its continuation\n"
    "files. A document one of whose continuation files is younger stays whole.\n"
    "Subdirectories created longer than AGE ago are removed when they are\n"
    "empty afterwards; DIR itself stays. Other files are never touched.\n"
    "Ctrl-C stops the walk at the next file.\n"
    "\n"
    "AGE is a number with a unit: s (seconds), m (minutes), h (hours), d (days)\n"
    "or w (weeks), e.g. 45s, 30m, 12h, 7d; a bare number counts seconds.\n"
    "\n"
    "Options:\n"
    "  --older-than AGE  the age from which documents go (required)\n"
    "  --dry-run         only list the documents that would go\n"
    "\n"
    "Example:\n"
    "  tova clean /data/recordings --older-than 7d\n";

namespace {

std::string PartsText(size_t parts) {
  if (parts == 0) return "";
  return " (+" + std::to_string(parts) + " continuation file" + (parts == 1 ? "" : "s") + ")";
}

void RequireTovaName(const std::string& path) {
  if (!HasTovaExtension(path)) throw CliError(Quote(path) + " is not a TOVA document name (extension .tova)");
}

// The part suffix of a continuation file name (" 002"), from its main name.
std::string PartSuffix(const std::string& part_path, const std::string& main_path) {
  const std::string part = fs::path(part_path).filename().string();
  const std::string main = fs::path(main_path).filename().string();
  return part.substr(std::min(main.size(), part.size()));
}

// Reports a failure of one of several files and goes on with the next.
int Report(const std::string& command, const CliError& e) {
  std::fprintf(stderr, "tova %s: %s\n", command.c_str(), e.what());
  return kExitFailure;
}

}  // namespace

int RunRm(const Words& words) {
  const Args args(words, {{"--force", "-f", false}});
  if (args.help()) return PrintHelp(kRmHelp);
  if (args.positional().empty()) throw UsageError("missing FILE");
  int status = kExitOk;
  for (const std::string& path : args.positional()) {
    try {
      RequireTovaName(path);
      std::error_code ec;
      const bool exists = fs::exists(path, ec);
      if (!exists && !args.has("--force")) throw CliError("cannot delete " + Quote(path) + ": no such file");
      if (fs::is_directory(path, ec)) throw CliError("cannot delete " + Quote(path) + ": it is a directory");
      const size_t parts = ContinuationFiles(path).size();
      Check(DeletePath(path), "cannot delete " + Quote(path));
      if (exists || parts) std::printf("removed %s%s\n", path.c_str(), PartsText(parts).c_str());
    } catch (const CliError& e) {
      status = Report("rm", e);
    }
  }
  return status;
}

int RunMv(const Words& words) {
  const Args args(words, {{"--force", "-f", false}});
  if (args.help()) return PrintHelp(kMvHelp);
  if (args.positional().size() != 2) throw UsageError("expects OLD and NEW");
  const std::string old_path = args.positional()[0];
  std::string new_path = args.positional()[1];
  std::error_code ec;
  if (fs::is_directory(new_path, ec)) new_path = (fs::path(new_path) / fs::path(old_path).filename()).string();
  RequireTovaName(old_path);
  RequireTovaName(new_path);
  if (!fs::is_regular_file(old_path, ec)) throw CliError("cannot rename " + Quote(old_path) + ": no such file");
  if (fs::exists(new_path, ec)) {
    if (fs::equivalent(old_path, new_path, ec)) throw CliError(Quote(old_path) + " and " + Quote(new_path) + " are the same file");
    if (!args.has("--force")) throw CliError(Quote(new_path) + " exists; use --force to replace it");
  }

  const std::vector<std::string> old_parts = ContinuationFiles(old_path);
  std::set<std::string> moving;
  for (const std::string& part : old_parts) moving.insert(PartSuffix(part, old_path));
  const std::vector<std::string> replaced_parts = ContinuationFiles(new_path);

  Check(RenamePath(old_path, new_path), "cannot rename " + Quote(old_path) + " to " + Quote(new_path));
  // Parts of the replaced document that no part of the moved one overwrote
  // would otherwise be taken for parts of the new document.
  for (const std::string& part : replaced_parts)
    if (!moving.count(PartSuffix(part, new_path))) fs::remove(part, ec);
  std::printf("renamed %s -> %s%s\n", old_path.c_str(), new_path.c_str(), PartsText(old_parts.size()).c_str());
  const std::vector<std::string> left = ContinuationFiles(old_path);
  for (const std::string& part : left)
    std::fprintf(stderr, "tova mv: warning: %s keeps its name (it is not named with three digits)\n", Quote(part).c_str());
  return kExitOk;
}

int RunDu(const Words& words) {
  const Args args(words, {});
  if (args.help()) return PrintHelp(kDuHelp);
  if (args.positional().empty()) throw UsageError("missing PATH");
  int status = kExitOk;
  double total = 0;
  size_t count = 0;
  auto size_one = [&](const std::string& path) {
    double size_mb = 0;
    Check(SizePath(path, &size_mb), "cannot size " + Quote(path));
    std::printf("%12.3f MB  %s%s\n", size_mb, path.c_str(), PartsText(ContinuationFiles(path).size()).c_str());
    total += size_mb;
    ++count;
  };
  for (const std::string& path : args.positional()) {
    try {
      std::error_code ec;
      if (!fs::is_directory(path, ec)) {
        size_one(path);
        continue;
      }
      std::vector<std::string> found;
      for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
           !ec && it != end; it.increment(ec)) {
        std::error_code type_ec;
        if (it->is_regular_file(type_ec) && HasTovaExtension(it->path().string())) found.push_back(it->path().string());
      }
      if (ec) throw CliError("cannot search " + Quote(path) + ": " + ec.message());
      std::sort(found.begin(), found.end());
      for (const std::string& doc : found) size_one(doc);
    } catch (const CliError& e) {
      status = Report("du", e);
    }
  }
  if (count > 1) std::printf("%12.3f MB  total of %zu documents\n", total, count);
  return status;
}

namespace {

// Set by Ctrl-C; the library reads it before each directory entry. A plain
// aligned 32-bit store, which is what the library's stop flag is.
volatile uint32_t g_stop_clean = 0;
void StopClean(int) { g_stop_clean = 1; }

std::optional<uint32_t> ParseAge(const std::string& text) {
  if (text.empty()) return std::nullopt;
  uint64_t unit = 1;
  std::string digits = text;
  switch (text.back()) {
    case 's': unit = 1; break;
    case 'm': unit = 60; break;
    case 'h': unit = 3600; break;
    case 'd': unit = 86400; break;
    case 'w': unit = 7 * 86400; break;
    default: unit = 0;
  }
  if (unit) digits.pop_back();
  else unit = 1;
  // Ages from 2^31 seconds (68 years) on are beyond what the deletion compares.
  const auto count = ParseUnsigned(digits, 0x7FFFFFFFull);
  if (!count || *count * unit > 0x7FFFFFFFull) return std::nullopt;
  return static_cast<uint32_t>(*count * unit);
}

// Seconds since the file was last modified.
std::optional<int64_t> AgeSeconds(const fs::path& path) {
  std::error_code ec;
  const auto written = fs::last_write_time(path, ec);
  if (ec) return std::nullopt;
  return std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::now() - written).count();
}

struct TreeCount {
  size_t documents = 0;
  size_t files = 0;  // documents and their continuation files
};

TreeCount CountDocuments(const std::string& dir, std::vector<std::string>* old_ones, int64_t age) {
  TreeCount count;
  std::error_code ec;
  std::vector<std::string> found;
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::error_code type_ec;
    if (it->is_regular_file(type_ec) && HasTovaExtension(it->path().string())) found.push_back(it->path().string());
  }
  std::sort(found.begin(), found.end());
  for (const std::string& doc : found) {
    const std::vector<std::string> parts = ContinuationFiles(doc);
    ++count.documents;
    count.files += 1 + parts.size();
    if (!old_ones) continue;
    bool old = AgeSeconds(doc).value_or(-1) > age;
    for (const std::string& part : parts) old = old && AgeSeconds(part).value_or(age + 1) > age;
    if (old) old_ones->push_back(doc + PartsText(parts.size()));
  }
  return count;
}

}  // namespace

int RunClean(const Words& words) {
  const Args args(words, {{"--older-than", "", true}, {"--dry-run", "", false}});
  if (args.help()) return PrintHelp(kCleanHelp);
  if (args.positional().size() != 1) throw UsageError(args.positional().empty() ? "missing DIR" : "expects one DIR");
  const auto age_text = args.value("--older-than");
  if (!age_text) throw UsageError("missing --older-than AGE");
  const auto age = ParseAge(*age_text);
  if (!age) throw UsageError("AGE must be a number with s, m, h, d or w (e.g. 7d), below 68 years, not '" + *age_text + "'");
  const std::string dir = args.positional()[0];
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) throw CliError(Quote(dir) + " is not a directory");

  if (args.has("--dry-run")) {
    std::vector<std::string> old_ones;
    CountDocuments(dir, &old_ones, *age);
    for (const std::string& doc : old_ones) std::printf("would delete %s\n", doc.c_str());
    std::printf("%zu document%s older than %s\n", old_ones.size(), old_ones.size() == 1 ? "" : "s", age_text->c_str());
    return kExitOk;
  }

  // The library appends its own "*.*" to a directory path that ends in a
  // separator.
  std::string pattern = dir;
  const char sep = static_cast<char>(fs::path::preferred_separator);
  if (pattern.back() != sep && pattern.back() != '/') pattern += sep;
  const TreeCount before = CountDocuments(dir, nullptr, 0);
  g_stop_clean = 0;
  const auto previous = std::signal(SIGINT, StopClean);
  const int32_t rc = DeleteOldPath(pattern, *age, &g_stop_clean);
  std::signal(SIGINT, previous == SIG_ERR ? SIG_DFL : previous);
  const TreeCount after = CountDocuments(dir, nullptr, 0);
  const size_t documents = before.documents > after.documents ? before.documents - after.documents : 0;
  const size_t files = before.files > after.files ? before.files - after.files : 0;
  std::printf("deleted %zu document%s (%zu file%s) older than %s in %s%s\n", documents, documents == 1 ? "" : "s",
              files, files == 1 ? "" : "s", age_text->c_str(), dir.c_str(), g_stop_clean ? "; stopped by Ctrl-C" : "");
  Check(rc, "cannot delete every old document in " + Quote(dir));
  return kExitOk;
}

}  // namespace tova_cli
