// Exports of the section, entry and data strings. They take no document lock:
// a caller that shares the document between threads brackets them with
// TOVADLL_LOCK / TOVADLL_UNLOCK. The caller's string is emptied first and
// receives the text only on success; an unknown handle leaves it untouched.
#include "api/export_frame.h"
#include "catalog/strings.h"

using tova::Code;
using tova::CTOVAFile;
using namespace tova::api;

namespace {

// Runs a text operation of the document and hands its UTF-16 text over to
// the caller's string, code unit by code unit.
template <typename Op>
Code CopyText(CTOVAFile& doc, TOVA_WSTRING& text, Op&& op) {
  text.clear();
  std::u16string rendered;
  const Code rc = op(doc, rendered);
  if (!tova::Failed(rc)) text.assign(rendered.begin(), rendered.end());
  return rc;
}

}  // namespace

extern "C" {

int32_t TOVADLL_COPY_SECTION_STRING(uint64_t h, uint16_t section, TOVA_WSTRING& text) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    return CopyText(d, text, [&](CTOVAFile& doc, std::u16string& s) { return tova::catalog::CopySectionString(doc, section, s); });
  });
}

int32_t TOVADLL_COPY_ENTRY_STRING(uint64_t h, uint16_t section, uint32_t index, TOVA_WSTRING& text) {
  return WithDocument(h, DocLock::kNone, [&](CTOVAFile& d) {
    return CopyText(d, text,
                    [&](CTOVAFile& doc, std::u16string& s) { return tova::catalog::CopyEntryString(doc, section, index, s); });
  });
}

int32_t TOVADLL_COPY_DATA_STRING(uint64_t h, uint16_t section, uint32_t index, TOVA_WSTRING& text) {
  return WithDocument(
      h, DocLock::kNone,
      [&](CTOVAFile& d) {
        return CopyText(d, text,
                        [&](CTOVAFile& doc, std::u16string& s) { return tova::catalog::CopyDataString(doc, section, index, s); });
      },
      Code::kTextHandle);
}

}  // extern "C"
