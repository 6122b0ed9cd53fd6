// Sample-rate conversion kernels: each level against the plain kernel bit
// for bit, for every rate pair and cycle position, on random, full-scale
// and zero samples, with guards around the output.
#include <cstring>

#include "audio/codec/src_kernels.h"
#include "checkasm.h"

namespace {

using checkasm::Canvas;

void check_src(checkasm::Checker<SrcDsp>& c) {
  static const int kPairs[6][2] = {{48000, 32000}, {32000, 48000}, {44100, 32000},
                                   {32000, 44100}, {44100, 48000}, {48000, 44100}};
  if (auto k = c.kernel("stereo", &SrcDsp::stereo)) {
    for (const auto& pr : kPairs) {
      const SrcPlan& plan = *src_plan(pr[0], pr[1]);
      for (int how = 0; how < 3; ++how) {
        for (int j0 = 0; j0 < plan.cycle; j0 += 3) {
          const int frames = 7 * plan.in_block + 1 + int(c.rng()() % 5);
          checkasm::Source src(size_t(frames + 4) * 4, 2 * int(c.rng()() % 8));
          int16_t* in = reinterpret_cast<int16_t*>(src.data());
          for (int i = 0; i < (frames + 4) * 2; ++i)
            in[i] = how == 0 ? int16_t(c.rng()()) : how == 1 ? int16_t(c.rng()() & 1 ? 32767 : -32768) : 0;
          const int width = 8 * 13 * 4;
          Canvas ref(width, 1, width, 2 * (j0 % 4), 9), cand(width, 1, width, 2 * (j0 % 4), 9);
          int used_ref = 0, used_cand = 0;
          const int n_ref = k.ref(plan, reinterpret_cast<int16_t*>(ref.data()), 2, in, 2, frames, j0, &used_ref);
          const int n_cand = k.cand(plan, reinterpret_cast<int16_t*>(cand.data()), 2, in, 2, frames, j0, &used_cand);
          if (n_ref != n_cand || used_ref != used_cand)
            return static_cast<void>(c.fail("%d <- %d: counts %d/%d against %d/%d", pr[0], pr[1], n_cand, used_cand,
                                             n_ref, used_ref));
          if (!c.same(ref, cand, "%d <- %d, start block %d, values %d", pr[0], pr[1], j0, how)) return;
        }
      }
    }
    const SrcPlan& plan = *src_plan(48000, 44100);
    static int16_t in[2 * 1152 + 64], out[2 * 1300];
    int used = 0;
    c.bench([&] { k.cand(plan, out, 2, in, 2, 1100, 0, &used); });
  }
}

checkasm::Family<SrcDsp> family("SrcDsp", src_dsp_for, check_src);

}  // namespace
