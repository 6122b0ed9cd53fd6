// The sample-rate convertor under arbitrary call sequences: each record of
// the input picks an input format (any rate, 0-3 channels), a chunk size
// from empty to huge, an output room, a flush or an output-format change;
// the samples come from the input bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "audio/codec/src_convertor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int kRates[16] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100,
                                 48000, 96000, 0,     -1,    44101, 32000, 44100, 48000};
  std::vector<int16_t> pcm(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2) pcm[i / 2] = static_cast<int16_t>(data[i] | (data[i + 1] << 8));
  SampleRateConvertor src(size ? kRates[data[0] & 15] : 48000, size > 1 ? data[1] & 3 : 2);
  std::vector<int16_t> out(1 << 17);
  size_t at = 2, sample = 0;
  while (at + 4 <= size) {
    const uint8_t op = data[at], fmt = data[at + 1];
    const int chunk = (data[at + 2] | (data[at + 3] << 8)) * ((op & 0x80) ? 16 : 1);
    at += 4;
    const int rate = kRates[fmt & 15], channels = (fmt >> 4) & 3;
    if ((op & 15) == 15) {
      src.set_output_format(kRates[(fmt >> 2) & 15], fmt & 3);
      continue;
    }
    const int room = (op & 0x40) ? (op & 0x3F) : static_cast<int>(out.size());
    int n = chunk;
    if (n > static_cast<int>(pcm.size() - sample)) n = static_cast<int>(pcm.size() - sample);
    const int w = src.convert_rate(out.data(), room, pcm.data() + sample, n, rate, channels, (op & 0x20) != 0);
    if (w > room) std::abort();
    sample = (sample + static_cast<size_t>(n)) % pcm.size();
  }
  return 0;
}
