// A re-cut that is stopped or fails while it writes leaves the package it was given exactly as
// it was, and a stop reaches into the decision's and the review's own loops.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "kestrane/brain/OutputAudit.hpp"
#include "kestrane/brain/ScriptCoverage.hpp"
#include "kestrane/brain/TakeSelector.hpp"
#include "kestrane/brain/Utterance.hpp"
#include "kestrane/pipeline/Pipeline.hpp"
#include "pipeline/StoredSession.hpp"

using namespace kestrane;
using test::readFile;
using test::snapshot;
using test::StoredPackage;
namespace fs = std::filesystem;

namespace {

Pipeline::RecutRequest recutOf(const fs::path& session, CutTightness tightness, bool captions) {
  Pipeline::RecutRequest request = test::recutOf(session, tightness);
  request.settings.embedCaptions = captions;
  request.settings.exportTarget = ExportTarget::premiere;
  return request;
}

// A package as a finished cut leaves it: timelines, transcript, captions, coverage, session.
void cutOnce(const StoredPackage& stored) {
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::natural, false));
  ASSERT_TRUE(fs::exists(stored.package / "talk.fcpxml"));
  ASSERT_TRUE(fs::exists(stored.package / "talk (Premiere).xml"));
}

// A small tmpfs of its own, mounted while it lives; absent when this process may not mount.
class SmallDisk {
 public:
  explicit SmallDisk(const fs::path& at, std::size_t bytes) : at_(at) {
    fs::create_directories(at_);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = ::geteuid() == 0 && ::mount("tmpfs", at_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  std::uint64_t freeBytes() const {
    struct statvfs s {};
    ::statvfs(at_.c_str(), &s);
    return static_cast<std::uint64_t>(s.f_bavail) * s.f_frsize;
  }

 private:
  fs::path at_;
  bool mounted_ = false;
};

}  // namespace

TEST(RecutAllOrNothing, AStoppedRecutLeavesTheEarlierCutAsItWas) {
  StoredPackage stored;
  cutOnce(stored);
  const auto before = snapshot(stored.package);

  // Stopped as the decision starts, and again as the package is about to be written: neither
  // leaves a file changed, added or half-written.
  for (const Pipeline::Stage& at : {Pipeline::Stage::decidingEdits, Pipeline::Stage::exporting}) {
    std::stop_source stopper;
    const auto progress = [&](const Pipeline::Stage& s) {
      if (s == at) stopper.request_stop();
    };
    EXPECT_THROW(
        Pipeline::recut(recutOf(stored.sessionFile, CutTightness::jumpCut, true), progress, stopper.get_token()),
        Cancelled)
        << at.rawValue;
    EXPECT_EQ(snapshot(stored.package), before) << at.rawValue;
  }

  // A re-cut that does finish replaces the files, and leaves nothing hidden behind.
  Pipeline::recut(recutOf(stored.sessionFile, CutTightness::jumpCut, true));
  const auto after = snapshot(stored.package);
  EXPECT_NE(after.at("talk.fcpxml"), before.at("talk.fcpxml"));
  EXPECT_EQ(after.size(), before.size());
  for (const auto& [name, bytes] : after) EXPECT_NE(name[0], '.') << name;
}

TEST(RecutAllOrNothing, AFullDiskMidwayLeavesTheEarlierCutAsItWas) {
  test::TempDir root;
  SmallDisk disk(root.path() / "disk", 1 << 20);
  if (!disk.mounted()) GTEST_SKIP() << "this process may not mount a tmpfs (needs root)";

  // The package on the small disk, with its footage beside it. Long project notes make its
  // session file the largest file by far.
  StoredPackage stored([](KestraneSession& s) { s.projectNotes = std::string(200'000, 'n'); });
  const fs::path package = root.path() / "disk" / "Talk Kestrane.kestrane";
  fs::create_directories(package);
  fs::copy_file(stored.sessionFile, package / "talk.kestrane.json");
  Pipeline::recut(recutOf(package / "talk.kestrane.json", CutTightness::natural, false));
  const auto before = snapshot(package);

  // Fill the disk so that the new cut's other files fit beside the old ones but its session
  // file does not: the write fails with its last file.
  constexpr std::uint64_t page = 4096;
  std::uint64_t room = 8 * page;
  for (const auto& [name, bytes] : before) {
    if (name != "talk.kestrane.json") room += (bytes.size() / page + 3) * page;
  }
  ASSERT_LT(room, before.at("talk.kestrane.json").size());
  ASSERT_GT(disk.freeBytes(), room);
  {
    std::ofstream filler(root.path() / "disk" / "filler", std::ios::binary);
    const std::string block(page, 'x');
    for (std::uint64_t left = disk.freeBytes() - room; left >= page; left -= page) filler << block;
  }
  try {
    Pipeline::recut(recutOf(package / "talk.kestrane.json", CutTightness::jumpCut, true));
    ADD_FAILURE() << "the re-cut fit on a full disk";
  } catch (const UserFacingError& e) {
    EXPECT_NE(std::string(e.what()).find("No space left on device"), std::string::npos) << e.what();
  }
  EXPECT_EQ(snapshot(package), before);

  // With room again, the same re-cut goes through.
  fs::remove(root.path() / "disk" / "filler");
  Pipeline::recut(recutOf(package / "talk.kestrane.json", CutTightness::jumpCut, true));
  EXPECT_NE(readFile(package / "talk.fcpxml"), before.at("talk.fcpxml"));
}

// A folder in the way of one of the package's files is found before any file moves: the re-cut
// refuses and the package stays whole and as it was.
TEST(RecutAllOrNothing, ADestinationThatCantTakeItsFileIsFoundBeforeAnythingMoves) {
  StoredPackage stored;
  cutOnce(stored);
  fs::remove(stored.package / "captions.srt");
  fs::create_directories(stored.package / "captions.srt" / "in the way");
  const auto before = snapshot(stored.package);
  try {
    Pipeline::recut(recutOf(stored.sessionFile, CutTightness::jumpCut, true));
    ADD_FAILURE() << "the re-cut wrote over a folder";
  } catch (const UserFacingError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Couldn't write " + (stored.package / "captions.srt").string() + " — Is a directory");
  }
  EXPECT_EQ(snapshot(stored.package), before);
}

TEST(RecutAllOrNothing, ARenamedPackageIsCutAgainInPlace) {
  StoredPackage stored;
  cutOnce(stored);
  const fs::path renamed = stored.root.path() / "Talk for Friday";
  fs::rename(stored.package, renamed);
  const auto out = Pipeline::recut(recutOf(renamed / "talk.kestrane.json", CutTightness::tight, false));
  EXPECT_EQ(out.packageDir, renamed);
  for (const auto& e : fs::directory_iterator(renamed)) EXPECT_FALSE(e.is_directory()) << e.path();
  // A new name still makes a new package beside it.
  Pipeline::RecutRequest named = recutOf(renamed / "talk.kestrane.json", CutTightness::tight, false);
  named.projectName = "Keynote";
  EXPECT_EQ(Pipeline::recut(named).packageDir, stored.root.path() / "Keynote Kestrane.kestrane");
}

TEST(StopInsideStages, TheDecisionAndReviewLoopsReadTheRunningJobsStop) {
  Transcript transcript;
  std::string script;
  double t = 1;
  for (int line = 0; line < 40; ++line) {
    const std::string text = "line number " + std::to_string(line) + " of the talk today";
    script += text + "\n";
    for (const auto& w : test::spoken(text, t)) transcript.words.push_back(w);
    t += 5;
  }
  const CutList cut{{{{0, 20}, SegmentKind::keep, {}, {}},
                     {{20, 21}, SegmentKind::silence, {}, {}},
                     {{21, t}, SegmentKind::keep, {}, {}}}};
  std::vector<SilenceSpan> pauses;
  for (double p = 4.6; p < t; p += 5) pauses.push_back({{p, p + 1.2}, -70});
  const auto utterances = TakeSelector::utterances(transcript, pauses);
  const PipelineSettings settings = test::appSettings();

  std::stop_source stopper;
  stopper.request_stop();
  {
    const StopScope scope(stopper.get_token());
    EXPECT_THROW(TakeSelector::decide(transcript, script, pauses, std::nullopt, settings), Cancelled);
    EXPECT_THROW(OutputAudit::audit(utterances, transcript, cut, script), Cancelled);
    EXPECT_THROW(ScriptCoverage::assess(script, transcript, cut), Cancelled);
  }
  // Outside a job (the live draft) and with a job that goes on, they run to the end.
  const std::stop_source running;
  const StopScope scope(running.get_token());
  EXPECT_NO_THROW(TakeSelector::decide(transcript, script, pauses, std::nullopt, settings));
  EXPECT_NO_THROW(OutputAudit::audit(utterances, transcript, cut, script));
  EXPECT_EQ(ScriptCoverage::assess(script, transcript, cut).size(), 40u);
}
