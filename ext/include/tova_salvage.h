/*
 * Salvage of damaged TOVA documents: a recorder that dies while appending
 * leaves a torn last dataset, and the library then refuses the whole file
 * (TOVA_ERR_READ). The salvage keeps every whole dataset of the main file and
 * its continuation files and drops what follows the last one: a torn dataset,
 * stray bytes, continuation files the reader would never enter.
 *
 * It walks the section and entry records itself (lengths and identifiers
 * only, the same rules as the library's reader) and then reads the result
 * with the library to confirm that it reads cleanly.
 *
 * Paths are UTF-8. A file that reads cleanly and has nothing to cut is never
 * changed. All calls return TOVA_OK, TOVA_ERR_NULL_POINTER, TOVA_ERR_OPEN
 * (the main file cannot be opened) or a TOVAEXT_ERR_SALVAGE_* code below; the
 * report is filled in every case but a null argument.
 */
#ifndef TOVA_SALVAGE_H
#define TOVA_SALVAGE_H

#include <stdint.h>

#ifndef TOVAEXT_API
#  if defined(_WIN32)
#    if defined(TOVA_EXT_BUILDING)
#      define TOVAEXT_API __declspec(dllexport)
#    else
#      define TOVAEXT_API __declspec(dllimport)
#    endif
#  else
#    define TOVAEXT_API __attribute__((visibility("default")))
#  endif
#endif

#define TOVAEXT_ERR_SALVAGE_NOTHING    2010 /* not one whole dataset: nothing was changed */
#define TOVAEXT_ERR_SALVAGE_IO         2011 /* a file could not be read, written, cut or removed */
#define TOVAEXT_ERR_SALVAGE_UNREADABLE 2012 /* the result does not read cleanly (see read_after) */
#define TOVAEXT_ERR_SALVAGE_SAME_FILE  2013 /* out_path names the damaged document itself */
#define TOVAEXT_ERR_SALVAGE_REFUSED    2014 /* the library reads more datasets than would be kept: nothing changed */

/* What ended the record walk after the last whole dataset. */
#define TOVAEXT_SALVAGE_STOP_END            0 /* the data ended (a single trailing byte is ignored, as the reader does) */
#define TOVAEXT_SALVAGE_STOP_TORN           1 /* a record runs past the end of the data */
#define TOVAEXT_SALVAGE_STOP_SECTION_LENGTH 2 /* a section length below 6 */
#define TOVAEXT_SALVAGE_STOP_SECTION_ID     3 /* an identifier that names no section */
#define TOVAEXT_SALVAGE_STOP_ENTRY_RECORD   4 /* an entry record below 6 bytes or running past its section */

typedef struct tovaext_salvage_report {
  uint32_t datasets_kept;    /* whole datasets that the result holds */
  uint32_t datasets_dropped; /* datasets begun after the last whole one (torn, or a lone section) */
  uint64_t bytes_kept;       /* bytes up to the end of the last whole dataset, over all parts */
  uint64_t bytes_cut;        /* bytes after it, stray continuation files included */
  uint32_t parts_kept;       /* main file and continuation files holding kept bytes */
  uint32_t parts_removed;    /* continuation files beyond them: removed, or not copied to out_path */
  int32_t read_before;       /* TOVADLL_READ_FROM_FILE on the document as found (0: it read) */
  int32_t read_after;        /* the same on the result; -1 when it was not read */
  uint32_t stop;             /* TOVAEXT_SALVAGE_STOP_* */
  uint32_t stop_part;        /* where the walk stopped: part number ... */
  uint64_t stop_offset;      /* ... and byte offset in that part */
  uint32_t changed;          /* nonzero when a file was written, cut or removed */
} tovaext_salvage_report;

#ifdef __cplusplus
extern "C" {
#endif

/* Looks at the document at path and fills the report; changes nothing. TOVA_OK
   when it could be looked at: bytes_cut and parts_removed tell whether a
   salvage would change anything, read_before whether it reads today. */
TOVAEXT_API int32_t tovaext_salvage_check(const char* path, tovaext_salvage_report* report);

/* Salvages the document at path. out_path null: in place, by cutting the last
   part in use back to the end of the last whole dataset and removing the
   continuation files beyond it. Otherwise the kept bytes are written as a new
   document at out_path (its own continuation files as needed; whatever
   document was there before is replaced) and path is not changed.
   TOVA_OK when the result reads cleanly with the library's reader. */
TOVAEXT_API int32_t tovaext_salvage(const char* path, const char* out_path, tovaext_salvage_report* report);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOVA_SALVAGE_H */
