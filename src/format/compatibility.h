// The compatibility check of an append: whether the current dataset of a
// source document may join a target document that holds datasets already.
#pragma once

#include "model/result.h"
#include "model/tova_file.h"

namespace tova::format {

// kOk, kMismatchDevice (data unit, calibration kind or device),
// kMismatchSize (sensor or image size zero or different), kMismatchRange
// (measurement range), or the code of a value that could not be read.
Code CheckCompatibility(CTOVAFile& target, CTOVAFile& source);

}  // namespace tova::format
