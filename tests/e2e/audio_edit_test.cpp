// The audio editor from the keyboard: a segment marked while the track
// plays, cut, and the rest saved through the Save dialog.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(AudioEditor, CutAndSaveFromTheKeyboard) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  const std::string src = test_dir() + "/sweep60.mp2";
  ASSERT_EQ(run("ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                "\"aevalsrc=0.4*sin(2*PI*(300+37*mod(floor(10*t)\\,50))*t):s=44100:d=60:c=stereo\" -c:a mp2 -b:a 224k " +
                sh_quote(src)),
            0);
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  const std::string out = test_dir() + "/edited.mp2";
  App app(x, {src}, {.env = {"TAMSEL_SOUND_FILE=" + test_dir() + "/heard.wav"}});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string win = x.wait_window("MPEG Audio Player");
  ASSERT_FALSE(win.empty()) << app.log();
  ASSERT_TRUE(x.focus(win));
  // Play has the focus: four steps on to the Editor button.
  ASSERT_TRUE(x.key("Tab Tab Tab Tab space"));
  ASSERT_FALSE(x.wait_window(" Quarvel MPEG Audio Editor ").empty()) << app.log();
  // Past the third second (both side cuts stay possible after the cut),
  // on past the lyrics buttons and the channel boxes to Mark-In.
  std::this_thread::sleep_for(std::chrono::seconds(4));
  ASSERT_TRUE(x.key("Tab Tab Tab Tab Tab Tab space"));
  std::this_thread::sleep_for(std::chrono::seconds(3));
  ASSERT_TRUE(x.key("Tab space"));  // Mark-Out
  ASSERT_TRUE(x.key("Tab space"));  // Cut (Undo and Redo are still off)
  x.screenshot("audio_editor_cut");
  ASSERT_TRUE(x.key("Tab Tab Tab Tab space"));  // past Cut Left, Cut Right and Insert to Save
  const std::string dialog = x.wait_window("^ MPEG Audio Editor: Save $");
  ASSERT_FALSE(dialog.empty()) << app.log();
  ASSERT_TRUE(x.focus(dialog));
  ASSERT_TRUE(x.type(out));
  // Back from the name to Save: Help, Close, OK, Save.
  ASSERT_TRUE(x.key("shift+Tab shift+Tab shift+Tab shift+Tab space"));
  ASSERT_FALSE(x.wait_window(".*edited\\.mp2.*|Saving").empty()) << app.log();
  for (int i = 0; i < 600 && read_file(out).empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The progress window shows the end and closes 1.5 s later.
  std::this_thread::sleep_for(std::chrono::milliseconds(3500));
  x.screenshot("audio_editor_saved");

  EXPECT_EQ(app.stop(), 0) << app.log();
  std::string info;
  ASSERT_EQ(run("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 " + sh_quote(out), &info), 0);
  EXPECT_NEAR(std::atof(info.c_str()), 57.0, 0.5);
  std::string err;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -f null - 2>&1", &err), 0);
  EXPECT_EQ(err, "");
}

}  // namespace
