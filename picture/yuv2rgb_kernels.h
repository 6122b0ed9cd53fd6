// The per-level colour conversion tables behind yuv2rgb_dsp_for(); the SIMD
// ones are built only with TAMSEL_SIMD.
#pragma once

#include "picture/yuv2rgb.h"

#if TAMSEL_X86_SIMD
extern const Yuv2RgbDsp yuv2rgb_dsp_sse41;
extern const Yuv2RgbDsp yuv2rgb_dsp_avx2;
#endif
