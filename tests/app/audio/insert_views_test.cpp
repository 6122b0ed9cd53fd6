// The Insert dialog's strips: zoom and offset sliders, the insertion
// window that follows them, typed insertion points, and the bars drawn
// from the clip list.
#include <gtest/gtest.h>

#include "app/audio/insert_views.h"

namespace {

struct Views {
  explicit Views(double track, int scale = 0, int offset = 0, double insertion = 0) {
    p.track_length = track;
    p.insertion = insertion;
    p.play_position = insertion;
    p.scale_position = scale;
    p.offset_position = offset;
    v.set_overview_size(440, 60);
    v.set_insertion_size(440, 80);
    v.setup(&p);
  }
  InsertParams p;
  InsertViews v;
  InsertOperators ops = insert_operators(InsertMode::audio);
  InsertContext ctx{&ops, false, 5.0};
};

TEST(InsertViews, TwentySecondTrackHasNoZoom) {
  Views t(20, 50, 50);
  EXPECT_DOUBLE_EQ(t.v.max_zoom(), 1.0);
  EXPECT_EQ(t.v.scale_position(), 0);
  EXPECT_FALSE(t.v.offset_slider_enabled());
  EXPECT_FALSE(t.v.scale_moved(&t.p, 100));
  EXPECT_DOUBLE_EQ(t.v.zoom(), 1.0);
  EXPECT_DOUBLE_EQ(t.v.readout_length(), 20.0);
  EXPECT_DOUBLE_EQ(t.v.view_start(), 0);
}

TEST(InsertViews, ThreeHundredSecondTrackZoomsTenfold) {
  Views t(300, 0, 0, 100);
  EXPECT_DOUBLE_EQ(t.v.max_zoom(), 10);
  EXPECT_DOUBLE_EQ(t.v.window_length(), 300);
  t.v.scale_moved(&t.p, 100);
  EXPECT_DOUBLE_EQ(t.v.zoom(), 10);
  EXPECT_DOUBLE_EQ(t.v.visible_length(), 30);
  EXPECT_DOUBLE_EQ(t.v.window_length(), 30);
  EXPECT_TRUE(t.v.offset_slider_enabled());
  // The insertion point was kept inside the shrunken window.
  EXPECT_LE(t.p.insertion, 30);
  t.v.offset_moved(&t.p, 100);
  EXPECT_NEAR(t.v.view_start(), 270, 1e-9);
  EXPECT_NEAR(t.v.readout_offset(), 270, 1e-9);
  EXPECT_EQ(t.p.scale_position, 100);
  EXPECT_EQ(t.p.offset_position, 100);
}

TEST(InsertViews, OffsetMovesTheInsertionPointWithTheWindow) {
  Views t(300, 100, 0, 10);
  const int slider = t.v.insertion_slider();
  const double before = t.p.insertion;
  t.v.offset_moved(&t.p, 10);  // 27 s later
  EXPECT_NEAR(t.v.window_start(), 27, 1e-9);
  EXPECT_EQ(t.v.insertion_slider(), slider);
  EXPECT_NEAR(t.p.insertion - before, 27, 0.2);
}

TEST(InsertViews, TypedInsertionOutsideTheWindowIsRefused) {
  Views t(300, 100, 10, 40);
  const double ws = t.v.window_start(), l = t.v.window_length();
  const double kept = t.p.insertion;
  EXPECT_FALSE(t.v.accept_insertion(&t.p, ws - 1, t.ctx));
  EXPECT_FALSE(t.v.accept_insertion(&t.p, ws + l + 1, t.ctx));
  EXPECT_DOUBLE_EQ(t.p.insertion, kept);
  ASSERT_TRUE(t.v.accept_insertion(&t.p, ws + 5, t.ctx));
  EXPECT_DOUBLE_EQ(t.p.insertion, ws + 5);
  EXPECT_EQ(t.v.insertion_slider(), int(5 * 200 / l));
  // The insertion slider at its end is the window's end.
  t.v.insertion_slider_moved(&t.p, 200, t.ctx);
  EXPECT_NEAR(t.p.insertion, ws + l, 0.2);
}

TEST(InsertViews, WindowGrowsByTheInsertedPiece) {
  Views t(20, 0, 0, 10);
  t.p.file_name = "x";
  t.p.input_length = 6;
  t.p.length = 6;
  t.v.recompute_window(&t.p);
  EXPECT_DOUBLE_EQ(t.v.window_length(), 26);
  // A cross-over start mixes 2 s before the point: the window adds 4 s.
  t.p.start_operator = 3;
  t.p.start_inputs = 2;
  t.p.start_length = 2;
  t.v.recompute_window(&t.p);
  EXPECT_DOUBLE_EQ(t.v.window_length(), 24);
}

TEST(InsertViews, BarsFollowTheClipsAndTheInsert) {
  Views t(20, 0, 0, 5);
  // Two clips of 10 s, the second entering over 2 s, one overlay.
  std::vector<TrackBar> bars(2);
  bars[0].length = 10;
  bars[0].overlays.push_back({1, 2});
  bars[1].length = 12;
  bars[1].transition = 2;
  EXPECT_DOUBLE_EQ(track_bars_length(bars), 20);
  const auto over = t.v.overview_segments(bars);
  int green = 0, yellow = 0;
  for (const StripSegment& s : over) (s.yellow ? yellow : green) += 1;
  EXPECT_EQ(green, 2);
  EXPECT_EQ(yellow, 3);  // the overlay, and the transition on both clips' rows
  EXPECT_EQ(over[0].row, 0);
  EXPECT_EQ(over.back().row, 1);
  // A 4 s piece at 5 s: head [0,5), piece [5,9), rest of clip one [9,14),
  // clip two moved 4 s later, rows alternating by segment.
  t.p.length = 4;
  t.p.input_length = 4;
  t.p.file_name = "x";
  t.v.recompute_window(&t.p);
  EXPECT_DOUBLE_EQ(t.v.window_length(), 24);
  std::vector<StripSegment> greens;
  for (const StripSegment& s : t.v.insertion_segments(bars, t.p, t.ctx))
    if (!s.yellow) greens.push_back(s);
  ASSERT_EQ(greens.size(), 4u);
  EXPECT_DOUBLE_EQ(greens[0].t1, 5);
  EXPECT_DOUBLE_EQ(greens[1].t0, 5);
  EXPECT_DOUBLE_EQ(greens[1].t1, 9);
  EXPECT_DOUBLE_EQ(greens[2].t0, 9);
  EXPECT_DOUBLE_EQ(greens[2].t1, 14);
  EXPECT_DOUBLE_EQ(greens[3].t0, 12);
  EXPECT_DOUBLE_EQ(greens[3].t1, 24);
  for (size_t i = 0; i < greens.size(); ++i) EXPECT_EQ(greens[i].row, int(i % 2));
  // Pixels: the insertion point's x in each strip.
  EXPECT_EQ(t.v.overview_x(5), 20 + int(400.0 / 20 * 5));
  EXPECT_EQ(t.v.insertion_x(5), 20 + int(400.0 / 24 * 5));
}

}  // namespace
