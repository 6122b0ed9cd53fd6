// Playback on a manual clock: catch-up, the end of the range, the stall
// rule, frame periods, the sound fed ahead of the picture, and a real
// thread handing pictures over without touching the window.
#include <cmath>
#include <thread>

#include "player_fixture.h"

namespace {

class PlaybackTest : public PlayerTest {
 protected:
  // A run as the thread makes it, without the thread.
  void begin(int from) {
    go(from);
    view->last_frame = from;
    view->stall_count = 0;
    view->first_step = 1;
    view->begin_run();
  }
  // Moves the editor as a run would see it (a command would end the run).
  void put(int frame) {
    editor->current = frame;
    view->last_frame = frame;
    view->first_step = 0;
  }
};

TEST_F(PlaybackTest, CatchUpAdvancesWholeFramesOfTheLag) {
  // lag = elapsed - (shown time - start - 0.05): frames = floor(25 x lag),
  // but while the first of them is still ahead of its sound (under 2.25
  // frames) it is shown alone and the next step, at once, shows the other.
  struct Case {
    int wait_ms, expected_step, after_next_step;
  };
  const Case cases[] = {{0, 1, 1}, {10, 1, 1}, {30, 1, 2}, {200, 6, 6}, {1000, 26, 26}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.wait_ms);
    make(1000, 25.0);
    begin(10);
    fake.clock.advance(c.wait_ms);
    view->play_step();
    EXPECT_EQ(editor->current - 10, c.expected_step);
    EXPECT_EQ(view->frames_played, c.expected_step);
    view->play_step();
    EXPECT_EQ(editor->current - 10, c.after_next_step);
    view->end_run();
  }
  // Paced: 40 ms later, the next frame (the 50 ms lead kept).
  make(1000, 25.0);
  begin(0);
  view->play_step();
  for (int i = 1; i <= 20; ++i) {
    fake.clock.advance(40);
    view->play_step();
    EXPECT_EQ(editor->current, i + 1);
  }
  // The step asks to wake when the next frame is 46 ms ahead of its sound:
  // frame 22 is heard at 880 ms of the run, the clock stands at 800.
  EXPECT_EQ(view->play_step(), 34);
  view->end_run();
}

TEST_F(PlaybackTest, EndOfRangeStopsUnlessLoopingOrFirstStep) {
  begin(99);
  view->play_step();  // the first step restarts from the range start
  EXPECT_EQ(editor->current, 0);
  EXPECT_EQ(view->playing_forward, 1);
  put(99);
  view->play_forward_request = 1;
  view->play_step();
  EXPECT_EQ(view->playing_forward, 0);
  EXPECT_EQ(editor->current, 99);
  EXPECT_EQ(view->toolbar().bitmap(), 140);
  view->end_run();

  settings.video_looping = 1;
  begin(99);
  view->first_step = 0;
  view->play_step();
  EXPECT_EQ(editor->current, 0);
  EXPECT_EQ(view->playing_forward, 1);
  // Reverse play wraps to the range end.
  view->mode = kModeReverse | kModeNormal | 1;
  put(0);
  view->play_step();
  EXPECT_EQ(editor->current, 99);
  view->end_run();
}

TEST_F(PlaybackTest, PlaySegmentEndsAtMarkOut) {
  set_marks(20, 30, 50);
  view->play_segment = 1;
  begin(29);
  view->first_step = 0;
  fake.clock.advance(40);
  view->play_step();
  EXPECT_EQ(editor->current, 30);
  view->play_step();
  EXPECT_EQ(view->playing_forward, 0);
  EXPECT_EQ(editor->current, 30);
}

// An editor whose last three frames cannot be decoded: steps stay put.
struct TruncatedEditor : FakeEditor {
  using FakeEditor::FakeEditor;
  int forward(int n) override {
    if (current >= frames - 4) return 0;
    return FakeEditor::forward(std::min(n, frames - 4 - current));
  }
  bool is_at_clip_end() override { return false; }
};

TEST_F(PlaybackTest, StallNearTheEndEndsTheRange) {
  view.reset();
  editor = std::make_unique<TruncatedEditor>(100, 64, 48, 25.0);
  view = std::make_unique<CQuarvelPlayerView>(&settings, &host);
  view->attach_editor(editor.get(), 1);
  begin(90);
  view->first_step = 0;
  view->play_forward_request = 1;
  int steps = 0;
  while (view->playing_forward && steps < 100) {
    fake.clock.advance(40);
    view->play_step();
    ++steps;
  }
  EXPECT_EQ(view->playing_forward, 0);
  EXPECT_EQ(editor->current, 96);
  EXPECT_LT(steps, 15);  // 6 frames, then four equal frames
}

TEST_F(PlaybackTest, FramePeriodFollowsTheRate) {
  struct Case {
    double rate;
    int period, rounded;
  };
  const Case cases[] = {{30000.0 / 1001.0, 33, 30}, {25.0, 40, 25}, {50.0, 20, 50}, {24000.0 / 1001.0, 41, 24}};
  for (const auto& c : cases) {
    make(100, c.rate);
    EXPECT_EQ(view->frame_period_ms, c.period);
    EXPECT_EQ(view->rounded_rate, c.rounded);
  }
  editor->rate = 0;
  EXPECT_EQ(view->update_frame_period(), 0);
  EXPECT_EQ(view->frame_period_ms, 41);
  editor->rate = NAN;
  EXPECT_EQ(view->update_frame_period(), 0);
  editor->rate = 25.0;
  EXPECT_EQ(view->update_frame_period(), 1);
  EXPECT_EQ(view->frame_period_ms, 40);
}

class SoundTest : public PlaybackTest {
 protected:
  void SetUp() override {
    make(1000, 25.0);
    editor->audio = true;
    view.reset();
    view = std::make_unique<CQuarvelPlayerView>(&settings, &host);
    view->set_audio_sink_factory([this]() -> std::unique_ptr<AudioSink> {
      auto s = std::make_unique<FakeAudioSink>();
      s->fail_open = no_device;
      sink = s.get();
      return s;
    });
    view->attach_editor(editor.get(), 1);
  }
  FakeAudioSink* sink = nullptr;
  bool no_device = false;
};

TEST_F(SoundTest, FeedsFourBlocksWhenShortElseTwo) {
  ASSERT_TRUE(view->audio_enabled());
  begin(0);
  ASSERT_NE(view->audio(), nullptr);
  EXPECT_EQ(view->audio_started, 1);
  DSAudio* out = view->audio();
  // The start fills the ring: nothing more fits.
  EXPECT_EQ(view->feed_audio(), 0);
  // Play all but a little of it: under 0.1 s queued, four blocks.
  out->get_free_space();
  const int queued_bytes = int(out->bytes_written() - out->bytes_played());
  sink->advance(queued_bytes - 48000 * 4 / 20);
  ASSERT_EQ(out->get_buffer_state(view->block_bytes), 3);
  const int before = view->blocks_written;
  EXPECT_EQ(view->feed_audio(), 4 * 4608);
  EXPECT_EQ(view->blocks_written - before, 4);
  ASSERT_EQ(out->get_buffer_state(view->block_bytes), 0);
  EXPECT_EQ(view->feed_audio(), 2 * 4608);
  view->end_run();
  EXPECT_EQ(view->audio(), nullptr);
}

TEST_F(SoundTest, PacedByWhatWasHeard) {
  begin(0);
  view->play_step();
  const int at = editor->current;
  // The clock runs but nothing was heard: the picture waits for the sound.
  fake.clock.advance(400);
  view->play_step();
  EXPECT_EQ(editor->current, at);
  sink->advance(48000 * 4 * 2 / 5);  // 0.4 s heard
  view->play_step();
  EXPECT_EQ(editor->current, int(25 * (0.4 + 0.05)));
}

TEST_F(SoundTest, ReversePlayIsSilent) {
  view->mode = kModeReverse | kModeNormal | 1;
  begin(500);
  view->first_step = 0;
  for (int i = 0; i < 5; ++i) {
    fake.clock.advance(40);
    sink->advance(4608);
    view->play_step();
  }
  EXPECT_EQ(editor->current, 495);
  EXPECT_EQ(view->audio_started, 0);
  EXPECT_TRUE(sink->played.empty());
}

TEST_F(SoundTest, NoDeviceMeansSilentPlaybackByTheClock) {
  no_device = true;
  begin(0);
  EXPECT_EQ(view->audio(), nullptr);
  fake.clock.advance(400);
  view->play_step();
  EXPECT_EQ(editor->current, int(25 * 0.45));
}

TEST_F(PlayerTest, RealThreadHandsPicturesOverAndStops) {
  make(50, 25.0);
  view->run_command(pcmd::kPlayForward);
  EXPECT_TRUE(view->playback_thread_alive() || view->playback_thread_ended());
  // The manual clock runs as fast as the thread sleeps: the range ends.
  while (!view->playback_thread_ended()) {
    fake.post.drain();
    std::this_thread::yield();
  }
  fake.post.drain();
  EXPECT_EQ(editor->current, 49);
  EXPECT_EQ(view->toolbar().slider_position(), 1000);
  EXPECT_EQ(view->frame_slot().frame(), 49);
  EXPECT_GT(host.frames, 1);
  EXPECT_EQ(view->playing_forward, 0);
  // Started again and stopped by a command.
  view->post_command(kCodeGoto, 0);
  view->run_command(pcmd::kPlayForward);
  view->run_command(pcmd::kPlayForward);
  while (view->command_pending()) {
    while (!view->playback_thread_ended()) std::this_thread::yield();
    view->on_retry_timer();
  }
  EXPECT_EQ(view->playing_forward, 0);
  fake.post.drain();
}

}  // namespace

namespace {

// A painter holding the shown picture keeps it unchanged while the
// playback thread stores the next one.
TEST(FrameSlot, AHeldPictureStaysWhileTheNextIsStored) {
  FakeEditor editor(3, 64, 48, 25.0);
  FrameSlot slot;
  EXPECT_FALSE(slot.latest()->valid);
  slot.store(editor.get_decoded_image_dib_header(), editor.get_decoded_image_dib_data(), 0);
  const std::shared_ptr<const FrameSlot::Picture> held = slot.latest();
  const std::vector<uint8_t> bits = held->bits;
  editor.search(1, 1);
  slot.store(editor.get_decoded_image_dib_header(), editor.get_decoded_image_dib_data(), 1);
  EXPECT_EQ(held->frame, 0);
  EXPECT_EQ(held->bits, bits);
  EXPECT_EQ(slot.frame(), 1);
  EXPECT_NE(slot.latest()->bits, bits);
  slot.clear();
  EXPECT_FALSE(slot.get().valid);
  EXPECT_EQ(slot.frame(), -1);
  EXPECT_EQ(held->frame, 0);
}

}  // namespace
