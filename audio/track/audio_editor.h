// The audio window's one entry into the audio engine: a track built from a
// project or media file, edited by time ranges in seconds, with projects
// passed as EClip records.
#pragma once

#include <memory>
#include <vector>

#include "audio/track/darecorder.h"
#include "audio/track/datrack.h"
#include "engine/clips/project.h"

class AudioEditor {
 public:
  // Loads a project, a media file or a WAVE file and builds the track;
  // *error is set when no track results. A rate or channel count of 0
  // takes the project's own.
  void create(const char* file, int* error, int sample_rate, int channels);
  void create_empty();
  void destroy() { track_.reset(); }
  DATrack* track() { return track_.get(); }

  // Project of one file (a WAVE file as an audio clip of 1152-sample
  // frames); 0 on success.
  static int load_project(const char* file, EClip* out);
  static void get_default_format(const EClip& project, int* rate, int* channels);
  static int check_sample_rate(int rate);
  static int check_channels(int channels);

  // A new project of that range, null when out of range.
  EClip* copy(double start, double length);
  // 1 when the range was removed / the piece inserted.
  int cut(double start, double length);
  int paste(const EClip& clips, double t, int effect, double seconds);
  int replace(const EClip& project);
  // An effect at `start` over `length` seconds (a fade laid over the range,
  // or a transition); 1 when added.
  int add_effect(double start, int effect, double length);
  // Removes the effects touching [start, start + length]; 1 when any went.
  int remove_effects(double start, double length);
  // The audio streams of a file: their number (at most max), the duration
  // and each stream's id and PID (pids may be null).
  static int get_audio_streams(const char* file, double* duration, int* ids, int* pids, int max);
  // Plays stream `stream_id` of the current clip's file; 1 when selected.
  int set_abs_id(int stream_id, int pid = 0);
  // 2 x 32 subband gains for the MPEG audio decoders; 0 without a track.
  int get_equalizer_filters(const double* gains) { return track_ ? track_->set_equalizer(gains) : 0; }
  void set_format_callback(DATrack::FormatCallback cb) {
    if (track_) track_->set_format_callback(std::move(cb));
  }
  void set_clip_callback(DATrack::ClipCallback cb) {
    if (track_) track_->set_clip_callback(std::move(cb));
  }
  // The current clip's stream.
  int get_sample_rate() const { return track_ ? track_->get_clip_sample_rate() : 44100; }
  int get_channels() const { return track_ ? track_->get_clip_channels() : 2; }
  int get_bit_rate() const { return track_ ? track_->get_clip_bit_rate() : 0; }
  int get_bits_per_sample() const { return 16; }
  double get_frame_period() const { return track_ ? track_->get_clip_frame_period() : 1152.0 / 44100; }
  int get_frame_samples() const { return get_output_channels() * 1152; }
  void set_pcm_scale(const std::vector<PCMScalePoint>& points);
  // Saves [start, start + length) of the track (with its gain) as an MPEG
  // audio file; an AudioRecordResult. *frames gets the frames written. The
  // control (may be null) pauses and stops it and ends with its outcome.
  int record(const char* file, const AudioRecordSettings& s, double start, double length, JobControl* control,
             int64_t* frames);
  // The writer of such a save, holding its own copy of the range and the
  // gain, so that it may run on another thread while this track plays and
  // changes; null (the control, when given, ended failed) when the range
  // holds nothing.
  std::unique_ptr<AudioRecordWriter> make_record_writer(const char* file, const AudioRecordSettings& s, double start,
                                                        double length, JobControl* control);

  const int16_t* get_pcm(int* count);
  double get_time() const { return track_ ? track_->get_time() : 0.0; }
  double get_length() const { return track_ ? track_->get_total() : 0.0; }
  double goto_offset(double t) { return track_ ? track_->seek(t) : 0.0; }
  bool is_end() const { return !track_ || track_->is_end(); }
  int get_output_sample_rate() const { return track_ ? track_->get_rate() : 44100; }
  int get_output_channels() const { return track_ ? track_->get_channels() : 2; }

 private:
  // The track's position kept across an edit: moved by what the edit did
  // before it.
  void restore(double at);
  std::unique_ptr<DATrack> track_;
};
