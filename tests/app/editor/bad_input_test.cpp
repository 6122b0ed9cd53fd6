// Damaged movies in the player: a truncated last GOP stops End and
// playback at the last frame that decodes, and never spins; flipped bits
// in the pictures are concealed and playback goes on to the end.
#include "app/shell/mpeg_editor_adapter.h"
#include "player_fixture.h"
#include "support.h"

namespace {

TEST(PlayerBadInput, TruncatedMovieEndsAtItsLastDecodableFrame) {
  TSUPPORT_NEED_FIXTURES("ui_truncated.mpg");
  FakePlatform fake;
  EditorSettings settings;
  std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(tsupport::fixture("ui_truncated.mpg"), 0);
  if (!editor) GTEST_SKIP() << "the engine refuses the truncated movie";
  editor->set_bmp_depth(24);
  CQuarvelPlayerView view(&settings);
  ASSERT_EQ(view.attach_editor(editor.get(), 1), 1);
  const int total = view.total_frames;
  view.key_down(0x23);  // End
  const int last = view.current_frame;
  EXPECT_EQ(last, editor->get_curr_frame_offset());
  EXPECT_LE(last, total - 1);
  EXPECT_TRUE(view.frame_slot().get().valid);
  // Play from a little before it: the range ends (the stall rule at worst)
  // within a bounded number of steps.
  view.post_command(kCodeGoto, std::max(0, last - 20));
  view.begin_run();
  view.first_step = 0;
  view.last_frame = view.current_frame.load();
  view.play_forward_request = 1;
  int steps = 0;
  while (view.playing_forward && steps < 200) {
    fake.clock.advance(40);
    view.play_step();
    ++steps;
  }
  view.end_run();
  EXPECT_EQ(view.playing_forward, 0);
  EXPECT_LT(steps, 60);
  EXPECT_GE(view.current_frame, last - 3);
  view.detach_editor();
}

TEST(PlayerBadInput, DamagedPicturesPlayThroughToTheEnd) {
  TSUPPORT_NEED_FIXTURES("ui_flipped.mpg");
  FakePlatform fake;
  EditorSettings settings;
  std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(tsupport::fixture("ui_flipped.mpg"), 0);
  ASSERT_NE(editor, nullptr);
  editor->set_bmp_depth(24);
  CQuarvelPlayerView view(&settings);
  ASSERT_EQ(view.attach_editor(editor.get(), 1), 1);
  const int total = view.total_frames;
  ASSERT_GT(total, 200);
  view.begin_run();
  view.first_step = 0;
  view.play_forward_request = 1;
  int steps = 0, before = view.current_frame;
  while (view.playing_forward && steps < 2 * total) {
    view.play_step();
    fake.clock.advance(40);
    ++steps;
    // One frame a step: none skipped, none stuck.
    ASSERT_EQ(view.current_frame - before, view.playing_forward ? 1 : 0) << "step " << steps;
    before = view.current_frame;
    ASSERT_TRUE(view.frame_slot().get().valid);
  }
  view.end_run();
  EXPECT_EQ(view.playing_forward, 0);
  EXPECT_GE(view.current_frame, total - 4);
  EXPECT_LT(steps, total + 10);
  view.detach_editor();
}

}  // namespace
