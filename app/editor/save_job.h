// An editor window's save and GOP-trim jobs. Each job runs on its own
// thread over what it owns: the save gets its own editor built from a copy
// of the edit list and a copy of the record before the thread starts, so
// the window can go on editing and playing. Progress and commands pass
// through the job's JobControl (atomics); the window reads them from its
// 1000 ms poll timers and shows them in a progress window. A job is
// collected once its thread has ended, whatever its percentage, and only
// a completed job's file is announced.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/shell/save_progress.h"
#include "engine/clips/settings.h"
#include "foundation/job_control.h"

class IEditor;
class EditorSettings;
class CSaveDlg;

// The work of a job on its thread; it reports through the control and
// finishes it.
using JobWork = std::function<void(JobControl&)>;

// What the jobs ask of the window.
class SaveJobHost {
 public:
  virtual ~SaveJobHost() = default;
  // Runs the Save dialog (modal); true on Save.
  virtual bool run_save_dialog(CSaveDlg& dialog) = 0;
  // The poll timers (1106 save, 1107 trim): call poll_save_job /
  // poll_trim_job every ms while running.
  virtual void start_poll_timer(int id, int ms) = 0;
  virtual void stop_poll_timer(int id) = 0;
  // A written file: the application opens it beside the window.
  virtual void announce(const std::string& path) = 0;
  // The window's remembered position for a reshown progress window.
  virtual void* progress_owner() { return this; }
};

// Builds the save's work from the window's editor and the dialog's record
// (on the user-interface thread, before the thread starts); an empty
// function with *why set when the save cannot run.
using SaveWorkFactory = std::function<JobWork(IEditor* editor, const EditorRecordData& record, std::string* why)>;
// The GOP trim's work.
using TrimWorkFactory =
    std::function<JobWork(const std::string& in, const std::string& out, int start, int count)>;
// Fills a record from an editor (project, range, rates); false when the
// editor cannot give one.
using RecordFiller = std::function<bool(IEditor* editor, EditorRecordData* record)>;

class PlayerSaveJobs {
 public:
  static constexpr int kSaveTimer = 1106;
  static constexpr int kTrimTimer = 1107;
  static constexpr int kPollMs = 1000;

  PlayerSaveJobs(EditorSettings* settings, SaveJobHost* host);
  ~PlayerSaveJobs();
  PlayerSaveJobs(const PlayerSaveJobs&) = delete;
  PlayerSaveJobs& operator=(const PlayerSaveJobs&) = delete;

  void set_editor(IEditor* editor) { editor_ = editor; }
  void set_save_work_factory(SaveWorkFactory f) { save_factory_ = std::move(f); }
  void set_trim_work_factory(TrimWorkFactory f) { trim_factory_ = std::move(f); }
  void set_record_filler(RecordFiller f) { filler_ = std::move(f); }

  // ---- save (code 25)
  void save_edited_movie(int mark_in, int mark_out);
  int start_save_job();
  void poll_save_job();
  int on_save_progress_event(int code);
  int collect_save_job();
  void show_save_progress(bool reshow);
  bool is_saving() const { return save_running_; }

  // ---- GOP trim (code 26)
  void update_trim_range(int mark_in, int mark_out);
  bool trim_range_valid() const { return trim_range_valid_; }
  void trim_to_file(int mark_in, int mark_out);
  int start_trim_job(const std::string& in, const std::string& out, int start, int count);
  void poll_trim_job();
  int on_trim_progress_event(int code);
  int collect_trim_job();
  void show_trim_progress(bool reshow);
  bool is_trimming() const { return trim_running_; }

  // The window's close check: 1 when both jobs are collected, else 0
  // after the message.
  int check_close();
  // Joins whatever still runs (the window is gone): a stop first.
  void stop_and_join();

  EditorRecordData& record() { return record_; }
  const JobControl& save_control() const { return save_.control; }
  const JobControl& trim_control() const { return trim_.control; }
  CSaveProgressDlg* save_window() const { return save_.window.get(); }
  CSaveProgressDlg* trim_window() const { return trim_.window.get(); }
  int save_last_percent() const { return save_.last_percent; }
  int trim_last_percent() const { return trim_.last_percent; }
  // The job's thread has returned (it can be collected).
  bool save_ended() const { return save_.ended.load(std::memory_order_acquire); }
  bool trim_ended() const { return trim_.ended.load(std::memory_order_acquire); }
  bool save_paused() const { return save_.paused; }
  bool save_announced() const { return save_.announced; }
  std::string save_output() const { return save_.output; }

 private:
  // One running job: its thread, control, window and remembered state.
  struct Job {
    JobControl control;
    std::thread thread;
    std::atomic<bool> ended{false};
    std::unique_ptr<CSaveProgressDlg> window;
    std::unique_ptr<CSaveProgressDlg> retired;  // dropped outside its own callback
    int last_percent = 0;
    bool paused = false;
    int stopped = 0;
    int time_offset = 0;
    int window_x = 0, window_y = 0;
    bool announced = false;
    bool polling = false;
    std::string output;
    int64_t started_ms = 0;
    int file_use = 0;
  };
  void start(Job& job, JobWork work, const std::string& output);
  void show_progress(Job& job, int timer, const char* job_name, const char* failed, bool reshow);
  void poll(Job& job, int timer);
  int on_event(Job& job, int timer, int code);
  int collect(Job& job);
  void announce(Job& job);
  void report_failure_text(const std::string& why, const std::string& out);

  EditorSettings* settings_;
  SaveJobHost* host_;
  IEditor* editor_ = nullptr;
  SaveWorkFactory save_factory_;
  TrimWorkFactory trim_factory_;
  RecordFiller filler_;
  EditorRecordData record_;
  bool record_ready_ = false;
  Job save_, trim_;
  bool save_running_ = false, trim_running_ = false;
  bool trim_range_valid_ = false;
};

// The refusal of a window's close while a job runs.
inline constexpr const char* kSaveNotCompletedMessage =
    "The Save of your MPEG has not been completed.\nPlease stop the Save process first. \n";
