#pragma once
// Small grey pictures of single video frames, for comparing the framing on both sides of a cut.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace kestrane::platform {

// 32 × 32 pixels, one byte of linear-light grey each, rows of 32 bytes.
using GreyThumbnail = std::array<std::uint8_t, 32 * 32>;

// The thumbnail of an sRGB picture (`width` × `height`, three bytes a pixel) fitted to w × h:
// linear luminance averaged onto w × h, then stretched onto 32 × 32.
GreyThumbnail linearGreyThumbnail(const std::vector<std::uint8_t>& rgb, int width, int height, int w, int h);

class MediaFile;

class FrameGrabber {
 public:
  // Opens the held file's first picture track; `isOpen()` is false when there is none or it
  // can't be decoded. Once `stop` is requested, opening and every read throw Cancelled. Opening
  // and every read throw FileReadError when the system fails to read the file (a failing drive).
  explicit FrameGrabber(std::shared_ptr<const MediaFile> file, std::stop_token stop = {});
  ~FrameGrabber();
  FrameGrabber(const FrameGrabber&) = delete;
  FrameGrabber& operator=(const FrameGrabber&) = delete;

  bool isOpen() const;

  // The frame shown at `seconds` of source time (the last frame starting at or before it), scaled to fit
  // 64 × 64 with its aspect kept and then stretched onto 32 × 32. Nothing when it can't be made.
  std::optional<GreyThumbnail> thumbnail(double seconds);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane::platform
