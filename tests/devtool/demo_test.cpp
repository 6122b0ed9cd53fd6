// tamsel-dev demo: the sample it makes, the save of three ranges cut
// inside GOPs, and an output that ffmpeg decodes silently showing exactly
// the kept frames, read back from the boxes drawn in every picture, and
// that dvdauthor takes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

// The frame number drawn in a 720x576 grey picture: 16 boxes, bit 0 left.
int drawn_number(const uint8_t* y) {
  int n = 0;
  for (int b = 0; b < 16; ++b)
    if (y[50 * 720 + 24 + 42 * b + 18] > 128) n |= 1 << b;
  return n;
}

TEST(Demo, SavesTheKeptFramesOfThreeRangesCutInsideGops) {
  if (!have_program("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  const std::string dir = temp_dir() + "/demo";
  std::string out;
  ASSERT_EQ(run(sh_quote(dev_tool()) + " demo " + sh_quote(dir), &out), 0) << out;
  const std::vector<std::string> lines = split_lines(out);
  ASSERT_GE(lines.size(), 3u) << out;
  EXPECT_EQ(lines.front(), "demo sample=" + dir + "/sample.m2v frames=300");
  const std::string last = lines.back();
  ASSERT_EQ(last.rfind("demo output=", 0), 0u) << out;
  const std::string output = field(last, "output");
  const long long frames = field_int(last, "frames");
  bool saved = false;
  for (const std::string& l : lines) saved |= l.rfind("save ", 0) == 0 && field(l, "status") == "done";
  EXPECT_TRUE(saved) << out;

  // Every kept frame once, in order, as ffmpeg decodes the output.
  std::vector<int> want;
  for (auto [a, b] : {std::pair{20, 97}, std::pair{130, 181}, std::pair{229, 287}})
    for (int f = a; f <= b; ++f) want.push_back(f);
  EXPECT_EQ(frames, (long long)want.size());
  const std::string raw = dir + "/out.gray";
  std::string log;
  ASSERT_EQ(run("ffmpeg -v error -y -i " + sh_quote(output) + " -f rawvideo -pix_fmt gray " + sh_quote(raw) + " 2>&1",
                &log),
            0);
  EXPECT_EQ(log, "") << "ffmpeg decodes the output silently";
  const std::vector<uint8_t> pictures = read_file(raw);
  const size_t size = 720 * 576;
  ASSERT_EQ(pictures.size() % size, 0u);
  std::vector<int> got;
  for (size_t at = 0; at + size <= pictures.size(); at += size) got.push_back(drawn_number(pictures.data() + at));
  EXPECT_EQ(got, want);

  if (!have_program("dvdauthor")) return;
  std::string da;
  run("VIDEO_FORMAT=PAL dvdauthor -o " + sh_quote(dir + "/dvd") + " -t " + sh_quote(output) + " 2>&1", &da);
  EXPECT_EQ(da.find("ERR:"), std::string::npos) << da;
  EXPECT_NE(da.find("VOBUs"), std::string::npos) << da;
}

}  // namespace
