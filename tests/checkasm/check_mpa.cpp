// MPEG audio kernels: synthesis window sums, the 18-point DCT-IV and the
// 32-point DCT, each level against the plain kernel bit for bit, on random
// values, full-scale values, values of mixed magnitude and zeros, with
// guards around every destination; the plain DCT against its definition.
#include <cmath>
#include <cstring>

#include "audio/codec/mpa_dsp.h"
#include "audio/codec/mpa_tables.h"
#include "checkasm.h"

namespace {

using checkasm::Canvas;

enum class Values { random, full, mixed, zero };
constexpr Values kValues[] = {Values::random, Values::full, Values::mixed, Values::zero};
const char* const kValueNames[] = {"random", "full scale", "mixed magnitudes", "zeros"};

void make(double* d, int n, Values how, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (int i = 0; i < n; ++i) {
    switch (how) {
      case Values::random: d[i] = u(rng); break;
      case Values::full: d[i] = rng() & 1 ? 32767.0 : -32768.0; break;
      case Values::mixed: d[i] = u(rng) * std::ldexp(1.0, static_cast<int>(rng() % 60) - 30); break;
      case Values::zero: d[i] = 0.0; break;
    }
  }
}

void check_mpa(checkasm::Checker<MpaDsp>& c) {
  const MpaTables& t = mpa_tables();
  if (auto k = c.kernel("synth_window", &MpaDsp::synth_window)) {
    double ring[16][64];
    for (Values how : kValues) {
      for (int round = 0; round < 20; ++round) {
        make(&ring[0][0], 16 * 64, how, c.rng());
        const double* v[16];
        for (int p = 0; p < 16; ++p) v[p] = ring[(p + round) & 15] + (p & 1 ? 32 : 0);
        Canvas ref(32 * 8, 1, 32 * 8, 8 * (round % 4), 7), cand(32 * 8, 1, 32 * 8, 8 * (round % 4), 7);
        k.ref(v, t.win, t.win_odd, reinterpret_cast<double*>(ref.data()));
        k.cand(v, t.win, t.win_odd, reinterpret_cast<double*>(cand.data()));
        if (!c.same(ref, cand, "%s values, round %d", kValueNames[static_cast<int>(how)], round)) return;
      }
    }
    const double* v[16];
    for (int p = 0; p < 16; ++p) v[p] = ring[p];
    double acc[32];
    c.bench([&] { k.cand(v, t.win, t.win_odd, acc); });
  }
  if (auto k = c.kernel("dct4_18", &MpaDsp::dct4_18)) {
    double cosines[18][18];
    for (int kk = 0; kk < 18; ++kk)
      for (int n = 0; n < 18; ++n) cosines[kk][n] = std::cos(M_PI / 18 * (n + 0.5) * (kk + 0.5));
    double x[18];
    for (Values how : kValues) {
      for (int round = 0; round < 50; ++round) {
        make(x, 18, how, c.rng());
        Canvas ref(18 * 8, 1, 18 * 8, 8 * (round % 4), 3), cand(18 * 8, 1, 18 * 8, 8 * (round % 4), 3);
        k.ref(x, cosines, reinterpret_cast<double*>(ref.data()));
        k.cand(x, cosines, reinterpret_cast<double*>(cand.data()));
        if (!c.same(ref, cand, "%s values, round %d", kValueNames[static_cast<int>(how)], round)) return;
      }
    }
    double out[18];
    c.bench([&] { k.cand(x, cosines, out); });
  }
  if (auto k = c.kernel("dct32", &MpaDsp::dct32)) {
    const double* f[5] = {t.dct_factor32, t.dct_factor16, t.dct_factor8, t.dct_factor4, t.dct_factor2};
    double x[32];
    for (Values how : kValues) {
      for (int round = 0; round < 50; ++round) {
        make(x, 32, how, c.rng());
        Canvas ref(32 * 8, 1, 32 * 8, 8 * (round % 4), 5), cand(32 * 8, 1, 32 * 8, 8 * (round % 4), 5);
        k.ref(x, reinterpret_cast<double*>(ref.data()), f);
        k.cand(x, reinterpret_cast<double*>(cand.data()), f);
        if (!c.same(ref, cand, "%s values, round %d", kValueNames[static_cast<int>(how)], round)) return;
        if (how == Values::random) {
          double X[32];
          std::memcpy(X, ref.data(), sizeof X);
          for (int m = 0; m < 32; ++m) {
            double want = 0.0;
            for (int kk = 0; kk < 32; ++kk) want += x[kk] * std::cos(M_PI * m * (2 * kk + 1) / 64.0);
            if (std::fabs(X[m] - want) > 1e-12)
              return static_cast<void>(c.fail("the plain DCT gives %.15g for output %d, not %.15g", X[m], m, want));
          }
        }
      }
    }
    double out[32];
    c.bench([&] { k.cand(x, out, f); });
  }
}

checkasm::Family<MpaDsp> family("MpaDsp", mpa_dsp_for, check_mpa);

}  // namespace
