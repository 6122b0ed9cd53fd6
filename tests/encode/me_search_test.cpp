// Motion search: the object's settings, the half-pel refiner's borders and
// ties, known motion found by every strategy, field motion, the narrowed B
// searches, and robustness at every border and size.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "encode/me_search.h"
#include "foundation/mpeg_fields.h"
#include "me_frames.h"

namespace {

using metest::FramePtr;

// Ranges of picture distance 2 for the picture's size (a P picture of a
// GOP with one B picture between references): the vectors under test lie
// well inside every strategy's reach.
void mpeg_range(Frame* f, int* rx, int* ry) {
  mpeg_get_search_range(f->padded_width(), f->padded_height(), rx, ry);
  *rx = (2 * *rx) | 1;
  *ry = (2 * *ry) | 1;
}

TEST(MeSearch, ModeAndLevelSetters) {
  MESearch me(0x86);
  EXPECT_EQ(me.set_mode(0), 0x86u);
  EXPECT_EQ(me.get_mode(), 6u);
  EXPECT_EQ(me.set_search_level(16), 1);
  EXPECT_EQ(me.level, 1);
  me.set_search_level(3);
  EXPECT_EQ(me.level, 3);
  EXPECT_EQ(me.best.cost, 1000000);
  me.alloc(10);
  EXPECT_EQ(me.best.cost, 5);
}

// The refiner's candidate sets: at a corner only the centre and the three
// neighbours inside; the centre wins ties, then the earlier candidate.
TEST(MeSearch, HalfPelRefinerBordersAndTies) {
  FramePtr ref = metest::texture(64, 64, 5);
  struct Case {
    int px, py, vx, vy;  // full-pel block position; content at this half-pel offset
    int want_dx, want_dy;
  };
  const Case cases[] = {
      {0, 0, -1, -1, 0, 0},   // top-left: (-1,-1) unreachable; (0,0) or a nearer one
      {0, 0, 1, 1, 1, 1},     // top-left: (1,1) allowed
      {48, 48, 1, 1, 0, 0},   // bottom-right: (1,1) unreachable
      {48, 48, -1, -1, -1, -1},
      {20, 20, 1, -1, 1, -1}, // interior
      {20, 0, 1, -1, 0, 0},   // top edge: dy -1 dropped
      {0, 20, -1, 1, 0, 0},   // left edge
      {48, 20, 1, 0, 0, 0},   // right edge
      {20, 48, 0, 1, 0, 0},   // bottom edge
  };
  for (const Case& c : cases) {
    FramePtr cur = metest::moved(ref.get(), 2 * c.px + c.vx - 0, 2 * c.py + c.vy);
    // The block of `cur` at (0,0) is the reference at (px, py) + (vx, vy).
    int x = 2 * c.px, y = 2 * c.py;
    const int cost = refine_half_pel(cur->y_plane(), ref->y_plane(), 64, 64, 64, 16, &x, &y);
    if (c.want_dx == c.vx && c.want_dy == c.vy) {
      EXPECT_EQ(cost, 0) << c.px << "," << c.py;
      EXPECT_EQ(x - 2 * c.px, c.vx);
      EXPECT_EQ(y - 2 * c.py, c.vy);
    } else {
      EXPECT_GT(cost, 0);
      const int dx = x - 2 * c.px, dy = y - 2 * c.py;
      EXPECT_TRUE(!(c.px == 0 && dx < 0) && !(c.py == 0 && dy < 0) && !(c.px == 48 && dx > 0) &&
                  !(c.py == 48 && dy > 0))
          << c.px << "," << c.py << " chose " << dx << "," << dy;
    }
  }
  // A flat block: all nine candidates tie and the centre stays.
  FramePtr flat = metest::blank(64, 64), flat_cur = metest::blank(64, 64);
  int x = 40, y = 40;
  EXPECT_EQ(refine_half_pel(flat_cur->y_plane(), flat->y_plane(), 64, 64, 64, 16, &x, &y), 0);
  EXPECT_EQ(x, 40);
  EXPECT_EQ(y, 40);
}

struct Found {
  int interior = 0, exact = 0;
};

// Runs a P picture `cur` from `ref` and counts interior macroblocks whose
// candidate, decision and vector all say (vx, vy).
Found run_p(MESearch& me, Frame* cur, Frame* ref, int vx, int vy) {
  const int mbw = cur->padded_width() / 16, mbh = cur->padded_height() / 16;
  std::vector<MBInfo> mbi(static_cast<size_t>(mbw * mbh));
  int rx, ry;
  mpeg_range(cur, &rx, &ry);
  me.motion_estimate_p(cur, ref, rx, ry, mbi.data());
  Found f;
  for (int j = 1; j + 1 < mbh; ++j)
    for (int i = 1; i + 1 < mbw; ++i) {
      const int k = j * mbw + i;
      const MECandidate& c = me.candidates_fwd[k];
      ++f.interior;
      f.exact += c.x == 32 * i + vx && c.y == 32 * j + vy && mbi[k].mb_type == kMBForward &&
                 mbi_mv(mbi[k], 0, 0, 0) == vx && mbi_mv(mbi[k], 0, 0, 1) == vy;
    }
  return f;
}


struct Strategy {
  unsigned word;
  int level;
};

TEST(MeSearch, KnownMotionIsFoundByEveryStrategy) {
  FramePtr ref = metest::texture(352, 288, 11);
  const Strategy strategies[] = {{kMEDefaultProgressive, 2}, {0x07, 3}, {0x16, 3}};
  const int vectors[][2] = {{7, -5}, {-11, 3}, {6, 9}, {-13, -12}, {3, -4}, {-4, 13}};
  for (const Strategy& s : strategies)
    for (const auto& v : vectors) {
      FramePtr cur = metest::moved(ref.get(), v[0], v[1]);
      MESearch me(s.word);
      me.set_search_level(s.level);
      const Found f = run_p(me, cur.get(), ref.get(), v[0], v[1]);
      EXPECT_GE(f.exact * 100, f.interior * 99)
          << "word 0x" << std::hex << s.word << std::dec << " vector " << v[0] << "," << v[1] << ": " << f.exact
          << " of " << f.interior;
    }
}

// The plain hierarchical strategy refines a two-pixel grid by half a pixel:
// it reaches 4k - 1, 4k and 4k + 1 half-pels.
TEST(MeSearch, PlainHierarchicalFindsItsReachableVectors) {
  FramePtr ref = metest::texture(352, 288, 12);
  const int vectors[][2] = {{5, -3}, {-7, 4}, {9, -5}, {-4, 8}, {3, 1}};
  for (int quarter : {0, 1})  // the half layer alone, or the quarter layer first
    for (const auto& v : vectors) {
      FramePtr cur = metest::moved(ref.get(), v[0], v[1]);
      MESearch me(6);
      me.set_search_level(2);
      me.use_quarter_layer = quarter;
      const Found f = run_p(me, cur.get(), ref.get(), v[0], v[1]);
      EXPECT_GE(f.exact * 100, f.interior * 99)
          << "quarter " << quarter << ", " << v[0] << "," << v[1] << ": " << f.exact << " of " << f.interior;
    }
}

TEST(MeSearch, SwappedFieldsGiveFieldMotionWithBothVectors) {
  FramePtr ref = metest::texture(352, 288, 13);
  const int v1x = 6, v1y = -3, v2x = -5, v2y = 4;  // field lines, half-pel
  FramePtr cur = metest::fields_swapped(ref.get(), v1x, v1y, v2x, v2y);
  for (const Strategy s : {Strategy{kMEDefaultInterlaced, 2}, Strategy{0x27, 3}}) {
    MESearch me(s.word);
    me.set_search_level(s.level);
    const int mbw = 22, mbh = 18;
    std::vector<MBInfo> mbi(mbw * mbh);
    me.motion_estimate_p(cur.get(), ref.get(), 7, 7, mbi.data());
    int interior = 0, exact = 0;
    for (int j = 1; j + 1 < mbh; ++j)
      for (int i = 1; i + 1 < mbw; ++i) {
        MBInfo& m = mbi[j * mbw + i];
        ++interior;
        exact += m.mb_type == kMBForward && m.motion_type == kMotionField && mbi_field_sel(m, 0, 0) == 1 &&
                 mbi_field_sel(m, 1, 0) == 0 && mbi_mv(m, 0, 0, 0) == v1x && mbi_mv(m, 0, 0, 1) == 2 * v1y &&
                 mbi_mv(m, 1, 0, 0) == v2x && mbi_mv(m, 1, 0, 1) == 2 * v2y;
      }
    EXPECT_GE(exact * 100, interior * 99) << "word 0x" << std::hex << s.word << std::dec << ": " << exact << " of "
                                          << interior;
  }
}

// A still region after a P picture: no motion compensation, class 0x33, and
// the B picture takes the zero displacement at cost 0 without searching.
// The Part's words trust the class even where the B picture moved; our
// refinement checks it with one sum and searches what moved.
TEST(MeSearch, StaticRegionAfterPictureNarrowsTheBSearch) {
  FramePtr a = metest::texture(160, 96, 21), still = metest::texture(160, 96, 21);
  FramePtr moved = metest::moved(a.get(), 5, 1);  // reachable by every word
  for (unsigned word : {kMEDefaultProgressive, 6u}) {
    MESearch me(word);
    std::vector<MBInfo> mbi(60);
    me.motion_estimate_p(still.get(), a.get(), 7, 7, mbi.data());
    ASSERT_EQ(me.mv_class_valid, 1);
    for (int i = 0; i < 60; ++i) {
      EXPECT_EQ(mbi[i].mb_type, 0);
      EXPECT_EQ(me.mv_class[i], 0x33);
    }
    me.motion_estimate_b(still.get(), a.get(), still.get(), 7, 7, 7, 7, mbi.data(), 0);
    for (int i = 0; i < 60; ++i) {
      EXPECT_EQ(me.candidates_bwd[i].cost, 0);
      EXPECT_EQ(me.candidates_bwd[i].x, 32 * (i % 10));
      EXPECT_EQ(me.candidates_bwd[i].y, 32 * (i / 10));
    }
    // A B picture that moved although the P picture says still.
    me.motion_estimate_b(moved.get(), a.get(), still.get(), 7, 7, 7, 7, mbi.data(), 0);
    int found = 0, zero = 0;
    for (int j = 1; j < 5; ++j)
      for (int i = 1; i < 9; ++i) {
        const MECandidate& c = me.candidates_bwd[j * 10 + i];
        found += c.x == 32 * i + 5 && c.y == 32 * j + 1;
        zero += c.x == 32 * i && c.y == 32 * j && c.cost == 0;
      }
    if (word & kMERefine)
      EXPECT_EQ(found, 32);
    else
      EXPECT_EQ(zero, 32);
    // After an I picture the B search runs with its full ranges.
    me.motion_estimate_intra(a.get(), mbi.data());
    me.motion_estimate_b(moved.get(), a.get(), still.get(), 7, 7, 7, 7, mbi.data(), 0);
    found = 0;
    for (int j = 1; j < 5; ++j)
      for (int i = 1; i < 9; ++i) found += me.candidates_bwd[j * 10 + i].x == 32 * i + 5;
    EXPECT_EQ(found, 32) << word;
  }
}

TEST(MeSearch, BackwardOnlyMakesEveryPredictedMacroblockBackward) {
  FramePtr ref = metest::texture(160, 96, 31);
  FramePtr cur = metest::moved(ref.get(), -3, 5);
  MESearch me(kMEDefaultProgressive);
  std::vector<MBInfo> mbi(60);
  me.motion_estimate_b(cur.get(), nullptr, ref.get(), 7, 7, 7, 7, mbi.data(), 1);
  EXPECT_EQ(me.last_cost, 65535);
  for (const MBInfo& m : mbi) EXPECT_TRUE(m.mb_type == kMBBackward || m.mb_type == kMBIntra) << m.mb_type;
}

// Random pictures, ranges and words: every border block searched, nothing
// read outside a plane (the sanitizers watch), vectors inside the window.
TEST(MeSearch, EveryWordStaysInsideThePictureAndTheWindow) {
  const unsigned words[] = {6, 0x86, 0x07, 0x0F, 0x16, 0x1E, 0x26, 0xA6, 0x27, 0x2F, 0x67, 0xA7, 0x96, 0x84};
  const int sizes[][2] = {{16, 16}, {48, 32}, {352, 240}, {720, 576}};
  std::mt19937 rng(3);
  for (const auto& sz : sizes)
    for (unsigned word : words) {
      if (sz[0] == 720 && (word & 1)) continue;  // full searches at 720x576: slow under the sanitizers
      FramePtr ref = metest::texture(sz[0], sz[1], rng());
      FramePtr cur = metest::moved(ref.get(), static_cast<int>(rng() % 31) - 15, static_cast<int>(rng() % 31) - 15);
      FramePtr next = metest::texture(sz[0], sz[1], rng());
      const int n = (sz[0] / 16) * (sz[1] / 16);
      std::vector<MBInfo> mbi(static_cast<size_t>(n));
      MESearch me(word);
      me.set_search_level(1 + static_cast<int>(rng() % 3));
      me.use_quarter_layer = static_cast<int>(rng() % 2);
      const int rx = 1 + static_cast<int>(rng() % 20), ry = 1 + static_cast<int>(rng() % 20);
      me.motion_estimate_p(cur.get(), ref.get(), rx, ry, mbi.data());
      me.motion_estimate_b(next.get(), ref.get(), cur.get(), rx, ry, rx, ry, mbi.data(), 0);
      for (int k = 0; k < n; ++k) {
        const int mx = 16 * (k % (sz[0] / 16)), my = 16 * (k / (sz[0] / 16));
        for (const MECandidate* c : {&me.candidates_fwd[k], &me.candidates_bwd[k]}) {
          EXPECT_LE(std::abs(c->x - 2 * mx), 2 * rx + 1) << "word 0x" << std::hex << word;
          EXPECT_LE(std::abs(c->y - 2 * my), 2 * ry + 1) << "word 0x" << std::hex << word;
          EXPECT_GE(c->x, 0);
          EXPECT_LE(c->x, 2 * (sz[0] - 16));
          EXPECT_GE(c->y, 0);
          EXPECT_LE(c->y, 2 * (sz[1] - 16));
          if (!(word & kMEInterlaced)) continue;
          // Field vectors: field lines, within the same ranges.
          for (const auto& [fx, fy] : {std::pair{c->top_x, c->top_y}, std::pair{c->bot_x, c->bot_y}}) {
            EXPECT_LE(std::abs(fx - 2 * mx), 2 * rx + 1) << "word 0x" << std::hex << word;
            EXPECT_LE(std::abs(fy - my), 2 * ry + 1) << "word 0x" << std::hex << word;
            EXPECT_GE(fx, 0);
            EXPECT_LE(fx, 2 * (sz[0] - 16));
            EXPECT_GE(fy, 0);
            EXPECT_LE(fy, 2 * (sz[1] / 2 - 8));
          }
        }
      }
    }
}

// One object used at 352x288 and then at 720x576 grows its arrays (the
// sanitizers see an overrun otherwise) and forgets the smaller picture's
// classes.
TEST(MeSearch, ArraysGrowWithThePicture) {
  MESearch me(kMEDefaultProgressive);
  FramePtr a = metest::texture(352, 288, 1), b = metest::moved(a.get(), 4, 2);
  std::vector<MBInfo> small(396), big(1620);
  me.motion_estimate_p(b.get(), a.get(), 7, 7, small.data());
  EXPECT_EQ(me.mv_class_valid, 1);
  FramePtr c = metest::texture(720, 576, 2), d = metest::moved(c.get(), -4, 6);
  me.motion_estimate_b(d.get(), c.get(), c.get(), 15, 15, 15, 15, big.data(), 0);
  EXPECT_EQ(me.mv_class_valid, 0);
  me.motion_estimate_p(d.get(), c.get(), 15, 15, big.data());
  int found = 0;
  for (int i = 0; i < 1620; ++i) found += big[i].mb_type == kMBForward && mbi_mv(big[i], 0, 0, 0) == -4;
  EXPECT_GT(found, 1400);
}

// A picture the reduced layers cannot be built for (wider than 4096) is
// searched at full resolution, never decided from stale records.
TEST(MeSearch, MissingLayersSearchAtFullResolution) {
  FramePtr ref = metest::texture(4112, 32, 8), cur = metest::moved(ref.get(), 6, 0);
  for (unsigned word : {6u, 0x26u, kMEDefaultProgressive, kMEDefaultInterlaced}) {
    MESearch me(word);
    me.set_search_level(2);  // the encoder's level
    std::vector<MBInfo> mbi(257 * 2);
    for (MBInfo& m : mbi) m.mb_type = kMBBackward;  // what a B picture left
    const int intra = me.motion_estimate_p(cur.get(), ref.get(), 7, 7, mbi.data());
    EXPECT_EQ(ref->layer2(), nullptr);
    EXPECT_NE(intra, 65535);
    int forward = 0;
    for (const MBInfo& m : mbi) {
      EXPECT_NE(m.mb_type, kMBBackward);
      forward += m.mb_type == kMBForward && mbi_mv(m, 0, 0, 0) == 6;
    }
    EXPECT_GT(forward, 400) << "word 0x" << std::hex << word;
  }
}

// Pictures without a macroblock, without a buffer, or with references of
// another size: no division by zero, no read, every macroblock intra.
TEST(MeSearch, PicturesThatCannotBeSearched) {
  MESearch me(kMEDefaultProgressive);
  Frame empty;
  std::vector<MBInfo> mbi(4);
  EXPECT_EQ(me.motion_estimate_p(&empty, &empty, 7, 7, mbi.data()), 0);
  EXPECT_EQ(me.motion_estimate_b(&empty, &empty, &empty, 7, 7, 7, 7, mbi.data(), 0), 0);
  EXPECT_EQ(me.motion_estimate_intra(&empty, mbi.data()), 0);
  EXPECT_EQ(me.motion_search(&empty, &empty, 7, 7, me.candidates_fwd), 0);
  FramePtr a = metest::texture(32, 32, 1), b = metest::texture(48, 32, 2);
  for (MBInfo& m : mbi) m.mb_type = kMBBackward;
  EXPECT_EQ(me.motion_estimate_p(a.get(), b.get(), 7, 7, mbi.data()), 4);
  for (const MBInfo& m : mbi) EXPECT_EQ(m.mb_type, kMBIntra);
}

}  // namespace

namespace {

// An encoder reuses its frame buffers: a frame that held one picture and
// is given a new one (coded as an I picture, or a P picture without
// search) must not be searched later through the half plane of its old
// content.
TEST(MeSearch, ReusedFrameNeverSearchesAStalePlane) {
  for (bool skip : {false, true}) {
    MESearch me(kMEDefaultProgressive);
    me.set_search_level(2);
    // Fine detail: only the wide search finds the vector, not steps from zero.
    FramePtr ref = metest::texture(352, 288, 61, 2), other = metest::texture(352, 288, 62, 2);
    FramePtr cur = metest::moved(ref.get(), 9, -7);
    std::vector<MBInfo> mbi(396);
    run_p(me, cur.get(), ref.get(), 9, -7);
    // New content in the reference's buffer, estimated without a search.
    std::copy_n(other->y_plane(), other->y_size(), ref->y_plane());
    if (skip) {
      me.skip_search = 1;
      me.motion_estimate_p(ref.get(), cur.get(), 7, 7, mbi.data());
      me.skip_search = 0;
    } else {
      me.motion_estimate_intra(ref.get(), mbi.data());
    }
    FramePtr next = metest::moved(other.get(), -11, 5);
    const Found f = run_p(me, next.get(), ref.get(), -11, 5);
    EXPECT_GE(f.exact * 100, f.interior * 99) << (skip ? "P without search" : "I picture") << ": " << f.exact
                                              << " of " << f.interior;
  }
}

}  // namespace
