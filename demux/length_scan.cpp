// How long a stream plays: from its audio frames, from its first and last
// GOPs (time codes, time stamps, bit rate), or from the streams' bit rates;
// and the search for a restart of the GOP time codes.
#include <algorithm>
#include <cmath>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/pic_header.h"
#include "foundation/start_code.h"
#include "foundation/timecode.h"
#include "foundation/trace.h"

namespace {
constexpr int kAudioProbe = 65536;
}

int DeMuxer::read_at(FileOffset at, uint8_t* dst, int n) {
  if (!src_.file || n <= 0) return 0;
  src_.file->seek(at, 0);
  int got = int(src_.file->read(dst, size_t(n)));
  // The read buffer no longer matches the file position.
  empty_bs_buffer();
  buf_.end = src_.file->tell();
  return got;
}

void DeMuxer::find_bs_length() {
  if (m_.total_length <= 0) {
    if (st_.type == 1 || st_.type == 9)
      find_es_abs_length();
    else if (get_video_es_count() > 0)
      find_vbs_length();
    else
      estimate_length_from_es();
    if (m_.total_length <= 0) {
      trace("ERROR (DMX::find_bs_length): total_length <= 0\n");
      return;
    }
  }
  if (st_.bit_rate <= 0) {
    trace("ERROR (DMX::find_bs_length): bit_rate <= 0\n");
  }
}

void DeMuxer::estimate_length_from_es() {
  double sum = 0;
  for (auto& r : st_.es_data) {
    double w = 1.0138613861386139;
    if (r.max_packet_size > 0 && r.max_payload_size > 0) w = double(r.max_packet_size) / r.max_payload_size;
    sum += r.bit_rate * w;
  }
  if (sum > 0) m_.total_length = src_.size.to_double() * 8.0 / (sum * 1.01);
}

// First frame of the selected audio stream at or after `from`, within
// max_bytes. MPEG audio frames must match the stream's header.
bool DeMuxer::find_audio_frame(FileOffset from, int max_bytes, FileOffset* found, int* frame_size) {
  std::vector<uint8_t> b(size_t(std::max(max_bytes, 16)) + 8);
  int n = read_at(from, b.data(), max_bytes);
  if (n < 4) return false;
  if (st_.ac3) {
    AC3FrmHdr h;
    int o = ac3_find_frame(st_.ac3_hdr, b.data(), n, &h);
    if (!h.valid) return false;
    *found = FileOffset::from_u64(from.value() + uint64_t(o));
    *frame_size = h.frame_size;
    return true;
  }
  FrmHdr h;
  int o = h.find_matching(b.data(), n, st_.frm_hdr);
  if (!h.valid) return false;
  *found = FileOffset::from_u64(from.value() + uint64_t(o));
  *frame_size = h.frame_size;
  return true;
}

// End of the last whole frame, walking frame after frame from a frame start.
FileOffset DeMuxer::find_last_audio_frame(FileOffset from) {
  const uint64_t size = src_.size.value();
  uint64_t pos = from.value();
  std::vector<uint8_t> b(1 << 20);
  while (pos < size) {
    int n = read_at(FileOffset::from_u64(pos), b.data(), int(std::min<uint64_t>(b.size(), size - pos)));
    if (n < 4) break;
    int o = 0;
    bool progressed = false;
    while (o + 4 <= n) {
      int fs = 0, at = 0;
      if (st_.ac3) {
        AC3FrmHdr h;
        at = ac3_find_frame(st_.ac3_hdr, b.data() + o, n - o, &h);
        if (!h.valid || at != 0) break;
        fs = h.frame_size;
      } else {
        FrmHdr h;
        at = h.find_matching(b.data() + o, std::min(n - o, 8), st_.frm_hdr);
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
  if (!(st_.type == 1 || st_.type == 9)) {
    trace("ERROR (DeMuxer::find_es_abs_length): NOT a valid audio ES file\n");
    if (st_.bit_rate > 0) m_.total_length = src_.size.to_double() * 8.0 / st_.bit_rate;
    return;
  }
  const uint64_t size = src_.size.value();
  const uint64_t second = uint64_t(std::max(st_.bit_rate / 8, 1));
  auto fallback = [&]() {
    if (st_.bit_rate > 0) m_.total_length = double(size) * 8.0 / st_.bit_rate;
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
  const FileOffset end = find_last_audio_frame(last);
  if (st_.bit_rate > 0 && end.value() > first.value())
    m_.total_length = double(end.value() - first.value()) * 8.0 / st_.bit_rate;
  else
    fallback();
}

bool DeMuxer::is_bit_rate_too_high() {
  // Beyond every MPEG-2 level: the header's rate cannot be the real one.
  return st_.video_info.bit_rate > 80000000;
}

int DeMuxer::sample_bit_rate(double bytes, double fields) {
  const double fr = get_frame_rate();
  const uint64_t size = src_.size.value();
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
  if (f <= 0 || fr <= 0) return st_.bit_rate;
  return int(b * 8.0 / (f * 0.5 / fr));
}

void DeMuxer::find_vbs_length() {
  const double fr = get_frame_rate();
  const uint64_t size = src_.size.value();
  m_.first_gop_tc = 0.0;
  uint32_t last_tc_seen = 0;
  m_.tc_breaks.clear();
  if (!is_es_video()) audio_.start_flag = 1;

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
  // The first GOP's bytes are parsed in the buffer the search below reuses.
  const int first_pictures = parse_gop(&g, 0, 0, 0);
  first.copy_info(g);
  g.reset_record();
  if (first_pictures > 0) {
    count(first);
    if (first.time_code >= 4096) m_.first_gop_tc = first.time_code;
  }
  const uint64_t first_end = first.end.value();

  // The last GOP: start three quarters of a second of data before the end.
  const uint64_t second = uint64_t(std::max(st_.bit_rate / 8, 4096));
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
  // The walk to the end parses into two GOPs in turn: no GOP's bytes are
  // copied.
  GOP spare;
  GOP* last = &first;
  if (found) {
    last = &g;
    GOP* next = &spare;
    int guard = 0;
    while (last->end.less(src_.end_data) && guard++ < 100000) {
      goto_offset(last->end);
      next->reset_record();
      const FileOffset before = last->end;
      if (parse_gop(next, 0, 0, 0) <= 0) {
        if (!next->end.greater(before)) break;
        last->end = next->end;  // damaged stretch: keep walking behind it
        continue;
      }
      count(*last);
      if (last->time_code >= 4096) last_tc_seen = last->time_code;
      std::swap(last, next);
    }
    if (!last->start.equals(first.start)) count(*last);
  }
  if (last->time_code >= 4096) last_tc_seen = last->time_code;
  // The record only: copies of the demultiplexer copy it too.
  m_.last_gop.copy_info(*last);
  const int avg_gop_length = gops > 0 ? int(double(pictures) / gops + 0.5) : 0;
  for (auto& r : st_.es_data)
    if (r.is_video()) r.average_gop_length = avg_gop_length;
  st_.video_info.average_gop_length = avg_gop_length;

  // Length by bit rate.
  int r = st_.bit_rate;
  const int v = st_.video_info.bit_rate;
  if (st_.vbr && v > 0 && v < r) r = v;
  double br_len = r > 0 ? double(size) * 8.0 / r : 0.0;
  const int m = (F > 0 && fr > 0) ? int(B * 8.0 / (F * 0.5 / fr)) : 0;
  if (!st_.vbr || is_bit_rate_too_high()) {
    if (m > 0 && v > 3 * m) br_len = double(size) * 8.0 / m;
  } else if (is_es_video()) {
    if (v > 0 && m > 3 * v) br_len = double(size) * 8.0 / m;
  }
  m_.bit_rate_length = br_len;

  // Length by time codes: first time code to the end of the last GOP.
  const bool both_tc = first.time_code >= 4096 && last->time_code >= 4096 && found;
  double tc_len = br_len;
  if (both_tc)
    tc_len = (tc25_to_frame(last->time_code, fr) + last->frames() - tc25_to_frame(first.time_code, fr)) / fr;

  // Consistency of the time codes.
  auto quotient = [](double a, double b) {
    if (b <= 0) return 1e9;
    double q = (a - b) / b;
    if (q < 0) q = a > 0 ? b / a : 1e9;
    return q;
  };
  double q = quotient(tc_len, br_len);
  m_.tc_inconsistent = (tc_len <= 0 || q >= 5) ? 1 : 0;
  // A VBR stream's header rate says little, so mostly decodable GOP headers
  // win; but not against the rate measured on the GOPs themselves (a time
  // code that jumps ahead would otherwise make a stream hours long).
  const double m_len = m > 0 ? double(size) * 8.0 / m : 0.0;
  if (m_.tc_inconsistent && st_.elementary && st_.vbr && q >= 5 && decoded_headers >= gops / 2 + 1 &&
      (m_len <= 0 || quotient(tc_len, m_len) < 5))
    m_.tc_inconsistent = 0;
  m_.tc_present = (m_.first_gop_tc > 0 && last_tc_seen > 0) ? 1 : 0;
  if (m_.tc_present && !m_.tc_inconsistent && last_tc_seen < uint32_t(m_.first_gop_tc)) m_.tc_inconsistent = 1;
  // Codes that agree at both ends may still restart in between (joined
  // files whose parts all start at the same code).
  bool restarts = false;
  if (m_.tc_present && !m_.tc_inconsistent && st_.elementary && is_es_video() && both_tc) {
    std::vector<LGOP> samples;
    restarts = !sampled_tc_run_on(first, *last) && sampled_tc_goes_back(first, *last, &samples);
  }
  if (st_.elementary && m_.tc_present && (m_.tc_inconsistent || restarts)) {
    const int s = sample_bit_rate(B, F);
    if (s > 0 && st_.bit_rate > 3 * s) br_len = double(size) * 8.0 / s;
    // Measured as above: a time-code length far below the bit-rate length is
    // no agreement either.
    if (tc_len > 0 && br_len > 0 && quotient(tc_len, br_len) < 5) m_.tc_inconsistent = 0;
    m_.bit_rate_length = br_len;
  }
  if (restarts) m_.tc_inconsistent = 1;

  // Elementary video carries no time stamps: its time codes decide.
  if (m_.tc_present && is_es_video()) {
    if (!m_.tc_inconsistent) {
      m_.total_length = tc_len;
      m_.timecode_flag = 0;
    } else {
      m_.total_length = br_len;
      m_.timecode_flag = 1;
    }
  } else if (both_tc) {
    if (m_.tc_inconsistent) {
      m_.timecode_flag = 1;
      m_.total_length = br_len;
    } else if (first.time_code != last->time_code) {
      m_.total_length = tc_len;
    } else if (st_.bit_rate > 0) {
      m_.total_length = double(size) * 8.0 / st_.bit_rate;
    }
  } else if (first.time_code >= 4096 && F > 0) {
    m_.total_length = F * 0.5 / fr;
  } else {
    trace("DeMuxer::find_vbs_length (error): failed\n");
    if (st_.bit_rate > 0) m_.total_length = double(size) * 8.0 / st_.bit_rate;
  }
  if (m_.total_length <= 0 && st_.bit_rate > 0) m_.total_length = double(size) * 8.0 / st_.bit_rate;
  if (st_.elementary && m_.tc_present && m_.tc_inconsistent) {
    check_timecode();  // shifts the last GOP to the sum of the parts
  }

  fit_last_gop_field();
  goto_offset(FileOffset(0u));
}

void DeMuxer::fit_last_gop_field() {
  const double fr = get_frame_rate();
  if (m_.last_gop.pic_count <= 0) return;
  const int N = int(2 * fr * m_.total_length);
  const int base = m_.first_field > 0 ? m_.first_field : 0;
  const int want = base + N - m_.last_gop.total_fields;
  if (std::abs(want - m_.last_gop.first_field) > 2) m_.last_gop.first_field = want;
}

// The GOP after `from` that carries a time code (a few tries past GOPs
// without one); false when none is found.
bool DeMuxer::parse_gop_with_tc(FileOffset from, GOP* g) {
  goto_offset(from);
  for (int n = 0; n < 5; ++n) {
    if (parse_gop(g, 0, 0, 0) > 0 && g->time_code >= 4096) return true;
    if (g->end.greater_or_equal(src_.end_data) || !g->end.greater(from)) return false;
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
  if (!pp_.tc_gop) pp_.tc_gop = std::make_unique<GOP>();
  return *pp_.tc_gop;
}

int DeMuxer::tc_correction_at(FileOffset at) const {
  int frames = 0;
  for (const TcBreak& b : m_.tc_breaks) {
    if (at.less(b.at)) break;
    frames += b.frames;
  }
  return frames;
}

// The time codes of GOPs spread over the file run backwards somewhere: a
// joined file whose parts restart their time codes.
bool DeMuxer::sampled_tc_goes_back(const LGOP& first, const LGOP& last, std::vector<LGOP>* samples) {
  const double fr = get_frame_rate();
  const uint64_t size = src_.size.value();
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

// The first GOP at or after `from` (its first header and time code), read
// in small pieces up to budget bytes: only the headers up to its first
// picture are looked at. 1 found; 0 none within the budget; -1 the bytes
// hold what only a full parse reads right (an I picture without a GOP
// header, a GOP without an I picture first, no time code).
int DeMuxer::peek_gop_time_code(FileOffset from, uint64_t budget, std::vector<uint8_t>* piece, FileOffset* start,
                                uint32_t* time_code) {
  constexpr int kPiece = 65536;
  constexpr int kTail = 8;  // bytes a header needs behind its start code
  piece->resize(kPiece);
  uint64_t pos = from.value();
  const uint64_t stop = std::min(src_.end_data.value(), pos + budget);
  int64_t seq_at = -1;  // a sequence header with no picture behind it yet
  bool gop = false;
  while (pos < stop) {
    const int want = int(std::min<uint64_t>(kPiece, stop - pos));
    const int n = read_at(FileOffset::from_u64(pos), piece->data(), want);
    if (n <= 0) return 0;
    const bool at_end = n < want || pos + uint64_t(n) >= stop;
    const int usable = at_end ? n : n - kTail;
    const uint8_t* b = piece->data();
    StartCodeCursor sc(b, n);
    while (sc.next() && sc.offset() < usable) {
      const int at = int(sc.offset());
      if (n - at < kTail) return 0;
      const int code = sc.code();
      if (code == 0xB3) {
        if (!gop) seq_at = int64_t(pos) + at;
      } else if (code == 0xB8) {
        if (gop) return -1;
        GopHdr h;
        if (h.decode(b + at, n - at) <= 0 || h.time_code < 4096) return -1;
        gop = true;
        *time_code = h.time_code;
        *start = FileOffset::from_u64(seq_at >= 0 ? uint64_t(seq_at) : pos + uint64_t(at));
      } else if (code == 0x00) {
        const int type = read_picture_coding_type(b + at);
        if (gop) return type == PIC_TYPE_I ? 1 : -1;
        if (type == PIC_TYPE_I || seq_at >= 0) return -1;
      } else if (code >= 0x01 && code <= 0xAF) {
        if (gop || seq_at >= 0) return -1;  // slices right behind the headers
      } else if (code != 0xB5 && code != 0xB2) {
        return -1;
      }
    }
    if (at_end) break;
    pos += uint64_t(usable);
  }
  return 0;
}

// The cheap side of sampled_tc_goes_back: the same points of the file, each
// read only up to its GOP's first picture. True when the codes clearly run
// on from sample to sample; then the full check would find nothing either.
// A sample GOP's length is not read, so codes must gain well over the
// longest GOP known between two samples; anything closer or odd is left to
// the full check.
bool DeMuxer::sampled_tc_run_on(const LGOP& first, const LGOP& last) {
  const double fr = get_frame_rate();
  const uint64_t size = src_.size.value();
  int count = 16;
  if (size > (uint64_t(16) << 30)) count = int(size >> 30);
  const int gop_frames = std::max({first.frames(), last.frames(), st_.video_info.average_gop_length});
  const int margin = std::max(4 * gop_frames, 32);
  const uint64_t budget = 2 * uint64_t(std::max(get_gop_bytes_estimate(), 65536));
  std::vector<uint8_t> piece;
  FileOffset prev_start = first.start;
  int prev_tc = tc25_to_frame(first.time_code, fr);
  int prev_frames = first.frames();  // exact for the first GOP only
  // Codes from prev on to tc run on at least as the full check asks.
  auto runs_on = [&](int tc) { return prev_frames > 0 ? tc >= prev_tc + prev_frames - 1 : tc - prev_tc >= margin; };
  for (int i = 1; i <= count; ++i) {
    const FileOffset at = FileOffset::from_u64(size / uint64_t(count + 1) * uint64_t(i));
    if (!at.greater(prev_start)) continue;
    FileOffset start;
    uint32_t code = 0;
    if (peek_gop_time_code(at, budget, &piece, &start, &code) != 1) return false;
    if (!start.greater(prev_start) || !start.less(last.start)) continue;
    const int tc = tc25_to_frame(code, fr);
    if (!runs_on(tc)) return false;
    prev_start = start;
    prev_tc = tc;
    prev_frames = 0;
  }
  return runs_on(tc25_to_frame(last.time_code, fr));
}

int DeMuxer::check_timecode() {
  const double fr = get_frame_rate();
  m_.tc_breaks.clear();
  GOP first;
  if (!parse_gop_with_tc(FileOffset(0u), &first)) {
    trace("ERROR (check_timecode): no timecode for GOP at %.0f byte\n", first.start.to_double());
    goto_offset(FileOffset(0u));
    return 1;
  }
  if (m_.last_gop.pic_count <= 0 || m_.last_gop.time_code < 4096) {
    trace("ERROR (check_timecode): no timecode for the last GOP at %.0f byte\n", m_.last_gop.start.to_double());
    goto_offset(FileOffset(0u));
    return 1;
  }
  std::vector<LGOP> samples;
  sampled_tc_goes_back(first, m_.last_gop, &samples);
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
  const int shifted = tc25_to_frame(m_.last_gop.time_code, fr) + correction;
  const double length = (shifted + m_.last_gop.frames() - first_frame) / fr;
  // The corrected length must agree with the stream's bytes.
  if (m_.bit_rate_length > 0 && (length <= 0 || std::max(length / m_.bit_rate_length, m_.bit_rate_length / length) >= 5)) {
    trace("ERROR (check_timecode): corrected length %.3f s disagrees with %.3f s\n", length, m_.bit_rate_length);
    return 1;
  }
  m_.tc_breaks = std::move(breaks);
  m_.last_gop.time_code = tc25_word_from_frame(shifted, fr, (m_.last_gop.time_code >> 24) & 1);
  m_.last_gop.first_field = 2 * shifted;
  m_.total_length = length;
  return 0;
}
