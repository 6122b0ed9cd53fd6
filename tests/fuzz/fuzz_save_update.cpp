// The save writer's in-place rewrites over arbitrary chunks: the first two
// bytes of each record give the chunk's header and picture lengths.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mux/save.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Save save;
  save.set_aspect_ratio(int(size % 14) + 1);
  size_t pos = 0;
  while (pos + 2 <= size) {
    const int header = data[pos] * 4, picture = data[pos + 1] * 64;
    pos += 2;
    const size_t left = size - pos;
    const size_t h = size_t(header) < left ? size_t(header) : left;
    const size_t p = size_t(picture) < left - h ? size_t(picture) : left - h;
    std::vector<uint8_t> chunk(data + pos, data + pos + h + p);
    save.update(chunk.data(), int(p), int(h));
    pos += h + p;
    if (h + p == 0) break;
  }
  return 0;
}
