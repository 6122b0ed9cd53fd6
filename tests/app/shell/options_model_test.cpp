#include "app/shell/options_model.h"

#include <gtest/gtest.h>

#include "access/dtv.h"
#include "engine/clips/file_info.h"

namespace {

struct OptionsTest : ::testing::Test {
  OptionsTest() {
    s.set_defaults();
    s.set_default_key_map();
    s.screen_depth = 24;
    still = get_still_image_duration();
  }
  ~OptionsTest() override {
    set_still_image_duration(still);
    skip_full_scan = 0;
  }
  EditorSettings s;
  double still = 5;
};

TEST_F(OptionsTest, VideoDisplayOffersOnlyWhatTheScreenShows) {
  struct Case {
    int stored, depth, shown;
  } cases[] = {{16, 24, 24}, {24, 24, 24}, {8, 24, 8}, {24, 8, 8}, {16, 8, 8}};
  for (const Case& c : cases) {
    s.image_color = c.stored;
    s.screen_depth = c.depth;
    OptionsSheetModel m(&s);
    EXPECT_EQ(m.color, c.shown) << c.stored << " on " << c.depth;
    EXPECT_EQ(m.color24_allowed(), c.depth != 8);
    m.apply_all();
    EXPECT_EQ(s.image_color, c.shown);
  }
}

TEST_F(OptionsTest, JumpEditsAreCorrectedToTheirFormat) {
  struct Case {
    int format;
    const char* typed;
    int frames, percent;
    double seconds;
  } cases[] = {
      {0, "0", 1, -1, -1},     {0, "12.7", 12, -1, -1}, {0, "abc", 1, -1, -1}, {2, "250", -1, 100, -1},
      {2, "0", -1, 1, -1},     {2, "33.9", -1, 33, -1}, {1, "-3", -1, -1, 1.0}, {1, "2.5", -1, -1, 2.5},
      {1, "x", -1, -1, 1.0},
  };
  for (const Case& c : cases) {
    OptionsSheetModel m(&s);
    m.set_jump_format(c.format);
    m.set_jump_text(c.typed);
    if (c.frames >= 0) EXPECT_EQ(m.keys.jump_frames, c.frames) << c.typed;
    if (c.percent >= 0) EXPECT_EQ(m.keys.jump_percent, c.percent) << c.typed;
    if (c.seconds >= 0) EXPECT_DOUBLE_EQ(m.keys.jump_seconds, c.seconds) << c.typed;
    EXPECT_TRUE(m.modified(3));
  }
  OptionsSheetModel m(&s);
  m.set_jump_format(1);
  m.keys.jump_seconds = 2.25;
  EXPECT_EQ(m.jump_text(), " 2.2");
}

TEST_F(OptionsTest, OkAndApplyStoreAndTellTheEngineCancelStoresNothing) {
  {
    OptionsSheetModel cancelled(&s);
    cancelled.size = 1;
    cancelled.set_jump_text("77");
    cancelled.full_scan = !s.full_scan;
    // The sheet goes without OK or Apply.
  }
  EXPECT_EQ(s.image_size, 0);
  EXPECT_NE(s.jump_frames, 77);

  OptionsSheetModel m(&s);
  m.size = 1;
  m.full_scan = 0;
  m.audio_crc = 1;
  m.set_length_texts("1.5", OptionsSheetModel::length_text(s.image_length + 2));
  for (int p = 0; p < OptionsSheetModel::kPages; ++p) EXPECT_EQ(m.modified(p), p == 1 || p >= 4 || (p == 2 && s.full_scan)) << p;
  m.apply_all();
  for (int p = 0; p < OptionsSheetModel::kPages; ++p) EXPECT_FALSE(m.modified(p)) << p;
  EXPECT_EQ(s.image_size, 1);
  EXPECT_EQ(s.audio_crc, 1);
  EXPECT_EQ(skip_full_scan.load(), 1);
  EXPECT_DOUBLE_EQ(s.transition_length, 1.5);
  EXPECT_DOUBLE_EQ(get_still_image_duration(), s.image_length);

  // A change of 0.005 seconds is no change.
  OptionsSheetModel small(&s);
  small.image_length = s.image_length + 0.005;
  EXPECT_FALSE(small.modified(4));
  const double before = s.image_length;
  small.apply(4);
  EXPECT_DOUBLE_EQ(s.image_length, before);
}

TEST_F(OptionsTest, TheSheetOpensOnItsLastPage) {
  OptionsSheetModel m(&s);
  m.closed_on(4);
  EXPECT_EQ(OptionsSheetModel(&s).first_page(), 4);
  s.active_page = 13;
  EXPECT_EQ(OptionsSheetModel(&s).first_page(), 1);
}

}  // namespace
