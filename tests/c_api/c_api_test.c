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

static int g_passed = 0;
static int g_failed = 0;

#define CHECK(cond)                                                      \
  do {                                                                   \
    if (cond) {                                                          \
      ++g_passed;                                                        \
    } else {                                                             \
      ++g_failed;                                                        \
      fprintf(stderr, "c_api_test.c:%d: check failed: %s\n", __LINE__, #cond); \
    }                                                                    \
  } while (0)

#define CHECK_EQ(expected, actual)                                                        \
  do {                                                                                    \
    long long e_ = (long long)(expected), a_ = (long long)(actual);                       \
    if (e_ == a_) {                                                                       \
      ++g_passed;                                                                         \
    } else {                                                                              \
      ++g_failed;                                                                         \
      fprintf(stderr, "c_api_test.c:%d: %s is %lld, expected %lld\n", __LINE__, #actual, a_, e_); \
    }                                                                                     \
  } while (0)

#ifdef _WIN32
#define SEP "\\"
#else
#define SEP "/"
#endif

/* ASCII path to the library's UTF-16 form. */
static const TOVA_WCHAR* Widen(const char* s, TOVA_WCHAR* out, size_t capacity) {
  size_t i = 0;
  for (; s[i] && i + 1 < capacity; ++i) out[i] = (TOVA_WCHAR)(unsigned char)s[i];
  out[i] = 0;
  return out;
}

static int WriteBytes(const char* path, const char* bytes) {
  FILE* f = fopen(path, "wb");
  if (!f) return 0;
  fputs(bytes, f);
  return fclose(f) == 0;
}

static void UnknownHandles(void) {
  const uint64_t bad[] = {0, TOVADLL_INVALID_HANDLE, 0x7777777777ull};
  unsigned i;
  for (i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
    const uint64_t h = bad[i];
    uint32_t u = 0xA5A5A5A5u, u2 = 0xA5A5A5A5u, u3 = 0xA5A5A5A5u;
    void* p = (void*)&u;
    unsigned char buffer[8] = {0};
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_CLOSE_FILE(h));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_EXIST(h));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_READ_FROM_FILE(h, 1, 0));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, NULL));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_GlobalHeader, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_GlobalHeader, 1, 8, buffer, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, 1, 1, buffer));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_ENTRY(h, TOVA_SECT_GlobalHeader, 1, &p, &u, 0));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, 1));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_GlobalHeader, 1, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_REMOVE_ENTRY(h, TOVA_SECT_GlobalHeader, 1));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SET_ENTRY_ISOPTIONAL(h, TOVA_SECT_GlobalHeader, 1, 1));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_NUMDATASETS(h, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_CURDATASET(h, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SET_CURDATASET(h, 0));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SET_CURDATASET_EX(h, 0, 0));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_REMOVE_DATASET(h, 0));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_TOVA_TYPE(h, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_MODIFIED(h, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SET_MODIFIED(h, 1));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_LOCK(h));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_UNLOCK(h));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_ADD_TOVA(h, h, 1));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_ADD_TOVA_BUFFERED_WRITE(h, h, buffer, sizeof buffer, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_SAVE_FILE(h, "x.tova"));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_GET_BUFFERSIZE(h, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_WRITE_TO_BUFFER(h, buffer, sizeof buffer, &u));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_READ_FROM_BUFFER(h, buffer, sizeof buffer));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_WRITE_TO_BUFFER_EX(h, buffer, sizeof buffer, &u, &u2, &u3));
    CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_READ_FROM_BUFFER_EX(h, buffer, sizeof buffer, &u2, &u3));
    CHECK(u == 0xA5A5A5A5u && u2 == 0xA5A5A5A5u && u3 == 0xA5A5A5A5u && p == (void*)&u);
  }
}

/* A memory document holding one dataset: two global header entries, the image
 * size in the data header, and an image of 8 bytes. Calibration version
 * 0xFFFF spares the device strings in the appends below. */
static const unsigned char kPixels[8] = {1, 2, 3, 4, 250, 251, 252, 253};

static uint64_t MakeMemoryDocument(void) {
  const uint16_t four = 4, one_row = 2;
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK(h != TOVADLL_INVALID_HANDLE && h != 0);
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &four));
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &one_row));
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &four));
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &one_row));
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof kPixels, kPixels));
  return h;
}

static void MemoryDocument(void) {
  uint32_t n = 0, copied = 0, size = 0;
  unsigned char bytes[16];
  void* data = NULL;
  const uint16_t four = 4;
  uint64_t h = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);

  CHECK_EQ(0, TOVADLL_EXIST(h));
  CHECK_EQ(0, TOVADLL_GET_TOVA_TYPE(h, &n));
  CHECK_EQ(TOVA_TYPE_MEMORY, n);
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(h, &n));
  CHECK_EQ(0, n); /* no dataset while the global header is empty */
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(h));
  CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_CLOSE_FILE(h));
  CHECK_EQ(TOVA_ERR_HANDLE, TOVADLL_EXIST(h));

  h = MakeMemoryDocument();
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(h, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, TOVADLL_GET_NUM_ENTRIES(h, TOVA_SECT_GlobalHeader, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, sizeof bytes, bytes, &copied));
  CHECK_EQ(2, copied);
  CHECK(memcmp(bytes, &four, 2) == 0);
  CHECK_EQ(0, TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_Image, TOVA_IM_Data, &size));
  CHECK_EQ(sizeof kPixels, size);
  CHECK_EQ(0, TOVADLL_GET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, &data, &size, 0));
  CHECK(data != NULL && size == sizeof kPixels && memcmp(data, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(0, TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX));
  CHECK_EQ(33 - TOVA_EXIST_ENTRY_BIAS, TOVADLL_EXIST_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC));
  CHECK_EQ(21 - TOVA_EXIST_ENTRY_BIAS, TOVADLL_EXIST_ENTRY(h, 0xFF03, TOVA_GH_INFO_SensorX));
  CHECK_EQ(0, TOVADLL_SET_ENTRY_ISOPTIONAL(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 1));
  CHECK_EQ(1, TOVADLL_SET_ENTRY_ISOPTIONAL(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_DeviceString_MBC, 1));

  /* Required pointers. */
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_GET_NUMDATASETS(h, NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, bytes, NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC, 4, NULL));
  CHECK_EQ(0, TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC, 0, NULL)); /* empty entry */
  CHECK_EQ(0, TOVADLL_REMOVE_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC));
  CHECK_EQ(33, TOVADLL_REMOVE_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_Version_MBC));

  /* Datasets and state. */
  CHECK_EQ(0, TOVADLL_GET_CURDATASET(h, &n));
  CHECK_EQ(0, n);
  CHECK_EQ(0, TOVADLL_SET_CURDATASET(h, 0));
  CHECK_EQ(0, TOVADLL_SET_CURDATASET_EX(h, 0, 0));
  CHECK_EQ(TOVA_ERR_DATASET, TOVADLL_SET_CURDATASET(h, 1));
  CHECK_EQ(TOVA_ERR_TOO_FEW_DATASETS, TOVADLL_REMOVE_DATASET(h, 0));
  CHECK_EQ(0, TOVADLL_SET_MODIFIED(h, 0));
  CHECK_EQ(0, TOVADLL_GET_MODIFIED(h, &n));
  CHECK_EQ(0, n);
  CHECK_EQ(0, TOVADLL_SET_MODIFIED(h, 1));
  CHECK_EQ(0, TOVADLL_GET_MODIFIED(h, &n));
  CHECK(n != 0);
  CHECK_EQ(0, TOVADLL_LOCK(h));
  CHECK_EQ(0, TOVADLL_LOCK(h));
  CHECK_EQ(0, TOVADLL_UNLOCK(h));
  CHECK_EQ(0, TOVADLL_UNLOCK(h));
  CHECK_EQ(TOVA_ERR_NOT_LOCK_OWNER, TOVADLL_UNLOCK(h));
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(h));
}

static void Buffers(void) {
  const uint64_t h = MakeMemoryDocument();
  const uint64_t r = TOVADLL_OPEN_FILE_READ_BUFFER();
  const uint64_t w = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  unsigned char a[256], b[256], c[256];
  uint32_t size = 0, written = 0, offset = 0, image = 0, offset2 = 0, image2 = 0, n = 0, copied = 0;

  CHECK(r != TOVADLL_INVALID_HANDLE && w != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_GET_BUFFERSIZE(h, &size));
  CHECK(size > sizeof kPixels && size <= sizeof a);
  if (size == 0 || size > sizeof a) return;
  CHECK(TOVADLL_WRITE_TO_BUFFER(h, a, size - 1, &written) != 0);
  CHECK_EQ(0, TOVADLL_WRITE_TO_BUFFER(h, a, size, &written));
  CHECK_EQ(size, written);
  CHECK_EQ(0, TOVADLL_WRITE_TO_BUFFER_EX(h, b, size, &written, &offset, &image));
  CHECK(memcmp(a, b, size) == 0);
  /* The image data are the last bytes of the dataset. */
  CHECK_EQ(sizeof kPixels, image);
  CHECK_EQ(size, offset + image);
  CHECK(offset + image <= size && memcmp(b + offset, kPixels, sizeof kPixels) == 0);

  CHECK_EQ(0, TOVADLL_READ_FROM_BUFFER(r, a, written));
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(r, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, TOVADLL_COPY_ENTRY_DATA(r, TOVA_SECT_Image, TOVA_IM_Data, sizeof c, c, &copied));
  CHECK(copied == sizeof kPixels && memcmp(c, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(0, TOVADLL_READ_FROM_BUFFER_EX(r, a, written, &offset2, &image2));
  CHECK_EQ(offset, offset2);
  CHECK_EQ(image, image2);

  /* The buffered append of a first dataset gives the same bytes. */
  CHECK_EQ(0, TOVADLL_ADD_TOVA_BUFFERED_WRITE(w, h, c, sizeof c, &written));
  CHECK_EQ(size, written);
  CHECK(written == size && memcmp(a, c, size) == 0);

  CHECK_EQ(0, TOVADLL_CLOSE_FILE(w));
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(r));
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(h));
}

static void Files(void) {
  TOVA_WCHAR w1[64], w2[64];
  const uint64_t mem = MakeMemoryDocument();
  uint64_t h, rd, rw;
  uint32_t n = 0, copied = 0, buffer_size = 0;
  unsigned char c[16];
  double mb = -1.0;
  volatile uint8_t cancel = 0;
  volatile uint32_t stop = 1;

  CHECK_EQ(0, TOVADLL_GET_BUFFERSIZE(mem, &buffer_size));
  CHECK_EQ(0, TOVADLL_FILE_DELETE("c_api.tova")); /* a missing file counts as deleted */

  /* Write one dataset, read it back. */
  h = TOVADLL_OPEN_FILE_WRITE("c_api.tova", 0);
  CHECK(h != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_GET_TOVA_TYPE(h, &n));
  CHECK_EQ(TOVA_TYPE_WRITE, n);
  TOVADLL_SET_DLG_SHOW(0);
  CHECK_EQ(0, TOVADLL_ADD_TOVA(h, mem, 0));
  TOVADLL_SET_DLG_SHOW(1);
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(h));
  CHECK_EQ(0, TOVADLL_GET_FILE_SIZE("c_api.tova", &mb));
  CHECK(mb == buffer_size / 1048576.0);

  rd = TOVADLL_OPEN_FILE_READ("c_api.tova");
  CHECK(rd != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_READ_FROM_FILE(rd, 1, 0));
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(rd, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, TOVADLL_COPY_ENTRY_DATA(rd, TOVA_SECT_Image, TOVA_IM_Data, sizeof c, c, &copied));
  CHECK(copied == sizeof kPixels && memcmp(c, kPixels, sizeof kPixels) == 0);
  CHECK_EQ(0, TOVADLL_SAVE_FILE(rd, "c_api_saved.tova"));
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(rd));

  /* The first dataset, then the rest in the background scan. */
  rd = TOVADLL_OPEN_FILE_READ_UC(Widen("c_api_saved.tova", w1, 64));
  CHECK(rd != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_READ_FROM_FILE(rd, 0, 0));
  CHECK_EQ(0, TOVADLL_READ_FROM_FILE_AFTER_FIRST(rd, &cancel));
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(rd, &n));
  CHECK_EQ(1, n);
  CHECK_EQ(0, TOVADLL_SAVE_FILE_UC(rd, Widen("c_api_saved2.tova", w2, 64)));
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(rd));

  /* Append a second dataset through a read-write document. */
  rw = TOVADLL_OPEN_FILE_READWRITE("c_api.tova", 1);
  CHECK(rw != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_GET_TOVA_TYPE(rw, &n));
  CHECK_EQ(TOVA_TYPE_READWRITE, n);
  CHECK_EQ(0, TOVADLL_ADD_TOVA(rw, mem, 0));
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(rw, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(rw));
  rw = TOVADLL_OPEN_FILE_READWRITE_UC(Widen("c_api.tova", w1, 64), 1);
  CHECK(rw != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_GET_NUMDATASETS(rw, &n));
  CHECK_EQ(2, n);
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(rw));
  h = TOVADLL_OPEN_FILE_WRITE_UC(Widen("c_api_uc.tova", w1, 64), 0);
  CHECK(h != TOVADLL_INVALID_HANDLE);
  CHECK_EQ(0, TOVADLL_CLOSE_FILE(h));

  /* Housekeeping, narrow and _UC. */
  CHECK_EQ(0, TOVADLL_FILE_RENAME("c_api.tova", "c_api_renamed.tova"));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READ("c_api.tova"));
  CHECK_EQ(0, TOVADLL_GET_FILE_SIZE_UC(Widen("c_api_renamed.tova", w1, 64), &mb));
  CHECK(mb > 0.0);
  CHECK_EQ(0, TOVADLL_FILE_RENAME_UC(w1, Widen("c_api_back.tova", w2, 64)));
  CHECK_EQ(TOVA_ERR_FILE_SIZE, TOVADLL_GET_FILE_SIZE("c_api_renamed.tova", &mb));
  CHECK(mb == 0.0);
  CHECK_EQ(TOVA_ERR_RENAME, TOVADLL_FILE_RENAME("c_api_missing.tova", "c_api_other.tova"));
  CHECK_EQ(TOVA_ERR_DELETE, TOVADLL_FILE_DELETE_ALL_OLD("", 0));
  CHECK_EQ(TOVA_ERR_DELETE, TOVADLL_FILE_DELETE_ALL_OLD_UC(Widen("*.*", w1, 64), 0));
  CHECK_EQ(0, TOVADLL_FILE_DELETE_ALL_OLD("c_api_no_such_dir" SEP, 0));
  /* A stop flag set before the call: success, nothing touched. */
  CHECK_EQ(0, TOVADLL_FILE_DELETE_ALL_OLD_EX("." SEP, 0, &stop));
  CHECK_EQ(0, TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(Widen("." SEP, w1, 64), 0, &stop));
  CHECK_EQ(0, TOVADLL_GET_FILE_SIZE("c_api_back.tova", &mb));
  CHECK(WriteBytes("c_api_plain.tova", "TOVA"));
  CHECK_EQ(0, TOVADLL_FILE_DELETE_UC(Widen("c_api_plain.tova", w1, 64)));
  CHECK_EQ(TOVA_ERR_FILE_SIZE, TOVADLL_GET_FILE_SIZE("c_api_plain.tova", &mb));
  CHECK_EQ(0, TOVADLL_FILE_DELETE("c_api_back.tova"));
  CHECK_EQ(0, TOVADLL_FILE_DELETE("c_api_saved.tova"));
  CHECK_EQ(0, TOVADLL_FILE_DELETE("c_api_saved2.tova"));
  CHECK_EQ(0, TOVADLL_FILE_DELETE("c_api_uc.tova"));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READ("c_api_back.tova"));

  /* Null paths: opens give the invalid handle, the others 12. */
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READ(NULL));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READ_UC(NULL));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_WRITE(NULL, 0));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_WRITE_UC(NULL, 0));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READWRITE(NULL, 1));
  CHECK_EQ(TOVADLL_INVALID_HANDLE, TOVADLL_OPEN_FILE_READWRITE_UC(NULL, 1));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_SAVE_FILE(mem, NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_SAVE_FILE_UC(mem, NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE(NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE_UC(NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_RENAME(NULL, "x.tova"));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_RENAME_UC(Widen("x.tova", w1, 64), NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_GET_FILE_SIZE(NULL, &mb));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_GET_FILE_SIZE_UC(Widen("x.tova", w1, 64), NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE_ALL_OLD(NULL, 0));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE_ALL_OLD_UC(NULL, 0));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE_ALL_OLD_EX(NULL, 0, NULL));
  CHECK_EQ(TOVA_ERR_NULL_POINTER, TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(NULL, 0, NULL));

  CHECK_EQ(0, TOVADLL_CLOSE_FILE(mem));
}

int main(void) {
  UnknownHandles();
  MemoryDocument();
  Buffers();
  Files();
  printf("c_api_test: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
