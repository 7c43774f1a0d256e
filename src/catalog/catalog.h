// The catalogue of entry identifiers: for each known identifier its name, its
// per-dataset and first-wins marks and the rendering of its data, in one
// table; and the names of the three section identifiers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "catalog/render_engine.h"
#include "model/identifier_rules.h"

namespace tova::catalog {

struct CatalogRow {
  uint16_t id;       // the identifier, or the first of a numbered range
  uint16_t last_id;  // equal to id, or the last of a numbered range
  const char* name;  // the name, or the base text of a numbered range's names
  bool per_dataset;  // stored again with every dataset
  bool first_wins;   // per dataset, and the first of repeated entries in a data header wins
  Rendering rendering;
};

// The rows in ascending identifier order; the ranges do not overlap.
std::span<const CatalogRow> Rows();

// The row that holds id, or null for an identifier outside the catalogue.
const CatalogRow* FindRow(uint16_t id);

// The name of an entry identifier: the row's name, the base text and "%.2u" of
// the number within a numbered range (from 1), "??" outside the catalogue.
std::u16string EntryName(uint16_t id);

// The rules the document model takes from this table (per-dataset and
// first-wins marks); every document is made with them.
const IdentifierRules& Rules();

// "TOVA_SECT_GlobalHeader", "TOVA_SECT_DataHeader", "TOVA_SECT_Image" or "??".
const char16_t* SectionName(uint16_t section_id);

}  // namespace tova::catalog
