// DVD navigation packs of arbitrary bytes.
#include <cstdint>
#include <vector>

#include "demux/program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  // Exact-size copies, short ones too, so any read past the pack shows.
  std::vector<uint8_t> b(data, data + size);
  NV_PCK_Parser p;
  p.decode(b.data(), int(b.size()), FileOffset(0u));
  if (size >= 2048) {
    std::vector<uint8_t> pack(data, data + 2048);
    p.decode(pack.data(), 2048, FileOffset(0u));
  }
  return 0;
}
