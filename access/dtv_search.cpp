// DTV: showing a frame, exact search, stepping in both directions and the
// play-direction word. Every request becomes "show absolute frame N": the
// GOP holding it is found in one of the two caches (or loaded), the
// references before it are decoded once per load, and a B picture is
// decoded from its two references. A frame is thus the same picture however
// it was reached.
#include <algorithm>
#include <cstring>

#include "access/dtv.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// closed_gop or broken_link of the GOP header at the start of the GOP data:
// either way the leading B pictures need nothing from the GOP before.
bool leading_b_standalone(const GOP* g) {
  if (!g->data) return true;
  const int n = std::min(g->valid_bytes(), 8192);
  uint32_t found = 0;
  const int64_t at = utils_next_usr_start_code(0x1B8u, g->data, n, &found);
  if (!found || at + 8 > n) return false;
  return (g->data[at + 7] & 0x60) != 0;
}

size_t frame_bytes(const Frame* f) { return size_t(f->y_size()) + 2 * size_t(f->c_size()); }

}  // namespace

bool DTV::load_into(DCache* c, int field) {
  if (!index_ || !c) return false;
  GOP* g = c->gop.get();
  if (index_->get_gop(field / 2, g, 1, 1) < 0 || g->pic_count <= 0) {
    c->invalidate();
    return false;
  }
  // A frame number names two fields; step to the GOP holding this one.
  for (int guard = 0; guard < 2; ++guard) {
    if (field < g->first_field) {
      if (index_->prev_gop(g, 1) <= 0) break;
    } else if (field >= g->first_field + g->total_fields) {
      if (index_->next_gop(g, 1) <= 0) break;
    } else {
      break;
    }
  }
  if (g->pic_count <= 0 || c->reset(nullptr) != 0) {
    c->invalidate();
    return false;
  }
  return true;
}

DCache* DTV::locate(int field, int* pic) {
  if (!cur_ || !prev_) return nullptr;
  for (DCache* c : {cur_, prev_}) {
    const int p = c->pic_of_field(field);
    if (p >= 0) {
      if (c != cur_) std::swap(cur_, prev_);
      *pic = p;
      return cur_;
    }
  }
  // The cache not shown now gives way; the shown one often holds the
  // neighbour that the new GOP's leading B pictures predict from.
  DCache* victim = prev_;
  if (!load_into(victim, field)) return nullptr;
  const int p = victim->pic_of_field(field);
  if (p < 0) return nullptr;
  std::swap(cur_, prev_);
  *pic = p;
  return cur_;
}

Frame* DTV::leading_forward(DCache* c) {
  const GOP* g = c->gop.get();
  if (g->first_field <= 0 || leading_b_standalone(g)) return c->pool_frame(0);
  DCache* o = c == cur_ ? prev_ : cur_;
  auto precedes = [&]() {
    return o->loaded() && (o->gop->end.equals(g->start) || o->gop->first_field + o->gop->total_fields == g->first_field);
  };
  if (!precedes()) {
    const int first = g->first_field;
    if (!load_into(o, first - 1) || o->gop->first_field >= first) return c->pool_frame(0);
  }
  o->decoder_all_ip_frames(o->gop->pic_count);
  return o->decoded > 0 ? o->pool_frame(o->decoded - 1) : c->pool_frame(0);
}

Frame* DTV::produce(DCache* c, int pic, std::unique_ptr<Frame>& slot) {
  if (c->gop->get_pic_type(pic) != 3) {
    c->decoder_all_ip_frames(pic + 1);
    const int k = c->count_frames(pic);
    if (k >= c->decoded) {
      trace("DTV::next_frame (ERROR): frame_pic = %d >= %d = frame_size\n", k, c->decoded);
      return nullptr;
    }
    c->pic_index = pic + 1;
    return c->pool_frame(k);
  }
  c->decoder_all_ip_frames(pic);
  const int k = c->count_frames(pic);
  if (k < 1 || c->decoded < k) return nullptr;
  Frame* out = output_frame(slot, c);
  if (!out) return nullptr;
  Frame* bwd = c->pool_frame(k - 1);
  Frame* fwd = k >= 2 ? c->pool_frame(k - 2) : leading_forward(c);
  c->pic_index = pic;
  c->decode_one_frame(out, fwd, bwd, 1);
  c->pic_index = pic + 1;
  return out;
}

void DTV::weave(const Frame* a, const Frame* b, bool a_is_top, Frame* out) {
  auto rows = [&](uint8_t* dst, const uint8_t* pa, const uint8_t* pb, int stride, int height) {
    for (int y = 0; y < height; ++y) {
      const bool top = (y & 1) == 0;
      const uint8_t* src = top == a_is_top ? pa : pb;
      std::memcpy(dst + size_t(y) * stride, src + size_t(y) * stride, size_t(stride));
    }
  };
  rows(out->y_plane(), a->y_plane(), b->y_plane(), out->padded_width(), out->padded_height());
  rows(out->cb_plane(), a->cb_plane(), b->cb_plane(), out->c_width(), out->c_height());
  rows(out->cr_plane(), a->cr_plane(), b->cr_plane(), out->c_width(), out->c_height());
  out->set_picture_coding_type(b->picture_coding_type());
  out->set_field_count(2);
  out->set_displayed_fields(0);
  out->set_top_field_first(a_is_top ? 1 : 0);
  out->set_repeat_flag(0);
  out->set_frame_number_copy(-1);  // holds no single picture
}

Frame* DTV::output_frame(std::unique_ptr<Frame>& slot, const DCache* c) {
  if (slot && c->fits(slot.get())) return slot.get();
  if (slot) retired_.push_back(std::move(slot));
  slot.reset(c->make_frame());
  return slot.get();
}

bool DTV::show(int n) {
  if (n < 0 || !cur_) return false;
  const int f0 = 2 * n;
  int pa = -1;
  DCache* ca = locate(f0, &pa);
  if (!ca) return false;
  Frame* out = nullptr;
  const int start = ca->gop->get_pic_stream_field(pa);
  const int fields = ca->gop->get_pic_fields(pa);
  if (!pulldown_ || f0 + 1 < start + fields) {
    out = produce(ca, pa, b_frame_a_);
  } else {
    // The frame's second field belongs to the next picture: weave the two.
    const bool a_top = (((f0 - start) & 1) == 0) == (ca->gop->get_pic_flag(pa) != 0);
    Frame* fa = produce(ca, pa, pending_);
    if (!fa || !output_frame(pending_, ca)) return false;
    if (fa != pending_.get()) {
      // Keep it apart: finding the next picture may reload its cache.
      std::memcpy(pending_->buffer(), fa->buffer(), frame_bytes(fa));
      pending_->set_frame_number_copy(-1);
    }
    int pb = -1;
    DCache* cb = locate(f0 + 1, &pb);
    Frame* fb = cb && cb->fits(pending_.get()) ? produce(cb, pb, b_frame_a_) : nullptr;
    if (fb && output_frame(b_frame_b_, cb)) {
      weave(pending_.get(), fb, a_top, b_frame_b_.get());
      out = b_frame_b_.get();
    } else {
      out = pending_.get();  // the stream ends inside this frame
    }
  }
  if (!out) return false;
  screen_ = out;
  retired_.clear();
  cache_a_->drop_retired();
  cache_b_->drop_retired();
  screen_frame_ = n;
  last_output_frame_ = n;
  out->set_stream_frame(n);
  return true;
}

// Decodes one more reference of the GOP before the shown one while walking
// backward, so that reaching its leading B pictures costs no burst.
void DTV::prefetch_backward() {
  if (!cur_ || !cur_->loaded() || cur_->gop->first_field <= 0 || leading_b_standalone(cur_->gop.get())) return;
  if (cur_->gop->first_frame() <= clip_start_) return;
  DCache* o = prev_;
  const GOP* g = cur_->gop.get();
  const bool precedes =
      o->loaded() && (o->gop->end.equals(g->start) || o->gop->first_field + o->gop->total_fields == g->first_field);
  if (!precedes) {
    if (!load_into(o, g->first_field - 1) || o->gop->first_field >= g->first_field) return;
  }
  if (o->all_decoded) return;
  int refs_seen = 0;
  for (int i = 0; i < o->gop->pic_count; ++i) {
    if (o->gop->get_pic_type(i) == 3) continue;
    if (refs_seen++ == o->decoded) {
      o->decoder_all_ip_frames(i + 1);
      return;
    }
  }
}

int DTV::get_frame_type(int frame) {
  if (!Clip::is_mpeg_video_type(clip_type_)) return 1;
  if (frame < 0 || frame >= clip_frames_) return 0;
  int pic = -1;
  DCache* c = locate(2 * (clip_start_ + frame), &pic);
  return c ? c->gop->get_pic_type(pic) : 0;
}

// Next frame to show from an absolute frame in a direction, by the play
// mode's kind of step; -1 when there is none inside the clip.
int DTV::step_target(int from, int dir) {
  const int first = clip_start_, last = clip_start_ + clip_frames_ - 1;
  if (play_mode_ & kPlayGOP) {
    int pic = -1;
    DCache* c = locate(2 * from, &pic);
    if (!c) return -1;
    const GOP* g = c->gop.get();
    auto i_frame = [](const GOP* x) { return x->get_pic_stream_field(0) / 2; };
    int probe = dir > 0 ? g->end_frame() : (i_frame(g) < from ? i_frame(g) : g->first_frame() - 1);
    if (dir < 0 && i_frame(g) < from) return std::max(first, i_frame(g));
    if (probe < first || probe > last) return -1;
    c = locate(2 * probe, &pic);
    if (!c) return -1;
    const int t = i_frame(c->gop.get());
    return t >= first && t <= last ? t : -1;
  }
  for (int m = from + dir; m >= first && m <= last; m += dir) {
    if (!(play_mode_ & kPlayIP)) return m;
    if (get_frame_type(m - clip_start_) != 3) return m;
  }
  return -1;
}

int DTV::still_step(int d, bool backward) {
  int r;
  if (!backward) {
    if (current_frame_ + d >= clip_frames_ - 1) {
      r = (clip_frames_ - 1) - (current_frame_ + d);
      current_frame_ = clip_frames_ - 1;
    } else {
      current_frame_ += d;
      r = d;
    }
  } else {
    d = -d;
    if (current_frame_ + d < 1) {
      r = current_frame_ + d;
      current_frame_ = 0;
    } else {
      current_frame_ += d;
      r = d;
    }
  }
  if (screen_) screen_->set_stream_frame(current_frame_);
  return r;
}

int DTV::next_frame(int mode, int /*silent*/) {
  if (mode != play_mode_) set_play_mode(mode);
  if (!screen_ || screen_frame_ < 0) return 0;
  const int before = get_position();
  const int t = step_target(screen_frame_, +1);
  if (t < 0 || !show(t)) return 0;
  return get_position() - before;
}

int DTV::prev_frame(int mode) {
  if (mode != play_mode_) set_play_mode(mode);
  if (!screen_ || screen_frame_ < 0) return 0;
  const int t = step_target(screen_frame_, -1);
  if (t < 0 || !show(t)) return 0;
  prefetch_backward();
  return 1;
}

int DTV::non_mpeg_step(int n, bool backward) {
  if (n == 1 && (play_mode_ & kPlayGOP)) n = int(get_frame_rate() + 0.5) / 2;
  else if (n == 1 && (play_mode_ & kPlayIP)) n = 3;
  if (qt_ || avi_) return sequence_step(n, backward);
  return still_step(n, backward);
}

int DTV::forward(int n) {
  if (play_mode_ & kPlayBackward) {
    set_forward_mode();
    direction_changed_ = 1;
  }
  if (!Clip::is_mpeg_video_type(clip_type_)) return non_mpeg_step(n, false);
  reload_pending_ = 0;
  if ((play_mode_ & kPlayExact) && n != 1) {
    if (n < 1) {
      if (n < 0) trace("ERROR (DTV::forward): negative increment = %d\n", n);
      return 0;
    }
    const int before = get_position();
    const int target = std::min(screen_frame_ + n, clip_start_ + clip_frames_ - 1);
    if (target <= screen_frame_ || !show(target)) return 0;
    return get_position() - before;
  }
  if (is_at_clip_end()) return 0;
  return next_frame(play_mode_, 0) > 0 ? 1 : 0;
}

int DTV::backward(int n) {
  if (play_mode_ & kPlayForward) {
    set_backward_mode();
    direction_changed_ = 1;
  }
  if (!Clip::is_mpeg_video_type(clip_type_)) return non_mpeg_step(n, true);
  reload_pending_ = 0;
  if (n == 1) return prev_frame(play_mode_);
  if (n < 1) {
    if (n < 0) trace("DTV::backward (ERROR: %d): negative increment\n", n);
    return 0;
  }
  if (is_at_clip_start()) return 0;
  int made = 0;
  int at = screen_frame_;
  // n - 1 passes over pictures, then one shown step.
  while (made < n - 1) {
    const int t = step_target(at, -1);
    if (t < 0) break;
    at = t;
    ++made;
  }
  if (made < n - 1) {
    show(at);
    prefetch_backward();
    return made;
  }
  const int t = step_target(at, -1);
  show(t >= 0 ? t : at);
  prefetch_backward();
  return n;
}

int DTV::search(int frame, int exact) {
  if (clip_frames_ < 1) return 0;
  frame = std::clamp(frame, 0, clip_frames_ - 1);
  if (qt_ || avi_) {
    if (qt_) qt_->goto_sample(clip_start_ + frame, still_.get());
    else avi_->goto_sample(clip_start_ + frame, still_.get());
    current_frame_ = reader_position();
    screen_->set_stream_frame(current_frame_);
    return current_frame_ - clip_start_;
  }
  if (!Clip::is_mpeg_video_type(clip_type_)) {
    current_frame_ = frame;
    if (screen_) screen_->set_stream_frame(frame);
    return frame;
  }
  const int target = clip_start_ + frame;
  if (!exact || (play_mode_ & kPlayGOP)) {
    int pic = -1;
    DCache* c = locate(2 * target, &pic);
    if (!c) return get_position();
    int t = c->gop->get_pic_stream_field(0) / 2;
    if (t < clip_start_) {
      // The clip starts inside this GOP: the next GOP's I picture, if inside.
      const int probe = c->gop->end_frame();
      if (probe < clip_start_ + clip_frames_ && (c = locate(2 * probe, &pic)) != nullptr)
        t = c->gop->get_pic_stream_field(0) / 2;
      if (t < clip_start_ || t >= clip_start_ + clip_frames_) t = clip_start_;
    }
    if (play_mode_ & kPlayBackward) set_forward_mode();
    show(std::min(t, clip_start_ + clip_frames_ - 1));
    return get_position();
  }
  if (play_mode_ & kPlayBackward) set_forward_mode();
  show(target);
  return get_position();
}

int DTV::load_gop(int id, int frame, int exact) {
  if (!index_ || !cur_) return 0;
  switch (id) {
    case 1: {  // next GOP into the other cache
      if (!cur_->loaded() || is_end_of_gop()) return 0;
      const int f = cur_->gop->first_field + cur_->gop->total_fields;
      if (!load_into(prev_, f)) return 0;
      std::swap(cur_, prev_);
      return 1;
    }
    case 2: {  // previous GOP into the current cache
      if (!cur_->loaded() || cur_->gop->first_frame() <= clip_start_) return 0;
      const int f = cur_->gop->first_field - 1;
      std::swap(cur_, prev_);
      if (!load_into(cur_, f)) return 0;
      return 1;
    }
    case 4:
      if (!cur_->loaded()) return 0;
      return load_into(cur_, cur_->gop->first_field + 1) ? 1 : 0;
    case 8: {
      const int f = std::clamp(frame, clip_start_, clip_start_ + std::max(0, clip_frames_ - 1));
      (void)exact;
      return load_into(cur_, 2 * f) ? 1 : 0;
    }
    default:
      trace("DTV::load_gop (): illegal load id=%d\n", id);
      return 0;
  }
}

int DTV::set_play_mode(int word) {
  const int old = play_mode_;
  play_mode_ = word;
  return old;
}

int DTV::set_forward_mode() {
  int w = play_mode_ & ~kPlayBackward;
  return set_play_mode(w | kPlayForward);
}

int DTV::set_backward_mode() {
  int w = play_mode_ & ~kPlayForward;
  return set_play_mode(w | kPlayBackward);
}

DCache* DTV::get_gop_of_frame(int frame, int no_walk) {
  (void)no_walk;  // the index finds any GOP without walking
  if (!Clip::is_mpeg_video_type(clip_type_)) return nullptr;
  int pic = -1;
  return locate(2 * (clip_start_ + std::clamp(frame, 0, std::max(0, clip_frames_ - 1))), &pic);
}

Frame* DTV::decode_ip_frames(int pic) {
  if (!cur_ || !cur_->loaded()) return nullptr;
  cur_->decoder_all_ip_frames(pic);
  return cur_->decoded > 0 ? cur_->pool_frame(cur_->decoded - 1) : cur_->pool_frame(0);
}

void DTV::rewind_gop() {
  if (cur_ && cur_->loaded() && is_end_of_gop()) cur_->pic_index = cur_->end_pic;
}

int DTV::count_non_b_pictures(DCache* c) {
  if (!c || !c->loaded()) return 0;
  int n = 0;
  for (int i = c->start_pic; i < c->end_pic && i < c->gop->pic_count; ++i) n += c->gop->get_pic_type(i) != 3;
  return n;
}
