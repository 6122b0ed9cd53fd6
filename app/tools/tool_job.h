// One long job of a stream tool window: the engine call runs on a thread
// of its own; the window polls the job's percentage on a timer (poll()),
// shows it in a progress view whose Pause and Stop come back as codes,
// and turns those into command words. A job ends only once its thread has
// returned and been joined; what the call left in its JobControl (or its
// failing to report 100) decides the outcome.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "foundation/job_control.h"

// Codes a progress view reports to its job.
enum ProgressCode : int {
  kProgressClosed = 0,      // the view closed itself
  kProgressPause = -4,      // Pause or Resume pressed: see paused()
  kProgressStopDelete = -1, // Stop answered Yes
  kProgressStopKeep = -2,   // Stop answered No
};

// What a job's progress view is made with.
struct ProgressViewSpec {
  std::string job_name;   // "Conversion", "Demultiplexing"...
  std::string file_name;  // the output (or input) the job works on
  double expected_size = 0.0;
  int percent = 0;
};

// The window showing one job's percentage with Pause and Stop.
class JobProgressView {
 public:
  // A report that closes the view (every code but -4) is its last act:
  // the job may delete the view inside it.
  using Report = std::function<void(int code)>;
  virtual ~JobProgressView() = default;
  // Percentages only move forward.
  virtual void set_percent(int percent) = 0;
  virtual bool paused() const = 0;
  // The job is over: the view goes without reporting.
  virtual void finish() = 0;
};

using ProgressViewFactory =
    std::function<std::unique_ptr<JobProgressView>(const ProgressViewSpec& spec, JobProgressView::Report report)>;

// The progress views every tool job makes unless given its own: the
// program installs its window's at start; until then headless stand-ins.
void install_tool_progress_views(ProgressViewFactory factory);
const ProgressViewFactory& tool_progress_views();

// The progress view's rules without a window: Pause toggles; Stop pauses
// a running job first, asks "Delete the partially saved MPEG file ?" and
// reports -1 (Yes) or -2 (No), or on Cancel resumes what it paused.
class ProgressStandIn : public JobProgressView {
 public:
  ProgressStandIn(const ProgressViewSpec& spec, Report report);
  void set_percent(int percent) override;
  bool paused() const override { return paused_; }
  void finish() override { closed_ = true; }

  void press_pause();
  void press_stop();
  void press_close();

  int percent() const { return percent_; }
  bool closed() const { return closed_; }
  const ProgressViewSpec& spec() const { return spec_; }
  // The job text as the window shows it.
  std::string job_text() const;

 private:
  void close_with(int code);

  ProgressViewSpec spec_;
  Report report_;
  int percent_ = 0;
  bool paused_ = false;
  bool closed_ = false;
};

inline constexpr const char* kDeletePartialQuestion = "Delete the partially saved MPEG file ?";
inline constexpr const char* kSaveProgressCaption = "Save Progress";
// What a tool window asks when it is closed during its job.
inline constexpr const char* kStopCurrentProcess = "Stop the current process ?";

class ToolJob {
 public:
  using Work = std::function<void(JobControl& control)>;
  struct End {
    JobOutcome outcome = JobOutcome::failed;
    int64_t result = 0;
    std::string message;
    bool stopped_by_user = false;
  };

  // Timer periods of the windows' polls.
  static constexpr int kPollMs = 100;
  static constexpr int kAdapterPollMs = 150;

  // Without a factory the installed one makes the views.
  explicit ToolJob(ProgressViewFactory views = {});
  // Stops a running job as a closing window does and joins it.
  ~ToolJob();
  ToolJob(const ToolJob&) = delete;
  ToolJob& operator=(const ToolJob&) = delete;

  void set_on_end(std::function<void(const End&)> on_end) { on_end_ = std::move(on_end); }

  // Starts work on a thread; refused (false) while a job exists.
  bool start(Work work, const ProgressViewSpec& spec);
  // A job exists: its thread has not been joined yet.
  bool running() const { return thread_.joinable(); }
  // The timer's tick: shows a grown percentage; ends the job once its
  // thread has returned.
  void poll();
  // A code from the progress view.
  void view_code(int code);
  // The window closes during the job: the view goes, command 1; the job
  // ends on a later poll.
  void stop_for_close();
  // Stops with the keep code, waits for the thread and ends the job now
  // (the program's close check).
  void stop_and_join();

  int shown_percent() const { return shown_; }
  bool has_view() const { return view_ != nullptr; }
  JobProgressView* view() const { return view_.get(); }
  JobControl& control() { return control_; }
  // Job threads alive in the process.
  static int live_count();

 private:
  void show(int percent);
  void end();

  ProgressViewFactory views_;
  std::function<void(const End&)> on_end_;
  JobControl control_;
  std::thread thread_;
  std::atomic<bool> returned_{false};
  std::unique_ptr<JobProgressView> view_;
  ProgressViewSpec spec_;
  int shown_ = 0;
  bool view_gone_ = false;
  bool stopped_by_user_ = false;
};
