// GOPs of a transport stream: the video PID's payload is gathered packet by
// packet and run through the shared picture parser. A GOP starts in the
// packet that holds its first header; the payload bytes of that packet in
// front of the header (the vbs offset) still belong to the GOP before.
#include <algorithm>
#include <cstring>
#include <vector>

#include "demux/gop_collector.h"
#include "demux/transport_demuxer.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// Payload bytes gathered before the picture parser looks at them again.
constexpr int kParseChunk = 4096;

// Where a packet's payload landed in the GOP data. The position may be
// negative: bytes in front of the GOP's first header were dropped.
struct PacketMark {
  uint64_t offset;
  int data_pos;
};

struct PesMark {
  int data_pos;  // first payload byte of the PES
  double pts;
};

// The packet that holds data byte pos: the last one starting at or before it.
const PacketMark* packet_holding(const std::vector<PacketMark>& marks, int pos) {
  const PacketMark* found = nullptr;
  for (const PacketMark& m : marks) {
    if (m.data_pos > pos) break;
    found = &m;
  }
  return found;
}

}  // namespace

int DeMuxerTransport::pick_video_pid(const GOP* g, int id) {
  const int want_pid = g ? g->pid : 0;
  if ((id && id != st_.video_id) || video_pid_ == kNoPid || (want_pid && want_pid != video_pid_)) {
    for (const ESData& r : st_.es_data) {
      if (!r.is_video() || (id && r.stream_id != id) || (want_pid && r.pid != want_pid)) continue;
      if (r.pid != video_pid_) {
        video_pid_ = r.pid;
        if (id) st_.video_id = id;
      }
      break;
    }
  }
  return video_pid_;
}

// The picture parser judges pictures by the sequence header it holds: that
// of the stream being walked, not of another program's video.
void DeMuxerTransport::use_sequence_header_of(int pid) {
  if (pid == seq_pid_) return;
  const int i = pid_index(pid);
  const SeqHdr* s = i >= 0 ? st_.es_data[size_t(i)].get_video_header() : nullptr;
  if (s) {
    st_.seq = *s;
    st_.video_version = s->seq_ext ? 3 : 2;
    st_.progressive_sequence = s->get_progressive_sequence();
  } else {
    st_.video_version = 0;  // the first sequence header met tells
  }
  seq_pid_ = pid;
}

int DeMuxerTransport::parse_gop(GOP* g, int id, int /*back_step*/, int bounded) {
  if (!g || !src_.file) return 0;
  parse_gop_calls_.fetch_add(1, std::memory_order_relaxed);
  // The video PID to walk: the GOP's own when it names one.
  int vpid = video_pid_;
  if (g->pid || id || vpid == kNoPid) vpid = pick_video_pid(g, id);
  if (g->pid && vpid != g->pid) vpid = g->pid;  // a PID being examined before it has a record
  if (vpid == kNoPid) return 0;
  use_sequence_header_of(vpid);
  FileOffset limit = src_.end_data;
  if (bounded && g->end.less(limit) && g->end.greater(current_offset())) limit = g->end;
  const int estimate = get_gop_bytes_estimate();
  if (!g->data) g->resize_data_buffer(std::max(estimate / 4 * 3, 65536));
  g->reset_info();
  g->pts = kNoTime;
  g->data_valid = 0;
  g->pid = vpid;
  pp_.picture_pts = pp_.last_pic_pts = kNoTime;

  const FileOffset first_packet = current_offset();
  int skip = 0;
  if (next_gop_consumed_ >= 0 && next_gop_packet_.equals(first_packet)) skip = next_gop_consumed_;
  next_gop_consumed_ = -1;

  std::vector<PacketMark> marks;
  std::vector<PesMark> pes_marks;
  marks.reserve(4096);
  GopPictureCollector col(*this, g);
  int& have = col.have;
  int& parsed = col.parsed;
  int fed = 0, state = 0;
  bool reached_eod = false, gop_found = false;
  auto run_parser = [&]() {
    int consumed = 0;
    state = col.parse_moving(&consumed);
    if (state == GopPictureCollector::kSliceData && col.slice_data_stops()) {
      parsed += consumed;
      return false;
    }
    if (state == GopPictureCollector::kFirstPicture && !gop_found) {
      // The GOP begins at its first header: drop what came before it.
      const int cut = parsed + consumed;
      col.start_at(cut);
      for (PacketMark& m : marks) m.data_pos -= cut;
      for (PesMark& m : pes_marks) m.data_pos -= cut;
      gop_found = true;
    } else {
      parsed += consumed;
    }
    fed = have;
    return true;
  };

  while (state != 2) {
    const FileOffset pos = current_offset();
    if (pos.greater_or_equal(limit)) {
      reached_eod = pos.greater_or_equal(src_.end_data);
      break;
    }
    if (read_packet()) {
      if (!step_over_bad_packet()) {
        reached_eod = true;
        break;
      }
      continue;
    }
    if (packet_.PID != vpid || packet_.payload_length <= 0) {
      advance_packet();
      continue;
    }
    double pts = kNoTime;
    // A packet that only finishes a PES header cut by the packet before
    // belongs to that packet: a read from there skips the header whole.
    const bool header_rest = !packet_.payload_unit_start_indicator && header_skip_ > 0 && header_skip_pid_ == vpid;
    if (packet_.payload_unit_start_indicator) {
      if (decode_pes_header()) {
        trace("DeMuxerTransport::parse_gop (): pherr at %.0f\n", pos.to_double());
        advance_packet();
        continue;
      }
      if (pes_.pts_flag) pts = pes_.pts;
    }
    const PayloadPieces pieces = payload_pieces();
    const int total = pieces.total();
    const int drop = std::min(skip, total);  // bytes of the GOP before, when resuming
    skip -= drop;
    if (g->data_capacity - have < total) {
      if (!resize_gop_data_buffer(g, std::max(estimate / 4, 2 * total))) break;
    }
    if (header_rest && !marks.empty())
      marks.back().data_pos -= drop;
    else
      marks.push_back({pos.value(), have - drop});
    if (pts > kNoTime) pes_marks.push_back({have - drop + std::min(pes_.start_offset, total), pts});
    int dropped = 0;
    for (int k = 0; k < pieces.count; ++k) {
      int from = 0;
      if (dropped < drop) {
        from = std::min(drop - dropped, pieces.n[k]);
        dropped += from;
      }
      std::memcpy(g->data + have, pieces.p[k] + from, size_t(pieces.n[k] - from));
      have += pieces.n[k] - from;
    }
    advance_packet();
    if (have - fed >= kParseChunk && !run_parser()) break;
  }
  if (state != 2 && have - parsed > 4 && col.slice_findings() < 5) {
    // The data ended: look at what is left.
    run_parser();
    if (state != 2 && have - parsed > 12) run_parser();
  }

  const PacketMark* first = packet_holding(marks, 0);
  g->start = first ? FileOffset::from_u64(first->offset) : first_packet;
  g->vbs_offset = first ? -first->data_pos : 0;
  if (state == 2) {
    g->byte_length = parsed;
    const PacketMark* next = packet_holding(marks, parsed);
    if (next) {
      g->end = FileOffset::from_u64(next->offset);
      next_gop_packet_ = g->end;
      next_gop_consumed_ = parsed - next->data_pos;
    } else {
      g->end = current_offset();
    }
    seek_exact(g->end);
  } else {
    g->byte_length = have;
    col.drop_unfinished_last_picture();
    // Only the end of the data makes this the last GOP; a parse stopped by
    // damage or a limit lets the next one go on behind it.
    g->end = reached_eod ? src_.size : current_offset();
  }
  if (!gop_found) g->pic_count = 0;
  g->data_valid = g->byte_length;
  if (g->pic_count > 0) {
    const int pic0 = g->get_pic_entry(0);
    for (const PesMark& m : pes_marks) {
      if (m.data_pos > pic0) break;
      if (m.data_pos >= 0) g->pts = m.pts;
    }
    if (g->pts > kNoTime) {
      const double fr = get_frame_rate();
      g->pts -= g->get_pic_display_field(0) * 45000.0 / (fr > 0 ? fr : 25.0);
      g->pts += lookup_offset_table(g->start);
    }
    g->reset_temporal_reference();
    dump_gop_pts(g);
  }
  g->no_pts = g->pts > kNoTime ? 0 : 1;
  return g->pic_count;
}

int DeMuxerTransport::read_gop(GOP* g, int id, int first_picture_only) {
  if (!g || !src_.file) return 0;
  int vpid = video_pid_;
  if (g->pid || id || vpid == kNoPid) vpid = pick_video_pid(g, id);
  if (g->pid && vpid != g->pid) vpid = g->pid;
  if (vpid == kNoPid || g->byte_length <= 0) {
    g->data_valid = 0;
    return 0;
  }
  if (!current_offset().equals(g->start)) seek_exact(g->start);
  int want = g->byte_length;
  if (first_picture_only && g->pic_count > 1) want = std::min(want, g->get_pic_entry(1));
  if (g->data_capacity < want) g->resize_data_buffer(want);
  if (g->data_capacity < want) want = g->data_capacity;
  int drop = g->vbs_offset;  // removed across as many packets as it spans
  int have = 0;
  while (have < want) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    if (packet_.PID != vpid || packet_.payload_length <= 0) {
      advance_packet();
      continue;
    }
    if (packet_.payload_unit_start_indicator && decode_pes_header()) {
      trace("DeMuxerTransport::read_gop (): pherr at %.0f\n", current_offset().to_double());
      advance_packet();
      continue;
    }
    const PayloadPieces pieces = payload_pieces();
    for (int k = 0; k < pieces.count && have < want; ++k) {
      int from = 0;
      if (drop > 0) {
        from = std::min(drop, pieces.n[k]);
        drop -= from;
      }
      const int n = std::min(pieces.n[k] - from, want - have);
      std::memcpy(g->data + have, pieces.p[k] + from, size_t(n));
      have += n;
    }
    advance_packet();
  }
  g->data_valid = have;
  if (have < want) trace("DeMuxerTransport::read_gop (): %d of %d bytes\n", have, want);
  if (!first_picture_only) g->reset_temporal_reference();
  if (!current_offset().equals(g->end)) seek_exact(g->end);
  return have;
}
