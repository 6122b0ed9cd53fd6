// GOP reading of the program-stream demultiplexer: the payloads of the
// video stream go into the GOP's buffer and the shared picture parser finds
// the GOP's pictures there. A GOP starts at the unit (pack, else PES start
// code) holding its first header; the payload bytes of that packet in front
// of the header belong to the previous GOP (the vbs offset).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/gop_collector.h"
#include "demux/program.h"
#include "foundation/pic_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// One video packet appended in a parse: where its payload begins in the
// bytes appended so far, and its time stamp.
struct Appended {
  uint64_t first = 0;  // running index of its first payload byte
  int bytes = 0;
  FileOffset offset;
  double pts = kNoTime;
};

const Appended* holder(const std::vector<Appended>& v, uint64_t index) {
  const Appended* found = nullptr;
  for (const Appended& a : v) {
    if (a.first > index) break;
    found = &a;
  }
  return found;
}

}  // namespace

int DeMuxerProgram::count_display_fields(const uint8_t* b, int n, int progressive_sequence) {
  if (!b || n < 9) return 0;
  int count = 0, pos = 0, first_type = 0;
  bool b_counts = false, first = true;
  while (n - pos >= 9) {
    PicHdr h;
    const int used = h.decode(b + pos, n - pos);
    if (used <= 0) break;
    const int f = h.get_field_count(progressive_sequence);
    const int t = h.picture_coding_type;
    if (first) {
      count = f + (t == 3 ? 2 : 0);
      first_type = t;
      b_counts = t == 3;
      first = false;
    } else if (t == 1 || t == 2) {
      count += f;
      b_counts = true;
    } else if (t == 3 && (first_type == 3 || b_counts)) {
      count += f;
    }
    pos += used + 8;
  }
  return count;
}

void DeMuxerProgram::reset_pts_continuity() {
  next_gop_offset_.zero();
  predicted_gop_pts_ = 0.0;
  prediction_valid_ = 0;
}

void DeMuxerProgram::continue_gop_pts(GOP* g, int keep) {
  if (!keep && prediction_valid_ && g->start.equals(next_gop_offset_) && g->pts != predicted_gop_pts_) {
    g->pts = predicted_gop_pts_;
    g->no_pts = 0;
  }
  next_gop_offset_ = g->end;
  prediction_valid_ = 0;
  if (m_.pts_timing && g->pts > kNoTime) {
    double fr = get_frame_rate();
    if (fr <= 0) fr = 30000.0 / 1001.0;
    prediction_valid_ = 1;
    predicted_gop_pts_ = g->pts + g->total_fields * 90000.0 / (2.0 * fr);
  }
}

void DeMuxerProgram::skip_to_video_start() {
  if (late_video_start_ && current_offset().less(video_start_offset_)) goto_offset(video_start_offset_);
}

int DeMuxerProgram::before_video_start() {
  return late_video_start_ && current_offset().less(video_start_offset_) ? 1 : 0;
}

void DeMuxerProgram::truncate_at_seq_end(GOP* g) {
  if (!g->data || g->byte_length < 4) return;
  uint32_t code = 0;
  const int64_t at = utils_next_usr_start_code(0x1B7, g->data, g->byte_length, &code);
  if (!code) return;
  if (g->byte_length - at > 4) {
    const int pics = utils_count_pictures(g->data, at);
    while (pics < g->pic_count && g->pic_count > 0) g->remove_last_pic();
  }
  g->byte_length = int(at);
}

void DeMuxerProgram::blank_seq_end(GOP* g) {
  if (!g->data || g->byte_length < 4) return;
  const int n = std::min(g->byte_length + 4, g->data_capacity);
  uint32_t code = 0;
  const int64_t at = utils_next_usr_start_code(0x1B7, g->data, n, &code);
  if (code && at + 4 <= n) g->data[at + 2] = g->data[at + 3] = 0;
}

int DeMuxerProgram::seek_next_pts(int key, int* count, double* pts) {
  if (count) *count = 0;
  const FileOffset p = current_offset();
  const uint64_t limit = p.value() + 2 * uint64_t(std::max(get_gop_bytes_estimate(), 2048));
  int found = 0;
  while (current_offset().value() < limit) {
    const int r = next_ps_packet(selected_only());
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error("seek_next_pts");
      continue;
    }
    if (packet_is_of(key) && pkt_.payload_size > 0) {
      if (r & kHasPts) {
        if (pts) *pts = pkt_.pts;
        found = 1;
        break;
      }
      if (count) *count += get_payload_size();
    }
    if (!skip_packet()) break;
  }
  goto_offset(p);
  return found;
}

int DeMuxerProgram::parse_gop(GOP* g, int v, int back_step, int bounded) {
  if (!g || !src_.file) return 0;
  parse_gop_calls_.fetch_add(1, std::memory_order_relaxed);
  pp_.picture_pts = pp_.last_pic_pts = kNoTime;
  if (!v) v = st_.video_id;
  skip_to_video_start();
  FileOffset limit = src_.end_data;
  if (bounded && !g->end.greater(src_.end_data)) limit = g->end;
  stop_at_limit_ = bounded ? 1 : 0;
  stop_offset_ = limit;
  const int estimate = get_gop_bytes_estimate();
  if (!g->data) g->resize_data_buffer(std::max(estimate / 4 * 3, 65536));
  const double fr = get_frame_rate();
  const double field_ticks = fr > 0 ? 45000.0 / fr : 0.0;

  bool stepped_back = false;
restart:
  g->reset_info();
  g->start = current_offset();
  g->data_valid = 0;
  next_gop_scr_ = kNoTime;
  std::vector<Appended> appended;
  uint64_t total = 0;  // payload bytes appended in this parse
  uint64_t base = 0;   // running index of g->data[0]
  GopPictureCollector col(*this, g);  // parsed: position in g->data; have: its bytes
  int& P = col.parsed;
  bool started = false, found_next = false, pts_from_parse = false, pts_at_first = false;
  int fields_before = 0;
  int stamped_pic = 0;  // the picture g->pts belongs to
  FileOffset cur;
  enum { kEndData, kStopped } why = kEndData;

  // Sets the start and time stamp of g from the packet holding its first
  // header (at running index `at`).
  auto begin_gop = [&](uint64_t at) {
    const Appended* a = holder(appended, at);
    if (!a) return;
    const int m = int(at - a->first);
    g->start = a->offset;
    g->set_vbs_offset(m);
    first_packet_size_ = pkt_.packet_size - pkt_.start_code_offset;
    first_payload_size_ = pkt_.payload_size;
    if (a->pts > kNoTime) {
      g->pts = a->pts;
      pts_from_parse = pts_at_first = true;
      // The packet's time stamp belongs to the first picture that starts in
      // it: pictures of the previous GOP in front of the header move it.
      if (m > 9 && int(a->first - base) >= 0)
        fields_before = count_display_fields(g->data + (a->first - base), m, st_.progressive_sequence);
    }
  };

  for (;;) {
    const int r = next_ps_packet(selected_only());
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error("parse_gop");
      continue;
    }
    const bool ours = v ? pkt_.stream_id == v : (pkt_.stream_id >= 0xE0 && pkt_.stream_id <= 0xEF);
    if (!ours) {
      if (!skip_packet()) break;
      continue;
    }
    if (!v) v = pkt_.stream_id;
    const int want = pkt_.payload_size;
    if (g->data_capacity - col.have < want) {
      g->byte_length = P;
      if (!resize_gop_data_buffer(g, std::max(estimate / 4, 2 * want)) || g->data_capacity - col.have < want) {
        why = kStopped;
        cur = current_offset();
        break;
      }
    }
    cur = current_offset();
    double pts = (r & kHasPts) ? pkt_.pts : kNoTime;
    const int G = get_payload(g->data + col.have, g->data_capacity - col.have);
    Appended a{total, G, cur, pts};
    total += uint64_t(G);
    col.have += G;
    if (skip_count_) {
      if (cur.equals(skip_offset_)) {
        if (skip_count_ <= G) {
          P += skip_count_;
          a.pts = pts = kNoTime;  // it belongs to a picture of the previous GOP
        } else {
          trace("DeMuxerProgram::parse_gop (): skip record of %d bytes beyond the packet's %d\n", skip_count_, G);
        }
      }
      skip_count_ = 0;
    }
    appended.push_back(a);
    if (started && pts > kNoTime && !pts_from_parse) {
      // The first time stamp after the GOP's first picture: it belongs to
      // the next picture to start, whose display place is known once the
      // GOP is parsed.
      g->pts = pts;
      stamped_pic = g->pic_count;
      pts_from_parse = true;
    }
    for (;;) {
      int consumed = 0;
      const int st = col.parse(&consumed);
      P += consumed;
      if (st == GopPictureCollector::kSliceData) {
        if (col.slice_data_stops()) {
          why = kStopped;
          break;
        }
        if (consumed == 0 || col.have - P <= 12) break;
        continue;
      }
      if (st == 2) {
        if (r & kPackBefore) next_gop_scr_ = pkt_.scr;
        found_next = true;
        break;
      }
      if (st != 1) break;
      // The GOP's first picture.
      const uint64_t at = base + uint64_t(P);
      const Appended* h = holder(appended, at);
      const int lead = h ? int(at - h->first) : 0;
      if (back_step && !stepped_back && g->get_pic_entry(0) == 0 && lead < 8 && g->start.value() > 0) {
        // An I-picture without headers at the start of its packet: its
        // sequence header may sit in the packets before.
        stepped_back = true;
        back_step = 0;
        const int64_t back = int64_t(g->start.value()) - 5 * int64_t(std::max(pkt_.packet_size, 2048));
        goto_offset(FileOffset::from_u64(uint64_t(std::max<int64_t>(0, back))));
        goto restart;
      }
      started = true;
      begin_gop(at);
      col.start_at(P);
      base = at;
    }
    if (found_next || why == kStopped) break;
    if (G < want) {
      why = kStopped;
      break;
    }
    if (current_offset().greater_or_equal(limit)) break;
  }
  skip_count_ = 0;
  if (!started) {
    g->reset_info();
    g->byte_length = 0;
    g->end = current_offset();
    if (g->end.less_or_equal(g->start) && g->start.less(src_.end_data)) g->end = src_.end_data;
    g->no_pts = 1;
    stop_at_limit_ = bounded ? 1 : 0;
    return 0;
  }
  g->byte_length = P;
  if (found_next) {
    const uint64_t at = base + uint64_t(P);
    const Appended* h = holder(appended, at);
    g->end = h ? h->offset : cur;
    if (g->end.equals(g->start)) {
      // The next GOP begins in the packet this one began in.
      skip_offset_ = g->end;
      skip_count_ = g->get_vbs_offset() + g->byte_length;
    }
    goto_offset(g->end);
  } else {
    // The end of the data: pictures whose headers sit in the last unparsed
    // bytes belong to this GOP too.
    for (int guard = 0; why == kEndData && col.have - P > 8 && guard < 64; ++guard) {
      int consumed = 0;
      const int st = col.parse(&consumed);
      if (consumed <= 0 || st == GopPictureCollector::kNextGop || st == GopPictureCollector::kSliceData) break;
      P += consumed;
    }
    g->byte_length = std::min(col.have, g->data_capacity);
    truncate_at_seq_end(g);
    if (why == kStopped && cur.greater(g->start)) {
      g->end = cur;
      goto_offset(cur);
    } else if (current_offset().greater_or_equal(limit) && limit.less(src_.end_data)) {
      g->end = limit;
    } else {
      g->end = src_.size;
    }
  }
  g->data_valid = g->byte_length;
  if (g->pic_count > 0) g->reset_temporal_reference();
  if (pts_from_parse && g->pts > kNoTime) {
    // Back from the stamped picture's display place to the GOP's first
    // displayed field.
    const int stamped = stamped_pic < g->pic_count ? stamped_pic : 0;
    double p = g->pts - g->get_pic_display_field(stamped) * field_ticks;
    if (fields_before > 0 && stamped == 0) p = g->pts + fields_before * field_ticks;
    if (segments_.size() >= 2)
      p += segment_delta(g->start);
    else if (vro_delta_ > 0 && g->start.greater(vro_offset_))
      p += vro_delta_;
    if (p < 0) trace("ERROR (DemuxPS::parse_gop): negative PTS = %.0f\n", p);
    g->pts = p;
  }
  g->no_pts = g->pts > kNoTime ? 0 : 1;
  continue_gop_pts(g, pts_at_first ? 1 : 0);
  continue_time_code(g);
  if (g->pic_count > 0) dump_gop_pts(g);
  blank_seq_end(g);
  return g->pic_count;
}

int DeMuxerProgram::read_gop(GOP* g, int v, int first_picture_only) {
  if (!g || !src_.file) return 0;
  if (!v) v = st_.video_id;
  stop_at_limit_ = 0;
  if (!current_offset().equals(g->start)) goto_offset(g->start);
  skip_to_video_start();
  const int vbs = g->get_vbs_offset();
  int wanted = g->byte_length;
  if (first_picture_only && g->pic_count >= 2) wanted = g->get_pic_entry(1);
  if (wanted <= 0) {
    g->data_valid = 0;
    return 0;
  }
  g->resize_data_buffer(wanted + vbs + 16);
  if (g->data_capacity < wanted + vbs) wanted = std::max(0, g->data_capacity - vbs);
  int w = 0, drop = vbs;
  while (w < wanted) {
    const int r = next_ps_packet(selected_only());
    if (!(r & kPesFound)) break;
    if (r & kHeaderError) {
      step_past_header_error("read_gop");
      continue;
    }
    if (v ? pkt_.stream_id != v : (pkt_.stream_id < 0xE0 || pkt_.stream_id > 0xEF)) {
      if (!skip_packet()) break;
      continue;
    }
    const int want = pkt_.payload_size;
    // The bytes of the previous GOP come first and are dropped, also when
    // they reach over more than one packet.
    int n = get_payload(g->data + w, wanted - w + drop);
    const bool short_copy = n < want;
    if (drop > 0) {
      const int d = std::min(drop, n);
      std::memmove(g->data + w, g->data + w + d, size_t(n - d));
      n -= d;
      drop -= d;
    }
    w += n;
    if (short_copy) break;
  }
  g->data_valid = w;
  if (w < wanted) trace("DeMuxerProgram::read_gop (): %d of %d bytes loaded\n", w, wanted);
  // The time-stamp prediction stays with the last parse: the caller's GOP
  // may carry its time on the caller's base (a list's), and predicting from
  // it would shift the next GOP parsed.
  blank_seq_end(g);
  if (!current_offset().equals(g->end)) goto_offset(g->end);
  if (!first_picture_only && w > 0) g->reset_temporal_reference();
  return w;
}
