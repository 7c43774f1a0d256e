// The layout language in which the catalogue describes entry data, and the
// one interpreter that turns an entry's bytes into text with it.
//
// A rendering is a list of pieces. A piece is a printf-style UTF-16 format
// whose conversions take, in order, the values of the piece's fields: numbers
// read little-endian at an offset of the data, a narrow text of fixed size, the
// name of an enumerated value, or a number the interpreter supplies (record
// number, repetition number, record count, data length). The pieces are
// produced in order and simply concatenated.
//
// Nothing beyond the data is ever read: a piece is produced only when all its
// fields lie wholly inside the data, and the first piece that does not fit
// ends the rendering (a short entry renders the prefix of its layout).
//
// A list rendering repeats its pieces for every whole record of the data, with
// one CR between two records, after an optional header that names the record
// count. Irregular renderings (the entry texts) are functions instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>

namespace tova::catalog {

enum class FieldType : uint8_t {
  kNone = 0,     // unused slot
  kU8,           // unsigned byte
  kU16,          // unsigned 16-bit
  kU32,          // unsigned 32-bit
  kI32,          // signed 32-bit
  kF32,          // IEEE single, widened to double for formatting
  kF64,          // IEEE double
  kNarrowText,   // narrow text of `size` bytes, ended by NUL or by its size
  kName,         // the name of the value of the piece's first field
  kRecordNo,     // number of the record in a list
  kRepeatNo,     // number of the repetition of a repeated piece, from 1
  kRecordCount,  // number of whole records of a list (its header)
  kDataLength,   // the entry's data length in bytes
};

struct Field {
  uint16_t offset = 0;  // from the start of the data (of the record in a list)
  FieldType type = FieldType::kNone;
  uint8_t size = 0;  // kNarrowText only: bytes the text occupies
};

constexpr Field U8(uint16_t offset) { return {offset, FieldType::kU8}; }
constexpr Field U16(uint16_t offset) { return {offset, FieldType::kU16}; }
constexpr Field U32(uint16_t offset) { return {offset, FieldType::kU32}; }
constexpr Field I32(uint16_t offset) { return {offset, FieldType::kI32}; }
constexpr Field F32(uint16_t offset) { return {offset, FieldType::kF32}; }
constexpr Field F64(uint16_t offset) { return {offset, FieldType::kF64}; }
constexpr Field NarrowText(uint16_t offset, uint8_t size) { return {offset, FieldType::kNarrowText, size}; }
constexpr Field Name() { return {0, FieldType::kName}; }
constexpr Field RecordNo() { return {0, FieldType::kRecordNo}; }
constexpr Field RepeatNo() { return {0, FieldType::kRepeatNo}; }
constexpr Field RecordCount() { return {0, FieldType::kRecordCount}; }
constexpr Field DataLength() { return {0, FieldType::kDataLength}; }

// Bytes of the data a field occupies (0 for the values the interpreter supplies).
constexpr uint32_t FieldWidth(const Field& f) {
  switch (f.type) {
    case FieldType::kU8: return 1;
    case FieldType::kU16: return 2;
    case FieldType::kU32: case FieldType::kI32: case FieldType::kF32: return 4;
    case FieldType::kF64: return 8;
    case FieldType::kNarrowText: return f.size;
    default: return 0;
  }
}

// The texts of an enumeration; values outside the table get the fallback.
struct NamedValue {
  uint32_t value;
  const char16_t* text;
};
struct ValueNames {
  template <size_t N>
  constexpr ValueNames(const NamedValue (&named)[N], const char16_t* fallback_text = u"??")
      : values(named), count(N), fallback(fallback_text) {}
  const char16_t* NameOf(uint32_t value) const {
    for (size_t i = 0; i < count; ++i)
      if (values[i].value == value) return values[i].text;
    return fallback;
  }
  const NamedValue* values;
  size_t count;
  const char16_t* fallback;
};

inline constexpr int kMaxFields = 5;
inline constexpr int kMaxPieces = 8;

struct Piece {
  const char16_t* format = nullptr;
  Field fields[kMaxFields] = {};      // the arguments of the format's conversions, in order
  const ValueNames* names = nullptr;  // for a kName field: the texts of the first field's value
  uint16_t repeat = 1;                // times the piece is produced ...
  uint16_t stride = 0;                // ... its data fields moved on by stride bytes each time
};

// An irregular rendering: writes the text of size bytes of data.
using SpecialRenderer = void (*)(const uint8_t* data, uint32_t size, std::u16string& out);

struct Rendering {
  Piece pieces[kMaxPieces] = {};
  uint8_t piece_count = 0;
  uint16_t record_size = 0;               // list: bytes per record; 0 for a fixed layout
  uint8_t first_record_no = 0;            // list: number of the first record
  const char16_t* list_header = nullptr;  // list: header format taking the record count
  SpecialRenderer special = nullptr;      // irregular rendering in place of the pieces
};

// ---- building renderings (evaluated at compile time; an overfull layout does not compile)

constexpr Rendering Layout(std::initializer_list<Piece> pieces) {
  if (pieces.size() > kMaxPieces) throw std::logic_error("too many pieces");
  Rendering r{};
  for (const Piece& p : pieces) r.pieces[r.piece_count++] = p;
  return r;
}

// One piece: a format and its fields.
template <typename... F>
constexpr Rendering One(const char16_t* format, F... fields) {
  static_assert(sizeof...(F) <= kMaxFields, "too many fields");
  return Layout({Piece{format, {fields...}}});
}

// An enumerated value: "%u: " and the text of the value.
constexpr Rendering Enum(Field value, const ValueNames& names) {
  return Layout({Piece{u"%u: %s", {value, Name()}, &names}});
}

// A piece produced count times, its fields moved on by stride each time.
constexpr Piece Repeated(uint16_t count, uint16_t stride, Piece piece) {
  piece.repeat = count;
  piece.stride = stride;
  return piece;
}

// A list of records of record_size bytes, numbered from first_no; header, when
// given, is a format taking the record count, followed by CR when records follow.
constexpr Rendering List(uint16_t record_size, uint8_t first_no, const char16_t* header,
                         std::initializer_list<Piece> pieces) {
  Rendering r = Layout(pieces);
  r.record_size = record_size;
  r.first_record_no = first_no;
  r.list_header = header;
  return r;
}

constexpr Rendering Special(SpecialRenderer renderer) {
  Rendering r{};
  r.special = renderer;
  return r;
}

// ---- interpreting

// Appends the text of size bytes of data (data may be null when size is 0).
void Render(const Rendering& rendering, const uint8_t* data, uint32_t size, std::u16string& out);

// Bytes from the start of the data that a fixed layout's fields cover (for a
// list: one record). The data length at which the whole layout is produced.
uint32_t LayoutExtent(const Rendering& rendering);

}  // namespace tova::catalog
