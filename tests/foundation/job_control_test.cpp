#include "foundation/job_control.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(JobControl, CommandWordsDecideStopAndKeep) {
  struct Row {
    int32_t word;
    bool stop;
    bool keep;
  };
  // Unknown non-zero words stop and keep: a window that writes a code the
  // job does not know never loses the partial output.
  const Row rows[] = {{0, false, false}, {-4, false, false}, {-1, true, false},
                      {-2, true, true},  {1, true, true},    {7, true, true}};
  for (const Row& r : rows) {
    JobControl c;
    c.set_command_word(r.word);
    EXPECT_EQ(c.stop_requested(), r.stop) << r.word;
    EXPECT_EQ(c.keep_output(), r.keep) << r.word;
  }
}

TEST(JobControl, PausedCheckpointWaitsThroughTheInjectedSleepUntilResumed) {
  JobControl c;
  int slept = 0;
  c.set_sleep([&](int ms) {
    slept += ms;
    if (slept >= 3 * JobControl::kPausePollMs) c.resume();
  });
  c.pause();
  EXPECT_FALSE(c.checkpoint());
  EXPECT_EQ(slept, 3 * JobControl::kPausePollMs);

  // A stop written while paused ends the wait and stops the job.
  c.set_sleep([&](int) { c.stop(false); });
  c.pause();
  EXPECT_TRUE(c.checkpoint());
  EXPECT_FALSE(c.keep_output());
}

TEST(JobControl, PausedJobThreadWakesOnResumeWithoutPolling) {
  JobControl c;
  std::atomic<int> pieces{0};
  c.pause();
  std::thread job([&] {
    while (!c.checkpoint() && pieces.load() < 5) pieces.fetch_add(1);
    c.finish(JobOutcome::done, 5);
  });
  EXPECT_EQ(pieces.load(), 0);  // still paused
  c.resume();
  job.join();
  EXPECT_EQ(pieces.load(), 5);
  EXPECT_EQ(c.outcome(), JobOutcome::done);
  EXPECT_EQ(c.result(), 5);
}

TEST(JobControl, ProgressIsClampedAndReported) {
  JobControl c;
  std::vector<double> seen;
  c.set_progress_callback([&](double p) { seen.push_back(p); });
  for (double p : {-3.0, 12.5, 99.99, 140.0}) c.set_progress(p);
  EXPECT_EQ(seen, (std::vector<double>{0.0, 12.5, 99.99, 100.0}));
  EXPECT_EQ(c.progress(), 100.0);
}

TEST(JobControl, FirstOutcomeWinsAndResetStartsAgain) {
  JobControl c;
  EXPECT_FALSE(c.finished());
  c.finish(JobOutcome::failed, -3, "<out.mpg>: cannot write");
  c.finish(JobOutcome::done, 0, "");
  EXPECT_EQ(c.outcome(), JobOutcome::failed);
  EXPECT_EQ(c.result(), -3);
  EXPECT_EQ(c.message(), "<out.mpg>: cannot write");
  c.stop(true);
  c.reset();
  EXPECT_EQ(c.outcome(), JobOutcome::running);
  EXPECT_EQ(c.command(), JobCommand::run);
  EXPECT_TRUE(c.message().empty());
}

TEST(JobControl, BitCodedCommandsMapOntoTheOneProtocol) {
  struct Row {
    int32_t bits;
    JobCommand trim;
    JobCommand scan;
  };
  const Row rows[] = {{0, JobCommand::run, JobCommand::run},
                      {8, JobCommand::pause, JobCommand::pause},
                      {16, JobCommand::stop_delete, JobCommand::stop_keep},
                      {32, JobCommand::stop_keep, JobCommand::stop_keep},
                      {8 | 16, JobCommand::stop_delete, JobCommand::stop_keep}};
  for (const Row& r : rows) {
    EXPECT_EQ(JobControl::from_trim_bits(r.bits), r.trim) << r.bits;
    EXPECT_EQ(JobControl::from_scan_bits(r.bits), r.scan) << r.bits;
  }
  for (JobCommand c : {JobCommand::run, JobCommand::pause, JobCommand::stop_delete, JobCommand::stop_keep})
    EXPECT_EQ(JobControl::from_trim_bits(JobControl::to_trim_bits(c)), c);
}
