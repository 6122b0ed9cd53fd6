// Saves that join clips of different frame rates: the clip at another rate
// than the output's is re-encoded whole, each output frame showing the
// source frame of its time (frames repeated or dropped), and the sound of
// every clip stays with its pictures. The sources show their frame number
// and beep for the first 100 ms of each second.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using tsupport::fixture;
using tsupport::sh_quote;

struct Part {
  int file;  // index into the case's files
  int a, b;  // kept source frames
};

struct RateFile {
  const char* name;
  double rate;
};

struct Case {
  const char* label;
  std::vector<RateFile> files;
  std::vector<Part> parts;
  double out_rate;
  int ref = 0;  // the part whose stream the output takes
};

constexpr int kW = 352, kH = 288;
constexpr size_t kFrameBytes = size_t(kW) * kH * 3 / 2;
constexpr int kSampleRate = 48000;

double psnr3(const uint8_t* a, const uint8_t* b) {
  const size_t y = size_t(kW) * kH, c = y / 4;
  return std::min({tsupport::psnr(a, b, y), tsupport::psnr(a + y, b + y, c), tsupport::psnr(a + y + c, b + y + c, c)});
}

// What ffprobe says of the output: the video's frame rate, the start time
// of each stream and the time stamps of the video frames.
struct Probe {
  std::string video_rate;
  double video_start = 0, audio_start = 0;
  std::vector<double> frame_times;
};

Probe probe(const std::string& file) {
  std::string text;
  tsupport::run("ffprobe -v error -show_entries stream=codec_type,r_frame_rate,start_time:frame=media_type,"
                "best_effort_timestamp_time -of default=nw=1 " +
                    sh_quote(file) + " 2>/dev/null",
                &text);
  Probe p;
  std::string type;
  for (const std::string& l : tsupport::split_lines(text)) {
    const size_t eq = l.find('=');
    if (eq == std::string::npos) continue;
    const std::string key = l.substr(0, eq), value = l.substr(eq + 1);
    if (key == "codec_type" || key == "media_type") {
      type = value;
    } else if (key == "r_frame_rate" && type == "video") {
      p.video_rate = value;
    } else if (key == "start_time") {
      (type == "video" ? p.video_start : p.audio_start) = std::atof(value.c_str());
    } else if (key == "best_effort_timestamp_time" && type == "video") {
      p.frame_times.push_back(std::atof(value.c_str()));
    }
  }
  return p;
}

// Times (seconds after the first sample) where a beep starts: a loud
// sample after half a second of quiet.
std::vector<double> beep_starts(const std::vector<uint8_t>& pcm) {
  std::vector<double> out;
  const size_t n = pcm.size() / 2;
  long last_loud = -kSampleRate;
  for (size_t i = 0; i < n; ++i) {
    const int v = int16_t(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    if (std::abs(v) < 3000) continue;
    if (long(i) - last_loud > kSampleRate / 2) out.push_back(double(i) / kSampleRate);
    last_loud = long(i);
  }
  return out;
}

class RateSave : public ::testing::TestWithParam<Case> {};

const Case kCases[] = {
    // 29.97 into 25: frames dropped.
    {"NtscInto25", {{"rt_25.mpg", 25.0}, {"rt_ntsc.mpg", 30000.0 / 1001}}, {{0, 30, 62}, {1, 36, 75}}, 25.0},
    // 24 into 25, the second part named as the reference: frames repeated.
    {"Film24Into25", {{"rt_24.mpg", 24.0}, {"rt_25.mpg", 25.0}}, {{0, 29, 60}, {1, 30, 62}}, 25.0, 1},
    // 25 into 29.97.
    {"PalIntoNtsc", {{"rt_ntsc.mpg", 30000.0 / 1001}, {"rt_25.mpg", 25.0}}, {{0, 36, 75}, {1, 30, 62}}, 30000.0 / 1001},
};

TEST_P(RateSave, ClipsOfOtherRatesAreConvertedInStep) {
  const Case& c = GetParam();
  const std::string dir = tsupport::temp_dir();
  std::map<std::string, std::vector<uint8_t>> sources;
  std::string names, keep;
  for (const RateFile& f : c.files) {
    names += (names.empty() ? "" : ",") + fixture(f.name);
    std::vector<uint8_t>& raw = sources[f.name];
    if (raw.empty()) raw = tsupport::ffmpeg_raw(fixture(f.name), " -map 0:v:0", "yuv420p", dir + "/src.yuv");
  }
  for (const Part& p : c.parts)
    keep += (keep.empty() ? "" : ",") + std::to_string(p.file) + "@" + std::to_string(p.a) + ":" + std::to_string(p.b);
  SCOPED_TRACE(keep + " of " + names);
  const std::string out = dir + "/rate.mpg";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("save " + sh_quote(names) + " " + sh_quote(out) + " --keep " + keep + " --kind ps --ref " +
                              std::to_string(c.ref),
                          &lines),
            0);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");

  // Each part lasts its source duration rounded to output frames.
  std::vector<int> out_first;
  int frames = 0;
  for (const Part& p : c.parts) {
    out_first.push_back(frames);
    frames += int(std::lround((p.b - p.a + 1) * c.out_rate / c.files[size_t(p.file)].rate));
  }
  long long said = -1;
  for (const std::string& l : lines)
    if (l.rfind("save ", 0) == 0) said = tsupport::field_int(l, "frames");
  EXPECT_EQ(said, frames);
  Probe info = probe(out);
  EXPECT_EQ(info.video_rate, c.out_rate == 25.0 ? "25/1" : "30000/1001");
  // Duration: the last picture's time stamp is (frames - 1) periods after
  // the first.
  ASSERT_EQ(int(info.frame_times.size()), frames);
  std::sort(info.frame_times.begin(), info.frame_times.end());
  EXPECT_NEAR(info.frame_times.back() - info.frame_times.front(), (frames - 1) / c.out_rate, 0.5 / c.out_rate);

  const std::string yuv = dir + "/out.yuv", pcm_path = dir + "/out.pcm";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + sh_quote(out) +
                          " -map 0:v:0 -fps_mode passthrough -f rawvideo -pix_fmt yuv420p -y " + sh_quote(yuv) +
                          " -map 0:a:0 -ac 1 -ar 48000 -f s16le -y " + sh_quote(pcm_path)),
            0);
  const std::vector<uint8_t> got = tsupport::read_file(yuv);
  ASSERT_EQ(got.size(), size_t(frames) * kFrameBytes);

  // Pictures: each output frame shows the source frame of its time.
  for (size_t k = 0; k < c.parts.size(); ++k) {
    const Part& p = c.parts[k];
    const RateFile& f = c.files[size_t(p.file)];
    const std::vector<uint8_t>& src = sources[f.name];
    ASSERT_GT(int(src.size() / kFrameBytes), p.b);
    const bool same = std::fabs(f.rate - c.out_rate) < 1e-6;
    const int n = (k + 1 < c.parts.size() ? out_first[k + 1] : frames) - out_first[k];
    for (int j = 0; j < n; ++j) {
      const uint8_t* o = got.data() + size_t(out_first[k] + j) * kFrameBytes;
      const double ideal = p.a + j * f.rate / c.out_rate;
      // The nearest source frame by luminance, then its worst plane.
      int best = -1;
      double best_db = -1;
      for (int s = std::max(p.a, int(ideal) - 2); s <= std::min(p.b, int(ideal) + 3); ++s) {
        const double db = tsupport::psnr(o, src.data() + size_t(s) * kFrameBytes, size_t(kW) * kH);
        if (db > best_db) best_db = db, best = s;
      }
      best_db = psnr3(o, src.data() + size_t(best) * kFrameBytes);
      if (same) {
        EXPECT_EQ(best, p.a + j) << "part " << k << " output frame " << j;
        EXPECT_GE(best_db, 40.0) << "part " << k << " output frame " << j;
      } else {
        EXPECT_LE(std::fabs(best - ideal), 1.0) << "part " << k << " output frame " << j << " shows " << best;
        EXPECT_GE(best_db, 35.0) << "part " << k << " output frame " << j;
      }
    }
  }

  // Sound: every beep of a kept second where its pictures are, within an
  // audio frame and a video frame (no part starts or ends inside a beep).
  const std::vector<uint8_t> pcm = tsupport::read_file(pcm_path);
  const double lead = info.audio_start - info.video_start;
  std::vector<double> heard = beep_starts(pcm);
  for (double& t : heard) t += lead;
  std::vector<double> want;
  for (size_t k = 0; k < c.parts.size(); ++k) {
    const Part& p = c.parts[k];
    const double r = c.files[size_t(p.file)].rate;
    const double from = p.a / r, to = (p.b + 1) / r;
    for (int s = 1; s <= 3; ++s)
      if (s >= from && s < to) want.push_back(out_first[k] / c.out_rate + (s - from));
  }
  const double slack = 1152.0 / kSampleRate + 1.0 / c.out_rate;
  ASSERT_EQ(heard.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) EXPECT_NEAR(heard[i], want[i], slack) << "beep " << i;
  // The sound ends with the pictures.
  EXPECT_NEAR(double(pcm.size() / 2) / kSampleRate + lead, frames / c.out_rate, slack);
}

INSTANTIATE_TEST_SUITE_P(Joins, RateSave, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.label); });

}  // namespace
