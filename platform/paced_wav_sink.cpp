#include "platform/paced_wav_sink.h"

#include <climits>

void PacedWavSink::start() {
  if (running()) return;
  WavFileAudioSink::start();
  started_ms_ = clock_->now_ms();
  consumed_at_start_ = WavFileAudioSink::bytes_consumed();
}

void PacedWavSink::suspend() {
  catch_up();
  WavFileAudioSink::suspend();
}

void PacedWavSink::stop() {
  catch_up();
  WavFileAudioSink::stop();
}

uint64_t PacedWavSink::bytes_consumed() {
  catch_up();
  return WavFileAudioSink::bytes_consumed();
}

void PacedWavSink::catch_up() {
  if (!running() || rate() < 1) return;
  const int64_t elapsed = clock_->now_ms() - started_ms_;
  if (elapsed <= 0) return;
  const uint64_t frames = uint64_t(elapsed) * uint64_t(rate()) / 1000u;
  const uint64_t due = consumed_at_start_ + frames * uint64_t(channels()) * 2u;
  uint64_t have = WavFileAudioSink::bytes_consumed();
  while (due > have) {
    const uint64_t step = due - have > uint64_t(INT_MAX / 2) ? uint64_t(INT_MAX / 2) : due - have;
    if (advance(int(step)) <= 0) return;
    have = WavFileAudioSink::bytes_consumed();
  }
}
