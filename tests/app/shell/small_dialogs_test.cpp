// The A/V synchronization dialog's arithmetic and the field order value.
#include <gtest/gtest.h>

#include "app/shell/small_dialogs.h"

namespace {

TEST(AVSyncDialog, OpeningAndRangeTexts) {
  AVSyncSetting s;
  s.range_ms = 4000;
  s.offset_ms = -500;
  CAVSyncDlg d(&s);
  EXPECT_FALSE(d.apply_enabled());
  EXPECT_EQ(d.range_text, "4.000");
  EXPECT_EQ(d.offset_text, "-0.500");
  EXPECT_EQ(d.left_text, "-2.000");
  EXPECT_EQ(d.right_text, "2.000");
  EXPECT_EQ(d.slider(), 375);
  // One tick a second; a whole-number division would give none.
  EXPECT_EQ(d.tick_interval(), 250);
  EXPECT_EQ(d.page_size(), 125);
}

TEST(AVSyncDialog, RangeEdits) {
  struct Case {
    int offset_ms;
    const char* range;
    int want_range, want_offset, want_slider;
  } cases[] = {
      {0, "0.05", 100, 0, 500},       // below 0.1 s: 0.100
      {300, "0.4", 400, 200, 1000},   // offset past the new end: at the end
      {-300, "0.4", 400, -200, 0},    // and at the start
      {100, "2", 2000, 100, 550},     // inside: the slider follows
      {100, "junk", 1000, 100, 600},  // not a number: unchanged
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.range);
    AVSyncSetting s;
    s.offset_ms = c.offset_ms;
    CAVSyncDlg d(&s);
    d.set_range_text(c.range);
    EXPECT_EQ(d.range_ms(), c.want_range);
    EXPECT_EQ(d.offset_ms(), c.want_offset);
    EXPECT_EQ(s.offset_ms, c.want_offset);
    EXPECT_EQ(d.slider(), c.want_slider);
    EXPECT_EQ(s.range_ms, 1000);  // the range reaches the record at Done
    d.done();
    EXPECT_EQ(s.range_ms, c.want_range);
  }
}

TEST(AVSyncDialog, SliderOffsetAndApply) {
  AVSyncSetting s;
  std::vector<int> applied;
  int context = 0;
  s.apply_context = &context;
  s.apply_callback = [&](void* ctx, int ms) {
    EXPECT_EQ(ctx, &context);
    applied.push_back(ms);
  };
  CAVSyncDlg d(&s);
  EXPECT_TRUE(d.apply_enabled());
  d.slider_moved(750);
  EXPECT_EQ(s.offset_ms, 250);
  EXPECT_EQ(d.offset_text, "0.250");
  d.set_offset_text("-0.1");
  EXPECT_EQ(s.offset_ms, -100);
  EXPECT_EQ(d.slider(), 400);
  d.apply();
  EXPECT_EQ(applied, std::vector<int>{-100});
}

TEST(AVSyncDialog, ZeroRangeInRecordDoesNotDivideByZero) {
  AVSyncSetting s;
  s.range_ms = 0;
  CAVSyncDlg d(&s);
  EXPECT_EQ(d.range_ms(), 100);
  d.set_offset_text("0.01");
  EXPECT_EQ(d.slider(), 600);
}

TEST(FieldOrderDialog, UnknownValueIsDefault) {
  EXPECT_EQ(CFieldOrderDlg(1).value, 1);
  EXPECT_EQ(CFieldOrderDlg(2).value, 2);
  EXPECT_EQ(CFieldOrderDlg(7).value, 0);
}

}  // namespace
