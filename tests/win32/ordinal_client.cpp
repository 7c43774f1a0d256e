// HOLMDAQTova.dll loaded at run time as the suite's applications do: every export bound by ordinal (the same code
// as its name; no other ordinal), the text exports called through the bound pointers, and unloading closing the
// documents still open. Usage: tova_ordinal_client [DLL path]; prints failed checks and "N passed, N failed".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "HOLMDAQTova.h"

namespace {

// Every export with its ordinal, as the interface fixes them: a wrong ordinal in the .def binds wrong code.
#define TOVA_EXPORTS(X)                                                                                               \
  X(TOVADLL_OPEN_FILE_READ, 1) X(TOVADLL_CLOSE_FILE, 2) X(TOVADLL_READ_FROM_FILE, 3) X(TOVADLL_OPEN_FILE_WRITE, 4)    \
  X(TOVADLL_OPEN_FILE_WRITE_BUFFER, 5) X(TOVADLL_OPEN_FILE_READ_BUFFER, 6) X(TOVADLL_GET_NUM_ENTRIES, 7)             \
  X(TOVADLL_OPEN_FILE_READWRITE, 8) X(TOVADLL_COPY_ENTRY_DATA, 9) X(TOVADLL_COPY_SECTION_STRING, 10)                 \
  X(TOVADLL_COPY_ENTRY_STRING, 11) X(TOVADLL_COPY_DATA_STRING, 12) X(TOVADLL_OPEN_FILE_MEM, 13)                      \
  X(TOVADLL_SAVE_FILE, 14) X(TOVADLL_ADD_TOVA, 15) X(TOVADLL_SET_ENTRY, 16) X(TOVADLL_GET_ENTRY, 17)                 \
  X(TOVADLL_EXIST_ENTRY, 18) X(TOVADLL_GET_ENTRY_DATASIZE, 19) X(TOVADLL_GET_NUMDATASETS, 20)                        \
  X(TOVADLL_GET_CURDATASET, 21) X(TOVADLL_SET_CURDATASET, 22) X(TOVADLL_FILE_DELETE, 23) X(TOVADLL_FILE_RENAME, 24)  \
  X(TOVADLL_GET_TOVA_TYPE, 25) X(TOVADLL_GET_MODIFIED, 26) X(TOVADLL_SET_MODIFIED, 27) X(TOVADLL_REMOVE_DATASET, 28) \
  X(TOVADLL_LOCK, 29) X(TOVADLL_UNLOCK, 30) X(TOVADLL_GET_FILE_SIZE, 31) X(TOVADLL_REMOVE_ENTRY, 32)                 \
  X(TOVADLL_ADD_TOVA_BUFFERED_WRITE, 33) X(TOVADLL_GET_BUFFERSIZE, 34) X(TOVADLL_WRITE_TO_BUFFER, 35)                \
  X(TOVADLL_READ_FROM_BUFFER, 36) X(TOVADLL_WRITE_TO_BUFFER_EX, 37) X(TOVADLL_READ_FROM_BUFFER_EX, 38)               \
  X(TOVADLL_EXIST, 39) X(TOVADLL_SET_ENTRY_ISOPTIONAL, 40) X(TOVADLL_READ_FROM_FILE_AFTER_FIRST, 41)                 \
  X(TOVADLL_FILE_DELETE_ALL_OLD, 42) X(TOVADLL_SET_DLG_SHOW, 43) X(TOVADLL_FILE_DELETE_ALL_OLD_EX, 44)               \
  X(TOVADLL_SET_CURDATASET_EX, 45) X(TOVADLL_OPEN_FILE_READ_UC, 1001) X(TOVADLL_OPEN_FILE_WRITE_UC, 1004)            \
  X(TOVADLL_OPEN_FILE_READWRITE_UC, 1008) X(TOVADLL_SAVE_FILE_UC, 1014) X(TOVADLL_FILE_DELETE_UC, 1023)              \
  X(TOVADLL_FILE_RENAME_UC, 1024) X(TOVADLL_GET_FILE_SIZE_UC, 1031) X(TOVADLL_FILE_DELETE_ALL_OLD_UC, 1042)          \
  X(TOVADLL_FILE_DELETE_ALL_OLD_EX_UC, 1044)

// The exports as pointers of their declared types, bound by ordinal.
struct Api {
#define TOVA_API_MEMBER(name, ordinal) decltype(&::name) name = nullptr;
  TOVA_EXPORTS(TOVA_API_MEMBER)
#undef TOVA_API_MEMBER
};

int g_passed = 0, g_failed = 0;

bool Check(bool ok, int line, const char* what, long long actual = 0, long long expected = 1) {
  ++(ok ? g_passed : g_failed);
  if (!ok) std::fprintf(stderr, "ordinal_client.cpp:%d: failed: %s (%lld, not %lld)\n", line, what, actual, expected);
  return ok;
}
#define CHECK(cond) Check((cond), __LINE__, #cond)

FARPROC ByOrdinal(HMODULE dll, WORD ordinal) { return GetProcAddress(dll, MAKEINTRESOURCEA(ordinal)); }

// Binds every export by ordinal; checks that the name leads to the same code.
bool Bind(HMODULE dll, Api& api) {
  bool all = true;
#define TOVA_BIND(name, ordinal)                                                                                \
  {                                                                                                             \
    const FARPROC by_ordinal = ByOrdinal(dll, ordinal);                                                         \
    all &= Check(by_ordinal != nullptr && by_ordinal == GetProcAddress(dll, #name), __LINE__,                   \
                 "ordinal " #ordinal " is exported and is " #name);                                             \
    api.name = reinterpret_cast<decltype(api.name)>(reinterpret_cast<void*>(by_ordinal));                      \
  }
  TOVA_EXPORTS(TOVA_BIND)
#undef TOVA_BIND
  // No ordinal outside the list: the gaps of the table and the ends.
  for (WORD ordinal : {46, 100, 999, 1000, 1002, 1003, 1045, 1046, 2000})
    Check(ByOrdinal(dll, ordinal) == nullptr, __LINE__, "no other ordinal is exported", ordinal, 0);
  return all;
}

// The text exports take the caller's string object across the DLL; the C API test calls the others.
void TextExports(const Api& api) {
  const uint16_t four = 4, gh = TOVA_SECT_GlobalHeader;
  const uint64_t h = api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK(api.TOVADLL_SET_ENTRY(h, gh, TOVA_GH_INFO_SensorX, 2, &four) == 0);
  TOVA_WSTRING text;
  CHECK(api.TOVADLL_COPY_SECTION_STRING(h, gh, text) == 0 && api.TOVADLL_COPY_ENTRY_STRING(h, gh, 0, text) == 0);
  CHECK(text.find(L"TOVA_GH_INFO_SensorX") != std::wstring::npos);
  CHECK(api.TOVADLL_COPY_DATA_STRING(h, gh, 0, text) == 0 && text.find(L"4") != std::wstring::npos);
  CHECK(api.TOVADLL_CLOSE_FILE(h) == 0 && api.TOVADLL_EXIST(h) == TOVA_ERR_HANDLE);
}

// Whether another opener may read the file now: not while a write document of the DLL holds it.
bool FileIsFree(const std::wstring& path) {
  const HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return f != INVALID_HANDLE_VALUE && CloseHandle(f);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring dll_path = argc > 1 ? argv[1] : L"HOLMDAQTova.dll";
  wchar_t temp[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, temp);
  const std::wstring held = std::wstring(temp) + L"tova_ordinal_" + std::to_wstring(GetCurrentProcessId()) + L".tova";
  Api api;
  HMODULE dll = LoadLibraryW(dll_path.c_str());
  if (CHECK(dll != nullptr) && Bind(dll, api)) {
    TextExports(api);
    // Unloading closes the documents still open: a write document holds its file exclusively until then.
    const uint64_t stale = api.TOVADLL_OPEN_FILE_WRITE_UC(held.c_str(), 0);
    CHECK(stale != TOVADLL_INVALID_HANDLE && !FileIsFree(held));
    api.TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0);  // left open as well
    CHECK(FreeLibrary(dll) && GetModuleHandleW(L"HOLMDAQTova.dll") == nullptr && FileIsFree(held));
    dll = nullptr;
  }
  if (dll) CHECK(FreeLibrary(dll));
  CHECK(DeleteFileW(held.c_str()));
  std::printf("ordinal_client: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
