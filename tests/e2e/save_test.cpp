// Saving from an editor window as a user does it: marks, Save (Z), a name
// typed into the dialog, Enter; the progress window, then an editor on
// the written file.
#include <gtest/gtest.h>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(SaveE2E, MarksZNameEnterOpensTheOutput) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  const std::string movie = fixture("ui.mpg");
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, {movie}, {.settings = "Initial Window 0 1280 0 1024\n"});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string win = x.wait_window(" - (.*/)?ui\\.mpg$");
  ASSERT_FALSE(win.empty()) << app.log();
  x.focus(win);
  // Frames 5..31 marked (l steps one frame, j jumps 25).
  ASSERT_TRUE(x.key("l l l l l i j l o"));
  ASSERT_TRUE(x.key("z"));
  const std::string dialog = x.wait_window("^MPEG-Tamsel: Save$");
  ASSERT_FALSE(dialog.empty()) << app.log();
  x.screenshot("save-dialog");
  const std::string out = test_dir() + "/saved.mpg";
  x.focus(dialog);
  ASSERT_TRUE(x.type(out));
  ASSERT_TRUE(x.key("Return"));
  // The progress window carries the output's path; the written file then
  // opens in an editor window of its own.
  EXPECT_FALSE(x.wait_window("^" + out + "$").empty()) << app.log();
  const std::string saved = x.wait_window(" - (.*/)?saved\\.mpg$", 60);
  ASSERT_FALSE(saved.empty()) << app.log();
  x.screenshot("save-opened");
  std::string frames;
  run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
          sh_quote(out),
      &frames);
  EXPECT_EQ(std::atoi(frames.c_str()), 27);
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
