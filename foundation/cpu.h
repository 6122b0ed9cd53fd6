// Processor levels for choosing SIMD kernels.
//
// Every kernel family (IDCT, motion compensation, colour conversion,
// scaling, JPEG IDCT, start-code scan) follows one pattern:
//   - a struct of function pointers, e.g. `IdctDsp`;
//   - `const IdctDsp* idct_dsp_for(CpuLevel)`: the table built for one level,
//     null when that level has no variant of its own or was not compiled;
//   - `const IdctDsp& idct_dsp()`: the table for this machine, chosen once
//     (function-local static) from cpu_level(), falling back level by level.
// The plain table always exists; SIMD variants live in files named *_sse2,
// *_sse41 and *_avx2 that the build leaves out when TAMSEL_SIMD is off.
#pragma once

enum class CpuLevel : int { c = 0, sse2 = 1, sse41 = 2, avx2 = 3 };

// Highest level this processor runs and the build has code for, ignoring
// TAMSEL_CPU (the kernel test harness walks every level up to it).
CpuLevel cpu_level_supported();
// The level kernels are chosen at: cpu_level_supported() capped by
// TAMSEL_CPU (c, sse2, sse41 or avx2; c forces the plain kernels, which
// tests use to pin down output on any machine).
CpuLevel cpu_level();
// Lower-case name of a level, for traces and test names.
const char* cpu_level_name(CpuLevel level);

// Picks the table of the highest level <= cpu_level() that has one; `for_level`
// returns null for levels without a variant. The plain table must exist.
template <class Dsp>
const Dsp& cpu_pick(const Dsp* (*for_level)(CpuLevel)) {
  for (int l = static_cast<int>(cpu_level()); l > 0; --l)
    if (const Dsp* d = for_level(static_cast<CpuLevel>(l))) return *d;
  return *for_level(CpuLevel::c);
}

// Shorthands over cpu_level().
inline bool cpu_use_plain() { return cpu_level() == CpuLevel::c; }
inline bool cpu_has_sse2() { return cpu_level() >= CpuLevel::sse2; }
inline bool cpu_has_sse41() { return cpu_level() >= CpuLevel::sse41; }
inline bool cpu_has_avx2() { return cpu_level() >= CpuLevel::avx2; }
