// The Insert dialog's two strips: an overview of the whole track with a
// zoom window (a "Scale" and an "Offset" slider, 0..100 each) and an
// insertion view of the part inside that window as it will look after the
// insert, with its own slider (0..200) that moves the insertion point.
// Everything is in seconds; the strips draw the clips of the target clip
// list as bars, never its samples.
#pragma once

#include <vector>

#include "app/shell/insert_params.h"

class EClip;

// One clip of the target list on its timeline: its length, the transition
// that leads into it (overlapping the clip before) and its overlays, in
// seconds from the clip's start.
struct TrackBar {
  double length = 0;
  double transition = 0;
  struct Span {
    double start, length;
  };
  std::vector<Span> overlays;
};
// The bars of a clip list (video timing in video mode, audio otherwise).
std::vector<TrackBar> track_bars(const EClip& list, InsertMode mode);
// The track's length: the clips' lengths without their transitions.
double track_bars_length(const std::vector<TrackBar>& bars);

// One coloured stretch of a strip, in seconds; row 0 or 1.
struct StripSegment {
  double t0, t1;
  int row;
  bool yellow;
};

// Pixel layout of a strip of width w and height h.
struct StripGeometry {
  int width = 0;   // drawing width: 20 x (w / 22)
  int margin = 0;  // (w - width) / 2
  int height = 0;
  int thickness = 0;  // h / 4
  int row_y = 0;      // base y of row 0
  void set(int w, int h, bool overview);
  // x of a time at pixels_per_second, clamped to the drawing.
  int x(double seconds_from_left, double pixels_per_second) const;
};

class InsertViews {
 public:
  static constexpr double kBaseLength = 30.0;

  void set_overview_size(int w, int h) { over_.set(w, h, true); }
  void set_insertion_size(int w, int h) { ins_.set(w, h, false); }
  const StripGeometry& overview_geometry() const { return over_; }
  const StripGeometry& insertion_geometry() const { return ins_; }

  // Dialog set-up: the overview from the record's slider positions, then
  // the insertion window and slider.
  void setup(InsertParams* p);
  // The track length changed (a new clip list): zoom and offset kept as
  // near as the new length allows.
  void recompute_overview(InsertParams* p);
  // Sliders. Each returns true when the insertion point moved.
  bool scale_moved(InsertParams* p, int position);
  bool offset_moved(InsertParams* p, int position);
  bool insertion_slider_moved(InsertParams* p, int position, const InsertContext& ctx);
  // After any change of the insert; true when the insertion point moved.
  bool recompute_window(InsertParams* p);
  // A typed insertion: refused (false) outside the window.
  bool accept_insertion(InsertParams* p, double t, const InsertContext& ctx);
  void set_insertion(InsertParams* p, double t, const InsertContext& ctx);

  // State read by the widgets and tests.
  double track_length() const { return t_; }
  double max_zoom() const { return zmax_; }
  double zoom() const;            // z = 1 + E clamped to 1..Zmax
  double visible_length() const;  // V
  double view_start() const { return s_; }
  double scale_excess() const { return e_; }
  int scale_position() const { return scale_pos_; }
  int offset_position() const { return offset_pos_; }
  bool offset_slider_enabled() const { return e_ != 0; }
  double window_start() const { return ws_; }
  double window_length() const { return l_; }
  int insertion_slider() const { return slider_pos_; }
  double play_position() const { return play_; }
  void set_play_position(double t) { play_ = t; }
  // The readouts "offset", "length" and "scale" ("%.1f").
  double readout_offset() const { return s_; }
  double readout_length() const { return t_ / zoom(); }
  double readout_scale() const { return 1 + e_; }

  // Drawing in pixels.
  int overview_x(double t) const;
  int insertion_x(double t) const;
  double overview_pixels_per_second() const;
  double insertion_pixels_per_second() const;
  // The zoom window's pixel span in the overview.
  void zoom_window_x(int* x0, int* x1) const;
  // Bars of each strip; the insertion view's are the track after the
  // insert, clipped to the window.
  std::vector<StripSegment> overview_segments(const std::vector<TrackBar>& bars) const;
  std::vector<StripSegment> insertion_segments(const std::vector<TrackBar>& bars, const InsertParams& p,
                                               const InsertContext& ctx) const;
  // Where the insertion view's white line goes; false when P is outside.
  bool play_line_visible() const { return play_ >= ws_ && play_ <= ws_ + l_; }

 private:
  void set_slider_from_insertion(const InsertParams& p);
  double offset_step() const;

  StripGeometry over_, ins_;
  double t_ = 30.0, zmax_ = 1.0, zoom_step_ = 0, e_ = 0, s_ = 0;
  int scale_pos_ = 0, offset_pos_ = 0;
  double ws_ = 0, l_ = 0, slider_pps_ = 0, view_pps_ = 0;
  int slider_pos_ = 0;
  double play_ = 0;
};
