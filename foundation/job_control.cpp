#include "foundation/job_control.h"

#include <algorithm>
#include <chrono>

void JobControl::reset() {
  command_.store(0, std::memory_order_release);
  progress_.store(0.0, std::memory_order_release);
  result_.store(0, std::memory_order_release);
  message_.clear();
  outcome_.store(JobOutcome::running, std::memory_order_release);
}

void JobControl::set_command(JobCommand command) { set_command_word(static_cast<int32_t>(command)); }

void JobControl::set_command_word(int32_t word) {
  {
    // Taken so that a paused job between its check and its wait cannot miss
    // the wake-up.
    std::lock_guard<std::mutex> lock(wake_mutex_);
    command_.store(word, std::memory_order_release);
  }
  wake_.notify_all();
}

void JobControl::set_progress(double percent) {
  if (!(percent >= 0.0)) percent = 0.0;  // NaN too
  percent = std::min(percent, 100.0);
  progress_.store(percent, std::memory_order_release);
  if (callback_) callback_(percent);
}

bool JobControl::stop_requested() const {
  const int32_t c = command_word();
  return c != static_cast<int32_t>(JobCommand::run) && c != static_cast<int32_t>(JobCommand::pause);
}

bool JobControl::keep_output() const {
  return stop_requested() && command_word() != static_cast<int32_t>(JobCommand::stop_delete);
}

void JobControl::wait_while_paused() {
  while (command() == JobCommand::pause) {
    if (sleep_) {
      sleep_(kPausePollMs);
      continue;
    }
    std::unique_lock<std::mutex> lock(wake_mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(kPausePollMs),
                   [this] { return command() != JobCommand::pause; });
  }
}

bool JobControl::checkpoint() {
  wait_while_paused();
  return stop_requested();
}

void JobControl::finish(JobOutcome outcome, int64_t result, std::string message) {
  if (finished()) return;
  message_ = std::move(message);
  result_.store(result, std::memory_order_release);
  outcome_.store(outcome, std::memory_order_release);
}

JobCommand JobControl::from_trim_bits(int32_t bits) {
  if (bits & 16) return JobCommand::stop_delete;
  if (bits & 32) return JobCommand::stop_keep;
  if (bits & 8) return JobCommand::pause;
  return JobCommand::run;
}

int32_t JobControl::to_trim_bits(JobCommand command) {
  switch (command) {
    case JobCommand::run: return 0;
    case JobCommand::pause: return 8;
    case JobCommand::stop_delete: return 16;
    case JobCommand::stop_keep:
    case JobCommand::close: return 32;
  }
  return 32;
}

JobCommand JobControl::from_scan_bits(int32_t bits) {
  if (bits & (16 | 32)) return JobCommand::stop_keep;
  if (bits & 8) return JobCommand::pause;
  return JobCommand::run;
}

int32_t JobControl::to_scan_bits(JobCommand command) {
  switch (command) {
    case JobCommand::run: return 0;
    case JobCommand::pause: return 8;
    case JobCommand::stop_delete: return 16;
    case JobCommand::stop_keep:
    case JobCommand::close: return 32;
  }
  return 32;
}
