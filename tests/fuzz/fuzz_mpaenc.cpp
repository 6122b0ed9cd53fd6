// The layer I/II encoder over arbitrary settings and PCM: frames must keep
// inside the buffer they are given (guard bytes after it stay untouched).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "audio/codec/mpaenc_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 6) return 0;
  static const int kRates[4] = {32000, 44100, 48000, 22050};
  const int rate = kRates[data[0] & 3], channels = 1 + ((data[0] >> 2) & 1), layer = 1 + ((data[0] >> 3) & 1);
  const int bit_rate = (data[1] | (data[2] << 8)) * 1000 / 64;
  AudioEncoder enc(rate, channels, bit_rate, layer, 1 + (data[3] & 1));
  enc.set_error_protection(data[3] & 2);
  const size_t frame = static_cast<size_t>(enc.max_frame_bytes());
  std::vector<uint8_t> out(frame + 64, 0xA5);
  std::vector<int16_t> pcm((size - 4) / 2);
  std::memcpy(pcm.data(), data + 4, pcm.size() * 2);
  const int per = enc.samples_per_frame() * enc.channels();
  for (size_t at = 0; at < pcm.size(); at += size_t(per)) {
    const int count = static_cast<int>((pcm.size() - at < size_t(per) ? pcm.size() - at : size_t(per)) / size_t(enc.channels()));
    if (count == 0) break;
    enc.encode_next_frame(out.data(), static_cast<int>(frame), pcm.data() + at, count);
    enc.encode_silent_frame(out.data(), static_cast<int>(frame));
    for (size_t i = frame; i < out.size(); ++i)
      if (out[i] != 0xA5) std::abort();
  }
  return 0;
}
