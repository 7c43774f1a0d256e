// The file-layer seam and the Windows wildcard rules, shared by both builds.
#include "platform/file_system.h"

#include <atomic>

#include "platform/text.h"

namespace tova::platform {

bool File::WriteGather(const Piece* pieces, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (!Write(pieces[i].data, pieces[i].size)) return false;
  return true;
}

bool File::ReadAt(uint64_t position, void* buffer, uint32_t n, uint32_t& got) {
  got = 0;
  return Seek(position) && Read(buffer, n, got);
}

bool File::ReadScatterAt(uint64_t position, const Span* spans, size_t count, uint32_t& got) {
  got = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t n = 0;
    if (!ReadAt(position + got, spans[i].data, spans[i].size, n)) return false;
    got += n;
    if (n < spans[i].size) break;
  }
  return true;
}

namespace {
std::atomic<FileSystem*> g_file_system{nullptr};

char16_t Fold(char16_t c) {
#ifdef _WIN32
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
#endif
  return c;
}

// Matches with Windows rules: '*' any run, '?' one character or, at the end of
// the name, nothing; "*.*" and "*" match every name; a pattern ending in '.'
// also matches a name without an extension.
bool Match(std::u16string_view p, std::u16string_view n) {
  size_t pi = 0, ni = 0, star_p = std::u16string_view::npos, star_n = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == u'?' || Fold(p[pi]) == Fold(n[ni]))) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == u'*') {
      star_p = pi++;
      star_n = ni;
    } else if (star_p != std::u16string_view::npos) {
      pi = star_p + 1;
      ni = ++star_n;
    } else {
      return false;
    }
  }
  while (pi < p.size() && (p[pi] == u'*' || p[pi] == u'?')) ++pi;
  if (pi + 1 == p.size() && p[pi] == u'.') ++pi;  // "name." matches "name"
  if (pi + 2 == p.size() && p[pi] == u'.' && p[pi + 1] == u'*') pi += 2;  // "x*.*" matches "x"
  return pi == p.size();
}

}  // namespace

bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*" || pattern == u"*") return true;
  return Match(pattern, name);
}

FileSystem& GetFileSystem() {
  FileSystem* fs = g_file_system.load(std::memory_order_acquire);
  return fs ? *fs : SystemFileSystem();
}

void SetFileSystemForTesting(FileSystem* fs) { g_file_system.store(fs, std::memory_order_release); }

}  // namespace tova::platform
