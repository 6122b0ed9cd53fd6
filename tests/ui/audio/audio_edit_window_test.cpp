#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "tests/app/audio/fake_track.h"
#include "ui/audio/audio_editor_dlg.h"
#include "ui/audio/audio_save_dlg.h"

namespace {

struct AudioEditWindowTest : ::testing::Test {
  FakePlatform fake;
  FakeFiles files;
  void SetUp() override {
    FakeTrackSpec s;
    s.length = 10.0;
    files.files["/m/a.mp2"] = s;
  }
};

TEST_F(AudioEditWindowTest, CutUndoAndSaveThroughTheButtons) {
  auto* w = new CAudioEditorDlg(files.deps(&fake.clock));
  w->OpenTrack("/m/a.mp2");
  w->button(1212)->click();  // stop
  w->show();
  w->button(1202)->click();
  AudioPlayer& p = w->player();
  p.Seek(100);
  w->button(1193)->click();
  p.Seek(400);
  w->button(1194)->click();
  EXPECT_EQ(w->icon_name(1210), "mark_no");  // segment play on: the button ends it
  ASSERT_TRUE(w->button(1189)->isEnabled());
  EXPECT_FALSE(w->button(1197)->isEnabled());
  w->button(1189)->click();
  EXPECT_NEAR(p.length(), 6.99, 1e-9);
  EXPECT_TRUE(w->button(1197)->isEnabled());
  EXPECT_EQ(w->icon_name(1197), "ed_undo");
  w->button(1197)->click();
  EXPECT_NEAR(p.length(), 10.0, 1e-9);
  EXPECT_TRUE(w->button(1196)->isEnabled());

  // Save: the dialog opens beside the window with the name edit focused.
  auto* track = static_cast<FakeTrack*>(p.track());
  track->save_work = [](JobControl& c) -> std::function<int()> {
    return [&c] {
      c.set_progress(100.0);
      c.finish(JobOutcome::done, kRecordOk);
      return int(kRecordOk);
    };
  };
  w->button(1195)->click();
  AudioSaveDialogWidget* d = w->save_dialog();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), " MPEG Audio Editor: Save ");
  EXPECT_EQ(QApplication::focusWidget() == d->file_edit() || !d->isActiveWindow(), true);
  EXPECT_TRUE(w->button(1195)->isChecked());
  const std::string out = testing::TempDir() + "edit_window_out.mp2";
  d->file_edit()->setText(QString::fromStdString(out));
  auto* save = d->findChild<QPushButton*>("c1232");
  save->click();
  ASSERT_EQ(track->saves.size(), 1u);
  EXPECT_EQ(track->saves[0].file, out);
  EXPECT_EQ(track->saves[0].length, 10.0);
  EXPECT_FALSE(save->isEnabled());
  EXPECT_EQ(d->file_edit()->text(), "");
  // The job ends at its join: Save comes back.
  while (w->edits().save_running()) w->edits().SaveTick();
  EXPECT_TRUE(save->isEnabled());
  EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();
  // The Save button toggles the dialog; leaving the editor clears the
  // histories.
  w->button(1195)->click();
  EXPECT_EQ(w->save_dialog(), nullptr);
  w->button(1188)->click();
  EXPECT_TRUE(w->edits().undo_history().empty());
  EXPECT_TRUE(w->edits().redo_history().empty());
  w->close();
}

TEST_F(AudioEditWindowTest, ClosingDuringASaveAsksAndJoins) {
  auto* w = new CAudioEditorDlg(files.deps(&fake.clock));
  w->OpenTrack("/m/a.mp2");
  w->button(1202)->click();
  auto* track = static_cast<FakeTrack*>(w->player().track());
  track->save_work = [](JobControl& c) -> std::function<int()> {
    return [&c] {
      while (!c.checkpoint()) std::this_thread::yield();
      c.finish(JobOutcome::stopped, kRecordCancelled);
      return int(kRecordCancelled);
    };
  };
  w->edits().PrepareSaveSettings("/m/");
  w->edits().save_settings().file_name = testing::TempDir() + "edit_window_stop.mp2";
  ASSERT_EQ(w->edits().ExecuteAudioEditCommand(kAudioSave), 1);
  fake.prompter.answers = {PromptAnswer::No, PromptAnswer::Yes};
  EXPECT_FALSE(w->close());
  EXPECT_TRUE(w->save_running());
  EXPECT_TRUE(w->close());
  EXPECT_EQ(fake.prompter.texts(), (std::vector<std::string>{kAudioSaveRunningQuestion, kAudioSaveRunningQuestion}));
}

}  // namespace
