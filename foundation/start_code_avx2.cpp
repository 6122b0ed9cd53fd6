#include <immintrin.h>

#include "foundation/start_code_kernels.h"

namespace {

// As the SSE2 scan, 64 candidates per round: three overlapping loads line
// each byte up with the two before it.
int64_t scan_avx2(const uint8_t* data, int64_t length) {
  if (!data || length < 4) return -1;
  const __m256i zero = _mm256_setzero_si256();
  const __m256i one = _mm256_set1_epi8(1);
  int64_t i = 0;
  // Candidate i + 63 needs its code byte at i + 66.
  for (; i + 67 <= length; i += 64) {
    const uint8_t* p = data + i;
    const __m256i a0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i b0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
    const __m256i c0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
    const __m256i a1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
    const __m256i b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 33));
    const __m256i c1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 34));
    const __m256i m0 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a0, b0), zero), _mm256_cmpeq_epi8(c0, one));
    const __m256i m1 = _mm256_and_si256(_mm256_cmpeq_epi8(_mm256_or_si256(a1, b1), zero), _mm256_cmpeq_epi8(c1, one));
    const uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(m0)) |
                          (static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(m1))) << 32);
    if (mask) return i + __builtin_ctzll(mask);
  }
  const int64_t k = start_code_scan_c(data + i, length - i);
  return k < 0 ? -1 : i + k;
}

}  // namespace

const StartCodeDsp start_code_dsp_avx2 = {scan_avx2};
