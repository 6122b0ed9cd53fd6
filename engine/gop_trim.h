// Saving a frame range of one file at copy speed: the range is widened to
// whole GOPs and their bytes are copied, nothing decoded.
#pragma once

#include <atomic>
#include <cstdint>

// Command words of a running trim.
enum : int32_t {
  kTrimRun = 0,
  kTrimEnded = 1,
  kTrimPause = 8,
  kTrimStopDelete = 16,
  kTrimStopKeep = 32,
};
// Callback codes.
enum : int {
  kTrimFinished = 1,
  kTrimProgress = 2,
  kTrimWriteError = 0x200,
};

enum class TrimResult { done, stopped, failed };

// Polled by the window while the trim runs; the window writes only the
// command word.
struct TrimStatus {
  std::atomic<int32_t> command{kTrimRun};
  std::atomic<double> progress{0.0};
  std::atomic<int64_t> bytes{0};  // written so far
  void (*callback)(intptr_t user, int code) = nullptr;
  intptr_t user = 0;
  // Set when the trim ends.
  TrimResult result = TrimResult::failed;
  int64_t start_offset = 0, end_offset = 0;
};

// Copies the GOPs that hold frames start .. start + count - 1 of in to out;
// the bytes written (the result word tells done, stopped or failed). A
// failed or deleted output leaves no file; out never replaces in.
int64_t trim_packet(const char* in, const char* out, int start, int count, TrimStatus* status);
