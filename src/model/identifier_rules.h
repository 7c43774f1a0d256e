// The two facts about an entry identifier that the document model acts on.
// The catalogue's one identifier table answers them; the model is handed that
// answer when a document is made, so it needs nothing above it.
#pragma once

#include <cstdint>

namespace tova {

class IdentifierRules {
 public:
  // Entries of these identifiers are stored again with every dataset.
  virtual bool IsPerDataset(uint16_t id) const = 0;
  // In a data header being parsed, the first occurrence of these identifiers
  // wins over later ones.
  virtual bool IsFirstWins(uint16_t id) const = 0;

 protected:
  ~IdentifierRules() = default;
};

}  // namespace tova
