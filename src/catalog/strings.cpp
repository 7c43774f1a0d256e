// The one-line descriptions of entries and sections, and the rendering of an
// entry's data by its catalogue row.
#include "catalog/strings.h"

#include "catalog/catalog.h"
#include "catalog/render_engine.h"
#include "platform/text.h"

namespace tova::catalog {

std::u16string EntryString(const CTOVAEntry& entry) {
  return platform::FormatU16("%s <%X> (%u bytes)", EntryName(entry.Id()).c_str(), static_cast<unsigned>(entry.Id()),
                             static_cast<unsigned>(entry.RecordLength()));
}

// The size is shown in full: a memory document's section may exceed 32 bits.
std::u16string SectionString(const CTOVASection& section, EntryScope scope) {
  return platform::FormatU16("%s <%X> (%llu bytes)", SectionName(section.SectionId()),
                             static_cast<unsigned>(section.SectionId()),
                             static_cast<unsigned long long>(section.GetSectionSize(scope)));
}

// Identifiers outside the catalogue render as "??". Only the bytes the entry
// holds are read.
std::u16string DataString(const CTOVAEntry& entry) {
  const CatalogRow* row = FindRow(entry.Id());
  if (!row) return u"??";
  std::u16string text;
  Render(row->rendering, entry.Data(), entry.HasData() ? entry.DataSize() : 0, text);
  return text;
}

Code CopySectionString(CTOVAFile& doc, uint16_t section_id, std::u16string& text) {
  text.clear();
  CTOVASection* section = nullptr;
  TRY(doc.GetSection(section_id, section));
  text = SectionString(*section, doc.cur_dataset > 0 ? EntryScope::kPerDatasetOnly : EntryScope::kAll);
  return Code::kOk;
}

Code CopyEntryString(CTOVAFile& doc, uint16_t section_id, uint32_t index, std::u16string& text) {
  text.clear();
  CTOVAEntry* entry = nullptr;
  TRY(doc.SelectEntry(section_id, index, entry));
  text = platform::FormatU16("[%u] ", index + 1) + EntryString(*entry);
  return Code::kOk;
}

Code CopyDataString(CTOVAFile& doc, uint16_t section_id, uint32_t index, std::u16string& text) {
  text.clear();
  CTOVAEntry* entry = nullptr;
  TRY(doc.SelectEntry(section_id, index, entry));
  text = DataString(*entry);
  return Code::kOk;
}

}  // namespace tova::catalog
