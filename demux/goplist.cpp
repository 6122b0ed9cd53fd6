#include "demux/goplist.h"

#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "demux/demuxer_cache.h"
#include "foundation/probe.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

bool holds(const LGOP* r, int n) { return r && r->first_frame() <= n && n < r->end_frame(); }

}  // namespace

GOPList::GOPList() = default;

GOPList::GOPList(const char* file_name, int stream_id, int pid) { open(file_name, stream_id, pid); }

GOPList::~GOPList() { clear_records(); }

void GOPList::clear_records() {
  LGOP* r = first_;
  while (r) {
    LGOP* next = r->next;
    delete r;
    r = next;
  }
  first_ = last_ = curr_ = nullptr;
}

double GOPList::get_frame_rate() const {
  double fr = s_.seqhdr.get_frame_rate();
  return fr > 0 ? fr : 30000.0 / 1001.0;
}

int GOPList::open(const char* name, int stream_id, int pid) {
  s_.stream_id = stream_id;
  s_.pid = pid;
  int bit_rate = 0;
  // The demultiplexer cache probes the real path: probing that name too
  // reads the file once.
  std::unique_ptr<char, decltype(&std::free)> real(name ? realpath(name, nullptr) : nullptr, &std::free);
  const char* probed = real ? real.get() : name;
  s_.stream_type = probed ? mpegfile_get_stream_type_and_bit_rate(probed, &bit_rate) : 0;
  if (s_.stream_type < 2 || s_.stream_type > 8) {
    trace("GOPList::ctor (): only processing MPEG Video and System streams\n");
    return 1;
  }
  demuxer_.reset(demuxer_create(name, 0));
  if (!demuxer_) return 1;
  if (s_.stream_id) {
    demuxer_->select_video_es(s_.stream_id, s_.pid);
  } else {
    s_.stream_id = demuxer_->get_video_selection(&s_.pid);
  }
  SeqHdr* s = demuxer_->find_video_header(s_.stream_id, s_.pid);
  if (!s || s->invalid) {
    demuxer_.reset();
    return 1;
  }
  s_.seqhdr = *s;
  const double fr = get_frame_rate();
  s_.frame_period = 1.0 / fr;
  s_.field_period = 90000.0 / (2 * fr);
  s_.recorded_size = demuxer_->get_file_size();
  const char* ext = utils_get_extension(name);
  s_.vob = ext && strcasecmp(ext, "vob") == 0;
  return 0;
}

int GOPList::build_index() {
  if (!demuxer_) return 1;
  demuxer_->get_bit_rate();
  scratch_ = std::make_unique<GOP>();
  scratch_->pid = s_.pid;
  demuxer_->set_audio_start_flag(1);
  demuxer_->goto_offset(FileOffset(0u));
  ++parse_count_;
  int n = demuxer_->parse_gop(scratch_.get(), s_.stream_id, 0, 0);
  demuxer_->set_audio_start_flag(0);
  if (n <= 0) return 1;
  add_extra_fields(scratch_.get());
  if (scratch_->pic_count > 0 && scratch_->data) {
    const int at = start_code_find(scratch_->data, scratch_->valid_bytes(), 0xB8, 4);
    s_.gop_hdr.set_frame_rate_code(s_.seqhdr.get_frame_rate_code());
    if (at >= 0) (void)s_.gop_hdr.decode(scratch_->data + at, scratch_->valid_bytes() - at);
  }
  if (scratch_->has_pts()) ++s_.pts_gops;
  if (scratch_->pic_count > s_.gop_size) {
    s_.gop_size = scratch_->pic_count;
    measure_sub_gop(scratch_.get());
  }
  add_gop(scratch_.get());

  const GOP* tail = demuxer_->get_last_gop_record();
  bool tail_used = false;
  if (tail && tail->total_fields > 0 && tail->pic_count > 0 && !tail->start.equals(first_->start)) {
    GOP t;
    t = *tail;
    add_gop(&t);
    add_extra_fields(&t);
    if (t.has_pts() && demuxer_->get_audio_start_flag()) ++s_.pts_gops;
    tail_used = true;
  }
  if (!tail_used && !init(nullptr)) last_ = last_ ? last_ : first_;
  if (s_.vob) fix_vob_field_numbers();
  if (s_.stream_type >= 4 && s_.stream_type <= 8) check_last_seqhdr();
  curr_ = first_;
  demuxer_->goto_offset(FileOffset(0u));
  if (demuxer_->get_audio_start_flag() && s_.pts_gops > 0) check_time_code_gaps();
  return 0;
}

bool GOPList::parse_at(FileOffset at, GOP* g, int search) {
  demuxer_->goto_offset(at);
  return parse_next_gop(g, search) > 0;
}

int GOPList::init(GOP* g) {
  if (!demuxer_ || !first_) return 0;
  if (!g) g = scratch_.get();
  const FileOffset end_data = demuxer_->get_end_of_data();
  if (last_ && last_->end.greater_or_equal(end_data)) return 1;
  FileOffset end = end_data;
  if (end.less(demuxer_->get_file_size())) {
    trace("Warning (GOPList::init): file_end = %.0f < %.0f = file_size\n", end.to_double(),
          demuxer_->get_file_size().to_double());
    if (s_.stream_type == 8) end = demuxer_->get_file_size();
  }
  LGOP* keep = curr_;
  int64_t step = demuxer_->get_gop_bytes_estimate();
  const int64_t floor_off = int64_t(first_->end.value());
  int64_t start = int64_t(end.value()) - (3 * step) / 4;
  if (start < floor_off) start = floor_off;
  bool found = false;
  int failures = 0;
  while (true) {
    if (parse_at(FileOffset::from_u64(uint64_t(start)), g, 1)) {
      found = true;
      break;
    }
    if (++failures >= 2) step = (3 * step) / 2;
    int64_t next = start - step / 2;
    if (next < floor_off && start > floor_off) next = floor_off;
    if (start <= floor_off || next < floor_off) break;
    start = next;
  }
  if (!found) {
    curr_ = keep;
    return 0;
  }
  add_extra_fields(g);
  if (g->has_pts() && demuxer_->get_audio_start_flag()) ++s_.pts_gops;
  while (g->pic_count > 0 && g->end.less(end)) {
    const FileOffset before = g->end;
    demuxer_->goto_offset(g->end);
    if (parse_next_gop(g, 0) <= 0) {
      if (!g->end.greater(before)) break;
      continue;
    }
    add_extra_fields(g);
    if (g->has_pts() && demuxer_->get_audio_start_flag()) ++s_.pts_gops;
  }
  if (last_) last_->end = demuxer_->get_file_size();
  curr_ = keep ? keep : first_;
  return 1;
}

void GOPList::measure_sub_gop(const GOP* g) {
  for (int i = 0; i < g->pic_count; ++i) {
    if (g->get_pic_type(i) == 3) continue;
    int j = i + 1;
    while (j < g->pic_count && g->get_pic_type(j) == 3) ++j;
    s_.sub_gop_size = std::max(s_.sub_gop_size, j - i);
  }
}

int GOPList::parse_next_gop(GOP* g, int search) {
  g->pid = s_.pid;
  ++parse_count_;
  parsed_ = nullptr;
  if (demuxer_->parse_gop(g, s_.stream_id, search, 0) <= 0) return 0;
  if (g->data && g->data_valid >= g->byte_length) {
    parsed_ = g;
    parsed_start_ = g->start;
    parsed_length_ = g->byte_length;
  }
  add_gop(g);
  if (g->pic_count > s_.gop_size) {
    s_.gop_size = g->pic_count;
    measure_sub_gop(g);
  }
  return g->pic_count;
}

void GOPList::insert_gop(const LGOP* g) {
  LGOP* r = new LGOP;
  r->copy(g);
  if (!first_) {
    first_ = last_ = curr_ = r;
    return;
  }
  LGOP* at = curr_ ? curr_ : last_;
  r->previous = at;
  r->next = at->next;
  if (at->next) at->next->previous = r;
  at->next = r;
  if (last_ == at) last_ = r;
  curr_ = r;
}

// Keeps field numbers continuous along contiguous records: the rule of a
// forward step, applied to a record met by a walk.
void GOPList::fix_contiguous_fields(const LGOP* prev, LGOP* rec) {
  if (!prev || !rec || !rec->start.equals(prev->end) || demuxer_->get_pts_timing()) return;
  const int expected = prev->first_field + prev->total_fields;
  if (rec->first_field < expected - 1 || rec->first_field > expected) {
    trace("ERROR (add_gop): field offset = %d != %d = prev-gop\n", rec->first_field, expected);
    rec->first_field = expected;
  }
}

int GOPList::add_gop(GOP* g) {
  if (curr_ && g->start.equals(curr_->start) && g->end.equals(curr_->end)) return 0;
  if (!first_ && s_.base_field < 0) {
    s_.base_field = g->first_field;
    s_.base_pts = g->pts;
  }
  g->first_field -= s_.base_field;
  if (g->pts > kNoTime && s_.base_pts > kNoTime) g->pts -= s_.base_pts;
  const double fr = get_frame_rate();
  const bool forward = curr_ && g->start.equals(curr_->end);
  if (forward) {
    const int expected = curr_->first_field + curr_->total_fields;
    if (g->first_field < expected - 1 || (g->first_field > expected && !demuxer_->get_pts_timing())) {
      trace("ERROR (add_gop): field offset = %d != %d = prev-gop\n", g->first_field, expected);
      g->first_field = expected;
    }
    if (g->pts > kNoTime && !demuxer_->get_pts_timing()) {
      const double ep = curr_->pts + ((curr_->total_fields + 1) >> 1) * 90000.0 / fr;
      if (g->pts < ep) {
        trace("ERROR (add_gop): PTS offset = %.f != %.f = prev-gop\n", g->pts, ep);
        g->pts = ep;
      }
    }
  } else if (g->first_field < 0 && demuxer_->is_elementary() && demuxer_->timecodes_inconsistent()) {
    g->first_field = demuxer_->offset_to_field(g->start);
  }
  if (s_.vob && g->pts > kNoTime && vob_field_mismatch(g)) ++s_.vob_mismatches;
  if (forward) {
    LGOP* succ = curr_->next;
    if (succ && succ->start.equals(curr_->end) && succ->end.greater_or_equal(g->end)) {
      fix_contiguous_fields(curr_, succ);
      curr_ = succ;
      return 0;
    }
  } else if (first_) {
    // Place the GOP: move the cursor to the record it follows.
    if (!curr_) curr_ = first_;
    while (curr_->previous && g->compare(*curr_) < 0) curr_ = curr_->previous;
    while (curr_->next && curr_->next->compare(*g) <= 0) curr_ = curr_->next;
    LGOP* rec = curr_;
    if (rec->start.less(g->end) && g->start.less(rec->end)) {
      LGOP* pred = rec->previous;
      LGOP* succ = rec->next;
      const bool at_pred = pred && g->start.equals(pred->end) && !g->start.equals(rec->start);
      const bool at_succ = succ && g->end.equals(succ->start) && !g->end.equals(rec->end);
      if (at_pred || at_succ) {
        if (pred && pred->end.equals(rec->start)) pred->end = g->start;
        if (succ && succ->start.equals(rec->end)) g->end = succ->start;
        rec->copy(g);
        return 0;
      }
      if (g->start.less_or_equal(rec->start) && g->end.greater_or_equal(rec->end)) {
        g->start = rec->start;
        rec->copy(g);
        return 0;
      }
      if (g->end.less(rec->end)) {
        // The GOP ends inside the record: does the record really start there?
        GOP probe;
        const FileOffset keep = demuxer_->current_offset();
        demuxer_->goto_offset(g->end);
        ++parse_count_;
        demuxer_->parse_gop(&probe, s_.stream_id, 0, 0);
        demuxer_->goto_offset(keep);
        if (probe.pic_count == rec->pic_count && probe.byte_length == rec->byte_length) {
          rec->start = g->end;
          curr_ = rec->previous ? rec->previous : rec;
        } else {
          rec->copy(g);
          return 0;
        }
      } else {
        rec->copy(g);
        return 0;
      }
    }
    if (!demuxer_->get_pts_timing() && curr_) {
      const int lo = curr_->first_field + curr_->total_fields;
      LGOP* succ = curr_->next;
      const bool before_first = g->compare(*curr_) < 0;  // goes in front of the first record
      if (!before_first) {
        const int hi = succ ? succ->first_field - g->total_fields : INT32_MAX;
        if (g->first_field < lo || g->first_field > hi) {
          trace("GOPList::add_gop (field-offset): gop = %d, prev = %d, next = %d\n", g->first_field, lo,
                succ ? succ->first_field : -1);
          const uint64_t gap_prev = g->start.value() - std::min(g->start.value(), curr_->end.value());
          const uint64_t gap_next = succ ? succ->start.value() - std::min(succ->start.value(), g->end.value()) : 0;
          g->first_field = (!succ || gap_prev <= gap_next) ? lo : hi;
        }
      }
    }
  }
  // Insertion after the cursor (in front of the first record when it sorts
  // before it).
  if (first_ && curr_ == first_ && g->compare(*first_) < 0) {
    LGOP* r = new LGOP;
    r->copy(g);
    r->next = first_;
    first_->previous = r;
    first_ = r;
    curr_ = r;
  } else {
    insert_gop(g);
  }
  // Absorb a small gap (a repeated sequence header) into the later record.
  if (s_.stream_type == 2 || s_.stream_type == 3) {
    const uint64_t small = uint64_t(std::max(s_.seqhdr.coded_capacity, 0)) + 8;
    LGOP* r = curr_;
    if (r->previous && r->start.greater(r->previous->end) && r->start.value() - r->previous->end.value() <= small) {
      const int gap = int(r->start.value() - r->previous->end.value());
      r->start = r->previous->end;
      r->add_header_bytes(gap);
    }
    if (r->next && r->next->start.greater(r->end) && r->next->start.value() - r->end.value() <= small) {
      const int gap = int(r->next->start.value() - r->end.value());
      r->next->start = r->end;
      r->next->add_header_bytes(gap);
    }
  }
  ++s_.records_added;
  return 1;
}

int GOPList::copy_gop(GOP* g, int read) {
  if (!curr_) return 0;
  if (!g) g = scratch_.get();
  const bool fresh = parsed_ == g && parsed_start_.equals(curr_->start) && parsed_length_ == curr_->byte_length &&
                     g->data_valid >= parsed_length_;
  const int valid = g->data_valid;
  parsed_ = nullptr;
  if (g != curr_) {
    *g = *static_cast<const LGOP*>(curr_);
  }
  if (read && fresh) {
    // The parse left exactly this GOP's bytes in g, as a read would give
    // them (its end stays where the parse put it, behind the GOP).
    g->data_valid = valid;
    return g->pic_count;
  }
  if (read && demuxer_) {
    ++rereads_;
    // Field numbers and PTS of the record stay as the index keeps them.
    const int ff = g->first_field;
    const double pts = g->pts;
    demuxer_->read_gop(g, s_.stream_id, read == 2);
    g->first_field = ff;
    g->pts = pts;
  }
  return g->pic_count;
}

int GOPList::get_first_gop(GOP* g, int read) {
  if (!first_) return 0;
  curr_ = first_;
  return copy_gop(g, read);
}

int GOPList::get_last_gop(GOP* g, int read) {
  if (!last_) return 0;
  curr_ = last_;
  return copy_gop(g, read);
}

int GOPList::get_gop(int n, GOP* g, int read, int mode) {
  if (!first_) {
    trace("ERROR (GOPList::get_gop): gop_start=nil\n");
    return 0;
  }
  if (!g) g = scratch_.get();
  if (n > last_->first_frame() && last_->end.less(s_.recorded_size)) init(nullptr);
  if (n < first_->end_frame()) {
    get_first_gop(g, read);
  } else if (n >= last_->first_frame()) {
    if (last_->end.equals(s_.recorded_size))
      get_last_gop(g, read);
    else
      goto_gop(n, g, read, mode);
  } else {
    if (!curr_) curr_ = first_;
    while (curr_->next && n >= curr_->end_frame()) {
      curr_ = curr_->next;
      if (n < curr_->first_frame()) break;
    }
    while (curr_->previous && n < curr_->first_frame()) {
      curr_ = curr_->previous;
      if (n >= curr_->end_frame()) break;
    }
    if (holds(curr_, n) && curr_->pic_count > 0)
      copy_gop(g, read);
    else
      goto_gop(n, g, read, mode);
  }
  return g->first_frame();
}

int GOPList::goto_gop(int n, GOP* g, int read, int mode) {
  if (!first_ || !demuxer_) return 0;
  if (!g) g = scratch_.get();
  // Bracket n between the records around its gap.
  if (!curr_) curr_ = first_;
  while (curr_->previous && n < curr_->first_frame()) curr_ = curr_->previous;
  while (curr_->next && n >= curr_->next->first_frame()) curr_ = curr_->next;
  LGOP* lower = curr_;
  LGOP* upper = curr_->next ? curr_->next : last_;
  uint64_t lo_off = lower->end.value(), hi_off = upper->start.value();
  int lo_frame = lower->end_frame(), hi_frame = upper->first_frame();
  if (n < first_->first_frame()) {
    lo_off = first_->start.value();
    lo_frame = first_->first_frame();
  }
  if (hi_off < lo_off) hi_off = lo_off;
  const double fr = get_frame_rate();
  const int min_span = std::max(int(fr + 0.5) / 2, s_.gop_size);
  const double est = demuxer_->get_gop_bytes_estimate();
  bool found = false, parsed_any = false;
  int below = n - lo_frame, above = hi_frame - n;
  if (mode == 0) {
    const double frame_span = std::max(hi_frame - lo_frame, min_span);
    const double byte_span = double(hi_off - lo_off);
    double target = below < above ? lo_off + below / frame_span * byte_span : hi_off - above / frame_span * byte_span;
    target -= est / 3;
    if (target < double(lo_off)) target = double(lo_off);
    if (parse_at(FileOffset::from_u64(uint64_t(target)), g, 1)) {
      parsed_any = true;
      found = holds(g, n) || holds(curr_, n);
      // The GOP found is the nearer bound now: the walk that finishes the
      // search starts from whichever side is closer to it.
      if (g->first_frame() > n)
        above = g->first_frame() - n;
      else
        below = n - g->end_frame();
    }
  } else {
    double prev_target = -1;
    for (int round = 0; round < 64; ++round) {
      const double byte_span = double(hi_off - lo_off);
      double target = below < above ? lo_off + 0.382 * byte_span : hi_off - 0.382 * byte_span;
      target = std::floor(target);
      if (target == prev_target) break;
      prev_target = target;
      if (!parse_at(FileOffset::from_u64(uint64_t(target)), g, 1)) break;
      parsed_any = true;
      if (holds(g, n)) {
        found = true;
        break;
      }
      if (g->first_frame() > n) {
        hi_off = g->start.value();
        hi_frame = g->first_frame();
      } else {
        lo_off = g->end.value();
        lo_frame = g->end_frame();
      }
      below = n - lo_frame;
      above = hi_frame - n;
      const int frame_span = hi_frame - lo_frame;
      if (!(std::min(below, above) > int(fr + 0.5) && frame_span > min_span && lo_off < hi_off)) break;
    }
  }
  if (found) {
    if (!holds(g, n) && holds(curr_, n)) copy_gop(g, 0);
  } else if (parsed_any) {
    // Finish with a short walk from the nearer side.
    const bool after = g->first_frame() > n;
    if (after) {
      if (below < above) {
        while (curr_ && curr_->previous && curr_->first_frame() > n) curr_ = curr_->previous;
        scan_linear(n, g, 0, true);
      } else {
        scan_linear(n, g, 0, false);
      }
    } else {
      if (above < below) {
        while (curr_ && curr_->next && curr_->end_frame() <= n) curr_ = curr_->next;
        scan_linear(n, g, 0, false);
      } else {
        scan_linear(n, g, 0, true);
      }
    }
  } else {
    // Nothing parsed: walk forward from the record before the gap.
    curr_ = lower;
    scan_linear(n, g, 0, true);
  }
  if (holds(curr_, n)) {
    copy_gop(g, read);
  } else {
    trace("GOPList::goto_gop (): search faild for frame_offset=%d\n", n);
    if (read) copy_gop(g, read);
  }
  return g->pic_count;
}

int GOPList::scan_linear(int n, GOP* g, int read, bool forward) {
  int guard = 0;
  if (forward) {
    while (curr_ && !holds(curr_, n) && curr_->end_frame() <= n && guard++ < 100000) {
      const LGOP* before = curr_;
      if (next_gop(g, read) <= 0 || curr_ == before) break;
    }
  } else {
    while (curr_ && !holds(curr_, n) && curr_->first_frame() > n && guard++ < 100000) {
      const LGOP* before = curr_;
      if (prev_gop(g, read) <= 0 || curr_ == before) break;
    }
  }
  return holds(curr_, n) ? 1 : 0;
}

int GOPList::next_gop(GOP* g, int read) {
  if (!curr_ || !demuxer_) return 0;
  if (!g) g = scratch_.get();
  if (curr_ == last_ && curr_->end.greater_or_equal(s_.recorded_size)) {
    if (append_new_gops() && curr_->next) {
      curr_ = curr_->next;
      return copy_gop(g, read);
    }
    if (curr_->equals(*g) != 0) copy_gop(g, 0);
    return 0;
  }
  LGOP* nx = curr_->next;
  if (nx && nx->start.equals(curr_->end) && nx->is_contiguous_with(*curr_, get_frame_rate())) {
    fix_contiguous_fields(curr_, nx);
    curr_ = nx;
    return copy_gop(g, read);
  }
  const FileOffset at = curr_->end;
  if (curr_->is_empty())
    trace("Parser::set_last_gop_offset (): bs=%.0f, vbs=%d\n", curr_->start.to_double(),
          curr_->vbs_offset + curr_->byte_length);
  int guard = 0;
  FileOffset pos = at;
  while (guard++ < 1000) {
    demuxer_->goto_offset(pos);
    if (parse_next_gop(g, 0) > 0) return copy_gop(g, read);
    // A stretch without pictures: resume behind it.
    if (!g->end.greater(pos) || g->end.greater_or_equal(demuxer_->get_end_of_data())) break;
    pos = g->end;
  }
  return 0;
}

int GOPList::prev_gop(GOP* g, int read) {
  if (!curr_ || !demuxer_) return 0;
  if (!g) g = scratch_.get();
  LGOP* pv = curr_->previous;
  if (!pv) {
    g->reset_info();
    return 0;
  }
  if (pv->end.equals(curr_->start)) {
    curr_ = pv;
    return copy_gop(g, read);
  }
  LGOP* target = curr_;
  const int64_t step = std::max<int64_t>((3 * int64_t(demuxer_->get_gop_bytes_estimate())) / 4, 4096);
  int64_t pos = int64_t(target->start.value());
  const int64_t floor_off = int64_t(pv->end.value());
  bool got = false;
  while (pos > floor_off) {
    pos = std::max(pos - step, floor_off);
    if (parse_at(FileOffset::from_u64(uint64_t(pos)), g, 1) && !g->start.equals(target->start)) {
      got = true;
      break;
    }
  }
  if (!got) {
    curr_ = pv;
    return copy_gop(g, read);
  }
  // Walk forward to the record we came from, filling the gap.
  int guard = 0;
  while (g->end.less(target->start) && guard++ < 100000) {
    demuxer_->goto_offset(g->end);
    if (parse_next_gop(g, 0) <= 0) break;
  }
  // The record before the one we came from is now known.
  curr_ = target->previous ? target->previous : target;
  return copy_gop(g, read);
}

bool GOPList::check_file_size() {
  if (!demuxer_) return false;
  demuxer_->update_file_size();
  return !demuxer_->get_file_size().equals(s_.recorded_size);
}

int GOPList::append_new_gops() {
  if (!check_file_size() || !last_) return 0;
  s_.recorded_size = demuxer_->get_file_size();
  LGOP* keep = curr_;
  const int before = last_->pic_count;
  int pictures = 0;
  GOP* g = scratch_.get();
  curr_ = last_;
  if (parse_at(last_->start, g, 1)) {
    pictures += g->pic_count;
    while (g->end.less(demuxer_->get_end_of_data())) {
      demuxer_->goto_offset(g->end);
      if (parse_next_gop(g, 0) <= 0) break;
      pictures += g->pic_count;
      add_extra_fields(g);
      s_.last_gop_frames = g->frames();
    }
  }
  curr_ = keep;
  return pictures > before ? 1 : 0;
}

int GOPList::get_total_frames() {
  if (!last_) {
    trace("ERROR (GOPList::get_total_frames): gop_end=nil\n");
    return 0;
  }
  if (last_->end.less(s_.recorded_size))
    init(nullptr);
  else if (demuxer_)
    append_new_gops();
  // The end frame of the last record: adding its rounded frame count to its
  // rounded first frame would count a half frame twice when both are odd.
  return s_.last_gop_frames ? last_->first_frame() + s_.last_gop_frames : last_->end_frame();
}

int GOPList::get_next_gop_frame_offset() {
  if (!curr_) return 0;
  if (!curr_->next) return curr_->end_frame();
  if (!curr_->next->start.equals(curr_->end)) return curr_->end_frame() + 1;
  return curr_->next->get_pic_stream_frame(0);
}

int GOPList::get_prev_gop_frame_offset() {
  if (!curr_) return 0;
  if (!curr_->previous) return curr_->first_frame() - 1;
  if (!curr_->previous->end.equals(curr_->start)) return curr_->first_frame() - curr_->frames() + 1;
  return curr_->previous->get_pic_stream_frame(0);
}

bool GOPList::is_start_gop(const GOP* g) {
  if (!curr_) {
    trace("ERROR (GOPList::is_start_gop): gop_curr=nil\n");
    return true;
  }
  if (curr_ != first_) return false;
  return !g || g->start.equals(first_->start);
}

bool GOPList::is_end_gop(const GOP* g) {
  if (!last_) return true;
  if (!last_->end.equals(s_.recorded_size) && !(demuxer_ && last_->end.equals(demuxer_->get_end_of_data())))
    return false;
  if (g) return g->start.equals(last_->start) && g->end.equals(s_.recorded_size);
  return curr_ == last_ && last_->end.equals(s_.recorded_size);
}

bool GOPList::is_curr_gop(const GOP* g) {
  return g && curr_ && g->start.equals(curr_->start) && g->end.equals(curr_->end);
}

int GOPList::get_gop_size() {
  if (s_.gop_size <= 0) s_.gop_size = int(get_frame_rate() * 0.5);
  return s_.gop_size;
}

int GOPList::get_sub_gop_size() {
  if (s_.sub_gop_size <= 0) s_.sub_gop_size = 3;
  return s_.sub_gop_size;
}

ESData* GOPList::get_es_data() {
  if (!demuxer_) return nullptr;
  int count = 0;
  ESData* r = demuxer_->get_es_data(&count);
  for (int i = 0; r && i < count; ++i)
    if (r[i].stream_id == s_.stream_id && (r[i].pid == 0 || r[i].pid == s_.pid || s_.pid == 0)) return &r[i];
  return nullptr;
}

bool GOPList::vob_field_mismatch(const LGOP* g) const {
  if (!g || g->pts <= kNoTime) return false;
  const int by_pts = int(get_frame_rate() * g->pts * 2 / 90000.0 + 0.5);
  return std::abs(g->first_field - by_pts) > 1;
}

LGOP* GOPList::find_field_jump() const {
  for (LGOP* r = first_; r && r->next; r = r->next) {
    const LGOP* n = r->next;
    if (n->start.equals(r->end) && n->first_field > r->first_field + r->total_fields + 30) return r->next;
  }
  return nullptr;
}

void GOPList::fix_vob_field_numbers() {
  if (!demuxer_ || !first_ || !last_ || !scratch_) return;
  // A few GOPs from the middle make the estimate below less of a guess.
  demuxer_->goto_offset(FileOffset::from_u64(s_.recorded_size.value() / 2));
  for (int k = 0; k < 5; ++k) {
    if (parse_next_gop(scratch_.get(), 1) <= 0 || scratch_->start.greater_or_equal(last_->start)) break;
    add_extra_fields(scratch_.get());
    if (scratch_->has_pts()) ++s_.pts_gops;
  }
  double bytes = 0, fields = 0;
  for (const LGOP* r = first_; r; r = r->next) {
    bytes += double(r->end.value() - std::min(r->start.value(), r->end.value()));
    fields += r->total_fields;
  }
  if (bytes <= 0) return;
  const double estimate = fields * s_.recorded_size.to_double() / bytes;
  const double end_field = last_->first_field + last_->total_fields;
  if (end_field < 2 * estimate && end_field > estimate / 2) return;
  LGOP* jump = find_field_jump();
  if (!jump) {
    // Read on from the first gap in the index until the jump shows, or half
    // the file has gone by.
    const LGOP* from = first_;
    while (from->next && from->next->start.equals(from->end)) from = from->next;
    demuxer_->goto_offset(from->end);
    const uint64_t limit = s_.recorded_size.value() / 2;
    uint64_t read = 0;
    // Checked before each step: reading the GOP in front of a known record
    // mends that record alone, and the jump would go unseen for the rest.
    while (!(jump = find_field_jump()) && read < limit && parse_next_gop(scratch_.get(), 0) > 0) {
      read += uint64_t(std::max(scratch_->byte_length, 1));
      if (scratch_->end.greater_or_equal(s_.recorded_size)) break;
    }
  }
  if (!jump) return;
  int running = 0, size = 0;
  for (LGOP* r = first_; r; r = r->next) {
    if (r == jump) size = r->first_field - running;
    if (size)
      r->first_field -= size;
    else
      r->first_field = running;
    running += r->total_fields;
  }
  trace("GOPList::fix_vob_field_numbers (): field numbers lowered by %d from offset %.0f\n", size,
        jump->start.to_double());
  s_.base_field = size;
}

void GOPList::check_last_seqhdr() {
  if (!demuxer_ || !last_ || !scratch_) return;
  s_.last_seqhdr_agrees = 1;
  LGOP* keep = curr_;
  const int rereads = rereads_;  // the index's own read: no caller's cost
  const bool read = get_last_gop(scratch_.get(), 1) > 0 && scratch_->data && scratch_->valid_bytes() > 0;
  curr_ = keep;
  rereads_ = rereads;
  if (!read) return;
  // A last GOP without a sequence header of its own tells nothing.
  const int at = start_code_find(scratch_->data, std::min(scratch_->valid_bytes(), 4096), 0xB3, 4);
  if (at < 0) return;
  SeqHdr h;
  VideoInfo info, first;
  if (h.decode(scratch_->data + at, scratch_->valid_bytes() - at) <= 0 || h.get_video_info(&info) != 0 ||
      s_.seqhdr.get_video_info(&first) != 0 || utils_same_video_info(info, first) != 0)
    s_.last_seqhdr_agrees = 0;
}

void GOPList::update_video_info() {
  if (!demuxer_) return;
  s_.video_info = demuxer_->get_video_info();
  s_.video_info.extra_fields = s_.extra_fields;
}

int GOPList::check_time_code_gaps() {
  if (s_.pts_gops <= 0 || !first_ || !last_ || first_ == last_ || !demuxer_) return s_.tc_gap;
  if (demuxer_->get_pts_timing() || demuxer_->needs_time_fix()) return s_.tc_gap;
  const double fr = get_frame_rate();
  const int tc_frames = tc25_to_frame(last_->time_code, fr) - tc25_to_frame(first_->time_code, fr);
  const int pts_frames = int((last_->pts + 0.5 - first_->pts) / (2 * s_.field_period));
  // Zero or equal time codes: any stretch of time stamps is a gap.
  if (tc_frames <= 0)
    s_.tc_gap = pts_frames > 0 ? 1 : 0;
  else
    s_.tc_gap = pts_frames > tc_frames && double(pts_frames - tc_frames) / tc_frames >= 0.1 ? 1 : 0;
  return s_.tc_gap;
}

int GOPList::copy_list(const GOPList& other) {
  if (copy_records(other)) return 1;
  return open_demuxer(other.demuxer_->get_file_name());
}

int GOPList::copy_records(const GOPList& other) {
  if (demuxer_) {
    trace("ERROR (GOPList::copy_list): _parser != nil\n");
    demuxer_.reset();
  }
  clear_records();
  if (!other.demuxer_) return 1;
  // The stream facts copy whole; the records are linked anew.
  s_ = other.s_;
  scratch_ = std::make_unique<GOP>();
  scratch_->pid = s_.pid;
  curr_ = nullptr;
  for (const LGOP* r = other.first_; r; r = r->next) {
    curr_ = last_;
    insert_gop(r);
  }
  curr_ = first_;
  return 0;
}

int GOPList::open_demuxer(const char* file_name) {
  demuxer_.reset(demuxer_create(file_name, 0));
  if (!demuxer_) {
    clear_records();
    return 1;
  }
  if (s_.stream_id) demuxer_->select_video_es(s_.stream_id, s_.pid);
  return 0;
}

int GOPList::update_list(const GOPList& other) {
  if (!first_ || !other.first_) {
    trace("ERROR (GOPList::update_list): goplist=nil\n");
    return 0;
  }
  if (first_->compare(*other.first_) != 0) {
    trace("GOPList::update_list (): 1st item differs\n");
    return 0;
  }
  int inserted = 0;
  LGOP* keep = curr_;
  LGOP* mine = first_;
  for (const LGOP* r = other.first_; r; r = r->next) {
    while (mine->next && mine->next->compare(*r) <= 0) mine = mine->next;
    if (mine->compare(*r) == 0) continue;  // known (or overlapping) record
    curr_ = mine;
    insert_gop(r);
    mine = curr_;
    ++inserted;
  }
  curr_ = keep;
  if (inserted) {
    s_.gop_size = other.s_.gop_size;
    s_.sub_gop_size = other.s_.sub_gop_size;
  }
  return inserted;
}
