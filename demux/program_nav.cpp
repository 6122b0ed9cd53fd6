// DVD navigation packs and the cut-off segments built from them: a DVD
// title file is a row of cells whose clocks restart; each segment gets the
// delta that puts its time stamps behind the segments before it.
#include <algorithm>
#include <cstring>

#include "demux/program.h"
#include "foundation/pic_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

uint32_t be32(const uint8_t* b) { return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3]; }

int find_private2(const uint8_t* d, int from, int n) {
  StartCodeCursor c(d, n);
  c.seek(from);
  return c.find(0xBF) ? int(c.offset()) : -1;
}

constexpr uint32_t kValid = 0x80000000u;
constexpr uint32_t kOffsetMask = 0x3FFFFFFFu;

}  // namespace

void NV_PCK_Parser::reset() { *this = NV_PCK_Parser(); }

int NV_PCK_Parser::decode(const uint8_t* data, int length, FileOffset at) {
  if (!data || length < 2048) {
    trace("ERROR (NV_PCK_Parser::decode): invalid input(s)\n");
    return 0;
  }
  const int pci = find_private2(data, 0, length);
  if (pci < 0 || length - pci < 986) {
    trace("ERROR (NV_PCK_Parser::decode): no PCI packet header found\n");
    return 0;
  }
  const uint8_t* p = data + pci;
  if ((p[4] << 8 | p[5]) != 0x3D4 || p[6] != 0x00) {
    trace("ERROR (NV_PCK_Parser::decode): invalid PCI packet parameter(s)\n");
    return 0;
  }
  const int dsi = find_private2(data, pci + 986, length);
  if (dsi < 0 || length - dsi < 1024) {
    trace("ERROR (NV_PCK_Parser::decode): no DSI packet header found\n");
    return 0;
  }
  const uint8_t* d = data + dsi;
  if ((d[4] << 8 | d[5]) != 0x3FA || d[6] != 0x01) {
    trace("ERROR (NV_PCK_Parser::decode): invalid DSI packet parameter(s)\n");
    return 0;
  }
  offset = at;
  nv_pck_lbn = be32(p + 7);
  vobu_s_ptm = be32(p + 19);
  vobu_e_ptm = be32(p + 23);
  vobu_ea = be32(d + 15);
  vobu_vob_idn = d[31] << 8 | d[32];
  vob_v_s_s_ptm = be32(d + 51);
  vob_v_e_e_ptm = be32(d + 55);
  // The last unit of a cell has no next video unit: its times are read all
  // the same (they end the cell), but the pack does not decode.
  times_read = 1;
  const uint32_t fwdi_video = be32(d + 241);
  if (!(fwdi_video & kValid) || (fwdi_video & kOffsetMask) == kOffsetMask) {
    trace("ERROR (NV_PCK_Parser::decode): invalid FWDI Video flag\n");
    return 0;
  }
  forward_jump = next_vobu = fwdi_video & kOffsetMask;
  // The farthest forward entry that points somewhere (a jump of 0 would
  // stand still).
  for (int i = 0; i < 19; ++i) {
    const uint32_t e = be32(d + 245 + 4 * i);
    const uint32_t o = e & kOffsetMask;
    if ((e & kValid) && o != kOffsetMask && o > 0) {
      forward_jump = o;
      break;
    }
  }
  const uint32_t nx = be32(d + 321);
  if ((nx & kValid) && (nx & kOffsetMask) != kOffsetMask) {
    next_vobu = nx & kOffsetMask;
    if (next_vobu > forward_jump) forward_jump = next_vobu;
  }
  return 2048;
}

double DeMuxerProgram::segment_delta(FileOffset at, int which) const {
  if (segments_.size() < 2) return 0.0;
  if (which == 2) {
    for (const CutoffSegment& s : segments_)
      if (s.start.greater(at)) return s.delta;
    return segments_.back().delta;
  }
  double d = 0.0;
  for (size_t i = 1; i < segments_.size(); ++i) {
    if (segments_[i].start.greater(at)) break;
    d = segments_[i].delta;
  }
  return d;
}

void DeMuxerProgram::add_segment(FileOffset start, double st, double et, double delta) {
  CutoffSegment s;
  s.start = start;
  s.start_time = st;
  s.end_time = et;
  s.delta = delta;
  segments_.push_back(s);
}

double DeMuxerProgram::get_segment_start_pts() {
  const FileOffset at = current_offset();
  double result = 0.0;
  const int v = st_.video_id;
  for (int guard = 0; guard < 20000; ++guard) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound) || (r & kTruncated)) break;
    if (r & kHeaderError) {
      step_past_header_error("get_segment_start_pts");
      continue;
    }
    const bool video = v ? pkt_.stream_id == v : (pkt_.stream_id >= 0xE0 && pkt_.stream_id <= 0xEF);
    if (video && (r & kHasPts)) {
      if (pkt_.pts > 0) {
        if (buf_.unread < 2048) fill_bs_buffer();
        result = pkt_.pts;
        const int from = std::min(pkt_.payload_offset, buf_.unread);
        PicHdr h;
        if (h.decode(buf_.bytes.get() + buf_.rd + from, buf_.unread - from) > 0 && h.temporal_reference > 0) {
          double fr = get_frame_rate();
          if (fr <= 0) fr = 30000.0 / 1001.0;
          result = pkt_.pts - h.temporal_reference * 90000.0 / fr;
        }
      }
      break;
    }
    if (!skip_packet()) break;
  }
  goto_offset(at);
  return result;
}

int DeMuxerProgram::build_nav_segments() {
  segments_.clear();
  nav_segment_count_ = 0;
  goto_offset(FileOffset(0u));
  NV_PCK_Parser nv, first, last;
  int decoded = 0, idn = -1, empty_packs = 0;
  bool discard = false;
  for (;;) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound) || (r & kTruncated)) break;
    if (r & kHeaderError) {
      step_past_header_error("build_nav_segments");
      continue;
    }
    if (pkt_.stream_id != 0xBF || !(r & kPackBefore) || !(r & kSysHdrBefore)) {
      if (!skip_packet()) break;
      continue;
    }
    const int need = std::max(2048, pkt_.packet_size);
    if (buf_.unread < need) fill_bs_buffer();
    if (buf_.unread < need) break;
    const FileOffset pack = current_offset();
    nv.reset();
    if (!nv.decode(buf_.bytes.get() + buf_.rd, buf_.unread, pack)) {
      if (!decoded) break;
      if (nv.times_read && nv.vobu_vob_idn == idn && nv.vobu_e_ptm > last.vobu_e_ptm) last = nv;
      if (!skip_packet()) break;
      continue;
    }
    if (!decoded) first = nv;
    last = nv;
    ++decoded;
    if (segments_.empty() || nv.vobu_vob_idn != idn) {
      const double start_video = segments_.empty() ? 0.0 : get_segment_start_pts();
      if (nv.vob_v_e_e_ptm - nv.vob_v_s_s_ptm < 648000000.0)
        add_segment(pack, nv.vob_v_s_s_ptm, nv.vob_v_e_e_ptm, start_video);
      idn = nv.vobu_vob_idn;
    }
    if (nv.forward_jump >= 1) {
      const uint64_t target = pack.value() + uint64_t(nv.forward_jump) * 2048;
      if (target >= src_.end_data.value()) break;
      goto_offset(FileOffset::from_u64(target));
    } else {
      if (nv.vobu_e_ptm == 0 && ++empty_packs >= 10) {
        discard = true;
        break;
      }
      if (!skip_packet()) break;
    }
  }
  if (discard) segments_.clear();
  if (!segments_.empty()) {
    segments_.front().start_time = first.vobu_s_ptm;
    segments_.back().end_time = last.vobu_e_ptm;
    const double origin = first.vobu_s_ptm;
    double running = segments_[0].end_time - segments_[0].start_time + origin;
    segments_[0].delta = 0.0;
    for (size_t i = 1; i < segments_.size(); ++i) {
      segments_[i].delta = running - segments_[i].delta;
      running += segments_[i].end_time - segments_[i].start_time;
    }
    m_.total_length = (running - origin) / 90000.0;
    m_.pts_timing = 1;
  }
  nav_segment_count_ = int(segments_.size());
  for (const CutoffSegment& x : segments_)
    trace("PS::build_nav_segments (): segment at %.0f: %.0f-%.0f delta %.0f\n", x.start.to_double(), x.start_time,
          x.end_time, x.delta);
  goto_offset(FileOffset(0u));
  return nav_segment_count_;
}
