// Stream information of a file: the first look (built by walking the file)
// and a second look at the unchanged file, answered by the process-wide
// cache. Files: $TAMSEL_BENCH_FILE when set, else fixtures from
// $TAMSEL_FIXTURES (default ./fixtures), made by tests/fixtures/make.sh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "engine/clips/file_info.h"

namespace {

std::vector<std::string> files() {
  const char* one = std::getenv("TAMSEL_BENCH_FILE");
  if (one && *one) return {one};
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  const std::string d = dir && *dir ? dir : "fixtures";
  return {d + "/fix_ab.vob", d + "/fix_ab.ts", d + "/fix_ab.m2v"};
}

void BM_FileInfoFirst(benchmark::State& state) {
  const std::string path = files()[size_t(state.range(0))];
  state.SetLabel(path.substr(path.rfind('/') + 1));
  for (auto _ : state) {
    FileInfoFacade::cache().cleanup();
    FileInfoFacade f;
    benchmark::DoNotOptimize(f.open(path.c_str()));
  }
}
BENCHMARK(BM_FileInfoFirst)->DenseRange(0, int(files().size()) - 1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FileInfoCached(benchmark::State& state) {
  const std::string path = files()[size_t(state.range(0))];
  state.SetLabel(path.substr(path.rfind('/') + 1));
  FileInfoFacade first;
  if (first.open(path.c_str())) {
    state.SkipWithError("no stream information");
    return;
  }
  for (auto _ : state) {
    FileInfoFacade f;
    benchmark::DoNotOptimize(f.open(path.c_str()));
  }
}
BENCHMARK(BM_FileInfoCached)->DenseRange(0, int(files().size()) - 1)->Unit(benchmark::kMicrosecond);

}  // namespace
