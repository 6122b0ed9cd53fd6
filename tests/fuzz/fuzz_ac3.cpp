// AC-3 frame header, frame search, frame runs and the AC-3 descriptor, over
// arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "foundation/ac3.h"
#include "foundation/audio_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int n = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);

  // Walk the frames with CRC checks, as a reader would.
  AC3FrmHdr h;
  int pos = 0;
  while (n - pos >= 5) {
    const int skipped = h.decode(data + pos, n - pos, kAC3CheckCrc);
    if (h.valid) {
      h.get_max_frame_size();
      pos += skipped + (h.frame_size > 0 ? h.frame_size : 2);
    } else {
      pos += skipped + 2;
    }
  }
  AC3FrmHdr ref;
  ref.decode(data, n, 0);
  AC3FrmHdr found;
  ac3_find_frame(ref, data, n, &found);
  for (int count = 0; count < 4; ++count) {
    AC3FrmHdr c;
    ac3_check_frames(&c, data, n, count, count & 1);
  }
  AudioInfo info;
  int len = n;
  ac3_audio_info(data, &len, &info);
  check_crc(n, data, n);

  AC3Descriptor d;
  d.decode(data, n);
  uint8_t out[9];
  if (ref.valid) (void)d.encode(out, ref, sizeof out);
  return 0;
}
