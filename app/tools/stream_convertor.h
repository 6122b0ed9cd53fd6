// The Systems Stream Convertor's rules: the input's streams, the ones
// moved to the output, the size estimates that decide which output formats
// are offered, the transport PIDs, the output's disk check and the job.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tools/select_pid.h"
#include "app/tools/tool_job.h"
#include "app/tools/tool_text.h"
#include "engine/tool_facades.h"
#include "platform/disk.h"

inline constexpr const char* kConvertorCaption = "  MPEG Systems Stream Convertor";
inline constexpr const char* kNotSystemsFile = "<%s>: is NOT an MPEG Systems file";
inline constexpr const char* kNoOutputSelection = "No output file selection";
inline constexpr const char* kIncompleteOutput = "Incomplete output parameters specification";
inline constexpr const char* kPleaseStop = "Please stop the current process";
inline constexpr const char* kConvertorHelp = "help.chm::/htm/chap02-5-3.htm";

// One stream of the lists: its selection word (id low 16 bits, PID high).
struct ConvertRow {
  int stream_id = 0;
  int pid = 0;
  int kind = 0;
  int source = 0;  // index in the input's list
  uint32_t key() const { return uint32_t(stream_id) | (uint32_t(pid) << 16); }
  bool video() const { return stream_id >= 224; }
};

// Output formats 1-4 and their stream-type codes.
int convertor_stream_type(int format);
// The input's format index: 1-4 for stream types 4, 5, 6, 8; 5 otherwise.
int convertor_input_format(int stream_type);
const char* convertor_type_name(int stream_type);

class StreamConvertor {
 public:
  StreamConvertor();
  ~StreamConvertor();
  StreamConvertor(const StreamConvertor&) = delete;
  StreamConvertor& operator=(const StreamConvertor&) = delete;

  // Called when a job ended (the window refreshes).
  std::function<void()> on_changed;

  // Loads a file into a fresh engine; the previous input stays when it
  // fails (after the message). Refused during a job.
  bool load(const std::string& name);
  const std::string& input_name() const { return input_; }
  const std::vector<ConvertRow>& input_rows() const { return in_; }
  const std::vector<ConvertRow>& output_rows() const { return out_; }
  int input_format() const { return input_format_; }
  std::string group_caption() const { return caption_; }

  // Moves between the lists (refused during a job).
  bool add(int input_row);
  bool add_all();
  bool remove(int output_row);
  bool clear();
  int video_count() const { return videos_; }

  int format() const { return format_; }
  void set_format(int format);
  double estimate(int format) const { return format >= 0 && format < 5 ? est_[format] : 0.0; }
  bool format_enabled(int format) const;
  std::string estimate_text() const;
  bool select_pid_shown() const { return format_ == 4; }
  const char* output_extension() const { return format_ == 2 ? "dat" : "mpg"; }

  const TransportPids& pids() const { return pids_; }
  void set_pids(const TransportPids& pids);
  // The PID column of an output row ("" for none): in a transport output
  // the PID the writer gives it.
  std::string output_pid_text(int output_row) const;

  // The disk list and the output check of a chosen name; true when it is
  // taken as the output.
  const std::vector<Volume>& disks() const { return disks_.list; }
  int disk_index() const { return disks_.index; }
  void refresh_disks();
  bool choose_output(const std::string& path);
  const std::string& output_name() const { return output_; }
  bool convert_enabled() const;

  // The Convert button: messages, or the job starts.
  bool convert();
  // Close: refused (after the message) while a job runs.
  bool close();
  bool busy() const { return job_.running(); }
  ToolJob& job() { return job_; }
  // The last job's outcome (failed also after a refusal).
  JobOutcome last_outcome() const { return last_outcome_; }

 private:
  void recompute();
  void save_settings() const;
  void ended(const ToolJob::End& end);

  std::unique_ptr<ConvertorFacade> facade_;
  std::string input_, output_, caption_;
  std::vector<ConvertRow> in_, out_;
  int input_format_ = 5;
  int format_ = 1;
  double est_[5] = {0, 0, 0, 0, 0};
  bool enabled_[5] = {true, true, true, true, true};
  int videos_ = 0;
  TransportPids pids_;
  OutputDisks disks_;
  int input_token_ = 0;
  int output_token_ = 0;
  JobOutcome last_outcome_ = JobOutcome::running;
  ToolJob job_;
};
