// The analysis entry: probe, decode and measure, transcribe.
#include <filesystem>

#include <fmt/format.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaDamage.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/SpeechInSilence.hpp"
#include "kestrane/analysis/StoredLevels.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/platform/MediaFacts.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/transcribe/Transcriber.hpp"

namespace kestrane::Pipeline {

namespace {

// Deletes the scratch audio file however the analysis ends.
class ScratchFile {
 public:
  explicit ScratchFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~ScratchFile() { platform::ScratchFiles::remove(path_); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

 private:
  std::filesystem::path path_;
};

void announce(const ProgressCallback& progress, const Stage& stage) {
  if (progress) progress(stage);
}

}  // namespace

Analysis analyze(const std::filesystem::path& input, const AnalyzeOptions& options, const ProgressCallback& progress,
                 std::stop_token stop) {
  // The session keeps this path for re-cuts and the timelines link to it, so it must not
  // depend on the folder the job happened to run from.
  std::error_code ec;
  const std::string path = std::filesystem::absolute(input, ec).lexically_normal().string();
  try {
    announce(progress, Stage::probing);
    throwIfStopped(stop);
    // Every reading of the footage, here and in the run that uses this analysis, is of this one
    // file, whatever is put at its path meanwhile.
    const std::shared_ptr<const platform::MediaFile> footage = MediaProbe::held(path);
    const std::optional<platform::MediaFacts> facts = platform::readMediaFacts(footage, stop);
    if (!facts) throw MediaProbe::ProbeError::unreadable(path, "not a video or audio file");
    SourceMedia source = MediaProbe::sourceMedia(*facts, path);

    announce(progress, Stage::detectingSilence);
    throwIfStopped(stop);
    AudioAnalyzer::AudioExtraction extraction =
        AudioAnalyzer::extractAudio(footage, stop, Transcriber::kSpeechSampleRate);
    ScratchFile wav(extraction.wavURL);

    announce(progress, Stage::transcribing);
    throwIfStopped(stop);
    Transcriber::Options recognition;
    recognition.workers = options.workers;
    recognition.stop = stop;
    if (progress) {
      recognition.progress = [&progress](double done) { progress(Stage::transcribing.at(done)); };
    }
    Transcript transcript;
    try {
      transcript = Transcriber::transcribe(path, "en_US", extraction.wavURL, recognition);
    } catch (const Transcriber::TranscriberError& e) {
      if (e.kind() != Transcriber::TranscriberError::Kind::noSpeechFound) throw;
      throwIfStopped(stop);
      // Only the first sound track is read: the speech may be on another.
      const std::size_t tracks = facts->audioTracks.size();
      if (tracks < 2) throw;
      throw Transcriber::TranscriberError::noSpeechFound(
          fmt::format("the file has {} audio tracks and only the first was read", tracks));
    }
    throwIfStopped(stop);
    // Words heard only where the cut finds silence are the room's noises, not speech.
    if (AudioAnalyzer::wordsOnlyInSilence(transcript.words, extraction.track)) {
      throw Transcriber::TranscriberError::noSpeechFound();
    }

    std::vector<std::string> warnings;
    // A file that states no length (written through a pipe, or by a recorder that stopped
    // abruptly), or only guesses it, is as long as its sound.
    if (!facts->durationStated) source.durationSeconds = extraction.decodedSeconds;
    // A cut-off copy still states the whole length; cutting it as if whole would time dead air
    // and point timelines past the readable end.
    if (MediaDamage::endsEarly(source.durationSeconds, extraction.decodedSeconds)) {
      warnings.push_back(MediaDamage::endsEarlyWarning(source.durationSeconds, extraction.decodedSeconds));
      source.durationSeconds = extraction.decodedSeconds;
    }
    if (auto skipped = MediaDamage::skippedWarning(extraction.damagedStretches)) warnings.push_back(*skipped);
    // What was read is only part of a recording still being made.
    if (!footage->unchanged()) throw FootageStillBeingWritten(path);

    return Analysis{std::move(source), AudioAnalyzer::storedLevels(extraction.track), std::move(transcript),
                    std::move(warnings), std::move(footage)};
  } catch (...) {
    // A stop can surface as a lower layer's failure (an interrupted read); the caller sees it
    // as the stop it is.
    throwIfStopped(stop);
    throw;
  }
}

}  // namespace kestrane::Pipeline
