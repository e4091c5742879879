// The feed check against a loopback HTTPS server whose authority only this test trusts, the
// version order, and a whole install downloaded over that server.
#include "app/updater/UpdateCheck.hpp"

#include <future>
#include <stop_token>
#include <thread>

#include "app/updater/UpdateInstaller.hpp"
#include "app/updater/VersionOrder.hpp"
#include "updater/UpdaterFixtures.hpp"

namespace kestrane::updater {
namespace {
using namespace testing;

TEST(VersionOrder, ComparesPieceByPieceWithMissingAndOddPiecesAsZero) {
  EXPECT_TRUE(isNewer("1.10", "1.9"));
  EXPECT_FALSE(isNewer("1.9", "1.10"));
  EXPECT_FALSE(isNewer("1.2", "1.2.0"));
  EXPECT_FALSE(isNewer("1.2.0", "1.2"));
  EXPECT_TRUE(isNewer("2", "1.9.9"));
  EXPECT_FALSE(isNewer("1.4", "1.4"));
  EXPECT_FALSE(isNewer("2.1b", "2.0"));
  EXPECT_FALSE(isNewer("2.0", "2.1b"));
  EXPECT_TRUE(isNewer("0.0.1", "0"));
  EXPECT_FALSE(isNewer("0.0", "0"));
  EXPECT_FALSE(isNewer("1..2.", "1.2"));  // empty pieces dropped
  EXPECT_TRUE(isNewer("1..3", "1.2"));
  EXPECT_TRUE(isNewer("+2", "1"));
  EXPECT_FALSE(isNewer("99999999999999999999999", "1"));  // overflow counts as 0
}

TEST(UpdateFeed, NeedsAVersionTextAndAnAbsoluteArchiveAddress) {
  EXPECT_TRUE(parseFeed(R"({"version":"2","zip":"https://h/x.zip","other":[1]})"));
  EXPECT_FALSE(parseFeed(R"({"version":2,"zip":"https://h/x.zip"})"));
  EXPECT_FALSE(parseFeed(R"({"version":"2","zip":"not a url"})"));
  EXPECT_FALSE(parseFeed(R"({"version":"2"})"));
  EXPECT_FALSE(parseFeed("<html></html>"));
  auto info = parseFeed(R"({"version":"2","zip":"https://h/x.zip","signature":"c2ln"})");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->signature, "c2ln");
  EXPECT_EQ(urlScheme("HTTPS://h/x"), "HTTPS");
  EXPECT_TRUE(feedUrl().starts_with("https://"));
  EXPECT_TRUE(feedUrl().ends_with("/updates/version.json"));
}

TEST(UpdateCheck, OffersOnlyANewerVersionWithAnHttpsArchiveFromAGoodAnswer) {
  ScratchFolder scratch;
  FeedServer server(scratch.path());
  ASSERT_TRUE(server.running());
  auto options = server.options();
  auto offered = checkForUpdate(server.url("/ok/updates/version.json"), "1.0", options);
  ASSERT_TRUE(offered);
  EXPECT_EQ(offered->version, "99.1");
  // An entry without a signature could never be verified, so it is not offered either.
  for (const char* silent : {"/notfound/", "/notmodified/", "/html/", "/plainhttp/", "/older/", "/unsigned/",
                             "/blanksignature/", "/silent/"}) {
    SCOPED_TRACE(silent);
    EXPECT_FALSE(checkForUpdate(server.url(std::string(silent) + "updates/version.json"), "1.0", options));
  }
  // Without the test's authority the same server is not trusted.
  EXPECT_FALSE(checkForUpdate(server.url("/ok/updates/version.json"), "1.0", TransportOptions{}));
}

TEST(UpdateCheck, AnOfferedArchiveIsDownloadedVerifiedAndInstalled) {
  ScratchFolder scratch;
  FeedServer server(scratch.path());
  ASSERT_TRUE(server.running());
  auto root = scratch.path() / "install/Kestrane";
  writeFile(root / ".kestrane-bundle", "bundle\n");
  writeFile(root / "bin/kestrane-app", "old", true);
  writeZip(scratch.path() / "update.zip", goodBundle("#!/bin/sh\n"));
  auto keys = makeKeys();

  auto offered = checkForUpdate(server.url("/ok/updates/version.json"), "1.0", server.options());
  ASSERT_TRUE(offered);
  offered->signature = sign(scratch.path() / "update.zip", keys);
  InstallEnvironment env;
  env.install = *updatableInstall(root / "bin/kestrane-app");
  env.currentVersion = "1.0";
  env.publicKeyBase64 = keys.publicBase64;
  env.transport = server.options();
  bool launched = false;
  env.launch = [&](const fs::path&, const std::vector<std::string>&) { launched = true; };
  auto outcome = installUpdate(*offered, env);
  EXPECT_TRUE(outcome.relaunched) << outcome.failureMessage;
  EXPECT_TRUE(launched);
  EXPECT_EQ(readAll(root / "share/readme.txt"), "new version\n");

  offered->zip = server.url("/archive/missing.zip");
  env.transport.maxArchiveBytes = 1 << 20;
  EXPECT_EQ(installUpdate(*offered, env).failureMessage,
            "Update didn't finish — the download didn't complete. Nothing changed; you're still on 1.0.");
}

TEST(UpdateCheck, AStopEndsADownloadUnderWayAndTheInstallChangesNothing) {
  ScratchFolder scratch;
  FeedServer server(scratch.path());
  ASSERT_TRUE(server.running());
  const auto target = scratch.path() / "update.zip";
  std::stop_source stop;
  auto download = std::async(std::launch::async, [&]() -> std::string {
    try {
      downloadArchive(server.url("/trickle/update.zip"), target, server.options(), stop.get_token());
      return "finished";
    } catch (const TransferError& error) {
      return error.what();
    }
  });
  // Let part of the archive land first, so the stop meets a transfer under way.
  auto landed = [&target] {
    std::error_code missing;
    const auto size = fs::file_size(target, missing);
    return missing ? 0 : size;
  };
  for (int i = 0; i < 1000 && landed() < (64u << 10); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_GE(landed(), 64u << 10);
  stop.request_stop();
  EXPECT_EQ(download.get(), "the download was stopped");
  EXPECT_FALSE(fs::exists(target));

  // The same stop handed to an install: no archive, no swap, the old tree untouched.
  auto root = scratch.path() / "install/Kestrane";
  writeFile(root / ".kestrane-bundle", "bundle\n");
  writeFile(root / "bin/kestrane-app", "old", true);
  const auto before = snapshot(root);
  InstallEnvironment env;
  env.install = *updatableInstall(root / "bin/kestrane-app");
  env.currentVersion = "1.0";
  env.publicKeyBase64 = makeKeys().publicBase64;
  env.transport = server.options();
  env.stop = stop.get_token();
  env.launch = [](const fs::path&, const std::vector<std::string>&) { FAIL() << "relaunched"; };
  const UpdateInfo offered{"99.1", server.url("/trickle/update.zip"), {}, "c2lnbmF0dXJl"};
  EXPECT_EQ(installUpdate(offered, env).failureMessage,
            "Update didn't finish — the download was stopped. Nothing changed; you're still on 1.0.");
  EXPECT_EQ(snapshot(root), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(root.parent_path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace kestrane::updater
