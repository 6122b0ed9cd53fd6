// MPEG audio decoder over arbitrary bytes: every frame the decoder finds,
// in windows as the clip player feeds it, with a clear (a seek) half way and
// the equalizer on; layer I, II and III frames alike.
#include <cstddef>
#include <cstdint>

#include "audio/codec/mpa_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int n = size > (1u << 20) ? (1 << 20) : static_cast<int>(size);
  static int16_t pcm[MpegAudioDecoder::kMaxOutput];
  MpegAudioDecoder d;
  if (n > 0 && (data[0] & 1)) {
    double gains[64];
    for (int i = 0; i < 64; ++i) gains[i] = 0.25 + (i & 7) * 0.25;
    d.set_equalizer(gains);
  }
  int pos = 0;
  bool cleared = false;
  for (int steps = 0; pos < n && steps < 100000; ++steps) {
    // Windows of a few frames, as a player hands them over.
    const int window = n - pos < 6000 ? n - pos : 6000;
    d.decode_frame(data + pos, window, pcm);
    const int used = d.consumed();
    if (used <= 0) break;
    pos += used;
    if (!cleared && pos > n / 2) {
      d.clear();
      cleared = true;
    }
  }
  return 0;
}
