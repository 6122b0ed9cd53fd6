// How long a stream plays: from its audio frames, from its first and last
// GOPs (time codes, time stamps, bit rate), or from the streams' bit rates;
// and the search for a restart of the GOP time codes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"

namespace {
constexpr int kAudioProbe = 65536;
}

int DeMuxer::read_at(FileOffset at, uint8_t* dst, int n) {
  if (!file_ || n <= 0) return 0;
  file_->seek(at, 0);
  int got = int(file_->read(dst, size_t(n)));
  // The read buffer no longer matches the file position.
  empty_bs_buffer();
  buf_end_ = file_->tell();
  return got;
}

void DeMuxer::find_bs_length() {
  if (total_length_ <= 0) {
    if (stream_type_ == 1 || stream_type_ == 9)
      find_es_abs_length();
    else if (get_video_es_count() > 0)
      find_vbs_length();
    else
      estimate_length_from_es();
    if (total_length_ <= 0) {
      trace("ERROR (DMX::find_bs_length): total_length <= 0\n");
      return;
    }
  }
  if (bit_rate_ > 0) {
    if (!vbr_ && stream_type_ != 6)
      scr_per_byte_ = 720000.0 / bit_rate_;
    else
      scr_per_byte_ = 720000.0 / (file_size_.to_double() * 8.0 / total_length_);
    bytes_per_scr_ = 1.0 / scr_per_byte_;
  } else {
    trace("ERROR (DMX::find_bs_length): bit_rate <= 0\n");
  }
}

void DeMuxer::estimate_length_from_es() {
  double sum = 0;
  for (auto& r : es_data_) {
    double w = 1.0138613861386139;
    if (r.max_packet_size > 0 && r.max_payload_size > 0) w = double(r.max_packet_size) / r.max_payload_size;
    sum += r.bit_rate * w;
  }
  if (sum > 0) total_length_ = file_size_.to_double() * 8.0 / (sum * 1.01);
}

// First frame of the selected audio stream at or after `from`, within
// max_bytes. MPEG audio frames must match the stream's header.
bool DeMuxer::find_audio_frame(FileOffset from, int max_bytes, FileOffset* found, int* frame_size) {
  std::vector<uint8_t> b(size_t(std::max(max_bytes, 16)) + 8);
  int n = read_at(from, b.data(), max_bytes);
  if (n < 4) return false;
  if (ac3_) {
    AC3FrmHdr h;
    int o = ac3_find_frame(ac3_hdr_, b.data(), n, &h);
    if (!h.valid) return false;
    *found = FileOffset::from_u64(from.value() + uint64_t(o));
    *frame_size = h.frame_size;
    return true;
  }
  FrmHdr h;
  int o = h.find_matching(b.data(), n, frm_hdr_);
  if (!h.valid) return false;
  *found = FileOffset::from_u64(from.value() + uint64_t(o));
  *frame_size = h.frame_size;
  return true;
}

// End of the last whole frame, walking frame after frame from a frame start.
FileOffset DeMuxer::find_last_audio_frame(FileOffset from, int frame_size) {
  const uint64_t size = file_size_.value();
  uint64_t pos = from.value();
  std::vector<uint8_t> b(1 << 20);
  while (pos < size) {
    int n = read_at(FileOffset::from_u64(pos), b.data(), int(std::min<uint64_t>(b.size(), size - pos)));
    if (n < 4) break;
    int o = 0;
    bool progressed = false;
    while (o + 4 <= n) {
      int fs = 0, at = 0;
      if (ac3_) {
        AC3FrmHdr h;
        at = ac3_find_frame(ac3_hdr_, b.data() + o, n - o, &h);
        if (!h.valid || at != 0) break;
        fs = h.frame_size;
      } else {
        FrmHdr h;
        at = h.find_matching(b.data() + o, std::min(n - o, 8), frm_hdr_);
        if (!h.valid || at != 0) break;
        fs = h.frame_size;
      }
      if (fs <= 0 || o + fs > n) break;
      o += fs;
      progressed = true;
    }
    if (!progressed) break;
    pos += uint64_t(o);
    if (o + 4 <= n && uint64_t(n) < b.size()) break;  // a frame did not follow
    if (uint64_t(n) < b.size()) break;
  }
  return FileOffset::from_u64(pos);
}

void DeMuxer::find_es_abs_length() {
  if (!(stream_type_ == 1 || stream_type_ == 9)) {
    trace("ERROR (DeMuxer::find_es_abs_length): NOT a valid audio ES file\n");
    if (bit_rate_ > 0) total_length_ = file_size_.to_double() * 8.0 / bit_rate_;
    return;
  }
  const uint64_t size = file_size_.value();
  const uint64_t second = uint64_t(std::max(bit_rate_ / 8, 1));
  auto fallback = [&]() {
    if (bit_rate_ > 0) total_length_ = double(size) * 8.0 / bit_rate_;
  };
  FileOffset first;
  int fs = 0;
  bool ok = false;
  uint64_t at = 0;
  for (int miss = 0; miss < 10 && at < size; ++miss, at += second) {
    if (find_audio_frame(FileOffset::from_u64(at), kAudioProbe, &first, &fs)) {
      ok = true;
      break;
    }
  }
  if (!ok) {
    trace("ERROR (DeMuxer::find_es_abs_length): cannot find a valid frame\n");
    fallback();
    return;
  }
  const uint64_t span = 3 * second;
  uint64_t tail = size > span ? size - span : 0;
  FileOffset last;
  ok = false;
  for (int miss = 0; miss < 10; ++miss) {
    if (tail < first.value()) tail = first.value();
    if (find_audio_frame(FileOffset::from_u64(tail), int(std::min<uint64_t>(span + 8, 1 << 24)), &last, &fs)) {
      ok = true;
      break;
    }
    if (tail <= first.value()) break;
    const uint64_t back = span > 32 ? span - 32 : 1;
    tail = tail > back ? tail - back : 0;
  }
  if (!ok) {
    trace("ERROR (DeMuxer::find_es_abs_length): seek-end failed\n");
    fallback();
    return;
  }
  const FileOffset end = find_last_audio_frame(last, fs);
  if (bit_rate_ > 0 && end.value() > first.value())
    total_length_ = double(end.value() - first.value()) * 8.0 / bit_rate_;
  else
    fallback();
}

int DeMuxer::check_range_bit_rate(const ESData& r) { return r.bit_rate; }

bool DeMuxer::is_bit_rate_too_high() {
  // Beyond every MPEG-2 level: the header's rate cannot be the real one.
  return video_info_.bit_rate > 80000000;
}

int DeMuxer::sample_bit_rate(double bytes, double fields) {
  const double fr = get_frame_rate();
  const uint64_t size = file_size_.value();
  int samples = 8;
  if (size > (uint64_t(8) << 30)) samples = int(size >> 30);
  GOP g;
  double b = bytes, f = fields;
  const FileOffset keep = current_offset();
  for (int i = 1; i <= samples; ++i) {
    goto_offset(FileOffset::from_u64(size / uint64_t(samples + 1) * uint64_t(i)));
    if (parse_gop(&g, 0, 0, 0) > 0) {
      b += g.byte_length;
      f += g.total_fields;
    }
  }
  goto_offset(keep);
  if (f <= 0 || fr <= 0) return bit_rate_;
  return int(b * 8.0 / (f * 0.5 / fr));
}

bool DeMuxer::find_last_gop(FileOffset lower, FileOffset upper, GOP* g) {
  // Golden-section probes between lower and upper for the last GOP start.
  bool found = false;
  GOP probe;
  uint64_t lo = lower.value(), hi = upper.value();
  while (hi > lo + 4096) {
    uint64_t at = lo + uint64_t(double(hi - lo) * 0.382);
    goto_offset(FileOffset::from_u64(at));
    probe.end = upper;
    if (parse_gop(&probe, 0, 0, 1) > 0) {
      *g = probe;
      found = true;
      lo = probe.end.value() > at ? probe.end.value() : at + 1;
    } else {
      hi = at;
    }
  }
  return found;
}

void DeMuxer::find_vbs_length() {
  const double fr = get_frame_rate();
  const uint64_t size = file_size_.value();
  first_gop_tc_ = 0.0;
  last_tc_seen_ = 0;
  tc_breaks_.clear();
  expected_end_pts_ = kNoTime;
  if (!is_es_video()) audio_start_flag_ = 1;

  GOP first, g;
  goto_offset(FileOffset(0u));
  double B = 0, F = 0;
  int gops = 0, pictures = 0, decoded_headers = 0;
  // Sums one GOP into the totals the length is judged by.
  auto count = [&](const GOP& x) {
    B += x.byte_length;
    F += x.total_fields;
    ++gops;
    pictures += x.pic_count;
    if (x.time_code >= 4096) ++decoded_headers;
  };
  if (parse_gop(&first, 0, 0, 0) > 0) {
    count(first);
    if (first.time_code >= 4096) first_gop_tc_ = first.time_code;
    if (first.pts > kNoTime) expected_end_pts_ = first.pts + first.total_fields * 90000.0 / (2 * fr);
  }
  const uint64_t first_end = first.end.value();

  // The last GOP: start three quarters of a second of data before the end.
  const uint64_t second = uint64_t(std::max(bit_rate_ / 8, 4096));
  uint64_t start = size > second * 3 / 4 ? size - second * 3 / 4 : 0;
  if (start < first_end) start = first_end;
  bool found = false;
  uint64_t step = second / 2;
  for (int tries = 0; tries < 64 && first.pic_count > 0; ++tries) {
    goto_offset(FileOffset::from_u64(start));
    g.end = FileOffset::from_u64(std::min(size, start + 3 * second));
    if (parse_gop(&g, 0, 1, 1) > 0) {
      found = true;
      break;
    }
    if (start <= first_end) break;
    start = start > first_end + step ? start - step : first_end;
    step += second;
  }
  GOP last = first;
  if (found) {
    last = g;
    int guard = 0;
    while (last.end.less(end_data_) && guard++ < 100000) {
      goto_offset(last.end);
      GOP next;
      const FileOffset before = last.end;
      if (parse_gop(&next, 0, 0, 0) <= 0) {
        if (!next.end.greater(before)) break;
        last.end = next.end;  // damaged stretch: keep walking behind it
        continue;
      }
      count(last);
      if (last.time_code >= 4096) last_tc_seen_ = last.time_code;
      last = next;
    }
    if (!last.start.equals(first.start)) count(last);
  }
  if (last.time_code >= 4096) last_tc_seen_ = last.time_code;
  last_gop_ = last;
  avg_gop_length_ = gops > 0 ? int(double(pictures) / gops + 0.5) : 0;
  for (auto& r : es_data_)
    if (r.is_video()) r.average_gop_length = avg_gop_length_;
  video_info_.average_gop_length = avg_gop_length_;

  // Length by bit rate.
  int r = bit_rate_;
  const int v = video_info_.bit_rate;
  if (vbr_ && v > 0 && v < r) r = v;
  double br_len = r > 0 ? double(size) * 8.0 / r : 0.0;
  const int m = (F > 0 && fr > 0) ? int(B * 8.0 / (F * 0.5 / fr)) : 0;
  if (!vbr_ || is_bit_rate_too_high()) {
    if (m > 0 && v > 3 * m) br_len = double(size) * 8.0 / m;
  } else if (is_es_video()) {
    if (v > 0 && m > 3 * v) br_len = double(size) * 8.0 / m;
  }
  bit_rate_length_ = br_len;

  // Length by time codes: first time code to the end of the last GOP.
  const bool both_tc = first.time_code >= 4096 && last.time_code >= 4096 && found;
  double tc_len = br_len;
  if (both_tc)
    tc_len = (tc25_to_frame(last.time_code, fr) + last.frames() - tc25_to_frame(first.time_code, fr)) / fr;

  // Consistency of the time codes.
  auto quotient = [](double a, double b) {
    if (b <= 0) return 1e9;
    double q = (a - b) / b;
    if (q < 0) q = a > 0 ? b / a : 1e9;
    return q;
  };
  double q = quotient(tc_len, br_len);
  tc_inconsistent_ = (tc_len <= 0 || q >= 5) ? 1 : 0;
  // A VBR stream's header rate says little, so mostly decodable GOP headers
  // win; but not against the rate measured on the GOPs themselves (a time
  // code that jumps ahead would otherwise make a stream hours long).
  const double m_len = m > 0 ? double(size) * 8.0 / m : 0.0;
  if (tc_inconsistent_ && elementary_ && vbr_ && q >= 5 && decoded_headers >= gops / 2 + 1 &&
      (m_len <= 0 || quotient(tc_len, m_len) < 5))
    tc_inconsistent_ = 0;
  tc_present_ = (first_gop_tc_ > 0 && last_tc_seen_ > 0) ? 1 : 0;
  if (tc_present_ && !tc_inconsistent_ && last_tc_seen_ < uint32_t(first_gop_tc_)) tc_inconsistent_ = 1;
  if (elementary_ && tc_present_ && tc_inconsistent_) {
    const int s = sample_bit_rate(B, F);
    if (s > 0 && bit_rate_ > 3 * s) br_len = double(size) * 8.0 / s;
    // Measured as above: a time-code length far below the bit-rate length is
    // no agreement either.
    if (tc_len > 0 && br_len > 0 && quotient(tc_len, br_len) < 5) tc_inconsistent_ = 0;
    bit_rate_length_ = br_len;
  }
  // Codes that agree at both ends may still restart in between (joined
  // files whose parts all start at the same code).
  if (tc_present_ && !tc_inconsistent_ && elementary_ && is_es_video() && both_tc) {
    std::vector<LGOP> samples;
    if (sampled_tc_goes_back(first, last, &samples)) tc_inconsistent_ = 1;
  }
  ts_present_ = 0;  // elementary video carries no time stamps
  ts_inconsistent_ = 0;

  if (tc_present_ && (ts_present_ || is_es_video())) {
    if (!tc_inconsistent_) {
      total_length_ = tc_len;
      timecode_flag_ = 0;
    } else {
      total_length_ = br_len;
      timecode_flag_ = 1;
    }
  } else if (both_tc) {
    if (tc_inconsistent_) {
      timecode_flag_ = 1;
      total_length_ = br_len;
    } else if (first.time_code != last.time_code) {
      total_length_ = tc_len;
    } else if (bit_rate_ > 0) {
      total_length_ = double(size) * 8.0 / bit_rate_;
    }
  } else if (first.time_code >= 4096 && F > 0) {
    total_length_ = F * 0.5 / fr;
  } else {
    trace("DeMuxer::find_vbs_length (error): failed\n");
    if (bit_rate_ > 0) total_length_ = double(size) * 8.0 / bit_rate_;
  }
  if (total_length_ <= 0 && bit_rate_ > 0) total_length_ = double(size) * 8.0 / bit_rate_;
  if (elementary_ && tc_present_ && tc_inconsistent_) {
    check_timecode();  // shifts the last GOP to the sum of the parts
  }

  // The last GOP's field number must agree with the length.
  if (last_gop_.pic_count > 0) {
    const int N = int(2 * fr * total_length_);
    const int base = first_field_ > 0 ? first_field_ : 0;
    const int want = base + N - last_gop_.total_fields;
    if (std::abs(want - last_gop_.first_field) > 2) last_gop_.first_field = want;
  }
  goto_offset(FileOffset(0u));
}

// The GOP after `from` that carries a time code (a few tries past GOPs
// without one); false when none is found.
bool DeMuxer::parse_gop_with_tc(FileOffset from, GOP* g) {
  goto_offset(from);
  for (int n = 0; n < 5; ++n) {
    if (parse_gop(g, 0, 0, 0) > 0 && g->time_code >= 4096) return true;
    if (g->end.greater_or_equal(end_data_) || !g->end.greater(from)) return false;
    from = g->end;
    goto_offset(from);
  }
  return false;
}

// Finds the time-code breaks between two GOPs a and b (a before b). Where
// the codes run backwards between them, probes in between until each break
// lies between two neighbours. A break adds the frames its neighbours' codes
// lose (or gain) to `breaks`, in file order.
void DeMuxer::find_tc_breaks(const LGOP& a, const LGOP& b, double fr, double bytes_per_frame,
                             std::vector<TcBreak>* breaks, int* budget) {
  if (--*budget < 0) return;
  const int expect = tc25_to_frame(a.time_code, fr) + a.frames();
  const int got = tc25_to_frame(b.time_code, fr);
  if (a.end.equals(b.start)) {
    if (std::abs(got - expect) > 1) breaks->push_back({b.start, expect - got});
    return;
  }
  // Codes that run on at about the pace of the bytes between are taken as
  // one run: a restart hides where they gain far less (or far more) than the
  // bytes hold. bytes_per_frame 0: only codes that run backwards count.
  const double span_frames = bytes_per_frame > 0 ? double(b.start.value() - a.end.value()) / bytes_per_frame : 0;
  const int slack = std::max(a.frames(), b.frames()) + 1;
  const bool off_pace =
      bytes_per_frame > 0 && (got - expect > 4 * span_frames + slack || got - expect < span_frames / 2);
  if (got >= expect - 1 && !off_pace) return;
  // Probe the middle, or the GOP behind a when the middle holds
  // no other GOP start.
  GOP& g = tc_scratch();
  const uint64_t mid = a.end.value() + (b.start.value() - a.end.value()) / 2;
  bool ok = parse_gop_with_tc(FileOffset::from_u64(mid), &g) && g.start.greater(a.start) && g.start.less(b.start);
  if (!ok) ok = parse_gop_with_tc(a.end, &g) && g.start.greater(a.start) && g.start.less(b.start);
  if (!ok) {
    // No coded GOP between them: take the step as one break at b.
    breaks->push_back({b.start, expect - got});
    return;
  }
  const LGOP m(g);  // without its bytes: the recursion reuses the scratch GOP
  find_tc_breaks(a, m, fr, bytes_per_frame, breaks, budget);
  find_tc_breaks(m, b, fr, bytes_per_frame, breaks, budget);
}

GOP& DeMuxer::tc_scratch() {
  if (!tc_scratch_) tc_scratch_ = std::make_unique<GOP>();
  return *tc_scratch_;
}

int DeMuxer::tc_correction_at(FileOffset at) const {
  int frames = 0;
  for (const TcBreak& b : tc_breaks_) {
    if (at.less(b.at)) break;
    frames += b.frames;
  }
  return frames;
}

// The time codes of GOPs spread over the file run backwards somewhere: a
// joined file whose parts restart their time codes.
bool DeMuxer::sampled_tc_goes_back(const LGOP& first, const LGOP& last, std::vector<LGOP>* samples) {
  const double fr = get_frame_rate();
  const uint64_t size = file_size_.value();
  int count = 16;
  if (size > (uint64_t(16) << 30)) count = int(size >> 30);
  samples->clear();
  samples->push_back(first);
  GOP& g = tc_scratch();
  for (int i = 1; i <= count; ++i) {
    const FileOffset at = FileOffset::from_u64(size / uint64_t(count + 1) * uint64_t(i));
    if (!at.greater(samples->back().start)) continue;
    if (!parse_gop_with_tc(at, &g) || !g.start.greater(samples->back().start) || !g.start.less(last.start)) continue;
    samples->push_back(g);
  }
  samples->push_back(last);
  bool back = false;
  for (size_t i = 1; i < samples->size(); ++i)
    if (tc25_to_frame((*samples)[i].time_code, fr) <
        tc25_to_frame((*samples)[i - 1].time_code, fr) + (*samples)[i - 1].frames() - 1)
      back = true;
  return back;
}

int DeMuxer::check_timecode() {
  const double fr = get_frame_rate();
  tc_breaks_.clear();
  GOP first;
  if (!parse_gop_with_tc(FileOffset(0u), &first)) {
    trace("ERROR (check_timecode): no timecode for GOP at %.0f byte\n", first.start.to_double());
    goto_offset(FileOffset(0u));
    return 1;
  }
  if (last_gop_.pic_count <= 0 || last_gop_.time_code < 4096) {
    trace("ERROR (check_timecode): no timecode for the last GOP at %.0f byte\n", last_gop_.start.to_double());
    goto_offset(FileOffset(0u));
    return 1;
  }
  std::vector<LGOP> samples;
  sampled_tc_goes_back(first, last_gop_, &samples);
  std::vector<TcBreak> breaks;
  // Bytes a frame, from the GOPs just read: a code jumping far ahead of that
  // is a break as well.
  double bytes = 0, frames = 0;
  for (const LGOP& g : samples) {
    bytes += g.byte_length;
    frames += g.frames();
  }
  const double bytes_per_frame = frames > 0 ? bytes / frames : 0;
  int budget = 2000;
  for (size_t i = 1; i < samples.size(); ++i)
    find_tc_breaks(samples[i - 1], samples[i], fr, bytes_per_frame, &breaks, &budget);
  goto_offset(FileOffset(0u));
  if (breaks.empty()) return 1;
  int correction = 0;
  for (const TcBreak& b : breaks) correction += b.frames;
  const int first_frame = tc25_to_frame(first.time_code, fr);
  const int shifted = tc25_to_frame(last_gop_.time_code, fr) + correction;
  const double length = (shifted + last_gop_.frames() - first_frame) / fr;
  // The corrected length must agree with the stream's bytes.
  if (bit_rate_length_ > 0 && (length <= 0 || std::max(length / bit_rate_length_, bit_rate_length_ / length) >= 5)) {
    trace("ERROR (check_timecode): corrected length %.3f s disagrees with %.3f s\n", length, bit_rate_length_);
    return 1;
  }
  tc_breaks_ = std::move(breaks);
  last_gop_.time_code = tc25_word_from_frame(shifted, fr, (last_gop_.time_code >> 24) & 1);
  last_gop_.first_field = 2 * shifted;
  total_length_ = length;
  return 0;
}
