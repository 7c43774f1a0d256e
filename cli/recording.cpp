// The recording of the viewer and the stack exports, through tova_ext.
#include "recording.h"

#include <algorithm>
#include <cmath>

#include "HOLMDAQTova.h"
#include "errors.h"
#include "records.h"
#include "text.h"
#include "tova_ext.h"

namespace tova_cli {
namespace {

constexpr uint32_t kLongestText = 1u << 20;  // renderings beyond this are not fetched
constexpr size_t kShownText = 2000;          // nor shown beyond this

// A string of tova_ext's buffer convention: asks for the size, then fetches.
template <typename Call>
std::optional<std::string> ExtString(Call call, std::string* failure) {
  uint32_t needed = 0;
  int32_t rc = call(nullptr, 0, &needed);
  if (rc != TOVA_OK && rc != TOVAEXT_ERR_BUFFER_TOO_SMALL) {
    *failure = DescribeResult(rc);
    return std::nullopt;
  }
  if (needed > kLongestText) {
    *failure = "(" + std::to_string(needed) + " bytes of text, not shown)";
    return std::nullopt;
  }
  std::string text(needed, '\0');
  rc = call(text.data(), needed, &needed);
  if (rc != TOVA_OK) {
    *failure = DescribeResult(rc);
    return std::nullopt;
  }
  text.resize(std::min<size_t>(text.find('\0'), text.size()));
  return text;
}

std::string Shortened(std::string text) {
  text = NormaliseLineEnds(text);
  if (text.size() > kShownText) {
    size_t cut = kShownText;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;  // whole UTF-8 characters
    text = text.substr(0, cut) + " ... (" + std::to_string(text.size()) + " bytes in all)";
  }
  return text;
}

}  // namespace

std::string TimeText(int64_t ms) {
  return ms == kNoTime ? std::string() : TimeStamp::FromMillisecondsSinceEpoch(ms).ToString();
}

Recording::Recording(const std::string& path) : doc_(Document::OpenRead(path)) {
  frames_ = doc_.NumFrames();
  if (frames_ == 0) throw CliError(Quote(path) + " holds no frames");
  doc_.SelectFrame(0, false);
  width_ = doc_.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeX).value_or(0);
  height_ = doc_.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_SizeY).value_or(0);
  data_unit_ = doc_.U16(TOVA_SECT_DataHeader, TOVA_DH_DREC_DataUnit).value_or(TOVA_DATAUNIT_U16);
  if (width_ == 0 || height_ == 0)
    throw CliError(Quote(path) + " records no image size (TOVA_DH_DREC_SizeX / SizeY)");
  if (BytesPerPixel(data_unit_) == 0)
    throw CliError(Quote(path) + " stores pixels in an unknown data unit " + std::to_string(data_unit_));

  int32_t available = 0;
  Check(tovaext_celsius_available(doc_.handle(), &available), "cannot read the calibration of " + Quote(path));
  celsius_ = available != 0;
  const auto low = doc_.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_Low);
  const auto high = doc_.F32(TOVA_SECT_DataHeader, TOVA_DH_SCALE_High);
  if (celsius_ && low && high && std::isfinite(*low) && std::isfinite(*high) && *low < *high)
    display_scale_ = std::make_pair(double{*low}, double{*high});

  times_.assign(frames_, kNoTime);
  uint32_t written = 0;
  Check(tovaext_frame_times(doc_.handle(), times_.data(), frames_, &written),
        "cannot read the time stamps of " + Quote(path));
  // The rate: the median of the positive steps between neighbouring stamps.
  std::vector<int64_t> steps;
  for (uint32_t i = 1; i < frames_; ++i)
    if (times_[i] != kNoTime && times_[i - 1] != kNoTime && times_[i] > times_[i - 1])
      steps.push_back(times_[i] - times_[i - 1]);
  if (!steps.empty()) {
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    frame_rate_ = 1000.0 / static_cast<double>(steps[steps.size() / 2]);
  }
}

void Recording::Select(uint32_t frame, bool load) {
  if (frame >= frames_)
    throw CliError("frame " + std::to_string(frame) + " does not exist: the recording holds " +
                   std::to_string(frames_) + " frame" + (frames_ == 1 ? "" : "s"));
  doc_.SelectFrame(frame, load);
}

std::vector<float> Recording::Values(uint32_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  Select(frame, !celsius_);
  std::vector<float> values(size_t{width_} * height_);
  if (celsius_) {
    Check(tovaext_frame_celsius(doc_.handle(), frame, values.data(), values.size()),
          "cannot read frame " + std::to_string(frame) + " in degrees Celsius");
    return values;
  }
  const FrameImage image = FrameImage::Read(doc_, frame);
  if (image.width != width_ || image.height != height_)
    throw CliError("frame " + std::to_string(frame) + " is " + std::to_string(image.width) + " x " +
                   std::to_string(image.height) + ", not the recording's " + std::to_string(width_) + " x " +
                   std::to_string(height_));
  std::transform(image.values.begin(), image.values.end(), values.begin(),
                 [](double v) { return static_cast<float>(v); });
  return values;
}

FrameImage Recording::Stored(uint32_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  Select(frame, true);
  FrameImage image = FrameImage::Read(doc_, frame);
  if (image.width != width_ || image.height != height_)
    throw CliError("frame " + std::to_string(frame) + " is " + std::to_string(image.width) + " x " +
                   std::to_string(image.height) + ", not the recording's " + std::to_string(width_) + " x " +
                   std::to_string(height_));
  return image;
}

std::vector<Recording::Section> Recording::Entries(uint32_t frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frame >= frames_) Select(frame, false);  // throws
  // The library lists the entries stored with a frame until the frame is
  // left (changing the current frame clears their present flags, and the
  // global header's once frame 0 is left), as tova dump shows them from a
  // freshly read document. A document of its own keeps that true here: it is
  // read again when the frame asked for was left before.
  if (!entries_doc_ || entries_left_[frame]) {
    entries_doc_.reset();
    entries_doc_.emplace(Document::OpenRead(doc_.path()));
    entries_left_.assign(frames_, false);
    entries_current_ = 0;
  }
  if (frame != entries_current_) {
    entries_doc_->SelectFrame(frame, true);
    entries_left_[entries_current_] = true;
    entries_current_ = frame;
  }
  const uint64_t h = entries_doc_->handle();
  std::vector<Section> sections;
  for (uint16_t id : {uint16_t{TOVA_SECT_GlobalHeader}, uint16_t{TOVA_SECT_DataHeader}, uint16_t{TOVA_SECT_Image}}) {
    std::string failure;
    const auto name = ExtString(
        [&](char* buf, uint32_t cap, uint32_t* needed) { return tovaext_section_string(h, id, buf, cap, needed); },
        &failure);
    if (!name) continue;  // the frame has no such section
    Section section{Shortened(*name), {}};
    uint32_t count = 0;
    if (TOVADLL_GET_NUM_ENTRIES(h, id, &count) != TOVA_OK) count = 0;
    for (uint32_t i = 0; i < count; ++i) {
      Entry entry;
      failure.clear();
      entry.name = ExtString([&](char* buf, uint32_t cap,
                                 uint32_t* needed) { return tovaext_entry_string(h, id, i, buf, cap, needed); },
                             &failure)
                       .value_or(failure);
      failure.clear();
      entry.data = Shortened(
          ExtString([&](char* buf, uint32_t cap,
                        uint32_t* needed) { return tovaext_data_string(h, id, i, buf, cap, needed); },
                    &failure)
              .value_or(failure));
      section.entries.push_back(std::move(entry));
    }
    sections.push_back(std::move(section));
  }
  return sections;
}

}  // namespace tova_cli
