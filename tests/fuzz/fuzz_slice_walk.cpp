// The MPEG-1 slice walk over arbitrary bytes behind a slice start code, for
// every picture type and a spread of f codes and picture widths.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "demux/slice_walk.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2 || size > (1u << 20)) return 0;
  std::vector<uint8_t> slice = {0, 0, 1, uint8_t(1 + data[0] % 0xAF)};
  slice.insert(slice.end(), data + 2, data + size);
  const int mb_cols = 1 + data[1] % 120;
  for (int type = 1; type <= 4; ++type) {
    const int f = 1 + (data[1] >> 4) % 7;
    (void)mpeg1_slice_last_address(slice.data(), int(slice.size()), mb_cols, mb_cols * 36, type, f, 8 - f);
  }
  return 0;
}
