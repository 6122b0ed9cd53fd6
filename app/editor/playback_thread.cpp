#include "app/editor/playback_thread.h"

#include "platform/clock.h"

PlaybackThread::PlaybackThread(Clock* clock, int period_ms, std::function<void()> begin, std::function<int()> step,
                               std::function<void()> end)
    : clock_(clock), period_ms_(period_ms), begin_(std::move(begin)), end_(std::move(end)), step_(std::move(step)) {}

void PlaybackThread::start() {
  if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
}

PlaybackThread::~PlaybackThread() {
  if (!thread_.joinable()) return;
  request_stop();
  if (thread_.joinable()) thread_.join();
}

void PlaybackThread::request_stop() {
  int running = kRunning;
  state_.compare_exchange_strong(running, kStopRequested);
}

void PlaybackThread::run() {
  if (begin_) begin_();
  // Steps keep to a timeline of whole periods, so that oversleeping does
  // not add up (it would make the real-time step jump a frame now and then).
  int64_t next = clock_->now_ms();
  while (state_.load() == kRunning) {
    const int period = period_ms_.load();
    next += period;
    const int wait = step_();
    const int64_t now = clock_->now_ms();
    if (wait >= 0) {
      // The step knows when its next frame is due.
      next = now + wait;
      if (wait > 0 && state_.load() == kRunning) clock_->sleep_ms(wait);
      continue;
    }
    // Behind by more than a period, or a clock that went back: start afresh.
    if (now - next > period || next - now > 2 * period) next = now;
    if (now < next && state_.load() == kRunning) clock_->sleep_ms(int(next - now));
  }
  if (end_) end_();
  state_.store(kEnded);
}
