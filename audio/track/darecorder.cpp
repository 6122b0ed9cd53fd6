#include "audio/track/darecorder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "engine/clips/clip_list.h"
#include "foundation/audio_header.h"
#include "foundation/trace.h"

int audio_record_check_settings(AudioRecordSettings* s) {
  int errors = 0;
  if (s->layer != 1 && s->layer != 2) {
    trace("DAEditor::record (ERROR): layer=%d not supported\n", s->layer);
    ++errors;
  }
  if (s->channels != 1 && s->channels != 2) {
    trace("DAEditor::record (ERROR): channels=%d is illegal\n", s->channels);
    ++errors;
  }
  if (s->sample_rate != 44100 && s->sample_rate != 48000 && s->sample_rate != 32000) {
    trace("DAEditor::record (ERROR): sample_rate=%.1f kHz not supported\n", s->sample_rate / 1000.0);
    ++errors;
  }
  if (errors) return errors;
  const int valid = mpeg_audio_nearest_bit_rate(s->bit_rate, s->layer);
  if (valid <= 0) {
    trace("DAEditor::record (ERROR): bit rate=%d not supported\n", s->bit_rate);
    return 1;
  }
  if (valid != s->bit_rate) {
    trace("DAEditor::record (Warning): valide bit rate=%.3f for %.3f kbs\n", valid / 1000.0, s->bit_rate / 1000.0);
    s->bit_rate = valid;
  }
  return 0;
}

DARecorder::DARecorder() = default;
DARecorder::~DARecorder() = default;

int DARecorder::init(const MPEG_Clip* list, const std::vector<PCMScalePoint>& gain, const AudioRecordSettings& s) {
  s_ = s;
  track_.set_audio_ops(true);  // the audio editor's range
  if (track_.init(list, s.sample_rate, s.channels) != 0) return 1;
  track_.set_pcm_scale(gain);
  bool unity = true;
  for (const PCMScalePoint& p : track_.get_pcm_scale()) unity = unity && std::fabs(p.gain - 1.0) < 0.0001;
  // Frames are copied only when nothing changes the sound and every clip
  // is already a stream of the asked format.
  copy_ = unity;
  for (const MPEG_Clip* c = track_.list(); c && copy_; c = c->next) {
    const TrackClipFacts& f = track_.facts(c);
    DAPlayer p;
    copy_ = f.audio && c->transition_length == 0 && !mpeg_clip_has_non_image_overlay(c) && c->clip_type != 10 &&
            p.new_clip(*c, 0.0, 0.0) == 0 &&
            p.list() && !p.list()->is_ac3() && !p.list()->is_lpcm() && p.get_layer() == s.layer &&
            p.get_sample_rate() == s.sample_rate && p.get_channels() == s.channels && p.get_bit_rate() == s.bit_rate;
  }
  if (copy_) {
    clip_ = track_.list();
    return open_clip() ? 0 : 1;
  }
  enc_ = std::make_unique<AudioEncoder>(s.sample_rate, s.channels, s.bit_rate, s.layer, 2);
  track_.seek(0.0);
  left_ = track_.total_samples();
  return 0;
}

bool DARecorder::open_clip() {
  while (clip_) {
    const double p = track_.facts(clip_).period;
    if (player_.new_clip(*clip_, clip_->start * p, clip_->count * p) != 0) return false;
    clip_frames_left_ = clip_->count;
    if (clip_frames_left_ > 0) return true;
    clip_ = clip_->next;
  }
  return true;
}

int DARecorder::get_max_frame_bytes() const {
  if (enc_) return enc_->max_frame_bytes();
  int most = 0;
  for (const MPEG_Clip* c = track_.list(); c; c = c->next) {
    DAPlayer p;
    if (p.new_clip(*c, 0.0, 0.0) == 0 && p.list()) most = std::max(most, p.list()->get_max_frame_size());
  }
  return std::max(most, 1);
}

double DARecorder::get_frame_duration() const {
  return (s_.layer == 1 ? 384.0 : 1152.0) / s_.sample_rate;
}

bool DARecorder::is_done() const { return done_; }

int DARecorder::encode_next_frame(uint8_t* out, int size) {
  if (done_) return 0;
  if (copy_) {
    while (clip_ && clip_frames_left_ <= 0) {
      clip_ = clip_->next;
      if (!open_clip()) clip_ = nullptr;
    }
    if (!clip_) {
      done_ = true;
      return 0;
    }
    const int n = player_.get_next_frame(out, size);
    --clip_frames_left_;
    if (n <= 0) done_ = true;
    return std::max(n, 0);
  }
  if (left_ <= 0) {
    done_ = true;
    return 0;
  }
  const int per = enc_->samples_per_frame() * s_.channels;
  int got = 0;
  const int16_t* pcm = track_.get_pcm(int(std::min<int64_t>(per, left_)), &got);
  left_ -= got;
  const int n = enc_->encode_next_frame(out, size, pcm, got / s_.channels);
  if (left_ <= 0) done_ = true;
  return n;
}

// ---------------------------------------------------------------------------

AudioRecordWriter::AudioRecordWriter(std::string file, const MPEG_Clip* list, const std::vector<PCMScalePoint>& gain,
                                     const AudioRecordSettings& s, JobControl* control)
    : file_(std::move(file)), list_(clip_list_duplicate(list)), gain_(gain), s_(s), control_(control) {}

AudioRecordWriter::~AudioRecordWriter() { mpeg_clip_list_free(list_); }

namespace {

bool same_file(const std::string& a, const std::string& b) {
  std::error_code e1, e2;
  if (std::filesystem::exists(a, e1) && std::filesystem::exists(b, e2)) return std::filesystem::equivalent(a, b, e1);
  return std::filesystem::weakly_canonical(a, e1) == std::filesystem::weakly_canonical(b, e2);
}

}  // namespace

int AudioRecordWriter::record() {
  JobControl own_control;
  JobControl& ctl = control_ ? *control_ : own_control;
  auto finish = [&](int result) {
    // Progress always ends at 100 so that a progress display closes.
    ctl.set_progress(100.0);
    ctl.finish(result == kRecordOk ? JobOutcome::done
               : result == kRecordCancelled ? JobOutcome::stopped
                                            : JobOutcome::failed,
               result, result == kRecordFailed ? "<" + file_ + ">: the audio save failed" : std::string());
    return result;
  };
  // Nothing is touched until the job is known to be able to run: a refused
  // record leaves an existing file as it was.
  int errors = audio_record_check_settings(&s_);
  for (const MPEG_Clip* c = list_; c && !errors; c = c->next)
    if (c->get_file_name() && same_file(c->get_file_name(), file_)) {
      trace("AudioRecordWriter::record (ERROR): <%s> is one of its own sources\n", file_.c_str());
      ++errors;
    }
  DARecorder rec;
  if (!errors && rec.init(list_, gain_, s_) != 0) ++errors;
  const std::string part = file_ + ".part";
  FILE* f = errors ? nullptr : std::fopen(part.c_str(), "wb");
  if (!f) {
    if (!errors) trace("AudioRecordWriter::record (ERROR): fopen (%s) failed\n", part.c_str());
    return finish(kRecordFailed);
  }
  const int most = rec.get_max_frame_bytes();
  std::vector<uint8_t> buf(size_t(most) * 100);
  size_t fill = 0;
  bool write_ok = true, cancelled = false;
  const double total = std::trunc(rec.get_time() / rec.get_frame_duration() + 0.5);
  // An empty range has no steps: it goes straight to 100.
  const double step = total > 0 ? 100.0 / total : 0.0;
  int shown = 0;
  for (;;) {
    if (ctl.checkpoint()) {
      cancelled = true;
      break;
    }
    const int n = rec.encode_next_frame(buf.data() + fill, int(buf.size() - fill));
    if (n <= 0) break;
    fill += size_t(n);
    ++frames_;
    if (buf.size() - fill < size_t(most)) {
      write_ok = write_ok && std::fwrite(buf.data(), 1, fill, f) == fill;
      fill = 0;
    }
    double pct = double(frames_) * step;
    if (pct >= 100.0) pct = 99.9;
    if (int(pct) > shown) {
      shown = int(pct);
      ctl.set_progress(pct);
    }
    if (rec.is_done()) break;
  }
  if (fill) write_ok = write_ok && std::fwrite(buf.data(), 1, fill, f) == fill;
  write_ok = (std::fclose(f) == 0) && write_ok;
  const bool remove = !write_ok || (cancelled && !ctl.keep_output());
  std::error_code ec;
  if (remove) {
    std::filesystem::remove(part, ec);
  } else {
    std::filesystem::rename(part, file_, ec);
    if (ec) {
      std::filesystem::remove(part, ec);
      write_ok = false;
    }
  }
  if (!write_ok) trace("AudioRecordWriter::record (ERROR): writing <%s> failed\n", file_.c_str());
  return finish(!write_ok ? kRecordFailed : cancelled ? kRecordCancelled : kRecordOk);
}
