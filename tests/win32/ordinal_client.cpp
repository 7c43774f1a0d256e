// A Windows program that uses HOLMDAQTova.dll the way the acquisition suite's
// applications do: it loads the DLL at run time and binds every export by its
// ordinal, never by name. It checks that each ordinal leads to the same code
// as the export's name and that no other ordinal is exported, drives a short
// scenario through the ordinal-bound pointers (memory document, entries,
// datasets, buffers, the three text exports, close), and shows that unloading
// the DLL closes the documents still open: a file held by a write document is
// free again after FreeLibrary, and the DLL loads again afterwards.
//
// Usage: tova_ordinal_client [path of HOLMDAQTova.dll]
// Prints each failed check and a closing "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "HOLMDAQTova.h"

namespace {

// Every export with its ordinal, as the interface fixes them. The .def is
// checked against this list by the loader: a wrong ordinal binds wrong code.
#define TOVA_EXPORTS(X)                              \
  X(TOVADLL_OPEN_FILE_READ, 1)                       \
  X(TOVADLL_CLOSE_FILE, 2)                           \
  X(TOVADLL_READ_FROM_FILE, 3)                       \
  X(TOVADLL_OPEN_FILE_WRITE, 4)                      \
  X(TOVADLL_OPEN_FILE_WRITE_BUFFER, 5)               \
  X(TOVADLL_OPEN_FILE_READ_BUFFER, 6)                \
  X(TOVADLL_GET_NUM_ENTRIES, 7)                      \
  X(TOVADLL_OPEN_FILE_READWRITE, 8)                  \
  X(TOVADLL_COPY_ENTRY_DATA, 9)                      \
  X(TOVADLL_COPY_SECTION_STRING, 10)                 \
  X(TOVADLL_COPY_ENTRY_STRING, 11)                   \
  X(TOVADLL_COPY_DATA_STRING, 12)                    \
  X(TOVADLL_OPEN_FILE_MEM, 13)                       \
  X(TOVADLL_SAVE_FILE, 14)                           \
  X(TOVADLL_ADD_TOVA, 15)                            \
  X(TOVADLL_SET_ENTRY, 16)                           \
  X(TOVADLL_GET_ENTRY, 17)                           \
  X(TOVADLL_EXIST_ENTRY, 18)                         \
  X(TOVADLL_GET_ENTRY_DATASIZE, 19)                  \
  X(TOVADLL_GET_NUMDATASETS, 20)                     \
  X(TOVADLL_GET_CURDATASET, 21)                      \
  X(TOVADLL_SET_CURDATASET, 22)                      \
  X(TOVADLL_FILE_DELETE, 23)                         \
  X(TOVADLL_FILE_RENAME, 24)                         \
  X(TOVADLL_GET_TOVA_TYPE, 25)                       \
  X(TOVADLL_GET_MODIFIED, 26)                        \
  X(TOVADLL_SET_MODIFIED, 27)                        \
  X(TOVADLL_REMOVE_DATASET, 28)                      \
  X(TOVADLL_LOCK, 29)                                \
  X(TOVADLL_UNLOCK, 30)                              \
  X(TOVADLL_GET_FILE_SIZE, 31)                       \
  X(TOVADLL_REMOVE_ENTRY, 32)                        \
  X(TOVADLL_ADD_TOVA_BUFFERED_WRITE, 33)             \
  X(TOVADLL_GET_BUFFERSIZE, 34)                      \
  X(TOVADLL_WRITE_TO_BUFFER, 35)                     \
  X(TOVADLL_READ_FROM_BUFFER, 36)                    \
  X(TOVADLL_WRITE_TO_BUFFER_EX, 37)                  \
  X(TOVADLL_READ_FROM_BUFFER_EX, 38)                 \
  X(TOVADLL_EXIST, 39)                               \
  X(TOVADLL_SET_ENTRY_ISOPTIONAL, 40)                \
  X(TOVADLL_READ_FROM_FILE_AFTER_FIRST, 41)          \
  X(TOVADLL_FILE_DELETE_ALL_OLD, 42)                 \
  X(TOVADLL_SET_DLG_SHOW, 43)                        \
  X(TOVADLL_FILE_DELETE_ALL_OLD_EX, 44)              \
  X(TOVADLL_SET_CURDATASET_EX, 45)                   \
  X(TOVADLL_OPEN_FILE_READ_UC, 1001)                 \
  X(TOVADLL_OPEN_FILE_WRITE_UC, 1004)                \
  X(TOVADLL_OPEN_FILE_READWRITE_UC, 1008)            \
  X(TOVADLL_SAVE_FILE_UC, 1014)                      \
  X(TOVADLL_FILE_DELETE_UC, 1023)                    \
  X(TOVADLL_FILE_RENAME_UC, 1024)                    \
  X(TOVADLL_GET_FILE_SIZE_UC, 1031)                  \
  X(TOVADLL_FILE_DELETE_ALL_OLD_UC, 1042)            \
  X(TOVADLL_FILE_DELETE_ALL_OLD_EX_UC, 1044)

// The exports as pointers of their declared types, bound by ordinal.
struct Api {
#define TOVA_API_MEMBER(name, ordinal) decltype(&::name) name = nullptr;
  TOVA_EXPORTS(TOVA_API_MEMBER)
#undef TOVA_API_MEMBER
};

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, int line, const char* what) {
  if (ok) {
    ++g_passed;
  } else {
    ++g_failed;
    std::fprintf(stderr, "ordinal_client.cpp:%d: check failed: %s\n", line, what);
  }
}
#define CHECK(cond) Check((cond), __LINE__, #cond)
#define CHECK_EQ(expected, actual)                                                                      \
  do {                                                                                                  \
    const long long e_ = static_cast<long long>(expected), a_ = static_cast<long long>(actual);         \
    Check(e_ == a_, __LINE__, #actual);                                                                 \
    if (e_ != a_) std::fprintf(stderr, "  is %lld, expected %lld\n", a_, e_);                           \
  } while (0)

FARPROC ByOrdinal(HMODULE dll, WORD ordinal) { return GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)); }

// Binds every export by ordinal; checks that the name leads to the same code.
bool Bind(HMODULE dll, Api& api) {
  int missing = 0;
#define TOVA_BIND(name, ordinal)                                                               \
  {                                                                                            \
    const FARPROC by_ordinal = ByOrdinal(dll, ordinal);                                        \
    const FARPROC by_name = GetProcAddress(dll, #name);                                        \
    if (!by_ordinal) ++missing;                                                                \
    Check(by_ordinal != nullptr, __LINE__, "ordinal " #ordinal " (" #name ") is exported");    \
    Check(by_ordinal == by_name, __LINE__, "ordinal " #ordinal " is " #name);                  \
    api.name = reinterpret_cast<decltype(api.name)>(reinterpret_cast<void*>(by_ordinal));     \
  }
  TOVA_EXPORTS(TOVA_BIND)
#undef TOVA_BIND
  // No ordinal outside the list: the gaps of the table and the ends.
  for (WORD ordinal : {46, 100, 999, 1000, 1002, 1003, 1045, 1046, 2000})
    Check(ByOrdinal(dll, ordinal) == nullptr, __LINE__, "no other ordinal is exported");
  return missing == 0;
}

// A memory document with one dataset: sensor size in the global header, image
// size in the data header and an image of 8 bytes.
const unsigned char kPixels[8] = {1, 2, 3, 4, 250, 251, 252, 253};

uint64_t MakeMemoryDocument(const Api& api) {
  const uint16_t four = 4, two = 2;
  const uint64_t h = api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK(h != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &four));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &two));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &four));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &two));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof kPixels, kPixels));
  return h;
}

void Scenario(const Api& api, const std::wstring& dir) {
  api.TOVADLL_SET_DLG_SHOW(0);
  const uint64_t h = MakeMemoryDocument(api);
  uint32_t n = 0, copied = 0, size = 0;
  unsigned char bytes[256] = {};
  void* data = nullptr;

  // Entries.
  CHECK_EQ(0, api.TOVADLL_EXIST(h));
  CHECK_EQ(0, api.TOVADLL_GET_TOVA_TYPE(h, &n));
  CHECK_EQ(TOVA_TYPE_MEMORY, n);
  CHECK_EQ(0, api.TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_GlobalHeader, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, api.TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof bytes, bytes, &copied));
  CHECK(copied == sizeof kPixels && std::memcmp(bytes, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(0, api.TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, &size));
  CHECK_EQ(2, size);
  CHECK_EQ(0, api.TOVADLL_GET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, &data, &size, 0));
  CHECK(data && size == sizeof kPixels && std::memcmp(data, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(0, api.TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX));
  CHECK_EQ(33 - TOVA_EXIST_ENTRY_BIAS, api.TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY_ISOPTIONAL(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 1));
  CHECK_EQ(0, api.TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC, 3, "1.0"));
  CHECK_EQ(0, api.TOVADLL_REMOVE_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC));

  // The three text exports take the caller's string object across the DLL.
  TOVA_WSTRING text = L"untouched";
  CHECK_EQ(TOVA_ERR_TEXT_HANDLE, api.TOVADLL_COPY_DATA_STRING(12345, TOVA_SECT_GlobalHeader, 0, text));
  CHECK(text == L"untouched");
  CHECK_EQ(TOVA_ERR_HANDLE, api.TOVADLL_COPY_SECTION_STRING(12345, TOVA_SECT_GlobalHeader, text));
  CHECK_EQ(TOVA_ERR_HANDLE, api.TOVADLL_COPY_ENTRY_STRING(12345, TOVA_SECT_GlobalHeader, 0, text));
  CHECK(text == L"untouched");
  CHECK_EQ(0, api.TOVADLL_COPY_SECTION_STRING(h, TOVA_SECT_GlobalHeader, text));
  CHECK(!text.empty() && text != L"untouched");
  CHECK_EQ(0, api.TOVADLL_COPY_ENTRY_STRING(h, TOVA_SECT_GlobalHeader, 0, text));
  CHECK(text.find(L"TOVA_GH_INFO_SensorX") != std::wstring::npos);
  CHECK_EQ(0, api.TOVADLL_COPY_DATA_STRING(h, TOVA_SECT_GlobalHeader, 0, text));
  CHECK(text.find(L"4") != std::wstring::npos);

  // Datasets and state.
  CHECK_EQ(0, api.TOVADLL_GET_NUMDATASETS(h, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, api.TOVADLL_GET_CURDATASET(h, &n));
  CHECK_EQ(0, n);
  CHECK_EQ(0, api.TOVADLL_SET_CURDATASET(h, 0));
  CHECK_EQ(TOVA_ERR_DATASET, api.TOVADLL_SET_CURDATASET_EX(h, 1, 0));
  CHECK_EQ(TOVA_ERR_TOO_FEW_DATASETS, api.TOVADLL_REMOVE_DATASET(h, 0));
  CHECK_EQ(0, api.TOVADLL_SET_MODIFIED(h, 0));
  CHECK_EQ(0, api.TOVADLL_GET_MODIFIED(h, &n));
  CHECK_EQ(0, n);
  CHECK_EQ(0, api.TOVADLL_LOCK(h));
  CHECK_EQ(0, api.TOVADLL_UNLOCK(h));
  CHECK_EQ(TOVA_ERR_NOT_LOCK_OWNER, api.TOVADLL_UNLOCK(h));

  // A second dataset through a dataset buffer, then removed again.
  const uint64_t copy = api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA(copy, h, 0));
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA(copy, h, 0));
  CHECK_EQ(0, api.TOVADLL_GET_NUMDATASETS(copy, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, api.TOVADLL_SET_CURDATASET(copy, 1));
  CHECK_EQ(0, api.TOVADLL_REMOVE_DATASET(copy, 1));
  CHECK_EQ(0, api.TOVADLL_GET_NUMDATASETS(copy, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, api.TOVADLL_GET_BUFFERSIZE(copy, &size));
  CHECK(size > 0 && size <= sizeof bytes);
  uint32_t written = 0, offset = 0, image = 0;
  CHECK_EQ(0, api.TOVADLL_WRITE_TO_BUFFER_EX(copy, bytes, sizeof bytes, &written, &offset, &image));
  CHECK(written == size && image == sizeof kPixels && offset + image == size);
  const uint64_t from_buffer = api.TOVADLL_OPEN_FILE_READ_BUFFER();
  CHECK_EQ(0, api.TOVADLL_READ_FROM_BUFFER(from_buffer, bytes, written));
  CHECK_EQ(0, api.TOVADLL_READ_FROM_BUFFER_EX(from_buffer, bytes, written, &offset, &image));
  CHECK_EQ(sizeof kPixels, image);
  unsigned char again[256] = {};
  const uint64_t write_buffer = api.TOVADLL_OPEN_FILE_WRITE_BUFFER();
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA_BUFFERED_WRITE(write_buffer, from_buffer, again, sizeof again, &written));
  CHECK(written == size && std::memcmp(again, bytes, size) == 0);
  CHECK_EQ(0, api.TOVADLL_WRITE_TO_BUFFER(from_buffer, again, sizeof again, &written));
  CHECK_EQ(size, written);

  // A file: written, saved, read in two steps, sized, renamed, deleted.
  const std::wstring file = dir + L"\\scenario.tova", saved = dir + L"\\saved.tova", moved = dir + L"\\moved.tova";
  const uint64_t w = api.TOVADLL_OPEN_FILE_WRITE_UC(file.c_str(), 0);
  CHECK(w != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA(w, h, 0));
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(w));
  const uint64_t rw = api.TOVADLL_OPEN_FILE_READWRITE_UC(file.c_str(), 1);
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA(rw, h, 0));
  CHECK_EQ(0, api.TOVADLL_SAVE_FILE_UC(rw, saved.c_str()));
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(rw));
  const uint64_t r = api.TOVADLL_OPEN_FILE_READ_UC(saved.c_str());
  CHECK_EQ(0, api.TOVADLL_READ_FROM_FILE(r, 0, 0));
  CHECK_EQ(0, api.TOVADLL_READ_FROM_FILE_AFTER_FIRST(r, nullptr));
  CHECK_EQ(0, api.TOVADLL_GET_NUMDATASETS(r, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(r));
  double mb = 0.0;
  CHECK_EQ(0, api.TOVADLL_GET_FILE_SIZE_UC(saved.c_str(), &mb));
  CHECK(mb > 0.0);
  CHECK_EQ(0, api.TOVADLL_FILE_RENAME_UC(saved.c_str(), moved.c_str()));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_UC(moved.c_str()));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_UC(file.c_str()));
  volatile uint32_t stop = 1;
  const std::wstring pattern = dir + L"\\";
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_ALL_OLD_UC(pattern.c_str(), 3600));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(pattern.c_str(), 0, &stop));

  // The narrow forms, ASCII paths in the ANSI code page.
  char narrow_dir[MAX_PATH] = {};
  WideCharToMultiByte(CP_ACP, 0, dir.c_str(), -1, narrow_dir, MAX_PATH, nullptr, nullptr);
  const std::string nfile = std::string(narrow_dir) + "\\narrow.tova", nsaved = std::string(narrow_dir) + "\\n2.tova";
  const uint64_t nw = api.TOVADLL_OPEN_FILE_WRITE(nfile.c_str(), 0);
  CHECK_EQ(0, api.TOVADLL_ADD_TOVA(nw, h, 0));
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(nw));
  const uint64_t nrw = api.TOVADLL_OPEN_FILE_READWRITE(nfile.c_str(), 1);
  CHECK(nrw != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, api.TOVADLL_SAVE_FILE(nrw, nsaved.c_str()));
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(nrw));
  const uint64_t nr = api.TOVADLL_OPEN_FILE_READ(nsaved.c_str());
  CHECK(nr != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(nr));
  CHECK_EQ(0, api.TOVADLL_GET_FILE_SIZE(nsaved.c_str(), &mb));
  CHECK_EQ(0, api.TOVADLL_FILE_RENAME(nsaved.c_str(), nfile.c_str()));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE(nfile.c_str()));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_ALL_OLD((std::string(narrow_dir) + "\\").c_str(), 3600));
  CHECK_EQ(0, api.TOVADLL_FILE_DELETE_ALL_OLD_EX((std::string(narrow_dir) + "\\").c_str(), 0, &stop));

  for (uint64_t doc : {write_buffer, from_buffer, copy, h}) CHECK_EQ(0, api.TOVADLL_CLOSE_FILE(doc));
  CHECK_EQ(TOVA_ERR_HANDLE, api.TOVADLL_CLOSE_FILE(h));
  CHECK_EQ(TOVA_ERR_HANDLE, api.TOVADLL_EXIST(h));
  api.TOVADLL_SET_DLG_SHOW(1);
}

// Whether another opener may read the file now: refused while a write
// document of the DLL holds it (writers are exclusive).
bool FileIsFree(const std::wstring& path) {
  const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring dll_path = argc > 1 ? argv[1] : L"HOLMDAQTova.dll";

  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring dir = std::wstring(temp) + L"tova_ordinal_" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);

  HMODULE dll = LoadLibraryW(dll_path.c_str());
  CHECK(dll != nullptr);
  if (!dll) {
    std::fprintf(stderr, "cannot load the DLL (error %lu)\n", GetLastError());
    return 1;
  }
  Api api;
  const bool bound = Bind(dll, api);
  if (bound) Scenario(api, dir);

  // Unloading closes the documents still open: a write document holds its
  // file exclusively until then.
  const std::wstring held = dir + L"\\held.tova";
  uint64_t stale = TOVADLL_INVALID_HANDLE;
  if (bound) {
    stale = api.TOVADLL_OPEN_FILE_WRITE_UC(held.c_str(), 0);
    CHECK(stale != TOVADLL_INVALID_HANDLE);
    CHECK(!FileIsFree(held));
    api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0);  // left open as well
  }
  CHECK(FreeLibrary(dll));
  CHECK(GetModuleHandleW(L"HOLMDAQTova.dll") == nullptr);
  if (bound) CHECK(FileIsFree(held));

  // Loaded again, the DLL starts with an empty registry.
  dll = LoadLibraryW(dll_path.c_str());
  CHECK(dll != nullptr);
  if (dll && Bind(dll, api)) {
    CHECK_EQ(TOVA_ERR_HANDLE, api.TOVADLL_EXIST(stale));
    const uint64_t h = api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0);
    CHECK_EQ(0, api.TOVADLL_EXIST(h));
    CHECK_EQ(0, api.TOVADLL_FILE_DELETE_UC(held.c_str()));
    // h stays open: the second unload closes it as well.
  }
  if (dll) CHECK(FreeLibrary(dll));
  DeleteFileW(held.c_str());
  RemoveDirectoryW(dir.c_str());

  std::printf("ordinal_client: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
