// Audio spans of a program stream: the bytes of one audio stream between
// two file offsets, stamped with the time of their first whole frame, on
// the file's continuous time line.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/program.h"
#include "foundation/trace.h"

namespace {

bool is_sub_stream_key(int key) { return (key >= 0x80 && key <= 0x87) || (key >= 0xA0 && key <= 0xA7); }

}  // namespace

double DeMuxerProgram::adjust_span(ESBuffer* s, double reference) {
  double d = segment_delta(s->start);
  const double end_delta = segment_delta(s->end);
  if (reference > s->time && end_delta > d) d = end_delta;
  if (s->start.equals(last_span_end_)) {
    const double jump = d + s->time - last_span_pts_;
    if (jump < -450000.0 || jump > 450000.0) {
      const double next = segment_delta(s->end, 2);
      const double j2 = next + s->time - last_span_pts_;
      if (next > d && j2 > -450000.0 && j2 < 450000.0) d = next;
    }
  }
  last_span_pts_ = d + s->time;
  last_span_end_ = s->end;
  return d;
}

int DeMuxerProgram::read_abs(ESBuffer* s) {
  if (!s || !src_.file) return 0;
  stop_at_limit_ = 0;
  if (s->size < uint32_t(std::max(s->bytes, 0))) s->resize(uint32_t(s->bytes));
  const int want = int(s->size);
  if (!current_offset().equals(s->start)) goto_offset(s->start);
  FileOffset end = s->end;
  if (end.greater(src_.size)) end = src_.size;
  int got = 0;
  while (current_offset().less(end) && got < want) {
    const int r = next_ps_packet(selected_only());
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error("read_abs");
      continue;
    }
    if (packet_is_of(s->stream_id) && pkt_.payload_size > 0) {
      const int n = get_payload(s->data + got, want - got);
      if (n <= 0) break;
      got += n;
    } else if (!skip_packet()) {
      break;
    }
  }
  s->bytes = got;
  // A DVD title's cells may carry audio of another sampling rate or mode:
  // the header held follows the stream when two frames agree on the new one.
  if (nav_segment_count_ >= 2 && st_.frm_hdr.valid && got > 0) {
    FrmHdr h;
    const int o = h.parse_buffer(s->data, got);
    if (h.valid && o < got && st_.frm_hdr.same_stream(h) != 0 && h.check_frames(s->data + o, got - o, 2, 0))
      st_.frm_hdr = h;
  }
  return got;
}

double DeMuxerProgram::load_abs(ESBuffer* s, int count, int end_flag) {
  if (!s || !src_.file) return kNoTime;
  stop_at_limit_ = 0;
  if (s->size == 0) s->resize(16384);
  const int key = s->stream_id ? s->stream_id : st_.audio_id;
  if (!s->stream_id) s->stream_id = key;
  const bool sub = is_sub_stream_key(key);
  if (sub && !parse_sub_streams_) parse_sub_streams_ = 1;
  int c = count > 0 ? count : int(s->size);
  // Payloads are copied up to c bytes: a count beyond the buffer grows it.
  if (uint32_t(c) > s->size) {
    s->resize(uint32_t(c));
    if (uint32_t(c) > s->size) {
      trace("ERROR (DeMuxer::load_abs): abs->resize ()=%d < %d=bytes\n", int(s->size), c);
      c = int(s->size);
    }
  }
  const int c0 = c;
  const bool from_start = s->start.value() == 0;
  const int entry_sco = pkt_.start_code_offset;
  if (!current_offset().equals(s->start)) goto_offset(s->start);
  FileOffset end = src_.size;
  if (s->end.greater(s->start)) end = FileOffset::minus_int(s->end, entry_sco);
  if (end.greater(src_.size)) end = src_.size;
  s->bytes = 0;
  s->first_frame = 0;
  s->time_valid = 0;
  s->time = kNoTime;
  span_pack_scr_ = kNoTime;
  double last_pts = kNoTime;
  int before_pts = -1;  // bytes appended before the first PTS-bearing packet
  int a = 0;            // first access unit of a sub-stream
  bool stepped_back = false;
  for (;;) {
    const int r = next_ps_packet(selected_only());
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      trace("DeMuxerProgram::load_abs (): packet-header error\n\toffset = %.0f\n", current_offset().to_double());
      step_past_header_error("load_abs");
      continue;
    }
    const FileOffset here = current_offset();
    if (here.greater_or_equal(end) && (s->bytes > 0 || end_flag)) break;
    const int pay = get_payload_size();
    if (!packet_is_of(key) || pay <= 0) {
      if (!skip_packet()) break;
      continue;
    }
    if (c < pay) {
      if (s->bytes > 0) {
        if (r & kHasPts) last_pts = pkt_.pts;
        break;
      }
      uint32_t n = s->size + s->size / 2;
      if (n < uint32_t(pay) + 1024) n = uint32_t(pay) + 1024;
      s->resize(n);
      c = int(s->size);
    }
    if (s->bytes == 0) {
      if (!(r & kPackBefore) && !stepped_back && here.value() >= 14 && here.value() - s->start.value() < 14 &&
          s->start.value() >= 14) {
        // The pack header in front of the packet is part of the span.
        stepped_back = true;
        goto_offset(FileOffset::from_u64(s->start.value() - 14));
        continue;
      }
      s->start = here;
      if (sub && buf_.unread >= pkt_.payload_offset + 4) {
        const uint8_t* h = buf_.bytes.get() + buf_.rd + pkt_.payload_offset;
        const int ptr = h[2] << 8 | h[3];
        a = ptr == 0 ? 0 : ptr - 1;
        if (key >= 0xA0 && ptr - 1 >= 3) a = ptr - 4;
        if (a < 0 || a >= pay) {
          trace("DeMuxerProgram::load_abs (): first access unit %d beyond the payload of %d bytes\n", a, pay);
          a = 0;
        }
      }
    }
    if (pay > largest_audio_payload_) {
      largest_audio_payload_ = pay;
      largest_audio_packet_ = pkt_.packet_size - pkt_.start_code_offset;
    }
    if (r & kHasPts) {
      if (!s->time_valid) {
        s->time_valid = 1;
        s->time = pkt_.pts;
        s->first_frame = s->bytes;
        before_pts = s->bytes;
      } else if (from_start && last_pts > kNoTime && pkt_.pts < last_pts) {
        // The time base restarted: the span starts again here, with this
        // packet's time stamp.
        s->bytes = 0;
        c = c0;
        s->start = here;
        s->time = pkt_.pts;
        s->first_frame = 0;
        before_pts = 0;
      }
      last_pts = pkt_.pts;
    }
    if (s->bytes == 0 && (r & kPackBefore)) span_pack_scr_ = pkt_.scr;
    const int n = get_payload(s->data + s->bytes, c);
    s->bytes += n;
    c -= n;
    if (n <= 0) break;
  }
  s->end = current_offset();
  if (s->bytes <= 0) return kNoTime;
  const ESData* rec = nullptr;
  for (const ESData& r : st_.es_data)
    if (r.stream_id == key) rec = &r;
  FrmHdr ref = rec && rec->get_audio_header() ? *rec->get_audio_header() : st_.frm_hdr;
  const AC3FrmHdr* ac3ref = rec && rec->get_ac3_header() ? rec->get_ac3_header() : nullptr;
  if (audio_.load_count == 0 && !sub && key != 0xBD && !ref.valid) {
    FrmHdr h;
    const int o = h.find_sync(s->data, s->bytes);
    if (h.valid) {
      ref = h;
      st_.frm_hdr = h;
      s->first_frame = o;
    }
  }
  if (audio_.load_count == 0 || audio_.start_pts <= kNoTime) {
    if (s->time_valid)
      audio_.start_pts = s->time;
    else if (m_.video_start_pts > kNoTime)
      audio_.start_pts = m_.video_start_pts;
    else
      audio_.start_pts = 0.0;
  }
  ++audio_.load_count;
  const double ticks_per_byte = audio_.sec_per_byte * 90000.0;
  const double start_time = audio_.start_pts > kNoTime ? audio_.start_pts : 0.0;
  int frame = ref.valid ? ref.frame_size : 731;
  double frame_ticks = ref.valid && ref.sample_rate > 0 ? double(ref.samples_per_frame()) / ref.sample_rate * 90000.0
                                                       : 0.026122448979591838 * 90000.0;
  if (ac3ref && ac3ref->valid && ac3ref->frame_size > 0) {
    frame = ac3ref->frame_size;
    frame_ticks = 1536.0 / (ac3ref->sample_rate > 0 ? ac3ref->sample_rate : 48000) * 90000.0;
  }
  if (sub) {
    if (!s->time_valid) {
      s->time = s->start.to_double() * ticks_per_byte + start_time;
      s->first_frame = 0;
    } else if (segments_.size() >= 2) {
      s->time += adjust_span(s, last_pts);
    } else if (vro_delta_ > 0 && s->start.greater(vro_offset_)) {
      s->time += vro_delta_;
    }
    s->first_frame += a;
    if (s->first_frame > s->bytes) s->first_frame = 0;
    return s->time;
  }
  // The time stamp belongs to the first frame that begins in its packet;
  // the span's time is that of its own first frame.
  int o = 0;
  if (ref.valid && !ac3ref) {
    FrmHdr h;
    o = h.parse_buffer(s->data, s->bytes);
    if (h.valid && ref.same_stream(h) != 0) {
      if (nav_segment_count_ >= 2 && h.check_frames(s->data + o, s->bytes - o, 2, 0)) {
        ref = h;
        st_.frm_hdr = h;
      } else {
        FrmHdr m;
        o = m.find_matching(s->data, s->bytes, ref);
      }
    }
    if (!h.valid || o > ref.frame_size)
      trace("DeMuxerProgram::load_abs (!!!): offset = %d > %d = frame-size\n", o, h.valid ? ref.frame_size : 731);
    if (o > s->bytes) o = 0;
    const int f = ref.frame_size - (ref.padding ? ref.padding_slot() : 0);
    if (before_pts > 0 && s->time_valid && f > 0) {
      FrmHdr m;
      const int j = before_pts + m.find_matching(s->data + before_pts, s->bytes - before_pts, ref);
      const int n = (j - o) / f;
      if (n > 0) s->time -= n * frame_ticks;
    }
  } else if (ac3ref && ac3ref->valid) {
    AC3FrmHdr h;
    o = ac3_find_frame(*ac3ref, s->data, s->bytes, &h);
    if (!h.valid) o = 0;
    const int f = ac3ref->frame_size;
    if (before_pts > 0 && s->time_valid && f > 0) {
      AC3FrmHdr m;
      const int j = before_pts + ac3_find_frame(*ac3ref, s->data + before_pts, s->bytes - before_pts, &m);
      const int n = (j - o) / f;
      if (n > 0) s->time -= n * frame_ticks;
    }
  }
  if (o < 0 || o > s->bytes) o = 0;
  s->first_frame = o;
  if (s->time_valid) {
    if (segments_.size() >= 2)
      s->time += adjust_span(s, last_pts);
    else if (vro_delta_ > 0 && s->start.greater(vro_offset_))
      s->time += vro_delta_;
  } else if (s->bytes > frame && frame > 0) {
    goto_offset(s->end);
    int n = 0;
    double t = kNoTime;
    if (seek_next_pts(key, &n, &t)) {
      const int frames = (s->bytes - s->first_frame + frame - 1 + n) / frame;
      s->time = t - frames * frame_ticks;
    } else {
      s->time = s->start.to_double() * ticks_per_byte + start_time;
    }
  }
  return s->time;
}
