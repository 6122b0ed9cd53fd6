// Frame-accurate saves: ranges that start and end at every display
// position of a GOP, saved to each output kind. The output's frames must be
// exactly the kept source frames in order: frames of GOPs that lie wholly in
// a range (leading B pictures of an open GOP only when the GOP before is in
// too) bit-exact against ffmpeg's decode of the source, every other frame
// at 40 dB or more against its own source frame and closer to it than to
// its neighbours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "support/ffmpeg_oracle.h"
#include "support/support.h"

namespace {

using tsupport::fixture;
using tsupport::sh_quote;
using tsupport::temp_dir;

struct Range {
  int a, b;
};

// Display frames of each GOP of an elementary stream, read from its GOP
// and picture headers: [first, last] and the frame of its I picture.
struct GopSpan {
  int first = 0, last = 0, iframe = 0;
  bool closed = false;
};

std::vector<GopSpan> gop_spans(const std::vector<uint8_t>& v) {
  std::vector<GopSpan> out;
  int next = 0, pics = 0, i_tr = -1;
  bool closed = false;
  auto close = [&] {
    if (pics == 0) return;
    out.push_back(GopSpan{next, next + pics - 1, next + i_tr, closed});
    next += pics;
    pics = 0;
    i_tr = -1;
  };
  for (size_t i = 0; i + 8 <= v.size(); ++i) {
    if (v[i] != 0 || v[i + 1] != 0 || v[i + 2] != 1) continue;
    if (v[i + 3] == 0xB8) {
      close();
      closed = (v[i + 7] & 0x40) != 0;
    } else if (v[i + 3] == 0x00) {
      const int tr = (v[i + 4] << 2) | (v[i + 5] >> 6), type = (v[i + 5] >> 3) & 7;
      if (type == 1 && i_tr < 0) i_tr = tr;
      ++pics;
    }
  }
  close();
  return out;
}

// Frames of the range that must come out bit-exact.
std::vector<bool> exact_frames(const std::vector<GopSpan>& gops, const Range& r, int total) {
  std::vector<bool> exact(size_t(total), false);
  bool prev_in = false;
  for (const GopSpan& g : gops) {
    const bool whole = g.first >= r.a && g.last <= r.b;
    if (whole)
      for (int f = g.first; f <= g.last && f < total; ++f)
        if (f >= g.iframe || prev_in || g.closed) exact[size_t(f)] = true;
    prev_in = whole;
  }
  return exact;
}

double psnr3(const uint8_t* a, const uint8_t* b, int w, int h) {
  const size_t y = size_t(w) * h, c = y / 4;
  return std::min({tsupport::psnr(a, b, y), tsupport::psnr(a + y, b + y, c), tsupport::psnr(a + y + c, b + y + c, c)});
}

struct Case {
  std::string file;
  int w, h;
  std::vector<Range> keep;
  std::vector<std::string> kinds;
};

// Checks one save; returns the re-encoded picture count it reported.
void check_save(const Case& c, const std::string& kind, const std::string& dir, const std::string& extra = "") {
  SCOPED_TRACE(c.file + " to " + kind + " " + extra);
  const std::string in = fixture(c.file);
  const std::string out = dir + "/out_" + kind + "." + (kind == "es" ? "m2v" : "mpg");
  std::string keep;
  int frames = 0;
  for (const Range& r : c.keep) {
    keep += (keep.empty() ? "" : ",") + std::to_string(r.a) + ":" + std::to_string(r.b);
    frames += r.b - r.a + 1;
  }
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep " + keep + " --kind " + kind + " " + extra, &lines),
            0);
  long long reencoded = -1;
  for (const std::string& l : lines)
    if (l.rfind("save ", 0) == 0) reencoded = tsupport::field_int(l, "reencoded");
  // At most one GOP and the leading B pictures of the next per range edge.
  EXPECT_LE(reencoded, (long long)(2 * c.keep.size() * (15 + 3)));
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  if (kind == "dvd" && tsupport::have_program("dvdauthor")) {
    std::string log;
    const int rc = tsupport::run("VIDEO_FORMAT=" + std::string(c.h == 576 ? "PAL" : "NTSC") + " dvdauthor -o " +
                                     sh_quote(dir + "/dvd") + " -t " + sh_quote(out) + " 2>&1",
                                 &log);
    EXPECT_EQ(rc, 0) << log;
    EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
  }

  const std::vector<uint8_t> src = tsupport::ffmpeg_raw(in, "", "yuv420p", dir + "/src.yuv");
  const std::vector<uint8_t> got = tsupport::ffmpeg_raw(out, "", "yuv420p", dir + "/out.yuv");
  const size_t fb = size_t(c.w) * c.h * 3 / 2;
  ASSERT_GT(src.size(), 0u);
  ASSERT_EQ(got.size() % fb, 0u);
  ASSERT_EQ(int(got.size() / fb), frames);
  const int total = int(src.size() / fb);
  const std::vector<GopSpan> gops = gop_spans(tsupport::read_file(in));
  int k = 0, exact_seen = 0;
  for (const Range& r : c.keep) {
    const std::vector<bool> exact = exact_frames(gops, r, total);
    for (int f = r.a; f <= r.b; ++f, ++k) {
      const uint8_t* o = got.data() + size_t(k) * fb;
      const uint8_t* s = src.data() + size_t(f) * fb;
      if (exact[size_t(f)]) {
        EXPECT_TRUE(std::equal(o, o + fb, s)) << "output frame " << k << " source frame " << f << " not bit-exact";
        ++exact_seen;
        continue;
      }
      const double p = psnr3(o, s, c.w, c.h);
      EXPECT_GE(p, 40.0) << "output frame " << k << " source frame " << f;
      // Off-by-one joins show at the range edges.
      if (f == r.a || f == r.b)
        for (int n : {f - 1, f + 1})
          if (n >= 0 && n < total)
            EXPECT_LT(psnr3(o, src.data() + size_t(n) * fb, c.w, c.h), p)
                << "output frame " << k << " is closer to source frame " << n << " than to " << f;
    }
  }
  EXPECT_GT(exact_seen, 0);
  if (extra.find("--copy-only") == std::string::npos || kind != "es") return;
  // Copy-only: every output GOP stands for (part of) one source GOP.
  std::vector<int> source_of;
  for (const Range& r : c.keep)
    for (int f = r.a; f <= r.b; ++f) source_of.push_back(f);
  auto gop_of = [&gops](int f) {
    for (size_t g = 0; g < gops.size(); ++g)
      if (f >= gops[g].first && f <= gops[g].last) return int(g);
    return -1;
  };
  for (const GopSpan& o : gop_spans(tsupport::read_file(out))) {
    ASSERT_LT(o.last, int(source_of.size()));
    EXPECT_EQ(gop_of(source_of[size_t(o.first)]), gop_of(source_of[size_t(o.last)]))
        << "output GOP of frames " << o.first << ".." << o.last << " spans source GOPs";
  }
}

// Ranges over the second and third GOPs: every start position of a GOP of
// 12, ends at every position, one frame, three frames, the last frame.
std::vector<std::vector<Range>> cut_table(int total) {
  std::vector<std::vector<Range>> t;
  std::vector<Range> starts, ends;
  for (int k = 0; k < 12; k += 2) starts.push_back(Range{12 + k, 40 + k});
  t.push_back(starts);
  for (int k = 1; k < 12; k += 2) ends.push_back(Range{12 + k, 40 + k});
  t.push_back(ends);
  t.push_back({Range{0, 0}, Range{23, 25}, Range{34, 36}, Range{50, 50}, Range{60, total - 1}});
  return t;
}

TEST(SaveCut, RangesStartAndEndAtEveryGopPosition) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v", "sv_m1.m1v");
  const std::vector<Case> cases = {
      {"sv_closed.m2v", 352, 288, {}, {"es", "ps", "ts"}},
      {"sv_m1.m1v", 352, 288, {}, {"es", "mpeg1"}},
  };
  for (const Case& base : cases) {
    const auto table = cut_table(100);
    for (size_t i = 0; i < table.size(); ++i) {
      Case c = base;
      c.keep = table[i];
      const std::string dir = temp_dir() + "/" + std::to_string(i);
      tsupport::run("mkdir -p " + sh_quote(dir));
      check_save(c, c.kinds[i % c.kinds.size()], dir);
    }
  }
}

// Copy-only saves cut as finely, with the source's GOPs kept apart.
TEST(SaveCut, CopyOnlyKeepsTheSourceGops) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v", "sv_open.m2v");
  const auto table = cut_table(100);
  // Every start position of a GOP, and one frame, three frames, the last.
  for (size_t i : {size_t(0), size_t(2)}) {
    const std::string dir = temp_dir() + "/c" + std::to_string(i);
    tsupport::run("mkdir -p " + sh_quote(dir));
    check_save(Case{"sv_closed.m2v", 352, 288, table[i], {}}, "es", dir, "--copy-only");
  }
  // A run over two open GOPs is re-encoded as two.
  check_save(Case{"sv_open.m2v", 720, 576, {Range{20, 30}, Range{47, 99}}, {}}, "es", temp_dir() + "/",
             "--copy-only");
}

TEST(SaveCut, OpenGopsInterlacedAndDvd) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v", "sv_bff.m2v");
  check_save(Case{"sv_open.m2v", 720, 576, {Range{5, 30}, Range{47, 47}, Range{61, 99}}, {}}, "dvd",
             temp_dir() + "/");
  check_save(Case{"sv_open.m2v", 720, 576, {Range{10, 11}, Range{22, 70}}, {}}, "es", temp_dir() + "/");
  check_save(Case{"sv_bff.m2v", 720, 480, {Range{7, 40}, Range{52, 80}}, {}}, "es", temp_dir() + "/");
}

// Copied pictures keep their own quantiser matrices after re-encoded ones,
// and a 1080-line picture keeps its true size (no padding lines shown).
TEST(SaveCut, MatricesAndTrueSizeSurviveTheJoins) {
  TSUPPORT_NEED_FIXTURES("sv_matrix.m2v", "sv_hd.m2v");
  check_save(Case{"sv_matrix.m2v", 352, 288, {Range{5, 40}, Range{50, 70}}, {}}, "ps", temp_dir() + "/");
  const std::string out = temp_dir() + "/hd.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("save " + sh_quote(fixture("sv_hd.m2v")) + " " + sh_quote(out) + " --keep 2:9 --kind es",
                          &lines),
            0);
  std::string size;
  tsupport::run("ffprobe -v error -count_frames -show_entries stream=width,height,nb_read_frames -of csv=p=0 " +
                    sh_quote(out),
                &size);
  EXPECT_EQ(size.substr(0, 12), "1920,1080,8,") << size;
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
}

}  // namespace

namespace {

std::vector<int> sequence_bit_rates(const std::vector<uint8_t>& v) {
  std::vector<int> r;
  for (size_t i = 0; i + 12 <= v.size(); ++i)
    if (v[i] == 0 && v[i + 1] == 0 && v[i + 2] == 1 && v[i + 3] == 0xB3)
      r.push_back(((v[i + 8] << 10) | (v[i + 9] << 2) | (v[i + 10] >> 6)) * 400);
  return r;
}

// A second file of another bit rate is re-encoded whole into the first
// one's stream; a requested bit rate re-encodes everything at that rate.
TEST(SaveCut, AnotherBitRateIsReencodedWhole) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v");
  const std::string dir = temp_dir();
  const std::string lo = dir + "/lo.m2v", out = dir + "/joined.m2v", low = dir + "/low.m2v";
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=352x288:rate=25:duration=2 -c:v "
                          "mpeg2video -threads 1 -b:v 900k -maxrate 900k -minrate 900k -bufsize 1000k -g 12 -bf 2 "
                          "-f mpeg2video " +
                          sh_quote(lo)),
            0);
  const std::string in = fixture("sv_closed.m2v");
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("save " + sh_quote(in) + "," + sh_quote(lo) + " " + sh_quote(out) +
                              " --keep 0:29,1@5:40 --kind es",
                          &lines),
            0);
  const std::string last = lines.empty() ? "" : lines.back();
  EXPECT_EQ(tsupport::field_int(last, "frames"), 66) << last;
  EXPECT_EQ(tsupport::field_int(last, "reencoded"), 36) << last;
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(out), "");
  const std::vector<int> first = sequence_bit_rates(tsupport::read_file(in));
  ASSERT_FALSE(first.empty());
  const std::vector<int> rates = sequence_bit_rates(tsupport::read_file(out));
  ASSERT_GT(rates.size(), 2u);
  for (int r : rates) EXPECT_EQ(r, first[0]);

  ASSERT_EQ(tsupport::dev("save " + sh_quote(in) + " " + sh_quote(low) + " --keep 0:99 --kind es --bit-rate 800000",
                          &lines),
            0);
  for (int r : sequence_bit_rates(tsupport::read_file(low))) EXPECT_EQ(r, 800000);
  const double bits = 8.0 * double(tsupport::read_file(low).size());
  EXPECT_NEAR(bits / 4.0, 800000.0, 120000.0);
  EXPECT_EQ(tsupport::ffmpeg_strict_messages(low), "");
}

// Re-encoded runs take the requested GOP structure.
TEST(SaveCut, GopAndSubGopShapeTheReencodedRuns) {
  TSUPPORT_NEED_FIXTURES("sv_closed.m2v");
  const std::string in = fixture("sv_closed.m2v"), out = temp_dir() + "/g.m2v";
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep 3:50 --kind es --gop 6 --sub-gop 2",
                          &lines),
            0);
  std::string types;
  tsupport::run("ffprobe -v error -show_entries frame=pict_type -of csv=p=0 " + sh_quote(out) + " | tr -d '\\n,'",
                &types);
  // Frames 3..9 re-encoded as I B P B P B | I, then copied GOPs of 10.
  EXPECT_EQ(types.substr(0, 7), "IBPBPBI") << types;
  EXPECT_EQ(types.size(), 48u);
}

}  // namespace

namespace {

// Damaged pictures in a GOP to be re-encoded are concealed and the save goes
// on; a source cut short ends the save cleanly with what it holds.
TEST(SaveCut, DamagedAndTruncatedSourcesSaveOn) {
  TSUPPORT_NEED_FIXTURES("sv_open.m2v");
  const std::string dir = temp_dir();
  std::vector<uint8_t> src = tsupport::read_file(fixture("sv_open.m2v"));
  std::vector<uint8_t> cut(src.begin(), src.begin() + long(src.size() * 3 / 5));
  std::vector<uint8_t> flipped = src;
  for (size_t i = 5000; i < flipped.size(); i += 7919) flipped[i] ^= 0x21;
  for (const auto& [name, bytes] : {std::pair{std::string("truncated"), cut}, std::pair{std::string("flipped"), flipped}}) {
    SCOPED_TRACE(name);
    const std::string in = dir + "/" + name + ".m2v", out = dir + "/" + name + ".mpg";
    ASSERT_TRUE(tsupport::write_file(in, bytes));
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("save " + sh_quote(in) + " " + sh_quote(out) + " --keep 5:33,40:99 --kind ps", &lines), 0);
    const std::string last = lines.empty() ? "" : lines.back();
    EXPECT_GT(tsupport::field_int(last, "reencoded"), 0) << last;
    std::string n;
    tsupport::run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
                  "csv=p=0 " + sh_quote(out) + " 2>/dev/null",
                  &n);
    // ffmpeg may drop a damaged copied picture, never more.
    EXPECT_NEAR(double(std::atoi(n.c_str())), double(tsupport::field_int(last, "frames")), 1.0) << last;
  }
}

}  // namespace
