// The editor window as a user drives it: stepping and jumping keys, marks,
// a cut with undo and redo, a short silent playback and a snapshot.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

class EditorKeys : public ::testing::Test {
 protected:
  // Waits until the window shows source frame `source` of the movie.
  void expect_frame(int source, const std::string& name) {
    RgbImage shot;
    const Match m = x_->wait_picture(decode_frame(movie_, source), 35.0, name, &shot, 20, {1});
    EXPECT_GE(m.psnr, 35.0) << name;
    EXPECT_EQ(read_frame_number(shot, m), source) << name;
  }
  std::unique_ptr<XServer> x_;
  std::string movie_;
};

TEST_F(EditorKeys, StepsMarksCutUndoPlayAndSnapshot) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  movie_ = fixture("ui.mpg");
  x_ = std::make_unique<XServer>();
  ASSERT_TRUE(x_->ok()) << x_->error();
  App app(*x_, {movie_}, {.settings = "Initial Window 0 1280 0 1024\n"});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string win = x_->wait_window(" - (.*/)?ui\\.mpg$");
  ASSERT_FALSE(win.empty()) << app.log();
  x_->focus(win);
  expect_frame(0, "editor-opened");

  // 250 frames: jumps are a tenth (25).
  const struct {
    const char* keys;
    int frame;
    const char* name;
  } steps[] = {
      {"l l l l l", 5, "editor-l5"}, {"h", 4, "editor-h"},   {"e", 249, "editor-e"},
      {"f", 0, "editor-f"},          {"j", 25, "editor-j"},  {"k", 0, "editor-k"},
  };
  for (const auto& s : steps) {
    ASSERT_TRUE(x_->key(s.keys));
    expect_frame(s.frame, s.name);
  }
  // Marks 30..59, back to mark in, cut: the cut point shows source 60.
  x_->key("j l l l l l i");
  expect_frame(30, "editor-mark-in");
  x_->key("j l l l l o");
  expect_frame(59, "editor-mark-out");
  x_->key("3");
  expect_frame(30, "editor-goto-in");
  x_->key("x");
  expect_frame(60, "editor-cut");
  x_->key("u");
  expect_frame(30, "editor-undo");
  x_->key("n");
  expect_frame(60, "editor-redo");

  // Two seconds of silent play from the start (no sound device here).
  x_->key("f");
  expect_frame(0, "editor-before-play");
  x_->key("d");
  x_->run("sleep 2");
  x_->key("d");
  x_->run("sleep 0.5");
  RgbImage shot = x_->screenshot("editor-played");
  int source = -1;
  for (int guess = 20; guess <= 140 && source < 0; ++guess) {
    const Match m = find_picture(shot, decode_frame(movie_, guess), {1});
    if (m.psnr >= 35.0) source = read_frame_number(shot, m);
  }
  // Position p shows source p below 30, else p + 30.
  const int position = source < 30 ? source : source - 30;
  EXPECT_GE(position, 38) << "source " << source;
  EXPECT_LE(position, 62) << "source " << source;

  // Snapshot: the Save Image dialog, a name without extension.
  const std::string base = app.config_dir() + "/shot";
  x_->key("y");
  const std::string dlg = x_->wait_window("^Save Image$");
  ASSERT_FALSE(dlg.empty()) << app.log();
  x_->focus(dlg);
  x_->type(base);
  x_->key("Return");
  const std::string bmp = base + ".bmp";
  for (int i = 0; i < 100 && !std::filesystem::exists(bmp); ++i) x_->run("sleep 0.1");
  ASSERT_TRUE(std::filesystem::exists(bmp)) << app.log();
  x_->run("sleep 0.5");
  std::ifstream f(bmp, std::ios::binary);
  char magic[2] = {};
  f.read(magic, 2);
  EXPECT_EQ(std::string(magic, 2), "BM");
  const RgbImage saved = decode_frame(bmp, 0);
  EXPECT_GE(psnr_at(saved, decode_frame(movie_, source), 0, 0), 35.0);
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
