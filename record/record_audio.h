// The audio of a saved movie. SaveAudio makes one output audio stream of a
// working clip list frame by frame: the source's compressed frames copied
// untouched when every clip's stream already has the output format and no
// gain applies, silent frames where a clip has no sound, and otherwise the
// list's PCM (mixed with further tracks when there are any, scaled by the
// gain envelope) encoded as MPEG audio layer I or II. SaveAudioSet holds
// the streams of one save and keeps them abreast of the video in the
// writer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "access/clip.h"
#include "audio/codec/audio_mute.h"
#include "audio/codec/mpaenc_encoder.h"
#include "audio/track/daplayer.h"
#include "audio/track/datrack.h"
#include "engine/clips/project.h"
#include "foundation/es_data.h"
#include "record/record_data.h"

class Save;

// Averages up to 10 blocks of 16-bit samples into out (frame_samples
// values): two blocks (a + b) / 2, three (a + b + c) / 3, more the sum over
// their number, each quotient truncated toward zero. A block shorter than
// another counts as zeros past its own samples, and the output past the
// longest block is zero. Returns the longest block's sample count.
int audio_mix_blocks(const int16_t* const* blocks, const int* counts, int n_blocks, int frame_samples, int16_t* out);

// The output format of a source stream: MPEG audio keeps an id in
// 0xC0..0xDF, AC-3 one in 0x80..0x87; linear PCM (or anything else) becomes
// MPEG audio layer II on 0xC0 at 224 kbit/s. *taken marks the ids used so
// far, so that several streams come out with distinct ids.
void save_audio_identity(ESData* out, uint32_t taken[8]);

class SaveAudio {
 public:
  SaveAudio();
  ~SaveAudio();
  SaveAudio(const SaveAudio&) = delete;
  SaveAudio& operator=(const SaveAudio&) = delete;

  // Volume points for track t (0: the list given to init, 1...: the tracks
  // mixed in); set before init. 0 when taken.
  int set_pcm_scale(int track, const std::vector<PCMScalePoint>& points);
  // A further list whose sound is mixed into the output; set before init.
  int add_track(const MPEG_Clip* list);
  // Encoded frames carry a CRC (copied frames keep their own); set before
  // init.
  void set_crc(bool on) { crc_ = on; }
  // clips: the video clip list (copied); out: the output stream, whose
  // format may change (a copy-only format that cannot be copied becomes
  // layer II). Returns the number of errors (0: ready), message() says why.
  int init(const MPEG_Clip* clips, ESData* out, double frame_rate);

  // The next frame into dst (room bytes); its size, 0 when nothing more.
  int encode_next_frame(uint8_t* dst, int room);
  bool is_done() const { return done_; }
  double get_frame_duration() const;
  int get_max_frame_bytes() const;
  bool copies() const { return copy_; }
  int64_t frames() const { return copied_ + encoded_ + silent_; }
  int64_t copied() const { return copied_; }
  int64_t encoded() const { return encoded_ + silent_; }
  const std::string& message() const { return message_; }

 private:
  bool clip_matches(const MPEG_Clip& c, bool* has_audio) const;
  bool open_copy_clip();
  int next_copied(uint8_t* dst, int room);
  int next_encoded(uint8_t* dst, int room);
  int fail(const std::string& why);

  ESData out_;
  double frame_rate_ = 25.0;
  int samples_ = 1152;  // per frame and channel
  bool ac3_ = false;
  bool copy_ = false;
  bool done_ = false;
  bool crc_ = false;
  std::string message_;
  std::vector<std::vector<PCMScalePoint>> scales_;
  std::vector<MPEG_Clip*> extra_;
  // Copy.
  MPEG_Clip* audio_list_ = nullptr;
  MPEG_Clip* cur_ = nullptr;
  int left_in_clip_ = 0;
  bool cur_has_audio_ = false;
  DAPlayer player_;
  AudioMuteFrame mute_;
  std::vector<uint8_t> mute_frame_, last_frame_;
  int max_source_frame_ = 0;
  // Encode.
  std::vector<std::unique_ptr<DATrack>> tracks_;
  std::unique_ptr<AudioEncoder> enc_;
  int64_t left_ = 0;
  std::vector<int16_t> mix_;
  int64_t copied_ = 0, encoded_ = 0, silent_ = 0;
};

class SaveAudioSet {
 public:
  // The streams a save of `clips` writes for `data` (n_es 2): every audio
  // stream of the reference clip when it has several and every clip has
  // them in the same formats, else the one selected stream. Streams that
  // fail are dropped (traced); none left means a video-only save.
  int open(const MPEG_Clip* clips, const RecordData& data, double frame_rate);
  int count() const { return int(streams_.size()); }
  // Output records for the writer (after the video record).
  const std::vector<ESData>& es() const { return es_; }
  // Takes the ids and PIDs the writer gave the streams.
  void bind(const Save& save);
  // Writes each stream's frames up to video_time (s) plus a few frames.
  // -1 when the writer refused audio.
  int pump(Save* save, double video_time);
  // Writes what is left of every stream.
  int finish(Save* save);
  std::vector<SaveAudioReport> report() const;

 private:
  int write_stream(Save* save, size_t k, double until);
  std::vector<std::unique_ptr<SaveAudio>> streams_;
  std::vector<ESData> es_;
  std::vector<double> time_;
  std::vector<int> ids_, pids_;
  std::vector<uint8_t> buf_;
};
