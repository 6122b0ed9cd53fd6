// Playback on its own thread against a clock whose sleeps now and then run
// long (a loaded machine) and an editor whose decoding takes time: every
// frame of the range is shown once, in order, at 25, 29.97 and 23.976 fps,
// forward (with and without sound) and backward; forward pictures come
// before their sound is due and at most 50 ms ahead of it.
#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>

#include "platform/paced_wav_sink.h"
#include "player_fixture.h"
#include "support.h"

namespace {

// Sleeps late by a few milliseconds, and every seventh by 35.
class LateClock : public FakeClock {
 public:
  void sleep_ms(int ms) override {
    if (ms <= 0) return;
    const int n = ++sleeps_;
    FakeClock::sleep_ms(ms + (n % 7 == 0 ? 35 : n * 7 % 4));
  }

 private:
  std::atomic<int> sleeps_{0};
};

// Decoding a frame costs 6 ms of the clock; each picture taken for the
// window is recorded with the time it was taken.
struct TimedEditor : FakeEditor {
  TimedEditor(int count, double fps, Clock* c) : FakeEditor(count, 64, 48, fps), clock(c) {}
  int forward(int n) override {
    clock->sleep_ms(6);
    return FakeEditor::forward(n);
  }
  int backward() override {
    clock->sleep_ms(6);
    return FakeEditor::backward();
  }
  const uint8_t* get_decoded_image_dib_data() override {
    std::lock_guard<std::mutex> g(lock);
    shown.emplace_back(clock->now_ms(), current);
    return FakeEditor::get_decoded_image_dib_data();
  }
  size_t shown_count() {
    std::lock_guard<std::mutex> g(lock);
    return shown.size();
  }
  Clock* clock;
  std::mutex lock;
  std::vector<std::pair<int64_t, int>> shown;  // clock time, frame
};

TEST(PlaybackPacing, EveryFrameShownOnceInOrder) {
  struct Case {
    double rate;
    bool forward, sound;
  };
  const Case cases[] = {
      {25.0, true, false},          {30000.0 / 1001.0, true, false}, {24000.0 / 1001.0, true, false},
      {25.0, true, true},           {30000.0 / 1001.0, true, true},  {25.0, false, false},
      {30000.0 / 1001.0, false, false}, {24000.0 / 1001.0, false, false},
  };
  constexpr int kFrames = 200;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rate << (c.forward ? " forward" : " backward") << (c.sound ? " sound" : ""));
    FakePlatform fake;
    LateClock clock;
    platform().clock = &clock;
    EditorSettings settings;
    TimedEditor editor(kFrames, c.rate, &clock);
    editor.audio = c.sound;
    CQuarvelPlayerView view(&settings);
    const std::string wav = tsupport::test_dir() + "/paced.wav";
    view.set_audio_sink_factory([&]() -> std::unique_ptr<AudioSink> { return std::make_unique<PacedWavSink>(wav, &clock); });
    ASSERT_EQ(view.attach_editor(&editor, 1), 1);
    view.post_command(kCodeGoto, c.forward ? 0 : kFrames - 1);
    editor.shown.clear();
    view.run_command(c.forward ? pcmd::kPlayForward : pcmd::kReversePlay);
    while (!view.playback_thread_ended()) {
      fake.post.drain();
      std::this_thread::yield();
    }
    fake.post.drain();
    EXPECT_EQ(view.playing_forward + view.playing_reverse, 0);

    // The range end is drawn again as playback stops.
    auto shown = editor.shown;
    ASSERT_GE(shown.size(), 2u);
    if (shown[shown.size() - 1].second == shown[shown.size() - 2].second) shown.pop_back();
    ASSERT_EQ(shown.size(), size_t(kFrames - 1));
    for (size_t i = 0; i < shown.size(); ++i) {
      const int expected = c.forward ? int(i) + 1 : kFrames - 2 - int(i);
      ASSERT_EQ(shown[i].second, expected) << "picture " << i;
    }
    if (c.forward) {
      // Frame k is heard k frames after the start.
      for (const auto& [ms, frame] : shown) {
        const double due = double(view.start_time) + frame * 1000.0 / c.rate;
        EXPECT_LE(double(ms), due) << "frame " << frame << " after its time";
        EXPECT_LE(due - double(ms), 50.0) << "frame " << frame;
      }
    } else {
      // One frame a frame period, without drift.
      const double took = double(shown.back().first - shown.front().first);
      EXPECT_NEAR(took, (kFrames - 2) * 1000.0 / c.rate, 40.0);
    }
    view.detach_editor();
  }
}

// Looping: the range's end wraps to its start, and the frames after the
// wrap come one by one as well.
TEST(PlaybackPacing, LoopingWrapsWithoutSkipping) {
  for (const bool sound : {false, true}) {
    SCOPED_TRACE(sound ? "sound" : "silent");
    FakePlatform fake;
    LateClock clock;
    platform().clock = &clock;
    EditorSettings settings;
    settings.video_looping = 1;
    TimedEditor editor(60, 25.0, &clock);
    editor.audio = sound;
    CQuarvelPlayerView view(&settings);
    const std::string wav = tsupport::test_dir() + "/looped.wav";
    view.set_audio_sink_factory([&]() -> std::unique_ptr<AudioSink> { return std::make_unique<PacedWavSink>(wav, &clock); });
    ASSERT_EQ(view.attach_editor(&editor, 1), 1);
    view.post_command(kCodeGoto, 0);
    editor.shown.clear();
    view.run_command(pcmd::kPlayForward);
    while (editor.shown_count() < 150) {
      fake.post.drain();
      std::this_thread::yield();
    }
    view.run_command(pcmd::kPlayForward);  // stops
    while (view.command_pending()) view.on_retry_timer();
    fake.post.drain();
    ASSERT_TRUE(view.playback_thread_ended());
    int wraps = 0;
    for (size_t i = 1; i < editor.shown.size(); ++i) {
      const int before = editor.shown[i - 1].second, now = editor.shown[i].second;
      if (now == 0 && before == 59) {
        ++wraps;
        continue;
      }
      // The stop draws the frame it stopped on again.
      if (i + 1 == editor.shown.size() && now == before) continue;
      ASSERT_EQ(now, before + 1) << "picture " << i;
    }
    EXPECT_GE(wraps, 2);
    view.detach_editor();
  }
}

}  // namespace
