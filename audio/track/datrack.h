// An audio track: an edited list of clips played as one continuous stream
// at a fixed output rate and channel count. Each clip gives exactly its
// frames (its own audio frames for audio-only clips, its video frames'
// time for the others), clips without sound give silence for their
// length, a transition mixes the last frames of one clip with the first of
// the next frame by frame, and a gain envelope scales the result. The list
// is edited by time: copy, cut, paste and replace.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "access/clip.h"
#include "audio/codec/src_convertor.h"
#include "audio/track/daplayer.h"
#include "engine/clips/project.h"

// A clip's audio facts as the track times it.
struct TrackClipFacts {
  bool audio = false;
  double period = 1152.0 / 44100;  // seconds per frame of the clip
  int rate = 44100, channels = 2, samples_per_frame = 1152;
  int bit_rate = 0;  // bits per second of the clip's stream (0 without sound)
  // The clip counts its own audio frames (audio-only clips); clips with
  // pictures count video frames.
  bool audio_frames = false;
};

class DAEditor {
 public:
  DAEditor();
  virtual ~DAEditor();
  DAEditor(const DAEditor&) = delete;
  DAEditor& operator=(const DAEditor&) = delete;

  // Takes a copy of the list; 0 on success.
  int init(const MPEG_Clip* list, int sample_rate, int channels);
  double get_total() const { return total_; }
  int get_rate() const { return rate_; }
  int get_channels() const { return channels_; }
  const MPEG_Clip* list() const { return list_; }
  double clip_start_time(const MPEG_Clip* c) const;
  const TrackClipFacts& facts(const MPEG_Clip* c) const;

  // Track frame holding t (the frame count at or past the end).
  int time_2_frame(double t) const;
  int total_frames() const;
  // A new list of the frames covering [start, start + length); length 0
  // means to the end. Null for an invalid range.
  MPEG_Clip* copy(double start, double length) const;
  // 0 on success (the whole track by (0, 0) is refused).
  int cut(double start, double length);
  // Inserts a copy of `clips` at time t with a transition of `effect` over
  // `seconds` (the end of the pasted piece mixed with what follows it).
  int paste(const MPEG_Clip* clips, double t, int effect, double seconds);
  // A transition of `effect` laid on the frames of [start, start + length);
  // 0 on success.
  int add_transition(double start, int effect, double length);
  // An effect over [start, start + length): an operation on one input (a
  // fade) is laid over the clips of that range; one mixing two inputs
  // becomes a transition there. 0 on success.
  int add_effect(double start, int effect, double length);
  // Removes the transitions and laid-over operations touching the frames
  // of [start, start + length] (length 0: the frame holding start); 0 when
  // something was removed.
  int remove_effects(double start, double length);
  // Selects another audio stream of the file of `c` for every clip of that
  // file; 0 on success (the old stream stays when the new one has no sound).
  int select_stream(const MPEG_Clip* c, int stream_id, int pid);
  // Replaces the list with a copy of `clips`; the old list stays on failure.
  int replace(const MPEG_Clip* clips);

 protected:
  // Recomputes clip times after an edit.
  int compute_times();
  MPEG_Clip* list_ = nullptr;
  std::vector<TrackClipFacts> facts_;
  std::vector<double> starts_;
  mutable std::map<std::string, TrackClipFacts> known_;  // by file and stream
  double total_ = 0.0;
  int rate_ = 44100, channels_ = 2;
  unsigned edits_ = 0;  // grows with every recomputation of the list
};

// A clip's sound in the track's output format, read sample by sample:
// exactly `total` samples, silence past the clip's sound.
class TrackClipReader {
 public:
  // pos: output samples to skip from the clip's start.
  // eq: 64 subband gains for an MPEG audio stream, or null.
  int open(const MPEG_Clip& clip, const TrackClipFacts& f, int64_t total, int64_t pos, int rate, int channels,
           const double* eq = nullptr);
  void read(int16_t* out, int n);
  void set_equalizer(const double* gains) { player_.set_equalizer(gains); }

 private:
  bool fill(size_t want);
  DAPlayer player_;
  std::unique_ptr<SampleRateConvertor> src_;
  std::deque<int16_t> fifo_;
  TrackClipFacts f_;
  int rate_ = 0, channels_ = 0;
  bool audio_ = false, ended_ = false;
  int64_t total_ = 0, produced_ = 0;
  std::vector<int16_t> scratch_;
};

class DATrack : public DAEditor {
 public:
  // Called when another clip becomes current (playing on or seeking), and
  // with 1 when the current clip's sample rate or channel count differs
  // from the previous one's.
  using ClipCallback = std::function<void(const MPEG_Clip*)>;
  using FormatCallback = std::function<void(int)>;

  DATrack();
  ~DATrack() override;
  // 0 on success.
  int init(const MPEG_Clip* list, int sample_rate, int channels);
  // Next n samples of the track (silence past its end, counted in *count).
  const int16_t* get_pcm(int n, int* count);
  double seek(double t);
  double get_time() const;
  bool is_end() const;
  // Gain envelope: points in time order; outside them the end gains hold.
  void set_pcm_scale(const std::vector<PCMScalePoint>& points);
  const std::vector<PCMScalePoint>& get_pcm_scale() const { return scale_; }
  // Gain at track time t (1.0 without an envelope of two or more points).
  double gain_at(double t) const;
  // Samples of clip c in the output and of its overlap with the next clip.
  int64_t clip_samples(const MPEG_Clip* c) const;
  int64_t overlap_samples(const MPEG_Clip* next) const;
  // Samples of the whole track in the output (all channels).
  int64_t total_samples() const;

  // Overlays of the clips are audio operations (a track of the audio
  // editor) rather than picture effects (the movie's own list): off by
  // default.
  void set_audio_ops(bool on) { audio_ops_ = on; }
  void set_clip_callback(ClipCallback cb) { clip_cb_ = std::move(cb); }
  void set_format_callback(FormatCallback cb) { format_cb_ = std::move(cb); }
  const MPEG_Clip* current_clip() const { return cur_; }
  // The current clip's stream (the track's own rate and channels, 16 bits
  // and 1152 / 44100 s frames when it has no sound).
  int get_clip_sample_rate() const;
  int get_clip_channels() const;
  int get_clip_bit_rate() const;
  double get_clip_frame_period() const;
  int get_clip_bits_per_sample() const { return 16; }
  // Stream selection for the current clip's file, kept at the track time.
  int set_abs_id(int stream_id, int pid);
  // 2 x 32 subband gains (left, then right) for every MPEG audio decoder
  // of the track, now and for clips opened later; 0 without a clip.
  int set_equalizer(const double* gains);

 private:
  int64_t frame_samples(const MPEG_Clip* c, int frames) const;
  // Frame of clip c holding output sample pos.
  int frame_of_sample(const MPEG_Clip* c, int64_t pos) const;
  void open_current(int64_t pos);
  void enter(MPEG_Clip* c);
  // The operations laid over clip c applied to n samples from pos.
  void apply_ops(const MPEG_Clip* c, int64_t pos, int16_t* buf, int n) const;
  void scale_pcm(int16_t* buf, int n);
  ClipCallback clip_cb_;
  FormatCallback format_cb_;
  std::vector<double> eq_;
  bool audio_ops_ = false;
  const MPEG_Clip* shown_ = nullptr;  // the clip the callbacks last reported
  unsigned shown_edits_ = 0;          // ... in the list of that edit
  int shown_rate_ = 0, shown_channels_ = 0;
  MPEG_Clip* cur_ = nullptr;
  int64_t pos_ = 0;       // output samples of the current clip consumed
  int64_t done_ = 0;      // output samples handed out from the track's start
  std::unique_ptr<TrackClipReader> a_, b_;  // current clip, next clip in a transition
  std::vector<int16_t> out_, tmp_a_, tmp_b_;
  std::vector<PCMScalePoint> scale_;
};
