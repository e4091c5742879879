// The `kestrane cut` command: checks before any analysis, batches, reporting, exit codes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "CutCommand.hpp"
#include "RecutOptions.hpp"
#include "cli/ProgramRun.hpp"
#include "pipeline/TestSupport.hpp"

namespace fs = std::filesystem;
using namespace kestrane;

namespace {

int countOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void writeFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

}  // namespace

TEST(CutCommand, BatchRunsEveryItemAndEndsWithASummary) {
  test::TempDir tmp;
  const fs::path notMedia = tmp.path() / "notes.mov";
  writeFile(notMedia, "not a movie at all");
  const auto options =
      cli::parseCutOptions({test::sampleFootage().string(), notMedia.string(), test::sampleFootage().string(), "--name",
                            "Demo", "--out", (tmp.path() / ".").string(), "--script", test::sampleScript().string()});
  std::ostringstream out, err;
  cli::Console console(out, err);
  EXPECT_EQ(cli::runCut(options, console), cli::kExitFailed);

  const std::string printed = out.str();
  // In a log each stage is a line as it starts and one with its time as it ends.
  std::string stages = "File 1 of 3 — sample-presenter.mp4 (project “Demo”)\n";
  for (const char* stage : {"Opening your footage", "Measuring the audio", "Transcribing every word",
                            "Choosing the best takes", "Building your package"}) {
    stages += std::string(stage) + "\n" + stage + " — done\n";
  }
  // A stage that runs long (on a loaded machine) adds its tenths in between.
  const std::string shape =
      std::regex_replace(std::regex_replace(printed, std::regex("[^\n]* [0-9]+%  [^\n]* elapsed[^\n]*\n"), ""),
                         std::regex(" — done in [0-9:]+"), " — done");
  EXPECT_NE(shape.find(stages), std::string::npos) << printed;
  EXPECT_NE(printed.find("File 2 of 3 — notes.mov (project “Demo”)"), std::string::npos);
  // Two items of one name never share a folder; "--out folder/." reads as the folder itself.
  EXPECT_NE(printed.find("Package: " + (tmp.path() / "Demo Kestrane.kestrane").string() + "\n"), std::string::npos);
  EXPECT_NE(printed.find("Package: " + (tmp.path() / "Demo Kestrane 2.kestrane").string() + "\n"), std::string::npos);
  EXPECT_EQ(countOf(printed, "Done in "), 2);
  EXPECT_EQ(printed.find_first_of("\r\x1b"), std::string::npos) << "a log holds no redraws";
  EXPECT_EQ(countOf(printed, " of footage → "), 2);
  EXPECT_EQ(countOf(printed, "Open in Final Cut Pro: " + tmp.path().string()), 2);
  const std::string reason = "Can't read media at " + notMedia.string() + " — not a video or audio file";
  EXPECT_NE(printed.find("\nCut 2 of 3 files.\nFailed: " + notMedia.string() + ": " + reason + "\n"), std::string::npos)
      << printed;

  EXPECT_EQ(err.str(), "kestrane: " + reason + "\n");
}

TEST(CutCommand, MistakesFoundBeforeAnyAnalysisExitWithUsageStatus) {
  test::TempDir tmp;
  const std::string footage = test::sampleFootage().string();
  const fs::path empty = tmp.path() / "empty.mov", pipe = tmp.path() / "pipe.mov";
  writeFile(empty, "");
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  const fs::path aFile = tmp.path() / "file";
  writeFile(aFile, "x");
  const fs::path docx = tmp.path() / "script.docx", binaryText = tmp.path() / "script.txt";
  writeFile(docx, "PK");
  std::string zipped = "PK\x03\x04";
  for (int i = 0; i < 4000; ++i) zipped += static_cast<char>((i * 7919 + 13) % 256);
  writeFile(binaryText, zipped);
  const std::string out = (tmp.path() / "out").string();

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"cut", (tmp.path() / "missing.mov").string()}, "— no such file"},
      {{"cut", tmp.path().string()}, "— it is a folder"},
      {{"cut", empty.string()}, "— the file is empty"},
      {{"cut", pipe.string()}, "— it is not a regular file"},
      {{"cut", footage, "--out", aFile.string()}, "it is not a folder"},
      {{"cut", footage, "--out", (aFile / "sub").string()}, "is not a folder"},
      {{"cut", footage, "--out", out, "--script", (tmp.path() / "none.txt").string()}, "no such file"},
      {{"cut", footage, "--out", out, "--script", tmp.path().string()}, "is not a file"},
      {{"cut", footage, "--out", out, "--script", docx.string()}, "is not a script file"},
      {{"cut", footage, "--out", out, "--script", binaryText.string()}, "doesn't hold plain text"},
      {{"cut", footage, "--threshold", "0"}, "between -120 and 0 dBFS"},
      {{"cut", footage, "--threshold", "-121"}, "between -120 and 0 dBFS"},
      {{"recut", (tmp.path() / "gone").string()}, "No session file or package folder at"},
      {{"recut", footage, "--threshold", "3"}, "between -120 and 0 dBFS"},
      {{"cut", (tmp.path() / "bell\a.mov").string()}, "bell\\x07.mov — no such file"},
      {{"cut", footage, "--out", "--mp4"}, "--out needs a value, but “--mp4” is an option"},
  };
  for (const auto& [args, message] : cases) {
    const test::ProgramRun run = test::runProgram(args);
    EXPECT_EQ(run.status, cli::kExitUsage) << args[1] << " " << message;
    EXPECT_EQ(run.out, "") << message;
    EXPECT_EQ(countOf(run.err, "\n"), 1) << run.err;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(out)) << "nothing is made before the checks pass";
}

TEST(CutCommand, ProgramExitCodes) {
  const std::string program = KESTRANE_CLI;
  EXPECT_EQ(WEXITSTATUS(std::system((program + " cut >/dev/null 2>&1").c_str())), cli::kExitUsage);
  EXPECT_EQ(WEXITSTATUS(std::system((program + " cut a.mov --tightness loose 2>/dev/null").c_str())), cli::kExitUsage);
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
  for (const auto& [command, usage] : {std::pair{"cut", cli::kCutUsage}, std::pair{"recut", cli::kRecutUsage},
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
