// Frame rescaling over arbitrary bytes: several gains, into an exact-size
// output and in place.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "audio/codec/mpa_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int n = size > (1u << 16) ? (1 << 16) : static_cast<int>(size);
  static const double kGains[] = {0.0, 0.5, 1.0, 1.7, 1e9};
  for (double g : kGains) {
    uint8_t* out = static_cast<uint8_t*>(std::malloc(n ? static_cast<size_t>(n) : 1));
    const int m = MpegAudioDecoder::rescale_frame(data, n, g, out, n);
    if (m > 0) {
      // The frame again, rescaled in a buffer of exactly its size.
      uint8_t* again = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(m)));
      std::memcpy(again, out, static_cast<size_t>(m));
      MpegAudioDecoder::rescale_frame(again, m, g, again, m);
      std::free(again);
    }
    std::free(out);
  }
  return 0;
}
