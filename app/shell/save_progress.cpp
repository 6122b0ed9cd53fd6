#include "app/shell/save_progress.h"

#include <cstdio>

#include "platform/services.h"

namespace {
SaveProgressWindowFactory& window_factory() {
  static SaveProgressWindowFactory factory;
  return factory;
}
}  // namespace

void set_save_progress_window_factory(SaveProgressWindowFactory factory) { window_factory() = std::move(factory); }

CSaveProgressDlg::CSaveProgressDlg(int value1, int value2, void* owner, Callback cb)
    : owner_context(owner), callback(std::move(cb)), value1_(value1), value2_(value2) {}

CSaveProgressDlg::~CSaveProgressDlg() = default;

int CSaveProgressDlg::Create() {
  if (job_name.empty()) job_name = "Saving";
  if (percent < 0) percent = 0;
  if (percent > 100) percent = 100;
  elapsed = 0;
  start_ms_ = platform().clock->now_ms();
  if (window_factory()) {
    window_ = window_factory()(this);
    if (!window_) return 0;
  }
  refresh();
  return 1;
}

void CSaveProgressDlg::refresh() {
  if (window_ && !closed) window_->refresh();
}

void CSaveProgressDlg::update_elapsed() {
  const int64_t ms = platform().clock->now_ms() - start_ms_;
  elapsed = ms > 0 ? static_cast<int>(ms / 1000) : 0;
}

std::string CSaveProgressDlg::title() const {
  if (!file_name.empty()) return file_name;
  const bool p = pausable && paused;
  return p ? "  Saving Paused ............" : "  Saving In Progress ......";
}

std::string CSaveProgressDlg::job_text() const {
  if (file_name.empty()) return "Data Processed:";
  char buf[400];
  const bool p = pausable && paused;
  std::snprintf(buf, sizeof buf, p ? "%s has been paused ......" : "%s is in progress ......", job_name.c_str());
  return buf;
}

std::string CSaveProgressDlg::percent_text() const {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d %%", percent);
  return buf;
}

std::string CSaveProgressDlg::time_text() const {
  const int s = shown_seconds() < 0 ? 0 : shown_seconds();
  char buf[64];
  std::snprintf(buf, sizeof buf, "Time:  %2d:%02d:%02d", s / 3600, s / 60 % 60, s % 60);
  return buf;
}

void CSaveProgressDlg::SetPercent(int p) {
  if (closed) return;
  if (p > 100) p = 100;
  if (p > percent) percent = p;
  update_elapsed();
  refresh();
  // The window stays 1.5 s at 100 % before it closes; a timer, not a
  // sleep, so the user-interface thread goes on.
  if (percent >= 100 && !close_timer_started_) {
    close_timer_started_ = true;
    if (window_) window_->start_close_timer(kCloseDelayMs);
    else close_window();
  }
}

void CSaveProgressDlg::DisableButton(int flag) {
  if (flag) close_enabled_ = false;
  else stop_enabled_ = false;
  refresh();
}

void CSaveProgressDlg::on_pause() {
  if (closed) return;
  paused = !paused;
  refresh();
  if (callback) callback(owner_context, kProgressPause);
}

void CSaveProgressDlg::on_stop() {
  if (closed) return;
  if (!callback) {
    close_window();
    return;
  }
  bool paused_here = false;
  if (!paused) {
    on_pause();
    paused_here = true;
  }
  const PromptAnswer a = platform().prompter->message(PromptIcon::Question, PromptButtons::YesNoCancel,
                                                      "Delete the partially saved MPEG file ?", "Save Progress");
  if (closed) return;
  if (a == PromptAnswer::Yes || a == PromptAnswer::No) {
    closed = 1;
    callback(owner_context, a == PromptAnswer::Yes ? kProgressStopDelete : kProgressStopKeep);
    if (window_) window_->destroy();
    return;
  }
  if (paused_here) on_pause();
}

void CSaveProgressDlg::close_window() {
  if (closed) return;
  closed = 1;
  if (callback) callback(owner_context, kProgressClosed);
  if (window_) window_->destroy();
}
