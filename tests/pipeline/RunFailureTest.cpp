// Jobs that cannot finish: each ends with a clear message and leaves no package, no scratch
// file and untouched footage behind.
#include <gtest/gtest.h>

#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

struct Failure {
  std::string message;
  bool cancelled = false;
};

// Runs the request and returns how it failed; an unexpected success fails the test.
Failure failureOf(const Pipeline::Request& request, const std::optional<Pipeline::Analysis>& prepared = std::nullopt,
                  const Pipeline::ProgressCallback& progress = {}, std::stop_token stop = {}) {
  try {
    Pipeline::run(request, prepared, progress, stop);
  } catch (const Cancelled& e) {
    return {e.what(), true};
  } catch (const std::exception& e) {
    return {e.what(), false};
  }
  ADD_FAILURE() << "the job did not fail";
  return {};
}

Pipeline::Request requestFor(const fs::path& footage, const fs::path& out) {
  Pipeline::Request r;
  r.input = footage;
  r.outputDir = out;
  r.settings = test::appSettings();
  return r;
}

bool isEmptyDir(const fs::path& dir) { return !fs::exists(dir) || fs::is_empty(dir); }

}  // namespace

TEST(RunFailure, BadFootageEndsWithItsMessageAndLeavesNothing) {
  test::TempDir tmp;
  const fs::path out = tmp.path() / "out";
  const auto scratchBefore = test::tempEntries("kestrane-audio-");

  const Failure missing = failureOf(requestFor(tmp.path() / "nowhere.mov", out));
  EXPECT_NE(missing.message.find("Can't read media at"), std::string::npos) << missing.message;
  EXPECT_NE(missing.message.find("nowhere.mov"), std::string::npos);

  const fs::path corrupt = tmp.path() / "corrupt.mp4";
  std::ofstream(corrupt) << std::string(4096, '\x5a') << "not a movie";
  const std::string corruptBytes = test::readFile(corrupt);
  const Failure garbage = failureOf(requestFor(corrupt, out));
  EXPECT_NE(garbage.message.find("corrupt.mp4"), std::string::npos) << garbage.message;
  EXPECT_EQ(test::readFile(corrupt), corruptBytes);

  const fs::path silentFilm = tmp.path() / "silent.mp4";
  const std::string make =
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
      "color=c=black:s=160x90:r=25:d=1 -c:v libx264 -pix_fmt yuv420p '" +
      silentFilm.string() + "'";
  ASSERT_EQ(std::system(make.c_str()), 0);
  const Failure noAudio = failureOf(requestFor(silentFilm, out));
  EXPECT_NE(noAudio.message.find("No audio track"), std::string::npos) << noAudio.message;

  EXPECT_TRUE(isEmptyDir(out));
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
}

TEST(RunFailure, UnwritableOutputFolderStopsBeforeAnyFile) {
  test::TempDir tmp;
  const fs::path blocker = tmp.path() / "a file";
  std::ofstream(blocker) << "x";
  const Pipeline::Analysis analysis = test::syntheticAnalysis(test::spoken("hello there world", 1));
  const Failure failure = failureOf(requestFor("/nonexistent/talk.mov", blocker / "out"), analysis);
  EXPECT_FALSE(failure.cancelled);
  EXPECT_NE(failure.message.find("Can't create the package folder in"), std::string::npos) << failure.message;
  EXPECT_EQ(test::readFile(blocker), "x");
}

TEST(RunFailure, UnreadableScriptOnlyWarns) {
  test::TempDir tmp;
  Pipeline::Request request = requestFor("/nonexistent/talk.mov", tmp.path());
  request.scriptURL = tmp.path() / "missing script.txt";
  const Pipeline::Output output = Pipeline::run(request, test::syntheticAnalysis(test::spoken("hello there world", 1)));
  ASSERT_FALSE(output.warnings.empty());
  const std::string& first = output.warnings.front();
  EXPECT_EQ(first.rfind("Couldn't read the script file — continuing without it (", 0), 0u) << first;
  EXPECT_NE(first.find("missing script.txt"), std::string::npos);
  EXPECT_EQ(first.back(), ')');
  EXPECT_FALSE(output.session.script.has_value());
  EXPECT_FALSE(fs::exists(output.packageDir / "script-coverage.md"));
  EXPECT_TRUE(fs::exists(output.sessionURL));
}

TEST(RunFailure, CancellationStopsTheJobAndCleansUp) {
  test::TempDir tmp;
  const auto scratchBefore = test::tempEntries("kestrane-audio-");

  // Stopped while the package is being built: the half-made folder goes too.
  {
    std::stop_source source;
    const Failure f = failureOf(
        requestFor("/nonexistent/talk.mov", tmp.path() / "late"),
        test::syntheticAnalysis(test::spoken("hello there world", 1)),
        [&](const Pipeline::Stage& s) {
          if (s == Pipeline::Stage::exporting) source.request_stop();
        },
        source.get_token());
    EXPECT_TRUE(f.cancelled) << f.message;
    EXPECT_TRUE(isEmptyDir(tmp.path() / "late"));
  }
  // Stopped at the rough cut, after the package files: the package is complete and stays,
  // without a movie.
  {
    std::stop_source source;
    Pipeline::Request request = requestFor("/nonexistent/talk.mov", tmp.path() / "mp4");
    request.renderMP4 = true;
    const Failure f = failureOf(
        request, test::syntheticAnalysis(test::spoken("hello there world", 1)),
        [&](const Pipeline::Stage& s) {
          if (s == Pipeline::Stage::rendering) source.request_stop();
        },
        source.get_token());
    EXPECT_TRUE(f.cancelled) << f.message;
    EXPECT_EQ(f.message, "The rough cut was cancelled.");
    const fs::path package = tmp.path() / "mp4" / "talk Kestrane.kestrane";
    EXPECT_TRUE(fs::exists(package / "talk.fcpxml"));
    EXPECT_TRUE(fs::exists(package / "talk.kestrane.json"));
    EXPECT_FALSE(fs::exists(package / "talk rough cut.mp4"));
  }
  // Stopped while transcribing: nothing is written and the scratch audio is removed.
  {
    std::stop_source source;
    const Failure f = failureOf(
        requestFor(test::sampleFootage(), tmp.path() / "early"), std::nullopt,
        [&](const Pipeline::Stage& s) {
          if (s == Pipeline::Stage::transcribing) source.request_stop();
        },
        source.get_token());
    EXPECT_TRUE(f.cancelled) << f.message;
    EXPECT_FALSE(fs::exists(tmp.path() / "early"));
  }
  // Asked to stop before it starts: nothing at all happens.
  {
    std::stop_source source;
    source.request_stop();
    std::vector<std::string> seen;
    const Failure f = failureOf(
        requestFor(test::sampleFootage(), tmp.path() / "never"), std::nullopt,
        [&](const Pipeline::Stage& s) { seen.push_back(s.rawValue); }, source.get_token());
    EXPECT_TRUE(f.cancelled);
    EXPECT_LE(seen.size(), 1u);
  }
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
}

// A Matroska take a recorder is still writing: what was read of it is only part of the recording.
// Footage that grows while it is analysed, or after its analysis and before its package is
// written, is not cut: one sentence says it is still being written, and no package is left.
TEST(RunFailure, FootageStillBeingWrittenIsNotCut) {
  test::TempDir tmp;
  const fs::path take = tmp.path() / "take.mkv";
  ASSERT_TRUE(test::ffmpeg("-i " + test::quoted(test::sampleFootage()) + " -c copy " + test::quoted(take)));
  const std::string stillWritten = take.string() +
                                   " changed while it was being read, so it is still being written — wait until it is "
                                   "saved, then cut it again.";
  const auto recorderWrites = [&] { std::ofstream(take, std::ios::app | std::ios::binary) << std::string(4096, '\0'); };

  // Its analysis (the window's, made while the options are chosen, or a cut's own) ends so.
  try {
    Pipeline::analyze(take, {}, [&](const Pipeline::Stage& s) {
      if (s == Pipeline::Stage::transcribing) recorderWrites();
    });
    ADD_FAILURE() << "the analysis took the part written for the recording";
  } catch (const Pipeline::FootageStillBeingWritten& e) {
    EXPECT_EQ(e.what(), stillWritten);
  }

  // Analysed whole, then written to as the cut is decided.
  const Pipeline::Analysis analysis = Pipeline::analyze(take);
  const Failure whileCut = failureOf(requestFor(take, tmp.path() / "after"), analysis, [&](const Pipeline::Stage& s) {
    if (s == Pipeline::Stage::decidingEdits) recorderWrites();
  });
  EXPECT_EQ(whileCut.message, stillWritten);
  EXPECT_TRUE(isEmptyDir(tmp.path() / "after"));
}
