#include "audio/track/datrack.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/mixer.h"
#include "foundation/trace.h"

namespace {

bool audio_only_type(int t) { return t == 1 || t == 9 || t == 10; }

TrackClipFacts probe_facts(MPEG_Clip* c) {
  TrackClipFacts f;
  DAPlayer p;
  // Clips with pictures are timed by their video frames; audio-only clips
  // keep their own frames.
  const bool video = !audio_only_type(c->clip_type) && Clip::is_mpeg_video_type(c->clip_type);
  const double vp = video ? clip_get_video_frame_period(c) : 0.0;
  Clip probe(*c);
  if (p.new_clip(probe, 0.0, 0.0) == 0 && p.get_sample_rate() > 0) {
    f.audio = true;
    f.rate = p.get_sample_rate();
    f.channels = p.get_channels();
    f.samples_per_frame = p.get_samples_per_frame();
    f.period = p.get_frame_period();
    f.bit_rate = p.get_bit_rate();
  }
  if (vp > 0) f.period = vp;
  f.audio_frames = f.audio && vp <= 0;
  return f;
}

}  // namespace

DAEditor::DAEditor() = default;
DAEditor::~DAEditor() { mpeg_clip_list_free(list_); }

int DAEditor::init(const MPEG_Clip* list, int sample_rate, int channels) {
  if (!list) return 1;
  if (sample_rate != 32000 && sample_rate != 44100 && sample_rate != 48000) return 1;
  if (channels != 1 && channels != 2) return 1;
  rate_ = sample_rate;
  channels_ = channels;
  mpeg_clip_list_free(list_);
  list_ = clip_list_duplicate(list);
  return compute_times() > 0 || list_ ? 0 : 1;
}

const TrackClipFacts& DAEditor::facts(const MPEG_Clip* c) const { return facts_[size_t(c->index)]; }
double DAEditor::clip_start_time(const MPEG_Clip* c) const { return starts_[size_t(c->index)]; }

int DAEditor::compute_times() {
  facts_.clear();
  starts_.clear();
  total_ = 0.0;
  ++edits_;
  if (!list_) return 0;
  list_ = clip_update(list_);
  int with_audio = 0;
  double end = 0.0;
  for (MPEG_Clip* c = list_; c; c = c->next) {
    const std::string key = c->file_name + "|" + std::to_string(c->audio_stream_id) + "|" +
                            std::to_string(c->audio_pid) + "|" + std::to_string(c->clip_type);
    auto it = known_.find(key);
    if (it == known_.end()) it = known_.emplace(key, probe_facts(c)).first;
    const TrackClipFacts& f = it->second;
    c->index = int(facts_.size());
    facts_.push_back(f);
    const double start = std::max(0.0, end - c->transition_length * f.period);
    starts_.push_back(start);
    end = start + c->count * f.period;
    with_audio += f.audio ? 1 : 0;
  }
  total_ = end;
  return with_audio;
}

int DAEditor::total_frames() const {
  int n = 0;
  for (const MPEG_Clip* c = list_; c; c = c->next) n += c->count - c->transition_length;
  return n;
}

int DAEditor::time_2_frame(double t) const {
  if (t <= 0) return 0;
  for (const MPEG_Clip* c = list_; c; c = c->next) {
    const double p = facts(c).period, s = clip_start_time(c);
    if (t < s + c->count * p) {
      const int k = std::max(0, int(std::floor((t - s) / p + 1e-9)));
      return clip_first_edit_frame(c) + std::min(k, c->count);
    }
  }
  return total_frames();
}

MPEG_Clip* DAEditor::copy(double start, double length) const {
  if (length == 0) length = total_ - start;
  const double end = std::min(start + length, total_);
  const int f0 = time_2_frame(start), f1 = time_2_frame(end);
  if (!list_ || start < 0 || length < 0 || f1 <= f0) {
    trace("DAEditor::copy (ERROR: %.6f-%.6f:=%.6f): invalid range.\n", start, start + length, length);
    return nullptr;
  }
  return clip_copy(list_, f0, f1 - f0);
}

int DAEditor::cut(double start, double length) {
  if (start == 0 && length == 0) {
    trace("DAEditor::cut (ERROR): won't allow to cut whole (0,0)\n");
    return 1;
  }
  if (length == 0) length = total_ - start;
  double end = start + length;
  if (end > total_) {
    trace("DAEditor::cut (ERROR): end=%.6f > %.6f=total\n", end, total_);
    end = total_;
  }
  const int f0 = time_2_frame(start), f1 = time_2_frame(end);
  // Cutting every frame would leave no track.
  if (!list_ || start < 0 || f1 <= f0 || (f0 == 0 && f1 >= total_frames())) {
    trace("DAEditor::cut (ERROR: %.6f-%.6f:=%.6f): invalid range.\n", start, end, length);
    return 1;
  }
  list_ = clip_cut(list_, f0, f1 - f0);
  compute_times();
  return 0;
}

int DAEditor::paste(const MPEG_Clip* clips, double t, int effect, double seconds) {
  if (!list_ || !clips || t < 0) return 1;
  int frame = time_2_frame(t);
  int span = 0;
  // Within half a frame of the end the piece is appended.
  const MPEG_Clip* last = list_;
  while (last->next) last = last->next;
  if (t >= total_ - facts(last).period / 2) {
    frame = total_frames();
  } else if (effect > 0 && seconds > 0) {
    // The transition's frames are those of the clip after the pasted piece.
    const MPEG_Clip* at = list_;
    while (at->next && frame > clip_last_edit_frame(at)) at = at->next;
    span = std::max(1, int(seconds / facts(at).period + 0.5));
  }
  MPEG_Clip* dup = clip_list_duplicate(clips);
  bool taken = false;
  list_ = clip_insert(list_, dup, frame, span ? effect : 0, span, &taken);
  if (!taken) mpeg_clip_list_free(dup);
  compute_times();
  return taken ? 0 : 1;
}

int DAEditor::add_transition(double start, int effect, double length) {
  const int f0 = time_2_frame(start), f1 = time_2_frame(start + length);
  if (!list_ || f1 <= f0 || clip_insert_transitions(list_, f0, effect, f1 - f0) <= 0) return 1;
  compute_times();
  return 0;
}

int DAEditor::add_effect(double start, int effect, double length) {
  MixerOp op = mixer_op_get_function(effect);
  // An operation on one input answers 1 to a call without samples.
  if (!op || op(0, 0, 0, nullptr, nullptr, nullptr, nullptr) != 1) return add_transition(start, effect, length);
  const int f0 = time_2_frame(start), f1 = time_2_frame(start + length);
  if (!list_ || start < 0 || f1 <= f0 || !clip_add_overlay(list_, effect, f0, f1 - f0)) {
    trace("DAEditor::add_effect (ERROR: %.6f-%.6f): invalid range.\n", start, start + length);
    return 1;
  }
  compute_times();
  return 0;
}

int DAEditor::remove_effects(double start, double length) {
  if (!list_ || start < 0 || length < 0) return 1;
  const int f0 = time_2_frame(start);
  const int f1 = std::max(f0 + 1, time_2_frame(start + length) + (length > 0 ? 1 : 0));
  int removed = 0;
  // A transition mixes the last transition_length frames before its clip.
  for (bool again = true; again;) {
    again = false;
    for (MPEG_Clip* c = list_->next; c; c = c->next) {
      const int l = clip_last_edit_frame(c->prev);
      if (c->transition_length > 0 && l - c->transition_length < f1 - 1 && l >= f0) {
        removed += clip_remove_transitions(list_, l) > 0 ? 1 : 0;
        again = true;  // the frames moved: walk again
        break;
      }
    }
  }
  for (MPEG_Clip* c = list_; c; c = c->next) {
    const int first = clip_first_edit_frame(c);
    for (size_t i = c->overlays.size(); i-- > 0;) {
      const OverlayClip& o = c->overlays[i];
      const int a = first + o.position - c->start;
      if (o.kind != 11 && o.kind != 12 && a < f1 && a + o.length > f0) {
        c->overlays.erase(c->overlays.begin() + long(i));
        ++removed;
      }
    }
  }
  if (!removed) {
    trace("DAEditor::remove_effects (ERROR): no effect at %.6f-%.6f\n", start, start + length);
    return 1;
  }
  compute_times();
  return 0;
}

int DAEditor::select_stream(const MPEG_Clip* c, int stream_id, int pid) {
  if (!list_ || !c) return 1;
  const std::string file = c->file_name;
  DAList probe;
  int ids[32], pids[32];
  const int n = probe.init(file.c_str(), 0, 0) == 0 ? probe.get_stream_list(ids, pids, 32) : 0;
  bool have = false;
  for (int i = 0; i < n; ++i) have |= ids[i] == stream_id && (pid <= 0 || pids[i] == pid);
  if (!have) {
    trace("DAEditor::select_stream (ERROR): no stream 0x%02x (pid %d) in %s\n", stream_id, pid, file.c_str());
    return 1;
  }
  for (MPEG_Clip* k = list_; k; k = k->next)
    if (k->file_name == file) {
      k->audio_stream_id = stream_id;
      k->audio_pid = pid;
    }
  compute_times();
  return 0;
}

int DAEditor::replace(const MPEG_Clip* clips) {
  if (!clips) return 1;
  if (list_ && !mpeg_clip_list_differs(list_, clips)) return 0;
  MPEG_Clip* old = list_;
  list_ = clip_list_duplicate(clips);
  if (compute_times() == 0 && !list_) {
    trace("DAEditor::replace (): failed in DAEditor::init_player () for:\n");
    mpeg_clip_list_free(list_);
    list_ = old;
    compute_times();
    return 1;
  }
  mpeg_clip_list_free(old);
  return 0;
}

// ---------------------------------------------------------------------------

int TrackClipReader::open(const MPEG_Clip& clip, const TrackClipFacts& f, int64_t total, int64_t pos, int rate,
                          int channels, const double* eq) {
  if (eq) player_.set_equalizer(eq);
  f_ = f;
  rate_ = rate;
  channels_ = channels;
  fifo_.clear();
  ended_ = false;
  total_ = total;
  produced_ = 0;
  audio_ = f.audio && player_.new_clip(clip, clip.start * f.period, clip.count * f.period) == 0;
  src_.reset();
  if (audio_ && (f.rate != rate || f.channels != channels)) src_ = std::make_unique<SampleRateConvertor>(rate, channels);
  // PCM starts at the clip's own sample, not at the start of the frame
  // holding it.
  if (audio_ && !f.audio_frames) pos += std::llround(player_.start_lead() * rate) * channels;
  if (pos <= 0) return 0;
  if (audio_) {
    // Start at the frame holding pos; the rest is read and dropped.
    const int64_t fs = src_ ? 0 : int64_t(f.samples_per_frame) * channels;
    const int64_t k = fs > 0 ? pos / fs : 0;
    // k counts audio frames, whatever frames the clip counts.
    if (k > 0) player_.goto_offset(double(k) * f.samples_per_frame / f.rate);
    produced_ = k * fs;
  }
  std::vector<int16_t> skip(4096);
  while (produced_ < pos) read(skip.data(), int(std::min<int64_t>(4096, pos - produced_)));
  return 0;
}

bool TrackClipReader::fill(size_t want) {
  while (fifo_.size() < want && !ended_) {
    int n = 0;
    const int16_t* s = player_.get_next_pcm_frame(&n);
    if (!s || n <= 0) {
      if (src_) {
        scratch_.resize(65536);
        const int k = src_->convert_rate(scratch_.data(), int(scratch_.size()), nullptr, 0, f_.rate, f_.channels, true);
        if (k > 0) fifo_.insert(fifo_.end(), scratch_.begin(), scratch_.begin() + k);
      }
      ended_ = true;
      break;
    }
    if (!src_) {
      fifo_.insert(fifo_.end(), s, s + n);
      continue;
    }
    scratch_.resize(size_t(n) * 4 + 8192);
    const int k = src_->convert_rate(scratch_.data(), int(scratch_.size()), s, n, f_.rate, f_.channels, false);
    if (k > 0) fifo_.insert(fifo_.end(), scratch_.begin(), scratch_.begin() + k);
  }
  return fifo_.size() >= want;
}

void TrackClipReader::read(int16_t* out, int n) {
  const int64_t real = std::max<int64_t>(0, std::min<int64_t>(n, total_ - produced_));
  int got = 0;
  if (audio_ && real > 0) {
    fill(size_t(real));
    got = int(std::min<int64_t>(real, int64_t(fifo_.size())));
    std::copy(fifo_.begin(), fifo_.begin() + got, out);
    fifo_.erase(fifo_.begin(), fifo_.begin() + got);
  }
  // Past the clip's sound (or without any): silence, so the length holds.
  std::fill(out + got, out + n, int16_t(0));
  produced_ += n;
}

// ---------------------------------------------------------------------------

DATrack::DATrack() = default;
DATrack::~DATrack() = default;

int DATrack::init(const MPEG_Clip* list, int sample_rate, int channels) {
  if (DAEditor::init(list, sample_rate, channels) != 0) return 1;
  seek(0.0);
  return 0;
}

int64_t DATrack::frame_samples(const MPEG_Clip* c, int frames) const {
  const TrackClipFacts& f = facts(c);
  if (f.audio_frames && f.rate == rate_ && f.channels == channels_)
    return int64_t(frames) * f.samples_per_frame * channels_;
  return std::llround(frames * f.period * rate_) * channels_;
}

int64_t DATrack::clip_samples(const MPEG_Clip* c) const { return frame_samples(c, c->count); }
int64_t DATrack::overlap_samples(const MPEG_Clip* next) const {
  return next && next->prev ? std::min(frame_samples(next, next->transition_length), clip_samples(next->prev)) : 0;
}

int64_t DATrack::total_samples() const {
  int64_t n = 0;
  for (const MPEG_Clip* c = list_; c; c = c->next) n += clip_samples(c) - overlap_samples(c);
  return n;
}

int DATrack::frame_of_sample(const MPEG_Clip* c, int64_t pos) const {
  const TrackClipFacts& f = facts(c);
  const double per = f.audio_frames && f.rate == rate_ && f.channels == channels_
                         ? double(f.samples_per_frame) * channels_
                         : f.period * rate_ * channels_;
  int fr = per > 0 ? int(std::clamp(double(pos) / per, 0.0, double(c->count))) : 0;
  while (fr < c->count && frame_samples(c, fr + 1) <= pos) ++fr;
  while (fr > 0 && frame_samples(c, fr) > pos) --fr;
  return fr;
}

void DATrack::apply_ops(const MPEG_Clip* c, int64_t pos, int16_t* buf, int n) const {
  if (!audio_ops_ || !c || c->overlays.empty()) return;
  for (int i = 0; i < n;) {
    const int fr = frame_of_sample(c, pos + i);
    const int k = int(std::clamp<int64_t>(frame_samples(c, fr + 1) - (pos + i), 1, n - i));
    const int src = c->start + fr;
    for (const OverlayClip& o : c->overlays) {
      if (o.kind == 11 || o.kind == 12 || !o.covers(src) || mixer_op_get_kind(o.effect_id) != 1) continue;
      // One gain per frame: the operations use only the ratio of position to span.
      if (MixerOp op = mixer_op_get_function(o.effect_id))
        op(double(src - o.position + o.effect_offset), double(o.effect_span), k, buf + i, buf + i, nullptr, nullptr);
      break;
    }
    i += k;
  }
}

void DATrack::enter(MPEG_Clip* c) {
  cur_ = c;
  if (!c || (c == shown_ && edits_ == shown_edits_)) return;
  shown_ = c;
  shown_edits_ = edits_;
  const int r = get_clip_sample_rate(), ch = get_clip_channels();
  const bool changed = shown_rate_ && (r != shown_rate_ || ch != shown_channels_);
  shown_rate_ = r;
  shown_channels_ = ch;
  if (clip_cb_) clip_cb_(c);
  if (changed && format_cb_) format_cb_(1);
}

void DATrack::open_current(int64_t pos) {
  pos_ = pos;
  b_.reset();
  a_ = std::make_unique<TrackClipReader>();
  if (cur_) a_->open(*cur_, facts(cur_), clip_samples(cur_), pos, rate_, channels_, eq_.empty() ? nullptr : eq_.data());
}

int DATrack::get_clip_sample_rate() const { return cur_ && facts(cur_).audio ? facts(cur_).rate : rate_; }
int DATrack::get_clip_channels() const { return cur_ && facts(cur_).audio ? facts(cur_).channels : channels_; }
int DATrack::get_clip_bit_rate() const { return cur_ && facts(cur_).audio ? facts(cur_).bit_rate : 0; }
double DATrack::get_clip_frame_period() const {
  if (!cur_ || !facts(cur_).audio) return 1152.0 / 44100;
  const TrackClipFacts& f = facts(cur_);
  return double(f.samples_per_frame) / f.rate;
}

int DATrack::set_abs_id(int stream_id, int pid) {
  if (!cur_ || !facts(cur_).audio) return 1;
  if (cur_->audio_stream_id == stream_id && (pid <= 0 || cur_->audio_pid == pid)) return 0;
  const double at = get_time();
  if (select_stream(cur_, stream_id, pid) != 0) return 1;
  seek(at);
  return 0;
}

int DATrack::set_equalizer(const double* gains) {
  if (!gains || !cur_) {
    trace("DAEditor::get_equalizer_filters (ERROR): _dap_curr=nil\n");
    return 0;
  }
  eq_.assign(gains, gains + 64);
  if (a_) a_->set_equalizer(gains);
  if (b_) b_->set_equalizer(gains);
  return 1;
}

double DATrack::seek(double t) {
  t = std::clamp(t, 0.0, total_);
  MPEG_Clip* c = list_;
  while (c && c->next && t >= clip_start_time(c) + c->count * facts(c).period) c = c->next;
  enter(c);
  int64_t pos = 0;
  if (cur_) {
    pos = std::llround((t - clip_start_time(cur_)) * rate_) * channels_;
    pos = std::clamp<int64_t>(pos, 0, clip_samples(cur_));
    // A clip entered through a transition starts after its mixed frames.
    pos = std::max(pos, overlap_samples(cur_));
    t = clip_start_time(cur_) + double(pos / channels_) / rate_;
  }
  open_current(pos);
  done_ = std::llround(t * rate_) * channels_;
  return t;
}

double DATrack::get_time() const { return double(done_ / channels_) / rate_; }

bool DATrack::is_end() const { return !cur_ || (!cur_->next && pos_ >= clip_samples(cur_)); }

const int16_t* DATrack::get_pcm(int n, int* count) {
  if (!count || n <= 0) return nullptr;
  out_.assign(size_t(n), 0);
  tmp_a_.resize(size_t(n));
  tmp_b_.resize(size_t(n));
  int got = 0;
  while (got < n && cur_) {
    MPEG_Clip* nx = cur_->next;
    const int64_t whole = clip_samples(cur_);
    const int64_t o = overlap_samples(nx);
    if (pos_ < whole - o) {
      const int k = int(std::min<int64_t>(n - got, whole - o - pos_));
      a_->read(out_.data() + got, k);
      apply_ops(cur_, pos_, out_.data() + got, k);
      pos_ += k;
      got += k;
      continue;
    }
    if (pos_ < whole) {
      // The transition: this clip's last frames with the next clip's first,
      // one gain per frame of the next clip.
      const int64_t in = pos_ - (whole - o);
      if (!b_) {
        b_ = std::make_unique<TrackClipReader>();
        b_->open(*nx, facts(nx), clip_samples(nx), in, rate_, channels_, eq_.empty() ? nullptr : eq_.data());
      }
      const int64_t fs = std::max<int64_t>(1, frame_samples(nx, 1));
      const int64_t frame = in / fs;
      const int k = int(std::min<int64_t>(n - got, std::min(o, (frame + 1) * fs) - in));
      a_->read(tmp_a_.data(), k);
      apply_ops(cur_, pos_, tmp_a_.data(), k);
      b_->read(tmp_b_.data(), k);
      apply_ops(nx, in, tmp_b_.data(), k);
      // The operations use only the ratio of position to span: whole frames
      // keep each frame's gain exact.
      const double pos = double(frame), span = double(nx->transition_length);
      if (MixerOp op = mixer_op_get_function(nx->transition_id))
        op(pos, span, k, out_.data() + got, tmp_a_.data(), tmp_b_.data(), nullptr);
      else
        std::copy_n(pos < span / 2 ? tmp_a_.data() : tmp_b_.data(), k, out_.data() + got);
      pos_ += k;
      got += k;
      continue;
    }
    if (!nx) break;
    enter(nx);
    if (b_) {
      a_ = std::move(b_);
      pos_ = o;
    } else {
      open_current(o);
    }
  }
  scale_pcm(out_.data(), n);
  done_ += n;
  *count = n;
  return out_.data();
}

void DATrack::set_pcm_scale(const std::vector<PCMScalePoint>& points) { scale_ = copy_pcm_scale(points); }

double DATrack::gain_at(double t) const { return pcm_scale_gain_at(scale_, t); }

void DATrack::scale_pcm(int16_t* buf, int n) {
  if (scale_.size() < 2) return;
  const int64_t first = done_ / channels_;
  for (int i = 0; i < n; i += channels_) {
    const double g = gain_at(double(first + i / channels_) / rate_);
    if (g == 1.0) continue;
    for (int c = 0; c < channels_ && i + c < n; ++c) {
      // Toward zero, and held in range: a gain above 1 must not wrap.
      const double v = std::trunc(buf[i + c] * g);
      buf[i + c] = int16_t(std::clamp(v, -32768.0, 32767.0));
    }
  }
}
