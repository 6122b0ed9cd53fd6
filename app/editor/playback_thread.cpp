#include "app/editor/playback_thread.h"

#include "platform/clock.h"

PlaybackThread::PlaybackThread(Clock* clock, int period_ms, std::function<void()> begin, std::function<void()> step,
                               std::function<void()> end)
    : clock_(clock), period_ms_(period_ms), begin_(std::move(begin)), step_(std::move(step)), end_(std::move(end)) {}

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
  while (state_.load() == kRunning) {
    const int64_t t0 = clock_->now_ms();
    step_();
    int64_t elapsed = clock_->now_ms() - t0;
    const int period = period_ms_.load();
    if (elapsed < 0) elapsed = period;
    if (elapsed < period && state_.load() == kRunning) clock_->sleep_ms(int(period - elapsed));
  }
  if (end_) end_();
  state_.store(kEnded);
}
