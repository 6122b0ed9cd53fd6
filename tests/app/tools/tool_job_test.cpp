// The tool job runner against fake engine calls that script their
// progress and read the command word as an engine loop does.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "app/tools/tool_job.h"
#include "platform/fakes.h"

namespace {

// A one-way step the test and the fake call wait on.
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> l(m_);
    open_ = true;
    cv_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [this] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

struct Rig {
  FakePlatform fake;
  ProgressStandIn* view = nullptr;
  int views_made = 0;
  std::vector<ToolJob::End> ends;
  ToolJob job{[this](const ProgressViewSpec& spec, JobProgressView::Report report) {
    auto v = std::make_unique<ProgressStandIn>(spec, std::move(report));
    view = v.get();
    ++views_made;
    return v;
  }};
  Rig() {
    job.set_on_end([this](const ToolJob::End& e) { ends.push_back(e); });
  }
  // Polls until the job is over (its thread returns by itself).
  void poll_to_end() {
    while (job.running()) {
      job.poll();
      std::this_thread::yield();
    }
  }
};

// Waits (spinning) until the worker sees a command other than run/pause.
int32_t wait_for_stop(JobControl& c) {
  while (!c.stop_requested()) std::this_thread::yield();
  return c.command_word();
}

TEST(ToolJob, ShowsTruncatedPercentAndEndsOnlyAfterTheThreadReturned) {
  Rig r;
  Gate reported, release;
  ASSERT_TRUE(r.job.start(
      [&](JobControl& c) {
        c.set_progress(99.99);
        reported.open();
        release.wait();
        c.set_progress(100.0);
        c.finish(JobOutcome::done, 7);
        reported.open();
      },
      {"Conversion", "out.mpg", 1e6, 0}));
  EXPECT_FALSE(r.job.start([](JobControl&) {}, {}));  // one job at a time
  reported.wait();
  r.job.poll();
  EXPECT_EQ(r.job.shown_percent(), 99);
  ASSERT_NE(r.view, nullptr);
  EXPECT_EQ(r.view->percent(), 99);
  EXPECT_EQ(r.view->job_text(), "Conversion is in progress ......");
  release.open();
  r.poll_to_end();
  ASSERT_EQ(r.ends.size(), 1u);
  EXPECT_EQ(r.ends[0].outcome, JobOutcome::done);
  EXPECT_EQ(r.ends[0].result, 7);
  EXPECT_FALSE(r.ends[0].stopped_by_user);
  EXPECT_FALSE(r.job.has_view());
  EXPECT_EQ(ToolJob::live_count(), 0);
}

TEST(ToolJob, HundredThenBusyKeepsTheJobUntilItReturns) {
  Rig r;
  Gate reported, release;
  ASSERT_TRUE(r.job.start(
      [&](JobControl& c) {
        c.set_progress(100.0);
        reported.open();
        release.wait();  // still closing its files
        c.finish(JobOutcome::done);
      },
      {"Multiplexing", "x.mpg", 0, 0}));
  reported.wait();
  for (int i = 0; i < 5; ++i) r.job.poll();
  EXPECT_TRUE(r.job.running());
  EXPECT_TRUE(r.ends.empty());
  EXPECT_LT(r.job.shown_percent(), 100);
  release.open();
  r.poll_to_end();
  ASSERT_EQ(r.ends.size(), 1u);
  EXPECT_EQ(r.ends[0].outcome, JobOutcome::done);
}

TEST(ToolJob, ReturningWithoutHundredFails) {
  struct Case {
    const char* name;
    std::function<void(JobControl&)> call;
    JobOutcome outcome;
  };
  const Case cases[] = {
      {"silent", [](JobControl& c) { c.set_progress(40); }, JobOutcome::failed},
      {"claims done at 40",
       [](JobControl& c) {
         c.set_progress(40);
         c.finish(JobOutcome::done);
       },
       JobOutcome::failed},
      {"says failed", [](JobControl& c) { c.finish(JobOutcome::failed, 0, "no room"); }, JobOutcome::failed},
      {"done at 100",
       [](JobControl& c) {
         c.set_progress(100);
         c.finish(JobOutcome::done);
       },
       JobOutcome::done},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig r;
    ASSERT_TRUE(r.job.start(k.call, {}));
    r.poll_to_end();
    ASSERT_EQ(r.ends.size(), 1u);
    EXPECT_EQ(r.ends[0].outcome, k.outcome);
    if (k.outcome == JobOutcome::failed) {
      EXPECT_FALSE(r.ends[0].message.empty());
    }
  }
}

TEST(ToolJob, PauseHoldsProgressAndResumeGoesOn) {
  Rig r;
  Gate started, paused_seen;
  std::atomic<int> steps_while_paused{0};
  ASSERT_TRUE(r.job.start(
      [&](JobControl& c) {
        c.set_progress(10);
        started.open();
        while (c.command() != JobCommand::pause) std::this_thread::yield();
        paused_seen.open();
        // An engine loop: no progress while paused.
        while (c.command() == JobCommand::pause) {
          if (c.progress() != 10) ++steps_while_paused;
          std::this_thread::yield();
        }
        c.set_progress(100);
        c.finish(JobOutcome::done);
      },
      {"Conversion", "o", 0, 0}));
  started.wait();
  r.job.poll();
  ASSERT_NE(r.view, nullptr);
  r.view->press_pause();
  EXPECT_EQ(r.view->job_text(), "Conversion has been paused ......");
  paused_seen.wait();
  EXPECT_EQ(r.job.control().command(), JobCommand::pause);
  r.job.poll();
  EXPECT_EQ(r.job.shown_percent(), 10);
  r.view->press_pause();
  EXPECT_NE(r.job.control().command(), JobCommand::pause);
  r.poll_to_end();
  EXPECT_EQ(steps_while_paused.load(), 0);
  ASSERT_EQ(r.ends.size(), 1u);
  EXPECT_EQ(r.ends[0].outcome, JobOutcome::done);
}

TEST(ToolJob, StopAnswersAndCloseReachTheCallAsTheirWords) {
  struct Case {
    const char* name;
    PromptAnswer answer;  // Cancel: the window closes instead
    bool close;
    int32_t word;
    bool by_user;
  };
  const Case cases[] = {
      {"Stop, Yes", PromptAnswer::Yes, false, -1, true},
      {"Stop, No", PromptAnswer::No, false, -2, true},
      {"window closes", PromptAnswer::Cancel, true, 1, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Rig r;
    Gate started;
    std::atomic<int32_t> seen{0};
    ASSERT_TRUE(r.job.start(
        [&](JobControl& c) {
          c.set_progress(5);
          started.open();
          seen = wait_for_stop(c);
          c.set_progress(100);
          c.finish(JobOutcome::stopped);
        },
        {"Demultiplexing", "in.vob", 0, 0}));
    started.wait();
    r.job.poll();
    ASSERT_NE(r.view, nullptr);
    if (k.close) {
      r.job.stop_for_close();
    } else {
      r.fake.prompter.answers = {k.answer};
      r.view->press_stop();
      EXPECT_EQ(r.fake.prompter.last_text(), kDeletePartialQuestion);
    }
    EXPECT_FALSE(r.job.has_view());
    r.poll_to_end();
    EXPECT_EQ(seen.load(), k.word);
    ASSERT_EQ(r.ends.size(), 1u);
    EXPECT_EQ(r.ends[0].outcome, JobOutcome::stopped);
    EXPECT_EQ(r.ends[0].stopped_by_user, k.by_user);
    EXPECT_EQ(r.views_made, 1);  // a stopped job's view is not made again
  }
}

TEST(ToolJob, StopCancelledResumesWhatItPaused) {
  Rig r;
  Gate started;
  ASSERT_TRUE(r.job.start(
      [&](JobControl& c) {
        c.set_progress(1);
        started.open();
        wait_for_stop(c);
        c.set_progress(100);
        c.finish(JobOutcome::stopped);
      },
      {}));
  started.wait();
  r.job.poll();
  ASSERT_NE(r.view, nullptr);
  r.fake.prompter.answers = {PromptAnswer::Cancel};
  r.view->press_stop();
  EXPECT_EQ(r.job.control().command(), JobCommand::run);
  EXPECT_FALSE(r.view->paused());
  // Stop while paused asks at once; Cancel leaves it paused.
  r.view->press_pause();
  r.fake.prompter.answers = {PromptAnswer::Cancel};
  r.view->press_stop();
  EXPECT_EQ(r.job.control().command(), JobCommand::pause);
  r.job.stop_and_join();  // the program's close check
  EXPECT_FALSE(r.job.running());
  ASSERT_EQ(r.ends.size(), 1u);
  EXPECT_EQ(ToolJob::live_count(), 0);
}

TEST(ToolJob, DestroyedDuringAJobStopsAndJoins) {
  std::atomic<int32_t> seen{0};
  {
    Rig r;
    ASSERT_TRUE(r.job.start([&](JobControl& c) { seen = wait_for_stop(c); }, {}));
    EXPECT_EQ(ToolJob::live_count(), 1);
  }
  EXPECT_EQ(seen.load(), 1);
  EXPECT_EQ(ToolJob::live_count(), 0);
}

}  // namespace
