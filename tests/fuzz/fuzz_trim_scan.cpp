// The start-cut scan over arbitrary bytes fed in chunks whose sizes come from
// the input: it may consume no more than it was given, and what it reports
// must lie inside what was fed and in a sane order.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "demux/demuxer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int chunk = 1 + data[0] * 4;
  const int minimum = (data[1] & 1) ? 9 : 32;
  data += 2;
  size -= 2;
  TrimScan s;
  s.progressive_sequence = data[-1] >> 7;
  std::vector<uint8_t> held;
  size_t next = 0;
  int64_t fed = 0;
  while (!s.done()) {
    const size_t take = std::min(size - next, size_t(chunk));
    held.insert(held.end(), data + next, data + next + take);
    next += take;
    fed += int64_t(take);
    // Exact-size copy so the sanitizer sees any overread.
    std::vector<uint8_t> exact(held);
    const int c = DeMuxer::trim_scan(exact.data(), int(exact.size()), fed, minimum, &s);
    if (c < 0 || size_t(c) > held.size()) std::abort();
    if (c == 0 && next >= size) break;
    held.erase(held.begin(), held.begin() + c);
    if (held.size() > size_t(chunk) + 4096) std::abort();  // it must keep consuming
  }
  for (int64_t o : {s.first_header, s.first_b, s.end, s.gop_offset})
    if (o < -1 || o >= fed) std::abort();
  if (s.first_b >= 0 && s.end >= 0 && s.end < s.first_b) std::abort();
  if (s.b_pictures < 0 || s.b_fields < 0 || s.ip_pictures > 2) std::abort();
  return 0;
}
