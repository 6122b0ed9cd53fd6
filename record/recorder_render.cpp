// The Recorder's pieces of transitions and overlays: the frames the movie
// shows mixed or overlaid are taken from the frame source and re-encoded;
// the rest of the clip is planned as any cut, so that only the GOPs those
// frames touch are decoded and re-encoded.
#include <algorithm>

#include "record/recorder.h"

std::vector<ClipPiece> plan_rendered_pieces(GOPList* list, int start, int end, int mode, int movie_start,
                                            std::vector<RenderSpan> spans) {
  std::vector<ClipPiece> out;
  if (end < start) return out;
  for (RenderSpan& s : spans) {
    s.first = std::max(s.first, start);
    s.last = std::min(s.last, end);
  }
  spans.erase(std::remove_if(spans.begin(), spans.end(), [](const RenderSpan& s) { return s.last < s.first; }),
              spans.end());
  std::sort(spans.begin(), spans.end(), [](const RenderSpan& a, const RenderSpan& b) { return a.first < b.first; });
  auto plain = [&](int a, int b) {
    if (b < a) return true;
    const std::vector<ClipPiece> part = plan_clip_pieces(list, a, b, mode);
    if (part.empty()) return false;
    out.insert(out.end(), part.begin(), part.end());
    return true;
  };
  int at = start;
  for (size_t k = 0; k < spans.size();) {
    // Overlapping or touching spans make one rendered run.
    RenderSpan run = spans[k];
    for (++k; k < spans.size() && spans[k].first <= run.last + 1; ++k) run.last = std::max(run.last, spans[k].last);
    if (!plain(at, run.first - 1)) return {};
    ClipPiece p;
    p.first = run.first;
    p.last = run.last;
    p.render_at = movie_start + (run.first - start);
    out.push_back(p);
    at = run.last + 1;
  }
  if (!plain(at, end)) return {};
  return out;
}

void Recorder::plan_current_clip(int mode) {
  // The clip's first transition_length frames play inside the transition
  // into it, which the clip before renders (a first clip's lie before the
  // movie's start).
  int movie = 0;
  for (const MPEG_Clip* c = list_; c && c != clip_; c = c->next) movie += c->count - c->transition_length;
  const int first = clip_->start + clip_->transition_length;
  std::vector<RenderSpan> spans;
  if (frames_) {
    for (const OverlayClip& o : clip_->overlays)
      if (o.length > 0) spans.push_back(RenderSpan{o.position, o.position + o.length - 1});
    const MPEG_Clip* next = clip_->next;
    if (next && next->transition_length > 0)
      spans.push_back(RenderSpan{clip_->end_frame() - next->transition_length + 1, clip_->end_frame()});
  }
  pieces_.clear();
  piece_ = 0;
  planner_.reset();
  if (spans.empty())
    planner_ = std::make_unique<ClipPlanner>(gops_list_.get(), first, clip_->end_frame(), mode, &gop_,
                                             pulldown_edges_apply());
  else
    pieces_ = plan_rendered_pieces(gops_list_.get(), first, clip_->end_frame(), mode, movie, std::move(spans));
}

bool Recorder::more_pieces() {
  if (piece_ < pieces_.size()) return true;
  pieces_.clear();
  piece_ = 0;
  ClipPiece p;
  if (!planner_ || !planner_->next(&p)) {
    planner_.reset();
    return false;
  }
  if (copy_only_ && !p.copy)
    pieces_ = split_runs_at_gops(gops_list_.get(), {p});
  else
    pieces_.push_back(p);
  return !pieces_.empty();
}
