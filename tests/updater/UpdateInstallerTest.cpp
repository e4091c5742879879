// Installing an update into a throwaway install folder: the happy path, every refusal leaving
// the old tree byte-identical, and a relaunch that passes hostile paths through untouched.
#include "app/updater/UpdateInstaller.hpp"

#include <chrono>
#include <thread>

#include "app/updater/InstallSwap.hpp"
#include "app/updater/Relaunch.hpp"
#include "updater/UpdaterFixtures.hpp"

namespace kestrane::updater {
namespace {
using namespace testing;

class UpdateInstall : public ::testing::Test {
 protected:
  void SetUp() override {
    // Quotes, dollars and backquotes in the path must never reach a shell.
    parent = scratch.path() / "Apps \"$HOME\" `id`";
    root = parent / "Kestrane";
    writeFile(root / ".kestrane-bundle", "bundle\n");
    writeFile(root / "bin/kestrane-app", "#!/bin/sh\nexit 0\n", true);
    writeFile(root / "share/readme.txt", "old version\n");
    auto location = updatableInstall(root / "bin/kestrane-app");
    ASSERT_TRUE(location);
    env.install = *location;
    env.currentVersion = "1.0";
    keys = makeKeys();
    env.publicKeyBase64 = keys.publicBase64;
    env.relaunchArguments = {"--from-update", "a b"};
    env.download = [this](const std::string&, const fs::path& to) { fs::copy_file(archive, to); };
    env.launch = [this](const fs::path& exe, const std::vector<std::string>& args) {
      launchedExecutable = exe;
      launchedArguments = args;
    };
    archive = scratch.path() / "update.zip";
    before = snapshot(root);
  }

  UpdateInfo offer(const std::vector<ArchiveEntry>& entries, bool signArchive = true) {
    writeZip(archive, entries);
    UpdateInfo info{"2.0", "https://example.invalid/u.zip", {}, {}};
    if (signArchive) info.signature = sign(archive, keys);
    return info;
  }

  bool workFoldersLeft() const {
    for (const auto& entry : fs::directory_iterator(parent)) {
      if (entry.path().filename() != "Kestrane") return true;
    }
    return false;
  }

  ScratchFolder scratch;
  fs::path parent, root, archive;
  KeyPair keys;
  InstallEnvironment env;
  std::map<std::string, std::string> before;
  fs::path launchedExecutable;
  std::vector<std::string> launchedArguments;
};

TEST_F(UpdateInstall, SignedArchiveIsSwappedInAndRelaunchedWithItsArguments) {
  auto outcome = installUpdate(offer(goodBundle("#!/bin/sh\necho new\n")), env);
  EXPECT_TRUE(outcome.relaunched) << outcome.failureMessage;
  EXPECT_EQ(readAll(root / "share/readme.txt"), "new version\n");
  EXPECT_EQ(readAll(root / "lib/current"), "new version\n");  // the in-tree link survived
  EXPECT_TRUE(fs::status(root / "bin/kestrane-app").permissions() != fs::perms::none);
  EXPECT_EQ(launchedExecutable, fs::canonical(root / "bin/kestrane-app"));
  EXPECT_EQ(launchedArguments, env.relaunchArguments);
  EXPECT_FALSE(workFoldersLeft());
}

TEST_F(UpdateInstall, EveryRefusalLeavesTheInstalledTreeAsItWas) {
  const std::string stillOn = ". Nothing changed; you're still on 1.0.";
  auto bundle = goodBundle("#!/bin/sh\n");
  auto with = [&](ArchiveEntry extra) {
    auto entries = bundle;
    entries.push_back(std::move(extra));
    return entries;
  };
  KeyPair stranger = makeKeys();

  struct Case {
    const char* name;
    std::function<UpdateInfo()> make;
    std::string detail;
  };
  std::vector<Case> cases = {
      {"unsigned", [&] { return offer(bundle, false); }, "the update couldn't be verified"},
      {"signed by another key",
       [&] {
         auto info = offer(bundle);
         info.signature = sign(archive, stranger);
         return info;
       },
       "the update couldn't be verified"},
      {"changed after signing",
       [&] {
         auto info = offer(bundle);
         std::ofstream(archive, std::ios::app) << "x";
         return info;
       },
       "the update couldn't be verified"},
      {"parent path",
       [&] {
         return offer(with({"Kestrane/../../evil.txt", "boom"}));
       },
       "the update package holds files outside its folder"},
      {"absolute path",
       [&] {
         return offer(with({(scratch.path() / "abs.txt").string(), "boom"}));
       },
       "the update package holds files outside its folder"},
      {"escaping link",
       [&] {
         return offer(with({"Kestrane/lib/out", "", false, "../../../.."}));
       },
       "the update package holds files outside its folder"},
      {"absolute link",
       [&] {
         return offer(with({"Kestrane/lib/etc", "", false, "/etc"}));
       },
       "the update package holds files outside its folder"},
      {"no top folder",
       [&] {
         return offer({{"Other/.kestrane-bundle", "x"}, {"Other/bin/kestrane-app", "x"}});
       },
       "the update package didn't contain Kestrane"},
      {"download failed",
       [&] {
         env.download = [](const std::string&, const fs::path&) {
           throw TransferError("the download didn't complete");
         };
         return UpdateInfo{"2.0", "https://example.invalid/u.zip", {}, "AAAA"};
       },
       "the download didn't complete"},
      {"swap failed",
       [&] {
         env.swap = [](const fs::path&, const fs::path&, const fs::path&) {
           throw SwapError("the new version couldn't be moved into place (Permission denied)");
         };
         return offer(bundle);
       },
       "the new version couldn't be moved into place (Permission denied)"},
  };
  const auto defaults = env;
  for (auto& item : cases) {
    SCOPED_TRACE(item.name);
    env = defaults;
    auto info = item.make();
    auto outcome = installUpdate(info, env);
    EXPECT_FALSE(outcome.relaunched);
    EXPECT_EQ(outcome.failureMessage, "Update didn't finish — " + item.detail + stillOn);
    EXPECT_EQ(snapshot(root), before);
    EXPECT_FALSE(workFoldersLeft());
    EXPECT_TRUE(launchedArguments.empty());
  }
  EXPECT_FALSE(fs::exists(scratch.path() / "evil.txt"));
  EXPECT_FALSE(fs::exists(scratch.path() / "abs.txt"));
}

TEST_F(UpdateInstall, ASwapThatCannotBeUndoneNamesWhereThePreviousVersionIs) {
  env.swap = [](const fs::path&, const fs::path& installed, const fs::path& setAside) {
    fs::rename(installed, setAside);
    throw SwapError("the new version couldn't be moved into place (Input/output error)", setAside);
  };
  auto outcome = installUpdate(offer(goodBundle("#!/bin/sh\n")), env);
  auto kept = parent / "Kestrane (previous)";
  EXPECT_EQ(outcome.failureMessage,
            "Update didn't finish — the new version couldn't be moved into place (Input/output "
            "error), and the previous version couldn't be put back; it is kept at " +
                kept.string() + ".");
  EXPECT_EQ(snapshot(kept), before);
}

TEST_F(UpdateInstall, AFailedRelaunchAfterTheSwapNeverClaimsNothingChanged) {
  env.launch = [](const fs::path&, const std::vector<std::string>&) {
    throw std::runtime_error("couldn't start the program");
  };
  auto outcome = installUpdate(offer(goodBundle("#!/bin/sh\n")), env);
  EXPECT_EQ(outcome.failureMessage,
            "Kestrane 2.0 is installed, but it couldn't relaunch itself — couldn't start the "
            "program. Start Kestrane again to use it.");
  EXPECT_EQ(readAll(root / "share/readme.txt"), "new version\n");
}

TEST_F(UpdateInstall, TheRealSwapExchangesTreesAndTheRelaunchRunsNoShell) {
  auto staged = scratch.path() / "staged";
  writeFile(staged / "marker", "new\n");
  auto record = scratch.path() / "args.txt";
  writeFile(staged / "bin/kestrane-app",
            "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" + record.string() + ".tmp\"\nmv \"" + record.string() +
                ".tmp\" \"" + record.string() + "\"\n",
            true);
  swapInstall(staged, root, scratch.path() / "aside");
  EXPECT_EQ(readAll(root / "marker"), "new\n");
  EXPECT_EQ(readAll(staged / "share/readme.txt"), "old version\n");

  std::vector<std::string> args = {"$(touch pwned)", "`touch pwned`", "\"quoted\" ;x"};
  launchAfterExit(root / "bin/kestrane-app", args);
  for (int i = 0; i < 100 && !fs::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(readAll(record), "$(touch pwned)\n`touch pwned`\n\"quoted\" ;x\n");
  EXPECT_FALSE(fs::exists(parent / "pwned"));
  EXPECT_FALSE(fs::exists("pwned"));
}

TEST(UpdatableInstall, OnlyAMarkedWritableInstallOutsideUsrUpdatesItself) {
  ScratchFolder scratch;
  writeFile(scratch.path() / "plain/bin/kestrane-app", "x", true);
  EXPECT_FALSE(updatableInstall(scratch.path() / "plain/bin/kestrane-app"));
  EXPECT_FALSE(updatableInstall(scratch.path() / "missing/bin/kestrane-app"));
  if (fs::exists("/usr/bin/env")) {
    EXPECT_FALSE(updatableInstall("/usr/bin/env"));
  }
}

}  // namespace
}  // namespace kestrane::updater
