// Arbitrary bytes as a video or program stream file scanned by the GOP
// fixer step by step to the end.
#include <cstdint>

#include "demux/gop_fixer.h"
#include "fuzz_temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  FuzzTempFile file(data, size);
  if (!file.path()) return 0;
  GopFixer f;
  if (f.init(file.path()) != 0) return 0;
  // Every step moves on: a scan that never ends is a fault.
  for (size_t steps = 0; steps <= size + 16; ++steps)
    if (f.scan() <= 0) return 0;
  __builtin_trap();
}
