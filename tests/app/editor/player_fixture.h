// A player view over a FakeEditor with fake platform seams, and a host
// that records what the view asked of its window.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "fake_editor.h"
#include "platform/fakes.h"

struct RecordingHost : PlayerViewHost {
  int timer_starts = 0, timer_stops = 0, frames = 0, focus = 0;
  bool timer_running = false;
  std::vector<std::pair<int, int>> copies;
  void start_retry_timer(int ms) override {
    EXPECT_EQ(ms, 300);
    ++timer_starts;
    timer_running = true;
  }
  void stop_retry_timer() override {
    ++timer_stops;
    timer_running = false;
  }
  void frame_ready() override { ++frames; }
  void take_focus() override { ++focus; }
  void notify_copy(int start, int count) override { copies.emplace_back(start, count); }
};

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { make(100, 25.0); }
  void make(int frames, double rate) {
    view.reset();
    editor = std::make_unique<FakeEditor>(frames, 64, 48, rate);
    view = std::make_unique<CQuarvelPlayerView>(&settings, &host);
    ASSERT_EQ(view->attach_editor(editor.get(), 1), 1);
  }
  void set_marks(int in, int out, int insert) {
    view->mark_in = in;
    view->mark_out = out;
    view->insert_point = insert;
  }
  void go(int frame) {
    view->post_command(kCodeGoto, frame);
    ASSERT_EQ(editor->current, frame);
  }
  int count_calls(const std::string& prefix) const {
    int n = 0;
    for (const auto& c : editor->calls) n += c.rfind(prefix, 0) == 0;
    return n;
  }

  FakePlatform fake;
  EditorSettings settings;
  RecordingHost host;
  std::unique_ptr<FakeEditor> editor;
  std::unique_ptr<CQuarvelPlayerView> view;
};
