// Exports of opening and closing, entries, datasets, document state, locking
// and the progress-dialog setting. Each is one thin call into CTOVAFile.
#include "api/export_frame.h"

using tova::Code;
using tova::CTOVAFile;
using namespace tova::api;

extern "C" {

uint64_t TOVADLL_OPEN_FILE_MEM(uint32_t singleDataset, uint16_t dataUnit, uint16_t calibrationVersion) {
  return OpenDocument([&](CTOVAFile& d) { return d.OpenMem(singleDataset != 0, dataUnit, calibrationVersion); });
}

uint64_t TOVADLL_OPEN_FILE_READ_UC(const TOVA_WCHAR* path) {
  if (!path) return kInvalidHandle;
  return OpenDocument([&](CTOVAFile& d) { return d.OpenRead(WidePath(path)); });
}

uint64_t TOVADLL_OPEN_FILE_READ(const char* path) {
  if (!path) return kInvalidHandle;
  return OpenDocument([&](CTOVAFile& d) { return d.OpenRead(tova::platform::NarrowPathToUtf16(path)); });
}

uint64_t TOVADLL_OPEN_FILE_READ_BUFFER(void) {
  return OpenDocument([](CTOVAFile& d) { return d.OpenReadBuffer(); });
}

uint64_t TOVADLL_OPEN_FILE_WRITE_BUFFER(void) {
  return OpenDocument([](CTOVAFile& d) { return d.OpenWriteBuffer(); });
}

int32_t TOVADLL_CLOSE_FILE(uint64_t h) {
  const int32_t rc = WithDocument(h, DocLock::kTake, [](CTOVAFile& d) {
    d.Close();
    // Holds the caller kept through TOVADLL_LOCK could never be released once
    // the handle is gone: they end here (the frame's own included, so its
    // guard finds nothing left), and threads waiting for the document get
    // through to find it closed instead of waiting forever.
    d.lock.UnlockAll();
    return Code::kOk;
  });
  if (rc != TOVA_OK) return rc;
  return TheRegistry().Remove(h) ? TOVA_OK : TOVA_ERR_HANDLE;
}

int32_t TOVADLL_SET_ENTRY(uint64_t h, uint16_t section, uint16_t id, uint32_t size, const void* data) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (size > 0 && !data) return Code::kNullPointer;
    return d.SetEntry(section, id, size, data);
  });
}

int32_t TOVADLL_REMOVE_ENTRY(uint64_t h, uint16_t section, uint16_t id) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) { return d.RemoveEntry(section, id); });
}

int32_t TOVADLL_COPY_ENTRY_DATA(uint64_t h, uint16_t section, uint16_t id, uint32_t bufferSize, void* buffer,
                                uint32_t* copied) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!copied || (bufferSize > 0 && !buffer)) return Code::kNullPointer;
    uint32_t n = 0;
    const Code rc = d.CopyEntryData(section, id, bufferSize, buffer, n);
    *copied = n;  // 0 on every failure
    return rc;
  });
}

int32_t TOVADLL_EXIST_ENTRY(uint64_t h, uint16_t section, uint16_t id) {
  // The lookup's code, shifted down by the bias: 0 for an entry that exists.
  int32_t lookup = TOVA_OK;
  const int32_t rc = WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    tova::CTOVAEntry* entry = nullptr;
    lookup = ToInt(d.LocateEntry(section, id, entry));
    return Code::kOk;
  });
  if (rc != TOVA_OK) return rc;
  return lookup == TOVA_OK ? TOVA_OK : lookup - TOVA_EXIST_ENTRY_BIAS;
}

int32_t TOVADLL_GET_ENTRY_DATASIZE(uint64_t h, uint16_t section, uint16_t id, uint32_t* size) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!size) return Code::kNullPointer;
    return d.GetEntryDataSize(section, id, *size);
  });
}

int32_t TOVADLL_GET_ENTRY(uint64_t h, uint16_t section, uint16_t id, void** data, uint32_t* size,
                          uint32_t modify) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!data || !size) return Code::kNullPointer;
    return d.GetEntry(section, id, *data, *size, modify != 0);
  });
}

int32_t TOVADLL_SET_ENTRY_ISOPTIONAL(uint64_t h, uint16_t section, uint16_t id, int32_t flag) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    // Success or TOVA_ERR_HANDLE only: an entry that cannot be found answers
    // like an unknown handle.
    tova::CTOVAEntry* entry = nullptr;
    if (tova::Failed(d.LocateEntry(section, id, entry))) return Code::kHandle;
    entry->per_dataset = flag != 0;
    return Code::kOk;
  });
}

int32_t TOVADLL_GET_NUM_ENTRIES(uint64_t h, uint16_t section, uint32_t* count) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    if (!count) return Code::kNullPointer;
    return d.GetNumEntries(section, *count);
  });
}

int32_t TOVADLL_GET_NUMDATASETS(uint64_t h, uint32_t* count) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!count) return Code::kNullPointer;
    *count = d.GetNumDatasets();
    return Code::kOk;
  });
}

int32_t TOVADLL_GET_CURDATASET(uint64_t h, uint32_t* index) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!index) return Code::kNullPointer;
    *index = d.GetCurDataset();
    return Code::kOk;
  });
}

int32_t TOVADLL_SET_CURDATASET(uint64_t h, uint32_t index) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) { return d.SetCurDataset(index, tova::ImageLoad::kLoad); });
}

int32_t TOVADLL_SET_CURDATASET_EX(uint64_t h, uint32_t index, uint32_t load) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    return d.SetCurDataset(index, load ? tova::ImageLoad::kLoad : tova::ImageLoad::kSkip);
  });
}

int32_t TOVADLL_REMOVE_DATASET(uint64_t h, uint32_t index) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) { return d.RemoveDataset(index); });
}

int32_t TOVADLL_GET_TOVA_TYPE(uint64_t h, uint32_t* type) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!type) return Code::kNullPointer;
    *type = static_cast<uint32_t>(d.type);
    return Code::kOk;
  });
}

int32_t TOVADLL_GET_MODIFIED(uint64_t h, uint32_t* modified) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    if (!modified) return Code::kNullPointer;
    *modified = static_cast<uint32_t>(d.IsModified());
    return Code::kOk;
  });
}

int32_t TOVADLL_SET_MODIFIED(uint64_t h, uint32_t modified) {
  return WithDocument(h, DocLock::kTake, [&](CTOVAFile& d) {
    d.SetModified(modified != 0);
    return Code::kOk;
  });
}

int32_t TOVADLL_LOCK(uint64_t h) {
  return WithDocument(h, DocLock::kNone, [](CTOVAFile& d) {
    d.lock.Lock();
    return Code::kOk;
  });
}

int32_t TOVADLL_UNLOCK(uint64_t h) {
  return WithDocument(h, DocLock::kNone, [](CTOVAFile& d) {
    return d.lock.Unlock() ? Code::kOk : Code::kNotLockOwner;
  });
}

int32_t TOVADLL_EXIST(uint64_t h) { return TheRegistry().Find(h) ? TOVA_OK : TOVA_ERR_HANDLE; }

void TOVADLL_SET_DLG_SHOW(uint32_t show) { TheRegistry().show_dialog.store(show); }

}  // extern "C"
