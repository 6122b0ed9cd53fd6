// The MBS Scan tool's rules: the input, the time-stamp scan on a job of
// its own, the segment lists (one per kind of change) written as ".mbs"
// files beside the input once the scan's thread has ended, and the files
// handed to the application.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/tools/tool_job.h"
#include "foundation/audio_info.h"
#include "foundation/video_info.h"

class TimeStampScanFacade;

// Kinds 1 "timebase", 2 "video", 3 "audio".
const char* mbs_kind_name(int kind);
// "<input>_<kind>_<n>.mbs" (the whole input name, extension kept).
std::string mbs_segment_name(const std::string& input, int kind, int n);
// The bytes of a one-file segment list.
std::string mbs_file_text(const std::string& input, double start, double end);
// Offsets in groups of three ("0,512", "1,234,567").
std::string mbs_grouped(double n);

struct MbsSegment {
  std::string file;
  double start = 0.0, end = 0.0;
  VideoInfo video;
  AudioInfo audio;
};

// The Info dialog's text lines of one segment: segment, offsets, four video
// and four audio lines (empty without audio).
std::vector<std::string> mbs_info_lines(const MbsSegment& s, int index);

class MbsScan {
 public:
  MbsScan();
  ~MbsScan();
  MbsScan(const MbsScan&) = delete;
  MbsScan& operator=(const MbsScan&) = delete;

  // Refuses a ".mbs" name or one the scanner cannot open (no message).
  bool set_input(const std::string& name);
  const std::string& input() const { return input_; }
  bool can_start() const { return !busy() && !input_.empty(); }
  // Scan, or Pause / Resume while it runs.
  void scan_or_pause();
  bool paused() const { return paused_; }
  void stop();
  // The timer's tick (150 ms): the percentage; segments once the thread
  // has been joined.
  void poll();
  int percent() const { return job_.running() ? job_.shown_percent() : percent_; }
  bool busy() const { return job_.running(); }

  int kind() const { return kind_; }
  void select_kind(int kind);
  const std::vector<MbsSegment>& segments(int kind) const;
  // What OK hands to the application: the current kind's segment files, or
  // the input itself.
  std::vector<std::string> ok_files() const;
  // Cancel or OK: refused while the scan runs.
  bool can_close() const { return !busy(); }
  ToolJob& job() { return job_; }

 private:
  void build_segments();

  std::unique_ptr<TimeStampScanFacade> scan_;
  std::string input_;
  bool paused_ = false;
  int percent_ = 0;
  int kind_ = 1;
  std::vector<MbsSegment> segments_[4];
  ToolJob job_;
};
