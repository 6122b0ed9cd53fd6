// Opening a transport stream: the PAT and PMTs (or a scan of PES stream ids
// when they are missing or unusable), the ES table of the chosen program,
// the audio streams found by their first frames, the default selection and
// the coupling of video and audio of one program.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/transport_demuxer.h"
#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {

constexpr int kMaxScanEs = 128;
constexpr int kPesProbe = 65536;

bool is_video_code(int t) { return t == 2 || t == 3; }
bool is_audio_code(int t) { return t == 1 || t == 9 || t == 10 || t == 11; }

}  // namespace

DeMuxerTransport::DeMuxerTransport() = default;

DeMuxerTransport::DeMuxerTransport(const char* name, int* error, int bit_rate)
    : DeMuxerTransport(name, error, bit_rate, true) {}

std::unique_ptr<DeMuxerTransport> DeMuxerTransport::open_streams(const char* name) {
  int e = 1;
  std::unique_ptr<DeMuxerTransport> d(new DeMuxerTransport(name, &e, 0, false));
  if (e) d.reset();
  return d;
}

DeMuxerTransport::DeMuxerTransport(const char* name, int* error, int bit_rate, bool measure) {
  int e = 1;
  (void)init(name, bit_rate > 0 ? 8 : 0, bit_rate);  // leaves the file open for system streams
  if (is_open() && st_.type == 8 && buf_.bytes) {
    st_.elementary = 0;
    opening_ = true;
    e = init_parser();
    opening_ = false;
    if (e) {
      trace("DeMuxerTransport::ctor (): <%s> has no usable program or PES stream\n", name ? name : "");
    } else {
      audio_.sec_per_byte = st_.bit_rate > 0 ? 8.0 / st_.bit_rate : 8.0 / 6000000.0;
      // The table first: GOP times and the length scan read through it.
      if (measure) {
        build_timestamp_table();
        measure_length();
      }
      goto_offset(FileOffset(0u));
    }
  }
  if (e) {
    pmts_.clear();
    pids_.clear();
    st_.es_data.clear();
  }
  if (error) *error = e;
}

DeMuxerTransport::DeMuxerTransport(const DeMuxerTransport& other) : DeMuxer(other) { copy_members(other); }

DeMuxerTransport& DeMuxerTransport::operator=(const DeMuxerTransport& other) {
  if (&other == this) return *this;
  DeMuxer::operator=(other);
  copy_members(other);
  return *this;
}

DeMuxerTransport::~DeMuxerTransport() = default;

void DeMuxerTransport::measure_length() {
  m_.total_length = 0.0;
  m_.video_start_pts = kNoTime;
  m_.first_field = -1;
  find_bs_length();
  if (tstable_.size() >= 2) {
    // Joined parts: the length and the last GOP's place come from the
    // continued time stamps, not from time codes that start again.
    m_.total_length = timestamp_table_length();
    const double fr = get_frame_rate();
    if (m_.last_gop.pic_count > 0 && m_.last_gop.pts > kNoTime && m_.video_start_pts > kNoTime && fr > 0)
      m_.last_gop.first_field = int((m_.last_gop.pts - m_.video_start_pts) / (45000.0 / fr) + 0.1);
  }
}

void DeMuxerTransport::copy_members(const DeMuxerTransport& o) {
  selection_made_ = o.selection_made_;
  pids_ = o.pids_;
  pes_ = o.pes_;
  pes_payload_length_ = o.pes_payload_length_;
  header_skip_ = 0;
  sync_phase_ = o.sync_phase_;
  pat_ = o.pat_;
  pmts_ = o.pmts_;
  selected_program_ = o.selected_program_ < int(pmts_.size()) ? o.selected_program_ : 0;
  video_pid_ = o.video_pid_;
  seq_pid_ = o.seq_pid_;
  audio_pid_ = o.audio_pid_;
  retry_ = o.retry_;
  tstable_ = o.tstable_;
  rejected_video_ = o.rejected_video_;
  first_pts_ = o.first_pts_;
  next_gop_consumed_ = -1;
  pes_packet_.zero();
  curr_pes_offset_.zero();
}

int ts_read_pat(const char* name, PAT* out) {
  int e = 1;
  DeMuxerTransport d(name, &e);
  if (!e && out) *out = d.get_pat();
  return e;
}

int DeMuxerTransport::window_packets() const {
  const int64_t w = std::max<int64_t>(1048576, int64_t(st_.bit_rate) * 5 / 8);
  return int(std::min<int64_t>(w / kTSPacketSize, 1 << 24));
}

// Steps over a packet that did not decode; false at the end of the data.
bool DeMuxerTransport::step_over_bad_packet() {
  if (current_offset().value() + 187 >= src_.end_data.value()) return false;
  advance_packet();
  return true;
}

int DeMuxerTransport::init_parser() {
  goto_offset(FileOffset(0u));
  // Junk in front of the first packet shifts the packet grid of the file.
  sync_phase_ = int(current_offset().value() % kTSPacketSize);
  const int window = window_packets();

  // The section that starts in the current packet, continued in the
  // following packets of its PID that the read buffer holds (the read
  // position does not move): a table may be longer than one packet.
  SectionAssembler section;
  auto gather_section = [&]() {
    if (section.start(payload_bytes(), packet_.payload_length)) return true;
    if (!section.growing()) return false;
    if (buf_.unread < 64 * kTSPacketSize) fill_bs_buffer();
    const uint8_t* base = packet_bytes();
    const int pid = packet_.PID;
    TSPacket next;
    for (int at = kTSPacketSize; at + kTSPacketSize <= buf_.unread; at += kTSPacketSize) {
      if (next.decode(base + at, 0) != 0) return false;  // lost the packet grid
      if (next.PID != pid || next.payload_length <= 0) continue;
      if (section.add(base + at + next.payload_start(), next.payload_length, next.payload_unit_start_indicator))
        return true;
      if (!section.growing()) return false;
    }
    return false;
  };

  // The PAT.
  bool have_pat = false;
  ScanWindow pat_window{window, 0, true};
  while (next_in_window(&pat_window, true)) {
    if (packet_.PID == 0 && packet_.payload_unit_start_indicator && packet_.payload_length > 1) {
      if (gather_section() && pat_.decode(section.data(), section.size()) > 0 && pat_.program_count > 0) {
        have_pat = true;
        break;
      }
      trace("DeMuxerTransport::init_parser (): PAT at %.0f does not decode\n", current_offset().to_double());
    }
    advance_packet();
  }
  if (!have_pat) {
    pat_.cleanup();
    if (scan_pes_pids(1) < 1) return 1;
    finish_open();
    return 0;
  }
  if (pat_.section_number < pat_.last_section_number)
    trace("DeMuxerTransport::init_parser (): the PAT has %d sections; the first is used\n",
          pat_.last_section_number + 1);

  // One PMT per program.
  pmts_.assign(size_t(pat_.program_count), TSPMT());
  std::vector<char> found(pmts_.size(), 0);
  int found_count = 0;
  goto_offset(FileOffset(0u));
  ScanWindow pmt_window{2 * window, 0, true};
  while (found_count < int(pmts_.size()) && next_in_window(&pmt_window, true)) {
    const int pid = packet_.PID;
    if (pid >= 16 && pid <= 8190 && packet_.payload_unit_start_indicator && packet_.payload_length > 1) {
      for (size_t i = 0; i < pmts_.size(); ++i) {
        if (pat_.pmt_pids[i] != pid) continue;
        if (!found[i]) {
          if (gather_section() && pmts_[i].decode(section.data(), section.size(), pid) > 0) {
            found[i] = 1;
            ++found_count;
          }
        }
        break;
      }
    }
    advance_packet();
  }
  if (found_count == 0) {
    trace("DeMuxerTransport::init_parser (): no PMT found; scanning PES stream ids\n");
    if (scan_pes_pids(st_.es_data.empty() ? 1 : 0) < 1) return 1;
    finish_open();
    return 0;
  }
  if (select_program(0) < 1) {
    // The tables name nothing that could be read: the PES streams stand in.
    if (scan_pes_pids(1) < 1) return 1;
  }
  finish_open();
  return 0;
}

void DeMuxerTransport::finish_open() {
  if (!selection_made_) {
    DeMuxer::select_default_es();
    video_pid_ = st_.video_pid ? st_.video_pid : kNoPid;
    audio_pid_ = st_.audio_pid ? st_.audio_pid : kNoPid;
    audio_.start_pts = get_first_pts_of(st_.audio_pid);
  }
  if (st_.vbr) mark_video_vbr();
  if (st_.audio_id || st_.audio_pid) init_abs_scr_per_byte(st_.audio_id, st_.audio_pid);
  goto_offset(FileOffset(0u));
}

int DeMuxerTransport::probe_pes_pid(int pid, int add) {
  if (decode_pes_header()) return 0;
  const int id = pes_.stream_id;
  int code = 0;
  if (id >= 0xE0 && id <= 0xEF)
    code = 3;
  else if (id >= 0xC0 && id <= 0xDF)
    code = 1;
  else if (id == 0xBD)
    code = 9;
  if (!code) return 0;
  if (add) {
    if (!add_es_data(pid, code)) return 0;
  } else if (code == 9) {
    return 0;  // private data is taken only when its frames are read
  }
  return code;
}

bool DeMuxerTransport::next_in_window(ScanWindow* w, bool found) {
  while (true) {
    if (w->k >= w->packets) {
      // Nothing found in the window: once more as far again.
      if (found || w->doubled) return false;
      w->packets *= 2;
      w->doubled = true;
    }
    ++w->k;
    if (read_packet() == 0) return true;
    if (!step_over_bad_packet()) return false;
  }
}

int DeMuxerTransport::scan_pes_pids(int add) {
  goto_offset(FileOffset(0u));
  struct Known {
    int pid, seen;
  };
  std::vector<Known> known;
  std::vector<int> found_pids, found_codes;
  ScanWindow w{window_packets()};
  while (next_in_window(&w, !found_pids.empty())) {
    const int pid = packet_.PID;
    if (pid > 15 && pid != 0x1FFF && packet_.payload_unit_start_indicator) {
      auto it = std::find_if(known.begin(), known.end(), [&](const Known& x) { return x.pid == pid; });
      if (it != known.end()) {
        ++it->seen;
        if (std::all_of(known.begin(), known.end(), [](const Known& x) { return x.seen > 19; })) break;
      } else {
        known.push_back({pid, 1});
        const int code = probe_pes_pid(pid, add);
        if (code) {
          found_pids.push_back(pid);
          found_codes.push_back(code);
          if (found_pids.size() >= 8) break;
        }
      }
    }
    advance_packet();
  }
  if (!found_pids.empty()) {
    if (pmts_.empty()) pmts_.resize(1);
    pmts_[0].set_pmt(int(found_pids.size()), found_pids.data(), found_codes.data());
  }
  return int(found_pids.size());
}

int DeMuxerTransport::select_program(int index) {
  if (pat_.program_count < 1 || pmts_.empty() || index < 0 || index >= int(pmts_.size())) return 0;
  selected_program_ = index;
  struct Listed {
    int pid, code;
    bool added;
  };
  std::vector<Listed> list;
  auto take = [&](const TSPMT& m) {
    for (int i = 0; i < m.es_count && int(list.size()) < kMaxScanEs; ++i) list.push_back({m.es_pids[size_t(i)], m.es_type_codes[size_t(i)], false});
  };
  const TSPMT& sel = pmts_[size_t(index)];
  if (sel.error_count == 0) take(sel);
  std::vector<int> pmt_pids{0};
  for (size_t i = 0; i < pmts_.size(); ++i) {
    if (pmts_[i].error_count) continue;
    if (int(pmt_pids.size()) < kMaxScanEs) pmt_pids.push_back(pmts_[i].pmt_pid);
    if (int(i) != index) take(pmts_[i]);
  }
  const int listed = int(list.size());
  int extra = 0;
  st_.es_data.clear();
  pids_.clear();
  goto_offset(FileOffset(0u));
  std::vector<int> probed;
  ScanWindow w{window_packets()};
  while ((int(st_.es_data.size()) < listed + extra || (listed == 1 && extra == 0)) &&
         next_in_window(&w, !st_.es_data.empty())) {
    const int pid = packet_.PID;
    auto it = std::find_if(list.begin(), list.end(), [&](const Listed& x) { return x.pid == pid; });
    if (it != list.end()) {
      if (packet_.payload_unit_start_indicator && !it->added && decode_pes_header() == 0 &&
          add_es_data(pid, it->code))
        it->added = true;
    } else if (std::find(pmt_pids.begin(), pmt_pids.end(), pid) == pmt_pids.end() && pid > 15 && pid != 0x1FFF &&
               packet_.payload_unit_start_indicator &&
               std::find(probed.begin(), probed.end(), pid) == probed.end() && int(probed.size()) < kMaxScanEs) {
      if (extra < int(pmt_pids.size())) {
        const int code = probe_pes_pid(pid, 1);
        if (code) {
          list.push_back({pid, code, true});
          ++extra;
          probed.push_back(pid);
        } else if (pid_index(pid) < 0 && decode_pes_header() != 0) {
          probed.push_back(pid);  // not a PES stream: never a candidate again
        }
      }
    }
    advance_packet();
  }
  if (pat_.program_count > 1) sort_es_by_program();
  selection_made_ = 0;
  if (pat_.program_count >= 1) select_default_es();
  if (!opening_) measure_length();  // another program: its video has a length of its own
  const int n = int(st_.es_data.size());
  if (n < listed + extra) trace("DeMuxerTransport::select_program (): ONLY %d of (%d + %d) ES found\n", n, listed, extra);
  return n;
}

int DeMuxerTransport::add_es_data(int pid, int type_code) {
  if (pid_index(pid) >= 0) return 0;
  const FileOffset keep = current_offset();
  std::vector<uint8_t> buf(kPesProbe);
  int id = 0;
  const int n = get_pes_payload(&id, buf.data(), kPesProbe);
  if (n <= 0) return 0;
  const double pts = pes_.pts_flag ? pes_.pts : kNoTime;
  int added = 0;
  if (id >= 0xE0 && id <= 0xEF) {
    if (!is_video_code(type_code)) {
      trace("DeMuxerTransport::add_es_data (): PID %d: video stream id 0x%02X but stream type code %d\n", pid, id,
            type_code);
    } else {
      added = add_video_es(pid, id);
    }
  } else if (id >= 0xC0 && id <= 0xDF) {
    if (type_code == 1 || type_code == 11)
      added = add_mpeg_audio_es(pid, id, buf.data(), n);
    else
      trace("DeMuxerTransport::add_es_data (): PID %d: audio stream id 0x%02X but stream type code %d\n", pid, id,
            type_code);
  } else if (type_code == STREAM_TYPE_LPCM) {
    added = add_lpcm_es(pid, id, buf.data(), n);
  } else {
    added = add_ac3_es(pid, id, buf.data(), n);
  }
  seek_exact(keep);
  if (read_packet() == 0 && packet_.payload_unit_start_indicator) (void)decode_pes_header();
  if (!added) return 0;
  pids_.push_back(pid);
  note_first_pts(pid, pts);
  return 1;
}

int DeMuxerTransport::add_video_es(int pid, int id) {
  if (std::find(rejected_video_.begin(), rejected_video_.end(), pid) != rejected_video_.end()) return 0;
  // The first GOP is parsed only to learn the stream: what the parse notes
  // of the file's timing stays as it was.
  const Measured keep_m = m_;
  const int keep_vpid = video_pid_, keep_vid = st_.video_id;
  GOP g;
  g.pid = pid;
  video_pid_ = pid;
  st_.video_id = id;
  const int n = parse_gop(&g, id, 0, 0);
  m_ = keep_m;
  video_pid_ = keep_vpid;
  st_.video_id = keep_vid;
  next_gop_consumed_ = -1;
  if (n <= 0) {
    if (rejected_video_.size() < 8) rejected_video_.push_back(pid);
    trace("DeMuxerTransport::add_video_es (): PID %d: no GOP\n", pid);
    return 0;
  }
  if (!(g.get_pic_entry(0) >= 12 || !st_.seq.invalid)) return 0;
  ESData r;
  r.pid = pid;
  r.stream_id = id;
  r.set_video_header(st_.seq);
  r.bit_rate = st_.seq.get_bit_rate();
  r.drop_frame = int((g.time_code >> 24) & 1);
  r.max_packet_size = r.max_payload_size = kTSPacketSize;
  r.vbr = st_.vbr;
  st_.es_data.push_back(r);
  return 1;
}

// Half a second of the PID from the current position, searched for frames
// that follow each other.
bool DeMuxerTransport::probe_audio_span(int pid, bool ac3, FrmHdr* mpeg, AC3FrmHdr* a52) {
  const FileOffset keep = current_offset();
  ESBuffer span(32768);
  const uint64_t half = uint64_t(std::max(st_.bit_rate, 1000000) / 2 / 8);
  const int got = collect_pid(pid, &span, int(span.size), FileOffset::from_u64(keep.value() + half), false, nullptr, nullptr);
  seek_exact(keep);
  if (read_packet() == 0 && packet_.payload_unit_start_indicator) (void)decode_pes_header();
  int pos = 0;
  while (got - pos > 1024) {
    const uint8_t* d = span.data + pos;
    const int left = got - pos;
    if (ac3) {
      AC3FrmHdr h;
      if (ac3_check_frames(&h, d, left, 2, 0)) {
        *a52 = h;
        return true;
      }
      if (h.first_offset < 0) return false;
      pos += h.first_offset + std::max(h.frame_size, 4);
    } else {
      FrmHdr h;
      const int o = h.parse_buffer(d, left);
      if (!h.valid) return false;
      if (h.check_frames(d + o, left - o, 2, 0)) {
        *mpeg = h;
        return true;
      }
      pos += o + std::max(h.frame_size, 4);
    }
  }
  return false;
}

int DeMuxerTransport::add_mpeg_audio_es(int pid, int id, const uint8_t* payload, int n) {
  FrmHdr h;
  const int o = h.parse_buffer(payload, n);
  bool ok = h.valid && h.check_frames(payload + o, n - o, 2, 0);
  if (!ok) ok = probe_audio_span(pid, false, &h, nullptr);
  if (!ok) return 0;
  ESData r;
  r.kind = ES_KIND_MPEG_AUDIO;
  r.stream_id = id;
  r.pid = pid;
  r.bit_rate = h.valid ? h.bit_rate : 224000;
  r.set_audio_header(h);
  r.max_packet_size = r.max_payload_size = kTSPacketSize;
  st_.es_data.push_back(r);
  st_.frm_hdr = h;
  return 1;
}

int DeMuxerTransport::add_ac3_es(int pid, int id, const uint8_t* payload, int n) {
  const FileOffset here = current_offset();
  for (const RetrySlot& s : retry_)
    if (s.pid == pid && here.less(s.before)) return 0;
  AC3FrmHdr h;
  bool ok = ac3_check_frames(&h, payload, n, 2, 0) != 0;
  if (!ok) ok = probe_audio_span(pid, true, nullptr, &h);
  if (!ok) {
    const FileOffset until = FileOffset::from_u64(here.value() + uint64_t(std::max(st_.bit_rate, 1000000) / 16));
    auto it = std::find_if(retry_.begin(), retry_.end(), [&](const RetrySlot& s) { return s.pid == pid; });
    if (it != retry_.end())
      it->before = until;
    else if (retry_.size() < 16)
      retry_.push_back({pid, until});
    return 0;
  }
  ESData r;
  r.stream_id = id;
  r.pid = pid;
  r.bit_rate = h.bit_rate;
  r.set_ac3_header(h);
  r.max_packet_size = r.max_payload_size = kTSPacketSize;
  st_.es_data.push_back(r);
  st_.ac3_hdr = h;
  return 1;
}

int DeMuxerTransport::add_lpcm_es(int pid, int id, const uint8_t* payload, int n) {
  // Bytes 0-1 the payload size; byte 2 channel layout (high nibble, 3 =
  // stereo; mono comes padded to two channels and is not taken) and sample
  // rate (low nibble: 1 48 kHz, 4 96 kHz); byte 3 bits 7-6 the sample width
  // (1 = 16 bits).
  if (id != 0xBD || n < 4) return 0;
  const int layout = payload[2] >> 4, rate_code = payload[2] & 15, width = payload[3] >> 6;
  const int rate = rate_code == 1 ? 48000 : rate_code == 4 ? 96000 : 0;
  const int channels = layout == 3 ? 2 : 0;
  if (!rate || !channels || width != 1) {
    trace("DeMuxerTransport::add_lpcm_es (): PID %d: unsupported linear PCM (layout %d, rate code %d, width code %d)\n",
          pid, layout, rate_code, width);
    return 0;
  }
  ESData r;
  r.set_lpcm_header(id, rate, channels);
  r.pid = pid;
  r.max_packet_size = r.max_payload_size = kTSPacketSize;
  st_.es_data.push_back(r);
  return 1;
}

bool DeMuxerTransport::is_lpcm_pid(int pid) const {
  const int i = pid_index(pid);
  return i >= 0 && st_.es_data[size_t(i)].lpcm;
}

void DeMuxerTransport::note_first_pts(int pid, double pts) {
  if (pts <= kNoTime) return;
  for (const FirstPts& f : first_pts_)
    if (f.pid == pid) return;
  first_pts_.push_back({pid, pts});
}

double DeMuxerTransport::get_first_pts_of(int pid) const {
  for (const FirstPts& f : first_pts_)
    if (f.pid == pid) return f.pts;
  return kNoTime;
}

void DeMuxerTransport::sort_es_by_program() {
  for (size_t p = 0; p < pmts_.size(); ++p) {
    const TSPMT& m = pmts_[p];
    if (m.error_count) continue;
    for (ESData& r : st_.es_data)
      for (int i = 0; i < m.es_count; ++i)
        if (m.es_pids[size_t(i)] == r.pid) r.program_index = int(p);
  }
  std::stable_sort(st_.es_data.begin(), st_.es_data.end(),
                   [](const ESData& a, const ESData& b) { return a.program_index < b.program_index; });
  pids_.clear();
  for (const ESData& r : st_.es_data) pids_.push_back(r.pid);
}

void DeMuxerTransport::select_default_es() {
  int vpid = 0, apid = 0, videos = 0, audios = 0, ac3s = 0;
  const ESData* ac3_match = nullptr;
  bool matched = false;
  for (const TSPMT& m : pmts_) {
    vpid = apid = 0;
    for (int i = 0; i < m.es_count; ++i) {
      const int t = m.es_type_codes[size_t(i)], pid = m.es_pids[size_t(i)];
      if (is_video_code(t)) {
        ++videos;
        if (!vpid) vpid = pid;
      } else if (is_audio_code(t)) {
        ++audios;
        if (t == 9) ++ac3s;
        if (!apid) apid = pid;
      }
    }
    for (const ESData& r : st_.es_data) {
      if (r.pid != vpid && r.pid != apid) continue;
      matched = true;
      if (r.pid == apid && r.get_ac3_header()) ac3_match = &r;
    }
    if (matched) break;
  }
  if (!apid && st_.es_data.size() >= 2) {
    for (const ESData& r : st_.es_data)
      if (!r.is_video()) {
        apid = r.pid;
        ++audios;
        break;
      }
  }
  // Extra AC-3 streams (signalled as private data) count as well.
  for (const ESData& r : st_.es_data)
    if (r.get_ac3_header() && std::none_of(pmts_.begin(), pmts_.end(), [&](const TSPMT& m) {
          return std::find(m.es_pids.begin(), m.es_pids.end(), r.pid) != m.es_pids.end();
        })) {
      ++audios;
      ++ac3s;
      if (!apid) {
        apid = r.pid;
        matched = true;
        ac3_match = &r;
      }
    }
  if (videos == 1 && ac3s == 2 && ac3_match) {
    int best = ac3_match->get_ac3_channels();
    for (const ESData& r : st_.es_data)
      if (r.get_ac3_header() && r.get_ac3_channels() > best) {
        best = r.get_ac3_channels();
        apid = r.pid;
      }
  }
  if (!matched) return;
  if (vpid > 0) {
    set_video_info(0, vpid);
    video_pid_ = st_.video_pid ? st_.video_pid : kNoPid;
  }
  if (audios > 1) apid = pick_mpeg_audio_pid(apid);
  if (apid > 0) {
    set_audio_info(0, apid);
    audio_pid_ = st_.audio_pid ? st_.audio_pid : kNoPid;
    audio_.start_pts = get_first_pts_of(st_.audio_pid);
  }
  selection_made_ = 1;
}

int DeMuxerTransport::pick_mpeg_audio_pid(int pid) {
  int best_id = 0xDF, best_ch = 0, best_sr = 0, best_br = 0, best_pid = pid;
  for (const ESData& r : st_.es_data) {
    if (r.is_video() || r.stream_id < 0xC0 || r.stream_id > 0xDF) continue;
    const int ch = r.channels, sr = r.sample_rate, br = r.audio_bit_rate;
    const bool lower_id = r.stream_id < best_id && ch >= best_ch && sr >= best_sr && br >= best_br;
    const bool more_ch = r.stream_id == best_id && ch > best_ch && sr >= best_sr && br >= best_br;
    if (lower_id || more_ch) {
      best_id = r.stream_id;
      best_ch = ch;
      best_sr = sr;
      best_br = br;
      best_pid = r.pid;
    }
  }
  return best_pid;
}

namespace {

const ESData* record_of(const std::vector<ESData>& es, int id, int pid, bool video) {
  for (const ESData& r : es) {
    if (bool(r.is_video()) != video) continue;
    if ((pid && r.pid != pid) || (!pid && id && r.stream_id != id && !(id == 0xBD && r.get_ac3_header()))) continue;
    return &r;
  }
  return nullptr;
}

}  // namespace

int DeMuxerTransport::select_video_es(int id, int pid) {
  const int prev = st_.video_id;
  if (pid ? pid == video_pid_ && (!id || id == st_.video_id) : (id == st_.video_id || !id)) return prev;
  const ESData* v = record_of(st_.es_data, id, pid, true);
  if (!v) return prev;
  set_video_info(0, v->pid);
  video_pid_ = st_.video_pid ? st_.video_pid : kNoPid;
  if (pat_.program_count >= 2) {
    for (const ESData& a : st_.es_data)
      if (!a.is_video() && a.program_index == v->program_index) {
        set_audio_info(0, a.pid);
        audio_pid_ = st_.audio_pid ? st_.audio_pid : kNoPid;
        audio_.start_pts = get_first_pts_of(st_.audio_pid);
        audio_.load_count = 0;
        break;
      }
  }
  measure_length();
  return prev;
}

int DeMuxerTransport::select_audio_es(int id, int pid) {
  if (pid && pid == audio_pid_ && (!id || id == st_.audio_id)) return st_.audio_id;
  const ESData* a = record_of(st_.es_data, id, pid, false);
  const int prev = st_.audio_id;
  if (!a) return prev;
  set_audio_info(0, a->pid);
  audio_pid_ = st_.audio_pid ? st_.audio_pid : kNoPid;
  audio_.start_pts = get_first_pts_of(st_.audio_pid);
  audio_.load_count = 0;
  if (pat_.program_count >= 2) {
    for (const ESData& v : st_.es_data)
      if (v.is_video() && v.program_index == a->program_index) {
        if (v.pid != video_pid_) {
          set_video_info(0, v.pid);
          video_pid_ = st_.video_pid ? st_.video_pid : kNoPid;
          measure_length();
        }
        break;
      }
  }
  return prev;
}
