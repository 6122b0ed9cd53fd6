// GOP trim: the bytes of whole GOPs, nothing decoded, nothing added.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "engine/gop_trim.h"
#include "support.h"

namespace {

// Offsets of the sequence headers, which open every GOP of the fixtures,
// and the first frame of each GOP (closed GOPs: pictures counted).
std::vector<size_t> gop_starts(const std::vector<uint8_t>& b, std::vector<int>* first_frames = nullptr) {
  std::vector<size_t> s;
  int pictures = 0;
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    if (b[i + 3] == 0xB3) {
      s.push_back(i);
      if (first_frames) first_frames->push_back(pictures);
    }
    if (b[i + 3] == 0x00) ++pictures;
  }
  return s;
}

int gop_holding(const std::vector<int>& first_frames, int frame) {
  int k = 0;
  while (k + 1 < int(first_frames.size()) && first_frames[size_t(k) + 1] <= frame) ++k;
  return k;
}

bool exists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

struct Case {
  int start, count, first_gop, last_gop;  // last_gop -1: to the end of the file
};

TEST(EngineTrim, ClosedGopsCopyTheCoveringGopsByteForByte) {
  const std::string in = tsupport::fixture("en_a.m2v");
  const auto src = tsupport::read_file(in);
  std::vector<int> ff;
  const auto g = gop_starts(src, &ff);
  ASSERT_GE(g.size(), 6u);
  const int n_gops = int(g.size());
  const int g1 = ff[1], g2 = ff[2];  // first frames of GOPs 1 and 2
  const std::string out = tsupport::temp_dir() + "/t.m2v";
  const Case cases[] = {
      {g1 + 2, 3, 1, 1},                  // inside one GOP
      {g1, g2 - g1, 1, 1},                // exactly one GOP
      {g1 - 1, 2, 0, 1},                  // across a boundary
      {g2 - 1, 1, 1, 1},                  // the last frame of a GOP
      {g2 + 1, 500, 2, -1},               // past the end: to the end
      {ff.back(), 1, n_gops - 1, -1},     // the last GOP
  };
  for (Case c : cases) {
    if (c.last_gop == n_gops - 1) c.last_gop = -1;
    ASSERT_EQ(gop_holding(ff, c.start), c.first_gop);
    SCOPED_TRACE(std::to_string(c.start) + "+" + std::to_string(c.count));
    JobControl st;
    TrimReport st_range;
    const int64_t n = trim_packet(in.c_str(), out.c_str(), c.start, c.count, &st, &st_range);
    ASSERT_EQ(st.outcome(), JobOutcome::done);
    const auto got = tsupport::read_file(out);
    ASSERT_EQ(int64_t(got.size()), n);
    const size_t from = g[size_t(c.first_gop)];
    size_t to = c.last_gop < 0 ? src.size() : g[size_t(c.last_gop) + 1];
    // The sequence end code after the last GOP is no GOP's.
    if (c.last_gop < 0 && got.size() + 4 == to - from) to -= 4;
    ASSERT_EQ(got.size(), to - from);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin() + long(from)));
    EXPECT_EQ(st_range.start_offset, int64_t(from));
    EXPECT_TRUE(st.finished());
    EXPECT_DOUBLE_EQ(st.progress(), 100.0);
  }
}

TEST(EngineTrim, FromFrameZeroStartsAtTheFilesFirstByte) {
  const std::string in = tsupport::fixture("en_a.m2v");
  const auto src = tsupport::read_file(in);
  const std::string out = tsupport::temp_dir() + "/t.m2v";
  JobControl st;
  TrimReport st_range;
  trim_packet(in.c_str(), out.c_str(), 0, 3, &st, &st_range);
  ASSERT_EQ(st.outcome(), JobOutcome::done);
  const auto got = tsupport::read_file(out);
  ASSERT_GE(got.size(), 100u);
  EXPECT_EQ(st_range.start_offset, 0);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()));
}

TEST(EngineTrim, OpenGopsDecodeCleanlyAndLaterGopsAreUnchanged) {
  const std::string in = tsupport::fixture("fa_long.m2v");
  const auto src = tsupport::read_file(in);
  const auto g = gop_starts(src);
  ASSERT_GT(g.size(), 6u);
  const std::string out = tsupport::temp_dir() + "/t.m2v";
  JobControl st;
  TrimReport st_range;
  trim_packet(in.c_str(), out.c_str(), 20, 25, &st, &st_range);  // GOPs 1..2 of 15 (display order)
  ASSERT_EQ(st.outcome(), JobOutcome::done);
  const auto got = tsupport::read_file(out);
  // Everything from the second GOP on is the source's bytes.
  size_t second = 0;
  for (size_t x : g)
    if (x > size_t(st_range.start_offset)) {
      second = x;
      break;
    }
  ASSERT_GT(second, 0u);
  ASSERT_GT(size_t(st_range.end_offset), second);
  const size_t tail = size_t(st_range.end_offset) - second;
  ASSERT_GT(got.size(), tail);
  EXPECT_TRUE(std::equal(got.end() - long(tail), got.end(), src.begin() + long(second)));
  std::string err;
  EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(out) + " -f null - 2>&1", &err), 0);
  EXPECT_EQ(err, "");
}

// Fault: a program-stream trim could end inside a pack.
TEST(EngineTrim, ProgramStreamTrimCopiesWholePacks) {
  const std::string in = tsupport::fixture("fa_ps.mpg");
  const std::string out = tsupport::temp_dir() + "/t.mpg";
  JobControl st;
  TrimReport st_range;
  const int64_t n = trim_packet(in.c_str(), out.c_str(), 100, 60, &st, &st_range);
  ASSERT_EQ(st.outcome(), JobOutcome::done);
  const auto got = tsupport::read_file(out);
  ASSERT_EQ(int64_t(got.size()), n);
  EXPECT_GE(n, st_range.end_offset - st_range.start_offset);  // plus the pack holding the last picture's tail
  EXPECT_EQ(st_range.start_offset % 2048, 0);
  EXPECT_EQ(st_range.end_offset % 2048, 0);
  ASSERT_GE(got.size(), 4u);
  EXPECT_EQ(got[3], 0xBA);  // a pack header first
  // Whole packs throughout: the start's leading pictures are blanked inside
  // their packs.
  ASSERT_EQ(got.size() % 2048, 0u);
  for (size_t at = 0; at < got.size(); at += 2048) {
    SCOPED_TRACE(at);
    EXPECT_TRUE(got[at] == 0 && got[at + 1] == 0 && got[at + 2] == 1 && got[at + 3] == 0xBA);
  }
}

TEST(EngineTrim, RefusalsLeaveNoFile) {
  const std::string dir = tsupport::temp_dir();
  const std::string in = tsupport::fixture("en_a.m2v");
  const std::string out = dir + "/t.m2v";
  const std::string random = dir + "/random.m2v";
  std::vector<uint8_t> noise(200000);
  unsigned x = 12345;
  for (auto& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
  ASSERT_TRUE(tsupport::write_file(random, noise));
  const auto src = tsupport::read_file(in);
  const std::string truncated = dir + "/short.m2v";
  ASSERT_TRUE(tsupport::write_file(truncated, {src.begin(), src.begin() + 3000}));
  struct Bad {
    std::string in;
    int start, count;
  } bad[] = {{in, 75, 1}, {in, 500, 3}, {in, -1, 3}, {in, 3, 0}, {random, 0, 10}, {dir + "/none.m2v", 0, 1}};
  for (const Bad& b : bad) {
    JobControl st;
    TrimReport st_range;
    trim_packet(b.in.c_str(), out.c_str(), b.start, b.count, &st, &st_range);
    EXPECT_EQ(st.outcome(), JobOutcome::failed) << b.in << " " << b.start;
    EXPECT_FALSE(exists(out)) << b.in << " " << b.start;
    EXPECT_TRUE(st.finished());
  }
  // A truncated file ends, one way or the other, and never hangs.
  JobControl st;
  TrimReport st_range;
  trim_packet(truncated.c_str(), out.c_str(), 0, 75, &st, &st_range);
  EXPECT_TRUE(st.finished());
  // The output is never the input.
  const std::string copy = dir + "/copy.m2v";
  ASSERT_TRUE(tsupport::write_file(copy, src));
  JobControl same;
  TrimReport same_range;
  trim_packet(copy.c_str(), copy.c_str(), 12, 12, &same, &same_range);
  EXPECT_EQ(same.outcome(), JobOutcome::failed);
  EXPECT_EQ(same.message(), "<" + copy + "> is the input");
  EXPECT_EQ(tsupport::read_file(copy), src);
}

TEST(EngineTrim, StopWithDeleteLeavesNoFileWithKeepAPrefix) {
  const std::string in = tsupport::fixture("fa_sd.m2v");
  const auto src = tsupport::read_file(in);
  const std::string dir = tsupport::temp_dir();
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("gop-trim " + tsupport::sh_quote(in) + " 0 300 " + tsupport::sh_quote(dir + "/d.m2v") +
                              " --stop-at 1000000 delete",
                          &lines),
            0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(tsupport::field(lines[0], "status"), "stopped");
  EXPECT_FALSE(exists(dir + "/d.m2v"));
  ASSERT_EQ(tsupport::dev("gop-trim " + tsupport::sh_quote(in) + " 0 300 " + tsupport::sh_quote(dir + "/k.m2v") +
                              " --stop-at 1000000 keep",
                          &lines),
            0);
  EXPECT_EQ(tsupport::field(lines[0], "status"), "stopped");
  const auto got = tsupport::read_file(dir + "/k.m2v");
  EXPECT_GE(got.size(), 1000000u);
  EXPECT_LT(got.size(), src.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), src.begin()));
  EXPECT_EQ(tsupport::field_int(lines[0], "bytes"), int64_t(got.size()));
  // A failure prints its line too.
  EXPECT_EQ(tsupport::dev("gop-trim " + tsupport::sh_quote(in) + " 100000 3 " + tsupport::sh_quote(dir + "/f.m2v"),
                          &lines),
            1);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(tsupport::field(lines[0], "status"), "failed");
}

}  // namespace

// Faults: the last picture's tail shares a packet with the next GOP's header,
// past the range's end, and was cut off; a trim from frame 0 began where
// measuring the pack size had left the reading position.
TEST(EngineTrim, ProgramStreamTrimDecodesToTheSourceFrames) {
  const std::string in = tsupport::fixture("ps_vob.vob");
  const std::string md5 = " -map 0:v -f framemd5 - 2>/dev/null | grep -v '^#' | cut -d, -f6";
  auto lines = [](const std::string& t) {
    std::vector<std::string> v;
    for (size_t a = 0, b; (b = t.find('\n', a)) != std::string::npos; a = b + 1) v.push_back(t.substr(a, b - a));
    return v;
  };
  std::string src;
  ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(in) + md5, &src), 0);
  const auto s = lines(src);
  ASSERT_GE(s.size(), 58u);
  // GOPs of 13 then 15 frames; the second case starts in an open GOP whose
  // two leading B pictures are blanked.
  const struct {
    int start, count, first, frames;
  } cases[] = {{0, 30, 0, 43}, {30, 20, 30, 28}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.start);
    const std::string out = tsupport::temp_dir() + "/ps_trim.vob";
    JobControl st;
    TrimReport st_range;
    trim_packet(in.c_str(), out.c_str(), c.start, c.count, &st, &st_range);
    ASSERT_EQ(st.outcome(), JobOutcome::done);
    std::string err, got;
    EXPECT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(out) + " -map 0:v -f null - 2>&1", &err), 0);
    EXPECT_EQ(err, "");
    ASSERT_EQ(tsupport::run("ffmpeg -nostdin -v error -i " + tsupport::sh_quote(out) + md5, &got), 0);
    const auto g = lines(got);
    ASSERT_EQ(int(g.size()), c.frames);
    for (size_t i = 0; i < g.size(); ++i) EXPECT_EQ(g[i], s[size_t(c.first) + i]) << "frame " << c.first + int(i);
  }
}
