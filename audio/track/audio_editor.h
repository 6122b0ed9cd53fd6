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
  // A transition of `effect` at `start` over `length` seconds; 1 when added.
  int add_effect(double start, int effect, double length);
  void set_pcm_scale(const std::vector<PCMScalePoint>& points);
  // Saves [start, start + length) of the track (with its gain) as an MPEG
  // audio file; an AudioRecordResult. *frames gets the frames written.
  int record(const char* file, const AudioRecordSettings& s, double start, double length, AudioRecordJob job,
             int64_t* frames);

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
