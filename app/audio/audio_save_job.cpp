#include "app/audio/audio_save_job.h"

#include <cmath>

#include "app/shell/save_progress.h"

AudioSaveJob::~AudioSaveJob() {
  if (running()) stop_and_join(true);
  // Closed, not just dropped: a window that goes while shown would keep
  // the program waiting for its last window to close. Its callbacks come
  // back here, so it goes first.
  if (progress_ && !progress_gone_) progress_->Finish();
  progress_.reset();
}

bool AudioSaveJob::start(std::function<int()> work, const std::string& file, double expected_bytes) {
  if (running() || !work) return false;
  stopped_by_user_ = false;
  returned_.store(false);
  file_ = file;
  expected_ = expected_bytes;
  // A window still showing the last job's 100 % goes: each job has its own.
  if (progress_ && !progress_gone_) progress_->Finish();
  progress_.reset();
  progress_gone_ = false;
  thread_ = std::thread([this, w = std::move(work)] {
    w();
    returned_.store(true, std::memory_order_release);
  });
  open_progress();
  return true;
}

int AudioSaveJob::status() const {
  const JobCommand c = control_.command();
  if (c == JobCommand::stop_delete || c == JobCommand::stop_keep) return -1;
  return int(std::floor(control_.progress()));
}

void AudioSaveJob::open_progress() {
  if (progress_ && !progress_gone_) return;
  progress_.reset();
  progress_gone_ = false;
  auto p = std::make_unique<CSaveProgressDlg>(int(expected_ > 2e9 ? 2e9 : expected_), 0, this,
                                              [this](void*, int code) {
                                                // Only flags and the control's atomics: the window may
                                                // be inside its own handler.
                                                if (code == kProgressPause) {
                                                  if (progress_ && progress_->paused)
                                                    control_.pause();
                                                  else
                                                    control_.resume();
                                                  return 0;
                                                }
                                                if (code == kProgressStopDelete || code == kProgressStopKeep) {
                                                  stopped_by_user_ = true;
                                                  control_.stop(code == kProgressStopKeep);
                                                }
                                                progress_gone_ = true;
                                                return 0;
                                              });
  // The writer keeps or deletes on a stop but does not pause for long:
  // no Pause button.
  p->pausable = 0;
  p->job_name = "Audio saving";
  p->file_name = file_;
  p->percent = status() > 0 ? status() : 0;
  progress_ = std::move(p);
  if (!progress_->Create()) {
    progress_.reset();
    if (on_progress_failed) on_progress_failed();
  }
}

void AudioSaveJob::show_progress() {
  if (running()) open_progress();
}

void AudioSaveJob::poll() {
  if (!running()) return;
  if (returned_.load(std::memory_order_acquire)) {
    end();
    return;
  }
  if (progress_ && !progress_gone_) {
    const int s = status();
    if (s >= 0 && s < 100) progress_->SetPercent(s);
  }
}

void AudioSaveJob::stop_and_join(bool keep_output) {
  if (!running()) return;
  if (!returned_.load()) {
    stopped_by_user_ = true;
    control_.stop(keep_output);
  }
  end();
}

void AudioSaveJob::end() {
  thread_.join();
  End e;
  e.outcome = control_.finished() ? control_.outcome() : JobOutcome::failed;
  e.message = control_.message();
  e.stopped_by_user = stopped_by_user_;
  if (progress_ && !progress_gone_) {
    if (e.outcome == JobOutcome::done)
      progress_->SetPercent(100);
    else
      progress_->Finish();
  }
  control_.reset();
  if (on_end) on_end(e);
}
