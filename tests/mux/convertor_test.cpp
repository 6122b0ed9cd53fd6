// The systems-stream convertor and the demultiplexer job, read back by
// ffprobe and ffmpeg's own stream copies: pictures and audio frames come
// out as the source's, lead-ins go in whole frames, late audio keeps its
// delay, transport PIDs never clash, and failures end cleanly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "foundation/audio_header.h"
#include "mux/convertor.h"
#include "mux/demux_job.h"
#include "mux/mux_drivers.h"
#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

// ffmpeg's stream copy of one stream of a file (MAP: "0:v:0", "0:a:1").
Bytes copy_out(const std::string& file, const std::string& map, const std::string& format) {
  const std::string out = temp_dir() + "/copy_" + std::to_string(std::hash<std::string>()(file + map)) + "." + format;
  run("ffmpeg -nostdin -hide_banner -loglevel error -y -i " + sh_quote(file) + " -map " + map + " -c copy -f " + format +
      " " + sh_quote(out));
  return read_file(out);
}

Bytes without_end_code(Bytes b) {
  if (b.size() >= 4 && b[b.size() - 4] == 0 && b[b.size() - 3] == 0 && b[b.size() - 2] == 1 && b.back() == 0xB7)
    b.resize(b.size() - 4);
  return b;
}

// MPEG audio frames from the start up to byte `end`; -1 when `end` is not a
// frame boundary.
int mpa_frames_before(const Bytes& b, size_t end) {
  size_t at = 0;
  int n = 0;
  while (at < end && at + 4 <= b.size()) {
    FrmHdr h;
    if (h.parse(uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3]) != 0 ||
        h.frame_size <= 0)
      return -1;
    at += size_t(h.frame_size);
    ++n;
  }
  return at == end ? n : -1;
}

struct ToolRun {
  int rc = -1;
  std::vector<std::string> lines;
  std::string last;
};

ToolRun convert(const std::string& in, const std::string& out, const std::string& args) {
  ToolRun r;
  r.rc = dev("convert " + sh_quote(in) + " " + sh_quote(out) + " " + args, &r.lines);
  r.last = r.lines.empty() ? "" : r.lines.back();
  return r;
}

std::vector<std::string> starting(const std::vector<std::string>& lines, const std::string& head) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(head, 0) == 0) out.push_back(l);
  return out;
}

// Seconds from the first video time stamp to the first of the stream MAP.
double start_gap(const std::string& file, const std::string& map) {
  auto start = [&](const std::string& m) {
    std::string out;
    run("ffprobe -v error -select_streams " + m + " -show_entries stream=start_time -of csv=p=0 " + sh_quote(file),
        &out);
    return std::atof(out.c_str());
  };
  return start(map.substr(2)) - start("v:0");
}

// Every output of a conversion: the video is the source's from its first I
// picture (these sources start with one), the audio the source's frames
// less the whole frames before the video; audio that starts later keeps
// every byte and its delay in its time stamps, with no silence in front.
struct Audio {
  const char* map;
  const char* format;
  int dropped;  // whole frames dropped
};
struct Case {
  const char* source;
  const char* kind;
  const char* ext;
  std::vector<Audio> audio;
};

void check_conversions(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " to " + c.kind);
    const std::string in = fixture(c.source);
    const std::string out = temp_dir() + "/" + c.source + "." + c.ext;
    const ToolRun r = convert(in, out, std::string("--kind ") + c.kind);
    ASSERT_EQ(r.rc, 0) << r.last;
    EXPECT_EQ(field(r.last, "status"), "done");
    EXPECT_EQ(field_int(r.last, "bytes_out"), (long long)read_file(out).size());
    std::string err;
    run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
    EXPECT_EQ(err, "");

    const Bytes src_video = without_end_code(copy_out(in, "0:v:0", "mpeg2video"));
    const Bytes out_video = without_end_code(copy_out(out, "0:v:0", "mpeg2video"));
    ASSERT_GT(src_video.size(), 10000u);
    EXPECT_TRUE(out_video == src_video) << out_video.size() << " vs " << src_video.size();

    for (const Audio& a : c.audio) {
      SCOPED_TRACE(a.map);
      const Bytes s = copy_out(in, a.map, a.format);
      const Bytes o = copy_out(out, a.map, a.format);
      ASSERT_GT(s.size(), 1000u);
      ASSERT_GT(o.size(), 1000u);
      ASSERT_LE(o.size(), s.size());
      EXPECT_TRUE(std::equal(o.begin(), o.end(), s.end() - long(o.size())));
      if (std::string(a.format) == "mp2") EXPECT_EQ(mpa_frames_before(s, s.size() - o.size()), a.dropped);
      // A lead-in loses whole frames only: the sound stays within one frame
      // of where the source has it.
      const double gap = start_gap(in, a.map), kept = start_gap(out, a.map);
      if (gap >= 0) EXPECT_NEAR(kept, gap, 0.001);
      else EXPECT_NEAR(kept, 0.0, 0.036);
    }
  }
}

TEST(Convertor, ProgramStreamOutputsCarryTheSourcesPicturesAndFrames) {
  TSUPPORT_NEED_FIXTURES("cv_mp2.ts", "cv_vcd.mpg", "cv_es.m2v", "cv_lead.mpg", "cv_late.mpg", "cv_ntsc.vob");
  check_conversions({
      {"cv_mp2.ts", "ps", "mpg", {{"0:a:0", "mp2", 0}}},
      {"cv_vcd.mpg", "ps", "mpg", {{"0:a:0", "mp2", 0}}},
      {"cv_es.m2v", "ps", "mpg", {}},
      {"cv_lead.mpg", "ps", "mpg", {{"0:a:0", "mp2", 19}}},  // 0.51 s at 44.1 kHz
      {"cv_late.mpg", "ps", "mpg", {{"0:a:0", "mp2", 0}}},
      {"cv_ntsc.vob", "ps", "mpg", {{"0:a:0", "ac3", 0}}},
  });
}

TEST(Convertor, TransportOutputsCarryTheSourcesPicturesAndFrames) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_dvd_2a.vob", "cv_late.mpg", "cv_lead.mpg");
  check_conversions({
      {"cv_dvd.vob", "ts", "ts", {{"0:a:0", "mp2", 0}}},
      {"cv_late.mpg", "ts", "ts", {{"0:a:0", "mp2", 0}}},
      // The sound leads by 0.5 s, so the source lists it before the video.
      {"cv_lead.mpg", "ts", "ts", {{"0:a:0", "mp2", 19}}},
      {"cv_dvd_2a.vob", "ts", "ts", {{"0:a:0", "mp2", 0}, {"0:a:1", "ac3", 0}}},
  });
}

// Linear PCM goes from DVD program streams and Blu-ray style transport
// streams into either kind sample for sample (ffmpeg's decode compared).
TEST(Convertor, LinearPcmKeepsEverySample) {
  const std::string vob = temp_dir() + "/pcm.vob";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=176x144:rate=25:duration=2 -f lavfi -i "
                "sine=f=440:d=2:r=48000 -ac 2 -c:v mpeg2video -c:a pcm_dvd -f vob " +
                sh_quote(vob)),
            0);
  auto samples = [](const std::string& file) {
    const std::string raw = file + ".s16";
    run("ffmpeg -nostdin -loglevel error -y -i " + sh_quote(file) + " -map 0:a:0 -f s16le " + sh_quote(raw));
    return read_file(raw);
  };
  const std::string bd = lpcm_transport_stream(temp_dir() + "/bd.ts");
  ASSERT_FALSE(bd.empty());
  const std::string ts = temp_dir() + "/pcm.ts";
  struct Step {
    std::string in, out, kind;
  };
  for (const Step& c : {Step{vob, ts, "ts"}, Step{bd, bd + ".mpg", "ps"}, Step{bd, bd + ".ts", "ts"}}) {
    SCOPED_TRACE(c.out);
    const Bytes want = samples(c.in);
    ASSERT_GT(want.size(), 300000u);
    const ToolRun r = convert(c.in, c.out, "--kind " + c.kind);
    ASSERT_EQ(r.rc, 0) << r.last;
    std::string err;
    run("ffmpeg -nostdin -v error -i " + sh_quote(c.out) + " -map 0 -f null - 2>&1", &err);
    EXPECT_EQ(err, "");
    EXPECT_TRUE(samples(c.out) == want);
    EXPECT_NEAR(start_gap(c.out, "0:a:0"), start_gap(c.in, "0:a:0"), 0.001);
  }
  std::string codec;
  run("ffprobe -v error -select_streams a -show_entries stream=codec_name -of csv=p=0 " + sh_quote(ts), &codec);
  EXPECT_EQ(codec.substr(0, 11), "pcm_bluray\n");
}

// Five streams with the default PIDs: the non-MPEG streams counting up from
// the video PID reach the MPEG audio PID; none may share one.
TEST(Convertor, FiveStreamTransportGetsDistinctPids) {
  TSUPPORT_NEED_FIXTURES("cv_5.ts");
  const std::string out = temp_dir() + "/five.ts";
  const ToolRun r = convert(fixture("cv_5.ts"), out, "--kind ts");
  ASSERT_EQ(r.rc, 0) << r.last;
  const auto pids = starting(r.lines, "pid ");
  ASSERT_EQ(pids.size(), 5u);
  std::set<long long> distinct;
  for (const auto& l : pids) {
    const long long p = field_int(l, "pid");
    EXPECT_GE(p, 16);
    EXPECT_NE(p, 16);  // the PMT's
    distinct.insert(p);
  }
  EXPECT_EQ(distinct.size(), 5u);
  std::string ids;
  run("ffprobe -v error -show_entries stream=id,codec_name -of csv=p=0 " + sh_quote(out), &ids);
  std::set<long long> probed;
  for (const auto& l : split_lines(ids))
    if (!l.empty()) probed.insert(std::stoll(l.substr(l.find(',') + 1), nullptr, 16));
  EXPECT_EQ(probed, distinct) << ids;
}

// The allocation the dialog shows is the one the writer uses: audio from
// the audio PID, the rest from the video PID, never the PMT's or a taken one.
TEST(Convertor, TransportPidAllocation) {
  const int V = ES_KIND_MPEG2_VIDEO, A = ES_KIND_MPEG_AUDIO, AC3 = ES_KIND_AC3;
  struct PidCase {
    std::vector<int> kinds;
    int pmt, video, audio;
    std::vector<int> want;
  };
  const PidCase cases[] = {
      {{V, A}, 64, 32, 33, {32, 33}},
      {{V, AC3, A}, 64, 32, 33, {32, 33, 34}},  // the audio passes over the AC-3
      {{V, A, A}, 34, 32, 33, {32, 33, 35}},    // the second audio passes the PMT
      {{V, A}, 8190, 8190, 8189, {16, 8189}},   // wraps below the range
  };
  for (const PidCase& c : cases) {
    EXPECT_EQ(convertor_transport_pids(c.kinds, c.pmt, c.video, c.audio), c.want);
  }
}

// The output goes through the save writer, which counts GOP time codes
// from the output's start: a source made of two recordings, each starting
// at 00:00:00:00, comes out with one running count.
TEST(Convertor, GopTimeCodesRunOnAcrossJoinedRecordings) {
  TSUPPORT_NEED_FIXTURES("cv_es.m2v");
  const Bytes one = read_file(fixture("cv_es.m2v"));
  Bytes two = without_end_code(one);
  two.insert(two.end(), one.begin(), one.end());
  const std::string in = temp_dir() + "/joined.m2v", out = temp_dir() + "/joined.mpg";
  ASSERT_TRUE(write_file(in, two));
  const ToolRun r = convert(in, out, "--kind ps");
  ASSERT_EQ(r.rc, 0) << r.last;
  const Bytes v = copy_out(out, "0:v:0", "mpeg2video");
  int pictures = 0, gops = 0;
  for (size_t i = 0; i + 8 <= v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    if (v[i + 3] == 0x00) ++pictures;
    if (v[i + 3] != 0xB8) continue;
    const uint32_t w = uint32_t(v[i + 4]) << 17 | uint32_t(v[i + 5]) << 9 | uint32_t(v[i + 6]) << 1 | v[i + 7] >> 7;
    const int frames = int(((w >> 19 & 31) * 3600 + (w >> 13 & 63) * 60 + (w >> 6 & 63)) * 25 + (w & 63));
    EXPECT_EQ(frames, pictures) << "GOP " << gops;
    ++gops;
  }
  EXPECT_EQ(pictures, 150);
  EXPECT_GT(gops, 2);
}

// A lead-in skip stays inside its block. Layer II at 44.1 kHz: a 224 kbit/s
// frame (731 bytes) followed by a header changed to 384 kbit/s (1253
// bytes), which is not of the stream: the skip took the changed header's
// size for the frame before it and returned 1253 of 1000 bytes, and the
// save moved a negative count.
TEST(Convertor, LeadInSkipStaysInsideItsBlock) {
  Bytes block(1000, 0);
  const uint8_t first[4] = {0xFF, 0xFD, 0xB0, 0x04}, changed[4] = {0xFF, 0xFD, 0xE0, 0x04};
  std::copy(first, first + 4, block.begin());
  std::copy(changed, changed + 4, block.begin() + 731);
  FrmHdr h;
  ASSERT_EQ(h.parse(0xFFFDB004u), 0);
  ESData es;
  es.set_audio_header(h);
  double lead_in = 90000.0;
  const int dropped = Convertor::skip_mpeg_audio_lead_in(es, block.data(), int(block.size()), &lead_in);
  EXPECT_GE(dropped, 0);
  EXPECT_LE(dropped, int(block.size()));
  EXPECT_NEAR(lead_in, 90000.0 - 1152.0 / 44100 * 90000, 1e-6);
}

// The same end to end: an MPEG-1 system stream whose sound starts 0.5 s
// before its pictures, two MP2 headers changed to 384 kbit/s. With the pair
// at the end of a block the conversion called memmove with a negative size;
// each pair of the lead-in now converts.
TEST(Convertor, ChangedAudioHeadersInTheLeadInConvert) {
  const std::string dir = temp_dir(), src = dir + "/src.mpg", lead = dir + "/lead.mpg";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=3 -f lavfi -i "
                "sine=f=1000:r=44100:d=3.5 -c:v mpeg1video -b:v 1150k -c:a mp2 -b:a 224k -ac 2 -f mpeg " +
                sh_quote(src)),
            0);
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -itsoffset 0.5 -i " + sh_quote(src) + " -i " + sh_quote(src) +
                " -map 0:v -map 1:a -c copy -f mpeg " + sh_quote(lead)),
            0);
  const Bytes good = read_file(lead);
  std::vector<size_t> headers;  // FF FD Bx: layer II at 224 kbit/s
  for (size_t i = 0; i + 3 < good.size(); ++i)
    if (good[i] == 0xFF && good[i + 1] == 0xFD && good[i + 2] >> 4 == 0xB) headers.push_back(i);
  ASSERT_GT(headers.size(), 24u);
  for (size_t k = 0; k + 1 < 22; ++k) {
    SCOPED_TRACE(k);
    Bytes bad = good;
    for (size_t h : {headers[k], headers[k + 1]}) bad[h + 2] = uint8_t((bad[h + 2] & 0x0F) | 0xE0);
    const std::string in = dir + "/changed.mpg";
    ASSERT_TRUE(write_file(in, bad));
    const ToolRun r = convert(in, dir + "/out.mpg", "--kind mpeg1");
    EXPECT_EQ(r.rc, 0) << r.last;
    EXPECT_EQ(field(r.last, "status"), "done");
  }
}

TEST(Convertor, PidSettersRefuseClashesAndRange) {
  Convertor c;
  EXPECT_EQ(c.set_audio_pid(17), 20);  // the video's
  EXPECT_EQ(c.set_pmt_pid(8191), 16);
  EXPECT_EQ(c.set_pmt_pid(8190), 8190);
  EXPECT_EQ(c.set_video_pid(15), 17);
  EXPECT_EQ(c.set_video_pid(8190), 17);  // now the PMT's
  EXPECT_EQ(c.set_video_pid(300), 300);
  EXPECT_EQ(c.set_audio_pid(17), 17);
}

// One load, two saves: the second starts at an I picture too, so both
// outputs are the same.
TEST(Convertor, SecondSaveAfterOneLoadStartsAtAnIPicture) {
  TSUPPORT_NEED_FIXTURES("cv_mp2.ts");
  Convertor c;
  ASSERT_EQ(c.load(fixture("cv_mp2.ts").c_str()), 1);
  int ids[8], pids[8];
  const int n = c.get_es_list(nullptr, ids, pids, 8);
  ASSERT_EQ(n, 2);
  for (int i = 0; i < n; ++i) EXPECT_EQ(c.select_stream(ids[i], pids[i]), 1);
  const std::string a = temp_dir() + "/first.mpg", b = temp_dir() + "/second.mpg";
  JobControl s1, s2;
  EXPECT_GT(c.save(a.c_str(), 6, &s1), 0.0);
  EXPECT_GT(c.save(b.c_str(), 6, &s2), 0.0);
  EXPECT_EQ(s2.result(), 0);
  EXPECT_EQ(s2.outcome(), JobOutcome::done);
  EXPECT_DOUBLE_EQ(s2.progress(), 100.0);
  EXPECT_TRUE(read_file(a) == read_file(b));
  EXPECT_FALSE(read_file(b).empty());
}

// Stops, a payload larger than the packet buffer, an output that is the
// source: each ends with the status it names and leaves what it says.
TEST(Convertor, StopsAndFailuresLeaveTheOutputTheyName) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_bigpes.ts");
  const std::string dir = temp_dir();
  const struct {
    std::string source, out, args, status;
    int rc;
    bool file;
  } cases[] = {
      {fixture("cv_dvd.vob"), dir + "/stop_delete.ts", "--kind ts --stop -1@30", "stopped", 0, false},
      {fixture("cv_dvd.vob"), dir + "/stop_keep.ts", "--kind ts --stop -2@30", "stopped", 0, true},
      {fixture("cv_bigpes.ts"), dir + "/bigpes.mpg", "--kind ps", "failed", 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args + " " + c.out);
    const ToolRun r = convert(c.source, c.out, c.args);
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(field(r.last, "status"), c.status);
    EXPECT_EQ(access(c.out.c_str(), F_OK) == 0, c.file);
    EXPECT_FALSE(partial_left(c.out));
  }
  const long long kept = (long long)read_file(dir + "/stop_keep.ts").size();
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, (long long)read_file(fixture("cv_dvd.vob")).size());

  // Stopped with keep before a whole GOP reached the multiplexer: there is
  // nothing to keep, and the outcome says so instead of a plain stop.
  Convertor early;
  ASSERT_EQ(early.load(fixture("cv_dvd.vob").c_str()), 1);
  int ids[16], pids[16];
  const int n = early.get_es_list(nullptr, ids, pids, 16);
  for (int i = 0; i < n; ++i) early.select_stream(ids[i], pids[i]);
  JobControl control;
  control.set_progress_callback([&control](double p) {
    if (p < 100.0) control.stop(true);
  });
  const std::string none = dir + "/early.mpg";
  early.save(none.c_str(), 6, &control);
  EXPECT_EQ(control.outcome(), JobOutcome::stopped);
  EXPECT_EQ(control.message(), "<" + none + ">: stopped before anything was written");
  EXPECT_NE(access(none.c_str(), F_OK), 0);

  // The source as its own output is refused and stays whole.
  const std::string copy = dir + "/self.vob";
  ASSERT_EQ(run("cp " + sh_quote(fixture("cv_dvd.vob")) + " " + sh_quote(copy)), 0);
  const ToolRun self = convert(copy, copy, "--kind ps");
  EXPECT_EQ(self.rc, 1);
  EXPECT_TRUE(read_file(copy) == read_file(fixture("cv_dvd.vob")));
}

// Damaged, cut and random sources end the conversion (no spin, no crash).
TEST(Convertor, DamagedSourcesEndCleanly) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob", "cv_mp2.ts");
  const std::string dir = temp_dir();
  for (const char* name : {"cv_dvd.vob", "cv_mp2.ts"}) {
    Bytes b = read_file(fixture(name));
    Bytes damaged(b.begin(), b.begin() + long(b.size() * 6 / 10));
    uint32_t x = 12345;
    for (int i = 0; i < 200000; ++i) damaged.push_back(uint8_t((x = x * 1103515245u + 12345u) >> 24));
    Bytes flipped = b;
    for (size_t i = 1000; i < flipped.size(); i += 997) flipped[i] ^= uint8_t(1u << (i % 8));
    const struct {
      std::string tag;
      Bytes bytes;
    } inputs[] = {{"tail", damaged}, {"flipped", flipped}, {"cut", Bytes(b.begin(), b.begin() + long(b.size() / 3))}};
    for (const auto& in : inputs) {
      SCOPED_TRACE(std::string(name) + " " + in.tag);
      const std::string path = dir + "/" + in.tag + "_" + name;
      ASSERT_TRUE(write_file(path, in.bytes));
      const ToolRun r = convert(path, path + ".out.mpg", "--kind ps");
      EXPECT_TRUE(r.rc == 0 || r.rc == 1);
      if (r.rc == 0) EXPECT_EQ(field(r.last, "status"), "done");
    }
  }
  Bytes noise(300000);
  uint32_t x = 99;
  for (auto& v : noise) v = uint8_t((x = x * 1664525u + 1013904223u) >> 24);
  ASSERT_TRUE(write_file(dir + "/noise.mpg", noise));
  EXPECT_EQ(convert(dir + "/noise.mpg", dir + "/noise.out", "--kind ps").rc, 1);
}

// The demultiplexer job: each stream's estimate against the file written.
TEST(DemuxJob, EstimatesAreNearTheFilesWritten) {
  TSUPPORT_NEED_FIXTURES("cv_dvd_2a.vob", "cv_5.ts", "cv_dvd_pcm.vob");
  for (const char* name : {"cv_dvd_2a.vob", "cv_5.ts", "cv_dvd_pcm.vob"}) {
    SCOPED_TRACE(name);
    const std::string dir = temp_dir() + "/est_" + name;
    ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("demux " + sh_quote(fixture(name)) + " " + sh_quote(dir), &lines), 0);
    const auto est = starting(lines, "estimate ");
    const auto outs = starting(lines, "out ");
    ASSERT_EQ(est.size(), outs.size());
    ASSERT_FALSE(est.empty());
    EXPECT_EQ(lines.front().rfind("estimate ", 0), 0u);  // the estimates come first
    for (size_t i = 0; i < est.size(); ++i) {
      SCOPED_TRACE(est[i]);
      EXPECT_EQ(field(est[i], "id"), field(outs[i], "id"));
      EXPECT_EQ(field(est[i], "pid"), field(outs[i], "pid"));
      const double want = double(field_int(outs[i], "bytes"));
      const double got = double(field_int(est[i], "bytes"));
      const bool video = field_int(est[i], "kind") == 2 || field_int(est[i], "kind") == 3;
      EXPECT_NEAR(got / want, 1.0, video ? 0.30 : 0.05) << want;
    }
  }
}

TEST(DemuxJob, SelectionsAndRefusals) {
  TSUPPORT_NEED_FIXTURES("cv_5.ts", "cv_es.m2v");
  EngineError error;
  EXPECT_FALSE(MPEG_Demuxer::create(fixture("cv_es.m2v").c_str(), &error));
  EXPECT_EQ(error.code, EngineError::bad_input);  // an elementary stream is no multiplex
  EXPECT_NE(error.message.find("cv_es.m2v"), std::string::npos) << error.message;

  auto made = MPEG_Demuxer::create(fixture("cv_5.ts").c_str(), &error);
  ASSERT_TRUE(made) << error.message;
  MPEG_Demuxer& job = *made;
  int ids[8], kinds[8], pids[8];
  ASSERT_EQ(job.get_es_list(ids, kinds, pids, 8), 5);
  EXPECT_EQ(job.get_stream_type(), 8);
  const std::string dir = temp_dir();
  // Two selections naming one file: only the first stream is written. A
  // selection without a PID takes the stream id in any program.
  int first_ac3 = -1, second_ac3 = -1;
  for (int i = 0; i < 5; ++i)
    if (kinds[i] == 9) (first_ac3 < 0 ? first_ac3 : second_ac3) = i;
  ASSERT_GE(second_ac3, 0);
  const uint32_t sel[2] = {uint32_t(ids[first_ac3]) | uint32_t(pids[first_ac3]) << 16,
                           uint32_t(ids[second_ac3]) | uint32_t(pids[second_ac3]) << 16};
  const std::string same = dir + "/one.ac3";
  const char* names[2] = {same.c_str(), same.c_str()};
  JobControl status;
  std::vector<ESData> used;
  EXPECT_GT(job.save_es_data(2, sel, names, &status, &used), 0.0);
  ASSERT_EQ(used.size(), 1u);
  EXPECT_EQ(used[0].pid, pids[first_ac3]);
  const Bytes got = read_file(same), ref = copy_out(fixture("cv_5.ts"), "0:a:0", "ac3");
  ASSERT_GT(got.size(), 1000u);
  ASSERT_LE(got.size(), ref.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), ref.end() - long(got.size())));
  // Nothing to start still ends the job: a window waits for the outcome.
  JobControl refused;
  EXPECT_EQ(job.save_es_data(1, nullptr, names, &refused), 0.0);
  EXPECT_EQ(refused.outcome(), JobOutcome::failed);
  EXPECT_DOUBLE_EQ(refused.progress(), 100.0);
}

}  // namespace
