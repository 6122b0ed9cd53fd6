#include "foundation/cpu.h"

#include <cstdlib>
#include <cstring>

namespace {

struct CpuFlags {
  bool plain = false;
  bool sse2 = false;
  bool sse41 = false;
  bool avx2 = false;
};

const CpuFlags& flags() {
  // Function-local static: initialised once, thread-safe.
  static const CpuFlags f = [] {
    CpuFlags c;
    const char* env = std::getenv("TAMSEL_CPU");
    c.plain = env && (std::strcmp(env, "c") == 0 || std::strcmp(env, "C") == 0);
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    c.sse2 = __builtin_cpu_supports("sse2");
    c.sse41 = __builtin_cpu_supports("sse4.1");
    c.avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#endif
    if (c.plain) c.sse2 = c.sse41 = c.avx2 = false;
    return c;
  }();
  return f;
}

}  // namespace

bool cpu_use_plain() { return flags().plain; }
bool cpu_has_sse2() { return flags().sse2; }
bool cpu_has_sse41() { return flags().sse41; }
bool cpu_has_avx2() { return flags().avx2; }
