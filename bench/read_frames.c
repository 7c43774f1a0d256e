/* Reads every frame of a recording into one new array through the C library
   directly, as bench/python_read.py does through the tova package (rec[:]),
   and prints the best time of several runs in seconds. The array is obtained
   as numpy obtains a large one on Linux: aligned, with transparent huge pages
   asked for, and first touched by the copies.
   Usage: read_frames FILE RUNS */
#define _GNU_SOURCE
#include "HOLMDAQTova.h"

#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <time.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const int runs = atoi(argv[2]);
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    const double start = Now();
    const uint64_t h = TOVADLL_OPEN_FILE_READ(argv[1]);
    if (h == TOVADLL_INVALID_HANDLE || TOVADLL_READ_FROM_FILE(h, 1, 0) != TOVA_OK) return 1;
    uint32_t frames = 0, copied = 0;
    uint16_t width = 0, height = 0;
    TOVADLL_GET_NUMDATASETS(h, &frames);
    TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX, 2, &width, &copied);
    TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY, 2, &height, &copied);
    const uint32_t size = (uint32_t)width * height * 2;
    const size_t bytes = (size_t)frames * size;
    void* memory = NULL;
    if (posix_memalign(&memory, 4096, bytes ? bytes : 1) != 0) return 1;
#ifdef MADV_HUGEPAGE
    if (bytes >= (4u << 20)) madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    uint8_t* all = memory;
    for (uint32_t i = 0; i < frames; ++i) {
      if (TOVADLL_SET_CURDATASET_EX(h, i, 1) != TOVA_OK ||
          TOVADLL_COPY_ENTRY_DATA(h, TOVA_SECT_Image, TOVA_IM_Data, size, all + (size_t)i * size, &copied) != TOVA_OK)
        return 1;
    }
    TOVADLL_CLOSE_FILE(h);
    free(memory);
    const double took = Now() - start;
    if (took < best) best = took;
  }
  printf("%.6f\n", best);
  return 0;
}
