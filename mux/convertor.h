// Systems-stream convertor: copies the selected streams of a program,
// transport or video elementary stream into another multiplex without
// decoding a picture. Video is regrouped into whole GOPs from the first I
// picture on; audio that starts before the video loses whole frames, audio
// that starts after it keeps its delay.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "demux/demuxer.h"
#include "foundation/es_buffer.h"
#include "foundation/es_data.h"
#include "foundation/job_control.h"

class Save;

// Five rates (bit/s) for the selected streams (all when selected is null):
// [0] the first video's own rate, [1] MPEG-1 system (0 with MPEG-2 video or
// AC-3), [2] Video CD (0 unless one Video CD video and one MPEG audio),
// [3] MPEG-2 program, [4] transport. Returns the streams counted.
int muxer_get_rate(int rates[5], int n, ESData* es, const int* selected);

// The PIDs a transport output gives its streams, in output order (kinds
// as get_es_list gives them): MPEG audio from audio_pid upward, every
// other stream from video_pid upward, each passing over the PMT PID and
// every PID already given (8190 wraps to 16).
std::vector<int> convertor_transport_pids(const std::vector<int>& kinds, int pmt_pid, int video_pid, int audio_pid);

class Convertor {
 public:
  Convertor() = default;
  ~Convertor();
  Convertor(const Convertor&) = delete;
  Convertor& operator=(const Convertor&) = delete;

  // Opens a system stream or video elementary stream; 1 success, 0 failure.
  int load(const char* file_name);
  int get_es_list(int* kinds, int* stream_ids, int* pids, int max);
  // First stream of the id (and PID when non-zero); 1 when found.
  int select_stream(int stream_id, int pid);
  int deselect_stream(int stream_id, int pid);
  // Each takes 16..8190 unlike the two others; returns the value in force.
  int set_pmt_pid(int pid);
  int set_video_pid(int pid);
  int set_audio_pid(int pid);
  int get_pmt_pid() const { return pmt_pid_; }
  // Output sizes in bytes: [0] video elementary stream, [1] MPEG-1 system,
  // [2] Video CD, [3] MPEG-2 program, [4] transport. Returns the selected
  // streams counted (0 on failure).
  int estimate_sizes(double out[5]);
  // Converts into out_name (kind 2..8). Returns the source bytes consumed;
  // 0.0 when nothing could be set up, -1.0 when the conversion failed on the
  // way (the output is then removed). The control's result: 0 done,
  // kMuxStopped, kMuxFailed; a stop with -1 removes the output, other stops
  // keep it. The output is written beside the target and renamed over it
  // when complete. Without a control the estimate is not consulted and
  // nothing stops the run.
  double save(const char* out_name, int kind, JobControl* status);
  // Grows the four stream tables to n entries; 1 on success.
  int resize_stream_table(int n);

  // The output streams of the last save (copies with their output ids and
  // PIDs) for callers that report them.
  const std::vector<ESData>& output_streams() const { return outputs_; }
  double start_pts(int index) const { return index >= 0 && index < n_es_ ? start_pts_[size_t(index)] : 0.0; }
  int is_selected(int index) const { return index >= 0 && index < n_es_ ? selected_[size_t(index)] : 0; }
  DeMuxer* demuxer() { return demuxer_.get(); }

  // Video of a save: appends data to the GOP buffer and writes every whole
  // GOP that starts at an I picture (final: what is held). Returns 1, or 0
  // when the writer refused bytes. A null writer only cuts the GOPs.
  int write_video(const uint8_t* data, int bytes, int final, ESBuffer* buffer, Save* writer);
  // Audio of a save: drops the lead-in in whole frames, then hands the rest
  // to the writer. Returns the bytes of the block consumed.
  int save_audio(const uint8_t* data, int bytes, double* lead_in, const ESData& es, Save* writer);

  // Bytes to drop from the front of a block while the lead-in (90 kHz
  // ticks, reduced as frames go) covers whole frames.
  static int skip_mpeg_audio_lead_in(const ESData& es, const uint8_t* data, int bytes, double* lead_in);
  static int skip_ac3_lead_in(const ESData& es, const uint8_t* data, int bytes, double* lead_in);
  static int skip_pcm_lead_in(const ESData& es, int bytes, double* lead_in);

 private:
  void place_scan(ESBuffer* buffer) const;
  int write_gop(uint8_t* gop, int length, int final, Save* writer);

  std::unique_ptr<DeMuxer> demuxer_;
  int n_es_ = 0;
  int capacity_ = 0;
  std::vector<uint32_t> stream_ids_;
  std::vector<uint32_t> pids_;
  std::vector<double> start_pts_;
  std::vector<int32_t> selected_;
  int pmt_pid_ = 16;
  int video_pid_ = 17;
  int audio_pid_ = 20;
  int started_ = 0;
  int kind_ = 0;
  std::vector<ESData> outputs_;
};
