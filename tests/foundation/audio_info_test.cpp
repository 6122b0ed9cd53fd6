#include "foundation/audio_info.h"

#include <gtest/gtest.h>

namespace {

AudioInfo make(int stream_id, int layer, int rate, int channels, int bit_rate) {
  AudioInfo a;
  a.stream_id = stream_id;
  a.layer = layer;
  a.sample_rate = rate;
  a.channels = channels;
  a.bit_rate = bit_rate;
  return a;
}

TEST(AudioInfo, Defaults) {
  AudioInfo a;
  EXPECT_EQ(a.layer, 2);
  EXPECT_EQ(a.stream_id, 0xC0);
  EXPECT_EQ(a.bits_per_sample, 16);
  EXPECT_EQ(a.get_audio_type(), AUDIO_TYPE_MPEG);
}

TEST(AudioInfo, TypeFromStreamId) {
  struct Row {
    int stream_id, private_flag, full_channels, rate, channels, bit_rate, type;
  };
  const Row rows[] = {
      {0xC0, 0, 0, 48000, 2, 224000, 1},
      {0xDF, 0, 0, 48000, 2, 224000, 1},
      {0x80, 0, 0, 48000, 2, 448000, 9},
      {0x87, 0, 0, 48000, 2, 448000, 9},
      {0xA0, 0, 0, 48000, 2, 1536000, 10},
      {0xA7, 0, 0, 48000, 2, 1536000, 10},
      {0xBD, 1, 0, 48000, 2, 1536000, 10},
      {0xBD, 1, 0, 48000, 2, 448000, 9},
      // a full channel count whose PCM rate does not match the bit rate: AC-3
      {0xBD, 0, 6, 48000, 2, 448000, 9},
      {0xBD, 1, 2, 48000, 2, 1536000, 10},
      {0xBD, 0, 0, 48000, 2, 448000, 0},
      {0xE0, 0, 0, 48000, 2, 448000, 0},
      {0x88, 0, 0, 48000, 2, 448000, 0},
      {0xA8, 0, 0, 48000, 2, 448000, 0},
  };
  for (const Row& r : rows) {
    AudioInfo a = make(r.stream_id, 2, r.rate, r.channels, r.bit_rate);
    a.private_stream = r.private_flag;
    a.full_channels = r.full_channels;
    a.audio_type = 1;  // the stored type does not count
    EXPECT_EQ(a.get_audio_type(), r.type) << std::hex << r.stream_id << std::dec << " br " << r.bit_rate;
  }
}

TEST(AudioInfo, SetTypeMovesTheStreamId) {
  AudioInfo a;
  a.set_audio_type(10);
  EXPECT_EQ(a.stream_id, 0xA0);
  EXPECT_EQ(a.audio_type, 10);
  a.stream_id = 0xA3;
  a.set_audio_type(10);
  EXPECT_EQ(a.stream_id, 0xA3);
  a.set_audio_type(9);
  EXPECT_EQ(a.stream_id, 0x80);
  a.stream_id = 0xBD;
  a.private_stream = 1;
  a.set_audio_type(9);
  EXPECT_EQ(a.stream_id, 0xBD);
  a.private_stream = 0;
  a.set_audio_type(9);
  EXPECT_EQ(a.stream_id, 0x80);
  a.set_audio_type(1);
  EXPECT_EQ(a.stream_id, 0x80);  // kept
  EXPECT_EQ(a.audio_type, 1);
  a.set_audio_type(5);
  EXPECT_EQ(a.audio_type, 1) << "other types change nothing";
  EXPECT_EQ(a.stream_id, 0x80);
}

TEST(AudioInfo, FrameTiming) {
  struct Row {
    int stream_id, layer, rate, channels, samples, sample_count;
    double duration;
  };
  const Row rows[] = {
      {0xC0, 1, 48000, 2, 384, 768, 0.008},
      {0xC0, 2, 44100, 2, 1152, 2304, 1152.0 / 44100},
      {0xC0, 3, 48000, 1, 1152, 1152, 0.024},
      // layer III below 32 kHz (MPEG-2 and 2.5) codes 576 samples a frame
      {0xC0, 3, 22050, 2, 576, 1152, 576.0 / 22050},
      {0xC0, 3, 11025, 1, 576, 576, 576.0 / 11025},
      {0xC0, 2, 22050, 2, 1152, 2304, 1152.0 / 22050},
      {0x80, 0, 48000, 2, 1536, 3072, 0.032},
      {0xA0, 0, 48000, 2, 1152, 2304, 0.024},
      {0xC0, 2, 0, 0, 1152, 0, 0.0},
  };
  for (const Row& r : rows) {
    const AudioInfo a = make(r.stream_id, r.layer, r.rate, r.channels, 0);
    EXPECT_EQ(a.get_samples_per_frame(), r.samples) << r.rate << " layer " << r.layer;
    EXPECT_EQ(a.get_frame_sample_count(), r.sample_count);
    EXPECT_DOUBLE_EQ(a.get_frame_duration(), r.duration);
  }
}

TEST(AudioInfo, EqualityAndFormatComparison) {
  AudioInfo a = make(0xC0, 2, 48000, 2, 224000);
  AudioInfo b = a;
  EXPECT_TRUE(a == b);
  EXPECT_EQ(utils_same_audio_info(a, b), 0);
  b.length = 12.5;
  b.frame_size = 99;
  EXPECT_TRUE(a == b) << "length and frame size do not count";
  b.stream_id = 0xC1;
  EXPECT_FALSE(a == b);
  EXPECT_EQ(utils_same_audio_info(a, b), 0) << "the format comparison ignores the stream";
  a.private_stream = b.private_stream = 1;
  EXPECT_TRUE(a == b) << "with the private-stream flag the stream id does not count";
  b.private_stream = 2;
  EXPECT_FALSE(a == b);
  a.private_stream = b.private_stream = 0;
  a.stream_id = b.stream_id = 0xC0;
  a.pid = 0x101;
  b.pid = 0x102;
  EXPECT_FALSE(a == b) << "two transport streams of one stream id";
  a.pid = 0;
  b = a;
  b.bit_rate = 192000;
  EXPECT_FALSE(a == b);
  EXPECT_EQ(utils_same_audio_info(a, b), 1);
  b = a;
  b.full_channels = 6;
  EXPECT_EQ(utils_same_audio_info(a, b), 1);
  b = a;
  b.stream_word = 7;
  EXPECT_EQ(utils_same_audio_info(a, b), 0);
  EXPECT_FALSE(a == b);
}

}  // namespace
