// Scaling column filter: the tap sets every ratio uses (zero taps dropped,
// as the drivers call it), random and saturating taps of 1 to 12 rows;
// every width to 100 and whole lines; rows that drive the sum to either
// end; random then every alignment.
#include <algorithm>
#include <vector>

#include "checkasm.h"
#include "picture/scale_kernels.h"

namespace {

using checkasm::Canvas;
using checkasm::Fill;
using checkasm::Source;

using Taps = std::vector<int16_t>;

// The distinct non-zero tap sets of every kernel's phases, edges included.
std::vector<Taps> ratio_taps() {
  std::vector<Taps> sets;
  for (ScaleKernel k : {SK_DEC2_H, SK_DEC2_V, SK_DEC32, SK_DEC4, SK_INT2, SK_INT23, SK_INT4})
    for (int n : {7, 30}) {
      TapTable t;
      build_taps(k, n, t);
      for (int o = 0; o < t.out_count; ++o) {
        Taps s;
        for (int i = 0; i < t.ntaps; ++i)
          if (int16_t w = t.tap[static_cast<size_t>(o) * t.ntaps + i]) s.push_back(w);
        if (std::find(sets.begin(), sets.end(), s) == sets.end()) sets.push_back(s);
      }
    }
  return sets;
}

std::vector<Taps> tap_sets(std::mt19937& rng) {
  std::vector<Taps> sets = ratio_taps();
  for (int n = 1; n <= 12; ++n) {
    Taps s(n);
    for (auto& w : s) w = static_cast<int16_t>(rng());
    sets.push_back(s);
    sets.push_back(Taps(n, 32767));
    sets.push_back(Taps(n, -32768));
  }
  return sets;
}

// Source rows for the taps: a shared fill, or 255 under positive taps and
// 0 under negative ones (the largest sum), or the reverse (the smallest).
enum class Rows { fill, highest, lowest };

struct Input {
  std::vector<Source> rows;
  std::vector<const uint8_t*> ptr;
  Input(const Taps& taps, int width, Rows how, Fill f, std::mt19937& rng) {
    for (size_t i = 0; i < taps.size(); ++i) {
      rows.emplace_back(width, static_cast<int>(rng() % 64));
      uint8_t* p = rows.back().data();
      if (how == Rows::fill) {
        checkasm::fill(p, width, f, rng);
      } else {
        const bool high = (taps[i] > 0) == (how == Rows::highest);
        std::fill(p, p + width, high ? 255 : 0);
      }
    }
    for (Source& s : rows) ptr.push_back(s.data());
  }
};

bool one(checkasm::Checker<ScaleDsp>& c, const checkasm::Kernel<VFilterRowFn>& k, const Taps& taps, Input& in,
         int width, int align, const char* what) {
  const uint32_t seed = c.rng()();
  Canvas ref(width, 1, width, align, seed), cand(width, 1, width, align, seed);
  const int n = static_cast<int>(taps.size());
  k.ref(in.ptr.data(), taps.data(), n, ref.data(), width);
  k.cand(in.ptr.data(), taps.data(), n, cand.data(), width);
  return c.same(ref, cand, "width %d, %d taps (first %d), rows %s, alignment %d", width, n, taps[0], what, align);
}

void check_scale(checkasm::Checker<ScaleDsp>& c) {
  const auto k = c.kernel("vfilter_row", &ScaleDsp::vfilter_row);
  if (!k) return;
  const std::vector<Taps> sets = tap_sets(c.rng());
  std::vector<int> widths;
  for (int w = 1; w <= 100; ++w) widths.push_back(w);
  for (int w : {719, 720, 1920}) widths.push_back(w);
  for (int width : widths)
    for (const Taps& taps : sets) {
      for (Fill f : checkasm::kFills) {
        Input in(taps, width, Rows::fill, f, c.rng());
        if (!one(c, k, taps, in, width, static_cast<int>(c.rng()() % 64), checkasm::fill_name(f))) return;
      }
      for (Rows how : {Rows::highest, Rows::lowest}) {
        Input in(taps, width, how, Fill::zero, c.rng());
        if (!one(c, k, taps, in, width, static_cast<int>(c.rng()() % 64),
                 how == Rows::highest ? "highest sum" : "lowest sum"))
          return;
      }
    }
  for (int align = 0; align < 64; ++align)
    for (const Taps& taps : {sets[0], sets.back()}) {
      Input in(taps, 100, Rows::fill, Fill::mixed, c.rng());
      if (!one(c, k, taps, in, 100, align, "mixed")) return;
    }
  const Taps half = {16, 112, 112, 16};  // the 2:1 vertical filter, as the layers use it
  Input in(half, 720, Rows::fill, Fill::random, c.rng());
  std::vector<uint8_t> dst(720);
  c.bench([&] { k.cand(in.ptr.data(), half.data(), 4, dst.data(), 720); });
}

checkasm::Family<ScaleDsp> family("ScaleDsp", scale_dsp_for, check_scale);

}  // namespace
