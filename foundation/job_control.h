// The control block of one long job (save, GOP trim, convert, demultiplex,
// multiplex, GOP fix, time-stamp scan, audio save): the window or command
// that started the job writes the command; the job's thread polls it
// between pieces of work, reports its progress and, when it ends, its
// outcome. Every word both sides touch is atomic; the outcome's message is
// written once by the job before the outcome is published and read after.
//
// Command words keep the values windows and files already use: 0 run,
// -4 pause, -1 stop and delete the partial output, -2 stop and keep it,
// 1 stop because the owning window closes (the output is kept). Jobs with
// bit-coded commands map them through from_trim_bits / from_scan_bits.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

enum class JobCommand : int32_t {
  run = 0,
  pause = -4,
  stop_delete = -1,
  stop_keep = -2,
  close = 1,
};

enum class JobOutcome : int32_t {
  running = 0,
  done = 1,
  stopped = 2,
  failed = 3,
};

class JobControl {
 public:
  using ProgressCallback = std::function<void(double percent)>;
  using SleepFunction = std::function<void(int milliseconds)>;

  // How long a paused job waits before it polls again.
  static constexpr int kPausePollMs = 1000;

  JobControl() = default;
  JobControl(const JobControl&) = delete;
  JobControl& operator=(const JobControl&) = delete;

  // ---- Set-up, before the job's thread starts.
  void set_progress_callback(ProgressCallback callback) { callback_ = std::move(callback); }
  // Replaces the pause wait (tests pass a manual clock's sleep).
  void set_sleep(SleepFunction sleep) { sleep_ = std::move(sleep); }
  // Back to run, progress 0, outcome running, no message.
  void reset();

  // ---- The window's side (any thread).
  void set_command(JobCommand command);
  // A raw command word as windows store it: unknown non-zero values stop
  // and keep.
  void set_command_word(int32_t word);
  void pause() { set_command(JobCommand::pause); }
  void resume() { set_command(JobCommand::run); }
  void stop(bool keep_output) { set_command(keep_output ? JobCommand::stop_keep : JobCommand::stop_delete); }
  JobCommand command() const { return static_cast<JobCommand>(command_.load(std::memory_order_acquire)); }
  int32_t command_word() const { return command_.load(std::memory_order_acquire); }
  double progress() const { return progress_.load(std::memory_order_acquire); }
  JobOutcome outcome() const { return outcome_.load(std::memory_order_acquire); }
  bool finished() const { return outcome() != JobOutcome::running; }
  // The job's own result code (a save's multiplexer result, a byte count's
  // sign...): meaningful once finished.
  int64_t result() const { return result_.load(std::memory_order_acquire); }
  // Why the job failed or stopped; empty when it did not say. Read it only
  // after finished() is true.
  const std::string& message() const { return message_; }

  // ---- The job's side (its own thread).
  // Stores the percentage (clamped to 0..100) and calls the callback.
  void set_progress(double percent);
  // The poll between pieces of work: while paused it waits (the injected
  // sleep, or up to kPausePollMs woken early by a new command) and polls
  // again. True when the job must stop now.
  bool checkpoint();
  bool stop_requested() const;
  // A stop that asks for the partial output to be kept (-2, close).
  bool keep_output() const;
  // Publishes the outcome; the first call wins. A stopped or failed job's
  // message says why.
  void finish(JobOutcome outcome, int64_t result = 0, std::string message = {});

  // ---- Mappings of the bit-coded commands some windows write.
  // GOP trim: 8 pause, 16 stop and delete, 32 stop and keep.
  static JobCommand from_trim_bits(int32_t bits);
  static int32_t to_trim_bits(JobCommand command);
  // Time-stamp (MBS) scan: 8 pause, 16 or 32 stop.
  static JobCommand from_scan_bits(int32_t bits);
  static int32_t to_scan_bits(JobCommand command);

 private:
  void wait_while_paused();

  std::atomic<int32_t> command_{0};
  std::atomic<double> progress_{0.0};
  std::atomic<JobOutcome> outcome_{JobOutcome::running};
  std::atomic<int64_t> result_{0};
  std::string message_;
  ProgressCallback callback_;
  SleepFunction sleep_;
  // Wakes a paused job early when the command changes; guards nothing else.
  std::mutex wake_mutex_;
  std::condition_variable wake_;
};

static_assert(std::atomic<double>::is_always_lock_free, "progress must be lock-free");
