// Whether spoken fillers come out of the transcriber as the tokens the cut removes, voice by
// voice: recall of the spoken fillers, and false fillers per 100 words of plain speech.
//
// Each voice gets a recording of its own: plain sentences, and sentences with a filler ("um",
// "uh", "umm", "erm") either read in the sentence by the voice (", um,") or spoken alone and
// held 0.3 to 0.9 s, at the sentence's start or in its middle, with or without pauses around
// it; every other sentence lies over room tone (noise near -50 dBFS) instead of digital silence.
// festival's kal_diphone joins flite's voices when it is installed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "BenchSupport.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/platform/WavWriter.hpp"
#include "kestrane/transcribe/Transcriber.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

const std::vector<std::string> kLines = {
    "so today I want to show you how the rough cut comes together",
    "we start with the footage as it was recorded",
    "the first thing you need is a good microphone",
    "let me show you how I set up the lights in my studio",
    "if you have a small budget spend it on audio first",
    "the key light sits to the left of the camera",
    "keep the background a little darker than the subject",
    "always record a few seconds of room tone before you start",
    "check the focus again after you move the tripod",
    "write the script first and then practice it out loud",
    "look straight into the lens when you speak to the audience",
    "your viewers care about the story more than the gear",
};
const std::vector<std::string> kFillers = {"um", "uh", "umm", "erm"};

struct Filler {
  double start = 0, end = 0;
};

struct Recording {
  std::string wav;
  std::size_t plainWords = 0;
  std::vector<Filler> fillers;
};

using bench::split;

std::vector<float> readWav(const std::string& path) {
  std::vector<float> out;
  for (auto s : bench::readPcm16(path)) out.push_back(static_cast<float>(s) / 32768.0f);
  return out;
}

// The voice's reading of `text` at 16 kHz with its own leading and trailing silence trimmed,
// then shaped by `effect` (sox effects) when given.
std::vector<float> speak(const fs::path& dir, const std::string& voice, const std::string& text,
                         const std::string& effect = "") {
  const auto raw = (dir / "raw.wav").string(), out = (dir / "out.wav").string();
  std::string cmd;
  if (voice == "kal_diphone")
    cmd = "echo '" + text + "' | text2wave -eval '(voice_kal_diphone)' -o " + raw + " 2>/dev/null";
  else cmd = "flite -voice " + voice + " -t '" + text + "' -o " + raw;
  cmd += " && sox " + raw + " -r 16000 -b 16 " + out + " silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse " +
         effect;
  if (std::system(cmd.c_str()) != 0) std::abort();
  return readWav(out);
}

std::vector<float> heldFor(const fs::path& dir, const std::string& voice, const std::string& filler, double seconds) {
  const auto plain = speak(dir, voice, filler);
  const double length = std::max(0.05, static_cast<double>(plain.size()) / 16000.0);
  std::ostringstream effect;
  effect << "tempo -s " << std::clamp(length / seconds, 0.1, 10.0);
  return speak(dir, voice, filler, effect.str());
}

const Recording& recording(const std::string& voice) {
  static std::map<std::string, Recording> made;
  if (auto found = made.find(voice); found != made.end()) return found->second;
  Recording rec;
  const fs::path dir = bench::scratchFolder("kestrane-bench-fillers-" + voice);
  rec.wav = (dir / "fillers.wav").string();
  std::vector<float> all;
  std::mt19937 random(7);
  const auto gap = [&](double seconds) { all.insert(all.end(), static_cast<std::size_t>(seconds * 16000), 0.0f); };
  const auto append = [&](const std::vector<float>& pcm) { all.insert(all.end(), pcm.begin(), pcm.end()); };
  std::vector<std::pair<std::size_t, std::size_t>> roomTone;
  std::size_t item = 0;
  for (std::size_t line = 0; line < kLines.size(); ++line) {
    for (int variant = 0; variant < 4; ++variant, ++item) {
      const std::size_t from = all.size();
      gap(0.6);
      const auto words = split(kLines[line]);
      const std::string& filler = kFillers[item % kFillers.size()];
      if (variant == 0) {
        append(speak(dir, voice, kLines[line]));
        rec.plainWords += words.size();
      } else if (variant == 1) {
        // Read by the voice in the sentence, as a script with the filler written in it.
        const std::size_t at = item % 3 == 0 ? 0 : 1 + item % (words.size() - 2);
        std::string text;
        for (std::size_t k = 0; k < words.size(); ++k)
          text += (k == at ? (k ? ", " : "") + filler + ", " : std::string(k ? " " : "")) + words[k];
        const auto pcm = speak(dir, voice, text);
        // Where the voice put it is not known exactly: the whole reading stands for it, and
        // only one filler may be heard there.
        rec.fillers.push_back(
            {static_cast<double>(all.size()) / 16000, static_cast<double>(all.size() + pcm.size()) / 16000});
        append(pcm);
      } else {
        // Spoken alone and held: at the start or in the middle, with pauses or run in.
        const double held = 0.3 + 0.1 * static_cast<double>((item * 5) % 7);
        const bool atStart = variant == 2;
        const bool paused = item % 2 == 0;
        const std::size_t at = atStart ? 0 : 2 + item % (words.size() - 3);
        std::string first, second;
        for (std::size_t k = 0; k < words.size(); ++k) (k < at ? first : second) += words[k] + " ";
        if (!first.empty()) {
          append(speak(dir, voice, first));
          gap(paused ? 0.25 : 0.03);
        }
        const auto sound = heldFor(dir, voice, filler, held);
        rec.fillers.push_back(
            {static_cast<double>(all.size()) / 16000, static_cast<double>(all.size() + sound.size()) / 16000});
        append(sound);
        gap(paused ? 0.3 : 0.04);
        append(speak(dir, voice, second));
      }
      gap(0.4);
      if (item % 2 == 1) roomTone.push_back({from, all.size()});
    }
  }
  gap(0.5);
  // Room tone: low-passed noise near -50 dBFS under every other item, gaps included.
  std::normal_distribution<float> noise(0.0f, 1.0f);
  float low = 0;
  for (const auto& [from, to] : roomTone)
    for (std::size_t i = from; i < to; ++i) {
      low = 0.9f * low + 0.1f * noise(random);
      all[i] += low * 0.0073f;
    }
  platform::WavWriter out(rec.wav, 16000);
  out.write(all.data(), all.size());
  out.close();
  return made.emplace(voice, rec).first->second;
}

std::string token(const std::string& text) {
  std::string out;
  for (char c : text)
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '\'')
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

void BM_FillerRecall(benchmark::State& state, const std::string& voice) {
  if (voice == "kal_diphone" && !fs::exists("/usr/share/festival/voices/english/kal_diphone")) {
    state.SkipWithError("festival's kal_diphone voice is not installed");
    for (auto _ : state) {
    }
    return;
  }
  const Recording& rec = recording(voice);
  Transcript transcript;
  Transcriber::Options options;
  // For tuning: KESTRANE_HESITATION_WEIGHT overrides the built-in weight.
  if (const char* w = std::getenv("KESTRANE_HESITATION_WEIGHT")) options.hesitationWeight = std::atof(w);
  for (auto _ : state) transcript = Transcriber::transcribe(rec.wav, "en_US", std::nullopt, options);
  if (std::getenv("KESTRANE_BENCH_DUMP"))
    for (const auto& w : transcript.words)
      std::fprintf(stderr, "%.2f %.2f %s\n", w.range.start, w.range.end, w.text.c_str());
  std::vector<int> heard(rec.fillers.size(), 0);
  std::size_t falseFillers = 0;
  for (const auto& w : transcript.words) {
    if (!TakeSelector::isFillerToken(token(w.text))) continue;
    const double middle = (w.range.start + w.range.end) / 2;
    const auto at = std::find_if(rec.fillers.begin(), rec.fillers.end(),
                                 [&](const Filler& f) { return middle >= f.start - 0.15 && middle <= f.end + 0.15; });
    if (at == rec.fillers.end() || heard[static_cast<std::size_t>(at - rec.fillers.begin())]++ > 0) {
      ++falseFillers;
      if (std::getenv("KESTRANE_BENCH_DUMP"))
        std::fprintf(stderr, "false filler %s at %.2f\n", w.text.c_str(), w.range.start);
    }
  }
  if (std::getenv("KESTRANE_BENCH_DUMP"))
    for (std::size_t k = 0; k < heard.size(); ++k)
      if (!heard[k]) std::fprintf(stderr, "missed filler %.2f-%.2f\n", rec.fillers[k].start, rec.fillers[k].end);
  const auto found = std::count_if(heard.begin(), heard.end(), [](int n) { return n > 0; });
  state.counters["spokenFillers"] = static_cast<double>(rec.fillers.size());
  state.counters["fillerRecall"] = static_cast<double>(found) / static_cast<double>(rec.fillers.size());
  // Plain sentences are a quarter of the words; the rate is taken over all the words read.
  const double wordsRead = static_cast<double>(rec.plainWords) * 4;
  state.counters["falseFillersPer100Words"] = 100.0 * static_cast<double>(falseFillers) / wordsRead;
}

}  // namespace

BENCHMARK_CAPTURE(BM_FillerRecall, slt, std::string("slt"))->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillerRecall, awb, std::string("awb"))->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillerRecall, rms, std::string("rms"))->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillerRecall, kal16, std::string("kal16"))->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_FillerRecall, kal_diphone, std::string("kal_diphone"))
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();
