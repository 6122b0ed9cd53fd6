// Sound output over a sink with a manual clock: ring geometry, underrun
// and restart, buffer states, volume and channel selection, stop.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/dsaudio.h"
#include "platform/wav_sink.h"
#include "audio/codec/wave.h"
#include "support.h"

namespace {

// Settings at their loudest, both channels, restored after each test.
struct Settings {
  Settings() { set(80, 1, 1); }
  ~Settings() { set(40, 1, 1); }
  static void set(int v, int l, int r) {
    audio_volume = v;
    audio_channel_left = l;
    audio_channel_right = r;
  }
};

std::vector<uint8_t> ramp(int bytes, int seed) {
  std::vector<uint8_t> v(static_cast<size_t>(bytes));
  for (int i = 0; i < bytes; ++i) v[size_t(i)] = uint8_t((i * 7 + seed) & 0xFF);
  return v;
}

// 8000 Hz mono: a ring of 32000 bytes, a threshold of 1600.
struct Rig {
  Settings settings;
  FakeAudioSink sink;
  DSAudio ds{&sink};
  Rig() {
    int error = 1;
    ds.open(8000, 1, 16, &error);
    EXPECT_EQ(error, 0);
  }
};

TEST(DSAudio, Geometry) {
  Rig r;
  EXPECT_EQ(r.ds.buffer_size(), 32000);
  EXPECT_EQ(r.ds.threshold(), 1600);
  FakeAudioSink broken;
  broken.fail_open = true;
  DSAudio none(&broken);
  int error = 0;
  none.open(48000, 2, 16, &error);
  EXPECT_EQ(error, 1);
  uint8_t b[4] = {};
  EXPECT_EQ(none.write(b, 4), 0);
  none.open(0, 2, 16, &error);
  EXPECT_EQ(error, 1);
}

// A write that reaches the ring's end continues at its start, and what is
// heard is what was written, in order.
TEST(DSAudio, WritesWrapInTwoRegions) {
  Rig r;
  const auto a = ramp(30000, 1), b = ramp(10000, 5);
  EXPECT_EQ(r.ds.write(a.data(), int(a.size())), 30000);
  r.ds.play();
  EXPECT_EQ(r.sink.advance(20000), 20000);
  EXPECT_EQ(r.ds.get_free_space(), 32000 - 10000);
  EXPECT_EQ(r.ds.write(b.data(), int(b.size())), 10000);  // 2000 at the end, 8000 at the start
  EXPECT_TRUE(std::equal(b.begin() + 2000, b.end(), r.ds.ring().begin()));
  r.sink.advance(20000);
  std::vector<uint8_t> want = a;
  want.insert(want.end(), b.begin(), b.end());
  EXPECT_TRUE(r.sink.played == want);
  EXPECT_EQ(r.ds.get_free_space(), 32000);
  EXPECT_NEAR(r.ds.get_played_time(), 40000 / 16000.0, 1e-12);
}

// The play position overtaking the writer: the whole ring is free, the
// output pauses, and restarts when 0.1 s is queued again, from where the
// sink stands, so nothing stale is heard.
TEST(DSAudio, UnderrunPausesAndRestartsAtTheThreshold) {
  Rig r;
  tsupport::TraceCapture trace;
  const auto a = ramp(4000, 3);
  r.ds.write(a.data(), int(a.size()));
  r.ds.play();
  r.sink.advance(6000);  // 2000 bytes past the queue
  EXPECT_EQ(r.ds.get_buffer_state(100), 2);
  EXPECT_TRUE(trace.contains("Wrap-around #2"));
  EXPECT_TRUE(r.ds.is_paused());
  EXPECT_FALSE(r.sink.running());
  const auto b = ramp(1598, 9), c = ramp(2, 11);
  r.ds.write(b.data(), int(b.size()));
  EXPECT_TRUE(r.ds.is_paused());  // 1598 bytes: under 0.1 s
  r.ds.write(c.data(), int(c.size()));
  EXPECT_TRUE(r.ds.is_playing());
  r.sink.played.clear();
  r.sink.advance(1600);
  std::vector<uint8_t> want = b;
  want.insert(want.end(), c.begin(), c.end());
  EXPECT_TRUE(r.sink.played == want);
}

// A write position inside the span the device already took.
TEST(DSAudio, WriterInsideTheDeviceLeadResyncs) {
  Rig r;
  tsupport::TraceCapture trace;
  const auto a = ramp(3000, 3);
  r.ds.write(a.data(), int(a.size()));
  r.ds.play();
  r.sink.set_lead_bytes(2000);
  r.sink.advance(2000);  // device holds up to 4000; the writer is at 3000
  EXPECT_EQ(r.ds.get_free_space(), 32000);
  EXPECT_TRUE(trace.contains("Wrap-around #1"));
  EXPECT_TRUE(r.ds.is_paused());
}

TEST(DSAudio, BufferStates) {
  Rig r;
  const auto a = ramp(1000, 1);
  r.ds.write(a.data(), 1000);
  r.ds.play();
  EXPECT_EQ(r.ds.get_buffer_state(100), 3);  // under 0.1 s queued
  const auto b = ramp(20000, 2);
  r.ds.write(b.data(), 20000);
  EXPECT_EQ(r.ds.get_buffer_state(100), 0);
  EXPECT_EQ(r.ds.get_buffer_state(20000), 1);
  // Free space below the threshold counts as none, above the complement
  // as all.
  const auto c = ramp(10000, 3);
  r.ds.write(c.data(), 10000);
  EXPECT_EQ(r.ds.get_free_space(), 0);
  r.sink.advance(30500);
  EXPECT_EQ(r.ds.get_free_space(), 32000);
  EXPECT_NEAR(r.ds.get_queued_time(), 0.0, 1e-12);
}

TEST(DSAudio, VolumeTableAndGain) {
  struct Case {
    int volume, attenuation;
  } cases[] = {{80, 0}, {60, -9}, {40, -99}, {20, -999}, {0, -9999}, {-5, -9999}, {95, 0}};
  for (const Case& k : cases) EXPECT_EQ(DSAudio::attenuation_of(k.volume), k.attenuation) << k.volume;
  for (int v : {80, 60, 20}) {
    Rig r;
    audio_volume = v;
    std::vector<int16_t> pcm(1600);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t((int(i) * 977) % 65536 - 32768);
    r.ds.write(reinterpret_cast<const uint8_t*>(pcm.data()), int(pcm.size() * 2));
    r.ds.play();
    r.sink.advance(3200);
    ASSERT_EQ(r.sink.played.size(), 3200u);
    const double g = std::pow(10.0, DSAudio::attenuation_of(v) / 2000.0);
    for (size_t i = 0; i < pcm.size(); ++i) {
      int16_t s;
      std::memcpy(&s, r.sink.played.data() + 2 * i, 2);
      if (v == 80) {
        ASSERT_EQ(s, pcm[i]);  // untouched
      } else {
        ASSERT_NEAR(s, pcm[i] * g, 1.0) << v << " " << i;
      }
    }
  }
}

TEST(DSAudio, ChannelSelection) {
  struct Case {
    int left, right;
    int16_t want_l, want_r;
  } cases[] = {{1, 1, 100, -200}, {1, 0, 100, 100}, {0, 1, -200, -200}};
  for (const Case& k : cases) {
    Settings s;
    Settings::set(80, k.left, k.right);
    FakeAudioSink sink;
    DSAudio ds(&sink);
    int error = 1;
    ds.open(8000, 2, 16, &error);
    ASSERT_EQ(error, 0);
    std::vector<int16_t> pcm;
    for (int i = 0; i < 800; ++i) {
      pcm.push_back(100);
      pcm.push_back(-200);
    }
    ds.write(reinterpret_cast<const uint8_t*>(pcm.data()), int(pcm.size() * 2));
    ds.play();
    sink.advance(3200);
    int16_t l, r;
    std::memcpy(&l, sink.played.data() + 1000, 2);
    std::memcpy(&r, sink.played.data() + 1002, 2);
    EXPECT_EQ(l, k.want_l) << k.left << k.right;
    EXPECT_EQ(r, k.want_r) << k.left << k.right;
    EXPECT_EQ(ds.set_channel_mode(0, 0), (k.left ? 2 : 0) | (k.right ? 1 : 0));
  }
}

TEST(DSAudio, StopSilencesTheRing) {
  Rig r;
  const auto a = ramp(5000, 1);
  r.ds.write(a.data(), 5000);
  r.ds.play();
  r.sink.advance(1000);
  r.ds.stop();
  EXPECT_FALSE(r.ds.is_playing());
  EXPECT_EQ(r.ds.bytes_written(), 0);
  EXPECT_EQ(r.ds.bytes_played(), 0);
  EXPECT_EQ(r.sink.bytes_consumed(), 0u);
  for (uint8_t c : r.ds.ring()) ASSERT_EQ(c, 0);
}

// The WAVE sink writes what was heard: the file holds the played samples.
TEST(DSAudio, WavSinkWritesWhatIsHeard) {
  Settings settings;
  const std::string path = tsupport::temp_dir() + "/heard.wav";
  std::vector<int16_t> pcm(48000 * 2 * 3);  // 3 s: more than the ring
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(std::lround(8000 * std::sin(double(i) * 0.01)));
  {
    WavFileAudioSink sink(path);
    DSAudio ds(&sink);
    int error = 1;
    ds.open(48000, 2, 16, &error);
    ASSERT_EQ(error, 0);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    const int total = int(pcm.size() * 2);
    for (int at = 0; at < total;) {
      const int n = std::min(4608, total - at);
      while (ds.get_free_space() < n) sink.advance(4608);
      at += ds.write(p + at, n);
      ds.play();
    }
    ds.get_free_space();
    sink.advance(int(ds.bytes_written() - ds.bytes_played()));
    EXPECT_TRUE(sink.finish());
  }
  WaveFile w;
  ASSERT_EQ(w.open(path.c_str(), 1), 0);
  EXPECT_EQ(w.fmt().sample_rate, 48000);
  EXPECT_EQ(w.fmt().channels, 2);
  std::vector<int16_t> got;
  std::vector<int16_t> buf(1152 * 2);
  int n;
  while ((n = w.read(buf.data(), int(buf.size() * 2))) > 0) got.insert(got.end(), buf.begin(), buf.begin() + n / 2);
  EXPECT_TRUE(got == pcm);
}

}  // namespace
