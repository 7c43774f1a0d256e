// Result codes in test expectations: a Code compares with the public value
// it stands for and prints as that value.
#pragma once

#include <ostream>

#include "model/result.h"

namespace tova {
inline bool operator==(Code code, int32_t value) { return ToInt(code) == value; }
inline std::ostream& operator<<(std::ostream& os, Code code) { return os << ToInt(code); }
}  // namespace tova
