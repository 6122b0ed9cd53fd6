// checkasm --bench [FAMILY...]: nanoseconds per call of every kernel at
// every level this processor runs (TAMSEL_CPU ignored), with the speed-up
// over the plain kernel. Without --bench: the correctness checks alone,
// failures printed, exit status 1 on any.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "checkasm.h"

int main(int argc, char** argv) {
  bool bench = false;
  std::vector<std::string> wanted;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--bench") == 0) {
      bench = true;
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: checkasm [--bench] [FAMILY...]\nfamilies:");
      for (const checkasm::FamilyBase* f : checkasm::families()) std::printf(" %s", f->name().c_str());
      std::printf("\n");
      return 0;
    } else {
      wanted.emplace_back(argv[i]);
    }
  }
  for (const std::string& w : wanted) {
    bool known = false;
    for (const checkasm::FamilyBase* f : checkasm::families()) known = known || f->name() == w;
    if (!known) {
      std::fprintf(stderr, "checkasm: no family %s (see --help)\n", w.c_str());
      return 2;
    }
  }
  const checkasm::Mode mode = bench ? checkasm::Mode::bench : checkasm::Mode::test;
  int failures = 0;
  if (bench) std::printf("%-12s %-12s %-6s %12s %8s\n", "family", "kernel", "level", "ns/call", "vs c");
  for (const checkasm::FamilyBase* f : checkasm::families()) {
    if (!wanted.empty() && std::find(wanted.begin(), wanted.end(), f->name()) == wanted.end()) continue;
    for (const std::string& kernel : f->kernels()) {
      double plain = 0;
      for (CpuLevel level : checkasm::kLevels) {
        const checkasm::Outcome o = f->run(kernel, level, mode);
        for (const std::string& msg : o.failures) std::fprintf(stderr, "FAIL %s\n", msg.c_str());
        failures += static_cast<int>(o.failures.size());
        if (!o.skipped.empty()) {
          if (!bench) std::printf("%s.%s %s: skipped, %s\n", f->name().c_str(), kernel.c_str(), cpu_level_name(level), o.skipped.c_str());
          continue;
        }
        if (!bench) {
          std::printf("%s.%s %s: %s\n", f->name().c_str(), kernel.c_str(), cpu_level_name(level),
                      o.failures.empty() ? "ok" : "FAILED");
          continue;
        }
        if (level == CpuLevel::c) plain = o.ns_per_call;
        std::printf("%-12s %-12s %-6s %12.1f %7.2fx\n", f->name().c_str(), kernel.c_str(), cpu_level_name(level),
                    o.ns_per_call, o.ns_per_call > 0 && plain > 0 ? plain / o.ns_per_call : 0.0);
      }
    }
  }
  return failures ? 1 : 0;
}
