// Verified clips against ffprobe's reading of the same files, the range
// rules, and the verified-clip cache.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>

#include <cmath>
#include <cstdio>
#include <thread>

#include "engine/clips/clip_verify.h"
#include "engine/clips/cliplist_file.h"
#include "support/support.h"

namespace {

// The verified clip into *c (an empty clip when refused); 1 when refused.
int verify_into(Clip* c, const std::string& file, int start, int count, int audio_id) {
  auto made = clip_ctor(file.c_str(), start, count, audio_id, 0);
  *c = made.value_or(Clip());
  return made ? 0 : 1;
}

using tsupport::field;
using tsupport::field_int;

struct Probe {
  std::string codec;
  int width = 0, height = 0, sample_rate = 0, channels = 0, bit_rate = 0, packets = 0;
  double rate = 0;
};

Probe ffprobe(const std::string& file) {
  std::string out;
  tsupport::run("ffprobe -v error -select_streams 0 -count_packets -show_entries "
                "stream=codec_name,width,height,r_frame_rate,sample_rate,channels,bit_rate,nb_read_packets "
                "-of default=nw=1 " + tsupport::sh_quote(file),
                &out);
  Probe p;
  for (const std::string& l : tsupport::split_lines(out)) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    const std::string k = l.substr(0, eq), v = l.substr(eq + 1);
    if (k == "codec_name") p.codec = v;
    if (v == "N/A") continue;
    if (k == "width") p.width = std::stoi(v);
    if (k == "height") p.height = std::stoi(v);
    if (k == "sample_rate") p.sample_rate = std::stoi(v);
    if (k == "channels") p.channels = std::stoi(v);
    if (k == "bit_rate") p.bit_rate = std::stoi(v);
    if (k == "nb_read_packets") p.packets = std::stoi(v);
    if (k == "r_frame_rate") {
      int a = 0, b = 1;
      if (std::sscanf(v.c_str(), "%d/%d", &a, &b) == 2 && b) p.rate = double(a) / b;
    }
  }
  return p;
}

std::string clip_line(const std::string& args) {
  std::vector<std::string> lines;
  if (tsupport::dev("clip " + args, &lines) != 0 || lines.empty()) return "";
  return lines[0];
}

TEST(ClipVerify, AgreesWithFfprobe) {
  struct Case {
    const char* file;
    int type;
    bool video, still;
  } cases[] = {
      {"st_m1.m1v", 2, true, false},         {"q1.m1v", 2, true, false},
      {"fa_sd.m2v", 3, true, false},         {"fields_ntsc.m2v", 3, true, false},
      {"fields_film.m2v", 3, true, false},   {"hd.m2v", 3, true, false},
      {"mp2_44100.mp2", 1, false, false},    {"mp2_16000.mp2", 1, false, false},
      {"mp3_22050.mp3", 1, false, false},    {"mp3_11025.mp3", 1, false, false},
      {"st_a48.mp2", 1, false, false},       {"ac3_48000_6ch.ac3", 9, false, false},
      {"ac3_44100_2ch.ac3", 9, false, false}, {"ac3_32000_2ch.ac3", 9, false, false},
      {"jpg_q95.jpg", 11, true, true},       {"jpg_odd.jpg", 11, true, true},
      {"pic_ff24.bmp", 12, true, true},      {"pic_odd_im8.bmp", 12, true, true},
      {"mov_mjpeg.mov", 13, true, false},    {"avi_bgr24.avi", 14, true, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.file);
    const std::string file = tsupport::fixture(k.file);
    const std::string line = clip_line(tsupport::sh_quote(file));
    ASSERT_FALSE(line.empty());
    const Probe p = ffprobe(file);
    EXPECT_EQ(field_int(line, "type"), k.type);
    if (k.video) {
      EXPECT_EQ(field_int(line, "width"), p.width);
      EXPECT_EQ(field_int(line, "height"), p.height);
      if (k.still) {
        EXPECT_EQ(field_int(line, "frames"), 1);
      } else {
        EXPECT_EQ(field_int(line, "frames"), p.packets);
        EXPECT_EQ(field_int(line, "count"), p.packets);
        EXPECT_NEAR(std::stod(field(line, "frame_rate")), p.rate, 1e-4);
      }
    } else {
      EXPECT_EQ(field_int(line, "sample_rate"), p.sample_rate);
      EXPECT_EQ(field_int(line, "channels"), p.channels);
      EXPECT_EQ(field_int(line, "audio_frames"), p.packets);
      EXPECT_EQ(field_int(line, "count"), p.packets);
      // Frame period: samples a frame over the rate (1536 for AC-3, 576 for
      // layer III below 32 kHz).
      const int samples = k.type == 9 ? 1536 : (p.codec == "mp3" && p.sample_rate < 32000 ? 576 : 1152);
      EXPECT_NEAR(std::stod(field(line, "audio_frame_period")), double(samples) / p.sample_rate, 1e-6);
      if (p.codec != "mp3") {
        EXPECT_EQ(field_int(line, "audio_bit_rate"), p.bit_rate);
      }
    }
  }
}

// Layer III at 16, 22.05 and 24 kHz (and below) has 576 samples a frame,
// not 1152: a wrong period doubles the audio's length.
TEST(ClipVerify, LayerThreeAtLowerRatesHas576SamplesPerFrame) {
  struct Case {
    const char* file;
    int rate, samples;
  } cases[] = {{"mp3_11025.mp3", 11025, 576}, {"mp3_22050.mp3", 22050, 576}, {"mp3_44100.mp3", 44100, 1152}};
  for (const Case& k : cases) {
    Clip c;
    int err = 1;
    err = verify_into(&c, tsupport::fixture(k.file).c_str(), 0, 0, 0);
    ASSERT_EQ(err, 0) << k.file;
    EXPECT_EQ(c.sample_rate, k.rate);
    EXPECT_NEAR(c.audio_frame_period, double(k.samples) / k.rate, 1e-9) << k.file;
    EXPECT_NEAR(c.audio_length, c.audio_frame_total * double(k.samples) / k.rate, 1e-6) << k.file;
  }
}

TEST(ClipVerify, RangeRules) {
  // A 120-frame stream: 100/50 keeps its start and ends with the stream; a
  // start beyond the stream takes the whole stream.
  const std::string file = tsupport::sh_quote(tsupport::fixture("fa_long.m2v"));
  const std::string whole = clip_line(file);
  ASSERT_FALSE(whole.empty());
  const long long total = field_int(whole, "frames");
  ASSERT_GT(total, 60);
  struct Case {
    long long start, count, want_start, want_count;
  } cases[] = {{total - 20, 50, total - 20, 20},
               {total + 10, 10, 0, total},
               {5, 0, 5, total - 5},
               {0, 0, 0, total},
               {3, 7, 3, 7}};
  for (const Case& k : cases) {
    const std::string line =
        clip_line(file + " --start " + std::to_string(k.start) + " --count " + std::to_string(k.count));
    SCOPED_TRACE(line);
    EXPECT_EQ(field_int(line, "start"), k.want_start);
    EXPECT_EQ(field_int(line, "count"), k.want_count);
  }
}

TEST(ClipVerify, RefusesClipListFileAndJunk) {
  const std::string dir = tsupport::temp_dir();
  MPEG_Clip* list = mpeg_clip_of_file(tsupport::fixture("st_m1.m1v").c_str(), 0, 10);
  ASSERT_NE(list, nullptr);
  const std::string qme = dir + "/small.qme";
  ASSERT_EQ(clip_save(list, qme.c_str()), 1);
  mpeg_clip_list_free(list);
  tsupport::TraceCapture trace;
  Clip c;
  int err = 0;
  err = verify_into(&c, qme.c_str(), 0, 0, 0);
  EXPECT_EQ(err, 1);
  EXPECT_EQ(c.clip_type, 0);
  EXPECT_TRUE(trace.contains("initialize it with a project file"));
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("clip " + tsupport::sh_quote(qme), &lines), 1);
  EXPECT_EQ(tsupport::dev("clip " + tsupport::sh_quote(tsupport::fixture("st_random.bin")), &lines), 1);
  EXPECT_EQ(tsupport::dev("clip " + tsupport::sh_quote(dir + "/missing.m2v"), &lines), 1);
}

// The cache must not hand out facts of a file rewritten in place with the
// same size: its modification time differs.
TEST(ClipVerify, CacheKeyedByModificationTimeNotOnlySize) {
  const std::string dir = tsupport::temp_dir();
  const std::string a = dir + "/same size.mp2";
  const auto first = tsupport::read_file(tsupport::fixture("mp2_44100.mp2"));
  ASSERT_TRUE(tsupport::write_file(a, first));
  Clip c;
  int err = 1;
  err = verify_into(&c, a.c_str(), 0, 0, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(c.sample_rate, 44100);
  // Verifying an unchanged file again reads nothing.
  const long before = clip_cache_verifications();
  Clip again;
  err = verify_into(&again, a.c_str(), 0, 0, 0);
  EXPECT_EQ(err, 0);
  EXPECT_EQ(clip_cache_verifications(), before);
  EXPECT_TRUE(again.equals(c));
  // Same size, other content: half the frames damaged into junk.
  auto second = first;
  for (size_t i = second.size() / 2; i < second.size(); ++i) second[i] = 0;
  ASSERT_TRUE(tsupport::write_file(a, second));
  struct timeval tv[2];
  gettimeofday(&tv[0], nullptr);
  tv[1] = tv[0];
  tv[1].tv_sec += 5;
  utimes(a.c_str(), tv);
  Clip third;
  err = verify_into(&third, a.c_str(), 0, 0, 0);
  ASSERT_EQ(err, 0);
  EXPECT_GT(clip_cache_verifications(), before);
  EXPECT_LT(third.audio_frame_total, c.audio_frame_total);
}

TEST(ClipVerify, CacheIsSafeAcrossThreads) {
  const std::string file = tsupport::fixture("mp2_48000.mp2");
  std::vector<std::thread> threads;
  std::atomic<int> failures{0};
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20; ++i) {
        Clip c;
        int err = 1;
        err = verify_into(&c, file.c_str(), 0, 0, 0);
        if (err || c.sample_rate != 48000) ++failures;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// A project naming a device (or a pipe) made verification read for ever.
TEST(ClipVerify, DeviceNamedAsClipIsRefused) {
  for (const char* dev : {"/dev/zero", "/dev/null", "/tmp"}) {
    Clip c;
    int err = 0;
    err = verify_into(&c, dev, 0, 0, 0);
    EXPECT_EQ(err, 1) << dev;
    EXPECT_EQ(c.clip_type, 0) << dev;
  }
}

TEST(ClipVerify, AudioFramePeriodWithoutFile) {
  struct Case {
    int layer, rate, channels;
    double period;
  } cases[] = {{1, 48000, 2, 0.008}, {2, 44100, 2, 1152.0 / 44100}, {3, 32000, 1, 0.036}};
  for (const Case& k : cases) {
    Clip c;
    c.audio_layer = k.layer;
    c.sample_rate = k.rate;
    c.channels = k.channels;
    clip_set_abs_parameters(&c);
    EXPECT_NEAR(c.audio_frame_period, k.period, 1e-9) << k.layer;
  }
  tsupport::TraceCapture trace;
  Clip bad;
  clip_set_abs_parameters(&bad);
  EXPECT_NEAR(bad.audio_frame_period, 1152.0 / 44100, 1e-9);
  EXPECT_TRUE(trace.contains("Clip::set_abs_parameters (ERROR): fname=nil\n"));
}

TEST(ClipVerify, StillTakesItsDurationAndStartZero) {
  Clip c;
  int err = 1;
  err = verify_into(&c, tsupport::fixture("jpg_q95.jpg").c_str(), 0, 0, 0);
  ASSERT_EQ(err, 0);
  EXPECT_EQ(c.count, get_still_image_frames(c.frame_rate));
  EXPECT_EQ(c.start, 0);
  EXPECT_EQ(c.video_frame_total, 1);
}

}  // namespace
