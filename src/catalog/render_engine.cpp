// The interpreter of entry data layouts: reads the fields of each piece,
// formats them with C printf rules into UTF-16 and concatenates the pieces.
#include "catalog/render_engine.h"

#include <algorithm>
#include <string_view>

#include "platform/byte_order.h"
#include "platform/text.h"

namespace tova::catalog {

namespace {

// Where a piece is being produced.
struct Place {
  const uint8_t* data;    // the data, or the current record of a list
  uint32_t size;          // bytes of data (of the record) that may be read
  uint32_t shift;         // added to every field offset (repeated pieces)
  uint32_t record_no;     // kRecordNo
  uint32_t repeat_no;     // kRepeatNo
  uint32_t record_count;  // kRecordCount
  uint32_t data_length;   // kDataLength
};

// The value of one field, as the conversion that takes it needs it.
struct Value {
  bool is_real = false;
  int64_t integer = 0;
  double real = 0;
  std::u16string text;
};

bool FitsInside(const Field& f, const Place& at) {
  const uint32_t width = FieldWidth(f);
  if (width == 0) return true;
  return static_cast<uint64_t>(at.shift) + f.offset + width <= at.size;
}

bool PieceFits(const Piece& piece, const Place& at) {
  for (const Field& f : piece.fields)
    if (!FitsInside(f, at)) return false;
  // A name needs the value it names.
  for (const Field& f : piece.fields)
    if (f.type == FieldType::kName && !FitsInside(piece.fields[0], at)) return false;
  return true;
}

// Reads a field known to lie inside the data.
Value Read(const Field& f, const Piece& piece, const Place& at) {
  Value v;
  const uint8_t* p = at.data + at.shift + f.offset;
  switch (f.type) {
    case FieldType::kU8: v.integer = *p; break;
    case FieldType::kU16: v.integer = platform::GetU16(p); break;
    case FieldType::kU32: v.integer = platform::GetU32(p); break;
    case FieldType::kI32: v.integer = platform::GetI32(p); break;
    case FieldType::kF32: v.is_real = true; v.real = platform::GetF32(p); break;
    case FieldType::kF64: v.is_real = true; v.real = platform::GetF64(p); break;
    case FieldType::kNarrowText: {
      const char* text = reinterpret_cast<const char*>(p);
      const size_t length = std::find(text, text + f.size, '\0') - text;
      v.text = platform::NarrowTextToUtf16(std::string_view(text, length));
      break;
    }
    case FieldType::kName: {
      const Value named = Read(piece.fields[0], piece, at);
      const char16_t* name = piece.names ? piece.names->NameOf(static_cast<uint32_t>(named.integer)) : u"??";
      v.text = name;
      break;
    }
    case FieldType::kRecordNo: v.integer = at.record_no; break;
    case FieldType::kRepeatNo: v.integer = at.repeat_no; break;
    case FieldType::kRecordCount: v.integer = at.record_count; break;
    case FieldType::kDataLength: v.integer = at.data_length; break;
    case FieldType::kNone: break;
  }
  if (!v.is_real) v.real = static_cast<double>(v.integer);
  return v;
}

bool IsConversionChar(char16_t c) {
  return c == u'-' || c == u'+' || c == u' ' || c == u'#' || c == u'.' || (c >= u'0' && c <= u'9');
}

// Formats one piece: literal text is copied, each conversion (flags, width and
// precision as in printf) takes the next field's value.
void AppendPiece(std::u16string& out, const Piece& piece, const Place& at) {
  int next = 0;
  for (const char16_t* p = piece.format; *p;) {
    if (*p != u'%') {
      out.push_back(*p++);
      continue;
    }
    if (p[1] == u'%') {
      out.push_back(u'%');
      p += 2;
      continue;
    }
    std::string conv = "%";
    for (++p; *p && IsConversionChar(*p); ++p) conv.push_back(static_cast<char>(*p));
    const char16_t conversion = *p;
    if (!conversion || next >= kMaxFields || piece.fields[next].type == FieldType::kNone) return;
    ++p;
    const Value v = Read(piece.fields[next++], piece, at);
    conv.push_back(static_cast<char>(conversion));
    switch (conversion) {
      case u'u': case u'x': case u'X': case u'o':
        platform::AppendFormatU16(out, conv.c_str(), static_cast<unsigned>(v.integer));
        break;
      case u'i': case u'd':
        platform::AppendFormatU16(out, conv.c_str(), static_cast<int>(v.integer));
        break;
      case u'f': case u'e': case u'E': case u'g': case u'G':
        platform::AppendFormatU16(out, conv.c_str(), v.real);
        break;
      case u's':
        platform::AppendFormatU16(out, conv.c_str(), v.text.c_str());
        break;
      default:
        return;
    }
  }
}

// Produces the pieces in order; false when a piece did not fit (the rest is
// left out).
bool RenderPieces(const Rendering& r, Place at, std::u16string& out) {
  for (int i = 0; i < r.piece_count; ++i) {
    const Piece& piece = r.pieces[i];
    for (uint32_t k = 0; k < piece.repeat; ++k) {
      at.shift = k * piece.stride;
      at.repeat_no = k + 1;
      if (!PieceFits(piece, at)) return false;
      AppendPiece(out, piece, at);
    }
  }
  return true;
}

}  // namespace

void Render(const Rendering& r, const uint8_t* data, uint32_t size, std::u16string& out) {
  if (!data) size = 0;
  if (r.special) {
    r.special(data, size, out);
    return;
  }
  Place at{data, size, 0, 0, 0, 0, size};
  if (r.record_size == 0) {
    RenderPieces(r, at, out);
    return;
  }
  const uint32_t count = size / r.record_size;
  if (r.list_header) {
    Piece header{r.list_header, {RecordCount()}};
    at.record_count = count;
    AppendPiece(out, header, at);
    if (count > 0) out.push_back(u'\r');
  }
  for (uint32_t i = 0; i < count; ++i) {
    if (i > 0) out.push_back(u'\r');
    at.data = data + static_cast<size_t>(i) * r.record_size;
    at.size = r.record_size;
    at.record_no = r.first_record_no + i;
    RenderPieces(r, at, out);
  }
}

uint32_t LayoutExtent(const Rendering& r) {
  uint32_t extent = r.record_size;
  for (int i = 0; i < r.piece_count; ++i) {
    const Piece& piece = r.pieces[i];
    const uint32_t last_shift = piece.repeat > 0 ? (piece.repeat - 1u) * piece.stride : 0;
    for (const Field& f : piece.fields)
      if (FieldWidth(f) > 0) extent = std::max(extent, last_shift + f.offset + FieldWidth(f));
  }
  return extent;
}

}  // namespace tova::catalog
