/*
 * HOLMDAQTova: reads, writes and manages TOVA documents.
 *
 * Conventions of this interface
 * - Every document is owned by the library and named by an opaque 64-bit handle.
 *   Handles are never 0 and never all ones; a failed open returns
 *   TOVADLL_INVALID_HANDLE. A closed handle never names another document later in
 *   the same process: calls with it return TOVA_ERR_HANDLE.
 * - Every call that does not open a document returns an int32_t result code
 *   (TOVA_OK on success; the named codes below). Out values are written only on
 *   success unless the call says otherwise.
 * - A pointer argument is required unless its size argument is 0. A null required
 *   pointer gives TOVA_ERR_NULL_POINTER; nothing is ever written through a null
 *   pointer. The cancel byte of TOVADLL_READ_FROM_FILE_AFTER_FIRST and the stop
 *   flag of TOVADLL_FILE_DELETE_ALL_OLD_EX may be null (never set).
 * - Narrow paths are UTF-8 outside Windows and in the ANSI code page on Windows;
 *   the _UC forms take zero-terminated UTF-16.
 * - No exception leaves the library; memory exhaustion is TOVA_ERR_NO_MEMORY.
 * - Threads: every document has one re-entrant lock. Most calls hold it for their
 *   whole duration; TOVADLL_LOCK / TOVADLL_UNLOCK let a caller hold it across
 *   several calls. Opens and closes may run at the same time as other calls.
 */
#ifndef HOLMDAQTOVA_H
#define HOLMDAQTOVA_H

#include <stdint.h>
#ifdef __cplusplus
#include <string>
#elif !defined(_WIN32)
#include <uchar.h>
#endif

#if defined(_WIN32)
#  if defined(TOVA_BUILDING_LIBRARY)
#    define TOVA_EXPORT __declspec(dllexport)
#  else
#    define TOVA_EXPORT __declspec(dllimport)
#  endif
#else
#  define TOVA_EXPORT __attribute__((visibility("default")))
#endif
#define TOVA_CALL /* the platform's C calling convention (x64 has only one) */

#ifdef _WIN32
typedef wchar_t TOVA_WCHAR;    /* UTF-16 code unit on Windows */
#else
typedef char16_t TOVA_WCHAR;   /* UTF-16 code unit */
#endif
#define TOVADLL_INVALID_HANDLE 0xFFFFFFFFFFFFFFFFull   /* what a failed open returns */
#ifdef __cplusplus
typedef std::basic_string<TOVA_WCHAR> TOVA_WSTRING;    /* the caller's UTF-16 string object */
#endif

/* ---- Section identifiers ------------------------------------------------- */
#define TOVA_SECT_GlobalHeader 0xFF01
#define TOVA_SECT_DataHeader   0xFF02
#define TOVA_SECT_Image        0xFF10

/* ---- Document types (TOVADLL_GET_TOVA_TYPE) ------------------------------- */
#define TOVA_TYPE_CLOSED       0
#define TOVA_TYPE_MEMORY       1
#define TOVA_TYPE_READ         2
#define TOVA_TYPE_WRITE        3
#define TOVA_TYPE_READWRITE    4
#define TOVA_TYPE_WRITE_BUFFER 5

/* ---- Data units (TOVA_DH_DREC_DataUnit) ----------------------------------- */
#define TOVA_DATAUNIT_U16 0
#define TOVA_DATAUNIT_U32 1
#define TOVA_DATAUNIT_S16 2
#define TOVA_DATAUNIT_FLT 3

/* ---- Result codes --------------------------------------------------------- */
#define TOVA_OK                    0   /* success */
#define TOVA_ERR_HANDLE            1   /* the handle names no open document */
#define TOVA_ERR_NO_FILE           2   /* the file is missing or empty (an open fails with it) */
#define TOVA_ERR_NO_MEMORY         3   /* memory could not be obtained */
#define TOVA_ERR_WRITE_INCOMPLETE  4   /* a dataset could not be written completely; buffer too small */
#define TOVA_ERR_FILE_WRITE        5   /* the file layer failed while writing or closing a part file */
#define TOVA_ERR_DOCUMENT_TYPE     7   /* the operation is not allowed for the document's type */
#define TOVA_ERR_CANCELLED         8   /* cancelled in the progress dialog or by the cancel byte */
#define TOVA_ERR_READ              9   /* reading the file failed */
#define TOVA_ERR_OPEN             10   /* a file could not be opened */
#define TOVA_ERR_SHORT            11   /* a file or buffer ended early, or a continuation file is missing */
#define TOVA_ERR_NULL_POINTER     12   /* a required pointer argument is null */
#define TOVA_ERR_BUFFER_TOO_SMALL 13   /* the caller's buffer is too small */
#define TOVA_ERR_DELETE           14   /* a file could not be deleted */
#define TOVA_ERR_RENAME           15   /* a file could not be renamed */
#define TOVA_ERR_FILE_SIZE        16   /* the size of a file could not be determined */
#define TOVA_ERR_SECTION_ID       21   /* unknown section identifier */
#define TOVA_ERR_NO_SECTION       22   /* the section does not exist for the current dataset */
#define TOVA_ERR_SECTION_SHORT    23   /* a section record is shorter than its 6-byte header */
#define TOVA_ERR_STORE            30   /* an entry could not be stored */
#define TOVA_ERR_ENTRY_INDEX      31   /* the entry index lies beyond the section's entries */
#define TOVA_ERR_RECORD           32   /* malformed entry record, or an entry without data */
#define TOVA_ERR_NO_ENTRY         33   /* no entry with that identifier in the section */
#define TOVA_ERR_EXTENSION        43   /* the document's path does not carry the extension "tova" */
#define TOVA_ERR_DATASET          50   /* dataset index out of range or dataset missing */
#define TOVA_ERR_TOO_FEW_DATASETS 51   /* dataset removal with fewer than two datasets */
#define TOVA_ERR_MISMATCH_DEVICE  60   /* append: data unit, calibration or device differ */
#define TOVA_ERR_MISMATCH_RANGE   61   /* append: measurement ranges differ; source of several datasets */
#define TOVA_ERR_MISMATCH_SIZE    62   /* append: sensor or image size zero or different */
#define TOVA_ERR_NOT_LOCK_OWNER   70   /* TOVADLL_UNLOCK from a thread that does not hold the lock */
#define TOVA_ERR_APPEND_EXTENSION 2043 /* append-open of a non-empty file without the extension "tova" */
#define TOVA_ERR_TEXT_HANDLE     (-32) /* TOVADLL_COPY_DATA_STRING with an unknown handle */
#define TOVA_EXIST_ENTRY_BIAS    2000  /* TOVADLL_EXIST_ENTRY returns (lookup code - 2000) */

/* ---- Entry identifiers ---------------------------------------------------- */
/* TOVA_ENTRY_IDENTIFIERS_BEGIN (the catalogue's names; kept in step with it by a test) */
#define TOVA_GH_Version_MBC                 0x0100
#define TOVA_GH_Origin_MBC                  0x0101
#define TOVA_GH_Copyrigth_MBC               0x0102
#define TOVA_GH_INFO_DeviceString_MBC       0x0110
#define TOVA_GH_INFO_SensorX                0x0111
#define TOVA_GH_INFO_SensorY                0x0112
#define TOVA_GH_SWLIC_Section_MBC           0x0120
#define TOVA_DH_PARAM_FRateDivider          0x0180
#define TOVA_DH_PARAM_FPS                   0x0181
#define TOVA_DH_PARAM_FixOffsetTempC        0x0182
#define TOVA_DH_PARAM_UsageIN0              0x0183
#define TOVA_DH_PARAM_UsageIN1              0x0184
#define TOVA_DH_PARAM_UsageOUT0             0x0185
#define TOVA_DH_PARAM_UsageOUT1             0x0186
#define TOVA_DH_DREC_DataUnit               0x0200
#define TOVA_DH_DREC_SizeX                  0x0201
#define TOVA_DH_DREC_SizeY                  0x0202
#define TOVA_DH_TCAL_Version                0x0210
#define TOVA_DH_TCAL_TABLE_U16              0x0211
#define TOVA_DH_TCAL_TABLE_U32              0x0212
#define TOVA_DH_TCAL_LogAppr                0x0217
#define TOVA_DH_TCAL_PlanckAppr             0x0218
#define TOVA_DH_TCAL_String_MBC             0x0220
#define TOVA_DH_TCAL_MultiRange             0x0221
#define TOVA_DH_TCAL_LENS                   0x0222
#define TOVA_DH_TCAL_LIMITS                 0x0223
#define TOVA_DH_DREC_MaxFrames              0x0230
#define TOVA_DH_DREC_ValidFrames            0x0231
#define TOVA_DH_DREC_TimeStamp              0x0232
#define TOVA_DH_DREC_LineCamLines           0x0233
#define TOVA_DH_PARAM_FixEmissivity         0x0240
#define TOVA_DH_PARAM_FixTransmission       0x0241
#define TOVA_DH_PARAM_FixAmbientTempC       0x0242
#define TOVA_DH_PARAM_Averaging             0x0243
#define TOVA_DH_PARAM_MeasurementRange      0x0244
#define TOVA_DH_PARAM_MultiplexMode         0x0245
#define TOVA_DH_PARAM_SingleTrigger         0x0246
#define TOVA_DH_PARAM_SingleTriggerMM       0x0247
#define TOVA_DH_PARAM_SingleTriggerSignal   0x0248
#define TOVA_DH_PARAM_SequenceTrigger       0x0249
#define TOVA_DH_PARAM_SequenceTriggerSignal 0x024A
#define TOVA_DH_PARAM_StartTrigger          0x024B
#define TOVA_DH_PARAM_PixelRangeXYFilter    0x024C
#define TOVA_DH_PARAM_MedianFilter          0x024D
#define TOVA_DH_PARAM_ObjectSpeedMS         0x024E
#define TOVA_DH_PARAM_ObjectDistanceM       0x024F
#define TOVA_DH_PARAM_MovAveraging          0x0250
#define TOVA_DH_PARAM_PixelCircleFilter     0x0251
#define TOVA_DH_PARAM_ShutterTrigger        0x0252
#define TOVA_DH_PARAM_CorrAmbientTemp       0x0253
#define TOVA_DH_PARAM_CorrTransmission      0x0254
#define TOVA_DH_PARAM_CorrEmissivity        0x0255
#define TOVA_DH_PARAM_DataReadMode          0x0256
#define TOVA_DH_PARAM_PixelValueFilter      0x0257
#define TOVA_DH_PARAM_DiffImageTrigger      0x0258
#define TOVA_DH_PARAM_CorrOffset            0x0259
#define TOVA_DH_PARAM_TempValidity          0x025A
#define TOVA_DH_PARAM_3D                    0x025B
#define TOVA_DH_PARAM_PreTriggerFrames      0x025C
#define TOVA_DH_PARAM_IRVISOV               0x025D
#define TOVA_DH_PARAM_MotorFocusPos         0x025E
#define TOVA_DH_PARAM_2DLineMode            0x025F
#define TOVA_DH_SCALE_Unit                  0x0260
#define TOVA_DH_SCALE_Low                   0x0261
#define TOVA_DH_SCALE_High                  0x0262
#define TOVA_DH_SCALE_BarNo                 0x0263
#define TOVA_DH_SCALE_NumCol                0x0264
#define TOVA_DH_SCALE_Step                  0x0265
#define TOVA_DH_SCALE_BitmapZoomMode2       0x0266
#define TOVA_DH_SCALE_BitmapZoom            0x0267
#define TOVA_DH_SCALE_BackgroundColor       0x0268
#define TOVA_DH_SCALE_NumIsotherms          0x0269
#define TOVA_DH_SCALE_Isotherm01            0x026A
#define TOVA_DH_SCALE_Isotherm02            0x026B
#define TOVA_DH_SCALE_Isotherm03            0x026C
#define TOVA_DH_SCALE_Isotherm04            0x026D
#define TOVA_DH_SCALE_Isotherm05            0x026E
#define TOVA_DH_SCALE_AutoDyn1              0x0274
#define TOVA_DH_SCALE_TextAndBorderColor    0x0275
#define TOVA_DH_SCALE_BitmapDrawMode        0x0276
#define TOVA_DH_NOTKL_Range                 0x0277
#define TOVA_DH_SCALE_AppZoomMode           0x0278
#define TOVA_DH_SCALE_AutoDyn2              0x0279
#define TOVA_DH_INFO_FlagTempC              0x0280
#define TOVA_DH_INFO_DetectorTempC          0x0281
#define TOVA_DH_INFO_CameraTempC            0x0282
#define TOVA_DH_INFO_PixelOrientX           0x0283
#define TOVA_DH_INFO_PixelOrientY           0x0284
#define TOVA_DH_INFO_PixelSwapXY            0x0285
#define TOVA_DH_INFO_InternImageNo          0x0286
#define TOVA_DH_INFO_MeasureTimeSpan        0x0287
#define TOVA_DH_INFO_AnalogIN_V             0x0288
#define TOVA_DH_INFO_AnalogIN_V_Unit_MBC    0x0289
#define TOVA_DH_INFO_AnalogIN_TempC         0x0290
#define TOVA_DH_INFO_CalcTransmission       0x0291
#define TOVA_DH_INFO_InternalFrameRate      0x0292
#define TOVA_DH_INFO_DetectorTempOK         0x0293
#define TOVA_DH_INFO_CameraTempOK           0x0294
#define TOVA_DH_INFO_CameraModeOK           0x0295
#define TOVA_DH_INFO_CalcEmissivity         0x0296
#define TOVA_DH_INFO_CalcTransmissionState  0x0297
#define TOVA_DH_INFO_InnerTemp2C            0x0298
#define TOVA_DH_INFO_InnerTemp3C            0x0299
#define TOVA_DH_INFO_CalcEmissivityState    0x029A
#define TOVA_DH_INFO_CalcOffsetC            0x029B
#define TOVA_DH_INFO_CalcOffsetState        0x029C
#define TOVA_DH_INFO_AcquImageNo            0x029E
#define TOVA_IM_Data                        0x0300
#define TOVA_DH_QUELMATO_Layout             0x0380
#define TOVA_DH_USERDATA01                  0x0400
#define TOVA_DH_USERDATA02                  0x0401
#define TOVA_DH_USERDATA03                  0x0402
#define TOVA_DH_USERDATA04                  0x0403
#define TOVA_DH_USERDATA05                  0x0404
#define TOVA_DH_USERDATA06                  0x0405
#define TOVA_DH_USERDATA07                  0x0406
#define TOVA_DH_USERDATA08                  0x0407
#define TOVA_DH_USERDATA09                  0x0408
#define TOVA_DH_USERDATA10                  0x0409
#define TOVA_DH_USERDATA11                  0x040A
#define TOVA_DH_USERDATA12                  0x040B
#define TOVA_DH_USERDATA13                  0x040C
#define TOVA_DH_USERDATA14                  0x040D
#define TOVA_DH_USERDATA15                  0x040E
#define TOVA_DH_USERDATA16                  0x040F
#define TOVA_DH_USERDATA17                  0x0410
#define TOVA_DH_USERDATA18                  0x0411
#define TOVA_DH_USERDATA19                  0x0412
#define TOVA_DH_USERDATA20                  0x0413
#define TOVA_DH_USERDATA21                  0x0414
#define TOVA_DH_USERDATA22                  0x0415
#define TOVA_DH_USERDATA23                  0x0416
#define TOVA_DH_USERDATA24                  0x0417
#define TOVA_DH_USERDATA25                  0x0418
#define TOVA_DH_USERDATA26                  0x0419
#define TOVA_DH_USERDATA27                  0x041A
#define TOVA_DH_USERDATA28                  0x041B
#define TOVA_DH_USERDATA29                  0x041C
#define TOVA_DH_USERDATA30                  0x041D
#define TOVA_DH_USERDATA31                  0x041E
#define TOVA_DH_USERDATA32                  0x041F
#define TOVA_DH_PRODUCT_NAME_MBC            0x0420
#define TOVA_DH_USE4TEACH                   0x0421
#define TOVA_DH_PYROMETER_INFOS_MBC         0x0422
#define TOVA_DH_PYROMETER_VALUES            0x0423
#define TOVA_DH_USERDATAPVP                 0x0424
#define TOVA_DH_TCAL_RADADC                 0x0425
#define TOVA_DH_VOI_AIN                     0x0426
#define TOVA_DH_VOI_DIN                     0x0427
#define TOVA_DH_ROIDATA_UTF8                0x0500
#define TOVA_DH_VOIDATA_UTF8                0x0501
#define TOVA_DH_TRENDDATA1_UTF8             0x0502
#define TOVA_DH_TRENDDATA2_UTF8             0x0503
#define TOVA_DH_TRENDDATA3_UTF8             0x0504
#define TOVA_DH_TRENDDATA4_UTF8             0x0505
#define TOVA_DH_WINDOW_DERIVATION           0x0600
#define TOVA_DH_EMBEDDED_TOVA_REF           0x0601
#define TOVA_DH_EMBEDDED_TOVA_DIFF          0x0602
#define TOVA_DH_EMBEDDED_VIS_IMAGE          0x0603
#define TOVA_DH_EMBEDDED_VOICE              0x0604
#define TOVA_DH_EMBEDDED_SETTINGS           0x0605
#define TOVA_DH_EMBEDDED_TOVA_FILT          0x0606
#define TOVA_DH_EMBEDDED_TOVA_HIST          0x0607
#define TOVA_DH_EMBEDDED_TOVA_2DLINE        0x0608
#define TOVA_DH_EMBEDDED_TOVA_PULSEFFT      0x0609
#define TOVA_GH_INFO_DeviceString_UC        0x1110
#define TOVA_DH_TCAL_String_UC              0x1220
#define TOVA_DH_PRODUCT_NAME_UC             0x1420
/* TOVA_ENTRY_IDENTIFIERS_END */

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Opening and closing -------------------------------------------------- */
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_MEM(uint32_t singleDataset, uint16_t dataUnit,
                                                     uint16_t calibrationVersion);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_READ(const char* path);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_READ_UC(const TOVA_WCHAR* path);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_READ_BUFFER(void);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_WRITE_BUFFER(void);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_CLOSE_FILE(uint64_t h);

/* ---- Entries -------------------------------------------------------------- */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SET_ENTRY(uint64_t h, uint16_t section, uint16_t id,
                                                uint32_t size, const void* data);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_REMOVE_ENTRY(uint64_t h, uint16_t section, uint16_t id);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_COPY_ENTRY_DATA(uint64_t h, uint16_t section, uint16_t id,
                                                      uint32_t bufferSize, void* buffer,
                                                      uint32_t* copied);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_EXIST_ENTRY(uint64_t h, uint16_t section, uint16_t id);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_ENTRY_DATASIZE(uint64_t h, uint16_t section, uint16_t id,
                                                         uint32_t* size);
/* Hands out a pointer into the entry's own storage, valid while the entry keeps it. */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_ENTRY(uint64_t h, uint16_t section, uint16_t id,
                                                void** data, uint32_t* size, uint32_t modify);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SET_ENTRY_ISOPTIONAL(uint64_t h, uint16_t section, uint16_t id,
                                                           int32_t flag);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_NUM_ENTRIES(uint64_t h, uint16_t section, uint32_t* count);

/* ---- Datasets and document state ------------------------------------------ */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_NUMDATASETS(uint64_t h, uint32_t* count);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_CURDATASET(uint64_t h, uint32_t* index);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SET_CURDATASET(uint64_t h, uint32_t index);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SET_CURDATASET_EX(uint64_t h, uint32_t index, uint32_t load);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_REMOVE_DATASET(uint64_t h, uint32_t index);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_TOVA_TYPE(uint64_t h, uint32_t* type);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_MODIFIED(uint64_t h, uint32_t* modified);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SET_MODIFIED(uint64_t h, uint32_t modified);

/* ---- Locking, existence, progress-dialog setting -------------------------- */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_LOCK(uint64_t h);
/* TOVA_ERR_NOT_LOCK_OWNER when the calling thread does not hold the lock. */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_UNLOCK(uint64_t h);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_EXIST(uint64_t h);
TOVA_EXPORT void TOVA_CALL TOVADLL_SET_DLG_SHOW(uint32_t show);

/* ---- Reading files -------------------------------------------------------- */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_READ_FROM_FILE(uint64_t h, uint32_t readAll, uint32_t showProgress);
/* Indexes the rest of a recording on a caller's second thread; cancel may be null. */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_READ_FROM_FILE_AFTER_FIRST(uint64_t h, const volatile uint8_t* cancel);

/* ---- Writing, appending and saving ---------------------------------------- */
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_WRITE(const char* path, uint32_t append);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_WRITE_UC(const TOVA_WCHAR* path, uint32_t append);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_READWRITE(const char* path, uint32_t append);
TOVA_EXPORT uint64_t TOVA_CALL TOVADLL_OPEN_FILE_READWRITE_UC(const TOVA_WCHAR* path, uint32_t append);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_ADD_TOVA(uint64_t target, uint64_t source, uint32_t all);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_ADD_TOVA_BUFFERED_WRITE(uint64_t target, uint64_t source, void* buffer,
                                                              uint32_t bufferSize, uint32_t* written);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SAVE_FILE(uint64_t h, const char* path);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_SAVE_FILE_UC(uint64_t h, const TOVA_WCHAR* path);

/* ---- Dataset buffers ------------------------------------------------------ */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_BUFFERSIZE(uint64_t h, uint32_t* size);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_WRITE_TO_BUFFER(uint64_t h, void* buffer, uint32_t bufferSize,
                                                      uint32_t* written);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_READ_FROM_BUFFER(uint64_t h, const void* buffer, uint32_t bufferSize);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_WRITE_TO_BUFFER_EX(uint64_t h, void* buffer, uint32_t bufferSize,
                                                         uint32_t* written, uint32_t* imageOffset,
                                                         uint32_t* imageSize);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_READ_FROM_BUFFER_EX(uint64_t h, const void* buffer, uint32_t bufferSize,
                                                          uint32_t* imageOffset, uint32_t* imageSize);

/* ---- File housekeeping ---------------------------------------------------- */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE(const char* path);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE_UC(const TOVA_WCHAR* path);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_RENAME(const char* oldPath, const char* newPath);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_RENAME_UC(const TOVA_WCHAR* oldPath, const TOVA_WCHAR* newPath);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_FILE_SIZE(const char* path, double* sizeMB);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_GET_FILE_SIZE_UC(const TOVA_WCHAR* path, double* sizeMB);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE_ALL_OLD(const char* pattern, uint32_t ageSeconds);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE_ALL_OLD_UC(const TOVA_WCHAR* pattern, uint32_t ageSeconds);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE_ALL_OLD_EX(const char* pattern, uint32_t ageSeconds,
                                                             const volatile uint32_t* stop);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(const TOVA_WCHAR* pattern, uint32_t ageSeconds,
                                                                const volatile uint32_t* stop);

#ifdef __cplusplus
/* ---- Section, entry and data strings (C++ only; C linkage, C++ parameters) - */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_COPY_SECTION_STRING(uint64_t h, uint16_t section, TOVA_WSTRING& text);
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_COPY_ENTRY_STRING(uint64_t h, uint16_t section, uint32_t index,
                                                        TOVA_WSTRING& text);
/* TOVA_ERR_TEXT_HANDLE (-32) for an unknown handle. */
TOVA_EXPORT int32_t TOVA_CALL TOVADLL_COPY_DATA_STRING(uint64_t h, uint16_t section, uint32_t index,
                                                       TOVA_WSTRING& text);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* HOLMDAQTOVA_H */
