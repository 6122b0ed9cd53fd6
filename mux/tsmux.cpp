#include "mux/tsmux.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "demux/transport_demuxer.h"
#include "foundation/ac3.h"
#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"

namespace {

constexpr int kNullPid = 0x1FFF;
constexpr double kPcrInterval = 35 * 90.0;  // below the 40 ms limit with room
// Tables go before any unit due later than their ask plus this margin;
// without a mux call they still come at least every half second.
constexpr double kTablesMargin = 20 * 90.0;
constexpr double kTablesLimit = 480 * 90.0;
constexpr double kStartClock = 9000.0;
constexpr int kMaxAudio = 8;
constexpr double kNever = 1e299;  // the packetiser's "never"
// A variable-rate video's header gives no rate to plan with: assume the
// highest main-level rate.
constexpr int kVbrVideoRate = 15000000;
constexpr int kMainLevelBuffer = 1835008 / 8;
constexpr int kVideoPid = 65, kAudioPid = 66, kPmtPid = 48;

enum StreamType : int {
  ST_MPEG1_VIDEO = 0x01,
  ST_MPEG2_VIDEO = 0x02,
  ST_MPEG1_AUDIO = 0x03,
  ST_MPEG2_AUDIO = 0x04,
  ST_LPCM = 0x80,
  ST_AC3 = 0x81,
};

bool pid_in_range(int pid) { return pid >= 16 && pid <= 8190; }

void put_crc(std::vector<uint8_t>& section, size_t from) {
  const uint32_t crc = mpeg_crc32(section.data() + from, section.size() - from);
  for (int s = 24; s >= 0; s -= 8) section.push_back(static_cast<uint8_t>(crc >> s));
}

}  // namespace

// ---- PidAllocator -----------------------------------------------------------

int PidAllocator::claim(int pid) {
  if (!pid_in_range(pid) || used_[size_t(pid)]) return 0;
  used_[size_t(pid)] = 1;
  return 1;
}

int PidAllocator::take(int wanted, int base) {
  if (claim(wanted)) return wanted;
  for (int p = std::max(base, 16); p <= 8190; ++p)
    if (claim(p)) return p;
  for (int p = 16; p < base && p <= 8190; ++p)
    if (claim(p)) return p;
  return 0;
}

// ---- GopTS ------------------------------------------------------------------

GopTS::GopTS(Muxer* out, int pmt_pid, int transport_stream_id, int program_number)
    : out_(out), pmt_pid_(pmt_pid), tsid_(transport_stream_id), program_(program_number) {}

void GopTS::build_psi() {
  // Program association: one program.
  std::vector<uint8_t> s = {0x00, 0xB0, 0x0D, uint8_t(tsid_ >> 8), uint8_t(tsid_), 0xC1, 0x00, 0x00,
                            uint8_t(program_ >> 8), uint8_t(program_), uint8_t(0xE0 | (pmt_pid_ >> 8)),
                            uint8_t(pmt_pid_)};
  put_crc(s, 0);
  pat_ = s;

  pmt_ = make_pmt(true);
  if (pmt_.size() > 183) {
    trace("GopTS: the kept descriptors do not fit the PMT packet; left out\n");
    pmt_ = make_pmt(false);
  }
}

std::vector<uint8_t> GopTS::make_pmt(bool with_kept) const {
  static const uint8_t kAc3Registration[6] = {0x05, 0x04, 'A', 'C', '-', '3'};
  // Stream type 0x80 reads as linear PCM under this registration.
  static const uint8_t kHdmvRegistration[6] = {0x05, 0x04, 'H', 'D', 'M', 'V'};
  int pcr_pid = kNullPid;
  bool ac3 = false, lpcm = false;
  for (const auto& t : streams_) {
    if (t->is_video()) pcr_pid = t->pid();
    if (t->stream_type() == ST_AC3) ac3 = true;
    if (t->stream_type() == ST_LPCM) lpcm = true;
  }
  std::vector<uint8_t> info;
  if (with_kept) info = program_desc_;
  if (ac3 && std::search(info.begin(), info.end(), kAc3Registration, kAc3Registration + 6) == info.end())
    info.insert(info.begin(), kAc3Registration, kAc3Registration + 6);
  if (lpcm && std::search(info.begin(), info.end(), kHdmvRegistration, kHdmvRegistration + 6) == info.end())
    info.insert(info.begin(), kHdmvRegistration, kHdmvRegistration + 6);
  std::vector<uint8_t> p = {0x02, 0xB0, 0x00, uint8_t(program_ >> 8), uint8_t(program_), 0xC1, 0x00, 0x00,
                            uint8_t(0xE0 | (pcr_pid >> 8)), uint8_t(pcr_pid), uint8_t(0xF0 | (info.size() >> 8)),
                            uint8_t(info.size())};
  p.insert(p.end(), info.begin(), info.end());
  for (size_t i = 0; i < streams_.size(); ++i) {
    const PESStream& t = *streams_[i];
    std::vector<uint8_t> d;
    if (t.is_video()) {
      const SeqHdr& q = t.es()->seqhdr();
      const bool mpeg2 = t.stream_type() == ST_MPEG2_VIDEO;
      uint8_t flags = uint8_t((q.get_frame_rate_code() & 15) << 3);
      if (!mpeg2) flags |= uint8_t(4 | (t.es()->constrained() ? 2 : 0));
      d = {0x02, uint8_t(mpeg2 ? 3 : 1), flags};
      if (mpeg2) {
        const int pl = q.seq_ext ? q.seq_ext->profile_and_level_indication : 0;
        const int chroma = q.seq_ext ? q.seq_ext->chroma_format : 1;
        d.push_back(uint8_t(pl ? pl : 72));
        d.push_back(uint8_t(((chroma & 3) << 6) | 0x1F));
      }
    } else if (t.stream_type() == ST_AC3) {
      const AC3FrmHdr& h = static_cast<const AudioPES&>(t).ac3;
      d.resize(16);
      AC3Descriptor desc;
      const int n = h.valid ? desc.encode(d.data(), h, 9) : 0;
      d.resize(size_t(n));
    }
    if (with_kept && i < track_desc_.size()) d.insert(d.end(), track_desc_[i].begin(), track_desc_[i].end());
    p.insert(p.end(), {uint8_t(t.stream_type()), uint8_t(0xE0 | (t.pid() >> 8)), uint8_t(t.pid()),
                       uint8_t(0xF0 | (d.size() >> 8)), uint8_t(d.size())});
    p.insert(p.end(), d.begin(), d.end());
  }
  const size_t length = p.size() - 3 + 4;
  p[1] = uint8_t(0xB0 | (length >> 8));
  p[2] = uint8_t(length);
  put_crc(p, 0);
  return p;
}

int GopTS::write_packet(int pid, bool unit_start, int* cc, double pcr, const uint8_t* payload, int n,
                        bool has_payload) {
  uint8_t* b = pkt_;
  const bool with_pcr = pcr >= 0;
  const int af_min = with_pcr ? 8 : 0;  // length byte, flags, PCR
  const int room = 184 - af_min;
  n = std::clamp(n, 0, has_payload ? room : 0);
  const int af = 184 - n;  // adaptation field bytes, length byte included
  b[0] = 0x47;
  b[1] = uint8_t((unit_start ? 0x40 : 0) | ((pid >> 8) & 0x1F));
  b[2] = uint8_t(pid);
  const int control = (af > 0 ? 2 : 0) | (has_payload ? 1 : 0);
  // A packet without payload repeats the counter of the one before it.
  b[3] = uint8_t((control << 4) | ((has_payload ? *cc : *cc + 15) & 15));
  if (has_payload) *cc = (*cc + 1) & 15;
  int at = 4;
  if (af > 0) {
    b[at++] = uint8_t(af - 1);
    if (af > 1) {
      b[at++] = with_pcr ? 0x10 : 0x00;
      if (with_pcr) at += encode_pcr(pcr, b + at);
      std::memset(b + at, 0xFF, size_t(4 + af - at));
      at = 4 + af;
    }
  }
  if (n > 0 && payload) std::memcpy(b + at, payload, size_t(n));
  if (with_pcr) last_pcr_ = pcr;
  clock_ += packet_ticks_;
  ++packets_since_tables_;
  return out_->mux_output(b, 188) == 188 ? 0 : -1;
}

int GopTS::emit_psi() {
  uint8_t buf[184];
  for (int k = 0; k < 2; ++k) {
    const std::vector<uint8_t>& s = k == 0 ? pat_ : pmt_;
    std::memset(buf, 0xFF, sizeof buf);
    buf[0] = 0;  // pointer_field
    std::memcpy(buf + 1, s.data(), std::min<size_t>(s.size(), 183));
    if (write_packet(k == 0 ? 0 : pmt_pid_, true, k == 0 ? &pat_cc_ : &pmt_cc_, -1, buf, 184, true) < 0) return -1;
  }
  ++pat_count_;
  tables_due_ = false;
  last_tables_ = clock_;
  packets_since_tables_ = 0;
  return 0;
}

int GopTS::emit_pcr_only() {
  for (auto& t : streams_)
    if (t->is_video()) return write_packet(t->pid(), false, t->cc(), clock_, nullptr, 0, false);
  return 0;
}

bool GopTS::start() {
  PESStream* video = nullptr;
  int64_t bits = 0;
  for (auto& t : streams_) {
    if (!t->es()->initialised() && !t->es()->is_end()) return false;
    if (t->is_video()) video = t.get();
  }
  if (!video) return false;
  for (auto& t : streams_) {
    ES& e = *t->es();
    if (t->is_video()) {
      bits += e.seqhdr().is_vbr() ? kVbrVideoRate : std::max(e.bit_rate(), 1000000);
    } else {
      bits += std::max(e.bit_rate(), 64000);
      e.set_buffer_size(e.kind() == ES_KIND_AC3 ? 2592 : 2848);
      static_cast<AudioPES&>(*t).prepare();
    }
  }
  // A peak rate well above the streams' sum: bursts fill buffers early and
  // idle time costs nothing, the clock skips it.
  rate_ = int(std::min<int64_t>(bits * 3 / 2 + 1000000, 120000000));
  packet_ticks_ = 188.0 * 8 * 90000 / rate_;
  clock_ = kStartClock;

  ES* v = video->es();
  // Variable-rate encoders may write a token buffer size that their own
  // pictures exceed; plan such a stream with the main-level buffer.
  if (v->seqhdr().is_vbr() && v->video_mpeg2() && v->get_buffer_size() < kMainLevelBuffer) {
    trace("GopTS: variable-rate video declares a %d-byte buffer; %d is used\n", v->get_buffer_size(),
          kMainLevelBuffer);
    v->set_buffer_size(kMainLevelBuffer);
  }
  double delay = v->first_vbv_delay() > 0 && v->first_vbv_delay() < 0xFFFF
                     ? double(v->first_vbv_delay())
                     : double(v->get_buffer_size()) * 8 * 90000 / std::max(v->bit_rate(), 1);
  delay = std::clamp(delay, 9000.0, 90000.0) + 4500.0;
  const double video_start = clock_ + delay;
  v->set_start_time(video_start);
  const double first_shown = video_start + v->first_pts();
  for (auto& t : streams_)
    if (!t->is_video()) t->es()->set_start_time(first_shown + t->es()->start_delay());
  build_psi();
  tables_asked_ = clock_;
  started_ = true;
  return true;
}

int GopTS::emit(PESStream& s, bool pcr) {
  uint8_t buf[184];
  bool first = false;
  const int n = s.fill(buf, pcr, &first);
  if (n < 0) return -1;
  return write_packet(s.pid(), first, s.cc(), pcr ? clock_ : -1.0, buf, n, true) < 0 ? -1 : 1;
}

int GopTS::run(bool final) {
  if (!started_ && !start()) return 0;
  if (tables_due_ && packets_since_tables_ == 0) tables_due_ = false;  // nothing new to announce
  for (;;) {
    // The tables: the first packet of all, then scheduled like a stream.
    if (pat_count_ == 0) {
      if (emit_psi() < 0) return -1;
      continue;
    }
    if (!tables_due_ && clock_ - last_tables_ >= kTablesLimit - kTablesMargin) {
      tables_due_ = true;
      tables_asked_ = clock_;
    }
    const double tables_deadline = tables_asked_ + kTablesMargin;
    // Candidates: streams whose next packet is ready and fits their buffer.
    PESStream* best = nullptr;
    double best_deadline = 0;
    bool starving = false, pending = false;
    for (auto& p : streams_) {
      PESStream& t = *p;
      if (t.idle() && !t.open()) {
        if (!t.es()->is_end()) starving = true;
        continue;
      }
      pending = true;
      const bool pcr = t.is_video() && (t.at_start() || clock_ - last_pcr_ >= kPcrInterval);
      if (t.room(clock_) < t.next_payload_bytes(pcr)) continue;
      const double d = t.deadline();
      if (!best || d < best_deadline) best = &t, best_deadline = d;
    }
    if (starving && !final) return 0;
    if (!pending) return 0;
    if (tables_due_ && (!best || tables_deadline <= best_deadline)) {
      if (emit_psi() < 0) return -1;
      continue;
    }
    if (clock_ - last_pcr_ >= kPcrInterval && !(best && best->is_video())) {
      if (emit_pcr_only() < 0) return -1;
      continue;
    }
    if (best) {
      const bool pcr = best->is_video() && (best->at_start() || clock_ - last_pcr_ >= kPcrInterval);
      if (emit(*best, pcr) < 0) return -1;
      continue;
    }
    // A deadline has come and its stream still finds no room (a unit larger
    // than its buffer), or bytes outside any unit fill a buffer that nothing
    // will empty: they go all the same rather than never.
    PESStream* due = nullptr;
    for (auto& p : streams_) {
      PESStream& t = *p;
      if (t.idle()) continue;
      const double d = t.deadline() >= kNever ? clock_ : t.deadline();
      if (d <= clock_ && (!due || d < due->deadline())) due = &t;
    }
    if (due) {
      if (forced_++ == 0) trace("GopTS::run: stream 0x%02x overflows its buffer\n", due->pes_id());
      const bool pcr = due->is_video() && (due->at_start() || clock_ - last_pcr_ >= kPcrInterval);
      if (emit(*due, pcr) < 0) return -1;
      continue;
    }
    // Every buffer is full: skip to the next removal (or the next PCR, or
    // the tables' limit). A PCR on both sides of the gap keeps arrival times
    // by interpolation between PCRs true.
    double next = std::min(last_pcr_ + kPcrInterval, last_tables_ + kTablesLimit - kTablesMargin);
    for (auto& t : streams_) next = std::min(next, t->es()->next_removal(clock_));
    if (emit_pcr_only() < 0) return -1;
    clock_ = std::max(clock_, std::ceil(next / packet_ticks_) * packet_ticks_);
    if (emit_pcr_only() < 0) return -1;
  }
}

// ---- TSMux ------------------------------------------------------------------

TSMux::TSMux(int n_es, const ESData* es_list, const char* file_name, int* failed, int pmt_pid)
    : Muxer(MUX_TRANSPORT, n_es, es_list, file_name, failed) {
  if (failed_) return;
  failed_ = 1;
  if (failed) *failed = 1;
  int videos = 0, audios = 0;
  for (auto& e : es_) {
    if (e->is_video())
      ++videos;
    else if (e->kind() == ES_KIND_MPEG_AUDIO || e->kind() == ES_KIND_AC3 || e->kind() == ES_KIND_LPCM)
      ++audios;
    else {
      trace("TSMux::TSMux (ERROR): stream kind %d cannot go into a transport stream\n", e->kind());
      return;
    }
  }
  if (videos != 1) {
    trace("ERROR: GopTS::init () failed for video.\n");
    return;
  }
  if (audios > kMaxAudio) {
    trace("ERROR: GopTS::init () failed for audio.\n");
    return;
  }
  PidAllocator pids;
  pmt_pid_ = pid_in_range(pmt_pid) ? pmt_pid : kPmtPid;
  pids.claim(pmt_pid_);
  // The PIDs asked for first, so that a default never takes a wanted one.
  std::vector<int> wanted(es_.size(), 0);
  for (size_t i = 0; i < es_.size(); ++i) {
    for (int k = 0; k < n_es; ++k)
      if (es_list[k].stream_id == es_[i]->stream_id() && (es_list[k].kind == es_[i]->kind() || es_list[k].ac3))
        wanted[i] = es_list[k].pid;
  }
  std::vector<int> got(es_.size(), 0);
  for (size_t i = 0; i < es_.size(); ++i)
    if (pid_in_range(wanted[i]) && pids.claim(wanted[i])) got[i] = wanted[i];
    else if (wanted[i]) trace("TSMux: PID %d of stream 0x%02x is taken or out of range; another is used\n", wanted[i], es_[i]->stream_id());
  asked_pid_.resize(es_.size());
  for (size_t i = 0; i < es_.size(); ++i) asked_pid_[i] = got[i] ? 1 : 0;
  engine_ = std::make_unique<GopTS>(this, pmt_pid_, 16, 3);
  int next_mpa_id = 0xC0;
  for (size_t i = 0; i < es_.size(); ++i) {
    ES& e = *es_[i];
    const bool video = e.is_video();
    const int pid = got[i] ? got[i] : pids.take(0, video ? kVideoPid : kAudioPid);
    if (!pid) {
      trace("TSMux::TSMux (ERROR): no free PID\n");
      return;
    }
    if (video) {
      const int type = e.kind() == ES_KIND_MPEG2_VIDEO ? ST_MPEG2_VIDEO : ST_MPEG1_VIDEO;
      engine_->add_stream(std::make_unique<VideoPES>(&e, pid, type, e.stream_id()));
      continue;
    }
    std::unique_ptr<AudioPES> a;
    if (e.kind() == ES_KIND_AC3) {
      a = std::make_unique<AudioPES>(&e, pid, ST_AC3, 0xBD);
    } else if (e.kind() == ES_KIND_LPCM) {
      a = std::make_unique<AudioPES>(&e, pid, ST_LPCM, 0xBD);
    } else {
      const int id = e.stream_id() >= 0xC0 && e.stream_id() <= 0xDF ? e.stream_id() : next_mpa_id;
      next_mpa_id = std::max(next_mpa_id, id + 1);
      int rate = 0;
      for (int k = 0; k < n_es; ++k)
        if (es_list[k].stream_id == e.stream_id()) rate = es_list[k].get_audio_sample_rate();
      a = std::make_unique<AudioPES>(&e, pid, rate > 0 && rate < 32000 ? ST_MPEG2_AUDIO : ST_MPEG1_AUDIO, id);
    }
    for (int k = 0; k < n_es; ++k)
      if (es_list[k].stream_id == e.stream_id() && es_list[k].get_ac3_header()) a->ac3 = *es_list[k].get_ac3_header();
    engine_->add_stream(std::move(a));
  }
  failed_ = 0;
  if (failed) *failed = 0;
}

TSMux::~TSMux() { finish(); }

int TSMux::pump(bool final) {
  if (failed_ || write_error_ || !engine_) return -1;
  if (engine_->run(final) < 0) {
    write_error_ = 1;
    return -1;
  }
  return 0;
}

int TSMux::add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) {
  if (failed_ || write_error_ || done_ || !engine_) return 0;
  PESStream const* target = nullptr;
  for (int i = 0; i < engine_->track_count(); ++i) {
    const PESStream& t = engine_->track(i);
    if (t.es()->stream_id() != stream_id) continue;
    if (!target || (sub_id > 0 && t.pid() == sub_id)) target = &t;
  }
  if (!target) {
    trace("TSMux::add_es_data (ERROR): no stream 0x%02x (PID %d)\n", stream_id, sub_id);
    return 0;
  }
  if (target->es()->store_data(data, length) != length) return 0;
  handed_ += length;
  return pump(false) < 0 ? 0 : length;
}

int TSMux::get_mux_rate() {
  if (engine_ && engine_->rate() > 0) return engine_->rate();
  int64_t bits = 0;
  for (auto& e : es_) bits += e->bit_rate();
  return int(std::min<int64_t>(bits + bits / 10 + 100000, 120000000));
}

int TSMux::vbr_mux(int final) {
  if (engine_) engine_->request_tables();
  return pump(final != 0);
}

void TSMux::set_stream_end(int stream_id, int sub_id) {
  if (!engine_) return;
  for (int i = 0; i < engine_->track_count(); ++i) {
    const PESStream& t = engine_->track(i);
    if (t.es()->stream_id() == stream_id && (sub_id <= 0 || t.pid() == sub_id || engine_->track_count() == 1)) {
      t.es()->set_end();
      break;
    }
  }
  pump(false);
}

int TSMux::finish() {
  if (!done_) {
    done_ = 1;
    if (!failed_ && engine_) {
      for (auto& e : es_) e->set_end();
      pump(true);
    }
  }
  return Muxer::finish();
}

int TSMux::set_pmt_pid(int pid) {
  if (!pid_in_range(pid) || bytes_written() > 0 || !engine_) return pmt_pid();
  for (int i = 0; i < engine_->track_count(); ++i)
    if (engine_->track(i).pid() == pid) return pmt_pid();
  pmt_pid_ = pid;
  engine_->set_pmt_pid(pid);
  return pid;
}

int TSMux::set_transport_stream_id(int id) {
  if (id < 1 || id > 65535 || bytes_written() > 0 || !engine_) return 0;
  engine_->set_transport_stream_id(id);
  return id;
}

int TSMux::set_program_number(int n) {
  if (n < 1 || n > 65535 || bytes_written() > 0 || !engine_) return 0;
  engine_->set_program_number(n);
  return n;
}

namespace {

// Descriptors of a source entry worth repeating: those the output does not
// write itself (tag own) and no conditional-access one, whole ones only.
std::vector<uint8_t> kept_descriptors(const std::vector<uint8_t>& in, int own) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at + 2 <= in.size();) {
    const size_t n = 2 + size_t(in[at + 1]);
    if (at + n > in.size()) break;
    if (in[at] != own && in[at] != 0x09) out.insert(out.end(), in.begin() + long(at), in.begin() + long(at + n));
    at += n;
  }
  return out;
}

}  // namespace

int TSMux::set_psi_sections(const char* source) {
  if (failed_ || !engine_ || bytes_written() > 0 || !source || !*source) return 1;
  int err = 1;
  DeMuxerTransport src(source, &err);
  if (err) return 1;
  const TSPMT* pmt = src.get_pmt(std::max(src.get_selected_program(), 0));
  // A program built from a scan has no table of its own to keep.
  if (!pmt || pmt->error_count || pmt->pmt_pid <= 0) return 1;
  const int n = engine_->track_count();
  std::vector<int> want(static_cast<size_t>(n), 0);
  std::vector<std::vector<uint8_t>> desc(static_cast<size_t>(n));
  std::vector<uint8_t> used(static_cast<size_t>(pmt->es_count), 0);
  auto family = [](int code) {
    return code == STREAM_TYPE_MPEG1_VIDEO || code == STREAM_TYPE_MPEG2_VIDEO ? 1
           : code == STREAM_TYPE_AC3_AUDIO                                    ? 2
           : code == STREAM_TYPE_MPEG1_AUDIO || code == STREAM_TYPE_MPEG2_AUDIO ? 3
           : code == STREAM_TYPE_LPCM                                           ? 4
                                                                               : 0;
  };
  for (int i = 0; i < n; ++i) {
    const PESStream& t = engine_->track(i);
    const int f = t.is_video() ? 1 : t.stream_type() == ST_AC3 ? 2 : t.stream_type() == ST_LPCM ? 4 : 3;
    // The source's selected streams first, then its others in table order.
    const int preferred = f == 1 ? src.get_video_pid() : src.get_audio_pid();
    int pick = -1;
    for (int k = 0; k < pmt->es_count && pick < 0; ++k)
      if (!used[size_t(k)] && family(pmt->es_type_codes[size_t(k)]) == f && pmt->es_pids[size_t(k)] == preferred)
        pick = k;
    for (int k = 0; k < pmt->es_count && pick < 0; ++k)
      if (!used[size_t(k)] && family(pmt->es_type_codes[size_t(k)]) == f) pick = k;
    if (pick < 0) continue;
    used[size_t(pick)] = 1;
    want[size_t(i)] = pmt->es_pids[size_t(pick)];
    if (size_t(pick) < pmt->es_descriptors.size())
      desc[size_t(i)] = kept_descriptors(pmt->es_descriptors[size_t(pick)], f == 1 ? 0x02 : f == 2 ? 0x81 : -1);
  }
  // PIDs: the PMT's and those asked for first, then the source's, else
  // each stream keeps its own (or the next free one).
  PidAllocator pids;
  const int table_pid = pid_in_range(pmt->pmt_pid) ? pmt->pmt_pid : pmt_pid();
  pids.claim(table_pid);
  std::vector<int> got(static_cast<size_t>(n), 0);
  for (int i = 0; i < n; ++i)
    if (size_t(i) < asked_pid_.size() && asked_pid_[size_t(i)] && pids.claim(engine_->track(i).pid()))
      got[size_t(i)] = engine_->track(i).pid();
  for (int i = 0; i < n; ++i)
    if (!got[size_t(i)] && want[size_t(i)] && pids.claim(want[size_t(i)])) got[size_t(i)] = want[size_t(i)];
  for (int i = 0; i < n; ++i) {
    if (got[size_t(i)]) continue;
    const PESStream& t = engine_->track(i);
    got[size_t(i)] = pids.take(t.pid(), t.is_video() ? kVideoPid : kAudioPid);
    if (!got[size_t(i)]) return 1;
  }
  for (int i = 0; i < n; ++i) engine_->set_track_pid(i, got[size_t(i)]);
  pmt_pid_ = table_pid;
  engine_->set_pmt_pid(table_pid);
  const PAT& pat = src.get_pat();
  if (pat.transport_stream_id > 0) engine_->set_transport_stream_id(pat.transport_stream_id);
  if (pmt->program_number > 0) engine_->set_program_number(pmt->program_number);
  std::vector<uint8_t> program;
  for (const auto& d : pmt->program_descriptors) {
    const std::vector<uint8_t> k = kept_descriptors(d, -1);
    program.insert(program.end(), k.begin(), k.end());
  }
  engine_->set_descriptors(std::move(program), std::move(desc));
  return 0;
}

int TSMux::list_stream_ids(int* ids, int* pids, int n) {
  if (!engine_) return 0;
  const int k = std::min(n, engine_->track_count());
  for (int i = 0; i < k; ++i) {
    if (ids) ids[i] = engine_->track(i).es()->stream_id();
    if (pids) pids[i] = engine_->track(i).pid();
  }
  return k;
}
