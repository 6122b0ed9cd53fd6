// The convertor's three lead-in skippers over arbitrary bytes: the first
// byte picks the skipper and the lead-in, the stream header comes from the
// first frame found in the data (or a fixed one), the rest is the block.
#include <cstddef>
#include <cstdint>

#include "foundation/ac3.h"
#include "foundation/audio_header.h"
#include "foundation/es_data.h"
#include "mux/convertor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int which = data[0] % 3;
  double lead_in = double(data[1]) * 700.0 - 20000.0;
  data += 2;
  size -= 2;
  const int n = static_cast<int>(size);
  ESData es;
  int dropped = 0;
  if (which == 0) {
    FrmHdr h;
    const int at = h.parse_buffer(data, n);
    if (!h.valid || at < 0) h.parse(0xFFFD9004u);  // layer II, 48 kHz, 128 kbit/s
    es.set_audio_header(h);
    dropped = Convertor::skip_mpeg_audio_lead_in(es, data, n, &lead_in);
  } else if (which == 1) {
    static const uint8_t kFrame[8] = {0x0B, 0x77, 0, 0, 0x0E, 0x40, 0x43, 0};
    AC3FrmHdr h;
    h.decode(data, n, 0);
    if (!h.valid) h.decode(kFrame, 8, 0);
    es.set_ac3_header(h);
    dropped = Convertor::skip_ac3_lead_in(es, data, n, &lead_in);
  } else {
    es.set_lpcm_header(0xA0, size & 1 ? 48000 : 96000, 1 + int(size % 8));
    dropped = Convertor::skip_pcm_lead_in(es, n, &lead_in);
  }
  if (dropped < 0 || dropped > n) __builtin_trap();
  return 0;
}
