// Sequence header decoder on arbitrary bytes; a decoded header must survive
// encode and decode unchanged, and the writers' checks must not fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "foundation/seq_header.h"
#include "foundation/video_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  SeqHdr h;
  const int n = h.decode(data, static_cast<int>(size));
  if (n <= 0) return 0;
  if (n > static_cast<int>(size) || h.invalid) std::abort();

  std::vector<uint8_t> out(static_cast<size_t>(h.get_header_size()) + 64);
  const int m = h.encode(out.data(), static_cast<int>(out.size()));
  if (m <= 0) std::abort();
  SeqHdr back;
  if (back.decode(out.data(), m) != m || back.compare(&h, 1) != 0) std::abort();

  VideoInfo info;
  h.get_video_info(&info);
  SeqHdr copy(h);
  if (copy.compare(&h, 1) != 0) std::abort();
  copy.checks();
  return 0;
}
