// The clip audio player against ffmpeg's decode: a clip range gives exactly
// its frames times samples per frame, decoded as ffmpeg decodes those
// samples; WAVE clips give the file's samples; silence before the stream.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "access/clip.h"
#include "audio/track/daplayer.h"
#include "support.h"

namespace {

using tsupport::fixture;
using tsupport::sh_quote;

std::vector<int16_t> ffmpeg_decode(const std::string& file, const std::string& map) {
  const std::string out = tsupport::temp_dir() + "/dec.s16";
  const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -i " + sh_quote(file) + " -map " + map +
                          " -f s16le -c:a pcm_s16le -ac 2 " + sh_quote(out);
  if (tsupport::run(cmd) != 0) return {};
  const std::vector<uint8_t> b = tsupport::read_file(out);
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
  return v;
}

// AC-3 through this project's own decoder (the stream copied out by ffmpeg
// first): the player is checked, not the decoder, which has its own tests
// against ffmpeg by signal-to-noise ratio.
std::vector<int16_t> own_ac3_decode(const std::string& file, const std::string& map) {
  const std::string dir = tsupport::temp_dir();
  if (tsupport::run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) + " -map " + map + " -c copy -f ac3 " +
                    sh_quote(dir + "/s.ac3")) != 0)
    return {};
  std::vector<std::string> lines;
  if (tsupport::dev("ac3-decode " + sh_quote(dir + "/s.ac3") + " " + sh_quote(dir + "/s.s16"), &lines) != 0) return {};
  const std::vector<uint8_t> b = tsupport::read_file(dir + "/s.s16");
  std::vector<int16_t> v(b.size() / 2);
  for (size_t i = 0; i < v.size(); ++i) v[i] = int16_t(b[2 * i] | b[2 * i + 1] << 8);
  return v;
}

double start_time(const std::string& file, const std::string& select) {
  std::string out;
  tsupport::run("ffprobe -v error -select_streams " + select + " -show_entries stream=start_time -of csv=p=0 " +
                    sh_quote(file),
                &out);
  return std::atof(out.c_str());
}

std::vector<int16_t> play(DAPlayer* p, int* frames) {
  std::vector<int16_t> all;
  int n = 0;
  *frames = 0;
  while (const int16_t* s = p->get_next_pcm_frame(&n)) {
    all.insert(all.end(), s, s + n);
    ++*frames;
    if (*frames > 100000) break;
  }
  return all;
}

// Clip ranges of mp2, AC-3 and a program stream's mp2 and AC-3: the frames
// from the one holding the start up to the one holding the end, each decoded
// as the whole stream decodes (the first frame may differ by decoder start).
TEST(DAPlayer, ClipRangesDecodeAsFfmpeg) {
  struct Case {
    const char* file;
    int id;
    const char* map;
    double start, length;
  } cases[] = {{"mp2_44100.mp2", 0, "0:a:0", 0.5, 1.0},
               {"ac3_48000_2ch.ac3", 0, "0:a:0", 0.3, 1.2},
               {"ps_dvd.vob", 0xC0, "0:i:0x1c0", 1.0, 2.0},
               {"ps_dvd.vob", 0x80, "0:i:0x80", 2.0, 1.5}};
  for (const Case& k : cases) {
    SCOPED_TRACE(std::string(k.file) + " " + k.map);
    const std::string file = fixture(k.file);
    Clip c;
    c.set_file_name(file.c_str());
    c.audio_stream_id = k.id;
    DAPlayer p;
    ASSERT_EQ(p.new_clip(c, k.start, k.length), 0);
    const double period = p.get_frame_period();
    const int spf = p.get_samples_per_frame();
    ASSERT_EQ(p.get_channels(), 2);
    // The stream's own time: the clip's start less the audio's delay after
    // the video.
    double shift = 0;
    if (std::string(k.file).find(".vob") != std::string::npos)
      shift = start_time(file, std::string("i:") + (k.id == 0xC0 ? "0x1c0" : "0x80")) - start_time(file, "v:0");
    const long k0 = long(std::floor((k.start - shift) / period + 1e-9));
    const long k1 = long(std::floor((k.start - shift + k.length) / period + 1e-9));
    int frames = 0;
    const std::vector<int16_t> got = play(&p, &frames);
    EXPECT_EQ(frames, k1 - k0);
    ASSERT_EQ(got.size(), size_t(k1 - k0) * spf * 2);
    const std::vector<int16_t> want = spf == 1536 ? own_ac3_decode(file, k.map) : ffmpeg_decode(file, k.map);
    ASSERT_GE(want.size(), size_t(k1) * spf * 2);
    int max_diff = 0;
    double sq = 0;
    size_t n = 0;
    for (size_t i = size_t(spf) * 2; i < got.size(); ++i, ++n) {
      const int d = std::abs(int(got[i]) - int(want[size_t(k0) * spf * 2 + i]));
      max_diff = std::max(max_diff, d);
      sq += double(d) * d;
    }
    const double rms = std::sqrt(sq / double(std::max<size_t>(n, 1)));
    if (spf == 1536) {
      // AC-3 dithers zero-bit mantissas from a running generator, which a
      // seek restarts: the range matches within that noise, far below a
      // frame's misplacement.
      double sig = 0;
      for (size_t i = size_t(spf) * 2; i < got.size(); ++i) sig += double(got[i]) * got[i];
      EXPECT_LE(rms, 0.02 * std::sqrt(sig / double(std::max<size_t>(n, 1))));
    } else {
      EXPECT_LE(max_diff, 4);
      EXPECT_LE(rms, 1.0);
    }
    EXPECT_TRUE(p.is_end());
  }
}

// A clip that starts before its audio stream plays silence first: the
// frames owed to the audio's delay are zeros, and the clip keeps its
// length within a frame.
TEST(DAPlayer, SilenceBeforeTheStream) {
  const std::string file = fixture("ps_late.vob");
  Clip c;
  c.set_file_name(file.c_str());
  DAPlayer p;
  ASSERT_EQ(p.new_clip(c, 0.0, 3.0), 0);
  const double period = p.get_frame_period();
  const double delay = start_time(file, "a:0") - start_time(file, "v:0");
  ASSERT_GT(delay, 1.0);
  const int lead = int(delay / period + 0.5);
  int frames = 0;
  const std::vector<int16_t> got = play(&p, &frames);
  EXPECT_NEAR(frames * period, 3.0, period * 1.01);
  const size_t fs = size_t(p.get_samples_per_frame()) * 2;
  for (size_t i = 0; i < size_t(lead) * fs; ++i) ASSERT_EQ(got[i], 0) << i;
  const std::vector<int16_t> want = ffmpeg_decode(file, "0:a:0");
  // After the first decoded frame the stream's samples follow from its start.
  int max_diff = 0;
  for (size_t i = (size_t(lead) + 1) * fs; i < got.size(); ++i)
    max_diff = std::max(max_diff, std::abs(int(got[i]) - int(want[i - size_t(lead) * fs])));
  EXPECT_LE(max_diff, 4);
}

// WAVE clips: frames of 1152 samples, the file's samples exactly; seeks and
// ranges out of the clip are clamped.
TEST(DAPlayer, WaveClipsAreTheFileSamples) {
  const std::string file = fixture("clips_a.wav");
  const std::vector<uint8_t> raw = tsupport::read_file(file);
  ASSERT_GT(raw.size(), 44u);
  WaveFile w;
  ASSERT_EQ(w.open(file.c_str(), 1), 0);
  const int64_t data = w.data_start();
  const int rate = int(w.fmt().sample_rate);
  Clip c;
  c.set_file_name(file.c_str());
  DAPlayer p;
  const double start = 0.4, length = 0.9;
  ASSERT_EQ(p.new_clip(c, start, length), 0);
  EXPECT_TRUE(p.is_wave());
  const double period = 1152.0 / rate;
  EXPECT_DOUBLE_EQ(p.get_frame_period(), period);
  const long k0 = long(std::floor(start / period)), k1 = long(std::floor((start + length) / period));
  int frames = 0;
  const std::vector<int16_t> got = play(&p, &frames);
  EXPECT_EQ(frames, k1 - k0);
  const size_t at = size_t(data) + size_t(k0) * 1152 * 4;
  ASSERT_LE(at + got.size() * 2, raw.size());
  for (size_t i = 0; i < got.size(); ++i) {
    const int16_t s = int16_t(raw[at + 2 * i] | raw[at + 2 * i + 1] << 8);
    ASSERT_EQ(got[i], s) << i;
  }
  tsupport::TraceCapture trace;
  EXPECT_DOUBLE_EQ(p.goto_offset(-1.0), 0.0);
  EXPECT_TRUE(trace.contains("ERROR (DAPlayer::goto_offset)"));
  int n = 0;
  const int16_t* s = p.get_next_pcm_frame(&n);
  ASSERT_TRUE(s);
  EXPECT_EQ(int16_t(raw[at] | raw[at + 1] << 8), s[0]);
}

}  // namespace
