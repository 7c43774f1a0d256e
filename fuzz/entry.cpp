// The libFuzzer entry point of one target; TOVA_FUZZ_TARGET names its function.
#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return tova::fuzz::TOVA_FUZZ_TARGET(data, size);
}
