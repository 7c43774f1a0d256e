// The texts the catalogue makes of model objects: the one-line description of
// a section and of an entry, and the rendering of an entry's data; and the
// three text operations of a document built on them.
#pragma once

#include <cstdint>
#include <string>

#include "model/result.h"
#include "model/tova_file.h"

namespace tova::catalog {

// "TOVA_SECT_DataHeader <FF02> (123 bytes)": the size counts only the
// per-dataset entries in a later dataset.
std::u16string SectionString(const CTOVASection& section, EntryScope scope);
// "TOVA_DH_DREC_SizeX <201> (8 bytes)".
std::u16string EntryString(const CTOVAEntry& entry);
// The entry's data as labelled text; "??" outside the catalogue.
std::u16string DataString(const CTOVAEntry& entry);

// The texts of the current dataset's section and of its entry at index
// ("[n] " before an entry string). text is emptied first; kOk or the lookup's
// code.
Code CopySectionString(CTOVAFile& doc, uint16_t section_id, std::u16string& text);
Code CopyEntryString(CTOVAFile& doc, uint16_t section_id, uint32_t index, std::u16string& text);
Code CopyDataString(CTOVAFile& doc, uint16_t section_id, uint32_t index, std::u16string& text);

}  // namespace tova::catalog
