// TimeStampScan: one walk over a whole stream that lists where its system
// clock starts again, and where its video and audio coding parameters
// change, for the time-stamp graph. It runs on a worker thread, reports
// progress through the caller's JobControl and can be paused and
// stopped; a stopped scan goes on from where it stopped on the next call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/audio_info.h"
#include "foundation/file_offset.h"
#include "foundation/job_control.h"
#include "foundation/video_info.h"

class DeMuxer;

struct TimeStampEntry {
  enum : int32_t { kTimeBase = 1, kVideo = 2, kAudio = 3 };
  int32_t kind = 0;
  int32_t word = 0;
  double start = 0.0;  // file positions in bytes
  double end = 0.0;
  VideoInfo video;
  AudioInfo audio;
  double clock_start = 0.0;  // time-base entries: the clock over the run
  double clock_end = 0.0;
};

class TimeStampScan {
 public:
  TimeStampScan();
  ~TimeStampScan();
  TimeStampScan(const TimeStampScan&) = delete;
  TimeStampScan& operator=(const TimeStampScan&) = delete;

  // 0 when the file has a demultiplexer, else 1.
  int open(const char* name);
  // Walks on from the position reached; the number of changes found (the
  // entries less one per non-empty list). The command is read every 17
  // packets (the window's bits 8 pause, 0x10 and 0x20 stop reach it through
  // JobControl::from_scan_bits); the outcome is done or stopped. After a
  // stop, reset the control and call again to go on.
  int scan(JobControl* control);
  // The list of kind 1, 2 or 3 and its count; another kind: 0 and null.
  int get_list(int kind, const TimeStampEntry** list) const;
  // Stream type of the open file; 0 before open.
  int get_stream_type() const;
  const char* get_file_name() const;
  // False after a stop: the last entries are still open.
  bool done() const { return done_; }
  const VideoInfo& video_info() const { return video_; }
  const AudioInfo& audio_info() const { return audio_; }

 private:
  void on_clock(double scr, double at);
  void on_video(const uint8_t* payload, int n, double at);
  void on_audio(const uint8_t* payload, int n, double at);
  void add(std::vector<TimeStampEntry>* list, int kind, double at);
  int changes() const;
  void close_lists(double size);

  std::unique_ptr<DeMuxer> dmx_;
  VideoInfo video_;
  AudioInfo audio_;
  std::vector<TimeStampEntry> lists_[3];
  double last_clock_ = -1.0, first_clock_ = -1.0;
  bool done_ = false;
  int video_id_ = 0, video_pid_ = 0, audio_id_ = 0, audio_pid_ = 0, audio_kind_ = 0;
  bool transport_ = false;
  std::vector<uint8_t> vbuf_, abuf_, payload_;
  double abuf_pos_ = 0.0;  // file position of the audio buffer's first byte
};
