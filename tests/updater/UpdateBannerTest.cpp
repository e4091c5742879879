// The banner and the window-side checker under the offscreen platform: hidden without an
// update, the ready link after a real check over loopback HTTPS, the disabled link while
// installing (a second click does nothing), and a failure sentence that wraps within 420 px.
#include "app/updater/UpdateBanner.hpp"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <atomic>
#include <future>

#include "app/updater/UpdateChecker.hpp"
#include "updater/UpdaterFixtures.hpp"

namespace kestrane::updater {
namespace {
using namespace testing;

QApplication& app() {
  static int argc = 1;
  static char name[] = "banner-test";
  static char* argv[] = {name, nullptr};
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never destroyed: tearing Qt down from a static destructor crashes at exit.
  static auto* instance = new QApplication(argc, argv);
  return *instance;
}

template <typename Done>
bool spinUntil(Done done) {
  for (int i = 0; i < 400 && !done(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return done();
}

class Banner : public ::testing::Test {
 protected:
  void SetUp() override {
    app();
    ASSERT_TRUE(server.running());
    root = scratch.path() / "install/Kestrane";
    writeFile(root / ".kestrane-bundle", "bundle\n");
    writeFile(root / "bin/kestrane-app", "old", true);
    config.feedUrl = server.url("/ok/updates/version.json");
    config.currentVersion = "1.0";
    config.publisherKey = "key";
    config.transport = server.options();
    config.install = updatableInstall(root / "bin/kestrane-app");
    config.quit = [this] { ++quits; };
  }

  ScratchFolder scratch;
  FeedServer server{scratch.path()};
  fs::path root;
  UpdateChecker::Config config;
  int quits = 0;
};

TEST_F(Banner, TakesNoRoomWithoutAnUpdateAndOffersOneAfterTheCheck) {
  UpdateChecker quiet(UpdateChecker::Config{});  // not an updatable install: never asks
  UpdateBanner hidden(quiet);
  quiet.check();
  EXPECT_TRUE(hidden.isHidden());

  config.feedUrl = server.url("/older/updates/version.json");
  UpdateChecker older(config);
  UpdateBanner none(older);
  older.check();
  QThread::msleep(300);
  QApplication::processEvents();
  EXPECT_TRUE(none.isHidden());

  config.feedUrl = server.url("/ok/updates/version.json");
  UpdateChecker checker(config);
  UpdateBanner banner(checker);
  checker.check();
  ASSERT_TRUE(spinUntil([&] { return !banner.isHidden(); }));
  EXPECT_EQ(banner.link()->text(), "Kestrane 99.1 is ready — click to update");
  EXPECT_TRUE(banner.link()->isEnabled());
  EXPECT_TRUE(banner.failure()->isHidden());
}

TEST_F(Banner, InstallingDisablesTheLinkAndAFailureWrapsUnderIt) {
  std::promise<void> release;
  auto released = release.get_future().share();
  std::atomic<int> downloads = 0;
  config.installer.download = [&](const std::string&, const fs::path&) {
    ++downloads;
    released.wait();
    throw TransferError("the download didn't complete because the server went away in the middle of it");
  };
  UpdateChecker checker(config);
  UpdateBanner banner(checker);
  checker.check();
  ASSERT_TRUE(spinUntil([&] { return checker.available().has_value(); }));

  banner.link()->click();
  EXPECT_TRUE(checker.installing());
  EXPECT_FALSE(banner.link()->isEnabled());
  EXPECT_EQ(banner.link()->text(), "Updating — Kestrane will relaunch itself…");
  checker.installAndRelaunch();  // a second click while installing
  banner.link()->click();
  ASSERT_TRUE(spinUntil([&] { return downloads.load() == 1; }));
  release.set_value();
  ASSERT_TRUE(spinUntil([&] { return !checker.installing(); }));

  EXPECT_EQ(downloads.load(), 1);
  EXPECT_EQ(quits, 0);
  EXPECT_TRUE(banner.link()->isEnabled());
  EXPECT_EQ(banner.link()->text(), "Kestrane 99.1 is ready — click to update");
  EXPECT_EQ(banner.failure()->text(),
            "Update didn't finish — the download didn't complete because the server went away in "
            "the middle of it. Nothing changed; you're still on 1.0.");
  banner.resize(700, 200);
  banner.show();
  QApplication::processEvents();
  EXPECT_FALSE(banner.failure()->isHidden());
  EXPECT_LE(banner.failure()->width(), 420);
  EXPECT_GT(banner.failure()->height(), banner.failure()->fontMetrics().height() * 3 / 2);  // wrapped
}

}  // namespace
}  // namespace kestrane::updater
