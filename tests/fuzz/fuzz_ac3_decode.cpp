// AC3Decoder over mutated frames: the first byte picks whether the CRC words
// are recomputed first (so that damage reaches the block decoder as intact
// data) or left as they are (concealment). Frames follow each other through
// one decoder, as in a stream.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audio/codec/ac3_decoder.h"
#include "foundation/ac3.h"
#include "tests/audio/ac3_frame_tools.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool fix = data[0] & 1;
  std::vector<uint8_t> s(data + 1, data + (size > (1u << 16) ? (1u << 16) : size));
  AC3Decoder dec;
  dec.set_drc_scale((data[0] >> 1) & 1 ? 0.0 : 1.0, 1.0);
  std::vector<int16_t> out(static_cast<size_t>(dec.get_pcm_samples()));
  size_t pos = 0;
  while (pos + 20 <= s.size()) {
    AC3FrmHdr h;
    const int skip = h.decode(s.data() + pos, static_cast<int>(s.size() - pos), 0);
    if (!h.valid) break;
    pos += static_cast<size_t>(skip);
    const int avail = static_cast<int>(s.size() - pos);
    if (fix && h.frame_size <= avail) ac3test::fix_crcs(s.data() + pos, h.frame_size);
    dec.decode_frame(s.data() + pos, avail, out.data());
    pos += static_cast<size_t>(h.frame_size > 0 ? h.frame_size : 2);
  }
  return 0;
}
