// The tool bar's slider and position field, and the time-code texts.
#include <gtest/gtest.h>

#include <vector>

#include "app/editor/player_toolbar.h"
#include "app/editor/timecode_text.h"

namespace {

struct Reported {
  std::vector<std::pair<int, int>> calls;
};

PlayerToolBarModel bar_of(int total, double rate, Reported* r) {
  PlayerToolBarModel m;
  m.set_range(total, rate);
  m.position_callback = [r](int f, int p) { r->calls.emplace_back(f, p); };
  return m;
}

TEST(PlayerToolBar, ScaleAndMarksOfARange) {
  PlayerToolBarModel m;
  m.set_range(1, 25);
  EXPECT_EQ(m.scale(), 1000);
  m.set_range(101, 25);
  EXPECT_EQ(m.scale(), 10);
  EXPECT_EQ(m.mark_in_pos(), 0);
  EXPECT_EQ(m.mark_out_pos(), 1000);
  EXPECT_EQ(m.insert_pos(), 500);
  // Mark in past mark out drags it along by the same distance.
  m.set_mark_out(40);
  m.set_mark_in(20);
  m.set_mark_in(60);
  EXPECT_EQ(m.mark_in_pos(), 600);
  EXPECT_EQ(m.mark_out_pos(), 800);
  m.set_mark_out(10);
  EXPECT_EQ(m.mark_out_pos(), 100);
  EXPECT_EQ(m.mark_in_pos(), 0);
  // A range without a rate keeps the marks' frames.
  m.set_mark_in(20);
  m.set_mark_out(30);
  m.set_range(201, 0.0);
  EXPECT_EQ(m.scale(), 5);
  EXPECT_EQ(m.mark_in_pos(), 100);
  EXPECT_EQ(m.mark_out_pos(), 150);
  EXPECT_EQ(m.frame_rate(), 25);
}

TEST(PlayerToolBar, TypedPositions) {
  Reported r;
  PlayerToolBarModel m = bar_of(101, 25, &r);
  EXPECT_TRUE(m.type_position("50"));
  EXPECT_TRUE(m.type_position("0:00:02:00"));
  EXPECT_TRUE(m.type_position("2:00"));
  EXPECT_TRUE(m.type_position("500"));  // past the end
  EXPECT_EQ(m.slider_position(), 1000);
  EXPECT_FALSE(m.type_position(""));
  EXPECT_FALSE(m.type_position("12x"));
  EXPECT_FALSE(m.type_position("::::"));
  EXPECT_EQ(r.calls, (std::vector<std::pair<int, int>>{{50, 1}, {50, 1}, {50, 1}, {100, 1}}));
  // The editor's reading when there is one.
  m.timecode_to_frame = [](const std::string& t) { return t == "0:0:1:02" ? 7 : -1; };
  EXPECT_TRUE(m.type_position("1:02"));
  EXPECT_EQ(r.calls.back(), std::make_pair(7, 1));
  EXPECT_FALSE(m.field_accepts(';'));
  EXPECT_FALSE(m.field_accepts('a'));
  EXPECT_TRUE(m.field_accepts(':'));
  EXPECT_TRUE(m.field_accepts('7'));
}

TEST(PlayerToolBar, SliderToFrame) {
  Reported r;
  PlayerToolBarModel m = bar_of(301, 25, &r);  // scale 1000 / 300
  m.slider_moved(500);
  m.slider_moved(1);
  m.slider_moved(1000);
  m.slider_released();
  EXPECT_EQ(r.calls, (std::vector<std::pair<int, int>>{{150, 0}, {0, 0}, {300, 0}, {0, -1}}));
  EXPECT_EQ(m.frame_of_position(2), 1);  // 0.6 + 0.5
  // A click in the channel: the thumb's middle goes to the point.
  EXPECT_EQ(PlayerToolBarModel::click_position(110, 20, 0, 220), 500);
  EXPECT_EQ(PlayerToolBarModel::click_position(0, 20, 0, 220), 0);
  EXPECT_EQ(PlayerToolBarModel::click_position(400, 20, 0, 220), 1000);
}

TEST(PlayerToolBar, FieldTexts) {
  PlayerToolBarModel m;
  m.set_range(100000, 25);
  EXPECT_EQ(m.field_text(3 * 3600 * 25 + 61 * 25 + 7), "3:01:01:07");
  m.set_show_time_code(false);
  EXPECT_EQ(m.field_text(42), "      42");
  EXPECT_EQ(m.field_text(12345), "  12,345");
  EXPECT_EQ(m.field_text(1234567), "1,234,567");
  m.set_decoded_flag(true, 2);
  EXPECT_EQ(m.field_text(42), "      42-2");
  m.set_decoded_flag(true, 4);
  EXPECT_EQ(m.field_text(42), "      42");
}

TEST(TimeCodeText, NormaliseParseAndPrint) {
  EXPECT_EQ(normalize_time_code("1:02"), "0:0:1:02");
  EXPECT_EQ(normalize_time_code("  5 junk"), "0:0:0:5");
  EXPECT_EQ(normalize_time_code("1:2:3:4"), "1:2:3:4");
  EXPECT_EQ(normalize_time_code(""), "");
  EXPECT_EQ(timecode_text_to_frame("0:00:02:00", 25), 50);
  EXPECT_EQ(timecode_text_to_frame("1:00", 30000.0 / 1001.0), 30);
  EXPECT_EQ(timecode_text_to_frame("garbage", 25), -1);
  EXPECT_EQ(frame_to_timecode_text(50, 25), "0:00:02:00");
  // No fixed buffer: a long movie still prints whole.
  EXPECT_EQ(frame_to_timecode_text(125 * 3600 * 25, 25), "125:00:00:00");
  EXPECT_EQ(frame_to_timecode_text(-5, 25), "0:00:00:00");
  EXPECT_EQ(seconds_to_timecode_text(2.5, 25), "0:00:02:12");
  EXPECT_EQ(shortest_timecode_text("1:02:03:04", 25), "1;02;03;04");
  EXPECT_EQ(shortest_timecode_text("2:03:04", 25), "2;03;04");
  EXPECT_EQ(shortest_timecode_text("3:04", 25), "3;04");
  EXPECT_EQ(shortest_timecode_text("x", 25), "");
}

}  // namespace
