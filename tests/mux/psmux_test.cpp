// Program-stream multiplexing end to end: tamsel-dev mux over ffmpeg's
// elementary streams, read back by ffprobe, ffmpeg and the test tree's own
// program-stream reader with its STD buffer replay.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "ps_reader.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

struct Input {
  const char* fixture;
  int id;  // stream id (private sub-stream id for AC-3) it must come out on
};

struct MuxCase {
  const char* name;
  const char* options;
  std::vector<Input> inputs;
  int pack;        // pack size (0: packets of 2048 bytes, several to a pack)
  int rate_field;  // mux_rate field every pack carries (0: not checked)
  double frame_ticks;
};

const std::vector<MuxCase>& cases() {
  static const std::vector<MuxCase> c = {
      {"ps_mp2", "--kind ps", {{"pm_m2.m2v", 0xE0}, {"pm_a48.mp2", 0xC0}}, 2048, 25200, 3600},
      {"ps_ac3", "--kind ps", {{"pm_m2.m2v", 0xE0}, {"pm_a.ac3", 0x80}}, 2048, 25200, 3600},
      {"ps_two_audio", "--kind ps", {{"pm_a48.mp2", 0xC0}, {"pm_m2.m2v", 0xE0}, {"pm_a.ac3", 0x80}}, 2048, 0, 3600},
      {"ps_ntsc", "--kind ps", {{"pm_ntsc.m2v", 0xE0}, {"pm_a48.mp2", 0xC0}}, 2048, 0, 3003},
      {"ps_film_alone", "--kind ps", {{"pm_film.m2v", 0xE0}}, 2048, 0, 3003},
      {"mpeg1", "--kind mpeg1", {{"pm_m1.m1v", 0xE0}, {"pm_a44.mp2", 0xC0}}, 2048, 0, 3600},
      {"vcd", "--kind vcd", {{"pm_m1.m1v", 0xE0}, {"pm_a44.mp2", 0xC0}}, 2324, 3528, 3600},
      {"svcd", "--kind svcd", {{"pm_svcd.m2v", 0xE0}, {"pm_a44.mp2", 0xC0}}, 2324, 6972, 3600},
      {"ps_vbr", "--kind ps --vbr", {{"pm_q3.m2v", 0xE0}, {"pm_a48.mp2", 0xC0}}, 2048, 0, 3600},
      // The variable-rate walk finds the video by kind, not by place.
      {"ps_vbr_audio_first", "--kind ps --vbr", {{"pm_a48.mp2", 0xC0}, {"pm_q3.m2v", 0xE0}}, 2048, 0, 3600},
      // Consecutive video packets share a pack: 2048 bytes per packet.
      {"ps_minimize", "--kind ps --minimize", {{"pm_m2.m2v", 0xE0}, {"pm_a48.mp2", 0xC0}}, 0, 25200, 3600},
      {"mpeg1_minimize", "--kind mpeg1 --minimize", {{"pm_m1.m1v", 0xE0}, {"pm_a44.mp2", 0xC0}}, 0, 0, 3600},
  };
  return c;
}

std::string mux(const MuxCase& c, std::vector<std::string>* lines) {
  const std::string out = temp_dir() + "/" + c.name + ".mpg";
  std::string args = std::string("mux ") + c.options + " " + sh_quote(out);
  for (const Input& in : c.inputs) args += " " + sh_quote(fixture(in.fixture));
  EXPECT_EQ(dev(args, lines), 0) << c.name;
  return out;
}

std::vector<std::vector<double>> csv_numbers(const std::string& text) {
  std::vector<std::vector<double>> rows;
  for (const std::string& line : split_lines(text)) {
    if (line.empty() || !(std::isdigit(static_cast<unsigned char>(line[0])) || line[0] == '-')) continue;
    std::vector<double> row;
    size_t at = 0;
    while (at <= line.size()) {
      const size_t comma = line.find(',', at);
      const std::string cell = line.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
      row.push_back(cell.empty() || cell == "N/A" ? NAN : std::stod(cell));
      if (comma == std::string::npos) break;
      at = comma + 1;
    }
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

TEST(PSMux, OutputsReadCleanAndCarryTheInputsUnchanged) {
  for (const MuxCase& c : cases()) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines;
    const std::string out = mux(c, &lines);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field(lines.back(), "status"), "done");
    EXPECT_EQ(field(lines.back(), "result"), "0");

    std::string err;
    run("ffprobe -v error " + sh_quote(out) + " 2>&1", &err);
    EXPECT_EQ(err, "");
    run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
    EXPECT_EQ(err, "");

    const Bytes data = read_file(out);
    const psr::File f = psr::read(data);
    ASSERT_EQ(f.error, "");
    ASSERT_FALSE(f.pack_sizes.empty());
    const int pack = c.pack ? c.pack : 2048;  // 0: packs of whole 2048-byte packets
    for (size_t i = 0; i + 1 < f.pack_sizes.size(); ++i)
      ASSERT_TRUE(c.pack ? f.pack_sizes[i] == pack : f.pack_sizes[i] % pack == 0) << "pack " << i;
    const int64_t last = f.pack_sizes.back();
    EXPECT_TRUE(last % pack == 0 || (last % pack == 4 && f.end_code)) << last;
    EXPECT_TRUE(f.end_code);
    // SCR never falls, and no pack starts before the one before it has
    // arrived at the rate its header gives.
    for (size_t i = 1; i < f.scr.size(); ++i) {
      const double bytes = double(f.pack_offsets[i] - f.pack_offsets[i - 1]);
      ASSERT_GE(f.scr[i] - f.scr[i - 1], bytes * 90000.0 / (f.mux_rate[i - 1] * 50.0) - 1.0) << "pack " << i;
    }
    if (c.rate_field) {
      for (int r : f.mux_rate) ASSERT_EQ(r, c.rate_field);
    }
    // Variable-rate and minimised streams move their clock instead of
    // writing packs of padding (an MPEG-1 stream's first pack holds its
    // system header alone).
    if (std::string(c.options).find("--vbr") != std::string::npos ||
        std::string(c.options).find("--minimize") != std::string::npos) {
      for (size_t i = 1; i < f.pack_has_payload.size(); ++i) ASSERT_EQ(f.pack_has_payload[i], 1) << "pack " << i;
    }

    for (const Input& in : c.inputs) {
      SCOPED_TRACE(in.fixture);
      ASSERT_TRUE(f.streams.count(in.id));
      const psr::Stream& s = f.streams.at(in.id);
      const Bytes src = read_file(fixture(in.fixture));
      const bool video = in.id >= 0xE0;
      EXPECT_TRUE(s.es == (video ? psr::with_end_code(src) : src)) << s.es.size() << " vs " << src.size();
      ASSERT_GT(s.std_bytes, 0);
      const std::vector<psr::Unit> units = video ? psr::video_units(s) : psr::audio_units(s, in.id < 0xC0);
      const psr::StdResult std = psr::replay_std(s, units);
      EXPECT_EQ(std.overflows, 0) << std.first_fault;
      EXPECT_EQ(std.underflows, 0) << std.first_fault;
    }

    // Display order: each picture one frame (a repeated field half a frame
    // more) after the one before.
    std::string text;
    run("ffprobe -v error -select_streams v:0 -show_entries frame=pts,repeat_pict -of csv=p=0 " + sh_quote(out), &text);
    const auto frames = csv_numbers(text);
    ASSERT_GT(frames.size(), 10u);
    // At a variable rate (or minimised) pictures share packets and only the first of a
    // packet is stamped: ffprobe guesses the others' times (as on its own
    // DVD output); the stamps written are checked by the replay above.
    const std::string opts = c.options;
    const bool shared_packets = opts.find("--vbr") != std::string::npos || opts.find("--minimize") != std::string::npos;
    for (size_t i = 1; i < frames.size() && !shared_packets; ++i) {
      const double step = frames[i][0] - frames[i - 1][0];
      const double want = c.frame_ticks * (1.0 + 0.5 * frames[i - 1][1]);
      ASSERT_LE(std::fabs(step - want), 1.0) << "frame " << i << " step " << step;
    }
    run("ffprobe -v error -show_entries packet=stream_index,pts,dts -of csv=p=0 " + sh_quote(out), &text);
    double first_video = 1e18, first_audio = 1e18;
    for (const auto& p : csv_numbers(text))
      if (p.size() >= 3 && !std::isnan(p[2]) && !std::isnan(p[1])) {
        EXPECT_LE(p[2], p[1]);
      }
    run("ffprobe -v error -select_streams v:0 -show_entries packet=pts -of csv=p=0 " + sh_quote(out), &text);
    for (const auto& p : csv_numbers(text)) first_video = std::min(first_video, p[0]);
    run("ffprobe -v error -select_streams a:0 -show_entries packet=pts -of csv=p=0 " + sh_quote(out) +
            " | head -1",
        &text);
    const auto audio = csv_numbers(text);
    if (!audio.empty()) {
      first_audio = audio[0][0];
      EXPECT_LE(std::fabs(first_audio - first_video), 2880.0);  // one audio frame (AC-3 at 48 kHz the longest)
    }
  }
}

}  // namespace
