// The stream tool windows in the real program: each function key opens its
// window, found by its title.
#include <gtest/gtest.h>

#include "e2e.h"
#include "support.h"

namespace {

using namespace tsupport;

TEST(ToolWindows, FunctionKeysOpenThem) {
  TSUPPORT_NEED_E2E_TOOLS();
  TSUPPORT_NEED_APP();
  XServer x;
  ASSERT_TRUE(x.ok()) << x.error();
  App app(x, {}, {.settings = "Initial Window 10 1010 20 780\n"});
  ASSERT_TRUE(app.running()) << app.log();
  const std::string main = x.wait_window("^MPEG-Tamsel .*\\(MPEG-2\\) \\([^)]*\\)$");
  ASSERT_FALSE(main.empty()) << app.log();
  const struct {
    const char* key;
    const char* title;
  } tools[] = {
      {"F4", "^  MPEG Systems Stream Convertor$"},
      {"F3", "^  MPEG DeMultiplexer$"},
      {"F2", "^  MPEG Multiplexer$"},
      {"F7", "^ MPEG Video GOP Fixer $"},
  };
  for (const auto& t : tools) {
    ASSERT_TRUE(x.focus(main));
    ASSERT_TRUE(x.key(t.key));
    EXPECT_FALSE(x.wait_window(t.title).empty()) << t.key << "\n" << app.log();
  }
  x.screenshot("tool_windows");
  EXPECT_EQ(app.stop(), 0) << app.log();
}

}  // namespace
