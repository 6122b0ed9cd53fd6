// Milliseconds and sleeps, behind a seam so that pacing (playback, sound
// written to a file, progress polls) runs on a manual clock in tests.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds from an arbitrary start.
  virtual int64_t now_ms() = 0;
  virtual void sleep_ms(int ms) = 0;
};

class SystemClock : public Clock {
 public:
  int64_t now_ms() override;
  void sleep_ms(int ms) override;
};
