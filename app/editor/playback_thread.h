// The player's playback thread: calls a step, sleeps as long as the step
// asks (or what is left of one frame period when it does not say), and
// ends when asked (the step it is in runs to its end: nothing is ever
// killed). Only single atomic words are shared with the user-interface
// thread.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class Clock;

class PlaybackThread {
 public:
  enum State : int { kEnded = 0, kRunning = 1, kStopRequested = 2 };

  // begin runs first on the thread, then step until stopped, then end. The
  // step answers the milliseconds to wait before the next one, or a
  // negative number for the rest of the period.
  PlaybackThread(Clock* clock, int period_ms, std::function<void()> begin, std::function<int()> step,
                 std::function<void()> end);
  // Starts the thread (apart from construction, so that the owner has
  // stored the object before the thread can ask for it).
  void start();
  // Asks the thread to stop and joins it.
  ~PlaybackThread();
  PlaybackThread(const PlaybackThread&) = delete;
  PlaybackThread& operator=(const PlaybackThread&) = delete;

  void set_period(int ms) { period_ms_ = ms; }
  int period() const { return period_ms_; }
  // Asks the thread to end after its current step (also from the thread).
  void request_stop();
  int state() const { return state_.load(); }
  bool ended() const { return state_.load() == kEnded; }
  bool on_thread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void run();
  Clock* clock_;
  std::atomic<int> period_ms_;
  std::atomic<int> state_{kRunning};
  std::function<void()> begin_, end_;
  std::function<int()> step_;
  std::thread thread_;
};
