// Program-stream saves of low-rate sources whose headers announce far more
// than they carry: DVD, SVCD and plain program streams hold what their
// streams need (about the source's size and ffmpeg's own copy), with every
// pack's clock before the stamps of its data and no buffer fault; a Video CD
// keeps its constant 75 sectors a second. --vbr gives a variable-rate
// video stream (rate 0x3FFFF, vbv_delay 0xFFFF) from a constant-rate source.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ps_reader.h"
#include "support/support.h"

namespace {

using namespace tsupport;

std::vector<std::string> md5s(const std::string& path) {
  std::string out;
  run("ffmpeg -nostdin -v error -i " + sh_quote(path) + " -map 0:v:0 -fps_mode passthrough -f framemd5 - 2>/dev/null",
      &out);
  std::vector<std::string> r;
  for (const std::string& l : split_lines(out))
    if (!l.empty() && l[0] != '#') r.push_back(l.substr(l.rfind(',') + 2));
  return r;
}

std::string oracle_errors(const std::string& path) {
  std::string err, probe;
  run("ffmpeg -nostdin -v error -i " + sh_quote(path) + " -map 0 -f null - 2>&1", &err);
  run("ffprobe -v error " + sh_quote(path) + " 2>&1", &probe);
  return err + probe;
}

struct KindCase {
  const char* fixture;
  const char* kind;
  const char* ffmpeg_format;  // ffmpeg's copy into the same kind
  bool constant;              // Video CD
};

TEST(SavePadding, ProgramStreamsHoldWhatTheirStreamsNeed) {
  TSUPPORT_NEED_FIXTURES("pad_dvd.vob", "pad_svcd.mpg", "pad_vcd.mpg");
  const KindCase cases[] = {
      {"pad_dvd.vob", "ps", "vob", false},
      {"pad_dvd.vob", "dvd", "dvd", false},
      {"pad_dvd.vob", "mpeg1", "mpeg", false},
      {"pad_svcd.mpg", "svcd", "svcd", false},
      {"pad_vcd.mpg", "vcd", "vcd", true},
  };
  const std::string dir = temp_dir();
  for (const KindCase& c : cases) {
    SCOPED_TRACE(std::string(c.fixture) + " to " + c.kind);
    const std::string in = fixture(c.fixture);
    const std::string out = dir + "/pad_" + c.kind + ".mpg";
    const std::string peer = dir + "/pad_" + c.kind + "_peer.mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep 0:74 --gop-only --kind " + c.kind, &lines), 0);
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(field_int(lines.back(), "result"), 0);
    EXPECT_EQ(oracle_errors(out), "");
    EXPECT_EQ(md5s(out), md5s(in));

    const std::vector<uint8_t> data = read_file(out);
    const double src_size = double(read_file(in).size());
    run("ffmpeg -nostdin -v error -y -i " + sh_quote(in) + " -map 0:v -map 0:a -c copy -f " + c.ffmpeg_format + " " +
        sh_quote(peer));
    const double peer_size = double(read_file(peer).size());
    ASSERT_GT(peer_size, 0);
    const psr::File f = psr::read(data);
    ASSERT_EQ(f.error, "");
    ASSERT_FALSE(f.scr.empty());
    if (c.constant) {
      // 2324-byte sectors, each 1200 ticks after the one before.
      EXPECT_EQ(data.size() % 2324, 0u);
      for (size_t k = 1; k < f.scr.size(); ++k) {
        ASSERT_EQ(f.pack_sizes[k - 1], 2324) << "pack " << k - 1;
        ASSERT_DOUBLE_EQ(f.scr[k] - f.scr[k - 1], 1200.0) << "pack " << k;
      }
      EXPECT_EQ(f.mux_rate.front(), 3528);
    } else {
      EXPECT_LT(data.size(), 1.15 * src_size);
      EXPECT_LT(data.size(), 1.05 * peer_size);
      // The clock never outruns the header's rate, and the header's rate
      // stays one value.
      for (size_t k = 1; k < f.scr.size(); ++k) {
        EXPECT_EQ(f.mux_rate[k], f.mux_rate[0]);
        const double ticks = double(f.pack_sizes[k - 1]) * 90000.0 / (f.mux_rate[0] * 50.0);
        ASSERT_GE(f.scr[k] - f.scr[k - 1], ticks - 1.0) << "pack " << k;
      }
    }
    // Each packet is in before its data are taken out, and no buffer
    // overflows or runs dry.
    for (const auto& [id, s] : f.streams) {
      SCOPED_TRACE("stream " + std::to_string(id));
      for (const psr::Packet& p : s.packets) {
        if (p.has_dts) EXPECT_LE(p.arrival_end, p.dts);
        if (p.has_pts && !p.has_dts) EXPECT_LE(p.arrival_end, p.pts);
      }
      const bool video = id >= 0xE0 && id <= 0xEF;
      const psr::StdResult r = psr::replay_std(s, video ? psr::video_units(s) : psr::audio_units(s, false));
      EXPECT_EQ(r.overflows, 0) << r.first_fault;
      EXPECT_EQ(r.underflows, 0) << r.first_fault;
    }
    if (std::string(c.kind) == "dvd") {
      const std::string author = dir + "/pad_author";
      run("rm -rf " + sh_quote(author));
      std::string log;
      run("VIDEO_FORMAT=PAL dvdauthor -o " + sh_quote(author) + " -t " + sh_quote(out) + " 2>&1", &log);
      EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
    }
  }
}

// Sequence-header rate values and picture vbv_delays of a video stream.
void rates_and_delays(const std::vector<uint8_t>& v, std::vector<int>* rates, std::vector<int>* delays) {
  for (size_t i = 0; i + 8 <= v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    // sequence header: 12 bits width, 12 height, 4 aspect, 4 rate code,
    // then 18 bits bit_rate_value.
    if (v[i + 3] == 0xB3) rates->push_back(int(v[i + 8]) << 10 | int(v[i + 9]) << 2 | v[i + 10] >> 6);
    // picture header: 10 bits temporal_reference, 3 coding type, then 16
    // bits vbv_delay.
    if (v[i + 3] == 0x00) delays->push_back((v[i + 5] & 7) << 13 | int(v[i + 6]) << 5 | v[i + 7] >> 3);
  }
}

TEST(SavePadding, VbrSaveOfAConstantRateSourceIsVariableThroughout) {
  TSUPPORT_NEED_FIXTURES("vbv_p.m2v");
  const std::string in = fixture("vbv_p.m2v");
  const std::string dir = temp_dir();
  // Copied whole, and cut inside GOPs so that pictures are re-encoded.
  const char* keeps[] = {"0:74 --gop-only", "3:40,50:70"};
  for (const char* keep : keeps) {
    SCOPED_TRACE(keep);
    const std::string out = dir + "/vbr_dvd.mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("save " + sh_quote(in) + " " + sh_quote(out) + " --kind dvd --vbr --keep " + keep, &lines), 0);
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(oracle_errors(out), "");
    const psr::File f = psr::read(read_file(out));
    ASSERT_EQ(f.error, "");
    ASSERT_TRUE(f.streams.count(0xE0));
    std::vector<int> rates, delays;
    rates_and_delays(f.streams.at(0xE0).es, &rates, &delays);
    ASSERT_FALSE(rates.empty());
    EXPECT_EQ(int(delays.size()), field_int(lines.back(), "frames"));
    for (int r : rates) EXPECT_EQ(r, 0x3FFFF);
    for (int d : delays) EXPECT_EQ(d, 0xFFFF);
  }
}

}  // namespace
