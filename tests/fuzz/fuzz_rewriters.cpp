// In-place rewriters and packet scans over arbitrary bytes: nothing may read
// or write outside the buffer, and a rewriter that reports "nothing done"
// must leave every byte as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/rewriters.h"
#include "foundation/utils.h"

namespace {

constexpr int kNoCheck = -12345;  // renumbering changes bytes by design

// Runs a rewriter over the exact-size buffer p; a result of `untouched` must
// mean the bytes did not change.
template <typename F>
void rewrite(uint8_t* p, int64_t n, int untouched, F f) {
  static std::vector<uint8_t> before;  // reused: large inputs are common
  before.assign(p, p + n);
  const int r = f(p, n);
  if (r == untouched && n && std::memcmp(p, before.data(), static_cast<size_t>(n)) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int64_t n = static_cast<int64_t>(size);

  // Scans are read-only.
  utils_count_pictures(data, n);
  for (const int64_t sync : {utils_find_ts_sync(data, n, 10, 1), utils_find_ts_sync(data, n, 200, 0)})
    if (sync < -1 || sync >= n || (sync >= 0 && data[sync] != 0x47)) std::abort();
  if (pes_header_length(data, n) < 0) std::abort();
  int code = 0;
  const int64_t at = utils_next_start_code(data, n, &code);
  if (at < 0 || (n >= 4 && at > n - 3)) std::abort();

  // One exact-size copy, so the sanitizer sees any access past its end.
  uint8_t* b = static_cast<uint8_t*>(std::malloc(size ? size : 1));
  if (size) std::memcpy(b, data, size);
  const int flag = size ? data[0] & 1 : 0;
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_set_seq_bit_rate(p, k, 1500000, 0); });
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_set_seq_bit_rate(p, k, 1ll << 40, 1); });
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_set_gop_time_code(p, k, 0x1ABCDEF); });
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_shift_gop_time_code(p, k, 7, 25.0); });
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_shift_gop_time_code(p, k, -100000, 0.0); });
  rewrite(b, n, 0, [](uint8_t* p, int64_t k) { return utils_set_temporal_reference(p, k, 1023); });
  rewrite(b, n, 1, [flag](uint8_t* p, int64_t k) { return utils_set_top_field_first(p, k, flag); });
  rewrite(b, n, kNoCheck, [](uint8_t* p, int64_t k) { return utils_gop_temporal_reference(p, k); });

  // Every picture header in turn, as the writers walk a GOP, each with the
  // buffer ending a little after it so that cut headers come up often.
  int64_t pos = 0;
  for (int i = 0; i < 256 && n - pos >= 4; ++i) {
    uint32_t found = 0;
    const int64_t k = utils_next_usr_start_code(0x100, b + pos, n - pos, &found);
    if (!found) break;
    pos += k;
    const int64_t window = n - pos < 4 + i % 16 ? n - pos : 4 + i % 16;
    uint8_t* w = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(window)));
    std::memcpy(w, b + pos, static_cast<size_t>(window));
    rewrite(w, window, 0, [i](uint8_t* p, int64_t m) { return utils_set_temporal_reference(p, m, i); });
    rewrite(w, window, 1, [i](uint8_t* p, int64_t m) { return utils_set_top_field_first(p, m, i & 1); });
    std::free(w);
    pos += 4;
  }
  std::free(b);
  return 0;
}
