// The file layer on Windows: Win32 calls on UTF-16 paths with real share
// modes. Readers share reading and refuse writers; writers are exclusive, so
// a second writer or a reader of a file being written is refused at open.
// Every path goes to the system in its \\?\ form, so that paths of
// MAX_PATH (260) characters and more work.
#include <windows.h>
// <windows.h> maps RemoveDirectory to RemoveDirectoryW; the file layer's own
// operation of that name must keep its name in every translation unit.
#undef RemoveDirectory

#include <time.h>
#include <wchar.h>

#include <string>

#include "platform/file_system.h"

namespace tova::platform {

namespace {

// The path in the form the Win32 file calls take without the MAX_PATH limit:
// \\?\C:\dir\name, or \\?\UNC\server\share\name for a network path. The
// system takes that form literally (no '/' separators, no "." or "..", no
// trailing dots or blanks dropped), so the path is first made absolute and
// normalised with GetFullPathNameW, which treats it exactly as the plain call
// would have. Paths already in the \\?\ form, and device paths (\\.\),
// pass unchanged; so does a path GetFullPathNameW refuses, for the call to
// fail on. wchar_t is a UTF-16 code unit on Windows, so the library's strings
// pass as they are.
std::wstring Native(const std::u16string& path) {
  std::wstring plain(path.begin(), path.end());
  const auto has_prefix = [](const std::wstring& p, const wchar_t* prefix) { return p.rfind(prefix, 0) == 0; };
  if (plain.empty() || has_prefix(plain, L"\\\\?\\") || has_prefix(plain, L"\\\\.\\")) return plain;
  std::wstring full(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(plain.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n == 0) return plain;
    if (n < full.size()) {  // n counts the characters written
      full.resize(n);
      break;
    }
    full.assign(n, L'\0');  // n counts the room needed, terminator included
  }
  if (has_prefix(full, L"\\\\?\\") || has_prefix(full, L"\\\\.\\")) return full;
  if (has_prefix(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

// FILETIME counts 100 ns units since 1601; the library counts seconds since 1970.
int64_t SecondsSince1970(const FILETIME& ft) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kEpochDifference = 116444736000000000;  // 1601-01-01 to 1970-01-01 in ticks
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) - kEpochDifference;
  // Floor, so that instants before 1970 do not round towards it.
  return ticks >= 0 ? ticks / kTicksPerSecond : -((-ticks + kTicksPerSecond - 1) / kTicksPerSecond);
}

bool Attributes(const std::u16string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return !path.empty() && GetFileAttributesExW(Native(path).c_str(), GetFileExInfoStandard, &data) != 0;
}

class Win32File final : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { Abort(); }

  bool Read(void* buffer, uint32_t n, uint32_t& got) override {
    got = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (got < n) {
      DWORD r = 0;
      if (!ReadFile(handle_, p + got, n - got, &r, nullptr)) return false;
      if (r == 0) break;  // end of the file
      got += r;
    }
    return true;
  }
  bool Write(const void* data, uint32_t n) override {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < n) {
      DWORD w = 0;
      if (!WriteFile(handle_, p + done, n - done, &w, nullptr) || w == 0) return false;
      done += w;
    }
    return true;
  }
  // WriteFile piece by piece: the file position moves on with each.
  bool WriteGather(const Piece* pieces, size_t count) override {
    for (size_t i = 0; i < count; ++i)
      if (!Write(pieces[i].data, pieces[i].size)) return false;
    return true;
  }
  // ReadFile at an offset (OVERLAPPED on a synchronous handle).
  bool ReadAt(uint64_t position, void* buffer, uint32_t n, uint32_t& got) override {
    got = 0;
    auto* p = static_cast<uint8_t*>(buffer);
    while (got < n) {
      OVERLAPPED at{};
      const uint64_t where = position + got;
      at.Offset = static_cast<DWORD>(where);
      at.OffsetHigh = static_cast<DWORD>(where >> 32);
      DWORD r = 0;
      if (!ReadFile(handle_, p + got, n - got, &r, &at)) return GetLastError() == ERROR_HANDLE_EOF;
      if (r == 0) break;
      got += r;
    }
    return true;
  }
  bool Seek(uint64_t position) override { return Move(static_cast<int64_t>(position), FILE_BEGIN, nullptr); }
  bool SeekToEnd(uint64_t& position) override { return Move(0, FILE_END, &position); }
  bool Position(uint64_t& position) override { return Move(0, FILE_CURRENT, &position); }
  bool Size(uint64_t& size) override {
    LARGE_INTEGER li{};
    if (!GetFileSizeEx(handle_, &li)) return false;
    size = static_cast<uint64_t>(li.QuadPart);
    return true;
  }
  // SetEndOfFile cuts at the file position; the position is put back
  // afterwards so that the call behaves like ftruncate elsewhere.
  bool Truncate(uint64_t size) override {
    uint64_t here = 0;
    if (!Position(here) || !Seek(size)) return false;
    const bool ok = SetEndOfFile(handle_) != 0;
    return Seek(here) && ok;
  }
  bool Flush() override { return FlushFileBuffers(handle_) != 0; }
  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    const bool ok = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return ok;
  }
  void Abort() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  bool Move(int64_t distance, DWORD method, uint64_t* result) {
    LARGE_INTEGER to{};
    to.QuadPart = distance;
    LARGE_INTEGER now{};
    if (!SetFilePointerEx(handle_, to, &now, method)) return false;
    if (result) *result = static_cast<uint64_t>(now.QuadPart);
    return true;
  }

  HANDLE handle_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::u16string& path, OpenMode mode) override {
    DWORD access = GENERIC_WRITE;
    DWORD share = 0;  // writers are exclusive
    DWORD disposition = OPEN_ALWAYS;
    switch (mode) {
      case OpenMode::ReadShared:
        access = GENERIC_READ;
        share = FILE_SHARE_READ;
        disposition = OPEN_EXISTING;
        break;
      case OpenMode::WriteCreate: disposition = CREATE_ALWAYS; break;
      case OpenMode::WriteExisting: disposition = OPEN_ALWAYS; break;
      case OpenMode::ReadWriteCreate:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = CREATE_ALWAYS;
        break;
      case OpenMode::ReadWriteExisting:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
        break;
    }
    if (path.empty()) return nullptr;
    // A directory cannot be opened without FILE_FLAG_BACKUP_SEMANTICS, so
    // only regular files come back.
    const HANDLE h = CreateFileW(Native(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32File>(h);
  }

  bool Exists(const std::u16string& path) override {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesW(Native(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  }

  bool Delete(const std::u16string& path) override {
    if (path.empty()) return false;
    if (DeleteFileW(Native(path).c_str())) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }

  bool Rename(const std::u16string& old_path, const std::u16string& new_path) override {
    if (old_path.empty() || new_path.empty()) return false;
    return MoveFileExW(Native(old_path).c_str(), Native(new_path).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }

  bool Size(const std::u16string& path, uint64_t& size) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data) || (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }

  // Lists the whole directory and filters with WildcardMatch, so that both
  // builds follow the very same rules (the system's own matching would also
  // match the short 8.3 names).
  bool FindFiles(const std::u16string& pattern, std::vector<DirEntry>& entries) override {
    entries.clear();
    const size_t sep = pattern.find_last_of(u"\\/");
    const std::u16string name_pattern = sep == std::u16string::npos ? pattern : pattern.substr(sep + 1);
    const std::u16string search = (sep == std::u16string::npos ? std::u16string() : pattern.substr(0, sep + 1)) + u"*";
    WIN32_FIND_DATAW data{};
    const HANDLE find = FindFirstFileW(Native(search).c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty directory
    do {
      const std::u16string name(reinterpret_cast<const char16_t*>(data.cFileName));
      if (!WildcardMatch(name_pattern, name)) continue;
      entries.push_back(DirEntry{name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
                                 (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0});
    } while (FindNextFileW(find, &data));
    const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
    FindClose(find);
    return complete;
  }

  bool GetTimes(const std::u16string& path, FileTimes& times) override {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!Attributes(path, data)) return false;
    times.modification = SecondsSince1970(data.ftLastWriteTime);
    const bool has_creation = data.ftCreationTime.dwHighDateTime != 0 || data.ftCreationTime.dwLowDateTime != 0;
    times.creation = has_creation ? SecondsSince1970(data.ftCreationTime) : times.modification;
    return true;
  }

  bool RemoveDirectory(const std::u16string& path) override {
    return !path.empty() && RemoveDirectoryW(Native(path).c_str()) != 0;
  }

  // MoveFileExW with MOVEFILE_WRITE_THROUGH returns only once the rename is
  // on the disk; there is no directory to sync.
  bool SyncDirectoryOf(const std::u16string&) override { return true; }

  int64_t Now() override { return static_cast<int64_t>(_time64(nullptr)); }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static Win32FileSystem fs;
  return fs;
}

}  // namespace tova::platform
