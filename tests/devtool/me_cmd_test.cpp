// tamsel-dev me: pictures in coded order (B pictures after the reference
// they precede, the B pictures before an I predicted from the last P and
// that I, a trailing frame turned into a P), the record formats, and clean
// refusals of sizes and files that do not fit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

using namespace tsupport;

// `frames` planar 4:2:0 frames of random but slowly moving content.
std::string clip(int w, int h, int frames) {
  std::vector<uint8_t> bytes;
  std::mt19937 rng(5);
  std::vector<uint8_t> base(static_cast<size_t>(w + 64) * (h + 64));
  for (auto& b : base) b = static_cast<uint8_t>(rng() % 200 + 20);
  for (int f = 0; f < frames; ++f) {
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) bytes.push_back(base[static_cast<size_t>(y + f) * (w + 64) + x + 2 * f]);
    bytes.insert(bytes.end(), static_cast<size_t>(w / 2) * (h / 2) * 2, 128);
  }
  const std::string path = temp_dir() + "/clip_" + std::to_string(w) + "x" + std::to_string(h) + "_" +
                           std::to_string(frames) + ".yuv";
  write_file(path, bytes);
  return path;
}

struct MeRun {
  int rc;
  std::vector<std::string> lines;
};

MeRun me(const std::string& args) {
  MeRun r;
  r.rc = dev("me " + args + " 2>/dev/null", &r.lines);
  return r;
}

std::string order(const MeRun& r) {
  std::string s;
  for (const std::string& l : r.lines)
    if (l.rfind("pic ", 0) == 0) s += field(l, "type") + field(l, "n") + " ";
  return s;
}

TEST(MeCommand, CodedOrderOfGops) {
  struct Case {
    int frames;
    const char* gop;
    const char* order;
  };
  const Case cases[] = {
      {7, "", "I0 P3 B1 B2 P6 B4 B5 "},
      {5, "", "I0 P3 B1 B2 P4 "},  // the last frame has nothing after it
      {18, "--gop 6 3", "I0 P3 B1 B2 I6 B4 B5 P9 B7 B8 I12 B10 B11 P15 B13 B14 P17 B16 "},
      {4, "--gop 2 1", "I0 P1 I2 P3 "},
      {1, "", "I0 "},
  };
  for (const Case& c : cases) {
    const MeRun r = me(sh_quote(clip(48, 32, c.frames)) + " 48 32 " + c.gop);
    ASSERT_EQ(r.rc, 0);
    EXPECT_EQ(order(r), c.order) << c.frames << " " << c.gop;
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(field(r.lines.back(), "pictures"), std::to_string(c.frames));
  }
}

TEST(MeCommand, RecordsOfPicturesAndMacroblocks) {
  const MeRun r = me(sh_quote(clip(64, 48, 4)) + " 64 48 --mbs --mode 0x86 --range 3 3");
  ASSERT_EQ(r.rc, 0);
  int mbs = 0, pics = 0;
  for (const std::string& l : r.lines) {
    if (l.rfind("mb ", 0) == 0) {
      ++mbs;
      for (const char* key : {"n", "i", "type", "motion", "f0", "f1", "b0", "b1", "sel", "var", "class", "cand", "bcand"})
        EXPECT_FALSE(field(l, key).empty()) << key << ": " << l;
    } else if (l.rfind("pic ", 0) == 0) {
      ++pics;
      for (const char* key : {"n", "type", "cost", "cost_bwd", "intra", "us"}) EXPECT_FALSE(field(l, key).empty()) << l;
      EXPECT_EQ(mbs, pics * 12) << "one line per macroblock before each picture";
    }
  }
  EXPECT_EQ(pics, 4);
  // The content moves by (2, 1) pixels a frame; P3 is three frames on.
  for (const std::string& l : r.lines)
    if (l.rfind("mb n=3 i=5 ", 0) == 0) {
      EXPECT_EQ(field(l, "type"), "8") << l;
      EXPECT_EQ(field(l, "f0"), "12,6") << l;
    }
  // An I picture has no search.
  EXPECT_EQ(field(r.lines[12], "cost"), "65535");
  EXPECT_EQ(field(r.lines[12], "type"), "I");
}

TEST(MeCommand, RefusesWhatDoesNotFit) {
  const std::string good = sh_quote(clip(48, 32, 2));
  struct Case {
    std::string args;
    int rc;
  };
  const std::vector<Case> cases = {
      {good + " 47 32", 2},                        // odd width
      {good + " 48 33", 2},                        // odd height
      {good + " 64 32", 1},                        // not whole frames of that size
      {good + " 48 32 --chroma 422", 1},           // likewise with 4:2:2
      {sh_quote(clip(48, 32, 1)) + " 96 64", 1},   // shorter than one frame
      {sh_quote(temp_dir() + "/none.yuv") + " 48 32", 1},
      {good + " 48 32 --gop 3 4", 2},
      {good + " 48 32 --mode 0x100", 2},
      {good + " 48 32 --level 0", 2},
      {good + " 48 32 --range -1 2", 2},
      {good + " 48 32 --bogus", 2},
      {good + " 48", 2},
  };
  for (const Case& c : cases) {
    std::string out;
    const int rc = run(sh_quote(dev_tool()) + " me " + c.args + " 2>&1", &out);
    EXPECT_EQ(rc, c.rc) << c.args << ": " << out;
    EXPECT_EQ(out.find("pic "), std::string::npos) << c.args;
  }
}

}  // namespace

namespace {

// Every kernel level gives the same decisions: the pictures saved must not
// depend on the user's processor.
TEST(MeCommand, DecisionsDoNotDependOnTheProcessor) {
  const std::string path = clip(160, 96, 7);
  for (const char* word : {"0x86", "0xA6", "0x27", "6"}) {
    std::string plain, simd;
    const std::string args = " me " + sh_quote(path) + " 160 96 --mbs --mode " + std::string(word) +
                             " | sed 's/ us=[0-9]*//'";
    ASSERT_EQ(run("TAMSEL_CPU=c " + sh_quote(dev_tool()) + args, &plain), 0);
    ASSERT_EQ(run(sh_quote(dev_tool()) + args, &simd), 0);
    EXPECT_GT(plain.size(), 1000u);
    EXPECT_EQ(plain, simd) << word;
  }
}

}  // namespace
