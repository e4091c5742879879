// A stop asked of a job ends the reading and writing of a large session file part way, and
// leaves the file on disk as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <stop_token>

#include "export/ExportFixtures.hpp"
#include "kestrane/model/AtomicFile.hpp"
#include "kestrane/model/Cancelled.hpp"
#include "kestrane/model/FileBytes.hpp"
#include "kestrane/model/JsonText.hpp"
#include "kestrane/model/KestraneSession.hpp"
#include "kestrane/model/SessionJson.hpp"

using namespace kestrane;
namespace fs = std::filesystem;

namespace {

// Twenty thousand words and as many hand edits: a few megabytes of session file.
KestraneSession largeSession() {
  PipelineSettings settings = PipelineSettings::make(-40, 0.8, 0.15, true);
  settings.manualRemoveRanges = std::vector<TimeRange>{};
  Transcript transcript;
  for (int k = 0; k < 20'000; ++k) {
    transcript.words.push_back({"word" + std::to_string(k % 97), {k + 0.1, k + 0.6}});
    settings.manualRemoveRanges->push_back({k + 0.7, k + 0.8});
  }
  KestraneSession session = KestraneSession::make(test::videoSource("/footage/talk.mov", 20'000, {1, 25}), settings);
  session.transcript = std::move(transcript);
  session.levels = LevelData::fromLevels(0.01, std::vector<float>(200'000, -30.f));
  return session;
}

}  // namespace

TEST(SessionStop, AStopEndsReadingAndWritingALargeSessionAndLeavesTheFileAlone) {
  const fs::path folder = fs::absolute("package");
  fs::remove_all(folder);
  fs::create_directories(folder);
  const fs::path file = folder / "talk.kestrane.json";
  const KestraneSession session = largeSession();

  // Outside a job it all runs to the end.
  session.write(file);
  const std::string written = readFileBytes(file).value();
  ASSERT_GT(written.size(), 2u << 20);
  EXPECT_EQ(SessionJson::encode(KestraneSession::read(file)), written);

  KestraneSession changed = session;
  changed.projectName = "Changed";
  const std::string changedText = SessionJson::encode(changed);

  std::stop_source stop;
  stop.request_stop();
  const StopScope scope(stop.get_token());
  EXPECT_THROW(KestraneSession::read(file), Cancelled);
  EXPECT_THROW(SessionJson::decode(written), Cancelled) << "parsing and converting look at the stop";
  EXPECT_THROW(SessionJson::encode(changed), Cancelled);
  EXPECT_THROW(JsonText::pretty(nlohmann::json(std::vector<int>(10'000, 1))), Cancelled);
  EXPECT_THROW(changed.write(file), Cancelled);
  EXPECT_THROW(AtomicFile::write(file, changedText), Cancelled) << "a text already made goes out in pieces";
  EXPECT_EQ(readFileBytes(file).value(), written) << "nothing half-written replaces the file";
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "nothing is left aside";

  // A short session, such as a stopped job still saves on its way out, is written whole.
  KestraneSession small = KestraneSession::make(session.source, PipelineSettings::make(-40, 0.8, 0.15, true));
  small.transcript = Transcript{};
  small.transcript->words.push_back({"hello", {1, 2}});
  small.write(folder / "small.kestrane.json");
  EXPECT_EQ(KestraneSession::read(folder / "small.kestrane.json").transcript->words.size(), 1u);
}
