/* The public header compiled as C, and every C export called through the shared library (or the DLL's import
 * library): a memory document and its buffers; a file written, read, appended to, saved, renamed and deleted with
 * narrow and _UC paths. Refusals are the API tests' concern. Leaves no file; prints "N passed, N failed". */
#include "HOLMDAQTova.h"

#include <stdio.h>
#include <string.h>

static int g_passed = 0, g_failed = 0;

static void Check(int ok, int line, const char* what) {
  ++*(ok ? &g_passed : &g_failed);
  if (!ok) fprintf(stderr, "c_api_test.c:%d: failed: %s\n", line, what);
}

#define CHECK(cond) Check((cond) != 0, __LINE__, #cond)
#define CHECK_OK(call) CHECK((call) == TOVA_OK)

/* A path in the library's UTF-16 form, and the directory separator. */
#ifdef _WIN32
#define W_(s) L##s
#define SEP "\\"
#else
#define W_(s) u##s
#define SEP "/"
#endif
#define W(s) W_(s)

/* A memory document holding one 4 x 2 image; calibration version 0xFFFF spares the device strings in the appends. */
static const unsigned char kPixels[8] = {1, 2, 3, 4, 250, 251, 252, 253};

static uint64_t MakeMemoryDocument(void) {
  const uint16_t four = 4, two = 2;
  const uint64_t h = TOVADLL_OPEN_FILE_MEM(0, TOVA_DATAUNIT_U16, 0xFFFF);
  CHECK(TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorX, 2, &four) == TOVA_OK &&
        TOVADLL_SET_ENTRY(h, TOVA_SECT_GlobalHeader, TOVA_GH_INFO_SensorY, 2, &two) == TOVA_OK);
  CHECK(TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &four) == TOVA_OK &&
        TOVADLL_SET_ENTRY(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &two) == TOVA_OK);
  CHECK_OK(TOVADLL_SET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof kPixels, kPixels));
  return h;
}

/* Entries, datasets and state of a memory document, and its dataset buffer. */
static void MemoryDocument(void) {
  const uint16_t gh = TOVA_SECT_GlobalHeader;
  const uint64_t h = MakeMemoryDocument(), r = TOVADLL_OPEN_FILE_READ_BUFFER(), w = TOVADLL_OPEN_FILE_WRITE_BUFFER();
  uint32_t n = 0, size = 0, written = 0, offset = 0, image = 0, offset2 = 0, image2 = 0;
  unsigned char a[256], b[256];
  void* data = NULL;

  CHECK(TOVADLL_EXIST(h) == TOVA_OK && TOVADLL_GET_TOVA_TYPE(h, &n) == TOVA_OK && n == TOVA_TYPE_MEMORY);
  CHECK(TOVADLL_GET_NUM_ENTRIES(h, gh, &n) == TOVA_OK && n == 2);
  CHECK(TOVADLL_GET_ENTRY_DATASIZE(h, TOVA_SECT_Image, TOVA_IM_Data, &size) == TOVA_OK && size == sizeof kPixels);
  CHECK(TOVADLL_GET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, &data, &size, 0) == TOVA_OK && size == sizeof kPixels);
  CHECK(data != NULL && memcmp(data, kPixels, sizeof kPixels) == 0);
  CHECK(TOVADLL_EXIST_ENTRY(h, gh, TOVA_GH_INFO_DeviceString_MBC) == 33 - TOVA_EXIST_ENTRY_BIAS);
  CHECK_OK(TOVADLL_SET_ENTRY_ISOPTIONAL(h, gh, TOVA_GH_INFO_SensorX, 1));
  CHECK(TOVADLL_SET_ENTRY(h, gh, TOVA_GH_Version_MBC, 4, "1.0") == TOVA_OK &&
        TOVADLL_REMOVE_ENTRY(h, gh, TOVA_GH_Version_MBC) == TOVA_OK);
  CHECK(TOVADLL_GET_NUMDATASETS(h, &n) == TOVA_OK && n == 1 && TOVADLL_GET_CURDATASET(h, &n) == TOVA_OK && n == 0);
  CHECK(TOVADLL_SET_CURDATASET(h, 1) == TOVA_ERR_DATASET && TOVADLL_SET_CURDATASET_EX(h, 0, 0) == TOVA_OK);
  CHECK(TOVADLL_REMOVE_DATASET(h, 0) == TOVA_ERR_TOO_FEW_DATASETS);
  CHECK(TOVADLL_SET_MODIFIED(h, 0) == TOVA_OK && TOVADLL_GET_MODIFIED(h, &n) == TOVA_OK && n == 0);
  CHECK(TOVADLL_LOCK(h) == TOVA_OK && TOVADLL_UNLOCK(h) == TOVA_OK);

  /* The dataset as bytes, the image data last; read back and appended again. */
  CHECK(TOVADLL_GET_BUFFERSIZE(h, &size) == TOVA_OK && size > sizeof kPixels && size <= sizeof a);
  CHECK(TOVADLL_WRITE_TO_BUFFER(h, a, sizeof a, &written) == TOVA_OK && written == size);
  CHECK_OK(TOVADLL_WRITE_TO_BUFFER_EX(h, b, sizeof b, &written, &offset, &image));
  CHECK(image == sizeof kPixels && offset + image == size && memcmp(a, b, size) == 0);
  CHECK_OK(TOVADLL_READ_FROM_BUFFER(r, a, size));
  CHECK(TOVADLL_READ_FROM_BUFFER_EX(r, a, size, &offset2, &image2) == TOVA_OK && offset == offset2 && image == image2);
  CHECK(TOVADLL_ADD_TOVA_BUFFERED_WRITE(w, r, b, sizeof b, &written) == TOVA_OK && written == size);
  CHECK(memcmp(a, b, size) == 0);
  CHECK(TOVADLL_CLOSE_FILE(w) == TOVA_OK && TOVADLL_CLOSE_FILE(r) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  CHECK(TOVADLL_EXIST(h) == TOVA_ERR_HANDLE);
}

/* A file written, read, appended to, saved, renamed, sized and deleted. */
static void Files(void) {
  const uint64_t mem = MakeMemoryDocument();
  uint64_t h;
  uint32_t n = 0, copied = 0;
  unsigned char c[16];
  double mb = -1.0;
  volatile uint8_t cancel = 0;
  volatile uint32_t stop = 1;

  TOVADLL_SET_DLG_SHOW(0);
  h = TOVADLL_OPEN_FILE_WRITE("c_api.tova", 0);
  CHECK(TOVADLL_ADD_TOVA(h, mem, 0) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  h = TOVADLL_OPEN_FILE_READ("c_api.tova");
  CHECK(TOVADLL_READ_FROM_FILE(h, 1, 0) == TOVA_OK &&
        TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, sizeof c, c, &copied) == TOVA_OK);
  CHECK(copied == sizeof kPixels && memcmp(c, kPixels, sizeof kPixels) == 0);
  CHECK(TOVADLL_SAVE_FILE(h, "c_api_saved.tova") == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  h = TOVADLL_OPEN_FILE_READ_UC(W("c_api_saved.tova")); /* the first dataset, then the rest in the background */
  CHECK(TOVADLL_READ_FROM_FILE(h, 0, 0) == TOVA_OK && TOVADLL_READ_FROM_FILE_AFTER_FIRST(h, &cancel) == TOVA_OK);
  CHECK(TOVADLL_SAVE_FILE_UC(h, W("c_api_saved2.tova")) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  h = TOVADLL_OPEN_FILE_READWRITE("c_api.tova", 1);
  CHECK(TOVADLL_ADD_TOVA(h, mem, 0) == TOVA_OK && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  h = TOVADLL_OPEN_FILE_READWRITE_UC(W("c_api.tova"), 1);
  CHECK(TOVADLL_GET_NUMDATASETS(h, &n) == TOVA_OK && n == 2 && TOVADLL_CLOSE_FILE(h) == TOVA_OK);
  CHECK_OK(TOVADLL_CLOSE_FILE(TOVADLL_OPEN_FILE_WRITE_UC(W("c_api_uc.tova"), 0)));
  TOVADLL_SET_DLG_SHOW(1);

  /* Housekeeping; a stop flag set before the call: success, nothing touched. */
  CHECK(TOVADLL_FILE_RENAME("c_api.tova", "c_api_renamed.tova") == TOVA_OK &&
        TOVADLL_GET_FILE_SIZE_UC(W("c_api_renamed.tova"), &mb) == TOVA_OK && mb > 0.0);
  CHECK_OK(TOVADLL_FILE_RENAME_UC(W("c_api_renamed.tova"), W("c_api_back.tova")));
  CHECK(TOVADLL_FILE_DELETE_ALL_OLD("c_api_no_such_dir" SEP, 0) == TOVA_OK &&
        TOVADLL_FILE_DELETE_ALL_OLD_UC(W("c_api_no_such_dir" SEP), 0) == TOVA_OK);
  CHECK(TOVADLL_FILE_DELETE_ALL_OLD_EX("." SEP, 0, &stop) == TOVA_OK &&
        TOVADLL_FILE_DELETE_ALL_OLD_EX_UC(W("." SEP), 0, &stop) == TOVA_OK);
  CHECK(TOVADLL_FILE_DELETE_UC(W("c_api_back.tova")) == TOVA_OK && TOVADLL_FILE_DELETE("c_api_saved.tova") == TOVA_OK);
  CHECK(TOVADLL_FILE_DELETE("c_api_saved2.tova") == TOVA_OK && TOVADLL_FILE_DELETE("c_api_uc.tova") == TOVA_OK);
  CHECK(TOVADLL_GET_FILE_SIZE("c_api_back.tova", &mb) == TOVA_ERR_FILE_SIZE); /* all gone */
  CHECK_OK(TOVADLL_CLOSE_FILE(mem));
}

int main(void) {
  MemoryDocument();
  Files();
  printf("c_api_test: %d passed, %d failed\n", g_passed, g_failed);
  return g_failed == 0 ? 0 : 1;
}
