#include "app/audio/audio_edit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "app/shell/save_progress.h"
#include "tests/app/audio/fake_track.h"

namespace {

struct EditTest : ::testing::Test {
  FakePlatform fake;
  FakeFiles files;
  std::unique_ptr<AudioPlayer> player;
  std::unique_ptr<AudioEditCommands> ed;

  void open(double length) {
    FakeTrackSpec spec;
    spec.length = length;
    files.files["/m/a.mp2"] = spec;
    player = std::make_unique<AudioPlayer>(files.deps(&fake.clock));
    player->OpenTrack("/m/a.mp2");
    ASSERT_TRUE(player->has_track());
    player->StopPlay();
    ASSERT_TRUE(player->EnterEditor());
    ed = std::make_unique<AudioEditCommands>(player.get());
  }
  FakeTrack& track() { return *static_cast<FakeTrack*>(player->track()); }
  // Marks s < e set as the user does: Mark-In at s, Mark-Out at e.
  void mark(int s, int e) {
    player->Seek(s);
    ed->MarkIn();
    player->Seek(e);
    ed->MarkOut();
    ASSERT_EQ(player->mark_start(), s);
    ASSERT_EQ(player->mark_end(), e);
  }
};

TEST_F(EditTest, MaskFollowsWhatACutWouldLeave) {
  open(10.0);  // a slider unit is 10 ms
  struct Case {
    int s, e, mask;
  } cases[] = {
      {0, 1000, 0},
      {100, 200, kMaskCut | kMaskCutLeft | kMaskCutRight},
      {0, 850, kMaskCutRight},                // a cut would leave 1.49 s
      {850, 1000, kMaskCut},                  // a left cut would leave 1.5 s
      {100, 150, kMaskCut | kMaskCutLeft},    // a right cut would leave 1.5 s
      {1, 898, kMaskCutLeft | kMaskCutRight},  // a cut would leave 1.02 s
  };
  for (const Case& c : cases) {
    ed->ClearHistories();
    player->Seek(0);
    ed->MarkIn();
    player->Seek(1000);
    ed->MarkOut();
    if (c.s > 0 || c.e < 1000) {
      player->Seek(c.s);
      ed->MarkIn();
      player->Seek(c.e);
      ed->MarkOut();
    }
    ASSERT_EQ(player->mark_start(), c.s);
    ASSERT_EQ(player->mark_end(), c.e);
    EXPECT_EQ(ed->UpdateMask(), c.mask) << c.s << ".." << c.e;
  }
  // The whole track: the cut is refused and nothing changes.
  player->Seek(0);
  ed->MarkIn();
  EXPECT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 0);
  EXPECT_NEAR(player->length(), 10.0, 1e-9);
  EXPECT_TRUE(track().cuts.empty());
  EXPECT_TRUE(ed->undo_history().empty());
}

TEST_F(EditTest, MarkInAndOutMoveTheSegment) {
  open(10.0);
  struct Case {
    int s, e;
    bool in;
    int p, s2, e2;
  } cases[] = {
      {300, 500, true, 700, 700, 900},    // past the end: moves, keeping its length
      {300, 500, true, 900, 900, 1000},   // ... clamped at the track's end
      {300, 500, true, 400, 400, 500},
      {300, 500, false, 100, 0, 100},     // before the start: moves back, at least 0
      {300, 500, false, 250, 50, 250},
      {300, 500, false, 450, 300, 450},
  };
  for (const Case& c : cases) {
    mark(c.s, c.e);
    player->Seek(c.p);
    // Marks stay when the slider leaves the segment in the editor.
    ASSERT_EQ(player->mark_start(), c.s);
    c.in ? ed->MarkIn() : ed->MarkOut();
    EXPECT_EQ(player->mark_start(), c.s2) << c.s << " " << c.e << " " << c.p;
    EXPECT_EQ(player->mark_end(), c.e2) << c.s << " " << c.e << " " << c.p;
  }
  // Segment play follows the length: on at 3 s, off under 2 s.
  mark(300, 600);
  EXPECT_EQ(player->mark_state(), 2);
  mark(300, 450);
  EXPECT_EQ(player->mark_state(), 0);
  // Collapsed marks (after a cut): Mark-In past them takes the old end as
  // the start.
  mark(100, 200);
  player->Seek(150);
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 1);
  const int at = player->mark_start();
  ASSERT_EQ(player->mark_end(), at);
  player->Seek(at + 300);
  ed->MarkIn();
  EXPECT_EQ(player->mark_start(), at);
  EXPECT_EQ(player->mark_end(), at + 300);
  EXPECT_EQ(player->mark_state(), 2);
}

TEST_F(EditTest, CutOfASegmentAndItsUndoAndRedo) {
  open(10.0);
  mark(100, 200);
  player->Seek(150);
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 1);
  ASSERT_EQ(track().cuts.size(), 1u);
  EXPECT_NEAR(track().cuts[0].first, 1.0, 1e-9);
  EXPECT_NEAR(track().cuts[0].second, 1.01, 1e-9);
  EXPECT_NEAR(player->length(), 8.99, 1e-9);
  // The marks collapse at the cut, segment play ends, the slider sits there.
  EXPECT_EQ(player->mark_start(), player->mark_end());
  EXPECT_EQ(player->mark_start(), int(1.0 / 0.00899));
  EXPECT_EQ(player->mark_state(), 0);
  EXPECT_EQ(player->slider(), int(100 * 0.01 / 0.00899));
  EXPECT_EQ(ed->mask() & (kMaskUndo | kMaskRedo), kMaskUndo);
  ASSERT_NE(ed->undo_history().top(), nullptr);
  EXPECT_EQ(ed->undo_history().top()->kind, kEditCut);

  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  EXPECT_NEAR(player->length(), 10.0, 1e-9);
  EXPECT_EQ(player->mark_start(), 100);
  EXPECT_EQ(player->mark_end(), 200);
  EXPECT_EQ(player->slider(), 150);
  EXPECT_EQ(ed->mask() & (kMaskUndo | kMaskRedo), kMaskRedo);
  ASSERT_NE(ed->redo_history().top(), nullptr);
  EXPECT_EQ(ed->redo_history().top()->kind, kEditState);

  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioRedo), 1);
  EXPECT_NEAR(player->length(), 8.99, 1e-9);
  EXPECT_EQ(player->mark_start(), player->mark_end());
  EXPECT_EQ(ed->mask() & (kMaskUndo | kMaskRedo), kMaskUndo);
  EXPECT_EQ(ed->undo_history().top()->kind, kEditState);

  // Undo, then a new edit: Redo is gone.
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  mark(300, 500);
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCut), 1);
  EXPECT_TRUE(ed->redo_history().empty());
  EXPECT_EQ(ed->mask() & kMaskRedo, 0);
  // An empty history does nothing.
  ed->ClearHistories();
  const double len = player->length();
  EXPECT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 0);
  EXPECT_EQ(player->length(), len);
}

TEST_F(EditTest, LeftAndRightCutsPlaceMarksAndSlider) {
  open(10.0);
  mark(300, 500);
  player->Seek(400);
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCutLeft), 1);
  EXPECT_NEAR(track().cuts.back().first, 0.0, 1e-9);
  EXPECT_NEAR(track().cuts.back().second, 2.99, 1e-9);
  const double unit = 7.01 / 1000;
  EXPECT_EQ(player->mark_start(), 0);
  EXPECT_EQ(player->mark_end(), int(2.01 / unit));
  EXPECT_EQ(player->slider(), int(1.0 / unit));
  EXPECT_EQ(player->mark_state(), 2);

  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  mark(300, 500);
  player->Seek(800);  // past the segment: the slider lands at its end
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioCutRight), 1);
  EXPECT_NEAR(track().cuts.back().first, 5.0, 1e-9);
  EXPECT_NEAR(track().cuts.back().second, 5.0, 1e-9);
  EXPECT_NEAR(player->mark_start(), 600, 1);
  EXPECT_EQ(player->mark_end(), 1000);
  EXPECT_NEAR(player->slider(), 1000, 1);
}

TEST_F(EditTest, HistoryKeepsTheLastSixteenEdits) {
  open(10.0);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(ed->CutRange(0.0, 0.25), 1);
  EXPECT_NEAR(player->length(), 5.0, 1e-9);
  EXPECT_EQ(ed->undo_history().count(), AudioEditCommands::kHistoryDepth);
  for (int i = 0; i < AudioEditCommands::kHistoryDepth; ++i) ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 1);
  EXPECT_EQ(ed->ExecuteAudioEditCommand(kAudioUndo), 0);
  EXPECT_NEAR(player->length(), 9.0, 1e-9);
}

TEST_F(EditTest, RefusedCutsAndUnknownCommands) {
  open(10.0);
  // A range past the end or leaving under 2 s changes nothing.
  EXPECT_EQ(ed->CutRange(10.0, 1.0), 0);
  EXPECT_EQ(ed->CutRange(1.0, 8.5), 0);
  EXPECT_TRUE(track().cuts.empty());
  // Past the rounded length: cut to the end.
  EXPECT_EQ(ed->CutRange(7.0, 9.0), 1);
  EXPECT_NEAR(track().cuts.back().second, 3.0, 1e-9);
  EXPECT_EQ(ed->ExecuteAudioEditCommand(3), 0);
  EXPECT_EQ(fake.prompter.last_text(), "Unknown audio editing command: 3");
  EXPECT_NEAR(player->length(), 7.0, 1e-9);
}

TEST_F(EditTest, EffectRemovalAtTheInsertionPoint) {
  open(10.0);
  ed->insert_point = 4.5;
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioRemoveEffects), 1);
  EXPECT_EQ(track().removed_at, std::vector<double>{4.5});
  EXPECT_EQ(ed->undo_history().count(), 1);
  track().effects_removable = false;
  EXPECT_EQ(ed->ExecuteAudioEditCommand(kAudioRemoveEffects), 0);
  EXPECT_EQ(ed->undo_history().count(), 1);
}

// ---- the save job

struct SaveJobTest : EditTest {
  std::atomic<bool> release{false};
  // A writer that reports 40 % and then waits to be released or stopped.
  void gate_writer() {
    track().save_work = [this](JobControl& c) -> std::function<int()> {
      return [this, &c] {
        c.set_progress(40.0);
        while (!release.load()) {
          if (c.checkpoint()) {
            c.finish(JobOutcome::stopped, kRecordCancelled);
            return int(kRecordCancelled);
          }
          std::this_thread::yield();
        }
        c.set_progress(100.0);
        c.finish(JobOutcome::done, kRecordOk);
        return int(kRecordOk);
      };
    };
  }
  void request(const std::string& file) {
    ed->PrepareSaveSettings("/m/");
    AudioSaveSettings& s = ed->save_settings();
    s.file_name = file;
    s.start = 1.0;
    s.length = 2.5;
    s.layer = 1;
    s.sample_rate = 32000;
    s.channels = 1;
    s.bit_rate = 128000;
  }
  void wait_returned() {
    while (ed->job().status() < 40) std::this_thread::yield();
  }
};

TEST_F(SaveJobTest, JobRunsOnItsOwnSettingsAndEndsAtItsJoin) {
  open(10.0);
  gate_writer();
  int ended = 0;
  ed->on_save_ended = [&] { ++ended; };
  request("/tmp/out.mp2");
  ASSERT_EQ(ed->ExecuteAudioEditCommand(kAudioSave), 1);
  ASSERT_EQ(track().saves.size(), 1u);
  const FakeTrack::Save& sv = track().saves[0];
  EXPECT_EQ(sv.file, "/tmp/out.mp2");
  EXPECT_EQ(sv.settings.layer, 1);
  EXPECT_EQ(sv.settings.sample_rate, 32000);
  EXPECT_EQ(sv.settings.channels, 1);
  EXPECT_EQ(sv.settings.bit_rate, 128000);
  EXPECT_EQ(sv.start, 1.0);
  EXPECT_EQ(sv.length, 2.5);
  EXPECT_TRUE(ed->save_running());
  // The output is in use while the job runs.
  EXPECT_TRUE(fake.file_use.in_use("/tmp/out.mp2"));
  // A second save is refused while the first one exists.
  request("/tmp/other.mp2");
  EXPECT_EQ(ed->StartSave(), 0);
  wait_returned();
  ed->SaveTick();
  ASSERT_NE(ed->job().progress(), nullptr);
  EXPECT_EQ(ed->job().progress()->percent, 40);
  EXPECT_EQ(ed->job().progress()->pausable, 0);
  EXPECT_EQ(ended, 0);
  release = true;
  while (ed->save_running()) ed->SaveTick();
  EXPECT_EQ(ended, 1);
  EXPECT_FALSE(fake.file_use.in_use("/tmp/out.mp2"));
  EXPECT_TRUE(fake.prompter.shown.empty());
  // Joined: the next save may start.
  request("/tmp/other.mp2");
  release = true;
  EXPECT_EQ(ed->StartSave(), 1);
  while (ed->save_running()) ed->SaveTick();
}

TEST_F(SaveJobTest, StopNoKeepsStopYesDeletesAndEachSaysSo) {
  open(10.0);
  for (PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes}) {
    gate_writer();
    fake.prompter.shown.clear();
    request("/tmp/out.mp2");
    ASSERT_EQ(ed->StartSave(), 1);
    wait_returned();
    fake.prompter.answers.push_back(answer);
    ed->job().progress()->on_stop();
    EXPECT_EQ(ed->job().control().command(),
              answer == PromptAnswer::No ? JobCommand::stop_keep : JobCommand::stop_delete);
    while (ed->save_running()) ed->SaveTick();
    EXPECT_EQ(fake.prompter.last_text(), "</tmp/out.mp2>: the audio save was stopped");
  }
}

TEST_F(SaveJobTest, FailureIsReportedAndClosingStopsAndJoins) {
  open(10.0);
  // The track's default: nothing to save.
  request("/tmp/out.mp2");
  EXPECT_EQ(ed->StartSave(), 0);
  EXPECT_NE(fake.prompter.last_text().find("the audio save failed"), std::string::npos);
  EXPECT_FALSE(ed->save_running());

  gate_writer();
  request("/tmp/out.mp2");
  ASSERT_EQ(ed->StartSave(), 1);
  wait_returned();
  fake.prompter.answers.push_back(PromptAnswer::No);
  EXPECT_FALSE(ed->ConfirmCloseDuringSave());
  EXPECT_TRUE(ed->save_running());
  fake.prompter.answers.push_back(PromptAnswer::Yes);
  EXPECT_TRUE(ed->ConfirmCloseDuringSave());
  EXPECT_FALSE(ed->save_running());
  EXPECT_EQ(fake.prompter.shown.back().text, kAudioSaveRunningQuestion);
}

TEST_F(SaveJobTest, ProjectFormatWritesAtOnce) {
  open(10.0);
  const std::string out = testing::TempDir() + "edit_project.qme";
  request(out);
  ed->save_settings().format = 0;
  ASSERT_NE(ed->save_settings().clips, nullptr);
  EXPECT_EQ(ed->StartSave(), 1);
  EXPECT_FALSE(ed->save_running());
  EXPECT_TRUE(std::filesystem::exists(out));
  EXPECT_EQ(player->folders.save, testing::TempDir());
  std::filesystem::remove(out);
}

}  // namespace

namespace {

TEST_F(EditTest, EffectAloneRefusalsAndRoom) {
  open(10.0);
  struct Case {
    int start_op;
    double start_length;
    int end_op;
    double end_length, point;
    const char* message;  // null: applied
    int op;
    double length, piece_start;
  } cases[] = {
      {0, 0, 0, 0, 5, "No proper insert operator selected", 0, 0, 0},
      {1, 0, 0, 0, 5, "Zero insert length", 0, 0, 0},
      {99, 2, 0, 0, 5, "Selected operator not found", 0, 0, 0},
      {1, 2, 0, 0, 10, "No proper insertion point selected", 0, 0, 0},
      {1, 5, 0, 0, 8, nullptr, 1, 2, 8},    // one-track fade: the room after the point
      {3, 5, 0, 0, 3, nullptr, 3, 3, 0},    // between two: also the room before it
      {0, 0, 2, 1.5, 4, nullptr, 2, 1.5, 4},  // the end operator serves as the start
  };
  for (const Case& c : cases) {
    int so = c.start_op, eo = c.end_op;
    double sl = c.start_length, el = c.end_length;
    fake.prompter.shown.clear();
    track().effects.clear();
    AudioInsertOutcome o = ApplyAudioInsertOperator(track(), "", 0, 0, c.point, 10.0, &so, &sl, &eo, &el);
    if (c.message) {
      EXPECT_EQ(o.kind, 0) << c.message;
      EXPECT_EQ(fake.prompter.last_text(), c.message);
      EXPECT_TRUE(track().effects.empty());
      continue;
    }
    EXPECT_TRUE(fake.prompter.shown.empty()) << fake.prompter.last_text();
    ASSERT_EQ(o.kind, 4);
    ASSERT_EQ(track().effects.size(), 1u);
    EXPECT_EQ(track().effects[0].op, c.op);
    EXPECT_EQ(track().effects[0].length, c.length);
    EXPECT_EQ(track().effects[0].start, c.point);
    EXPECT_EQ(o.piece_start, c.piece_start);
  }
  // The applied effect is an undo entry with its piece marked and played.
  int so = 1, eo = 0;
  double sl = 2, el = 0;
  ASSERT_EQ(ed->CommitInsert(ApplyAudioInsertOperator(track(), "", 0, 0, 6, 10.0, &so, &sl, &eo, &el)), 1);
  EXPECT_EQ(player->mark_start(), 600);
  EXPECT_EQ(player->mark_end(), 800);
  EXPECT_EQ(player->mark_state(), 2);
  EXPECT_EQ(player->slider(), 600);
  EXPECT_EQ(ed->undo_history().top()->kind, kEditEffects);
  EXPECT_EQ(ed->CommitInsert(AudioInsertOutcome()), 0);
}

}  // namespace
