// Frame access speed: random exact searches on an SD and an HD interlaced
// stream with 15-picture GOPs, and single backward steps inside a GOP.
// Streams come from the fixtures folder (TAMSEL_FIXTURES, default
// build/fixtures). The searched frames are n_i = (i * 7919 + 131) mod
// total, the list bench/frame_access.sh gives ffmpeg.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "access/dtv.h"

namespace {

std::string fixture(const char* name) {
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  return std::string(dir && *dir ? dir : "build/fixtures") + "/" + name;
}

std::unique_ptr<DTV> open(const char* name) {
  MPEG_Clip c;
  c.set_file_name(fixture(name).c_str());
  c.clip_type = 3;
  int err = 1;
  auto d = std::make_unique<DTV>(&c, &err, 0);
  return err ? nullptr : std::move(d);
}

void random_search(benchmark::State& state, const char* name) {
  auto d = open(name);
  if (!d) {
    state.SkipWithError("cannot open the stream (run tests/fixtures/make.sh)");
    return;
  }
  const int total = d->get_clip_frames();
  for (auto _ : state) {
    for (int i = 0; i < 100; ++i) benchmark::DoNotOptimize(d->search(int((i * 7919L + 131) % total), 1));
  }
  state.SetItemsProcessed(state.iterations() * 100);
  // Time per search: the reported time per iteration / 100.
  state.counters["searches"] = 100;
}

void BM_RandomSearchSD(benchmark::State& state) { random_search(state, "fa_sd.m2v"); }
void BM_RandomSearchHD(benchmark::State& state) { random_search(state, "fa_hd.m2v"); }

// One backward step inside a GOP (the GOP before is decoded along the way).
void BM_BackwardStepSD(benchmark::State& state) {
  auto d = open("fa_sd.m2v");
  if (!d) {
    state.SkipWithError("cannot open the stream (run tests/fixtures/make.sh)");
    return;
  }
  int gop = 3;
  for (auto _ : state) {
    if (d->get_position() % 15 < 2) {
      state.PauseTiming();
      gop = gop % 15 + 2;
      d->search(gop * 15 + 14, 1);
      d->backward(1);
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(d->backward(1));
  }
}

}  // namespace

BENCHMARK(BM_RandomSearchSD)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RandomSearchHD)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_BackwardStepSD)->Unit(benchmark::kMillisecond);
