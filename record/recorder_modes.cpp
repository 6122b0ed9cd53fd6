// The Recorder's save options beside the plan: copy-only saves that keep
// the source's GOPs and an exact field count, variable bit rate, scene
// changes in re-encoded runs and 24-frame output of telecined film.
#include <algorithm>
#include <cmath>

#include "encode/encoder.h"
#include "encode/me_search.h"
#include "foundation/trace.h"
#include "record/recorder.h"

std::vector<ClipPiece> split_runs_at_gops(GOPList* list, const std::vector<ClipPiece>& pieces) {
  std::vector<ClipPiece> out;
  for (const ClipPiece& p : pieces) {
    if (p.copy) {
      out.push_back(p);
      continue;
    }
    int a = p.first;
    while (a <= p.last) {
      GOP g;
      int end = p.last;
      if (list && list->get_gop(a, &g, 0, 0) >= 0 && g.pic_count > 0 && g.end_frame() - 1 >= a)
        end = std::min(end, g.end_frame() - 1);
      ClipPiece r = p;
      r.first = a;
      r.last = end;
      out.push_back(r);
      a = end + 1;
    }
  }
  return out;
}

int Recorder::set_vbr_flag() {
  vbr_ = 1;
  // 0x3FFFF: the rate is variable; the multiplexer keeps the source's
  // rate as its peak.
  out_seq_.bit_rate = 0x3FFFF;
  if (out_seq_.seq_ext) out_seq_.seq_ext->bit_rate_extension = 0;
  out_es_.set_video_header(out_seq_);
  out_es_.vbr = 1;
  return 0;
}

bool Recorder::film_source(const SeqHdr& s) const {
  const int code = s.get_frame_rate_code();
  return film_ && (code == 4 || code == 5);
}

void Recorder::make_film_output() {
  out_seq_.frame_rate_code = out_seq_.get_frame_rate_code() == 4 ? 1 : 2;
  // Film frames are whole pictures.
  if (out_seq_.mpeg2 && out_seq_.seq_ext) out_seq_.seq_ext->progressive_sequence = 1;
  progressive_seq_ = 1;
  out_es_.set_video_header(out_seq_);
}

int Recorder::output_frames_of(const MPEG_Clip* c, size_t index) const {
  const int n = c->count - c->transition_length;
  return index < films_.size() && films_[index] ? InverseTelecine::output_frames(n) : source_to_output_frames(n);
}

void Recorder::end_clip_fields() {
  // The running total, not the clip's own: a parity fix at a join moved a
  // field into the clip before.
  const int delta = wanted_fields_ - total_fields_;
  if (delta == 0) return;
  int changed = 0;
  if (pending_ && !pending_->pics.empty()) {
    Pending& p = *pending_;
    changed = adjust_field_count(p.bytes.data(), int(p.bytes.size()), progressive_seq_ || !out_seq_.mpeg2,
                                 int(p.pics.size()), 1, delta);
    const int signed_change = delta > 0 ? changed : -changed;
    p.fields += signed_change;
    total_fields_ += signed_change;
    output_frame_ = total_fields_ / 2;
  }
  if (changed != std::abs(delta)) {
    ++warnings_;
    trace("ERROR (Recorder::end_clip_fields): clip %d: fields = %d (needed) <==> %d (coded)\n", clip_index_,
          wanted_fields_, total_fields_);
  }
}

void Recorder::start_scene_stats() {
  scene_.init(out_seq_.get_horizontal_size(), out_seq_.get_vertical_size(), scene_.option);
}

bool Recorder::scene_change(const Encoder& e) {
  int intra = 0;
  const size_t n = std::min(e.mbinfo.size(), size_t(std::max(e.mb_count, 0)));
  for (size_t i = 0; i < n; ++i) intra += (e.mbinfo[i].mb_type & kMBIntra) != 0;
  if (!scene_.is_scene_change(intra)) return false;
  trace("Recorder: clip %d: a new scene (%d intra macroblocks of %zu)\n", clip_index_, intra, n);
  return true;
}
