// Exports of opening and closing, entries, datasets, document state, locking
// and the progress-dialog setting. Each is one thin call into CTOVAFile.
#include "api/export_frame.h"

using tova::CTOVAFile;
using namespace tova::api;

extern "C" {

uint64_t TOVADLL_OPEN_FILE_MEM(uint32_t singleDataset, uint16_t dataUnit, uint16_t calibrationVersion) {
  return OpenDocument([&](CTOVAFile& d) { return d.OpenMem(singleDataset, dataUnit, calibrationVersion); });
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
  const int32_t rc = WithDocument(h, true, [](CTOVAFile& d) {
    d.Close();
    // Holds the caller kept through TOVADLL_LOCK could never be released once
    // the handle is gone: they end here (the frame's own included, so its
    // guard finds nothing left), and threads waiting for the document get
    // through to find it closed instead of waiting forever.
    d.lock.UnlockAll();
    return 0;
  });
  if (rc != 0) return rc;
  return TheRegistry().Remove(h) ? TOVA_OK : TOVA_ERR_HANDLE;
}

int32_t TOVADLL_SET_ENTRY(uint64_t h, uint16_t section, uint16_t id, uint32_t size, const void* data) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (size > 0 && !data) return TOVA_ERR_NULL_POINTER;
    return d.SetEntry(section, id, size, data);
  });
}

int32_t TOVADLL_REMOVE_ENTRY(uint64_t h, uint16_t section, uint16_t id) {
  return WithDocument(h, true, [&](CTOVAFile& d) { return d.RemoveEntry(section, id); });
}

int32_t TOVADLL_COPY_ENTRY_DATA(uint64_t h, uint16_t section, uint16_t id, uint32_t bufferSize, void* buffer,
                                uint32_t* copied) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!copied || (bufferSize > 0 && !buffer)) return TOVA_ERR_NULL_POINTER;
    uint32_t n = 0;
    const int32_t rc = d.CopyEntryData(section, id, bufferSize, buffer, n);
    *copied = n;  // 0 on every failure
    return rc;
  });
}

int32_t TOVADLL_EXIST_ENTRY(uint64_t h, uint16_t section, uint16_t id) {
  return WithDocument(h, true, [&](CTOVAFile& d) { return d.ExistEntry(section, id); });
}

int32_t TOVADLL_GET_ENTRY_DATASIZE(uint64_t h, uint16_t section, uint16_t id, uint32_t* size) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!size) return TOVA_ERR_NULL_POINTER;
    return d.GetEntryDataSize(section, id, *size);
  });
}

int32_t TOVADLL_GET_ENTRY(uint64_t h, uint16_t section, uint16_t id, void** data, uint32_t* size,
                          uint32_t modify) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!data || !size) return TOVA_ERR_NULL_POINTER;
    return d.GetEntry(section, id, *data, *size, modify);
  });
}

int32_t TOVADLL_SET_ENTRY_ISOPTIONAL(uint64_t h, uint16_t section, uint16_t id, int32_t flag) {
  return WithDocument(h, false, [&](CTOVAFile& d) {
    tova::CTOVAEntry* entry = nullptr;
    if (d.LocateEntry(section, id, entry) != 0) return TOVA_ERR_HANDLE;
    entry->per_dataset = flag;
    return TOVA_OK;
  });
}

int32_t TOVADLL_GET_NUM_ENTRIES(uint64_t h, uint16_t section, uint32_t* count) {
  return WithDocument(h, false, [&](CTOVAFile& d) {
    if (!count) return TOVA_ERR_NULL_POINTER;
    return d.GetNumEntries(section, *count);
  });
}

int32_t TOVADLL_GET_NUMDATASETS(uint64_t h, uint32_t* count) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!count) return TOVA_ERR_NULL_POINTER;
    *count = d.GetNumDatasets();
    return TOVA_OK;
  });
}

int32_t TOVADLL_GET_CURDATASET(uint64_t h, uint32_t* index) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!index) return TOVA_ERR_NULL_POINTER;
    *index = d.GetCurDataset();
    return TOVA_OK;
  });
}

int32_t TOVADLL_SET_CURDATASET(uint64_t h, uint32_t index) {
  return WithDocument(h, true, [&](CTOVAFile& d) { return d.SetCurDataset(index, 1); });
}

int32_t TOVADLL_SET_CURDATASET_EX(uint64_t h, uint32_t index, uint32_t load) {
  return WithDocument(h, true, [&](CTOVAFile& d) { return d.SetCurDataset(index, load); });
}

int32_t TOVADLL_REMOVE_DATASET(uint64_t h, uint32_t index) {
  return WithDocument(h, true, [&](CTOVAFile& d) { return d.RemoveDataset(index); });
}

int32_t TOVADLL_GET_TOVA_TYPE(uint64_t h, uint32_t* type) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!type) return TOVA_ERR_NULL_POINTER;
    *type = d.type;
    return TOVA_OK;
  });
}

int32_t TOVADLL_GET_MODIFIED(uint64_t h, uint32_t* modified) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    if (!modified) return TOVA_ERR_NULL_POINTER;
    *modified = static_cast<uint32_t>(d.IsModified());
    return TOVA_OK;
  });
}

int32_t TOVADLL_SET_MODIFIED(uint64_t h, uint32_t modified) {
  return WithDocument(h, true, [&](CTOVAFile& d) {
    d.SetModified(modified);
    return TOVA_OK;
  });
}

int32_t TOVADLL_LOCK(uint64_t h) {
  return WithDocument(h, false, [](CTOVAFile& d) {
    d.lock.Lock();
    return TOVA_OK;
  });
}

int32_t TOVADLL_UNLOCK(uint64_t h) {
  return WithDocument(h, false, [](CTOVAFile& d) {
    return d.lock.Unlock() ? TOVA_OK : TOVA_ERR_NOT_LOCK_OWNER;
  });
}

int32_t TOVADLL_EXIST(uint64_t h) { return TheRegistry().Find(h) ? TOVA_OK : TOVA_ERR_HANDLE; }

void TOVADLL_SET_DLG_SHOW(uint32_t show) { TheRegistry().show_dialog.store(show); }

}  // extern "C"
