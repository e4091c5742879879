#pragma once
// Decodes the audio of one media file into a loudness envelope and a 16-bit mono WAV for the
// recognizer, in one streaming pass. Every call opens the file anew; nothing is kept.
#include <functional>
#include <memory>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <vector>

#include "kestrane/analysis/LevelTrack.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/CountedClock.hpp"
#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {
class MediaFile;
}

namespace kestrane::AudioAnalyzer {

class AnalyzerError : public UserFacingError {
 public:
  enum class Kind { decodeFailed, noAudioTrack, damaged, unreadable };

  static AnalyzerError decodeFailed(const std::string& detail) {
    return AnalyzerError(Kind::decodeFailed, "Audio decode failed: " + detail, detail);
  }
  static AnalyzerError noAudioTrack() { return AnalyzerError(Kind::noAudioTrack, "No audio track to analyze", {}); }
  // The sound jumps where no recording does; `clause` says where ("its sound jumps from …").
  static AnalyzerError damaged(const std::string& clause) {
    return AnalyzerError(Kind::damaged, "The footage is damaged: " + clause, clause);
  }

  // The system failed to read the file; `detail` is its words.
  static AnalyzerError unreadable(const std::string& detail) {
    return AnalyzerError(Kind::unreadable, "Can't read the footage: " + detail, detail);
  }

  Kind kind() const { return kind_; }
  // What went wrong, without the sentence around it.
  const std::string& detail() const { return detail_; }

 private:
  AnalyzerError(Kind kind, const std::string& message, std::string detail)
      : UserFacingError(message), kind_(kind), detail_(std::move(detail)) {}
  Kind kind_;
  std::string detail_;
};

struct AudioExtraction {
  LevelTrack track;
  // The caller owns this file from the moment it is returned.
  std::string wavURL;
  // How much sound could be read, and the damaged stretches skipped on the way.
  double decodedSeconds = 0;
  std::size_t damagedStretches = 0;
};

struct MonoPCM {
  std::vector<float> samples;
  double sampleRate = 0;
};

// Levels and a new "kestrane-audio-<UUID>.wav" in the temporary folder from one decode of the
// held file. The WAV is at `wavSampleRate` (the decoded rate when 0), converted in the same pass;
// it is removed again whenever the call fails or is cancelled.
// Throws AnalyzerError, platform::MediaOpenError, platform::WavWriteError or
// Cancelled (once `stop` is requested).
AudioExtraction extractAudio(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop = {},
                             int wavSampleRate = 0);

// The same levels as extractAudio, measured while streaming, without writing a file.
LevelTrack measureLevels(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop = {});

// The whole first audio track mixed to mono, at its own rate. Throws as measureLevels does.
MonoPCM decodeMonoPCM(std::shared_ptr<const platform::MediaFile> file);

// Where the held file's sound, counted by samples from the first as earlier builds placed it,
// lies on the file's clock (platform::countedClock: from its packets where they suffice, else by
// decoding the whole track). Throws as measureLevels does.
CountedClock countedClock(std::shared_ptr<const platform::MediaFile> file, std::stop_token stop = {});

// How long the sound of the first audio track lasts as extractAudio counts it (decodedSeconds),
// decoding no further than just past `atMost` seconds: a caller that only asks whether the sound
// ends by then is told a length above `atMost` without the rest of a long file being decoded.
// Throws as measureLevels does.
double decodedSeconds(std::shared_ptr<const platform::MediaFile> file, double atMost, std::stop_token stop = {});

// Streams the first audio track, mixed to mono, into a 16-bit WAV at `wavURL` (at `wavSampleRate`,
// or the decoded rate when 0) and returns its levels, measured at the decoded rate (with `wavURL`
// set). The file is left in place on success and removed on failure.
AudioExtraction streamDecode(std::shared_ptr<const platform::MediaFile> file, const std::string& wavURL,
                             std::stop_token stop = {}, int wavSampleRate = 0);

// A new empty scratch WAV in the temporary folder, "kestrane-audio-<pid>-<UUID>.wav", held
// and remembered (ScratchFiles::create). Throws ScratchFiles::CreateError.
std::string temporaryWAVPath();

}  // namespace kestrane::AudioAnalyzer
