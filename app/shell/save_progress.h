// The progress window of every job that writes a file: a bar, the
// percentage, the elapsed time, Pause/Resume, Stop and Close. It knows
// nothing of the job: the owner feeds it percentages and hears of the
// user's actions through one callback. The widget (ui/shell) only shows
// the texts below and forwards its buttons; the rules live here.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class CSaveProgressDlg;

// What the model asks of its window.
class SaveProgressWindow {
 public:
  virtual ~SaveProgressWindow() = default;
  // Show the model's texts, bar and button states again.
  virtual void refresh() = 0;
  // Call on_close_timer once after ms milliseconds (the 100 % close).
  virtual void start_close_timer(int ms) = 0;
  // The window goes away (the model stays until its owner drops it).
  virtual void destroy() = 0;
};

// Makes the window of a model; null when it cannot. Installed by the
// program; without one the model runs headless (tests press its buttons).
using SaveProgressWindowFactory = std::function<std::unique_ptr<SaveProgressWindow>(CSaveProgressDlg*)>;
void set_save_progress_window_factory(SaveProgressWindowFactory factory);

// Callback codes.
inline constexpr int kProgressPause = -4;
inline constexpr int kProgressStopDelete = -1;
inline constexpr int kProgressStopKeep = -2;
inline constexpr int kProgressClosed = 0;

class CSaveProgressDlg {
 public:
  using Callback = std::function<int(void* owner_context, int code)>;
  static constexpr int kCloseDelayMs = 1500;

  CSaveProgressDlg(int value1, int value2, void* owner, Callback callback);
  ~CSaveProgressDlg();
  CSaveProgressDlg(const CSaveProgressDlg&) = delete;
  CSaveProgressDlg& operator=(const CSaveProgressDlg&) = delete;

  void set_job_name(const std::string& text) { job_name = text.substr(0, 260); }
  void set_file_name(const std::string& text) { file_name = text.substr(0, 260); }
  // Makes the window; non-zero on success.
  int Create();
  void SetPercent(int p);
  void Finish() { close_window(); }
  // Non-zero: the Close button is disabled; 0: the Stop button.
  void DisableButton(int flag);

  // ---- the window's buttons and timer
  void on_pause();
  void on_stop();
  void on_close() { close_window(); }
  void on_close_timer() { close_window(); }

  // ---- texts the window shows
  std::string title() const;
  std::string job_text() const;
  std::string percent_text() const;
  std::string time_text() const;
  std::string pause_text() const { return paused ? "Resume" : "Pause"; }
  bool close_enabled() const { return close_enabled_; }
  bool stop_enabled() const { return stop_enabled_; }
  int value1() const { return value1_; }
  int value2() const { return value2_; }
  // Seconds shown: elapsed plus the offset.
  int shown_seconds() const { return elapsed + time_offset; }

  void* owner_context = nullptr;
  Callback callback;
  int closed = 0;
  int paused = 0;
  int pausable = 0;
  std::string job_name = "Saving";
  std::string file_name;
  int percent = 0;
  int time_offset = 0;
  int elapsed = 0;
  int position_x = 0, position_y = 0;

 private:
  void close_window();
  void update_elapsed();
  void refresh();
  int value1_, value2_;
  int64_t start_ms_ = 0;
  bool close_enabled_ = true, stop_enabled_ = true;
  bool close_timer_started_ = false;
  std::unique_ptr<SaveProgressWindow> window_;
};
