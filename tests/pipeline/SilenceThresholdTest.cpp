// The suggested silence threshold and the words it must never cut, on recordings made here with
// flite and sox: room tone alone, quiet speech in a noisy room, speech over a steady music bed,
// and plain speech with pauses.
#include <gtest/gtest.h>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/analysis/SilenceDetection.hpp"
#include "kestrane/analysis/SilencePreview.hpp"
#include "kestrane/analysis/SilenceSensitivity.hpp"
#include "kestrane/brain/EditPlanner.hpp"
#include "kestrane/transcribe/RecognizedWords.hpp"
#include "platform/MediaFixtures.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;
using kestrane::testing::make;

namespace {

// Two read lines at 48 kHz with `pause` seconds between them, `lead` seconds before and after.
std::string twoLines(const fs::path& dir, double pause, double lead) {
  const auto a = (dir / "a.wav").string(), b = (dir / "b.wav").string();
  const auto a48 = (dir / "a48.wav").string(), b48 = (dir / "b48.wav").string();
  const auto out = (dir / "lines.wav").string();
  make("flite -voice slt -t 'keep the background a little darker than the subject' -o " + a);
  make("flite -voice awb -t 'the first thing you need is a good microphone' -o " + b);
  make("sox " + a + " -r 48000 " + a48 + " pad 0 " + std::to_string(pause));
  make("sox " + b + " -r 48000 " + b48);
  make("sox " + a48 + " " + b48 + " " + out + " pad " + std::to_string(lead) + " " + std::to_string(lead));
  return out;
}

// `speech` scaled by `gain` and mixed over a bed made by `synth` (sox synth arguments). Noise is
// made repeatable (-R), so every run hears the same recording.
std::string mixed(const fs::path& dir, const std::string& speech, double gain, const std::string& synth) {
  const auto bed = (dir / "bed.wav").string(), out = (dir / "mixed.wav").string();
  make("sox -R -n -r 48000 -c 1 " + bed + " synth $(soxi -D " + speech + ") " + synth);
  make("sox -R -m -v " + std::to_string(gain) + " " + speech + " " + bed + " " + out);
  return out;
}

Pipeline::Output cut(const Pipeline::Analysis& analysis, const fs::path& out, double threshold,
                     Thoroughness thoroughness) {
  Pipeline::Request r;
  r.input = analysis.source.path;
  r.outputDir = out;
  r.settings = test::appSettings();
  r.settings.silenceThresholdDBFS = threshold;
  r.settings.thoroughness = thoroughness;
  return Pipeline::run(r, analysis);
}

// The recognised words that are not hesitations, each with its middle inside no kept segment.
std::vector<std::string> wordsLost(const Pipeline::Output& output) {
  std::vector<std::string> lost;
  for (const auto& w : output.session.transcript->words) {
    std::string lower;
    for (char c : w.text) lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    if (!lower.empty() && lower.back() == '.') lower.pop_back();
    if (RecognizedWords::isHesitation(lower)) continue;
    const double mid = (w.range.start + w.range.end) / 2;
    bool kept = false;
    for (const auto& s : output.session.cutList->segments)
      kept = kept || (s.isKept() && s.range.start <= mid && mid < s.range.end);
    if (!kept) lost.push_back(w.text);
  }
  return lost;
}

double suggestion(const Pipeline::Analysis& analysis) {
  return thresholdDBFS(SilenceSensitivity::automatic, analysis.levels.levelsDBFS());
}

}  // namespace

TEST(SilenceThreshold, RoomToneAloneIsCutAway) {
  test::TempDir dir;
  const auto room = (dir.path() / "room.wav").string();
  make("sox -R -n -r 48000 -c 1 " + room + " synth 12 pinknoise vol 0.02");
  const auto track = AudioAnalyzer::measureLevels(MediaProbe::held(room));
  const double threshold = SilencePreview::suggestedThresholdDBFS(track.levelsDBFS);
  // Above the loudest room tone, so the room tone is found as silence...
  EXPECT_GT(threshold, SilencePreview::speechLevelDBFS(track.levelsDBFS));
  const auto silences = AudioAnalyzer::silences(track, threshold, 0.8);
  EditPlanner::CutMaterial material;
  material.sourceDuration = 12;
  material.frameDuration = 0.04;
  material.silences = silences;
  material.splitterSilences = silences;
  material.settings = test::appSettings();
  // ...and the cut keeps almost nothing.
  EXPECT_LT(EditPlanner::planCut(material).keptDuration(), 0.5);
  // A whole job says why.
  try {
    Pipeline::analyze(room);
    FAIL() << "room tone gave words";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "No speech found in the footage");
  }
}

TEST(SilenceThreshold, QuietSpeechInANoisyRoomKeepsEveryWord) {
  test::TempDir dir;
  // Mostly room tone: the line is a sixth of the recording and not much louder than the room.
  const auto input = mixed(dir.path(), twoLines(dir.path(), 0, 9), 0.12, "pinknoise vol 0.02");
  const auto analysis = Pipeline::analyze(input);
  ASSERT_GE(analysis.transcript.words.size(), 5u);
  const double automatic = suggestion(analysis);
  // At the suggested threshold every word stays and the room tone around the line goes.
  for (auto thoroughness : {Thoroughness::fast, Thoroughness::silencesOnly}) {
    const auto output = cut(analysis, dir.path(), automatic, thoroughness);
    EXPECT_EQ(wordsLost(output), std::vector<std::string>{});
    EXPECT_LT(output.session.cutList->keptDuration(), 9.0);
  }
  // A threshold above all of the speech hears the line as silence, and the cut follows it.
  const auto above = cut(analysis, dir.path(), -25.0, Thoroughness::fast);
  EXPECT_FALSE(wordsLost(above).empty());
  EXPECT_LT(above.session.cutList->keptDuration(), 1.0);
}

TEST(SilenceThreshold, SpeechOverAMusicBedKeepsEveryWord) {
  test::TempDir dir;
  const auto input =
      mixed(dir.path(), twoLines(dir.path(), 2.5, 1.5), 1.0, "sine 220 sine 277 sine 330 remix - vol 0.02");
  const auto analysis = Pipeline::analyze(input);
  ASSERT_GE(analysis.transcript.words.size(), 8u);
  for (auto thoroughness : {Thoroughness::fast, Thoroughness::silencesOnly}) {
    const auto output = cut(analysis, dir.path(), suggestion(analysis), thoroughness);
    EXPECT_EQ(wordsLost(output), std::vector<std::string>{});
    EXPECT_LT(output.session.cutList->keptDuration(), analysis.source.durationSeconds - 1.0);
  }
}

TEST(SilenceThreshold, PlainSpeechCutsAsBefore) {
  test::TempDir dir;
  const auto input = mixed(dir.path(), twoLines(dir.path(), 2.0, 1.0), 1.0, "pinknoise vol 0.002");
  const auto analysis = Pipeline::analyze(input);
  const double threshold = suggestion(analysis);
  const AudioAnalyzer::LevelTrack track{analysis.levels.levelsDBFS(), analysis.levels.hopDuration};
  const auto silences = AudioAnalyzer::silences(track, threshold, 0.8);
  const auto output = cut(analysis, dir.path(), threshold, Thoroughness::fast);
  EXPECT_EQ(wordsLost(output), std::vector<std::string>{});
  // The pause between the lines and the lead-in and tail are cut.
  EXPECT_GE(std::count_if(output.session.cutList->segments.begin(), output.session.cutList->segments.end(),
                          [](const Segment& s) { return s.kind == SegmentKind::silence; }),
            3);
}
