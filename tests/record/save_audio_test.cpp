// The audio of a save against ffmpeg: outputs with audio decode silently,
// audio starts with the video and lasts as long, every flash of the
// picture meets its beep after each join, copied MP2 and AC-3 frames are
// the source's own, LPCM and gain envelopes re-encode, several streams come
// out with distinct ids and PIDs; and the PCM mix of unequal blocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "record/record_audio.h"
#include "support/support.h"

namespace {

using tsupport::fixture;
using tsupport::run;
using tsupport::sh_quote;

struct Saved {
  int rc = 0;
  std::vector<std::string> lines;
  std::vector<std::string> audio;  // the "audio ..." lines
  std::string last() const { return lines.empty() ? "" : lines.back(); }
};

Saved save(const std::string& in, const std::string& out, const std::string& args) {
  Saved s;
  s.rc = tsupport::dev("save " + sh_quote(in) + " " + sh_quote(out) + " " + args, &s.lines);
  for (const std::string& l : s.lines)
    if (l.rfind("audio ", 0) == 0) s.audio.push_back(l);
  return s;
}

std::string decode_errors(const std::string& path) {
  std::string err;
  run("ffmpeg -nostdin -v error -xerror -i " + sh_quote(path) + " -map 0 -f null - 2>&1", &err);
  return err;
}

struct StreamFacts {
  std::string codec, id;
  double start = 0;
  int packets = 0;
  int sample_rate = 0;
};

// Per stream of the file (program entries of a transport stream skipped).
std::vector<StreamFacts> streams(const std::string& path) {
  std::string out;
  run("ffprobe -v error -count_packets -show_entries stream=codec_type,codec_name,id,start_time,nb_read_packets,"
      "sample_rate -of compact=p=0:nk=0 " +
          sh_quote(path),
      &out);
  std::vector<StreamFacts> r;
  std::set<std::string> seen;
  for (const std::string& l : tsupport::split_lines(out)) {
    if (l.find("codec_type=") == std::string::npos || !seen.insert(l).second) continue;
    StreamFacts f;
    std::stringstream ss(l);
    std::string kv;
    while (std::getline(ss, kv, '|')) {
      const size_t eq = kv.find('=');
      if (eq == std::string::npos) continue;
      const std::string k = kv.substr(0, eq), v = kv.substr(eq + 1);
      if (k == "codec_name") f.codec = v;
      if (k == "id") f.id = v;
      if (k == "start_time") f.start = std::atof(v.c_str());
      if (k == "nb_read_packets") f.packets = std::atoi(v.c_str());
      if (k == "sample_rate") f.sample_rate = std::atoi(v.c_str());
    }
    if (f.codec != "dvd_nav_packet") r.push_back(f);
  }
  return r;
}

// Times (s) of the first frame of each flash of the picture and of the
// first block (240 samples: 5 ms at 48 kHz) of each beep of audio stream a.
std::vector<double> flashes(const std::string& path) {
  std::string out;
  run("ffprobe -v error -f lavfi -i " + sh_quote("movie=" + path + ",scale=90:72,signalstats") +
          " -show_entries frame=pts_time:frame_tags=lavfi.signalstats.YAVG -of csv=p=0",
      &out);
  std::vector<double> r;
  double prev = -9;
  for (const std::string& l : tsupport::split_lines(out)) {
    double t = 0, y = 0;
    if (std::sscanf(l.c_str(), "%lf,%lf", &t, &y) != 2 || y <= 200) continue;
    if (t - prev > 0.2) r.push_back(t);
    prev = t;
  }
  return r;
}

std::vector<double> beeps(const std::string& path, int a, int block = 240) {
  std::string out;
  run("ffmpeg -nostdin -v info -copyts -i " + sh_quote(path) + " -map 0:a:" + std::to_string(a) +
          " -af asetnsamples=n=" + std::to_string(block) + ",astats=metadata=1:reset=1,ametadata=print:key=lavfi.astats.Overall.Peak_level"
          " -f null - 2>&1",
      &out);
  std::vector<double> r;
  double t = 0, prev = -9;
  for (const std::string& l : tsupport::split_lines(out)) {
    const size_t p = l.find("pts_time:");
    if (p != std::string::npos) t = std::atof(l.c_str() + p + 9);
    // Peak in dB: the beep is 2 dB under full scale, the rest silence.
    const size_t m = l.find("Peak_level=");
    if (m == std::string::npos || l.find("inf", m) != std::string::npos || std::atof(l.c_str() + m + 11) <= -20) continue;
    if (t - prev > 0.2) r.push_back(t);
    prev = t;
  }
  return r;
}

// Every flash has a beep within `tolerance` seconds, and no beep is alone.
void expect_in_sync(const std::string& path, int a, double tolerance) {
  const std::vector<double> f = flashes(path), b = beeps(path, a);
  ASSERT_FALSE(f.empty()) << path;
  EXPECT_EQ(f.size(), b.size()) << path << " audio " << a;
  for (double t : f) {
    double best = 1e9;
    for (double u : b) best = std::min(best, std::fabs(u - t));
    EXPECT_LE(best, tolerance) << path << " audio " << a << ": flash at " << t;
  }
}

// The frames of an MPEG audio or AC-3 elementary stream.
std::vector<std::vector<uint8_t>> frames_of(const std::vector<uint8_t>& es) {
  static const int kMp2Rates[16] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0};
  static const int kAc3Rates[19] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 448, 512, 576, 640};
  std::vector<std::vector<uint8_t>> r;
  size_t i = 0;
  while (i + 5 < es.size()) {
    size_t len = 0;
    if (es[i] == 0xFF && (es[i + 1] & 0xFE) == 0xFC) {  // MPEG-1 layer II
      const int br = kMp2Rates[es[i + 2] >> 4], sr = (es[i + 2] >> 2) & 3, pad = (es[i + 2] >> 1) & 1;
      const int rate = sr == 0 ? 44100 : sr == 1 ? 48000 : 32000;
      len = size_t(144000 * br / rate + pad);
    } else if (es[i] == 0x0B && es[i + 1] == 0x77) {  // AC-3, 48 kHz
      const int code = es[i + 4] & 0x3F;
      len = code / 2 < 19 ? size_t(kAc3Rates[code / 2] * 4) : 0;
    }
    if (len == 0 || i + len > es.size()) break;
    r.emplace_back(es.begin() + long(i), es.begin() + long(i + len));
    i += len;
  }
  return r;
}

std::vector<uint8_t> audio_es(const std::string& path, int a, const char* format) {
  const std::string out = tsupport::temp_dir() + "/a" + std::to_string(a) + "." + format;
  run("ffmpeg -nostdin -v error -y -i " + sh_quote(path) + " -map 0:a:" + std::to_string(a) + " -c copy -f " + format +
          " " + sh_quote(out),
      nullptr);
  return tsupport::read_file(out);
}

// Each output frame is a source frame, in runs of consecutive source
// frames: at most `runs` of them (one per kept range, more where silence
// fills a gap).
void expect_copied_frames(const std::string& src, int src_a, const std::string& out, int out_a, const char* format,
                          int runs) {
  const auto s = frames_of(audio_es(src, src_a, format)), o = frames_of(audio_es(out, out_a, format));
  ASSERT_GT(s.size(), 10u);
  ASSERT_GT(o.size(), 10u);
  int breaks = 0, foreign = 0;
  size_t at = s.size();
  for (size_t k = 0; k < o.size(); ++k) {
    if (at + 1 < s.size() && s[at + 1] == o[k]) {
      ++at;
      continue;
    }
    // Of the source frames equal to this one (silent frames repeat), the
    // one that starts the longest run.
    size_t best = s.size(), best_run = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      size_t n = 0;
      while (i + n < s.size() && k + n < o.size() && s[i + n] == o[k + n]) ++n;
      if (n > best_run) best = i, best_run = n;
    }
    // A silent frame where a range runs past the source's sound.
    if (best == s.size()) {
      ++foreign;
      at = s.size();
      continue;
    }
    at = best;
    ++breaks;
  }
  EXPECT_LE(breaks, runs) << out;
  EXPECT_LE(foreign, 1) << out;
}

struct Case {
  const char* source;
  const char* keep;
  const char* kind;
  int audio_streams;
};

// Audio and video start together and last as long, within one audio frame.
void expect_lengths(const std::string& out, int video_frames, double fps) {
  const std::vector<StreamFacts> st = streams(out);
  ASSERT_GE(st.size(), 2u) << out;
  const StreamFacts& v = st[0];
  const double video = video_frames / fps;
  for (size_t k = 1; k < st.size(); ++k) {
    const StreamFacts& a = st[k];
    const double d = (a.codec == "ac3" ? 1536.0 : 1152.0) / a.sample_rate;
    EXPECT_LE(std::fabs(a.start - v.start), d) << out << " stream " << k;
    EXPECT_LE(std::fabs(a.packets * d - video), d + 1e-6) << out << " stream " << k << ": " << a.packets << " frames";
  }
}

int video_frames(const Saved& s) { return int(tsupport::field_int(s.last(), "frames")); }

// Three ranges whose cut-ins are I pictures (nothing to re-encode), the
// MP2 copied.
void check_copied_mp2(const Case& c) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = fixture(c.source), out = dir + "/" + c.kind + "_" + c.source;
  const Saved s = save(in, out, std::string("--keep ") + c.keep + " --kind " + c.kind);
  ASSERT_EQ(s.rc, 0) << s.last();
  ASSERT_EQ(s.audio.size(), 1u) << c.kind;
  EXPECT_EQ(tsupport::field(s.audio[0], "id"), "0xC0");
  EXPECT_EQ(tsupport::field_int(s.audio[0], "encoded"), 0) << s.audio[0];
  EXPECT_EQ(tsupport::field_int(s.audio[0], "copied"), tsupport::field_int(s.audio[0], "frames"));
  EXPECT_EQ(decode_errors(out), "") << c.kind;
  expect_lengths(out, video_frames(s), 25.0);
  // One audio frame (24 or 26 ms) plus the 5 ms the beep is measured in.
  expect_in_sync(out, 0, 0.031);
  expect_copied_frames(in, 0, out, 0, "mp2", 3);
}

}  // namespace

TEST(SaveAudio, CopiedMp2ToProgramStream) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  check_copied_mp2({"cv_dvd.vob", "0:20,25:44,50:74", "ps", 1});
}
TEST(SaveAudio, CopiedMp2ToDvd) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  check_copied_mp2({"cv_dvd.vob", "0:20,25:44,50:74", "dvd", 1});
}
TEST(SaveAudio, CopiedMp2ToTransportStream) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  check_copied_mp2({"cv_dvd.vob", "0:30,41:60,66:74", "ts", 1});
}
TEST(SaveAudio, CopiedMp2ToVideoCd) {
  TSUPPORT_NEED_FIXTURES("cv_vcd.mpg");
  check_copied_mp2({"cv_vcd.mpg", "0:20,26:44,50:74", "vcd", 1});
}

// Each range's sound starts where its first picture's time stamp says (the
// sources' sound leads their video by 10 ms), and what one range leaves
// over is taken from the next: copied, every beep after every join lies
// within half an audio frame of its flash (plus the 1 ms the beep is
// measured in), where the frames counted from the sound's own start landed
// up to a frame late; encoded (a gain applies), the sound is cut at the
// sample and every beep lies the layer II coding delay (481 samples,
// 10 ms) after its flash.
TEST(SaveAudio, JoinsKeepTheSourcesOffset) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_vcd.mpg", "cv_dvd_pcm.vob");
  const struct {
    const char* source;
    const char* keep;
    const char* kind;
    int rate;
    bool encoded;
  } cases[] = {
      {"cv_dvd.vob", "3:27,33:52,58:74", "dvd", 48000, false},
      {"cv_dvd.vob", "0:20,25:44,50:74", "ps", 48000, false},
      {"cv_vcd.mpg", "7:26,31:51,57:74", "vcd", 44100, false},
      {"cv_vcd.mpg", "13:30,37:56,62:74", "vcd", 44100, false},
      {"cv_dvd.vob", "3:27,33:52,58:74", "ps", 48000, true},
      {"cv_dvd.vob", "13:30,37:56,62:74", "ps", 48000, true},
      // LPCM is always encoded and cut at the sample like decoded MP2.
      {"cv_dvd_pcm.vob", "3:27,33:52,58:74", "ps", 48000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " --keep " + c.keep + (c.encoded ? " encoded" : ""));
    const std::string out = tsupport::temp_dir() + "/joins." + c.kind;
    const Saved s = save(fixture(c.source), out,
                         std::string("--keep ") + c.keep + " --kind " + c.kind + (c.encoded ? " --gain 0:0.5" : ""));
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 1u);
    EXPECT_EQ(tsupport::field_int(s.audio[0], "encoded") > 0, c.encoded) << s.audio[0];
    const std::vector<double> f = flashes(out), b = beeps(out, 0, 48);
    ASSERT_GE(f.size(), 2u);
    EXPECT_EQ(f.size(), b.size());
    const double want = c.encoded ? 481.0 / c.rate : 0.0;
    const double room = (c.encoded ? 0.0 : 0.5 * 1152.0 / c.rate) + 0.0015;
    for (double t : f) {
      double best = 1e9;
      for (double u : b)
        if (std::fabs(u - t) < std::fabs(best)) best = u - t;
      EXPECT_LE(std::fabs(best - want), room) << "flash at " << t << ": beep " << best * 1000 << " ms off";
    }
  }
}

TEST(SaveAudio, Ac3IsCopied) {
  TSUPPORT_NEED_FIXTURES("cv_ntsc.vob");
  const std::string dir = tsupport::temp_dir();
  {
    const std::string in = fixture("cv_ntsc.vob"), out = dir + "/ntsc.vob";
    const Saved s = save(in, out, "--keep 0:25,30:55,60:89 --kind dvd");
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 1u);
    EXPECT_EQ(tsupport::field(s.audio[0], "id"), "0x80");
    EXPECT_EQ(tsupport::field_int(s.audio[0], "kind"), 9);
    EXPECT_EQ(decode_errors(out), "");
    expect_lengths(out, video_frames(s), 30000.0 / 1001);
    expect_in_sync(out, 0, 0.032 + 0.005);
    // The last frame past the source's sound may repeat: four runs at most.
    expect_copied_frames(in, 0, out, 0, "ac3", 4);
    // Nothing encodes AC-3: a gain envelope leaves the frames copied, none
    // lost, the sound in place.
    const std::string gained = dir + "/ntsc_gain.vob";
    const Saved g = save(in, gained, "--keep 0:25,30:55,60:89 --kind dvd --gain 0:1,1:0.5");
    ASSERT_EQ(g.rc, 0) << g.last();
    ASSERT_EQ(g.audio.size(), 1u);
    EXPECT_EQ(tsupport::field(g.audio[0], "frames"), tsupport::field(s.audio[0], "frames"));
    EXPECT_EQ(tsupport::field(g.audio[0], "copied"), tsupport::field(s.audio[0], "copied"));
    EXPECT_TRUE(tsupport::read_file(gained) == tsupport::read_file(out));
  }
}

TEST(SaveAudio, TwoStreamsBothComeOutInSync) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_2a.vob");
  const std::string dir = tsupport::temp_dir();
  for (const char* kind : {"dvd", "ts"}) {
    const std::string in = fixture("cv_dvd_2a.vob"), out = dir + "/2a." + kind;
    const Saved s = save(in, out, std::string("--keep 0:20,25:44,50:74 --kind ") + kind);
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 2u) << kind;
    EXPECT_NE(tsupport::field(s.audio[0], "id"), tsupport::field(s.audio[1], "id"));
    EXPECT_EQ(decode_errors(out), "") << kind;
    const std::vector<StreamFacts> st = streams(out);
    ASSERT_EQ(st.size(), 3u) << kind;
    EXPECT_NE(st[1].id, st[2].id);
    expect_lengths(out, video_frames(s), 25.0);
    expect_in_sync(out, 0, 0.031);
    expect_in_sync(out, 1, 0.037);
  }
}

TEST(SaveAudio, FourStreamsOfATransportStreamKeepDistinctIdsAndPids) {
  TSUPPORT_NEED_FIXTURES("cv_5.ts");
  const std::string dir = tsupport::temp_dir();
  {
    // Video, three AC-3 streams and one MP2: all four come out.
    const std::string in = fixture("cv_5.ts"), out = dir + "/five.ts";
    const Saved s = save(in, out, "--keep 0:20,25:44,50:74 --kind ts");
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 4u);
    std::set<std::string> ids, pids;
    for (const std::string& l : s.audio) {
      ids.insert(tsupport::field(l, "id"));
      pids.insert(tsupport::field(l, "pid"));
      EXPECT_EQ(tsupport::field_int(l, "encoded"), 0) << l;
    }
    EXPECT_EQ(ids.size(), 4u);
    EXPECT_EQ(pids.size(), 4u);
    EXPECT_EQ(decode_errors(out), "");
    const std::vector<StreamFacts> st = streams(out);
    ASSERT_EQ(st.size(), 5u);
    expect_lengths(out, video_frames(s), 25.0);
    for (int a = 0; a < 4; ++a) expect_in_sync(out, a, 0.037);
  }
}

TEST(SaveAudio, LpcmAndGainEnvelopesAreEncodedAsMpegAudio) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_pcm.vob", "cv_dvd.vob");
  const std::string dir = tsupport::temp_dir();
  {
    const std::string out = dir + "/pcm.mpg";
    const Saved s = save(fixture("cv_dvd_pcm.vob"), out, "--keep 0:20,25:44,50:74 --kind ps");
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 1u);
    EXPECT_EQ(tsupport::field(s.audio[0], "id"), "0xC0");
    EXPECT_EQ(tsupport::field_int(s.audio[0], "kind"), 1);
    EXPECT_EQ(tsupport::field_int(s.audio[0], "copied"), 0);
    EXPECT_EQ(decode_errors(out), "");
    const std::vector<StreamFacts> st = streams(out);
    ASSERT_EQ(st.size(), 2u);
    EXPECT_EQ(st[1].codec, "mp2");
    expect_lengths(out, video_frames(s), 25.0);
    // Encoding adds its own delay: one audio and one video frame.
    expect_in_sync(out, 0, 0.064);
  }
  {
    // Full level, a quarter from 1 s on: the beeps follow the envelope.
    const std::string out = dir + "/gain.mpg";
    const Saved s = save(fixture("cv_dvd.vob"), out, "--keep 0:74 --kind ps --gain 0:1,0.9:1,1:0.25");
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 1u);
    EXPECT_EQ(tsupport::field_int(s.audio[0], "copied"), 0);
    EXPECT_GT(tsupport::field_int(s.audio[0], "encoded"), 0);
    EXPECT_EQ(decode_errors(out), "");
    expect_lengths(out, video_frames(s), 25.0);
    auto peak = [&](double from, double to) {
      std::string o;
      run("ffmpeg -nostdin -v info -i " + sh_quote(out) + " -map 0:a -af atrim=" + std::to_string(from) + ":" +
              std::to_string(to) + ",astats=measure_overall=Peak_level:measure_perchannel=none -f null - 2>&1",
          &o);
      const size_t p = o.find("Peak level dB:");
      return p == std::string::npos ? 0.0 : std::atof(o.c_str() + p + 14);
    };
    const double loud = peak(0.0, 0.1), soft = peak(1.0, 1.1), soft2 = peak(2.0, 2.1);
    EXPECT_NEAR(loud - soft, 12.0, 1.5);  // a quarter is -12 dB
    EXPECT_NEAR(loud - soft2, 12.0, 1.5);
  }
}

TEST(SaveAudio, AudioStartingAfterTheVideoKeepsItsDelayAndNoAudioMeansNone) {
  TSUPPORT_NEED_FIXTURES("cv_late.mpg", "cv_lead.mpg");
  const std::string dir = tsupport::temp_dir();
  for (const char* src : {"cv_late.mpg", "cv_lead.mpg"}) {
    const std::string in = fixture(src), out = dir + "/" + src;
    const Saved s = save(in, out, "--keep 0:20,25:44,50:74 --kind ps");
    ASSERT_EQ(s.rc, 0) << s.last();
    ASSERT_EQ(s.audio.size(), 1u);
    EXPECT_EQ(decode_errors(out), "") << src;
    expect_lengths(out, video_frames(s), 25.0);
    // The source beeps half a second after each whole second of its
    // video: each kept range carries the beeps of its own stretch.
    const std::vector<StreamFacts> st = streams(out);
    ASSERT_EQ(st.size(), 2u);
    const std::pair<int, int> ranges[] = {{0, 20}, {25, 44}, {50, 74}};
    std::vector<double> want;
    // Three seconds of sound from 0.5 s after (before) the video's start.
    const double sound_end = std::string(src) == "cv_late.mpg" ? 3.5 : 2.5;
    double at = st[0].start;
    for (auto [a, b] : ranges) {
      for (double t = 0.5; t < 3.0; t += 1.0)
        if (t >= a / 25.0 && t < (b + 1) / 25.0 - 0.01 && t < sound_end) want.push_back(at + t - a / 25.0);
      at += (b - a + 1) / 25.0;
    }
    const std::vector<double> got = beeps(out, 0);
    std::string seen;
    for (double t : got) seen += " " + std::to_string(t);
    ASSERT_EQ(got.size(), want.size()) << src << ":" << seen;
    for (size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], want[k], 0.031) << src << " beep " << k;
  }
  const std::string out = dir + "/mute.mpg";
  const Saved s = save(fixture("cv_late.mpg"), out, "--keep 0:20 --kind ps --no-audio");
  ASSERT_EQ(s.rc, 0) << s.last();
  EXPECT_TRUE(s.audio.empty());
  EXPECT_EQ(streams(out).size(), 1u);
}

TEST(SaveAudio, MixAveragesBlocksAndZeroFillsShortOnes) {
  const int16_t a[6] = {100, -100, 30000, 7, 8, 9};
  const int16_t b[6] = {300, -301, 30000, 999, 999, 999};  // stale past its 3 samples
  const int16_t c[6] = {-3, 3, -30000, 0, 0, 0};
  const int16_t* blocks[3] = {a, b, c};
  int16_t out[8];
  std::fill(out, out + 8, int16_t(12345));
  int counts[3] = {6, 3, 2};
  ASSERT_EQ(audio_mix_blocks(blocks, counts, 2, 8, out), 6);
  const int16_t two[8] = {200, -200, 30000, 3, 4, 4, 0, 0};  // (a + 0) / 2 past b's samples
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], two[i]) << i;
  ASSERT_EQ(audio_mix_blocks(blocks, counts, 3, 8, out), 6);
  const int16_t three[8] = {132, -132, 20000, 2, 2, 3, 0, 0};  // truncated toward zero
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], three[i]) << i;
  // A last block of 500 values in a 2304-value frame: zeros after them.
  std::vector<int16_t> last(500, 1000), buf(2304, 77);
  const int16_t* one[1] = {last.data()};
  int n = 500;
  ASSERT_EQ(audio_mix_blocks(one, &n, 1, 2304, buf.data()), 500);
  EXPECT_EQ(buf[499], 1000);
  EXPECT_EQ(std::count(buf.begin() + 500, buf.end(), int16_t(0)), 1804);
}

TEST(SaveAudio, StreamIdentitiesAreDistinctAndLpcmBecomesMpegAudio) {
  uint32_t taken[8] = {};
  ESData ac3a, ac3b, mpa, pcm;
  ac3a.kind = ac3b.kind = ES_KIND_AC3;
  ac3a.ac3 = ac3b.ac3 = 1;
  ac3a.stream_id = ac3b.stream_id = 0xBD;
  mpa.kind = ES_KIND_MPEG_AUDIO;
  mpa.layer = 2;
  mpa.stream_id = 0xC0;
  pcm.set_lpcm_header(0xA0, 48000, 2);
  for (ESData* e : {&ac3a, &ac3b, &mpa, &pcm}) save_audio_identity(e, taken);
  EXPECT_EQ(ac3a.stream_id, 0x80);
  EXPECT_EQ(ac3b.stream_id, 0x81);
  EXPECT_EQ(mpa.stream_id, 0xC0);
  EXPECT_EQ(pcm.stream_id, 0xC1);
  EXPECT_EQ(pcm.kind, ES_KIND_MPEG_AUDIO);
  EXPECT_EQ(pcm.layer, 2);
  EXPECT_EQ(pcm.lpcm, 0);
  EXPECT_EQ(pcm.audio_bit_rate, 224000);
}

namespace {

// Amplitude of a `hz` sine in [from, to) s of audio stream a, decoded by
// ffmpeg to mono at 48 kHz.
double tone_level(const std::string& path, int a, double hz, double from, double to) {
  const std::string pcm = tsupport::temp_dir() + "/tone.s16";
  run("ffmpeg -nostdin -v error -y -i " + sh_quote(path) + " -map 0:a:" + std::to_string(a) +
          " -ac 1 -ar 48000 -f s16le " + sh_quote(pcm),
      nullptr);
  const std::vector<uint8_t> b = tsupport::read_file(pcm);
  const size_t first = size_t(from * 48000), last = std::min(size_t(to * 48000), b.size() / 2);
  double re = 0, im = 0;
  for (size_t i = first; i < last; ++i) {
    const double v = int16_t(uint16_t(b[2 * i] | b[2 * i + 1] << 8)) / 32768.0;
    re += v * std::cos(2 * M_PI * hz * double(i) / 48000);
    im += v * std::sin(2 * M_PI * hz * double(i) / 48000);
  }
  return last > first ? 2 * std::hypot(re, im) / double(last - first) : 0.0;
}

}  // namespace

// Two streams mixed into one: an MPEG audio stream encoded from their
// average, each source's sound at half its level, the beeps in sync.
TEST(SaveAudio, MixedStreamsComeOutAsOneAverage) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_mix.vob");
  const std::string in = fixture("cv_dvd_mix.vob"), out = tsupport::temp_dir() + "/mix.mpg";
  const Saved s = save(in, out, "--keep 0:74 --kind dvd --mix-audio");
  ASSERT_EQ(s.rc, 0) << s.last();
  ASSERT_EQ(s.audio.size(), 1u);
  EXPECT_EQ(tsupport::field(s.audio[0], "id"), "0xC0");
  EXPECT_EQ(tsupport::field_int(s.audio[0], "copied"), 0);
  EXPECT_EQ(decode_errors(out), "");
  ASSERT_EQ(streams(out).size(), 2u);
  expect_lengths(out, video_frames(s), 25.0);
  // A second of each: one beep (1 kHz) and the steady 300 Hz tone.
  for (const auto& [a, hz] : {std::pair<int, double>{0, 1000.0}, {1, 300.0}}) {
    SCOPED_TRACE(hz);
    const double src = tone_level(in, a, hz, 0.5, 1.5), got = tone_level(out, 0, hz, 0.5, 1.5);
    ASSERT_GT(src, 0.005);
    EXPECT_NEAR(got / src, 0.5, 0.05);
  }
}
