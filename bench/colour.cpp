// Colour conversion of one frame to a bitmap, as the display and the still
// writer do it. Frames come from the fixtures (pic_WxH.yuv) when present.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "picture/dither.h"
#include "picture/frame.h"
#include "picture/scale.h"
#include "picture/bmp.h"

namespace {

void load_frame(Frame& f, int w, int h) {
  const char* dir = std::getenv("TAMSEL_FIXTURES");
  const std::string path = std::string(dir ? dir : ".") + "/pic_" + std::to_string(w) + "x" + std::to_string(h) + ".yuv";
  FILE* in = std::fopen(path.c_str(), "rb");
  bool ok = false;
  if (in) {
    ok = true;
    for (int r = 0; r < h && ok; ++r) ok = std::fread(f.y_plane() + r * f.padded_width(), 1, w, in) == static_cast<size_t>(w);
    for (uint8_t* p : {f.cb_plane(), f.cr_plane()})
      for (int r = 0; r < h / 2 && ok; ++r) ok = std::fread(p + r * f.c_width(), 1, w / 2, in) == static_cast<size_t>(w / 2);
    std::fclose(in);
  }
  if (!ok)  // synthetic ramps
    for (int i = 0; i < f.y_size(); ++i) f.buffer()[i] = static_cast<uint8_t>(i * 7 + i / 720);
}

void BM_Convert(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  const int bits = static_cast<int>(state.range(2));
  Frame f(w, h, 1, 0);
  load_frame(f, w, h);
  Dither d(w, h, bits);
  BMP bmp;
  d.dither(f.image(), &bmp, 1);
  for (auto _ : state) {
    d.dither(f.image(), &bmp, 1);
    benchmark::DoNotOptimize(bmp.dib_data);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * w * h);
}

void BM_ScaleCifToPal(benchmark::State& state) {
  Frame src(352, 288, 1, 0), dst(720, 576, 1, 0);
  load_frame(src, 352, 288);
  for (auto _ : state) {
    dst.copy_from(&src, 1, 0, 1);
    benchmark::ClobberMemory();
  }
}

void BM_HalfLayers(benchmark::State& state) {
  Frame f(720, 576, 1, 0);
  load_frame(f, 720, 576);
  for (auto _ : state) {
    f.get_layer2(1, 1);
    benchmark::ClobberMemory();
  }
}

}  // namespace

BENCHMARK(BM_Convert)->Args({720, 576, 24})->Args({720, 576, 32})->Args({1920, 1080, 24})->Args({1920, 1080, 32})
    ->Args({720, 576, 16})->Args({720, 576, 8})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScaleCifToPal)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HalfLayers)->Unit(benchmark::kMicrosecond);
