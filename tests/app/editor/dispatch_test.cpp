// The view's command entry: guards, keys by virtual-key code, the wheel,
// jumps, wraps, play direction rules, the pending command and its retry,
// and the tool bar bitmaps.
#include <atomic>
#include <thread>

#include "player_fixture.h"

namespace {

constexpr int kVkLeft = 0x25, kVkUp = 0x26, kVkRight = 0x27, kVkDown = 0x28, kVkHome = 0x24, kVkEnd = 0x23,
              kVkPrior = 0x21, kVkNext = 0x22;

struct GuardCase {
  const char* name;
  int in, out, id;
  bool acts;
};

TEST_F(PlayerTest, GuardsPostNothingAndChangeNothing) {
  const GuardCase cases[] = {
      {"cut whole movie", 0, 99, pcmd::kCut, false},
      {"cut inside", 10, 19, pcmd::kCut, true},
      {"trim left at 0", 0, 50, pcmd::kTrimLeft, false},
      {"trim left equal marks", 30, 30, pcmd::kTrimLeft, false},
      {"trim left", 30, 50, pcmd::kTrimLeft, true},
      {"trim right at end", 10, 99, pcmd::kTrimRight, false},
      {"trim right", 10, 50, pcmd::kTrimRight, true},
      {"merge equal marks", 40, 40, pcmd::kMerge, false},
      {"merge whole movie", 0, 99, pcmd::kMerge, false},
      {"merge", 10, 50, pcmd::kMerge, true},
      {"paste equal marks", 40, 40, pcmd::kPaste, false},
      {"paste", 40, 49, pcmd::kPaste, true},
      {"copy equal marks", 40, 40, pcmd::kCopy, false},
      {"copy", 40, 49, pcmd::kCopy, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make(100, 25.0);
    set_marks(c.in, c.out, 60);
    editor->calls.clear();
    host.copies.clear();
    EXPECT_TRUE(view->run_command(c.id));
    const bool edited = count_calls("frame_cut") + count_calls("frame_paste") > 0 || !host.copies.empty();
    EXPECT_EQ(edited, c.acts);
    if (!c.acts) {
      EXPECT_EQ(view->total_frames, 100);
      EXPECT_EQ(view->mark_in, c.in);
      EXPECT_EQ(view->mark_out, c.out);
      EXPECT_EQ(view->undo_history().count(), 0);
    }
  }
  EXPECT_EQ(host.copies, (std::vector<std::pair<int, int>>{{40, 10}}));
}

TEST_F(PlayerTest, ReadOnlyViewRefusesEditsAndSnapshots) {
  CQuarvelPlayerView ro(&settings, &host, true);
  ASSERT_EQ(ro.attach_editor(editor.get(), 2), 1);
  ro.mark_in = 10;
  ro.mark_out = 20;
  for (int id : {pcmd::kCut, pcmd::kPaste, pcmd::kCopy, pcmd::kSnapshot, pcmd::kSave})
    EXPECT_FALSE(ro.update_command(id).enabled) << id;
  ro.key_down('X');
  ro.key_down('Y');
  EXPECT_EQ(count_calls("frame_cut"), 0);
  EXPECT_TRUE(fake.dialogs.requests.empty());
  ro.detach_editor();
}

struct JumpCase {
  int format, frames;
  double seconds;
  int percent, total;
  double rate;
  int expected;
};

TEST_F(PlayerTest, JumpDistanceByFormatWithTheTenthCap) {
  const JumpCase cases[] = {
      {0, 150, 0, 0, 100, 25, 10},     {0, 150, 0, 0, 10000, 25, 150}, {1, 0, 10, 0, 10000, 25, 250},
      {1, 0, 10, 0, 1000, 25, 100},    {1, 0, 2.5, 0, 10000, 29.97, 74}, {2, 0, 0, 10, 1000, 25, 100},
      {2, 0, 0, 50, 100, 25, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "format " << c.format << " total " << c.total);
    settings.jump_format = c.format;
    settings.jump_frames = c.frames;
    settings.jump_seconds = c.seconds;
    settings.jump_percent = c.percent;
    make(c.total, c.rate);
    EXPECT_EQ(view->jump_distance(), c.expected);
  }
  // Without an editor the seconds count at 30 frames per second.
  settings.jump_format = 1;
  settings.jump_seconds = 2;
  CQuarvelPlayerView bare(&settings);
  EXPECT_EQ(bare.jump_distance(), 60);
}

struct KeyCase {
  const char* name;
  int from;
  int vk;
  int expected;
};

TEST_F(PlayerTest, KeysLandOnTheirFrames) {
  // Marks 20..40, insert point 70; jumps of 10 frames.
  const KeyCase cases[] = {
      {"L", 10, 'L', 11},          {"H", 10, 'H', 9},           {"Right", 10, kVkRight, 11},
      {"Left", 10, kVkLeft, 9},     {"Home", 50, kVkHome, 0},    {"F", 50, 'F', 0},
      {"End", 50, kVkEnd, 99},      {"E", 50, 'E', 99},          {"Page Up", 50, kVkPrior, 40},
      {"K", 50, 'K', 40},           {"Up near start", 5, kVkUp, 0}, {"Page Down", 50, kVkNext, 60},
      {"J", 50, 'J', 60},           {"Down near end", 95, kVkDown, 99}, {"L wraps at end", 99, 'L', 0},
      {"H wraps at start", 0, 'H', 99}, {"1 goes to insert", 5, '1', 70}, {"2 goes to mark out", 5, '2', 40},
      {"3 goes to mark in", 5, '3', 20}, {"[", 5, 219, 20},           {"]", 5, 221, 40},
      {"backslash", 5, 220, 70},
  };
  settings.jump_frames = 10;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    make(100, 25.0);
    set_marks(20, 40, 70);
    go(c.from);
    view->key_down(c.vk);
    EXPECT_EQ(editor->current, c.expected);
    EXPECT_EQ(view->current_frame, c.expected);
    EXPECT_EQ(view->toolbar().slider_position(), int(c.expected * view->toolbar().scale()));
  }
}

TEST_F(PlayerTest, JumpThatWouldNotMovePostsNothing) {
  go(0);
  editor->calls.clear();
  view->key_down(kVkPrior);
  view->key_down(kVkHome);  // Home always goes
  EXPECT_EQ(count_calls("search"), 1);
}

TEST_F(PlayerTest, PlaySegmentKeepsHomeEndAndWrapsInsideTheMarks) {
  set_marks(20, 40, 70);
  go(30);
  view->key_down('Q');
  EXPECT_EQ(view->play_segment, 1);
  view->key_down('F');
  EXPECT_EQ(editor->current, 20);
  view->key_down('E');
  EXPECT_EQ(editor->current, 40);
  view->key_down('L');  // at the segment's end: back to its start
  EXPECT_EQ(editor->current, 20);
  view->key_down('H');
  EXPECT_EQ(editor->current, 40);
  // Going outside the marks switches it off.
  go(80);
  EXPECT_EQ(view->play_segment, 0);
}

TEST_F(PlayerTest, WheelForwardStepsBackward) {
  go(10);
  view->wheel(120);
  EXPECT_EQ(editor->current, 9);
  EXPECT_EQ(view->last_direction_reverse, 1);
  view->wheel(-120);
  EXPECT_EQ(editor->current, 10);
  EXPECT_EQ(view->last_direction_reverse, 0);
}

TEST_F(PlayerTest, MarkKeysDragTheOtherMarkAlong) {
  set_marks(10, 20, 50);
  go(30);
  view->key_down('I');  // past mark out: mark out keeps the width
  EXPECT_EQ(view->mark_in, 30);
  EXPECT_EQ(view->mark_out, 40);
  go(5);
  view->key_down('O');
  EXPECT_EQ(view->mark_out, 5);
  EXPECT_EQ(view->mark_in, 0);
  go(95);
  view->key_down('I');
  EXPECT_EQ(view->mark_out, 99);  // limited to the last frame
  go(33);
  view->key_down('P');
  EXPECT_EQ(view->insert_point, 33);
  EXPECT_EQ(view->toolbar().mark_in_pos(), int(95 * view->toolbar().scale()));
}

TEST_F(PlayerTest, RemappedKeysAreReadByTheirCommands) {
  // Redo, Trim Left and the go-to keys follow their labels.
  EXPECT_EQ(settings.key(KeyCommand::Redo), 'N');
  EXPECT_EQ(settings.key(KeyCommand::TrimLeft), 'R');
  EXPECT_EQ(settings.key(KeyCommand::GotoInsert), '1');
  EXPECT_EQ(settings.key(KeyCommand::GotoMarkIn), '3');
  settings.set_key(KeyCommand::StepForward, 'Z');
  settings.set_key(KeyCommand::Save, 'L');
  go(10);
  view->key_down('Z');
  EXPECT_EQ(editor->current, 11);
  set_marks(30, 50, 60);
  view->key_down('R');
  EXPECT_EQ(editor->frames, 70);
  view->key_down('U');
  EXPECT_EQ(editor->frames, 100);
  view->key_down('N');
  EXPECT_EQ(editor->frames, 70);
}

TEST_F(PlayerTest, PlayForwardDuringForwardPlayStopsAndTurnsTheDirection) {
  go(50);
  set_marks(10, 20, 60);
  // Forward play as the playback thread leaves the flags (no thread runs).
  view->playing_forward = 1;
  view->key_down('D');
  EXPECT_EQ(view->playing_forward, 0);
  EXPECT_EQ(view->playing_reverse, 0);
  EXPECT_FALSE(view->playback_thread_alive());
  EXPECT_EQ(view->mode & (kModeForward | kModeReverse), kModeReverse);
  EXPECT_EQ(view->toolbar().bitmap(), 140);
  // Play Segment now goes to mark out.
  view->run_command(pcmd::kPlaySegment);
  EXPECT_EQ(editor->current, 20);
}

TEST_F(PlayerTest, SliderSeekDuringPlayStopsAndDoesNotResume) {
  view->playing_forward = 1;
  view->position_changed(50, 0);
  EXPECT_EQ(editor->current, 50);
  EXPECT_EQ(view->playing_forward, 0);
  EXPECT_EQ(view->resume_after, 0);
  EXPECT_FALSE(view->playback_thread_alive());
  // Precision 0 on a short movie still searches exactly; -1 only focuses.
  EXPECT_EQ(editor->calls.back(), "search 50 1");
  view->position_changed(0, -1);
  EXPECT_EQ(host.focus, 1);
  EXPECT_EQ(editor->current, 50);
}

// An editor whose forward steps wait until the test lets them go.
struct GatedEditor : FakeEditor {
  using FakeEditor::FakeEditor;
  std::atomic<bool> gate_open{true}, in_forward{false};
  int forward(int n) override {
    in_forward = true;
    while (!gate_open) std::this_thread::yield();
    in_forward = false;
    return FakeEditor::forward(n);
  }
};

TEST_F(PlayerTest, TheLaterPendingCommandWinsWhenTheThreadEnds) {
  view.reset();
  auto gated = std::make_unique<GatedEditor>(1000, 64, 48, 25.0);
  GatedEditor* g = gated.get();
  editor = std::move(gated);
  view = std::make_unique<CQuarvelPlayerView>(&settings, &host);
  view->attach_editor(g, 1);
  g->gate_open = false;
  view->key_down('D');
  while (!g->in_forward) std::this_thread::yield();
  // Two commands while the step cannot end: neither runs yet.
  view->key_down('L');
  EXPECT_TRUE(view->command_pending());
  EXPECT_TRUE(host.timer_running);
  view->key_down(kVkEnd);
  EXPECT_EQ(view->command(), kCodeGoto);
  EXPECT_EQ(host.timer_starts, 1);
  g->gate_open = true;
  while (!view->playback_thread_ended()) std::this_thread::yield();
  view->on_retry_timer();
  EXPECT_FALSE(view->command_pending());
  EXPECT_FALSE(host.timer_running);
  EXPECT_EQ(g->current, 999);
  EXPECT_EQ(view->current_frame, 999);
  EXPECT_FALSE(view->playback_thread_alive());
}

TEST(PlayerBitmaps, NineStatesAndTheTrimWindow) {
  struct Case {
    bool fwd, rev;
    int mode;
    bool resume;
    int speed, id;
  };
  const Case cases[] = {
      {true, false, 11, false, 0, 141},  {true, false, 11, false, 1, 147},  {true, false, 11, false, 2, 144},
      {false, true, 13, false, 0, 142},  {false, true, 13, false, 1, 148},  {false, true, 13, false, 2, 145},
      {false, false, 11, false, 0, 140}, {false, false, 11, false, 1, 146}, {false, false, 13, false, 2, 143},
      {false, false, 11, true, 0, 141},  {false, false, 13, true, 1, 148},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toolbar_bitmap_id(c.fwd, c.rev, c.mode, c.resume, c.speed, false), c.id);
    EXPECT_EQ(toolbar_bitmap_id(c.fwd, c.rev, c.mode, c.resume, c.speed, true), c.id + 10);
  }
  EXPECT_EQ(toolbar_bitmap_id(true, true, 11, false, 0, false), 0);
}

TEST_F(PlayerTest, SpeedSwitchCyclesModesAndBitmaps) {
  view->key_down('S');
  EXPECT_EQ(view->mode & (kModeNormal | kModeMedium | kModeFast), kModeMedium);
  EXPECT_EQ(editor->play_mode, 4);
  EXPECT_EQ(view->toolbar().bitmap(), 146);
  view->key_down('S');
  EXPECT_EQ(editor->play_mode, 5);
  EXPECT_EQ(view->toolbar().bitmap(), 143);
  view->key_down('S');
  EXPECT_EQ(editor->play_mode, 3);
  EXPECT_EQ(view->toolbar().bitmap(), 140);
}

TEST_F(PlayerTest, UnknownCommandSaysSo) {
  view->post_command(99);
  EXPECT_EQ(fake.prompter.last_text(), "process_command (): unknown command");
  EXPECT_FALSE(view->command_pending());
}

}  // namespace

namespace {

// File Information through the window's port: an edited clip list comes
// back and the marks are carried over by their times.
struct InfoHost : RecordingHost {
  int frames = 0;
  int asked = 0;
  FileInfoTimes seen;
  double new_start = -1;
  bool file_information(const EClip& clip, FileInfoTimes* times, std::unique_ptr<EClip>* edited) override {
    ++asked;
    seen = *times;
    if (new_start >= 0) times->start = new_start;
    if (!frames) return false;
    auto e = std::make_unique<EClip>(clip);
    e->clips[0].count = frames;
    *edited = std::move(e);
    return true;
  }
};

TEST(PlayerFileInformation, EditedListReloadsAndKeepsMarkTimes) {
  FakePlatform fake;
  EditorSettings settings;
  FakeEditor editor(100, 64, 48, 25.0);
  InfoHost host;
  CQuarvelPlayerView view(&settings, &host);
  view.attach_editor(&editor, 1);
  view.mark_in = 10;
  view.mark_out = 30;
  view.insert_point = 20;
  view.post_command(kCodeGoto, 40);
  // Cancelled: nothing changes.
  view.key_down('0');
  EXPECT_EQ(host.asked, 1);
  EXPECT_DOUBLE_EQ(host.seen.start, 10 / 25.0);
  EXPECT_DOUBLE_EQ(host.seen.end, 30 / 25.0);
  EXPECT_DOUBLE_EQ(host.seen.insert, 20 / 25.0);
  EXPECT_DOUBLE_EQ(host.seen.offset, 40 / 25.0);
  EXPECT_EQ(view.total_frames, 100);
  EXPECT_EQ(view.current_frame, 40);
  host.frames = 60;
  view.run_command(pcmd::kFileInformation);
  EXPECT_EQ(editor.frames, 60);
  EXPECT_EQ(view.total_frames, 60);
  EXPECT_EQ(view.current_frame, 0);
  EXPECT_EQ(view.mark_in, 10);
  EXPECT_EQ(view.mark_out, 30);
  EXPECT_EQ(view.insert_point, 20);
  // Marks past the new end are brought inside it.
  view.mark_in = 40;
  view.mark_out = 59;
  host.frames = 20;
  view.run_command(pcmd::kFileInformation);
  EXPECT_EQ(view.total_frames, 20);
  EXPECT_LE(view.mark_in, view.mark_out);
  EXPECT_LE(view.mark_out, 19);
  EXPECT_LE(view.insert_point, 19);
  // A start typed in the window (as frames: frame / rate) comes back on
  // that very frame.
  host.new_start = 7 / 25.0;
  view.mark_in = 2;
  view.mark_out = 15;
  view.run_command(pcmd::kFileInformation);
  EXPECT_EQ(view.mark_in, 7);
  EXPECT_EQ(view.mark_out, 15);
}

}  // namespace
