// Transport-stream multiplexing end to end: tamsel-dev mux --kind ts over
// ffmpeg's and mpeg2enc's elementary streams, read back by the test tree's
// transport reader, ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "mux/tsmux.h"
#include "support/support.h"
#include "ps_reader.h"
#include "tsmux_reader.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

struct Input {
  const char* fixture;
  int pid;   // the PID it must come out on
  int type;  // its stream_type
};

struct TsCase {
  const char* name;
  const char* options;
  int pmt_pid;
  std::vector<Input> inputs;  // the video first
  double frame_ticks;
};

const std::vector<TsCase>& cases() {
  static const std::vector<TsCase> c = {
      {"ts_set_pids",
       "--pmt-pid 256 --video-pid 100 --audio-pid 200",
       256,
       {{"pm_m2.m2v", 100, 0x02}, {"pm_a48.mp2", 200, 0x03}, {"pm_a.ac3", 201, 0x81}},
       3600},
      {"ts_pulldown_alone", "", 48, {{"pm_film.m2v", 65, 0x02}}, 3003},
      {"ts_mpeg1_defaults", "", 48, {{"pm_m1.m1v", 65, 0x01}, {"pm_a44.mp2", 66, 0x03}}, 3600},
      {"ts_ntsc_ac3", "", 48, {{"pm_ntsc.m2v", 65, 0x02}, {"pm_a.ac3", 66, 0x81}}, 3003},
      {"ts_vbr", "", 48, {{"pm_q3.m2v", 65, 0x02}, {"pm_a48.mp2", 66, 0x03}}, 3600},
  };
  return c;
}

// vbv_buffer_size of the first sequence header, in bytes.
int vbv_bytes(const Bytes& es) {
  for (size_t i = 0; i + 12 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && es[i + 3] == 0xB3)
      return (((es[i + 10] & 0x1F) << 5) | (es[i + 11] >> 3)) * 2048;
  return 0;
}

// The most bytes a decoder buffer holds when each packet's bytes enter at
// its arrival and each PES leaves whole at its DTS (PTS without one); also
// the number of PES that were not all in by then.
struct BufferUse {
  int64_t peak = 0;
  int late = 0;
};
BufferUse buffer_use(const tsr::File& f, const tsr::Pid& p) {
  BufferUse u;
  struct Ev {
    double t;
    int64_t bytes;
  };
  std::vector<Ev> ev;
  for (const tsr::Pes& e : p.pes) {
    int64_t total = 0;
    for (auto [packet, bytes] : e.chunks) {
      ev.push_back({f.arrival(double(packet + 1)), bytes});
      total += bytes;
    }
    const double due = e.dts >= 0 ? e.dts : e.pts;
    if (due < 0) continue;
    if (f.arrival(double(e.last_packet + 1)) > due + 1.0) ++u.late;
    ev.push_back({due + 1e-6, -total});
  }
  std::stable_sort(ev.begin(), ev.end(), [](const Ev& a, const Ev& b) { return a.t < b.t; });
  int64_t held = 0;
  for (const Ev& e : ev) {
    held += e.bytes;
    u.peak = std::max(u.peak, held);
  }
  return u;
}

TEST(TSMux, OutputsReadCleanWithTablesClocksAndPayloadsRight) {
  for (const TsCase& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::string out = temp_dir() + "/" + c.name + ".ts";
    std::string args = std::string("mux --kind ts ") + c.options + " " + sh_quote(out);
    for (const Input& in : c.inputs) args += " " + sh_quote(fixture(in.fixture));
    std::vector<std::string> lines;
    ASSERT_EQ(dev(args, &lines), 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(field(lines.back(), "result"), "0");
    int pid_lines = 0;
    for (const std::string& l : lines) {
      if (l.rfind("pid pmt=", 0) == 0) EXPECT_EQ(field_int(l, "pmt"), c.pmt_pid);
      if (l.rfind("pid id=", 0) == 0) ++pid_lines;
    }
    EXPECT_EQ(pid_lines, int(c.inputs.size()));

    const tsr::File f = tsr::read(read_file(out));
    ASSERT_EQ(f.error, "");
    EXPECT_TRUE(f.pat_crc_ok);
    EXPECT_TRUE(f.pmt_crc_ok);
    EXPECT_GT(f.pat_count, 0);
    EXPECT_EQ(f.pmt_pid, c.pmt_pid);
    EXPECT_EQ(f.pcr_pid, c.inputs[0].pid);
    ASSERT_EQ(f.streams.size(), c.inputs.size());
    std::set<int> seen = {c.pmt_pid};
    bool ac3 = false;
    for (size_t i = 0; i < c.inputs.size(); ++i) {
      EXPECT_EQ(f.streams[i].pid, c.inputs[i].pid);
      EXPECT_EQ(f.streams[i].type, c.inputs[i].type);
      EXPECT_TRUE(seen.insert(f.streams[i].pid).second) << "PID " << f.streams[i].pid << " twice";
      EXPECT_GE(f.streams[i].pid, 16);
      EXPECT_LE(f.streams[i].pid, 8190);
      if (c.inputs[i].type == 0x81) {
        ac3 = true;
        ASSERT_FALSE(f.streams[i].descriptors.empty());
        EXPECT_EQ(f.streams[i].descriptors[0], 0x81);
      }
    }
    const Bytes reg = {0x05, 0x04, 'A', 'C', '-', '3'};
    EXPECT_EQ(std::search(f.program_descriptors.begin(), f.program_descriptors.end(), reg.begin(), reg.end()) !=
                  f.program_descriptors.end(),
              ac3);
    for (const auto& [pid, p] : f.pids) EXPECT_EQ(p.cc_errors, 0) << "PID " << pid;

    // PCRs rise with no gap above 40 ms.
    ASSERT_GT(f.pcrs.size(), 10u);
    for (size_t i = 1; i < f.pcrs.size(); ++i) {
      ASSERT_GT(f.pcrs[i].second, f.pcrs[i - 1].second) << "PCR " << i;
      ASSERT_LE(f.pcrs[i].second - f.pcrs[i - 1].second, 3600.0) << "PCR " << i;
    }

    double first_video = 1e18;
    for (size_t i = 0; i < c.inputs.size(); ++i) {
      SCOPED_TRACE(c.inputs[i].fixture);
      ASSERT_TRUE(f.pids.count(c.inputs[i].pid));
      const tsr::Pid& p = f.pids.at(c.inputs[i].pid);
      const Bytes src = read_file(fixture(c.inputs[i].fixture));
      const bool video = i == 0;
      EXPECT_TRUE(p.es == (video ? psr::with_end_code(src) : src)) << p.es.size() << " vs " << src.size();
      const BufferUse use = buffer_use(f, p);
      EXPECT_EQ(use.late, 0);
      if (video) {
        // A variable-rate stream's token buffer size is replaced by the
        // main-level one.
        const int vbv = std::string(c.name) == "ts_vbr" ? 229376 : vbv_bytes(src);
        EXPECT_LE(use.peak, vbv + 8192);
        for (const tsr::Pes& e : p.pes) first_video = std::min(first_video, e.pts);
      } else {
        if (c.inputs[i].type != 0x81) EXPECT_LE(use.peak, 3584);
        ASSERT_FALSE(p.pes.empty());
        const double frame = c.inputs[i].type == 0x81 ? 2880.0 : 3135.0;  // 1536 / 48000, 1152 / 44100
        EXPECT_LE(std::fabs(p.pes[0].pts - first_video), frame);
      }
    }

    std::string err;
    run("ffprobe -v error " + sh_quote(out) + " 2>&1", &err);
    EXPECT_EQ(err, "");
    run("ffmpeg -nostdin -v warning -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
    for (const char* bad : {"ontinuity", "orrupt", "PES packet size", "mismatch"})
      EXPECT_EQ(err.find(bad), std::string::npos) << err;

    // Display order: one frame per picture (a repeated field half a frame
    // more), never a duplicate.
    std::string text;
    run("ffprobe -v error -select_streams v:0 -show_entries frame=pts,repeat_pict -of csv=p=0 " + sh_quote(out),
        &text);
    std::vector<std::pair<double, double>> frames;
    for (const std::string& line : split_lines(text)) {
      const size_t comma = line.find(',');
      if (line.empty() || comma == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[0])))
        continue;
      frames.push_back({std::stod(line.substr(0, comma)), std::stod(line.substr(comma + 1))});
    }
    ASSERT_GT(frames.size(), 10u);
    for (size_t i = 1; i < frames.size(); ++i) {
      const double step = frames[i].first - frames[i - 1].first;
      const double want = c.frame_ticks * (1.0 + 0.5 * frames[i - 1].second);
      ASSERT_LE(std::fabs(step - want), 1.0) << "frame " << i << " step " << step;
    }
  }
}

// The program tables go out with every mux call (the drivers make one per
// GOP), first of all, and never half a second apart; the streams still
// meet their deadlines (checked above on the same cases).
TEST(TSMux, TablesWithEveryMuxCallAndNeverHalfASecondApart) {
  for (const TsCase& c : cases()) {
    SCOPED_TRACE(c.name);
    const std::string out = temp_dir() + "/" + c.name + "_tables.ts";
    std::string args = std::string("mux --kind ts ") + c.options + " " + sh_quote(out);
    for (const Input& in : c.inputs) args += " " + sh_quote(fixture(in.fixture));
    std::vector<std::string> lines;
    ASSERT_EQ(dev(args, &lines), 0);
    const Bytes ts = read_file(out);
    const tsr::File f = tsr::read(ts);
    ASSERT_EQ(f.error, "");
    const Bytes video = read_file(fixture(c.inputs[0].fixture));
    int gops = 0;
    for (size_t i = 0; i + 3 < video.size(); ++i)
      if (video[i] == 0 && video[i + 1] == 0 && video[i + 2] == 1 && video[i + 3] == 0xB8) ++gops;
    ASSERT_GT(gops, 1);
    std::vector<int64_t> pat, pmt;
    for (size_t k = 0; k + 188 <= ts.size(); k += 188) {
      const int pid = ((ts[k + 1] & 0x1F) << 8) | ts[k + 2];
      if (pid == 0) pat.push_back(int64_t(k / 188));
      if (pid == c.pmt_pid) pmt.push_back(int64_t(k / 188));
    }
    ASSERT_FALSE(pat.empty());
    EXPECT_EQ(pat[0], 0);
    EXPECT_EQ(pmt.size(), pat.size());
    EXPECT_EQ(f.pat_count, int(pat.size()));
    EXPECT_GE(int(pat.size()), gops);
    for (size_t i = 1; i < pat.size(); ++i)
      EXPECT_LE(f.arrival(double(pat[i])) - f.arrival(double(pat[i - 1])), 45000.0) << "tables " << i;
    EXPECT_LE(f.arrival(double(f.packets)) - f.arrival(double(pat.back())), 45000.0);
  }
}

// Asked-for PIDs that meet the PMT PID or each other are moved to free ones
// instead of giving two streams one PID.
TEST(TSMux, PidClashWithThePmtOrAnotherStreamTakesAFreePid) {
  const std::string out = temp_dir() + "/ts_clash.ts";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("mux --kind ts --pmt-pid 100 --video-pid 100 --audio-pid 100 " + sh_quote(out) + " " +
                    sh_quote(fixture("pm_m2.m2v")) + " " + sh_quote(fixture("pm_a48.mp2")) + " " +
                    sh_quote(fixture("pm_a.ac3")),
                &lines),
            0);
  const tsr::File f = tsr::read(read_file(out));
  ASSERT_EQ(f.error, "");
  EXPECT_EQ(f.pmt_pid, 100);
  std::set<int> pids = {f.pmt_pid};
  for (const tsr::EsInfo& e : f.streams) EXPECT_TRUE(pids.insert(e.pid).second) << e.pid;
  EXPECT_EQ(pids.size(), 4u);
}

TEST(TSMux, PidAllocatorKeepsEveryValueDistinctAndInRange) {
  PidAllocator a;
  EXPECT_EQ(a.claim(48), 1);
  EXPECT_EQ(a.claim(48), 0);
  EXPECT_EQ(a.claim(15), 0);
  EXPECT_EQ(a.claim(8191), 0);
  EXPECT_EQ(a.claim(8190), 1);
  EXPECT_EQ(a.take(48, 48), 49);
  EXPECT_EQ(a.take(0, 8190), 16);  // wraps to the bottom when the top is full
  EXPECT_EQ(a.take(77, 65), 77);
}

TEST(TSMux, ConstructionNeedsExactlyOneVideo) {
  ESData video, audio;
  int err = 0;
  video.open(fixture("pm_m2.m2v").c_str(), &err);
  ASSERT_EQ(err, 0);
  audio.open(fixture("pm_a48.mp2").c_str(), &err);
  ASSERT_EQ(err, 0);
  video.stream_id = 0xE0;
  audio.stream_id = 0xC0;
  const std::string out = temp_dir() + "/ts_ctor.ts";
  std::vector<ESData> two_videos(2);
  two_videos[0] = video;
  two_videos[1] = video;
  two_videos[1].stream_id = 0xE1;
  int failed = 0;
  { TSMux m(2, two_videos.data(), out.c_str(), &failed, 0); }
  EXPECT_EQ(failed, 1);
  { TSMux m(1, &audio, out.c_str(), &failed, 0); }
  EXPECT_EQ(failed, 1);
  std::vector<ESData> ok(2);
  ok[0] = audio;
  ok[1] = video;
  {
    TSMux m(2, ok.data(), out.c_str(), &failed, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(m.set_pmt_pid(8191), 48);  // out of range: kept
    EXPECT_EQ(m.set_pmt_pid(8190), 8190);
  }
}

}  // namespace
