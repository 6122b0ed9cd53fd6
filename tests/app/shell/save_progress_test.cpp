// The progress window's rules, headless (no window factory installed).
#include <gtest/gtest.h>

#include <vector>

#include "app/shell/save_progress.h"
#include "platform/fakes.h"

namespace {

struct ProgressTest : ::testing::Test {
  FakePlatform fakes;
  std::vector<int> codes;
  std::unique_ptr<CSaveProgressDlg> make(bool with_callback = true) {
    auto d = std::make_unique<CSaveProgressDlg>(
        0, 0, this, with_callback ? CSaveProgressDlg::Callback([this](void* owner, int code) {
          EXPECT_EQ(owner, this);
          codes.push_back(code);
          return 0;
        })
                                  : CSaveProgressDlg::Callback());
    d->pausable = 1;
    EXPECT_EQ(d->Create(), 1);
    return d;
  }
};

TEST_F(ProgressTest, TextsOfRunningAndPaused) {
  auto d = make();
  EXPECT_EQ(d->title(), "  Saving In Progress ......");
  EXPECT_EQ(d->job_text(), "Data Processed:");
  d->on_pause();
  EXPECT_EQ(d->title(), "  Saving Paused ............");
  EXPECT_EQ(d->pause_text(), "Resume");
  d->set_file_name("/x/out.mpg");
  d->set_job_name("Trimming");
  EXPECT_EQ(d->title(), "/x/out.mpg");
  EXPECT_EQ(d->job_text(), "Trimming has been paused ......");
  EXPECT_EQ(codes, std::vector<int>{kProgressPause});
}

TEST_F(ProgressTest, PercentNeverMovesBackTimeAlwaysAdvances) {
  auto d = make();
  d->time_offset = 3600;
  d->SetPercent(30);
  fakes.clock.advance(61000);
  d->SetPercent(20);
  EXPECT_EQ(d->percent, 30);
  EXPECT_EQ(d->percent_text(), "30 %");
  EXPECT_EQ(d->time_text(), "Time:   1:01:01");
  d->SetPercent(100);
  d->SetPercent(100);
  EXPECT_EQ(codes, std::vector<int>{kProgressClosed});
  EXPECT_EQ(d->closed, 1);
}

TEST_F(ProgressTest, StopWhilePausedAsksAtOnceAndCancelKeepsPause) {
  auto d = make();
  d->on_pause();
  fakes.prompter.answers = {PromptAnswer::Cancel};
  d->on_stop();
  EXPECT_EQ(codes, std::vector<int>{kProgressPause});
  EXPECT_EQ(d->paused, 1);
  EXPECT_EQ(fakes.prompter.shown.back().caption, "Save Progress");
  fakes.prompter.answers = {PromptAnswer::No};
  d->on_stop();
  EXPECT_EQ(codes, (std::vector<int>{kProgressPause, kProgressStopKeep}));
  d->Finish();  // closed already: no second report
  EXPECT_EQ(codes.size(), 2u);
}

TEST_F(ProgressTest, StopWithoutCallbackOnlyCloses) {
  auto d = make(false);
  d->on_stop();
  EXPECT_TRUE(fakes.prompter.shown.empty());
  EXPECT_EQ(d->closed, 1);
}

TEST_F(ProgressTest, WindowThatCannotBeMadeFailsCreate) {
  set_save_progress_window_factory([](CSaveProgressDlg*) { return std::unique_ptr<SaveProgressWindow>(); });
  CSaveProgressDlg d(0, 0, nullptr, nullptr);
  EXPECT_EQ(d.Create(), 0);
  set_save_progress_window_factory(nullptr);
}

}  // namespace
