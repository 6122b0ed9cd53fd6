// What the audio window asks of a track: the calls it makes on
// AudioEditor, behind an interface so that the window's rules run over a
// scripted track in tests.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "audio/track/darecorder.h"
#include "engine/clips/project.h"

class AudioTrackPort {
 public:
  virtual ~AudioTrackPort() = default;
  // Plays stream (id, pid) of the file; 1 when selected.
  virtual int set_abs_id(int stream_id, int pid) = 0;
  virtual double get_length() const = 0;
  virtual double get_time() const = 0;
  virtual double goto_offset(double t) = 0;
  virtual bool is_end() const = 0;
  // One block of 1152 samples per channel (fewer at the end); count gets
  // the 16-bit samples of all channels.
  virtual const int16_t* get_pcm(int* count) = 0;
  virtual int get_output_sample_rate() const = 0;
  virtual int get_output_channels() const = 0;
  virtual int get_bits_per_sample() const { return 16; }
  // The current clip's stream.
  virtual int get_sample_rate() const = 0;
  virtual int get_channels() const = 0;
  virtual int get_bit_rate() const = 0;
  // 2 x 32 linear subband gains.
  virtual int get_equalizer_filters(const double* gains) = 0;
  // code 1: the output format changed.
  virtual void set_format_callback(std::function<void(int)> cb) = 0;

  // Edits by time in seconds (1 when made); a track that cannot edit
  // refuses them all. copy(0, 0) is the whole track.
  virtual std::unique_ptr<EClip> copy(double, double) { return nullptr; }
  virtual int cut(double, double) { return 0; }
  virtual int paste(const EClip&, double, int, double) { return 0; }
  virtual int replace(const EClip&) { return 0; }
  virtual int add_effect(double, int, double) { return 0; }
  virtual int remove_effects(double, double) { return 0; }
  // A save of [start, start + length) as MPEG audio, built now on its own
  // copy of the range: the returned call (its AudioRecordResult) may run
  // on another thread while the track plays and changes. Null, with the
  // control ended, when the range holds nothing.
  virtual std::function<int()> make_save(const std::string&, const AudioRecordSettings&, double, double,
                                         JobControl& control) {
    control.set_progress(100.0);
    control.finish(JobOutcome::failed, kRecordFailed, "nothing to save in that range");
    return nullptr;
  }
};

// Opens a track of a media file; null when it has no sound or a data
// error.
using AudioTrackOpener = std::function<std::unique_ptr<AudioTrackPort>(const std::string& path)>;
// The audio streams of a file: count (at most max), duration, ids, PIDs.
using AudioStreamLister = std::function<int(const std::string& path, double* duration, int* ids, int* pids, int max)>;

// The engine's AudioEditor behind the port.
std::unique_ptr<AudioTrackPort> open_engine_track(const std::string& path);
int list_engine_streams(const std::string& path, double* duration, int* ids, int* pids, int max);
