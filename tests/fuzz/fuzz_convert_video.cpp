// The convertor's GOP regrouping over arbitrary bytes fed in pieces: the
// first byte sets the piece size. Without a writer the GOPs are only cut
// and renumbered.
#include <cstddef>
#include <cstdint>

#include "foundation/es_buffer.h"
#include "mux/convertor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t chunk = 1 + size_t(data[0]) * 61;
  ++data;
  --size;
  Convertor conv;
  ESBuffer gop(0);
  for (size_t at = 0; at < size; at += chunk) {
    const int n = static_cast<int>(size - at < chunk ? size - at : chunk);
    if (!conv.write_video(data + at, n, 0, &gop, nullptr)) __builtin_trap();
    if (gop.bytes < 0 || uint32_t(gop.bytes) > gop.size || gop.first_frame < 0 || gop.first_frame > gop.bytes)
      __builtin_trap();
  }
  if (!conv.write_video(nullptr, 0, 1, &gop, nullptr)) __builtin_trap();
  return 0;
}
