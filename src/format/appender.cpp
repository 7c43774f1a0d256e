// Opening for writing, the compatibility check, appending datasets (with the
// cut into continuation files) and the buffered append.
#include "format/appender.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "format/file_reader.h"
#include "format/layout.h"
#include "format/part_limit.h"
#include "housekeeping/housekeeping.h"
#include "model/tova_file.h"
#include "platform/file_services.h"
#include "platform/text.h"

namespace tova::format {

namespace {

constexpr uint16_t kDeviceStringMbc = 0x0110;
constexpr uint16_t kDeviceStringUc = 0x1110;
constexpr uint16_t kSensorX = 0x0111;
constexpr uint16_t kSensorY = 0x0112;
constexpr uint16_t kDataUnit = 0x0200;
constexpr uint16_t kSizeX = 0x0201;
constexpr uint16_t kSizeY = 0x0202;
constexpr uint16_t kCalibrationVersion = 0x0210;
constexpr uint16_t kMaxFrames = 0x0230;
constexpr uint16_t kMeasurementRange = 0x0244;
constexpr uint16_t kNoCalibration = 0xFFFF;

// ---- opening ---------------------------------------------------------------

int32_t Fail(CTOVAFile& doc, int32_t code) {
  doc.Close();
  return code;
}

}  // namespace

int32_t OpenForWriting(CTOVAFile& doc, const std::u16string& path, uint32_t append, uint32_t read_write,
                       uint32_t show_progress) {
  doc.Close();
  doc.CreateFirstDatasetSections();
  using platform::OpenMode;
  const bool exists = platform::FileExists(path);
  OpenMode mode = read_write ? OpenMode::ReadWriteExisting : OpenMode::WriteExisting;
  bool appended_to_existing = false;
  std::u16string part_path = path;
  if (!append) {
    // Continuation files go also when the main file is missing: left behind,
    // the next append-open would count them and write where no reader looks.
    if (!housekeeping::DeleteWithContinuations(path)) return Fail(doc, 14);
    mode = read_write ? OpenMode::ReadWriteCreate : OpenMode::WriteCreate;
  } else if (exists) {
    appended_to_existing = true;
    if (platform::FileSize32(path) != 0) {
      if (int32_t rc = doc.OpenRead(path)) return Fail(doc, rc);
      if (!platform::FileHasExtension(path, u"tova")) return Fail(doc, 2043);
      if (int32_t rc = ReadFile(doc, read_write, read_write && show_progress)) return Fail(doc, rc);
      // Writing goes on in the last continuation file.
      uint32_t parts = 0;
      while (parts < kMaxPartNumber && platform::FileExists(CTOVAFile::PartFileName(path, parts + 1))) ++parts;
      doc.part_number = static_cast<uint16_t>(parts);
      part_path = CTOVAFile::PartFileName(path, parts);
    }
  }
  doc.file = platform::GetFileSystem().Open(part_path, mode);
  if (!doc.file) return Fail(doc, 10);
  uint64_t end = 0;
  if (!doc.file->SeekToEnd(end) || end > UINT32_MAX) {
    // Not yet marked open, so Close would not let go of it: released here,
    // so that the caller can delete the file at once (Windows share modes).
    doc.file->Abort();
    doc.file.reset();
    return Fail(doc, 10);
  }
  doc.part_size = static_cast<uint32_t>(end);
  doc.file_open = true;
  doc.path = path;
  doc.type = read_write ? kTypeReadWrite : kTypeWrite;
  if (read_write && appended_to_existing) {
    if (int32_t rc = doc.SetCurDataset(0, 1)) return Fail(doc, rc);
  }
  return 0;
}

// ---- compatibility -----------------------------------------------------------

namespace {

int32_t ReadU16(CTOVAFile& doc, uint16_t section, uint16_t id, uint16_t& value) {
  uint8_t bytes[2] = {0, 0};
  uint32_t copied = 0;
  const int32_t rc = doc.CopyEntryData(section, id, sizeof bytes, bytes, copied);
  value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
  return rc;
}

int32_t DeviceString(CTOVAFile& doc, std::u16string& text) {
  uint8_t wide[256] = {};
  uint32_t copied = 0;
  if (doc.CopyEntryData(kSectGlobalHeader, kDeviceStringUc, 254, wide, copied) == 0) {
    text.clear();
    for (uint32_t i = 0; i + 1 < sizeof wide; i += 2) {
      const char16_t c = static_cast<char16_t>(wide[i] | (wide[i + 1] << 8));
      if (c == 0) break;
      text.push_back(c);
    }
    return 0;
  }
  char narrow[128] = {};
  if (int32_t rc = doc.CopyEntryData(kSectGlobalHeader, kDeviceStringMbc, 127, narrow, copied)) return rc;
  text = platform::NarrowToWide(std::string_view(narrow, std::strlen(narrow)));
  auto replace_all = [&text](std::u16string_view from, std::u16string_view to) {
    for (size_t pos = 0; (pos = text.find(from, pos)) != std::u16string::npos; pos += to.size())
      text.replace(pos, from.size(), to);
  };
  replace_all(u"HZ", u"Hz");
  replace_all(u"\u00B0X", u"\u00B0x");
  return 0;
}

// The identifying part of a device string: from "-ID: " on, when it stands
// after the first character.
std::u16string DeviceIdentity(const std::u16string& upper) {
  const size_t pos = upper.find(u"-ID: ");
  return pos != std::u16string::npos && pos > 0 ? upper.substr(pos) : upper;
}

}  // namespace

int32_t CheckCompatibility(CTOVAFile& target, CTOVAFile& source) {
  uint16_t t = 0, s = 0;
  ReadU16(target, kSectDataHeader, kDataUnit, t);
  ReadU16(source, kSectDataHeader, kDataUnit, s);
  if (t != s) return 60;
  uint16_t version = 0;
  ReadU16(target, kSectDataHeader, kCalibrationVersion, version);
  ReadU16(source, kSectDataHeader, kCalibrationVersion, s);
  if (version != s) return 60;

  bool portable = false;
  if (version != kNoCalibration) {
    std::u16string target_device, source_device;
    if (int32_t rc = DeviceString(target, target_device)) return rc;
    if (int32_t rc = DeviceString(source, source_device)) return rc;
    if (target_device.empty() || source_device.empty()) return 60;
    target_device = platform::ToUpper(target_device);
    source_device = platform::ToUpper(source_device);
    portable = target_device.find(u"PORTABLE") != std::u16string::npos &&
               source_device.find(u"PORTABLE") != std::u16string::npos;
    if (DeviceIdentity(target_device) != DeviceIdentity(source_device)) return 60;
  }

  // Both values of each pair must be read, nonzero and equal.
  auto same_nonzero = [&](uint16_t section, uint16_t id, int32_t mismatch) -> int32_t {
    uint16_t a = 0, b = 0;
    if (int32_t rc = ReadU16(target, section, id, a)) return rc;
    if (int32_t rc = ReadU16(source, section, id, b)) return rc;
    return a != 0 && a == b ? 0 : mismatch;
  };
  if (int32_t rc = same_nonzero(kSectGlobalHeader, kSensorX, 62)) return rc;
  if (int32_t rc = same_nonzero(kSectGlobalHeader, kSensorY, 62)) return rc;
  if (int32_t rc = ReadU16(target, kSectDataHeader, kDataUnit, t)) return rc;
  if (int32_t rc = ReadU16(source, kSectDataHeader, kDataUnit, s)) return rc;
  if (int32_t rc = same_nonzero(kSectDataHeader, kSizeX, 62)) return rc;
  if (int32_t rc = same_nonzero(kSectDataHeader, kSizeY, 62)) return rc;
  uint16_t height = 0;
  ReadU16(target, kSectDataHeader, kSizeY, height);
  if (height == 1) {
    if (int32_t rc = same_nonzero(kSectDataHeader, kMaxFrames, 62)) return rc;
  }
  if (version != kNoCalibration) {
    if (int32_t rc = ReadU16(target, kSectDataHeader, kCalibrationVersion, t)) return rc;
    if (int32_t rc = ReadU16(source, kSectDataHeader, kCalibrationVersion, s)) return rc;
    int32_t rc_t = ReadU16(target, kSectDataHeader, kMeasurementRange, t);
    int32_t rc_s = ReadU16(source, kSectDataHeader, kMeasurementRange, s);
    // Portable devices may lack a measurement range: it then counts as 0.
    if (rc_t && !(portable && rc_t == 33)) return rc_t;
    if (rc_s && !(portable && rc_s == 33)) return rc_s;
    if (t != s) return 61;
  }
  return 0;
}

// ---- appending -------------------------------------------------------------

namespace {

platform::OpenMode CreateMode(const CTOVAFile& doc) {
  return doc.type == kTypeReadWrite ? platform::OpenMode::ReadWriteCreate : platform::OpenMode::WriteCreate;
}
platform::OpenMode ReopenMode(const CTOVAFile& doc) {
  return doc.type == kTypeReadWrite ? platform::OpenMode::ReadWriteExisting : platform::OpenMode::WriteExisting;
}

// Takes back a dataset that could not be written whole: the continuation
// files made for it are removed and the part it began in is cut back to its
// old size, so that no half dataset ever ends a file.
void RollBack(CTOVAFile& doc, uint16_t start_part, uint32_t start_size) {
  // Still in the part the dataset began in, with the file open: it is cut
  // back through that handle, which needs no new open that could fail too.
  if (doc.file && doc.part_number == start_part) {
    uint64_t end = 0;
    if (doc.file->Truncate(start_size) && doc.file->SeekToEnd(end) && end == start_size) {
      doc.part_size = start_size;
      doc.file_open = true;
      return;
    }
  }
  if (doc.file) doc.file->Abort();
  doc.file.reset();
  doc.file_open = false;
  for (uint32_t p = doc.part_number; p > start_part; --p)
    platform::FileDelete(CTOVAFile::PartFileName(doc.path, p));
  doc.part_number = start_part;
  doc.part_size = start_size;
  auto file = platform::GetFileSystem().Open(CTOVAFile::PartFileName(doc.path, start_part), ReopenMode(doc));
  uint64_t end = 0;
  if (file && file->Truncate(start_size) && file->SeekToEnd(end) && end == start_size) {
    doc.file = std::move(file);
    doc.file_open = true;
  }
}

// Appends one serialised dataset to the document's part files, cutting it at
// the part size limit as often as needed. 0, 5 (the file layer failed) or 10
// (a continuation file cannot be made, or would need a number beyond 999).
int32_t AppendBlock(CTOVAFile& doc, const uint8_t* data, uint32_t count) {
  if (!doc.file_open || !doc.file) return 10;
  const uint32_t limit = PartSizeLimit();
  const uint16_t start_part = doc.part_number;
  const uint32_t start_size = doc.part_size;
  const uint32_t room = doc.part_size < limit ? limit - doc.part_size : 0;
  if (count > room) {
    const uint64_t more_parts = (static_cast<uint64_t>(count - room) + limit - 1) / limit;
    if (start_part + more_parts > kMaxPartNumber) return 10;
  }
  if (doc.type == kTypeReadWrite) {
    uint64_t end = 0;
    if (!doc.file->SeekToEnd(end)) {
      RollBack(doc, start_part, start_size);
      return 5;
    }
  }
  uint32_t pos = std::min(room, count);
  if (pos > 0 && !doc.file->Write(data, pos)) {
    RollBack(doc, start_part, start_size);
    return 5;
  }
  doc.part_size += pos;
  while (pos < count) {
    // The part is full: it goes to stable storage before the next one begins.
    if (!doc.file->Flush() || !doc.file->Close()) {
      RollBack(doc, start_part, start_size);
      return 5;
    }
    doc.file.reset();
    doc.file_open = false;
    ++doc.part_number;
    doc.part_size = 0;
    doc.file = platform::GetFileSystem().Open(CTOVAFile::PartFileName(doc.path, doc.part_number), CreateMode(doc));
    if (!doc.file) {
      RollBack(doc, start_part, start_size);
      return 10;
    }
    doc.file_open = true;
    const uint32_t chunk = std::min(limit, count - pos);
    if (!doc.file->Write(data + pos, chunk)) {
      RollBack(doc, start_part, start_size);
      return 5;
    }
    doc.part_size = chunk;
    pos += chunk;
  }
  return 0;
}

// Where the image data of a dataset written from (start_part, start_size)
// begin, given its position in the dataset's block.
TTOVASectInfo LocateImage(uint16_t start_part, uint32_t start_size, uint64_t image_data_pos, uint32_t data_size) {
  const uint64_t limit = PartSizeLimit();
  uint64_t offset = start_size + image_data_pos;
  uint32_t part = start_part;
  const uint64_t first_capacity = std::max<uint64_t>(start_size, limit);
  if (offset > first_capacity) {
    offset -= first_capacity;
    ++part;
    while (offset > limit) {
      offset -= limit;
      ++part;
    }
  }
  return TTOVASectInfo{data_size, static_cast<uint16_t>(part), static_cast<uint32_t>(offset)};
}

// The first dataset's global header: every entry of the source's, stored
// as read (not modified).
int32_t CopyGlobalHeader(CTOVAFile& target, const CTOVASection& source_header) {
  const int32_t rc = target.global_header.CopyFrom(source_header, 0, 0);
  target.global_header.SetModified(0);
  return rc;
}

// Serialises the current dataset of src in the chosen form into one block.
int32_t SerialiseDataset(CTOVAFile& src, bool per_dataset_form, std::unique_ptr<uint8_t[]>& block,
                         uint32_t& count, DatasetSections& sections) {
  if (!CurrentSections(src, sections)) return 4;
  const uint64_t size = DatasetByteCount(sections, per_dataset_form);
  if (size == 0 || size > UINT32_MAX) return 4;
  count = static_cast<uint32_t>(size);
  block.reset(new (std::nothrow) uint8_t[count]);
  if (!block) return 3;
  if (WriteDataset(sections, per_dataset_form, block.get(), count) != count) return 4;
  return 0;
}

// Copies into the target's first dataset what makes it the first dataset:
// the global header, and the data header (and, in the layered copy, the
// image) of the source's current dataset. Returns the document that serves
// as the source for the rest of this dataset.
CTOVAFile* CopyFirstDataset(CTOVAFile& target, CTOVAFile& source, uint32_t all, uint32_t remembered,
                            int32_t& rc) {
  rc = 0;
  if (CopyGlobalHeader(target, source.global_header)) {
    rc = 30;
    return &source;
  }
  CTOVASection& target_header = *target.data_headers[0];
  if (source.GetNumDatasets() > 1 && source.cur_dataset != 0 && !all) {
    // Layered: dataset 0's header holds what stands for every dataset, the
    // current one's own entries go over it.
    if ((rc = source.SetCurDataset(0, 1)) != 0) return &source;
    if (target_header.CopyFrom(*source.data_headers[0], 0, 0)) rc = 30;
    if (int32_t back = source.SetCurDataset(remembered, 1)) rc = back;
    if (rc) return &source;
    CTOVASection* image = nullptr;
    if ((rc = source.GetSection(kSectImage, image)) != 0) return &source;
    if (target_header.CopyFrom(*source.data_headers[source.cur_dataset], 0, 0) ||
        target.images[0]->CopyFrom(*image, 0, 0))
      rc = 30;
    return &target;
  }
  if (source.cur_dataset < source.data_headers.size() &&
      target_header.CopyFrom(*source.data_headers[source.cur_dataset], 0, 0))
    rc = 30;
  return &source;
}

}  // namespace

int32_t AddTova(CTOVAFile& target, CTOVAFile& source, uint32_t all, uint32_t show_dialog) {
  if (target.type == kTypeRead || target.type == kTypeWriteBuffer || target.type == kTypeClosed) return 7;
  const uint32_t stored = target.StoredDatasetCount();
  if (target.type == kTypeMemory && target.single_dataset && stored >= 1) return 7;
  if (target.data_headers.empty() || target.images.empty()) return 22;
  if (stored >= 1) {
    if (int32_t rc = CheckCompatibility(target, source)) return rc;
  }
  const uint32_t source_datasets = source.GetNumDatasets();
  const uint32_t count = all ? source_datasets : 1;
  const bool dialog = count > 1 && show_dialog && !target.HasProgressDialog();
  if (dialog) target.CreateProgressDialog(u"Adding");
  const uint32_t remembered = source.cur_dataset;
  int32_t rc = 0;
  bool cancelled = false;
  bool first_pending = stored == 0;  // the target's first dataset is not in yet

  for (uint32_t i = 0; i < count && rc == 0; ++i) {
    if (all && source_datasets > 1) {
      if ((rc = source.SetCurDataset(i, 1)) != 0) break;
    }
    if (dialog && !target.ProgressStep(i + 1)) {
      cancelled = true;
      break;
    }
    const bool per_dataset_form = i + stored > 0;
    CTOVAFile* src = &source;
    if (!per_dataset_form) {
      src = CopyFirstDataset(target, source, all, remembered, rc);
      if (rc) break;
    }

    DatasetSections sections;
    if (target.type == kTypeWrite || target.type == kTypeReadWrite) {
      if (!target.file_open || !target.file) {
        rc = 10;
        break;
      }
      std::unique_ptr<uint8_t[]> block;
      uint32_t bytes = 0;
      if ((rc = SerialiseDataset(*src, per_dataset_form, block, bytes, sections)) != 0) break;
      const uint16_t start_part = target.part_number;
      const uint32_t start_size = target.part_size;
      if ((rc = AppendBlock(target, block.get(), bytes)) != 0) break;
      if (target.type == kTypeReadWrite) {
        const uint64_t image_length = sections.image->GetSectionSize(per_dataset_form);
        const uint32_t data_size = static_cast<uint32_t>(image_length - kRecordHeaderSize);
        target.image_index.push_back(LocateImage(start_part, start_size, bytes - data_size, data_size));
      }
    } else if (!CurrentSections(*src, sections)) {
      rc = 22;
      break;
    }

    if (target.type == kTypeMemory || target.type == kTypeReadWrite) {
      CTOVASection* header = target.data_headers[0].get();
      if (per_dataset_form) {
        target.data_headers.push_back(std::make_unique<CTOVASection>(kSectDataHeader));
        header = target.data_headers.back().get();
        if (header->CopyFrom(*sections.data_header, 1, 0)) rc = 30;
      }
      if (target.type == kTypeMemory) {
        CTOVASection* image = target.images[0].get();
        if (per_dataset_form) {
          target.images.push_back(std::make_unique<CTOVASection>(kSectImage));
          image = target.images.back().get();
        }
        if (image != sections.image && image->CopyFrom(*sections.image, per_dataset_form, 0)) rc = 30;
        header->SetModified(0);
      } else if (!per_dataset_form) {
        if (target.images[0].get() != sections.image && target.images[0]->CopyFrom(*sections.image, 0, 0)) rc = 30;
        target.images[0]->SetModified(0);
      }
    }
    first_pending = false;
  }
  // A first dataset that did not go in leaves the target empty, so that the
  // next append writes the full form again instead of a file without headers.
  if (first_pending && rc != 0) {
    target.global_header.RemoveAllEntries();
    target.data_headers[0]->RemoveAllEntries();
    target.images[0]->RemoveAllEntries();
  }

  if (all && count >= 2) {
    const int32_t back = source.SetCurDataset(remembered, 1);
    if (rc == 0 && !cancelled) rc = back;
  }
  if (dialog) target.CloseProgressDialog();
  return cancelled ? 8 : rc;
}

int32_t AddTovaBufferedWrite(CTOVAFile& target, CTOVAFile& source, uint8_t* buffer, uint32_t capacity,
                             uint32_t& written) {
  if (target.type != kTypeWriteBuffer) return 7;
  const uint32_t stored = target.StoredDatasetCount();
  if (stored >= 1) {
    if (int32_t rc = CheckCompatibility(target, source)) return rc;
  }
  if (source.GetNumDatasets() > 1) return 61;
  const bool per_dataset_form = stored > 0;
  DatasetSections sections;
  const uint64_t count = CurrentSections(source, sections) ? DatasetByteCount(sections, per_dataset_form) : 0;
  written = static_cast<uint32_t>(std::min<uint64_t>(count, UINT32_MAX));
  if (count == 0 || count > capacity) return 4;
  if (!per_dataset_form) {
    // The target keeps the headers as the reference of the following checks.
    if (CopyGlobalHeader(target, source.global_header) ||
        target.data_headers[0]->CopyFrom(*sections.data_header, 0, 0))
      return 30;
  }
  if (WriteDataset(sections, per_dataset_form, buffer, capacity) != count) return 4;
  return 0;
}

}  // namespace tova::format
