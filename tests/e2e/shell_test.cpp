// The main window as a user meets it: the Open command with a typed path,
// the editor limit, and the window's place kept at exit.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

std::string read_text(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(MainWindow, CtrlOOpensATypedPathAndExitKeepsThePlace) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, {}, {.settings = "Initial Window 10 1210 20 980\n"});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string main = x.wait_window("^MPEG-Tamsel .*\\(MPEG-2\\) \\([^)]*\\)$");
  ASSERT_FALSE(main.empty()) << app.log();
  ASSERT_TRUE(x.focus(main));
  ASSERT_TRUE(x.key("ctrl+o"));
  const std::string dialog = x.wait_window("^Open MPEG Movie$");
  ASSERT_FALSE(dialog.empty()) << app.log();
  ASSERT_TRUE(x.focus(dialog));
  ASSERT_TRUE(x.type(fixture("ui.mpg")));
  ASSERT_TRUE(x.key("Return"));
  // The name field's completion list may take the first Return.
  if (x.wait_window(" - (.*/)?ui\\.mpg$", 3).empty()) x.key("Return");
  ASSERT_FALSE(x.wait_window(" - (.*/)?ui\\.mpg$").empty()) << app.log();
  RgbImage shot;
  const Match m = x.wait_picture(decode_frame(fixture("ui.mpg"), 0), 35.0, "typed_path", &shot);
  EXPECT_GE(m.psnr, 35.0);
  EXPECT_EQ(read_frame_number(shot, m), 0);

  EXPECT_EQ(app.stop(), 0) << app.log();
  const std::string cfg = read_text(app.config_dir() + "/MPEG-Tamsel.cfg");
  EXPECT_NE(cfg.find("Initial Window"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find(" 10 1210 20 980"), std::string::npos) << cfg;
  EXPECT_NE(cfg.find("Default Open Path"), std::string::npos) << cfg;
}

TEST(MainWindow, SeventeenthFileShowsTheLimit) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, std::vector<std::string>(17, fixture("ui.mpg")),
          {.settings = "Initial Window 0 1280 0 1024\nImage Size 2\n", .env = {"TAMSEL_TRACE=1"}});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string box = x.wait_window("^MPEG-Tamsel$", 60);
  ASSERT_FALSE(box.empty()) << app.log();
  x.screenshot("editor_limit");
  EXPECT_NE(app.log().find("message box: Maximum number of editors: 16"), std::string::npos) << app.log();
  ASSERT_TRUE(x.focus(box));
  ASSERT_TRUE(x.key("Return"));
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
