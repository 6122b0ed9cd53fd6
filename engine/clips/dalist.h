// Audio access-unit list of one clip: the facts the clip model needs
// (frame period, length, frame total, stream parameters). This small one
// reads elementary MPEG audio and AC-3 files and takes the facts of other
// files from their demultiplexer; the full list replaces it behind the same
// calls.
#pragma once

class DAList {
 public:
  // Opens the list for a file; is_open() tells whether that worked.
  DAList(const char* file_name, int stream_id, int pid);
  bool is_open() const { return open_; }
  double get_frame_period() const { return frame_period_; }  // seconds
  double get_length() const { return length_; }              // seconds
  int get_frame_count() const { return frames_; }
  int get_layer() const { return layer_; }
  int get_bit_rate() const { return bit_rate_; }
  int get_channels() const { return channels_; }
  int get_sample_rate() const { return sample_rate_; }
  int get_stream_count() const { return streams_; }
  int get_stream_id(int* pid) const {
    if (pid) *pid = pid_;
    return stream_id_;
  }
  int is_ac3() const { return ac3_; }
  int get_ac3_channels() const { return ac3_channels_; }

 private:
  bool count_mpeg_audio(const char* name);
  bool count_ac3(const char* name);
  bool from_demuxer(const char* name, int stream_id, int pid);
  bool open_ = false;
  double frame_period_ = 0, length_ = 0;
  int frames_ = 0, layer_ = 0, bit_rate_ = 0, channels_ = 0, sample_rate_ = 0, streams_ = 0;
  int stream_id_ = 0, pid_ = 0, ac3_ = 0, ac3_channels_ = 0;
};
