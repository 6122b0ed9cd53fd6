// The per-level JPEG transform tables behind jpeg_idct_dsp_for(); the SIMD
// ones are built only with TAMSEL_SIMD.
#pragma once

#include "formats/jpeg_idct.h"

#if TAMSEL_X86_SIMD
extern const JpegIdctDsp jpeg_idct_dsp_sse41;
extern const JpegIdctDsp jpeg_idct_dsp_avx2;
#endif
