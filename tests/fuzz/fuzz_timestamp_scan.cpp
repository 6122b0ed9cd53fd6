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
  JobControl control;
  control.set_progress_callback([&control](double p) {
    if (p > 30.0 && p < 100.0) control.stop(true);
  });
  s.scan(&control);
  control.reset();
  control.set_progress_callback(nullptr);
  s.scan(&control);
  if (!s.done()) __builtin_trap();
  for (int kind = 1; kind <= 3; ++kind) {
    const TimeStampEntry* e = nullptr;
    const int n = s.get_list(kind, &e);
    for (int i = 0; i < n; ++i)
      if (e[i].start < 0 || e[i].end > double(size) || e[i].start > e[i].end) __builtin_trap();
  }
  return 0;
}
