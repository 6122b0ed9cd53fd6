// Start-code scan throughput at every CPU level the machine runs, on
// coded-looking data with sparse start codes (one every 64 KiB, as slices of
// a large picture) and dense ones (every 40-200 bytes, as slices of a small
// picture), against a plain byte-by-byte scan of the same buffer in the same
// run. The buffer is larger than the caches, as a warm file read would be.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "foundation/cpu.h"
#include "foundation/start_code.h"
#include "foundation/utils.h"

namespace {

constexpr size_t kSize = 64u << 20;

std::vector<uint8_t> make_data(bool dense) {
  std::vector<uint8_t> v(kSize);
  std::mt19937 rng(3);
  // Random bytes with extra zeros (as in coded data) but no prefix of their
  // own; then the start codes.
  for (auto& b : v) b = rng() % 8 == 0 ? 0 : uint8_t(rng());
  for (size_t i = 2; i < v.size(); ++i)
    if (v[i] == 1 && v[i - 1] == 0 && v[i - 2] == 0) v[i] = 2;
  for (size_t at = 1000; at + 4 < v.size(); at += dense ? 40 + rng() % 160 : 64u << 10) {
    v[at] = 0;
    v[at + 1] = 0;
    v[at + 2] = 1;
    v[at + 3] = 0x01;
  }
  return v;
}

const std::vector<uint8_t>& data(bool dense) {
  static const std::vector<uint8_t> sparse_data = make_data(false);
  static const std::vector<uint8_t> dense_data = make_data(true);
  return dense ? dense_data : sparse_data;
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

template <class Next>
void walk(benchmark::State& state, bool dense, Next next) {
  const auto& d = data(dense);
  int64_t found = 0;
  for (auto _ : state) {
    found = next(d);
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
  state.counters["codes"] = double(found);
}

// Every start code of the buffer through one level's kernel.
void BM_Kernel(benchmark::State& state, CpuLevel level, bool dense) {
  const StartCodeDsp* dsp = start_code_dsp_for(level);
  if (!dsp || level > cpu_level_supported()) {
    state.SkipWithError("level not available");
    return;
  }
  walk(state, dense, [dsp](const std::vector<uint8_t>& d) {
    int64_t n = 0;
    const uint8_t* p = d.data();
    int64_t left = int64_t(d.size());
    for (;;) {
      const int64_t k = dsp->scan(p, left);
      if (k < 0) return n;
      ++n;
      p += k + 3;
      left -= k + 3;
    }
  });
}

// The cursor and the named wrapper at the level this machine picks.
void BM_Cursor(benchmark::State& state, bool dense) {
  walk(state, dense, [](const std::vector<uint8_t>& d) {
    StartCodeCursor c(d.data(), int64_t(d.size()));
    int64_t n = 0;
    while (c.next()) ++n;
    return n;
  });
}

template <int64_t (*Scan)(const uint8_t*, int64_t, int*)>
void BM_Wrapper(benchmark::State& state, bool dense) {
  walk(state, dense, [](const std::vector<uint8_t>& d) {
    int64_t n = 0;
    const uint8_t* p = d.data();
    int64_t left = int64_t(d.size());
    int code = 0;
    while (left >= 4) {
      const int64_t at = Scan(p, left, &code);
      if (!code) break;
      ++n;
      p += at + 4;
      left -= at + 4;
    }
    return n;
  });
}

void BM_NextUsrStartCode(benchmark::State& state) {
  const auto& d = data(false);
  for (auto _ : state) {
    uint32_t code;
    // 00 00 01 B3 does not occur: one scan over the whole buffer.
    benchmark::DoNotOptimize(utils_next_usr_start_code(0x1B3, d.data(), int64_t(d.size()), &code));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(d.size()));
}

void register_all() {
  for (bool dense : {false, true}) {
    const char* kind = dense ? "dense" : "sparse";
    for (int l = 0; l <= int(CpuLevel::avx2); ++l) {
      const CpuLevel level = CpuLevel(l);
      if (!start_code_dsp_for(level)) continue;
      benchmark::RegisterBenchmark((std::string("BM_Kernel/") + cpu_level_name(level) + "/" + kind).c_str(),
                                   [level, dense](benchmark::State& s) { BM_Kernel(s, level, dense); });
    }
    benchmark::RegisterBenchmark((std::string("BM_Cursor/") + kind).c_str(),
                                 [dense](benchmark::State& s) { BM_Cursor(s, dense); });
    benchmark::RegisterBenchmark((std::string("BM_NextStartCode/") + kind).c_str(),
                                 [dense](benchmark::State& s) { BM_Wrapper<utils_next_start_code>(s, dense); });
    benchmark::RegisterBenchmark((std::string("BM_PlainByteLoop/") + kind).c_str(),
                                 [dense](benchmark::State& s) { BM_Wrapper<plain_next_start_code>(s, dense); });
  }
  benchmark::RegisterBenchmark("BM_NextUsrStartCode/sparse", BM_NextUsrStartCode);
}

const int kRegistered = (register_all(), 0);

}  // namespace
