// DTV: opening a clip, its frame range, queries, stills and overlays.
#include "access/dtv.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "access/effects.h"
#include "demux/goplist_cache.h"
#include "foundation/trace.h"
#include "formats/jpeg_decoder.h"
#include "formats/still_loader.h"

namespace {

// A loaded 4:2:0 still in a frame of its own; null when no frame memory.
std::unique_ptr<Frame> frame_from_still(StillPicture& pic) {
  auto f = std::make_unique<Frame>(pic.width, pic.height, 1, 0);
  if (!f->image() || !f->buffer()) return nullptr;
  const YuvPlanes p = pic.planes();
  for (int y = 0; y < pic.height; ++y)
    std::memcpy(f->y_plane() + size_t(y) * f->padded_width(), p.y + size_t(y) * p.y_stride, size_t(pic.width));
  // Odd sizes keep their last chroma column and row.
  const size_t cw = size_t(pic.width + 1) / 2;
  for (int y = 0; y < (pic.height + 1) / 2; ++y) {
    std::memcpy(f->cb_plane() + size_t(y) * f->c_width(), p.cb + size_t(y) * p.c_stride, cw);
    std::memcpy(f->cr_plane() + size_t(y) * f->c_width(), p.cr + size_t(y) * p.c_stride, cw);
  }
  return f;
}

}  // namespace

std::atomic<int32_t> skip_full_scan{0};

DTV::DTV(const MPEG_Clip* clip, int* error, int size_mode) {
  reset();
  size_mode_ = size_mode < 0 || size_mode > 2 ? 0 : size_mode;
  const int r = init(clip);
  if (r) {
    close();
    reset();
  }
  if (error) *error = r;
}

DTV::~DTV() { close(); }

void DTV::reset() {
  gop_size_ = 0;
  sub_gop_size_ = 3;
  smallest_gop_ = largest_gop_ = 0;
  last_output_frame_ = -1;
  coef_limit_ = 64;
  direction_changed_ = reload_pending_ = 0;
  clip_type_ = 0;
  current_frame_ = 0;
  play_mode_ = 25;
  clip_start_ = clip_frames_ = stream_frames_ = 0;
  cur_ = prev_ = nullptr;
  screen_ = nullptr;
  extra_fields_ = tc_gap_ = pulldown_ = 0;
  screen_frame_ = -1;
}

void DTV::close() {
  overlay_out_.reset();
  overlay_picture_.reset();
  overlay_picture_for_ = -1;
  cache_a_.reset();
  cache_b_.reset();
  cur_ = prev_ = nullptr;
  b_frame_a_.reset();
  b_frame_b_.reset();
  pending_.reset();
  retired_.clear();
  still_.reset();
  qt_.reset();
  avi_.reset();
  screen_ = nullptr;
  if (index_) {
    // What this copy learnt goes back to the process-wide index.
    GoplistCache::instance().update(index_.get());
    index_.reset();
  }
}

int DTV::init(const MPEG_Clip* clip) {
  if (!clip) return 1;
  int r;
  if (Clip::is_mpeg_video_type(clip->clip_type)) {
    r = open_mpeg(clip);
  } else {
    if (index_) {
      GoplistCache::instance().update(index_.get());
      index_.reset();
    }
    pulldown_ = 0;
    r = open_still(clip);
  }
  if (r == 0) set_effect_list(clip);
  return r;
}

int DTV::open_mpeg(const MPEG_Clip* clip) {
  const char* name = clip->get_file_name();
  if (!name) return 1;
  // Unlike a bare name test, a file changed on disk is opened again.
  if (index_ && cache_a_ && goplist_matches(index_.get(), name, clip->video_stream_id, clip->video_pid)) {
    // Same file, ids and size mode: only the range and the position change.
    clip_ = *clip;
    compute_clip_range();
    return search((play_mode_ & kPlayBackward) ? clip_frames_ - 1 : 0, 1) >= 0 ? 0 : 1;
  }
  close();
  auto list = std::make_unique<GOPList>();
  if (GoplistCache::take_from_cache(list.get(), name, clip->video_stream_id, clip->video_pid)) {
    trace("DTV::open_mpeg (ERROR): <%s>: no GOP index\n", name);
    return 1;
  }
  index_ = std::move(list);
  clip_type_ = clip->clip_type;
  clip_ = *clip;
  seqhdr_ = index_->get_seqhdr();
  extra_fields_ = index_->get_extra_fields();
  pulldown_ = extra_fields_ > 0 ? 1 : 0;
  // Time codes count coded pictures: with repeated fields only a walk over
  // the GOPs numbers the frames right.
  if (pulldown_) goplist_scan(index_.get(), 0, 0);
  gop_size_ = index_->get_gop_size();
  sub_gop_size_ = index_->get_sub_gop_size();

  const int hs = seqhdr_.get_horizontal_size(), vs = seqhdr_.get_vertical_size();
  if (!mpeg_picture_size_ok(hs, vs)) {
    trace("DTV::open_mpeg (ERROR): <%s>: picture size %d x %d is beyond every MPEG level\n", name, hs, vs);
    return 1;
  }

  int err = 0;
  cache_a_ = std::make_unique<DCache>(&seqhdr_, &err, size_mode_);
  if (err) return 1;
  cache_b_ = std::make_unique<DCache>(&seqhdr_, &err, size_mode_);
  if (err) return 1;
  cur_ = cache_a_.get();
  prev_ = cache_b_.get();
  compute_clip_range();
  if (clip_frames_ < 1) {
    trace("DTV::open_mpeg (ERROR): <%s>: no frames\n", name);
    return 1;
  }
  // A stream whose pictures cannot be reached at all is no clip.
  const int first = (play_mode_ & kPlayBackward) ? clip_frames_ - 1 : 0;
  if (!show(clip_start_ + first) && !show(clip_start_)) {
    trace("DTV::open_mpeg (ERROR): <%s>: no frame can be decoded\n", name);
    return 1;
  }
  return 0;
}

void DTV::compute_clip_range() {
  stream_frames_ = index_ ? index_->get_total_frames() : 0;
  int start = std::max(0, clip_.start);
  int end = clip_.end_frame();
  if (clip_.count < 1 || end < start) end = stream_frames_ - 1;
  end = std::min(end, stream_frames_ - 1);
  start = std::min(start, std::max(0, end));
  clip_start_ = start;
  clip_frames_ = end - start + 1;
  if (clip_frames_ < 0) clip_frames_ = 0;
}

int DTV::open_still(const MPEG_Clip* clip) {
  const int type = clip->clip_type;
  const char* name = clip->get_file_name();
  clip_ = *clip;
  clip_type_ = type;
  if (type == 13 || type == 14) return open_sequence(clip);
  if (type != 11 && type != 12) {
    // Audio-only types, and sequences whose readers are not available.
    trace("DTV::init (ERROR): clip type %d cannot be shown\n", type);
    return 1;
  }
  if (!name) return 1;
  clip_start_ = 0;
  clip_frames_ = std::max(1, clip->count);
  current_frame_ = (play_mode_ & kPlayBackward) ? clip_frames_ - 1 : 0;
  std::unique_ptr<Frame> f;
  if (type == 11) {
    f.reset(load_jpeg_image(name));
  } else {
    StillPicture pic;
    if (load_still_picture(name, &pic)) f = frame_from_still(pic);
  }
  if (!f || !f->image()) return 1;
  const int w = f->get_width(), h = f->get_height();
  if (size_mode_) {
    Frame* r = f->create_scaled(w >> size_mode_, h >> size_mode_);
    if (r) f.reset(r);
  }
  still_ = std::move(f);
  screen_ = still_.get();
  screen_->set_stream_frame(current_frame_);
  seqhdr_ = SeqHdr();
  seqhdr_.setup(w, h, 0, 0.0, 0);
  return 0;
}

int DTV::reader_position() const {
  if (qt_) return qt_->current_sample;
  if (avi_) return avi_->current_sample;
  return current_frame_;
}

// QuickTime JPEG and AVI DIB sequences: a reader positioned on the clip.
int DTV::open_sequence(const MPEG_Clip* clip) {
  const char* name = clip->get_file_name();
  if (!name) return 1;
  int status = 1, w = 0, h = 0, total = 0, bit_rate = 0;
  double rate = 0;
  if (clip->clip_type == 13) {
    qt_ = std::make_unique<QT_Decoder>(name, &status);
    if (status) {
      qt_.reset();
      return 1;
    }
    w = qt_->width;
    h = qt_->height;
    total = qt_->get_total_samples();
    rate = qt_->frame_rate;
    bit_rate = int(qt_->bit_rate / 5);
  } else {
    avi_ = std::make_unique<Avi>(name, &status);
    if (status) {
      avi_.reset();
      return 1;
    }
    w = avi_->get_width();
    h = std::abs(avi_->get_height());
    total = avi_->video_samples;
    rate = avi_->get_frame_rate();
    if (rate > 0) bit_rate = int(int64_t(8.0 * double(avi_->hdrl.video_format.get_dib_data_size()) * rate) / 20);
  }
  if (w <= 0 || h <= 0 || total <= 0) return 1;
  clip_start_ = std::clamp(clip->start, 0, total - 1);
  int end = clip->count > 0 ? clip->end_frame() : total - 1;
  end = std::clamp(end, clip_start_, total - 1);
  clip_frames_ = end - clip_start_ + 1;
  current_frame_ = (play_mode_ & kPlayBackward) ? end : clip_start_;
  still_ = std::make_unique<Frame>(w, h, 1, 0);
  if (!still_->image() || !still_->buffer()) return 1;
  if (qt_) qt_->goto_sample(current_frame_, still_.get());
  else avi_->goto_sample(current_frame_, still_.get());
  current_frame_ = reader_position();
  screen_ = still_.get();
  screen_->set_stream_frame(current_frame_);
  seqhdr_ = SeqHdr();
  seqhdr_.setup(w, h, bit_rate, rate, 0);
  return 0;
}

// Steps a sequence reader, kept inside the clip; the samples moved.
int DTV::sequence_step(int n, bool backward) {
  if (n < 1 || !still_) return 0;
  const int at = reader_position();
  n = backward ? std::min(n, at - clip_start_) : std::min(n, clip_start_ + clip_frames_ - 1 - at);
  if (n < 1) return 0;
  int moved;
  if (qt_) moved = backward ? qt_->backward(still_.get(), n) : qt_->forward(still_.get(), n);
  else moved = backward ? avi_->backward(still_.get(), n) : avi_->forward(still_.get(), n);
  current_frame_ = reader_position();
  screen_->set_stream_frame(current_frame_);
  return moved;
}

int DTV::get_position() const {
  if (!Clip::is_mpeg_video_type(clip_type_)) return current_frame_ - clip_start_;
  return std::clamp(screen_frame_ - clip_start_, 0, std::max(0, clip_frames_ - 1));
}

double DTV::get_frame_rate() const {
  if (qt_) return qt_->frame_rate;
  if (avi_) return avi_->get_frame_rate();
  if (cur_) return cur_->seqhdr.get_frame_rate();
  return seqhdr_.get_frame_rate();
}

size_t DTV::get_frame_bytes() const {
  size_t n = (cache_a_ ? cache_a_->pool_bytes() : 0) + (cache_b_ ? cache_b_->pool_bytes() : 0);
  auto add = [&n](const Frame* f) {
    if (f && f->image() && f->buffer()) n += f->image()->buffer_size();
  };
  for (const Frame* f : {b_frame_a_.get(), b_frame_b_.get(), pending_.get(), still_.get()}) add(f);
  for (const auto& f : retired_) add(f.get());
  return n;
}

int DTV::get_decode_count() const {
  return (cache_a_ ? cache_a_->get_decode_count() : 0) + (cache_b_ ? cache_b_->get_decode_count() : 0);
}

bool DTV::is_end_of_gop() {
  if (!cur_ || !cur_->loaded()) return true;
  const int last_field = 2 * (clip_start_ + clip_frames_ - 1);
  return cur_->gop->first_field + cur_->gop->total_fields > last_field;
}

bool DTV::is_at_clip_end() {
  if (!Clip::is_mpeg_video_type(clip_type_)) return current_frame_ >= clip_start_ + clip_frames_ - 1;
  return screen_frame_ >= clip_start_ + clip_frames_ - 1;
}

bool DTV::is_at_clip_start() {
  if (qt_ || avi_) return current_frame_ <= clip_start_;
  if (!Clip::is_mpeg_video_type(clip_type_)) return current_frame_ < 1;
  return screen_frame_ <= clip_start_;
}

int DTV::get_first_gop_frame() {
  if (!Clip::is_mpeg_video_type(clip_type_)) return current_frame_ - clip_start_;
  return cur_ && cur_->loaded() ? cur_->gop->first_frame() - clip_start_ : 0;
}

int DTV::get_last_gop_frame() {
  if (!Clip::is_mpeg_video_type(clip_type_))
    return std::min(current_frame_ + int(get_frame_rate() + 0.5) / 2, clip_frames_);
  return cur_ && cur_->loaded() ? cur_->gop->end_frame() - clip_start_ : 0;
}

int DTV::scan_goplist(int force) {
  if (!index_ || (skip_full_scan.load() && !force)) return clip_frames_;
  GOP g;
  int gops = 0, pics = 0, refs = 0;
  if (index_->get_first_gop(&g, 0) <= 0) return clip_frames_;
  do {
    ++gops;
    pics += g.pic_count;
    for (int i = 0; i < g.pic_count; ++i)
      if (g.get_pic_type(i) != 3) ++refs;
    smallest_gop_ = smallest_gop_ ? std::min(smallest_gop_, g.pic_count) : g.pic_count;
    largest_gop_ = std::max(largest_gop_, g.pic_count);
  } while (index_->next_gop(&g, 0) > 0);
  if (gops) gop_size_ = int(double(pics) / gops + 0.5);
  if (refs) sub_gop_size_ = int(double(pics) / refs + 0.5);
  const int before = screen_frame_ - clip_start_;
  compute_clip_range();
  search(std::max(0, before), 1);
  return clip_frames_;
}

// ---- overlays ----

void DTV::set_effect_list(const Clip* clip) {
  overlays_.clear();
  overlay_picture_.reset();
  overlay_picture_for_ = -1;
  int n = 0;
  const OverlayClip* list = clip ? clip->get_field_pair(&n) : nullptr;
  for (int i = 0; list && i < n; ++i) overlays_.push_back(list[i]);
}

int DTV::find_effect_in_range(int* out_start, int* out_end) {
  if (overlays_.empty() || !cur_ || !cur_->loaded()) return 0;
  // Overlay positions count in the clip's own frames, like the GOP range.
  const int first = cur_->gop->first_frame(), end = cur_->gop->end_frame();
  int s = 0, e = 0;
  bool found = false;
  for (const OverlayClip& o : overlays_) {
    if (o.position >= end) break;
    if (o.position + o.length <= first) continue;
    s = found ? std::min(s, o.position) : o.position;
    e = found ? std::max(e, o.position + o.length) : o.position + o.length;
    found = true;
  }
  if (!found) return 0;
  if (out_start) *out_start = s - clip_start_;
  if (out_end) *out_end = e - clip_start_;
  return 1;
}

void DTV::apply_overlays(int frame, Frame* out) {
  for (size_t i = 0; i < overlays_.size(); ++i) {
    const OverlayClip& o = overlays_[i];
    if (!o.covers(frame)) continue;
    if (o.get_image_file()) {
      if (overlay_picture_for_ != int(i)) {
        overlay_picture_.reset();
        StillPicture pic;
        if (load_still_picture(o.get_image_file(), &pic)) {
          if (auto f = frame_from_still(pic)) {
            if (size_mode_) {
              Frame* r = f->create_scaled(pic.width >> size_mode_, pic.height >> size_mode_);
              if (r) f.reset(r);
            }
            overlay_picture_ = std::move(f);
          }
        }
        overlay_picture_for_ = int(i);
      }
      if (overlay_picture_ && overlay_picture_->image()) {
        EffectOp op = nullptr;
        for (int id = 0; id < effect_op_get_count(); ++id)
          if (std::strcmp(effect_op_get_name(id), "Color Keying Title Image") == 0) op = effect_op_get(id);
        if (op) op(overlay_picture_->get_color_key(), 0, out->image(), overlay_picture_->image(), nullptr, nullptr, 0, 0);
      }
    } else if (EffectOp op = effect_op_get(o.effect_id)) {
      // One-picture effects (fades) run over their span.
      char name[512] = {};
      if (op(0, 0, nullptr, nullptr, nullptr, name, 0, 0) == 1) {
        const int span = std::max(1, o.effect_span > 0 ? o.effect_span : o.length);
        op(frame - o.position + o.effect_offset, span, out->image(), out->image(), nullptr, nullptr, 0, 0);
      }
    }
  }
}

Frame* DTV::create_screen() {
  if (!screen_) return nullptr;
  Frame* shown = screen_;
  if (!overlays_.empty()) {
    const int frame = clip_start_ + get_position();
    bool any = false;
    for (const OverlayClip& o : overlays_) any = any || o.covers(frame);
    if (any) {
      if (!overlay_out_ || overlay_out_->get_width() != screen_->get_width() ||
          overlay_out_->get_height() != screen_->get_height() ||
          overlay_out_->chroma_format() != screen_->chroma_format()) {
        overlay_out_ = std::make_unique<Frame>(screen_->get_width(), screen_->get_height(),
                                               screen_->chroma_format(), 0);
      }
      if (overlay_out_->image() && overlay_out_->buffer()) {
        overlay_out_->copy_from(screen_, 0, 0, 0);
        overlay_out_->set_stream_frame(screen_->stream_frame());
        overlay_out_->set_picture_coding_type(screen_->picture_coding_type());
        overlay_out_->set_field_count(screen_->field_count());
        overlay_out_->set_top_field_first(screen_->top_field_first());
        apply_overlays(frame, overlay_out_.get());
        shown = overlay_out_.get();
      }
    }
  }
  return shown;
}
