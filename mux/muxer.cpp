#include "mux/muxer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "foundation/trace.h"
#include "mux/dts_log.h"
#include "mux/psmux.h"
#include "mux/tsmux.h"

namespace {
constexpr size_t kOutputBuffer = 1 << 20;
}

Muxer::Muxer(int type, int n_es, const ESData* es_list, const char* file_name, int* failed, int append)
    : type_(type) {
  if (failed) *failed = 1;
  if (!file_name || !*file_name || n_es < 1 || !es_list) {
    trace("Muxer::Muxer (ERROR): no output name or no streams\n");
    return;
  }
  for (int i = 0; i < n_es; ++i) {
    if ((es_list[i].ac3 || es_list[i].kind == ES_KIND_AC3) && type != MUX_MPEG2_PROGRAM &&
        type != MUX_SVCD && type != MUX_TRANSPORT) {
      trace("Muxer::Muxer (ERROR): AC-3 needs an MPEG-2 program or transport stream (type %d)\n", type);
      return;
    }
  }
  int err = 0;
  out_ = BSFile(file_name, append > 0 ? 4 : 2, &err);
  if (err || !out_.is_open()) {
    trace("Muxer::Muxer (ERROR): cannot open \"%s\"\n", file_name);
    return;
  }
  name_ = file_name;
  obuf_.resize(kOutputBuffer);
  int next_private = 128;
  for (int i = 0; i < n_es; ++i) {
    const ESData& d = es_list[i];
    if (d.stream_id < 128 || d.stream_id > 239) {
      trace("Muxer::Muxer: stream %d with id 0x%02x skipped\n", i, d.stream_id);
      continue;
    }
    int flag = 0;
    const int kind = d.lpcm ? ES_KIND_LPCM : d.ac3 ? ES_KIND_AC3 : d.kind;
    const int payload = get_es_payload_size(type == MUX_SVCD ? MUX_MPEG2_PROGRAM : type, type == MUX_SVCD, kind, &flag);
    auto es = std::make_unique<ES>(type, d, payload, flag);
    if (es->error()) continue;
    if (kind == ES_KIND_AC3 && !(d.stream_id >= 128 && d.stream_id <= 135)) es->set_abs_id(next_private++);
    if (es->is_video()) ++videos_;
    es_.push_back(std::move(es));
  }
  fed_.assign(es_.size(), 0);
  if (static_cast<int>(es_.size()) != n_es) {
    trace("Muxer::Muxer (ERROR): %d of %d streams accepted\n", static_cast<int>(es_.size()), n_es);
    return;
  }
  failed_ = 0;
  if (failed) *failed = 0;
}

Muxer::~Muxer() { finish(); }

int Muxer::find_stream(int stream_id, int sub_id) const {
  for (size_t i = 0; i < es_.size(); ++i) {
    if (es_[i]->stream_id() != stream_id) continue;
    if (sub_id > 0 && es_[i]->sub_id() && es_[i]->sub_id() != sub_id && stream_id == 0xBD) continue;
    return static_cast<int>(i);
  }
  return -1;
}

int Muxer::add_es_data(int stream_id, const uint8_t* data, int length, int sub_id) {
  if (write_error_ || failed_) return 0;
  if (handed_ == 0 && es_.size() >= 2 && !es_[0]->is_video()) {
    for (size_t i = 1; i < es_.size(); ++i)
      if (es_[i]->is_video()) {
        std::swap(es_[0], es_[i]);
        break;
      }
  }
  const int i = find_stream(stream_id, sub_id);
  if (es_.size() >= 2 && stream_id < 224) {
    trace("Muxer::add_es_data (ERROR): base class called with n_es=%d, id=0x%02x, bytes=%4d\n",
          static_cast<int>(es_.size()), stream_id, length);
    return 0;
  }
  if (i >= 0 && es_[size_t(i)]->is_video()) {
    mux_rate_ = es_[size_t(i)]->bit_rate();
  }
  handed_ += length;
  return mux_output(data, length);
}

int Muxer::get_mux_rate() {
  if (mux_rate_ > 0) return mux_rate_;
  return es_.size() == 1 ? es_[0]->bit_rate() : 0;
}

int Muxer::set_mux_rate(int) { return get_mux_rate(); }
double Muxer::set_syshdr_rate(double) { return 0.0; }
int Muxer::vbr_mux(int) { return 0; }

int Muxer::set_mux_rate_units(int bps) {
  if (bps > 0) mux_rate_units_ = (bps + 399) / 400;
  return mux_rate_units_;
}

int Muxer::set_packet_size(bool video, int size) {
  if (!out_.is_open() || size < 256 || size > 10240) {
    trace("Muxer::set_%s_packet_size (ERROR): illegal %s packet size = %d\n", video ? "video" : "audio",
          video ? "video" : "audio", size);
    return 0;
  }
  int n = 0;
  for (auto& e : es_)
    if (e->is_video() == video) e->set_payload_size(size), ++n;
  return n;
}

int Muxer::set_video_packet_size(int size) { return set_packet_size(true, size); }
int Muxer::set_audio_packet_size(int size) { return set_packet_size(false, size); }

void Muxer::set_stream_end(int stream_id, int sub_id) {
  const int i = find_stream(stream_id, sub_id);
  if (i >= 0) {
    es_[size_t(i)]->set_end();
    fed_[size_t(i)] = 1;
  }
}

int Muxer::flush_output() {
  if (ohave_ == 0 || write_error_) return write_error_ ? -1 : 0;
  const size_t n = out_.write(obuf_.data(), ohave_);
  if (n != ohave_) {
    write_errno_ = errno;
    trace("Muxer::mux_output (ERROR): %zu of %zu bytes written to \"%s\"\n", n, ohave_, name_.c_str());
    write_error_ = 1;
    ohave_ = 0;
    return -1;
  }
  ohave_ = 0;
  return 0;
}

int Muxer::mux_output(const uint8_t* data, int length) {
  if (write_error_ || !out_.is_open()) return 0;
  if (!data || length <= 0) return 0;
  if (size_t(length) >= obuf_.size() / 2) {
    // A whole GOP of a copied stream: the bytes held go first, then the
    // chunk straight from the caller's memory, without a copy into the
    // buffer.
    if (flush_output() < 0) return 0;
    const size_t n = out_.write(data, size_t(length));
    if (n != size_t(length)) {
      write_errno_ = errno;
      trace("Muxer::mux_output (ERROR): %zu of %d bytes written to \"%s\"\n", n, length, name_.c_str());
      write_error_ = 1;
      return 0;
    }
    written_ += length;
    return length;
  }
  size_t left = size_t(length);
  while (left > 0) {
    if (ohave_ == obuf_.size() && flush_output() < 0) return 0;
    const size_t n = std::min(left, obuf_.size() - ohave_);
    std::memcpy(obuf_.data() + ohave_, data + (size_t(length) - left), n);
    ohave_ += n;
    left -= n;
  }
  written_ += length;
  return length;
}

int Muxer::finish() {
  if (!finished_) {
    finished_ = 1;
    flush_output();
    out_.close();
  }
  return write_error_ ? -1 : 0;
}

int Muxer::set_start_delay(int stream_id, int sub_id, double ticks) {
  const int k = find_stream(stream_id, sub_id);
  if (k < 0 || es_[size_t(k)]->is_video()) return 0;
  es_[size_t(k)]->set_start_delay(ticks);
  return 1;
}

void Muxer::add_dts_correction(double ticks) {
  for (auto& e : es_)
    if (e->is_video()) {
      e->add_time_correction(ticks);
      const double pts = e->last_time();
      dts_log_correction(ticks, &pts);
      return;
    }
  dts_log_correction(ticks, nullptr);
}

int Muxer::total_overflows() const {
  int n = 0;
  for (auto& e : es_) n += e->overflows();
  return n;
}

int Muxer::total_underflows() const {
  int n = 0;
  for (auto& e : es_) n += e->underflows();
  return n;
}

Muxer* muxer_create(int type, int n_es, const ESData* es_list, const char* file_name, int pmt_pid, int nav_option) {
  if (n_es == 1 && es_list && es_list[0].is_video() && type != 2 && type != 3 && type != 6 &&
      type != MUX_TRANSPORT)
    type = es_list[0].is_video_mpeg2() ? 3 : 2;
  int failed = 1;
  std::unique_ptr<Muxer> m;
  if (type >= MUX_MPEG1_SYSTEM && type <= MUX_SVCD) {
    m = std::make_unique<PSMux>(type, n_es, es_list, file_name, &failed, nav_option);
  } else if (type == MUX_TRANSPORT) {
    m = std::make_unique<TSMux>(n_es, es_list, file_name, &failed, pmt_pid);
  } else {
    m = std::make_unique<Muxer>(type, n_es, es_list, file_name, &failed);
  }
  if (failed) return nullptr;
  return m.release();
}

// ---- StreamIdTable ------------------------------------------------------------

int StreamIdTable::take_slot(std::vector<uint8_t>& slots) {
  for (size_t i = 0; i < slots.size(); ++i)
    if (!slots[i]) {
      slots[i] = 1;
      return static_cast<int>(i);
    }
  return -1;
}

int StreamIdTable::add_es(const char* name, int kind) {
  std::vector<uint8_t>* ids = nullptr;
  int base = 0;
  switch (kind) {
    case 1: ids = &video_ids_, base = 0xE0; break;
    case 2: ids = &mpa_ids_, base = 0xC0; break;
    case 3: ids = &ac3_ids_, base = 0x80; break;
    case 4: ids = &pcm_ids_, base = 0xA0; break;
    default:
      trace("StreamIdTable::add_es (ERROR): kind %d\n", kind);
      return 0;
  }
  std::vector<uint8_t>& pids = kind == 1 ? video_pids_ : audio_pids_;
  const int slot = take_slot(*ids);
  if (slot < 0) {
    trace("StreamIdTable::add_es (ERROR): no free stream id for kind %d\n", kind);
    return 0;
  }
  const int pslot = take_slot(pids);
  if (pslot < 0) {
    (*ids)[size_t(slot)] = 0;
    trace("StreamIdTable::add_es (ERROR): no free PID for kind %d\n", kind);
    return 0;
  }
  Entry e;
  e.name = name ? name : "";
  e.kind = kind;
  e.stream_id = base + slot;
  e.pid = (kind == 1 ? 0x20 : 0x40) + pslot;
  entries_.push_back(e);
  return static_cast<int>(entries_.size());
}

int StreamIdTable::get_es_index(const char* name) const {
  if (!name) return -1;
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].name == name) return static_cast<int>(i);
  return -1;
}

int StreamIdTable::get_es_id(const char* name, int* stream_id, int* pid) const {
  const int i = get_es_index(name);
  if (i < 0) return 0;
  if (stream_id) *stream_id = entries_[size_t(i)].stream_id;
  if (pid) *pid = entries_[size_t(i)].pid;
  return 1;
}

int StreamIdTable::set_es_stream_id(const char* name, int id) {
  const int i = get_es_index(name);
  if (!name || id < 1 || i < 0) return 0;
  Entry& e = entries_[size_t(i)];
  if (e.stream_id == id) return 0;
  for (const Entry& o : entries_)
    if ((o.kind == 1) == (e.kind == 1) && o.stream_id == id) return 0;
  auto release = [](std::vector<uint8_t>& slots, int base, int value) {
    if (value >= base && value < base + int(slots.size())) slots[size_t(value - base)] = 0;
  };
  auto mark = [](std::vector<uint8_t>& slots, int base, int value) {
    if (value >= base && value < base + int(slots.size())) slots[size_t(value - base)] = 1;
  };
  std::vector<uint8_t>& ids = e.kind == 1 ? video_ids_ : e.kind == 2 ? mpa_ids_ : e.kind == 3 ? ac3_ids_ : pcm_ids_;
  const int base = e.kind == 1 ? 0xE0 : e.kind == 2 ? 0xC0 : e.kind == 3 ? 0x80 : 0xA0;
  release(ids, base, e.stream_id);
  mark(ids, base, id);
  e.stream_id = id;
  return 1;
}

int StreamIdTable::set_es_pid(const char* name, int pid) {
  const int i = get_es_index(name);
  if (!name || pid < 1 || i < 0) return 0;
  Entry& e = entries_[size_t(i)];
  if (e.pid == pid) return 0;
  for (const Entry& o : entries_)
    if ((o.kind == 1) == (e.kind == 1) && o.pid == pid) return 0;
  std::vector<uint8_t>& pids = e.kind == 1 ? video_pids_ : audio_pids_;
  const int base = e.kind == 1 ? 0x20 : 0x40;
  if (e.pid >= base && e.pid < base + int(pids.size())) pids[size_t(e.pid - base)] = 0;
  if (pid >= base && pid < base + int(pids.size())) pids[size_t(pid - base)] = 1;
  e.pid = pid;
  return 1;
}
