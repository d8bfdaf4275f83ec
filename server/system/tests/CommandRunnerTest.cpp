#include <gtest/gtest.h>

#include <chrono>

#include "server/system/CommandRunner.h"

using namespace halvard::system;

namespace {

TEST(ProcessRunner, CollectsOutputAndExitStatus) {
  CProcessRunner runner;
  CommandOutcome out = runner.Run({"sh", "-c", "echo out; echo err >&2; exit 3"});
  EXPECT_EQ(out.exitCode, 3);
  EXPECT_EQ(out.output, "out\nerr\n");
  EXPECT_EQ(out.Describe(), "exit status 3: out");

  // Arguments are passed as they are, never through a shell.
  out = runner.Run({"printf", "%s|", "a b", "$HOME", ";rm -rf x"});
  EXPECT_EQ(out.exitCode, 0);
  EXPECT_EQ(out.output, "a b|$HOME|;rm -rf x|");
}

TEST(ProcessRunner, MissingProgramsAndHangingOnesEnd) {
  CProcessRunner runner(std::chrono::milliseconds(300));
  EXPECT_FALSE(runner.HasProgram("halvard-no-such-tool"));
  EXPECT_TRUE(runner.HasProgram("sh"));
  EXPECT_EQ(runner.Run({"halvard-no-such-tool"}).exitCode, CommandOutcome::kNotStarted);
  EXPECT_EQ(runner.Run({}).exitCode, CommandOutcome::kNotStarted);
  // A tool that never ends is stopped with what it started.
  EXPECT_EQ(runner.Run({"sh", "-c", "sleep 30 & sleep 30"}).exitCode, CommandOutcome::kTimedOut);
  // A tool that ends, leaving a helper that keeps the output open, ends the run.
  const CommandOutcome out = runner.Run({"sh", "-c", "sleep 2 & echo started; exit 4"});
  EXPECT_EQ(out.exitCode, 4);
  EXPECT_EQ(out.output, "started\n");
}

}  // namespace
