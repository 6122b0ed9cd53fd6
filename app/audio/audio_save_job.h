// The audio window's save job: one writer, built by the window on the
// user-interface thread, runs on a thread of its own; the thread only
// stores atomics (progress, outcome, its return). The window polls it on
// a slow timer and shows the percentage in a progress window that cannot
// pause; the job ends, and a new save may start, only once the thread has
// been joined.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/shell/save_progress.h"
#include "foundation/job_control.h"

class AudioSaveJob {
 public:
  static constexpr int kPollMs = 1500;

  struct End {
    JobOutcome outcome = JobOutcome::failed;
    std::string message;
    bool stopped_by_user = false;
  };

  AudioSaveJob() = default;
  // Stops a running job, keeping what it wrote, and joins it.
  ~AudioSaveJob();
  AudioSaveJob(const AudioSaveJob&) = delete;
  AudioSaveJob& operator=(const AudioSaveJob&) = delete;

  // The control the writer is built on; reset for each job.
  JobControl& control() { return control_; }
  // Runs work (built on control()) on a thread and opens the progress
  // window for file; refused while a job exists.
  bool start(std::function<int()> work, const std::string& file, double expected_bytes);
  // A job exists: its thread has not been joined.
  bool running() const { return thread_.joinable(); }
  // The percentage the job reached (-1 after a stop).
  int status() const;
  // The timer's tick: shows the percentage; once the thread has returned
  // it is joined and the job ends.
  void poll();
  // The Save button while a job runs: the progress window again.
  void show_progress();
  // Stop (keep or delete the partial file) and wait for the thread; the
  // job ends now.
  void stop_and_join(bool keep_output);
  CSaveProgressDlg* progress() const { return progress_.get(); }

  // Called once per job after the join.
  std::function<void(const End&)> on_end;
  // A progress window could not be made.
  std::function<void()> on_progress_failed;

 private:
  void open_progress();
  void end();

  JobControl control_;
  std::thread thread_;
  std::atomic<bool> returned_{false};
  std::unique_ptr<CSaveProgressDlg> progress_;
  bool progress_gone_ = false;
  bool stopped_by_user_ = false;
  std::string file_;
  double expected_ = 0.0;
};
