// The Multiplexer's rules: one video and any number of audio elementary
// streams, the output format offered by the estimates and compliance
// checks, the options handed to the engine at every start, the job.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tools/select_pid.h"
#include "app/shell/small_dialogs.h"
#include "app/tools/tool_job.h"
#include "app/tools/tool_text.h"

inline constexpr const char* kMuxCaption = "  MPEG Multiplexer";
inline constexpr const char* kMuxHelp = "help.chm::/htm/chap02-5-1.htm";
inline constexpr const char* kNoOutputFile = "No output file specified";
inline constexpr const char* kNoInputVideo = "No input video file specified";
inline constexpr const char* kAlreadySelected = "File: %s\nhas already been selected";
inline constexpr const char* kAddingFailed = "ERROR: adding file\n      %s\n       has failed\n";
inline constexpr const char* kNotMpeg = "This file is NOT MPEG";
inline constexpr const char* kNotAudioEs = "This file is NOT a valid audio ES file";
inline constexpr const char* kNotVideoEs = "This file is NOT an MPEG video ES file";

// What the Multiplexer asks of its engine (the MUXer behind its facade).
class MuxEngine {
 public:
  virtual ~MuxEngine() = default;
  virtual int add_es(const std::string& name) = 0;
  virtual int remove_es(const std::string& name) = 0;
  virtual int estimate_sizes(double out[5]) = 0;
  virtual int is_vcd_compliant() = 0;
  virtual int is_svcd_compliant() = 0;
  virtual int count_vbr_video() = 0;
  virtual void set_minimize_size(int on) = 0;
  virtual void set_vbr(int on) = 0;
  virtual void set_pmt_pid(int pid) = 0;
  virtual void set_video_pid(int pid) = 0;
  virtual void set_audio_pid(int pid) = 0;
  virtual void set_svcd(int on) = 0;
  virtual void set_audio_offset(int64_t ms) = 0;
  // On the job's thread.
  virtual void run(const std::string& out, int format, JobControl* control) = 0;
};
std::unique_ptr<MuxEngine> make_mux_engine();

// An input probed before it is added: empty reason when it fits.
struct MuxProbe {
  std::string reason;
  bool vbr = false;
};
MuxProbe mux_probe(const std::string& path, bool video);
// The video's name with "mpg" for its extension.
std::string mux_default_output(const std::string& video);

class Multiplexer {
 public:
  explicit Multiplexer(std::unique_ptr<MuxEngine> engine = make_mux_engine());
  ~Multiplexer();
  Multiplexer(const Multiplexer&) = delete;
  Multiplexer& operator=(const Multiplexer&) = delete;

  std::function<void()> on_changed;
  std::function<void()> on_close_ready;

  bool add_video(const std::string& path);
  bool remove_video();
  bool add_audio(const std::string& path);
  bool remove_audio(int index);
  const std::string& video() const { return video_; }
  const std::vector<std::string>& audios() const { return audios_; }

  int format() const { return format_; }
  bool svcd() const { return svcd_; }
  // Radios: 1-4, and 3 with svcd for the SVCD radio.
  void set_format(int format, bool svcd = false);
  bool format_enabled(int format, bool svcd = false) const;
  double estimate() const { return est_[format_]; }
  double estimate_of(int format) const { return format >= 0 && format < 5 ? est_[format] : 0.0; }
  bool minimize_enabled() const { return format_ == 1 || (format_ == 3 && !svcd_); }
  bool minimize() const { return minimize_; }
  // Stores the box; true when the compatibility caution is to be shown
  // (checked for a program stream while the setting asks for it).
  bool set_minimize(bool on);
  // The caution was closed: its box ends the showing for good.
  void caution_closed(const CCompatCautionDlg& caution);
  bool vbr_enabled() const { return vbr_enabled_; }
  bool vbr() const { return vbr_; }
  void set_vbr(bool on) { vbr_ = on; }
  bool select_pid_enabled() const { return format_ == 4; }
  const TransportPids& pids() const { return pids_; }
  void set_pids(const TransportPids& pids) { pids_ = pids; }
  bool av_sync_enabled() const { return !busy() && !video_.empty() && !audios_.empty(); }
  void set_audio_offset(int ms);
  int audio_offset() const { return offset_; }
  // The A/V synchronization record the dialog edits (range from the
  // setting, the current offset), and its taking over after Done.
  AVSyncSetting av_sync() const;
  void take_av_sync(const AVSyncSetting& sync);

  // The "Disk Space" list; the output's disk is checked when it is chosen
  // and again at Save.
  const std::vector<Volume>& disks() const { return disks_.list; }
  int disk_index() const { return disks_.index; }
  void refresh_disks() { disks_.refresh(); }

  bool set_output(const std::string& path);
  const std::string& output() const { return output_; }
  bool save_enabled() const { return !busy() && !output_.empty() && (!video_.empty() || !audios_.empty()); }

  bool save();
  void reset();
  bool close();
  bool busy() const { return job_.running(); }
  ToolJob& job() { return job_; }
  JobOutcome last_outcome() const { return last_outcome_; }

 private:
  void tell_bad(const std::string& path, const std::string& reason);
  void reestimate();
  void save_settings();
  void ended(const ToolJob::End& end);

  std::unique_ptr<MuxEngine> engine_;
  std::string video_, output_;
  std::vector<std::string> audios_;
  int format_ = 1;
  bool svcd_ = false;
  double est_[5] = {0, 0, 0, 0, 0};
  bool enabled_[5] = {true, true, true, true, true};
  bool svcd_enabled_ = false;
  bool vbr_enabled_ = false, vbr_ = true, minimize_ = false;
  TransportPids pids_;
  int offset_ = 0;
  OutputDisks disks_;
  int input_token_ = 0, output_token_ = 0;
  bool close_when_done_ = false;
  JobOutcome last_outcome_ = JobOutcome::running;
  ToolJob job_;
};
