// Video elementary-stream filter over arbitrary bytes: the first byte picks
// insertion mode and the size of the pieces the rest is fed in.
#include <cstddef>
#include <cstdint>

#include "demux/video_es_filter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int insert = data[0] & 1;
  const size_t chunk = 1 + (data[0] >> 1) * 37;
  ++data;
  --size;
  VideoESFilter f;
  size_t total = 0;
  for (size_t at = 0; at < size; at += chunk) {
    const int n = static_cast<int>(size - at < chunk ? size - at : chunk);
    int len = 0;
    const uint8_t* p = f.filter_data(data + at, n, &len, insert);
    if (!p || len < 0) __builtin_trap();
    total += static_cast<size_t>(len);
  }
  int len = 0;
  f.take_output(&len);
  total += static_cast<size_t>(len);
  // Insertion only adds bytes; without it nothing is added or lost.
  if (total < size || (!insert && total != size)) __builtin_trap();
  return 0;
}
