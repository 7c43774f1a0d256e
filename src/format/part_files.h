// The files behind a file document: its main path, and for write and
// read-write documents the part writer that holds the part being appended
// to. The document loads its images through it (it is the document's image
// source), and the writing operations reach its part writer through
// FilesOf.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/part_writer.h"
#include "platform/file_system.h"
#include "model/image_source.h"
#include "model/tova_file.h"

namespace tova::format {

class PartFiles final : public ImageSource {
 public:
  explicit PartFiles(std::u16string main_path) : main_path_(std::move(main_path)) {}

  // Reads the image section at `where`, through the held part when it lies
  // there (the writer holds it exclusively).
  Code LoadImage(const TTOVASectInfo& where, CTOVASection& image) override;

  const std::u16string& main_path() const { return main_path_; }
  // The part writer of a write or read-write document, or null.
  PartWriter* writer() { return writer_.get(); }
  PartWriter& StartWriting(Access access);

 private:
  // What a straight read did: loaded the image; left the entry untouched;
  // put part of the section's own data in it; put another record's bytes in it.
  enum class Straight { kLoaded, kUntouched, kPartly, kOtherRecord };
  Straight LoadStraight(const TTOVASectInfo& where, CTOVASection& image);
  Code LoadSection(const TTOVASectInfo& where, CTOVASection& image);
  void RestoreLastImage(CTOVASection& image);
  platform::File* TakeKeptPart(uint16_t part);
  void LetGoOf(platform::File* file);

  std::u16string main_path_;
  std::unique_ptr<PartWriter> writer_;
  std::optional<TTOVASectInfo> last_loaded_;  // where the image section's present bytes came from
  // The parts the last loads read, kept open between loads without their
  // share (where the file layer can let go of it): a load then takes the
  // share back instead of opening the part again.
  struct KeptPart {
    uint16_t part;
    std::unique_ptr<platform::File> file;
  };
  static constexpr size_t kKeptParts = 4;
  std::vector<KeptPart> kept_;
};

// The files of doc, given to it when it was opened on a file; null for
// memory and buffer documents.
PartFiles* FilesOf(CTOVAFile& doc);
// Gives doc its files (replacing any it had) and returns them.
PartFiles& AttachFiles(CTOVAFile& doc, const std::u16string& main_path);
// The part writer of doc, or null when it writes no file.
PartWriter* WriterOf(CTOVAFile& doc);

}  // namespace tova::format
