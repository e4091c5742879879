// Transcription speed on 1, 2 and 8 cores over a ten-minute recording of synthetic speech, with
// the word error rate, the hesitation ("um"/"uh") recall and the false-hesitation rate, and a
// check that every core count yields exactly the same words.
//
// The recording is made once with flite's rms, slt and awb voices: read sentences, some with
// hesitations spoken in them, separated by pauses of 0.4 to 1.2 s.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/platform/WavWriter.hpp"
#include "kestrane/transcribe/RecognizedWords.hpp"
#include "kestrane/transcribe/Transcriber.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

const std::vector<std::string> kSentences = {
    "welcome back to the channel today we are going to talk about cameras",
    "the first thing you need is a good microphone",
    "sound matters more than picture in almost every video",
    "let me show you how I set up the lights in my studio",
    "most people start with a window and that works surprisingly well",
    "if you have a small budget spend it on audio first",
    "this lens is sharp but it is heavy and expensive",
    "I recorded this video in one afternoon with a single camera",
    "thanks for watching and I will see you in the next one",
    "the key light sits to the left of the camera",
    "a soft box makes the shadows gentle on the face",
    "keep the background a little darker than the subject",
    "we will edit everything on a laptop later this week",
    "the battery lasts about two hours when it is warm",
    "always record a few seconds of room tone before you start",
    "people notice bad audio long before they notice bad video",
    "this stand folds up small enough to fit in a backpack",
    "turn off the air conditioning while you are recording",
    "the color of the walls changes how your skin looks",
    "check the focus again after you move the tripod",
    "a second camera angle makes editing much easier",
    "write the script first and then practice it out loud",
    "the first take is rarely the best one",
    "look straight into the lens when you speak to the audience",
    "a simple reflector can replace a second light",
    "try to keep your sentences short and clear",
    "the memory card was full after three hours of footage",
    "next week we will look at editing software",
    "leave a short pause before every new idea",
    "your viewers care about the story more than the gear",
};

// Where hesitations go in the filler variants: after this many words.
const std::vector<std::pair<std::size_t, std::string>> kHesitationPlaces = {{1, "um"}, {3, "uh"}, {2, "um"},
                                                                            {4, "uh"}, {1, "uh"}, {5, "um"}};

struct Rendition {
  std::string text;
  std::vector<std::string> words;
  int hesitations = 0;
  double start = 0, end = 0;
};

struct Recording {
  std::string wav;
  double seconds = 0;
  std::vector<Rendition> renditions;
};

using bench::readPcm16;
using bench::split;

// flite's reading of `text` (16 kHz, 16-bit), shaped by a sox effect when one is given.
std::vector<std::int16_t> speak(const fs::path& dir, const std::string& text, const char* voice,
                                const std::string& fliteOptions, const std::string& effect) {
  const auto part = (dir / "part.wav").string(), shaped = (dir / "shaped.wav").string();
  std::string cmd = "flite -voice " + std::string(voice) + " " + fliteOptions + " -t '" + text + "' -o " + part;
  if (!effect.empty()) cmd += " && sox " + part + " " + shaped + " " + effect + " && mv " + shaped + " " + part;
  if (std::system(cmd.c_str()) != 0) std::abort();
  auto pcm = readPcm16(part);
  fs::remove(part);
  return pcm;
}

const Recording& recording() {
  static Recording r = [] {
    Recording rec;
    const fs::path dir = fs::temp_directory_path() / "kestrane-bench-speech";
    fs::create_directories(dir);
    rec.wav = (dir / "ten-minutes.wav").string();
    const char* voices[] = {"rms", "slt", "awb"};
    std::vector<float> all;
    std::size_t piece = 0;
    auto add = [&](const std::string& text, int hesitations) {
      const auto part = (dir / ("part" + std::to_string(piece) + ".wav")).string();
      const std::string cmd = "flite -voice " + std::string(voices[piece % 3]) + " -t '" + text + "' -o " + part;
      if (std::system(cmd.c_str()) != 0) std::abort();
      const auto pcm = readPcm16(part);
      const double pause = 0.4 + 0.1 * static_cast<double>(piece * 7 % 9);
      all.insert(all.end(), static_cast<std::size_t>(pause * 16000), 0.0f);
      Rendition rd{text, split(text), hesitations, all.size() / 16000.0, 0};
      for (auto s : pcm) all.push_back(static_cast<float>(s) / 32768.0f);
      rd.end = all.size() / 16000.0;
      rec.renditions.push_back(rd);
      fs::remove(part);
      ++piece;
    };
    auto addWithHesitation = [&](const std::string& first, const std::string& filler, const std::string& second) {
      const char* voice = voices[piece % 3];
      const double pause = 0.4 + 0.1 * static_cast<double>(piece * 7 % 9);
      all.insert(all.end(), static_cast<std::size_t>(pause * 16000), 0.0f);
      Rendition rd{first + filler + " " + second, split(first + filler + " " + second), 1, all.size() / 16000.0, 0};
      auto append = [&](const std::vector<std::int16_t>& pcm, double gapAfter) {
        for (auto s : pcm) all.push_back(static_cast<float>(s) / 32768.0f);
        all.insert(all.end(), static_cast<std::size_t>(gapAfter * 16000), 0.0f);
      };
      // flite pads its output with silence; trim it so the parts join like speech.
      const std::string trim = "silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse";
      append(speak(dir, first, voice, "", trim), 0.05);
      append(speak(dir, filler, voice, "", trim + " tempo -s 0.4"), 0.08);
      append(speak(dir, second, voice, "", trim), 0);
      rd.end = all.size() / 16000.0;
      rec.renditions.push_back(rd);
      ++piece;
    };
    while (all.size() < 600u * 16000u) {
      for (std::size_t i = 0; i < kSentences.size() && all.size() < 600u * 16000u; ++i) {
        add(kSentences[i], 0);
        if (i % 2 == 0) {
          // The same line with a hesitation in it: the line read in two parts with a
          // sustained "um"/"uh" (flite's, slowed to a speaker's 0.3-0.5 s) between them.
          const auto words = split(kSentences[i]);
          const auto& [at, filler] = kHesitationPlaces[(i / 2) % kHesitationPlaces.size()];
          const std::size_t cut = std::min(at, words.size() - 1);
          std::string first, second;
          for (std::size_t k = 0; k < words.size(); ++k) (k < cut ? first : second) += words[k] + " ";
          addWithHesitation(first, filler, second);
        }
      }
    }
    all.insert(all.end(), 8000, 0.0f);
    platform::WavWriter out(rec.wav, 16000);
    out.write(all.data(), all.size());
    out.close();
    rec.seconds = all.size() / 16000.0;
    return rec;
  }();
  return r;
}

std::string normal(std::string w) {
  std::string out;
  for (char c : w)
    if (c != '.') out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

std::size_t editDistance(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::size_t> prev(b.size() + 1), cur(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) prev[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    cur[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j)
      cur[j] = std::min({prev[j] + 1, cur[j - 1] + 1, prev[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
    std::swap(prev, cur);
  }
  return prev[b.size()];
}

// CPU time of this process's threads (not of the programs that made the recording).
double processCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::map<unsigned, std::vector<TranscriptWord>>& results() {
  static std::map<unsigned, std::vector<TranscriptWord>> r;
  return r;
}

void BM_Transcribe(benchmark::State& state) {
  const auto& rec = recording();
  const unsigned workers = static_cast<unsigned>(state.range(0));
  Transcript transcript;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const double cpu0 = processCpuSeconds();
    Transcriber::Options options;
    options.workers = workers;
    // For tuning: KESTRANE_HESITATION_WEIGHT overrides the built-in weight.
    if (const char* w = std::getenv("KESTRANE_HESITATION_WEIGHT")) options.hesitationWeight = std::atof(w);
    transcript = Transcriber::transcribe(rec.wav, "en_US", std::nullopt, options);
    wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    cpu = processCpuSeconds() - cpu0;
  }
  state.counters["audioSeconds"] = rec.seconds;
  state.counters["realTimeFactor"] = rec.seconds / wall;
  // All decoding threads together, per second of audio.
  state.counters["cpuPerAudioSecond"] = cpu / rec.seconds;

  // Word error rate and hesitations, sentence by sentence (words go to the rendition their
  // middle falls in).
  std::size_t errors = 0, referenceWords = 0, found = 0, hesitations = 0, spurious = 0;
  std::size_t endsMarked = 0, endsInside = 0, lines = 0;
  std::size_t next = 0;
  for (const auto& rd : rec.renditions) {
    std::vector<std::string> heard;
    std::vector<bool> period;
    while (next < transcript.words.size()) {
      const auto& w = transcript.words[next];
      const double middle = (w.range.start + w.range.end) / 2;
      if (middle > rd.end + 0.2) break;
      heard.push_back(normal(w.text));
      period.push_back(!w.text.empty() && w.text.back() == '.');
      if (std::getenv("KESTRANE_BENCH_DUMP") && RecognizedWords::isHesitation(heard.back())) {
        const bool gluedBefore = next > 0 && transcript.words[next - 1].range.end >= w.range.start - 0.001;
        const bool gluedAfter =
            next + 1 < transcript.words.size() && transcript.words[next + 1].range.start <= w.range.end + 0.001;
        std::fprintf(stderr, "hesitation %s %.0f ms glued %d%d in: %s\n", heard.back().c_str(),
                     1000 * (w.range.end - w.range.start), gluedBefore, gluedAfter, rd.text.c_str());
      }
      ++next;
    }
    ++lines;
    if (!period.empty() && period.back()) ++endsMarked;
    for (std::size_t k = 0; k + 1 < period.size(); ++k) endsInside += period[k] ? 1 : 0;
    std::vector<std::string> reference;
    for (const auto& w : rd.words) reference.push_back(normal(w));
    errors += editDistance(reference, heard);
    referenceWords += reference.size();
    const auto heardFillers =
        static_cast<int>(std::count_if(heard.begin(), heard.end(), RecognizedWords::isHesitation));
    found += static_cast<std::size_t>(std::min(heardFillers, rd.hesitations));
    if (std::getenv("KESTRANE_BENCH_DUMP") && heardFillers != rd.hesitations) {
      std::string line;
      for (const auto& w : heard) line += w + " ";
      std::fprintf(stderr, "%s hesitation at %.2f: %s | %s\n", heardFillers > rd.hesitations ? "false" : "missed",
                   rd.start, rd.text.c_str(), line.c_str());
    }
    hesitations += static_cast<std::size_t>(rd.hesitations);
    spurious += static_cast<std::size_t>(std::max(0, heardFillers - rd.hesitations));
  }
  state.counters["wordErrorRate"] = static_cast<double>(errors) / static_cast<double>(referenceWords);
  state.counters["hesitationRecall"] =
      static_cast<double>(found) / static_cast<double>(std::max<std::size_t>(1, hesitations));
  state.counters["falseHesitationsPer100Words"] =
      100.0 * static_cast<double>(spurious) / static_cast<double>(referenceWords - hesitations);
  // Each line is one sentence read on its own: its last word should end it, no other should.
  state.counters["sentenceEndsMarked"] = static_cast<double>(endsMarked) / static_cast<double>(lines);
  state.counters["sentenceEndsInsideLines"] = static_cast<double>(endsInside) / static_cast<double>(lines);
  auto& all = results();
  all[workers] = transcript.words;
  if (all.count(1)) state.counters["sameWordsAsOneCore"] = all[1] == transcript.words ? 1 : 0;
}

}  // namespace

BENCHMARK(BM_Transcribe)->Arg(1)->Arg(2)->Arg(8)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

namespace {

// Held hesitations against slow, fluent reading, on a recording of its own: every sentence above
// read once without a hesitation by one of the three voices, slowed to 1.3, 1.6 or 1.9 times its
// length (short words then last 0.3 s and more), and half of them again with a drawn-out "um" or
// "uh" in the middle, as in the ten-minute recording.
struct HeldRecording {
  std::string wav;
  std::vector<Rendition> fluent, hesitant;
};

const HeldRecording& heldRecording() {
  static HeldRecording r = [] {
    HeldRecording rec;
    const fs::path dir = fs::temp_directory_path() / "kestrane-bench-held";
    fs::create_directories(dir);
    rec.wav = (dir / "slow-reads.wav").string();
    const char* voices[] = {"rms", "slt", "awb"};
    const double stretches[] = {1.3, 1.6, 1.9};
    std::vector<float> all;
    auto append = [&](const std::vector<std::int16_t>& pcm, double gapAfter) {
      for (auto s : pcm) all.push_back(static_cast<float>(s) / 32768.0f);
      all.insert(all.end(), static_cast<std::size_t>(gapAfter * 16000), 0.0f);
    };
    const std::string trim = "silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse";
    for (std::size_t i = 0; i < kSentences.size(); ++i) {
      const char* voice = voices[i % 3];
      const std::string slow = "--setf duration_stretch=" + std::to_string(stretches[(i / 3) % 3]);
      all.insert(all.end(), static_cast<std::size_t>((0.6 + 0.1 * double(i % 5)) * 16000), 0.0f);
      Rendition fluent{kSentences[i], split(kSentences[i]), 0, all.size() / 16000.0, 0};
      append(speak(dir, kSentences[i], voice, slow, ""), 0);
      fluent.end = all.size() / 16000.0;
      rec.fluent.push_back(fluent);
      if (i % 2 != 0) continue;
      const auto words = split(kSentences[i]);
      const auto& [at, filler] = kHesitationPlaces[(i / 2) % kHesitationPlaces.size()];
      const std::size_t cut = std::min(at, words.size() - 1);
      std::string first, second;
      for (std::size_t k = 0; k < words.size(); ++k) (k < cut ? first : second) += words[k] + " ";
      all.insert(all.end(), static_cast<std::size_t>(0.8 * 16000), 0.0f);
      Rendition hesitant{first + filler + " " + second, split(first + filler + " " + second), 1, all.size() / 16000.0,
                         0};
      append(speak(dir, first, voice, "", trim), 0.05);
      append(speak(dir, filler, voice, "", trim + " tempo -s 0.4"), 0.08);
      append(speak(dir, second, voice, "", trim), 0);
      hesitant.end = all.size() / 16000.0;
      rec.hesitant.push_back(hesitant);
    }
    all.insert(all.end(), 8000, 0.0f);
    platform::WavWriter out(rec.wav, 16000);
    out.write(all.data(), all.size());
    out.close();
    return rec;
  }();
  return r;
}

// Hesitations heard inside each rendition (words whose middle falls in it).
std::vector<int> hesitationsHeard(const std::vector<TranscriptWord>& words, const std::vector<Rendition>& renditions,
                                  std::size_t* wordsHeard = nullptr) {
  std::vector<int> heard;
  for (const auto& rd : renditions) {
    int count = 0;
    for (const auto& w : words) {
      const double middle = (w.range.start + w.range.end) / 2;
      if (middle < rd.start - 0.2 || middle > rd.end + 0.2) continue;
      if (wordsHeard) ++*wordsHeard;
      if (RecognizedWords::isHesitation(normal(w.text))) {
        ++count;
        if (std::getenv("KESTRANE_BENCH_DUMP"))
          std::fprintf(stderr, "hesitation %.0f ms at %.2f in: %s\n", 1000 * (w.range.end - w.range.start),
                       w.range.start, rd.text.c_str());
      }
    }
    heard.push_back(count);
  }
  return heard;
}

void BM_HeldHesitations(benchmark::State& state) {
  const auto& rec = heldRecording();
  Transcript transcript;
  for (auto _ : state) transcript = Transcriber::transcribe(rec.wav, "en_US");
  std::size_t fluentWords = 0, falseFillers = 0, found = 0;
  for (const auto& rd : rec.fluent) fluentWords += rd.words.size();
  for (int n : hesitationsHeard(transcript.words, rec.fluent)) falseFillers += static_cast<std::size_t>(n);
  for (int n : hesitationsHeard(transcript.words, rec.hesitant)) found += n > 0 ? 1 : 0;
  state.counters["fluentWords"] = static_cast<double>(fluentWords);
  state.counters["falseFillersPer100Words"] =
      100.0 * static_cast<double>(falseFillers) / static_cast<double>(fluentWords);
  state.counters["hesitationRecall"] = static_cast<double>(found) / static_cast<double>(rec.hesitant.size());
}

}  // namespace

BENCHMARK(BM_HeldHesitations)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
