#pragma once
// Transcribes the speech of one media file to timed words, entirely on this computer, with the
// pocketsphinx recognizer and its US English model.
#include <functional>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>

#include "kestrane/model/Transcript.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/UserFacingError.hpp"
#include "kestrane/platform/SpeechDecoder.hpp"

namespace kestrane::Transcriber {

class TranscriberError : public UserFacingError {
 public:
  enum class Kind { localeUnsupported, unavailable, noSpeechFound, modelMissing };

  static TranscriberError localeUnsupported(const std::string& identifier) {
    return {Kind::localeUnsupported, "Transcription doesn't support the " + identifier + " language yet"};
  }
  static TranscriberError unavailable() {
    return {Kind::unavailable, "On-device transcription isn't available on this computer"};
  }
  static TranscriberError noSpeechFound() { return {Kind::noSpeechFound, "No speech found in the footage"}; }
  // With what the user needs to know about the footage to find the speech elsewhere.
  static TranscriberError noSpeechFound(const std::string& detail) {
    return {Kind::noSpeechFound, "No speech found in the footage — " + detail};
  }
  static TranscriberError modelMissing(const std::string& package) {
    return {Kind::modelMissing,
            "The speech model isn't installed on this computer — install the " + package + " package and try again"};
  }

  Kind kind() const { return kind_; }

 private:
  TranscriberError(Kind kind, const std::string& message) : UserFacingError(message), kind_(kind) {}
  Kind kind_;
};

// A little of the language model goes to the hesitations: without it the stock model writes a
// spoken "um" as "and" or "them" nearly every time; more than this finds no more of them and
// turns more pieces of real words into them.
inline constexpr double kHesitationWeight = 0.05;

// The rate of a prepared WAV that is read as it is; any other is converted first.
inline constexpr int kSpeechSampleRate = platform::kSpeechSampleRate;

// Decoders side by side at most, however many cores there are. Each holds its own copy of the
// language model (its scoring writes into caches inside the model, so threads cannot share one):
// about 85 MiB apiece. Three keep a job of any length near 310 MiB (eight took 770 MiB) and cost
// a ten-minute job about 1.5 s of its 23 s, since the stretches queue for them.
inline constexpr unsigned kMaxDecoders = 3;

struct Options {
  // Decoders run side by side; 0 means one per usable core. Never more than the usable cores,
  // nor kMaxDecoders.
  unsigned workers = 0;
  // Asked every quarter second of audio decoded; a requested stop ends the work with Cancelled.
  std::stop_token stop;
  // Hears the share of the audio to decode that is done, rising from 0 to 1, every quarter
  // second of audio; from any of the workers, never two at once.
  std::function<void(double)> progress;
  // Share of the recognizer's language model given to the hesitations "um" and "uh"; higher
  // finds more of them and turns more short words into them.
  double hesitationWeight = kHesitationWeight;
};

// The words of the media at `url`. `preparedAudioWAV`, when it opens as audio, is read instead
// of decoding the media again (as it is when it is a 16-bit mono WAV at kSpeechSampleRate, so the
// recognizer reads it a stretch at a time). Any temporary WAV made here is removed before
// returning or throwing. Throws TranscriberError, or the audio decoder's errors unchanged.
Transcript transcribe(const std::string& url, const std::string& locale,
                      const std::optional<std::string>& preparedAudioWAV = std::nullopt, const Options& options = {});

// Makes sure the model for the locale is installed. Throws TranscriberError.
void ensureModel(const std::string& locale);

// The model's own name for a locale identifier ("en_US", "en-US", "en" -> "en-us"), or none.
std::optional<std::string> supportedLocale(const std::string& identifier);

}  // namespace kestrane::Transcriber
