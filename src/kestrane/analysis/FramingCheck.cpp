#include "kestrane/analysis/FramingCheck.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>

#include <fmt/format.h>

#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/platform/FrameGrabber.hpp"

namespace kestrane::CutInstruments {

double frameDifference(const std::array<std::uint8_t, 1024>& a, const std::array<std::uint8_t, 1024>& b) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) sum += static_cast<std::uint64_t>(std::abs(int(a[i]) - int(b[i])));
  return static_cast<double>(sum) / static_cast<double>(a.size()) / 255.0;
}

std::vector<CutFinding> framingJumps(const CutList& cutList, const std::shared_ptr<const platform::MediaFile>& footage,
                                     std::stop_token stop) {
  std::vector<Segment> kept = cutList.keptSegments();
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Segment& a, const Segment& b) { return a.range.start < b.range.start; });
  std::vector<CutFinding> findings;
  if (kept.size() < 2) return findings;

  platform::FrameGrabber grabber(footage, stop);
  std::map<double, platform::GreyThumbnail> cache;
  auto thumbnail = [&](double t) -> const platform::GreyThumbnail* {
    if (auto hit = cache.find(t); hit != cache.end()) return &hit->second;
    auto made = grabber.thumbnail(std::max(0.0, t));
    if (!made) return nullptr;
    return &cache.emplace(t, *made).first->second;
  };

  for (std::size_t i = 0; i + 1 < kept.size() && i < kMaxFramingJoins && findings.size() < kMaxFramingJoins; ++i) {
    const TimeRange& a = kept[i].range;
    const TimeRange& b = kept[i + 1].range;
    const double outTime = std::max(a.start, a.end - 0.1);
    const double inTime = std::min(b.start + 0.1, b.end);
    const auto* out = thumbnail(outTime);
    if (!out) continue;
    const auto* in = thumbnail(inTime);
    if (!in) continue;
    const double difference = frameDifference(*out, *in);
    if (difference >= kFramingJumpThreshold) {
      findings.push_back({CutFinding::Kind::framingJump,
                          {a.end, b.start},
                          fmt::format("the picture jumps at the cut at {} (frame difference {:.0f}%) — the "
                                      "takes are framed differently",
                                      timeStamp(a.end), difference * 100),
                          difference});
    }
  }
  return findings;
}

}  // namespace kestrane::CutInstruments
