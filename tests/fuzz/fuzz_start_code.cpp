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
  const int length = size > (1u << 24) ? (1 << 24) : static_cast<int>(size);
  int lead = 0;
  const int k = find_next_i_picture(data, length, &lead);
  if (k < 0 || k > length || (lead >= 0 && k + lead + 4 > length)) std::abort();
  return 0;
}
