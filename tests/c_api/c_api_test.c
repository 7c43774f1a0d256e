/*
 * The public header compiled as C, and every C export called through the
 * shared library (libHOLMDAQTova.so, or HOLMDAQTova.dll through its import
 * library): unknown handles, null pointers, a memory document with entries and
 * one dataset, dataset buffers, and a file written, read, appended to, saved,
 * renamed and deleted with both the narrow and the _UC path forms.
 *
 * Runs in a directory of its own (the test's working directory) and leaves no
 * file behind. Prints each failed check and a closing "N passed, N failed".
 */
#include "HOLMDAQTova.h"

#include <stdio.h>
#include <string.h>

static int g_passed = 0, g_failed = 0;

/* index: the position of the call in a list of results, or -1. */
static void Check(int ok, int line, const char* what, int index, long long actual, long long expected) {
  ++*(ok ? &g_passed : &g_failed);
  if (!ok) fprintf(stderr, "c_api_test.c:%d: failed: %s[%d] is %lld, expected %lld\n", line, what, index, actual, expected);
}

#define CHECK(cond) Check((cond) != 0, __LINE__, #cond, -1, 0, 1)
#define CHECK_EQ(expected, actual)                                       \
  do {                                                                   \
    const long long e_ = (long long)(expected), a_ = (long long)(actual); \
    Check(e_ == a_, __LINE__, #actual, -1, a_, e_);                      \
  } while (0)
/* A call that succeeds and gives an output value. */
#define CHECK_OUT(call, out, expected) \
  do {                                 \
    CHECK_EQ(0, call);                 \
    CHECK_EQ(expected, out);           \
  } while (0)
/* Every result of a list of calls (made in any order) equals expected. */
#define CHECK_ALL(expected, results)                                                                          \
  do {                                                                                                        \
    size_t i_;                                                                                                \
    for (i_ = 0; i_ < sizeof results / sizeof results[0]; ++i_)                                               \
      Check((long long)results[i_] == (long long)(expected), __LINE__, #results, (int)i_, (long long)results[i_], \
            (long long)(expected));                                                                           \
  } while (0)

#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

/* ASCII path to the library's UTF-16 form. */
static const TOVA_WCHAR* Widen(const char* s, TOVA_WCHAR* out) {
  size_t i = 0;
  for (; s[i] && i < 63; ++i) out[i] = (TOVA_WCHAR)(unsigned char)s[i];
  out[i] = 0;
  return out;
}

/* Unknown handles are refused without touching the outputs. */
static void UnknownHandles(void) {
  const uint64_t bad[] = {0, TOVADLL_INVALID_HANDLE, 0x7777777777ull};
  unsigned i;
  for (i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
    const uint64_t h = bad[i];
    const uint16_t gh = TOVA_SECT_GlobalHeader;
    uint32_t u = 0xA5A5A5A5u, u2 = 0xA5A5A5A5u, u3 = 0xA5A5A5A5u;
    void* p = (void*)&u;
    unsigned char b[8] = {0};
    const int32_t results[] = {
        TOVADLL_CLOSE_FILE(h), TOVADLL_EXIST(h), TOVADLL_READ_FROM_FILE(h, 1, 0),
        TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, NULL), TOVADLL_GET_NUM_ENTRIES(h, gh, &u),
        TOVADLL_COPY_ENTRY_DATA(h, gh, 1, 8, b, &u), TOVADLL_SET_ENTRY(h, gh, 1, 1, b),
        TOVADLL_GET_ENTRY(h, gh, 1, &p, &u, 0), TOVADLL_EXIST_ENTRY(h, gh, 1), TOVADLL_GET_ENTRY_DATASIZE(h, gh, 1, &u),
        TOVADLL_REMOVE_ENTRY(h, gh, 1), TOVADLL_SET_ENTRY_ISOPTIONAL(h, gh, 1, 1), TOVADLL_GET_NUMDATASETS(h, &u),
        TOVADLL_GET_CURDATASET(h, &u), TOVADLL_SET_CURDATASET(h, 0), TOVADLL_SET_CURDATASET_EX(h, 0, 0),
        TOVADLL_REMOVE_DATASET(h, 0), TOVADLL_GET_TOVA_TYPE(h, &u), TOVADLL_GET_MODIFIED(h, &u),
        TOVADLL_SET_MODIFIED(h, 1), TOVADLL_LOCK(h), TOVADLL_UNLOCK(h), TOVADLL_ADD_TOVA(h, h, 1),
        TOVADLL_ADD_TOVA_BUFFERED_WRITE(h, h, b, sizeof b, &u), TOVADLL_SAVE_FILE(h, "x.tova"),
        TOVADLL_GET_BUFFERSIZE(h, &u), TOVADLL_WRITE_TO_BUFFER(h, b, sizeof b, &u),
        TOVADLL_READ_FROM_BUFFER(h, b, sizeof b), TOVADLL_WRITE_TO_BUFFER_EX(h, b, sizeof b, &u, &u2, &u3),
        TOVADLL_READ_FROM_BUFFER_EX(h, b, sizeof b, &u2, &u3)};
    CHECK_ALL(TOVA_ERR_HANDLE, results);
    CHECK(u == 0xA5A5A5A5u && u2 == 0xA5A5A5A5u && u3 == 0xA5A5A5A5u && p == (void*)&u);
  }
}

/* Null paths: opens give the invalid handle, the others 12. */
static void NullPaths(void) {
  TOVA_WCHAR w[64];
  double mb = 7.0;
  const uint64_t mem = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0);
  const uint64_t opened[] = {TOVADLL_OPEN_FILE_READ(NULL),         TOVADLL_OPEN_FILE_READ_UC(NULL),
                             TOVADLL_OPEN_FILE_WRITE(NULL, 0),     TOVADLL_OPEN_FILE_WRITE_UC(NULL, 0),
                             TOVADLL_OPEN_FILE_READWRITE(NULL, 1), TOVADLL_OPEN_FILE_READWRITE_UC(NULL, 1)};
  const int32_t refused[] = {
      TOVADLL_SAVE_FILE(mem, NULL), TOVADLL_SAVE_FILE_UC(mem, NULL), TOVADLL_FILE_DELETE(NULL),
      TOVADLL_FILE_DELETE_UC(NULL), TOVADLL_FILE_RENAME(NULL, "x"), TOVADLL_FILE_RENAME("x", NULL),
      TOVADLL_FILE_RENAME_UC(Widen("x", w), NULL), TOVADLL_FILE_RENAME_UC(NULL, w), TOVADLL_GET_FILE_SIZE(NULL, &mb),
      TOVADLL_GET_FILE_SIZE("x", NULL), TOVADLL_GET_FILE_SIZE_UC(w, NULL), TOVADLL_GET_FILE_SIZE_UC(NULL, &mb),
      TOVADLL_FILE_DELETE_ALL_OLD(NULL, 0), TOVADLL_FILE_DELETE_ALL_OLD_UC(NULL, 0),
      TOVADLL_FILE_DELETE_ALL_OLD_EX(NULL, 0, NULL), TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(NULL, 0, NULL)};
  CHECK_ALL(TOVADLL_INVALID_HANDLE, opened);
  CHECK_ALL(TOVA_ERR_NULL_POINTER, refused);
  CHECK(mb == 7.0);
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(mem));
}

/* A memory document holding one 4 x 2 image; calibration version 0xFFFF
 * spares the device strings in the appends. */
static const unsigned char kPixels[8] = {1, 2, 3, 4, 250, 251, 252, 253};

static uint64_t MakeMemoryDocument(void) {
  const uint16_t four = 4, two = 2;
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &four));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &two));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &four));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &two));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof kPixels, kPixels));
  return h;
}

/* Entries, datasets and state of a memory document, and its dataset buffer. */
static void MemoryDocument(void) {
  const uint16_t gh = TOVA_SECT_GlobalHeader;
  const uint64_t h = MakeMemoryDocument(), r = TOVADLL_OPEN_FILE_READ_BUFFER(), w = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  uint32_t n = 0, size = 0, written = 0, offset = 0, image = 0, offset2 = 0, image2 = 0;
  unsigned char a[256], b[256];
  void* data = NULL;

  CHECK_EQ(TOVA_OK, TOVADLL_EXIST(h));
  CHECK_OUT(TOVADLL_GET_TOVA_TYPE(h, &n), n, TOVA_TYPE_MEMORY);
  CHECK_OUT(TOVADLL_GET_NUM_ENTRIES(h, gh, &n), n, 2);
  CHECK_OUT(TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_Image, TOVA_IM_Data, &size), size, sizeof kPixels);
  CHECK_EQ(TOVA_OK, TOVADLL_GET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, &data, &size, 0));
  CHECK(data != NULL && size == sizeof kPixels && memcmp(data, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(33 - TOVA_EXIST_ENTRY_BIAS, TOVADLL_EXIST_ENTRY(h, gh, TOVA_GH_INFO_DeviceString_MBC));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY_ISOPTIONAL(h, gh, TOVA_GH_INFO_SensorX, 1));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_ENTRY(h, gh, TOVA_GH_Version_MBC, 4, "1.0"));
  CHECK_EQ(TOVA_OK, TOVADLL_REMOVE_ENTRY(h, gh, TOVA_GH_Version_MBC));
  CHECK_OUT(TOVADLL_GET_NUMDATASETS(h, &n), n, 1);
  CHECK_OUT(TOVADLL_GET_CURDATASET(h, &n), n, 0);
  CHECK_EQ(TOVA_ERR_DATASET, TOVADLL_SET_CURDATASET(h, 1));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_CURDATASET_EX(h, 0, 0));
  CHECK_EQ(TOVA_ERR_TOO_FEW_DATASETS, TOVADLL_REMOVE_DATASET(h, 0));
  CHECK_EQ(TOVA_OK, TOVADLL_SET_MODIFIED(h, 0));
  CHECK_OUT(TOVADLL_GET_MODIFIED(h, &n), n, 0);
  CHECK(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_UNLOCK(h) == TOVA_OK);

  /* The dataset as bytes, the image data last; read back and appended again. */
  CHECK_EQ(TOVA_OK, TOVADLL_GET_BUFFERSIZE(h, &size));
  CHECK(size > sizeof kPixels && size <= sizeof a);
  CHECK_OUT(TOVADLL_WRITE_TO_BUFFER(h, a, sizeof a, &written), written, size);
  CHECK_EQ(TOVA_OK, TOVADLL_WRITE_TO_BUFFER_EX(h, b, sizeof b, &written, &offset, &image));
  CHECK(image == sizeof kPixels && offset + image == size && memcmp(a, b, size) == 0);
  CHECK_EQ(TOVA_OK, TOVADLL_READ_FROM_BUFFER(r, a, size));
  CHECK_EQ(TOVA_OK, TOVADLL_READ_FROM_BUFFER_EX(r, a, size, &offset2, &image2));
  CHECK(offset == offset2 && image == image2);
  CHECK_OUT(TOVADLL_ADD_TOVA_BUFFERED_WRITE(w, r, b, sizeof b, &written), written, size);
  CHECK(memcmp(a, b, size) == 0);
  CHECK(TOVADLL_CLOSE_FILE(w) == TOVA_OK && TOVADLL_CLOSE_FILE(r) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_EXIST(h));
}

/* A file written, read, appended to, saved, renamed, sized and deleted. */
static void Files(void) {
  TOVA_WCHAR w1[64], w2[64];
  const uint64_t mem = MakeMemoryDocument();
  uint64_t h;
  uint32_t n = 0, copied = 0;
  unsigned char c[16];
  double mb = -1.0;
  volatile uint8_t cancel = 0;
  volatile uint32_t stop = 1;

  TOVADLL_SET_DLG_SHOW(0);
  h = TOVADLL_OPEN_FILE_WRITE("c_api.tova", 0);
  CHECK_EQ(TOVA_OK, TOVADLL_ADD_TOVA(h, mem, 0));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(h));
  h = TOVADLL_OPEN_FILE_READ("c_api.tova");
  CHECK_EQ(TOVA_OK, TOVADLL_READ_FROM_FILE(h, 1, 0));
  CHECK_OUT(TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof c, c, &copied), copied, sizeof kPixels);
  CHECK(memcmp(c, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(TOVA_OK, TOVADLL_SAVE_FILE(h, "c_api_saved.tova"));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(h));
  /* The first dataset, then the rest in the background scan. */
  h = TOVADLL_OPEN_FILE_READ_UC(Widen("c_api_saved.tova", w1));
  CHECK_EQ(TOVA_OK, TOVADLL_READ_FROM_FILE(h, 0, 0));
  CHECK_EQ(TOVA_OK, TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, &cancel));
  CHECK_EQ(TOVA_OK, TOVADLL_SAVE_FILE_UC(h, Widen("c_api_saved2.tova", w2)));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(h));
  /* A second dataset through a read-write document. */
  h = TOVADLL_OPEN_FILE_READWRITE("c_api.tova", 1);
  CHECK_EQ(TOVA_OK, TOVADLL_ADD_TOVA(h, mem, 0));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(h));
  h = TOVADLL_OPEN_FILE_READWRITE_UC(Widen("c_api.tova", w1), 1);
  CHECK_OUT(TOVADLL_GET_NUMDATASETS(h, &n), n, 2);
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(h));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(TOVADLL_OPEN_FILE_WRITE_UC(Widen("c_api_uc.tova", w1), 0)));
  TOVADLL_SET_DLG_SHOW(1);

  /* Housekeeping. */
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_RENAME("c_api.tova", "c_api_renamed.tova"));
  CHECK_EQ(TOVA_OK, TOVADLL_GET_FILE_SIZE_UC(Widen("c_api_renamed.tova", w1), &mb));
  CHECK(mb > 0.0);
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_RENAME_UC(w1, Widen("c_api_back.tova", w2)));
  CHECK_EQ(TOVA_ERR_FILE_SIZE, TOVADLL_GET_FILE_SIZE("c_api_renamed.tova", &mb));
  CHECK_EQ(TOVA_ERR_DELETE, TOVADLL_FILE_DELETE_ALL_OLD_UC(Widen("*.*", w1), 0));
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_DELETE_ALL_OLD("c_api_no_such_dir" SEP, 0));
  /* A stop flag set before the call: success, nothing touched. */
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_DELETE_ALL_OLD_EX("." SEP, 0, &stop));
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(Widen("." SEP, w1), 0, &stop));
  CHECK_EQ(TOVA_OK, TOVADLL_FILE_DELETE_UC(Widen("c_api_back.tova", w1)));
  {
    const int32_t deleted[] = {TOVADLL_FILE_DELETE("c_api_saved.tova"), TOVADLL_FILE_DELETE("c_api_saved2.tova"),
                               TOVADLL_FILE_DELETE("c_api_uc.tova")};
    CHECK_ALL(0, deleted);
  }
  CHECK_EQ(TOVA_ERR_FILE_SIZE, TOVADLL_GET_FILE_SIZE("c_api_back.tova", &mb));
  CHECK_EQ(TOVA_OK, TOVADLL_CLOSE_FILE(mem));
}

int main(void) {
  UnknownHandles();
  NullPaths();
  MemoryDocument();
  Files();
  printf("c_api_test: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
