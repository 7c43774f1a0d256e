/*
 * tova_ext: what every caller of HOLMDAQTova otherwise writes for itself, as
 * plain C with UTF-8 strings so that any language can call it: the section,
 * entry and entry data renderings, pixels in degrees Celsius through the
 * recording's calibration, and the time stamps of all frames in one call.
 *
 * It is a client of the public API only: every call takes a document handle
 * of HOLMDAQTova and holds the document's lock for its whole duration.
 *
 * All calls return a library result code (TOVA_OK, a TOVA_ERR_* code of
 * HOLMDAQTova.h, or a TOVAEXT_ERR_* code below). Strings are UTF-8 and
 * NUL-terminated. Buffer convention of the string calls: *needed receives the
 * byte count including the NUL; when cap is too small nothing but *needed is
 * written and the result is TOVAEXT_ERR_BUFFER_TOO_SMALL. buf may be null
 * when cap is 0.
 */
#ifndef TOVA_EXT_H
#define TOVA_EXT_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(TOVA_EXT_BUILDING)
#    define TOVAEXT_API __declspec(dllexport)
#  else
#    define TOVAEXT_API __declspec(dllimport)
#  endif
#else
#  define TOVAEXT_API __attribute__((visibility("default")))
#endif

#define TOVAEXT_ERR_BUFFER_TOO_SMALL 2001 /* the caller's buffer or array is too small */
#define TOVAEXT_ERR_NO_CALIBRATION   2002 /* the recording's pixels do not convert to degrees Celsius */
#define TOVAEXT_ERR_IMAGE            2003 /* the frame's image size, data unit and image data do not fit */

#ifdef __cplusplus
extern "C" {
#endif

/* The rendering of a section (TOVA_SECT_*) of the current frame. */
TOVAEXT_API int32_t tovaext_section_string(uint64_t h, uint16_t section, char* buf, uint32_t cap, uint32_t* needed);
/* Name, identifier and size of the entry at index of a section of the current frame. */
TOVAEXT_API int32_t tovaext_entry_string(uint64_t h, uint16_t section, uint32_t index, char* buf, uint32_t cap,
                                         uint32_t* needed);
/* The entry's data as labelled text; lines end in CR or CR LF as the library renders them. */
TOVAEXT_API int32_t tovaext_data_string(uint64_t h, uint16_t section, uint32_t index, char* buf, uint32_t cap,
                                        uint32_t* needed);
/* Whether the recording's pixels convert to degrees Celsius (calibration table TOVA_DH_TCAL_TABLE_U16/_U32,
   or FLT data unit). */
TOVAEXT_API int32_t tovaext_celsius_available(uint64_t h, int32_t* available);
/* Makes frame current (loads its image) and writes width*height float Celsius values, row by row.
   count = capacity in floats. */
TOVAEXT_API int32_t tovaext_frame_celsius(uint64_t h, uint32_t frame, float* out, uint64_t count);
/* Converts raw pixel values of this recording to degrees Celsius. raw and celsius may be the same array. */
TOVAEXT_API int32_t tovaext_raw_to_celsius(uint64_t h, const double* raw, double* celsius, uint64_t count);
/* Time stamps of all frames: milliseconds since 1970-01-01 of the stored stamp, which carries no time zone;
   INT64_MIN for a frame that stores no stamp of its own or an invalid one. count = capacity; *written receives the number of frames
   (also when count is too small, with nothing else written). The current frame stays current. */
TOVAEXT_API int32_t tovaext_frame_times(uint64_t h, int64_t* ms, uint32_t count, uint32_t* written);
/* UTF-16 text (length code units, no NUL needed) to UTF-8, with the string buffer convention; unpaired
   surrogates become U+FFFD. */
TOVAEXT_API int32_t tovaext_utf16_to_utf8(const uint16_t* text, uint32_t length, char* buf, uint32_t cap,
                                          uint32_t* needed);
/* A narrow entry text (_MBC, Windows-1252 as the library stores it outside Windows) of length bytes, up to
   its first NUL, to UTF-8, with the string buffer convention; bytes the code page leaves undefined become
   U+FFFD. */
TOVAEXT_API int32_t tovaext_narrow_to_utf8(const uint8_t* bytes, uint32_t length, char* buf, uint32_t cap,
                                           uint32_t* needed);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOVA_EXT_H */
