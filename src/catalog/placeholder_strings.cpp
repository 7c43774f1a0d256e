// Placeholder until the catalogue lands.
#include "model/tova_entry.h"
#include "model/tova_section.h"
#include "platform/text.h"

namespace tova {

bool IsPerDatasetId(uint16_t id) {
  if (id == 0x0182 || id == 0x0290 || id == 0x0291 || id == 0x029E || id == 0x0300 || id == 0x0421 ||
      id == 0x0601 || id == 0x0609)
    return true;
  if ((id >= 0x0231 && id <= 0x0233) || (id >= 0x0240 && id <= 0x0242) || (id >= 0x0280 && id <= 0x0282) ||
      (id >= 0x0286 && id <= 0x0289) || (id >= 0x0293 && id <= 0x029C) || (id >= 0x0400 && id <= 0x041F) ||
      (id >= 0x0423 && id <= 0x0427))
    return true;
  return false;
}

std::u16string CTOVAEntry::GetEntryString() const {
  return platform::FormatU16("%X (%u bytes)", id_, record_length_);
}
void CTOVAEntry::GetDataString(std::u16string& text) const { text = u"??"; }
std::u16string CTOVASection::GetSectionString(bool later) const {
  return platform::FormatU16("%X (%u bytes)", section_id_, static_cast<unsigned>(GetSectionSize(later)));
}

}  // namespace tova
