#include "audio/track/audio_editor.h"

#include <algorithm>
#include <cmath>

#include "audio/codec/wave.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/clips/clip_streams.h"
#include "foundation/trace.h"

namespace {

struct ClipList {
  MPEG_Clip* head = nullptr;
  explicit ClipList(MPEG_Clip* h) : head(h) {}
  ~ClipList() { mpeg_clip_list_free(head); }
  ClipList(const ClipList&) = delete;
  ClipList& operator=(const ClipList&) = delete;
};

}  // namespace

int AudioEditor::load_project(const char* file, EClip* out) {
  out->clear();
  if (out->init(file, 0) == 0 && !out->clips.empty()) return 0;
  out->clear();
  Clip c;
  if (clip_of_wave_file(file, &c) != 0) return 1;
  out->clips.push_back(c);
  out->file_name = file;
  return 0;
}

void AudioEditor::get_default_format(const EClip& project, int* rate, int* channels) {
  *rate = 44100;
  *channels = 2;
  if (project.clips.empty()) return;
  Clip c = project.clips.front();
  if (c.clip_type == 10) {
    *rate = c.sample_rate;
    *channels = c.channels;
    return;
  }
  ClipInfo info;
  if (clip_get_audio_es_info(&c, &info, 1) > 0 && info.sample_rate > 0 && info.channels > 0) {
    *rate = info.sample_rate;
    *channels = info.channels;
  }
}

int AudioEditor::check_sample_rate(int rate) {
  if (rate == 44100 || rate == 48000 || rate == 32000) return rate;
  trace("AudioEditor::ctor (ERROR): invalid sf value (%d)\n", rate);
  return 44100;
}

int AudioEditor::check_channels(int channels) {
  if (channels == 2 || channels == 1) return channels;
  trace("AudioEditor::ctor (ERROR): invalid ch value (%d)\n", channels);
  return 2;
}

void AudioEditor::create(const char* file, int* error, int sample_rate, int channels) {
  track_.reset();
  EClip project;
  if (load_project(file, &project) == 0) {
    int r = 0, ch = 0;
    get_default_format(project, &r, &ch);
    if (sample_rate == 0) sample_rate = r;
    if (channels == 0) channels = ch;
    ClipList list(eclip_2_mpeg_clip(project, 0));
    if (list.head) {
      auto t = std::make_unique<DATrack>();
      t->set_audio_ops(true);
      if (t->init(list.head, check_sample_rate(sample_rate), check_channels(channels)) == 0) {
        t->set_pcm_scale(project.pcm_scale);
        track_ = std::move(t);
      }
    }
  }
  if (error) *error = track_ ? 0 : 1;
}

void AudioEditor::create_empty() {
  track_ = std::make_unique<DATrack>();
  track_->set_audio_ops(true);
}

EClip* AudioEditor::copy(double start, double length) {
  const double total = get_length();
  if (!track_ || start < 0 || length < 0 || start + length > total + 1e-9) {
    trace("AudioEditor::copy (ERROR): start=%.3f, length=%.3f, total=%.3f\n", start, length, total);
    return nullptr;
  }
  ClipList list(track_->copy(start, length));
  return list.head ? mpeg_clip_2_eclip(list.head) : nullptr;
}

void AudioEditor::restore(double at) { track_->seek(std::clamp(at, 0.0, track_->get_total())); }

int AudioEditor::cut(double start, double length) {
  const double total = get_length();
  if (!track_ || start < 0 || length < 0 || start + length > total + 1e-9) {
    trace("AudioEditor::cut (ERROR): start=%.3f, length=%.3f, total=%.3f\n", start, length, total);
    return 0;
  }
  const double at = track_->get_time();
  if (track_->cut(start, length) != 0) return 0;
  // After the cut the position moves back by what went; inside it, to its start.
  restore(at >= start + length ? at - (total - track_->get_total()) : std::min(at, start));
  return 1;
}

int AudioEditor::paste(const EClip& clips, double t, int effect, double seconds) {
  const double total = get_length();
  if (!track_ || t < 0 || t > total + 1e-9) {
    trace("AudioEditor::paste (ERROR): insert=%.3f, total=%.3f\n", t, total);
    return 0;
  }
  ClipList list(eclip_2_mpeg_clip(clips, 0));
  if (!list.head) return 0;
  const double at = track_->get_time();
  if (track_->paste(list.head, t, effect, seconds) != 0) return 0;
  restore(at >= t ? at + track_->get_total() - total : at);
  return 1;
}

int AudioEditor::replace(const EClip& project) {
  if (!track_) return 0;
  ClipList list(eclip_2_mpeg_clip(project, 0));
  if (!list.head || track_->replace(list.head) != 0) return 0;
  track_->seek(0.0);
  return 1;
}

int AudioEditor::add_effect(double start, int effect, double length) {
  if (!track_) return 0;
  const double at = track_->get_time();
  if (track_->add_effect(start, effect, length) != 0) return 0;
  restore(at);
  return 1;
}

int AudioEditor::remove_effects(double start, double length) {
  if (!track_) return 0;
  const double at = track_->get_time(), total = track_->get_total();
  if (track_->remove_effects(start, length) != 0) return 0;
  // A transition removed before the position lengthens the track by its frames.
  restore(at >= start ? at + track_->get_total() - total : at);
  return 1;
}

int AudioEditor::get_audio_streams(const char* file, double* duration, int* ids, int* pids, int max) {
  if (duration) *duration = 0.0;
  if (!file || max < 1) return 0;
  DAList list;
  if (list.init(file, 0, 0) == 0) {
    std::vector<int> i(32), p(32);
    const int n = std::min(list.get_stream_list(i.data(), p.data(), 32), max);
    for (int k = 0; k < n; ++k) {
      if (ids) ids[k] = i[size_t(k)];
      if (pids) pids[k] = p[size_t(k)];
    }
    if (duration) *duration = list.get_length();
    return n;
  }
  WaveFile w;
  if (w.open(file, 1) != 0) return 0;
  if (duration) *duration = w.get_duration();
  w.close();
  if (ids) ids[0] = 0xC0;
  if (pids) pids[0] = 0;
  return 1;
}

int AudioEditor::set_abs_id(int stream_id, int pid) { return track_ && track_->set_abs_id(stream_id, pid) == 0 ? 1 : 0; }

void AudioEditor::set_pcm_scale(const std::vector<PCMScalePoint>& points) {
  if (track_) track_->set_pcm_scale(points);
}

const int16_t* AudioEditor::get_pcm(int* count) {
  if (!track_) {
    if (count) *count = 0;
    return nullptr;
  }
  return track_->get_pcm(track_->get_channels() * 1152, count);
}

std::unique_ptr<AudioRecordWriter> AudioEditor::make_record_writer(const char* file, const AudioRecordSettings& s,
                                                                  double start, double length, JobControl* control) {
  const double total = get_length();
  if (track_ && start + length > total) {
    trace("DAEditor::record (ERROR): start=%.3f, length=%.3f, total=%.3f\n", start, length, total);
    length = total - start;
  }
  ClipList list(track_ && start >= 0 && length > 0 ? track_->copy(start, length) : nullptr);
  if (!list.head) {
    trace("DAEditor::record (ERROR): copy (%.3f, %.3f) failed\n", start, length);
    if (control) {
      control->set_progress(100.0);
      control->finish(JobOutcome::failed, kRecordFailed, "nothing to save in that range");
    }
    return nullptr;
  }
  // The envelope moves with the range: its time 0 is the range's start.
  std::vector<PCMScalePoint> gain = track_->get_pcm_scale();
  for (PCMScalePoint& p : gain) p.time = float(p.time - start);
  return std::make_unique<AudioRecordWriter>(file ? file : "", list.head, gain, s, control);
}

int AudioEditor::record(const char* file, const AudioRecordSettings& s, double start, double length,
                        JobControl* control, int64_t* frames) {
  if (frames) *frames = 0;
  std::unique_ptr<AudioRecordWriter> w = make_record_writer(file, s, start, length, control);
  if (!w) return kRecordFailed;
  const int r = w->record();
  if (frames) *frames = w->frames();
  return r;
}
