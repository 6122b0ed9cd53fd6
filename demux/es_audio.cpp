// Audio spans of elementary audio files: the bytes between two offsets,
// stamped with the time of their first whole frame derived from the byte
// position (there are no packet time stamps).
#include <algorithm>
#include <cmath>

#include "demux/demuxer.h"
#include "foundation/trace.h"

// An elementary file has no packets to end a span early: end_flag is for
// the system-stream classes.
double DeMuxer::load_abs(ESBuffer* s, int count, int /*end_flag*/) {
  if (!s) return kNoTime;
  int n = count > 0 ? count : int(s->size);
  if (uint32_t(n) > s->size) {
    s->resize(uint32_t(n));
    if (uint32_t(n) > s->size) {
      trace("ERROR (DeMuxer::load_abs): abs->resize ()=%d < %d=bytes\n", int(s->size), n);
      n = int(s->size);
    }
  }
  if (s->start.less(src_.data_start)) s->start = src_.data_start;
  if (s->start.greater_or_equal(src_.end_data)) {
    s->bytes = 0;
    return s->time;
  }
  if (s->end.greater(s->start)) n = int(std::min<uint64_t>(uint64_t(n), s->end.value() - s->start.value()));
  s->bytes = n;  // request for read_abs
  read_abs(s);
  s->end = FileOffset::from_u64(s->start.value() + uint64_t(s->bytes));
  calc_abs_pts(s);
  ++audio_.load_count;
  return s->time;
}

int DeMuxer::read_abs(ESBuffer* s) {
  if (!s || !src_.file) return 0;
  int n = s->bytes > 0 ? s->bytes : int(s->size);
  if (uint32_t(n) > s->size) s->resize(uint32_t(n));
  if (uint32_t(n) > s->size) n = int(s->size);
  if (s->end.greater(s->start)) n = int(std::min<uint64_t>(uint64_t(n), s->end.value() - s->start.value()));
  if (src_.end_data.value() > s->start.value())
    n = int(std::min<uint64_t>(uint64_t(n), src_.end_data.value() - s->start.value()));
  else
    n = 0;
  if (!src_.file->tell().equals(s->start)) src_.file->seek(s->start, 0);
  int got = n > 0 ? int(src_.file->read(s->data, size_t(n))) : 0;
  s->set_bytes(got);
  // The next buffered read starts behind the span.
  empty_bs_buffer();
  buf_.end = src_.file->tell();
  return got;
}

namespace {

// A span without a frame header: one too small to judge is left alone; any
// other is emptied and timed by its byte position alone.
void time_span_without_header(ESBuffer* s, int frame, double sec_per_byte, const char* who) {
  if (s->bytes < frame + 20) {
    trace("DeMuxer::%s (ended?]: very small DA found at (%.0f - %.0f) with %d bytes.\n", who,
          s->start.to_double(), s->end.to_double(), s->bytes);
    return;
  }
  trace("DeMuxer::%s (ended?]: no valid frame header, DA = %d (%.0f - %.0f)\n", who, s->bytes,
        s->start.to_double(), s->end.to_double());
  s->bytes = 0;
  s->first_frame = 0;
  s->time = s->start.to_double() * sec_per_byte * 90000.0;
  s->time_valid = 1;
}

// Stamps the span with frame k at offset o. A header found up to `back`
// bytes before o (and more than `frame` bytes into the span) means o was
// rounded past that frame: step back to it. find(data, n) gives the offset
// of the first valid header or -1.
template <class Find>
void time_span_at_frame(ESBuffer* s, int o, int64_t k, int frame, int back, double frame_ticks, Find find) {
  if (o > frame) {
    const int from = std::max(0, o - back - 4);
    const int o2 = find(s->data + from, o - from);
    if (o2 >= 0 && from + o2 < o) {
      o = from + o2;
      --k;
    }
  }
  s->time = double(k) * frame_ticks;
  s->time_valid = 1;
  s->first_frame = o;
}

}  // namespace

void DeMuxer::calc_abs_pts(ESBuffer* s) {
  if (st_.ac3) {
    calc_ac3_pts(s);
    return;
  }
  const int frame = st_.frm_hdr.valid ? st_.frm_hdr.frame_size : 731;
  FrmHdr h;
  const int o = h.find_matching(s->data, s->bytes, st_.frm_hdr);
  if (!h.valid) {
    time_span_without_header(s, frame, audio_.sec_per_byte, "calc_abs_pts");
    return;
  }
  const double t = (s->start.to_double() + o - src_.data_start.to_double()) * audio_.sec_per_byte;
  const double f = double(h.sample_rate) / h.samples_per_frame();
  time_span_at_frame(s, o, int64_t(f * t + 0.5), frame, frame, audio_.frame_ticks, [&](const uint8_t* b, int n) {
    FrmHdr h2;
    const int o2 = h2.find_matching(b, n, st_.frm_hdr);
    return h2.valid ? o2 : -1;
  });
}

void DeMuxer::calc_ac3_pts(ESBuffer* s) {
  const int frame = st_.ac3_hdr.valid ? st_.ac3_hdr.frame_size : 0;
  AC3FrmHdr h;
  const int o = ac3_find_frame(st_.ac3_hdr, s->data, s->bytes, &h);
  if (!h.valid) {
    time_span_without_header(s, frame, audio_.sec_per_byte, "calc_ac3_pts");
    return;
  }
  const double t = (s->start.to_double() + o - src_.data_start.to_double()) * audio_.sec_per_byte;
  time_span_at_frame(s, o, int64_t(double(h.sample_rate) / 1536.0 * t + 0.5), frame, h.frame_size,
                     audio_.frame_ticks, [&](const uint8_t* b, int n) {
                       AC3FrmHdr h2;
                       const int o2 = ac3_find_frame(st_.ac3_hdr, b, n, &h2);
                       return h2.valid ? o2 : -1;
                     });
}

int DeMuxer::init_abs_scr_per_byte(int id, int pid) {
  if (st_.es_data.empty()) {
    trace("ERROR (DeMuxer::init_abs_scr_per_byte): es_data=nil\n");
    return 0;
  }
  if (!pid && !((id >= 0x80 && id <= 0x87) || (id >= 0xC0 && id <= 0xDF))) {
    trace("ERROR (DeMuxer::init_abs_scr_per_byte): invlid audio stream id = %d\n", id);
    return 0;
  }
  for (auto& r : st_.es_data) {
    if (pid ? r.pid != pid : r.stream_id != id) continue;
    int br = r.get_audio_bit_rate();
    if (br <= 0) {
      trace("DeMuxer::init_abs_scr_per_byte (): bit rate %d of stream %d skipped\n", br, r.stream_id);
      continue;
    }
    return 1;
  }
  return 0;
}

double demux_job_end(JobControl& control, const DemuxReport& report, JobOutcome outcome, double result) {
  control.set_progress(100.0);
  control.finish(outcome, int64_t(result),
                 report.failed_output.empty() ? std::string() : "<" + report.failed_output + ">: cannot write");
  return result;
}

double DeMuxer::demuxer(int, ESData*, JobControl* control, DemuxReport* report) {
  if (report) *report = DemuxReport();
  if (control) {
    control->set_progress(100.0);
    control->finish(JobOutcome::done);
  }
  return 0.0;
}

int DeMuxer::get_av_start_frames(ESData* r, int n, int* a) {
  if (!r || !a) return 0;
  const double v = get_video_start_pts();
  for (int i = 0; i < n; ++i) {
    a[i] = 0;
    if (r[i].is_video()) continue;
    const double d = (v - get_audio_start_pts(r[i].stream_id, r[i].pid)) / 90000.0;
    const double fd = r[i].get_audio_frame_duration();
    if (d > -3 && d < 3 && fd > 0) a[i] = int(d / fd);
  }
  return n;
}

int DeMuxer::skip_audio_frames(const uint8_t* b, int n, ESData* r, int* m) {
  if (!b || !r || !m) return 0;
  if (r->get_ac3_header()) {
    const AC3FrmHdr& ref = *r->get_ac3_header();
    AC3FrmHdr h;
    int o = ac3_find_frame(ref, b, n, &h);
    if (!h.valid) return 0;
    const int size = ref.frame_size > 0 ? ref.frame_size : h.frame_size;
    while (size > 0 && *m > 0 && o + size <= n) {
      o += size;
      --*m;
    }
    return o;
  }
  if (r->get_audio_header()) {
    const FrmHdr& ref = *r->get_audio_header();
    int o = 0, skipped = 0;
    while (skipped < *m && o < n) {
      FrmHdr h;
      int at = h.find_matching(b + o, n - o, ref);
      if (!h.valid || h.frame_size <= 0 || o + at + h.frame_size > n) break;
      o += at + h.frame_size;
      ++skipped;
    }
    *m -= skipped;
    return o;
  }
  *m = 0;
  return 0;
}
