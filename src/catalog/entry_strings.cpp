// The one-line descriptions of entries and sections, and the rendering of an
// entry's data by its catalogue row.
#include "catalog/catalog.h"
#include "catalog/render_engine.h"
#include "model/tova_entry.h"
#include "model/tova_section.h"
#include "platform/text.h"

namespace tova {

std::u16string CTOVAEntry::GetEntryString() const {
  return platform::FormatU16("%s <%X> (%u bytes)", catalog::EntryName(id_).c_str(), static_cast<unsigned>(id_),
                             static_cast<unsigned>(record_length_));
}

// The size is shown in full: a memory document's section may exceed 32 bits.
std::u16string CTOVASection::GetSectionString(bool later_dataset) const {
  return platform::FormatU16("%s <%X> (%llu bytes)", catalog::SectionName(section_id_),
                             static_cast<unsigned>(section_id_),
                             static_cast<unsigned long long>(GetSectionSize(later_dataset ? 1 : 0)));
}

// Identifiers outside the catalogue render as "??". Only the bytes the entry
// holds are read.
void CTOVAEntry::GetDataString(std::u16string& text) const {
  text.clear();
  const catalog::CatalogRow* row = catalog::FindRow(id_);
  if (!row) {
    text = u"??";
    return;
  }
  catalog::Render(row->rendering, Data(), HasData() ? DataSize() : 0, text);
}

}  // namespace tova
