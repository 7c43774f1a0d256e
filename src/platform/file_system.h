// The file layer: every file, directory and path operation the library needs
// from the operating system, behind one small interface. The POSIX and Win32
// implementations live in posix/ and win32/; tests install a forwarding double
// (a wrapper that fails a chosen call) through SetFileSystemForTesting.
//
// All paths are UTF-16. Operations report failure through their result and
// never throw.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tova::platform {

// How a file is opened. The share rules are those of the document files:
// readers share reading and refuse writers; writers are exclusive.
enum class OpenMode {
  ReadShared,         // read only, others may read, nobody may write
  WriteCreate,        // write only, exclusive, created or truncated to 0
  WriteExisting,      // write only, exclusive, created when missing, never truncated
  ReadWriteCreate,    // read and write, exclusive, created or truncated to 0
  ReadWriteExisting,  // read and write, exclusive, created when missing, never truncated
};

// One open file. Positions and sizes are 64-bit; the library keeps its parts
// below 2 GiB but the layer does not rely on it.
class File {
 public:
  virtual ~File() = default;
  // Reads up to n bytes at the current position; got receives the count (0 at
  // the end of the file). False on an I/O error.
  virtual bool Read(void* buffer, uint32_t n, uint32_t& got) = 0;
  // Writes all n bytes at the current position. False when fewer could be written.
  virtual bool Write(const void* data, uint32_t n) = 0;
  // One piece of a gathered write.
  struct Piece {
    const void* data;
    uint32_t size;
  };
  // Writes the pieces back to back at the current position, the bytes on disk
  // those of one Write of their concatenation. False when not all could be
  // written. This one writes them one by one with Write.
  virtual bool WriteGather(const Piece* pieces, size_t count);
  // Reads up to n bytes at position, as Seek and Read would; afterwards the
  // current position is unspecified. This one seeks and reads.
  virtual bool ReadAt(uint64_t position, void* buffer, uint32_t n, uint32_t& got);
  // One piece of a scattered read.
  struct Span {
    void* data;
    uint32_t size;
  };
  // Reads the spans back to back from position, as one ReadAt into their
  // concatenation would; got receives the bytes read in all. This one reads
  // them one by one with ReadAt.
  virtual bool ReadScatterAt(uint64_t position, const Span* spans, size_t count, uint32_t& got);
  // A file opened ReadShared may let go of its share between uses and keep
  // its handle: after ReleaseShare others may write, rename or delete it as
  // if it were closed. RetakeShare takes the share back, false when a writer
  // holds the file or its path names another file now: the file is then good
  // for nothing but Close and Abort, and is to be closed at once. A file that
  // cannot do this keeps its share and returns false from ReleaseShare, as
  // these do.
  virtual bool ReleaseShare() { return false; }
  virtual bool RetakeShare() { return false; }
  virtual bool Seek(uint64_t position) = 0;
  virtual bool SeekToEnd(uint64_t& position) = 0;
  virtual bool Position(uint64_t& position) = 0;
  virtual bool Size(uint64_t& size) = 0;
  // Cuts the file to size bytes (used to take back a half-written dataset).
  virtual bool Truncate(uint64_t size) = 0;
  // Pushes written data to stable storage.
  virtual bool Flush() = 0;
  // Closes the file; false when the system reported an error (the handle is
  // released anyway). A closed file accepts no further calls but Close/Abort.
  virtual bool Close() = 0;
  // Releases the handle, ignoring every error.
  virtual void Abort() = 0;
};

struct DirEntry {
  std::u16string name;   // the name only, without the directory
  bool is_directory = false;
  bool is_link = false;  // a symbolic link or junction (to whatever it points at)
};

struct FileTimes {
  int64_t creation = 0;      // seconds since 1970; the modification time where none is recorded
  int64_t modification = 0;  // seconds since 1970
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Null when the file cannot be opened in that mode.
  virtual std::unique_ptr<File> Open(const std::u16string& path, OpenMode mode) = 0;
  // A regular file (not a directory) of that name exists.
  virtual bool Exists(const std::u16string& path) = 0;
  // True when no file of that name remains afterwards (a missing file counts).
  // A file some File holds open (in any process) is refused, not deleted.
  virtual bool Delete(const std::u16string& path) = 0;
  // Renames old to new, replacing an existing file of the new name. Refused
  // when some File holds either of them open (in any process).
  virtual bool Rename(const std::u16string& old_path, const std::u16string& new_path) = 0;
  // The size of a file; false when it cannot be determined (missing file).
  virtual bool Size(const std::u16string& path, uint64_t& size) = 0;
  // Lists the directory entries that match pattern, a path whose last component
  // may hold the wildcards '?' and '*' with Windows rules ("*.*" matches every
  // name; '?' is one character, and trailing ones may match none). "." and ".."
  // are included when they match. False when the directory cannot be read.
  virtual bool FindFiles(const std::u16string& pattern, std::vector<DirEntry>& entries) = 0;
  virtual bool GetTimes(const std::u16string& path, FileTimes& times) = 0;
  // Removes an empty directory.
  virtual bool RemoveDirectory(const std::u16string& path) = 0;
  // Makes a rename in the directory of path durable (POSIX: fsync of the
  // directory; nothing to do on Windows, where the rename is written through).
  virtual bool SyncDirectoryOf(const std::u16string& path) = 0;
  // Seconds since 1970, now.
  virtual int64_t Now() = 0;
};

// The file layer in force: the system's own, unless a test installed another.
FileSystem& GetFileSystem();
// Installs fs (not owned) as the file layer; null restores the system's own.
void SetFileSystemForTesting(FileSystem* fs);
// The system's own file layer.
FileSystem& SystemFileSystem();

// The platform's path separator.
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// Windows wildcard match of one name against one pattern component (case
// sensitive outside Windows, insensitive on Windows).
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name);

}  // namespace tova::platform
