// Golden texts of the entry data renderings: one table per family, compared
// as exact UTF-16 (CR and CR LF included).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "catalog_test_support.h"

namespace tova {
namespace {

using catalog_test::Bytes;
using catalog_test::RenderEntry;

struct Golden {
  const char* label;
  uint16_t id;
  std::vector<uint8_t> data;
  std::u16string text;
};

void ExpectAll(const std::vector<Golden>& cases) {
  for (const Golden& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TEXT(RenderEntry(c.id, c.data), c.text);
  }
}

Bytes B() { return Bytes(); }

TEST(RenderSimple, NumbersTextsAndBlocks) {
  ExpectAll({
      {"sensor width", 0x0111, B().U16(640), u"640"},
      {"frame rate divider", 0x0180, B().U16(65535), u"65535"},
      {"acquisition image number is 32 bits", 0x029E, B().U32(70000), u"70000"},
      {"internal image number is 16 bits", 0x0286, B().U32(70000), u"4464"},
      {"pre-trigger frames", 0x025C, B().U16(10), u"10: "},
      {"motor focus position", 0x025E, B().U16(0), u"0: "},
      {"isotherm count 0 is empty", 0x0269, B().U16(0), u""},
      {"isotherm count 3", 0x0269, B().U16(3), u"3"},
      {"emissivity", 0x0240, B().F32(0.95f), u"0.95"},
      {"analog input", 0x0288, B().F32(-1.25f), u"-1.25"},
      {"ambient temperature", 0x0242, B().F32(21.5f), u"21.5 °C"},
      {"flag temperature", 0x0280, B().F32(-3.0f), u"-3.0 °C"},
      {"scale low", 0x0261, B().F32(20.0f), u"20.0"},
      {"frames per second", 0x0181, B().F32(25.0f), u"25.0 Hz"},
      {"internal frame rate", 0x0292, B().F32(50.0f), u"50.0 Hz"},
      {"calculated offset", 0x029B, B().F32(-1.5f), u"-1.50 °C (K)"},
      {"trigger distance", 0x0247, B().F32(12.5f), u"12.5 mm"},
      {"object speed", 0x024E, B().F32(3.0f), u"3.0 m/s"},
      {"object distance", 0x024F, B().F32(1.5f), u"1.500 m"},
      {"moving averaging", 0x0250, B().F32(0.125f), u"0.125"},
      {"circle filter", 0x0251, B().U16(3), u"radius: 3"},
      {"background colour", 0x0268, B().U32(0x00FF8040), u"FF8040"},
      {"text colour", 0x0275, B().U32(0), u"0"},
      {"3D placeholder", 0x025B, B().U32(12345), u"...\r\n..."},
      {"3D placeholder without data", 0x025B, B(), u"...\r\n..."},
      {"IR/VIS placeholder", 0x025D, B(), u"...\r\n..."},
      {"image data", 0x0300, B().Zeros(100), u"<bin: 100 bytes>"},
      {"image without data", 0x0300, B(), u"<bin: 0 bytes>"},
      {"user data 05", 0x0404, B().Zeros(100), u"<bin: 100 bytes>"},
      {"layout", 0x0380, B().Zeros(3), u"<bin: 3 bytes>"},
      {"user data PVP", 0x0424, B().Zeros(7), u"<bin: 7 bytes>"},
      {"embedded visual image", 0x0603, B().Zeros(5000), u"<txt: 5000 bytes>"},
      {"ROI data", 0x0500, B().Text("{}", 2), u"<txt: 2 bytes>"},
      {"embedded pulse FFT", 0x0609, B().Zeros(1), u"<txt: 1 bytes>"},
      {"outside the catalogue", 0x1234, B().U16(7), u"??"},
      {"gap in the catalogue", 0x026F, B().Zeros(16), u"??"},
      {"identifier 0", 0x0000, B(), u"??"},
  });
}

TEST(RenderSimple, NarrowAndUtf16Texts) {
  ExpectAll({
      {"origin with code-page characters", 0x0101, B().Text("Lab \xB0 \x80 \xE9", 9), u"Lab ° € é"},
      {"version ends at NUL", 0x0100, B().Text("1.2", 8), u"1.2"},
      {"text without NUL ends with the data", 0x0110, B().Text("CAMERA", 6), u"CAMERA"},
      {"product name", 0x0420, B().Text("Cam", 4), u"Cam"},
      {"analog unit", 0x0289, B().Text("V", 2), u"V"},
      {"licence section", 0x0120, B(), u""},
      {"device string UTF-16", 0x1110, B().U16(u'D').U16(0xE9).U16(0x20AC).U16(0).U16(u'x'), u"Dé€"},
      {"product name UTF-16, odd last byte", 0x1420, B().U16(u'A').U16(u'B').U8(u'C'), u"AB"},
  });
}

TEST(RenderSimple, CalibrationStringDetectsNarrowBytes) {
  Bytes wide;
  for (char16_t c : std::u16string(u"table 256 U16")) wide.U16(c);
  wide.U16(0);
  ExpectAll({
      {"narrow bytes (first unit 0x6174)", 0x1220, B().Text("table 256 U16", 14), u"table 256 U16"},
      {"narrow bytes without NUL", 0x1220, B().Text("ab", 2), u"ab"},
      {"UTF-16 text (first unit 0x0074)", 0x1220, wide, u"table 256 U16"},
      {"first unit 0x00FF stays UTF-16", 0x1220, B().U16(0x00FF).U16(u'A'), u"\u00FFA"},
      {"first unit 0x0100 is narrow, NUL first", 0x1220, B().U16(0x0100).U16(u'A'), u""},
      {"narrow string form", 0x0220, B().Text("table 256 \xB0", 12), u"table 256 °"},
      {"empty", 0x1220, B().U16(0), u""},
  });
}

TEST(RenderEnumerations, ValueTextsAndUnknownValues) {
  ExpectAll({
      {"data unit", 0x0200, B().U16(2), u"2: S16"},
      {"data unit unknown", 0x0200, B().U16(7), u"7: ??"},
      {"calibration not used", 0x0210, B().U16(65535), u"65535: not used"},
      {"calibration gap", 0x0210, B().U16(5), u"5: ??"},
      {"calibration logarithmic", 0x0210, B().U16(30), u"30: logaritmic approach"},
      {"calibration square", 0x0210, B().U16(10), u"10: square approach"},
      {"usage IN0", 0x0183, B().U32(2), u"2: single trigger"},
      {"usage IN1", 0x0184, B().U32(2), u"2: seuqence trigger"},
      {"usage IN1 unknown", 0x0184, B().U32(3), u"3: ??"},
      {"usage read as 32 bits", 0x0184, B().U16(2).U16(1), u"65538: ??"},
      {"usage OUT0", 0x0185, B().U32(7), u"7: internal zone software, default open"},
      {"usage OUT0 echo", 0x0185, B().U32(5), u"5: echo from IN0"},
      {"usage OUT1", 0x0186, B().U32(1), u"1: image synchronous signal"},
      {"usage OUT1 unknown", 0x0186, B().U32(8), u"8: ??"},
      {"single trigger", 0x0246, B().U16(2), u"2: Edge IN2"},
      {"sequence trigger", 0x0249, B().U16(5), u"5: Edge on threshold without retrigger"},
      {"sequence trigger unknown", 0x0249, B().U16(6), u"6: ??"},
      {"start trigger", 0x024B, B().U16(8), u"8: Start with recorder on PC DIN1"},
      {"start trigger unknown", 0x024B, B().U16(9), u"9: ??"},
      {"shutter trigger", 0x0252, B().U16(1), u"1: Disabel with IN2"},
      {"data read mode", 0x0256, B().U16(1), u"1: Like Camera"},
      {"difference image trigger", 0x0258, B().U16(1), u"1: On"},
      {"scale unit", 0x0260, B().U16(1), u"1: Calculation °C from image"},
      {"scale unit unknown", 0x0260, B().U16(4), u"4: ??"},
      {"zoom mode", 0x0266, B().U16(2), u"2: real zoom with interpolation"},
      {"orientation", 0x0284, B().U16(1), u"1: Inverse"},
      {"swap", 0x0285, B().U16(1), u"1: Swap"},
      {"swap unknown", 0x0285, B().U16(2), u"2: ??"},
      {"transmission state", 0x0297, B().U16(3), u"3: CALC_TRANSM_TOLOWAL"},
      {"emissivity state", 0x029A, B().U16(3), u"3: CALC_EMISS_TOLOWAL"},
      {"offset state 2", 0x029C, B().U16(2), u"2: CALC_OFS_TOHIGH"},
      {"offset state 3 has its own text", 0x029C, B().U16(3), u"3: CALC_OFS_TOLOWAL"},
      {"offset state unknown", 0x029C, B().U16(4), u"4: ??"},
  });
}

TEST(RenderRecording, TimeStampAndLineCamera) {
  ExpectAll({
      {"time stamp 2021-04-06 08:07:05.004, a Tuesday", 0x0232,
       B().U16(2021).U16(4).U16(2).U16(6).U16(8).U16(7).U16(5).U16(4),
       u"Year: 2021\rMonth: 4\rDay: 6\rDayOfWeek: 2\rTime: 8:7:5.4"},
      {"time without padding", 0x0232, B().U16(1999).U16(12).U16(0).U16(31).U16(9).U16(5).U16(3).U16(70),
       u"Year: 1999\rMonth: 12\rDay: 31\rDayOfWeek: 0\rTime: 9:5:3.70"},
      {"line camera", 0x0233, B().U16(1).U16(10).U16(200).U16(50),
       u"Mode: 1: With Norm\rDevice_NumFrames: 10\rDocument_Lines: 200\rNorm_MinLines: 50"},
      {"line camera unknown mode", 0x0233, B().U16(3).U16(0).U16(0).U16(0),
       u"Mode: 3: ??\rDevice_NumFrames: 0\rDocument_Lines: 0\rNorm_MinLines: 0"},
      {"sizes and frames", 0x0231, B().U16(12), u"12"},
  });
}

// The table entries: 6 + 256 lines, the value at offset 20 is TABLE[1].
std::vector<uint8_t> CalibrationTableData(bool wide) {
  Bytes b;
  b.U16(3).U16(0xFFFF).F32(-20.0f).F32(120.0f).F32(-20.0f).F32(2.0f);
  for (uint32_t i = 0; i < 256; ++i) wide ? b.U32(70000 + i) : b.U16(static_cast<uint16_t>(1000 + i));
  b.U16(9).U16(0xFFFF);
  return b;
}

std::u16string CalibrationTableText(bool wide) {
  std::u16string t = u"RANGE_NO: 3\rCAL_MIN_C: -20.0 °C\rCAL_MAX_C: 120.0 °C\rTABLE_START_C: -20.0 °C\rTABLE_STEP: 2 K\r";
  for (uint32_t i = 0; i < 256; ++i) {
    const std::string line = "TABLE[" + std::to_string(i + 1) + "]: " + std::to_string((wide ? 70000 : 1000) + i) + "\r";
    t.append(line.begin(), line.end());
  }
  return t + u"Command: 9";
}

TEST(RenderCalibration, TablesOf256Values) {
  for (bool wide : {false, true}) {
    const std::vector<uint8_t> data = CalibrationTableData(wide);
    ASSERT_EQ(data.size(), wide ? 1048u : 536u);
    const std::u16string text = RenderEntry(wide ? 0x0212 : 0x0211, data);
    EXPECT_TEXT(text, CalibrationTableText(wide));
    EXPECT_EQ(std::count(text.begin(), text.end(), u'\r'), 261) << "262 lines, the last without a line end";
  }
}

TEST(RenderCalibration, Approximations) {
  ExpectAll({
      {"logarithmic", 0x0217, B().U16(1).U16(0).F32(0.0f).F32(100.0f).F32(1.5f).F32(-2.25f).F32(0.125f).U16(3).U16(0),
       u"RANGE_NO: 1\rCAL_MIN_C: 0.0 °C\rCAL_MAX_C: 100.0 °C\rU0: 1.500000\rU1: -2.250000\rC: 0.125000\rCommand: 3"},
      {"Planck", 0x0218,
       B().U16(2).U16(0).F32(-40.0f).F32(150.0f).F32(1.0f).F32(2.0f).F32(3.0f).F32(0.5f).U16(4).U16(0),
       u"RANGE_NO: 2\rCAL_MIN_C: -40.0 °C\rCAL_MAX_C: 150.0 °C\rA: 1.000000\rB: 2.000000\rC: 3.000000\r"
       u"H: 0.500000\rCommand: 4"},
      {"multi range", 0x0221, B().F32(1.0f).F32(0.5f).F32(-0.25f), u"a0: 1.000000\ra1: 0.500000\ra2: -0.250000"},
      {"lens", 0x0222,
       B().U16(2).U16(1).F32(7.5f).F32(14.0f).F32(32.0f).F32(24.0f).F32(1.0f).F32(10.0f).F32(10.0f).U16(500).Zeros(14),
       u"Version: 2\rViewType: 1\rSR: 7.5...14.0 µm\rFOV: 32.0 x 24.0 °\rAperture: 1.0\r"
       u"FocalLength: 10.0...10.0 mm\rMotorFocusStep: 500"},
      {"limits, both lines end in CR", 0x0223, B().F32(-20.0f).F32(120.0f).F32(0.0f).F32(100.0f),
       u"CalcTempRange: -20.0...120.0 °C\rViewTempRange: 0.0...100.0 °C\r"},
      {"radiometric ADC, no colon after ADC", 0x0425, B().U16(1).U16(2).U16(3).U16(4).U16(5),
       u"RADmin: 1\rRADmax: 2\rRADdyn: 3\rADCmin4\rADCmax5"},
  });
}

TEST(RenderAcquisition, TriggerSignalsAndFilters) {
  const Bytes signal = B().U16(2).U16(100).F32(250.4f).F32(0.95f).F32(0.3f).F32(22.6f).U16(1).U16(2).U16(3).U16(4).U16(5).U16(0);
  const std::u16string signal_text =
      u"Mode: 2: Mean > Threshold\rThresholdRelU: 100\rThresholdC: 250\rEps:  1\rTau:  0\rTAmbC: 23 °C\r"
      u"Reserved: 1, 2, 3, 4, 5";
  ExpectAll({
      {"single trigger signal", 0x0248, signal, signal_text},
      {"sequence trigger signal", 0x024A, signal, signal_text},
      {"trigger signal, two blanks after Max", 0x0248, B().U16(4).Zeros(30),
       u"Mode: 4: Max  < Threshold\rThresholdRelU: 0\rThresholdC: 0\rEps:  0\rTau:  0\rTAmbC: 0 °C\r"
       u"Reserved: 0, 0, 0, 0, 0"},
      {"trigger signal unknown mode", 0x024A, B().U16(7).Zeros(30),
       u"Mode: 7: ??\rThresholdRelU: 0\rThresholdC: 0\rEps:  0\rTau:  0\rTAmbC: 0 °C\rReserved: 0, 0, 0, 0, 0"},
      {"pixel range filter", 0x024C, B().U16(3).U16(1).U16(2).U16(3).U16(4).U16(5).U16(6).U16(7),
       u"Mode: 3: \rParam1: 1\rParam2: 2\rParam3: 3\rParam4: 4\rRes1: 5\rRes2: 6\rRes3: 7"},
      {"pixel value filter", 0x0257, B().U16(1).U16(0).U32(100).U32(70000).F32(-10.0f).F32(150.0f),
       u"Mode: 1:\rMinRAD: 100\rMaxRAD: 70000\rMinTempC: -10.0\rMaxTempC: 150.0"},
      {"2D line, second point labelled X1/Y1", 0x025F, B().U16(1).U16(10).U16(20).U16(30).U16(40),
       u"Enable: 1\r\nX1/Y1: 10/20\r\nX1/Y1: 30/40"},
  });
}

TEST(RenderAcquisition, Corrections) {
  ExpectAll({
      {"ambient temperature", 0x0253, B().U16(1).U16(0).F32(2.5f),
       u"1: VDAQ_AMBIENTTEMP_CORRMODE_TCAM\r\nCorrValueC: 2.5 °C (K)"},
      {"transmission mode 5", 0x0254,
       B().U16(5).U16(0).F32(35.0f).F32(0.98f).U16(1).U16(2).U16(3).U16(4).F32(0.5f).F32(0.25f),
       u"5: VDAQ_TRANSMISSION_CORRMODE_REF_FIX_ROI_MAX\r\nFixRefTempC: 35.0 °C\r\nFixRefEps: 0.98\r\n"
       u"PixelRange Y1X1[1,2] Y2X2[3,4]\r\nWeightTime: 0.50\r\nAllowedTau: 0.25\r\n"},
      {"emissivity, no blank before °C", 0x0255, B().U16(4).U16(0).F32(35.0f).F32(0.1f),
       u"4: VDAQ_EMISSIVITY_CORRMODE_REF_FIX_ROI_AV\r\nFixRefTempC: 35.0°C\r\nAllowedEps: 0.10\r\n"},
      {"emissivity unknown mode", 0x0255, B().U16(9).U16(0).F32(35.0f).F32(0.1f),
       u"9: ??\r\nFixRefTempC: 35.0°C\r\nAllowedEps: 0.10\r\n"},
      {"offset mode 5", 0x0259, B().U16(5).U16(0).F32(35.0f).F32(1.5f),
       u"5: VDAQ_OFFSET_CORRMODE_FIX\r\nFixRefTempC: 35.0 °C\r\nAllowedOfsC: 1.5 °C\r\n"},
      {"temperature validity", 0x025A, B().U16(2).U16(0).F32(-20.0f).F32(500.0f),
       u"2: \r\nLimit Low: -20.0 °C\r\nLimit High: 500.0 °C\r\n"},
  });
}

TEST(RenderScale, IsothermsAndAutomaticRange) {
  ExpectAll({
      {"isotherm 03", 0x026C, B().F32(20.0f).F32(30.5f).U32(0x00FF00).U16(50).U16(1),
       u"Min/Max: 20.00 - 30.50\r\nColor: FF00\r\nSaturation: 50\r\nTransparent: 1"},
      {"auto range 1, mode 4", 0x0274, B().U16(4).U16(0).F32(2.5f).F32(1.5f).Zeros(4),
       u"Mode: 4 average +/-\r\nAveragePlus: 2.5 °C\r\nAverageMinus: 1.5 °C"},
      {"auto range 1, unknown mode adds nothing", 0x0274, B().U16(9).U16(0).F32(2.5f).F32(1.5f).Zeros(4),
       u"Mode: 9 \r\nAveragePlus: 2.5 °C\r\nAverageMinus: 1.5 °C"},
      {"auto range 2", 0x0279, B().U16(1).U16(0).F32(3.0f).F32(2.0f).F32(0.5f).F32(0.25f).Zeros(4),
       u"Mode: 1 min/max\r\nAveragePlusFix: 3.0 °C\r\nAverageMinusFix: 2.0 °C\r\n"
       u"AveragePlusDynFac: 0.50\r\nAverageMinusDynFac: 0.25"},
      {"range limits", 0x0277, B().F32(-5.0f).F32(5.0f), u"Minimum: -5.00\rMaximum: 5.00"},
      {"application zoom", 0x0278, B().I32(1).I32(-2).I32(3).I32(4).I32(5).I32(6),
       u"Int[1]: 1\r\nInt[2]: -2\r\nInt[3]: 3\r\nInt[4]: 4\r\nInt[5]: 5\r\nInt[6]: 6\r\n"},
      {"measure time span", 0x0287, B().U16(0).U16(2).U16(30).U16(5),
       u"Days: 0\rHours: 2\rMinutes: 30\rSeconds: 5"},
  });
}

TEST(RenderLists, PyrometersWindowsAndValueLists) {
  ExpectAll({
      {"pyrometer values, incomplete record ignored", 0x0423,
       B().F32(0.95f).F32(25.0f).F32(300.5f).F32(1.0f).F32(26.0f).F32(-10.0f).U16(0xFFFF),
       u"[1] Eps: 0.95\r[1] InnerTempC: 25.0 °C\r[1] MeasTempC: 300.5 °C\r"
       u"[2] Eps: 1.00\r[2] InnerTempC: 26.0 °C\r[2] MeasTempC: -10.0 °C"},
      {"pyrometer values, no record", 0x0423, B().Zeros(11), u""},
      {"pyrometer infos", 0x0422,
       B().Text("Pyro \xB0", 16).Text("SN1234", 8).Text("ABCDEFGHIJKLMNOP", 16).Text("12345678", 8),
       u"[1] Name: Pyro °\r[1] SN: SN1234\r[2] Name: ABCDEFGHIJKLMNOP\r[2] SN: 12345678"},
      {"pyrometer infos, none", 0x0422, B(), u""},
      {"window derivation", 0x0600, B().U16(1).U16(2).U16(3).U16(0x0240).Zeros(32),
       u"[0] No: 1\r[0] Type: 2\r[0] SubType: 3\r[0] DHEntryID: 240"},
      {"window derivations, numbered from 0", 0x0600,
       B().U16(1).U16(2).U16(3).U16(0x0240).Zeros(32).U16(4).U16(5).U16(6).U16(0x029E).Zeros(32),
       u"[0] No: 1\r[0] Type: 2\r[0] SubType: 3\r[0] DHEntryID: 240\r"
       u"[1] No: 4\r[1] Type: 5\r[1] SubType: 6\r[1] DHEntryID: 29E"},
      {"byte values", 0x0427, B().U8(0).U8(1).U8(255), u"<byte: 3 values>\r[1] 0\r[2] 1\r[3] 255"},
      {"byte values, none", 0x0427, B(), u"<byte: 0 values>"},
      {"double values, 12 bytes hold one", 0x0426, B().F64(2.5).U32(7), u"<double: 1 values>\r[1] 2.50"},
      {"double values", 0x0426, B().F64(-0.3).F64(1e3), u"<double: 2 values>\r[1] -0.30\r[2] 1000.00"},
      {"double values, none", 0x0426, B().Zeros(7), u"<double: 0 values>"},
  });
}

}  // namespace
}  // namespace tova
