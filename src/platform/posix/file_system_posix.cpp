// The file layer outside Windows: POSIX calls on UTF-8 paths. The Windows share
// modes are emulated with advisory flock locks: readers take a shared lock,
// writers an exclusive one, both without waiting, so that two documents of this
// library cannot write one file at once and a reader is refused while a writer
// holds it. Deleting or renaming a file (either name of a rename) takes the
// exclusive lock first as well, so that a file some document holds open is
// refused there too, as Windows refuses it, instead of leaving the document
// writing into an unlinked file.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <sys/uio.h>
#include <unistd.h>

#include <optional>

#include "platform/file_system.h"
#include "platform/text.h"

namespace tova::platform {

namespace {

std::string Native(const std::u16string& path) { return Utf16ToUtf8(path); }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The exclusive lock on the regular file a path names, held while that file is
// unlinked or renamed, so that no document of this library can hold it then
// (an open takes its lock without waiting, and is refused). A path that names
// no regular file (missing, a directory, a symbolic link, which is removed or
// moved itself and not what it points at) needs no lock: the operation goes
// ahead unlocked.
class RemovalLock {
 public:
  explicit RemovalLock(const std::string& native) {
    // The name may come to name another file between the open and the lock:
    // the lock counts only when the name still names the locked file, else
    // the open is tried again.
    for (int attempt = 0; attempt < 3; ++attempt) {
      struct stat before {};
      if (::lstat(native.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) return;
      const int fd = ::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) {
        // A file this process may not read (write-only) cannot be locked; it
        // goes unlocked, as it did before locks were taken here.
        if (errno == EACCES || errno == EPERM) return;
        if (errno == ENOENT || errno == ELOOP) continue;  // gone or replaced meanwhile
        refused_ = true;
        return;
      }
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        refused_ = true;  // a document holds the file
        return;
      }
      struct stat locked {}, now {};
      if (::fstat(fd, &locked) == 0 && ::lstat(native.c_str(), &now) == 0 && SameFile(locked, now)) {
        fd_ = fd;
        identity_ = locked;
        locked_ = true;
        return;
      }
      ::close(fd);
    }
    refused_ = true;  // the name keeps changing under us
  }
  ~RemovalLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  RemovalLock(const RemovalLock&) = delete;
  RemovalLock& operator=(const RemovalLock&) = delete;

  // A document holds the file, or it could not be locked: leave it alone.
  bool Refused() const { return refused_; }
  // The locked file (valid when Locked()).
  bool Locked() const { return locked_; }
  const struct stat& identity() const { return identity_; }

 private:
  int fd_ = -1;
  bool refused_ = false;
  bool locked_ = false;
  struct stat identity_ {};
};

// Reads until n bytes are in or the file ends, going on after interrupted and
// short calls; read_some(destination, length, bytes so far) is one read or
// pread.
template <typename ReadSome>
bool ReadFully(void* buffer, uint32_t n, uint32_t& got, ReadSome read_some) {
  got = 0;
  auto* p = static_cast<uint8_t*>(buffer);
  while (got < n) {
    const ssize_t r = read_some(p + got, n - got, got);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) break;
    got += static_cast<uint32_t>(r);
  }
  return true;
}

// Moves the bytes of the pieces with one vectored call after another
// (writev or preadv), going on after interrupted and short calls from the byte
// where the last one stopped, until all are moved or a call moves none; done
// receives the bytes moved. False when a call failed. vectored(iovecs, count,
// bytes so far) is one call.
template <typename Piece, typename Vectored>
bool MoveVectored(const Piece* pieces, size_t count, uint64_t& done, Vectored vectored) {
  constexpr size_t kBatch = 64;  // well below IOV_MAX
  iovec vec[kBatch];
  size_t next = 0;  // first piece not yet in vec
  size_t skip = 0;  // bytes of pieces[next] already moved
  done = 0;
  while (next < count) {
    size_t n = 0;
    size_t total = 0;
    for (size_t i = next; i < count && n < kBatch; ++i, ++n) {
      const size_t moved = i == next ? skip : 0;
      vec[n].iov_base = const_cast<uint8_t*>(static_cast<const uint8_t*>(pieces[i].data) + moved);
      vec[n].iov_len = pieces[i].size - moved;
      total += vec[n].iov_len;
    }
    if (total == 0) return true;
    const ssize_t r = vectored(vec, static_cast<int>(n), done);
    if (r < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (r == 0) return true;
    done += static_cast<uint64_t>(r);
    // Moves past the bytes moved.
    size_t left = static_cast<size_t>(r);
    while (left > 0 && next < count) {
      const size_t rest = pieces[next].size - skip;
      if (left < rest) {
        skip += left;
        left = 0;
      } else {
        left -= rest;
        ++next;
        skip = 0;
      }
    }
    while (next < count && pieces[next].size == 0) ++next;
  }
  return true;
}

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  // A reader: it can let go of its share and take it back, checking that
  // native still names the file identity describes.
  PosixFile(int fd, std::string native, const struct stat& identity)
      : fd_(fd), native_(std::move(native)), identity_(identity) {}
  ~PosixFile() override { Abort(); }

  bool Read(void* buffer, uint32_t n, uint32_t& got) override {
    return ReadFully(buffer, n, got, [this](uint8_t* p, uint32_t len, uint32_t) { return ::read(fd_, p, len); });
  }
  bool Write(const void* data, uint32_t n) override {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(fd_, p + done, n - done);
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      if (w == 0) return false;
      done += static_cast<uint32_t>(w);
    }
    return true;
  }
  bool WriteGather(const Piece* pieces, size_t count) override {
    uint64_t total = 0, done = 0;
    for (size_t i = 0; i < count; ++i) total += pieces[i].size;
    return MoveVectored(pieces, count, done, [this](iovec* vec, int n, uint64_t) { return ::writev(fd_, vec, n); }) &&
           done == total;
  }
  bool ReadScatterAt(uint64_t position, const Span* spans, size_t count, uint32_t& got) override {
    uint64_t done = 0;
    const bool ok = MoveVectored(spans, count, done, [this, position](iovec* vec, int n, uint64_t so_far) {
      return ::preadv(fd_, vec, n, static_cast<off_t>(position + so_far));
    });
    got = static_cast<uint32_t>(done);
    return ok;
  }
  bool ReleaseShare() override { return !native_.empty() && ::flock(fd_, LOCK_UN) == 0; }
  bool RetakeShare() override {
    if (native_.empty() || ::flock(fd_, LOCK_SH | LOCK_NB) != 0) return false;
    struct stat now {};
    return ::stat(native_.c_str(), &now) == 0 && SameFile(identity_, now);
  }
  bool ReadAt(uint64_t position, void* buffer, uint32_t n, uint32_t& got) override {
    return ReadFully(buffer, n, got, [this, position](uint8_t* p, uint32_t len, uint32_t done) {
      return ::pread(fd_, p, len, static_cast<off_t>(position + done));
    });
  }
  bool Seek(uint64_t position) override {
    return ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) >= 0;
  }
  bool SeekToEnd(uint64_t& position) override {
    const off_t r = ::lseek(fd_, 0, SEEK_END);
    if (r < 0) return false;
    position = static_cast<uint64_t>(r);
    return true;
  }
  bool Position(uint64_t& position) override {
    const off_t r = ::lseek(fd_, 0, SEEK_CUR);
    if (r < 0) return false;
    position = static_cast<uint64_t>(r);
    return true;
  }
  bool Size(uint64_t& size) override {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }
  bool Truncate(uint64_t size) override { return ::ftruncate(fd_, static_cast<off_t>(size)) == 0; }
  bool Flush() override { return ::fsync(fd_) == 0; }
  bool Close() override {
    if (fd_ < 0) return true;
    const int r = ::close(fd_);  // releases the flock as well
    fd_ = -1;
    return r == 0;
  }
  void Abort() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
  std::string native_;  // a reader's path; empty for writers
  struct stat identity_ {};
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::u16string& path, OpenMode mode) override {
    int flags = O_CLOEXEC;
    int lock = LOCK_EX;
    switch (mode) {
      case OpenMode::ReadShared: flags |= O_RDONLY; lock = LOCK_SH; break;
      case OpenMode::WriteCreate: flags |= O_WRONLY | O_CREAT; break;
      case OpenMode::WriteExisting: flags |= O_WRONLY | O_CREAT; break;
      case OpenMode::ReadWriteCreate: flags |= O_RDWR | O_CREAT; break;
      case OpenMode::ReadWriteExisting: flags |= O_RDWR | O_CREAT; break;
    }
    std::string native = Native(path);
    if (native.empty()) return nullptr;
    int fd = -1;
    struct stat identity {};
    // A deletion or rename may take the file away between the open and the
    // lock (it holds the lock while it acts, and lets go afterwards): the
    // lock counts only when the path still names the locked file, else the
    // open is tried again on what the path names now.
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
      fd = ::open(native.c_str(), flags, 0666);
      if (fd < 0) return nullptr;
      struct stat now {};
      if (::fstat(fd, &identity) != 0 || S_ISDIR(identity.st_mode) || ::flock(fd, lock | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
      }
      if (::stat(native.c_str(), &now) != 0 || !SameFile(identity, now)) {
        ::close(fd);
        fd = -1;
      }
    }
    if (fd < 0) return nullptr;
    // Truncate only once the exclusive lock is ours, so that a file held by
    // another writer is never cut.
    if ((mode == OpenMode::WriteCreate || mode == OpenMode::ReadWriteCreate) && ::ftruncate(fd, 0) != 0) {
      ::close(fd);
      return nullptr;
    }
    if (mode == OpenMode::ReadShared) return std::make_unique<PosixFile>(fd, std::move(native), identity);
    return std::make_unique<PosixFile>(fd);
  }

  bool Exists(const std::u16string& path) override {
    struct stat st {};
    return ::stat(Native(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
  }

  bool Delete(const std::u16string& path) override {
    const std::string native = Native(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR;
    if (S_ISDIR(st.st_mode)) return false;
    const RemovalLock lock(native);
    if (lock.Refused()) return false;
    return ::unlink(native.c_str()) == 0 || errno == ENOENT;
  }

  // Both names are locked: the file that moves, and the file of the new name
  // that the rename replaces. Two names of one file (the same path, or hard
  // links) are locked once: a second lock through another descriptor would be
  // refused by the first.
  bool Rename(const std::u16string& old_path, const std::u16string& new_path) override {
    const std::string from = Native(old_path), to = Native(new_path);
    const RemovalLock from_lock(from);
    if (from_lock.Refused()) return false;
    struct stat target {};
    std::optional<RemovalLock> to_lock;
    if (!from_lock.Locked() || ::lstat(to.c_str(), &target) != 0 || !SameFile(target, from_lock.identity()))
      to_lock.emplace(to);
    if (to_lock && to_lock->Refused()) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
  }

  bool Size(const std::u16string& path, uint64_t& size) override {
    struct stat st {};
    if (::stat(Native(path).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool FindFiles(const std::u16string& pattern, std::vector<DirEntry>& entries) override {
    entries.clear();
    const size_t slash = pattern.rfind(u'/');
    const std::u16string dir = slash == std::u16string::npos ? u"." : pattern.substr(0, slash == 0 ? 1 : slash);
    const std::u16string name_pattern = slash == std::u16string::npos ? pattern : pattern.substr(slash + 1);
    const std::string native_dir = Native(dir);
    DIR* d = ::opendir(native_dir.c_str());
    if (!d) return false;
    while (dirent* e = ::readdir(d)) {
      const std::u16string name = Utf8ToUtf16(e->d_name);
      if (!WildcardMatch(name_pattern, name)) continue;
      bool is_dir = false;
      bool is_link = e->d_type == DT_LNK;
      if (e->d_type == DT_DIR) {
        is_dir = true;
      } else if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
        struct stat st {};
        const std::string full = native_dir + "/" + e->d_name;
        is_dir = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (e->d_type == DT_UNKNOWN) is_link = ::lstat(full.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
      }
      entries.push_back(DirEntry{name, is_dir, is_link});
    }
    ::closedir(d);
    return true;
  }

  bool GetTimes(const std::u16string& path, FileTimes& times) override {
    const std::string native = Native(path);
#if defined(STATX_BTIME)
    struct statx sx {};
    if (::statx(AT_FDCWD, native.c_str(), 0, STATX_BTIME | STATX_MTIME, &sx) == 0) {
      times.modification = sx.stx_mtime.tv_sec;
      times.creation = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
      return true;
    }
    return false;
#else
    struct stat st {};
    if (::stat(native.c_str(), &st) != 0) return false;
    times.modification = st.st_mtime;
    times.creation = st.st_mtime;  // no creation time recorded: the modification time stands in
    return true;
#endif
  }

  bool RemoveDirectory(const std::u16string& path) override { return ::rmdir(Native(path).c_str()) == 0; }

  bool SyncDirectoryOf(const std::u16string& path) override {
    const size_t slash = path.rfind(u'/');
    const std::string dir = slash == std::u16string::npos ? "." : Native(path.substr(0, slash == 0 ? 1 : slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
  }

  int64_t Now() override { return static_cast<int64_t>(::time(nullptr)); }
};

}  // namespace

FileSystem& SystemFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace tova::platform
