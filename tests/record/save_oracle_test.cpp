// tamsel-dev save against the oracles: ffmpeg's decode of the sources
// (framemd5, picture for picture), ffprobe's picture types for the widening
// rule, and the saved video read back by hand (GOP time codes, temporal
// references, end codes, field counts); stops, refusals and a full disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ps_reader.h"
#include "support/support.h"
#include "tsmux_reader.h"

namespace {

using tsupport::dev;
using tsupport::field_int;
using tsupport::fixture;
using tsupport::run;
using tsupport::sh_quote;
using tsupport::temp_dir;

// MD5 of each decoded picture in display order.
std::vector<std::string> md5s(const std::string& path) {
  std::string out;
  run("ffmpeg -nostdin -v error -i " + sh_quote(path) + " -map 0:v:0 -fps_mode passthrough -f framemd5 - 2>/dev/null",
      &out);
  std::vector<std::string> r;
  for (const std::string& l : tsupport::split_lines(out)) {
    if (l.empty() || l[0] == '#') continue;
    const size_t at = l.rfind(',');
    if (at != std::string::npos) r.push_back(l.substr(at + 2));
  }
  return r;
}

// Picture types in display order.
std::string picture_types(const std::string& path) {
  std::string out;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=pict_type -of csv=p=0 " + sh_quote(path), &out);
  std::string t;
  for (const std::string& l : tsupport::split_lines(out))
    if (!l.empty()) t += l[0];
  return t;
}

std::string decode_errors(const std::string& path) {
  std::string err;
  run("ffmpeg -nostdin -v error -i " + sh_quote(path) + " -map 0 -f null - 2>&1", &err);
  std::string probe;
  run("ffprobe -v error " + sh_quote(path) + " 2>&1", &probe);
  return err + probe;
}

// The video elementary stream of an output of any kind.
std::vector<uint8_t> video_of(const std::string& path, const std::string& kind) {
  const std::vector<uint8_t> data = tsupport::read_file(path);
  if (kind == "es") return data;
  if (kind == "ts") {
    const tsr::File f = tsr::read(data);
    for (const tsr::EsInfo& e : f.streams)
      if (e.type == 1 || e.type == 2) return f.pids.at(e.pid).es;
    return {};
  }
  const psr::File f = psr::read(data);
  auto it = f.streams.find(0xE0);
  return it == f.streams.end() ? std::vector<uint8_t>() : it->second.es;
}

// What the coded video says about itself.
struct Structure {
  int gops = 0, pictures = 0, fields = 0, end_codes = 0;
  bool end_code_last = false;
  std::vector<std::string> faults;
  std::vector<int> widths, heights, aspects;
};

Structure read_structure(const std::vector<uint8_t>& v, int tc_rate) {
  Structure s;
  std::vector<int> trs;
  int tc_fields = 0;
  bool tff0 = true, first_pic = true;
  auto close_gop = [&] {
    if (trs.empty()) return;
    std::vector<int> sorted = trs;
    std::sort(sorted.begin(), sorted.end());
    for (size_t k = 0; k < sorted.size(); ++k)
      if (sorted[k] != int(k)) {
        s.faults.push_back("GOP " + std::to_string(s.gops) + ": temporal references not a permutation");
        break;
      }
    trs.clear();
  };
  int progressive_seq = 1;
  for (size_t i = 0; i + 4 <= v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    const uint8_t c = v[i + 3];
    if (c == 0xB7) {
      ++s.end_codes;
      s.end_code_last = i + 4 == v.size();
    } else if (i + 8 > v.size()) {
      s.faults.push_back("a header cut short at the end");
    } else if (c == 0xB3) {
      s.widths.push_back((v[i + 4] << 4) | (v[i + 5] >> 4));
      s.heights.push_back(((v[i + 5] & 15) << 8) | v[i + 6]);
      s.aspects.push_back(v[i + 7] >> 4);
    } else if (c == 0xB5 && (v[i + 4] >> 4) == 1) {
      progressive_seq = (v[i + 5] >> 3) & 1;
    } else if (c == 0xB8) {
      close_gop();
      const uint32_t w = (uint32_t(v[i + 4]) << 17) | (uint32_t(v[i + 5]) << 9) | (uint32_t(v[i + 6]) << 1) |
                         (v[i + 7] >> 7);
      const int h = (w >> 19) & 31, m = (w >> 13) & 63, sec = (w >> 6) & 63, pic = w & 63;
      const int frame = ((h * 60 + m) * 60 + sec) * tc_rate + pic;
      if (frame != (tc_fields + 1) / 2)
        s.faults.push_back("GOP " + std::to_string(s.gops) + ": time code frame " + std::to_string(frame) +
                           " after " + std::to_string(tc_fields) + " fields");
      ++s.gops;
    } else if (c == 0x00) {
      trs.push_back((v[i + 4] << 2) | (v[i + 5] >> 6));
      ++s.pictures;
      // Fields from the picture coding extension, when there is one.
      int fields = 2;
      for (size_t k = i + 4; k + 9 <= v.size(); ++k) {
        if (v[k] != 0 || v[k + 1] != 0 || v[k + 2] != 1) continue;
        if (v[k + 3] == 0xB5 && (v[k + 4] >> 4) == 8) {
          const bool tff = v[k + 7] & 0x80, rff = v[k + 7] & 0x02, pf = v[k + 8] & 0x80;
          if (rff && pf && !progressive_seq) fields = 3;
          // Display parity of anchors is checked where they are coded in
          // pulldown streams: each picture's first field must be the one due.
          if (first_pic) tff0 = tff;
          first_pic = false;
        }
        break;
      }
      tc_fields += fields;
      s.fields += fields;
    }
  }
  close_gop();
  (void)tff0;
  return s;
}

struct Saved {
  int rc = 0;
  std::vector<std::string> lines;
  std::string last() const { return lines.empty() ? "" : lines.back(); }
};

Saved save(const std::string& args) {
  Saved s;
  s.rc = dev("save " + args, &s.lines);
  return s;
}

// Widening by ffprobe's picture types: A to the last I at or before it, B
// to the last frame of its coded GOP, which starts with the leading B
// pictures shown before its I.
std::pair<int, int> widened(const std::string& types, int a, int b) {
  int wa = a;
  while (wa > 0 && types[size_t(wa)] != 'I') --wa;
  std::vector<int> starts;
  for (int p = 0; p < int(types.size()); ++p) {
    if (types[size_t(p)] != 'I') continue;
    int start = p;
    while (start > 0 && types[size_t(start - 1)] == 'B') --start;
    starts.push_back(start);
  }
  for (int start : starts)
    if (start > b) return {wa, start - 1};
  return {wa, int(types.size()) - 1};
}

struct Source {
  const char* fixture;
  const char* keep;  // three ranges
  std::vector<std::string> kinds;
  int tc_rate;
};

void check_source(const Source& src) {
  TSUPPORT_NEED_FIXTURES(src.fixture);
  {
    const std::string in = fixture(src.fixture);
    const std::vector<std::string> want_all = md5s(in);
    const std::string types = picture_types(in);
    ASSERT_FALSE(want_all.empty());
    for (const std::string& kind : src.kinds) {
      SCOPED_TRACE(std::string(src.fixture) + " as " + kind);
      const std::string out = temp_dir() + "/" + src.fixture + "." + kind;
      const Saved s = save(sh_quote(in) + " " + sh_quote(out) + " --keep " + src.keep + " --gop-only --kind " + kind);
      ASSERT_EQ(s.rc, 0) << s.last();
      // The range lines follow the widening rule; the frames are exactly
      // the source's frames of those ranges.
      std::vector<std::string> want;
      std::vector<std::pair<int, int>> expected;
      std::stringstream keep(src.keep);
      for (std::string r; std::getline(keep, r, ',');) {
        const int a = std::stoi(r.substr(0, r.find(':'))), b = std::stoi(r.substr(r.find(':') + 1));
        const std::pair<int, int> w = widened(types, a, b);
        // Ranges that meet after widening are saved as one.
        if (!expected.empty() && w.first <= expected.back().second + 1 && w.first >= expected.back().first)
          expected.back().second = std::max(expected.back().second, w.second);
        else
          expected.push_back(w);
      }
      std::vector<std::pair<int, int>> ranges;
      for (const std::string& l : s.lines)
        if (l.rfind("range ", 0) == 0) ranges.emplace_back(int(field_int(l, "from")), int(field_int(l, "to")));
      ASSERT_EQ(ranges, expected);
      for (auto [a, b] : ranges) want.insert(want.end(), want_all.begin() + a, want_all.begin() + b + 1);
      EXPECT_EQ(md5s(out), want);
      EXPECT_EQ(decode_errors(out), "");
      const std::string& last = s.last();
      EXPECT_EQ(field_int(last, "decoded"), 0);
      EXPECT_EQ(field_int(last, "reencoded"), 0);
      EXPECT_EQ(tsupport::field(last, "status"), "done");
      EXPECT_EQ(field_int(last, "frames"), int(want.size()));
      const Structure st = read_structure(video_of(out, kind), src.tc_rate);
      EXPECT_TRUE(st.faults.empty()) << st.faults.front();
      EXPECT_EQ(st.end_codes, 1);
      EXPECT_TRUE(st.end_code_last);
      EXPECT_EQ(st.pictures, int(want.size()));
      EXPECT_EQ(field_int(last, "gops"), st.gops);
      // Every sequence header keeps the source's size (1080 lines too).
      const bool vob = std::string(src.fixture).find(".vob") != std::string::npos;
      const Structure src_st = read_structure(video_of(in, vob ? "dvd" : "es"), 25);
      ASSERT_FALSE(st.heights.empty());
      for (size_t k = 0; k < st.heights.size(); ++k) {
        EXPECT_EQ(st.heights[k], src_st.heights[0]);
        EXPECT_EQ(st.widths[k], src_st.widths[0]);
      }
      if (kind == "dvd") {
        const std::string dir = temp_dir() + "/" + src.fixture + "_author";
        run("rm -rf " + sh_quote(dir));
        std::string log;
        const std::string format = src.tc_rate == 30 ? "NTSC" : "PAL";
        run("VIDEO_FORMAT=" + format + " dvdauthor -o " + sh_quote(dir) + " -t " + sh_quote(out) + " 2>&1", &log);
        EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
      }
    }
  }
}

// Each saved with three ranges to es, ps, ts and dvd (or a sample of them):
// the output's pictures are exactly the source's of the widened ranges.
TEST(SaveOracle, OpenGopsInEveryKind) { check_source({"sv_open.m2v", "5:30,50:62,70:90", {"es", "ps", "ts", "dvd"}, 25}); }
TEST(SaveOracle, ClosedGops) { check_source({"sv_closed.m2v", "13:30,40:41,75:99", {"es"}, 25}); }
TEST(SaveOracle, Mpeg1System) { check_source({"sv_m1.m1v", "5:30,50:62,70:90", {"mpeg1"}, 25}); }
TEST(SaveOracle, HighDefinitionKeeps1080Lines) { check_source({"sv_hd.m2v", "1:4,9:10,19:24", {"ts"}, 25}); }
TEST(SaveOracle, CustomMatricesDecodeBitExactly) { check_source({"sv_matrix.m2v", "3:20,30:40,55:70", {"ps"}, 25}); }
TEST(SaveOracle, BottomFieldFirstToDvd) { check_source({"sv_bff.m2v", "4:20,35:50,61:80", {"dvd"}, 30}); }
TEST(SaveOracle, DvdProgramStreamToDvd) { check_source({"sv_dvd.vob", "5:30,50:62,70:90", {"dvd"}, 25}); }

TEST(SaveOracle, AspectCodesKeptUnlessAskedOrRequired) {
  TSUPPORT_NEED_FIXTURES("sv_hd.m2v", "sv_closed.m2v");
  const std::string dir = temp_dir();
  // The HD source with square pixels (code 1) stays square in an
  // elementary or transport stream; --aspect 3 reaches every header.
  std::vector<uint8_t> hd = tsupport::read_file(fixture("sv_hd.m2v"));
  for (size_t i = 0; i + 8 <= hd.size(); ++i)
    if (hd[i] == 0 && hd[i + 1] == 0 && hd[i + 2] == 1 && hd[i + 3] == 0xB3) hd[i + 7] = uint8_t(0x10 | (hd[i + 7] & 15));
  const std::string sq = dir + "/square.m2v";
  ASSERT_TRUE(tsupport::write_file(sq, hd));
  struct Case {
    const char* input;
    const char* kind;
    const char* extra;
    int aspect;
  };
  const Case cases[] = {
      {"square.m2v", "es", "", 1},
      {"square.m2v", "ts", "", 1},
      {"square.m2v", "es", "--aspect 3", 3},
      {"sv_closed.m2v", "dvd", "", 2},  // 352x288 square pixels: DVD wants 4:3
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.kind + " " + c.extra);
    const std::string in = std::string(c.input) == "square.m2v" ? sq : fixture(c.input);
    const std::string out = dir + "/aspect_" + c.kind + (c.extra[0] ? "_forced" : "");
    const Saved s = save(sh_quote(in) + " " + sh_quote(out) + " --keep 0:11,12:17 --gop-only --kind " + c.kind + " " +
                         c.extra);
    ASSERT_EQ(s.rc, 0) << s.last();
    const Structure st = read_structure(video_of(out, std::string(c.kind) == "dvd" ? "ps" : c.kind), 25);
    ASSERT_FALSE(st.aspects.empty());
    for (int a : st.aspects) EXPECT_EQ(a, c.aspect);
  }
}

TEST(SaveOracle, PulldownFieldsAndParityContinueAcrossJoins) {
  TSUPPORT_NEED_FIXTURES("sv_film.m2v");
  const std::string in = fixture("sv_film.m2v");
  const std::string out = temp_dir() + "/film.m2v";
  const Saved s = save(sh_quote(in) + " " + sh_quote(out) + " --keep 3:30,47:60,80:100 --gop-only --kind es");
  ASSERT_EQ(s.rc, 0) << s.last();
  EXPECT_EQ(decode_errors(out), "");
  const std::string& last = s.last();
  EXPECT_EQ(field_int(last, "fields"), 2 * field_int(last, "frames"));
  // Each picture's first field is the one due after the fields before it.
  std::string probe;
  run("ffprobe -v error -select_streams v:0 -show_entries frame=top_field_first,repeat_pict -of csv=p=0 " +
          sh_quote(out),
      &probe);
  int fields = 0, tff0 = -1, bad = 0, n = 0;
  for (const std::string& l : tsupport::split_lines(probe)) {
    if (l.empty()) continue;
    const int tff = std::stoi(l.substr(0, l.find(','))), rep = std::stoi(l.substr(l.find(',') + 1));
    if (tff0 < 0) tff0 = tff;
    if (tff != (tff0 ^ (fields & 1))) ++bad;
    fields += 2 + rep;
    ++n;
  }
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(fields, field_int(last, "fields"));
  // The film frames of each range run unbroken: the output's pictures are
  // at most three runs of consecutive source pictures.
  const std::vector<std::string> src = md5s(in), got = md5s(out);
  ASSERT_EQ(int(got.size()), n);
  int runs = 0;
  size_t at = 0;
  for (size_t k = 0; k < got.size(); ++k) {
    if (k > 0 && at + 1 < src.size() && src[at + 1] == got[k]) {
      ++at;
      continue;
    }
    auto it = std::find(src.begin(), src.end(), got[k]);
    ASSERT_NE(it, src.end()) << "picture " << k << " is not a source picture";
    at = size_t(it - src.begin());
    ++runs;
  }
  EXPECT_LE(runs, 3);
}

TEST(SaveOracle, StopDeletesKeepsOrPauses) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v");
  const std::string in = fixture("sv_open.m2v"), dir = temp_dir();
  const std::string base = dir + "/whole.m2v";
  const Saved whole = save(sh_quote(in) + " " + sh_quote(base) + " --keep 0:99 --kind es");
  ASSERT_EQ(whole.rc, 0) << whole.last();
  const std::vector<uint8_t> full = tsupport::read_file(base);

  const std::string gone = dir + "/gone.m2v";
  Saved s = save(sh_quote(in) + " " + sh_quote(gone) + " --keep 0:99 --kind es --stop -1@40");
  EXPECT_EQ(tsupport::field(s.last(), "status"), "stopped");
  struct stat sb {};
  EXPECT_NE(stat(gone.c_str(), &sb), 0);
  EXPECT_FALSE(tsupport::partial_left(gone));

  const std::string kept = dir + "/kept.m2v";
  s = save(sh_quote(in) + " " + sh_quote(kept) + " --keep 0:99 --kind es --stop -2@40");
  EXPECT_EQ(tsupport::field(s.last(), "status"), "stopped");
  const std::vector<uint8_t> part = tsupport::read_file(kept);
  EXPECT_GT(part.size(), 0u);
  EXPECT_LT(part.size(), full.size());
  EXPECT_EQ(decode_errors(kept), "");

  const std::string paused = dir + "/paused.m2v";
  s = save(sh_quote(in) + " " + sh_quote(paused) + " --keep 0:99 --kind es --stop -4@40");
  EXPECT_EQ(tsupport::field(s.last(), "status"), "done");
  EXPECT_TRUE(tsupport::read_file(paused) == full);
}

TEST(SaveOracle, RefusesAnInputAsOutputAndFailsOnAFullDisk) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v");
  const std::string dir = temp_dir();
  const std::string in = dir + "/in.m2v";
  ASSERT_TRUE(tsupport::write_file(in, tsupport::read_file(fixture("sv_closed.m2v"))));
  const std::vector<uint8_t> before = tsupport::read_file(in);
  ASSERT_EQ(symlink(in.c_str(), (dir + "/link.m2v").c_str()), 0);
  mkdir((dir + "/sub").c_str(), 0755);
  for (const std::string& out : {in, dir + "/link.m2v", dir + "/sub/../in.m2v"}) {
    SCOPED_TRACE(out);
    const Saved s = save(sh_quote(in) + " " + sh_quote(out) + " --keep 0:50 --kind es");
    EXPECT_EQ(s.rc, 1);
    EXPECT_EQ(tsupport::field(s.last(), "status"), "failed");
    EXPECT_NE(field_int(s.last(), "result"), 0);
    EXPECT_TRUE(tsupport::read_file(in) == before);
  }
  // A file size limit stands for a full disk: the save fails and leaves
  // nothing, not even the partial file.
  const std::string out = dir + "/full.m2v";
  std::string text;
  const int rc = run("sh -c " + sh_quote("trap '' XFSZ; ulimit -f 64; " + sh_quote(tsupport::dev_tool()) + " save " +
                                         sh_quote(in) + " " + sh_quote(out) + " --keep 0:99 --kind ps"),
                     &text);
  EXPECT_NE(rc, 0);
  EXPECT_NE(text.find("status=failed"), std::string::npos) << text;
  struct stat sb {};
  EXPECT_NE(stat(out.c_str(), &sb), 0);
  EXPECT_FALSE(tsupport::partial_left(out));
}

TEST(SaveOracle, CutsInsideGopsReencodeOnlyAroundTheJoin) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v");
  const std::string in = fixture("sv_open.m2v");
  const std::string out = temp_dir() + "/reenc.m2v";
  const Saved s = save(sh_quote(in) + " " + sh_quote(out) + " --keep 0:21,31:50 --kind es");
  ASSERT_EQ(s.rc, 0) << s.last();
  bool join = false;
  for (const std::string& l : s.lines)
    if (l.rfind("cut ", 0) == 0) {
      join = true;
      EXPECT_EQ(field_int(l, "at"), 22) << l;
      // The GOP the second range starts in and the next one's leading B pictures.
      EXPECT_GT(field_int(l, "reencoded"), 0) << l;
      EXPECT_LE(field_int(l, "reencoded"), 2 * 12 + 2) << l;
    }
  EXPECT_TRUE(join);
  EXPECT_EQ(field_int(s.last(), "frames"), 42) << s.last();
  EXPECT_EQ(md5s(out).size(), 42u);
}

TEST(SaveOracle, DamagedSourcesSaveWhatIsReadableOrFailCleanly) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v");
  const std::string dir = temp_dir();
  std::vector<uint8_t> src = tsupport::read_file(fixture("sv_open.m2v"));
  std::vector<uint8_t> cut(src.begin(), src.begin() + long(src.size() * 3 / 5));
  std::vector<uint8_t> flipped = src;
  for (size_t i = 5000; i < flipped.size(); i += 7919) flipped[i] ^= 0x21;
  std::vector<uint8_t> noise(200000);
  uint32_t x = 12345;
  for (uint8_t& b : noise) b = uint8_t((x = x * 1103515245u + 12345u) >> 24);
  const std::vector<std::pair<std::string, std::vector<uint8_t>>> inputs = {
      {"truncated", cut}, {"flipped", flipped}, {"random", noise}};
  for (const auto& [name, bytes] : inputs) {
    SCOPED_TRACE(name);
    const std::string in = dir + "/" + name + ".m2v";
    ASSERT_TRUE(tsupport::write_file(in, bytes));
    const Saved s = save(sh_quote(in) + " " + sh_quote(dir + "/" + name + ".out") + " --keep 0:99 --gop-only --kind ps");
    EXPECT_TRUE(s.rc == 0 || s.rc == 1) << s.rc;
  }
}

}  // namespace
