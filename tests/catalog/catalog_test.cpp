// The identifier catalogue: names (numbered ranges included), the per-dataset
// mark, agreement with the public header's constants, and the consistency of
// every layout's formats with its fields.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "HOLMDAQTova.h"
#include "catalog/catalog.h"
#include "catalog_test_support.h"
#include "model/tova_entry.h"

namespace tova {
namespace {

using catalog::EntryName;
using catalog_test::Visible;

TEST(CatalogNames, KnownUnknownAndNumbered) {
  struct Case {
    uint16_t id;
    const char16_t* name;
  };
  const Case cases[] = {
      {0x0200, u"TOVA_DH_DREC_DataUnit"},    {0x0300, u"TOVA_IM_Data"},
      {0x0102, u"TOVA_GH_Copyrigth_MBC"},    {0x0400, u"TOVA_DH_USERDATA01"},
      {0x0409, u"TOVA_DH_USERDATA10"},       {0x041F, u"TOVA_DH_USERDATA32"},
      {0x0420, u"TOVA_DH_PRODUCT_NAME_MBC"}, {0x026A, u"TOVA_DH_SCALE_Isotherm01"},
      {0x026E, u"TOVA_DH_SCALE_Isotherm05"}, {0x1110, u"TOVA_GH_INFO_DeviceString_UC"},
      {0x0184, u"TOVA_DH_PARAM_UsageIN1"},   {0x0609, u"TOVA_DH_EMBEDDED_TOVA_PULSEFFT"},
      // Gaps and values outside the catalogue.
      {0x026F, u"??"}, {0x0273, u"??"}, {0x028A, u"??"}, {0x028F, u"??"}, {0x029D, u"??"},
      {0x0000, u"??"}, {0xFFFF, u"??"}, {0x0103, u"??"}, {0x03FF, u"??"}, {0x0428, u"??"},
      {0x0010, u"??"},  // 0x1110 without its flag is not 0x0110
  };
  for (const Case& c : cases) EXPECT_TEXT(EntryName(c.id), c.name) << std::hex << c.id;
}

TEST(CatalogNames, SectionNames) {
  EXPECT_TEXT(catalog::SectionName(0xFF01), u"TOVA_SECT_GlobalHeader");
  EXPECT_TEXT(catalog::SectionName(0xFF02), u"TOVA_SECT_DataHeader");
  EXPECT_TEXT(catalog::SectionName(0xFF10), u"TOVA_SECT_Image");
  EXPECT_TEXT(catalog::SectionName(0xFF03), u"??");
  EXPECT_TEXT(catalog::SectionName(0x0000), u"??");
}

TEST(CatalogNames, CatalogueHolds168Identifiers) {
  size_t count = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id)
    if (catalog::FindRow(static_cast<uint16_t>(id))) ++count;
  EXPECT_EQ(count, 168u);
}

// The 68 identifiers stored with every dataset, as ranges.
TEST(CatalogPerDataset, ExactlyTheMarkedIdentifiers) {
  const std::pair<uint16_t, uint16_t> marked[] = {
      {0x0182, 0x0182}, {0x0231, 0x0233}, {0x0240, 0x0242}, {0x0280, 0x0282}, {0x0286, 0x0289},
      {0x0290, 0x0291}, {0x0293, 0x029C}, {0x029E, 0x029E}, {0x0300, 0x0300}, {0x0400, 0x041F},
      {0x0421, 0x0421}, {0x0423, 0x0427}, {0x0601, 0x0601}, {0x0609, 0x0609}};
  size_t count = 0;
  for (uint32_t id = 0; id <= 0xFFFF; ++id) {
    bool expected = false;
    for (const auto& [first, last] : marked) expected = expected || (id >= first && id <= last);
    EXPECT_EQ(IsPerDatasetId(static_cast<uint16_t>(id)), expected) << std::hex << id;
    if (expected) ++count;
  }
  EXPECT_EQ(count, 68u);
  EXPECT_FALSE(IsPerDatasetId(0x0200));
  EXPECT_FALSE(IsPerDatasetId(0x0210));
}

// Every constant of the public header names the catalogue row of its value,
// and the header names every catalogue identifier.
TEST(CatalogHeader, ConstantsAgreeWithTheTable) {
  struct Constant {
    const char* name;
    unsigned value;
  };
#define X(name) {#name, name},
  const Constant constants[] = {
  X(TOVA_GH_Version_MBC)
  X(TOVA_GH_Origin_MBC)
  X(TOVA_GH_Copyrigth_MBC)
  X(TOVA_GH_INFO_DeviceString_MBC)
  X(TOVA_GH_INFO_SensorX)
  X(TOVA_GH_INFO_SensorY)
  X(TOVA_GH_SWLIC_Section_MBC)
  X(TOVA_DH_PARAM_FRateDivider)
  X(TOVA_DH_PARAM_FPS)
  X(TOVA_DH_PARAM_FixOffsetTempC)
  X(TOVA_DH_PARAM_UsageIN0)
  X(TOVA_DH_PARAM_UsageIN1)
  X(TOVA_DH_PARAM_UsageOUT0)
  X(TOVA_DH_PARAM_UsageOUT1)
  X(TOVA_DH_DREC_DataUnit)
  X(TOVA_DH_DREC_SizeX)
  X(TOVA_DH_DREC_SizeY)
  X(TOVA_DH_TCAL_Version)
  X(TOVA_DH_TCAL_TABLE_U16)
  X(TOVA_DH_TCAL_TABLE_U32)
  X(TOVA_DH_TCAL_LogAppr)
  X(TOVA_DH_TCAL_PlanckAppr)
  X(TOVA_DH_TCAL_String_MBC)
  X(TOVA_DH_TCAL_MultiRange)
  X(TOVA_DH_TCAL_LENS)
  X(TOVA_DH_TCAL_LIMITS)
  X(TOVA_DH_DREC_MaxFrames)
  X(TOVA_DH_DREC_ValidFrames)
  X(TOVA_DH_DREC_TimeStamp)
  X(TOVA_DH_DREC_LineCamLines)
  X(TOVA_DH_PARAM_FixEmissivity)
  X(TOVA_DH_PARAM_FixTransmission)
  X(TOVA_DH_PARAM_FixAmbientTempC)
  X(TOVA_DH_PARAM_Averaging)
  X(TOVA_DH_PARAM_MeasurementRange)
  X(TOVA_DH_PARAM_MultiplexMode)
  X(TOVA_DH_PARAM_SingleTrigger)
  X(TOVA_DH_PARAM_SingleTriggerMM)
  X(TOVA_DH_PARAM_SingleTriggerSignal)
  X(TOVA_DH_PARAM_SequenceTrigger)
  X(TOVA_DH_PARAM_SequenceTriggerSignal)
  X(TOVA_DH_PARAM_StartTrigger)
  X(TOVA_DH_PARAM_PixelRangeXYFilter)
  X(TOVA_DH_PARAM_MedianFilter)
  X(TOVA_DH_PARAM_ObjectSpeedMS)
  X(TOVA_DH_PARAM_ObjectDistanceM)
  X(TOVA_DH_PARAM_MovAveraging)
  X(TOVA_DH_PARAM_PixelCircleFilter)
  X(TOVA_DH_PARAM_ShutterTrigger)
  X(TOVA_DH_PARAM_CorrAmbientTemp)
  X(TOVA_DH_PARAM_CorrTransmission)
  X(TOVA_DH_PARAM_CorrEmissivity)
  X(TOVA_DH_PARAM_DataReadMode)
  X(TOVA_DH_PARAM_PixelValueFilter)
  X(TOVA_DH_PARAM_DiffImageTrigger)
  X(TOVA_DH_PARAM_CorrOffset)
  X(TOVA_DH_PARAM_TempValidity)
  X(TOVA_DH_PARAM_3D)
  X(TOVA_DH_PARAM_PreTriggerFrames)
  X(TOVA_DH_PARAM_IRVISOV)
  X(TOVA_DH_PARAM_MotorFocusPos)
  X(TOVA_DH_PARAM_2DLineMode)
  X(TOVA_DH_SCALE_Unit)
  X(TOVA_DH_SCALE_Low)
  X(TOVA_DH_SCALE_High)
  X(TOVA_DH_SCALE_BarNo)
  X(TOVA_DH_SCALE_NumCol)
  X(TOVA_DH_SCALE_Step)
  X(TOVA_DH_SCALE_BitmapZoomMode2)
  X(TOVA_DH_SCALE_BitmapZoom)
  X(TOVA_DH_SCALE_BackgroundColor)
  X(TOVA_DH_SCALE_NumIsotherms)
  X(TOVA_DH_SCALE_Isotherm01)
  X(TOVA_DH_SCALE_Isotherm02)
  X(TOVA_DH_SCALE_Isotherm03)
  X(TOVA_DH_SCALE_Isotherm04)
  X(TOVA_DH_SCALE_Isotherm05)
  X(TOVA_DH_SCALE_AutoDyn1)
  X(TOVA_DH_SCALE_TextAndBorderColor)
  X(TOVA_DH_SCALE_BitmapDrawMode)
  X(TOVA_DH_NOTKL_Range)
  X(TOVA_DH_SCALE_AppZoomMode)
  X(TOVA_DH_SCALE_AutoDyn2)
  X(TOVA_DH_INFO_FlagTempC)
  X(TOVA_DH_INFO_DetectorTempC)
  X(TOVA_DH_INFO_CameraTempC)
  X(TOVA_DH_INFO_PixelOrientX)
  X(TOVA_DH_INFO_PixelOrientY)
  X(TOVA_DH_INFO_PixelSwapXY)
  X(TOVA_DH_INFO_InternImageNo)
  X(TOVA_DH_INFO_MeasureTimeSpan)
  X(TOVA_DH_INFO_AnalogIN_V)
  X(TOVA_DH_INFO_AnalogIN_V_Unit_MBC)
  X(TOVA_DH_INFO_AnalogIN_TempC)
  X(TOVA_DH_INFO_CalcTransmission)
  X(TOVA_DH_INFO_InternalFrameRate)
  X(TOVA_DH_INFO_DetectorTempOK)
  X(TOVA_DH_INFO_CameraTempOK)
  X(TOVA_DH_INFO_CameraModeOK)
  X(TOVA_DH_INFO_CalcEmissivity)
  X(TOVA_DH_INFO_CalcTransmissionState)
  X(TOVA_DH_INFO_InnerTemp2C)
  X(TOVA_DH_INFO_InnerTemp3C)
  X(TOVA_DH_INFO_CalcEmissivityState)
  X(TOVA_DH_INFO_CalcOffsetC)
  X(TOVA_DH_INFO_CalcOffsetState)
  X(TOVA_DH_INFO_AcquImageNo)
  X(TOVA_IM_Data)
  X(TOVA_DH_QUELMATO_Layout)
  X(TOVA_DH_USERDATA01)
  X(TOVA_DH_USERDATA02)
  X(TOVA_DH_USERDATA03)
  X(TOVA_DH_USERDATA04)
  X(TOVA_DH_USERDATA05)
  X(TOVA_DH_USERDATA06)
  X(TOVA_DH_USERDATA07)
  X(TOVA_DH_USERDATA08)
  X(TOVA_DH_USERDATA09)
  X(TOVA_DH_USERDATA10)
  X(TOVA_DH_USERDATA11)
  X(TOVA_DH_USERDATA12)
  X(TOVA_DH_USERDATA13)
  X(TOVA_DH_USERDATA14)
  X(TOVA_DH_USERDATA15)
  X(TOVA_DH_USERDATA16)
  X(TOVA_DH_USERDATA17)
  X(TOVA_DH_USERDATA18)
  X(TOVA_DH_USERDATA19)
  X(TOVA_DH_USERDATA20)
  X(TOVA_DH_USERDATA21)
  X(TOVA_DH_USERDATA22)
  X(TOVA_DH_USERDATA23)
  X(TOVA_DH_USERDATA24)
  X(TOVA_DH_USERDATA25)
  X(TOVA_DH_USERDATA26)
  X(TOVA_DH_USERDATA27)
  X(TOVA_DH_USERDATA28)
  X(TOVA_DH_USERDATA29)
  X(TOVA_DH_USERDATA30)
  X(TOVA_DH_USERDATA31)
  X(TOVA_DH_USERDATA32)
  X(TOVA_DH_PRODUCT_NAME_MBC)
  X(TOVA_DH_USE4TEACH)
  X(TOVA_DH_PYROMETER_INFOS_MBC)
  X(TOVA_DH_PYROMETER_VALUES)
  X(TOVA_DH_USERDATAPVP)
  X(TOVA_DH_TCAL_RADADC)
  X(TOVA_DH_VOI_AIN)
  X(TOVA_DH_VOI_DIN)
  X(TOVA_DH_ROIDATA_UTF8)
  X(TOVA_DH_VOIDATA_UTF8)
  X(TOVA_DH_TRENDDATA1_UTF8)
  X(TOVA_DH_TRENDDATA2_UTF8)
  X(TOVA_DH_TRENDDATA3_UTF8)
  X(TOVA_DH_TRENDDATA4_UTF8)
  X(TOVA_DH_WINDOW_DERIVATION)
  X(TOVA_DH_EMBEDDED_TOVA_REF)
  X(TOVA_DH_EMBEDDED_TOVA_DIFF)
  X(TOVA_DH_EMBEDDED_VIS_IMAGE)
  X(TOVA_DH_EMBEDDED_VOICE)
  X(TOVA_DH_EMBEDDED_SETTINGS)
  X(TOVA_DH_EMBEDDED_TOVA_FILT)
  X(TOVA_DH_EMBEDDED_TOVA_HIST)
  X(TOVA_DH_EMBEDDED_TOVA_2DLINE)
  X(TOVA_DH_EMBEDDED_TOVA_PULSEFFT)
  X(TOVA_GH_INFO_DeviceString_UC)
  X(TOVA_DH_TCAL_String_UC)
  X(TOVA_DH_PRODUCT_NAME_UC)
  };
#undef X
  std::set<unsigned> values;
  for (const Constant& c : constants) {
    const std::u16string expected(c.name, c.name + std::strlen(c.name));
    EXPECT_TEXT(EntryName(static_cast<uint16_t>(c.value)), expected);
    values.insert(c.value);
  }
  EXPECT_EQ(values.size(), 168u);
  for (uint32_t id = 0; id <= 0xFFFF; ++id)
    if (catalog::FindRow(static_cast<uint16_t>(id))) {
      EXPECT_EQ(values.count(id), 1u) << std::hex << id;
    }
}

// Authoring check of the layouts: every conversion of a format has its field,
// every field its conversion, and names come with their value texts.
int CountConversions(const char16_t* format) {
  int n = 0;
  for (const char16_t* p = format; *p; ++p) {
    if (*p != u'%') continue;
    if (p[1] == u'%') {
      ++p;
      continue;
    }
    ++n;
  }
  return n;
}

TEST(CatalogLayouts, FormatsMatchTheirFields) {
  for (const catalog::CatalogRow& row : catalog::Rows()) {
    const catalog::Rendering& r = row.rendering;
    SCOPED_TRACE(row.name);
    if (r.special) {
      EXPECT_EQ(r.piece_count, 0);
      continue;
    }
    EXPECT_GT(r.piece_count, 0);
    if (r.list_header) {
      EXPECT_EQ(CountConversions(r.list_header), 1);
    }
    // Record fields lie inside their record.
    if (r.record_size) {
      EXPECT_LE(catalog::LayoutExtent(r), r.record_size);
    }
    for (int i = 0; i < r.piece_count; ++i) {
      const catalog::Piece& piece = r.pieces[i];
      ASSERT_NE(piece.format, nullptr);
      int fields = 0;
      while (fields < catalog::kMaxFields && piece.fields[fields].type != catalog::FieldType::kNone) ++fields;
      for (int k = fields; k < catalog::kMaxFields; ++k)
        EXPECT_EQ(piece.fields[k].type, catalog::FieldType::kNone) << "gap in the fields of piece " << i;
      EXPECT_EQ(CountConversions(piece.format), fields) << Visible(std::u16string(piece.format));
      for (int k = 0; k < fields; ++k) {
        if (piece.fields[k].type != catalog::FieldType::kName) continue;
        EXPECT_NE(piece.names, nullptr) << "piece " << i;
        EXPECT_GT(catalog::FieldWidth(piece.fields[0]), 0u) << "a name needs a value at field 0";
      }
    }
  }
}

}  // namespace
}  // namespace tova
