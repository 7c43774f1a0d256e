// Replays the fuzz regression corpus (tests/fuzz_regressions/<target>/) through
// the targets' own functions, without libFuzzer: an input that once crashed,
// tripped a sanitizer or broke a promise must now run clean.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "targets.h"

namespace tova::fuzz {
extern const std::vector<std::pair<const char*, std::vector<uint8_t>>> kRegressionInputs;
}

namespace {

using Target = int (*)(const uint8_t*, size_t);

const std::pair<const char*, Target> kTargets[] = {
    {"buffer_reader", tova::fuzz::FuzzBufferReader}, {"file_reader", tova::fuzz::FuzzFileReader},
    {"renderings", tova::fuzz::FuzzRenderings},      {"append", tova::fuzz::FuzzAppend},
    {"tiny_records", tova::fuzz::FuzzTinyRecords},
};

TEST(FuzzRegressions, EverySavedInputRunsCleanThroughItsTarget) {
  for (const auto& [name, bytes] : tova::fuzz::kRegressionInputs) {
    SCOPED_TRACE(name);
    const std::string target = std::string(name).substr(0, std::strcspn(name, "/"));
    Target run = nullptr;
    for (const auto& [t, f] : kTargets)
      if (target == t) run = f;
    ASSERT_NE(run, nullptr) << "no fuzz target named " << target;
    EXPECT_EQ(run(bytes.data(), bytes.size()), 0);
  }
  // The smallest inputs, which no corpus needs to hold.
  const uint8_t one = 0xFF;
  for (const auto& [t, f] : kTargets) {
    EXPECT_EQ(f(nullptr, 0), 0) << t;
    EXPECT_EQ(f(&one, 1), 0) << t;
  }
}

}  // namespace
