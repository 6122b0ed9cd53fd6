// Search quality on real pictures: the full-resolution SAD at the frame
// candidates the default word chooses, summed over the P and B pictures of a
// GOP of 15 with two B pictures between references, against an exhaustive
// full-pel search of the same window plus half-pel refinement. Macroblocks
// are sampled (every 13th) to keep the exhaustive side affordable.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "encode/me_search.h"
#include "foundation/mpeg_fields.h"
#include "me_frames.h"
#include "support.h"

namespace {

using metest::FramePtr;

constexpr int kW = 720, kH = 576, kSample = 13;

// The exhaustive answer for macroblock (mx, my): every full-pel position of
// the window, then the half-pel refiner.
int exhaustive(Frame* cur, Frame* ref, int mx, int my, int rx, int ry) {
  const int w = cur->padded_width(), h = cur->padded_height();
  const uint8_t* block = cur->y_plane() + static_cast<long>(my) * w + mx;
  uint32_t best = UINT32_MAX;
  int bx = mx, by = my;
  for (int y = std::max(my - ry, 0); y <= std::min(my + ry, h - 16); ++y)
    for (int x = std::max(mx - rx, 0); x <= std::min(mx + rx, w - 16); ++x) {
      const uint32_t c = me_dsp().sad16_limit(block, ref->y_plane() + static_cast<long>(y) * w + x, w, 16, best);
      if (c < best) best = c, bx = x, by = y;
    }
  int hx = 2 * bx, hy = 2 * by;
  return refine_half_pel(block, ref->y_plane(), w, w, h, 16, &hx, &hy);
}

struct Sums {
  long long ours = 0, best = 0;
};

void add(Sums* s, Frame* cur, Frame* ref, const MECandidate* cands, int rx, int ry) {
  const int w = cur->padded_width(), mbw = w / 16, n = mbw * (cur->padded_height() / 16);
  for (int k = 0; k < n; k += kSample) {
    const int mx = 16 * (k % mbw), my = 16 * (k / mbw);
    const uint8_t* block = cur->y_plane() + static_cast<long>(my) * w + mx;
    s->ours += sad_at(block, ref->y_plane() + static_cast<long>(my) * w + mx, w, cands[k].x - 2 * mx,
                      cands[k].y - 2 * my, 16);
    s->best += exhaustive(cur, ref, mx, my, rx, ry);
  }
}

// P and B pictures of frames 0..15 in coded order, the default word.
Sums clip_sums(std::vector<FramePtr>& f) {
  int hr, vr;
  mpeg_get_search_range(kW, kH, &hr, &vr);
  MESearch me(kMEDefaultProgressive);
  me.set_search_level(2);
  std::vector<MBInfo> mbi(static_cast<size_t>((kW / 16) * (kH / 16)));
  Sums s;
  me.motion_estimate_intra(f[0].get(), mbi.data());
  for (int ref = 3; ref <= 15; ref += 3) {
    const int prev = ref - 3;
    if (ref == 15) {
      me.motion_estimate_intra(f[15].get(), mbi.data());
    } else {
      const int rx = (3 * hr) | 1, ry = (3 * vr) | 1;
      me.motion_estimate_p(f[ref].get(), f[prev].get(), rx, ry, mbi.data());
      add(&s, f[ref].get(), f[prev].get(), me.candidates_fwd, rx, ry);
    }
    for (int b = prev + 1; b < ref; ++b) {
      const int df = b - prev, db = ref - b;
      me.motion_estimate_b(f[b].get(), f[prev].get(), f[ref].get(), (df * hr) | 1, (df * vr) | 1, (db * hr) | 1,
                           (db * vr) | 1, mbi.data(), 0);
      add(&s, f[b].get(), f[prev].get(), me.candidates_fwd, (df * hr) | 1, (df * vr) | 1);
      add(&s, f[b].get(), f[ref].get(), me.candidates_bwd, (db * hr) | 1, (db * vr) | 1);
    }
  }
  return s;
}

TEST(MeQuality, DefaultWordComesCloseToAnExhaustiveSearch) {
  double sum = 0;
  int clips = 0;
  for (const char* name : {"me_mandel.yuv", "me_pan.yuv", "me_mix.yuv"}) {
    std::vector<FramePtr> f = metest::load_clip(tsupport::fixture(name), kW, kH);
    ASSERT_GE(f.size(), 16u) << name;
    const Sums s = clip_sums(f);
    ASSERT_GT(s.best, 0);
    const double ratio = static_cast<double>(s.ours) / static_cast<double>(s.best);
    std::printf("%s: SAD %lld against %lld exhaustive, %.3fx\n", name, s.ours, s.best, ratio);
    EXPECT_LE(ratio, 1.30) << name;
    sum += ratio;
    ++clips;
  }
  EXPECT_LE(sum / clips, 1.10);
}

}  // namespace
