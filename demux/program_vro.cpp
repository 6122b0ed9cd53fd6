// Recorder files and joined recordings: places where the system clock
// falls back (a new recording behind the old one) found by a search over
// the pack clocks, each stretch measured by its video, and the time deltas
// that make the time stamps rise across the joins.
#include <algorithm>
#include <cmath>
#include <utility>

#include "demux/program.h"
#include "foundation/trace.h"

namespace {

uint64_t sector_floor(uint64_t v) { return v & ~uint64_t(2047); }

}  // namespace

double DeMuxerProgram::scan_packs(FileOffset limit, int first_only, FileOffset* at) {
  double scr = -1.0;
  const int keep_stop = stop_at_limit_;
  stop_at_limit_ = 0;
  int packets = 0;
  do {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound)) break;
    ++packets;
    if ((r & kPackBefore) && pkt_.scr >= 0) {
      scr = pkt_.scr;
      if (at) *at = pkt_.packet_offset;
      if (first_only) break;
    }
    if (r & kHeaderError) {
      step_past_header_error("ps_scan_packs");
      continue;
    }
    if (!skip_packet()) break;
  } while (current_offset().less(limit) && packets < 100000);
  stop_at_limit_ = keep_stop;
  return scr;
}

// Narrows [a, b] around one fall of the clock (scr_a above scr_b) down to
// neighbouring packs: before the fall the clock runs on from scr_a, behind
// it the clock is lower. False when a probe found no pack.
bool DeMuxerProgram::narrow_fall(FileOffset* a, double* scr_a, FileOffset* b, double* scr_b, uint64_t step) {
  while (b->value() > a->value() + step) {
    const uint64_t probe = a->value() + std::max<uint64_t>(1, uint64_t(0.382 * double(b->value() - a->value())));
    goto_offset(FileOffset::from_u64(probe));
    FileOffset pos;
    const double p = scan_packs(*b, 1, &pos);
    if (p < 0 || !pos.less(*b)) return p >= 0;
    if (p > *scr_a) {
      if (pos.equals(*a)) break;
      *a = pos;
      *scr_a = p;
    } else {
      if (pos.equals(*b)) break;
      *b = pos;
      *scr_b = p;
    }
  }
  return true;
}

double DeMuxerProgram::refine_cutoff(FileOffset a, double scr_a, FileOffset b, double scr_b, FileOffset* out,
                                     double* before) {
  const bool found = narrow_fall(&a, &scr_a, &b, &scr_b, uint64_t(std::max(2048, pkt_.packet_size)));
  *before = scr_a;
  if (scr_b < scr_a) {
    *out = b;
    return scr_b;
  }
  if (!found) return -1.0;
  *out = a;
  return scr_a;
}

double DeMuxerProgram::search_cutoff(FileOffset* start, FileOffset* end, double* x) {
  const int estimate = std::max(get_gop_bytes_estimate(), 4096);
  *start = FileOffset::from_u64(sector_floor(start->value()));
  goto_offset(*start);
  FileOffset a;
  double scr_a = scan_packs(*end, 1, &a);
  if (scr_a < 0) {
    trace("ERROR (PS::search_cutoff): no Pack header found for %.0f bytes\n", current_offset().to_double());
    return -1.0;
  }
  uint64_t b0 = end->value() > uint64_t(estimate / 2) ? end->value() - uint64_t(estimate / 2) : 0;
  b0 = std::max(sector_floor(b0), a.value());
  *end = FileOffset::from_u64(sector_floor(end->value()) > a.value() ? sector_floor(end->value()) : end->value());
  goto_offset(FileOffset::from_u64(b0));
  FileOffset b;
  double scr_b = scan_packs(*end, 0, &b);
  if (scr_b < 0) {
    trace("ERROR (PS::search_cutoff): no Pack header found for %.0f bytes\n", current_offset().to_double());
    return -1.0;
  }
  const double scr_hi = scr_b;
  // No fall: the window's last pack is where the next window starts, so
  // that a fall right behind it is seen there.
  const FileOffset last_pack = b;
  auto no_fall = [&]() {
    *end = last_pack;
    return -1.0;
  };
  // Probes stop at a GOP's bytes, or at a quarter of a window smaller
  // than that (short recordings between falls).
  const uint64_t resolution =
      std::min<uint64_t>(uint64_t(estimate), std::max<uint64_t>(2048, (b.value() - std::min(a.value(), b.value())) / 4));
  if (!(scr_b < scr_a)) {
    for (;;) {
      if (b.value() <= a.value() + resolution) return no_fall();
      const uint64_t probe = sector_floor(a.value() + uint64_t(0.382 * double(b.value() - a.value())));
      goto_offset(FileOffset::from_u64(probe));
      FileOffset pos;
      const double p = scan_packs(b, 1, &pos);
      if (p < 0 || !pos.less(b)) return no_fall();
      if (p < scr_a) {
        b = pos;
        scr_b = p;
        break;
      }
      if (p > scr_hi) {
        a = pos;
        scr_a = p;
        scr_b = scr_hi;
        break;
      }
      if (pos.equals(a)) return no_fall();
      a = pos;
      scr_a = p;
    }
  }
  *x = scr_a;
  FileOffset cut;
  const double r = refine_cutoff(a, scr_a, b, scr_b, &cut, x);
  if (r >= 0) *start = cut;
  return r;
}

double DeMuxerProgram::vro_get_delta(FileOffset from, FileOffset cut, double* x, double fallback) {
  const int estimate = std::max(get_gop_bytes_estimate(), 4096);
  double fr = get_frame_rate();
  if (fr <= 0) fr = 30000.0 / 1001.0;
  const double field = 45000.0 / fr;
  goto_offset(from);
  GOP g;
  if (parse_gop(&g, 0, 0, 0) <= 0 || !g.start.less(cut)) {
    stop_at_limit_ = 0;
    return fallback;
  }
  int k = g.has_pts() ? 1 : 0;
  const double first = k ? g.pts : 0.0;
  const int f0 = (g.first_field + 1) / 2;
  // The last GOP before the cut.
  uint64_t q = cut.value() > uint64_t(estimate) ? sector_floor(cut.value() - uint64_t(estimate)) : from.value();
  q = std::max(q, from.value());
  GOP last;
  int found = 0;
  for (;;) {
    goto_offset(FileOffset::from_u64(q));
    last.end = cut;
    found = parse_gop(&last, 0, 0, 1);
    if (found > 0 || q <= from.value()) break;
    const uint64_t back = uint64_t(std::max(estimate / 2, 2048));
    q = q > from.value() + back ? sector_floor(q - back) : from.value();
  }
  if (found <= 0) {
    stop_at_limit_ = 0;
    return fallback;
  }
  const int fe0 = (last.total_fields + last.first_field + 1) / 2;
  double t = first + (fe0 - f0) * 2 * field;
  if (last.has_pts()) {
    t = last.pts + last.total_fields * field;
    ++k;
  }
  while (last.end.less(cut)) {
    goto_offset(last.end);
    GOP next;
    next.end = cut;
    if (parse_gop(&next, 0, 0, 1) <= 0) break;
    if (next.has_pts() && next.pts < t - field) break;
    if (next.has_pts()) {
      t = next.pts + next.total_fields * field;
      ++k;
    } else {
      t += next.total_fields * field;
    }
    last = next;
  }
  stop_at_limit_ = 0;
  *x = first;
  if (k <= 1) {
    trace("Warning (PS::vro_get_delta): pts_flag = %d\n", k);
    const int fe = (last.total_fields + last.first_field + 1) / 2;
    return (fe - f0) * 90000.0 / fr;
  }
  return t - first;
}

int DeMuxerProgram::scan_vro_segments(int windows) {
  segments_.clear();
  const uint64_t size = src_.size.value();
  const int estimate = std::max(get_gop_bytes_estimate(), 4096);
  int n = windows;
  uint64_t part = size / uint64_t(n);
  if (part < 3 * uint64_t(estimate)) {
    const uint64_t k = size / (3 * uint64_t(estimate));
    if (k < 8) {
      n = 8;
      part = uint64_t(double(size) * 0.125);
    } else {
      n = int(k);
      part = 3 * uint64_t(estimate);
    }
  }
  std::vector<CutoffSegment> found;
  FileOffset s;
  FileOffset p;
  double seg_scr = -1.0;  // clock at the start of the current segment
  goto_offset(FileOffset(0u));
  seg_scr = scan_packs(src_.end_data, 1, nullptr);
  // The table is built aside: no segment delta applies while measuring.
  auto measure = [&](FileOffset from, FileOffset to, double* x, double fallback) {
    return vro_get_delta(from, to, x, fallback);
  };
  // Windows run to the end of the file: one window may hold several falls
  // (each search starts at the last one found), so short recordings are
  // not lost to a count of windows.
  const int max_windows = n + int(size / 2048) + 1;
  for (int w = 0; w < max_windows && s.less(src_.size); ++w) {
    const FileOffset window_end = FileOffset::from_u64(std::min(size, s.value() + part));
    FileOffset end = window_end;
    FileOffset cut = s;
    double before = 0.0;
    const double after = search_cutoff(&cut, &end, &before);
    if (after < 0 || !cut.greater(p)) {
      const FileOffset next = after < 0 && end.greater(s) && end.less(window_end) ? end : window_end;
      s = next.greater(s) ? next : FileOffset::from_u64(s.value() + part);
      continue;
    }
    s = cut;
    // A stretch without measurable video is as long as its clock ran.
    double x = seg_scr >= 0 ? seg_scr : 0.0;
    const double span = seg_scr >= 0 && before > seg_scr ? before - seg_scr : 0.0;
    const double d = measure(p, cut, &x, span);
    CutoffSegment e;
    e.start = p;
    e.start_time = x;
    e.end_time = x + d;
    e.delta = d;
    found.push_back(e);
    p = cut;
    seg_scr = after;
  }
  if (!found.empty()) {
    double x = seg_scr >= 0 ? seg_scr : 0.0;
    goto_offset(src_.size);
    const double d = measure(p, src_.size, &x, 0.0);
    CutoffSegment e;
    e.start = p;
    e.start_time = x;
    e.end_time = x + d;
    e.delta = d;
    found.push_back(e);
  }
  segments_ = std::move(found);
  return int(segments_.size());
}

std::vector<CutoffSegment> richest_fall_scan(int windows, int tries,
                                             const std::function<std::vector<CutoffSegment>(int)>& scan) {
  std::vector<CutoffSegment> best = scan(windows);
  if (best.size() * 2 <= size_t(windows)) return best;
  for (int k = 0; k < tries; ++k) {
    windows *= 2;
    std::vector<CutoffSegment> next = scan(windows);
    if (next.size() <= best.size()) break;
    best = std::move(next);
  }
  return best;
}

void DeMuxerProgram::build_vro_segments() {
  segments_ = richest_fall_scan(32, 4, [this](int windows) {
    scan_vro_segments(windows);
    return segments_;
  });
  if (segments_.empty()) return;
  double running = segments_[0].end_time;
  const double origin = segments_[0].start_time;
  for (size_t i = 1; i < segments_.size(); ++i) {
    segments_[i].delta = running - segments_[i].start_time;
    running += segments_[i].end_time - segments_[i].start_time;
  }
  segments_[0].delta = 0.0;
  m_.total_length = (running - origin) / 90000.0;
  m_.pts_timing = 1;
  for (const CutoffSegment& x : segments_)
    trace("PS::build_vro_segments (): segment at %.0f: %.0f-%.0f delta %.0f\n", x.start.to_double(), x.start_time,
          x.end_time, x.delta);
  goto_offset(FileOffset(0u));
}

int DeMuxerProgram::check_cutoff(int parts) {
  if (parts < 1) {
    trace("ERROR (PS::check_cutoff): n_segment <= 0\n");
    return 0;
  }
  const uint64_t size = src_.size.value();
  uint64_t step = sector_floor(size / (uint64_t(parts) * 2048) * 2048);
  if (step == 0) step = 2048;  // a short file: every sector
  int falls = 0;
  double prev = -1.0;
  for (uint64_t at = 0; at < size; at += step) {
    goto_offset(FileOffset::from_u64(at));
    const double scr = scan_packs(FileOffset::from_u64(std::min(size, at + step)), 1, nullptr);
    if (scr < 0) continue;
    if (prev >= 0 && scr < prev) ++falls;
    prev = scr;
  }
  goto_offset(FileOffset(0u));
  return falls;
}

int DeMuxerProgram::check(FileOffset end) {
  if (!m_.tc_inconsistent && !pts_inconsistent_ && end.value() == 0) return 0;
  const double length = m_.bit_rate_length;
  goto_offset(FileOffset(0u));
  FileOffset lo;
  const double scr_first = scan_packs(src_.end_data, 1, &lo);
  if (scr_first < 0) {
    trace("ERROR (check_timebase): no Pack header found for %.0f bytes\n", current_offset().to_double());
    return 1;
  }
  double scr_lo = scr_first;
  FileOffset hi = end.value() > 0 ? end : m_.last_gop.start;
  goto_offset(hi);
  double scr_hi = scan_packs(src_.end_data, 1, &hi);
  if (scr_hi < 0) {
    trace("ERROR (check_timebase): no Pack header found for %.0f bytes\n", current_offset().to_double());
    return 1;
  }
  if (scr_hi > scr_first && scr_hi > scr_first + length * 22500.0) return 0;
  // Down to neighbouring packs, so no GOP can start between them.
  const bool found = narrow_fall(&lo, &scr_lo, &hi, &scr_hi, 2048);
  vro_delta_ = 0.0;
  if (!found || scr_lo < scr_hi) return 1;
  const double delta = scr_lo - scr_hi;
  if (delta <= 0) return 0;
  GOP& last = m_.last_gop;
  if (last.pts <= kNoTime) return 1;
  // Worked out on copies: a reset that is not usable changes nothing.
  const double moved = last.pts + (scr_lo - scr_first);
  const double d = moved - scr_hi;
  if (length > 0) {
    const double q = d / (length * 90000.0);
    if (q <= 0.5 || q >= 2.0) return 1;
  } else {
    trace("ERROR (PS::check): bsf_length <= 0\n");
  }
  m_.pts_timing = 1;
  double r = get_frame_rate();
  if (r <= 0) {
    trace("ERROR (PS::check): get_frame_rate () <= 0\n");
    r = 30000.0 / 1001.0;
  }
  vro_offset_ = lo;
  // The clocks differ by more than the pictures do: the video behind the
  // join goes on right after the last picture before it.
  const double by_video = join_delta(hi);
  vro_delta_ = by_video > 0 ? by_video : delta;
  if (by_video > 0 && m_.video_start_pts > kNoTime) {
    last.pts += by_video;
    last.first_field = int((last.pts - m_.video_start_pts) / 90000.0 * r * 2 + 0.1);
  } else {
    last.pts = moved;
    last.first_field = int(d / 90000.0 * r * 2 + 0.1);
  }
  return 0;
}

double DeMuxerProgram::join_delta(FileOffset join) {
  const int estimate = std::max(get_gop_bytes_estimate(), 4096);
  double fr = get_frame_rate();
  if (fr <= 0) fr = 30000.0 / 1001.0;
  const double keep = vro_delta_;
  vro_delta_ = 0.0;
  uint64_t from = join.value() > 2 * uint64_t(estimate) ? sector_floor(join.value() - 2 * uint64_t(estimate)) : 0;
  goto_offset(FileOffset::from_u64(from));
  GOP g, before;
  double result = 0.0;
  for (int guard = 0; guard < 1000; ++guard) {
    if (parse_gop(&g, 0, 0, 0) <= 0) break;
    if (g.start.greater_or_equal(join)) {
      if (before.pic_count > 0 && before.pts > kNoTime && g.pts > kNoTime)
        result = before.pts + before.total_fields * 45000.0 / fr - g.pts;
      break;
    }
    before = g;
    goto_offset(g.end);
  }
  vro_delta_ = keep;
  reset_pts_continuity();
  skip_count_ = 0;
  return result;
}
