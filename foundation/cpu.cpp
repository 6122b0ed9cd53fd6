#include "foundation/cpu.h"

#include <cstdlib>
#include <strings.h>

namespace {

CpuLevel detect() {
#if TAMSEL_X86_SIMD
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("sse4.1"))
    return CpuLevel::avx2;
  if (__builtin_cpu_supports("sse4.1")) return CpuLevel::sse41;
  if (__builtin_cpu_supports("sse2")) return CpuLevel::sse2;
#endif
  return CpuLevel::c;
}

CpuLevel requested(CpuLevel supported) {
  const char* env = std::getenv("TAMSEL_CPU");
  if (!env) return supported;
  for (int l = 0; l <= static_cast<int>(CpuLevel::avx2); ++l)
    if (strcasecmp(env, cpu_level_name(static_cast<CpuLevel>(l))) == 0)
      return static_cast<int>(supported) < l ? supported : static_cast<CpuLevel>(l);
  return supported;
}

}  // namespace

CpuLevel cpu_level_supported() {
  static const CpuLevel level = detect();
  return level;
}

CpuLevel cpu_level() {
  static const CpuLevel level = requested(cpu_level_supported());
  return level;
}

const char* cpu_level_name(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return "c";
    case CpuLevel::sse2: return "sse2";
    case CpuLevel::sse41: return "sse41";
    case CpuLevel::avx2: return "avx2";
  }
  return "?";
}
