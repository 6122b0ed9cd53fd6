// Frame source for one clip of an audio track: the clip's audio stream
// through an access-unit list, or a WAVE file read in frames of 1152
// samples. Hands out compressed frames (for copying) or decoded 16-bit
// PCM frames, with silence where the clip starts before its stream and
// where the stream's time stamps jump ahead, so that every clip gives
// exactly its frames times samples per frame.
#pragma once

#include <array>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/codec/ac3_decoder.h"
#include "audio/codec/audio_mute.h"
#include "audio/codec/mpa_decoder.h"
#include "audio/codec/wave.h"
#include "audio/dalist.h"

class Clip;

class DAPlayer {
 public:
  DAPlayer();
  ~DAPlayer();
  DAPlayer(const DAPlayer&) = delete;
  DAPlayer& operator=(const DAPlayer&) = delete;

  // Opens the clip's audio at start (s) for length (s; below 0.001: to the
  // end). 0 on success, 1 when the clip's audio cannot be opened.
  int new_clip(const Clip& clip, double start, double length);
  // The next decoded frame and its sample count (all channels); null at
  // the end.
  const int16_t* get_next_pcm_frame(int* count);
  // One compressed frame (a silent one where the clip has no sound); its
  // bytes, 0 at the end or when it does not fit.
  int get_next_frame(uint8_t* buffer, int size);
  // Offset reached (s), clamped to the clip.
  double goto_offset(double offset);
  double get_time() const;  // offset in the clip (s)
  double get_length() const { return stream_end_ - stream_start_ + lead_in_; }
  // The file time (s) at which the opened stream starts: its first time
  // stamp less the video's (0 without video).
  double stream_shift() const { return shift_; }
  // How far (s) into the first frame handed out the clip starts: the
  // samples a reader of PCM drops to start at the clip's own time.
  double start_lead() const;
  bool is_end() const;

  // 2 x 32 subband gains for the MPEG audio decoder (kept across clips).
  void set_equalizer(const double* gains) { mpa_.set_equalizer(gains); }
  bool is_wave() const { return wave_open_; }
  double get_frame_period() const { return period_; }
  int get_sample_rate() const;
  int get_channels() const;
  int get_bit_rate() const;
  int get_layer() const;
  int get_samples_per_frame() const;
  const DAList* list() const { return list_.get(); }

 private:
  bool open_audio(const char* name, int stream_id, int pid);
  int frames_in_clip() const;
  std::unique_ptr<DAList> list_;
  WaveFile wave_;
  bool wave_open_ = false;
  MpegAudioDecoder mpa_;
  std::unique_ptr<AC3Decoder> ac3_;
  AudioMuteFrame mute_;
  std::vector<uint8_t> frame_, silent_;
  // The stream format silent_ was made for.
  std::array<int, 5> silent_format_{};
  std::vector<int16_t> pcm_;
  std::string name_;
  double period_ = 1152.0 / 44100;
  double stream_start_ = 0.0, stream_end_ = 0.0, lead_in_ = 0.0, shift_ = 0.0;
  int64_t frame_no_ = 0;      // frames handed out since the clip's start
  int64_t first_frame_ = 0;   // stream frame of the clip's first frame
  int silent_owed_ = 0;
};
