// The demultiplexing job of a transport stream: every packet of a chosen
// PID goes, less its PES header, to that stream's elementary file. Audio is
// aligned to the video start by dropping its first frames or writing
// silent ones in front.
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "audio/codec/audio_mute.h"
#include "audio/codec/wave.h"
#include "demux/transport_demuxer.h"
#include "demux/video_es_filter.h"
#include "foundation/rewriters.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

constexpr size_t kWriteBuffer = 1 << 20;

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// One output of the job, written through a large buffer: interleaved
// streams would otherwise cost a system call per packet.
struct JobOutput {
  int record = 0;
  int pid = -1;
  bool video = false;
  const ESData* es = nullptr;  // the demultiplexer's record of the stream
  std::unique_ptr<BSFile> file;
  std::unique_ptr<WaveFile> wave;  // linear PCM goes out as WAVE
  std::vector<uint8_t> buf;
  size_t used = 0;
  bool failed = false;
  bool synced = false;         // a PES start was met (bytes before it are not written)
  int drop_frames = 0;         // audio frames still to drop at the start
  std::unique_ptr<ESBuffer> pending;  // audio gathered while frames are dropped
  std::unique_ptr<VideoESFilter> filter;  // video: keeps its GOP time codes running

  bool put(const uint8_t* p, size_t n) {
    if (failed) return false;
    if (used + n > buf.size() && !flush()) return false;
    if (n >= buf.size() && !wave) {
      failed = file->write(p, n) != n;
      return !failed;
    }
    std::copy(p, p + n, buf.data() + used);
    used += n;
    return true;
  }
  bool flush() {
    if (failed) return false;
    if (wave) {
      // Big-endian samples turned around in place: a byte of a sample cut by
      // the buffer's end waits for its partner.
      const size_t whole = used & ~size_t(1);
      if (whole && wave->write_pcm(buf.data(), int(whole), 1) <= 0) failed = true;
      if (used > whole) buf[0] = buf[whole];
      used -= whole;
      return !failed;
    }
    if (used && file->write(buf.data(), used) != used) failed = true;
    used = 0;
    return !failed;
  }
  void close() {
    flush();
    if (wave && wave->close() != 0) failed = true;
    if (file) file->close();
  }
};

}  // namespace

int DeMuxerTransport::write_silent_frames(const ESData& es, int n, const std::function<void(const uint8_t*, int)>& put) {
  AudioMuteFrame mute;
  const int type = es.get_ac3_header() ? AudioMuteFrame::kAC3 : AudioMuteFrame::kMpeg;
  const int rate = es.get_audio_bit_rate() > 0 ? es.get_audio_bit_rate() : es.bit_rate;
  if (mute.init(type, es.get_audio_sample_rate(), es.get_channel_count(), rate, es.get_audio_layer())) {
    trace("DeMuxerTransport::demuxer (): no silent frames for stream 0x%02X (PID %d)\n", es.stream_id, es.pid);
    return 0;
  }
  std::vector<uint8_t> frame(size_t(std::max(mute.get_frame_size(), 4096)) + 64);
  int written = 0;
  for (int i = 0; i < n; ++i) {
    const int len = mute.next_frame(frame.data(), int(frame.size()));
    if (len <= 0) break;
    put(frame.data(), len);
    ++written;
  }
  return written;
}

double DeMuxerTransport::demuxer(int count, ESData* records, JobControl* control, DemuxReport* report) {
  JobControl own_control;
  JobControl& ctl = control ? *control : own_control;
  DemuxReport own_report;
  DemuxReport& rep = report ? *report : own_report;
  rep = DemuxReport();
  int32_t& skipped_pes = rep.skipped_pes;
  std::string& failed_output = rep.failed_output;
  auto end = [&](JobOutcome outcome, double result) { return demux_job_end(ctl, rep, outcome, result); };
  if (!records || count < 1 || src_.size.value() == 0) {
    trace("DeMuxerTransport::demuxer (): nil input parameters\n");
    return end(JobOutcome::failed, 0.0);
  }

  // The outputs. One that cannot be opened, or that is the input itself,
  // fails the job before anything is written.
  std::vector<JobOutput> outs;
  auto close_all = [&](bool remove) {
    for (JobOutput& o : outs) {
      if (!o.file && !o.wave) continue;
      o.close();
      if (remove) utils_delete_file(records[o.record].get_name());
    }
  };
  for (int i = 0; i < count; ++i) {
    const char* name = records[i].get_name();
    if (!name) continue;
    if (same_file(name, src_.name.c_str())) {
      trace("DeMuxerTransport::demuxer (): <%s> is the input\n", name);
      failed_output = name;
      break;
    }
    JobOutput o;
    o.record = i;
    int err = 0;
    if (records[i].lpcm) {
      o.wave = std::make_unique<WaveFile>();
      o.wave->set_sample_rate(records[i].sample_rate);
      o.wave->set_channels(records[i].get_channel_count());
      o.wave->set_bits(16);
      err = o.wave->open(name, 0);
    } else {
      o.file = std::make_unique<BSFile>(name, 2, &err);
      err = err || !o.file->is_open();
    }
    if (err) {
      trace("DeMuxerTransport::demuxer (): <%s>: cannot open to write\n", name);
      failed_output = name;
      break;
    }
    o.buf.resize(kWriteBuffer);
    // The stream of the record: its stream id, and its PID when it has one.
    for (size_t k = 0; k < st_.es_data.size(); ++k) {
      const ESData& r = st_.es_data[k];
      const bool id_ok = r.stream_id == records[i].stream_id ||
                         (records[i].stream_id == 0xBD && r.get_ac3_header()) || records[i].stream_id == 0;
      if (id_ok && (records[i].pid == 0 || r.pid == records[i].pid)) {
        o.pid = r.pid;
        o.video = r.is_video();
        o.es = &r;
        break;
      }
    }
    outs.push_back(std::move(o));
  }
  if (!failed_output.empty()) {
    close_all(true);
    return end(JobOutcome::failed, -1.0);
  }

  // Start alignment of each audio output against the first video stream.
  const JobOutput* video = nullptr;
  for (const JobOutput& o : outs)
    if (o.video && o.pid >= 0) {
      video = &o;
      break;
    }
  double video_start = kNoTime;
  if (video) {
    if (video->pid == video_pid_ && m_.video_start_pts > kNoTime)
      video_start = m_.video_start_pts;
    else
      video_start = get_first_pts_of(video->pid);
  }
  for (JobOutput& o : outs) {
    // Linear PCM keeps its own start, as in program streams.
    if (o.video || o.pid < 0 || !o.es || o.es->lpcm || video_start <= kNoTime) continue;
    const double audio_start = get_first_pts_of(o.pid);
    const double fd = o.es->get_audio_frame_duration();
    if (audio_start <= kNoTime || fd <= 0) continue;
    const double d = (video_start - audio_start) / 90000.0;
    const int n = (d > -3 && d < 3) ? int(d / fd) : 0;
    records[o.record].audio_offset = n;
    if (n > 0) {
      o.drop_frames = n;
      o.pending = std::make_unique<ESBuffer>(65536);
    } else if (n < 0) {
      write_silent_frames(*o.es, -n, [&](const uint8_t* p, int len) { o.put(p, size_t(len)); });
    }
  }

  for (JobOutput& o : outs) {
    if (!o.video || o.pid < 0) continue;
    o.filter = std::make_unique<VideoESFilter>();
    if (const SeqHdr* s = o.es ? o.es->get_video_header() : nullptr) o.filter->set_seqhdr(*s);
  }
  auto put_video = [&](JobOutput& o, const uint8_t* p, int n) {
    int len = 0;
    const uint8_t* out = o.filter->filter_data(p, n, &len, 0);
    if (!out && n > 0) o.failed = true;
    if (len > 0) o.put(out, size_t(len));
  };

  // The packet walk.
  const double factor = 100.0 / src_.size.to_double();
  int last_percent = -1, pes_written = 0;
  bool stopped = false;
  auto poll = [&]() {
    stopped = ctl.checkpoint();
    return !stopped;
  };
  seek_exact(FileOffset::from_u64(uint64_t(sync_phase_)));
  JobOutput* last = nullptr;
  bool write_failed = false;
  while (poll()) {
    if (read_packet()) {
      if (!step_over_bad_packet()) break;
      continue;
    }
    const int pid = packet_.PID;
    if (!last || last->pid != pid) {
      last = nullptr;
      for (JobOutput& o : outs)
        if (o.pid == pid) {
          last = &o;
          break;
        }
    }
    if (!last || packet_.payload_length <= 0) {
      advance_packet();
      continue;
    }
    JobOutput& o = *last;
    if (packet_.payload_unit_start_indicator) {
      if (decode_pes_header()) {
        // A damaged PES start: its payload is lost, the stream goes on at
        // the PID's next PES.
        ++skipped_pes;
        o.synced = false;
        advance_packet();
        continue;
      }
      if (++pes_written % 100 == 0) {
        const int percent = std::min(99, int(current_offset().to_double() * factor));
        if (percent != last_percent) {
          last_percent = percent;
          ctl.set_progress(double(percent));
        }
      }
      o.synced = true;
    } else if (!o.synced) {
      advance_packet();
      continue;
    }
    const PayloadPieces pieces = payload_pieces();
    if (o.drop_frames > 0 && o.pending) {
      for (int k = 0; k < pieces.count; ++k) (void)o.pending->write(pieces.p[k], pieces.n[k]);
      int left = o.drop_frames;
      const int at = skip_audio_frames(o.pending->data, o.pending->bytes, const_cast<ESData*>(o.es), &left);
      o.drop_frames = left;
      if (left == 0) {
        o.put(o.pending->data + at, size_t(o.pending->bytes - at));
        o.pending.reset();
      } else if (at > 0) {
        o.pending->discard_front(at);
      }
    } else if (o.filter) {
      for (int k = 0; k < pieces.count; ++k) put_video(o, pieces.p[k], pieces.n[k]);
    } else {
      for (int k = 0; k < pieces.count; ++k) o.put(pieces.p[k], size_t(pieces.n[k]));
    }
    if (o.failed) {
      trace("DeMuxerTransport::demuxer (): write to <%s> failed (disk full?)\n", records[o.record].get_name());
      failed_output = records[o.record].get_name();
      write_failed = true;
      break;
    }
    advance_packet();
  }
  const double done = current_offset().to_double();
  for (JobOutput& o : outs)
    if (o.filter && !o.failed) {
      int len = 0;
      const uint8_t* rest = o.filter->take_output(&len);
      if (len > 0) o.put(rest, size_t(len));
    }
  close_all(false);
  bool flush_failed = false;
  for (JobOutput& o : outs)
    if (o.failed) {
      flush_failed = true;
      if (failed_output.empty()) failed_output = records[o.record].get_name();
    }
  const bool failed = write_failed || flush_failed;
  if (!failed)
    for (JobOutput& o : outs)
      if (o.video && o.pid >= 0) check_sequence_end(records[o.record].get_name());
  if (stopped && !ctl.keep_output())
    for (JobOutput& o : outs) utils_delete_file(records[o.record].get_name());
  if (skipped_pes) trace("DeMuxerTransport::demuxer (): %d damaged PES starts skipped\n", skipped_pes);
  if (failed) return end(JobOutcome::failed, -1.0);
  return end(stopped ? JobOutcome::stopped : JobOutcome::done, done);
}
