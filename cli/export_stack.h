// The exports that hold every frame of a recording in one file: a multi-page
// TIFF, an animated GIF, an MP4 made by the ffmpeg program and a .npy array.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tova_cli {

enum class StackFormat { kTiff, kGif, kMp4, kNpy };

// The stack format of a --format name or, without one, of OUT's extension
// (.tif, .tiff, .gif, .mp4, .npy); nullopt for the single-frame formats.
std::optional<StackFormat> StackFormatFor(const std::optional<std::string>& format, const std::string& out);

struct StackSettings {
  bool celsius = false;  // TIFF and NPY: float32 degrees Celsius instead of the stored values
  bool bigtiff = false;  // TIFF: BigTIFF even when the file stays below 4 GiB
  std::optional<std::pair<double, double>> range;  // GIF and MP4: colour range
  bool auto_range = false;                         // GIF and MP4: each frame's own range
};

// Writes every frame of the recording at in to out; returns the summary line.
// Throws CliError / UsageError.
std::string ExportStack(const std::string& in, const std::string& out, StackFormat format,
                        const StackSettings& settings);

}  // namespace tova_cli
