#include "record/recorder.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "access/dtv.h"
#include "demux/goplist_cache.h"
#include "encode/encoder.h"
#include "foundation/pic_header.h"
#include "foundation/rewriters.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"
#include "mux/es.h"
#include "record/recoder.h"
#include "mux/save.h"

namespace {

// Offset of the first 00 00 01 code at or after from, -1 when absent.
int find_code(const uint8_t* d, int from, int n, uint8_t code) {
  StartCodeCursor c(d, n);
  c.seek(from);
  return c.find(code) ? int(c.offset()) : -1;
}

}  // namespace

// ---- plan ------------------------------------------------------------------

int get_next_gop_info(const LGOP& g, int a, int b, bool clip_start, bool closed, GopPlan* plan) {
  *plan = GopPlan();
  const int n = g.pic_count;
  if (n <= 0 || b < a) return 0;
  plan->keep.assign(size_t(n), 0);
  std::vector<int> field(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) field[size_t(i)] = g.get_pic_display_field(i);
  // Wanted: the pictures whose first field is shown within frames a..b.
  auto wanted = [&](int i) { return field[size_t(i)] >= 2 * a && field[size_t(i)] <= 2 * b + 1; };
  // References of each picture in coded order: the last two anchors before
  // it (a B picture) or the last one (a P picture); -2 is the previous GOP.
  std::vector<int> anchors;
  bool copyable_start = true;
  int first_bad = -1;
  for (int i = 0; i < n; ++i) {
    const int type = g.get_pic_type(i);
    if (!wanted(i)) {
      if (type != 3) anchors.push_back(i);
      if (type == 3 && field[size_t(i)] < 2 * a) ++plan->skip;
      continue;
    }
    bool ok = true;
    if (type == 2) {
      ok = !anchors.empty() && wanted(anchors.back());
    } else if (type == 3) {
      const int fwd = anchors.size() >= 2 ? anchors[anchors.size() - 2] : -2;
      const bool back_ok = !anchors.empty() && wanted(anchors.back());
      const bool fwd_ok = fwd == -2 ? (closed || !clip_start) : wanted(fwd);
      ok = back_ok && fwd_ok;
    }
    if (type != 3) anchors.push_back(i);
    if (ok && copyable_start) {
      plan->keep[size_t(i)] = 1;
      ++plan->copy;
    } else {
      copyable_start = false;
      if (first_bad < 0 || field[size_t(i)] / 2 < first_bad) first_bad = field[size_t(i)] / 2;
      if (plan->copy == 0)
        ++plan->head;
      else
        ++plan->tail;
    }
  }
  // Leading B pictures outside the range go with the start.
  for (int i = 1; i < n && g.get_pic_type(i) == 3; ++i)
    if (!plan->keep[size_t(i)] && field[size_t(i)] < 2 * a) ++plan->dropped_leading_b;
  if (plan->head || plan->tail) {
    plan->first_bad_frame = first_bad;
    // Whatever needs re-encoding leaves nothing to copy in between.
    plan->keep.assign(size_t(n), 0);
    plan->tail += plan->copy;
    plan->copy = 0;
  }
  return plan->head + plan->copy + plan->tail;
}

// ---- rewrites ----------------------------------------------------------------

int Recorder::set_temporal_reference(uint8_t* data, int bytes, int at, int type, int k, int base) {
  const int tr = (type == 3 ? base - 1 : base + k - 1) & 0x3FF;
  if (start_code_at(data, bytes, at) != 0x00 || at + 6 > bytes) return 0;
  uint8_t* p = data + at + 4;
  const int old = (p[0] << 2) | (p[1] >> 6);
  if (old == tr) return 0;
  p[0] = uint8_t(tr >> 2);
  p[1] = uint8_t(((tr & 3) << 6) | (p[1] & 0x3F));
  return 1;
}

int Recorder::set_closed_gop(uint8_t* data, int bytes, int flag) {
  const int o = find_code(data, 0, bytes, 0xB8);
  if (o < 0 || o + 8 > bytes) return 0;
  const uint8_t v = uint8_t(flag ? (data[o + 7] | 0x40) : (data[o + 7] & ~0x40));
  if (v == data[o + 7]) return 0;
  data[o + 7] = v;
  return 1;
}

int Recorder::update_field_count(uint8_t* data, int bytes, int progressive, int add) {
  // The last anchor in coded order is the last picture shown: changing its
  // field count leaves the parity of every other picture of the GOP alone.
  int target = -1;
  StartCodeCursor c(data, bytes);
  while (c.find(0x00) && c.offset() + 6 <= bytes) {
    const int i = int(c.offset());
    const int type = read_picture_coding_type(data + i);
    if (type == PIC_TYPE_I || type == PIC_TYPE_P) target = i;
    c.seek(i + 4);
  }
  const int e = target >= 0 ? find_picture_coding_ext(data, bytes, target) : -1;
  if (e >= 0 && (data[e + 6] & 3) == 3 && !progressive) {
    uint8_t& b7 = data[e + 7];
    const bool rff = (b7 & 0x02) != 0, prog_frame = (data[e + 8] & 0x80) != 0;
    if (!add && rff) {
      b7 = uint8_t(b7 & ~0x02);
      return 1;
    }
    if (add && !rff && prog_frame) {
      b7 = uint8_t(b7 | 0x02);
      return 1;
    }
  }
  trace("ERROR (Recorder::update_field_count): NOT changed!\n");
  return 0;
}

int Recorder::fix_aspect_ratio(const SeqHdr& seq) {
  const int w = seq.get_horizontal_size(), h = seq.get_vertical_size(), code = seq.get_frame_rate_code();
  const int a = seq.get_aspect_ratio_information();
  if (seq.mpeg2) {
    if (((code == 4 && h == 480) || (code == 3 && h == 576)) && (w == 720 || w == 704 || w == 352) && a != 0 &&
        a != 2 && a != 3)
      return code == 4 ? 2 : 3;
    return 0;
  }
  if (w == 352 && h == 240 && code == 4) return 12;
  if (w == 352 && h == 288 && code == 3) return 8;
  return 0;
}

// ---- the recorder --------------------------------------------------------------

std::unique_ptr<Recorder> Recorder::create(const MPEG_Clip* clips, const RecordData& data, EngineError* error,
                                           FrameSource* frames) {
  std::unique_ptr<Recorder> rec(new Recorder(clips, data, frames));
  if (!rec->failed()) return rec;
  engine_error_set(error, EngineError::bad_input, rec->message());
  return nullptr;
}

Recorder::Recorder(const MPEG_Clip* clips, const RecordData& data, FrameSource* frames)
    : list_(record_copy_clips(clips)), frames_(frames) {
  kind_ = data.kind;
  field_order_ = data.field_order;
  restructure_ = data.restructure;
  bit_rate_ = data.video.bit_rate;
  vbr_ = record_wants_vbr(data) ? 1 : 0;
  film_ = data.film_output;
  scene_.option = data.scene_change;
  encoder_words_ = data.encoder;
  clip_ = list_;
  if (!list_) fail("Recorder: no clips to save");
  init_video_params(data);
  // Every clip is checked before anything is written.
  int index = 0;
  for (MPEG_Clip* c = list_; c && !failed_; c = c->next, ++index) {
    clip_index_ = index;
    clip_ = c;
    const int mode = check_clip(c);
    if (failed_) break;
    modes_.push_back(mode);
    films_.push_back(film_source(gops_list_->get_seqhdr()) ? 1 : 0);
    if (c == ref_ && vbr_) set_vbr_flag();
    if (c == ref_ && gops_list_) {
      const int n = gops_list_->get_gop_size();
      if (n > 0 && n <= 60) gop_n_ = n;
    }
    if (data.gop_size > 0) gop_n_ = data.gop_size;
    if (data.sub_gop_size > 0) gop_m_ = data.sub_gop_size;
    total_frames_ += output_frames_of(c, size_t(index));
  }
  all_copyable_ = failed_ ? 0 : 1;
  for (int m : modes_) all_copyable_ &= m == 0 ? 1 : 0;
  for (const MPEG_Clip* c = list_; c; c = c->next)
    if (c->transition_length > 0 || !c->overlays.empty()) all_copyable_ = 0;
  clip_ = list_;
  clip_index_ = 0;
  gops_list_.reset();
}

Recorder::~Recorder() {
  dtv_.reset();
  record_free_clips(list_);
}

int Recorder::fail(const char* fmt, ...) {
  char text[512];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (!failed_) message_ = text;
  trace("Recorder (ERROR): %s\n", text);
  failed_ = 1;
  return 1;
}

bool Recorder::open_clip() {
  gops_list_ = std::make_unique<GOPList>();
  const char* name = clip_->get_file_name();
  if (!name || GoplistCache::take_from_cache(gops_list_.get(), name, clip_->video_stream_id, clip_->video_pid) != 0) {
    fail("clip %d: cannot index \"%s\"", clip_index_, name ? name : "");
    return false;
  }
  return true;
}

// The clip's mode: 0 copied where the plan allows, 1 re-encoded whole (its
// stream cannot be copied into the output); a clip that cannot be saved
// fails the save.
int Recorder::check_clip(const MPEG_Clip* c) {
  const int first = c->start;
  if (!Clip::is_mpeg_video_type(c->clip_type))
    return fail("clip %d frame %d: not MPEG video, needs re-encoding", clip_index_, first);
  // Mixed pictures come from the frame source.
  if (!frames_ && c->transition_length > 0 && c != list_)
    return fail("clip %d frame %d: a transition needs the movie's pictures", clip_index_, first);
  if (!frames_ && !c->overlays.empty())
    return fail("clip %d frame %d: an overlay needs the movie's pictures", clip_index_, first);
  if (c->count <= 0) return fail("clip %d: empty", clip_index_);
  if (!open_clip()) return 1;
  const SeqHdr& s = gops_list_->get_seqhdr();
  if (s.get_horizontal_size() <= 0) return fail("clip %d: no sequence header", clip_index_);
  if (c == ref_) {
    out_seq_ = s;
    progressive_seq_ = s.mpeg2 ? s.get_progressive_sequence() : 1;
    const ESData* es = gops_list_->get_es_data();
    if (es && es->is_video()) out_es_ = *es;
    out_es_.set_name(nullptr);
    out_es_.set_video_header(s);
    out_es_.kind = s.mpeg2 ? ES_KIND_MPEG2_VIDEO : ES_KIND_MPEG1_VIDEO;
    out_es_.stream_id = 0xE0;
    out_es_.pid = 0;
    if (out_es_.bit_rate <= 0) out_es_.bit_rate = s.get_bit_rate();
    int mode = 0;
    // Another output bit rate than the source's: every clip is re-encoded.
    if (bit_rate_ > 0 && bit_rate_ != s.get_bit_rate()) {
      out_seq_.set_bit_rate(bit_rate_);
      out_es_.bit_rate = bit_rate_;
      mode = 1;
    }
    if (film_source(s)) {
      make_film_output();
      mode = 1;
    }
    return mode;
  }
  const bool film = film_source(s);
  if (film) return 1;
  // Another frame rate: re-encoded whole, source frames repeated or dropped.
  if (!rate_clock().same_rate()) return 1;
  // Pictures of another size, chroma format, MPEG version, bit rate or
  // quantiser matrices are re-encoded into the output's stream.
  if (s.get_horizontal_size() != out_seq_.get_horizontal_size() ||
      s.get_vertical_size() != out_seq_.get_vertical_size() ||
      s.get_chroma_format() != out_seq_.get_chroma_format() || (s.mpeg2 != 0) != (out_seq_.mpeg2 != 0) ||
      (!vbr_ && s.get_bit_rate() != out_seq_.get_bit_rate()))
    return 1;
  return 0;
}

bool Recorder::build_output_gop(const GOP& g, const GopPlan& plan, bool clip_start, Pending* out) {
  const uint8_t* d = g.data;
  const int n = g.valid_bytes();
  if (!d || n <= 0) return false;
  const int first = g.get_pic_entry(0);
  if (first < 0 || first > n) return false;
  std::vector<uint8_t>& o = out->bytes;
  o.clear();
  if (clip_start && find_code(d, 0, first, 0xB3) < 0) {
    // Copied pictures decode with the matrices of their own source.
    uint8_t seq[1024];
    const int len = gops_list_->get_seqhdr().encode(seq, sizeof seq, 1);
    if (len > 0) o.insert(o.end(), seq, seq + len);
  }
  o.insert(o.end(), d, d + first);
  // The header part of the source ends with its last header.
  o.resize(size_t(without_end_code(o.data(), int(o.size()))));
  // A part at a lower rate than the output's announces the output's rate,
  // the one the stream as a whole needs.
  if (gops_list_->get_seqhdr().bit_rate != out_seq_.bit_rate)
    utils_set_seq_bit_rate(o.data(), int64_t(o.size()), out_seq_.bit_rate, 1);
  int fields = 0;
  int kept = 0;
  for (int i = 0; i < g.pic_count; ++i) {
    if (!plan.keep[size_t(i)]) continue;
    const int s = g.get_pic_entry(i);
    const int e = i + 1 < g.pic_count ? g.get_pic_entry(i + 1) : g.byte_length;
    if (s >= n) break;  // the rest of the GOP cannot be read
    const int len = without_end_code(d + s, (e < n ? e : n) - s);
    if (len <= 0) continue;
    if (kept == 0) out->first_tff = g.get_pic_flag(i);
    out->pics.push_back(int(o.size()));
    o.insert(o.end(), d + s, d + s + len);
    fields += g.get_pic_fields(i);
    ++kept;
  }
  if (kept == 0) return false;
  utils_gop_temporal_reference(o.data(), int64_t(o.size()));
  if (plan.dropped_leading_b) set_closed_gop(o.data(), out->pics[0], 1);
  out->fields = fields;
  copied_ += kept;
  return true;
}

void Recorder::fix_parity(Pending* next) {
  if (progressive_seq_ || !out_seq_.mpeg2 || !pending_ || field_order_ != 0) return;
  const int before = total_fields_ - (next ? next->fields : 0);
  int want_tff;
  if (next) {
    want_tff = parity_tff_ ^ (before & 1);
    if (next->first_tff == want_tff) return;
  } else if ((total_fields_ & 1) == 0) {
    return;
  }
  // One field more or less on the held GOP's last picture shown.
  Pending& p = *pending_;
  if (update_field_count(p.bytes.data(), int(p.bytes.size()), 0, 0)) {
    --p.fields;
    --total_fields_;
  } else if (update_field_count(p.bytes.data(), int(p.bytes.size()), 0, 1)) {
    ++p.fields;
    ++total_fields_;
  } else if (adjust_field_count(p.bytes.data(), int(p.bytes.size()), 0, int(p.pics.size()), 1, 1) == 1) {
    // A re-encoded run shows its last picture three fields: the field of
    // the source picture the copy after it starts behind.
    ++p.fields;
    ++total_fields_;
  } else {
    ++warnings_;
  }
}

int Recorder::write_gop_output(Save* save, int stream_id) {
  if (!pending_ || !save) return 0;
  if (stream_id < 0xE0 || stream_id > 0xEF) stream_id = 0xE0;
  Pending& p = *pending_;
  uint8_t* d = p.bytes.data();
  const int n = int(p.bytes.size());
  if (field_order_ != 0 && out_seq_.mpeg2 && !progressive_seq_)
    for (int at : p.pics) utils_set_top_field_first(d + at, n - at, field_order_ == 1 ? 1 : 0);
  const int head = p.pics.empty() ? n : p.pics[0];
  bool ok = true;
  if (head > 0) ok = save->save_vbs(d, 0, head, stream_id) == head;
  for (size_t k = 0; ok && k < p.pics.size(); ++k) {
    const int s = p.pics[k], e = k + 1 < p.pics.size() ? p.pics[k + 1] : n;
    ok = save->save_vbs(d + s, e - s, 0, stream_id) == e - s;
  }
  save->vbr_flush(0);
  spare_ = std::move(pending_);
  if (!ok || save->failed()) {
    fail("%s", save->write_failure().c_str());
    return 0;
  }
  return 1;
}

int Recorder::flush(Save* save) {
  if (!pending_) return 0;
  if (!failed_) fix_parity(nullptr);
  return write_gop_output(save, out_es_.stream_id);
}

void Recorder::next_clip() {
  if (dtv_) {
    decoded_done_ += dtv_->get_decode_count();
    dtv_.reset();
  }
  pieces_.clear();
  piece_ = 0;
  planner_.reset();
  clip_ = clip_->next;
  ++clip_index_;
  clip_started_ = false;
  if (!clip_) at_end_ = true;
}

int Recorder::recode_next_gop(Save* save) {
  if (failed_ || at_end_ || !clip_) return 0;
  const bool clip_start = !clip_started_;
  if (clip_start) {
    if (!open_clip()) return 0;
    const int mode = size_t(clip_index_) < modes_.size() ? modes_[size_t(clip_index_)] : 0;
    gop_ = GOP();
    plan_current_clip(mode);
    if (copy_only_) {
      pieces_ = split_runs_at_gops(gops_list_.get(), pieces_);
      wanted_fields_ += 2 * output_frames_of(clip_, size_t(clip_index_));
    }
    start_scene_stats();
    const bool any = more_pieces();
    if (!any && clip_->count <= clip_->transition_length) {
      // A clip shown wholly inside the transition into it.
      next_clip();
      return 1;
    }
    if (!any) {
      fail("clip %d frame %d: no GOP holds the frame", clip_index_, clip_->start);
      return 0;
    }
    clip_started_ = true;
    if (clip_index_ > 0) {
      joins_.push_back(SaveJoin{output_frame_, since_copy_});
      join_open_ = true;
    }
  }
  if (!more_pieces()) {
    // The source ended before the clip did (a damaged or cut file).
    ++warnings_;
    trace("ERROR (recode_next_gop): incomplete copy of a clip\n");
    if (copy_only_) end_clip_fields();
    next_clip();
    return 1;
  }
  ClipPiece p = pieces_[piece_++];
  const int before = total_fields_;
  int lead = 0, trail = 0;
  if (!p.copy) {
    if (clip_start) copy_end_field_ = recode_end_field_ = -1;
    // The piece after a run is planned with it.
    const ClipPiece* next = more_pieces() ? &pieces_[piece_] : nullptr;
    pulldown_edges(&p, next, &lead, &trail);
  }
  bool ok = p.copy ? copy_piece(save, p, clip_start) : recode_piece(save, p, lead, trail);
  if (!ok) return 0;
  if (p.copy && !more_pieces() && copy_end_field_ == 2 * p.last + 1) {
    // The copy ends on the first field of the clip's last frame: its last
    // picture gives up its repeated field and the frame is re-encoded.
    ClipPiece end;
    end.first = p.last + 1;
    end.last = p.last;
    pulldown_edges(&end, nullptr, &lead, &trail);
    if (end.first <= end.last && !lead && !recode_piece(save, end, 0, 0)) return 0;
  }
  if (!more_pieces()) {
    if (p.last < clip_->end_frame()) {
      ++warnings_;
      trace("ERROR (recode_next_gop): incomplete copy of a clip\n");
    }
    if (copy_only_) end_clip_fields();
    next_clip();
  }
  const int fields = total_fields_ - before;
  return fields > 0 ? fields : 1;
}
