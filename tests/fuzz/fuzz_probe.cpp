// The stream-type probes and bit-rate estimates over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "foundation/probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The probes look at far less than this; it keeps replays quick.
  if (size > (256u << 10)) size = 256u << 10;
  const int n = static_cast<int>(size);
  MPEGFile f;
  f.detect_type(data, n);
  mpegfile_detect_vbr(data, n);
  mpegfile_probe_ts_bit_rate(data, n);
  mpegfile_probe_pes_bit_rate(data, n);
  mpegfile_probe_audio_bit_rate(data, n, 3);
  int distance = 0;
  if (n > 0) mpegfile_find_sector_pack(data, n, &distance);
  return 0;
}
