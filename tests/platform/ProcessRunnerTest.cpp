#include "kestrane/platform/ProcessRunner.hpp"

#include <signal.h>

#include <chrono>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "pipeline/TestSupport.hpp"

namespace kestrane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ProcessRunner::Options shell(const std::string& script) {
  ProcessRunner::Options o;
  o.executable = "/bin/sh";
  o.arguments = {"-c", script};
  return o;
}

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// True while a process with this pid exists and is not a zombie.
bool alive(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const auto close = line.rfind(')');
  return close != std::string::npos && line.size() > close + 2 && line[close + 2] != 'Z';
}

pid_t readPid(const std::filesystem::path& file) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(file);
    pid_t pid = 0;
    if (in >> pid && pid > 0) return pid;
    std::this_thread::sleep_for(10ms);
  }
  return 0;
}

TEST(ProcessRunner, ExchangesLargeInputAndOutputsWithoutDeadlock) {
  // 8 MB through cat: stdin is written while stdout is read.
  std::string input(8 << 20, 'x');
  for (std::size_t i = 0; i < input.size(); i += 4099) input[i] = '\n';
  auto o = shell("cat");
  o.input = input;
  auto r = ProcessRunner::run(o);
  EXPECT_TRUE(r.succeeded());
  EXPECT_EQ(r.standardOutput, input);

  // Two megabytes on stderr before a word on stdout.
  r = ProcessRunner::run(shell("head -c 2000000 /dev/zero | tr '\\0' e >&2; echo done"));
  EXPECT_EQ(r.standardOutput, "done\n");
  EXPECT_EQ(r.standardError.size(), 2000000u);

  // A program that reads ten bytes and leaves: the rest of the input is dropped, no SIGPIPE.
  o = shell("head -c 10 >/dev/null; echo read");
  o.input = std::string(4 << 20, 'y');
  r = ProcessRunner::run(o);
  EXPECT_EQ(r.standardOutput, "read\n");
  EXPECT_EQ(r.exitCode, 0);

  // Output beyond the limit is read and dropped.
  o = shell("head -c 100000 /dev/zero");
  o.outputLimit = 1000;
  r = ProcessRunner::run(o);
  EXPECT_EQ(r.standardOutput.size(), 1000u);
  EXPECT_TRUE(r.outputTruncated);
  EXPECT_EQ(r.exitCode, 0);
}

TEST(ProcessRunner, ReportsStatusEnvironmentFolderAndStartFailure) {
  test::TempDir dir;
  auto o = shell("echo \"$KESTRANE_PROBE\"; pwd; echo oops >&2; exit 3");
  o.environment = ProcessRunner::environmentWith("KESTRANE_PROBE", "probe value");
  o.workingDirectory = dir.path();
  auto r = ProcessRunner::run(o);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_FALSE(r.signalled);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.standardOutput, "probe value\n" + std::filesystem::canonical(dir.path()).string() + "\n");
  EXPECT_EQ(r.standardError, "oops\n");

  r = ProcessRunner::run(shell("kill -KILL $$"));
  EXPECT_TRUE(r.signalled);
  EXPECT_EQ(r.exitCode, 128 + SIGKILL);

  // A program that does not exist, and one that is not executable.
  ProcessRunner::Options missing;
  missing.executable = dir.path() / "no-such-program";
  EXPECT_THROW(ProcessRunner::run(missing), ProcessRunner::StartError);
  std::ofstream(dir.path() / "plain") << "#!/bin/sh\n";
  missing.executable = dir.path() / "plain";
  EXPECT_THROW(ProcessRunner::run(missing), ProcessRunner::StartError);
}

TEST(ProcessRunner, TimeOutEndsTheWholeGroupEvenWhenTermIsIgnored) {
  test::TempDir dir;
  const auto pidFile = dir.path() / "grandchild";
  // The program ignores SIGTERM and starts a grandchild that holds its output open.
  auto o =
      shell("trap '' TERM; sleep 60 & echo $! > '" + pidFile.string() + "'; echo started; while :; do sleep 1; done");
  o.timeout = 0.5s;
  o.grace = 0.5s;
  const auto start = Clock::now();
  const auto r = ProcessRunner::run(o);
  EXPECT_TRUE(r.timedOut);
  EXPECT_FALSE(r.succeeded());
  EXPECT_EQ(r.standardOutput, "started\n");
  EXPECT_LT(secondsSince(start), 5.0);
  const pid_t grandchild = readPid(pidFile);
  ASSERT_GT(grandchild, 0);
  for (int i = 0; i < 100 && alive(grandchild); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(alive(grandchild));
}

TEST(ProcessRunner, ProgramThatExitsLeavingAChildOnItsOutputIsNotWaitedFor) {
  test::TempDir dir;
  const auto pidFile = dir.path() / "grandchild";
  auto o = shell("sleep 60 & echo $! > '" + pidFile.string() + "'; echo answer");
  o.grace = 0.3s;
  const auto start = Clock::now();
  const auto r = ProcessRunner::run(o);
  EXPECT_TRUE(r.succeeded());
  EXPECT_EQ(r.standardOutput, "answer\n");
  EXPECT_LT(secondsSince(start), 5.0);
  const pid_t grandchild = readPid(pidFile);
  for (int i = 0; i < 100 && alive(grandchild); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_FALSE(alive(grandchild));
}

TEST(ProcessRunner, StopRequestEndsTheRunAtOnce) {
  std::stop_source source;
  std::thread stopper([&source] {
    std::this_thread::sleep_for(200ms);
    source.request_stop();
  });
  const auto start = Clock::now();
  const auto r = ProcessRunner::run(shell("sleep 60"), source.get_token());
  stopper.join();
  EXPECT_TRUE(r.cancelled);
  EXPECT_FALSE(r.timedOut);
  EXPECT_LT(secondsSince(start), 3.0);

  // Already stopped before it starts: ends without waiting for the program.
  const auto again = ProcessRunner::run(shell("sleep 60"), source.get_token());
  EXPECT_TRUE(again.cancelled);
}

}  // namespace
}  // namespace kestrane
