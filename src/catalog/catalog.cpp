// The catalogue of entry identifiers: one table that gives, per identifier, its
// name, its per-dataset mark and the layout of its data with the text each
// field produces. Everything the library knows about an identifier is its row
// here (and, for enumerations, the value texts defined above the table).
//
// Text conventions of the renderings: \r is CR alone, \r\n is CR LF; a line
// ends only where its format says so. "%1.f" and "%2.f" have precision 0.
#include "catalog/catalog.h"

#include <algorithm>

#include "HOLMDAQTova.h"

#include "catalog/text_renderings.h"
#include "platform/text.h"

namespace tova::catalog {

namespace {

// ---- texts of enumerated values ---------------------------------------------

// Recording and calibration.
constexpr NamedValue kDataUnit[] = {{0, u"U16"}, {1, u"U32"}, {2, u"S16"}, {3, u"FLT"}};
constexpr NamedValue kLineCamMode[] = {{0, u"Standard"}, {1, u"With Norm"}, {2, u"Scrolling"}};
constexpr NamedValue kCalibrationKind[] = {
    {0, u"table 256 U16"},      {1, u"table 256 U32"},        {2, u"table 256 S16"},
    {3, u"table 256 FLT"},      {10, u"square approach"},     {20, u"exponential approach"},
    {30, u"logaritmic approach"}, {65535, u"not used"}};

// Use of the camera's inputs and outputs.
constexpr NamedValue kUsageIn0[] = {{0, u"not available"}, {1, u"disable shutter"}, {2, u"single trigger"}};
constexpr NamedValue kUsageIn1[] = {{0, u"not available"}, {1, u"disable shutter"}, {2, u"seuqence trigger"}};
constexpr NamedValue kUsageOut0[] = {
    {0, u"not available"}, {1, u"error channel"}, {2, u"shutter state"},
    {3, u"software, default closed"}, {4, u"software, default open"}, {5, u"echo from IN0"},
    {6, u"internal zone software, default closed"}, {7, u"internal zone software, default open"}};
constexpr NamedValue kUsageOut1[] = {
    {0, u"not available"}, {1, u"image synchronous signal"}, {2, u"shutter state"},
    {3, u"software, default closed"}, {4, u"software, default open"}, {5, u"echo from IN1"},
    {6, u"internal zone software, default closed"}, {7, u"internal zone software, default open"}};

// Triggers.
constexpr NamedValue kSingleTrigger[] = {{0, u"No"}, {1, u"Level IN2"}, {2, u"Edge IN2"}};
constexpr NamedValue kSequenceTrigger[] = {
    {0, u"No"}, {1, u"Level IN3"}, {2, u"Edge IN3 with re-trigger"}, {3, u"Level on threshold"},
    {4, u"Edge on threshold with retrigger"}, {5, u"Edge on threshold without retrigger"}};
constexpr NamedValue kStartTrigger[] = {
    {0, u"No"},
    {1, u"Start on camera IN3"}, {2, u"Start with recorder on camera IN3"},
    {3, u"Start on PC DIN0"},    {4, u"Start with recorder on PC DIN0"},
    {5, u"Start on camera IN2"}, {6, u"Start with recorder on camera IN2"},
    {7, u"Start on PC DIN1"},    {8, u"Start with recorder on PC DIN1"}};
constexpr NamedValue kTriggerSignalMode[] = {
    {0, u"No"}, {1, u"Max  > Threshold"}, {2, u"Mean > Threshold"}, {3, u"Min  > Threshold"},
    {4, u"Max  < Threshold"}, {5, u"Mean < Threshold"}, {6, u"Min  < Threshold"}};
constexpr NamedValue kShutterTrigger[] = {{0, u"No (auto mode)"}, {1, u"Disabel with IN2"}, {2, u"Disabel with IN3"}};
constexpr NamedValue kDataReadMode[] = {{0, u"Like Detector"}, {1, u"Like Camera"}};
constexpr NamedValue kOffOn[] = {{0, u"Off"}, {1, u"On"}};

// Corrections (each table numbered on its own).
constexpr NamedValue kAmbientTempCorr[] = {
    {0, u"VDAQ_AMBIENTTEMP_CORRMODE_FIX"}, {1, u"VDAQ_AMBIENTTEMP_CORRMODE_TCAM"},
    {2, u"VDAQ_AMBIENTTEMP_CORRMODE_REF_ROI_MAX"}, {3, u"VDAQ_AMBIENTTEMP_CORRMODE_REF_ROI_AV"},
    {4, u"VDAQ_AMBIENTTEMP_CORRMODE_REF_IO"}};
constexpr NamedValue kTransmissionCorr[] = {
    {0, u"VDAQ_TRANSMISSION_CORRMODE_FIX"},
    {1, u"VDAQ_TRANSMISSION_CORRMODE_REF_BB_ROI_MAX"}, {2, u"VDAQ_TRANSMISSION_CORRMODE_REF_BB_ROI_AV"},
    {3, u"VDAQ_TRANSMISSION_CORRMODE_REF_IO_ROI_MAX"}, {4, u"VDAQ_TRANSMISSION_CORRMODE_REF_IO_ROI_AV"},
    {5, u"VDAQ_TRANSMISSION_CORRMODE_REF_FIX_ROI_MAX"}, {6, u"VDAQ_TRANSMISSION_CORRMODE_REF_FIX_ROI_AV"}};
constexpr NamedValue kEmissivityCorr[] = {
    {0, u"VDAQ_EMISSIVITY_CORRMODE_FIX"},
    {1, u"VDAQ_EMISSIVITY_CORRMODE_REF_IO_ROI_MAX"}, {2, u"VDAQ_EMISSIVITY_CORRMODE_REF_IO_ROI_AV"},
    {3, u"VDAQ_EMISSIVITY_CORRMODE_REF_FIX_ROI_MAX"}, {4, u"VDAQ_EMISSIVITY_CORRMODE_REF_FIX_ROI_AV"}};
constexpr NamedValue kOffsetCorr[] = {
    {0, u"VDAQ_OFFSET_CORRMODE_OFF"},
    {1, u"VDAQ_OFFSET_CORRMODE_REF_IO_ROI_MAX"}, {2, u"VDAQ_OFFSET_CORRMODE_REF_IO_ROI_AV"},
    {3, u"VDAQ_OFFSET_CORRMODE_REF_FIX_ROI_MAX"}, {4, u"VDAQ_OFFSET_CORRMODE_REF_FIX_ROI_AV"},
    {5, u"VDAQ_OFFSET_CORRMODE_FIX"}};

// Scale.
constexpr NamedValue kScaleUnit[] = {
    {0, u"From image"}, {1, u"Calculation °C from image"}, {2, u"Calculation K from image"},
    {3, u"Calculation °F from image"}};
constexpr NamedValue kZoomMode[] = {{0, u"direct 1:1"}, {1, u"integer zoom"}, {2, u"real zoom with interpolation"}};
constexpr NamedValue kAutoRangeMode[] = {
    {0, u"no"}, {1, u"min/max"}, {2, u"max"}, {3, u"min"}, {4, u"average +/-"}};

// Information reported with the image.
constexpr NamedValue kPixelOrient[] = {{0, u"Normal"}, {1, u"Inverse"}};
constexpr NamedValue kPixelSwap[] = {{0, u"No swap"}, {1, u"Swap"}};
constexpr NamedValue kTransmissionState[] = {
    {0, u"CALC_TRANSM_OK"}, {1, u"CALC_TRANSM_TOLOW"}, {2, u"CALC_TRANSM_TOHIGH"}, {3, u"CALC_TRANSM_TOLOWAL"}};
constexpr NamedValue kEmissivityState[] = {
    {0, u"CALC_EMISS_OK"}, {1, u"CALC_EMISS_TOLOW"}, {2, u"CALC_EMISS_TOHIGH"}, {3, u"CALC_EMISS_TOLOWAL"}};
constexpr NamedValue kOffsetState[] = {
    {0, u"CALC_OFS_OK"}, {1, u"CALC_OFS_TOLOW"}, {2, u"CALC_OFS_TOHIGH"}, {3, u"CALC_OFS_TOLOWAL"}};

constexpr ValueNames kDataUnitNames{kDataUnit};
constexpr ValueNames kLineCamModeNames{kLineCamMode};
constexpr ValueNames kCalibrationKindNames{kCalibrationKind};
constexpr ValueNames kUsageIn0Names{kUsageIn0};
constexpr ValueNames kUsageIn1Names{kUsageIn1};
constexpr ValueNames kUsageOut0Names{kUsageOut0};
constexpr ValueNames kUsageOut1Names{kUsageOut1};
constexpr ValueNames kSingleTriggerNames{kSingleTrigger};
constexpr ValueNames kSequenceTriggerNames{kSequenceTrigger};
constexpr ValueNames kStartTriggerNames{kStartTrigger};
constexpr ValueNames kTriggerSignalModeNames{kTriggerSignalMode};
constexpr ValueNames kShutterTriggerNames{kShutterTrigger};
constexpr ValueNames kDataReadModeNames{kDataReadMode};
constexpr ValueNames kOffOnNames{kOffOn};
constexpr ValueNames kAmbientTempCorrNames{kAmbientTempCorr};
constexpr ValueNames kTransmissionCorrNames{kTransmissionCorr};
constexpr ValueNames kEmissivityCorrNames{kEmissivityCorr};
constexpr ValueNames kOffsetCorrNames{kOffsetCorr};
constexpr ValueNames kScaleUnitNames{kScaleUnit};
constexpr ValueNames kZoomModeNames{kZoomMode};
constexpr ValueNames kAutoRangeModeNames{kAutoRangeMode, u""};  // an unknown mode adds no text
constexpr ValueNames kPixelOrientNames{kPixelOrient};
constexpr ValueNames kPixelSwapNames{kPixelSwap};
constexpr ValueNames kTransmissionStateNames{kTransmissionState};
constexpr ValueNames kEmissivityStateNames{kEmissivityState};
constexpr ValueNames kOffsetStateNames{kOffsetState};

// ---- layouts shared by several identifiers ----------------------------------

// One calibration range with a table of 256 values of value_size bytes.
constexpr Rendering CalibrationTable(FieldType value_type, uint16_t value_size) {
  const uint16_t command = static_cast<uint16_t>(20 + 256 * value_size);
  return Layout({
      {u"RANGE_NO: %u\r", {U16(0)}},
      {u"CAL_MIN_C: %.1f °C\r", {F32(4)}},
      {u"CAL_MAX_C: %.1f °C\r", {F32(8)}},
      {u"TABLE_START_C: %.1f °C\r", {F32(12)}},
      {u"TABLE_STEP: %.0f K\r", {F32(16)}},
      Repeated(256, value_size, {u"TABLE[%i]: %u\r", {RepeatNo(), Field{20, value_type}}}),
      {u"Command: %u", {U16(command)}},
  });
}

// The signal that fires a threshold trigger (32 bytes).
constexpr Rendering TriggerSignal() {
  return Layout({
      {u"Mode: %u: %s\r", {U16(0), Name()}, &kTriggerSignalModeNames},
      {u"ThresholdRelU: %u\r", {U16(2)}},
      {u"ThresholdC: %1.f\r", {F32(4)}},
      {u"Eps: %2.f\r", {F32(8)}},
      {u"Tau: %2.f\r", {F32(12)}},
      {u"TAmbC: %1.f °C\r", {F32(16)}},
      {u"Reserved: %u, %u, %u, %u, %u", {U16(20), U16(22), U16(24), U16(26), U16(28)}},
  });
}

// An isotherm of the scale (16 bytes).
constexpr Rendering Isotherm() {
  return Layout({
      {u"Min/Max: %.2f - %.2f\r\n", {F32(0), F32(4)}},
      {u"Color: %X\r\n", {U32(8)}},
      {u"Saturation: %u\r\n", {U16(12)}},
      {u"Transparent: %u", {U16(14)}},
  });
}

constexpr Rendering BinaryBlock() { return One(u"<bin: %u bytes>", DataLength()); }
constexpr Rendering TextBlock() { return One(u"<txt: %u bytes>", DataLength()); }
constexpr Rendering Placeholder() { return One(u"...\r\n..."); }
constexpr Rendering Narrow() { return Special(RenderNarrowText); }

// ---- the catalogue ------------------------------------------------------------

// How an identifier's entries are stored.
enum class Storage {
  kShared,               // held once, in the first dataset
  kPerDataset,           // stored again with every dataset
  kPerDatasetFirstWins,  // per dataset; the first of repeated entries in a data header wins
};
constexpr Storage kShared = Storage::kShared;
constexpr Storage kPerDataset = Storage::kPerDataset;
constexpr Storage kFirstWins = Storage::kPerDatasetFirstWins;

constexpr CatalogRow Row(uint16_t id, const char* name, Storage storage, Rendering rendering) {
  return {id, id, name, storage != kShared, storage == kFirstWins, rendering};
}
// A range named by base text and number (from 1): base01, base02, ...
constexpr CatalogRow Numbered(uint16_t first, uint16_t last, const char* base, Storage storage,
                              Rendering rendering) {
  return {first, last, base, storage != kShared, storage == kFirstWins, rendering};
}

constexpr CatalogRow kCatalog[] = {
    // Global header.
    Row(0x0100, "TOVA_GH_Version_MBC", kShared, Narrow()),
    Row(0x0101, "TOVA_GH_Origin_MBC", kShared, Narrow()),
    Row(0x0102, "TOVA_GH_Copyrigth_MBC", kShared, Narrow()),
    Row(0x0110, "TOVA_GH_INFO_DeviceString_MBC", kShared, Narrow()),
    Row(0x0111, "TOVA_GH_INFO_SensorX", kShared, One(u"%u", U16(0))),
    Row(0x0112, "TOVA_GH_INFO_SensorY", kShared, One(u"%u", U16(0))),
    Row(0x0120, "TOVA_GH_SWLIC_Section_MBC", kShared, Narrow()),

    // Acquisition parameters of the 0x01xx group.
    Row(0x0180, "TOVA_DH_PARAM_FRateDivider", kShared, One(u"%u", U16(0))),
    Row(0x0181, "TOVA_DH_PARAM_FPS", kShared, One(u"%.1f Hz", F32(0))),
    Row(0x0182, "TOVA_DH_PARAM_FixOffsetTempC", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x0183, "TOVA_DH_PARAM_UsageIN0", kShared, Enum(U32(0), kUsageIn0Names)),
    Row(0x0184, "TOVA_DH_PARAM_UsageIN1", kShared, Enum(U32(0), kUsageIn1Names)),
    Row(0x0185, "TOVA_DH_PARAM_UsageOUT0", kShared, Enum(U32(0), kUsageOut0Names)),
    Row(0x0186, "TOVA_DH_PARAM_UsageOUT1", kShared, Enum(U32(0), kUsageOut1Names)),

    // Recording.
    Row(0x0200, "TOVA_DH_DREC_DataUnit", kShared, Enum(U16(0), kDataUnitNames)),
    Row(0x0201, "TOVA_DH_DREC_SizeX", kShared, One(u"%u", U16(0))),
    Row(0x0202, "TOVA_DH_DREC_SizeY", kShared, One(u"%u", U16(0))),

    // Calibration.
    Row(0x0210, "TOVA_DH_TCAL_Version", kShared, Enum(U16(0), kCalibrationKindNames)),
    Row(0x0211, "TOVA_DH_TCAL_TABLE_U16", kShared, CalibrationTable(FieldType::kU16, 2)),  // 536 bytes
    Row(0x0212, "TOVA_DH_TCAL_TABLE_U32", kShared, CalibrationTable(FieldType::kU32, 4)),  // 1048 bytes
    Row(0x0217, "TOVA_DH_TCAL_LogAppr", kShared, Layout({  // 28 bytes
        {u"RANGE_NO: %u\r", {U16(0)}},
        {u"CAL_MIN_C: %.1f °C\r", {F32(4)}},
        {u"CAL_MAX_C: %.1f °C\r", {F32(8)}},
        {u"U0: %f\r", {F32(12)}},
        {u"U1: %f\r", {F32(16)}},
        {u"C: %f\r", {F32(20)}},
        {u"Command: %u", {U16(24)}},
    })),
    Row(0x0218, "TOVA_DH_TCAL_PlanckAppr", kShared, Layout({  // 32 bytes
        {u"RANGE_NO: %u\r", {U16(0)}},
        {u"CAL_MIN_C: %.1f °C\r", {F32(4)}},
        {u"CAL_MAX_C: %.1f °C\r", {F32(8)}},
        {u"A: %f\r", {F32(12)}},
        {u"B: %f\r", {F32(16)}},
        {u"C: %f\r", {F32(20)}},
        {u"H: %f\r", {F32(24)}},
        {u"Command: %u", {U16(28)}},
    })),
    Row(0x0220, "TOVA_DH_TCAL_String_MBC", kShared, Narrow()),
    Row(0x0221, "TOVA_DH_TCAL_MultiRange", kShared, Layout({  // 12 bytes
        {u"a0: %f\r", {F32(0)}},
        {u"a1: %f\r", {F32(4)}},
        {u"a2: %f", {F32(8)}},
    })),
    Row(0x0222, "TOVA_DH_TCAL_LENS", kShared, Layout({  // 48 bytes
        {u"Version: %u\r", {U16(0)}},
        {u"ViewType: %u\r", {U16(2)}},
        {u"SR: %.1f...%.1f µm\r", {F32(4), F32(8)}},
        {u"FOV: %.1f x %.1f °\r", {F32(12), F32(16)}},
        {u"Aperture: %.1f\r", {F32(20)}},
        {u"FocalLength: %.1f...%.1f mm\r", {F32(24), F32(28)}},
        {u"MotorFocusStep: %u", {U16(32)}},
    })),
    Row(0x0223, "TOVA_DH_TCAL_LIMITS", kShared, Layout({  // 16 bytes
        {u"CalcTempRange: %.1f...%.1f °C\r", {F32(0), F32(4)}},
        {u"ViewTempRange: %.1f...%.1f °C\r", {F32(8), F32(12)}},
    })),

    // Recording.
    Row(0x0230, "TOVA_DH_DREC_MaxFrames", kShared, One(u"%u", U16(0))),
    Row(0x0231, "TOVA_DH_DREC_ValidFrames", kFirstWins, One(u"%u", U16(0))),
    Row(0x0232, "TOVA_DH_DREC_TimeStamp", kFirstWins, Layout({  // 16 bytes, in SYSTEMTIME order
        {u"Year: %u\r", {U16(0)}},
        {u"Month: %u\r", {U16(2)}},
        {u"Day: %u\r", {U16(6)}},
        {u"DayOfWeek: %u\r", {U16(4)}},
        {u"Time: %u:%u:%u.%u", {U16(8), U16(10), U16(12), U16(14)}},
    })),
    Row(0x0233, "TOVA_DH_DREC_LineCamLines", kPerDataset, Layout({  // 8 bytes
        {u"Mode: %u: %s\r", {U16(0), Name()}, &kLineCamModeNames},
        {u"Device_NumFrames: %u\r", {U16(2)}},
        {u"Document_Lines: %u\r", {U16(4)}},
        {u"Norm_MinLines: %u", {U16(6)}},
    })),

    // Acquisition parameters of the 0x02xx group.
    Row(0x0240, "TOVA_DH_PARAM_FixEmissivity", kPerDataset, One(u"%.2f", F32(0))),
    Row(0x0241, "TOVA_DH_PARAM_FixTransmission", kPerDataset, One(u"%.2f", F32(0))),
    Row(0x0242, "TOVA_DH_PARAM_FixAmbientTempC", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x0243, "TOVA_DH_PARAM_Averaging", kShared, One(u"%u", U16(0))),
    Row(0x0244, "TOVA_DH_PARAM_MeasurementRange", kShared, One(u"%u", U16(0))),
    Row(0x0245, "TOVA_DH_PARAM_MultiplexMode", kShared, One(u"%u", U16(0))),
    Row(0x0246, "TOVA_DH_PARAM_SingleTrigger", kShared, Enum(U16(0), kSingleTriggerNames)),
    Row(0x0247, "TOVA_DH_PARAM_SingleTriggerMM", kShared, One(u"%.1f mm", F32(0))),
    Row(0x0248, "TOVA_DH_PARAM_SingleTriggerSignal", kShared, TriggerSignal()),
    Row(0x0249, "TOVA_DH_PARAM_SequenceTrigger", kShared, Enum(U16(0), kSequenceTriggerNames)),
    Row(0x024A, "TOVA_DH_PARAM_SequenceTriggerSignal", kShared, TriggerSignal()),
    Row(0x024B, "TOVA_DH_PARAM_StartTrigger", kShared, Enum(U16(0), kStartTriggerNames)),
    Row(0x024C, "TOVA_DH_PARAM_PixelRangeXYFilter", kShared, Layout({  // 16 bytes; the mode has no texts
        {u"Mode: %u: \r", {U16(0)}},
        {u"Param1: %u\r", {U16(2)}},
        {u"Param2: %u\r", {U16(4)}},
        {u"Param3: %u\r", {U16(6)}},
        {u"Param4: %u\r", {U16(8)}},
        {u"Res1: %u\r", {U16(10)}},
        {u"Res2: %u\r", {U16(12)}},
        {u"Res3: %u", {U16(14)}},
    })),
    Row(0x024D, "TOVA_DH_PARAM_MedianFilter", kShared, One(u"%u", U16(0))),
    Row(0x024E, "TOVA_DH_PARAM_ObjectSpeedMS", kShared, One(u"%.1f m/s", F32(0))),
    Row(0x024F, "TOVA_DH_PARAM_ObjectDistanceM", kShared, One(u"%.3f m", F32(0))),
    Row(0x0250, "TOVA_DH_PARAM_MovAveraging", kShared, One(u"%.3f", F32(0))),
    Row(0x0251, "TOVA_DH_PARAM_PixelCircleFilter", kShared, One(u"radius: %u", U16(0))),
    Row(0x0252, "TOVA_DH_PARAM_ShutterTrigger", kShared, Enum(U16(0), kShutterTriggerNames)),
    Row(0x0253, "TOVA_DH_PARAM_CorrAmbientTemp", kShared, Layout({  // 8 bytes
        {u"%u: %s\r\n", {U16(0), Name()}, &kAmbientTempCorrNames},
        {u"CorrValueC: %.1f °C (K)", {F32(4)}},
    })),
    Row(0x0254, "TOVA_DH_PARAM_CorrTransmission", kShared, Layout({  // 28 bytes
        {u"%u: %s\r\n", {U16(0), Name()}, &kTransmissionCorrNames},
        {u"FixRefTempC: %.1f °C\r\n", {F32(4)}},
        {u"FixRefEps: %.2f\r\n", {F32(8)}},
        {u"PixelRange Y1X1[%u,%u] Y2X2[%u,%u]\r\n", {U16(12), U16(14), U16(16), U16(18)}},
        {u"WeightTime: %.2f\r\n", {F32(20)}},
        {u"AllowedTau: %.2f\r\n", {F32(24)}},
    })),
    Row(0x0255, "TOVA_DH_PARAM_CorrEmissivity", kShared, Layout({  // 12 bytes
        {u"%u: %s\r\n", {U16(0), Name()}, &kEmissivityCorrNames},
        {u"FixRefTempC: %.1f°C\r\n", {F32(4)}},  // no blank before °C here
        {u"AllowedEps: %.2f\r\n", {F32(8)}},
    })),
    Row(0x0256, "TOVA_DH_PARAM_DataReadMode", kShared, Enum(U16(0), kDataReadModeNames)),
    Row(0x0257, "TOVA_DH_PARAM_PixelValueFilter", kShared, Layout({  // 20 bytes
        {u"Mode: %u:\r", {U16(0)}},
        {u"MinRAD: %u\r", {U32(4)}},
        {u"MaxRAD: %u\r", {U32(8)}},
        {u"MinTempC: %.1f\r", {F32(12)}},
        {u"MaxTempC: %.1f", {F32(16)}},
    })),
    Row(0x0258, "TOVA_DH_PARAM_DiffImageTrigger", kShared, Enum(U16(0), kOffOnNames)),
    Row(0x0259, "TOVA_DH_PARAM_CorrOffset", kShared, Layout({  // 12 bytes
        {u"%u: %s\r\n", {U16(0), Name()}, &kOffsetCorrNames},
        {u"FixRefTempC: %.1f °C\r\n", {F32(4)}},
        {u"AllowedOfsC: %.1f °C\r\n", {F32(8)}},
    })),
    Row(0x025A, "TOVA_DH_PARAM_TempValidity", kShared, Layout({  // 12 bytes; the mode has no texts
        {u"%u: \r\n", {U16(0)}},
        {u"Limit Low: %.1f °C\r\n", {F32(4)}},
        {u"Limit High: %.1f °C\r\n", {F32(8)}},
    })),
    Row(0x025B, "TOVA_DH_PARAM_3D", kShared, Placeholder()),
    Row(0x025C, "TOVA_DH_PARAM_PreTriggerFrames", kShared, One(u"%u: ", U16(0))),
    Row(0x025D, "TOVA_DH_PARAM_IRVISOV", kShared, Placeholder()),
    Row(0x025E, "TOVA_DH_PARAM_MotorFocusPos", kShared, One(u"%u: ", U16(0))),
    Row(0x025F, "TOVA_DH_PARAM_2DLineMode", kShared,  // 10 bytes; both points are labelled X1/Y1
        One(u"Enable: %u\r\nX1/Y1: %u/%u\r\nX1/Y1: %u/%u", U16(0), U16(2), U16(4), U16(6), U16(8))),

    // Scale of the displayed image.
    Row(0x0260, "TOVA_DH_SCALE_Unit", kShared, Enum(U16(0), kScaleUnitNames)),
    Row(0x0261, "TOVA_DH_SCALE_Low", kShared, One(u"%.1f", F32(0))),
    Row(0x0262, "TOVA_DH_SCALE_High", kShared, One(u"%.1f", F32(0))),
    Row(0x0263, "TOVA_DH_SCALE_BarNo", kShared, One(u"%u", U16(0))),
    Row(0x0264, "TOVA_DH_SCALE_NumCol", kShared, One(u"%u", U16(0))),
    Row(0x0265, "TOVA_DH_SCALE_Step", kShared, One(u"%.1f", F32(0))),
    Row(0x0266, "TOVA_DH_SCALE_BitmapZoomMode2", kShared, Enum(U16(0), kZoomModeNames)),
    Row(0x0267, "TOVA_DH_SCALE_BitmapZoom", kShared, One(u"%.1f", F32(0))),
    Row(0x0268, "TOVA_DH_SCALE_BackgroundColor", kShared, One(u"%X", U32(0))),
    Row(0x0269, "TOVA_DH_SCALE_NumIsotherms", kShared, One(u"%.u", U16(0))),  // 0 gives the empty text
    Numbered(0x026A, 0x026E, "TOVA_DH_SCALE_Isotherm", kShared, Isotherm()),
    Row(0x0274, "TOVA_DH_SCALE_AutoDyn1", kShared, Layout({  // 16 bytes; line breaks lead
        {u"Mode: %u %s", {U16(0), Name()}, &kAutoRangeModeNames},
        {u"\r\nAveragePlus: %.1f °C", {F32(4)}},
        {u"\r\nAverageMinus: %.1f °C", {F32(8)}},
    })),
    Row(0x0275, "TOVA_DH_SCALE_TextAndBorderColor", kShared, One(u"%X", U32(0))),
    Row(0x0276, "TOVA_DH_SCALE_BitmapDrawMode", kShared, One(u"%u", U16(0))),
    Row(0x0277, "TOVA_DH_NOTKL_Range", kShared, Layout({  // 8 bytes
        {u"Minimum: %.2f\r", {F32(0)}},
        {u"Maximum: %.2f", {F32(4)}},
    })),
    Row(0x0278, "TOVA_DH_SCALE_AppZoomMode", kShared, Layout({  // six i32
        Repeated(6, 4, {u"Int[%i]: %i\r\n", {RepeatNo(), I32(0)}}),
    })),
    Row(0x0279, "TOVA_DH_SCALE_AutoDyn2", kShared, Layout({  // 24 bytes; line breaks lead
        {u"Mode: %u %s", {U16(0), Name()}, &kAutoRangeModeNames},
        {u"\r\nAveragePlusFix: %.1f °C", {F32(4)}},
        {u"\r\nAverageMinusFix: %.1f °C", {F32(8)}},
        {u"\r\nAveragePlusDynFac: %.2f", {F32(12)}},
        {u"\r\nAverageMinusDynFac: %.2f", {F32(16)}},
    })),

    // Information reported with the image.
    Row(0x0280, "TOVA_DH_INFO_FlagTempC", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x0281, "TOVA_DH_INFO_DetectorTempC", kFirstWins, One(u"%.1f °C", F32(0))),
    Row(0x0282, "TOVA_DH_INFO_CameraTempC", kFirstWins, One(u"%.1f °C", F32(0))),
    Row(0x0283, "TOVA_DH_INFO_PixelOrientX", kShared, Enum(U16(0), kPixelOrientNames)),
    Row(0x0284, "TOVA_DH_INFO_PixelOrientY", kShared, Enum(U16(0), kPixelOrientNames)),
    Row(0x0285, "TOVA_DH_INFO_PixelSwapXY", kShared, Enum(U16(0), kPixelSwapNames)),
    Row(0x0286, "TOVA_DH_INFO_InternImageNo", kPerDataset, One(u"%u", U16(0))),
    Row(0x0287, "TOVA_DH_INFO_MeasureTimeSpan", kFirstWins, Layout({  // 8 bytes
        {u"Days: %u\r", {U16(0)}},
        {u"Hours: %u\r", {U16(2)}},
        {u"Minutes: %u\r", {U16(4)}},
        {u"Seconds: %u", {U16(6)}},
    })),
    Row(0x0288, "TOVA_DH_INFO_AnalogIN_V", kFirstWins, One(u"%.2f", F32(0))),
    Row(0x0289, "TOVA_DH_INFO_AnalogIN_V_Unit_MBC", kFirstWins, Narrow()),
    Row(0x0290, "TOVA_DH_INFO_AnalogIN_TempC", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x0291, "TOVA_DH_INFO_CalcTransmission", kPerDataset, One(u"%.2f", F32(0))),
    Row(0x0292, "TOVA_DH_INFO_InternalFrameRate", kShared, One(u"%.1f Hz", F32(0))),
    Row(0x0293, "TOVA_DH_INFO_DetectorTempOK", kPerDataset, One(u"%u", U16(0))),
    Row(0x0294, "TOVA_DH_INFO_CameraTempOK", kPerDataset, One(u"%u", U16(0))),
    Row(0x0295, "TOVA_DH_INFO_CameraModeOK", kPerDataset, One(u"%u", U16(0))),
    Row(0x0296, "TOVA_DH_INFO_CalcEmissivity", kPerDataset, One(u"%.2f", F32(0))),
    Row(0x0297, "TOVA_DH_INFO_CalcTransmissionState", kPerDataset, Enum(U16(0), kTransmissionStateNames)),
    Row(0x0298, "TOVA_DH_INFO_InnerTemp2C", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x0299, "TOVA_DH_INFO_InnerTemp3C", kPerDataset, One(u"%.1f °C", F32(0))),
    Row(0x029A, "TOVA_DH_INFO_CalcEmissivityState", kPerDataset, Enum(U16(0), kEmissivityStateNames)),
    Row(0x029B, "TOVA_DH_INFO_CalcOffsetC", kPerDataset, One(u"%.2f °C (K)", F32(0))),
    Row(0x029C, "TOVA_DH_INFO_CalcOffsetState", kPerDataset, Enum(U16(0), kOffsetStateNames)),
    Row(0x029E, "TOVA_DH_INFO_AcquImageNo", kPerDataset, One(u"%u", U32(0))),

    // Image data and attached data.
    Row(0x0300, "TOVA_IM_Data", kPerDataset, BinaryBlock()),
    Row(0x0380, "TOVA_DH_QUELMATO_Layout", kShared, BinaryBlock()),
    Numbered(0x0400, 0x041F, "TOVA_DH_USERDATA", kPerDataset, BinaryBlock()),
    Row(0x0420, "TOVA_DH_PRODUCT_NAME_MBC", kShared, Narrow()),
    Row(0x0421, "TOVA_DH_USE4TEACH", kPerDataset, One(u"%u", U16(0))),
    Row(0x0422, "TOVA_DH_PYROMETER_INFOS_MBC", kShared, List(24, 1, nullptr, {
        {u"[%i] Name: %s\r", {RecordNo(), NarrowText(0, 16)}},
        {u"[%i] SN: %s", {RecordNo(), NarrowText(16, 8)}},
    })),
    Row(0x0423, "TOVA_DH_PYROMETER_VALUES", kPerDataset, List(12, 1, nullptr, {
        {u"[%i] Eps: %.2f\r", {RecordNo(), F32(0)}},
        {u"[%i] InnerTempC: %.1f °C\r", {RecordNo(), F32(4)}},
        {u"[%i] MeasTempC: %.1f °C", {RecordNo(), F32(8)}},
    })),
    Row(0x0424, "TOVA_DH_USERDATAPVP", kPerDataset, BinaryBlock()),
    Row(0x0425, "TOVA_DH_TCAL_RADADC", kPerDataset, Layout({  // 10 bytes; the ADC labels have no colon
        {u"RADmin: %u\r", {U16(0)}},
        {u"RADmax: %u\r", {U16(2)}},
        {u"RADdyn: %u\r", {U16(4)}},
        {u"ADCmin%u\r", {U16(6)}},
        {u"ADCmax%u", {U16(8)}},
    })),
    Row(0x0426, "TOVA_DH_VOI_AIN", kPerDataset, List(8, 1, u"<double: %u values>", {
        {u"[%i] %.2f", {RecordNo(), F64(0)}},
    })),
    Row(0x0427, "TOVA_DH_VOI_DIN", kPerDataset, List(1, 1, u"<byte: %u values>", {
        {u"[%i] %i", {RecordNo(), U8(0)}},
    })),

    // UTF-8 texts, stored but never decoded.
    Row(0x0500, "TOVA_DH_ROIDATA_UTF8", kShared, TextBlock()),
    Row(0x0501, "TOVA_DH_VOIDATA_UTF8", kShared, TextBlock()),
    Row(0x0502, "TOVA_DH_TRENDDATA1_UTF8", kShared, TextBlock()),
    Row(0x0503, "TOVA_DH_TRENDDATA2_UTF8", kShared, TextBlock()),
    Row(0x0504, "TOVA_DH_TRENDDATA3_UTF8", kShared, TextBlock()),
    Row(0x0505, "TOVA_DH_TRENDDATA4_UTF8", kShared, TextBlock()),

    // Window derivations and embedded files.
    Row(0x0600, "TOVA_DH_WINDOW_DERIVATION", kShared, List(40, 0, nullptr, {  // numbered from 0
        {u"[%i] No: %u\r", {RecordNo(), U16(0)}},
        {u"[%i] Type: %u\r", {RecordNo(), U16(2)}},
        {u"[%i] SubType: %u\r", {RecordNo(), U16(4)}},
        {u"[%i] DHEntryID: %X", {RecordNo(), U16(6)}},
    })),
    Row(0x0601, "TOVA_DH_EMBEDDED_TOVA_REF", kPerDataset, TextBlock()),
    Row(0x0602, "TOVA_DH_EMBEDDED_TOVA_DIFF", kShared, TextBlock()),
    Row(0x0603, "TOVA_DH_EMBEDDED_VIS_IMAGE", kShared, TextBlock()),
    Row(0x0604, "TOVA_DH_EMBEDDED_VOICE", kShared, TextBlock()),
    Row(0x0605, "TOVA_DH_EMBEDDED_SETTINGS", kShared, TextBlock()),
    Row(0x0606, "TOVA_DH_EMBEDDED_TOVA_FILT", kShared, TextBlock()),
    Row(0x0607, "TOVA_DH_EMBEDDED_TOVA_HIST", kShared, TextBlock()),
    Row(0x0608, "TOVA_DH_EMBEDDED_TOVA_2DLINE", kShared, TextBlock()),
    Row(0x0609, "TOVA_DH_EMBEDDED_TOVA_PULSEFFT", kPerDataset, TextBlock()),

    // UTF-16 forms of narrow texts (narrow identifier + 0x1000).
    Row(0x1110, "TOVA_GH_INFO_DeviceString_UC", kShared, Special(RenderUtf16Text)),
    Row(0x1220, "TOVA_DH_TCAL_String_UC", kShared, Special(RenderCalibrationStringUC)),
    Row(0x1420, "TOVA_DH_PRODUCT_NAME_UC", kShared, Special(RenderUtf16Text)),
};

constexpr bool RowsAscendAndDoNotOverlap() {
  for (size_t i = 0; i < std::size(kCatalog); ++i) {
    if (kCatalog[i].last_id < kCatalog[i].id) return false;
    if (i > 0 && kCatalog[i].id <= kCatalog[i - 1].last_id) return false;
  }
  return true;
}
static_assert(RowsAscendAndDoNotOverlap(), "catalogue rows must ascend without overlap");

}  // namespace

std::span<const CatalogRow> Rows() { return kCatalog; }

const CatalogRow* FindRow(uint16_t id) {
  const auto* it = std::lower_bound(std::begin(kCatalog), std::end(kCatalog), id,
                                    [](const CatalogRow& row, uint16_t value) { return row.last_id < value; });
  return it != std::end(kCatalog) && it->id <= id ? it : nullptr;
}

std::u16string EntryName(uint16_t id) {
  const CatalogRow* row = FindRow(id);
  if (!row) return u"??";
  std::u16string name;
  for (const char* p = row->name; *p; ++p) name.push_back(static_cast<unsigned char>(*p));
  if (row->last_id != row->id) platform::AppendFormatU16(name, "%.2u", static_cast<unsigned>(id - row->id + 1));
  return name;
}

const char16_t* SectionName(uint16_t section_id) {
  switch (section_id) {
    case TOVA_SECT_GlobalHeader: return u"TOVA_SECT_GlobalHeader";
    case TOVA_SECT_DataHeader: return u"TOVA_SECT_DataHeader";
    case TOVA_SECT_Image: return u"TOVA_SECT_Image";
    default: return u"??";
  }
}

}  // namespace tova::catalog

namespace tova::catalog {

namespace {

// The identifier rules of the document model, answered from the table. The
// two marks of every identifier are looked up once into bit sets, so that
// parsing a recording's headers costs no search per entry.
class TableRules final : public IdentifierRules {
 public:
  TableRules() {
    for (const CatalogRow& row : kCatalog) {
      for (uint32_t id = row.id; id <= row.last_id; ++id) {
        if (row.per_dataset) per_dataset_[id / 64] |= uint64_t{1} << (id % 64);
        if (row.first_wins) first_wins_[id / 64] |= uint64_t{1} << (id % 64);
      }
    }
  }
  bool IsPerDataset(uint16_t id) const override { return (per_dataset_[id / 64] >> (id % 64)) & 1; }
  bool IsFirstWins(uint16_t id) const override { return (first_wins_[id / 64] >> (id % 64)) & 1; }

 private:
  uint64_t per_dataset_[65536 / 64] = {};
  uint64_t first_wins_[65536 / 64] = {};
};

}  // namespace

const IdentifierRules& Rules() {
  static const TableRules rules;
  return rules;
}

}  // namespace tova::catalog
