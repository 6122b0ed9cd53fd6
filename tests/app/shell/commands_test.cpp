// Commands by id along a route, the function keys, and the tool windows'
// registry with its rules for a second run.
#include <gtest/gtest.h>

#include "app/shell/command_ids.h"
#include "app/shell/commands.h"
#include "app/shell/editor_app.h"
#include "app/shell/tools.h"
#include "fake_editor.h"
#include "platform/fakes.h"

namespace {

TEST(Commands, FirstTargetOnTheRouteWins) {
  std::vector<std::string> ran;
  CommandTarget view, frame, app;
  view.add(1, [&] { ran.push_back("view 1"); }, [] { return CommandState{true, true}; });
  frame.add(1, [&] { ran.push_back("frame 1"); });
  frame.add(2, [&] { ran.push_back("frame 2"); }, [] { return CommandState{false, false}; });
  app.add(3, [&] { ran.push_back("app 3"); });
  const CommandRoute route = {&view, nullptr, &frame, &app};
  EXPECT_TRUE(route_command(route, 1));
  EXPECT_TRUE(route_command(route, 2));
  EXPECT_TRUE(route_command(route, 3));
  EXPECT_FALSE(route_command(route, 4));  // nobody handles it: nothing happens
  EXPECT_EQ(ran, (std::vector<std::string>{"view 1", "frame 2", "app 3"}));

  EXPECT_TRUE(route_update(route, 1).checked);
  EXPECT_FALSE(route_update(route, 2).enabled);
  EXPECT_TRUE(route_update(route, 3).enabled);  // no rule: enabled
  EXPECT_FALSE(route_update(route, 4).enabled);

  view.remove(1);
  route_command(route, 1);
  EXPECT_EQ(ran.back(), "frame 1");
  EXPECT_EQ(frame.ids(), (std::vector<int>{1, 2}));
}

TEST(Commands, HandlerMayReplaceItself) {
  CommandTarget t;
  int n = 0;
  t.add(5, [&] {
    ++n;
    t.add(5, [&] { n += 10; });
  });
  t.run(5);
  t.run(5);
  EXPECT_EQ(n, 11);
}

TEST(Commands, ObjectNames) {
  EXPECT_EQ(action_name(cmd::kOpenMovie), "a32780");
  EXPECT_EQ(control_name(1287), "c1287");
}

TEST(FunctionKeys, F2ToF7OpenTheTools) {
  const struct {
    int vk;
    bool ctrl, shift, alt;
    int command;
  } cases[] = {
      {0x71, false, false, false, cmd::kMultiplexer},    {0x72, false, false, false, cmd::kDemultiplexer},
      {0x73, false, false, false, cmd::kStreamConvertor}, {0x74, false, false, false, cmd::kBatchSave},
      {0x75, false, false, false, cmd::kVideoClipList},  {0x76, false, false, false, cmd::kGopFixer},
      {0x71, true, true, false, cmd::kMultiplexer},      {0x71, true, true, true, 0},
      {0x70, false, false, false, 0},                    {0x77, false, false, false, 0},
      {'A', false, false, false, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(function_key_command(c.vk, c.ctrl, c.shift, c.alt), c.command) << c.vk << c.ctrl << c.shift << c.alt;
}

// A tool window that closes when asked (or later, by the test).
struct FakeTool : ToolWindow {
  std::function<void()> closed;
  bool busy = false;
  int close_requests = 0;
  bool close_at_once = true;
  bool is_busy() const override { return busy; }
  void close() override {
    ++close_requests;
    if (close_at_once) closed();
  }
};

TEST(Tools, SecondRunFollowsTheToolsRule) {
  ToolRegistry tools;
  FakeTool mux, list, audio;
  int made = 0;
  auto factory = [&made](FakeTool* t) {
    return [&made, t](std::function<void()> closed) -> ToolWindow* {
      ++made;
      t->closed = std::move(closed);
      return t;
    };
  };
  tools.add(cmd::kMultiplexer, factory(&mux), ToolRerun::CloseUnlessBusy);
  tools.add(cmd::kVideoClipList, factory(&list), ToolRerun::CloseAlways);
  tools.add(cmd::kAudioPlayer, factory(&audio), ToolRerun::Nothing);

  EXPECT_TRUE(tools.enabled(cmd::kMultiplexer));
  EXPECT_TRUE(tools.run(cmd::kMultiplexer));
  EXPECT_FALSE(tools.enabled(cmd::kMultiplexer));
  mux.busy = true;
  EXPECT_FALSE(tools.run(cmd::kMultiplexer));  // busy: stays open
  EXPECT_TRUE(tools.is_open(cmd::kMultiplexer));
  mux.busy = false;
  tools.run(cmd::kMultiplexer);  // idle: closes
  EXPECT_FALSE(tools.is_open(cmd::kMultiplexer));
  EXPECT_TRUE(tools.enabled(cmd::kMultiplexer));

  tools.run(cmd::kVideoClipList);
  list.busy = true;
  tools.run(cmd::kVideoClipList);  // closes even while it works
  EXPECT_FALSE(tools.is_open(cmd::kVideoClipList));

  tools.run(cmd::kAudioPlayer);
  tools.run(cmd::kAudioPlayer);
  EXPECT_TRUE(tools.is_open(cmd::kAudioPlayer));
  EXPECT_EQ(audio.close_requests, 0);
  EXPECT_EQ(made, 3);

  // No factory: disabled and nothing happens.
  EXPECT_FALSE(tools.enabled(cmd::kGopFixer));
  EXPECT_FALSE(tools.run(cmd::kGopFixer));

  tools.close_all();
  EXPECT_FALSE(tools.is_open(cmd::kAudioPlayer));
}

TEST(Tools, StaleCloseDoesNotForgetTheNewWindow) {
  ToolRegistry tools;
  FakeTool first, second;
  first.close_at_once = false;
  std::function<void()> first_closed;
  int n = 0;
  tools.add(
      cmd::kGopFixer,
      [&](std::function<void()> closed) -> ToolWindow* {
        if (n++ == 0) {
          first_closed = closed;
          return &first;
        }
        second.closed = closed;
        return &second;
      },
      ToolRerun::CloseUnlessBusy);
  tools.run(cmd::kGopFixer);
  first_closed();  // the window went by itself
  tools.run(cmd::kGopFixer);
  EXPECT_EQ(tools.window(cmd::kGopFixer), &second);
  first_closed();  // a late report of the first window
  EXPECT_EQ(tools.window(cmd::kGopFixer), &second);
}

TEST(Tools, WindowClosingWhileMadeIsNotHeld) {
  ToolRegistry tools;
  FakeTool t;
  tools.add(
      cmd::kBatchSave,
      [&](std::function<void()> closed) -> ToolWindow* {
        closed();
        return &t;
      },
      ToolRerun::CloseUnlessBusy);
  EXPECT_TRUE(tools.run(cmd::kBatchSave));
  EXPECT_FALSE(tools.is_open(cmd::kBatchSave));
}

TEST(Tools, ApplicationCommandsRunTheRegistry) {
  FakePlatform fp;
  CEditorApp app(fake_editor_factory());
  FakeTool gop;
  EXPECT_FALSE(route_update({&app.commands()}, cmd::kGopFixer).enabled);
  app.tools().add(
      cmd::kGopFixer,
      [&](std::function<void()> closed) -> ToolWindow* {
        gop.closed = std::move(closed);
        return &gop;
      },
      ToolRerun::CloseUnlessBusy);
  EXPECT_TRUE(route_update({&app.commands()}, cmd::kGopFixer).enabled);
  EXPECT_TRUE(route_command({&app.commands()}, function_key_command(0x76, false, false, false)));
  EXPECT_TRUE(app.tools().is_open(cmd::kGopFixer));
  EXPECT_FALSE(route_update({&app.commands()}, cmd::kGopFixer).enabled);
}

}  // namespace
