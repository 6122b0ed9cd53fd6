// System headers from arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "foundation/system_header.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) size = 1u << 20;
  SysHdr h;
  const int kept = h.decode(data, static_cast<int>(size));
  for (int i = -1; i <= kept; ++i) h.get_stream_id(i);
  h.get_stream_count();
  SysHdr copy(h);
  (void)copy.decode(data, static_cast<int>(size / 2));
  return 0;
}
