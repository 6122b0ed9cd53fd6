// Navigation list over random entry tables and chapter lists: prepare, the
// search words and the pack contents must neither crash nor read outside
// the list.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mux/nvpack.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int chapters = data[0] % 130;
  const size_t n = (size - 1) / 12;
  NVPackList l;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t* p = data + 1 + 12 * i;
    NVPackEntry e;
    std::memcpy(&e.lbn, p, 4);
    std::memcpy(&e.s_ptm, p + 4, 4);
    std::memcpy(&e.e_ptm, p + 8, 4);
    e.next_lbn = e.lbn + (p[0] & 15);
    e.audio_count = p[1] % 10;
    l.add(e);
  }
  std::vector<double> ch;
  for (int k = 0; k < chapters; ++k) ch.push_back(k * (1 + data[0] % 7) * 0.25);
  if (l.prepare(ch.data(), chapters)) {
    uint8_t pack[kNavPackBytes] = {};
    for (int i = 0; i < l.size(); ++i) l.fill_pack(i, pack);
  }
  l.SetSRIParam(int(n));
  l.SetSRIParam(-1);
  return 0;
}
