// The `kestrane cut` command: batches, reporting, exit codes and Ctrl-C.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "CutCommand.hpp"
#include "RecutOptions.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(CutCommand, BatchRunsEveryItemAndReportsEachFailureOnOneLine) {
  test::TempDir tmp;
  const auto options = cli::parseCutOptions(
      {test::sampleFootage().string(), (tmp.path() / "missing.mov").string(),
       test::sampleFootage().string(), "--name", "Demo", "--out", tmp.path().string(),
       "--script", test::sampleScript().string()});
  std::ostringstream out, err;
  EXPECT_EQ(cli::runCut(options, out, err), cli::kExitFailed);

  const std::string printed = out.str();
  EXPECT_NE(printed.find("Video 1 of 3 — Demo\nOpening your footage\nMeasuring the audio\n"
                         "Transcribing every word\nChoosing the best takes\nBuilding your package\n"),
            std::string::npos)
      << printed;
  EXPECT_NE(printed.find("Video 3 of 3 — Demo"), std::string::npos);
  // Two items of one name never share a folder.
  EXPECT_NE(printed.find("Package: " + (tmp.path() / "Demo Kestrane.kestrane").string() + "\n"),
            std::string::npos);
  EXPECT_NE(printed.find("Package: " + (tmp.path() / "Demo Kestrane 2.kestrane").string() + "\n"),
            std::string::npos);
  EXPECT_EQ(countOf(printed, "Done in "), 2);

  const std::string errors = err.str();
  EXPECT_EQ(countOf(errors, "\n"), 1) << errors;
  EXPECT_EQ(errors.rfind("kestrane: Can't read media at ", 0), 0u) << errors;
}

TEST(CutCommand, ProgramExitCodes) {
  const std::string program = KESTRANE_CLI;
  EXPECT_EQ(WEXITSTATUS(std::system((program + " cut >/dev/null 2>&1").c_str())), cli::kExitUsage);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " cut a.mov --tightness loose 2>/dev/null").c_str())),
            cli::kExitUsage);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " cut --help >/dev/null").c_str())), 0);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " frobnicate 2>/dev/null").c_str())), cli::kExitUsage);
}

TEST(CutCommand, ProgramHelpNamesEveryCommandAndItsOptions) {
  std::string help;
  FILE* pipe = ::popen((std::string(KESTRANE_CLI) + " --help").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char chunk[512];
  while (std::fgets(chunk, sizeof chunk, pipe)) help += chunk;
  EXPECT_EQ(WEXITSTATUS(::pclose(pipe)), 0);

  const auto section = [&](const std::string& command) {
    const std::size_t from = help.find("\n  " + command + " ");
    const std::size_t to = help.find("\n\n", from);
    return from == std::string::npos ? std::string() : help.substr(from, to - from);
  };
  const std::regex option("--[a-z][a-z-]*");
  for (const auto& [command, usage] : {std::pair{"cut", cli::kCutUsage},
                                       std::pair{"recut", cli::kRecutUsage},
                                       std::pair{"retry-ai", cli::kRetryUsage}}) {
    const std::string listed = section(command);
    ASSERT_FALSE(listed.empty()) << command;
    const std::string own(usage);
    for (std::sregex_iterator it(own.begin(), own.end(), option), end; it != end; ++it) {
      if (it->str() == "--help") continue;
      EXPECT_NE(listed.find(it->str()), std::string::npos) << command << " " << it->str();
    }
  }
}

TEST(CutCommand, InterruptStopsTheJobAndLeavesNoPackage) {
  test::TempDir tmp;
  const auto scratchBefore = test::tempEntries("kestrane-audio-");
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const std::string program = KESTRANE_CLI;
  const std::string footage = test::sampleFootage().string();
  const std::string outDir = (tmp.path() / "out").string();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::execl(program.c_str(), program.c_str(), "cut", footage.c_str(), "--out", outDir.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  FILE* stream = ::fdopen(pipeFds[0], "r");
  char line[256];
  while (std::fgets(line, sizeof line, stream)) {
    if (std::string(line) == "Measuring the audio\n") {
      ::kill(child, SIGINT);
      break;
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  std::fclose(stream);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), cli::kExitCancelled);
  EXPECT_FALSE(fs::exists(tmp.path() / "out" / "sample-presenter Kestrane.kestrane"));
  EXPECT_EQ(test::tempEntries("kestrane-audio-"), scratchBefore);
}
