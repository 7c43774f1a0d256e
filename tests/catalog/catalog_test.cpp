// The identifier catalogue: names, the per-dataset mark, agreement with the
// public header's constants, and the consistency of every layout's formats
// with its fields.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"
#include "catalog/catalog.h"
#include "catalog_test_support.h"

namespace tova {
namespace {

using catalog::EntryName;

// Every constant of the public header names the catalogue row of its value,
// the header names every catalogue identifier (168 of them), and every other
// identifier is named, and renders, "??".
TEST(Catalog, HeaderConstantsAgreeWithTheTable) {
  struct Constant {
    const char* name;
    unsigned value;
  };
#define X(name) {#name, TOVA_##name},
  // clang-format off
  const Constant constants[] = {
      X(GH_Version_MBC) X(GH_Origin_MBC) X(GH_Copyrigth_MBC) X(GH_INFO_DeviceString_MBC) X(GH_INFO_SensorX)
      X(GH_INFO_SensorY) X(GH_SWLIC_Section_MBC) X(DH_PARAM_FRateDivider) X(DH_PARAM_FPS) X(DH_PARAM_FixOffsetTempC)
      X(DH_PARAM_UsageIN0) X(DH_PARAM_UsageIN1) X(DH_PARAM_UsageOUT0) X(DH_PARAM_UsageOUT1) X(DH_DREC_DataUnit)
      X(DH_DREC_SizeX) X(DH_DREC_SizeY) X(DH_TCAL_Version) X(DH_TCAL_TABLE_U16) X(DH_TCAL_TABLE_U32)
      X(DH_TCAL_LogAppr) X(DH_TCAL_PlanckAppr) X(DH_TCAL_String_MBC) X(DH_TCAL_MultiRange) X(DH_TCAL_LENS)
      X(DH_TCAL_LIMITS) X(DH_DREC_MaxFrames) X(DH_DREC_ValidFrames) X(DH_DREC_TimeStamp) X(DH_DREC_LineCamLines)
      X(DH_PARAM_FixEmissivity) X(DH_PARAM_FixTransmission) X(DH_PARAM_FixAmbientTempC) X(DH_PARAM_Averaging)
      X(DH_PARAM_MeasurementRange) X(DH_PARAM_MultiplexMode) X(DH_PARAM_SingleTrigger) X(DH_PARAM_SingleTriggerMM)
      X(DH_PARAM_SingleTriggerSignal) X(DH_PARAM_SequenceTrigger) X(DH_PARAM_SequenceTriggerSignal)
      X(DH_PARAM_StartTrigger) X(DH_PARAM_PixelRangeXYFilter) X(DH_PARAM_MedianFilter) X(DH_PARAM_ObjectSpeedMS)
      X(DH_PARAM_ObjectDistanceM) X(DH_PARAM_MovAveraging) X(DH_PARAM_PixelCircleFilter) X(DH_PARAM_ShutterTrigger)
      X(DH_PARAM_CorrAmbientTemp) X(DH_PARAM_CorrTransmission) X(DH_PARAM_CorrEmissivity) X(DH_PARAM_DataReadMode)
      X(DH_PARAM_PixelValueFilter) X(DH_PARAM_DiffImageTrigger) X(DH_PARAM_CorrOffset) X(DH_PARAM_TempValidity)
      X(DH_PARAM_3D) X(DH_PARAM_PreTriggerFrames) X(DH_PARAM_IRVISOV) X(DH_PARAM_MotorFocusPos) X(DH_PARAM_2DLineMode)
      X(DH_SCALE_Unit) X(DH_SCALE_Low) X(DH_SCALE_High) X(DH_SCALE_BarNo) X(DH_SCALE_NumCol) X(DH_SCALE_Step)
      X(DH_SCALE_BitmapZoomMode2) X(DH_SCALE_BitmapZoom) X(DH_SCALE_BackgroundColor) X(DH_SCALE_NumIsotherms)
      X(DH_SCALE_Isotherm01) X(DH_SCALE_Isotherm02) X(DH_SCALE_Isotherm03) X(DH_SCALE_Isotherm04)
      X(DH_SCALE_Isotherm05) X(DH_SCALE_AutoDyn1) X(DH_SCALE_TextAndBorderColor) X(DH_SCALE_BitmapDrawMode)
      X(DH_NOTKL_Range) X(DH_SCALE_AppZoomMode) X(DH_SCALE_AutoDyn2) X(DH_INFO_FlagTempC) X(DH_INFO_DetectorTempC)
      X(DH_INFO_CameraTempC) X(DH_INFO_PixelOrientX) X(DH_INFO_PixelOrientY) X(DH_INFO_PixelSwapXY)
      X(DH_INFO_InternImageNo) X(DH_INFO_MeasureTimeSpan) X(DH_INFO_AnalogIN_V) X(DH_INFO_AnalogIN_V_Unit_MBC)
      X(DH_INFO_AnalogIN_TempC) X(DH_INFO_CalcTransmission) X(DH_INFO_InternalFrameRate) X(DH_INFO_DetectorTempOK)
      X(DH_INFO_CameraTempOK) X(DH_INFO_CameraModeOK) X(DH_INFO_CalcEmissivity) X(DH_INFO_CalcTransmissionState)
      X(DH_INFO_InnerTemp2C) X(DH_INFO_InnerTemp3C) X(DH_INFO_CalcEmissivityState) X(DH_INFO_CalcOffsetC)
      X(DH_INFO_CalcOffsetState) X(DH_INFO_AcquImageNo) X(IM_Data) X(DH_QUELMATO_Layout) X(DH_USERDATA01)
      X(DH_USERDATA02) X(DH_USERDATA03) X(DH_USERDATA04) X(DH_USERDATA05) X(DH_USERDATA06) X(DH_USERDATA07)
      X(DH_USERDATA08) X(DH_USERDATA09) X(DH_USERDATA10) X(DH_USERDATA11) X(DH_USERDATA12) X(DH_USERDATA13)
      X(DH_USERDATA14) X(DH_USERDATA15) X(DH_USERDATA16) X(DH_USERDATA17) X(DH_USERDATA18) X(DH_USERDATA19)
      X(DH_USERDATA20) X(DH_USERDATA21) X(DH_USERDATA22) X(DH_USERDATA23) X(DH_USERDATA24) X(DH_USERDATA25)
      X(DH_USERDATA26) X(DH_USERDATA27) X(DH_USERDATA28) X(DH_USERDATA29) X(DH_USERDATA30) X(DH_USERDATA31)
      X(DH_USERDATA32) X(DH_PRODUCT_NAME_MBC) X(DH_USE4TEACH) X(DH_PYROMETER_INFOS_MBC) X(DH_PYROMETER_VALUES)
      X(DH_USERDATAPVP) X(DH_TCAL_RADADC) X(DH_VOI_AIN) X(DH_VOI_DIN) X(DH_ROIDATA_UTF8) X(DH_VOIDATA_UTF8)
      X(DH_TRENDDATA1_UTF8) X(DH_TRENDDATA2_UTF8) X(DH_TRENDDATA3_UTF8) X(DH_TRENDDATA4_UTF8) X(DH_WINDOW_DERIVATION)
      X(DH_EMBEDDED_TOVA_REF) X(DH_EMBEDDED_TOVA_DIFF) X(DH_EMBEDDED_VIS_IMAGE) X(DH_EMBEDDED_VOICE)
      X(DH_EMBEDDED_SETTINGS) X(DH_EMBEDDED_TOVA_FILT) X(DH_EMBEDDED_TOVA_HIST) X(DH_EMBEDDED_TOVA_2DLINE)
      X(DH_EMBEDDED_TOVA_PULSEFFT) X(GH_INFO_DeviceString_UC) X(DH_TCAL_String_UC) X(DH_PRODUCT_NAME_UC)
  };
  // clang-format on
#undef X
  std::set<unsigned> values;
  for (const Constant& c : constants) {
    const std::string name = std::string("TOVA_") + c.name;
    EXPECT_TEXT(EntryName(static_cast<uint16_t>(c.value)), std::u16string(name.begin(), name.end()));
    values.insert(c.value);
  }
  EXPECT_EQ(values.size(), 168u);
  const std::vector<uint8_t> zeros(64, 0);
  for (uint32_t i = 0; i <= 0xFFFF; ++i) {
    const auto id = static_cast<uint16_t>(i);
    if (catalog::FindRow(id))
      EXPECT_EQ(values.count(id), 1u) << std::hex << id;
    else
      ASSERT_TRUE(EntryName(id) == u"??" && catalog_test::RenderEntry(id, zeros) == u"??") << std::hex << id;
  }
}

// The 68 identifiers stored with every dataset, as ranges.
TEST(Catalog, ExactlyTheMarkedIdentifiersArePerDataset) {
  const std::pair<uint16_t, uint16_t> marked[] = {
      {0x0182, 0x0182}, {0x0231, 0x0233}, {0x0240, 0x0242}, {0x0280, 0x0282}, {0x0286, 0x0289},
      {0x0290, 0x0291}, {0x0293, 0x029C}, {0x029E, 0x029E}, {0x0300, 0x0300}, {0x0400, 0x041F},
      {0x0421, 0x0421}, {0x0423, 0x0427}, {0x0601, 0x0601}, {0x0609, 0x0609}};
  size_t count = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    bool expected = false;
    for (const auto& [first, last] : marked) expected = expected || (id >= first && id <= last);
    EXPECT_EQ(catalog::Rules().IsPerDataset(static_cast<uint16_t>(id)), expected) << std::hex << id;
    count += expected;
  }
  EXPECT_EQ(count, 68u);
}

// Authoring check of the layouts: every conversion of a format has its field
// and every field its conversion, and a name comes with its value texts.
TEST(Catalog, LayoutFormatsMatchTheirFields) {
  for (const catalog::CatalogRow& row : catalog::Rows()) {
    const catalog::Rendering& r = row.rendering;
    SCOPED_TRACE(row.name);
    EXPECT_EQ(r.special != nullptr, r.piece_count == 0);
    if (r.record_size) EXPECT_LE(catalog::LayoutExtent(r), r.record_size);
    for (int i = 0; i < r.piece_count; ++i) {
      const catalog::Piece& piece = r.pieces[i];
      int conversions = 0, fields = 0;
      for (const char16_t* p = piece.format; *p; ++p)
        if (*p == u'%' && *++p != u'%') ++conversions;  // "%%" is a literal percent sign
      while (fields < catalog::kMaxFields && piece.fields[fields].type != catalog::FieldType::kNone) ++fields;
      EXPECT_EQ(conversions, fields) << catalog_test::Visible(piece.format);
      for (int k = 0; k < catalog::kMaxFields; ++k) {
        if (k >= fields) EXPECT_EQ(piece.fields[k].type, catalog::FieldType::kNone) << "gap in piece " << i;
        if (piece.fields[k].type == catalog::FieldType::kName)
          EXPECT_TRUE(piece.names && catalog::FieldWidth(piece.fields[0]) > 0) << "piece " << i;
      }
    }
  }
}

}  // namespace
}  // namespace tova
