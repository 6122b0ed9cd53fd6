// Arbitrary bytes as a stream file walked by the time-stamp scan, once
// stopped early and then to the end: clean ends, entries inside the file.
#include <cstdint>

#include "demux/timestamp_scan.h"
#include "fuzz_temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  FuzzTempFile file(data, size);
  if (!file.path()) return 0;
  TimeStampScan s;
  if (s.open(file.path()) != 0) return 0;
  TimeStampScanStatus status;
  status.callback = [](TimeStampScanStatus* st, int kind) {
    if (kind == TimeStampScanStatus::kProgress && st->progress > 30.0) st->command.store(TimeStampScanStatus::kStop);
  };
  s.scan(&status);
  status.command.store(TimeStampScanStatus::kRun);
  status.callback = nullptr;
  s.scan(&status);
  if (!s.done()) __builtin_trap();
  for (int kind = 1; kind <= 3; ++kind) {
    const TimeStampEntry* e = nullptr;
    const int n = s.get_list(kind, &e);
    for (int i = 0; i < n; ++i)
      if (e[i].start < 0 || e[i].end > double(size) || e[i].start > e[i].end) __builtin_trap();
  }
  return 0;
}
