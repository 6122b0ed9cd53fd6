// Elapsed wall-clock time of the tool windows, on a clock that never goes
// back when the system time is set.
#pragma once

#include <chrono>

class Stopwatch {
 public:
  Stopwatch() { start(); }
  void start() { start_ = std::chrono::steady_clock::now(); }
  // Seconds since start().
  double elapsed() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(); }

 private:
  std::chrono::steady_clock::time_point start_;
};
