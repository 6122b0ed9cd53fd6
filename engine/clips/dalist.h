// Audio access-unit list of one clip: the facts the clip model needs
// (frame period, length, frame total, stream parameters). This small one
// reads elementary MPEG audio and AC-3 files and takes the facts of other
// files from their demultiplexer; the full list replaces it behind the same
// calls.
#pragma once

#include <vector>

struct AudioInfo;

class DAList {
 public:
  DAList() = default;
  // Opens the list for a file's audio stream (0: the first); 0 on success,
  // 1 on failure.
  int init(const char* file_name, int stream_id, int pid);
  double get_frame_period() const { return frame_period_; }  // seconds
  double get_length() const { return length_; }              // seconds
  int get_layer() const { return layer_; }                    // 0 for AC-3
  int get_bit_rate() const { return bit_rate_; }
  int get_channels() const { return channels_; }
  int get_sample_rate() const { return sample_rate_; }
  int get_stream_id(int* pid) const {
    if (pid) *pid = pid_;
    return stream_id_;
  }
  // The file's audio streams (at most max); their number.
  int get_stream_list(int* ids, int* pids, int max) const;
  // 0 and the record filled; 1 without a list.
  int get_audio_info(AudioInfo* info) const;

 private:
  bool count_mpeg_audio(const char* name);
  bool count_ac3(const char* name);
  bool from_demuxer(const char* name, int stream_id, int pid);
  bool open_ = false;
  double frame_period_ = 0, length_ = 0;
  int frames_ = 0, layer_ = 0, bit_rate_ = 0, channels_ = 0, sample_rate_ = 0;
  int stream_id_ = 0, pid_ = 0, ac3_ = 0, ac3_channels_ = 0;
  std::vector<int> ids_, pids_;
};
