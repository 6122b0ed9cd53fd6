// What the window plays, through the real engine into the WAVE-file sink,
// against ffmpeg's decode of the same stream.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/wav_sink.h"
#include "support.h"
#include "tests/app/audio/fake_track.h"

namespace {

using tsupport::fixture;

std::vector<int16_t> wav_samples(const std::string& path) {
  const std::vector<uint8_t> b = tsupport::read_file(path);
  size_t at = 12;
  while (at + 8 <= b.size()) {
    const uint32_t size = b[at + 4] | b[at + 5] << 8 | b[at + 6] << 16 | uint32_t(b[at + 7]) << 24;
    if (std::equal(b.begin() + long(at), b.begin() + long(at) + 4, "data")) {
      std::vector<int16_t> v((std::min<size_t>(size, b.size() - at - 8)) / 2);
      for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[at + 8 + 2 * i] | b[at + 9 + 2 * i] << 8);
      return v;
    }
    at += 8 + size + (size & 1);
  }
  return {};
}

std::vector<int16_t> ffmpeg_decode(const std::string& file, int stream, double from = 0.0) {
  const std::string out = tsupport::test_dir() + "/ref.raw";
  char ss[32];
  std::snprintf(ss, sizeof ss, "%.3f", from);
  const int rc = tsupport::run("ffmpeg -nostdin -loglevel error -y -i " + tsupport::sh_quote(file) + " -ss " + ss +
                               " -map 0:a:" + std::to_string(stream) + " -ac 2 -f s16le " + tsupport::sh_quote(out));
  EXPECT_EQ(rc, 0);
  const std::vector<uint8_t> b = tsupport::read_file(out);
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
  return v;
}

struct Match {
  double correlation = 0, rms_db = 0;
};

// Normalised correlation of got against ref at the best lag (stereo
// frames, either way up to 1200), and the level difference in dB.
Match compare(const std::vector<int16_t>& ref, const std::vector<int16_t>& got, size_t frames) {
  Match best;
  best.correlation = -2;
  for (int lag = -1200; lag <= 1200; lag += 1) {
    double c = 0, a = 0, g = 0;
    size_t n = 0;
    for (size_t i = 4000; i < frames * 2; i += 7) {
      const long j = long(i) + 2L * lag;
      if (j < 0 || size_t(j) >= got.size() || i >= ref.size()) break;
      c += double(ref[i]) * got[size_t(j)];
      a += double(ref[i]) * ref[i];
      g += double(got[size_t(j)]) * got[size_t(j)];
      ++n;
    }
    if (n == 0 || a == 0 || g == 0) continue;
    const double r = c / std::sqrt(a * g);
    if (r > best.correlation) {
      best.correlation = r;
      best.rms_db = 10 * std::log10(g / a);
    }
  }
  return best;
}

double rms(const std::vector<int16_t>& v, int channel) {
  double s = 0;
  size_t n = 0;
  for (size_t i = size_t(channel) + 8000; i < v.size(); i += 2, ++n) s += double(v[i]) * v[i];
  return n ? std::sqrt(s / double(n)) : 0;
}

struct PlaybackTest : ::testing::Test {
  FakePlatform fake;
  void SetUp() override {
    audio_volume = 80;
    audio_channel_left = 1;
    audio_channel_right = 1;
  }
  // Plays entry `index` of `file` from slider position `from` until the
  // window stops (or `ticks` ticks) into a WAVE file; its samples.
  std::vector<int16_t> play(const std::string& file, int index, const std::function<void(AudioPlayer&)>& setup,
                            int ticks = 400) {
    const std::string wav = tsupport::test_dir() + "/heard.wav";
    AudioPlayer::Deps d;
    d.clock = &fake.clock;
    d.make_sink = [wav] { return std::make_unique<WavFileAudioSink>(wav); };
    AudioPlayer p(std::move(d));
    int added = 0;
    p.AddFileToPlayList(file, &added);
    p.set_loop(LoopMode::None);
    EXPECT_EQ(p.OpenPlayTrack(index, false, false), 1);
    if (setup) setup(p);
    p.StartPlay();
    for (int i = 0; i < ticks && p.playing(); ++i) tick(p, fake.clock);
    auto* sink = dynamic_cast<WavFileAudioSink*>(p.sink());
    EXPECT_NE(sink, nullptr);
    if (sink) sink->finish();
    // The device plays silence after the end until the tick stops it.
    std::vector<int16_t> v = wav_samples(wav);
    while (!v.empty() && v.back() == 0) v.pop_back();
    v.resize(v.size() + (v.size() & 1));
    return v;
  }
};

TEST_F(PlaybackTest, PlayingEqualsTheReferenceDecode) {
  for (const char* name : {"aw_44100.mp2", "aw_48000.mp2", "aw_32000.mp2"}) {
    SCOPED_TRACE(name);
    TSUPPORT_NEED_FIXTURES(name);
    const std::string f = fixture(name);
    const std::vector<int16_t> ref = ffmpeg_decode(f, 0);
    const std::vector<int16_t> got = play(f, 0, nullptr);
    const Match m = compare(ref, got, ref.size() / 2);
    EXPECT_GE(m.correlation, 0.999);
    EXPECT_NEAR(m.rms_db, 0.0, 0.1);
    EXPECT_NEAR(double(got.size()), double(ref.size()), 1152 * 2);
  }
}

TEST_F(PlaybackTest, FromASeek) {
  TSUPPORT_NEED_FIXTURES("aw_48000.mp2");
  const std::string f = fixture("aw_48000.mp2");
  const std::vector<int16_t> ref = ffmpeg_decode(f, 0, 4.0);
  const std::vector<int16_t> got = play(f, 0, [](AudioPlayer& p) { p.Seek(400); });
  const Match m = compare(ref, got, ref.size() / 2);
  EXPECT_GE(m.correlation, 0.999);
  EXPECT_NEAR(double(got.size()), double(ref.size()), 1152 * 2);
}

TEST_F(PlaybackTest, VolumeAndChannels) {
  TSUPPORT_NEED_FIXTURES("aw_44100.mp2");
  const std::string f = fixture("aw_44100.mp2");
  const std::vector<int16_t> full = play(f, 0, nullptr);
  const std::vector<int16_t> low = play(f, 0, [](AudioPlayer& p) { p.SetVolume(20); });
  EXPECT_NEAR(20 * std::log10(rms(full, 0) / rms(low, 0)), 9.99, 0.1);
  const std::vector<int16_t> left = play(f, 0, [](AudioPlayer& p) { p.ToggleRight(); });
  // The 440 Hz of the left channel on both sides.
  const std::vector<int16_t> ref = ffmpeg_decode(f, 0);
  std::vector<int16_t> ref_left(ref.size());
  for (size_t i = 0; i + 1 < ref.size(); i += 2) ref_left[i] = ref_left[i + 1] = ref[i];
  EXPECT_GE(compare(ref_left, left, ref.size() / 2).correlation, 0.999);
}

TEST_F(PlaybackTest, EachStreamEntryPlaysItsStream) {
  for (const char* name : {"aw_3streams.mpg", "aw_2pid.ts", "aw_mp2_ac3.mpg"}) {
    SCOPED_TRACE(name);
    TSUPPORT_NEED_FIXTURES(name);
    const std::string f = fixture(name);
    double duration = 0;
    const int n = list_engine_streams(f, &duration, nullptr, nullptr, 32);
    ASSERT_GE(n, 2);
    for (int s = 0; s < n; ++s) {
      SCOPED_TRACE(s);
      const std::vector<int16_t> ref = ffmpeg_decode(f, s);
      const std::vector<int16_t> got = play(f, s, nullptr);
      EXPECT_GE(compare(ref, got, std::min(ref.size(), got.size()) / 2).correlation, 0.99);
    }
  }
}

TEST_F(PlaybackTest, SegmentRepeatsAreTheSegment) {
  TSUPPORT_NEED_FIXTURES("aw_48000.mp2");
  const std::string f = fixture("aw_48000.mp2");
  const std::vector<int16_t> ref = ffmpeg_decode(f, 0, 2.0);
  const std::vector<int16_t> got = play(
      f, 0,
      [](AudioPlayer& p) {
        p.Seek(200);
        p.MarkButton();
        p.Seek(500);
        p.MarkButton();
        p.Seek(200);
      },
      140);
  // Each repeat starts again at 2 s: the sound at the start of each pass
  // matches the reference from 2 s.
  const size_t pass = size_t(3.0 * 48000) * 2;
  ASSERT_GT(got.size(), 3 * pass);
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(k);
    // Find the pass start by correlation around the expected place.
    std::vector<int16_t> piece(got.begin() + long(size_t(k) * pass), got.end());
    EXPECT_GE(compare(ref, piece, size_t(2.0 * 48000)).correlation, 0.99);
  }
}

// Level in dB of a tone in one channel (Goertzel over the middle 4 s).
double tone_db(const std::vector<int16_t>& v, int channel, double hz, int rate) {
  const size_t start = size_t(rate) * 2, n = size_t(rate) * 4;
  const double w = 2 * M_PI * hz / rate;
  double s1 = 0, s2 = 0;
  for (size_t i = 0; i < n && (start + i) * 2 + size_t(channel) < v.size(); ++i) {
    const double s0 = v[(start + i) * 2 + size_t(channel)] + 2 * std::cos(w) * s1 - s2;
    s2 = s1;
    s1 = s0;
  }
  return 10 * std::log10(s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2 + 1e-9);
}

TEST_F(PlaybackTest, EqualizerBandsMoveTheirTones) {
  TSUPPORT_NEED_FIXTURES("aw_eq.mp2");
  const std::string f = fixture("aw_eq.mp2");
  const double tones[] = {3375, 7125, 12375};  // centres of subbands 4, 9 and 16
  const std::vector<int16_t> flat = play(f, 0, nullptr);
  struct Case {
    int gain;
    double db, tolerance;
  };
  for (const Case c : {Case{24, 6, 1}, Case{0, -6, 1}, Case{10, -1, 0.3}, Case{13, 0, 0.3}}) {
    SCOPED_TRACE(c.gain);
    const std::vector<int16_t> got = play(f, 0, [&c](AudioPlayer& p) {
      EqualizerSelection sel;
      sel.gains[9] = c.gain;  // left channel, subband 9
      p.HandleEqualizerEvent(sel, 1);
    });
    EXPECT_NEAR(tone_db(got, 0, tones[1], 48000) - tone_db(flat, 0, tones[1], 48000), c.db, c.tolerance);
    for (double t : {tones[0], tones[2]})
      EXPECT_NEAR(tone_db(got, 0, t, 48000) - tone_db(flat, 0, t, 48000), 0, 0.3) << t;
    for (double t : tones) EXPECT_NEAR(tone_db(got, 1, t, 48000) - tone_db(flat, 1, t, 48000), 0, 0.3) << t;
  }
  const std::vector<int16_t> loud = play(f, 0, [](AudioPlayer& p) {
    EqualizerSelection sel;
    sel.preamp = 18;
    p.HandleEqualizerEvent(sel, 0);
  });
  for (double t : tones) EXPECT_NEAR(tone_db(loud, 0, t, 48000) - tone_db(flat, 0, t, 48000), 6, 0.3) << t;
}

TEST_F(PlaybackTest, DamagedTracksAreReported) {
  for (const char* name : {"aw_truncated.mp2", "aw_flipped.mp2", "aw_random.mp2"}) {
    SCOPED_TRACE(name);
    TSUPPORT_NEED_FIXTURES(name);
    AudioPlayer::Deps d;
    d.clock = &fake.clock;
    d.make_sink = [] { return std::make_unique<FakeAudioSink>(); };
    AudioPlayer p(std::move(d));
    p.AddTracks({fixture(name)});
    for (int i = 0; i < 150 && p.playing(); ++i) tick(p, fake.clock);
    if (p.entries().empty() || !p.has_track())
      EXPECT_NE(fake.prompter.last_text().find("has no sound or data error found"), std::string::npos);
  }
}

}  // namespace
