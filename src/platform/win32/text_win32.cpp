// Narrow texts on Windows: entry texts and paths are both in the ANSI code
// page (CP_ACP) and converted with the system's own tables.
#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace tova::platform {

namespace {

std::u16string AnsiToUtf16(const char* data, size_t size) {
  std::u16string out;
  if (size == 0) return out;
  if (size > static_cast<size_t>(INT_MAX)) size = INT_MAX;  // no entry text comes near it
  const int n = static_cast<int>(size);
  // CP_ACP is a single- or double-byte code page: never more units than bytes.
  out.resize(size);
  const int got = MultiByteToWideChar(CP_ACP, 0, data, n, reinterpret_cast<wchar_t*>(out.data()), n);
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return out;
}

}  // namespace

std::u16string NarrowTextToUtf16(std::string_view narrow) { return AnsiToUtf16(narrow.data(), narrow.size()); }

// Characters the code page lacks become '?', as on the other platforms.
std::string Utf16ToNarrowText(std::u16string_view text) {
  std::string out;
  if (text.empty()) return out;
  const int n = static_cast<int>(text.size() > static_cast<size_t>(INT_MAX / 2) ? INT_MAX / 2 : text.size());
  const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
  const int need = WideCharToMultiByte(CP_ACP, 0, wide, n, nullptr, 0, nullptr, nullptr);
  if (need <= 0) return out;
  out.resize(static_cast<size_t>(need));
  const int got = WideCharToMultiByte(CP_ACP, 0, wide, n, out.data(), need, nullptr, nullptr);
  out.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return out;
}

std::u16string NarrowPathToUtf16(const char* path) {
  if (!path) return std::u16string();
  return AnsiToUtf16(path, std::char_traits<char>::length(path));
}

}  // namespace tova::platform
