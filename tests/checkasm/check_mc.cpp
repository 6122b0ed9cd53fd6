// Motion-compensation kernels: every half-sample mode and mode pair, each
// block size the decoder predicts (16 and 8 wide, and the 4 and 2 wide
// blocks of reduced pictures that the SIMD kernels hand to plain code),
// heights 1 to 16, random, 0/255 and mixed references, every line stride
// the decoder uses and every alignment of each reference. Each reference
// sits in an allocation that ends at the last byte its mode reads, so the
// address sanitizer sees a read one byte too far.
#include <array>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "checkasm.h"
#include "decode/mc.h"

namespace {

using checkasm::Canvas;
using checkasm::Fill;
using checkasm::Source;

// McDsp keeps its predictors in arrays, whose elements a member pointer
// cannot name: the harness sees the same pointers, one member each.
struct McKernels {
  PredAvgFn avg0, avg1, avg2, avg3, avg4, avg5, avg6, avg7, avg8, avg9, avg10, avg11, avg12, avg13, avg14, avg15;
  PredFn single0, single1, single2, single3;
  void (*pred420)(const Pred420& p);
};
constexpr PredAvgFn McKernels::*kAvg[16] = {&McKernels::avg0,  &McKernels::avg1,  &McKernels::avg2,  &McKernels::avg3,
                                            &McKernels::avg4,  &McKernels::avg5,  &McKernels::avg6,  &McKernels::avg7,
                                            &McKernels::avg8,  &McKernels::avg9,  &McKernels::avg10, &McKernels::avg11,
                                            &McKernels::avg12, &McKernels::avg13, &McKernels::avg14, &McKernels::avg15};
constexpr PredFn McKernels::*kSingle[4] = {&McKernels::single0, &McKernels::single1, &McKernels::single2,
                                           &McKernels::single3};

const McKernels* mc_kernels_for(CpuLevel level) {
  static const auto tables = [] {
    std::array<std::optional<McKernels>, std::size(checkasm::kLevels)> t;
    for (CpuLevel l : checkasm::kLevels)
      if (const McDsp* d = mc_dsp_for(l)) {
        McKernels k{};
        for (int i = 0; i < 16; ++i) k.*kAvg[i] = d->avg[i];
        for (int i = 0; i < 4; ++i) k.*kSingle[i] = d->single[i];
        k.pred420 = d->pred420;
        t[static_cast<size_t>(l)] = k;
      }
    return t;
  }();
  const auto& t = tables[static_cast<size_t>(level)];
  return t ? &*t : nullptr;
}

// Half-sample modes: (vertical << 1) | horizontal.
const char* const kMode[4] = {"full", "h", "v", "hv"};

// Scratch blocks (8), small pictures, 720 and 1920 wide frames with their
// chroma, each doubled for field lines.
constexpr int kStrides[] = {8, 16, 32, 64, 360, 720, 960, 1440, 1920, 3840};
constexpr int kFillCount = static_cast<int>(std::size(checkasm::kFills));

// The bytes a w x h prediction of mode m reads, and no more: one more
// column for a horizontal half, one more line for a vertical one.
struct Ref {
  Source bytes;
  Ref(int w, int h, int stride, int mode, int align, Fill how, std::mt19937& rng)
      : bytes(static_cast<size_t>(h - 1 + (mode >> 1)) * stride + w + (mode & 1), align) {
    checkasm::fill(bytes.data(), bytes.size(), how, rng);
  }
  const uint8_t* data() { return bytes.data(); }
};

struct Shape {
  int w, h, stride;
  Fill how;
  int align[3];  // first and second reference, destination
};

// Sizes, fills, strides and alignments, each swept with the others varied
// alongside.
std::vector<Shape> shapes(std::mt19937& rng) {
  std::vector<Shape> out;
  auto any_align = [&] { return static_cast<int>(rng() % 64); };
  auto push = [&](int w, int h, int stride, Fill how) {
    out.push_back({w, h, stride, how, {any_align(), any_align(), any_align()}});
  };
  size_t i = 0;
  for (int w : {16, 8, 4, 2})
    for (int h = 1; h <= 16; ++h)
      for (Fill how : checkasm::kFills) {
        int stride;
        do stride = kStrides[i++ % std::size(kStrides)];
        while (stride < w);
        push(w, h, stride, how);
      }
  for (int stride : kStrides)
    for (int w : {16, 8, 4})
      for (int h : {16, 8, 4})
        if (stride >= w) push(w, h, stride, checkasm::kFills[i++ % kFillCount]);
  for (int a = 0; a < 64; ++a)
    for (int w : {16, 8}) out.push_back({w, 16, 32, Fill::mixed, {a, (a * 37 + 11) % 64, (a * 13 + 5) % 64}});
  return out;
}

// The plain and the candidate kernel on one shape: `call(kernel, dst,
// ref1, ref2)` with ref2 null for one reference (m2 < 0).
template <class Fn, class Call>
bool one(checkasm::Checker<McKernels>& c, const checkasm::Kernel<Fn>& k, const Shape& s, int m1, int m2, Call call) {
  Ref r1(s.w, s.h, s.stride, m1, s.align[0], s.how, c.rng());
  std::optional<Ref> r2;
  if (m2 >= 0) r2.emplace(s.w, s.h, s.stride, m2, s.align[1], s.how, c.rng());
  const uint32_t seed = c.rng()();
  Canvas ref(s.w, s.h, s.stride, s.align[2], seed), cand(s.w, s.h, s.stride, s.align[2], seed);
  const uint8_t* src2 = r2 ? r2->data() : nullptr;
  call(k.ref, ref.data(), r1.data(), src2);
  call(k.cand, cand.data(), r1.data(), src2);
  return c.same(ref, cand, "%dx%d, stride %d, %s references at alignments %d and %d, destination at %d", s.w, s.h,
                s.stride, checkasm::fill_name(s.how), s.align[0], s.align[1], s.align[2]);
}

// A reference frame's worth of lines for the timed calls.
std::vector<uint8_t> frame_lines(int stride, std::mt19937& rng) {
  std::vector<uint8_t> v(static_cast<size_t>(18) * stride);
  checkasm::fill(v.data(), v.size(), Fill::random, rng);
  return v;
}

void check_avg(checkasm::Checker<McKernels>& c, int i) {
  const int m1 = i & 3, m2 = i >> 2;
  const std::string name = std::string("avg_") + kMode[m1] + "_" + kMode[m2];
  const auto k = c.kernel(name.c_str(), kAvg[i]);
  if (!k) return;
  for (const Shape& s : shapes(c.rng()))
    if (!one(c, k, s, m1, m2,
             [&](PredAvgFn f, uint8_t* d, const uint8_t* a, const uint8_t* b) { f(d, a, b, s.stride, s.w, s.h); }))
      return;
  const std::vector<uint8_t> a = frame_lines(720, c.rng()), b = frame_lines(720, c.rng());
  std::vector<uint8_t> d(16 * 720);
  c.bench([&] { k.cand(d.data(), a.data(), b.data(), 720, 16, 16); });
}

void check_single(checkasm::Checker<McKernels>& c, int m) {
  const std::string name = std::string("single_") + kMode[m];
  const auto k = c.kernel(name.c_str(), kSingle[m]);
  if (!k) return;
  for (const Shape& s : shapes(c.rng()))
    if (!one(c, k, s, m, -1,
             [&](PredFn f, uint8_t* d, const uint8_t* a, const uint8_t*) { f(d, a, s.stride, s.w, s.h); }))
      return;
  const std::vector<uint8_t> a = frame_lines(720, c.rng());
  std::vector<uint8_t> d(16 * 720);
  c.bench([&] { k.cand(d.data(), a.data(), 720, 16, 16); });
}

// One 4:2:0 region: 16 x h luma and two 8 x h/2 chroma blocks per
// reference, chroma lines half the luma stride apart.
struct Region {
  int h, stride;
  int luma[2], chroma[2];  // modes; second -1 for one reference
  Fill how;
  int align;  // planes and references spread from here
};

bool one420(checkasm::Checker<McKernels>& c, const checkasm::Kernel<void (*)(const Pred420&)>& k, const Region& r) {
  const int cs = r.stride / 2, ch = r.h / 2;
  std::vector<Ref> refs;  // [reference][plane]
  refs.reserve(6);
  for (int n = 0; n < (r.luma[1] < 0 ? 1 : 2); ++n)
    for (int plane = 0; plane < 3; ++plane) {
      const int align = (r.align + 21 * (3 * n + plane)) % 64;
      if (plane == 0)
        refs.emplace_back(16, r.h, r.stride, r.luma[n], align, r.how, c.rng());
      else
        refs.emplace_back(8, ch, cs, r.chroma[n], align, r.how, c.rng());
    }
  const uint32_t seed = c.rng()();
  const int dalign = (r.align * 7 + 3) % 64;
  Canvas ref[3] = {{16, r.h, r.stride, dalign, seed}, {8, ch, cs, dalign, seed + 1}, {8, ch, cs, dalign, seed + 2}};
  Canvas cand[3] = {{16, r.h, r.stride, dalign, seed}, {8, ch, cs, dalign, seed + 1}, {8, ch, cs, dalign, seed + 2}};
  Pred420 p{};
  for (int plane = 0; plane < 3; ++plane) {
    p.src1[plane] = refs[plane].data();
    p.src2[plane] = refs.size() > 3 ? refs[3 + plane].data() : nullptr;
  }
  p.stride = r.stride;
  p.height = r.h;
  for (int n = 0; n < 2; ++n) {
    p.luma_mode[n] = r.luma[n] < 0 ? 0 : r.luma[n];
    p.chroma_mode[n] = r.chroma[n] < 0 ? 0 : r.chroma[n];
  }
  for (int plane = 0; plane < 3; ++plane) p.dst[plane] = ref[plane].data();
  k.ref(p);
  for (int plane = 0; plane < 3; ++plane) p.dst[plane] = cand[plane].data();
  k.cand(p);
  static const char* const planes[3] = {"luma", "Cb", "Cr"};
  for (int plane = 0; plane < 3; ++plane)
    if (!c.same(ref[plane], cand[plane],
                "%s of 16x%d, stride %d, %d reference(s), luma modes %s/%s, chroma modes %s/%s, %s references, "
                "alignment %d",
                planes[plane], r.h, r.stride, r.luma[1] < 0 ? 1 : 2, kMode[r.luma[0]],
                r.luma[1] < 0 ? "-" : kMode[r.luma[1]], kMode[r.chroma[0]], r.chroma[1] < 0 ? "-" : kMode[r.chroma[1]],
                checkasm::fill_name(r.how), r.align))
      return false;
  return true;
}

void check_pred420(checkasm::Checker<McKernels>& c) {
  const auto k = c.kernel("pred420", &McKernels::pred420);
  if (!k) return;
  // Luma strides of frame and field lines (chroma gets half).
  const int strides[] = {16, 32, 64, 720, 1440, 1920, 3840};
  const int heights[] = {16, 8, 4, 2};
  auto mode = [&] { return static_cast<int>(c.rng()() % 4); };
  std::vector<Region> regions;
  size_t i = 0;
  // Every mode combination with one and two references, on every fill.
  for (int refs = 1; refs <= 2; ++refs)
    for (int modes = 0; modes < (refs == 1 ? 16 : 256); ++modes)
      for (Fill how : checkasm::kFills) {
        Region r{heights[i % 4], strides[i % std::size(strides)], {}, {}, how, static_cast<int>(c.rng()() % 64)};
        ++i;
        r.luma[0] = modes & 3;
        r.chroma[0] = modes >> 2 & 3;
        r.luma[1] = refs == 1 ? -1 : modes >> 4 & 3;
        r.chroma[1] = refs == 1 ? -1 : modes >> 6 & 3;
        regions.push_back(r);
      }
  for (int stride : strides)
    for (int h : heights)
      for (int refs = 1; refs <= 2; ++refs) {
        const int luma2 = refs == 1 ? -1 : mode(), chroma2 = refs == 1 ? -1 : mode();
        const int align = static_cast<int>(c.rng()() % 64);
        regions.push_back({h, stride, {mode(), luma2}, {mode(), chroma2}, Fill::mixed, align});
      }
  for (int a = 0; a < 64; ++a) regions.push_back({16, 32, {mode(), mode()}, {mode(), mode()}, Fill::random, a});
  for (const Region& r : regions)
    if (!one420(c, k, r)) return;
  // A P macroblock at half samples both ways, in a 720-wide frame.
  const std::vector<uint8_t> y = frame_lines(720, c.rng()), cb = frame_lines(360, c.rng()),
                             cr = frame_lines(360, c.rng());
  std::vector<uint8_t> dy(16 * 720), dcb(8 * 360), dcr(8 * 360);
  Pred420 p{};
  p.dst[0] = dy.data();
  p.dst[1] = dcb.data();
  p.dst[2] = dcr.data();
  p.src1[0] = y.data();
  p.src1[1] = cb.data();
  p.src1[2] = cr.data();
  p.stride = 720;
  p.luma_mode[0] = 3;
  p.chroma_mode[0] = 1;
  p.height = 16;
  c.bench([&] { k.cand(p); });
}

void check_mc(checkasm::Checker<McKernels>& c) {
  for (int i = 0; i < 16; ++i) check_avg(c, i);
  for (int m = 0; m < 4; ++m) check_single(c, m);
  check_pred420(c);
}

checkasm::Family<McKernels> family("McDsp", mc_kernels_for, check_mc);

}  // namespace
