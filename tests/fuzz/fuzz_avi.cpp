// AVI header list and index decoders on arbitrary bytes, and the reader on
// the bytes as a file (RIFF size made to agree, so that damage reaches the
// lists inside).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "formats/avi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  {
    AviHdrl h;
    h.decode(data, size);
    if (size > 12) {
      AviHdrl h2;
      h2.decode(data + 12, size - 12);
    }
    AviIdx1 idx;
    idx.decode(data, size, 4, 0);
    idx.get_video_index(0);
    idx.get_audio_size();
  }
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "AVI ", 4) == 0) {
    std::vector<uint8_t> d(data, data + size);
    const uint32_t riff = static_cast<uint32_t>(size - 8);
    for (int i = 0; i < 4; ++i) d[4 + i] = static_cast<uint8_t>(riff >> (8 * i));
    const std::string path = "/tmp/fuzz_avi_" + std::to_string(getpid()) + ".avi";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
      std::fwrite(d.data(), 1, d.size(), f);
      std::fclose(f);
      int status = 1;
      {
        Avi avi(path.c_str(), &status);
        if (status == 0) {
          const int w = avi.get_width() < 64 ? avi.get_width() : 64;
          const int h = avi.get_height() < 64 ? avi.get_height() : 64;
          std::vector<uint8_t> pic(static_cast<size_t>(w) * h * 3 / 2 + 64);
          YuvPlanes p;
          p.y = pic.data();
          p.cb = p.y + w * h;
          p.cr = p.cb + (w / 2) * (h / 2);
          p.width = w & ~1;
          p.height = h & ~1;
          p.y_stride = w;
          p.c_stride = w / 2;
          avi.goto_sample_planes(0, p);
          avi.forward_planes(p, 3);
          avi.backward_planes(p, 1);
          avi.goto_sample_planes(avi.video_samples, p);
        }
      }
      std::remove(path.c_str());
    }
  }
  return 0;
}
