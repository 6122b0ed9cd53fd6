// The DeMultiplexer's rules: the input's video and audio streams, the two
// output names, the estimate, the outputs' disk check and the job that
// writes the chosen streams.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tools/tool_job.h"
#include "platform/disk.h"

class MPEG_Demuxer;

inline constexpr const char* kDemuxCaption = "  MPEG DeMultiplexer";
inline constexpr const char* kNotSystemFile = "<%s>: is NOT an MPEG system file";
inline constexpr const char* kNoOutputSpecified = "No output file specified\n";
inline constexpr const char* kDemuxHelp = "help.chm::/htm/chap02-5-2.htm";

enum class DemuxStreamKind { none, video, audio };
// Video 224-239; audio 192-223, 128-135, 160-167, and 189 with a PID.
DemuxStreamKind demux_stream_kind(int stream_id, int pid);
const char* demux_format_text(int stream_type);
// The input's name with its extension replaced (or appended).
std::string demux_default_name(const std::string& input, const char* ext);

// One output's place: -2 no usable name, -1 not on a listed disk, else
// the disk's index.
struct DemuxOutputPlace {
  int video = -2, audio = -2;
};
// The check before Save: true when the job may start. ask() shows the
// disk warning for a disk and returns its answer; a refused output's name
// is dropped (drop_video / drop_audio).
struct DemuxCheck {
  bool pass = false;
  bool drop_video = false, drop_audio = false;
  int select = -1;  // the disk to select
  std::vector<int> warned;
};
DemuxCheck demux_output_check(const DemuxOutputPlace& place, double video_bytes, double audio_bytes,
                              const std::vector<Volume>& disks, const std::function<bool(int disk)>& ignore);

struct DemuxStream {
  int stream_id = 0, pid = 0;
  double bytes = 0.0;
  uint32_t key() const { return uint32_t(stream_id) | (uint32_t(pid) << 16); }
};

class Demultiplexer {
 public:
  Demultiplexer();
  ~Demultiplexer();
  Demultiplexer(const Demultiplexer&) = delete;
  Demultiplexer& operator=(const Demultiplexer&) = delete;

  std::function<void()> on_changed;
  // Called when a confirmed close may go on (the job has ended).
  std::function<void()> on_close_ready;

  bool load(const std::string& name);
  const std::string& input_name() const { return input_; }
  int stream_type() const { return type_; }
  double input_size() const { return size_; }
  int stream_count() const { return count_; }
  const std::vector<DemuxStream>& video() const { return video_; }
  const std::vector<DemuxStream>& audio() const { return audio_; }
  int video_choice() const { return video_choice_; }
  int audio_choice() const { return audio_choice_; }
  void choose_video(int i);
  void choose_audio(int i);
  const char* audio_extension() const;

  // Takes a name for an output (after the file dialog); false when it
  // cannot be written or names the input.
  bool set_video_output(const std::string& path);
  bool set_audio_output(const std::string& path);
  const std::string& video_output() const { return video_out_; }
  const std::string& audio_output() const { return audio_out_; }
  double estimate() const;
  bool save_enabled() const { return !busy() && (!video_out_.empty() || !audio_out_.empty()); }

  const std::vector<Volume>& disks() const { return disks_; }
  int disk_index() const { return disk_index_; }

  bool save();
  // Close: true when the window may go now; during a job asks, and on OK
  // stops it and calls on_close_ready once it has ended.
  bool close();
  bool busy() const { return job_.running(); }
  ToolJob& job() { return job_; }
  JobOutcome last_outcome() const { return last_outcome_; }

 private:
  bool take_output(const std::string& path, std::string* into, bool quiet);
  int place_of(std::string* name);
  void ended(const ToolJob::End& end);

  std::unique_ptr<MPEG_Demuxer> demuxer_;
  std::string input_, video_out_, audio_out_;
  int type_ = 0, count_ = 0;
  double size_ = 0.0;
  std::vector<DemuxStream> video_, audio_;
  int video_choice_ = 0, audio_choice_ = 0;
  std::vector<Volume> disks_;
  int disk_index_ = 0;
  int input_token_ = 0;
  std::vector<int> output_tokens_;
  bool close_when_done_ = false;
  JobOutcome last_outcome_ = JobOutcome::running;
  ToolJob job_;
};
