#include <emmintrin.h>

#include "foundation/start_code_kernels.h"

namespace {

// Three overlapping loads line each byte up with the two before it, so a
// prefix is one compare per byte lane and no 0x01 in coded data costs a
// restart. 32 candidates per round; the tail goes to the plain scan.
int64_t scan_sse2(const uint8_t* data, int64_t length) {
  if (!data || length < 4) return -1;
  const __m128i zero = _mm_setzero_si128();
  const __m128i one = _mm_set1_epi8(1);
  int64_t i = 0;
  // Candidate i + 31 needs its code byte at i + 34.
  for (; i + 35 <= length; i += 32) {
    const uint8_t* p = data + i;
    const __m128i a0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
    const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2));
    const __m128i a1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 17));
    const __m128i c1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 18));
    const __m128i m0 = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a0, b0), zero), _mm_cmpeq_epi8(c0, one));
    const __m128i m1 = _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(a1, b1), zero), _mm_cmpeq_epi8(c1, one));
    const uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(m0)) |
                          (static_cast<uint32_t>(_mm_movemask_epi8(m1)) << 16);
    if (mask) return i + __builtin_ctz(mask);
  }
  const int64_t k = start_code_scan_c(data + i, length - i);
  return k < 0 ? -1 : i + k;
}

}  // namespace

const StartCodeDsp start_code_dsp_sse2 = {scan_sse2};
