#include "kestrane/pipeline/FootageCheck.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/LevelMatch.hpp"
#include "kestrane/analysis/LevelSampler.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CheckedCast.hpp"
#include "kestrane/model/CodecSlack.hpp"
#include "kestrane/model/TimeStamp.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/platform/MediaFile.hpp"

namespace kestrane::Pipeline {

namespace {

// Remedies that make a new package rather than bring the package's footage back: they end the
// re-cut's sentence, as running the re-cut again won't help.
bool cutsAnew(FootageRemedy remedy) {
  return remedy == FootageRemedy::cutAnew || remedy == FootageRemedy::cutWhole || remedy == FootageRemedy::nothingTells;
}

// What to do, said after the change.
std::string_view remedyText(FootageRemedy remedy) {
  switch (remedy) {
    case FootageRemedy::putBack: return "put the footage the package was cut from back at that path";
    case FootageRemedy::reconnect: return "reconnect the drive it is on, or move the footage back to that path";
    case FootageRemedy::checkDrive: return "check that the drive it is on is connected and reads";
    case FootageRemedy::allowRead: return "let this account read the footage";
    case FootageRemedy::cutAnew: return "cut the footage anew";
    case FootageRemedy::cutWhole:
      return "that was the readable part of a copy that was cut off, so cut this whole copy anew";
    case FootageRemedy::nothingTells:
      return "footage this even can't be re-cut from any package, so cut it anew with the options you want";
  }
  return {};
}

// Copying footage into Matroska and back moves its stated length by up to a frame and an AAC
// packet or two (+21 ms at 25 fps and 48 kHz, +40 ms at 59.94 fps and 44.1 kHz, +78 ms at 30
// fps and 16 kHz, +200 ms at 25 fps and 8 kHz); MP4 and QuickTime keep it to the millisecond.
// The packets are counted at a rate no lower than telephone sound.
constexpr double kLowestSoundRate = 8000;

// A frame duration as the timelines use it: the nearest standard rate. A re-cut stores that in
// place of the probed one, so a session either way compares alike. One that is no duration is
// taken as the probe's rate for an unknown one.
RationalTime standardized(RationalTime frame) {
  if (frame.value <= 0 || frame.timescale <= 0) return {1, 30};
  return RationalTime::standardFrameDuration(1.0 / frame.seconds());
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

// What the container states of the file. A file with no sound track, which the probe refuses,
// is read for its length and picture size only: its frame rate is not compared.
struct Reading {
  SourceMedia media;
  bool hasSound = true;
  bool lengthStated = true;
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

// What the container of the held file states; nothing when it can't be read as media.
std::optional<Reading> readingOf(const std::shared_ptr<const platform::MediaFile>& file, std::stop_token stop) {
  const std::optional<platform::MediaFacts> facts = platform::readMediaFacts(file, std::move(stop));
  if (!facts) return std::nullopt;
  Reading found;
  found.lengthStated = facts->durationStated;
  if (!facts->audioTracks.empty()) {
    found.media = MediaProbe::sourceMedia(*facts, file->path());
    return found;
  }
  // Media without sound: no footage is, so its length and picture are enough to say so.
  found.hasSound = false;
  found.media.path = file->path();
  found.media.durationSeconds = facts->durationSeconds;
  found.media.hasVideo = !facts->videoTracks.empty();
  if (found.media.hasVideo) {
    found.media.width = std::llround(facts->videoTracks.front().width);
    found.media.height = std::llround(facts->videoTracks.front().height);
  }
  return found;
}

// True when the file states a length longer than the session's by as much as the first cut
// takes for a cut-off file, whose readable length it stores instead: the footage, cut off, as
// the first cut found it, if its sound ends where the session's length does.
bool mayBeTheCutOffFootage(const SourceMedia& stored, const Reading& found) {
  return found.media.durationSeconds - stored.durationSeconds > lengthTolerance(stored) &&
         MediaDamage::endsEarly(found.media.durationSeconds, stored.durationSeconds);
}

// The sound is heard at this many stretches of this length, spread over the stored length, the
// last one ending where the stored sound ends.
constexpr std::size_t kStretches = 4;
constexpr double kStretchSeconds = 2.0;
// Each is heard this much wider on either side, so that sound moved by a trim at the start
// still lines up; a trim of one sound packet at 8 kHz moves it by an eighth of a second.
constexpr double kMostShiftSeconds = 0.4;
// Stretches of the same sound line up at shifts this close together: they measured no more
// than a hop apart, a compressor's attack or a denoiser moving some by one. Played 0.5 % faster
// or slower, the stretches of a half-minute read line up 0.07 s or more apart, 1 % 0.13 s.
constexpr double kAgreeingShiftSeconds = 0.03;
// A shift of most of a frame comes from how a copy was made, not a trim of whole frames.
constexpr double kShiftFrames = 0.75;

struct Stretch {
  std::int64_t first = 0;  // hop
  std::size_t count = 0;
  bool bySpeech = false;  // told by the speech band's levels rather than the whole sound's
};

// Stretches are weighed at starts this many hops apart: a quarter of their length.
constexpr std::size_t kWeighedEveryHops = 50;

// One way the stored sound is told: its levels, or its speech band's.
struct Telling {
  const std::vector<float>& levels;
  double loud = 0;
  std::vector<double> rise;  // how much the levels rise and fall over hops 0 … i

  // `loudLevel`: AudioAnalyzer::loudLevel of `told`, not empty.
  Telling(const std::vector<float>& told, double loudLevel) : levels(told), loud(loudLevel), rise(told.size(), 0.0) {
    if (told.empty()) return;
    // Levels as the comparison sees them: room tone under the loud ones doesn't count as rising.
    const double floor = loud - AudioAnalyzer::kComparedRangeDB;
    for (std::size_t i = 1; i < told.size(); ++i)
      rise[i] = rise[i - 1] + std::abs(std::max<double>(told[i], floor) - std::max<double>(told[i - 1], floor));
  }
  double riseOver(std::size_t first, std::size_t count) const { return rise[first + count - 1] - rise[first]; }
  bool tells(std::size_t first, std::size_t count) const {
    const auto from = levels.begin() + static_cast<std::ptrdiff_t>(first);
    return AudioAnalyzer::tells({from, from + static_cast<std::ptrdiff_t>(count)}, loud);
  }
};

// Where to hear: in each of the first kStretches - 1 equal parts of the stored levels, the
// stretch that tells (speech rather than a pause) and rises and falls the most; where one part has
// none that tells, the one that does of those no stretch yet heard overlaps, wherever it lies, so
// that sound that rises and falls anywhere is heard there and not where it happens to be steady;
// and the last seconds, which the sound of a copy cut off anywhere never reaches. Where the
// session stores the speech band's levels (its loudness being too even over much of it), a
// stretch is told by them where they tell, and by the levels elsewhere. Places are weighed by how
// much they rise and fall, and asked whether they tell from the most on, so that an hour costs
// little where its speech tells.
std::vector<Stretch> stretchesOf(const Telling& byLevels, const Telling& bySpeech, double hopDuration) {
  const std::vector<float>& levels = byLevels.levels;
  const std::vector<float>& speech = bySpeech.levels;
  const std::size_t total = levels.size();
  const std::size_t count = std::min(total, static_cast<std::size_t>(std::lround(kStretchSeconds / hopDuration)));
  if (count == 0) return {};
  const Telling& weighing = speech.empty() ? byLevels : bySpeech;
  // Starts kWeighedEveryHops apart, and the last possible one, the most rising first.
  std::vector<std::size_t> starts;
  for (std::size_t first = 0; first < total - count + kWeighedEveryHops; first += kWeighedEveryHops)
    starts.push_back(std::min(first, total - count));
  std::stable_sort(starts.begin(), starts.end(), [&](std::size_t a, std::size_t b) {
    return weighing.riseOver(a, count) > weighing.riseOver(b, count);
  });
  // The stretch from `first`, told by the speech band where it tells, else by the levels where
  // they do; nothing where neither tells.
  const auto told = [&](std::size_t first) -> std::optional<Stretch> {
    const auto at = static_cast<std::int64_t>(first);
    if (!speech.empty() && bySpeech.tells(first, count)) return Stretch{at, count, true};
    if (byLevels.tells(first, count)) return Stretch{at, count};
    return std::nullopt;
  };
  const auto firstTelling = [&](const std::function<bool(std::size_t)>& allowed) -> std::optional<Stretch> {
    for (const std::size_t first : starts)
      if (allowed(first))
        if (std::optional<Stretch> stretch = told(first)) return stretch;
    return std::nullopt;
  };

  const std::size_t parts = std::clamp<std::size_t>(total / count, 1, kStretches);
  std::vector<std::optional<Stretch>> chosen;
  for (std::size_t part = 0; part + 1 < parts; ++part) {
    const std::size_t from = part * total / parts;
    const std::size_t to = std::max(from, (part + 1) * total / parts - count);
    chosen.push_back(firstTelling([&](std::size_t first) { return first >= from && first <= to; }));
  }
  const Stretch last{static_cast<std::int64_t>(total - count), count,
                     !speech.empty() && bySpeech.tells(total - count, count)};
  const auto overlapsChosen = [&](std::size_t first) {
    if (std::llabs(last.first - static_cast<std::int64_t>(first)) < static_cast<std::int64_t>(count)) return true;
    return std::any_of(chosen.begin(), chosen.end(), [&](const std::optional<Stretch>& heard) {
      return heard && std::llabs(heard->first - static_cast<std::int64_t>(first)) < static_cast<std::int64_t>(count);
    });
  };
  std::vector<Stretch> stretches;
  for (std::optional<Stretch>& place : chosen) {
    if (!place) place = firstTelling([&](std::size_t first) { return !overlapsChosen(first); });
    if (place) stretches.push_back(*place);
  }
  // The last seconds are heard wherever they tell or not.
  stretches.push_back(last);
  return stretches;
}

// "m:ss" of two lengths, with the decimals that tell them apart.
std::pair<std::string, std::string> lengthTexts(double a, double b) {
  const int decimals = decimalsToTell(a, b);
  return {lengthText(a, decimals), lengthText(b, decimals)};
}

std::string cutOffClause(const std::string& path, double soundEnd, double storedLength) {
  const auto [heard, stored] = lengthTexts(soundEnd, storedLength);
  return fmt::format("{} is cut off: its sound ends at {}, the package was cut from {}", path, heard, stored);
}

std::string differentClause(const std::string& path) {
  return fmt::format("{} sounds different from the footage the package was cut from", path);
}

std::string shiftClause(const std::string& path, double seconds) {
  return fmt::format(
      "{} is shifted: its sound comes {} s {} than in the footage the package was cut from, as if {} "
      "its start",
      path, shortNumber(std::abs(seconds)), seconds < 0 ? "earlier" : "later",
      seconds < 0 ? "trimmed at" : "lengthened at");
}

// What hearing the sound found wrong, if anything.
struct SoundFinding {
  std::optional<std::string> clause;
  bool goesOnPast = false;   // the sound goes on past the stored end
  bool telling = true;       // some stretch's stored levels rise and fall enough to tell recordings apart
  bool onOtherGrid = false;  // the stored levels are measured on another grid than this sound's
  double origin = 0;         // where hop 0 lies on the file's clock, in seconds
  // Where nothing stored tells: the speech band of the sound heard does, so a new cut, which
  // stores it, could be known by it.
  bool speechWouldTell = false;
};

// Places spread over a recording whose speech band is heard for whether it tells, where its
// stored loudness doesn't: under steady noise as loud as pink noise 1 dB below the voice, one
// stretch in six tells.
constexpr std::size_t kSpeechBandPlaces = 16;

// True when the speech band of the sound heard rises and falls with speech somewhere, so that a
// new cut of the footage, which stores it, could be known by it: among kSpeechBandPlaces
// stretches spread over its `hops`.
bool speechBandTells(AudioAnalyzer::LevelSampler& sampler, std::size_t hops, const std::stop_token& stop) {
  const auto count = static_cast<std::size_t>(std::lround(kStretchSeconds / sampler.hopDuration()));
  if (hops < count) return false;
  for (std::size_t place = 0; place < kSpeechBandPlaces; ++place) {
    throwIfStopped(stop);
    const auto first = static_cast<std::int64_t>(place * (hops - count) / (kSpeechBandPlaces - 1));
    const std::vector<float> band = sampler.track(first, count).speechLevelsDBFS;
    if (AudioAnalyzer::tells(band, AudioAnalyzer::loudLevel(band))) return true;
  }
  return false;
}

// What the sound of the held file says against the session. `mustEndThere`: the container's
// length was not held against the session's, so the sound is also heard to end where the
// session's does.
SoundFinding soundProblem(const KestraneSession& session, const std::shared_ptr<const platform::MediaFile>& file,
                          bool mustEndThere, std::stop_token stop) {
  const SourceMedia& stored = session.source;
  const std::string& path = file->path();
  const double tolerance = lengthTolerance(stored);
  AudioAnalyzer::LevelSampler sampler(file, session.soundTiming == SoundTiming::countedSamples, stop);
  const double hop = sampler.hopDuration();
  // Levels on another grid than this sound's can't be held against it.
  if (!session.levels || std::abs(session.levels->hopDuration - hop) > 1e-9)
    return {.telling = false, .onOtherGrid = true};
  const std::vector<float> levels = session.levels->levelsDBFS();
  std::vector<float> speech = session.levels->speechLevelsDBFS();
  if (speech.size() != levels.size()) speech.clear();
  if (levels.empty()) return {.telling = false};
  const double origin = sampler.originSeconds();

  // Where the stored sound ends: past its last level's window (and short of the next hop's end).
  const auto heardHops = static_cast<double>(levels.size());
  const double soundEnd = (heardHops - 1) * hop + sampler.windowDuration();
  const double loud = AudioAnalyzer::loudLevel(levels);
  const double speechLoud = speech.empty() ? 0.0 : AudioAnalyzer::loudLevel(speech);
  const std::vector<Stretch> stretches = stretchesOf({levels, loud}, {speech, speechLoud}, hop);
  const auto margin = static_cast<int>(std::lround(kMostShiftSeconds / hop));
  // Sound a little earlier than stored is rounding; any more was cut from the start. Sound later
  // by up to an encoder's delay is a container that keeps the delay where the original dropped
  // it (AAC or MP3 copied into Matroska), whatever the frame rate.
  const double mostEarlier = std::max(kShiftFrames * standardized(stored.frameDuration).seconds(), 1.5 * hop);
  const double mostLater = std::max(mostEarlier, CodecSlack::kEncoderDelaySamples / sampler.sampleRate() + hop);

  // True when the heard sound ended before `stretch` needs it to: as much as the stored levels
  // have of it.
  const auto endsShortOf = [&](const Stretch& stretch, double end) {
    const double stretchEnd = static_cast<double>(stretch.first + static_cast<std::int64_t>(stretch.count) - 1) * hop +
                              sampler.windowDuration();
    return end < std::min(soundEnd, stretchEnd) - tolerance;
  };

  std::vector<AudioAnalyzer::LevelMatch> matches;
  for (const Stretch& stretch : stretches) {
    throwIfStopped(stop);
    // The speech band is measured only where it is what tells.
    const std::int64_t from = stretch.first - margin;
    const std::size_t hops = stretch.count + 2 * static_cast<std::size_t>(margin);
    const AudioAnalyzer::LevelTrack heard =
        stretch.bySpeech ? sampler.track(from, hops) : AudioAnalyzer::LevelTrack{sampler.levels(from, hops)};
    if (const std::optional<double> end = sampler.end(); end && endsShortOf(stretch, *end))
      return {cutOffClause(path, *end, stored.durationSeconds)};
    const std::vector<float>& told = stretch.bySpeech ? speech : levels;
    const std::vector<float> storedStretch(told.begin() + stretch.first,
                                           told.begin() + stretch.first + static_cast<std::ptrdiff_t>(stretch.count));
    matches.push_back(AudioAnalyzer::matchLevels(storedStretch,
                                                 stretch.bySpeech ? heard.speechLevelsDBFS : heard.levelsDBFS, margin,
                                                 stretch.bySpeech ? speechLoud : loud));
    if (matches.back().telling && matches.back().likeness < AudioAnalyzer::kSameSoundLikeness)
      return {differentClause(path)};
  }
  // Each stretch alike, but not at one shift: played faster or slower, or put together anew.
  const AudioAnalyzer::Agreement agreement =
      AudioAnalyzer::agreementOf(matches, static_cast<int>(std::lround(kAgreeingShiftSeconds / hop)));
  if (agreement.drifts) return {differentClause(path)};
  const double shift = agreement.shift * hop;
  if ((shift < -mostEarlier || shift > mostLater) && agreement.likenessGained >= AudioAnalyzer::kShownShiftLikeness)
    return {shiftClause(path, shift)};
  if (mustEndThere) {
    if (const std::optional<double> end = sampler.end(); !end || *end > soundEnd + hop + tolerance) {
      return {fmt::format("{} goes on past {}, where the footage the package was cut from ends", path,
                          lengthText(stored.durationSeconds, 0)),
              true};
    }
  }
  // Nothing heard rose and fell enough to tell this recording from another.
  const bool telling = std::any_of(matches.begin(), matches.end(), [](const auto& match) { return match.telling; });
  if (telling || !speech.empty()) return {.telling = telling, .origin = origin};
  return {.telling = false, .origin = origin, .speechWouldTell = speechBandTells(sampler, levels.size(), stop)};
}

}  // namespace

FootageChanged::FootageChanged(const std::string& change, FootageRemedy remedy)
    : PipelineError(sessionNotRecuttable(fmt::format("{} — {}{}", change, remedyText(remedy),
                                                     cutsAnew(remedy) ? "." : ", then run the re-cut again."))),
      change_(change) {}

double lengthTolerance(const SourceMedia& stored) {
  return standardized(stored.frameDuration).seconds() +
         CodecSlack::kLastPacketsSamples / std::max(stored.audioSampleRate, kLowestSoundRate);
}

std::optional<std::string> footageDifference(const SourceMedia& stored, const SourceMedia& found) {
  return difference(stored, Reading{found});
}

namespace {

// Why the session can't tell its footage from other footage: it stores no levels of its sound, or
// none this program can read, or levels on another grid than the analysis measures.
std::string unknowable(const KestraneSession& session, std::string_view why) {
  return fmt::format("{}, so the file at {} can't be proven to be that footage", why, session.source.path);
}

// Levels missing, or stopping short of the stored length where the first cut would have stored
// the length as far as they reach (sound that ends early: a copy cut off), tell nothing of the
// rest of the footage.
std::optional<std::string> levelsUnusable(const KestraneSession& session) {
  const std::size_t hops = session.levels ? session.levels->levelsDBFS().size() : 0;
  if (hops == 0) return unknowable(session, "it stores no loudness of its footage's sound to know it by");
  // The levels of n hops measure the sound as far as the window of the last reaches, which is
  // less than a hop short of where the sound ended.
  const double hop = session.levels->hopDuration;
  const double measured = static_cast<double>(hops + 1) * hop;
  if (!MediaDamage::endsEarly(session.source.durationSeconds, measured + hop)) return std::nullopt;
  const auto [reach, length] = lengthTexts(measured, session.source.durationSeconds);
  return unknowable(session,
                    fmt::format("the loudness it stores of its footage's sound stops at {} of {}", reach, length));
}

// The verdict of the sound alone, or of the container's facts where they already differ. A
// session an earlier build stored, its times counted by decoded samples, is moved onto the file's
// clock by where the file's own timestamps put each counted sample, and heard there: a hearing as
// it counted can pass over a dropout or a join it never reaches.
FootageVerdict judged(const KestraneSession& session, const std::shared_ptr<const platform::MediaFile>& file,
                      std::stop_token stop) {
  const SourceMedia& stored = session.source;
  try {
    const std::optional<Reading> found = readingOf(file, stop);
    if (!found) return {file->path() + " can't be read as media"};
    // A length the container doesn't state, or only guesses, or that may be the whole of footage
    // the first cut found cut off, is not held against the session's: the sound's end is.
    const bool lengthHeld = found->lengthStated && !mayBeTheCutOffFootage(stored, *found);
    Reading asHeld = *found;
    if (!lengthHeld) asHeld.media.durationSeconds = stored.durationSeconds;
    if (std::optional<std::string> different = difference(stored, asHeld)) return {different};
    std::optional<CountedClock> clock;
    std::optional<KestraneSession> moved;
    if (session.soundTiming == SoundTiming::countedSamples) {
      clock = AudioAnalyzer::countedClock(file, stop);
      moved = onFileClock(session, *clock);
    }
    const SoundFinding heard = soundProblem(moved ? *moved : session, file, !lengthHeld, std::move(stop));
    // Footage that goes on past the stored end and states its length says it as lengths do; where
    // the session stores only the readable part of a copy cut off, it is the whole of that copy.
    if (heard.goesOnPast && found->lengthStated)
      return {difference(stored, *found), lengthHeld ? FootageRemedy::putBack : FootageRemedy::cutWhole};
    if (heard.clause) return {heard.clause};
    if (!heard.telling) {
      return {
          unknowable(session, heard.onOtherGrid ? "the loudness it stores of its footage is measured otherwise"
                                                : "the loudness it stores of its footage is too even to know it by"),
          heard.onOtherGrid || heard.speechWouldTell ? FootageRemedy::cutAnew : FootageRemedy::nothingTells};
    }
    return {.countedClock = std::move(clock)};
  } catch (const AudioAnalyzer::AnalyzerError& e) {
    if (e.kind() == AudioAnalyzer::AnalyzerError::Kind::damaged) return {file->path() + " is damaged: " + e.detail()};
    if (e.kind() == AudioAnalyzer::AnalyzerError::Kind::unreadable)
      return {fmt::format("{} can't be read — {}", file->path(), e.detail()), FootageRemedy::checkDrive};
    return {fmt::format("{} can't be read as media — {}", file->path(), e.what())};
  } catch (const platform::MediaOpenError&) {
    return {file->path() + " can't be read as media"};
  } catch (const platform::FileReadError& e) {
    return {fmt::format("{} can't be read — {}", file->path(), e.what()), FootageRemedy::checkDrive};
  }
}

}  // namespace

FootageVerdict judgeFootage(const KestraneSession& session, const std::shared_ptr<const platform::MediaFile>& file,
                            std::stop_token stop) {
  throwIfStopped(stop);
  if (std::optional<std::string> unusable = levelsUnusable(session)) return {unusable, FootageRemedy::cutAnew};
  return judged(session, file, std::move(stop));
}

std::optional<std::string> footageProblem(const KestraneSession& session,
                                          const std::shared_ptr<const platform::MediaFile>& file,
                                          std::stop_token stop) {
  return judgeFootage(session, file, std::move(stop)).change;
}

namespace {

// The held file at the session's footage path; none, with why not (`refused`: the reason in a
// few words, and what to do), when no plain file can be read there.
std::shared_ptr<const platform::MediaFile> heldFootage(const std::string& path, FootageVerdict& refused) {
  try {
    return platform::MediaFile::open(path);
  } catch (const platform::MediaFileError& e) {
    // A folder, pipe or device put in the footage's place would fail late or block a reader.
    refused.change = e.reason();
    refused.remedy = e.missing()                                ? FootageRemedy::reconnect
                     : e.reason() == "no permission to read it" ? FootageRemedy::allowRead
                                                                : FootageRemedy::putBack;
    return nullptr;
  }
}

}  // namespace

ProvenFootage openCutFootage(KestraneSession& session, std::stop_token stop) {
  if (std::optional<std::string> unusable = levelsUnusable(session))
    throw FootageChanged(*unusable, FootageRemedy::cutAnew);
  const std::string& path = session.source.path;
  FootageVerdict refused;
  std::shared_ptr<const platform::MediaFile> file = heldFootage(path, refused);
  if (!file && refused.remedy == FootageRemedy::reconnect)
    throw FootageChanged("source media missing at " + path, refused.remedy);
  if (!file) throw FootageChanged("source media at " + path + " can't be read — " + *refused.change, refused.remedy);
  FootageVerdict verdict = judgeFootage(session, file, std::move(stop));
  if (verdict.change) throw FootageChanged(*verdict.change, verdict.remedy);
  if (verdict.countedClock) session = onFileClock(std::move(session), *verdict.countedClock);
  return {std::move(file), std::move(verdict.countedClock)};
}

FootageVerdict footageVerdict(const KestraneSession& session, std::stop_token stop) {
  FootageVerdict refused;
  std::shared_ptr<const platform::MediaFile> file = heldFootage(session.source.path, refused);
  if (!file) {
    // Nothing at the path is footage missing, which is said otherwise.
    if (refused.remedy == FootageRemedy::reconnect) return {};
    refused.change = session.source.path + " can't be read — " + *refused.change;
    return refused;
  }
  return judgeFootage(session, file, std::move(stop));
}

std::optional<std::string> footageChange(const KestraneSession& session, std::stop_token stop) {
  return footageVerdict(session, std::move(stop)).change;
}

std::string footageChangeNote(const std::string& change, FootageRemedy remedy) {
  if (remedy == FootageRemedy::cutWhole) return fmt::format("{} — {}.", change, remedyText(remedy));
  if (remedy == FootageRemedy::nothingTells)
    return fmt::format(
        "{} — footage this even can't be played or re-cut from any package, so cut it anew with the "
        "options you want.",
        change);
  return fmt::format("{} — {} to play or re-cut.", change, remedyText(remedy));
}

}  // namespace kestrane::Pipeline
