// The one choice of where sound goes, and the WAVE file played at the
// clock's pace: what the file holds is what was heard by then.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "app/shell/sound_output.h"
#include "audio/codec/wave.h"
#include "platform/dsaudio.h"
#include "platform/fakes.h"
#include "platform/paced_wav_sink.h"
#include "support.h"

namespace {

struct SoundFileEnv {
  explicit SoundFileEnv(const std::string& path) { ::setenv("TAMSEL_SOUND_FILE", path.c_str(), 1); }
  ~SoundFileEnv() { ::unsetenv("TAMSEL_SOUND_FILE"); }
};

struct CountingSink : FakeAudioSink {
  static int made;
  CountingSink() { ++made; }
};
int CountingSink::made = 0;

TEST(SoundOutput, FileOverDeviceOverSilence) {
  FakePlatform fp;
  ::unsetenv("TAMSEL_SOUND_FILE");
  set_audio_device_factory(nullptr);
  EXPECT_EQ(make_audio_sink(), nullptr);

  set_audio_device_factory([] { return std::make_unique<CountingSink>(); });
  auto device = make_audio_sink();
  EXPECT_NE(dynamic_cast<CountingSink*>(device.get()), nullptr);

  SoundFileEnv env(tsupport::test_dir() + "/heard.wav");
  auto file = make_audio_sink();
  EXPECT_NE(dynamic_cast<PacedWavSink*>(file.get()), nullptr);
  EXPECT_EQ(CountingSink::made, 1);
  set_audio_device_factory(nullptr);
}

TEST(SoundOutput, WaveFileFollowsTheClock) {
  FakePlatform fp;
  const std::string path = tsupport::test_dir() + "/heard.wav";
  {
    SoundFileEnv env(path);
    auto sink = make_audio_sink();
    ASSERT_NE(sink, nullptr);
    DSAudio out(sink.get());
    int error = 1;
    out.open(48000, 2, 16, &error);
    ASSERT_EQ(error, 0);
    // One second of a constant sample, queued ahead of the play position.
    std::vector<int16_t> pcm(48000 * 2, 1000);
    const int half = int(pcm.size());  // bytes of half a second
    out.write(reinterpret_cast<const uint8_t*>(pcm.data()), half);
    out.play();
    EXPECT_EQ(out.get_played_time(), 0.0);
    // The output learns the play position when asked for room, as a
    // player does before every write.
    fp.clock.advance(250);
    out.get_free_space();
    EXPECT_NEAR(out.get_played_time(), 0.25, 1e-9);
    fp.clock.advance(250);
    out.get_free_space();
    EXPECT_NEAR(out.get_played_time(), 0.5, 1e-9);
    out.stop();
    out.close();
    ASSERT_TRUE(static_cast<PacedWavSink*>(sink.get())->finish());
  }
  WaveFile wav;
  ASSERT_EQ(wav.open(path.c_str(), 1), 0);
  ASSERT_EQ(wav.init_reader(), 0) << wav.reason();
  EXPECT_EQ(wav.fmt().sample_rate, 48000);
  EXPECT_EQ(wav.fmt().channels, 2);
  // Half a second was heard, no more: 24000 frames of 4 bytes.
  EXPECT_EQ(wav.data_end() - wav.data_start(), 24000 * 4);
}

}  // namespace
