// Stream-type probe: a first probe (reads the first mebibyte and runs every
// probe) and a repeated query answered by the process-wide list, per fixture
// kind. ffprobe on the same file is the peer. Fixtures come from
// $TAMSEL_FIXTURES (default ./fixtures), made by tests/fixtures/make.sh.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "foundation/probe.h"

namespace {

std::string fixture(const char* name) {
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  return std::string(dir && *dir ? dir : "fixtures") + "/" + name;
}

const char* const kFiles[] = {"st_m2.m2v", "st_a48.mp2", "st_a.ac3", "st_ts.ts", "st_ts2p.ts",
                              "st_sys.mpg", "st_vcd_raw.bin", "st_vob.vob", "st_random.bin"};

void BM_ProbeFirst(benchmark::State& state) {
  const std::string path = fixture(kFiles[state.range(0)]);
  state.SetLabel(kFiles[state.range(0)]);
  for (auto _ : state) {
    MPEGFile f;
    benchmark::DoNotOptimize(f.init(path.c_str()));
  }
}
BENCHMARK(BM_ProbeFirst)->DenseRange(0, std::size(kFiles) - 1)->Unit(benchmark::kMillisecond);

void BM_ProbeListed(benchmark::State& state) {
  const std::string path = fixture(kFiles[state.range(0)]);
  state.SetLabel(kFiles[state.range(0)]);
  mpegfile_get_stream_type(path.c_str());
  for (auto _ : state) benchmark::DoNotOptimize(mpegfile_get_stream_type(path.c_str()));
}
BENCHMARK(BM_ProbeListed)->DenseRange(0, std::size(kFiles) - 1)->Unit(benchmark::kMicrosecond);

// Peer: ffprobe naming the format and bit rate of the same file.
void BM_FfprobePeer(benchmark::State& state) {
  const std::string path = fixture(kFiles[state.range(0)]);
  state.SetLabel(kFiles[state.range(0)]);
  const std::string cmd = "ffprobe -v quiet -show_entries format=format_name,bit_rate '" + path + "' >/dev/null";
  for (auto _ : state) benchmark::DoNotOptimize(std::system(cmd.c_str()));
}
BENCHMARK(BM_FfprobePeer)->DenseRange(0, std::size(kFiles) - 1)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
