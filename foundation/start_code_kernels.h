// The start-code scan kernels behind start_code_dsp_for(); the SIMD ones are
// built only with TAMSEL_SIMD.
#pragma once

#include <cstdint>

#include "foundation/start_code.h"

int64_t start_code_scan_c(const uint8_t* data, int64_t length);

#if TAMSEL_X86_SIMD
extern const StartCodeDsp start_code_dsp_sse2;
extern const StartCodeDsp start_code_dsp_avx2;
#endif
