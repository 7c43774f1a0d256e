// The fuzz targets, one function per target that takes one input. libFuzzer
// calls them through entry.cpp; the regression test replays saved inputs
// through the same functions, without libFuzzer. Each returns 0; a finding is
// a crash, a sanitizer report or an abort.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tova::fuzz {

// The dataset buffer reader: TOVADLL_READ_FROM_BUFFER_EX on a read-buffer
// document, every dataset's entries read back, and the buffer written again.
int FuzzBufferReader(const uint8_t* data, size_t size);
// The file reader across continuation files: byte 0 picks a small part size
// limit, byte 1 the way of reading; the rest is the byte stream, cut into
// parts at the limit (a trailing stray part when byte 1 asks for one).
int FuzzFileReader(const uint8_t* data, size_t size);
// The three renderings (section, entry, entry data) of every entry of a
// memory document whose entries the input sets: records of
// [section 0..2][identifier u16][length u8][data].
int FuzzRenderings(const uint8_t* data, size_t size);
// Appending a dataset to an existing file (the input), then reading the
// file again.
int FuzzAppend(const uint8_t* data, size_t size);
// A file made of a first dataset (the input's first part) followed by very
// many tiny records (the input's last bytes, repeated): run with
// -rss_limit_mb, it guards the memory a reader spends per record.
int FuzzTinyRecords(const uint8_t* data, size_t size);

// A memory document of one small frame (4 x 3 pixels holding value), the
// frame the append target appends and the seed generator records.
uint64_t MakeSeedFrame(uint16_t value);

}  // namespace tova::fuzz
