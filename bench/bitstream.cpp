// Bit reader throughput: get_bits calls per second over mixed widths, as the
// picture and audio decoders issue them.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "foundation/bitstream.h"

namespace {

constexpr size_t kData = 8u << 20;
constexpr int kCalls = 1 << 20;

const std::vector<uint8_t>& data() {
  static const std::vector<uint8_t> d = [] {
    std::vector<uint8_t> v(kData);
    std::mt19937 rng(1);
    for (auto& b : v) b = uint8_t(rng());
    return v;
  }();
  return d;
}

// kCalls widths. "uniform": 1..32 evenly; "coded": what slice data looks
// like (mostly short codes, some escapes and 32-bit start-code reads).
std::vector<int> widths(bool uniform) {
  std::mt19937 rng(2);
  std::vector<int> w(kCalls);
  for (auto& x : w) {
    if (uniform) {
      x = 1 + int(rng() % 32);
    } else {
      const unsigned r = rng() % 100;
      x = r < 60 ? 1 + int(rng() % 6) : r < 90 ? 6 + int(rng() % 7) : r < 98 ? 12 + int(rng() % 13) : 32;
    }
  }
  return w;
}

void run(benchmark::State& state, bool uniform) {
  const auto w = widths(uniform);
  const auto& d = data();
  for (auto _ : state) {
    BS bs(d.data(), d.size());
    uint32_t sum = 0;
    for (int i = 0; i < kCalls; ++i) sum += bs.get_bits(w[size_t(i)]);
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kCalls);
}

void BM_GetBitsUniform1to32(benchmark::State& state) { run(state, true); }
void BM_GetBitsCodedMix(benchmark::State& state) { run(state, false); }

// The VLC pattern: peek 16 bits, then consume the code length.
void BM_ShowThenSkip(benchmark::State& state) {
  const auto w = widths(false);
  const auto& d = data();
  for (auto _ : state) {
    BS bs(d.data(), d.size());
    uint32_t sum = 0;
    for (int i = 0; i < kCalls; ++i) {
      sum += bs.show_bits(16);
      bs.skip_bits(w[size_t(i)] & 15);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kCalls);
}

BENCHMARK(BM_GetBitsUniform1to32);
BENCHMARK(BM_GetBitsCodedMix);
BENCHMARK(BM_ShowThenSkip);

}  // namespace
