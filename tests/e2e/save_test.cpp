// Saving from an editor window as a user does it: marks, Save (Z), a name
// typed into the dialog, Enter; the progress window, then an editor on
// the written file. The same dialog's Batch button queues the save for the
// Batch Save Manager instead.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

// Frames 5..31 of ui.mpg marked in the editor window, then Save (Z): the
// Save dialog's window id, focus in its File Name ("" when it did not come).
std::string mark_and_open_save(const XServer& x, const std::string& editor) {
  x.focus(editor);
  // l steps one frame, j jumps 25.
  if (!x.key("l l l l l i j l o") || !x.key("z")) return {};
  return x.wait_window("^MPEG-Tamsel: Save$");
}

int video_frames(const std::string& file) {
  std::string frames;
  run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
          sh_quote(file),
      &frames);
  return std::atoi(frames.c_str());
}

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
  const std::string dialog = mark_and_open_save(x, win);
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
  EXPECT_EQ(video_frames(out), 27);
  EXPECT_EQ(app.stop(), 0) << app.log();
}

TEST(SaveE2E, BatchButtonQueuesTheSaveAndSaveAllWritesIt) {
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
  const std::string dialog = mark_and_open_save(x, win);
  ASSERT_FALSE(dialog.empty()) << app.log();
  const std::string out = test_dir() + "/batch.mpg";
  x.focus(dialog);
  ASSERT_TRUE(x.type(out));
  // Backwards from File Name: Help, then Batch (Select PID is hidden for
  // a program stream).
  ASSERT_TRUE(x.key("shift+Tab shift+Tab space"));
  const std::string project = out + ".rec";
  for (int i = 0; i < 100 && !std::filesystem::exists(project); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(std::filesystem::exists(project)) << app.log();
  // The manager opens by itself with the queued row; the Save dialog stays
  // until it is dismissed.
  const std::string title = "^ MPEG-Tamsel Batch Save Manager $";
  std::string manager = x.wait_window(title);
  ASSERT_FALSE(manager.empty()) << app.log();
  x.screenshot("batch-queued");
  // Queuing saves nothing yet.
  EXPECT_FALSE(std::filesystem::exists(out));
  x.focus(dialog);
  ASSERT_TRUE(x.key("Escape"));
  // Cancel (backwards from Input: Help, Cancel) closes it; F5 brings it
  // back with the kept row.
  x.focus(manager);
  ASSERT_TRUE(x.key("shift+Tab shift+Tab space"));
  for (int i = 0; i < 50 && !x.wait_window(title, 0.1).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(x.wait_window(title, 0.1).empty()) << app.log();
  x.focus(win);
  ASSERT_TRUE(x.key("F5"));
  manager = x.wait_window(title);
  ASSERT_FALSE(manager.empty()) << app.log();
  x.focus(manager);
  x.screenshot("batch-manager");
  // Backwards from Input: Help, Cancel, Close, then Save All.
  ASSERT_TRUE(x.key("shift+Tab shift+Tab shift+Tab shift+Tab space"));
  // The output gets its name only once the save has finished.
  for (int i = 0; i < 600 && !std::filesystem::exists(out); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(std::filesystem::exists(out)) << app.log();
  x.screenshot("batch-saved");
  EXPECT_FALSE(std::filesystem::exists(out + ".partial"));
  EXPECT_EQ(video_frames(out), 27);
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
