#include "kestrane/pipeline/FootageCheck.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CheckedCast.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFacts.hpp"

namespace kestrane::Pipeline {

namespace {

constexpr std::string_view kPutItBack = "put the footage the package was cut from back at that path";

// Copying footage into Matroska and back moves its stated length by up to a frame and an AAC
// packet or two (+21 ms at 25 fps and 48 kHz, +40 ms at 59.94 fps and 44.1 kHz, +78 ms at 30
// fps and 16 kHz, +200 ms at 25 fps and 8 kHz); MP4 and QuickTime keep it to the millisecond.
// Two packets of 1024 samples cover every one measured, at a rate no lower than telephone sound.
constexpr double kSoundPacketsSamples = 2048;
constexpr double kLowestSoundRate = 8000;

// A frame duration as the timelines use it: the nearest standard rate. A re-cut stores that in
// place of the probed one, so a session either way compares alike. One that is no duration is
// taken as the probe's rate for an unknown one.
RationalTime standardized(RationalTime frame) {
  if (frame.value <= 0 || frame.timescale <= 0) return {1, 30};
  return RationalTime::standardFrameDuration(1.0 / frame.seconds());
}

// "m:ss", or "m:ss.dd" to `decimals` places, truncated as the engine's other times are.
std::string lengthText(double seconds, int decimals) {
  const auto ms = clampedInteger<std::int64_t>(std::round(std::max(seconds, 0.0) * 1000));
  std::int64_t places = 1;
  for (int i = 0; i < decimals; ++i) places *= 10;
  const std::string minutes = timeStamp(static_cast<double>(ms / 1000));
  if (decimals == 0) return minutes;
  return fmt::format("{}.{:0{}d}", minutes, (ms % 1000) * places / 1000, decimals);
}

// The fewest decimals at which the two lengths read differently.
int decimalsToTell(double a, double b) {
  int decimals = 0;
  while (decimals < 3 && lengthText(a, decimals) == lengthText(b, decimals)) ++decimals;
  return decimals;
}

// "29.97", "25", "44.1": up to three decimals, without trailing zeros.
std::string shortNumber(double value) {
  std::string text = fmt::format("{:.3f}", value);
  while (text.back() == '0') text.pop_back();
  if (text.back() == '.') text.pop_back();
  return text;
}

std::string channelsText(std::int64_t channels) {
  if (channels == 1) return "mono";
  if (channels == 2) return "stereo";
  return fmt::format("{}-channel", channels);
}

std::string joined(const std::vector<std::string>& parts) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : " and ") + part;
  return text;
}

// What a probe read of the file. A file with no sound track, which the probe refuses, is read
// for its length and picture size only: its frame rate is not compared.
struct Reading {
  SourceMedia media;
  bool hasSound = true;
};

// Which facts besides the length differ, and so are said of both.
struct Differing {
  bool picture = false;  // one has a picture and the other none, or their sizes differ
  bool frameRate = false;
  bool sound = false;  // the file has no sound
  bool sampleRate = false;
  bool channels = false;
  bool any() const { return picture || frameRate || sound || sampleRate || channels; }
};

std::string described(const SourceMedia& media, bool hasSound, const std::string& length, const Differing& differing) {
  std::string text = length;
  std::vector<std::string> picture;
  if (differing.picture && media.hasVideo) picture.push_back(fmt::format("{}×{}", media.width, media.height));
  if (differing.frameRate) {
    const RationalTime frame = standardized(media.frameDuration);
    picture.push_back(shortNumber(static_cast<double>(frame.timescale) / static_cast<double>(frame.value)) + " fps");
  }
  if (!picture.empty()) text += " at " + joined(picture);

  std::vector<std::string> with;
  if (differing.picture && !media.hasVideo) with.emplace_back("no picture");
  if (differing.sound) with.emplace_back(hasSound ? "sound" : "no sound");
  std::string sound;
  if (differing.sampleRate) sound = shortNumber(media.audioSampleRate / 1000) + " kHz";
  if (differing.channels) sound += (sound.empty() ? "" : " ") + channelsText(*media.audioChannelCount);
  if (!sound.empty()) with.push_back(sound + " sound");
  if (!with.empty()) text += " with " + joined(with);
  return text;
}

std::optional<std::string> difference(const SourceMedia& stored, const Reading& found) {
  const SourceMedia& now = found.media;
  const bool lengthsAgree = std::abs(now.durationSeconds - stored.durationSeconds) <= lengthTolerance(stored);
  const bool bothPictures = stored.hasVideo && now.hasVideo;
  Differing differing;
  differing.picture =
      stored.hasVideo != now.hasVideo || (bothPictures && (stored.width != now.width || stored.height != now.height));
  differing.frameRate =
      bothPictures && found.hasSound && standardized(stored.frameDuration) != standardized(now.frameDuration);
  differing.sound = !found.hasSound;
  differing.sampleRate = found.hasSound && stored.audioSampleRate > 0 && now.audioSampleRate > 0 &&
                         std::llround(stored.audioSampleRate) != std::llround(now.audioSampleRate);
  differing.channels = found.hasSound && stored.audioChannelCount && now.audioChannelCount &&
                       *stored.audioChannelCount != *now.audioChannelCount;
  if (lengthsAgree && !differing.any()) return std::nullopt;

  const int decimals = lengthsAgree ? 0 : decimalsToTell(now.durationSeconds, stored.durationSeconds);
  const std::string storedLength = lengthText(stored.durationSeconds, decimals);
  // Lengths that agree read alike, even where one is just past a whole second and the other not.
  const std::string nowLength = lengthsAgree ? storedLength : lengthText(now.durationSeconds, decimals);
  return fmt::format("{} is {}, the package was cut from {}", stored.path,
                     described(now, found.hasSound, nowLength, differing),
                     described(stored, true, storedLength, differing));
}

// The file at `path` as a probe reads it; nothing when it can't be read as media.
std::optional<Reading> readingOf(const std::string& path) {
  try {
    return Reading{MediaProbe::probe(path)};
  } catch (const MediaProbe::ProbeError& e) {
    if (e.kind() != MediaProbe::ProbeError::Kind::noAudioTrack) return std::nullopt;
  }
  // Media without sound: no footage is, so its length and picture are enough to say so.
  const auto facts = platform::readMediaFacts(path);
  if (!facts) return std::nullopt;
  Reading found;
  found.hasSound = false;
  found.media.path = path;
  found.media.durationSeconds = facts->durationSeconds;
  found.media.hasVideo = !facts->videoTracks.empty();
  if (found.media.hasVideo) {
    found.media.width = std::llround(facts->videoTracks.front().width);
    found.media.height = std::llround(facts->videoTracks.front().height);
  }
  return found;
}

// True when the file is longer than the session says by as much as the first cut takes for a
// cut-off file, and its sound ends where the session's length does: the footage, cut off, as
// the first cut found it (it stores the readable length in place of the stated one).
bool isTheCutOffFootage(const SourceMedia& stored, const Reading& found, std::stop_token stop) {
  const double tolerance = lengthTolerance(stored);
  if (found.media.durationSeconds - stored.durationSeconds <= tolerance ||
      !MediaDamage::endsEarly(found.media.durationSeconds, stored.durationSeconds))
    return false;
  // Nothing else may differ: other footage is told without decoding it.
  Reading asStored = found;
  asStored.media.durationSeconds = stored.durationSeconds;
  if (difference(stored, asStored)) return false;
  try {
    const double readable =
        AudioAnalyzer::decodedSeconds(stored.path, stored.durationSeconds + tolerance, std::move(stop));
    return std::abs(readable - stored.durationSeconds) <= tolerance;
  } catch (const AudioAnalyzer::AnalyzerError&) {
    return false;  // the footage's sound was read once; sound that can't be is another file's
  } catch (const platform::MediaOpenError&) {
    return false;
  }
}

}  // namespace

FootageChanged::FootageChanged(const std::string& change)
    : PipelineError(sessionNotRecuttable(fmt::format("{} — {}, then run the re-cut again.", change, kPutItBack))),
      change_(change) {}

double lengthTolerance(const SourceMedia& stored) {
  return standardized(stored.frameDuration).seconds() +
         kSoundPacketsSamples / std::max(stored.audioSampleRate, kLowestSoundRate);
}

std::optional<std::string> footageDifference(const SourceMedia& stored, const SourceMedia& found) {
  return difference(stored, Reading{found});
}

std::optional<std::string> footageChange(const SourceMedia& stored, std::stop_token stop) {
  throwIfStopped(stop);
  if (MediaProbe::fileProblem(stored.path)) return std::nullopt;
  const std::optional<Reading> found = readingOf(stored.path);
  if (!found) return std::nullopt;
  if (found->hasSound && isTheCutOffFootage(stored, *found, stop)) return std::nullopt;
  return difference(stored, *found);
}

std::string footageChangeNote(const std::string& change) {
  return fmt::format("{} — {} to play or re-cut.", change, kPutItBack);
}

void requireCutFootage(const SourceMedia& stored, std::stop_token stop) {
  if (auto change = footageChange(stored, std::move(stop))) throw FootageChanged(*change);
}

}  // namespace kestrane::Pipeline
