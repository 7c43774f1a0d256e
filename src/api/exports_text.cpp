// Exports of the section, entry and data strings. They take no document lock:
// a caller that shares the document between threads brackets them with
// TOVADLL_LOCK / TOVADLL_UNLOCK. The caller's string is emptied first and
// receives the text only on success; an unknown handle leaves it untouched.
#include "api/export_frame.h"

using tova::CTOVAFile;
using namespace tova::api;

namespace {

// Runs a text operation of the document and hands its UTF-16 text over to
// the caller's string, code unit by code unit.
template <typename Op>
int32_t CopyText(CTOVAFile& doc, TOVA_WSTRING& text, Op&& op) {
  text.clear();
  std::u16string rendered;
  const int32_t rc = op(doc, rendered);
  if (rc == 0) text.assign(rendered.begin(), rendered.end());
  return rc;
}

}  // namespace

extern "C" {

int32_t TOVADLL_COPY_SECTION_STRING(uint64_t h, uint16_t section, TOVA_WSTRING& text) {
  return WithDocument(h, false, [&](CTOVAFile& d) {
    return CopyText(d, text, [&](CTOVAFile& doc, std::u16string& s) { return doc.CopySectionString(section, s); });
  });
}

int32_t TOVADLL_COPY_ENTRY_STRING(uint64_t h, uint16_t section, uint32_t index, TOVA_WSTRING& text) {
  return WithDocument(h, false, [&](CTOVAFile& d) {
    return CopyText(d, text,
                    [&](CTOVAFile& doc, std::u16string& s) { return doc.CopyEntryString(section, index, s); });
  });
}

int32_t TOVADLL_COPY_DATA_STRING(uint64_t h, uint16_t section, uint32_t index, TOVA_WSTRING& text) {
  return WithDocument(
      h, false,
      [&](CTOVAFile& d) {
        return CopyText(d, text,
                        [&](CTOVAFile& doc, std::u16string& s) { return doc.CopyDataString(section, index, s); });
      },
      TOVA_ERR_TEXT_HANDLE);
}

}  // extern "C"
