#include "kestrane/transcribe/Transcriber.hpp"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/LevelMeter.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/platform/AudioDecoder.hpp"
#include "kestrane/platform/MonoResampler.hpp"
#include "kestrane/platform/SpeechDecoder.hpp"
#include "kestrane/transcribe/DigitalFloor.hpp"
#include "kestrane/transcribe/HeldSound.hpp"
#include "kestrane/transcribe/RecognizedWords.hpp"
#include "kestrane/transcribe/SpeechChunks.hpp"

namespace kestrane::Transcriber {

namespace {

using platform::kSpeechFrameRate;
using platform::kSpeechSampleRate;

platform::DecoderSettings decoderSettings(double hesitationWeight) {
    platform::DecoderSettings settings;
    // Mixed in so hesitations come out as "um"/"uh" instead of short real words.
    settings.hesitationWeight = hesitationWeight;
    // A tighter cap on active models per frame halves the decode time at no measurable loss of
    // accuracy on read speech.
    settings.options = {{"-maxhmmpf", "3000"}};
    return settings;
}

// Removes a temporary file on every way out of the scope.
struct TemporaryFile {
    std::string path;
    ~TemporaryFile() {
        if (path.empty()) return;
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
};

// The file's first audio track as 16 kHz mono 16-bit samples.
std::vector<std::int16_t> speechSamples(const std::string& path, std::stop_token stop) {
    std::vector<std::int16_t> out;
    std::unique_ptr<platform::MonoResampler> resampler;
    std::vector<float> mono;
    platform::decodeAudio(
        path,
        [&](const platform::AudioBlock& block) {
            if (!resampler) resampler = std::make_unique<platform::MonoResampler>(static_cast<int>(block.sampleRate), kSpeechSampleRate);
            AudioAnalyzer::mixToMono(block.interleaved, block.frames * static_cast<std::size_t>(block.channels),
                                     block.channels, mono);
            resampler->push(mono.data(), mono.size(), out);
        },
        stop);
    if (resampler) resampler->flush(out);
    return out;
}

// Decodes the chunks with `workers` decoders side by side; words come back in chunk order.
std::vector<TranscriptWord> recognise(const std::vector<std::int16_t>& samples, const Options& options) {
    const auto chunks =
        DigitalFloor::withoutFloor(SpeechChunks::atPauses(samples, kSpeechSampleRate), samples, kSpeechSampleRate);
    unsigned workers = options.workers ? options.workers : std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, static_cast<unsigned>(chunks.size()));

    std::vector<std::vector<TranscriptWord>> perChunk(chunks.size());
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::exception_ptr error;
    std::mutex errorLock;
    std::size_t done = 0;  // stretches recognised, counted under progressLock
    std::mutex progressLock;
    const auto model = platform::SpeechModel::usEnglish();

    auto work = [&] {
        try {
            platform::SpeechDecoder decoder(model, decoderSettings(options.hesitationWeight));
            for (std::size_t i = next++; i < chunks.size() && !failed; i = next++) {
                throwIfStopped(options.stop);
                const auto& chunk = chunks[i];
                const double offset = static_cast<double>(chunk.begin) / kSpeechSampleRate;
                std::vector<RecognizedWords::TimedToken> tokens;
                for (const auto& t : decoder.decode(samples.data() + chunk.begin, chunk.end - chunk.begin))
                    tokens.push_back({t.text, offset + double(t.startFrame) / kSpeechFrameRate,
                                      offset + double(t.endFrame + 1) / kSpeechFrameRate});
                const RecognizedWords::HeldTest held = [&](double start, double end) {
                    const auto a = static_cast<std::size_t>(std::max(0.0, start) * kSpeechSampleRate);
                    const auto b = std::min(samples.size(), static_cast<std::size_t>(end * kSpeechSampleRate));
                    return b > a && HeldSound::isHeld(samples.data() + a, b - a, kSpeechSampleRate);
                };
                perChunk[i] = RecognizedWords::wordsFromTokens(tokens, held);
                RecognizedWords::markHeldHesitations(perChunk[i], held);
                if (options.progress) {
                    std::lock_guard lock(progressLock);
                    options.progress(static_cast<double>(++done) / static_cast<double>(chunks.size()));
                }
            }
        } catch (...) {
            std::lock_guard lock(errorLock);
            if (!error) error = std::current_exception();
            failed = true;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    if (error) {
        try {
            std::rethrow_exception(error);
        } catch (const platform::SpeechModelError&) {
            throw TranscriberError::unavailable();
        }
    }
    std::vector<TranscriptWord> words;
    for (auto& list : perChunk) words.insert(words.end(), list.begin(), list.end());
    RecognizedWords::markSentenceEnds(words);
    return words;
}

}  // namespace

std::optional<std::string> supportedLocale(const std::string& identifier) {
    std::string id;
    for (char c : identifier) id.push_back(c == '_' ? '-' : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
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
    std::vector<std::int16_t> samples;
    bool loaded = false;
    if (preparedAudioWAV && platform::isAudioOnlyFile(*preparedAudioWAV)) {
        try {
            samples = speechSamples(*preparedAudioWAV, options.stop);
            loaded = true;
        } catch (const platform::MediaOpenError&) {
        } catch (const platform::NoAudioStreamError&) {
        } catch (const platform::AudioDecodeError&) {
            // An unusable prepared file is not an error: the media is decoded instead.
        }
    }
    if (!loaded) {
        std::string source = url;
        if (!platform::isAudioOnlyFile(url)) {
            // A film is first decoded once to a mono WAV, which is then read like any audio file.
            temporary.path = AudioAnalyzer::temporaryWAVPath();
            AudioAnalyzer::streamDecode(url, temporary.path, options.stop);
            source = temporary.path;
        }
        try {
            samples = speechSamples(source, options.stop);
        } catch (const platform::NoAudioStreamError&) {
            throw AudioAnalyzer::AnalyzerError::noAudioTrack();
        } catch (const platform::AudioDecodeError& e) {
            throw AudioAnalyzer::AnalyzerError::decodeFailed(e.what());
        }
    }

    Transcript transcript;
    transcript.words = recognise(samples, options);
    if (transcript.words.empty()) throw TranscriberError::noSpeechFound();
    return transcript;
}

}  // namespace kestrane::Transcriber
