// Sound and picture in step on the engine: ten seconds of play on a
// manual clock with the sound heard as the clock moves. What was heard is
// ffmpeg's decode of the range; every white strip is shown at most 50 ms
// before its beep is heard and never after; no frame is repeated or
// skipped.
#include <cmath>

#include "app/shell/mpeg_editor_adapter.h"
#include "player_fixture.h"
#include "support.h"

namespace {

constexpr int kBytesPerMs = 48000 * 4 / 1000;

// Luma of the fixture's strip rows (height - 24 .. height - 8) and its frame
// number boxes, read from the frame slot's 24-bit picture.
struct Seen {
  int number = -1;
  bool strip = false;
};

Seen read_slot(const CQuarvelPlayerView& view) {
  const FrameSlot::Picture pic = view.frame_slot().get();
  Seen s;
  if (!pic.valid || pic.header.header.biBitCount != 24) return s;
  const int w = pic.header.header.biWidth, h = std::abs(pic.header.header.biHeight);
  const int stride = bmp_get_bytes_per_line(24, w);
  auto luma = [&](int x, int y) {
    const uint8_t* p = pic.bits.data() + size_t(h - 1 - y) * size_t(stride) + size_t(3 * x);
    return (p[0] + p[1] + p[2]) / 3;
  };
  s.strip = luma(w / 2, h - 16) > 200 && luma(w / 4, h - 16) > 200;
  s.number = 0;
  for (int i = 0; i < 16; ++i)
    if (luma(16 + 20 * i + 8, 48) > 170) s.number |= 1 << i;
  return s;
}

TEST(PlaybackSync, PictureLeadsItsSoundByAtMost50Ms) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  if (!tsupport::have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  FakePlatform fake;
  EditorSettings settings;
  const std::string movie = tsupport::fixture("ui.mpg");
  std::unique_ptr<IEditor> editor = MpegEditorAdapter::open(movie, 0);
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->has_audio());
  editor->set_bmp_depth(24);
  FakeAudioSink* sink = nullptr;
  CQuarvelPlayerView view(&settings);
  view.set_audio_sink_factory([&]() -> std::unique_ptr<AudioSink> {
    auto s = std::make_unique<FakeAudioSink>();
    sink = s.get();
    return s;
  });
  ASSERT_EQ(view.attach_editor(editor.get(), 1), 1);
  ASSERT_EQ(view.sample_rate, 48000);
  view.begin_run();
  ASSERT_NE(sink, nullptr);
  ASSERT_EQ(view.audio_started, 1);

  std::vector<std::pair<int64_t, Seen>> shown;  // clock time, picture
  for (int step = 0; step < 240 && view.playing_forward; ++step) {
    view.play_step();
    shown.emplace_back(fake.clock.now.load(), read_slot(view));
    fake.clock.advance(40);
    sink->advance(40 * kBytesPerMs);
  }
  // What was heard (the sink goes with the run).
  const std::vector<uint8_t> heard = sink->played;
  view.end_run();
  ASSERT_EQ(shown.size(), 240u);

  // Every step shows the next frame.
  for (size_t i = 0; i < shown.size(); ++i) ASSERT_EQ(shown[i].second.number, int(i) + 1) << "step " << i;

  // ffmpeg's decode of the movie's sound.
  const std::string raw = tsupport::test_dir() + "/ref.raw";
  ASSERT_EQ(tsupport::run("ffmpeg -v error -y -i " + tsupport::sh_quote(movie) +
                          " -vn -f s16le -ac 2 -ar 48000 " + tsupport::sh_quote(raw)),
            0);
  const std::vector<uint8_t> ref = tsupport::read_file(raw);
  auto left = [](const std::vector<uint8_t>& pcm, size_t i) { return int16_t(pcm[4 * i] | pcm[4 * i + 1] << 8); };
  // Where the beeps start (ms from the first sample).
  auto onsets = [&](const std::vector<uint8_t>& pcm) {
    std::vector<double> out;
    size_t quiet = 0;
    for (size_t i = 0; i + 1 < pcm.size() / 4; ++i) {
      if (std::abs(left(pcm, i)) > 3000) {
        if (quiet > 480) out.push_back(double(i) / 48.0);
        quiet = 0;
      } else {
        ++quiet;
      }
    }
    return out;
  };
  auto nearest = [](const std::vector<double>& list, double t) {
    double best = 1e9;
    for (double o : list)
      if (std::fabs(o - t) < std::fabs(best - t)) best = o;
    return best;
  };
  const std::vector<double> heard_onsets = onsets(heard), ref_onsets = onsets(ref);
  // The audio codec's own delay puts every decoded beep a little after its
  // frame's time (about 10 ms, the same in ffmpeg's decode): a beep is due
  // when the stream's timing says, which is where ffmpeg hears it less
  // that delay.
  ASSERT_FALSE(ref_onsets.empty());
  const double codec_delay = ref_onsets[0] - 0.0;
  ASSERT_LT(codec_delay, 30.0);
  // The player starts the sound at the picture's time stamp: a stream
  // stamped before its video is heard that much later into its decode.
  auto start_of = [&](const char* stream) {
    std::string out;
    EXPECT_EQ(tsupport::run(std::string("ffprobe -v error -select_streams ") + stream +
                                " -show_entries stream=start_time -of csv=p=0 " + tsupport::sh_quote(movie),
                            &out),
              0);
    return std::atof(out.c_str()) * 1000.0;
  };
  const double shift = start_of("a:0") - start_of("v:0");
  int strips = 0;
  for (const auto& [t, seen] : shown) {
    if (!seen.strip) continue;
    ++strips;
    const double due = seen.number / 25.0 * 1000.0;
    const double in_ref = nearest(ref_onsets, due + codec_delay);
    const double heard_at = nearest(heard_onsets, in_ref + shift);
    ASSERT_LT(std::fabs(heard_at - (in_ref + shift)), 1.0) << "frame " << seen.number;
    const double beep = heard_at - (codec_delay + shift);
    EXPECT_LE(double(t), beep) << "frame " << seen.number << " shown after its beep";
    EXPECT_LE(beep - double(t), 50.0) << "frame " << seen.number;
  }
  EXPECT_GE(strips, 9);

  // What was heard is the decoded range.
  const size_t n = std::min(heard.size(), ref.size()) / 4 - 2400;
  double best = 0;
  for (int lag = -1200; lag <= 1200; lag += 1) {
    double xy = 0, xx = 0, yy = 0;
    for (size_t i = 1200; i < n; i += 3) {
      const double a = left(heard, i), b = left(ref, size_t(int64_t(i) + lag));
      xy += a * b;
      xx += a * a;
      yy += b * b;
    }
    if (xx > 0 && yy > 0) best = std::max(best, xy / std::sqrt(xx * yy));
  }
  EXPECT_GE(best, 0.99);
  view.detach_editor();
}

}  // namespace
