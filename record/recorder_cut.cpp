// The Recorder around cuts: the plan of a clip in copied GOPs and
// re-encoded runs, and the runs themselves, decoded through the clip's
// frame access and coded as closed GOPs by the encoder.
#include <algorithm>
#include <cstring>

#include "access/dtv.h"
#include "encode/enc_sequence.h"
#include "encode/encoder.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "record/recorder.h"
#include "record/recorder_rate.h"
#include "mux/save.h"

namespace {

// Display frame (GOP-relative) of the GOP's first I picture, -1 without one.
int i_picture_frame(const LGOP& g) {
  for (int i = 0; i < g.pic_count; ++i)
    if (g.get_pic_type(i) == 1) return g.get_pic_display_frame(i);
  return -1;
}

bool closed_gop_of(const GOP& g) {
  const int hdr = std::min(g.get_pic_entry(0), g.valid_bytes());
  if (!g.data || hdr <= 0) return false;
  StartCodeCursor c(g.data, hdr);
  if (!c.find(0xB8) || c.offset() + 8 > hdr) return false;
  return (g.data[c.offset() + 7] & 0x40) != 0;
}

int find_picture(const uint8_t* d, size_t n) {
  StartCodeCursor c(d, int64_t(n));
  return c.find(0x00) ? int(c.offset()) : -1;
}

}  // namespace

ClipPlanner::ClipPlanner(GOPList* list, int start, int end, int mode, GOP* walk, bool fields)
    : list_(list), start_(start), end_(end), mode_(mode), fields_(fields), g_(walk ? walk : &own_), read_(walk ? 1 : 0) {}

void ClipPlanner::recode(int a, int b) {
  if (b < a) return;
  if (ready_.size() > taken_ && !ready_.back().copy && ready_.back().last + 1 == a) {
    ready_.back().last = b;
    return;
  }
  ClipPiece p;
  p.first = a;
  p.last = b;
  ready_.push_back(p);
}

bool ClipPlanner::step() {
  if (done_) return false;
  if (!started_) {
    started_ = true;
    if (end_ < start_) {
      done_ = true;
      return false;
    }
    if (mode_ == 1) {
      recode(start_, end_);
      done_ = true;
      return true;
    }
    if (list_->get_gop(start_, g_, read_, 0) < 0 || g_->pic_count <= 0) {
      done_ = true;
      return false;
    }
  } else {
    // Searches between two steps move the index's current GOP: step on
    // from the GOP planned last.
    const LGOP* cur = list_->current();
    if (!cur || !cur->start.equals(at_)) {
      GOP here;
      list_->get_gop(at_frame_, &here, 0, 0);
    }
    if (list_->next_gop(g_, read_) <= 0 || g_->start.equals(at_)) {
      done_ = true;
      return false;
    }
  }
  GOP& g = *g_;
  const int g0 = g.first_frame(), last = g.end_frame() - 1;
  if (g0 > end_) {
    done_ = true;
    return false;
  }
  const int iframe = i_picture_frame(g);
  const int idisp = iframe < 0 ? -1 : g0 + iframe;
  bool taken = idisp >= 0 && start_ <= idisp && last <= end_;
  if (taken && fields_ && g.pic_count > 0) {
    int first_pic = 0, last_pic = 0;
    for (int i = 1; i < g.pic_count; ++i) {
      if (g.get_pic_display_field(i) < g.get_pic_display_field(first_pic)) first_pic = i;
      if (g.get_pic_display_field(i) > g.get_pic_display_field(last_pic)) last_pic = i;
    }
    // Starting on a frame's second field: the first frame of the range, or
    // the frame of a one-frame run before it, which cannot end early.
    if (start_ >= g0 - 1 && (g.first_field & 1) && g.get_pic_fields(first_pic) != 3) taken = false;
    if (last == end_ && g.first_field + g.total_fields == 2 * end_ + 1 && g.get_pic_fields(last_pic) != 3) taken = false;
  }
  if (taken) {
    // Leading B pictures predict from the GOP before: copied only when
    // that GOP was copied too, or when the GOP says it is closed.
    bool keep = iframe == 0;
    if (!keep && start_ <= g0) {
      keep = prev_copied_;
      if (!keep) {
        GOP whole;
        keep = list_->get_gop(g0, &whole, 1, 0) >= 0 && closed_gop_of(whole);
      }
    }
    if (!keep) recode(std::max(start_, g0), idisp - 1);
    ClipPiece p;
    p.copy = true;
    p.first = keep ? g0 : idisp;
    p.last = last;
    p.gop_frame = g0;
    p.keep_leading = keep;
    ready_.push_back(p);
    prev_copied_ = true;
  } else {
    recode(std::max(start_, g0), std::min(last, end_));
    prev_copied_ = false;
  }
  at_ = g.start;
  at_frame_ = g0;
  if (last >= end_) done_ = true;
  return true;
}

bool ClipPlanner::next(ClipPiece* p) {
  // A re-encoded run grows over the GOPs after it: a piece is final once a
  // copied GOP follows it or the plan ends.
  while (!done_ && (taken_ == ready_.size() || !ready_.back().copy)) step();
  if (taken_ >= ready_.size()) return false;
  *p = ready_[taken_++];
  if (taken_ == ready_.size()) {
    ready_.clear();
    taken_ = 0;
  }
  return true;
}

std::vector<ClipPiece> plan_clip_pieces(GOPList* list, int start, int end, int mode) {
  std::vector<ClipPiece> out;
  ClipPlanner plan(list, start, end, mode);
  for (ClipPiece p; plan.next(&p);) out.push_back(p);
  return out;
}

int Recorder::decoded() const { return decoded_done_ + (dtv_ ? dtv_->get_decode_count() : 0); }

bool Recorder::push_output(Save* save, std::unique_ptr<Pending> next, bool join) {
  total_fields_ += next->fields;
  if (parity_tff_ < 0) parity_tff_ = next->first_tff;
  if (join) fix_parity(next.get());
  if (pending_ && !write_gop_output(save, out_es_.stream_id)) return false;
  pending_ = std::move(next);
  ++gops_;
  output_frame_ = total_fields_ / 2;
  return true;
}

bool Recorder::copy_piece(Save* save, const ClipPiece& p, bool clip_start) {
  // GOPs are read in file order; a jump (the first GOP of a clip) seeks.
  // The planner one GOP ahead has read this one already.
  bool have = planner_ && gop_.pic_count > 0 && gop_.data && gop_.first_frame() == p.gop_frame &&
              gop_.data_valid >= gop_.byte_length;
  if (have) {
    // As a read leaves it.
    gop_.reset_temporal_reference();
    gop_.no_pts = 1;
  } else if (gop_.pic_count > 0 && gop_.data && gop_.first_frame() < p.gop_frame) {
    const FileOffset was = gop_.start;
    have = gops_list_->next_gop(&gop_, 1) > 0 && !gop_.start.equals(was) && gop_.first_frame() == p.gop_frame;
  }
  if (!have && (gops_list_->get_gop(p.gop_frame, &gop_, 1, 0) < 0 || gop_.first_frame() != p.gop_frame)) {
    fail("clip %d frame %d: the GOP cannot be read", clip_index_, p.gop_frame);
    return false;
  }
  const int a = p.first - p.gop_frame, b = p.last - p.gop_frame;
  GopPlan plan;
  get_next_gop_info(gop_, a, b, !p.keep_leading, false, &plan);
  if (plan.head || plan.tail || plan.copy == 0) {
    // A GOP the plan cannot copy as expected (damaged, unusual order).
    ++warnings_;
    trace("Recorder (WARNING): clip %d frame %d: GOP re-encoded instead of copied\n", clip_index_, p.gop_frame);
    ClipPiece r = p;
    r.copy = false;
    return recode_piece(save, r);
  }
  bool restructured = false;
  const int run_end = recode_end_field_;
  copy_end_field_ = recode_end_field_ = -1;
  if (restructure_ && restructure_piece(save, plan, clip_start || after_recode_, &restructured)) return restructured;
  // The record option codes a GOP taken whole again instead of copying it
  // (a GOP it cannot take is copied).
  if (record_option_ && !copy_only_ && plan.copy == gop_.pic_count) {
    if (transcode_gop(gop_, save) > 0) {
      since_copy_ = 0;
      join_open_ = false;
      after_recode_ = false;
      return true;
    }
    if (failed_) return false;
  }
  std::unique_ptr<Pending> next = spare_ ? std::move(spare_) : std::make_unique<Pending>();
  next->pics.clear();
  next->fields = 0;
  next->first_tff = -1;
  if (!build_output_gop(gop_, plan, clip_start || after_recode_, next.get())) {
    fail("clip %d frame %d: the GOP cannot be read", clip_index_, p.gop_frame);
    return false;
  }
  int shown_from = -1, shown_to = -1;
  for (int i = 0; i < gop_.pic_count; ++i) {
    if (!plan.keep[size_t(i)]) continue;
    const int f = gop_.get_pic_stream_field(i);
    if (shown_from < 0 || f < shown_from) shown_from = f;
    shown_to = std::max(shown_to, f + gop_.get_pic_fields(i));
  }
  if (pulldown_edges_apply() && (clip_start ? shown_from == 2 * p.first - 1 : after_recode_ && run_end == shown_from + 1)) {
    // The run before showed the copy's first field, or it lies before the
    // range: a first picture shown three fields (the film frame's repeated
    // field) shows two.
    std::vector<RefFrameEntry> list;
    const int n = build_rf_list(int(next->pics.size()), next->bytes.data(), int(next->bytes.size()), 0, &list);
    if (n > 0 && list[0].fields() == 3 &&
        set_picture_coding_ext_flags(next->bytes.data() + list[0].offset, int(next->bytes.size()) - list[0].offset,
                                     !list[0].top_field_first(), 0) == 0) {
      --next->fields;
      next->first_tff = !list[0].top_field_first();
    }
  }
  copy_end_field_ = shown_to;
  recode_end_field_ = -1;
  since_copy_ = 0;
  join_open_ = false;
  // The copy's field parity is fixed: a re-encoded run before it yields.
  const bool join = clip_start || after_recode_;
  after_recode_ = false;
  return push_output(save, std::move(next), join);
}

bool Recorder::open_encoder() {
  if (encoder_) return true;
  RecordVideoSetup setup;
  record_video_setup_init(&setup, out_seq_);
  if (gop_n_ > 0) setup.gop_size = gop_n_;
  if (gop_m_ > 0) setup.ref_distance = gop_m_;
  const RecordEncoder& w = encoder_words_;
  if (w.me_mode > 0 && w.me_mode <= 3) setup.me_mode = w.me_mode;
  if (w.search_h > 0 && w.search_h <= 128 && w.search_v > 0 && w.search_v <= 128) {
    setup.search_h = w.search_h;
    setup.search_v = w.search_v;
  }
  if (setup_fixed_mquant() > 0) {
    setup.fixed_mquant = w.fixed_mquant;
    setup.fixed_mq_max_bit_rate = w.fixed_mq_max_bit_rate;
  }
  int result = 1;
  encoder_ = std::make_unique<Encoder>(setup, &result);
  if (result) {
    encoder_.reset();
    fail("the video encoder cannot be set up for %dx%d", out_seq_.get_horizontal_size(),
         out_seq_.get_vertical_size());
    return false;
  }
  return true;
}

bool Recorder::pulldown_edges_apply() const {
  return out_seq_.mpeg2 && !progressive_seq_ && field_order_ == 0 && !copy_only_ && !whole_gops_ && !film_;
}

bool Recorder::source_picture_at(int field, int* start, int* fields) {
  // A frame's second field may lie in the GOP after the frame's own.
  for (int frame : {field / 2, (field + 1) / 2}) {
    GOP g;
    if (field < 0 || gops_list_->get_gop(frame, &g, 0, 0) < 0) continue;
    for (int i = 0; i < g.pic_count; ++i) {
      const int s = g.get_pic_stream_field(i), n = g.get_pic_fields(i);
      if (field >= s && field < s + n) {
        *start = s;
        *fields = n;
        return true;
      }
    }
  }
  return false;
}

void Recorder::pulldown_edges(ClipPiece* p, const ClipPiece* next, int* lead, int* trail) {
  *lead = *trail = 0;
  if (!pulldown_edges_apply() || p->render_at >= 0) return;
  int start = 0, n = 0;
  if (copy_end_field_ >= 0 && copy_end_field_ == 2 * p->first - 1) {
    // The copy before ends on the first field of the run's first frame.
    const int fe = copy_end_field_;
    std::vector<RefFrameEntry> list;
    const int k = pending_ ? build_rf_list(int(pending_->pics.size()), pending_->bytes.data(),
                                           int(pending_->bytes.size()), 0, &list)
                           : 0;
    if (k > 0 && list.back().fields() == 3 &&
        set_picture_coding_ext_flags(pending_->bytes.data() + list.back().offset,
                                     int(pending_->bytes.size()) - list.back().offset,
                                     list.back().top_field_first(), 0) == 0) {
      // Its last picture gives up its repeated field; the run takes the
      // whole frame.
      --pending_->fields;
      --total_fields_;
      output_frame_ = total_fields_ / 2;
      --p->first;
    } else if (source_picture_at(fe, &start, &n) && start == fe && n == 3) {
      *lead = 1;  // the field is the first of three of one film frame
    }
  }
  if (next && next->copy) {
    // The copy after starts on the second field of the run's last frame.
    GOP g;
    if (gops_list_->get_gop(next->gop_frame, &g, 0, 0) < 0 || g.pic_count <= 0) return;
    int i_field = 0;
    for (int i = 0; i < g.pic_count; ++i)
      if (g.get_pic_type(i) == 1) {
        i_field = g.get_pic_display_field(i);
        break;
      }
    int fs = -1, first_fields = 0;
    for (int i = 0; i < g.pic_count; ++i) {
      if (!next->keep_leading && g.get_pic_display_field(i) < i_field) continue;
      const int f = g.get_pic_stream_field(i);
      if (fs < 0 || f < fs) fs = f, first_fields = g.get_pic_fields(i);
    }
    // A copy that starts a field after the run (its leading B pictures
    // left out) takes one frame more of the run and gives up its first
    // field, when it shows three.
    if (fs == 2 * p->last + 3 && first_fields == 3) ++p->last;
    // A copy that starts on the run's last field gives that field up when
    // its first picture shows three (copy_piece); otherwise the run ends a
    // frame early, its last picture shown three fields, where the source's
    // picture before the copy shows three.
    if (fs == 2 * p->last + 1 && first_fields != 3 && p->last > p->first && source_picture_at(fs - 1, &start, &n) &&
        n == 3 && start == fs - 3) {
      *trail = 1;
      --p->last;
    }
  }
}

bool Recorder::recode_piece(Save* save, const ClipPiece& p, int lead, int trail) {
  if (!open_encoder()) return false;
  if (!dtv_) {
    int err = 0;
    dtv_ = std::make_unique<DTV>(clip_, &err, 0);
    if (err) {
      dtv_.reset();
      fail("clip %d frame %d: cannot be decoded", clip_index_, p.first);
      return false;
    }
  }
  Encoder& enc = *encoder_;
  const bool interlaced = out_seq_.mpeg2 && !progressive_seq_;
  Frame work(out_seq_.get_horizontal_size(), out_seq_.get_vertical_size(), out_seq_.get_chroma_format(),
             interlaced ? 1 : 0);
  if (work.padded_width() != enc.width || work.padded_height() != enc.height) {
    fail("clip %d frame %d: frame %dx%d does not match the coded size %dx%d", clip_index_, p.first,
         work.padded_width(), work.padded_height(), enc.width, enc.height);
    return false;
  }
  // Every re-encoded picture shows two fields, in the order the source
  // shows them: its frames keep the source's parity (a picture at an even
  // source field starts with that field). Where the output is at the other
  // parity, the GOP before the run gains or loses a field at the join.
  int want_tff = -1;
  GOP held;
  if (interlaced && field_order_ == 0 && gops_list_ && gops_list_->get_gop(p.first, &held, 0, 0) >= 0 &&
      held.pic_count > 0)
    want_tff = held.get_pic_flag(0) ^ (held.get_pic_stream_field(0) & 1);
  if (interlaced && field_order_ == 0 && want_tff < 0 && parity_tff_ >= 0) want_tff = parity_tff_ ^ (total_fields_ & 1);

  std::unique_ptr<Pending> cur;
  bool ok = true;
  bool run_start = true;
  auto flush_gop = [&]() {
    if (!cur) return true;
    after_recode_ = true;
    const bool join = run_start;
    run_start = false;
    return push_output(save, std::move(cur), join);
  };
  const int base = output_frame_;
  // Display numbers of the run's pictures shown three fields (-1: none).
  long long three_a = lead ? 0 : -1, three_b = -1;
  // Copy-only runs lie within one source GOP and stand in for it whole.
  int n = copy_only_ ? p.last - p.first + 1 : gop_n_ > 0 ? gop_n_ : enc.gop_size;
  const int m = gop_m_ > 0 ? gop_m_ : enc.ref_distance;
  // Restructured output holds no GOP longer than a DVD allows, re-encoded
  // ones included: a GOP of n from I to I also carries the B pictures
  // before its I picture, and the last one of a run those before the end.
  if (restructure_) n = std::max(1, std::min(n, longest_output_gop(out_seq_.get_frame_rate()) - std::max(m - 1, 0)));
  SequenceEncoder seq(enc, n, m, true, false, [&](const CodedPicture& c) {
    if (!c.type) return true;  // the sequence end code: the output goes on
    if (c.type == PIC_TYPE_I || !cur) {
      if (!flush_gop()) return ok = false;
      cur = spare_ ? std::move(spare_) : std::make_unique<Pending>();
      cur->bytes.clear();
      cur->pics.clear();
      cur->fields = 0;
      cur->first_tff = -1;
    }
    const int at = find_picture(c.data, c.size);
    if (at < 0) return ok = false;
    const size_t at0 = cur->bytes.size();
    cur->bytes.insert(cur->bytes.end(), c.data, c.data + c.size);
    cur->pics.push_back(int(at0) + at);
    const int tff = enc.pichdr->coding_ext ? enc.pichdr->coding_ext->top_field_first : 1;
    if (cur->first_tff < 0) cur->first_tff = tff;
    if ((c.number == three_a || c.number == three_b) &&
        set_picture_coding_ext_flags(cur->bytes.data() + at0 + at, int(c.size) - at, tff, 1) == 0)
      ++cur->fields;
    cur->fields += 2;
    ++reencoded_;
    ++since_copy_;
    if (join_open_ && !joins_.empty()) ++joins_.back().reencoded;
    return true;
  });
  // Frames of the transition into the next clip mix two clips: no scene
  // of their own, so the scene test leaves them alone.
  const MPEG_Clip* next = clip_->next;
  const int mixed_from = next && next->transition_length > 0 && frames_ && p.render_at >= 0
                             ? clip_->end_frame() - next->transition_length + 1
                             : p.last + 1;
  bool mixed = false;
  if (scene_.option)
    seq.set_scene_test([this, &mixed](const Encoder& e) { return !mixed && scene_change(e); }, scene_.option == 2);
  int f = p.first;
  int got = dtv_->search(f - clip_->start, 1);
  if (vbr_ && !vbr_quant_set_ && got >= 0) {
    enc.vbr_mquant = enc.quant_code_of_value(dtv_->get_mean_quant(), PIC_TYPE_P);
    vbr_quant_set_ = 1;
  }
  // Pictures around a cut are coded finer than their source, so that they
  // look like their neighbours rather than a copy of a copy.
  // A clip re-encoded whole is coded under rate control at the output's
  // bit rate.
  const bool whole = size_t(clip_index_) < modes_.size() && modes_[size_t(clip_index_)] == 1;
  enc.fixed_mquant = whole ? setup_fixed_mquant() : std::clamp(int(dtv_->get_mean_quant()) / 3, 1, 6);
  const bool rendered = p.render_at >= 0 && frames_;
  const bool film = !rendered && size_t(clip_index_) < films_.size() && films_[size_t(clip_index_)];
  InverseTelecine ivtc;
  int produced = 0;
  const auto emit = [&](Frame& out) {
    // The output's first picture sets the parity the rest follow.
    if (interlaced && field_order_ == 0 && want_tff < 0) want_tff = out.top_field_first();
    const bool three = produced == three_a || produced == three_b;
    const int tff = want_tff >= 0 ? want_tff : out.top_field_first();
    // A picture shown three fields holds one film frame: the lead one
    // starts on the field of the other parity.
    out.set_top_field_first(three && lead && produced == 0 ? !tff : tff);
    out.set_progressive_frame(interlaced && !three ? 0 : 1);
    out.set_stream_frame(base + produced++);
    return seq.push(out);
  };
  // A clip at another frame rate than the output's repeats or drops source
  // frames; at the same rate every frame is shown once. Rendered frames are
  // movie frames already, and film goes whole to the inverse telecine.
  RateClock clock = rate_clock();
  const bool each_once = rendered || film;
  const int64_t outputs = each_once ? int64_t(p.last - p.first + 1) : clock.source_to_output_frames(p.last - p.first + 1);
  if (trail) three_b = outputs - 1;
  for (int64_t k = 0; ok && k < outputs; ++k) {
    const int want = each_once ? p.first + int(k) : p.first + int(clock.next_source(p.last - p.first));
    if (want != f && !rendered) {
      got = want == f + 1 && dtv_->forward(1) == 1 ? 0 : dtv_->search(want - clip_->start, 1);
    }
    f = want;
    mixed = want >= mixed_from;
    Frame* s = rendered ? frames_->render(p.render_at + int(k)) : dtv_->get_screen();
    if (!s || got < 0) {
      fail("clip %d frame %d: cannot be %s", clip_index_, f, rendered ? "rendered" : "decoded");
      return false;
    }
    if (!rendered && s->stream_frame() != f) {
      // Frame access could not reach the frame (a damaged GOP): the nearest
      // picture stands in, so that the output keeps its length.
      ++warnings_;
      trace("Recorder (WARNING): clip %d frame %d: decoded frame %d stands in\n", clip_index_, f, s->stream_frame());
    }
    work.copy_from(s, 1, 0, 0);
    work.copy_picture_info(s);
    if (!(film ? ivtc.push(work, emit) : emit(work))) ok = false;
  }
  if (ok && film && !ivtc.finish(emit)) ok = false;
  if (ok && !seq.finish()) ok = false;
  if (ok) ok = flush_gop();
  if (!ok) {
    if (!failed_) fail("clip %d frame %d: re-encoding failed", clip_index_, p.first);
    return false;
  }
  copy_end_field_ = -1;
  recode_end_field_ = rendered || film ? -1 : 2 * (p.last + 1) + (trail ? 1 : 0);
  return true;
}
