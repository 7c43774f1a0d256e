// The companion library: renderings as UTF-8, conversion of raw pixel values
// to degrees Celsius, and frame time stamps, all over the public API.
#include "tova_ext.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "HOLMDAQTova.h"

namespace {

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
float GetF32(const uint8_t* p) {
  const uint32_t bits = GetU32(p);
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Holds the document's lock for the life of the object.
class Lock {
 public:
  explicit Lock(uint64_t h) : h_(h), rc_(TOVADLL_LOCK(h)) {}
  ~Lock() {
    if (rc_ == TOVA_OK) TOVADLL_UNLOCK(h_);
  }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  int32_t rc() const { return rc_; }

 private:
  uint64_t h_;
  int32_t rc_;
};

// ---- text ------------------------------------------------------------------

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

template <typename Unit>
std::string Utf16ToUtf8(const Unit* text, size_t length) {
  std::string out;
  out.reserve(length);
  for (size_t i = 0; i < length; ++i) {
    const uint32_t unit = static_cast<uint16_t>(text[i]);
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
      const uint32_t low = static_cast<uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        ++i;
        continue;
      }
    }
    AppendUtf8(out, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFDu : unit);
  }
  return out;
}

int32_t Deliver(const std::string& text, char* buf, uint32_t cap, uint32_t* needed) {
  if (!needed) return TOVA_ERR_NULL_POINTER;
  if (text.size() >= std::numeric_limits<uint32_t>::max()) return TOVA_ERR_NO_MEMORY;
  const uint32_t size = static_cast<uint32_t>(text.size() + 1);
  *needed = size;
  if (cap < size) return TOVAEXT_ERR_BUFFER_TOO_SMALL;
  if (!buf) return TOVA_ERR_NULL_POINTER;
  std::memcpy(buf, text.c_str(), size);
  return TOVA_OK;
}

// Runs one of the library's rendering calls and hands its text over as UTF-8.
template <typename Render>
int32_t Rendered(Render render, char* buf, uint32_t cap, uint32_t* needed) {
  if (!needed) return TOVA_ERR_NULL_POINTER;
  try {
    TOVA_WSTRING text;
    const int32_t rc = render(text);
    if (rc != TOVA_OK) return rc;
    return Deliver(Utf16ToUtf8(text.data(), text.size()), buf, cap, needed);
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

// ---- entries ---------------------------------------------------------------

bool Absent(int32_t rc) { return rc == TOVA_ERR_NO_ENTRY || rc == TOVA_ERR_NO_SECTION; }

// The data of an entry of the current frame. A per-frame entry that the frame
// does not carry is answered by the copy with the first frame's value, whose
// size only the copy itself can tell; own_only refuses that answer.
int32_t ReadEntry(uint64_t h, uint16_t section, uint16_t id, std::vector<uint8_t>& data, bool own_only = false) {
  uint32_t size = 0, copied = 0;
  const int32_t size_rc = TOVADLL_GET_ENTRY_DATASIZE(h, section, id, &size);
  if (size_rc == TOVA_OK) {
    data.resize(size);
    const int32_t rc = TOVADLL_COPY_ENTRY_DATA(h, section, id, size, size ? data.data() : nullptr, &copied);
    if (rc == TOVA_OK) data.resize(copied);
    return rc;
  }
  if (!Absent(size_rc) || own_only) return size_rc;
  for (uint32_t capacity = 64;; capacity *= 2) {
    data.resize(capacity);
    const int32_t rc = TOVADLL_COPY_ENTRY_DATA(h, section, id, capacity, data.data(), &copied);
    if (rc == TOVA_OK) data.resize(copied);
    if (rc != TOVA_ERR_BUFFER_TOO_SMALL || capacity >= (1u << 30)) return rc;
  }
}

// A u16 entry of the data header; fallback when it is missing or short.
int32_t ReadU16(uint64_t h, uint16_t id, uint16_t fallback, bool& present, uint16_t& value) {
  std::vector<uint8_t> data;
  const int32_t rc = ReadEntry(h, TOVA_SECT_DataHeader, id, data);
  present = rc == TOVA_OK && data.size() >= 2;
  value = present ? GetU16(data.data()) : fallback;
  return Absent(rc) ? TOVA_OK : rc;
}

// ---- conversion to degrees Celsius -----------------------------------------

// TOVA_DH_TCAL_TABLE_U16 (536 bytes) and _U32 (1048 bytes): value i is the
// raw pixel value at table_start + i * step degrees Celsius.
struct CalibrationTable {
  double start = 0, step = 0;
  std::array<uint32_t, 256> values{};

  static bool Parse(const std::vector<uint8_t>& data, size_t width, CalibrationTable& t) {
    if (data.size() < (width == 2 ? 536u : 1048u)) return false;
    const uint8_t* p = data.data();
    const float start = GetF32(p + 12), step = GetF32(p + 16);
    t.start = start;
    t.step = step;
    for (size_t i = 0; i < 256; ++i) t.values[i] = width == 2 ? GetU16(p + 20 + 2 * i) : GetU32(p + 20 + 4 * i);
    // Usable only with a positive step and strictly rising values.
    if (!std::isfinite(start) || !std::isfinite(step) || step <= 0) return false;
    for (size_t i = 1; i < t.values.size(); ++i)
      if (t.values[i] <= t.values[i - 1]) return false;
    return true;
  }

  // Linear between table points, extended beyond the ends along the end segments.
  double ToCelsius(double raw) const {
    const auto it = std::lower_bound(values.begin() + 1, values.end() - 1, raw,
                                     [](uint32_t v, double r) { return v < r; });
    const size_t hi = static_cast<size_t>(it - values.begin());
    const double v0 = values[hi - 1], v1 = values[hi];
    const double t0 = start + static_cast<double>(hi - 1) * step;
    return t0 + (raw - v0) / (v1 - v0) * step;
  }
};

struct Conversion {
  enum class Kind { kNone, kTable, kIdentity } kind = Kind::kNone;
  CalibrationTable table;

  double ToCelsius(double raw) const { return kind == Kind::kTable ? table.ToCelsius(raw) : raw; }
};

int32_t LoadConversion(uint64_t h, Conversion& conversion) {
  bool present = false;
  uint16_t unit = 0;
  if (int32_t rc = ReadU16(h, TOVA_DH_DREC_DataUnit, TOVA_DATAUNIT_U16, present, unit)) return rc;
  if (unit == TOVA_DATAUNIT_FLT) {
    conversion.kind = Conversion::Kind::kIdentity;
    return TOVA_OK;
  }
  std::vector<uint8_t> data;
  for (const auto& [id, width] : {std::pair<uint16_t, size_t>{TOVA_DH_TCAL_TABLE_U16, 2},
                                  std::pair<uint16_t, size_t>{TOVA_DH_TCAL_TABLE_U32, 4}}) {
    const int32_t rc = ReadEntry(h, TOVA_SECT_DataHeader, id, data);
    if (rc != TOVA_OK && !Absent(rc)) return rc;
    // A table of full length settles it, usable or not; a missing or short
    // one leaves the question to the other kind.
    if (rc == TOVA_OK && data.size() >= (width == 2 ? 536u : 1048u)) {
      if (CalibrationTable::Parse(data, width, conversion.table)) conversion.kind = Conversion::Kind::kTable;
      return TOVA_OK;
    }
  }
  return TOVA_OK;
}

// ---- time stamps -------------------------------------------------------------

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// TOVA_DH_DREC_TimeStamp: eight u16, year, month, day of week, day, hour,
// minute, second, millisecond.
int64_t StampMilliseconds(const std::vector<uint8_t>& data) {
  if (data.size() < 16) return INT64_MIN;
  uint16_t f[8];
  for (size_t i = 0; i < 8; ++i) f[i] = GetU16(data.data() + 2 * i);
  const unsigned month = f[1], day = f[3], hour = f[4], minute = f[5], second = f[6], ms = f[7];
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || ms > 999)
    return INT64_MIN;
  const int64_t days = DaysFromCivil(f[0], month, day);
  return ((days * 24 + hour) * 60 + minute) * 60000 + second * 1000 + ms;
}

}  // namespace

extern "C" {

int32_t tovaext_section_string(uint64_t h, uint16_t section, char* buf, uint32_t cap, uint32_t* needed) {
  return Rendered([&](TOVA_WSTRING& text) { return TOVADLL_COPY_SECTION_STRING(h, section, text); }, buf, cap,
                  needed);
}

int32_t tovaext_entry_string(uint64_t h, uint16_t section, uint32_t index, char* buf, uint32_t cap,
                             uint32_t* needed) {
  return Rendered([&](TOVA_WSTRING& text) { return TOVADLL_COPY_ENTRY_STRING(h, section, index, text); }, buf, cap,
                  needed);
}

int32_t tovaext_data_string(uint64_t h, uint16_t section, uint32_t index, char* buf, uint32_t cap,
                            uint32_t* needed) {
  return Rendered([&](TOVA_WSTRING& text) { return TOVADLL_COPY_DATA_STRING(h, section, index, text); }, buf, cap,
                  needed);
}

int32_t tovaext_utf16_to_utf8(const uint16_t* text, uint32_t length, char* buf, uint32_t cap, uint32_t* needed) {
  if (length && !text) return TOVA_ERR_NULL_POINTER;
  try {
    return Deliver(Utf16ToUtf8(text, length), buf, cap, needed);
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

int32_t tovaext_narrow_to_utf8(const uint8_t* bytes, uint32_t length, char* buf, uint32_t cap, uint32_t* needed) {
  if (length && !bytes) return TOVA_ERR_NULL_POINTER;
  // Windows-1252 code points of the bytes 0x80 to 0x9F; 0 where the code
  // page leaves the byte undefined.
  static constexpr uint16_t kCp1252High[32] = {
      0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
      0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
      0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};
  try {
    std::string out;
    for (uint32_t i = 0; i < length && bytes[i] != 0; ++i) {
      const uint8_t b = bytes[i];
      uint32_t cp = b;
      if (b >= 0x80 && b <= 0x9F) cp = kCp1252High[b - 0x80] ? kCp1252High[b - 0x80] : 0xFFFD;
      AppendUtf8(out, cp);
    }
    return Deliver(out, buf, cap, needed);
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

int32_t tovaext_celsius_available(uint64_t h, int32_t* available) {
  if (!available) return TOVA_ERR_NULL_POINTER;
  try {
    const Lock lock(h);
    if (lock.rc()) return lock.rc();
    Conversion conversion;
    if (int32_t rc = LoadConversion(h, conversion)) return rc;
    *available = conversion.kind != Conversion::Kind::kNone;
    return TOVA_OK;
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

int32_t tovaext_raw_to_celsius(uint64_t h, const double* raw, double* celsius, uint64_t count) {
  if (count && (!raw || !celsius)) return TOVA_ERR_NULL_POINTER;
  try {
    Conversion conversion;
    {
      const Lock lock(h);
      if (lock.rc()) return lock.rc();
      if (int32_t rc = LoadConversion(h, conversion)) return rc;
    }
    if (conversion.kind == Conversion::Kind::kNone) return TOVAEXT_ERR_NO_CALIBRATION;
    for (uint64_t i = 0; i < count; ++i) celsius[i] = conversion.ToCelsius(raw[i]);
    return TOVA_OK;
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

int32_t tovaext_frame_celsius(uint64_t h, uint32_t frame, float* out, uint64_t count) {
  try {
    const Lock lock(h);
    if (lock.rc()) return lock.rc();
    if (int32_t rc = TOVADLL_SET_CURDATASET_EX(h, frame, 1)) return rc;
    Conversion conversion;
    if (int32_t rc = LoadConversion(h, conversion)) return rc;
    if (conversion.kind == Conversion::Kind::kNone) return TOVAEXT_ERR_NO_CALIBRATION;
    bool has_x = false, has_y = false, has_unit = false;
    uint16_t width = 0, height = 0, unit = 0;
    if (int32_t rc = ReadU16(h, TOVA_DH_DREC_SizeX, 0, has_x, width)) return rc;
    if (int32_t rc = ReadU16(h, TOVA_DH_DREC_SizeY, 0, has_y, height)) return rc;
    if (int32_t rc = ReadU16(h, TOVA_DH_DREC_DataUnit, TOVA_DATAUNIT_U16, has_unit, unit)) return rc;
    const unsigned bpp = unit == TOVA_DATAUNIT_U16 || unit == TOVA_DATAUNIT_S16 ? 2
                         : unit == TOVA_DATAUNIT_U32 || unit == TOVA_DATAUNIT_FLT ? 4 : 0;
    const uint64_t pixels = uint64_t{width} * height;
    if (pixels == 0 || bpp == 0) return TOVAEXT_ERR_IMAGE;
    if (count < pixels) return TOVAEXT_ERR_BUFFER_TOO_SMALL;
    if (!out) return TOVA_ERR_NULL_POINTER;
    void* data = nullptr;
    uint32_t size = 0;
    const int32_t rc = TOVADLL_GET_ENTRY(h, TOVA_SECT_Image, TOVA_IM_Data, &data, &size, 0);
    if (Absent(rc)) return TOVAEXT_ERR_IMAGE;
    if (rc != TOVA_OK) return rc;
    if (!data || size < pixels * bpp) return TOVAEXT_ERR_IMAGE;
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (uint64_t i = 0; i < pixels; ++i, p += bpp) {
      double raw;
      switch (unit) {
        case TOVA_DATAUNIT_U16: raw = GetU16(p); break;
        case TOVA_DATAUNIT_U32: raw = GetU32(p); break;
        case TOVA_DATAUNIT_S16: raw = static_cast<int16_t>(GetU16(p)); break;
        default: raw = GetF32(p);
      }
      out[i] = static_cast<float>(conversion.ToCelsius(raw));
    }
    return TOVA_OK;
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

int32_t tovaext_frame_times(uint64_t h, int64_t* ms, uint32_t count, uint32_t* written) {
  if (!written) return TOVA_ERR_NULL_POINTER;
  try {
    const Lock lock(h);
    if (lock.rc()) return lock.rc();
    uint32_t frames = 0, current = 0;
    if (int32_t rc = TOVADLL_GET_NUMDATASETS(h, &frames)) return rc;
    if (int32_t rc = TOVADLL_GET_CURDATASET(h, &current)) return rc;
    if (count < frames) {
      *written = frames;
      return TOVAEXT_ERR_BUFFER_TOO_SMALL;
    }
    if (frames && !ms) return TOVA_ERR_NULL_POINTER;
    std::vector<int64_t> stamps(frames, INT64_MIN);
    std::vector<uint8_t> data;
    int32_t result = TOVA_OK;
    for (uint32_t i = 0; i < frames && result == TOVA_OK; ++i) {
      result = TOVADLL_SET_CURDATASET_EX(h, i, 0);
      if (result != TOVA_OK) break;
      // A frame without a stamp of its own has none (not the first frame's).
      const int32_t rc = ReadEntry(h, TOVA_SECT_DataHeader, TOVA_DH_DREC_TimeStamp, data, true);
      if (rc == TOVA_OK)
        stamps[i] = StampMilliseconds(data);
      else if (!Absent(rc))
        result = rc;
    }
    // Back to the frame that was current; its loaded image stays as it was.
    if (frames) TOVADLL_SET_CURDATASET_EX(h, current, 0);
    if (result != TOVA_OK) return result;
    std::copy(stamps.begin(), stamps.end(), ms);
    *written = frames;
    return TOVA_OK;
  } catch (const std::bad_alloc&) {
    return TOVA_ERR_NO_MEMORY;
  }
}

}  // extern "C"
