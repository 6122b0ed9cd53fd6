// Checks of the end-to-end harness on fixture frames shown by an image
// viewer under Xvfb: a frame is found wherever and at whatever size it is
// shown, its number is read, and a wrong frame does not pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <ostream>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

// The finder is told neither the place nor the size.
struct ViewCase {
  const char* movie;
  int frame;
  int divisor;  // shown at 1/divisor of its size
  int x, y;     // placement asked of the viewer
};

void PrintTo(const ViewCase& c, std::ostream* os) {
  *os << c.movie << " frame " << c.frame << " at 1/" << c.divisor << " +" << c.x << "+" << c.y;
}

const ViewCase kViews[] = {
    {"ui.mpg", 50, 1, 100, 60},
    {"ui_ntsc.mpg", 61, 2, 611, 397},
    {"ui_sd.mpg", 98, 4, 903, 771},
    {"ui_hd.mpg", 13, 2, 17, 421},
};

class ViewerShows : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewerShows, FrameFoundAndNumberRead) {
  const ViewCase& c = GetParam();
  TSUPPORT_NEED_E2E_TOOLS();
  if (!have_program("display")) GTEST_SKIP() << "display is not installed";
  TSUPPORT_NEED_FIXTURES(c.movie);
  const std::vector<RgbImage> frames = decode_frames(fixture(c.movie), c.frame, 2);
  ASSERT_EQ(frames.size(), 2u);
  const RgbImage& ref = frames[0];
  const RgbImage& next = frames[1];
  const std::string shown = temp_dir() + "/frame.ppm";
  ASSERT_TRUE(write_ppm(shown, ref));

  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  std::vector<std::string> args{"-title", "frame under test", "-borderwidth", "0", "-geometry",
                                "+" + std::to_string(c.x) + "+" + std::to_string(c.y)};
  if (c.divisor > 1) args.insert(args.end(), {"-resize", std::to_string(100 / c.divisor) + "%"});
  args.push_back(shown);
  App viewer(x, args, {.exe = "display"});
  ASSERT_FALSE(x.wait_window("^frame under test$").empty()) << viewer.log();

  RgbImage shot;
  const Match m = x.wait_picture(ref, 35.0, "shown", &shot);
  EXPECT_GE(m.psnr, 35.0);
  EXPECT_EQ(m.divisor, c.divisor);
  EXPECT_EQ(m.x, c.x);
  EXPECT_EQ(m.y, c.y);
  EXPECT_EQ(read_frame_number(shot, m), c.frame);

  const Match wrong = find_picture(shot, next);
  EXPECT_LT(wrong.psnr, 35.0);
  EXPECT_LT(wrong.psnr, m.psnr);
  EXPECT_NE(read_frame_number(shot, wrong), c.frame + 1);
}

INSTANTIATE_TEST_SUITE_P(Placements, ViewerShows, ::testing::ValuesIn(kViews));

// Pasted into a made-up screen (no X server): found to the pixel also in
// the screen's corners, where the search has no room around it.
TEST(FramePicture, FoundInTheScreensCorners) {
  TSUPPORT_NEED_FIXTURES("ui_ntsc.mpg");
  const RgbImage ref = decode_frame(fixture("ui_ntsc.mpg"), 7);
  ASSERT_FALSE(ref.empty());
  for (int d : {1, 2, 4}) {
    const RgbImage pic = shrink(ref, d);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{1280 - pic.w, 1024 - pic.h}}) {
      RgbImage screen{1280, 1024, std::vector<uint8_t>(1280 * 1024 * 3)};
      for (size_t i = 0; i < screen.px.size(); ++i) screen.px[i] = static_cast<uint8_t>(96 + (i * 7919 % 61));
      for (int r = 0; r < pic.h; ++r)
        std::copy(pic.at(0, r), pic.at(0, r) + pic.w * 3, screen.px.begin() + ((y + r) * 1280 + x) * 3);
      const Match m = find_picture(screen, ref);
      EXPECT_EQ(m.divisor, d);
      EXPECT_EQ(m.x, x) << "at 1/" << d;
      EXPECT_EQ(m.y, y) << "at 1/" << d;
      EXPECT_EQ(m.psnr, 99.0);
      EXPECT_EQ(read_frame_number(screen, m), 7);
    }
  }
}

TEST(FramePicture, NotFoundOnEmptyScreen) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  const RgbImage shot = x.screenshot("empty");
  ASSERT_EQ(shot.w, 1280);
  ASSERT_EQ(shot.h, 1024);
  const Match m = find_picture(shot, decode_frame(fixture("ui.mpg"), 0));
  EXPECT_LT(m.psnr, 20.0);
  EXPECT_EQ(read_frame_number(shot, m), -1);
}

// The probe is built with the sanitizers; run with the suppressions that
// scripts/test.sh gives every test, its exit shows what they hide: the
// system libraries' reports, not a leak of ours.
struct ProbeCase {
  const char* text;
  bool leaks;
};

void PrintTo(const ProbeCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class SanitizerProbe : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(SanitizerProbe, SystemReportsHiddenOursShown) {
  const ProbeCase& c = GetParam();
  TSUPPORT_NEED_E2E_TOOLS();
  const char* probe = std::getenv("TAMSEL_E2E_PROBE");
  const char* dir = std::getenv("TAMSEL_SUPPRESSIONS");
  if (!probe || !dir) GTEST_SKIP() << "TAMSEL_E2E_PROBE and TAMSEL_SUPPRESSIONS are not set";
  const std::string supp = dir;
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, {},
          {.env = {"ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:suppressions=" + supp + "/asan.supp",
                   "LSAN_OPTIONS=suppressions=" + supp + "/lsan.supp"},
           .exe = probe});
  const std::string win = x.wait_window("^Leak probe$");
  ASSERT_FALSE(win.empty()) << app.log();
  ASSERT_TRUE(x.focus(win));
  ASSERT_TRUE(x.type(c.text));
  ASSERT_TRUE(x.key("Return"));
  const int status = app.wait(30);
  if (c.leaks) {
    EXPECT_NE(status, 0);
    EXPECT_NE(app.log().find("lose_allocation"), std::string::npos) << app.log();
  } else {
    EXPECT_EQ(status, 0) << app.log();
  }
}

INSTANTIATE_TEST_SUITE_P(Exits, SanitizerProbe, ::testing::Values(ProbeCase{"fine", false}, ProbeCase{"leak", true}));

}  // namespace
