#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <thread>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "fake_editor.h"
#include "support.h"
#include "tests/app/audio/fake_track.h"
#include "ui/audio/audio_editor_dlg.h"
#include "ui/audio/audio_player_tool.h"
#include "ui/audio/audio_save_dlg.h"
#include "ui/audio/insert_dialog.h"

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

// The program's close check during a save: asked, stopped keeping what
// was written, joined before the window goes.
TEST_F(AudioEditWindowTest, ProgramCloseStopsARunningSave) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
  const std::string src = tsupport::test_dir() + "/minute.mp2";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=f=500:r=44100:d=60 -ac 2 -c:a mp2 "
                          "-b:a 224k " +
                          tsupport::sh_quote(src)),
            0);
  CEditorApp app(fake_editor_factory());
  register_audio_player(&app);
  app.tools().run(cmd::kAudioPlayer);
  CAudioEditorDlg* w = nullptr;
  for (QWidget* t : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<CAudioEditorDlg*>(t)) w = d;
  ASSERT_NE(w, nullptr);
  w->OpenTrack(src);
  w->player().StopPlay();
  AudioEditCommands& ed = w->edits();
  ed.PrepareSaveSettings(tsupport::test_dir());
  AudioSaveSettings& s = ed.save_settings();
  const std::string out = tsupport::test_dir() + "/closing.mp2";
  s.file_name = out;
  s.length = s.total;
  s.layer = 2;
  s.sample_rate = 48000;
  s.channels = 2;
  s.bit_rate = 192000;
  ASSERT_EQ(ed.StartSave(), 1);
  while (ed.job().status() < 5 && ed.save_running()) std::this_thread::yield();
  ASSERT_TRUE(app.tools().window(cmd::kAudioPlayer)->is_busy());
  fake.prompter.answers.push_back(PromptAnswer::Yes);
  EXPECT_TRUE(app.confirm_close());
  EXPECT_EQ(fake.prompter.shown.front().text, kStopToolJobsQuestion);
  EXPECT_FALSE(app.tools().is_open(cmd::kAudioPlayer));
  // Stopped with the keep code: what was written is the output.
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_FALSE(std::filesystem::exists(out + ".part"));
}

// The Insert button through the real dialog and the real engine: Test
// previews and Close takes it back, Apply keeps the edit past Close, and
// Undo restores the track.
TEST_F(AudioEditWindowTest, InsertDialogPreviewsAppliesAndUndoes) {
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg is missing";
  const std::string src = tsupport::test_dir() + "/insert_track.mp2";
  const std::string noise = tsupport::test_dir() + "/insert_noise.mp2";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i sine=f=500:r=44100:d=10 -ac 2 -c:a mp2 "
                          "-b:a 224k " +
                          tsupport::sh_quote(src)),
            0);
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -loglevel error -y -f lavfi -i anoisesrc=d=5:c=white:r=44100:a=0.3 -ac 2 "
                          "-c:a mp2 -b:a 224k " +
                          tsupport::sh_quote(noise)),
            0);
  AudioPlayer::Deps deps;
  deps.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
  deps.clock = &fake.clock;
  auto* w = new CAudioEditorDlg(std::move(deps));
  w->OpenTrack(src);
  AudioPlayer& p = w->player();
  ASSERT_TRUE(p.has_track());
  p.StopPlay();
  w->show();
  w->button(1202)->click();
  ASSERT_TRUE(p.editor_mode());
  const double before = p.length();
  p.Seek(300);

  // Opens at the play position with the file typed in.
  auto open = [&]() -> CAudioInsertDlg* {
    w->button(1192)->click();
    CAudioInsertDlg* d = w->insert_dialog();
    if (!d) return nullptr;
    auto* file = d->findChild<QLineEdit*>("c1370");
    file->setText(QString::fromStdString(noise));
    emit file->textEdited(file->text());
    return d;
  };
  CAudioInsertDlg* d = open();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->windowTitle(), " Sorvane: Insert ");
  EXPECT_EQ(w->icon_name(1192), "ed_ins_no");
  EXPECT_NEAR(d->working().insertion, 3.0, 0.05);
  const double piece = d->working().length;
  ASSERT_NEAR(piece, 5.0, 0.05);
  const double frame = 1152.0 / 44100;

  // Test: inserted, but only tried.
  d->findChild<QPushButton*>("c1378")->click();
  EXPECT_NEAR(p.length(), before + piece, 2 * frame);
  EXPECT_TRUE(w->insert_preview());
  EXPECT_EQ(p.mark_state(), 2);
  // A changed try replaces the first: one insertion, one undo entry.
  auto* offset = d->findChild<QLineEdit*>("c1377");
  offset->setText(QStringLiteral("1"));
  emit offset->textEdited(offset->text());
  ASSERT_NEAR(d->working().length, piece - 1, 1e-9);
  d->findChild<QPushButton*>("c1378")->click();
  EXPECT_NEAR(p.length(), before + piece - 1, 2 * frame);
  EXPECT_EQ(w->edits().undo_history().count(), 1);
  // The same settings again only mark the piece: the undo entry is still
  // the one the try made.
  const EClip* tried = w->edits().undo_history().top()->snapshot.get();
  p.Seek(0);
  d->findChild<QPushButton*>("c1378")->click();
  EXPECT_NEAR(p.length(), before + piece - 1, 2 * frame);
  ASSERT_EQ(w->edits().undo_history().count(), 1);
  EXPECT_EQ(w->edits().undo_history().top()->snapshot.get(), tried);
  EXPECT_EQ(p.mark_state(), 2);
  EXPECT_EQ(p.slider(), p.mark_start());
  EXPECT_NEAR(p.mark_start() * p.length() / 1000, 3.0, 0.05);
  // Close takes the preview back and empties both histories.
  d->findChild<QPushButton*>("c1366")->click();
  EXPECT_EQ(w->insert_dialog(), nullptr);
  EXPECT_EQ(w->icon_name(1192), "ed_ins");
  EXPECT_NEAR(p.length(), before, 1e-9);
  EXPECT_TRUE(w->edits().undo_history().empty());
  EXPECT_TRUE(w->edits().redo_history().empty());

  // Apply: the edit stays after Close; Undo restores the track.
  d = open();
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(QTest::qWaitForWindowActive(d));
  auto* apply = d->findChild<QPushButton*>("c1364");
  apply->setFocus();
  QTest::mouseClick(apply, Qt::LeftButton);
  EXPECT_NEAR(p.length(), before + piece, 2 * frame);
  EXPECT_FALSE(w->insert_preview());
  EXPECT_NEAR(d->findChild<QLineEdit*>("c1374")->text().toDouble(), p.length(), 0.05);
  d->findChild<QPushButton*>("c1366")->click();
  EXPECT_NEAR(p.length(), before + piece, 2 * frame);
  ASSERT_TRUE(w->button(1197)->isEnabled());
  w->button(1197)->click();
  EXPECT_NEAR(p.length(), before, 1e-9);
  EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();

  // Playback's time reaches the open dialog on its timer.
  w->button(1192)->click();
  d = w->insert_dialog();
  ASSERT_NE(d, nullptr);
  p.Seek(500);
  d->on_timer();
  EXPECT_NEAR(d->views().play_position(), 5.0, 0.05);
  // An effect alone, then Remove at the point: each an undo entry.
  ASSERT_TRUE(QTest::qWaitForWindowActive(d));
  auto* starts = d->findChild<QComboBox*>("c1369");
  ASSERT_GE(starts->count(), 2);
  starts->setCurrentIndex(1);
  emit starts->activated(1);
  const int entries = w->edits().undo_history().count();
  apply = d->findChild<QPushButton*>("c1364");
  apply->setFocus();
  QTest::mouseClick(apply, Qt::LeftButton);
  ASSERT_EQ(w->edits().undo_history().count(), entries + 1) << fake.prompter.last_text();
  EXPECT_EQ(w->edits().undo_history().top()->kind, 4);
  d->findChild<QPushButton*>("c1375")->click();
  ASSERT_EQ(w->edits().undo_history().count(), entries + 2) << fake.prompter.last_text();
  EXPECT_EQ(w->edits().undo_history().top()->kind, 1);

  // The window closing with the dialog open takes it along.
  w->close();
}

}  // namespace
