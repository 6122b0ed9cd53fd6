// MPEG audio frame header: parse, search, sync, frame runs and the audio
// description, over arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "foundation/audio_header.h"
#include "foundation/audio_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int n = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);

  // Walk the frames as a reader would.
  FrmHdr h;
  int pos = 0;
  while (pos < n) {
    const int off = h.parse_buffer(data + pos, n - pos);
    if (!h.valid || h.frame_size <= 0) break;
    pos += off + h.frame_size;
  }

  FrmHdr s;
  (void)s.find_sync(data, n);
  FrmHdr ref = s;
  FrmHdr m;
  (void)m.find_matching(data, n, ref);
  for (int count = 0; count < 4; ++count) {
    FrmHdr c;
    (void)c.check_frames(data, n, count, count & 1);
    (void)c.check_frames(data, n / 2, count, 0);  // with a frame size left over
  }
  AudioInfo info;
  int len = n;
  (void)mpeg_audio_info_from_data(data, &len, &info);
  if (n >= 4) {
    FrmHdr w;
    w.parse(static_cast<uint32_t>(data[0]) << 24 | data[1] << 16 | data[2] << 8 | data[3]);
    w.get_audio_info(&info);
  }
  return 0;
}
