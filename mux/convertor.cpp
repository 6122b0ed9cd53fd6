#include "mux/convertor.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "demux/demuxer_cache.h"
#include "foundation/probe.h"
#include "foundation/rewriters.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"
#include "mux/mux_drivers.h"
#include "mux/muxer.h"
#include "mux/save.h"

namespace {

constexpr int kMaxTaken = 9;
constexpr int kVideoBufferSize = 98304;
constexpr int kAudioBufferSize = 16384;
constexpr int kWriteThreshold = 2048;
constexpr double kPtsWrap = 8589934592.0;  // 2^33

int kind_of(const ESData& e) { return e.lpcm ? ES_KIND_LPCM : e.ac3 ? ES_KIND_AC3 : e.kind; }

// a - b on the 33-bit time-stamp circle, in (-2^32, 2^32].
double pts_difference(double a, double b) {
  double d = std::fmod(a - b, kPtsWrap);
  if (d > kPtsWrap / 2) d -= kPtsWrap;
  if (d <= -kPtsWrap / 2) d += kPtsWrap;
  return d;
}

}  // namespace

// ---- rates ---------------------------------------------------------------------------

int muxer_get_rate(int rates[5], int n, ESData* es, const int* selected) {
  if (!rates) return 0;
  std::fill(rates, rates + 5, 0);
  if (!es || n < 1) return 0;
  if (n > 32) {
    trace("muxer_get_rate (!!!): n_es = %d (too many)\n", n);
    n = 32;
  }
  std::vector<ESData> picked;
  bool ac3 = false;
  for (int i = 0; i < n; ++i) {
    if (selected && !selected[i]) continue;
    if (es[i].get_name() && es[i].bit_rate <= 0) check_es_data(&es[i]);
    if (kind_of(es[i]) == ES_KIND_AC3) ac3 = true;
    picked.push_back(es[i]);
  }
  if (picked.empty()) return 0;
  mux_rates_for_es_list(rates, int(picked.size()), picked.data());
  if (ac3) rates[1] = 0;
  return int(picked.size());
}

// ---- set-up --------------------------------------------------------------------------

Convertor::~Convertor() = default;

int Convertor::resize_stream_table(int n) {
  if (n <= capacity_) return 1;
  stream_ids_.resize(size_t(n), 0);
  pids_.resize(size_t(n), 0);
  start_pts_.resize(size_t(n), 0.0);
  selected_.resize(size_t(n), 0);
  capacity_ = n;
  return 1;
}

int Convertor::load(const char* file_name) {
  started_ = 0;
  demuxer_.reset();
  n_es_ = 0;
  int bit_rate = 0;
  const int type = file_name ? mpegfile_get_stream_type_and_bit_rate(file_name, &bit_rate) : 0;
  if (type < 2 || type > 8) {
    trace("Convertor::load (ERROR): only process MPEG Systems and Video streams\n");
    return 0;
  }
  demuxer_.reset(demuxer_create(file_name, 0));
  if (!demuxer_) {
    trace("Convertor::load (ERROR): demuxer_create () failed for <%s>\n", file_name);
    return 0;
  }
  int count = 0;
  ESData* es = demuxer_->get_es_data(&count);
  if (!es) count = 0;
  if (count > capacity_ && !resize_stream_table(count)) count = capacity_;
  n_es_ = count;
  for (int i = 0; i < count; ++i) {
    stream_ids_[size_t(i)] = uint32_t(es[i].stream_id);
    pids_[size_t(i)] = uint32_t(es[i].pid);
    selected_[size_t(i)] = 0;
    start_pts_[size_t(i)] = es[i].is_video() ? demuxer_->get_video_start_pts(es[i].stream_id, es[i].pid)
                                             : demuxer_->get_audio_start_pts(es[i].stream_id, es[i].pid);
  }
  // A transport source keeps its PMT PID (when it is one a PMT may use).
  if (type == 8 && demuxer_->get_pmt_pid() >= 16 && demuxer_->get_pmt_pid() <= 8190) pmt_pid_ = demuxer_->get_pmt_pid();
  return 1;
}

std::vector<int> convertor_transport_pids(const std::vector<int>& kinds, int pmt_pid, int video_pid, int audio_pid) {
  std::set<int> used = {pmt_pid};
  int next_video = video_pid, next_audio = audio_pid;
  std::vector<int> pids;
  for (const int k : kinds) {
    int* next = k == ES_KIND_MPEG_AUDIO ? &next_audio : &next_video;
    while (used.count(*next) || *next < 16 || *next > 8190) *next = *next >= 8190 ? 16 : *next + 1;
    used.insert(*next);
    pids.push_back((*next)++);
  }
  return pids;
}

int Convertor::get_es_list(int* kinds, int* stream_ids, int* pids, int max) {
  if (!demuxer_) return 0;
  int count = 0;
  ESData* es = demuxer_->get_es_data(&count);
  if (!es || count <= 0) return 0;
  n_es_ = std::min(count, capacity_);
  const int n = std::min(max, n_es_);
  for (int i = 0; i < n; ++i) {
    if (kinds) kinds[i] = kind_of(es[i]);
    if (stream_ids) stream_ids[i] = es[i].stream_id;
    if (pids) pids[i] = es[i].pid;
  }
  return std::max(n, 0);
}

int Convertor::select_stream(int stream_id, int pid) {
  for (int i = 0; i < n_es_; ++i)
    if (int(stream_ids_[size_t(i)]) == stream_id && (pid == 0 || int(pids_[size_t(i)]) == pid)) {
      selected_[size_t(i)] = 1;
      return 1;
    }
  return 0;
}

int Convertor::deselect_stream(int stream_id, int pid) {
  for (int i = 0; i < n_es_; ++i)
    if (int(stream_ids_[size_t(i)]) == stream_id && (pid == 0 || int(pids_[size_t(i)]) == pid)) {
      selected_[size_t(i)] = 0;
      return 1;
    }
  return 0;
}

int Convertor::set_pmt_pid(int pid) {
  if (pid >= 16 && pid <= 8190 && pid != video_pid_ && pid != audio_pid_) pmt_pid_ = pid;
  return pmt_pid_;
}

int Convertor::set_video_pid(int pid) {
  if (pid >= 16 && pid <= 8190 && pid != audio_pid_ && pid != pmt_pid_) video_pid_ = pid;
  return video_pid_;
}

int Convertor::set_audio_pid(int pid) {
  if (pid >= 16 && pid <= 8190 && pid != pmt_pid_ && pid != video_pid_) audio_pid_ = pid;
  return audio_pid_;
}

int Convertor::estimate_sizes(double out[5]) {
  if (!out) return 0;
  std::fill(out, out + 5, 0.0);
  if (!demuxer_ || n_es_ <= 0) return 0;
  int count = 0;
  ESData* es = demuxer_->get_es_data(&count);
  if (!es || count <= 0) return 0;
  count = std::min(count, n_es_);
  int rates[5];
  const int n = muxer_get_rate(rates, count, es, selected_.data());
  if (n == 0) return 0;
  const double source_rate = demuxer_->get_bit_rate();
  if (source_rate > 0) {
    const double scale = demuxer_->get_file_size_double() / source_rate;
    for (int k = 0; k < 5; ++k) out[k] = double(uint32_t(rates[k])) * scale;
  }
  return n;
}

// ---- lead-in -------------------------------------------------------------------------

int Convertor::skip_mpeg_audio_lead_in(const ESData& es, const uint8_t* data, int bytes, double* lead_in) {
  const FrmHdr* record = es.get_audio_header();
  if (!record || !data || bytes <= 0 || !lead_in) return 0;
  // A header of the stream at `at`, or the next one after it.
  FrmHdr h;
  auto frame_at = [&](int at) {
    for (; at + 4 <= bytes; ++at) {
      if (data[at] != 0xFF) continue;
      const uint32_t word = uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 |
                            data[at + 3];
      if (h.parse(word) == 0 && h.frame_size > 0 && (!record->valid || record->same_stream(h) == 0)) return at;
    }
    return -1;
  };
  int d = frame_at(0);
  if (d < 0) return 0;
  const double duration =
      h.sample_rate > 0 ? double(h.samples_per_frame()) / h.sample_rate * 90000.0 : 1152.0 / 44100.0 * 90000.0;
  while (*lead_in >= duration && bytes - d >= h.frame_size) {
    *lead_in -= duration;
    // The search below parses candidates into h: keep this frame's size.
    const int size = h.frame_size;
    const int next = frame_at(d + size);
    if (next < 0) {
      // The block ends inside the next frame: it starts the next block.
      d += size;
      break;
    }
    d = next;
  }
  return std::min(d, bytes);
}

int Convertor::skip_ac3_lead_in(const ESData& es, const uint8_t* data, int bytes, double* lead_in) {
  const AC3FrmHdr* record = es.get_ac3_header();
  if (!record || !data || bytes <= 0 || !lead_in) return 0;
  AC3FrmHdr h = *record;
  if (!ac3_check_frames(&h, data, bytes, 1, 0) || h.first_offset < 0) return 0;
  const int rate = h.sample_rate > 0 ? h.sample_rate : 48000;
  const double duration = 1536.0 / rate * 90000.0;
  const int size = h.frame_size;
  int d = std::min(h.first_offset, bytes);
  while (*lead_in >= duration && size > 0 && bytes - d >= size) {
    *lead_in -= duration;
    d += size;
  }
  return d;
}

int Convertor::skip_pcm_lead_in(const ESData& es, int bytes, double* lead_in) {
  const int rate = es.get_audio_sample_rate();
  const int channels = std::max(es.get_channel_count(), 1);
  if (rate <= 0 || bytes <= 0 || !lead_in || *lead_in <= 0) return 0;
  const double sample = 90000.0 / rate;
  const int width = 2 * channels;
  const int64_t n = std::min<int64_t>(int64_t(*lead_in / sample), bytes / width);
  *lead_in -= double(n) * sample;
  return int(n) * width;
}

int Convertor::save_audio(const uint8_t* data, int bytes, double* lead_in, const ESData& es, Save* writer) {
  if (!data || bytes <= 0) return 0;
  int d = 0;
  if (*lead_in > 0) {
    if (es.ac3 || es.kind == ES_KIND_AC3)
      d = skip_ac3_lead_in(es, data, bytes, lead_in);
    else if (es.lpcm)
      d = skip_pcm_lead_in(es, bytes, lead_in);
    else
      d = skip_mpeg_audio_lead_in(es, data, bytes, lead_in);
    d = std::clamp(d, 0, bytes);
    if (d == 0) *lead_in = 0;
    // Not yet through the lead-in: all of it is dropped for now.
    if (d > 0 && *lead_in > 0) return d;
  }
  if (d >= bytes) return d;
  const int got = writer->save_abs(data + d, bytes - d, es.stream_id, es.pid);
  return got <= 0 ? got : std::min(got, bytes - d) + d;
}

// ---- video ---------------------------------------------------------------------------

void Convertor::place_scan(ESBuffer* b) const {
  static const uint8_t kPicture[4] = {0, 0, 1, 0};
  const uint8_t* p = b->bytes >= 4 ? std::search(b->data, b->data + b->bytes, kPicture, kPicture + 4) : nullptr;
  if (p && p != b->data + b->bytes)
    b->first_frame = std::min(int(p - b->data) + 4, b->bytes);
  else
    b->first_frame = b->bytes;
}

namespace {

// Offset of the next sequence, GOP or picture start code, -1 when none.
int next_header(const uint8_t* data, int length) {
  if (length < 4) return -1;
  int code = 0;
  const int at = find_next_header_start(data, length, &code);
  return code == 0xFFF ? -1 : at;
}

int next_picture(const uint8_t* data, int length) {
  static const uint8_t kPicture[4] = {0, 0, 1, 0};
  const uint8_t* p = std::search(data, data + length, kPicture, kPicture + 4);
  return p == data + length ? -1 : int(p - data);
}

}  // namespace

int Convertor::write_gop(uint8_t* gop, int length, int final, Save* writer) {
  if (length <= 0) return 1;
  utils_gop_temporal_reference(gop, length, nullptr, 0);
  // One chunk per picture, its headers first, so that the writer counts
  // every picture (time codes, vbv_delay) in every output kind.
  int at = 0;
  while (length - at > 4) {
    uint8_t* chunk = gop + at;
    const int rest = length - at;
    int header = 0;
    const int first = next_header(chunk, rest);
    if (first > 0 || (first == 0 && !(chunk[3] == 0x00))) {
      // Headers (or stray bytes) up to the picture start code.
      const int pic = next_picture(chunk, rest);
      header = pic < 0 ? rest : pic;
    }
    int picture = 0;
    if (header < rest) {
      const int next = next_header(chunk + header + 4, rest - header - 4);
      picture = next < 0 ? rest - header : next + 4;
      if (rest - header - picture <= 4) picture = rest - header;
    }
    if (writer && writer->save_vbs(chunk, picture, header, 0) != header + picture) return 0;
    at += header + picture;
  }
  if (at < length) {
    // A GOP of 4 bytes or fewer: written only at the very end.
    if (!final) return 1;
    if (writer && writer->save_vbs(gop + at, length - at, 0, 0) != length - at) return 0;
  }
  if (writer) writer->vbr_flush(0);
  return 1;
}

int Convertor::write_video(const uint8_t* data, int bytes, int final, ESBuffer* b, Save* writer) {
  if (data && bytes > 0 && b->write(data, bytes) != bytes) return 0;
  for (;;) {
    const int scan = std::clamp(b->first_frame, 0, b->bytes);
    if (b->bytes - scan < 4) break;
    int lead = -1;
    const int r = find_next_i_picture(b->data + scan, b->bytes - scan, &lead);
    if (lead < 0) {
      // Resume the search where this one stopped; a start code cut by the
      // end of the data is found next time.
      b->first_frame = scan + std::max(r, 0);
      break;
    }
    const int a = scan + r;
    if (!started_ || a == 0) {
      if (a > 0) b->discard_front(a);
      place_scan(b);
      started_ = 1;
      continue;
    }
    if (!write_gop(b->data, a, 0, writer)) return 0;
    b->discard_front(a);
    place_scan(b);
  }
  if (final && started_ && b->bytes > 0) {
    if (!write_gop(b->data, b->bytes, 1, writer)) return 0;
    b->clear();
  }
  return 1;
}

// ---- the conversion ------------------------------------------------------------------

double Convertor::save(const char* out_name, int kind, JobControl* status) {
  kind_ = 0;
  started_ = 0;  // every save aligns its video to a GOP afresh
  outputs_.clear();
  // Without a control nothing stops the run and nothing is reported.
  JobControl own_control;
  JobControl& ctl = status ? *status : own_control;
  bool setup_failed = !demuxer_ || !out_name || !*out_name;
  int count = 0;
  ESData* es = setup_failed ? nullptr : demuxer_->get_es_data(&count);
  if (!es || count <= 0) setup_failed = true;
  count = std::min(count, n_es_);
  if (!setup_failed && status) {
    double sizes[5];
    estimate_sizes(sizes);
    const int entry = kind == 5 ? 2 : kind == 6 ? 3 : kind == 8 ? 4 : kind == 2 || kind == 3 ? 0 : 1;
    if (sizes[entry] <= 0.0) {
      trace("Convertor::save (ERROR): no output of kind %d for this selection\n", kind);
      setup_failed = true;
    }
  }
  if (!setup_failed && mux_same_file(out_name, demuxer_->get_file_name())) {
    trace("Convertor::save (ERROR): the output <%s> is the source\n", out_name);
    setup_failed = true;
  }

  struct Taken {
    ESData es;     // as the output knows it
    int key = 0;   // source PID x 65536 + stream_id
    double lead_in = 0.0;
    std::vector<uint8_t> buffer;
    int held = 0;
    bool video = false;
  };
  std::vector<Taken> taken;
  double reference = 0.0;
  if (!setup_failed) {
    bool have_video = false;
    for (int i = 0; i < count && int(taken.size()) < kMaxTaken; ++i) {
      if (!selected_[size_t(i)]) continue;
      if (es[i].is_video()) {
        if (have_video) continue;
        have_video = true;
        reference = start_pts_[size_t(i)];
      }
      // A transport stream carries stereo 16-bit PCM at 48 or 96 kHz only.
      if (kind == MUX_TRANSPORT && kind_of(es[i]) == ES_KIND_LPCM &&
          (es[i].get_channel_count() != 2 || (es[i].sample_rate != 48000 && es[i].sample_rate != 96000))) {
        trace("Convertor::save: linear PCM stream 0x%02x cannot go into a transport stream; left out\n",
              es[i].stream_id);
        continue;
      }
      Taken t;
      t.es = es[i];
      t.key = es[i].pid * 65536 + (int(stream_ids_[size_t(i)]) & 0xFFFF);
      t.video = es[i].is_video();
      t.lead_in = start_pts_[size_t(i)];  // the first time stamp until the reference is known
      taken.push_back(std::move(t));
    }
    if (taken.empty()) setup_failed = true;
    // Each output stream gets an id of its own, and for a transport stream a
    // PID that no other stream or the PMT uses.
    int next_video_id = 0xE0, next_mpa = 0xC0, next_ac3 = 0x80, next_pcm = 0xA0;
    std::vector<int> kinds;
    for (const Taken& t : taken) kinds.push_back(kind_of(t.es));
    const std::vector<int> ts_pids = convertor_transport_pids(kinds, pmt_pid_, video_pid_, audio_pid_);
    for (size_t n = 0; n < taken.size(); ++n) {
      Taken& t = taken[n];
      t.lead_in = t.video ? 0.0 : pts_difference(reference, t.lead_in);
      const int k = kinds[n];
      t.es.stream_id = t.video ? next_video_id++ : k == ES_KIND_AC3 ? next_ac3++ : k == ES_KIND_LPCM ? next_pcm++ : next_mpa++;
      t.es.pid = kind == MUX_TRANSPORT ? ts_pids[n] : 0;
      if (k == ES_KIND_AC3) t.es.kind = ES_KIND_AC3;
    }
  }

  Save writer;
  std::vector<ESData> copies;
  for (const Taken& t : taken) copies.push_back(t.es);
  if (setup_failed ||
      writer.init(out_name, kind, int(copies.size()), copies.data(), 0, kind == MUX_TRANSPORT ? pmt_pid_ : 0) != 0) {
    if (!setup_failed) trace("Convertor::save (ERROR): Save creation failed\n");
    writer.close(0);
    ctl.set_progress(100.0);
    ctl.finish(JobOutcome::failed, kMuxFailed, std::string("<") + (out_name ? out_name : "") + ">: cannot be written");
    return 0.0;
  }
  if (kind == MUX_TRANSPORT) {
    // The transport multiplexer may move a PID that was taken: report what
    // it chose.
    int got_ids[32], got_pids[32];
    const int n = writer.muxer()->list_stream_ids(got_ids, got_pids, 32);
    for (int i = 0; i < n; ++i)
      for (ESData& e : copies)
        if (e.stream_id == got_ids[i]) e.pid = got_pids[i];
  }
  for (size_t i = 0; i < taken.size(); ++i) taken[i].es.pid = copies[i].pid;
  // Audio that starts after the video keeps its own bytes; its delay goes
  // into its time stamps.
  for (const Taken& t : taken)
    if (!t.video && t.lead_in < 0 && writer.muxer())
      writer.muxer()->set_start_delay(t.es.stream_id, t.es.pid, -t.lead_in);
  outputs_ = copies;
  kind_ = kind;

  demuxer_->goto_offset(FileOffset());
  const double file_size = demuxer_->get_file_size_double();
  const double step = file_size > 0 ? 100.0 / file_size : 0.0;
  for (Taken& t : taken) t.buffer.assign(size_t(t.video ? kVideoBufferSize : kAudioBufferSize) + 32, 0);
  ESBuffer gop(0);

  double total = 0.0;
  int stop = 0;
  bool failed = false;
  int last_reported = -1;
  int stalls = 0;
  for (;;) {
    const uint64_t before = demuxer_->current_offset().value();
    if (before + 4 >= demuxer_->get_file_size().value()) break;
    if (ctl.checkpoint()) {
      stop = ctl.command_word();
      break;
    }
    const int id = demuxer_->next_packet();
    Taken* t = nullptr;
    if (id != 0) {
      const int key = demuxer_->get_curr_pid() * 65536 + id;
      for (Taken& c : taken)
        if (c.key == key) t = &c;
    }
    if (!t) {
      demuxer_->skip_packet();
    } else {
      const int payload = demuxer_->get_payload_size();
      const int room = int(t->buffer.size()) - 32 - t->held;
      if (payload <= 0) {
        trace("Convertor::save (ERROR): payload size = %d\n", payload);
        demuxer_->skip_packet();
      } else if (room < payload) {
        trace("Convertor::save (ERROR): buffer (%d) full (space=%d < %d=payload)\n", int(t->buffer.size()) - 32, room,
              payload);
        failed = true;
        break;
      } else {
        t->held += std::max(demuxer_->get_payload(t->buffer.data() + t->held, room), 0);
        if (t->held >= kWriteThreshold) {
          int used = 0;
          if (t->video) {
            used = write_video(t->buffer.data(), t->held, 0, &gop, &writer) ? t->held : 0;
          } else {
            used = save_audio(t->buffer.data(), t->held, &t->lead_in, t->es, &writer);
          }
          if (used <= 0) {
            trace("Convertor::save (ERROR): Muxer write = %d\n", used);
            failed = true;
            break;
          }
          std::memmove(t->buffer.data(), t->buffer.data() + used, size_t(t->held - used));
          t->held -= used;
          total += used;
        }
      }
    }
    // A source that no longer moves (a damaged tail) has ended.
    if (demuxer_->current_offset().value() == before) {
      if (++stalls > 2) break;
    } else {
      stalls = 0;
    }
    if (status) {
      if (ctl.stop_requested()) {
        stop = ctl.command_word();
        break;
      }
      double p = double(demuxer_->current_offset().value()) * step;
      const int tenth = int(p * 10);
      if (tenth > last_reported) {
        last_reported = tenth;
        if (tenth > 999) {
          last_reported = 999;
          p = 99.9;
        }
        ctl.set_progress(p);
      }
    }
  }
  if (stop == 0) {
    for (Taken& t : taken) {
      if (t.video) {
        if (!write_video(t.buffer.data(), t.held, 1, &gop, &writer)) failed = true;
      } else if (t.held > 0) {
        (void)save_audio(t.buffer.data(), t.held, &t.lead_in, t.es, &writer);
      }
      total += t.held;
      t.held = 0;
    }
  }
  if (writer.failed()) failed = true;
  // A stop that keeps closes what was written; a failure or a stop that
  // deletes leaves nothing.
  const bool remove = stop != 0 && !ctl.keep_output();
  if (stop != 0 && !remove) writer.set_abort(1);
  const int close_rc = writer.close(failed || remove ? 0 : 1);
  if (stop == 0 && close_rc != 0) failed = true;
  ctl.set_progress(100.0);
  if (failed)
    ctl.finish(JobOutcome::failed, kMuxFailed, std::string("<") + out_name + ">: cannot be written");
  else if (stop != 0 && !remove && close_rc != 0)
    // Stopped before a whole GOP reached the multiplexer: nothing to keep.
    ctl.finish(JobOutcome::stopped, kMuxStopped, std::string("<") + out_name + ">: stopped before anything was written");
  else
    ctl.finish(stop != 0 ? JobOutcome::stopped : JobOutcome::done, stop != 0 ? kMuxStopped : 0);
  return failed ? -1.0 : total;
}
