// The start-code cursor and every scan kernel: the walk must list exactly
// the codes a byte-by-byte walk lists, and every CPU level must agree.
#include <cstdint>
#include <cstdlib>

#include "foundation/cpu.h"
#include "foundation/start_code.h"
#include "foundation/video_finders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int64_t n = static_cast<int64_t>(size);
  StartCodeCursor c(data, n);
  int64_t i = 0;
  while (c.next()) {
    for (; i < c.offset(); ++i)
      if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) std::abort();  // skipped a code
    if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1 || c.code() != data[i + 3]) std::abort();
    ++i;
  }
  for (; i + 3 < n; ++i)
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) std::abort();
  if (c.offset() != n || c.code() != -1) std::abort();

  const int64_t first = start_code_dsp_for(CpuLevel::c)->scan(data, n);
  for (int l = 1; l <= static_cast<int>(cpu_level_supported()); ++l)
    if (const StartCodeDsp* d = start_code_dsp_for(static_cast<CpuLevel>(l)))
      if (d->scan(data, n) != first) std::abort();

  // Units tile the span from the first code on.
  StartCodeCursor u(data, n);
  if (u.next()) {
    int64_t at = u.offset();
    while (at < n) {
      const int64_t end = u.unit_end();
      if (end < at + 4 || end > n) std::abort();
      at = end;
    }
  }
  // The place test agrees with the walk; a prefix cut by the end is seen.
  for (int64_t at = -1; at <= n; ++at) {
    const int code = start_code_at(data, n, at);
    const bool prefix = at >= 0 && at + 4 <= n && data[at] == 0 && data[at + 1] == 0 && data[at + 2] == 1;
    if (code != (prefix ? data[at + 3] : -1)) std::abort();
  }
  if (start_code_prefix_at_end(data, n) != (n >= 3 && !data[n - 3] && !data[n - 2] && data[n - 1] == 1)) std::abort();

  const int length = size > (1u << 24) ? (1 << 24) : static_cast<int>(size);
  StartCodeCursor pics(data, length);
  while (pics.find(0x00)) {
    const int e = find_picture_coding_ext(data, length, static_cast<int>(pics.offset()));
    if (e >= 0 && (e <= pics.offset() || e + 9 > length || start_code_at(data, length, e) != 0xB5 || (data[e + 4] >> 4) != 8))
      std::abort();
  }

  int lead = 0;
  const int k = find_next_i_picture(data, length, &lead);
  if (k < 0 || k > length || (lead >= 0 && k + lead + 4 > length)) std::abort();
  return 0;
}
