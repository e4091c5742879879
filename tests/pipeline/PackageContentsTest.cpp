#include "kestrane/pipeline/PackageContents.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "pipeline/StoredSession.hpp"

namespace kestrane::Pipeline {
namespace {

namespace fs = std::filesystem;

void touch(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "x";
}

TEST(PackageContents, OpensAFolderOrItsSessionFileAndFindsWhatIsThere) {
  const fs::path dir = fs::absolute("talk Kestrane.kestrane");
  const PackageLayout layout{dir, "talk"};
  fs::create_directories(dir);
  test::storedSession("talk.mov").write(layout.session());
  touch(layout.fcpxml());
  touch(layout.movie());
  touch(layout.visualIdeas());
  fs::create_directories(layout.assets());

  for (const fs::path& given : {dir, layout.session()}) {
    const PackageContents package = openPackage(given).contents;
    EXPECT_EQ(package.session, layout.session());
    EXPECT_EQ(package.layout.dir, dir);
    EXPECT_EQ(package.layout.stem, "talk");
    EXPECT_TRUE(package.isPackage);
    EXPECT_EQ(package.fcpxml, dir / "talk.fcpxml");
    EXPECT_EQ(package.movie, dir / "talk rough cut.mp4");
    EXPECT_EQ(package.visualIdeas, dir / "visual-ideas.md");
    EXPECT_EQ(package.assetsDir, dir / "assets");
    EXPECT_FALSE(package.premiereXml);
  }

  // Files gone since the cut are reported gone, and the folder's name still makes it a package.
  fs::remove(layout.fcpxml());
  fs::remove(layout.movie());
  fs::remove_all(layout.assets());
  const PackageContents bare = openPackage(dir).contents;
  EXPECT_FALSE(bare.fcpxml);
  EXPECT_FALSE(bare.movie);
  EXPECT_FALSE(bare.assetsDir);
  EXPECT_TRUE(bare.isPackage);

  // Only a plain file at the movie's name is the package's movie: a link there, even to a movie,
  // is no movie of its cut.
  touch(dir / "earlier.mp4");
  fs::create_symlink(dir / "earlier.mp4", layout.movie());
  EXPECT_FALSE(openPackage(dir).contents.movie);
  fs::remove(layout.movie());
}

TEST(PackageContents, AFolderIsAPackageByItsNameOrByHoldingTheTimelineOfItsFootage) {
  // Renamed by hand, but still holding its timeline beside its session file.
  touch("renamed/talk.kestrane.json");
  touch("renamed/talk.fcpxml");
  EXPECT_TRUE(packageContents(fs::path("renamed/talk.kestrane.json"), "talk").isPackage);

  // A timeline named after other footage does not make it one.
  touch("plain/talk.kestrane.json");
  touch("plain/other.fcpxml");
  EXPECT_FALSE(packageContents(fs::path("plain/talk.kestrane.json"), "talk").isPackage);

  // A session file named otherwise has no timeline beside it.
  touch("loose/talk.json");
  touch("loose/talk.fcpxml");
  const PackageContents loose = packageContents(fs::path("loose/talk.json"), "talk");
  EXPECT_EQ(loose.layout.stem, "talk");
  EXPECT_FALSE(loose.fcpxml);
  EXPECT_FALSE(loose.isPackage);

  touch("x Kestrane/x.kestrane.json");
  EXPECT_TRUE(packageContents(fs::path("x Kestrane/x.kestrane.json"), "x").isPackage);

  // A session file renamed by hand names none of the package's files: they keep the footage's
  // name, and a file of the user's named after the session is none of the package's.
  touch("edited Kestrane/My edit.kestrane.json");
  touch("edited Kestrane/My edit.fcpxml");
  touch("edited Kestrane/My edit rough cut.mp4");
  touch("edited Kestrane/talk.fcpxml");
  const PackageContents edited = packageContents(fs::path("edited Kestrane/My edit.kestrane.json"), "talk");
  EXPECT_EQ(edited.fcpxml, fs::path("edited Kestrane/talk.fcpxml"));
  EXPECT_FALSE(edited.movie);
  touch("notes/My edit.kestrane.json");
  touch("notes/My edit.fcpxml");
  EXPECT_FALSE(packageContents(fs::path("notes/My edit.kestrane.json"), "talk").isPackage);
}

// Opened, a package says whether the footage it was cut from is still at its path: there, gone,
// another recording saved under its name, a copy of it cut off, or something that is no file.
TEST(PackageContents, OpensSayingWhetherItsFootageIsThere) {
  const test::MoviePackage stored("talk", "Talk");
  OpenedPackage opened = openPackage(stored.package);
  EXPECT_FALSE(opened.footageMissing);
  EXPECT_FALSE(opened.footageChanged);

  ASSERT_TRUE(test::recordOtherFootage(stored.footage));
  opened = openPackage(stored.package);
  EXPECT_FALSE(opened.footageMissing);
  EXPECT_EQ(opened.footageChanged,
            stored.footage.string() +
                " is 0:12 at 640×360, the package was cut from 0:33 at 320×180 — put the footage the package was cut "
                "from back at that path to play or re-cut.");

  // A copy of it cut off partway, and a FIFO, which is never waited on.
  fs::copy_file(test::sampleFootage(), stored.footage, fs::copy_options::overwrite_existing);
  fs::resize_file(stored.footage, fs::file_size(stored.footage) / 4);
  EXPECT_EQ(openPackage(stored.package).footageChanged,
            stored.footage.string() +
                " is cut off: its sound ends at 0:05, the package was cut from 0:33 — put the footage the package "
                "was cut from back at that path to play or re-cut.");
  fs::remove(stored.footage);
  ASSERT_EQ(::mkfifo(stored.footage.c_str(), 0600), 0);
  EXPECT_EQ(openPackage(stored.package).footageChanged,
            stored.footage.string() +
                " can't be read — it is not a regular file — put the footage the package was cut from back at that "
                "path to play or re-cut.");

  fs::remove(stored.footage);
  opened = openPackage(stored.package);
  EXPECT_TRUE(opened.footageMissing);
  EXPECT_FALSE(opened.footageChanged);
}

TEST(PackageContents, SaysWhyNoSessionCanBeOpened) {
  EXPECT_THROW(openPackage("nowhere"), NoSessionFound);
  fs::create_directories("empty.kestrane");
  EXPECT_THROW(openPackage("empty.kestrane"), NoSessionFound);

  touch("two/a.kestrane.json");
  touch("two/b.kestrane.json");
  try {
    openPackage("two");
    FAIL() << "a folder with two session files opened";
  } catch (const NoSessionFound&) {
    FAIL() << "two session files are not no session";
  } catch (const PipelineError& e) {
    EXPECT_EQ(std::string(e.what()), "two holds several session files — name the one to re-cut.");
  }
}

}  // namespace
}  // namespace kestrane::Pipeline
