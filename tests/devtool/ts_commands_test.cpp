// tamsel-dev on transport streams: the ES table and selection, GOPs and
// GOP bytes against the carried elementary stream, demultiplexing against
// ffmpeg's copies, stop codes, damaged files and joined recordings.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

std::vector<std::string> tool_lines(const std::string& args, int* rc = nullptr) {
  std::vector<std::string> lines;
  const int r = dev(args, &lines);
  if (rc) *rc = r;
  return lines;
}

std::vector<std::string> starting(const std::vector<std::string>& lines, const std::string& word) {
  std::vector<std::string> out;
  for (const auto& l : lines)
    if (l.rfind(word + " ", 0) == 0) out.push_back(l);
  return out;
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

TEST(TsStreams, TableMatchesFfprobe) {
  for (const char* name : {"ts_m2.ts", "ts_m1.ts", "ts_ac3.ts", "ts_ac3b.ts", "ts_2ac3.ts", "ts_2p.ts"}) {
    SCOPED_TRACE(name);
    const std::string file = fixture(name);
    std::string out;
    run("ffprobe -v error -show_entries stream=id,codec_type,sample_rate,channels -of compact=p=0 " + sh_quote(file),
        &out);
    // One line per stream: codec_type=audio|sample_rate=48000|channels=2|id=0x101
    std::map<int, std::map<std::string, std::string>> want;
    for (const auto& l : split_lines(out)) {
      std::map<std::string, std::string> cur;
      size_t from = 0;
      while (from < l.size()) {
        size_t bar = l.find('|', from);
        if (bar == std::string::npos) bar = l.size();
        const std::string kv = l.substr(from, bar - from);
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) cur[kv.substr(0, eq)] = kv.substr(eq + 1);
        from = bar + 1;
      }
      if (cur.count("id")) want[int(std::stol(cur["id"], nullptr, 16))] = cur;
    }
    int rc = 0;
    const auto es = starting(tool_lines("streams " + sh_quote(file), &rc), "es");
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(es.size(), want.size());
    for (const auto& l : es) {
      const auto& w = want.at(int(field_int(l, "pid")));
      const long long kind = field_int(l, "kind");
      EXPECT_EQ(w.at("codec_type"), kind == 2 || kind == 3 ? "video" : "audio") << l;
      if (w.at("codec_type") == "audio") {
        EXPECT_EQ(field(l, "rate"), w.at("sample_rate")) << l;
        EXPECT_EQ(field(l, "channels"), w.at("channels")) << l;
      }
    }
  }
}

TEST(TsStreams, SelectionsAndDefaults) {
  struct Case {
    const char* name;
    std::string args;
    std::string select;
  };
  const Case cases[] = {
      {"ts_m2.ts", "", "select video_id=0xE0 video_pid=256 audio_id=0xC0 audio_pid=257"},
      {"ts_2ac3.ts", "", "select video_id=0xE0 video_pid=256 audio_id=0xBD audio_pid=258"},  // the 5.1 one
      {"ts_ac3mp2.ts", "", "select video_id=0xE0 video_pid=256 audio_id=0xC0 audio_pid=258"},  // MP2 over AC-3
      {"ts_2p.ts", "--select-video 0xE0:258", "select video_id=0xE0 video_pid=258 audio_id=0xBD audio_pid=259"},
      {"ts_2p.ts", "--select-audio 0xC0:257", "select video_id=0xE0 video_pid=256 audio_id=0xC0 audio_pid=257"},
      {"ts_2ac3.ts", "--select-audio 0xBD:257", "select video_id=0xE0 video_pid=256 audio_id=0xBD audio_pid=257"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.args);
    const auto sel = starting(tool_lines("streams " + sh_quote(fixture(c.name)) + " " + c.args), "select");
    ASSERT_EQ(sel.size(), 1u);
    EXPECT_EQ(sel[0], c.select);
  }
  // Two programs: the table is ordered by program.
  const auto es = starting(tool_lines("streams " + sh_quote(fixture("ts_2p.ts"))), "es");
  ASSERT_EQ(es.size(), 4u);
  for (size_t i = 1; i < es.size(); ++i) EXPECT_LE(field_int(es[i - 1], "program"), field_int(es[i], "program"));
  // A file without joins has no time-stamp table.
  EXPECT_TRUE(starting(tool_lines("streams " + sh_quote(fixture("ts_m2.ts"))), "tstable").empty());
}

// The gops line less its offsets and time stamp, which differ by container.
std::string gop_shape(const std::string& l) {
  return field(l, "bytes") + " " + field(l, "first_field") + " " + field(l, "fields") + " " + field(l, "pictures") +
         " " + field(l, "types") + " " + field(l, "tc");
}

TEST(TsGops, EqualTheElementaryStreamAndFfprobeTimes) {
  struct Case {
    const char* ts;
    const char* es;
    const char* stream;
  };
  for (const Case& c : {Case{"ts_m2.ts", "ts_v.m2v", ""}, Case{"ts_m1.ts", "ts_v.m1v", ""},
                        Case{"ts_2p.ts", "ts_v.m1v", "--stream 0xE0:258"}, Case{"ts_fa.ts", "ts_fa.m2v", ""}}) {
    SCOPED_TRACE(c.ts);
    const auto ts = tool_lines("gops " + sh_quote(fixture(c.ts)) + " " + c.stream);
    const auto es = tool_lines("gops " + sh_quote(fixture(c.es)));
    ASSERT_EQ(ts.size(), es.size());
    ASSERT_GT(ts.size(), 2u);
    EXPECT_EQ(ts.back(), es.back());  // the totals
    std::string out;
    run("ffprobe -v error -select_streams " + std::string(*c.stream ? "v:1" : "v:0") +
            " -show_entries frame=pts -of csv=p=0 " + sh_quote(fixture(c.ts)),
        &out);
    std::vector<double> pts;
    for (const auto& l : split_lines(out))
      if (!l.empty()) pts.push_back(std::stod(l));
    for (size_t i = 0; i + 1 < ts.size(); ++i) {
      EXPECT_EQ(gop_shape(ts[i]), gop_shape(es[i])) << ts[i];
      const size_t frame = size_t(field_int(ts[i], "first_field") / 2);
      ASSERT_LT(frame, pts.size());
      // The index counts time from its first GOP.
      EXPECT_EQ(std::stod(field(ts[i], "pts")), pts[frame] - pts[0]) << ts[i];
    }
    // GOP bytes equal the elementary stream's, first, middle and last.
    const size_t n = ts.size() - 1;
    for (size_t k : {size_t(0), n / 2, n - 1}) {
      const std::string a = temp_dir() + "/a.m2v", b = temp_dir() + "/b.m2v";
      int rc = 0;
      tool_lines("readgop " + sh_quote(fixture(c.ts)) + " " + std::to_string(k) + " " + sh_quote(a) + " " + c.stream,
                 &rc);
      ASSERT_EQ(rc, 0) << k;
      tool_lines("readgop " + sh_quote(fixture(c.es)) + " " + std::to_string(k) + " " + sh_quote(b), &rc);
      ASSERT_EQ(rc, 0);
      EXPECT_TRUE(read_file(a) == read_file(b)) << "GOP " << k;
    }
  }
}

// ffmpeg's copy of a video stream, with the sequence end code our output
// appends (over four closing zero bytes, or behind the last byte).
bool same_video(const std::vector<uint8_t>& ours, std::vector<uint8_t> ref) {
  if (ours == ref) return true;
  static const uint8_t end[4] = {0, 0, 1, 0xB7};
  if (ref.size() >= 4 && std::all_of(ref.end() - 4, ref.end(), [](uint8_t b) { return b == 0; })) {
    auto with = ref;
    std::copy(end, end + 4, with.end() - 4);
    if (ours == with) return true;
  }
  ref.insert(ref.end(), end, end + 4);
  return ours == ref;
}

struct Out {
  std::string line, path;
};

std::vector<Out> demux(const std::string& file, const std::string& dir, const std::string& extra, std::string* last,
                       int* rc) {
  const auto lines = tool_lines("demux " + sh_quote(file) + " " + sh_quote(dir) + " " + extra, rc);
  std::vector<Out> outs;
  for (const auto& l : starting(lines, "out")) outs.push_back({l, dir + "/" + field(l, "file")});
  *last = lines.empty() ? "" : lines.back();
  return outs;
}

double start_time(const std::string& file, const std::string& stream) {
  std::string out;
  run("ffprobe -v error -select_streams " + stream + " -show_entries stream=start_time -of csv=p=0 " + sh_quote(file),
      &out);
  return std::stod(out);
}

TEST(TsDemux, OutputsEqualFfmpegCopiesAfterTheAlignment) {
  struct Case {
    const char* ts;
    int pid;
    const char* ref;
    const char* stream;  // ffprobe's selector of the stream
    double frame_seconds;
    size_t frame;  // bytes: every frame of these streams has one size
  };
  const Case cases[] = {
      {"ts_m2.ts", 257, "ts_m2.ref.mp2", "a:0", 1152.0 / 48000, 576},
      {"ts_late.ts", 257, "ts_late.ref.mp2", "a:0", 1152.0 / 48000, 576},  // audio after the video: silence first
      {"ts_ac3.ts", 257, "ts_ac3.ref.ac3", "a:0", 1536.0 / 48000, 768},
      {"ts_2ac3.ts", 258, "ts_2ac3.ref6.ac3", "a:1", 1536.0 / 48000, 1792},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ts);
    const std::string file = fixture(c.ts);
    const std::string dir = temp_dir() + "/" + c.ts;
    ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
    std::string last;
    int rc = 0;
    const auto outs = demux(file, dir, "", &last, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(field(last, "status"), "done");
    const auto video_ref = read_file(fixture(std::string(c.ts).substr(0, std::string(c.ts).size() - 3) + ".ref.m2v"));
    bool saw_video = false, saw_audio = false;
    for (const Out& o : outs) {
      const auto bytes = read_file(o.path);
      EXPECT_EQ(field_int(o.line, "bytes"), (long long)bytes.size());
      if (field_int(o.line, "pid") == 256) {
        saw_video = true;
        EXPECT_EQ(field(o.line, "file"), "256.m2v");
        EXPECT_TRUE(same_video(bytes, video_ref));
        continue;
      }
      if (field_int(o.line, "pid") != c.pid) continue;
      saw_audio = true;
      const long long align = field_int(o.line, "align");
      const double d = start_time(file, "v:0") - start_time(file, c.stream);
      EXPECT_EQ(align, (long long)std::trunc(d / c.frame_seconds + 1e-9));
      const auto ref = read_file(fixture(c.ref));
      ASSERT_FALSE(ref.empty());
      const size_t frame = c.frame;
      if (align >= 0) {
        ASSERT_EQ(bytes.size() + size_t(align) * frame, ref.size());
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), ref.begin() + long(size_t(align) * frame)));
      } else {
        ASSERT_EQ(bytes.size(), ref.size() + size_t(-align) * frame);
        EXPECT_TRUE(std::equal(ref.begin(), ref.end(), bytes.begin() + long(size_t(-align) * frame)));
        // What comes first decodes as silence.
        const std::string head = dir + "/head.mp2";
        write_file(head, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(size_t(-align) * frame)));
        std::string vol;
        run("ffmpeg -nostdin -v info -i " + sh_quote(head) + " -af volumedetect -f null - 2>&1 | grep max_volume",
            &vol);
        EXPECT_NE(vol.find("-91"), std::string::npos) << vol;
      }
    }
    EXPECT_TRUE(saw_video && saw_audio);
  }
}

TEST(TsDemux, StopCodesAndOnlyOption) {
  const std::string file = fixture("ts_m2.ts");
  struct Case {
    const char* stop;
    bool kept;
  };
  for (const Case& c : {Case{"-1@40", false}, Case{"-2@40", true}}) {
    SCOPED_TRACE(c.stop);
    const std::string dir = temp_dir() + "/stop" + c.stop;
    ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
    std::string last;
    int rc = 0;
    const auto outs = demux(file, dir, std::string("--stop ") + c.stop, &last, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(field(last, "status"), "stopped");
    const long long walked = field_int(last, "bytes");
    EXPECT_GT(walked, 0);
    EXPECT_LT(walked, (long long)read_file(file).size());
    ASSERT_EQ(outs.size(), 2u);
    for (const Out& o : outs) EXPECT_EQ(exists(o.path), c.kept) << o.path;
  }
  const std::string dir = temp_dir() + "/only";
  ASSERT_EQ(run("mkdir -p " + sh_quote(dir)), 0);
  std::string last;
  int rc = 0;
  const auto outs = demux(file, dir, "--only 0xC0", &last, &rc);
  ASSERT_EQ(outs.size(), 1u);
  EXPECT_EQ(field(outs[0].line, "file"), "257.mp2");
  EXPECT_FALSE(exists(dir + "/256.m2v"));
}

TEST(TsDemux, DamagedPacketsDoNotEndTheJob) {
  // 100 junk bytes in front and four corrupt packets: each output keeps at
  // least 90 % of its clean size and the job reports the damage it skipped.
  auto bytes = read_file(fixture("ts_m2.ts"));
  const size_t packets = bytes.size() / 188;
  std::vector<size_t> hit;
  for (size_t k = packets / 5; k < packets && hit.size() < 4; k += packets / 5)
    if (bytes[k * 188 + 1] & 0x40) hit.push_back(k);  // a PES start: its header is lost
    else {
      for (size_t j = k; j < packets; ++j)
        if (bytes[j * 188 + 1] & 0x40) {
          hit.push_back(j);
          break;
        }
    }
  ASSERT_EQ(hit.size(), 4u);
  for (size_t k : hit)
    for (size_t i = 4; i < 188; ++i) bytes[k * 188 + i] = uint8_t(0xA5 ^ i);
  std::vector<uint8_t> damaged(100, 0x47);
  damaged.insert(damaged.end(), bytes.begin(), bytes.end());
  const std::string dir = temp_dir();
  const std::string file = dir + "/damaged.ts";
  ASSERT_TRUE(write_file(file, damaged));
  const std::string clean_dir = dir + "/clean", bad_dir = dir + "/bad";
  ASSERT_EQ(run("mkdir -p " + sh_quote(clean_dir) + " " + sh_quote(bad_dir)), 0);
  std::string last;
  int rc = 0;
  const auto clean = demux(fixture("ts_m2.ts"), clean_dir, "", &last, &rc);
  const auto bad = demux(file, bad_dir, "", &last, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(field(last, "status"), "done");
  ASSERT_EQ(clean.size(), bad.size());
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_GE(double(field_int(bad[i].line, "bytes")), 0.9 * double(field_int(clean[i].line, "bytes"))) << bad[i].line;
  }
}

TEST(TsDemux, OutputThatIsTheInputIsRefused) {
  const std::string dir = temp_dir();
  const std::string input = dir + "/256.m2v";  // the name the video output would get
  ASSERT_EQ(run("cp " + sh_quote(fixture("ts_m2.ts")) + " " + sh_quote(input)), 0);
  std::vector<std::string> lines;
  std::string err;
  const int rc = run(sh_quote(dev_tool()) + " demux " + sh_quote(input) + " " + sh_quote(dir) + " 2>&1", &err);
  EXPECT_EQ(rc, 1);
  EXPECT_NE(err.find("status=failed"), std::string::npos) << err;
  EXPECT_NE(err.find("cannot write"), std::string::npos) << err;
  EXPECT_TRUE(read_file(input) == read_file(fixture("ts_m2.ts")));
}

TEST(TsJoined, TablePartsLengthGopsAndFrames) {
  const std::string file = fixture("ts_join.ts");
  const auto table = starting(tool_lines("streams " + sh_quote(file)), "tstable");
  ASSERT_GE(table.size(), 2u);
  EXPECT_EQ(field_int(table[0], "offset"), 0);
  const auto info = tool_lines("info " + sh_quote(file));
  ASSERT_EQ(info.size(), 1u);
  EXPECT_NEAR(std::stod(field(info[0], "length")), 5.0, 0.3);  // 3 s + 2 s
  const auto gops = tool_lines("gops " + sh_quote(file));
  ASSERT_GT(gops.size(), 3u);
  EXPECT_EQ(field_int(gops.back(), "frames"), 125);
  for (size_t i = 1; i + 1 < gops.size(); ++i)
    EXPECT_GT(std::stod(field(gops[i], "pts")), std::stod(field(gops[i - 1], "pts"))) << gops[i];
  // Audio behind the join is timed on from the first part.
  const long long join = field_int(table[1], "offset");
  std::string out;
  run("ffprobe -v error -select_streams a -show_entries packet=pts,pos -of csv=p=0 " + sh_quote(file), &out);
  double next_pts = -1;
  long long next_pos = -1;
  for (const auto& l : split_lines(out)) {
    double p = 0;
    long long pos = 0;
    if (std::sscanf(l.c_str(), "%lf,%lld", &p, &pos) == 2 && pos > join + 100000) {
      next_pts = p;
      next_pos = pos;
      break;
    }
  }
  ASSERT_GT(next_pos, 0);
  const auto span = tool_lines("span " + sh_quote(file) + " " + std::to_string(next_pos - 188));
  ASSERT_EQ(span.size(), 1u);
  EXPECT_EQ(std::stod(field(span[0], "pts")), next_pts + std::stod(field(table[1], "correction")));
  // Frames around the join: ffmpeg decodes the two parts one after the other.
  const std::string ours = temp_dir() + "/j.yuv", ref = temp_dir() + "/ref.yuv";
  int rc = 0;
  tool_lines("frame " + sh_quote(file) + " 73 74 75 76 --out " + sh_quote(ours), &rc);
  ASSERT_EQ(rc, 0);
  ASSERT_EQ(run("ffmpeg -nostdin -v error -y -i " + sh_quote(file) +
                " -map 0:v -fps_mode passthrough -f rawvideo -pix_fmt yuv420p " + sh_quote(ref)),
            0);
  const auto a = read_file(ours), b = read_file(ref);
  const size_t fs = 720 * 576 * 3 / 2;
  ASSERT_EQ(a.size(), 4 * fs);
  ASSERT_EQ(b.size(), 125 * fs);
  for (int i = 0; i < 4; ++i)
    EXPECT_GT(psnr(a.data() + size_t(i) * fs, b.data() + size_t(73 + i) * fs, fs), 48.0) << 73 + i;
}

TEST(TsJoined, MorePartsThanProbes) {
  const std::string file = fixture("ts_join40.ts");
  const auto table = starting(tool_lines("streams " + sh_quote(file)), "tstable");
  EXPECT_EQ(table.size(), 40u);
  for (size_t i = 1; i < table.size(); ++i) EXPECT_GT(field_int(table[i], "offset"), field_int(table[i - 1], "offset"));
  const auto info = tool_lines("info " + sh_quote(file));
  ASSERT_EQ(info.size(), 1u);
  EXPECT_NEAR(std::stod(field(info[0], "length")), 40.0, 1.0);
  const auto gops = tool_lines("gops " + sh_quote(file));
  ASSERT_FALSE(gops.empty());
  EXPECT_EQ(field_int(gops.back(), "frames"), 1000);
}

}  // namespace
