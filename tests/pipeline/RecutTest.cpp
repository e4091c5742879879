#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "kestrane/analysis/AudioAnalyzer.hpp"
#include "kestrane/analysis/MediaProbe.hpp"
#include "kestrane/export/MP4Renderer.hpp"
#include "kestrane/model/SessionJson.hpp"
#include <nlohmann/json.hpp>
#include "kestrane/pipeline/FootageCheck.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "kestrane/pipeline/RecutPlace.hpp"
#include "kestrane/platform/ScratchFiles.hpp"
#include "ai/AiTestSupport.hpp"
#include "pipeline/KillAtRename.hpp"
#include "pipeline/StoredSession.hpp"
#include "support/Retimed.hpp"
#include "kestrane/export/CutListCheck.hpp"

using namespace kestrane;
using test::storedSession;
using test::snapshot;
using test::StoredPackage;
namespace fs = std::filesystem;

namespace {

const std::string kNoBackend =
    "AI adjudication skipped — no claude CLI or ANTHROPIC_API_KEY found. The deterministic cut "
    "still removed flubs and repeated takes.";

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

PipelineSettings newSettings() {
  PipelineSettings s = PipelineSettings::make(-40, 0.8, 0.15, true);
  s.apply(CutTightness::tight);
  s.thoroughness = Thoroughness::fast;
  s.aiAdjudication.reset();
  s.subtitleLength.reset();
  s.embedCaptions.reset();
  s.manualKeepRanges.reset();
  s.manualRemoveRanges.reset();
  return s;
}

Pipeline::RecutRequest recutOf(const fs::path& session, PipelineSettings settings) {
  Pipeline::RecutRequest request;
  request.sessionURL = session;
  request.settings = std::move(settings);
  return request;
}

bool keeps(const CutList& cut, double second) {
  for (const Segment& s : cut.keptSegments())
    if (s.range.start <= second && second < s.range.end) return true;
  return false;
}

}  // namespace

TEST(Recut, MergesNewSettingsWithStoredHandEditsAndDetails) {
  StoredPackage stored;
  std::vector<std::string> stages;
  const auto progress = [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); };

  BrandSpec brand;
  brand.name = "Acme";
  Pipeline::RecutRequest request = recutOf(stored.sessionFile, newSettings());
  request.projectNotes = std::string(" \n");
  request.createMotionGraphics = false;
  request.brandSpec = brand;
  Pipeline::Output out = Pipeline::recut(request, progress);
  EXPECT_EQ(out.packageDir, stored.package);
  ASSERT_FALSE(stages.empty());
  EXPECT_EQ(stages.front(), "Choosing the best takes");  // levels stored: nothing re-measured

  const PipelineSettings& s = out.session.settings;
  EXPECT_DOUBLE_EQ(s.speechPadding, 0.10);                                  // the new tightness
  EXPECT_EQ(s.subtitleLength, TranscriptExporter::SubtitleLength::short_);  // stored kept
  EXPECT_EQ(s.embedCaptions, std::optional<bool>(false));
  ASSERT_TRUE(s.manualRemoveRanges);
  EXPECT_EQ(s.manualRemoveRanges->size(), 1u);
  EXPECT_FALSE(s.aiAdjudication);  // absent stays absent, and counts as on
  EXPECT_TRUE(contains(out.warnings, kNoBackend));
  EXPECT_EQ(CutListCheck::fault(*out.session.cutList, out.session.source), std::nullopt);
  EXPECT_TRUE(keeps(*out.session.cutList, 1.5));
  EXPECT_FALSE(keeps(*out.session.cutList, 7.0));  // the stored hand removal still applies
  EXPECT_EQ(out.session.source.frameDuration, (RationalTime{1001, 30000}));

  EXPECT_EQ(out.session.projectName, std::optional<std::string>("Talk"));
  EXPECT_FALSE(out.session.projectNotes);  // blank notes clear the stored ones
  EXPECT_FALSE(out.session.createMotionGraphics);
  ASSERT_TRUE(out.session.brandSpec);
  EXPECT_EQ(out.session.brandSpec->name, "Acme");
  EXPECT_EQ(out.session.script, std::optional<std::string>("Welcome to the show today."));
  EXPECT_TRUE(fs::exists(stored.package / "script-coverage.md"));

  const KestraneSession reread = KestraneSession::read(out.sessionURL);
  EXPECT_EQ(reread.settings.manualRemoveRanges->size(), 1u);
  EXPECT_EQ(reread.warnings, std::optional(out.warnings));

  // Present but empty hand-edit lists clear the stored ones; dropScript forgets the script and
  // the coverage report it made.
  PipelineSettings cleared = newSettings();
  cleared.manualKeepRanges = std::vector<TimeRange>{};
  cleared.manualRemoveRanges = std::vector<TimeRange>{};
  request = recutOf(stored.sessionFile, cleared);
  request.dropScript = true;
  out = Pipeline::recut(request);
  EXPECT_TRUE(keeps(*out.session.cutList, 7.0));
  EXPECT_FALSE(out.session.script);
  EXPECT_FALSE(fs::exists(stored.package / "script-coverage.md"));
  EXPECT_EQ(out.session.brandSpec->name, "Acme");  // not given: stored brand stays
}

namespace {

// A package an earlier build would have cut from `footage`, whose sound lost `lost` seconds of
// packets at `dropout`: cut by this build, then stored as that build counted, everything after
// the dropout that much earlier, with levels over the samples one after another and no clock
// named. Returns the cut as this build made it.
Pipeline::Output earlierBuildsPackageOf(const fs::path& footage, double dropout, double lost) {
  Pipeline::Request request;
  request.input = footage;
  request.outputDir = footage.parent_path();
  request.settings = test::appSettings();
  const Pipeline::Output first = Pipeline::run(request);

  const auto counted = [&](TimeRange range) {
    const auto at = [&](double t) { return t >= dropout + lost ? t - lost : std::min(t, dropout); };
    return TimeRange{at(range.start), at(range.end)};
  };
  KestraneSession earlier = first.session;
  for (TranscriptWord& word : earlier.transcript->words) word.range = counted(word.range);
  for (Segment& segment : earlier.cutList->segments) segment.range = counted(segment.range);
  earlier.cutList->segments.back().range.end = earlier.source.durationSeconds;
  const fs::path wav = footage.parent_path() / "counted.wav";
  EXPECT_TRUE(test::ffmpeg("-i " + test::quoted(footage) + " -vn -c:a pcm_f32le " + test::quoted(wav)));
  const AudioAnalyzer::LevelTrack levels = AudioAnalyzer::measureLevels(MediaProbe::held(wav.string()));
  earlier.levels = LevelData::fromLevels(levels.hopDuration, levels.levelsDBFS);
  nlohmann::ordered_json text = nlohmann::ordered_json::parse(SessionJson::encode(earlier));
  text.erase("soundTiming");
  std::ofstream(first.sessionURL) << text.dump();
  EXPECT_EQ(KestraneSession::read(first.sessionURL).soundTiming, SoundTiming::countedSamples);
  return first;
}

// Every word of `stored` where `first` put it on the file's clock.
void expectWordsOf(const KestraneSession& stored, const KestraneSession& first) {
  ASSERT_EQ(stored.transcript->words.size(), first.transcript->words.size());
  for (std::size_t i = 0; i < stored.transcript->words.size(); ++i)
    EXPECT_NEAR(stored.transcript->words[i].range.start, first.transcript->words[i].range.start, 0.002) << i;
}

}  // namespace

// A package an earlier build cut from footage with a dropout, its times counted by samples and
// so early after the dropout, is cut again from that footage: the session then stores its words,
// levels and the hand edits given over its old times where the sound is, and says so.
TEST(Recut, AnEarlierBuildsPackageOfFootageWithADropoutMovesOntoTheFilesClock) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "talk.mp4";
  ASSERT_TRUE(test::withSoundDropout(test::sampleFootage(), footage, 10.0, 0.1));
  const double lost = 5 * 1024 / 48000.0;  // the five sound packets dropped
  const Pipeline::Output first = earlierBuildsPackageOf(footage, 10.0, lost);

  Pipeline::RecutRequest recut = recutOf(first.sessionURL, test::appSettings());
  recut.settings.manualRemoveRanges = std::vector<TimeRange>{{20.0, 20.5}};
  const Pipeline::Output again = Pipeline::recut(recut);
  const KestraneSession stored = KestraneSession::read(first.sessionURL);
  EXPECT_EQ(stored.soundTiming, SoundTiming::timestamps);
  expectWordsOf(stored, first.session);
  ASSERT_TRUE(stored.settings.manualRemoveRanges);
  EXPECT_NEAR((*stored.settings.manualRemoveRanges)[0].start, 20.0 + lost, 1e-9);
  EXPECT_EQ(Pipeline::footageChange(stored), std::nullopt);
}

// The same with the dropout past every stretch the footage check hears at its place: its
// re-cut still moves every word after it, and renders the movie from the footage it proved.
// Hand edits a front end gives on the file's clock, as the window shows such a session moved,
// stay where they are.
TEST(Recut, AnEarlierBuildsPackageWithALateDropoutIsMovedAndRendered) {
  test::TempDir tmp;
  const fs::path footage = tmp.path() / "talk.mp4";
  ASSERT_TRUE(test::withSoundDropout(test::sampleFootage(), footage, 20.0, 0.5));
  const Pipeline::Output first = earlierBuildsPackageOf(footage, 20.0, 23 * 1024 / 48000.0);

  Pipeline::RecutRequest recut = recutOf(first.sessionURL, test::appSettings());
  recut.renderMP4 = true;
  recut.settings.manualRemoveRanges = std::vector<TimeRange>{{25.0, 25.5}};
  recut.editsOnFileClock = true;
  const Pipeline::Output again = Pipeline::recut(recut);
  ASSERT_TRUE(again.mp4URL);
  EXPECT_TRUE(fs::exists(*again.mp4URL));
  const KestraneSession stored = KestraneSession::read(first.sessionURL);
  EXPECT_EQ(stored.soundTiming, SoundTiming::timestamps);
  expectWordsOf(stored, first.session);
  ASSERT_TRUE(stored.settings.manualRemoveRanges);
  EXPECT_EQ((*stored.settings.manualRemoveRanges)[0].start, 25.0);
  EXPECT_TRUE(stored.roughCutMovie);
}

TEST(Recut, WritesInPlaceOnlyIntoItsOwnPackage) {
  StoredPackage stored;
  const auto recutAs = [](const fs::path& session, std::optional<std::string> name) {
    Pipeline::RecutRequest request = recutOf(session, newSettings());
    request.projectName = std::move(name);
    return Pipeline::recut(request).packageDir;
  };
  const auto before = snapshot(stored.package);

  // A new name makes a new package beside the old one, which stays as it was; the same new
  // name again never writes into the package the first one made.
  const fs::path keynote = recutAs(stored.sessionFile, "Keynote");
  EXPECT_EQ(keynote, stored.root.path() / "Keynote Kestrane.kestrane");
  EXPECT_EQ(snapshot(stored.package), before);
  EXPECT_EQ(recutAs(stored.sessionFile, " Keynote\n"), stored.root.path() / "Keynote Kestrane 2.kestrane");
  EXPECT_EQ(KestraneSession::read(keynote / "talk.kestrane.json").projectName, std::optional<std::string>("Keynote"));

  // The package's own name, blank or absent: in place; also for a numbered package.
  EXPECT_EQ(recutAs(stored.sessionFile, "  Talk "), stored.package);
  EXPECT_EQ(recutAs(stored.sessionFile, "\t"), stored.package);
  const fs::path second = stored.root.path() / "Keynote Kestrane 2.kestrane";
  EXPECT_EQ(recutAs(second / "talk.kestrane.json", "Keynote"), second);

  // A session file outside any package gets a new package beside it, under the free name.
  const fs::path loose = stored.root.path() / "Desktop";
  fs::create_directories(loose);
  fs::copy_file(stored.sessionFile, loose / "talk.kestrane.json");
  const std::string looseBytes = slurp(loose / "talk.kestrane.json");
  EXPECT_EQ(recutAs(loose / "talk.kestrane.json", std::nullopt), loose / "Talk Kestrane.kestrane");
  EXPECT_EQ(recutAs(loose / "talk.kestrane.json", std::nullopt), loose / "Talk Kestrane 2.kestrane");
  EXPECT_EQ(slurp(loose / "talk.kestrane.json"), looseBytes);

  EXPECT_TRUE(Pipeline::detail::namesPackageOf("Talk Kestrane", "Talk"));
  EXPECT_FALSE(Pipeline::detail::namesPackageOf("Talk Kestrane.kestrane", "talk"));
  EXPECT_TRUE(Pipeline::detail::namesPackageOf("a-b Kestrane 3.kestrane", "a/b"));
  EXPECT_FALSE(Pipeline::detail::namesPackageOf("Talk Kestrane 1.kestrane", "Talk"));
}

TEST(Recut, GuardsRefuseBeforeTouchingThePackage) {
  const auto message = [](const fs::path& session) -> std::string {
    try {
      Pipeline::recut(recutOf(session, newSettings()));
    } catch (const std::exception& e) {
      return e.what();
    }
    return "no error";
  };
  {
    // The transcript guard is tested first, even when the footage is gone too.
    StoredPackage stored([](KestraneSession& s) {
      s.transcript.reset();
      s.source.path = "/nowhere/talk.mov";
    });
    const auto before = snapshot(stored.package);
    EXPECT_EQ(message(stored.sessionFile),
              "Can't re-cut from this session: no transcript stored — run the full pipeline once first");
    EXPECT_EQ(snapshot(stored.package), before);
  }
  {
    StoredPackage stored;
    const fs::path moved = stored.root.path() / "elsewhere.mov";
    fs::rename(stored.footage, moved);
    const auto before = snapshot(stored.package);
    EXPECT_EQ(message(stored.sessionFile), "Can't re-cut from this session: source media missing at " +
                                               stored.footage.string() +
                                               " — reconnect the drive it is on, or move the footage back to that "
                                               "path, then run the re-cut again.");
    EXPECT_EQ(snapshot(stored.package), before);
    EXPECT_THROW(Pipeline::retryAdjudication(stored.sessionFile), Pipeline::PipelineError);

    std::ofstream(stored.sessionFile) << "{ not a session";
    EXPECT_THROW(Pipeline::recut(recutOf(stored.sessionFile, newSettings())), SessionFileError);
    EXPECT_THROW(Pipeline::recut(recutOf(stored.root.path() / "none.kestrane.json", newSettings())), SessionFileError);
  }
  {
    // A transcript without words is still a transcript.
    StoredPackage stored([](KestraneSession& s) { s.transcript->words.clear(); });
    EXPECT_NO_THROW(Pipeline::recut(recutOf(stored.sessionFile, newSettings())));
  }
}

TEST(RetryAdjudication, TurnsTheSecondOpinionOnAndWithoutItChangesNothing) {
  StoredPackage stored;
  std::vector<std::string> stages;
  const auto progress = [&](const Pipeline::Stage& s) { stages.push_back(s.rawValue); };

  // No backend: the retry fails and says so, and the package, its movie included, is exactly
  // as it was.
  std::ofstream(stored.package / "talk rough cut.mp4") << "the movie of the stored cut";
  const auto before = snapshot(stored.package);
  try {
    Pipeline::retryAdjudication(stored.sessionFile, true, progress);
    ADD_FAILURE() << "the retry succeeded without a second opinion";
  } catch (const Pipeline::PipelineError& e) {
    EXPECT_STREQ(e.what(),
                 "The AI second opinion couldn't be had, so the package was left exactly as it was — no claude CLI "
                 "or ANTHROPIC_API_KEY found.");
  }
  EXPECT_EQ(snapshot(stored.package), before);
  EXPECT_FALSE(contains(stages, "Second opinion from Claude"));

  auto backend = std::make_shared<test::ScriptedBackend>();
  backend->reply(R"({"cuts":[]})");
  Pipeline::Services services;
  services.aiBackend = [backend] { return backend; };
  const Pipeline::Output out = Pipeline::retryAdjudication(stored.sessionFile, false, progress, {}, services);
  EXPECT_EQ(out.packageDir, stored.package);
  EXPECT_EQ(backend->calls.size(), 1u);
  EXPECT_FALSE(out.aiAdjudicationSkipped);
  EXPECT_EQ(out.session.settings.aiAdjudication, std::optional<bool>(true));
  EXPECT_EQ(KestraneSession::read(out.sessionURL).settings.aiAdjudication, std::optional<bool>(true));
  EXPECT_TRUE(contains(stages, "Second opinion from Claude"));
  EXPECT_FALSE(fs::exists(stored.package / "visual-ideas.md"));
  // Every other stored choice is kept.
  EXPECT_EQ(out.session.settings.subtitleLength, TranscriptExporter::SubtitleLength::short_);
  EXPECT_FALSE(keeps(*out.session.cutList, 7.0));
  EXPECT_EQ(out.session.projectNotes, std::optional<std::string>("keep it short"));
}

const std::string kRemovedMovie = "Removed the rough cut of the earlier cut — it no longer matches this one";
const std::string kKeptMovie = "Kept the rough cut of the earlier cut — it shows this same cut";
const std::string kKeptEarlierMovie = "Kept the rough cut of the earlier cut — it shows the earlier cut, not this one";
const std::string kWroteCut = "Wrote this cut's timelines, transcript, captions and session file into the package";

// The package with the sample footage beside it.
struct SamplePackage : test::MoviePackage {
  SamplePackage() : MoviePackage("sample", "Sample") {}
};

// Other footage saved at the footage's path is refused by every re-cut before anything is
// written, in a sentence that names the file and how it differs; the footage copied into another
// container is still the footage.
TEST(Recut, OnlyTheFootageThePackageWasCutFromIsCutAgain) {
  SamplePackage sample;
  Pipeline::RecutRequest withMovie = recutOf(sample.sessionFile, newSettings());
  withMovie.renderMP4 = true;
  Pipeline::recut(withMovie);
  const Pipeline::RecutRequest plain = recutOf(sample.sessionFile, newSettings());
  const auto before = snapshot(sample.package);
  const fs::path kept = sample.root.path() / "kept.mp4";
  fs::copy_file(sample.footage, kept);
  auto backend = std::make_shared<test::ScriptedBackend>();
  backend->reply(R"({"cuts":[]})");
  Pipeline::Services services;
  services.aiBackend = [backend] { return backend; };

  const auto expectRefused = [&](const std::string& change) {
    const std::string sentence = "Can't re-cut from this session: " + sample.footage.string() + change +
                                 " — put the footage the package was cut from back at that path, then run the "
                                 "re-cut again.";
    for (const auto& run : std::vector<std::function<void()>>{
             [&] { Pipeline::recut(plain); }, [&] { Pipeline::recut(withMovie); },
             [&] { Pipeline::retryAdjudication(sample.sessionFile, true, {}, {}, services); }}) {
      try {
        run();
        ADD_FAILURE() << "other footage was cut";
      } catch (const Pipeline::FootageChanged& e) {
        EXPECT_EQ(e.what(), sentence);
      }
      EXPECT_EQ(snapshot(sample.package), before);
    }
  };
  // The footage made again by ffmpeg with `options` into the file at its path (written through a
  // pipe when they name none), and cut off after `share` of its bytes.
  const auto remade = [&](const std::string& options, double share = 1.0) {
    const fs::path making = sample.root.path() / "making";
    const std::string into = options.ends_with(" -") ? " > " + test::quoted(making) : " " + test::quoted(making);
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y -i " + test::quoted(kept) + " " + options + into).c_str()), 0)
        << options;
    fs::resize_file(making, static_cast<std::uintmax_t>(static_cast<double>(fs::file_size(making)) * share));
    fs::rename(making, sample.footage);
  };
  ASSERT_TRUE(test::recordOtherFootage(sample.footage));
  expectRefused(" is 0:12 at 640×360, the package was cut from 0:33 at 320×180");
  ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(kept) + " -t 30 -c copy " + test::quoted(sample.footage)));
  expectRefused(" is 0:30, the package was cut from 0:33");
  // Copies cut off partway: the index first, the index last, Matroska.
  remade("-c copy -movflags +faststart -f mp4", 0.25);
  expectRefused(" is cut off: its sound ends at 0:05, the package was cut from 0:33");
  remade("-c copy -f mov", 0.5);
  expectRefused(" can't be read as media");
  remade("-c copy -f matroska", 0.25);
  expectRefused(" is cut off: its sound ends at 0:08, the package was cut from 0:33");
  std::ofstream(sample.footage) << "not footage at all";
  expectRefused(" can't be read as media");
  remade("-c:v copy -af areverse -c:a aac -f mp4");
  expectRefused(" sounds different from the footage the package was cut from");
  EXPECT_TRUE(backend->calls.empty());

  for (const std::string container : {"mkv", "mov"}) {
    const fs::path copy = sample.root.path() / ("copy." + container);
    ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(kept) + " -c copy " + test::quoted(copy)));
    fs::rename(copy, sample.footage);
    EXPECT_TRUE(Pipeline::recut(withMovie).mp4URL) << container;
  }
  // Through a pipe Matroska states no length; the sound says it is all there.
  remade("-c copy -f matroska -");
  EXPECT_TRUE(Pipeline::recut(withMovie).mp4URL) << "through a pipe";
  remade("-c:v copy -c:a libopus -f matroska");
  EXPECT_TRUE(Pipeline::recut(withMovie).mp4URL) << "its sound made again";
}

// The re-cut's failure, or nothing when it went through.
std::optional<Pipeline::RoughCutFailed> renderFailure(const Pipeline::RecutRequest& request) {
  try {
    Pipeline::recut(request);
  } catch (const Pipeline::RoughCutFailed& e) {
    return e;
  }
  return std::nullopt;
}

// The footage the re-cut proved is the footage it renders, whatever happens at its path after:
// another recording put there as the render begins is never what the movie shows, and footage
// cut short in place, or whose picture was cut off since the package was cut, fails the render,
// naming where it stops, with the earlier movie kept.
TEST(Recut, TheFootageItProvedIsTheFootageItRenders) {
  SamplePackage sample;
  Pipeline::RecutRequest request = recutOf(sample.sessionFile, newSettings());
  request.renderMP4 = true;
  Pipeline::recut(request);
  const fs::path kept = sample.root.path() / "kept.mp4", other = sample.root.path() / "other.mp4";
  fs::copy_file(sample.footage, kept);
  ASSERT_TRUE(test::recordOtherFootage(other));
  const auto atRender = [&](const std::function<void()>& act) {
    return [act, done = std::make_shared<bool>(false)](const Pipeline::Stage& stage) {
      if (stage == Pipeline::Stage::rendering && !stage.fraction && !*done) {
        *done = true;
        act();
      }
    };
  };
  const auto pictureWidth = [](const fs::path& movie) {
    return MediaProbe::probe(MediaProbe::held(movie.string())).width;
  };

  request.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
  const Pipeline::Output replaced = Pipeline::recut(request, atRender([&] { fs::rename(other, sample.footage); }));
  ASSERT_TRUE(replaced.mp4URL);
  EXPECT_EQ(pictureWidth(*replaced.mp4URL), 320) << "the proven footage's picture, not the other recording's";
  fs::copy_file(kept, sample.footage, fs::copy_options::overwrite_existing);

  const std::string movie = slurp(sample.movie);
  const std::optional<MovieIdentity> vouched = KestraneSession::read(sample.sessionFile).roughCutMovie;
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{3, 4}};
  try {
    Pipeline::recut(request, atRender([&] { fs::resize_file(sample.footage, fs::file_size(sample.footage) / 4); }));
    ADD_FAILURE() << "rendered footage that ran out";
  } catch (const Pipeline::RoughCutFailed& e) {
    EXPECT_TRUE(
        std::string(e.what()).starts_with("Export failed: the footage " + sample.footage.string() + " stops at 0:0"))
        << e.what();
    EXPECT_EQ(e.notes(), (std::vector{kWroteCut, kKeptEarlierMovie}));
  }
  EXPECT_EQ(slurp(sample.movie), movie);
  EXPECT_EQ(KestraneSession::read(sample.sessionFile).roughCutMovie, vouched);
  EXPECT_EQ(sample.hiddenFiles(), 0);

  // A copy whose picture was cut off at 0:20 since the package was cut, its sound whole and its
  // stated length the footage's: the check hears the footage, and the render stops where the
  // picture does, as the cut measured the picture to the end.
  const std::string original = kept.string(), cutOff = (sample.root.path() / "cut off.mp4").string();
  ASSERT_EQ(std::system(("ffmpeg -v error -y -i '" + original + "' -t 20 -i '" + original +
                         "' -map 1:v -map 0:a -c copy '" + cutOff + "'")
                            .c_str()),
            0);
  fs::rename(cutOff, sample.footage);
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{5, 6}};
  const std::optional<Pipeline::RoughCutFailed> pictureCutOff = renderFailure(request);
  ASSERT_TRUE(pictureCutOff);
  EXPECT_TRUE(std::string(pictureCutOff->what())
                  .starts_with("Export failed: the footage " + sample.footage.string() + " stops at 0:20"))
      << pictureCutOff->what();
  EXPECT_EQ(slurp(sample.movie), movie);
  fs::copy_file(kept, sample.footage, fs::copy_options::overwrite_existing);
}

#if defined(__x86_64__)
// The descriptor whose reads fail as a failing drive's do, once they are to fail; else -1.
std::atomic<int> failingDescriptor{-1};

// The trap's handler for every pread: fails those of the failing descriptor with EIO, and makes
// the rest through preadv, which the trap lets through.
void onPread(int, siginfo_t*, void* context) {
  greg_t* regs = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
  const auto fd = static_cast<int>(regs[REG_RDI]);
  if (fd == failingDescriptor.load()) {
    regs[REG_RAX] = -EIO;
    return;
  }
  const int saved = errno;
  iovec into{reinterpret_cast<void*>(regs[REG_RSI]), static_cast<std::size_t>(regs[REG_RDX])};
  const long result = ::syscall(SYS_preadv, fd, &into, 1, regs[REG_R10], 0);
  regs[REG_RAX] = result == -1 ? -errno : result;
  errno = saved;
}

// The descriptor this process holds `path` open at, or -1.
int heldDescriptor(const fs::path& path) {
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(entry.path(), ec) == path) return std::stoi(entry.path().filename().string());
  }
  return -1;
}

// A drive that starts failing while the movie renders fails the re-cut, saying the footage can't
// be read and where; the earlier movie stays, with the session that vouches for it.
TEST(Recut, ADriveThatFailsWhileTheMovieRendersKeepsTheEarlierMovie) {
  SamplePackage sample;
  Pipeline::RecutRequest request = recutOf(sample.sessionFile, newSettings());
  request.renderMP4 = true;
  Pipeline::recut(request);
  const std::string movie = slurp(sample.movie);
  const std::optional<MovieIdentity> vouched = KestraneSession::read(sample.sessionFile).roughCutMovie;
  ASSERT_TRUE(vouched);
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{3, 4}};
  const fs::path said = sample.root.path() / "said.txt";

  const int ended = test::inChild([&] {
    struct sigaction action {};
    action.sa_sigaction = onPread;
    action.sa_flags = SA_SIGINFO;
    if (::sigaction(SIGSYS, &action, nullptr) != 0 || !test::withSyscallFilter({
                                                          BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_pread64, 0, 1),
                                                          BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP),
                                                      }))
      ::_exit(3);
    std::string failure = "rendered";
    try {
      Pipeline::recut(request, [&](const Pipeline::Stage& stage) {
        // A third of the way through the movie the footage's drive fails.
        if (stage == Pipeline::Stage::rendering && stage.fraction.value_or(0) > 0.3 && failingDescriptor < 0)
          failingDescriptor = heldDescriptor(sample.footage);
      });
    } catch (const Pipeline::RoughCutFailed& e) {
      failure = e.what();
    }
    std::ofstream(said) << failure;
    ::_exit(0);
  });
  ASSERT_TRUE(WIFEXITED(ended));
  ASSERT_NE(WEXITSTATUS(ended), 3) << "can't trap system calls here";
  const std::string failure = slurp(said);
  EXPECT_TRUE(failure.starts_with("Export failed: the footage " + sample.footage.string() + " can't be read at 0:"))
      << failure;
  EXPECT_NE(failure.find("Input/output error"), std::string::npos) << failure;
  EXPECT_EQ(slurp(sample.movie), movie);
  EXPECT_EQ(KestraneSession::read(sample.sessionFile).roughCutMovie, vouched);
  EXPECT_EQ(KestraneSession::read(sample.sessionFile).settings.manualRemoveRanges, request.settings.manualRemoveRanges);
  EXPECT_EQ(sample.hiddenFiles(), 0);
}
#endif

// Makes a file immutable while it lives, as chattr +i does; false where the file system or this
// user can't.
class Immutable {
 public:
  explicit Immutable(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0 || ::ioctl(fd_, FS_IOC_GETFLAGS, &flags_) != 0) return;
    int set = flags_ | FS_IMMUTABLE_FL;
    made_ = ::ioctl(fd_, FS_IOC_SETFLAGS, &set) == 0;
  }
  ~Immutable() {
    if (made_) ::ioctl(fd_, FS_IOC_SETFLAGS, &flags_);
    if (fd_ >= 0) ::close(fd_);
  }
  Immutable(const Immutable&) = delete;
  Immutable& operator=(const Immutable&) = delete;
  explicit operator bool() const { return made_; }

 private:
  int fd_ = -1;
  int flags_ = 0;
  bool made_ = false;
};

TEST(RoughCut, AppearsOnlyWhenCompleteAndGoesOnlyWhenTheCutChanged) {
  SamplePackage sample;
  const fs::path& roughCut = sample.movie;
  std::vector<std::string> stages;
  std::vector<double> renderedShares;
  const auto progress = [&](const Pipeline::Stage& s) {
    if (!s.fraction) stages.push_back(s.rawValue);
    if (s.fraction && s == Pipeline::Stage::rendering) renderedShares.push_back(*s.fraction);
  };

  Pipeline::RecutRequest request = recutOf(sample.sessionFile, newSettings());
  request.renderMP4 = true;
  Pipeline::Output out = Pipeline::recut(request, progress);
  EXPECT_EQ(stages.front(), "Choosing the best takes");
  EXPECT_EQ(stages.back(), "Rendering rough cut");
  // The render reports how far it is, rising to 1 once the movie is in place.
  ASSERT_GT(renderedShares.size(), 2u);
  EXPECT_TRUE(std::is_sorted(renderedShares.begin(), renderedShares.end()));
  EXPECT_EQ(renderedShares.back(), 1.0);
  EXPECT_EQ(out.mp4URL, std::optional(roughCut));
  ASSERT_TRUE(fs::exists(roughCut));
  EXPECT_EQ(KestraneSession::read(sample.sessionFile).roughCutCutList.value_or(CutList{}).segments,
            out.session.cutList->segments);
  EXPECT_EQ(sample.hiddenFiles(), 0);
  const std::string movie = slurp(roughCut);

  // A render stopped as it starts: the earlier movie stays, whether it shows this same cut or
  // the earlier one, since only a newer movie replaces it; the session says which cut it shows,
  // and each stop says so.
  const auto stoppedNotes = [&](const Pipeline::RecutRequest& stopped) {
    std::stop_source stopper;
    try {
      Pipeline::recut(
          stopped,
          [&](const Pipeline::Stage& s) {
            if (s == Pipeline::Stage::rendering) stopper.request_stop();
          },
          stopper.get_token());
    } catch (const Cancelled& e) {
      EXPECT_EQ(e.keptPackage(), std::optional(sample.package));
      return e.notes();
    }
    ADD_FAILURE() << "the stopped re-cut finished";
    return std::vector<std::string>{};
  };
  EXPECT_EQ(stoppedNotes(request), (std::vector{kWroteCut, kKeptMovie}));
  EXPECT_EQ(slurp(roughCut), movie);
  Pipeline::RecutRequest changed = request;
  changed.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
  EXPECT_EQ(stoppedNotes(changed), (std::vector{kWroteCut, kKeptEarlierMovie}));
  EXPECT_EQ(slurp(roughCut), movie);
  const KestraneSession stopped = KestraneSession::read(sample.sessionFile);
  EXPECT_EQ(stopped.settings.manualRemoveRanges, changed.settings.manualRemoveRanges);
  EXPECT_EQ(stopped.roughCutCutList.value_or(CutList{}).segments, out.session.cutList->segments);
  EXPECT_EQ(sample.hiddenFiles(), 0);

  // A re-cut whose render fails fails as a first cut does, with the renderer's sentence; it
  // says that the package holds the new cut, and that the earlier movie, of another cut, stays.
  Pipeline::recut(request);
  ASSERT_TRUE(fs::exists(roughCut));
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{0, 1e5}};
  std::optional<Pipeline::RoughCutFailed> failed = renderFailure(request);
  ASSERT_TRUE(failed);
  EXPECT_STREQ(failed->what(), "Cut list has no kept segments");
  EXPECT_EQ(failed->package(), sample.package);
  EXPECT_EQ(failed->notes(), (std::vector{kWroteCut, kKeptEarlierMovie}));
  EXPECT_TRUE(fs::exists(roughCut));
  EXPECT_TRUE(KestraneSession::read(sample.sessionFile).roughCutCutList);
  EXPECT_EQ(KestraneSession::read(sample.sessionFile).settings.manualRemoveRanges, request.settings.manualRemoveRanges);
  EXPECT_EQ(sample.hiddenFiles(), 0);

  // Footage that can no longer be read is refused before anything is written: the earlier movie
  // still shows the cut and stays, as does every other file.
  request.settings.manualRemoveRanges = std::vector<TimeRange>{};
  Pipeline::recut(request);
  const auto intact = snapshot(sample.package);
  fs::copy_file(sample.footage, sample.root.path() / "kept.mp4");
  std::ofstream(sample.footage, std::ios::binary | std::ios::trunc) << std::string(4096, '\x5a');
  EXPECT_THROW(Pipeline::recut(request), Pipeline::FootageChanged);
  EXPECT_EQ(snapshot(sample.package), intact);
  fs::rename(sample.root.path() / "kept.mp4", sample.footage);
}

// What the movie shows moves into place with the movie: a re-cut killed just after its new movie
// went into place leaves the next run on the package to put the session that says so beside it,
// so a later re-cut back to the earlier cut never keeps a movie of another cut.
TEST(RoughCut, TheSessionNeverMisdescribesTheMovieEvenWhenARunIsKilled) {
  if (!test::kCanKillAtRename) GTEST_SKIP() << "no rename trap on this machine";
  SamplePackage sample;
  Pipeline::RecutRequest request = recutOf(sample.sessionFile, newSettings());
  request.renderMP4 = true;
  request.settings.manualRemoveRanges = std::vector<TimeRange>{{6.0, 8.2}};
  Pipeline::recut(request);
  const std::string movie = slurp(sample.movie);

  Pipeline::RecutRequest changed = request;
  changed.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
  ASSERT_TRUE(WIFSIGNALED(test::inChild([&] {
    if (test::killAtRename(" rough cut.mp4", 2)) Pipeline::recut(changed);
  })));
  ASSERT_NE(slurp(sample.movie), movie);

  request.renderMP4 = false;
  const Pipeline::Output out = Pipeline::recut(request);
  EXPECT_TRUE(contains(out.warnings, kRemovedMovie));
  EXPECT_FALSE(fs::exists(sample.movie));
  EXPECT_FALSE(out.session.roughCutCutList);
  EXPECT_EQ(sample.hiddenFiles(), 0);

  // A re-cut without a movie of its own, killed at each rename from its record's on: the session
  // names a movie only while it is there, and the next run ends with the two agreeing.
  request.renderMP4 = true;
  Pipeline::recut(request);
  const std::string withMovie = slurp(sample.sessionFile);
  const std::string earlierMovie = slurp(sample.movie);
  changed.renderMP4 = false;
  const auto claimsMovie = [&] { return KestraneSession::read(sample.sessionFile).roughCutCutList.has_value(); };

  // A second stop as its record goes into place ends the program at once, taking its scratch
  // files: the staged files stay for the record, and the next run makes the new cut whole.
  const int exited = test::inChild([&] {
    if (test::exitAfterRename("/.kestrane.move", 1, [] { platform::ScratchFiles::removeAllAndExit(130); }))
      Pipeline::recut(changed);
  });
  ASSERT_TRUE(WIFEXITED(exited) && WEXITSTATUS(exited) == 130);
  ASSERT_TRUE(fs::exists(sample.package / ".kestrane.move"));
  Pipeline::openPackage(sample.package);
  EXPECT_FALSE(claimsMovie());
  EXPECT_FALSE(fs::exists(sample.movie));
  EXPECT_EQ(sample.hiddenFiles(), 0);

  bool finished = false;
  for (int rename = 1; !finished && rename < 20; ++rename) {
    std::ofstream(sample.sessionFile, std::ios::binary | std::ios::trunc) << withMovie;
    std::ofstream(sample.movie, std::ios::binary | std::ios::trunc) << earlierMovie;
    test::vouchForMovie(sample.sessionFile, sample.movie);
    finished = !WIFSIGNALED(test::inChild([&] {
      if (test::killAtRename("/.kestrane.move", rename)) Pipeline::recut(changed);
    }));
    EXPECT_TRUE(!claimsMovie() || fs::exists(sample.movie)) << "killed at rename " << rename;
    Pipeline::openPackage(sample.package);
    EXPECT_EQ(claimsMovie(), fs::exists(sample.movie)) << "killed at rename " << rename;
  }
  EXPECT_TRUE(finished);
  EXPECT_FALSE(fs::exists(sample.movie));
}

TEST(RoughCut, AnEarlierMovieAndPremiereTimelineStayWhileTheyStillApply) {
  SamplePackage sample;
  PipelineSettings premiere = newSettings();
  premiere.exportTarget = ExportTarget::premiere;
  Pipeline::RecutRequest request = recutOf(sample.sessionFile, premiere);
  request.renderMP4 = true;
  Pipeline::recut(request);
  const fs::path premiereXml = sample.package / "sample (Premiere).xml";
  ASSERT_TRUE(fs::exists(sample.movie));
  ASSERT_TRUE(fs::exists(premiereXml));
  const std::string movie = slurp(sample.movie);
  const std::string xml = slurp(premiereXml);
  const auto said = [](const Pipeline::Output& out, const std::string& line) {
    return std::count(out.warnings.begin(), out.warnings.end(), line);
  };

  // Other captions and another target cut the same frames: the movie stays, and so does the
  // Premiere timeline, neither written nor removed.
  PipelineSettings captions = newSettings();
  captions.subtitleLength = TranscriptExporter::SubtitleLength::sentence;
  captions.embedCaptions = true;
  Pipeline::Output out = Pipeline::recut(recutOf(sample.sessionFile, captions));
  EXPECT_EQ(said(out, kRemovedMovie), 0);
  EXPECT_FALSE(out.mp4URL);
  EXPECT_EQ(slurp(sample.movie), movie);
  EXPECT_EQ(slurp(premiereXml), xml);
  // The record of what the movie shows, and of which file it is, outlives re-cuts that keep it.
  const KestraneSession keeping = KestraneSession::read(sample.sessionFile);
  EXPECT_TRUE(keeping.roughCutCutList);
  EXPECT_EQ(keeping.roughCutMovie, platform::movieIdentityAt(sample.movie));
  EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(keeping, sample.movie));

  // A changed cut without a movie of its own removes the earlier one, and says so once.
  PipelineSettings shorter = newSettings();
  shorter.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
  out = Pipeline::recut(recutOf(sample.sessionFile, shorter));
  EXPECT_EQ(said(out, kRemovedMovie), 1);
  EXPECT_FALSE(fs::exists(sample.movie));
  EXPECT_FALSE(KestraneSession::read(sample.sessionFile).roughCutCutList);
  EXPECT_EQ(slurp(premiereXml), xml);
  out = Pipeline::recut(recutOf(sample.sessionFile, newSettings()));
  EXPECT_EQ(said(out, kRemovedMovie), 0) << "nothing to remove, nothing said";

  // An earlier movie that can't be removed stays the earlier cut's, in the session as in what the
  // run says, and opening the package offers it as such.
  Pipeline::RecutRequest withMovie = recutOf(sample.sessionFile, newSettings());
  withMovie.renderMP4 = true;
  withMovie.settings.manualRemoveRanges = std::vector<TimeRange>{};
  const CutList shown = *Pipeline::recut(withMovie).session.cutList;
  const Immutable stuck(sample.movie);
  if (!stuck) GTEST_SKIP() << "can't make a file immutable here";
  out = Pipeline::recut(recutOf(sample.sessionFile, shorter));
  EXPECT_EQ(said(out, kKeptEarlierMovie), 1);
  EXPECT_EQ(said(out, kRemovedMovie), 0);
  EXPECT_TRUE(fs::exists(sample.movie));
  const KestraneSession kept = KestraneSession::read(sample.sessionFile);
  EXPECT_EQ(kept.roughCutCutList.value_or(CutList{}).segments, shown.segments);
  EXPECT_EQ(kept.roughCutMovie, platform::movieIdentityAt(sample.movie));
  EXPECT_FALSE(Pipeline::roughCutShowsStoredCut(kept, sample.movie));
  EXPECT_EQ(Pipeline::openPackage(sample.package).contents.movie, std::optional(sample.movie));
}

// A package whose session vouches for `movie`, the render of its stored cut, and the render of
// another cut (one more second removed) to put at the movie's name. reset() puts the package back
// as the run that rendered `movie` left it.
struct VouchedMovie {
  SamplePackage sample;
  Pipeline::RecutRequest withMovie = recutOf(sample.sessionFile, newSettings());
  std::string earlierCutMovie;
  std::string movie;
  std::string session;

  VouchedMovie() {
    withMovie.renderMP4 = true;
    withMovie.settings.manualRemoveRanges = std::vector<TimeRange>{{1, 2}};
    Pipeline::recut(withMovie);
    earlierCutMovie = slurp(sample.movie);
    withMovie.settings.manualRemoveRanges = std::vector<TimeRange>{};
    Pipeline::recut(withMovie);
    movie = slurp(sample.movie);
    session = slurp(sample.sessionFile);
  }
  Pipeline::RecutRequest plain() const { return recutOf(sample.sessionFile, withMovie.settings); }
  // A re-cut without a movie of a cut that plays other frames.
  Pipeline::RecutRequest changed() const {
    Pipeline::RecutRequest request = plain();
    request.settings.manualRemoveRanges = std::vector<TimeRange>{{3, 4}};
    return request;
  }
  KestraneSession read() const { return KestraneSession::read(sample.sessionFile); }
  void rewrite(const std::function<void(KestraneSession&)>& change) const {
    KestraneSession s = read();
    change(s);
    s.write(sample.sessionFile);
  }
  void put(const std::string& bytes) const { std::ofstream(sample.movie, std::ios::binary | std::ios::trunc) << bytes; }
  void reset() const {
    std::ofstream(sample.sessionFile, std::ios::binary | std::ios::trunc) << session;
    put(movie);
    test::vouchForMovie(sample.sessionFile, sample.movie);
  }
  // The notes of `request` stopped as its movie starts to render.
  std::vector<std::string> stoppedNotes(const Pipeline::RecutRequest& request) const {
    std::stop_source stopper;
    try {
      Pipeline::recut(
          request,
          [&](const Pipeline::Stage& s) {
            if (s == Pipeline::Stage::rendering) stopper.request_stop();
          },
          stopper.get_token());
    } catch (const Cancelled& e) {
      return e.notes();
    }
    ADD_FAILURE() << "the stopped re-cut finished";
    return {};
  }
};

// What is said of a file at the movie's name the session doesn't vouch for, set aside.
std::string setAsideNote() {
  return "Set aside the file at sample rough cut.mp4 as sample rough cut (not this cut).mp4 — nothing records which "
         "cut it shows, so it was kept rather than removed or replaced";
}

// Sets every file in `dir` to the whole second of its time, as a disk that keeps no finer ones
// does; with `twoSeconds`, to the even second below, as a zip archive does.
void coarsenTimes(const fs::path& dir, bool twoSeconds = false) {
  for (const auto& entry : fs::directory_iterator(dir)) {
    struct stat st {};
    ASSERT_EQ(::lstat(entry.path().c_str(), &st), 0);
    const time_t seconds = twoSeconds ? st.st_mtim.tv_sec & ~time_t{1} : st.st_mtim.tv_sec;
    const timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, entry.path().c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
  }
}

// Runs `command` through the shell in `dir`; true when it succeeded.
bool shellIn(const fs::path& dir, const std::string& command) {
  return std::system(("cd '" + dir.string() + "' && " + command).c_str()) == 0;
}

// Only the movie the session vouches for shows the cut it records. Any other plain file at the
// movie's name is a movie of unknown cut, even where the session records the cut this re-cut
// plays, and even of the size of the movie it names: a re-cut without a movie sets it aside under
// a name that says it is not this cut's, saying so, as does one with a movie before its movie
// takes the name, and one whose render is stopped keeps it as the earlier cut's. None claims it. Beside a session of an
// earlier build, which records no digest, another cut's movie lasts another cut's length and is not claimed either, nor
// is a file of another size than the one the last build recorded, even one as long as the recorded cut.
TEST(RoughCut, OnlyTheMovieTheSessionVouchesForShowsItsCut) {
  const VouchedMovie p;
  const fs::path& movie = p.sample.movie;
  std::string sameSize = p.earlierCutMovie;
  sameSize.resize(p.movie.size(), '\0');
  ASSERT_NE(sameSize, p.movie);
  const std::optional<double> seconds = platform::mediaSecondsAt(movie);
  ASSERT_TRUE(seconds);
  const fs::path setAside = movie.parent_path() / "sample rough cut (not this cut).mp4";

  using Change = std::function<void()>;
  const std::vector<std::pair<std::string, Change>> unvouched = {
      // A killed re-cut's earlier movie beside the session it wrote, which records none (as the
      // earliest builds' sessions record none).
      {"another cut's movie beside a session that records none",
       [&] {
         p.rewrite([](KestraneSession& s) {
           s.roughCutCutList.reset();
           s.roughCutMovie.reset();
         });
         p.put(p.earlierCutMovie);
       }},
      // An earlier build's session, which records the cut but not the file.
      {"another cut's movie beside a record of the cut alone",
       [&] {
         p.rewrite([](KestraneSession& s) { s.roughCutMovie.reset(); });
         p.put(p.earlierCutMovie);
       }},
      // A killed re-cut whose session went into place and whose movie did not.
      {"the earlier cut's movie at the name", [&] { p.put(p.earlierCutMovie); }},
      {"another cut's movie of the same size", [&] { p.put(sameSize); }},
      {"another cut's movie of the same size beside the last build's record",
       [&] {
         p.rewrite([](KestraneSession& s) { s.roughCutMovie->sampledSHA256.reset(); });
         p.put(sameSize);
       }},
      {"a file of the same size put there by hand", [&] { p.put(std::string(p.movie.size(), 'x')); }},
  };
  enum class Recut { plain, withMovie, stopped };
  for (const auto& [how, change] : unvouched) {
    for (const Recut recut : {Recut::plain, Recut::withMovie, Recut::stopped}) {
      SCOPED_TRACE(how + " — re-cut " + std::to_string(static_cast<int>(recut)));
      p.reset();
      ASSERT_TRUE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
      change();
      EXPECT_FALSE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
      const std::optional<MovieIdentity> earlier = platform::movieIdentityAt(movie);

      const std::string unvouchedBytes = slurp(movie);
      if (recut == Recut::plain) {
        const Pipeline::Output out = Pipeline::recut(p.plain());
        EXPECT_TRUE(contains(out.warnings, setAsideNote()));
        EXPECT_FALSE(contains(out.warnings, kRemovedMovie)) << "nothing said it showed the earlier cut";
        EXPECT_FALSE(fs::exists(movie));
        EXPECT_EQ(slurp(setAside), unvouchedBytes);
        EXPECT_FALSE(p.read().roughCutCutList);
        EXPECT_FALSE(p.read().roughCutMovie);
      } else if (recut == Recut::withMovie) {
        const Pipeline::Output out = Pipeline::recut(p.withMovie);
        EXPECT_TRUE(contains(out.warnings, setAsideNote()));
        EXPECT_EQ(slurp(setAside), unvouchedBytes);
        EXPECT_EQ(out.mp4URL, std::optional(movie));
        EXPECT_NE(p.read().roughCutMovie, earlier);
        EXPECT_EQ(p.read().roughCutMovie, platform::movieIdentityAt(movie));
        EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
      } else {
        EXPECT_EQ(p.stoppedNotes(p.withMovie), (std::vector{kWroteCut, kKeptEarlierMovie}));
        EXPECT_EQ(platform::movieIdentityAt(movie), earlier);
        EXPECT_FALSE(p.read().roughCutCutList);
        EXPECT_FALSE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
        EXPECT_FALSE(fs::exists(setAside));
      }
      EXPECT_EQ(p.sample.hiddenFiles(), 0);
      fs::remove(setAside);
    }
  }

  // The cut's own movie with bytes after its media, which no player reads: as long as the
  // recorded cut, but not the file the last build's record names, so a re-cut of the same cut
  // removes it as a movie of unknown cut. (A stopped re-cut is left out: the session it writes
  // records no movie, and one that records none is weighed by its cut's length alone.)
  p.reset();
  p.rewrite([](KestraneSession& s) { s.roughCutMovie->sampledSHA256.reset(); });
  p.put(p.movie + std::string(4096, '\0'));
  ASSERT_EQ(platform::mediaSecondsAt(movie), seconds) << "lasts as long as the recorded cut";
  EXPECT_FALSE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
  const Pipeline::Output out = Pipeline::recut(p.plain());
  EXPECT_TRUE(contains(out.warnings, setAsideNote()));
  EXPECT_FALSE(fs::exists(movie));
  EXPECT_EQ(slurp(setAside), p.movie + std::string(4096, '\0'));
  EXPECT_FALSE(p.read().roughCutMovie);
}

// The movie is known by its bytes, so every copy that keeps them keeps it this cut's: one that
// changes its time (touched, cut to whole seconds by the disk or by tar, to two seconds by zip, or
// new as cp -r makes it). A package an earlier build made is known as well as its session can
// tell: the last build's record by the movie's size and time, or its size and length; a record of
// the cut alone by its length; and the earliest sessions, which record nothing, by the length of
// their own cut. The app offers each as this cut's, a re-cut of the same cut keeps it and records
// it by its bytes from then on, a stopped one says it shows this same cut, and only a re-cut of
// another cut removes it, saying it showed the earlier cut.
TEST(RoughCut, TheMovieIsKnownByItsBytesThroughAnyCopyAndInAnEarlierBuildsPackage) {
  const VouchedMovie p;
  const fs::path& movie = p.sample.movie;
  const fs::path& package = p.sample.package;
  const fs::path folder = package.parent_path();
  const std::string name = package.filename().string();
  const CutList shown = *p.read().roughCutCutList;
  const auto copiedBack = [&] {
    ASSERT_TRUE(shellIn(folder, "cp -r '" + name + "' copy && rm -r '" + name + "' && mv copy '" + name + "'"));
  };

  using Change = std::function<void()>;
  const std::vector<std::pair<std::string, Change>> kept = {
      // The same bytes, touched: only the nanoseconds of its time differ.
      {"touched",
       [&] {
         struct stat st {};
         ASSERT_EQ(::stat(movie.c_str(), &st), 0);
         const timespec times[2] = {{0, UTIME_OMIT}, {st.st_mtim.tv_sec, st.st_mtim.tv_nsec == 0 ? 1 : 0}};
         ASSERT_EQ(::utimensat(AT_FDCWD, movie.c_str(), times, 0), 0);
       }},
      // cp -a or mv onto a disk that keeps whole seconds (FAT, exFAT, ext4 with small inodes).
      {"times cut to whole seconds", [&] { coarsenTimes(package); }},
      {"copied with cp -r", copiedBack},
      {"through a tar archive",
       [&] {
         ASSERT_TRUE(shellIn(folder, "tar -cf package.tar '" + name + "' && rm -r '" + name +
                                         "' && tar -xf package.tar && rm package.tar"));
       }},
      {"through a zip archive",
       [&] {
         // Without the tools, what a zip archive does to a file: its time to two seconds.
         if (!shellIn(folder, "command -v zip >/dev/null && command -v unzip >/dev/null")) {
           coarsenTimes(package, true);
           return;
         }
         ASSERT_TRUE(shellIn(folder, "zip -qr package.zip '" + name + "' && rm -r '" + name +
                                         "' && unzip -q package.zip && rm package.zip"));
       }},
      {"the last build's record of the very file",
       [&] { p.rewrite([](KestraneSession& s) { s.roughCutMovie->sampledSHA256.reset(); }); }},
      {"the last build's record, copied with cp -r",
       [&] {
         p.rewrite([](KestraneSession& s) { s.roughCutMovie->sampledSHA256.reset(); });
         copiedBack();
       }},
      {"a record of the cut alone",
       [&] {
         p.rewrite([](KestraneSession& s) { s.roughCutMovie.reset(); });
         copiedBack();
       }},
      {"a session that records nothing",
       [&] {
         p.rewrite([](KestraneSession& s) {
           s.roughCutCutList.reset();
           s.roughCutMovie.reset();
         });
         copiedBack();
       }},
  };
  enum class Recut { plain, stopped, changed };
  for (const auto& [how, change] : kept) {
    for (const Recut recut : {Recut::plain, Recut::stopped, Recut::changed}) {
      SCOPED_TRACE(how + " — re-cut " + std::to_string(static_cast<int>(recut)));
      p.reset();
      change();
      ASSERT_TRUE(slurp(movie) == p.movie) << "a copy keeps the movie's bytes";
      EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(p.read(), movie));

      if (recut == Recut::plain) {
        const Pipeline::Output out = Pipeline::recut(p.plain());
        EXPECT_FALSE(contains(out.warnings, kRemovedMovie));
        EXPECT_FALSE(contains(out.warnings, setAsideNote()));
        EXPECT_TRUE(slurp(movie) == p.movie) << "the movie, untouched";
        const KestraneSession after = p.read();
        EXPECT_EQ(after.roughCutCutList.value_or(CutList{}).segments, shown.segments);
        EXPECT_TRUE(after.roughCutMovie && after.roughCutMovie->sampledSHA256) << "known by its bytes from now on";
        EXPECT_EQ(after.roughCutMovie, platform::movieIdentityAt(movie));
        EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(after, movie));
      } else if (recut == Recut::stopped) {
        EXPECT_EQ(p.stoppedNotes(p.withMovie), (std::vector{kWroteCut, kKeptMovie}));
        EXPECT_TRUE(slurp(movie) == p.movie) << "the movie, untouched";
        EXPECT_TRUE(Pipeline::roughCutShowsStoredCut(p.read(), movie));
      } else {
        const Pipeline::Output out = Pipeline::recut(p.changed());
        EXPECT_TRUE(contains(out.warnings, kRemovedMovie));
        EXPECT_FALSE(fs::exists(movie));
        EXPECT_FALSE(p.read().roughCutCutList);
      }
      EXPECT_EQ(p.sample.hiddenFiles(), 0);
    }
  }
}
