#pragma once
// One pocketsphinx decoder over the installed US English model. Not shared between threads:
// parallel transcription makes one decoder per worker.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "kestrane/model/UserFacingError.hpp"

namespace kestrane::platform {

struct SpeechModelError : UserFacingError {
  using UserFacingError::UserFacingError;
};

// A file the recognizer needs could not be made in the temporary folder (a full disk, say); the
// message names the file and the system's reason, as the model is not at fault.
struct SpeechScratchError : UserFacingError {
  using UserFacingError::UserFacingError;
};

// Where the recognizer's model files live.
struct SpeechModel {
  std::string acousticModel;  // folder
  std::string languageModel;  // binary n-gram file
  std::string dictionary;     // pronunciation dictionary
  std::string package;        // the system package that provides the files

  static SpeechModel usEnglish();
  // The model files that are missing; empty when everything is installed.
  std::vector<std::string> missingFiles() const;
};

// The model's dictionary cut down to the words its language model knows (and the hesitations),
// in a temporary file that lives as long as this object. A decoder only ever searches those
// words, so it hears the same with either dictionary, but loads about 13 MB less with this one.
class SearchDictionary {
 public:
  // Throws SpeechModelError when the model cannot be read, SpeechScratchError when the file
  // can't be written.
  explicit SearchDictionary(const SpeechModel& model);
  ~SearchDictionary();
  SearchDictionary(const SearchDictionary&) = delete;
  SearchDictionary& operator=(const SearchDictionary&) = delete;

  // The model with this dictionary.
  const SpeechModel& model() const { return model_; }

 private:
  SpeechModel model_;
};

// Samples per second the decoder expects (16-bit mono).
inline constexpr int kSpeechSampleRate = 16000;
// Recognizer frames per second: token times are given in these.
inline constexpr int kSpeechFrameRate = 100;

// A token straight from the recognizer's segment list: words, silences, noises and fillers,
// with the dictionary's alternate-pronunciation marks still attached.
struct RecognizedToken {
  std::string text;
  int startFrame = 0;  // first frame
  int endFrame = 0;    // last frame, inclusive
};

struct DecoderSettings {
  // Share of the language model's probability mixed in from a model that only knows the
  // hesitations "um" and "uh". The stock model almost never predicts them, so without this a
  // hesitation comes out as a short real word. 0 leaves the stock model alone.
  double hesitationWeight = 0;
  // Further decoder switches, e.g. {"-maxhmmpf", "3000"}.
  std::vector<std::pair<std::string, std::string>> options;
};

class SpeechDecoder {
 public:
  // Loads the model; throws SpeechModelError when the files are missing or unusable, and
  // SpeechScratchError when its scratch file can't be written.
  explicit SpeechDecoder(const SpeechModel& model, const DecoderSettings& settings = {});
  ~SpeechDecoder();
  SpeechDecoder(const SpeechDecoder&) = delete;
  SpeechDecoder& operator=(const SpeechDecoder&) = delete;

  // Called every quarter second of audio decoded with the samples decoded so far in the
  // stretch; it may throw (to stop, say), which leaves the decoder ready for another stretch.
  using Poll = std::function<void(std::size_t samplesDone)>;
  static constexpr std::size_t kPollFrames = 25;

  // Decodes one stretch of 16 kHz mono audio as a single utterance.
  std::vector<RecognizedToken> decode(const std::int16_t* samples, std::size_t count, const Poll& poll = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kestrane::platform
