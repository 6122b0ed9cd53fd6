// JPEG decoder on arbitrary bytes (every output path), and the encoder on
// pictures made of them, whose output our decoder must read back whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "formats/jpeg_decoder.h"
#include "formats/jpeg_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  {
    JDecoder d;
    if (d.decode(data, size) != 4) {
      std::vector<uint8_t> out(64 * 48 * 3 / 2);
      d.get_picture(out.data(), 64, 48);
      d.get_sif_from_rgb(out.data(), 64, 48);
      if (static_cast<int64_t>(d.get_width()) * d.get_height() <= 1 << 20) {
        std::unique_ptr<uint8_t[]> own(d.get_yuv420(nullptr, 0, 0));
        if (!own) std::abort();
      }
    }
  }
  // 16 x 16 4:2:0 picture from the first bytes, quality from the first.
  if (size >= 384) {
    JEncoder enc(1 + (data[1] & 1), data[0] % 101);
    std::vector<uint8_t> buf(JEncoder::max_output_size(16, 16));
    JpegBitReader w;
    w.init(buf.data(), buf.size());
    std::vector<uint8_t> pic(data, data + 384);
    pic.resize(16 * 16 * 2 + 32);  // room for 4:2:2 planes
    const size_t n = enc.encode(&w, pic.data(), 16, 16);
    JDecoder back;
    if (n == 0 || back.decode(buf.data(), n) != 2 || back.get_width() != 16) std::abort();
  }
  return 0;
}
