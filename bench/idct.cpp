// Inverse transform and prediction kernels, per variant: blocks of typical
// density (intra-like dense, residual-like sparse).
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "decode/idct.h"
#include "decode/mc.h"

namespace {

std::vector<int16_t> blocks(int density, int count) {
  std::mt19937 rng(1);
  std::vector<int16_t> out(static_cast<size_t>(count) * 64, 0);
  for (int b = 0; b < count; ++b)
    for (int k = 0; k < density; ++k)
      out[static_cast<size_t>(b) * 64 + rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % 201) - 100);
  return out;
}

void run_idct(benchmark::State& state, CpuLevel level) {
  const IdctDsp* k = idct_dsp_for(level);
  if (!k || level > cpu_level_supported()) {
    state.SkipWithError("no such variant here");
    return;
  }
  const auto src = blocks(static_cast<int>(state.range(0)), 256);
  std::vector<int16_t> work(src.size());
  uint8_t dst[8 * 32];
  std::memset(dst, 100, sizeof dst);
  for (auto _ : state) {
    std::memcpy(work.data(), src.data(), src.size() * sizeof(int16_t));
    for (int b = 0; b < 256; ++b) k->add(work.data() + b * 64, dst, 32);
    benchmark::DoNotOptimize(dst);
  }
  state.SetItemsProcessed(state.iterations() * 256);
}

void BM_IdctAddC(benchmark::State& s) { run_idct(s, CpuLevel::c); }
void BM_IdctAddSse2(benchmark::State& s) { run_idct(s, CpuLevel::sse2); }
void BM_IdctAddAvx2(benchmark::State& s) { run_idct(s, CpuLevel::avx2); }
BENCHMARK(BM_IdctAddC)->Arg(4)->Arg(40);
BENCHMARK(BM_IdctAddSse2)->Arg(4)->Arg(40);
BENCHMARK(BM_IdctAddAvx2)->Arg(4)->Arg(40);

// DC with the mismatch coefficient: the exact short path against the full
// transform it stands for.
void BM_IdctDc63(benchmark::State& state) {
  uint8_t dst[8 * 32];
  std::memset(dst, 100, sizeof dst);
  int dc = -2048;
  for (auto _ : state) {
    idct_dc63(dc, 1, dst, 32, 1);
    dc = dc == 2047 ? -2048 : dc + 1;
    benchmark::DoNotOptimize(dst);
  }
}
void BM_IdctDc63Full(benchmark::State& state) {
  uint8_t dst[8 * 32];
  std::memset(dst, 100, sizeof dst);
  int16_t blk[64] = {};
  int dc = -2048;
  for (auto _ : state) {
    blk[0] = static_cast<int16_t>(dc);
    blk[63] = 1;
    idct_dsp().add(blk, dst, 32);
    dc = dc == 2047 ? -2048 : dc + 1;
    benchmark::DoNotOptimize(dst);
  }
}
BENCHMARK(BM_IdctDc63);
BENCHMARK(BM_IdctDc63Full);

void run_pred(benchmark::State& state, CpuLevel level) {
  const McDsp* t = mc_dsp_for(level);
  if (!t || level > cpu_level_supported()) {
    state.SkipWithError("no such variant here");
    return;
  }
  std::vector<uint8_t> ref(64 * 64), dst(64 * 64);
  std::mt19937 rng(2);
  for (auto& v : ref) v = static_cast<uint8_t>(rng());
  const int mode = static_cast<int>(state.range(0));
  for (auto _ : state) {
    t->single[mode](dst.data() + 8, ref.data() + 9, 64, 16, 16);
    t->avg[5 * mode](dst.data() + 8, ref.data() + 9, ref.data() + 70, 64, 16, 16);
    benchmark::DoNotOptimize(dst.data());
  }
}
void BM_PredictC(benchmark::State& s) { run_pred(s, CpuLevel::c); }
void BM_PredictSse2(benchmark::State& s) { run_pred(s, CpuLevel::sse2); }
BENCHMARK(BM_PredictC)->DenseRange(0, 3);
BENCHMARK(BM_PredictSse2)->DenseRange(0, 3);

}  // namespace
