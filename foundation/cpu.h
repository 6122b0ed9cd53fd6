// Processor features for choosing SIMD kernels. Read once; every kernel
// family fills its function-pointer table from these at first use.
#pragma once

// True when TAMSEL_CPU=c asks for the plain kernels only (tests use it to
// compare paths and to pin down output on any machine).
bool cpu_use_plain();

bool cpu_has_sse2();
bool cpu_has_sse41();
bool cpu_has_avx2();
