// Replays the fuzz regression corpus (tests/fuzz_regressions/<target>/) through the targets' own functions, without
// libFuzzer: an input that once crashed, tripped a sanitizer or broke a promise must now run clean.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "targets.h"

namespace tova::fuzz {
extern const std::vector<std::pair<const char*, std::vector<uint8_t>>> kRegressionInputs;
}

namespace {

TEST(FuzzRegressions, EverySavedInputRunsCleanThroughItsTarget) {
  using namespace tova::fuzz;
  const std::map<std::string, int (*)(const uint8_t*, size_t)> targets = {
      {"buffer_reader", FuzzBufferReader}, {"file_reader", FuzzFileReader}, {"renderings", FuzzRenderings},
      {"append", FuzzAppend}, {"tiny_records", FuzzTinyRecords}};
  for (const auto& [name, bytes] : kRegressionInputs) {
    SCOPED_TRACE(name);
    const auto target = targets.find(std::string(name).substr(0, std::string(name).find('/')));
    ASSERT_NE(target, targets.end()) << "no fuzz target of that name";
    EXPECT_EQ(target->second(bytes.data(), bytes.size()), 0);
  }
  const uint8_t one = 0xFF;  // the smallest inputs, which no corpus needs to hold
  for (const auto& [name, run] : targets) EXPECT_TRUE(run(nullptr, 0) == 0 && run(&one, 1) == 0) << name;
}

}  // namespace
