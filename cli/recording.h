// A recording as the viewer and the stack exports use it: the pixels of any
// frame in degrees Celsius (or the stored values where the recording has no
// calibration), the time stamps of all frames, and the rendered entries of a
// frame. Conversion, time stamps and renderings are tova_ext's. Every call
// may come from any thread: the document is used by one call at a time.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "document.h"
#include "image.h"

namespace tova_cli {

inline constexpr int64_t kNoTime = INT64_MIN;

class Recording {
 public:
  // Opens path for reading; CliError when it is missing, damaged or holds no
  // image of known size.
  explicit Recording(const std::string& path);

  const std::string& path() const { return doc_.path(); }
  uint32_t frames() const { return frames_; }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }
  uint16_t data_unit() const { return data_unit_; }
  // Whether the pixels convert to degrees Celsius.
  bool celsius() const { return celsius_; }
  // The stored display scale (degrees Celsius), when the recording has a
  // usable one and its pixels convert.
  std::optional<std::pair<double, double>> display_scale() const { return display_scale_; }
  // Milliseconds since 1970-01-01 of each frame's stamp, kNoTime for none.
  const std::vector<int64_t>& times() const { return times_; }
  // Frames per second from the typical step between stamps; 0 when unknown.
  double frame_rate() const { return frame_rate_; }

  // The frame's pixels, row by row: degrees Celsius when celsius(), else the
  // stored values. CliError for a frame that cannot be read.
  std::vector<float> Values(uint32_t frame);
  // The frame's stored pixels.
  FrameImage Stored(uint32_t frame);

  struct Entry {
    std::string name;  // what tova dump prints for the entry (name, id, size)
    std::string data;  // its data as text (shortened when long)
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  // The sections of a frame with their rendered entries.
  std::vector<Section> Entries(uint32_t frame);

 private:
  void Select(uint32_t frame, bool load);

  std::mutex mutex_;
  Document doc_;
  uint32_t frames_ = 0, width_ = 0, height_ = 0;
  uint16_t data_unit_ = 0;
  bool celsius_ = false;
  std::optional<std::pair<double, double>> display_scale_;
  std::vector<int64_t> times_;
  double frame_rate_ = 0;
  // The document the entries are rendered from, the frame current in it and
  // the frames it has left.
  std::optional<Document> entries_doc_;
  uint32_t entries_current_ = 0;
  std::vector<bool> entries_left_;
};

// "2024-05-17 10:00:01.960", or empty for kNoTime.
std::string TimeText(int64_t ms);

}  // namespace tova_cli
