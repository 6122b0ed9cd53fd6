// Program stream maps from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "foundation/ps_map.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) size = 1u << 20;
  PSPSM map;
  (void)map.decode(data, static_cast<int>(size));
  (void)map.decode(data, static_cast<int>(size / 2));  // a second decode over a first
  map.cleanup();
  return 0;
}
