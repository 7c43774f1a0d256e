// The image loader: brings the image of one dataset of a file document into
// the document's one image section, reading only that image's bytes.
#include "format/image_loader.h"

#include <memory>
#include <new>

#include "format/part_reader.h"
#include "model/tova_file.h"

namespace tova::format {

int32_t LoadImage(CTOVAFile& doc, uint32_t index) {
  if (index >= doc.image_index.size()) return 50;
  if (doc.images.empty()) return 22;
  const TTOVASectInfo info = doc.image_index[index];
  // A read-write document holds the part it appends to exclusively: that part
  // is read through the document's own file.
  const bool held = doc.type == kTypeReadWrite && doc.file_open && doc.file;
  PartReader reader(doc.path, held ? doc.file.get() : nullptr, doc.part_number);
  // Nothing is parsed that was not read: a part that cannot be opened is 10,
  // a part that ends early 11.
  if (int32_t rc = reader.Open(info.part_number, info.data_offset)) return rc == 9 ? 11 : rc;
  if (info.data_size > reader.BytesRemaining()) return 11;
  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[info.data_size ? info.data_size : 1]);
  if (!block) return 3;
  if (int32_t rc = reader.ReadExact(block.get(), info.data_size)) return rc == 9 ? 11 : rc;
  reader.Close();
  CTOVASection& image = *doc.images[0];
  const int32_t rc = image.ReadSection(block.get(), info.data_size, kSectImage);
  image.SetModified(0);
  return rc;
}

}  // namespace tova::format
