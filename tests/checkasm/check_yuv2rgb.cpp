// Colour conversion: row pairs of every even width to 130 (each tail of
// the 16- and 32-pixel steps) and whole lines, chroma rows shared or not,
// every fill, random then every alignment of sources and destinations.
#include <cstring>
#include <vector>

#include "checkasm.h"
#include "picture/yuv2rgb.h"

namespace {

using checkasm::Canvas;
using checkasm::Fill;
using checkasm::Source;

// Two rows of samples with their chroma, each plane in its own allocation.
struct RowPair {
  Source y0, y1, cb0, cr0, cb1, cr1;
  RowPair(int width, int align)
      : y0(width, align), y1(width, align + 3), cb0(width / 2, align + 5), cr0(width / 2, align + 7),
        cb1(width / 2, align + 11), cr1(width / 2, align + 13) {}
  void fill(Fill how, std::mt19937& rng) {
    for (Source* s : {&y0, &y1, &cb0, &cr0, &cb1, &cr1}) checkasm::fill(s->data(), s->size(), how, rng);
  }
};

bool one(checkasm::Checker<Yuv2RgbDsp>& c, const checkasm::Kernel<Yuv2RgbPairFn>& k, int bytes, RowPair& in,
         int width, bool shared, int align, const char* fill_name) {
  const uint8_t* cb1 = shared ? in.cb0.data() : in.cb1.data();
  const uint8_t* cr1 = shared ? in.cr0.data() : in.cr1.data();
  const uint32_t seed = c.rng()();
  const int n = width * bytes;
  Canvas r0(n, 1, n, align, seed), r1(n, 1, n, align + 1, seed + 1);
  Canvas t0(n, 1, n, align, seed), t1(n, 1, n, align + 1, seed + 1);
  k.ref(in.y0.data(), in.y1.data(), in.cb0.data(), in.cr0.data(), cb1, cr1, r0.data(), r1.data(), width);
  k.cand(in.y0.data(), in.y1.data(), in.cb0.data(), in.cr0.data(), cb1, cr1, t0.data(), t1.data(), width);
  return c.same(r0, t0, "row 0, width %d, %s, chroma %s, alignment %d", width, fill_name,
                shared ? "shared" : "own", align) &&
         c.same(r1, t1, "row 1, width %d, %s, chroma %s, alignment %d", width, fill_name,
                shared ? "shared" : "own", align + 1);
}

void check_depth(checkasm::Checker<Yuv2RgbDsp>& c, const char* name, Yuv2RgbPairFn Yuv2RgbDsp::*member, int bytes) {
  const auto k = c.kernel(name, member);
  if (!k) return;
  std::vector<int> widths;
  for (int w = 2; w <= 130; w += 2) widths.push_back(w);
  for (int w : {718, 720, 1920}) widths.push_back(w);
  for (int width : widths)
    for (Fill how : checkasm::kFills)
      for (bool shared : {false, true}) {
        RowPair in(width, static_cast<int>(c.rng()() % 64));
        in.fill(how, c.rng());
        if (!one(c, k, bytes, in, width, shared, static_cast<int>(c.rng()() % 64), checkasm::fill_name(how))) return;
      }
  for (int align = 0; align < 64; ++align)
    for (int width : {34, 96}) {
      RowPair in(width, align * 5);
      in.fill(Fill::mixed, c.rng());
      if (!one(c, k, bytes, in, width, align & 1, align, "mixed")) return;
    }
  RowPair in(720, 0);
  in.fill(Fill::random, c.rng());
  std::vector<uint8_t> d0(720 * bytes), d1(720 * bytes);
  c.bench([&] {
    k.cand(in.y0.data(), in.y1.data(), in.cb0.data(), in.cr0.data(), in.cb1.data(), in.cr1.data(), d0.data(),
           d1.data(), 720);
  });
}

void check_yuv2rgb(checkasm::Checker<Yuv2RgbDsp>& c) {
  check_depth(c, "pair16", &Yuv2RgbDsp::pair16, 2);
  check_depth(c, "pair24", &Yuv2RgbDsp::pair24, 3);
  check_depth(c, "pair32", &Yuv2RgbDsp::pair32, 4);
}

checkasm::Family<Yuv2RgbDsp> family("Yuv2RgbDsp", yuv2rgb_dsp_for, check_yuv2rgb);

}  // namespace
