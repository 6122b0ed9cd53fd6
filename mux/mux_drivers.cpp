#include "mux/mux_drivers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <functional>

#include "mux/mux_rates.h"
#include "audio/codec/audio_mute.h"
#include "audio/codec/wave.h"
#include "demux/video_es_filter.h"
#include "foundation/bsfile.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "mux/muxer.h"
#include "mux/psmux.h"
#include "mux/tsmux.h"

namespace {

constexpr int kMaxInputs = 16;
constexpr size_t kMinRead = 256 * 1024;
constexpr size_t kMinAudioRead = 16 * 1024;
// An input whose stream already holds this much (or two reads) is not read
// in a round: the streams stay in step even when a header's rate is wrong.
constexpr int64_t kEnoughHeld = 1 << 20;

int es_kind(const ESData& e) { return e.lpcm ? ES_KIND_LPCM : e.ac3 ? ES_KIND_AC3 : e.kind; }

double audio_frame_seconds(const ESData* es) {
  if (es->ac3 || es->kind == ES_KIND_AC3) {
    const int rate = es->get_audio_sample_rate();
    return rate > 0 ? 1536.0 / rate : 1536.0 / 48000;
  }
  const FrmHdr* h = es->get_audio_header();
  if (!h || !h->valid || h->sample_rate <= 0) return 1152.0 / 44100;
  return double(h->samples_per_frame()) / h->sample_rate;
}


// One input file and where it stands.
struct Input {
  ESData* es = nullptr;
  BSFile file;
  bool done = false;
  bool first_read = true;
  size_t chunk = kMinRead;
  int64_t left = -1;  // WAVE: sample bytes still to read (-1: to the file's end)
};

// Linear PCM comes raw (big-endian, as carried) or in a WAVE file: then x
// is positioned at its samples, which are swapped as they are read. False
// for a RIFF file that is not a WAVE of 16-bit samples.
bool open_pcm_samples(Input& x) {
  uint8_t magic[4] = {};
  const size_t got = x.file.read(magic, 4);
  x.file.seek(FileOffset::from_u64(0), 0);
  if (got < 4 || std::memcmp(magic, "RIFF", 4) != 0) return true;  // raw samples
  WaveFile w;
  if (w.open(x.es->get_name(), 1) != 0 || w.fmt().bits_per_sample != 16) {
    trace("muxer_encode (ERROR): \"%s\" is not a WAVE file of 16-bit samples\n",
          x.es->get_name() ? x.es->get_name() : "");
    return false;
  }
  x.file.seek(FileOffset::from_u64(uint64_t(w.data_start())), 0);
  x.left = w.data_end() - w.data_start();
  // Whole sample frames per read.
  const size_t frame = size_t(std::max<int>(w.fmt().block_align, 2));
  x.chunk = std::max(frame, x.chunk / frame * frame);
  return true;
}

// WAVE samples are little-endian, linear PCM in a program stream big-endian.
void swap_samples(uint8_t* d, size_t n) {
  for (size_t k = 0; k + 1 < n; k += 2) std::swap(d[k], d[k + 1]);
}

void report_progress(JobControl* status, double percent) {
  if (status) status->set_progress(percent);
}

// Applies the audio offset to the first bytes of a stream: silent frames in
// front for a negative offset, frames dropped for a positive one. Returns
// the bytes to feed; *ended when the stream was no longer than the offset.
std::vector<uint8_t> apply_offset(const ESData* es, const uint8_t* data, size_t n, bool* ended) {
  std::vector<uint8_t> out;
  const int frames = get_offset_frames(es);
  if (frames == 0) {
    out.assign(data, data + n);
    return out;
  }
  if (frames < 0) {
    const std::vector<uint8_t> mute = make_es_mute_frame(es);
    for (int i = 0; i < -frames; ++i) out.insert(out.end(), mute.begin(), mute.end());
    out.insert(out.end(), data, data + n);
    return out;
  }
  size_t pos = 0;
  int dropped = 0;
  while (dropped < frames && pos + 4 <= n) {
    FrmHdr h;
    const uint32_t word = (uint32_t(data[pos]) << 24) | (uint32_t(data[pos + 1]) << 16) |
                          (uint32_t(data[pos + 2]) << 8) | data[pos + 3];
    if (h.parse(word) != 0 || h.frame_size <= 0) {
      ++pos;  // not a header: look further
      continue;
    }
    pos += size_t(h.frame_size);
    ++dropped;
  }
  if (dropped < frames || pos >= n) {
    *ended = true;
    return make_es_mute_frame(es);
  }
  out.assign(data + pos, data + n);
  return out;
}

bool ends_with_end_code(const std::vector<uint8_t>& tail) {
  const int64_t n = int64_t(tail.size());
  return start_code_at(tail.data(), n, n - 4) == 0xB7;
}

int64_t held_bytes(Muxer& m, int stream_id) {
  for (int k = 0; k < m.stream_count(); ++k)
    if (m.stream(k)->stream_id() == stream_id) return m.stream(k)->held();
  return 0;
}

double fail_job(JobControl* status, int32_t code) {
  if (status) {
    status->set_progress(100.0);
    if (code == kMuxStopped)
      status->finish(JobOutcome::stopped, code);
    else
      status->finish(JobOutcome::failed, code, "the multiplexer could not write the output");
  }
  return 0.0;
}

// Cuts a video elementary stream into GOPs: each runs from the sequence or
// GOP header that follows a picture to the next such header. Counts the
// pictures and displayed fields of each.
class GopSplitter {
 public:
  void push(const uint8_t* d, size_t n) {
    if (start_ > (4u << 20) && start_ * 2 > buf_.size()) {
      buf_.erase(buf_.begin(), buf_.begin() + std::ptrdiff_t(start_));
      scan_ -= start_;
      start_ = 0;
    }
    buf_.insert(buf_.end(), d, d + n);
  }
  // The next whole GOP (valid until the next push); at_end makes the rest
  // the last one. False when none is ready.
  bool next(bool at_end, const uint8_t** gop, size_t* bytes, int* pictures, int* fields) {
    const size_t size = buf_.size();
    StartCodeCursor c(buf_.data() + start_, int64_t(size - start_));
    c.seek(int64_t(scan_ - start_));
    while (c.next()) {
      const size_t o = start_ + size_t(c.offset());
      if (o + 8 > size && !at_end) {
        scan_ = o;  // the header's bytes are still to come
        return false;
      }
      const int code = c.code();
      if (code == 0x00) {
        ++pics_;
        fields_ += 2;
        after_picture_ = true;
        continue;
      }
      if (code == 0xB5 && after_picture_ && o + 8 <= size && (buf_[o + 4] >> 4) == 8) {
        // Picture coding extension: a field picture shows one field, a
        // frame with repeat_first_field three.
        const int structure = buf_[o + 6] & 3;
        const int repeat = (buf_[o + 7] >> 1) & 1;
        fields_ += (structure != 3 ? 1 : 2 + repeat) - 2;
      } else if ((code == 0xB3 || code == 0xB8) && pics_ > 0) {
        return emit(o, gop, bytes, pictures, fields);
      }
      after_picture_ = false;
    }
    scan_ = std::max(start_, size >= 3 ? size - 3 : 0);  // a start code may straddle the end
    if (at_end && size > start_) return emit(size, gop, bytes, pictures, fields);
    return false;
  }

 private:
  bool emit(size_t end, const uint8_t** gop, size_t* bytes, int* pictures, int* fields) {
    *gop = buf_.data() + start_;
    *bytes = end - start_;
    *pictures = pics_;
    *fields = fields_;
    start_ = scan_ = end;
    pics_ = fields_ = 0;
    after_picture_ = false;
    return true;
  }
  std::vector<uint8_t> buf_;
  size_t start_ = 0, scan_ = 0;
  int pics_ = 0, fields_ = 0;
  bool after_picture_ = false;
};

// Pictures fed to a variable-rate program stream between two rate steps.
constexpr int kVbrStepPictures = 12;

struct GopFeed {
  Muxer& m;
  std::vector<Input>& in;
  JobControl* status;
  VideoESFilter& filter;
  std::function<bool()> keep_running;
  std::function<int64_t(Input&, size_t)> pull;
  std::function<bool(Input&, const uint8_t*, int)> feed;
  std::function<bool(Input&)> end_input;
};

// The variable-rate walk: the video GOP by GOP, after each GOP every audio
// input up to the video's time plus two of its frames; the rate steps of a
// program stream every few pictures, a transport stream's mux after every
// GOP. Audio left after the video's end is carried whole. False on failure.
bool feed_by_gops(GopFeed& g) {
  Input* video = nullptr;
  for (Input& x : g.in)
    if (x.es->is_video()) {
      video = &x;
      break;
    }
  if (!video) {
    trace("muxer_encode_vbr (ERROR): no video input\n");
    return false;
  }
  double fps = video->es->get_video_frame_rate();
  if (fps <= 0) {
    trace("ERROR (muxer_encode_vbr): frame_rate <= 0\n");
    fps = 29.97002997002997;
  }
  const bool ts = g.m.get_type() == MUX_TRANSPORT;
  std::vector<double> fed(g.in.size(), 0.0);
  double video_seconds = 0;
  int pictures_since = 0;
  auto step = [&](bool last) {
    if (ts) return g.m.vbr_mux(0) >= 0 && !g.m.write_error();
    if (pictures_since >= kVbrStepPictures || (last && pictures_since > 0)) {
      g.m.vbr_set_mux_rate(pictures_since);
      g.m.vbr_mux(0);
      pictures_since = 0;
    }
    return !g.m.write_error();
  };
  auto audio_up_to = [&](double seconds) {
    for (size_t k = 0; k < g.in.size(); ++k) {
      Input& x = g.in[k];
      if (x.es->is_video()) continue;
      const double frame = es_kind(*x.es) == ES_KIND_LPCM ? 1.0 / 600 : audio_frame_seconds(x.es);
      const double bytes_per_second = std::max(x.es->get_audio_bit_rate(), 8) / 8.0;
      while (!x.done && fed[k] < seconds + 2 * frame) {
        // The first read holds the frames an offset drops.
        const int64_t n = g.pull(x, x.first_read ? x.chunk : 8192);
        if (n < 0) return false;
        fed[k] += double(n) / bytes_per_second;
      }
    }
    return true;
  };
  auto one_gop = [&](const uint8_t* d, size_t n, int pictures, int fields) {
    int fn = 0;
    const uint8_t* f = g.filter.filter_data(d, int(n), &fn, 0);
    if (!f || !g.feed(*video, f, fn)) return false;
    video_seconds += fields / (2.0 * fps);
    pictures_since += pictures;
    return audio_up_to(video_seconds) && step(false);
  };

  GopSplitter split;
  std::vector<uint8_t> chunk(video->chunk);
  const double size = std::max(video->file.size().to_double(), 1.0);
  double read = 0;
  int last_percent = -1;
  while (!video->done) {
    if (!g.keep_running()) return true;
    const size_t got = video->file.read(chunk.data(), chunk.size());
    const bool at_end = got < chunk.size();
    split.push(chunk.data(), got);
    read += double(got);
    const uint8_t* gop = nullptr;
    size_t bytes = 0;
    int pictures = 0, fields = 0;
    while (split.next(at_end, &gop, &bytes, &pictures, &fields)) {
      if (!one_gop(gop, bytes, pictures, fields)) return false;
      if (!g.keep_running()) return true;
    }
    if (at_end && !g.end_input(*video)) return false;
    const double pct = std::min(99.0, 100.0 * read / size);
    if (int(pct) > last_percent) {
      last_percent = int(pct);
      report_progress(g.status, pct);
    }
  }
  return audio_up_to(1e300) && step(true);
}

double run_mux(const char* out_name, int mux_type, int n_es, ESData* es_list, JobControl* status, int vbr, int svcd,
               int option, int pmt_pid, MuxReport* report, int nav_option, NavChapters chapters) {
  // Variable rate walks the video GOP by GOP; constant rate reads every
  // input a second at a time.
  const bool vbr_walk = vbr != 0;
  if (!out_name || !*out_name || n_es < 1 || !es_list) {
    trace("muxer_encode (ERROR): no output or no inputs\n");
    return fail_job(status, kMuxFailed);
  }
  if (n_es > kMaxInputs) {
    trace("muxer_encode: %d inputs, the first %d are used\n", n_es, kMaxInputs);
    n_es = kMaxInputs;
  }
  double longest = 0;
  for (int i = 0; i < n_es; ++i) {
    if (mux_same_file(out_name, es_list[i].get_name() ? es_list[i].get_name() : "")) {
      trace("muxer_encode (ERROR): the output \"%s\" is input #%d\n", out_name, i);
      return fail_job(status, kMuxFailed);
    }
    const double d = check_es_data(&es_list[i]);
    if (d <= 0) {
      trace("muxer_encode (ERROR): #%d-ES length = 0\n", i);
      return fail_job(status, kMuxFailed);
    }
    longest = std::max(longest, d);
  }
  assign_default_stream_ids(n_es, es_list);

  const std::string part = std::string(out_name) + ".part";
  std::unique_ptr<Muxer> m(muxer_create(mux_type, n_es, es_list, part.c_str(), pmt_pid, nav_option));
  if (m && nav_option > 0) {
    auto* ps = dynamic_cast<PSMux*>(m.get());
    if (!ps || ps->get_type() != MUX_MPEG2_PROGRAM || option) {
      trace("muxer_encode (ERROR): navigation packs need an MPEG-2 program stream of full packs\n");
      m.reset();
    } else if (chapters.count > 0 && !m->nav_entry(chapters.starts, chapters.count)) {
      m.reset();
    }
  }
  if (!m) {
    trace("muxer_encode (ERROR): no multiplexer for type %d\n", mux_type);
    unlink(part.c_str());
    return fail_job(status, kMuxFailed);
  }
  m->set_minimize(option);
  if (svcd) m->set_svcd(1);
  if (vbr) m->set_vbr(1);

  std::vector<Input> in(static_cast<size_t>(n_es));
  for (int i = 0; i < n_es; ++i) {
    Input& x = in[size_t(i)];
    x.es = &es_list[i];
    int err = 0;
    x.file = BSFile(x.es->get_name(), 1, &err);
    if (err || !x.file.is_open()) {
      trace("muxer_encode (ERROR): cannot open \"%s\"\n", x.es->get_name() ? x.es->get_name() : "");
      m.reset();
      unlink(part.c_str());
      return fail_job(status, kMuxFailed);
    }
    const int rate = x.es->is_video() ? x.es->get_video_bit_rate() : x.es->get_audio_bit_rate();
    x.chunk = std::max(x.es->is_video() ? kMinRead : kMinAudioRead, size_t(std::max(rate, 0) + 7) / 8);
    if (es_kind(*x.es) == ES_KIND_LPCM && !open_pcm_samples(x)) {
      m.reset();
      unlink(part.c_str());
      return fail_job(status, kMuxFailed);
    }
  }
  // The first audio stream's offset (MPEG audio; AC-3 silence is not there yet).
  int offset_input = -1;
  for (int i = 0; i < n_es; ++i)
    if (!es_list[i].is_video() && es_list[i].audio_offset != 0) {
      if (es_kind(es_list[i]) == ES_KIND_MPEG_AUDIO)
        offset_input = i;
      else
        trace("muxer_encode: an offset of AC-3 or LPCM audio is refused (no silent frames for it); ignored\n");
      break;
    }

  VideoESFilter filter;
  std::vector<uint8_t> buf, video_tail;
  bool failed = false, stopped = false;
  bool delete_on_stop = false;
  int last_percent = -1;
  auto feed = [&](Input& x, const uint8_t* d, int n) {
    if (n <= 0) return true;
    const int took = vbr_walk ? m->vbr_add_es_data(x.es->stream_id, d, n, x.es->pid)
                              : m->add_es_data(x.es->stream_id, d, n, x.es->pid);
    if (took != n) return false;
    if (x.es->is_video()) {
      const size_t keep = std::min<size_t>(4, size_t(n));
      video_tail.insert(video_tail.end(), d + n - keep, d + n);
      if (video_tail.size() > 4) video_tail.erase(video_tail.begin(), video_tail.end() - 4);
    }
    return true;
  };
  auto end_input = [&](Input& x) {
    x.done = true;
    if (x.es->is_video()) {
      int n = 0;
      const uint8_t* rest = filter.take_output(&n);
      if (n > 0) {
        std::vector<uint8_t> copy(rest, rest + n);
        if (!feed(x, copy.data(), n)) return false;
      }
      if (!ends_with_end_code(video_tail)) {
        static const uint8_t kEnd[4] = {0, 0, 1, 0xB7};
        if (!feed(x, kEnd, 4)) return false;
      }
    }
    m->set_stream_end(x.es->stream_id, x.es->pid);
    return !m->write_error();
  };

  // Polls the command word: false once the job is told to stop.
  auto keep_running = [&]() {
    if (!status) return true;
    if (status->checkpoint()) {
      stopped = true;
      delete_on_stop = !status->keep_output();
      return false;
    }
    return true;
  };
  // Reads up to want bytes of x and hands them on (video through the
  // filter); a short read ends the input.
  // Returns the bytes read, -1 on failure.
  auto pull = [&](Input& x, size_t want) -> int64_t {
    buf.resize(want);
    if (x.left >= 0) want = size_t(std::min<int64_t>(x.left, int64_t(want)));
    const size_t got = x.file.read(buf.data(), want);
    const bool short_read = got < buf.size() || (x.left >= 0 && int64_t(got) >= x.left);
    if (x.left >= 0) {
      x.left -= int64_t(got);
      swap_samples(buf.data(), got);
    }
    std::vector<uint8_t> adjusted;
    const uint8_t* d = buf.data();
    size_t n = got;
    const bool offset_now = x.first_read && &x == (offset_input >= 0 ? &in[size_t(offset_input)] : nullptr);
    x.first_read = false;
    if (offset_now) {
      bool ended = false;
      adjusted = apply_offset(x.es, buf.data(), got, &ended);
      d = adjusted.data();
      n = adjusted.size();
      if (ended) return feed(x, d, int(n)) && end_input(x) ? int64_t(n) : -1;
    }
    if (x.es->is_video()) {
      int fn = 0;
      const uint8_t* f = filter.filter_data(d, int(n), &fn, 0);
      if (!f || !feed(x, f, fn)) return -1;
    } else if (!feed(x, d, int(n))) {
      return -1;
    }
    if (short_read && !end_input(x)) return -1;
    return int64_t(n);
  };

  if (vbr_walk) {
    GopFeed g{*m, in, status, filter, keep_running, pull, feed, end_input};
    failed = !feed_by_gops(g);
  } else {
    for (;;) {
      if (!keep_running()) break;
      bool any = false;
      // Streams that hold enough wait for the others.
      std::vector<uint8_t> skip(in.size(), 0);
      bool all_skipped = true;
      for (size_t i = 0; i < in.size(); ++i) {
        if (in[i].done) continue;
        const int64_t held = held_bytes(*m, in[i].es->stream_id);
        skip[i] = held > std::max<int64_t>(kEnoughHeld, 2 * int64_t(in[i].chunk)) ? 1 : 0;
        if (!skip[i]) all_skipped = false;
      }
      for (size_t i = 0; i < in.size() && !failed; ++i) {
        Input& x = in[i];
        if (x.done) continue;
        any = true;
        if (skip[i] && !all_skipped) continue;
        if (pull(x, x.chunk) < 0) failed = true;
      }
      if (failed || !any) break;
      const double total = longest * std::max(m->get_mux_rate(), 1) / 8.0;
      const double pct = std::min(99.99, 100.0 * double(m->bytes_written()) / std::max(total, 1.0));
      if (int(pct) > last_percent) {
        last_percent = int(pct);
        report_progress(status, pct);
      }
    }
  }

  if (failed) trace("muxer_encode (ERROR): a stream could not be stored or written\n");
  const int fin = failed || (stopped && delete_on_stop) ? 0 : m->finish();
  const int waits = m->total_underflows(), overflows = m->total_overflows();
  const double bytes = double(m->bytes_written());
  const bool write_failed = m->write_error() || fin < 0;
  if (report) {
    report->type = m->get_type();
    report->svcd = m->is_svcd();
    auto* ps = dynamic_cast<PSMux*>(m.get());
    report->nav = ps && ps->nav_list() ? 1 : 0;
    report->nav_packs.clear();
    if (ps && ps->nav_list() && ps->nav_list()->prepared())
      for (int k = 0; k < ps->nav_list()->size(); ++k) {
        const NVPackEntry& e = ps->nav_list()->entry(k);
        report->nav_packs.push_back({e.lbn, e.scr, e.s_ptm, e.e_ptm, e.next_lbn > e.lbn ? e.next_lbn - e.lbn - 1 : 0,
                                     uint32_t(e.cell)});
      }
    report->mux_rate = ps ? ps->mux_rate_field() * 400 : m->get_mux_rate();
    report->bytes = m->bytes_written();
    report->packs = m->packs_written();
    report->streams.clear();
    for (int i = 0; i < m->stream_count(); ++i) {
      ES* e = m->stream(i);
      MuxStreamReport r;
      r.stream_id = e->stream_id();
      r.sub_id = e->sub_id();
      r.kind = e->kind();
      r.packets = e->packet_count();
      r.bytes = e->bytes_sent();
      r.buffer = e->get_buffer_size();
      r.peak_held = e->peak_held();
      for (int k = 0; k < n_es; ++k)
        if (es_list[k].stream_id == r.stream_id) r.pid = es_list[k].pid;
      report->streams.push_back(r);
    }
    if (auto* ts = dynamic_cast<TSMux*>(m.get())) {
      std::vector<int> pids(report->streams.size());
      ts->list_stream_ids(nullptr, pids.data(), int(pids.size()));
      for (size_t k = 0; k < pids.size(); ++k) {
        report->streams[k].pid = pids[k];
        report->streams[k].stream_type = ts->stream_type(int(k));
      }
      report->pmt_pid = ts->pmt_pid();
    }
  }
  m.reset();
  if (failed || write_failed || (stopped && delete_on_stop)) {
    unlink(part.c_str());
    return fail_job(status, failed || write_failed ? kMuxFailed : kMuxStopped);
  }
  if (std::rename(part.c_str(), out_name) != 0) {
    trace("muxer_encode (ERROR): cannot rename \"%s\" to \"%s\"\n", part.c_str(), out_name);
    unlink(part.c_str());
    return fail_job(status, kMuxFailed);
  }
  int32_t result = 0;
  if (waits && waits > overflows)
    result = waits;
  else if (overflows)
    result = -overflows;
  if (status) {
    status->set_progress(100.0);
    status->finish(stopped ? JobOutcome::stopped : JobOutcome::done, stopped ? kMuxStopped : result);
  }
  return bytes;
}

}  // namespace

double muxer_encode(const char* out_name, int mux_type, int n_es, ESData* es_list, JobControl* status, int vbr,
                    int svcd, int option, int pmt_pid, MuxReport* report, int nav_option, NavChapters chapters) {
  bool vbr_video = false;
  for (int i = 0; es_list && i < n_es; ++i)
    if (es_list[i].is_video() && es_list[i].is_vbr()) vbr_video = true;
  if ((vbr && vbr_video && mux_type != MUX_VCD) || mux_type == MUX_TRANSPORT)
    return muxer_encode_vbr(out_name, mux_type, n_es, es_list, status, vbr, svcd, option, pmt_pid, report, nav_option,
                            chapters);
  return run_mux(out_name, mux_type, n_es, es_list, status, 0, svcd, option, pmt_pid, report, nav_option, chapters);
}

double muxer_encode_vbr(const char* out_name, int mux_type, int n_es, ESData* es_list, JobControl* status, int,
                        int svcd, int option, int pmt_pid, MuxReport* report, int nav_option, NavChapters chapters) {
  return run_mux(out_name, mux_type, n_es, es_list, status, 1, svcd, option, pmt_pid, report, nav_option, chapters);
}

int open_mux_input(const char* name, ESData* es) {
  if (!name || !*name || !es) return 1;
  int err = 0;
  ESData d;
  d.open(name, &err);
  if (!err) {
    *es = d;
    return 0;
  }
  WaveFile w;
  if (w.open(name, 1) != 0) return 1;
  const WaveFmt& f = w.fmt();
  if (f.bits_per_sample != 16 || f.channels < 1 || f.channels > 8) {
    trace("open_mux_input (ERROR): \"%s\": %d-bit, %d channels; linear PCM takes 16 bits, 1 to 8 channels\n", name,
          f.bits_per_sample, f.channels);
    return 1;
  }
  ESData pcm;
  pcm.set_name(name);
  pcm.set_lpcm_header(0, int(f.sample_rate), f.channels);
  pcm.duration = w.get_duration();
  pcm.header_offset = w.data_start();
  *es = pcm;
  return 0;
}

double check_es_data(ESData* es) {
  if (!es || !es->get_name()) return 0.0;
  if (es->kind == ES_KIND_NONE) {
    ESData fresh;
    if (open_mux_input(es->get_name(), &fresh) != 0) return 0.0;
    fresh.stream_id = es->stream_id;
    fresh.pid = es->pid;
    fresh.audio_offset = es->audio_offset;
    *es = fresh;
  }
  double d = es->get_duration();
  if (es->kind == ES_KIND_MPEG_AUDIO) d -= double(es->audio_offset) / 1000.0;
  return d;
}

int get_offset_frames(const ESData* es) {
  if (!es || es->audio_offset == 0) return 0;
  const double frame = audio_frame_seconds(es);
  const double frames = double(es->audio_offset) / 1000.0 / frame;
  return int(frames < 0 ? -std::floor(-frames + 0.5) : std::floor(frames + 0.5));
}

std::vector<uint8_t> make_es_mute_frame(const ESData* es) {
  std::vector<uint8_t> out;
  if (!es) return out;
  const int kind = es_kind(*es);
  const int type = kind == ES_KIND_AC3 ? AudioMuteFrame::kAC3 : kind == ES_KIND_LPCM ? AudioMuteFrame::kLPCM
                                                                                      : AudioMuteFrame::kMpeg;
  AudioMuteFrame* slot = nullptr;
  AudioMuteFrame::create(&slot);
  const int channels = kind == ES_KIND_LPCM ? es->get_channel_count() : es->get_audio_channels();
  if (kind != ES_KIND_MPEG_AUDIO && kind != ES_KIND_AC3 && kind != ES_KIND_LPCM) {
    trace("make_es_mute_frame (ERROR): stream kind %d has no silent frame\n", kind);
  } else if (AudioMuteFrame::init_held(&slot, type, es->get_audio_sample_rate(), channels, es->get_audio_bit_rate(),
                                       kind == ES_KIND_MPEG_AUDIO ? es->get_audio_layer() : 0) == 0) {
    out.resize(size_t(std::max(slot->get_frame_size(), 0)) + 4096);
    const int n = AudioMuteFrame::get_frame_held(&slot, out.data(), int(out.size()));
    out.resize(size_t(std::max(n, 0)));
  } else {
    trace("make_es_mute_frame (ERROR): no silent frame for this stream\n");
  }
  AudioMuteFrame::destroy(&slot);
  return out;
}

int is_vcd_pair(const ESData* video, const ESData* audio) {
  if (!video || !audio || video->kind != ES_KIND_MPEG1_VIDEO || audio->kind != ES_KIND_MPEG_AUDIO) return 0;
  const double fr = video->get_video_frame_rate();
  const int w = video->get_video_width(), h = video->get_video_height();
  if (fr <= 0 || fr > 30.0 || w != 352 || h != (std::lround(fr) == 25 ? 288 : 240)) return 0;
  if (video->get_video_bit_rate() > 1152000) return 0;
  return audio->get_audio_layer() == 2 && audio->get_audio_bit_rate() == 224000 &&
                 audio->get_audio_sample_rate() == 44100
             ? 1
             : 0;
}

void mux_rates_for_es_list(int out[5], int n, const ESData* list) {
  std::fill(out, out + 5, 0);
  std::vector<int> rates, types;
  const ESData* video = nullptr;
  const ESData* audio = nullptr;
  int audios = 0;
  bool mpeg2 = false;
  for (int i = 0; list && i < n; ++i) {
    const ESData& e = list[i];
    const int kind = es_kind(e);
    types.push_back(kind);
    rates.push_back(e.is_video() ? e.get_video_bit_rate() : e.get_audio_bit_rate());
    if (e.is_video()) {
      if (!video) video = &e;
      if (e.is_video_mpeg2()) mpeg2 = true;
    } else {
      ++audios;
      if (!audio) audio = &e;
    }
  }
  if (!video) return;
  out[0] = video->get_video_bit_rate();
  const int k = static_cast<int>(rates.size());
  out[1] = mpeg2 ? 0 : program_min_mux_rate(4, k, rates.data(), types.data());
  out[2] = k == 2 && audios == 1 && is_vcd_pair(video, audio) ? 1411200 : 0;
  out[3] = program_min_mux_rate(6, k, rates.data(), types.data());
  out[4] = transport_min_mux_rate(k, rates.data(), types.data());
}

void mux_rates_for_av_lists(int out[5], int n_video, const ESData* videos, int n_audio, const ESData* audios) {
  std::vector<ESData> all;
  for (int i = 0; videos && i < n_video; ++i) all.push_back(videos[i]);
  for (int i = 0; audios && i < n_audio; ++i) all.push_back(audios[i]);
  mux_rates_for_es_list(out, static_cast<int>(all.size()), all.data());
}

void estimate_sizes(double out[5], int n, ESData* list) {
  int rates[5];
  mux_rates_for_es_list(rates, n, list);
  double longest = 0;
  for (int i = 0; list && i < n; ++i) longest = std::max(longest, list[i].get_duration());
  for (int k = 0; k < 5; ++k) out[k] = longest * rates[k] / 8.0;
}

void assign_default_stream_ids(int n, ESData* list) {
  int next_ac3 = 0x80, next_pcm = 0xA0, next_mpa = 0xC0, next_video = 0xE0;
  for (int i = 0; list && i < n; ++i) {
    ESData& e = list[i];
    const int kind = es_kind(e);
    int* counter = kind == ES_KIND_AC3 ? &next_ac3 : kind == ES_KIND_LPCM ? &next_pcm : e.is_video() ? &next_video : &next_mpa;
    if (e.stream_id == 0) {
      e.stream_id = (*counter)++;
    } else if (e.stream_id == *counter) {
      ++*counter;
    }
  }
}

bool mux_same_file(const char* a, const char* b) {
  struct stat sa {}, sb {};
  if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
