// Coded pictures rewritten in place: the display-order list and the
// field-count adjustment stay inside the buffer on arbitrary bytes, and an
// adjustment changes no byte count.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "record/recoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 18)) return 0;
  const int progressive = data[0] & 1;
  const int delta = int(data[0] >> 1 & 7) - 3;
  const int all = data[0] >> 4 & 1;
  std::vector<uint8_t> b(data + 1, data + size);
  std::vector<RefFrameEntry> list;
  const int n = build_rf_list(64, b.data(), int(b.size()), progressive, &list);
  if (n < 0 || n > 64 || size_t(n) != list.size()) std::abort();
  for (const RefFrameEntry& e : list)
    if (e.offset < 0 || size_t(e.offset) >= b.size()) std::abort();
  const int changed = adjust_field_count(b.data(), int(b.size()), progressive, 64, all, delta);
  if (changed < 0 || changed > (delta < 0 ? -delta : delta)) std::abort();
  if (b.size() != size - 1) std::abort();
  set_picture_coding_ext_flags(b.data(), int(b.size()), data[0] & 1, data[0] >> 7);
  return 0;
}
