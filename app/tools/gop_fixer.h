// The GOP Fixer's rules: one input checked for GOP time-code errors (1),
// audio time-stamp errors (2) and long GOPs (3); the scan and the fix run
// on the tool job through adapters over the fixer's steps; "fix_gop.cfg"
// keeps the names and the mode.
#pragma once

#include <memory>
#include <string>

#include "app/tools/tool_job.h"

class GopFixerFacade;

inline constexpr const char* kGopFixerCaption = " MPEG Video GOP Fixer ";
inline constexpr const char* kGopFixerHelp = "help.chm::/htm/chap02-5-6.htm";

struct GopFixOptions {
  int x = 10, y = 10;
  std::string load_name, load_path, save_name, save_path;
  int mode = 0;
};
// The options file's text and its reading (missing keys keep defaults).
std::string gop_options_text(const GopFixOptions& o);
GopFixOptions gop_options_parse(const std::string& text);
// "fix_gop.cfg" in the per-user configuration folder.
std::string gop_options_path();

class GopFixerTool {
 public:
  GopFixerTool();
  ~GopFixerTool();
  GopFixerTool(const GopFixerTool&) = delete;
  GopFixerTool& operator=(const GopFixerTool&) = delete;

  std::function<void()> on_changed;

  bool open_input(const std::string& name);
  bool set_output(const std::string& name);
  const std::string& input() const { return input_; }
  const std::string& output() const { return output_; }
  bool read_only() const { return read_only_; }
  std::string title() const;

  int mode() const { return mode_; }
  void set_mode(int mode);
  bool mode_enabled(int mode) const;
  std::string button_text() const;
  bool button_enabled() const;
  // Button 1: the step of the mode.
  bool run();
  void pause();
  bool paused() const { return paused_; }
  void abort();
  void poll() { job_.poll(); }
  bool busy() const { return job_.running(); }
  ToolJob& job() { return job_; }
  int percent() const { return job_.shown_percent(); }
  const std::string& status() const { return status_; }
  // The status line while a resize runs (its percentage and megabytes);
  // the last status otherwise.
  std::string progress_status() const;
  bool everything_done() const { return scanned_ && fix_done_ && resize_done_; }
  bool resize_done() const { return resize_done_; }
  int errors(int kind) const { return kind >= 1 && kind <= 3 ? found_[kind] : 0; }

  // Close: true when it may go now; during a job asks, and on OK stops and
  // joins the job first.
  bool close();
  void save_options() const;

 private:
  void ended(const ToolJob::End& end);
  void start(int kind);
  // The restructure: the whole input saved through the editor's save in
  // restructure mode; false (after the message) when it cannot start.
  bool start_resize();
  // After a scan or a fix: the mode the radio rules move to.
  void move_mode();

  std::unique_ptr<GopFixerFacade> fixer_;
  GopFixOptions options_;
  std::string input_, output_, status_;
  int mode_ = 0;
  bool read_only_ = false, dvd_ = false;
  bool scanned_ = false, fix_done_ = false, resize_done_ = true;
  bool paused_ = false, stopped_ = false;
  bool fixed_copy_ = false;  // the fix wrote the output: the resize reads it
  std::string resize_temp_;  // the resize of the fixed copy, until it replaces it
  int running_ = -1;  // 0 scan, 1 fix, 2 resize
  int found_[4] = {0, 0, 0, 0};
  int fixed_[3] = {0, 0, 0};
  ToolJob job_;
};
