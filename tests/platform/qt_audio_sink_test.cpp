// The Qt sound-device sink: format mapping, refusal of other depths, the
// failed open without a device (DSAudio over it silent), and the push of
// the ring into a stand-in device with its own clock.
#include <gtest/gtest.h>

#include <QAudioDevice>
#include <QAudioFormat>
#include <QCoreApplication>
#include <QMediaDevices>
#include <chrono>
#include <thread>

#include "platform/dsaudio.h"
#include "platform/qt_audio_sink.h"
#include "support.h"

namespace {

// The sink needs an application object, as the editor provides.
class QtApp : public ::testing::Environment {
 public:
  void SetUp() override { app_ = new QCoreApplication(argc_, argv_); }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[16] = "test_platform";
  char* argv_[2] = {name_, nullptr};
  QCoreApplication* app_ = nullptr;
};
[[maybe_unused]] auto* const qt_app = ::testing::AddGlobalTestEnvironment(new QtApp);

bool have_output_device() { return !QMediaDevices::audioOutputs().isEmpty(); }

struct Loudest {
  Loudest() { audio_volume = 80; }
  ~Loudest() { audio_volume = 40; }
};

TEST(QtAudioSink, FormatOfSupportedDepths) {
  struct Case {
    int rate, channels, bits;
    QAudioFormat::SampleFormat sample;
    int frame_bytes;
  } cases[] = {
      {8000, 1, 8, QAudioFormat::UInt8, 1},
      {22050, 2, 8, QAudioFormat::UInt8, 2},
      {44100, 2, 16, QAudioFormat::Int16, 4},
      {48000, 6, 16, QAudioFormat::Int16, 12},
  };
  for (const Case& c : cases) {
    QAudioFormat f;
    ASSERT_TRUE(QtAudioSink::format_of(c.rate, c.channels, c.bits, &f)) << c.bits;
    EXPECT_EQ(f.sampleRate(), c.rate);
    EXPECT_EQ(f.channelCount(), c.channels);
    EXPECT_EQ(f.sampleFormat(), c.sample);
    EXPECT_EQ(f.bytesPerFrame(), c.frame_bytes);
    EXPECT_TRUE(f.isValid());
  }
}

TEST(QtAudioSink, RefusesOtherDepthsBeforeTheDevice) {
  struct Case {
    int rate, channels, bits;
  } cases[] = {{48000, 2, 24}, {48000, 2, 32}, {48000, 2, 12}, {48000, 2, 0},
               {48000, 2, -16}, {0, 2, 16},    {48000, 0, 16}, {-1, 1, 8}};
  for (const Case& c : cases) {
    QAudioFormat f;
    EXPECT_FALSE(QtAudioSink::format_of(c.rate, c.channels, c.bits, &f)) << c.bits;
    EXPECT_FALSE(f.isValid());
    tsupport::TraceCapture trace;
    QtAudioSink sink;
    EXPECT_FALSE(sink.open(c.rate, c.channels, c.bits));
    EXPECT_TRUE(trace.contains("unsupported format")) << c.rate << " " << c.channels << " " << c.bits;
  }
}

TEST(QtAudioSink, OpenFailsWithoutADeviceAndPlaybackIsSilent) {
  if (have_output_device()) GTEST_SKIP() << "this machine has a sound output device";
  Loudest loud;
  tsupport::TraceCapture trace;
  QtAudioSink sink;
  EXPECT_FALSE(sink.open(48000, 2, 16));
  EXPECT_TRUE(trace.contains("no audio output device"));
  // Every call on a sink that failed to open is harmless.
  sink.start();
  EXPECT_FALSE(sink.running());
  EXPECT_EQ(sink.bytes_consumed(), 0u);
  sink.suspend();
  sink.stop();

  DSAudio ds(&sink);
  int error = 0;
  ds.open(48000, 2, 16, &error);
  EXPECT_EQ(error, 1);
  EXPECT_FALSE(ds.is_open());
  EXPECT_TRUE(trace.contains("no sound driver"));
  std::vector<uint8_t> pcm(19200, 0x40);
  EXPECT_EQ(ds.write(pcm.data(), int(pcm.size())), 0);
  ds.play();
  EXPECT_FALSE(ds.is_playing());
  EXPECT_EQ(ds.get_free_space(), 0);
  EXPECT_EQ(ds.get_buffer_state(4608), 2);
  EXPECT_EQ(ds.get_played_time(), 0.0);
  ds.pause();
  ds.stop();
  ds.close();
}

TEST(QtAudioSink, PlayedBytesFromTimeAndQueue) {
  struct Case {
    int64_t usecs;
    uint64_t taken;
    int64_t queued;
    int rate, block;
    uint64_t want;
  } cases[] = {
      {1000000, 400000, 0, 48000, 4, 192000},    // one second of 48 kHz stereo
      {1000000, 400000, 300000, 48000, 4, 100000},  // the queue says less was played
      {1000000, 150000, 0, 48000, 4, 150000},    // never past what was handed over
      {10, 1000, 0, 48000, 4, 0},                // under one sample frame
      {1000, 1000, 0, 44100, 4, 176},            // 44.1 frames: 44 whole ones
      {1000, 1001, 0, 44100, 6, 264},            // whole frames of 6 bytes
      {-5, 100, 0, 8000, 2, 0},
      {1000000, 100, 200, 8000, 2, 0},           // queue above taken
      {1000000, 100, 0, 0, 2, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(QtAudioSink::played_bytes(c.usecs, c.taken, c.queued, c.rate, c.block), c.want)
        << c.usecs << " " << c.taken << " " << c.queued;
}

// A device with a buffer of the size the sink asks for and a clock the
// test moves: what it hears is what it was handed.
class StandInSink : public QtAudioSink {
 public:
  std::vector<uint8_t> heard;
  int buffer = 0, starts = 0, suspends = 0, resumes = 0, stops = 0;
  uint64_t handed = 0, played = 0;
  QAudioFormat format;

  // Plays up to n of the bytes handed over.
  void play_for(uint64_t n) { played = std::min(handed, played + n); }

 protected:
  bool device_open(const QAudioFormat& f, int buffer_bytes) override {
    format = f;
    buffer = buffer_bytes;
    return true;
  }
  bool device_start() override {
    ++starts;
    handed = played = 0;
    return true;
  }
  void device_suspend() override { ++suspends; }
  void device_resume() override { ++resumes; }
  void device_stop() override { ++stops; }
  int device_bytes_free() override { return buffer - int(handed - played); }
  int device_write(const uint8_t* bytes, int n) override {
    EXPECT_LE(n, device_bytes_free());
    heard.insert(heard.end(), bytes, bytes + n);
    handed += uint64_t(n);
    return n;
  }
  uint64_t device_played(uint64_t taken) override {
    EXPECT_EQ(taken, handed);
    return played;
  }
};

// DSAudio over the stand-in: 8000 Hz mono, a ring of 32000 bytes. Written
// in pieces over several turns of the ring, everything written is heard
// in order, and the device never holds more than the sink's lead.
TEST(QtAudioSink, PushesTheRingInOrderAcrossTheWrap) {
  Loudest loud;
  StandInSink sink;
  DSAudio ds(&sink);
  int error = 1;
  ds.open(8000, 1, 16, &error);
  ASSERT_EQ(error, 0);
  EXPECT_EQ(sink.format.sampleFormat(), QAudioFormat::Int16);
  EXPECT_EQ(sink.max_lead(), 800);  // 50 ms
  EXPECT_EQ(sink.buffer, sink.max_lead());

  std::vector<uint8_t> all(100000);
  for (size_t i = 0; i < all.size(); ++i) all[i] = uint8_t(i * 13 + (i >> 9));
  size_t fed = 0;
  auto write_some = [&](size_t n) {
    n = std::min(n, all.size() - fed);
    const int k = ds.write(all.data() + fed, int(n));
    EXPECT_EQ(size_t(k), n);
    fed += n;
  };
  write_some(3200);  // 0.1 s: playback may start
  ds.play();
  EXPECT_EQ(sink.starts, 1);
  EXPECT_EQ(sink.heard.size(), 800u);  // the lead, no more
  for (int turn = 0; sink.heard.size() < all.size(); ++turn) {
    ASSERT_LT(turn, 10000);
    if (turn == 40) {
      // Paused and played again: the device goes on where it stood.
      ds.pause();
      EXPECT_EQ(sink.suspends, 1);
      ds.play();
      EXPECT_EQ(sink.resumes, 1);
    }
    sink.play_for(700);
    const int free = ds.get_free_space();
    EXPECT_LE(sink.lead_bytes(), sink.max_lead());
    // The writer stays ahead until it has nothing left: no underrun.
    if (fed < all.size()) EXPECT_TRUE(ds.is_playing()) << turn;
    if (fed < all.size() && free >= 4000) write_some(4000);
  }
  EXPECT_TRUE(std::equal(all.begin(), all.end(), sink.heard.begin()));

  // Stopped, the count starts again and the next start plays the ring
  // from its beginning.
  ds.stop();
  EXPECT_EQ(sink.stops, 1);
  EXPECT_EQ(sink.bytes_consumed(), 0u);
  EXPECT_EQ(sink.lead_bytes(), 0);
  sink.heard.clear();
  fed = 0;
  write_some(3200);
  ds.play();
  EXPECT_EQ(sink.starts, 2);
  ASSERT_EQ(sink.heard.size(), 800u);
  EXPECT_TRUE(std::equal(sink.heard.begin(), sink.heard.end(), all.begin()));
}

// On a machine with a sound device: a quarter second of silence plays and
// the played time moves.
TEST(QtAudioSink, PlaysOnADevice) {
  if (!have_output_device()) GTEST_SKIP() << "no sound output device";
  Loudest loud;
  QtAudioSink sink;
  DSAudio ds(&sink);
  int error = 1;
  ds.open(48000, 2, 16, &error);
  ASSERT_EQ(error, 0);
  std::vector<uint8_t> quiet(48000);
  ds.write(quiet.data(), int(quiet.size()));
  ds.play();
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  while (ds.get_played_time() < 0.1 && std::chrono::steady_clock::now() < until) {
    ds.get_free_space();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_GE(ds.get_played_time(), 0.1);
  ds.close();
}

}  // namespace
