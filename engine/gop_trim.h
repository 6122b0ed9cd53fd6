// Saving a frame range of one file at copy speed: the range is widened to
// whole GOPs and their bytes are copied, nothing decoded.
#pragma once

#include <atomic>
#include <cstdint>

#include "foundation/job_control.h"

// What a trim tells its caller beside the outcome: the bytes written so far
// (read while it runs) and the byte range of the source it copies.
struct TrimReport {
  std::atomic<int64_t> bytes{0};
  int64_t start_offset = 0, end_offset = 0;
};

// Copies the GOPs that hold frames start .. start + count - 1 of in to out;
// the bytes written. The control's outcome tells done, stopped or failed
// and its progress ends at 100; a stop with delete, a failure or a refusal
// leaves no file, a stop with keep the GOPs copied so far. out never
// replaces in. The trim window's bit-coded commands (8 pause, 16 stop and
// delete, 32 stop and keep) reach the control through
// JobControl::from_trim_bits.
int64_t trim_packet(const char* in, const char* out, int start, int count, JobControl* control,
                    TrimReport* report = nullptr);
