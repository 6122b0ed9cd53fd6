// Full demultiplexing of a program stream: every chosen stream into its
// own file (video through the elementary-stream filter, LPCM as WAVE), the
// audio aligned to the start of the video by dropping or adding frames.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "audio/codec/audio_mute.h"
#include "audio/codec/wave.h"
#include "demux/program.h"
#include "demux/video_es_filter.h"
#include "foundation/bsfile.h"
#include "foundation/rewriters.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// Only files the job made are removed (an output may be a device).
void remove_output(const char* name) {
  struct stat st;
  if (name && lstat(name, &st) == 0 && (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode))) utils_delete_file(name);
}

bool same_file(const char* a, const char* b) {
  struct stat sa, sb;
  if (stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// One output of the job.
struct Output {
  ESData* record = nullptr;
  std::unique_ptr<BSFile> file;
  std::unique_ptr<WaveFile> wave;
  std::unique_ptr<ESBuffer> lead;  // first payloads while frames are dropped
  int drop = 0;                    // frames still to drop (start alignment)
  bool video = false;

  // Bytes wait in a large buffer: one system write per megabyte, not per
  // packet.
  std::vector<uint8_t> pending;
  static constexpr size_t kFlushAt = 1 << 20;

  bool flush() {
    if (pending.empty()) return true;
    const bool ok = file && file->write(pending.data(), pending.size()) == pending.size();
    pending.clear();
    return ok;
  }
  // All bytes or failure.
  bool write(const uint8_t* b, int n) {
    if (n <= 0) return true;
    if (wave) return wave->write_pcm(const_cast<uint8_t*>(b), n, 1) > 0;
    if (pending.capacity() < kFlushAt + 65536) pending.reserve(kFlushAt + 65536);
    pending.insert(pending.end(), b, b + n);
    return pending.size() < kFlushAt || flush();
  }
};

}  // namespace

// Time of the first whole frame of one audio stream.
double DeMuxerProgram::first_audio_time(int key) {
  ESBuffer s(16384);
  s.stream_id = key;
  const double t = load_abs(&s, 0, 0);
  return s.time_valid ? t : kNoTime;
}

int DeMuxerProgram::get_start_frames(const ESData& r) {
  const double video_start = m_.video_start_pts;
  if (r.is_video() || !r.is_audio() || r.lpcm || video_start <= kNoTime) return 0;
  const double a = first_audio_time(r.stream_id);
  const double fd = r.get_audio_frame_duration();
  if (a <= kNoTime || fd <= 0) return 0;
  const double d = (video_start - a) / 90000.0;
  if (d <= -3 || d >= 3) return 0;
  return int(d / fd);
}

double DeMuxerProgram::demuxer(int n, ESData* r, JobControl* control, DemuxReport* report) {
  JobControl own_control;
  JobControl& ctl = control ? *control : own_control;
  DemuxReport own_report;
  DemuxReport& rep = report ? *report : own_report;
  rep = DemuxReport();
  auto end = [&](JobOutcome outcome, double result) { return demux_job_end(ctl, rep, outcome, result); };
  if (!r || n <= 0 || src_.size.value() == 0 || !src_.file) {
    trace("ERROR (DeMuxerProgram::demuxer): nil input parameters\n");
    return end(JobOutcome::failed, 0.0);
  }
  std::vector<Output> outs;
  bool failed = false;
  for (int i = 0; i < n; ++i) {
    if (!r[i].get_name()) continue;
    Output o;
    o.record = &r[i];
    o.video = r[i].is_video();
    const char* name = r[i].get_name();
    if (same_file(name, src_.name.c_str())) {
      trace("ERROR (DeMuxerProgram::demuxer): output <%s> is the input\n", name);
      rep.failed_output = name;
      return end(JobOutcome::failed, -1.0);
    }
    if (r[i].kind == ES_KIND_LPCM) {
      o.wave = std::make_unique<WaveFile>();
      o.wave->set_sample_rate(r[i].sample_rate);
      o.wave->set_channels(r[i].get_channel_count());
      o.wave->set_bits(16);
      if (o.wave->open(name, 0) != 0) failed = true;
      o.wave->set_sample_rate(r[i].sample_rate);
      o.wave->set_channels(r[i].get_channel_count());
      o.wave->set_bits(16);
    } else {
      int err = 0;
      o.file = std::make_unique<BSFile>(name, 2, &err);
      if (err || !o.file->is_open()) failed = true;
    }
    if (failed) {
      trace("ERROR (DeMuxerProgram::demuxer): cannot open <%s>\n", name);
      rep.failed_output = name;
      break;
    }
    outs.push_back(std::move(o));
  }
  auto finish = [&](bool remove) {
    for (Output& o : outs) {
      if (o.wave) o.wave->close();
      if (o.file) o.file->close();
      if (remove) remove_output(o.record->get_name());
    }
  };
  if (failed) {
    finish(true);
    return end(JobOutcome::failed, -1.0);
  }

  // Start alignment: audio that starts before the video loses its leading
  // frames, audio that starts after it gets silent frames in front.
  for (Output& o : outs) {
    o.drop = get_start_frames(*o.record);
    o.record->set_audio_offset(o.drop);
    if (o.drop > 0) {
      o.lead = std::make_unique<ESBuffer>(8192);
    } else if (o.drop < 0) {
      AudioMuteFrame* mute = nullptr;
      const int type = o.record->ac3 ? 9 : 1;
      if (AudioMuteFrame::init_held(&mute, type, o.record->sample_rate, o.record->channels,
                                    o.record->audio_bit_rate, o.record->layer)) {
        std::vector<uint8_t> f(8192);
        for (int k = 0; k < -o.drop && !failed; ++k) {
          const int len = AudioMuteFrame::get_frame_held(&mute, f.data(), int(f.size()));
          if (len <= 0) break;
          failed = !o.write(f.data(), len);
          if (failed) rep.failed_output = o.record->get_name();
        }
      }
      AudioMuteFrame::destroy(&mute);
      o.drop = 0;
    }
  }

  const double percent_per_byte = 100.0 / src_.size.to_double();
  goto_offset(FileOffset(0u));
  stop_at_limit_ = 0;
  VideoESFilter filter;
  if (const SeqHdr* s = find_video_header(0, 0)) filter.set_seqhdr(*s);
  int video_id = 0;
  int stop = 0;
  double written = 0.0;
  long packets = 0;
  int last_percent = -1;
  std::vector<uint8_t> payload(65536 + 16);
  while (!failed) {
    if (ctl.checkpoint()) {
      stop = ctl.command_word();
      break;
    }
    const int res = next_ps_packet(selected_only());
    if (!(res & kPesFound)) break;
    if (++packets % 100 == 0) {
      // Progress by the position reached, over every packet read.
      const double p = current_offset().to_double() * percent_per_byte;
      if (int(p) != last_percent) {
        last_percent = int(p);
        ctl.set_progress(int(p) > 99 ? 99.0 : p);
      }
    }
    if (res & kHeaderError) {
      trace("DeMuxerProgram::demuxer (): packet-header error\n\toffset = %.0f\n", current_offset().to_double());
      step_past_header_error("demuxer");
      ++rep.skipped_pes;
      continue;
    }
    Output* out = nullptr;
    if (pkt_.payload_size > 0)
      for (Output& o : outs)
        if (packet_is_of(o.record->stream_id)) {
          out = &o;
          break;
        }
    if (!out || (out->video && !video_id && before_video_start())) {
      if (!skip_packet()) break;
      continue;
    }
    const int want = get_payload_size();
    if (want > int(payload.size())) payload.resize(size_t(want) + 16);
    const int got = get_payload(payload.data(), want);
    if (got <= 0) continue;
    if (out->video) {
      if (!video_id) video_id = out->record->stream_id;
      int len = 0;
      const uint8_t* ready = filter.filter_data(payload.data(), got, &len);
      failed = !ready || !out->write(ready, len);
    } else if (out->drop > 0 && out->lead) {
      if (out->lead->write(payload.data(), got) != got) failed = true;
      const int o = skip_audio_frames(out->lead->data, out->lead->bytes, out->record, &out->drop);
      if (out->drop <= 0) {
        failed = failed || !out->write(out->lead->data + o, out->lead->bytes - o);
        out->lead.reset();
      } else {
        out->lead->discard_front(o);
      }
    } else {
      failed = !out->write(payload.data(), got);
    }
    if (failed) rep.failed_output = out->record->get_name();
    written += got;
  }
  if (failed) {
    trace("ERROR (DeMuxerProgram::demuxer): write failed\n");
    finish(true);
    return end(JobOutcome::failed, -1.0);
  }
  for (Output& o : outs) {
    if (o.video && video_id) {
      int len = 0;
      const uint8_t* rest = filter.take_output(&len);
      if (!o.write(rest, len)) failed = true;
    }
  }
  for (Output& o : outs) {
    if (!o.flush()) {
      failed = true;
      rep.failed_output = o.record->get_name();
    }
    if (o.wave && o.wave->close() != 0) failed = true;
    if (o.file) o.file->close();
  }
  const bool remove = stop && !ctl.keep_output();
  for (Output& o : outs)
    if (o.video && !failed && !remove) check_sequence_end(o.record->get_name());
  if (failed || remove) {
    for (Output& o : outs) remove_output(o.record->get_name());
    if (failed) return end(JobOutcome::failed, -1.0);
  }
  return end(stop ? JobOutcome::stopped : JobOutcome::done, written);
}
