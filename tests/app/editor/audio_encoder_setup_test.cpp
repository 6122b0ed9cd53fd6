// The audio encoder setup's rules on a copy of a save's audio data.
#include <gtest/gtest.h>

#include "app/editor/audio_encoder_setup.h"

namespace {

Clip audio_clip(const char* file, int rate, int bits, int channels, int layer) {
  Clip c;
  c.file_name = file;
  c.audio_stream_count = 1;
  c.sample_rate = rate;
  c.audio_bit_rate = bits;
  c.channels = channels;
  c.audio_layer = layer;
  return c;
}

AudioEncoderData data() {
  AudioEncoderData a;
  a.has_audio = 1;
  a.clips = {audio_clip("a.mpg", 48000, 192000, 2, 2), audio_clip("a.mpg", 48000, 192000, 2, 2),
             audio_clip("b.mpg", 44100, 128000, 1, 2)};
  a.clip_select = 0;
  a.layer = 2;
  a.sample_rate = 48000;
  a.bit_rate = 192000;
  a.channels = 2;
  return a;
}

TEST(AudioEncoderSetup, ListsRatesAndBitRateFitting) {
  AudioEncoderData a = data();
  a.layer = 1;
  a.bit_rate = 448000;
  CAudioEncoderSetupDlg d(&a);
  EXPECT_EQ(d.clip_entries, (std::vector<int>{0, 2}));  // the same file and sound once
  EXPECT_TRUE(d.clip_list_enabled);
  EXPECT_EQ(d.edited.bit_rate, 448000);
  EXPECT_EQ(d.edited.clip_select, -1);  // no longer the clip's values
  d.set_layer(2);
  EXPECT_EQ(d.edited.bit_rate, 384000);
  EXPECT_EQ(d.sample_rate_texts()[0], " 44.1 kHz ");
  EXPECT_EQ(d.bit_rate_texts().back(), " 384 kbps ");

  AudioEncoderData b = data();
  b.bit_rate = 999;  // outside the table at 48 kHz
  CAudioEncoderSetupDlg d2(&b);
  EXPECT_EQ(d2.edited.bit_rate, 384000);
}

TEST(AudioEncoderSetup, ClipResetVcdAndOk) {
  AudioEncoderData a = data();
  CAudioEncoderSetupDlg d(&a);
  EXPECT_FALSE(d.reset_enabled);
  d.set_channels(1);
  EXPECT_TRUE(d.reset_enabled);
  d.reset();
  EXPECT_EQ(d.edited.channels, 2);
  EXPECT_FALSE(d.reset_enabled);
  d.vcd();
  EXPECT_EQ(d.edited.sample_rate, 44100);
  EXPECT_EQ(d.edited.bit_rate, 224000);
  const bool reset_after = d.reset_enabled;
  d.vcd();
  EXPECT_EQ(d.reset_enabled, reset_after);
  d.choose_clip(1);
  EXPECT_EQ(d.edited.clip_select, 2);
  EXPECT_EQ(d.edited.channels, 1);
  EXPECT_EQ(a.channels, 2);  // the source waits for OK
  d.ok();
  EXPECT_EQ(a.channels, 1);
  EXPECT_EQ(a.clip_select, 2);
}

TEST(AudioEncoderSetup, Ac3PassThroughKeepsAndRestoresValues) {
  AudioEncoderData a = data();
  a.clips[0].ac3_channels = 6;
  a.clips[0].audio_bit_rate = 448000;
  a.clip_select = -1;
  a.sample_rate = 44100;
  a.bit_rate = 224000;
  CAudioEncoderSetupDlg d(&a);
  ASSERT_TRUE(d.ac3_available);
  EXPECT_FALSE(d.clip_list_enabled);
  d.toggle_ac3();
  EXPECT_EQ(d.edited.bit_rate, 448000);
  EXPECT_EQ(d.edited.copy_flag, 1);
  d.toggle_ac3();
  EXPECT_EQ(d.edited.bit_rate, 224000);
  EXPECT_EQ(d.edited.sample_rate, 44100);
  EXPECT_EQ(d.edited.copy_flag, 0);
  d.ok();
  EXPECT_EQ(a.clip_select, -1);
}

}  // namespace
