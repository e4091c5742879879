#include "kestrane/transcribe/Transcriber.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MediaFile.hpp"
#include "kestrane/platform/PcmWavReader.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "kestrane/platform/UsableCores.hpp"
#include "kestrane/transcribe/ChunkWords.hpp"
#include "kestrane/transcribe/DigitalFloor.hpp"
#include "kestrane/transcribe/HeldSound.hpp"
#include "kestrane/transcribe/RecognizedWords.hpp"
#include "kestrane/transcribe/SpeechChunks.hpp"

namespace kestrane::Transcriber {

namespace {

using platform::kSpeechFrameRate;
constexpr std::size_t kFrameSamples = kSpeechSampleRate / kSpeechFrameRate;

platform::DecoderSettings decoderSettings(double hesitationWeight) {
  platform::DecoderSettings settings;
  // Mixed in so hesitations come out as "um"/"uh" instead of short real words.
  settings.hesitationWeight = hesitationWeight;
  // Chosen on ten minutes of synthetic read speech (bench/TranscriberBench.cpp): a cap of 2000
  // active models and 10 word exits per frame each took a part off the decode time at the same
  // word error; the second, flat-lexicon pass cost a fifth of the time for no fewer errors. The
  // best-path pass stays: without it the word error rose from 16 % to 19 %. Scoring every other
  // frame ("-ds 2") saved another fifth but heard words in plain room tone.
  settings.options = {{"-maxhmmpf", "2000"}, {"-maxwpf", "10"}, {"-fwdflat", "no"}};
  return settings;
}

// Removes a temporary file on every way out of the scope.
struct TemporaryFile {
  std::string path;
  ~TemporaryFile() {
    if (path.empty()) return;
    platform::ScratchFiles::remove(path);
  }
};

std::optional<platform::PcmWavReader> speechRateWav(const std::string& path) {
  auto wav = platform::PcmWavReader::open(path);
  if (wav && wav->sampleRate() == kSpeechSampleRate) return wav;
  return std::nullopt;
}

// The file at `path` held for reading; none when no plain file is there.
std::shared_ptr<const platform::MediaFile> heldOrNone(const std::string& path) {
  try {
    return platform::MediaFile::open(path);
  } catch (const platform::MediaFileError&) {
    return nullptr;
  }
}

// The recognizer's input as a 16 kHz mono WAV: the prepared file or the media itself when it is
// one already, otherwise made by decoding once (the prepared file first, then the media).
platform::PcmWavReader speechAudio(const std::string& url, const std::optional<std::string>& prepared,
                                   const Options& options, TemporaryFile& temporary) {
  const std::shared_ptr<const platform::MediaFile> preparedFile = prepared ? heldOrNone(*prepared) : nullptr;
  if (preparedFile && platform::isAudioOnlyFile(preparedFile)) {
    if (auto wav = speechRateWav(*prepared)) return std::move(*wav);
    try {
      temporary.path = AudioAnalyzer::temporaryWAVPath();
      AudioAnalyzer::streamDecode(preparedFile, temporary.path, options.stop, kSpeechSampleRate);
      if (auto wav = speechRateWav(temporary.path)) return std::move(*wav);
    } catch (const platform::MediaOpenError&) {
    } catch (const AudioAnalyzer::AnalyzerError&) {
      // An unusable prepared file is not an error: the media is decoded instead.
    }
  }
  const std::shared_ptr<const platform::MediaFile> media = MediaProbe::held(url);
  if (platform::isAudioOnlyFile(media))
    if (auto wav = speechRateWav(url)) return std::move(*wav);
  // A fresh scratch file: one a failed decode removed is no longer held against the sweep.
  if (!temporary.path.empty()) platform::ScratchFiles::remove(temporary.path);
  temporary.path = AudioAnalyzer::temporaryWAVPath();
  AudioAnalyzer::streamDecode(media, temporary.path, options.stop, kSpeechSampleRate);
  if (auto wav = speechRateWav(temporary.path)) return std::move(*wav);
  throw AudioAnalyzer::AnalyzerError::decodeFailed("the converted audio could not be read back");
}

// Where the recognizer should listen, from the levels of the whole recording read a block at a
// time.
std::vector<SpeechChunks::Chunk> chunksOf(const platform::PcmWavReader& audio, const Options& options) {
  SpeechChunks::FrameLevels levels(kSpeechSampleRate);
  std::vector<std::int16_t> block;
  constexpr std::size_t kBlock = 1 << 16;
  for (std::size_t at = 0; at < audio.sampleCount(); at += kBlock) {
    throwIfStopped(options.stop);
    audio.read(at, kBlock, block);
    levels.push(block.data(), block.size());
  }
  return SpeechChunks::atPauses(levels.take(), levels.frameSamples(), audio.sampleCount());
}

// The share of the chunks' audio decoded, told to the caller one call at a time and never less
// than before.
class Progress {
 public:
  Progress(const std::vector<SpeechChunks::Chunk>& chunks, unsigned workers, const Options& options)
      : partial_(workers), options_(options) {
    for (const auto& c : chunks) total_ += c.end - c.begin;
  }
  void partly(unsigned worker, std::size_t samples) {
    partial_[worker] = samples;
    tell();
  }
  void finished(unsigned worker, std::size_t samples) {
    finished_ += samples;
    partial_[worker] = 0;
    tell();
  }

 private:
  void tell() {
    if (!options_.progress || total_ == 0) return;
    std::lock_guard lock(mutex_);
    std::size_t done = finished_;
    for (const auto& p : partial_) done += p;
    const double share = std::min(1.0, double(done) / double(total_));
    if (share <= told_) return;
    told_ = share;
    options_.progress(share);
  }
  std::size_t total_ = 0;
  std::atomic<std::size_t> finished_{0};
  std::vector<std::atomic<std::size_t>> partial_;
  const Options& options_;
  std::mutex mutex_;
  double told_ = 0;
};

// Audio read beyond a stretch on either side, and again on a second try when the stretch gave no
// words.
constexpr std::size_t kEdgeSamples = kSpeechSampleRate * 3 / 10;
constexpr std::size_t kWideEdgeSamples = kSpeechSampleRate;
// A held sound this far below a stretch's loudest 10 ms or closer is the speaker's voice.
constexpr double kVoiceBelowPeakDB = 20;
// ...and this far above its quiet tenth or more (room tone, a music bed).
constexpr double kVoiceOverFloorDB = 10;

// The words of `samples`, which start at sample `from` of the recording; the poll hears how many
// of the samples the decoder is through.
std::vector<TranscriptWord> decodeSamples(platform::SpeechDecoder& decoder, const std::vector<std::int16_t>& samples,
                                          std::size_t from, const std::function<void(std::size_t)>& poll) {
  const double start = static_cast<double>(from) / kSpeechSampleRate;
  // The samples between two times of the recording, clipped to those at hand.
  const auto samplesBetween = [&](double a, double b) {
    const auto first = static_cast<std::size_t>(std::max(0.0, a - start) * kSpeechSampleRate);
    const auto last = std::min(samples.size(), static_cast<std::size_t>(std::max(0.0, b - start) * kSpeechSampleRate));
    return std::pair{first, last};
  };
  const RecognizedWords::HeldTest held = [&](double a, double b) {
    const auto [first, last] = samplesBetween(a, b);
    return last > first && HeldSound::isHeld(samples.data() + first, last - first, kSpeechSampleRate);
  };
  std::vector<TranscriptWord> all;
  // Digital-floor stretches inside are never fed to the recognizer.
  const std::vector<SpeechChunks::Chunk> whole = {{0, samples.size()}};
  for (const auto& part : DigitalFloor::withoutFloor(whole, samples, kSpeechSampleRate)) {
    const double offset = static_cast<double>(from + part.begin) / kSpeechSampleRate;
    const auto partPoll = [&](std::size_t done) { poll(part.begin + done); };
    // Times from whole samples of the recording, so a time two stretches both reach comes out
    // the same from either; never past the audio decoded.
    const auto frameTime = [&](int frame) {
      const std::size_t at = part.begin + static_cast<std::size_t>(std::max(0, frame)) * kFrameSamples;
      return static_cast<double>(from + std::min(at, part.end)) / kSpeechSampleRate;
    };
    std::vector<RecognizedWords::TimedToken> tokens;
    for (const auto& t : decoder.decode(samples.data() + part.begin, part.end - part.begin, partPoll))
      tokens.push_back({t.text, frameTime(t.startFrame), frameTime(std::max(t.startFrame, t.endFrame + 1))});
    auto words = RecognizedWords::wordsFromTokens(tokens, held);
    RecognizedWords::markHeldHesitations(words, held);
    // A held sound the recognizer heard nothing in: loud enough to be the speaker's voice, and
    // standing out of the room or the music bed under it.
    const std::int16_t* partSamples = samples.data() + part.begin;
    const std::size_t partCount = part.end - part.begin;
    const double voiceLevel =
        std::max(HeldSound::frameLevelDB(partSamples, partCount, kSpeechSampleRate, 1.0) - kVoiceBelowPeakDB,
                 HeldSound::frameLevelDB(partSamples, partCount, kSpeechSampleRate, 0.1) + kVoiceOverFloorDB);
    const RecognizedWords::HeldFinder heldSound = [&](double a, double b) -> std::optional<TimeRange> {
      const auto [first, last] = samplesBetween(a, b);
      if (last <= first) return std::nullopt;
      const auto span = HeldSound::heldWithin(samples.data() + first, last - first, kSpeechSampleRate, voiceLevel);
      if (span.last <= span.first) return std::nullopt;
      return TimeRange{a + double(span.first) / kSpeechSampleRate, a + double(span.last) / kSpeechSampleRate};
    };
    RecognizedWords::addUnheardHesitations(words, offset, static_cast<double>(from + part.end) / kSpeechSampleRate,
                                           heldSound);
    all.insert(all.end(), words.begin(), words.end());
  }
  return all;
}

// Decodes the chunks with decoders side by side; words come back in chunk order.
std::vector<TranscriptWord> recognise(const platform::PcmWavReader& audio, const Options& options) {
  const auto chunks = chunksOf(audio, options);
  const unsigned cores = platform::usableCores();
  const unsigned workers =
      std::min({options.workers ? options.workers : cores, cores, kMaxDecoders, static_cast<unsigned>(chunks.size())});

  std::vector<std::vector<TranscriptWord>> perChunk(chunks.size());
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;
  std::mutex errorLock;
  Progress progress(chunks, workers, options);
  std::optional<platform::SearchDictionary> dictionary;
  try {
    dictionary.emplace(platform::SpeechModel::usEnglish());
  } catch (const platform::SpeechModelError&) {
    throw TranscriberError::unavailable();
  }
  const platform::SpeechModel& model = dictionary->model();

  auto work = [&](unsigned worker) {
    try {
      platform::SpeechDecoder decoder(model, decoderSettings(options.hesitationWeight));
      std::vector<std::int16_t> samples;
      const auto poll = [&](std::size_t done) {
        if (failed) throw Cancelled();
        throwIfStopped(options.stop);
        progress.partly(worker, done);
      };
      for (std::size_t i = next++; i < chunks.size() && !failed; i = next++) {
        const auto& chunk = chunks[i];
        const auto decodeWithEdges = [&](std::size_t edge) {
          // The stretch is read with `edge` samples of the audio on either side, so a
          // word cut off at its border is heard whole; only the words whose middle lies
          // inside the stretch are its own (the neighbour has the others).
          const std::size_t from = chunk.begin - std::min(chunk.begin, edge);
          const std::size_t to = std::min(audio.sampleCount(), chunk.end + edge);
          audio.read(from, to - from, samples);
          std::vector<TranscriptWord> own;
          // How far the decoder is, told as a part of the stretch itself.
          const auto stretchPoll = [&](std::size_t done) {
            poll(std::min(chunk.end - chunk.begin, done > chunk.begin - from ? done - (chunk.begin - from) : 0));
          };
          for (auto& w : decodeSamples(decoder, samples, from, stretchPoll))
            if (ChunkWords::owns(chunk, w, kSpeechSampleRate)) own.push_back(std::move(w));
          return own;
        };
        perChunk[i] = decodeWithEdges(kEdgeSamples);
        // Nothing heard in a stretch at speech level: once more with wider edges, since a
        // stretch that ends right at a word's end can decode to nothing at all.
        if (perChunk[i].empty() && chunk.speech) perChunk[i] = decodeWithEdges(kWideEdgeSamples);
        progress.finished(worker, chunk.end - chunk.begin);
      }
    } catch (...) {
      std::lock_guard lock(errorLock);
      if (!error) error = std::current_exception();
      failed = true;
    }
  };
  std::vector<std::thread> threads;
  for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w);
  if (workers > 0) work(0);
  for (auto& t : threads) t.join();
  if (error) {
    try {
      std::rethrow_exception(error);
    } catch (const platform::SpeechModelError&) {
      throw TranscriberError::unavailable();
    }
  }
  std::vector<TranscriptWord> words = ChunkWords::joined(chunks, std::move(perChunk), kSpeechSampleRate);
  RecognizedWords::markSentenceEnds(words);
  return words;
}

}  // namespace

std::optional<std::string> supportedLocale(const std::string& identifier) {
  std::string id;
  for (char c : identifier)
    id.push_back(c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (id == "en" || id == "en-us" || id.rfind("en-us-", 0) == 0 || id.rfind("en-us@", 0) == 0) return "en-us";
  return std::nullopt;
}

void ensureModel(const std::string& locale) {
  if (!supportedLocale(locale)) throw TranscriberError::localeUnsupported(locale);
  const auto model = platform::SpeechModel::usEnglish();
  if (!model.missingFiles().empty()) throw TranscriberError::modelMissing(model.package);
}

Transcript transcribe(const std::string& url, const std::string& locale,
                      const std::optional<std::string>& preparedAudioWAV, const Options& options) {
  ensureModel(locale);
  TemporaryFile temporary;
  const platform::PcmWavReader audio = speechAudio(url, preparedAudioWAV, options, temporary);
  Transcript transcript;
  transcript.words = recognise(audio, options);
  if (transcript.words.empty()) throw TranscriberError::noSpeechFound();
  return transcript;
}

}  // namespace kestrane::Transcriber
