// The program opened from the command line, as a new user starts it.
#include <gtest/gtest.h>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(CommandLine, TwoMoviesShowTheLastOnTop) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("ui.mpg", "ui_ntsc.mpg");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, {fixture("ui.mpg"), fixture("ui_ntsc.mpg")}, {.settings = "Initial Window 0 1280 0 1024\n"});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string win = x.wait_window(" - (.*/)?ui_ntsc\\.mpg$");
  ASSERT_FALSE(win.empty()) << app.log();

  RgbImage shot;
  const Match m = x.wait_picture(decode_frame(fixture("ui_ntsc.mpg"), 0), 35.0, "opened", &shot);
  EXPECT_GE(m.psnr, 35.0);
  EXPECT_EQ(read_frame_number(shot, m), 0);
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
