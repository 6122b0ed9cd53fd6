// Saving an audio track to an MPEG audio file. DARecorder yields the
// track's frames one at a time: copied frame for frame when every clip is
// already in the asked format and nothing changes its sound, otherwise
// encoded from the track's PCM (with its gain). AudioRecordWriter is the
// job that writes them: settings checked before any file is touched, the
// frames written to a temporary file renamed over the target at the end,
// progress in whole percents, pause and stop through a JobControl.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/codec/mpaenc_encoder.h"
#include "audio/track/datrack.h"
#include "foundation/job_control.h"

struct AudioRecordSettings {
  int layer = 2, sample_rate = 44100, channels = 2, bit_rate = 192000;
};

class DARecorder {
 public:
  DARecorder();
  ~DARecorder();
  // The list (a copy is taken) with its gain envelope, in seconds from the
  // list's start; the errors found (0: ready).
  int init(const MPEG_Clip* list, const std::vector<PCMScalePoint>& gain, const AudioRecordSettings& s);
  bool copies() const { return copy_; }
  int get_max_frame_bytes() const;
  double get_time() const { return track_.get_total(); }
  double get_frame_duration() const;
  // Bytes of the next frame written into out; 0 at the end.
  int encode_next_frame(uint8_t* out, int size);
  bool is_done() const;

 private:
  bool open_clip();
  DATrack track_;
  AudioRecordSettings s_;
  bool copy_ = false;
  std::unique_ptr<AudioEncoder> enc_;
  int64_t left_ = 0;  // track samples still to encode
  const MPEG_Clip* clip_ = nullptr;
  DAPlayer player_;
  int clip_frames_left_ = 0;
  bool done_ = false;
};

// The job's progress steps by whole percents and ends at 100 (also after a
// failure or a stop); a stop with delete removes the output, a stop with
// keep leaves the frames written so far as the output.
enum AudioRecordResult { kRecordOk = 0, kRecordFailed = 1, kRecordCancelled = 2 };

class AudioRecordWriter {
 public:
  // Takes a copy of the list.
  AudioRecordWriter(std::string file, const MPEG_Clip* list, const std::vector<PCMScalePoint>& gain,
                    const AudioRecordSettings& s, JobControl* control);
  // Runs the job; its result (the control, when given, ends with the
  // matching outcome). The frames written are counted in frames().
  int record();
  int64_t frames() const { return frames_; }

 private:
  std::string file_;
  MPEG_Clip* list_ = nullptr;
  std::vector<PCMScalePoint> gain_;
  AudioRecordSettings s_;
  JobControl* control_;
  int64_t frames_ = 0;

 public:
  ~AudioRecordWriter();
  AudioRecordWriter(const AudioRecordWriter&) = delete;
  AudioRecordWriter& operator=(const AudioRecordWriter&) = delete;
};

// Checks the settings (layer I or II, 1 or 2 channels, 32, 44.1 or 48 kHz;
// the bit rate moved to the nearest valid one); 0 when they pass.
int audio_record_check_settings(AudioRecordSettings* s);
