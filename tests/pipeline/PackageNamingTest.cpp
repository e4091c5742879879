#include "kestrane/pipeline/PackageNaming.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <set>

#include "kestrane/pipeline/PipelineError.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane::Pipeline;

TEST(PackageNaming, ProjectNameAndStem) {
  EXPECT_EQ(resolvedProjectName(std::string("  \n"), "/f/interview.take2.mov"), "interview.take2");
  EXPECT_EQ(resolvedProjectName(std::nullopt, "/f/talk.mov"), "talk");
  EXPECT_EQ(resolvedProjectName(std::string("  Launch day\t"), "/f/talk.mov"), "Launch day");
  // Unicode spaces count as blank too.
  EXPECT_EQ(resolvedProjectName(std::string("\xC2\xA0Launch\xE2\x80\x83"), "/f/t.mov"), "Launch");
  EXPECT_EQ(sourceStem("/f/take 3.final.mov"), "take 3.final");
  EXPECT_EQ(trimmedOrAbsent(std::string(" \n ")), std::nullopt);
  EXPECT_EQ(trimmedOrAbsent(std::string(" notes ")), std::optional<std::string>("notes"));
}

TEST(PackageNaming, FolderNamesAreSafeAndFitTheLimit) {
  EXPECT_EQ(packageFolderName("Talk"), "Talk Kestrane.kestrane");
  EXPECT_EQ(packageFolderName("Talk", 2), "Talk Kestrane 2.kestrane");
  EXPECT_EQ(packageFolderName("A/B test"), "A-B test Kestrane.kestrane");
  EXPECT_EQ(packageFolderName(std::string("x\0y\x01z\x7F", 6)), "x-y-z- Kestrane.kestrane");
  EXPECT_EQ(packageFolderName("a\xC2\x85"
                              "b"),
            "a-b Kestrane.kestrane");  // C1 control

  // A long name of two-byte characters is cut on a character boundary within 255 bytes.
  std::string longName;
  for (int i = 0; i < 300; ++i) longName += "\xC3\xA9";
  const std::string folder = packageFolderName(longName, 12);
  EXPECT_LE(folder.size(), 255u);
  EXPECT_TRUE(folder.ends_with(" Kestrane 12.kestrane"));
  const std::string kept = folder.substr(0, folder.size() - std::string(" Kestrane 12.kestrane").size());
  EXPECT_EQ(kept.size() % 2, 0u);
  EXPECT_EQ(kept.substr(0, 2), "\xC3\xA9");
}

TEST(PackageNaming, ReservationNeverReusesAFolder) {
  kestrane::test::TempDir tmp;
  const fs::path parent = tmp.path() / "new" / "out";  // missing parents are made
  const fs::path first = reservePackageDir(parent, "Talk");
  EXPECT_EQ(first, parent / "Talk Kestrane.kestrane");
  std::ofstream(first / "hand-edit.txt") << "keep me";
  const fs::path second = reservePackageDir(parent, "Talk");
  EXPECT_EQ(second, parent / "Talk Kestrane 2.kestrane");
  EXPECT_TRUE(fs::exists(first / "hand-edit.txt"));
  // A plain file in the way is skipped too.
  std::ofstream(parent / "Talk Kestrane 3.kestrane") << "x";
  EXPECT_EQ(reservePackageDir(parent, "Talk"), parent / "Talk Kestrane 4.kestrane");

  // Concurrent reservations of one name each get their own folder.
  std::vector<std::future<fs::path>> jobs;
  for (int i = 0; i < 8; ++i)
    jobs.push_back(std::async(std::launch::async, [&] { return reservePackageDir(parent, "Same"); }));
  std::set<fs::path> got;
  for (auto& j : jobs) got.insert(j.get());
  EXPECT_EQ(got.size(), 8u);
}

TEST(PackageNaming, UnwritableParentFailsWithItsReason) {
  kestrane::test::TempDir tmp;
  const fs::path blocker = tmp.path() / "file";
  std::ofstream(blocker) << "x";
  try {
    reservePackageDir(blocker / "sub", "Talk");
    FAIL() << "expected an error";
  } catch (const PipelineError& e) {
    EXPECT_NE(std::string(e.what()).find("Can't create the package folder in"), std::string::npos);
  }
  if (::geteuid() != 0) {  // root ignores permission bits
    const fs::path locked = tmp.path() / "locked";
    fs::create_directory(locked);
    ::chmod(locked.c_str(), 0500);
    EXPECT_THROW(reservePackageDir(locked, "Talk"), PipelineError);
    ::chmod(locked.c_str(), 0700);
  }
}

TEST(PackageNaming, RecutFolders) {
  const fs::path session = "/m/Talk Kestrane.kestrane/talk.kestrane.json";
  EXPECT_EQ(recutPackageDir(session, std::nullopt), "/m/Talk Kestrane.kestrane");
  EXPECT_EQ(recutPackageDir(session, std::string("")), "/m/Talk Kestrane.kestrane");
  EXPECT_EQ(recutPackageDir(session, std::string("  Talk ")), "/m/Talk Kestrane.kestrane");
  EXPECT_EQ(recutPackageDir(session, std::string("Keynote")), "/m/Keynote Kestrane.kestrane");
  const fs::path bare = "/m/Talk Kestrane/talk.kestrane.json";
  EXPECT_EQ(recutPackageDir(bare, std::string("Talk")), "/m/Talk Kestrane");
  EXPECT_EQ(recutPackageDir(bare, std::string("talk")), "/m/talk Kestrane.kestrane");
}

TEST(PackageNaming, ElapsedText) {
  const std::vector<std::pair<double, std::string>> cases{
      {0, "0s"},          {59.4, "59s"},      {59.5, "1m 0s"},      {61, "1m 1s"}, {3599.4, "59m 59s"},
      {3600, "1h 0m 0s"}, {3725, "1h 2m 5s"}, {90061, "25h 1m 1s"}, {-5, "0s"},    {-0.4, "0s"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(elapsedString(seconds), text) << seconds;
}
