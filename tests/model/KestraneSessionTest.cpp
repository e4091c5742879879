#include "kestrane/model/KestraneSession.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>

#include "kestrane/model/SessionJson.hpp"
#include "kestrane/model/Utf8Text.hpp"
#include "kestrane/platform/MovieFile.hpp"
#include <nlohmann/json.hpp>

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

SourceMedia sampleSource() {
  SourceMedia s;
  s.path = "/footage/take one.mov";
  s.durationSeconds = 62.5;
  s.frameDuration = {1001, 30000};
  s.width = 1920;
  s.height = 1080;
  s.hasVideo = true;
  s.audioSampleRate = 48000;
  return s;
}

KestraneSession fullSession() {
  auto s = KestraneSession::make(sampleSource(), PipelineSettings::make(-40, 0.8, 0.15, true),
                                 std::string("Hello “world”.\nSecond line/with slash"));
  s.source.audioChannelCount = 2;
  s.source.startTimecode = RationalTime{107892000, 30000};
  s.source.timecodeIsDropFrame = true;
  s.source.pictureEndSeconds = 60.5;
  s.settings.subtitleLength = TranscriptExporter::SubtitleLength::long_;
  s.settings.manualKeepRanges = std::vector<TimeRange>{{1.25, 2}};
  s.settings.graphicsDensity = GraphicsDensity::fullyAnimated;
  s.projectName = "Launch";
  s.warnings = std::vector<std::string>{"A warning — explained."};
  s.silences = std::vector<SilenceSpan>{{{3, 4.5}, -61.25}};
  s.transcript = Transcript{{{"Hello", {0.5, 0.9}}, {"world.", {0.95, 1.4}}}};
  s.cutList = CutList{{{{0, 0.4}, SegmentKind::silence},
                       {{0.4, 1.5}, SegmentKind::keep, std::nullopt, 3},
                       {{1.5, 62.5}, SegmentKind::retakeRejected, std::string("earlier take")}}};
  s.roughCutCutList = CutList{{{{0, 62.5}, SegmentKind::keep}}};
  s.roughCutMovie = MovieIdentity{4'294'967'301, 1'700'000'000, 999'999'999,
                                  "594cfd2607d4f09e1ce6241203e418cacfed545063792bc5eab7afaadbf0c4e0"};
  s.advisories = std::vector<Advisory>{{{1, 2}, "check this; review"}};
  s.editorNotes = std::vector<Advisory>{};
  s.levels = LevelData::fromLevels(0.01, {-80, -20.4f, -3}, {-80, -31, -12});
  s.takeGroups = std::vector<TakeGroupInfo>{{3, {0.4, 1.5}, std::vector<TimeRange>{{10, 12}}}, {4, {2, 3}}};
  BrandSpec brand{"Acme"};
  brand.componentVocabulary = ComponentVocabulary{};
  brand.componentVocabulary->styleExcerpts["title"] = "font-weight: 700";
  s.brandSpec = brand;
  GraphicsAsset asset{"Stat", "stat.mov"};
  asset.kind = GraphicKind::fullFrame;
  asset.anchoredToTranscript = false;
  s.graphicsAssets = std::vector<GraphicsAsset>{asset};
  return s;
}

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream b;
  b << in.rdbuf();
  return b.str();
}

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("kestrane-test-" + std::to_string(::getpid()) + "-" +
                                               std::to_string(reinterpret_cast<std::uintptr_t>(this)));
  TempDir() { fs::create_directories(path); }
  ~TempDir() { fs::remove_all(path); }
};

std::string decodeError(const std::string& text) {
  try {
    SessionJson::decode(text);
  } catch (const SessionFileError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(KestraneSession, NewSessionWritesOnlyItsThreeOrFourMembers) {
  auto s = KestraneSession::make(sampleSource(), PipelineSettings::make(-40, 0.8, 0.15, true));
  const std::string text = SessionJson::encode(s);
  EXPECT_TRUE(text.starts_with("{\n  \"settings\" : {\n    \"aiAdjudication\" : true,"));
  EXPECT_LT(text.find("\"settings\""), text.find("\"source\""));
  EXPECT_LT(text.find("\"source\""), text.find("\"version\" : 1"));
  EXPECT_EQ(text.find("null"), std::string::npos);
  EXPECT_EQ(text.find("\"script\""), std::string::npos);
  EXPECT_NE(text.find("\"path\" : \"\\/footage\\/take one.mov\""), std::string::npos);
  s.script = "x";
  EXPECT_TRUE(SessionJson::encode(s).starts_with("{\n  \"script\" : \"x\",\n  \"settings\""));
}

TEST(KestraneSession, RoundTripsByteForByte) {
  TempDir dir;
  const auto file = dir.path / "Launch.kestrane.json";
  const auto original = fullSession();
  original.write(file);
  const std::string first = slurp(file);
  EXPECT_NE(first.find("\"range\" : {\n          \"end\" : 0.9,\n          \"start\" : 0.5\n"), std::string::npos);
  const auto back = KestraneSession::read(file);
  EXPECT_EQ(back.source.startTimecode, original.source.startTimecode);
  EXPECT_EQ(back.source.pictureEndSeconds, original.source.pictureEndSeconds);
  EXPECT_EQ(back.settings.subtitleLength, TranscriptExporter::SubtitleLength::long_);
  EXPECT_EQ(back.cutList->segments, original.cutList->segments);
  EXPECT_EQ(back.roughCutCutList->segments, original.roughCutCutList->segments);
  EXPECT_EQ(back.roughCutMovie, original.roughCutMovie);
  EXPECT_EQ(back.takeGroups, original.takeGroups);
  EXPECT_EQ(back.brandSpec, original.brandSpec);
  EXPECT_EQ(back.graphicsAssets, original.graphicsAssets);
  EXPECT_EQ(back.levels->levelsDBFS(), original.levels->levelsDBFS());
  EXPECT_EQ(back.levels->speechLevelsDBFS(), (std::vector<float>{-80, -31, -12}));
  EXPECT_TRUE(back.editorNotes.has_value() && back.editorNotes->empty());
  back.write(file);
  EXPECT_EQ(slurp(file), first);
  // The speech band's levels are stored only where a cut needs them.
  KestraneSession plain = original;
  plain.levels = LevelData::fromLevels(0.01, {-80, -20.4f, -3});
  EXPECT_EQ(SessionJson::encode(plain).find("speechBase64"), std::string::npos);
  EXPECT_EQ(SessionJson::decode(SessionJson::encode(plain)).levels->speechLevelsDBFS(), std::vector<float>{});
}

TEST(KestraneSession, FootagePathsThatAreNotUtf8ComeBackExactly) {
  TempDir dir;
  const auto file = dir.path / "Bytes.kestrane.json";
  std::mt19937 random(11);
  // Latin-1, a stray continuation byte, a cut-off sequence, '%' and escapes-lookalikes, and
  // valid accents beside them.
  const std::vector<std::string> pieces{"caf\xe9", "\x80", "\xc3", "%", "%E9", "%zz", "é", "ü", "/", " ", "a"};
  for (int round = 0; round < 40; ++round) {
    KestraneSession session = fullSession();
    session.source.path = "/footage/";
    for (int k = 0, n = 1 + static_cast<int>(random() % 8); k < n; ++k)
      session.source.path += pieces[random() % pieces.size()];
    session.write(file);
    const std::string text = slurp(file);
    ASSERT_TRUE(Utf8Text::isValid(text)) << session.source.path;
    const auto back = KestraneSession::read(file);
    ASSERT_EQ(back.source.path, session.source.path);
    back.write(file);
    ASSERT_EQ(slurp(file), text);
    // A UTF-8 path is stored once, as it is.
    EXPECT_EQ(text.find("pathBytes") == std::string::npos, Utf8Text::isValid(session.source.path));
  }
  KestraneSession latin = fullSession();
  latin.source.path = "/footage/caf\xe9.mov";
  latin.write(file);
  EXPECT_NE(slurp(file).find("\"path\" : \"\\/footage\\/caf\xEF\xBF\xBD.mov\""), std::string::npos) << slurp(file);
}

TEST(KestraneSession, ReadingIsLenientWhereItMayBeAndStrictElsewhere) {
  const std::string base =
      SessionJson::encode(KestraneSession::make(sampleSource(), PipelineSettings::make(-40, 0.8, 0.15, true)));
  auto json = nlohmann::json::parse(base);

  auto with = [&](auto edit) {
    auto copy = json;
    edit(copy);
    return copy.dump();
  };
  // Nulls and unknown members read as absent.
  auto lenient = SessionJson::decode(with([](auto& j) {
    j["projectName"] = nullptr;
    j["extra"] = 1;
    j["source"]["extra"] = "x";
    j["settings"]["silenceThresholdDBFS"] = -40;
  }));
  EXPECT_FALSE(lenient.projectName.has_value());
  EXPECT_FALSE(lenient.source.pictureEndSeconds) << "a session of an earlier build measured no picture's end";
  EXPECT_EQ(lenient.version, 1);
  EXPECT_EQ(lenient.settings.silenceThresholdDBFS, -40.0);
  EXPECT_EQ(SessionJson::encode(lenient).find("extra"), std::string::npos);

  EXPECT_NE(decodeError(with([](auto& j) { j.erase("settings"); })).find("settings"), std::string::npos);
  EXPECT_NE(decodeError(with([](auto& j) { j.erase("version"); })), "");
  EXPECT_NE(
      decodeError(with([](auto& j) { j["settings"]["exportTarget"] = "FinalCut"; })).find("settings.exportTarget"),
      std::string::npos);
  EXPECT_NE(decodeError(with([](auto& j) {
              j["cutList"] = {{"segments", {{{"range", {{"start", 0}, {"end", 1}}}, {"kind", "cut"}}}}};
            })).find("cutList.segments[0].kind"),
            std::string::npos);
  EXPECT_NE(decodeError(with([](auto& j) { j["version"] = 1.5; })), "");
  EXPECT_NE(decodeError(with([](auto& j) { j["source"]["frameDuration"]["timescale"] = 1LL << 40; })), "");
  for (const auto& tv : {std::string("true"), std::string("\"FAST\"")}) {
    EXPECT_NE(decodeError(with([&](auto& j) { j["settings"]["thoroughness"] = nlohmann::json::parse(tv); })), "");
  }
  for (auto kind : {"sparse", "fullyAnimated"}) {
    EXPECT_EQ(decodeError(with([&](auto& j) { j["settings"]["graphicsDensity"] = kind; })), "");
  }
  EXPECT_NE(decodeError(with([](auto& j) { j["settings"]["subtitleLength"] = "tiny"; })), "");
  EXPECT_NE(decodeError("not json"), "");
}

TEST(KestraneSession, RejectsValuesThatWouldDivideByZeroOrGoBackwards) {
  auto json = nlohmann::json::parse(SessionJson::encode(fullSession()));
  auto errorFor = [&](auto edit) {
    auto copy = json;
    edit(copy);
    return decodeError(copy.dump());
  };
  EXPECT_NE(
      errorFor([](auto& j) { j["source"]["frameDuration"]["timescale"] = 0; }).find("source.frameDuration.timescale"),
      std::string::npos);
  EXPECT_NE(errorFor([](auto& j) { j["source"]["frameDuration"]["value"] = 0; }).find("source.frameDuration.value"),
            std::string::npos);
  EXPECT_NE(errorFor([](auto& j) { j["source"]["startTimecode"]["timescale"] = -1; }), "");
  EXPECT_NE(errorFor([](auto& j) { j["levels"]["hopDuration"] = 0; }).find("levels.hopDuration"), std::string::npos);
  EXPECT_NE(errorFor([](auto& j) { j["silences"][0]["range"]["start"] = -2; }).find("silences[0].range.start"),
            std::string::npos);
  EXPECT_NE(decodeError(R"({"version":1,"source":{},"settings":{}})"), "");
  auto huge = json.dump();
  huge.replace(huge.find("62.5"), 4, "1e400");
  EXPECT_NE(decodeError(huge), "");
}

// Numbers no recording can have come from a damaged or hand-made file: each is refused with
// the reader's usual sentence naming where it is, before any of it reaches frames, samples or
// clock times. The largest a real recording has still reads.
TEST(KestraneSession, RefusesNumbersNoRecordingCanHave) {
  const auto json = nlohmann::json::parse(SessionJson::encode(fullSession()));
  const auto errorFor = [&](auto edit) {
    auto copy = json;
    edit(copy);
    return decodeError(copy.dump());
  };
  using Edit = std::function<void(nlohmann::json&)>;
  const std::vector<std::pair<Edit, std::string>> refused = {
      {[](auto& j) { j["source"]["audioSampleRate"] = 1e300; }, "source.audioSampleRate: not a sample rate"},
      {[](auto& j) { j["source"]["audioSampleRate"] = -48000; }, "source.audioSampleRate: not a sample rate"},
      {[](auto& j) { j["source"]["durationSeconds"] = 9.3e18; },
       "source.durationSeconds: a time can't be beyond 100 hours"},
      {[](auto& j) { j["source"]["pictureEndSeconds"] = -1; }, "source.pictureEndSeconds: a time can't be negative"},
      {[](auto& j) { j["source"]["pictureEndSeconds"] = 1e300; },
       "source.pictureEndSeconds: a time can't be beyond 100 hours"},
      // Too short to leave a cut, which a run could only fail on.
      {[](auto& j) { j["source"]["durationSeconds"] = 0; }, "source.durationSeconds: a recording must be longer"},
      {[](auto& j) { j["source"]["durationSeconds"] = -0.0; }, "source.durationSeconds: a recording must be longer"},
      {[](auto& j) { j["source"]["durationSeconds"] = 1e-9; }, "source.durationSeconds: a recording must be longer"},
      {[](auto& j) { j["source"]["durationSeconds"] = 0.001; }, "source.durationSeconds: a recording must be longer"},
      // A start the timeline can't add frames to.
      {[](auto& j) {
         j["source"]["startTimecode"] = {{"value", 1}, {"timescale", 2147483647}};
       },
       "source.startTimecode.timescale: can't be combined with the frame rate's"},
      {[](auto& j) { j["version"] = -1; }, "version: this program reads session files of version 1, not -1"},
      {[](auto& j) { j["version"] = 2; }, "version: this program reads session files of version 1, not 2"},
      {[](auto& j) { j["source"]["path"] = std::string("/footage/talk.mov\0.mp4", 22); },
       "source.path: a file path can't hold a NUL character"},
      {[](auto& j) { j["source"]["pathBytes"] = "/footage/talk%00.mov"; },
       "source.pathBytes: a file path can't hold a NUL character"},
      {[](auto& j) { j["transcript"]["words"][1]["range"]["end"] = 1e300; },
       "transcript.words[1].range.end: a time can't be beyond"},
      {[](auto& j) {
         j["source"]["frameDuration"] = {{"value", 1}, {"timescale", 2147483647}};
       },
       "source.frameDuration: not a frame rate"},
      {[](auto& j) {
         j["source"]["frameDuration"] = {{"value", 3600}, {"timescale", 1}};
       },
       "source.frameDuration: not a frame rate"},
      {[](auto& j) { j["source"]["width"] = 1000000000; }, "source.width: not a picture size"},
      {[](auto& j) { j["source"]["audioChannelCount"] = -1; }, "source.audioChannelCount"},
      {[](auto& j) {
         j["source"]["startTimecode"] = {{"value", 9223372036854775807LL}, {"timescale", 1}};
       },
       "source.startTimecode: a time can't be beyond"},
      {[](auto& j) { j["levels"]["hopDuration"] = 1e9; }, "levels.hopDuration: a time can't be beyond"},
      {[](auto& j) { j["graphicsAssets"][0]["placementSeconds"] = 1e20; }, "graphicsAssets[0].placementSeconds"},
      {[](auto& j) { j["settings"]["graphicsLimit"] = 2147483647; },
       "settings.graphicsLimit: takes a whole number from 1 to 1000 — “2147483647” is not one"},
      // Below 1 too, as the command line refuses it, rather than read as a limit of 1.
      {[](auto& j) { j["settings"]["graphicsLimit"] = 0; },
       "settings.graphicsLimit: takes a whole number from 1 to 1000 — “0” is not one"},
      {[](auto& j) { j["settings"]["graphicsLimit"] = -5; },
       "settings.graphicsLimit: takes a whole number from 1 to 1000 — “-5” is not one"},
      // Hand edits run forwards and words follow one another, or captions come out of order.
      {[](auto& j) {
         j["settings"]["manualRemoveRanges"] = {{{"start", 2}, {"end", 1}}};
       },
       "settings.manualRemoveRanges[0]: ends before it starts"},
      {[](auto& j) { j["settings"]["manualKeepRanges"][0]["end"] = 1; },
       "settings.manualKeepRanges[0]: ends before it starts"},
      {[](auto& j) { j["transcript"]["words"][0]["range"]["end"] = 0.4; },
       "transcript.words[0].range: ends before it starts"},
      {[](auto& j) { j["transcript"]["words"][1]["range"]["start"] = 0.7; },
       "transcript.words[1].range: starts before the word before it ends"},
      {[](auto& j) {
         j["transcript"]["words"][1]["range"] = {{"start", 0.1}, {"end", 0.2}};
       },
       "transcript.words[1].range: starts before the word before it ends"},
      // No file has such a size or time; a record missing a part names no file.
      {[](auto& j) { j["roughCutMovie"]["size"] = -1; }, "roughCutMovie.size: a file's size can't be negative"},
      {[](auto& j) { j["roughCutMovie"]["modifiedNanoseconds"] = 1'000'000'000; },
       "roughCutMovie.modifiedNanoseconds: must be from 0 to 999999999"},
      {[](auto& j) { j["roughCutMovie"]["modifiedNanoseconds"] = -1; }, "roughCutMovie.modifiedNanoseconds"},
      {[](auto& j) { j["roughCutMovie"].erase("modifiedSeconds"); }, "roughCutMovie.modifiedSeconds: missing"},
      {[](auto& j) { j["roughCutMovie"] = 5; }, "roughCutMovie: expected an object"},
      {[](auto& j) { j["roughCutMovie"]["sampledSHA256"] = "594CFD"; },
       "roughCutMovie.sampledSHA256: expected 64 lowercase hexadecimal digits"},
      {[](auto& j) { j["roughCutMovie"]["sampledSHA256"] = std::string(64, 'g'); }, "roughCutMovie.sampledSHA256"},
      {[](auto& j) { j["roughCutMovie"]["sampledSHA256"] = 5; }, "roughCutMovie.sampledSHA256: expected text"},
  };
  for (const auto& [edit, where] : refused) {
    const std::string error = errorFor(edit);
    EXPECT_NE(error.find(where), std::string::npos) << where << " — " << error;
  }
  EXPECT_EQ(errorFor([](auto& j) {
              j["source"]["durationSeconds"] = 100 * 3600.0;
              j["source"]["audioSampleRate"] = 384000;
              j["source"]["frameDuration"] = {{"value", 1}, {"timescale", 240}};
              j["source"]["startTimecode"] = {{"value", 1}, {"timescale", 48000}};
              j["settings"]["graphicsLimit"] = 1000;
              j["transcript"]["words"][1]["range"]["start"] = 0.9;  // words may touch
            }),
            "");
  EXPECT_EQ(errorFor([](auto& j) { j["source"]["durationSeconds"] = 0.0011; }), "");

  // Read from a file, the refusal is the reader's sentence.
  auto copy = json;
  copy["source"]["audioSampleRate"] = 1e300;
  const fs::path file = fs::temp_directory_path() / "wild.kestrane.json";
  std::ofstream(file) << copy.dump();
  try {
    KestraneSession::read(file);
    ADD_FAILURE() << "read a sample rate of 1e300";
  } catch (const SessionFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Can't read the session file " + file.string() +
                                         " — source.audioSampleRate: not a sample rate a recording can have.");
  }
}

TEST(KestraneSession, FailedWritesLeaveTheOldFileAlone) {
  TempDir dir;
  const auto file = dir.path / "s.kestrane.json";
  auto good = fullSession();
  good.write(file);
  const std::string before = slurp(file);

  auto bad = good;
  bad.silences->front().meanLevelDBFS = std::nan("");
  EXPECT_THROW(bad.write(file), SessionFileError);
  bad = good;
  bad.settings.speechPadding = INFINITY;
  EXPECT_THROW(bad.write(file), SessionFileError);
  // What reading would refuse is never written either.
  bad = good;
  bad.transcript->words[1].range.start = -0.5;
  EXPECT_THROW(bad.write(file), SessionFileError);
  bad = good;
  bad.levels->hopDuration = 0;
  EXPECT_THROW(bad.write(file), SessionFileError);
  bad = good;
  bad.source.frameDuration = RationalTime{0, 600};
  EXPECT_THROW(bad.write(file), SessionFileError);
  bad = good;
  bad.source.durationSeconds = -1;
  try {
    bad.write(file);
    FAIL();
  } catch (const SessionFileError& e) {
    EXPECT_NE(std::string(e.what()).find("source.durationSeconds: a time can't be negative"), std::string::npos)
        << e.what();
  }
  EXPECT_EQ(slurp(file), before);

  EXPECT_THROW(good.write(dir.path / "missing-folder" / "s.json"), SessionFileError);
  ::chmod(dir.path.c_str(), 0500);
  if (::geteuid() != 0) {
    EXPECT_THROW(good.write(file), SessionFileError);
  }
  ::chmod(dir.path.c_str(), 0700);
  EXPECT_EQ(slurp(file), before);
  // Nothing but the session file is left behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), fs::directory_iterator()), 1);

  auto second = good;
  second.projectName = "Second";
  second.write(file);
  EXPECT_EQ(KestraneSession::read(file).projectName, "Second");

  // A name as long as the folder allows still saves: the file written aside has a short name.
  const auto longest = dir.path / (std::string(255 - 14, 'n') + ".kestrane.json");
  good.write(longest);
  EXPECT_EQ(KestraneSession::read(longest).projectName, "Launch");
}

TEST(KestraneSession, ReadReportsMissingAndOversizedFiles) {
  TempDir dir;
  EXPECT_THROW(KestraneSession::read(dir.path / "nope.json"), SessionFileError);
  const auto big = dir.path / "big.json";
  { std::ofstream(big) << " "; }
  fs::resize_file(big, KestraneSession::maxFileBytes + 1);
  try {
    KestraneSession::read(big);
    FAIL();
  } catch (const SessionFileError& e) {
    EXPECT_NE(std::string(e.what()).find("256 MB"), std::string::npos);
  }
}

// The movie's record names a file only where a build that keeps it wrote one: a session of an
// earlier build reads without it (or without its digest) and is written back as it was, and a
// record with a digest keeps every member the last build reads, which reads past the new one as
// this reader reads past members it does not know. The identity read from a name is that of a
// plain file there, never of what a link points at, and its digest is of its bytes alone.
TEST(KestraneSession, TheRoughCutMovieIsNamedOnlyWhereItWasRecorded) {
  KestraneSession earlier = fullSession();
  earlier.roughCutMovie.reset();
  const std::string earlierText = SessionJson::encode(earlier);
  EXPECT_EQ(earlierText.find("roughCutMovie"), std::string::npos);
  const KestraneSession read = SessionJson::decode(earlierText);
  ASSERT_TRUE(read.roughCutCutList);
  EXPECT_FALSE(read.roughCutMovie);
  EXPECT_EQ(SessionJson::encode(read), earlierText);

  KestraneSession lastBuild = fullSession();
  lastBuild.roughCutMovie->sampledSHA256.reset();
  const std::string lastBuildText = SessionJson::encode(lastBuild);
  EXPECT_EQ(lastBuildText.find("sampledSHA256"), std::string::npos);
  EXPECT_EQ(SessionJson::decode(lastBuildText).roughCutMovie, lastBuild.roughCutMovie);
  EXPECT_EQ(SessionJson::encode(SessionJson::decode(lastBuildText)), lastBuildText);

  const std::string text = SessionJson::encode(fullSession());
  EXPECT_NE(
      text.find("\"roughCutMovie\" : {\n    \"modifiedNanoseconds\" : 999999999,\n    \"modifiedSeconds\" : "
                "1700000000,\n    \"sampledSHA256\" : "
                "\"594cfd2607d4f09e1ce6241203e418cacfed545063792bc5eab7afaadbf0c4e0\",\n    \"size\" : 4294967301\n"),
      std::string::npos)
      << text;
  nlohmann::json withMore = nlohmann::json::parse(text);
  withMore["roughCutMovie"]["aLaterMember"] = {{"any", 1}};
  EXPECT_EQ(SessionJson::decode(withMore.dump()).roughCutMovie, fullSession().roughCutMovie);

  TempDir dir;
  const fs::path movie = dir.path / "talk rough cut.mp4";
  EXPECT_FALSE(platform::movieIdentityAt(movie));
  std::ofstream(movie) << "frames";
  const timespec times[2] = {{1'600'000'000, 5}, {1'600'000'000, 123'456'789}};
  ASSERT_EQ(::utimensat(AT_FDCWD, movie.c_str(), times, 0), 0);
  const MovieIdentity frames{6, 1'600'000'000, 123'456'789,
                             "594cfd2607d4f09e1ce6241203e418cacfed545063792bc5eab7afaadbf0c4e0"};
  EXPECT_EQ(platform::movieIdentityAt(movie), frames);
  const fs::path link = dir.path / "link.mp4";
  fs::create_symlink(movie, link);
  EXPECT_FALSE(platform::movieIdentityAt(link));
  EXPECT_FALSE(platform::movieIdentityAt(dir.path));
  ASSERT_EQ(::mkfifo((dir.path / "fifo.mp4").c_str(), 0644), 0);
  EXPECT_FALSE(platform::movieIdentityAt(dir.path / "fifo.mp4"));
  EXPECT_FALSE(platform::mediaSecondsAt(dir.path / "fifo.mp4"));
}
