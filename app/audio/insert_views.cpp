#include "app/audio/insert_views.h"

#include <algorithm>
#include <cmath>

#include "engine/clips/clip_streams.h"
#include "engine/clips/project.h"

std::vector<TrackBar> track_bars(const EClip& list, InsertMode mode) {
  std::vector<TrackBar> bars;
  for (const Clip& c : list.clips) {
    Clip clip = c;  // the timing reads fill in stream facts
    TrackBar b;
    if (mode == InsertMode::video) {
      b.transition = clip_get_video_transition_time(&clip);
      b.length = clip_get_video_time_without_transition(&clip) + b.transition;
    } else {
      b.transition = clip_get_transition_time(&clip);
      b.length = clip_get_time_without_transition(&clip) + b.transition;
    }
    if (bars.empty()) b.transition = 0;  // nothing leads into the first clip
    int n = 0;
    const OverlayClip* ov = clip.get_field_pair(&n);
    const double period =
        mode == InsertMode::video ? clip_get_video_frame_period(&clip) : clip_get_frame_period(&clip);
    for (int i = 0; i < n && period > 0; ++i)
      b.overlays.push_back({(ov[i].position - clip.start) * period, ov[i].length * period});
    bars.push_back(std::move(b));
  }
  return bars;
}

double track_bars_length(const std::vector<TrackBar>& bars) {
  double t = 0;
  for (const TrackBar& b : bars) t += b.length - b.transition;
  return t;
}

void StripGeometry::set(int w, int h, bool overview) {
  width = 20 * (w / 22);
  margin = (w - width) / 2;
  height = h;
  thickness = h / 4;
  row_y = h / 2 - (h / 4) / 2 - (overview ? 1 : 0);
}

int StripGeometry::x(double seconds_from_left, double pixels_per_second) const {
  const double px = pixels_per_second * seconds_from_left;
  const int ix = std::isfinite(px) ? int(std::clamp(px, 0.0, double(width))) : 0;
  return margin + ix;
}

double InsertViews::zoom() const { return std::clamp(1 + e_, 1.0, zmax_); }

double InsertViews::visible_length() const { return t_ / zoom(); }

double InsertViews::offset_step() const {
  const double z = zoom();
  return (z - 1) / z * t_ * 0.01;
}

void InsertViews::setup(InsertParams* p) {
  t_ = p->track_length;
  zmax_ = std::max(1.0, t_ / kBaseLength);
  zoom_step_ = (zmax_ - 1) * 0.01;
  scale_pos_ = std::clamp(p->scale_position, 0, 100);
  offset_pos_ = std::clamp(p->offset_position, 0, 100);
  e_ = zoom_step_ * scale_pos_;
  s_ = offset_step() * offset_pos_;
  recompute_overview(p);
  // The window opens where the remembered offset put it.
  ws_ = s_;
  recompute_window(p);
  if (p->insertion > ws_ + l_) p->insertion = ws_ + l_;
  set_slider_from_insertion(*p);
  play_ = p->play_position;
}

void InsertViews::recompute_overview(InsertParams* p) {
  t_ = p->track_length;
  zmax_ = std::max(1.0, t_ / kBaseLength);
  zoom_step_ = (zmax_ - 1) * 0.01;
  const int scale = zoom_step_ > 0 ? std::min(100, int(e_ / zoom_step_)) : 0;
  if (scale != scale_pos_) {
    scale_pos_ = scale;
    e_ = scale * zoom_step_;
  }
  const double step = offset_step();
  const int off = step > 0 ? std::min(100, int(s_ / step)) : 0;
  if (off != offset_pos_) {
    offset_pos_ = off;
    s_ = off * step;
  }
  p->scale_position = scale_pos_;
  p->offset_position = offset_pos_;
}

bool InsertViews::scale_moved(InsertParams* p, int position) {
  position = std::clamp(position, 0, 100);
  if (position == scale_pos_) return false;
  scale_pos_ = position;
  e_ = position * zoom_step_;
  const double z = zoom();
  const double step = offset_step();
  if (s_ != 0) {
    s_ = std::min(s_, (z - 1) / z * t_);
    offset_pos_ = step > 0 ? std::min(100, int(s_ / step + 0.5)) : 0;
  }
  p->scale_position = scale_pos_;
  p->offset_position = offset_pos_;
  return recompute_window(p);
}

bool InsertViews::offset_moved(InsertParams* p, int position) {
  position = std::clamp(position, 0, 100);
  if (position == offset_pos_) return false;
  offset_pos_ = position;
  s_ = position * offset_step();
  p->offset_position = offset_pos_;
  return recompute_window(p);
}

bool InsertViews::recompute_window(InsertParams* p) {
  const double before_point = p->insertion;
  const double v = visible_length();
  const double before = p->insertion - ws_;
  const double after = (v + ws_) - p->insertion;
  double added = 0, overlap_before = 0, overlap_after = 0;
  if (p->start_operator && p->start_inputs == 2) {
    overlap_before = std::min(p->start_length, before);
    if (p->length == 0) overlap_before = std::min(overlap_before, after);
    added = p->length;
  } else {
    added = std::max(0.0, p->length - (p->start_operator ? p->start_length : 0.0));
  }
  if (p->end_operator && p->end_inputs == 2) overlap_after = std::min(p->end_length, after);
  double length = v + added - std::max(0.0, overlap_before) - std::max(0.0, overlap_after);
  if (length != l_) {
    if (length <= 0) length = 1.0;
    l_ = length;
    slider_pps_ = 200 / l_;
    view_pps_ = ins_.width / l_;
    p->insertion = std::clamp(p->insertion, ws_, ws_ + l_);
  }
  if (ws_ != s_) {
    ws_ = s_;
    // The point rides with the window; the slider stays where it is.
    if (slider_pps_ > 0) p->insertion = (slider_pos_ + 0.5) / slider_pps_ + ws_;
    set_slider_from_insertion(*p);
  }
  return p->insertion != before_point;
}

void InsertViews::set_slider_from_insertion(const InsertParams& p) {
  const double px = (p.insertion - ws_) * slider_pps_;
  slider_pos_ = std::isfinite(px) ? int(std::clamp(px, 0.0, 200.0)) : 0;
}

void InsertViews::set_insertion(InsertParams* p, double t, const InsertContext&) {
  const double offset = std::min(t - ws_, visible_length());
  p->insertion = ws_ + std::max(0.0, offset);
  set_slider_from_insertion(*p);
}

bool InsertViews::accept_insertion(InsertParams* p, double t, const InsertContext& ctx) {
  if (!(t >= ws_ && t <= ws_ + l_)) return false;
  set_insertion(p, t, ctx);
  recompute_window(p);
  return true;
}

bool InsertViews::insertion_slider_moved(InsertParams* p, int position, const InsertContext& ctx) {
  position = std::clamp(position, 0, 200);
  if (position == slider_pos_) return false;
  const double before = p->insertion;
  const double t = position == 0 || slider_pps_ <= 0 ? ws_ : (position + 0.01) / slider_pps_ + ws_;
  set_insertion(p, t, ctx);
  recompute_window(p);
  slider_pos_ = position;
  return p->insertion != before;
}

double InsertViews::overview_pixels_per_second() const { return t_ > 0 ? over_.width / t_ : 0; }

double InsertViews::insertion_pixels_per_second() const { return view_pps_; }

int InsertViews::overview_x(double t) const { return over_.x(t, overview_pixels_per_second()); }

int InsertViews::insertion_x(double t) const { return ins_.x(t - ws_, view_pps_); }

void InsertViews::zoom_window_x(int* x0, int* x1) const {
  const double pps = overview_pixels_per_second();
  const int w = int(visible_length() * pps);
  int start = int(s_ * pps);
  if (start + w > over_.width) start = std::max(0, over_.width - w);
  *x0 = over_.margin + start;
  *x1 = *x0 + w;
}

namespace {

// A bar on the timeline with its yellow stretches.
struct Bar {
  double t0, t1;
  std::vector<std::pair<double, double>> yellow;
};

void add_clip_bars(const std::vector<TrackBar>& bars, std::vector<Bar>* out) {
  double s = 0;
  for (size_t i = 0; i < bars.size(); ++i) {
    const TrackBar& b = bars[i];
    if (i > 0) s -= b.transition;
    Bar bar{s, s + b.length, {}};
    if (b.transition > 0) bar.yellow.push_back({s, s + b.transition});
    if (i + 1 < bars.size() && bars[i + 1].transition > 0)
      bar.yellow.push_back({s + b.length - bars[i + 1].transition, s + b.length});
    for (const TrackBar::Span& o : b.overlays) bar.yellow.push_back({s + o.start, s + o.start + o.length});
    out->push_back(std::move(bar));
    s += b.length;
  }
}

// Cuts a bar to [lo, hi]; false when nothing is left.
bool clip_bar(Bar* b, double lo, double hi) {
  b->t0 = std::max(b->t0, lo);
  b->t1 = std::min(b->t1, hi);
  if (b->t1 <= b->t0) return false;
  std::vector<std::pair<double, double>> kept;
  for (auto [y0, y1] : b->yellow) {
    y0 = std::max(y0, b->t0);
    y1 = std::min(y1, b->t1);
    if (y1 > y0) kept.push_back({y0, y1});
  }
  b->yellow = std::move(kept);
  return true;
}

}  // namespace

std::vector<StripSegment> InsertViews::overview_segments(const std::vector<TrackBar>& bars) const {
  std::vector<Bar> list;
  add_clip_bars(bars, &list);
  std::vector<StripSegment> out;
  for (size_t i = 0; i < list.size(); ++i) {
    const int row = int(i % 2);
    out.push_back({list[i].t0, list[i].t1, row, false});
    for (auto [y0, y1] : list[i].yellow) out.push_back({y0, y1, row, true});
  }
  return out;
}

std::vector<StripSegment> InsertViews::insertion_segments(const std::vector<TrackBar>& bars, const InsertParams& p,
                                                          const InsertContext&) const {
  const double v = visible_length();
  const double ip = p.insertion;
  const bool mixing_start = p.start_operator && p.start_inputs == 2;
  const double before = ip - ws_, after = (v + ws_) - ip;
  double added = 0, ob = 0, oa = 0;
  if (mixing_start) {
    ob = std::max(0.0, std::min(p.start_length, before));
    if (p.length == 0) ob = std::max(0.0, std::min(ob, after));
    added = p.length;
  } else {
    added = std::max(0.0, p.length - (p.start_operator ? p.start_length : 0.0));
  }
  if (p.end_operator && p.end_inputs == 2) oa = std::max(0.0, std::min(p.end_length, after));
  const double shift = added - ob - oa;

  std::vector<Bar> track;
  add_clip_bars(bars, &track);
  std::vector<Bar> drawn;
  // The track up to the point, cut there.
  for (const Bar& b : track) {
    Bar head = b;
    if (head.t0 < ip && clip_bar(&head, head.t0, ip)) drawn.push_back(std::move(head));
  }
  // The inserted piece with its effects.
  const double p0 = ip - ob, p1 = p0 + added;
  if (p1 > p0 || p.start_operator || p.end_operator) {
    Bar piece{p0, std::max(p1, p0), {}};
    if (p.start_operator && p.start_length > 0)
      piece.yellow.push_back(mixing_start ? std::make_pair(p0, ip) : std::make_pair(ip, ip + p.start_length));
    if (p.end_operator && p.end_length > 0)
      piece.yellow.push_back(oa > 0 ? std::make_pair(p1 - oa, p1) : std::make_pair(p1 - p.end_length, p1));
    if (piece.t1 <= piece.t0) {
      // Effects alone: only their stretches show.
      for (auto [y0, y1] : piece.yellow) drawn.push_back(Bar{y0, y1, {{y0, y1}}});
    } else {
      drawn.push_back(std::move(piece));
    }
  }
  // The rest, later by what the insert adds.
  for (const Bar& b : track) {
    Bar tail = b;
    if (tail.t1 > ip && clip_bar(&tail, ip, tail.t1)) {
      tail.t0 += shift;
      tail.t1 += shift;
      for (auto& y : tail.yellow) {
        y.first += shift;
        y.second += shift;
      }
      drawn.push_back(std::move(tail));
    }
  }
  std::vector<StripSegment> out;
  int row = 0;
  for (Bar& b : drawn) {
    if (!clip_bar(&b, ws_, ws_ + l_)) continue;
    out.push_back({b.t0, b.t1, row, false});
    for (auto [y0, y1] : b.yellow) out.push_back({y0, y1, row, true});
    row ^= 1;
  }
  return out;
}
