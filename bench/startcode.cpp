// Start-code scan throughput on coded-looking data with sparse start codes
// (one every 64 KiB, as slices of a large picture), against a plain
// byte-by-byte scan of the same buffer in the same run.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "foundation/utils.h"

namespace {

constexpr size_t kSize = 64u << 20;
constexpr size_t kSpacing = 64u << 10;

const std::vector<uint8_t>& data() {
  static const std::vector<uint8_t> d = [] {
    std::vector<uint8_t> v(kSize);
    std::mt19937 rng(3);
    // Random bytes with extra zeros (as in coded data) but no prefix of
    // their own; then a start code every kSpacing bytes.
    for (auto& b : v) b = rng() % 8 == 0 ? 0 : uint8_t(rng());
    for (size_t i = 2; i < v.size(); ++i)
      if (v[i] == 1 && v[i - 1] == 0 && v[i - 2] == 0) v[i] = 2;
    for (size_t at = 1000; at + 4 < v.size(); at += kSpacing) {
      v[at] = 0;
      v[at + 1] = 0;
      v[at + 2] = 1;
      v[at + 3] = 0x01;
    }
    return v;
  }();
  return d;
}

int64_t plain_next_start_code(const uint8_t* b, int64_t n, int* code) {
  *code = 0;
  if (n < 4) return 0;
  for (int64_t i = 0; i + 3 < n; ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
      *code = 0x100 + b[i + 3];
      return i;
    }
  return n - 3;
}

template <int64_t (*Scan)(const uint8_t*, int64_t, int*)>
void scan_all(benchmark::State& state) {
  const auto& d = data();
  int64_t found = 0;
  for (auto _ : state) {
    const uint8_t* p = d.data();
    int64_t left = int64_t(d.size());
    int code = 0;
    while (left >= 4) {
      const int64_t at = Scan(p, left, &code);
      if (!code) break;
      ++found;
      p += at + 4;
      left -= at + 4;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
  state.counters["codes"] = double(found) / double(state.iterations());
}

void BM_NextStartCode(benchmark::State& state) { scan_all<utils_next_start_code>(state); }
void BM_PlainByteLoop(benchmark::State& state) { scan_all<plain_next_start_code>(state); }

void BM_NextUsrStartCode(benchmark::State& state) {
  const auto& d = data();
  for (auto _ : state) {
    uint32_t code;
    // 00 00 01 B3 does not occur: one scan over the whole buffer.
    benchmark::DoNotOptimize(utils_next_usr_start_code(0x1B3, d.data(), int64_t(d.size()), &code));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}

BENCHMARK(BM_NextStartCode);
BENCHMARK(BM_PlainByteLoop);
BENCHMARK(BM_NextUsrStartCode);

}  // namespace
