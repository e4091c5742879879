// Whether spoken fillers come out of the transcriber as the tokens the cut removes, voice by
// voice: recall of the spoken fillers, false fillers per 100 words of plain speech, and real
// words a filler cut takes a piece out of per 100 real words.
//
// Each voice gets a recording of its own: plain sentences, and sentences with a filler ("um",
// "uh", "umm", "erm") either read in the sentence by the voice (", um,") or spoken alone and
// held 0.3 to 0.9 s, at the sentence's start or in its middle, with or without pauses around
// it; every other sentence lies over room tone (noise near -50 dBFS) instead of digital silence.
// festival's kal_diphone joins flite's voices when it is installed.
//
// The clipped words are also measured on a recording with no filler at all, of sentences whose
// words end in a nasal ("from", "them", "down", "can") or a vowel before a pause, where the
// recognizer is prone to hear a word's hum or release as a separate "um" or "uh".
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
#include "kestrane/brain/TakeSelector.hpp"
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

const std::vector<std::string> kEndingLines = {
    "we took the long path down",
    "that is where I got it from",
    "I gave the notes to them",
    "tell me if you can",
    "then we turn the camera on",
    "the first take was done",
    "press the red button again",
    "I will show you",
    "that is how we do it too",
    "we are ready to go",
    "put the light over there",
    "you can see the blue sky",
    "come down from them and then we can run home",
    "they turn it on when the sun goes down",
    "open the main menu and then pick a plan",
    "I came from the town, and then I saw them, so we can begin",
    "say it again, slow and clean, then stop",
    "the sound is too low, so try it for me",
};

struct Span {
  double start = 0, end = 0;
};
using Filler = Span;

struct Recording {
  std::string wav;
  std::size_t plainWords = 0;
  std::vector<Filler> fillers;
  // Stretches holding only real words, and how many words they hold.
  std::vector<Span> realSpeech;
  std::size_t realWords = 0;
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
  cmd += " && sox -R " + raw + " -r 16000 -b 16 " + out + " silence 1 0.01 0.5% reverse silence 1 0.01 0.5% reverse " +
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

// One voice's recording put together item by item, with room tone under every other item.
class Builder {
 public:
  Builder(const std::string& voice, const std::string& name)
      : voice_(voice), dir_(bench::scratchFolder("kestrane-bench-fillers-" + voice)) {
    rec_.wav = (dir_ / (name + ".wav")).string();
  }
  double now() const { return static_cast<double>(all_.size()) / 16000; }
  void gap(double seconds) { all_.insert(all_.end(), static_cast<std::size_t>(seconds * 16000), 0.0f); }
  void append(const std::vector<float>& pcm) { all_.insert(all_.end(), pcm.begin(), pcm.end()); }
  // Real words read by the voice, where a filler cut has no business.
  void say(const std::string& text) {
    const auto pcm = speak(dir_, voice_, text);
    rec_.realSpeech.push_back({now(), now() + static_cast<double>(pcm.size()) / 16000});
    rec_.realWords += split(text).size();
    append(pcm);
  }
  void beginItem() { itemFrom_ = all_.size(); }
  void endItem(bool overRoomTone) {
    if (overRoomTone) roomTone_.push_back({itemFrom_, all_.size()});
  }
  Recording& rec() { return rec_; }
  const fs::path& dir() const { return dir_; }
  // Room tone: low-passed noise near -50 dBFS, gaps included.
  Recording finish() {
    gap(0.5);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    float low = 0;
    for (const auto& [from, to] : roomTone_)
      for (std::size_t i = from; i < to; ++i) {
        low = 0.9f * low + 0.1f * noise(random);
        all_[i] += low * 0.0073f;
      }
    platform::WavWriter out(rec_.wav, 16000);
    out.write(all_.data(), all_.size());
    out.close();
    return rec_;
  }

 private:
  std::string voice_;
  fs::path dir_;
  Recording rec_;
  std::vector<float> all_;
  std::vector<std::pair<std::size_t, std::size_t>> roomTone_;
  std::size_t itemFrom_ = 0;
};

Recording fillerRecording(const std::string& voice) {
  Builder b(voice, "fillers");
  Recording& rec = b.rec();
  std::size_t item = 0;
  for (std::size_t line = 0; line < kLines.size(); ++line) {
    for (int variant = 0; variant < 4; ++variant, ++item) {
      b.beginItem();
      b.gap(0.6);
      const auto words = split(kLines[line]);
      const std::string& filler = kFillers[item % kFillers.size()];
      if (variant == 0) {
        b.say(kLines[line]);
        rec.plainWords += words.size();
      } else if (variant == 1) {
        // Read by the voice in the sentence, as a script with the filler written in it.
        const std::size_t at = item % 3 == 0 ? 0 : 1 + item % (words.size() - 2);
        std::string text;
        for (std::size_t k = 0; k < words.size(); ++k)
          text += (k == at ? (k ? ", " : "") + filler + ", " : std::string(k ? " " : "")) + words[k];
        const auto pcm = speak(b.dir(), voice, text);
        // Where the voice put it is not known exactly: the whole reading stands for it, and
        // only one filler may be heard there.
        rec.fillers.push_back({b.now(), b.now() + static_cast<double>(pcm.size()) / 16000});
        b.append(pcm);
      } else {
        // Spoken alone and held: at the start or in the middle, with pauses or run in.
        const double held = 0.3 + 0.1 * static_cast<double>((item * 5) % 7);
        const bool atStart = variant == 2;
        const bool paused = item % 2 == 0;
        const std::size_t at = atStart ? 0 : 2 + item % (words.size() - 3);
        std::string first, second;
        for (std::size_t k = 0; k < words.size(); ++k) (k < at ? first : second) += words[k] + " ";
        if (!first.empty()) {
          b.say(first);
          b.gap(paused ? 0.25 : 0.03);
        }
        const auto sound = heldFor(b.dir(), voice, filler, held);
        rec.fillers.push_back({b.now(), b.now() + static_cast<double>(sound.size()) / 16000});
        b.append(sound);
        b.gap(paused ? 0.3 : 0.04);
        b.say(second);
      }
      b.gap(0.4);
      b.endItem(item % 2 == 1);
    }
  }
  return b.finish();
}

// No filler at all: each line, then another after a pause of 0.15 to 0.9 s, so every line's
// last word (a nasal or a vowel) stands before a pause.
Recording endingsRecording(const std::string& voice) {
  Builder b(voice, "endings");
  for (std::size_t item = 0; item < kEndingLines.size(); ++item) {
    b.beginItem();
    b.gap(0.6);
    b.say(kEndingLines[item]);
    b.gap(0.15 + 0.15 * static_cast<double>(item % 6));
    b.say(kEndingLines[(item + 7) % kEndingLines.size()]);
    b.gap(0.4);
    b.endItem(item % 2 == 1);
  }
  Recording rec = b.finish();
  rec.plainWords = rec.realWords;
  return rec;
}

bool dumping() { return std::getenv("KESTRANE_BENCH_DUMP") != nullptr; }

std::string token(const std::string& text) {
  std::string out;
  for (char c : text)
    if (std::isalpha(static_cast<unsigned char>(c)) || c == '\'')
      out.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  return out;
}

bool voiceMissing(benchmark::State& state, const std::string& voice) {
  if (voice != "kal_diphone" || fs::exists("/usr/share/festival/voices/english/kal_diphone")) return false;
  state.SkipWithError("festival's kal_diphone voice is not installed");
  for (auto _ : state) {
  }
  return true;
}

Transcript transcribed(benchmark::State& state, const Recording& rec) {
  Transcript transcript;
  Transcriber::Options options;
  // One decoder hears every stretch in turn, so runs give the same words and figures compare.
  options.workers = 1;
  // For tuning: KESTRANE_HESITATION_WEIGHT overrides the built-in weight.
  if (const char* w = std::getenv("KESTRANE_HESITATION_WEIGHT")) options.hesitationWeight = std::atof(w);
  for (auto _ : state) transcript = Transcriber::transcribe(rec.wav, "en_US", std::nullopt, options);
  if (dumping())
    for (const auto& w : transcript.words)
      std::fprintf(stderr, "%.2f %.2f %s\n", w.range.start, w.range.end, w.text.c_str());
  return transcript;
}

// Real words a filler cut reaches into by more than a frame, per 100 real words: the cuts are the
// decision's own filler removals.
double clippedPer100Words(const Transcript& transcript, const Recording& rec) {
  constexpr double kFrame = 0.01;
  std::size_t clipped = 0;
  for (const auto& cut : TakeSelector::fillersOnly(transcript, bench::appSettings()).removals)
    for (const auto& speech : rec.realSpeech) {
      const double overlap = std::min(cut.range.end, speech.end) - std::max(cut.range.start, speech.start);
      if (overlap <= kFrame) continue;
      ++clipped;
      if (dumping())
        std::fprintf(stderr, "clipped by %s %.2f-%.2f: %.2f s\n", cut.reason.value_or("").c_str(), cut.range.start,
                     cut.range.end, overlap);
    }
  return 100.0 * static_cast<double>(clipped) / static_cast<double>(rec.realWords);
}

void BM_FillerRecall(benchmark::State& state, const std::string& voice) {
  if (voiceMissing(state, voice)) return;
  static std::map<std::string, Recording> made;
  if (!made.count(voice)) made.emplace(voice, fillerRecording(voice));
  const Recording& rec = made.at(voice);
  const Transcript transcript = transcribed(state, rec);
  std::vector<int> heard(rec.fillers.size(), 0);
  std::size_t falseFillers = 0;
  for (const auto& w : transcript.words) {
    if (!TakeSelector::isFillerToken(token(w.text))) continue;
    const double middle = (w.range.start + w.range.end) / 2;
    const auto at = std::find_if(rec.fillers.begin(), rec.fillers.end(),
                                 [&](const Filler& f) { return middle >= f.start - 0.15 && middle <= f.end + 0.15; });
    if (at == rec.fillers.end() || heard[static_cast<std::size_t>(at - rec.fillers.begin())]++ > 0) {
      ++falseFillers;
      if (dumping()) std::fprintf(stderr, "false filler %s at %.2f\n", w.text.c_str(), w.range.start);
    }
  }
  if (dumping())
    for (std::size_t k = 0; k < heard.size(); ++k)
      if (!heard[k]) std::fprintf(stderr, "missed filler %.2f-%.2f\n", rec.fillers[k].start, rec.fillers[k].end);
  const auto found = std::count_if(heard.begin(), heard.end(), [](int n) { return n > 0; });
  state.counters["spokenFillers"] = static_cast<double>(rec.fillers.size());
  state.counters["fillerRecall"] = static_cast<double>(found) / static_cast<double>(rec.fillers.size());
  // Plain sentences are a quarter of the words; the rate is taken over all the words read.
  const double wordsRead = static_cast<double>(rec.plainWords) * 4;
  state.counters["falseFillersPer100Words"] = 100.0 * static_cast<double>(falseFillers) / wordsRead;
  state.counters["wordsClippedPer100Words"] = clippedPer100Words(transcript, rec);
}

// Words that end in a hum or a vowel release, with no filler spoken anywhere.
void BM_FillerWordEndings(benchmark::State& state, const std::string& voice) {
  if (voiceMissing(state, voice)) return;
  static std::map<std::string, Recording> made;
  if (!made.count(voice)) made.emplace(voice, endingsRecording(voice));
  const Recording& rec = made.at(voice);
  const Transcript transcript = transcribed(state, rec);
  const auto falseFillers = std::count_if(transcript.words.begin(), transcript.words.end(),
                                          [](const auto& w) { return TakeSelector::isFillerToken(token(w.text)); });
  state.counters["falseFillersPer100Words"] =
      100.0 * static_cast<double>(falseFillers) / static_cast<double>(rec.realWords);
  state.counters["wordsClippedPer100Words"] = clippedPer100Words(transcript, rec);
}

}  // namespace

#define KESTRANE_VOICE_BENCH(fn, voice) \
  BENCHMARK_CAPTURE(fn, voice, std::string(#voice))->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime()
KESTRANE_VOICE_BENCH(BM_FillerRecall, slt);
KESTRANE_VOICE_BENCH(BM_FillerRecall, awb);
KESTRANE_VOICE_BENCH(BM_FillerRecall, rms);
KESTRANE_VOICE_BENCH(BM_FillerRecall, kal16);
KESTRANE_VOICE_BENCH(BM_FillerRecall, kal);
KESTRANE_VOICE_BENCH(BM_FillerRecall, kal_diphone);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, slt);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, awb);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, rms);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, kal16);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, kal);
KESTRANE_VOICE_BENCH(BM_FillerWordEndings, kal_diphone);
