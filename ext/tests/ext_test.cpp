// tova_ext on memory documents: renderings, degrees Celsius through a known table, and frame time stamps.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "tova_ext.h"

namespace {

void Set(uint64_t h, uint16_t section, uint16_t id, const std::vector<uint16_t>& values) {
  ASSERT_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, section, id, static_cast<uint32_t>(2 * values.size()), values.data()));
}

// A memory document of 2 x 2 U16 pixels; with a table when `table`: value i is 1000 + 10 i at -50 + i degrees.
uint64_t MakeDocument(bool table, const std::vector<uint16_t>& pixels) {
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  for (uint16_t id : {TOVA_GH_INFO_SensorX, TOVA_GH_INFO_SensorY}) Set(h, TOVA_SECT_GlobalHeader, id, {2});
  for (uint16_t id : {TOVA_DH_DREC_SizeX, TOVA_DH_DREC_SizeY}) Set(h, TOVA_SECT_DataHeader, id, {2});
  Set(h, TOVA_SECT_Image, TOVA_IM_Data, pixels);
  if (table) {
    std::vector<uint16_t> t(536 / 2, 0);
    const float start_step[2] = {-50.0f, 1.0f};
    std::memcpy(&t[6], start_step, sizeof start_step);
    for (int i = 0; i < 256; ++i) t[10 + i] = static_cast<uint16_t>(1000 + 10 * i);
    Set(h, TOVA_SECT_DataHeader, TOVA_DH_TCAL_TABLE_U16, t);
  }
  return h;
}

// A text through the sizing protocol: the size asked for, nothing written into a buffer one byte short, then the
// text with its terminating zero.
std::string Text(int32_t (*call)(uint64_t, uint16_t, uint32_t, char*, uint32_t, uint32_t*), uint64_t h, uint32_t i) {
  uint32_t needed = 0;
  EXPECT_EQ(TOVAEXT_ERR_BUFFER_TOO_SMALL, call(h, TOVA_SECT_DataHeader, i, nullptr, 0, &needed));
  std::string text(needed, '\x7f');
  EXPECT_EQ(TOVAEXT_ERR_BUFFER_TOO_SMALL, call(h, TOVA_SECT_DataHeader, i, text.data(), needed - 1, &needed));
  EXPECT_EQ(text[0], '\x7f');
  EXPECT_TRUE(call(h, TOVA_SECT_DataHeader, i, text.data(), needed, &needed) == TOVA_OK && text.back() == '\0');
  return text.substr(0, needed - 1);
}

TEST(TovaExt, RenderingsOfEveryEntryAndUtf8) {
  const uint64_t h = MakeDocument(false, {1, 2, 3, 4});
  const float offset = 1.5f;  // rendered with a degree sign
  ASSERT_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_PARAM_FixOffsetTempC, 4, &offset));
  uint32_t count = 0, needed = 0;
  ASSERT_EQ(TOVA_OK, TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_DataHeader, &count));
  std::string all;
  for (uint32_t i = 0; i < count; ++i)
    all += Text(tovaext_entry_string, h, i) + " = " + Text(tovaext_data_string, h, i) + "\n";
  EXPECT_NE(all.find("] TOVA_DH_DREC_SizeX <201> (8 bytes) = 2\n"), std::string::npos) << all;
  EXPECT_NE(all.find(" = 1.5 \xC2\xB0" "C\n"), std::string::npos) << all;
  // A surrogate pair, an unpaired surrogate, and a two-byte character.
  const uint16_t utf16[] = {0xD83D, 0xDE00, 0xDC00, 0x00B0};
  char text[16];
  ASSERT_EQ(TOVA_OK, tovaext_utf16_to_utf8(utf16, 4, text, sizeof text, &needed));
  EXPECT_STREQ("\xF0\x9F\x98\x80\xEF\xBF\xBD\xC2\xB0", text);
  TOVADLL_CLOSE_FILE(h);
}

TEST(TovaExt, CelsiusThroughTheCalibrationTable) {
  // A table point, half way between two points, the last point, and both ends extended along their end segments.
  const uint64_t h = MakeDocument(true, {1000, 1005, 3550, 3560}), plain = MakeDocument(false, {1, 2, 3, 4});
  int32_t available = 0;
  EXPECT_TRUE(tovaext_celsius_available(h, &available) == TOVA_OK && available == 1);
  float frame[4];
  EXPECT_EQ(TOVAEXT_ERR_BUFFER_TOO_SMALL, tovaext_frame_celsius(h, 0, frame, 3));
  ASSERT_EQ(TOVA_OK, tovaext_frame_celsius(h, 0, frame, 4));
  EXPECT_EQ(std::vector<float>(frame, frame + 4), (std::vector<float>{-50.0f, -49.5f, 205.0f, 206.0f}));
  double raw[2] = {990, 1234.5}, celsius[2];
  ASSERT_EQ(TOVA_OK, tovaext_raw_to_celsius(h, raw, celsius, 2));
  EXPECT_NEAR(celsius[0], -51.0, 1e-9);
  EXPECT_NEAR(celsius[1], -26.55, 1e-9);
  EXPECT_TRUE(tovaext_celsius_available(plain, &available) == TOVA_OK && available == 0);
  EXPECT_EQ(TOVAEXT_ERR_NO_CALIBRATION, tovaext_frame_celsius(plain, 0, frame, 4));
  TOVADLL_CLOSE_FILE(h);
  TOVADLL_CLOSE_FILE(plain);
}

TEST(TovaExt, TimesOfAllFrames) {
  const uint64_t target = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  const uint64_t source = MakeDocument(false, {1, 2, 3, 4});
  // 2024-05-17 10:07:01.960, the same 40 ms later, a month 13, and a frame without a stamp of its own.
  for (const std::vector<uint16_t>& stamp : {std::vector<uint16_t>{2024, 5, 5, 17, 10, 7, 1, 960},
                                             {2024, 5, 5, 17, 10, 7, 2, 0}, {2024, 13, 0, 1, 0, 0, 0, 0}, {}}) {
    if (stamp.empty()) ASSERT_EQ(TOVA_OK, TOVADLL_REMOVE_ENTRY(source, TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp));
    else Set(source, TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp, stamp);
    ASSERT_EQ(TOVA_OK, TOVADLL_ADD_TOVA(target, source, 0));
  }
  ASSERT_EQ(TOVA_OK, TOVADLL_SET_CURDATASET(target, 1));
  int64_t ms[4];
  uint32_t written = 0, current = 0;
  EXPECT_TRUE(tovaext_frame_times(target, ms, 3, &written) == TOVAEXT_ERR_BUFFER_TOO_SMALL && written == 4);
  ASSERT_EQ(TOVA_OK, tovaext_frame_times(target, ms, 4, &written));
  EXPECT_EQ(std::vector<int64_t>(ms, ms + 4),
            (std::vector<int64_t>{1715940421960, 1715940422000, INT64_MIN, INT64_MIN}));
  EXPECT_TRUE(TOVADLL_GET_CURDATASET(target, &current) == TOVA_OK && current == 1) << "the current frame stays";
  TOVADLL_CLOSE_FILE(source);
  TOVADLL_CLOSE_FILE(target);
}

}  // namespace
