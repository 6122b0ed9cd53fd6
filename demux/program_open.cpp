// Opening a program stream: which elementary streams the start of the file
// holds (system headers, the stream map, the packets themselves), one
// record per stream, the default video and audio stream, and the DVD
// analyses that put cells on one time line.
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/program.h"
#include "foundation/ps_map.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

bool has_extension(const char* name, const char* ext) {
  const char* dot = name ? std::strrchr(name, '.') : nullptr;
  return dot && strcasecmp(dot, ext) == 0;
}

bool contains(const std::vector<int>& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

}  // namespace

DeMuxerProgram::DeMuxerProgram() { reset_state(); }

DeMuxerProgram::DeMuxerProgram(const char* name, int* error, int stream_type, int bit_rate, int skip_segments)
    : DeMuxer(name, nullptr, stream_type, bit_rate) {
  reset_state();
  skip_segments_ = skip_segments;
  int e = 1;
  if (src_.file && !src_.name.empty() && buf_.bytes && st_.type >= 4 && st_.type <= 7) e = 0;
  if (!e) {
    type_mpeg1_ = st_.type == 4 || st_.type == 5;
    audio_.sec_per_byte = st_.bit_rate > 0 ? 8.0 / st_.bit_rate : 8.0 / 6000000.0;
    e = open_source();
  }
  if (!e) {
    if (segments_.empty()) {
      find_bs_length();
      // Time stamps that disagree with the length: one join of two
      // recordings is put on one time line.
      pts_inconsistent_ = m_.tc_inconsistent || pts_disagree_with_length();
      if (pts_inconsistent_ && check_cutoff(8) == 1 && check(FileOffset(0u)) == 0 && vro_delta_ > 0) {
        const GOP& last = m_.last_gop;
        if (last.pts > kNoTime && m_.video_start_pts > kNoTime)
          m_.total_length = (last.pts - m_.video_start_pts) / 90000.0 + last.total_fields * 0.5 / get_frame_rate();
      } else if (get_video_es_count() > 0 && !count_across_tc_restarts()) {
        length_from_pts();
      }
    }
    goto_offset(FileOffset(0u));
  }
  if (error) *error = e;
}

// The first and last GOP's time stamps span far less (or far more) than
// the length the bit rate gives: the clock restarted somewhere.
bool DeMuxerProgram::pts_disagree_with_length() {
  const GOP& last = m_.last_gop;
  const double br = m_.bit_rate_length;
  if (m_.video_start_pts <= kNoTime || last.pts <= kNoTime || br <= 0) return false;
  const double by_pts = (last.pts - m_.video_start_pts) / 90000.0 + last.total_fields * 0.5 / get_frame_rate();
  return by_pts <= 0 || by_pts * 3 < br || br * 3 < by_pts;
}

// Pieces joined whose time codes start again (or jump far ahead): the
// codes, continued across each break, count the pictures one by one as a
// decoder shows them, where time stamps may jump by a fraction of a frame
// at a join or start again. They number the GOPs and give the length.
// False when the codes have no break or none could be placed.
bool DeMuxerProgram::count_across_tc_restarts() {
  if (!m_.tc_present || late_video_start_ || m_.last_gop.pic_count <= 0) return false;
  GOP first;
  std::vector<LGOP> samples;
  const bool breaks = m_.tc_inconsistent ||
                      (parse_gop_with_tc(FileOffset(0u), &first) && sampled_tc_goes_back(first, m_.last_gop, &samples));
  goto_offset(FileOffset(0u));
  if (!breaks || check_timecode() != 0) return false;
  m_.tc_inconsistent = 0;
  fit_last_gop_field();
  return true;
}

void DeMuxerProgram::length_from_pts() {
  const GOP& last = m_.last_gop;
  const double fr = get_frame_rate();
  const uint64_t size = src_.size.value();
  // Video read from a later GOP (audio that starts late) keeps its own
  // length.
  if (fr <= 0 || last.pic_count <= 0 || size == 0 || late_video_start_) return;
  // Pairs of neighbouring GOPs sampled across the file: do the stamps rise
  // with the offset, and how many seconds does a byte hold where they do?
  constexpr int kSamples = 12;
  const FileOffset keep = current_offset();
  double seconds = 0, bytes = 0, prev = m_.video_start_pts;
  bool rising = m_.video_start_pts > kNoTime && last.pts > kNoTime;
  for (int i = 1; i < kSamples; ++i) {
    goto_offset(FileOffset::from_u64(size / kSamples * uint64_t(i)));
    GOP a, b;
    if (parse_gop(&a, 0, 0, 0) <= 0) continue;
    if (a.pts <= kNoTime) continue;
    if (a.pts < prev) rising = false;
    prev = a.pts;
    // A few GOPs on from a, up to a restart (which says nothing about the
    // rate).
    GOP from = a;
    for (int k = 0; k < 4; ++k) {
      goto_offset(from.end);
      if (parse_gop(&b, 0, 0, 0) <= 0 || b.pts <= kNoTime) break;
      const double dp = (b.pts - from.pts) / 90000.0, db = double(b.start.value()) - double(from.start.value());
      if (!(dp > 0 && dp < 10 && db > 0)) break;
      seconds += dp;
      bytes += db;
      from = b;
    }
  }
  goto_offset(keep);
  if (rising && last.pts < prev) rising = false;
  const double by_rate = bytes > 0 ? double(size) * seconds / bytes : 0.0;
  const double by_pts = rising ? (last.pts - m_.video_start_pts) / 90000.0 + last.total_fields * 0.5 / fr : 0.0;
  // One time line: its stamps give the length, unless their span is far
  // from what the rate says (a clock that jumps ahead between recordings).
  // Clocks that restart: the sampled rate over the whole file.
  double length = 0;
  if (by_pts > 0 && (by_rate <= 0 || (by_pts < 2 * by_rate && by_rate < 2 * by_pts))) length = by_pts;
  else if (by_rate > 0) length = by_rate;
  if (length <= 0) return;
  m_.total_length = length;
  fit_last_gop_field();
}

DeMuxerProgram::DeMuxerProgram(const DeMuxerProgram& o) : DeMuxer(o) {
  pkt_ = o.pkt_;
  parse_sub_streams_ = o.parse_sub_streams_;
  type_mpeg1_ = o.type_mpeg1_;
  wanted_ = o.wanted_;
  std::copy(o.packet_count_, o.packet_count_ + 2, packet_count_);
  std::copy(o.packet_bytes_, o.packet_bytes_ + 2, packet_bytes_);
  std::copy(o.payload_bytes_, o.payload_bytes_ + 2, payload_bytes_);
  ac3_count_ = o.ac3_count_;
  lpcm_count_ = o.lpcm_count_;
  segments_ = o.segments_;
  nav_segment_count_ = o.nav_segment_count_;
  skip_segments_ = o.skip_segments_;
  late_video_start_ = o.late_video_start_;
  video_start_offset_ = o.video_start_offset_;
  vro_offset_ = o.vro_offset_;
  vro_delta_ = o.vro_delta_;
  pts_inconsistent_ = o.pts_inconsistent_;
  sys_hdr_ = o.sys_hdr_;
  // The read position of a copy is its own: no packet or GOP carries over.
  stop_at_limit_ = 0;
  stop_offset_.zero();
}

DeMuxerProgram::~DeMuxerProgram() = default;

void DeMuxerProgram::reset_state() {
  taken_keys_.clear();
  failed_keys_.clear();
  pkt_ = PacketState();
  pkt_.pts = 0.0;
  parse_sub_streams_ = 0;
  first_packet_size_ = first_payload_size_ = 0;
  largest_audio_payload_ = largest_audio_packet_ = 0;
  span_pack_scr_ = next_gop_scr_ = kNoTime;
  segments_.clear();
  nav_segment_count_ = 0;
  stop_at_limit_ = 0;
  stop_offset_.zero();
  last_span_pts_ = 0.0;
  last_span_end_.zero();
  skip_segments_ = 0;
  late_video_start_ = 0;
  video_start_offset_.zero();
  skip_count_ = 0;
  reset_pts_continuity();
}

int DeMuxerProgram::is_same_audio_stream(const FrmHdr* h) {
  if (!h || nav_segment_count_ < 2) return 0;
  return st_.frm_hdr.same_stream(*h) == 0 ? 1 : 0;
}

// ---- stream discovery ------------------------------------------------------------

int DeMuxerProgram::open_source() {
  if (st_.type < 4 || st_.type > 7) return 1;
  int64_t budget = st_.bit_rate > 0 ? 2 * int64_t(st_.bit_rate / 8) : 0x80000;
  if (budget < 0x10000) budget = 0x10000;
  const int64_t half = budget / 2;
  NV_PCK_Parser nv;
  const bool vob = has_extension(src_.name.c_str(), ".VOB");
  int nav_packs = 0;
  parse_sub_streams_ = 0;
  st_.es_data.clear();
  taken_keys_.clear();
  failed_keys_.clear();
  goto_offset(FileOffset(0u));
  std::vector<int> registered;
  std::vector<int> found;
  int sources = 0;
  bool stop_past_half = false;
  long packets = 0;
  decode_system_headers_ = 1;
  for (;;) {
    sys_hdr_.clear();
    const int r = next_ps_packet(0);
    if (!r) break;
    if ((r & kSysHdrBefore) && sys_hdr_.stream_count > 0) {
      bool listed = false;
      for (int i = 0; i < sys_hdr_.stream_count; ++i) {
        const int id = sys_hdr_.get_stream_id(i);
        if (id >= 0xC0 && id <= 0xEF) {
          listed = true;
          if (!contains(registered, id)) registered.push_back(id);
        }
      }
      if (listed && sources == 0) ++sources;
      announced_streams_ = sys_hdr_.stream_count;
      announced_av_ = 0;
      for (int i = 0; i < sys_hdr_.stream_count; ++i)
        if (sys_hdr_.get_stream_id(i) >= 0xC0 && sys_hdr_.get_stream_id(i) <= 0xEF) ++announced_av_;
    }
    if ((r & kPesFound) && (r & kPackBefore) && pkt_.stream_id == 0xBF) {
      if (buf_.unread < 2048) fill_bs_buffer();
      if (nv.decode(buf_.bytes.get() + buf_.rd, buf_.unread, pkt_.packet_offset) &&
          (vob || nv.vob_v_e_e_ptm > nv.vob_v_s_s_ptm))
        ++nav_packs;
    }
    if (r & kTruncated) break;
    if (!(r & kPesFound)) continue;
    if (r & kHeaderError) {
      step_past_header_error("open_source");
      continue;
    }
    const int id = pkt_.stream_id;
    if (id == 0xBC) {
      if (buf_.unread < pkt_.packet_size) fill_bs_buffer();
      PSPSM map;
      if (map.decode(buf_.bytes.get() + buf_.rd + pkt_.start_code_offset,
                     std::min(buf_.unread - pkt_.start_code_offset, pkt_.packet_size - pkt_.start_code_offset)) == 0) {
        for (int i = 0; i < map.entry_count; ++i)
          if (!contains(registered, map.stream_ids[size_t(i)])) registered.push_back(map.stream_ids[size_t(i)]);
        ++sources;
      }
    } else {
      int key = 0;
      if (id >= 0xC0 && id <= 0xEF) key = id;
      else if (id == 0xBD) key = detect_sub_stream();
      if (key && !contains(found, key) && found.size() < 64) {
        if (add_es_data(key, int(found.size()))) {
          found.push_back(key);
          if (sources && found.size() == registered.size()) stop_past_half = true;
        }
      }
    }
    if (!skip_packet()) break;
    ++packets;
    const int64_t pos = int64_t(current_offset().value());
    if (stop_past_half && pos > half) break;
    if (packets >= 200 && (pos > half || (found.size() >= registered.size() && registered.size() > 1))) break;
    if (pos >= budget) {
      if (budget >= 0x100000) break;
      budget = 0x100000;
    }
  }
  decode_system_headers_ = 0;
  // A DVD file whose start holds fewer streams than its system header
  // announces: private stream 1 sub-streams from the middle of the file.
  bool extended = false;
  if (announced_streams_ == 4 && vob && (found.size() == 1 || int(found.size()) < announced_av_))
    extended = extended_dvd_search(announced_av_, &found);
  if (st_.es_data.empty()) {
    trace("ERROR (PS::open_source): no elementary stream found in <%s>\n", src_.name.c_str());
    return 1;
  }
  select_default_es();
  select_audio_key(0);
  std::vector<ESData>& es = st_.es_data;
  // Among AC-3 streams the lowest sub-stream id is the default.
  if (es.size() > 2) {
    const ESData* sel = audio_record();
    if (sel && sel->ac3) {
      int best = 0, seen = 0;
      for (const ESData& r : es) {
        if (!r.ac3 || ++seen > 8) continue;
        if (!best || r.stream_id < best) best = r.stream_id;
      }
      if (best && best != sel->stream_id) select_audio_key(best);
    }
  }
  if (!skip_segments_ && !type_mpeg1_) {
    if (nav_packs > 0)
      build_nav_segments();
    else if (has_extension(src_.name.c_str(), ".VRO") || has_extension(src_.name.c_str(), ".CHECK"))
      build_vro_segments();
  }
  if (st_.vbr) mark_video_vbr();
  // Among MPEG audio streams a lower id that is at least as good wins.
  if (es.size() > 2 && get_audio_es_count() >= 2) {
    const ESData* cur = audio_record();
    if (cur && cur->kind == ES_KIND_MPEG_AUDIO) {
      const ESData* best = cur;
      for (const ESData& r : es) {
        if (r.kind != ES_KIND_MPEG_AUDIO || &r == cur || r.stream_id >= best->stream_id) continue;
        if (r.channels >= best->channels && r.sample_rate >= best->sample_rate &&
            r.audio_bit_rate >= best->audio_bit_rate)
          best = &r;
      }
      if (best != cur) select_audio_key(best->stream_id);
    }
  }
  find_late_video_start();
  goto_offset(FileOffset(0u));
  if (extended) set_audio_1st_pts();
  goto_offset(FileOffset(0u));
  skip_count_ = 0;
  reset_pts_continuity();
  return 0;
}

const ESData* DeMuxerProgram::audio_record() const {
  for (const ESData& r : st_.es_data)
    if (r.is_audio() && r.stream_id == st_.audio_id) return &r;
  return nullptr;
}

// Audio of a program stream is named by its key (PES stream id or
// sub-stream id), also for AC-3.
void DeMuxerProgram::select_audio_key(int key) {
  for (const ESData& r : st_.es_data) {
    if (!r.is_audio() || (key && r.stream_id != key)) continue;
    if (r.lpcm) {
      st_.audio_info = AudioInfo();
      st_.audio_info.sample_rate = r.sample_rate;
      st_.audio_info.channels = r.channels;
      st_.audio_info.bit_rate = r.bit_rate;
    } else {
      set_audio_info(r.stream_id, 0);
    }
    st_.audio_id = r.stream_id;
    st_.audio_info.stream_id = r.stream_id;
    if (r.get_audio_header()) st_.frm_hdr = *r.get_audio_header();
    if (r.get_ac3_header()) st_.ac3_hdr = *r.get_ac3_header();
    st_.ac3 = r.ac3;
    const double sr = r.sample_rate > 0 ? r.sample_rate : 48000;
    if (r.ac3)
      audio_.frame_ticks = 1536.0 / sr * 90000.0;
    else if (r.get_audio_header() && r.get_audio_header()->valid)
      audio_.frame_ticks = double(r.get_audio_header()->samples_per_frame()) / sr * 90000.0;
    return;
  }
}

int DeMuxerProgram::select_audio_es(int id, int pid) {
  const int prev = st_.audio_id;
  (void)pid;
  for (const ESData& r : st_.es_data)
    if (r.is_audio() && r.stream_id == id) {
      select_audio_key(id);
      return prev;
    }
  return prev;
}

int DeMuxerProgram::add_es_data(int key, int index) {
  (void)index;
  // A key whose filler failed is tried again every 8th packet of it: a
  // damaged start does not lose the stream (the scan budget bounds the work).
  auto failed = std::find_if(failed_keys_.begin(), failed_keys_.end(), [&](const std::pair<int, int>& f) {
    return f.first == key;
  });
  if (failed != failed_keys_.end()) {
    if (++failed->second % 8 != 0) return 0;
  } else if (contains(taken_keys_, key)) {
    return 0;
  }
  if (!contains(taken_keys_, key) && taken_keys_.size() < 16) taken_keys_.push_back(key);
  for (ESData& r : st_.es_data)
    if (r.stream_id == key) {
      r.max_packet_size = std::max(r.max_packet_size, pkt_.packet_size);
      r.max_payload_size = std::max(r.max_payload_size, pkt_.payload_size);
      return 0;
    }
  if (buf_.unread < pkt_.packet_size) fill_bs_buffer();
  if (buf_.unread < pkt_.packet_size) {
    trace("DeMuxerProgram::add_es_data (): not enough data\n");
    return 0;
  }
  ESData r;
  int ok = 0;
  const uint8_t* pay = buf_.bytes.get() + buf_.rd + pkt_.payload_offset;
  if (key >= 0xA0 && key <= 0xA7) {
    ok = get_pcm_es_data(&r, key, pay, pkt_.payload_size);
    lpcm_count_ += ok;
    parse_sub_streams_ += ok;
  } else if ((key >= 0x80 && key <= 0x87) || (key == 0xBD && pkt_.raw_ac3)) {
    ok = get_ac3_es_data(&r, key);
    if (!ok) pkt_.raw_ac3 = 0;
    ac3_count_ += ok;
    parse_sub_streams_ += ok;
  } else if (key >= 0xC0 && key <= 0xDF) {
    ok = get_mpeg_audio_es_data(&r, key);
  } else if (key >= 0xE0 && key <= 0xEF) {
    ok = get_video_es_data(&r, key);
  } else {
    trace("ERROR (PS::add_es_data): invalid es_id = 0x%x\n", key);
  }
  if (!ok) {
    if (failed == failed_keys_.end()) failed_keys_.push_back({key, 0});
    return 0;
  }
  if (failed != failed_keys_.end()) failed_keys_.erase(failed);
  r.max_packet_size = pkt_.packet_size;
  r.max_payload_size = pkt_.payload_size;
  st_.es_data.push_back(r);
  return 1;
}

// Payload bytes of one stream from the current packet on, at most max.
std::vector<uint8_t> DeMuxerProgram::gather_payloads(int key, int max) {
  std::vector<uint8_t> out;
  const FileOffset at = current_offset();
  const PacketState saved = pkt_;
  const int keep_stop = stop_at_limit_;
  stop_at_limit_ = 0;
  int packets = 0;
  while (int(out.size()) < max && packets < 400) {
    const int r = packets == 0 ? int(pkt_.flags) : next_ps_packet(0);
    if (!(r & kPesFound)) break;
    ++packets;
    if (r & kHeaderError) {
      step_past_header_error("add_es_data");
      continue;
    }
    if (pkt_.stream_id == 0xBD && packets > 1) {
      const int keep = parse_sub_streams_;
      parse_sub_streams_ = 1;
      detect_sub_stream();
      parse_sub_streams_ = keep;
    }
    const bool ours = pkt_.stream_id == key || (pkt_.stream_id == 0xBD && pkt_.sub_stream_id == key);
    if (!ours || get_payload_size() <= 0) {
      if (!skip_packet()) break;
      continue;
    }
    const size_t was = out.size();
    out.resize(was + size_t(get_payload_size()));
    const int n = get_payload(out.data() + was, get_payload_size());
    out.resize(was + size_t(std::max(n, 0)));
    if (n <= 0) break;
  }
  stop_at_limit_ = keep_stop;
  goto_offset(at);
  pkt_ = saved;
  return out;
}

int DeMuxerProgram::get_mpeg_audio_es_data(ESData* r, int id) {
  std::vector<uint8_t> bytes = gather_payloads(id, 16128);
  FrmHdr h;
  const int n = int(bytes.size());
  if (n < 4) return 0;
  const int at = h.find_sync(bytes.data(), n);
  if (!h.valid || at < 0 || at >= n) {
    trace("DeMuxerProgram::add_es_data (): no MPEG audio frame in stream 0x%x\n", id);
    return 0;
  }
  r->set_audio_header(h);
  r->stream_id = id;
  r->bit_rate = h.valid && h.bit_rate > 0 ? h.bit_rate : 224000;
  if (!st_.frm_hdr.valid) st_.frm_hdr = h;
  return 1;
}

int DeMuxerProgram::get_ac3_es_data(ESData* r, int key) {
  // The sub-stream header names the key; raw AC-3 rides in 0xBD itself.
  const int keep = parse_sub_streams_;
  parse_sub_streams_ = 1;
  std::vector<uint8_t> bytes = gather_payloads(key, 16128);
  parse_sub_streams_ = keep;
  const int n = int(bytes.size());
  if (n < 8) return 0;
  AC3FrmHdr h;
  int at = 0;
  for (int tries = 0; tries < 8 && at < n - 8; ++tries) {
    h.reset();
    at += h.decode(bytes.data() + at, n - at, 0);
    if (!h.valid) return 0;
    if (ac3_check_frames(&h, bytes.data() + at, n - at, 2, 0)) break;
    at += 2;
  }
  if (!h.valid) return 0;
  r->set_ac3_header(h);
  r->stream_id = key;
  r->bit_rate = h.bit_rate;
  return 1;
}

int DeMuxerProgram::get_video_es_data(ESData* r, int id) {
  const FileOffset at = current_offset();
  const PacketState saved = pkt_;
  const int keep_stop = stop_at_limit_;
  GOP g;
  const int pics = parse_gop(&g, id, 0, 0);
  stop_at_limit_ = keep_stop;
  skip_count_ = 0;
  reset_pts_continuity();
  int ok = 0;
  if (pics <= 0) {
    trace("DeMuxerProgram::get_video_es_data (): parse_gop () failed\n");
  } else if (!st_.seq.invalid || find_sequence_header()) {
    r->kind = st_.seq.seq_ext ? ES_KIND_MPEG2_VIDEO : ES_KIND_MPEG1_VIDEO;
    r->set_video_header(st_.seq);
    r->kind = st_.seq.seq_ext ? ES_KIND_MPEG2_VIDEO : ES_KIND_MPEG1_VIDEO;
    r->stream_id = id;
    r->bit_rate = st_.seq.get_bit_rate();
    if (g.byte_length >= 4096) r->drop_frame = (g.time_code >> 24) & 1;
    ok = 1;
  } else {
    trace("DeMuxerProgram::get_video_es_data (): not enough data\n");
  }
  goto_offset(at);
  pkt_ = saved;
  return ok;
}

// A sequence header anywhere in the first 50 MB, read block by block.
bool DeMuxerProgram::find_sequence_header() {
  const uint64_t end = std::min<uint64_t>(src_.size.value(), 52428800ull);
  std::vector<uint8_t> b(16384 + 256);
  for (uint64_t at = 0; at < end; at += 16384) {
    const int n = read_at(FileOffset::from_u64(at), b.data(), int(std::min<uint64_t>(b.size(), end - at)));
    if (n < 12) break;
    StartCodeCursor c(b.data(), n);
    while (c.find(0xB3) && c.offset() + 12 <= n) {
      const int i = int(c.offset());
      SeqHdr s;
      if (s.decode(b.data() + i, n - i) > 0 && !s.invalid) {
        st_.seq = s;
        return true;
      }
    }
  }
  return false;
}

bool DeMuxerProgram::extended_dvd_search(int wanted_total, std::vector<int>* found) {
  goto_offset(FileOffset::from_u64(src_.size.value() / 2));
  int packets = 0, since_first = -1;
  bool added = false;
  while (packets < 5000 && found->size() < 64) {
    const int r = next_ps_packet(0);
    if (!(r & kPesFound) || (r & kTruncated)) break;
    ++packets;
    if (r & kHeaderError) {
      step_past_header_error("open_source");
      continue;
    }
    if (pkt_.stream_id == 0xBD) {
      const int key = detect_sub_stream();
      if (key && key != 0xBD && !contains(*found, key) && add_es_data(key, int(found->size()))) {
        found->push_back(key);
        added = true;
        if (since_first < 0) since_first = 0;
      }
    }
    if (!skip_packet()) break;
    if (since_first >= 0 && ++since_first >= 500) break;
    if (since_first >= 0 && int(found->size()) >= wanted_total) break;
  }
  return added;
}

// Video that starts well before the audio: reading starts at the GOP in
// which the audio begins.
void DeMuxerProgram::find_late_video_start() {
  late_video_start_ = 0;
  video_start_offset_.zero();
  if (get_video_es_count() < 1 || get_audio_es_count() < 1) return;
  ESBuffer span(8192);
  span.stream_id = st_.audio_id;
  goto_offset(FileOffset(0u));
  const double a = load_abs(&span, 2048, 0);
  if (span.bytes <= 0 || span.start.value() == 0 || a <= kNoTime) return;
  goto_offset(FileOffset(0u));
  GOP g;
  if (parse_gop(&g, st_.video_id, 0, 0) <= 0 || !g.has_pts() || !g.end.less(span.end)) return;
  const double g0 = g.pts;
  double r = get_frame_rate();
  if (r <= 0) r = 30000.0 / 1001.0;
  const bool near = std::fabs(a - g0) <= 180000.0;
  if (near && !(span_pack_scr_ > kNoTime && next_gop_scr_ > kNoTime && next_gop_scr_ < span_pack_scr_)) return;
  int fields = 0;
  for (int guard = 0; guard < 10000 && g.end.less(span.start); ++guard) {
    fields += g.total_fields;
    goto_offset(g.end);
    GOP next;
    if (parse_gop(&next, st_.video_id, 0, 0) <= 0) break;
    g = next;
    if (g.pts + g.total_fields * 90000.0 / (2 * r) >= a) break;
  }
  if (near || g.pts - g0 > (fields + 30) * 90000.0 / (2 * r)) {
    late_video_start_ = 1;
    video_start_offset_ = g.start;
  }
  reset_pts_continuity();
  skip_count_ = 0;
}

// The first audio time of the file, and a reset of the clock near its start
// put on one time line.
void DeMuxerProgram::set_audio_1st_pts() {
  ESBuffer span(16384);
  span.stream_id = st_.audio_id;
  span.end = src_.size;
  goto_offset(FileOffset(0u));
  const double t = load_abs(&span, 0, 0);
  if (span.bytes <= 0) return;
  audio_.start_pts = t;
  pts_inconsistent_ = 1;
  check(span.end);
  if (vro_delta_ <= 0) return;
  if (get_total_length() * 90000.0 - vro_delta_ > vro_delta_) {
    // A reset in the first half: the video after it may have other headers.
    goto_offset(span.end);
    for (int guard = 0; guard < 2000; ++guard) {
      const int r = next_ps_packet(0);
      if (!(r & kPesFound)) return;
      if (pkt_.stream_id == st_.video_id && !(r & kHeaderError)) break;
      if (!skip_packet()) return;
    }
    ESData fresh;
    if (!get_video_es_data(&fresh, st_.video_id) || !fresh.get_video_header()) return;
    for (ESData& rec : st_.es_data) {
      if (!rec.is_video() || rec.stream_id != st_.video_id) continue;
      if (rec.get_video_header() && rec.get_video_header()->compare(fresh.get_video_header(), 0) != 0) {
        rec = fresh;
        set_video_info(st_.video_id, 0);
      }
      break;
    }
  }
}
