// Motion-search kernels: every kernel of MeDsp on random, saturating
// (0/255), alternating and flat blocks, every line stride the search uses
// (frame and field lines of small and large pictures), heights 16 and 8,
// limits from 0 to past any sum, at every alignment of both blocks. Each
// block sits in an allocation that ends at the last byte the kernel reads,
// and the half-pel kernels get one that starts at the first, so the
// address sanitizer sees a read one byte too far either way.
#include <array>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "checkasm.h"
#include "encode/me_kernels.h"

namespace {

using checkasm::Fill;
using checkasm::Source;

constexpr int kStrides[] = {16, 32, 64, 352, 704, 720, 1440, 1920, 3840};

// A block of `rows` lines `stride` apart, `cols` bytes each, plus `before`
// lines and columns in front of it (the half-pel neighbours above/left).
struct Block {
  Source bytes;
  int stride, lead;
  Block(int cols, int rows, int stride_, int before, int align, Fill how, std::mt19937& rng)
      : bytes(static_cast<size_t>(rows + before - 1) * stride_ + cols + before, align),
        stride(stride_),
        lead(before * stride_ + before) {
    checkasm::fill(bytes.data(), bytes.size(), how, rng);
  }
  const uint8_t* at() { return bytes.data() + lead; }
};

// Mostly the same bytes as `other`, so early exits see small sums too.
void resemble(Block& b, const Block& other, std::mt19937& rng) {
  const size_t n = std::min(b.bytes.size(), const_cast<Block&>(other).bytes.size());
  for (size_t i = 0; i < n; ++i)
    if (rng() % 4) b.bytes.data()[i] = const_cast<Block&>(other).bytes.data()[i];
}

struct Case {
  int stride, height, align_src, align_ref;
  Fill how;
  bool similar;
};

std::vector<Case> cases(std::mt19937& rng) {
  std::vector<Case> v;
  size_t k = 0;
  for (int stride : kStrides)
    for (int height : {16, 8})
      for (Fill how : checkasm::kFills)
        for (bool similar : {false, true})
          v.push_back({stride, height, static_cast<int>(rng() % 64), static_cast<int>(rng() % 64), how, similar});
  for (int a = 0; a < 64; ++a) v.push_back({720, 16, a, static_cast<int>(k++ * 37 % 64), Fill::mixed, true});
  return v;
}

constexpr uint32_t kLimits[] = {0, 1, 100, 500, 2000, 65535, UINT32_MAX};

// One comparison of the plain and the candidate result.
template <class T>
bool agree(checkasm::Checker<MeDsp>& c, T ref, T cand, const Case& s, const char* what) {
  if (ref == cand) return true;
  return c.fail("%s: %lld, plain %lld; stride %d, height %d, %s, alignments %d/%d%s", what,
                static_cast<long long>(cand), static_cast<long long>(ref), s.stride, s.height,
                checkasm::fill_name(s.how), s.align_src, s.align_ref, s.similar ? ", similar blocks" : "");
}

void check_dist(checkasm::Checker<MeDsp>& c, const char* name, DistFn MeDsp::*fn, int flags) {
  const auto k = c.kernel(name, fn);
  if (!k) return;
  for (const Case& s : cases(c.rng())) {
    Block src(16, s.height, s.stride, 0, s.align_src, s.how, c.rng());
    Block ref(16 + (flags & 1), s.height + (flags >> 1), s.stride, 0, s.align_ref, s.how, c.rng());
    if (s.similar) resemble(ref, src, c.rng());
    if (!agree(c, k.ref(src.at(), ref.at(), s.stride, s.height), k.cand(src.at(), ref.at(), s.stride, s.height), s,
               name))
      return;
  }
  Block a(16, 16, 720, 0, 0, Fill::random, c.rng()), b(17, 17, 720, 0, 0, Fill::random, c.rng());
  c.bench([&] { k.cand(a.at(), b.at(), 720, 16); });
}

void check_limit(checkasm::Checker<MeDsp>& c, const char* name,
                 uint32_t (*MeDsp::*fn)(const uint8_t*, const uint8_t*, int, int, uint32_t)) {
  const auto k = c.kernel(name, fn);
  if (!k) return;
  for (const Case& s : cases(c.rng())) {
    Block src(16, s.height, s.stride, 0, s.align_src, s.how, c.rng());
    Block ref(16, s.height, s.stride, 0, s.align_ref, s.how, c.rng());
    if (s.similar) resemble(ref, src, c.rng());
    for (uint32_t limit : kLimits)
      if (!agree(c, k.ref(src.at(), ref.at(), s.stride, s.height, limit),
                 k.cand(src.at(), ref.at(), s.stride, s.height, limit), s, name))
        return;
  }
  Block a(16, 16, 720, 0, 0, Fill::random, c.rng()), b(16, 16, 720, 0, 0, Fill::random, c.rng());
  c.bench([&] { k.cand(a.at(), b.at(), 720, 16, UINT32_MAX); });
}

bool same_sums(checkasm::Checker<MeDsp>& c, FieldSums r, FieldSums d, const Case& s, const char* name) {
  return agree(c, r.total, d.total, s, name) && agree(c, r.even, d.even, s, name) && agree(c, r.odd, d.odd, s, name);
}

void check_me(checkasm::Checker<MeDsp>& c) {
  static const char* const sad_names[4] = {"sad_full", "sad_h", "sad_v", "sad_hv"};
  static const char* const sse_names[4] = {"sse_full", "sse_h", "sse_v", "sse_hv"};
  for (int m = 0; m < 4; ++m) check_dist(c, sad_names[m], kSad[m], m);
  for (int m = 0; m < 4; ++m) check_dist(c, sse_names[m], kSse[m], m);
  check_limit(c, "sad16_limit", &MeDsp::sad16_limit);
  check_limit(c, "sad16_checker_limit", &MeDsp::sad16_checker_limit);
  using FieldsFn = FieldSums (*)(const uint8_t*, const uint8_t*, int, int, FieldSums);
  static const std::pair<const char*, FieldsFn MeDsp::*> field_kernels[] = {
      {"sad16_fields", &MeDsp::sad16_fields}, {"sad16_fields_sub", &MeDsp::sad16_fields_sub}};
  for (const auto& [name, fn] : field_kernels)
    if (const auto k = c.kernel(name, fn)) {
      for (const Case& s : cases(c.rng())) {
        Block src(16, s.height, s.stride, 0, s.align_src, s.how, c.rng());
        Block ref(16, s.height, s.stride, 0, s.align_ref, s.how, c.rng());
        if (s.similar) resemble(ref, src, c.rng());
        for (uint32_t a : kLimits)
          for (uint32_t b : {0u, 300u, 65535u}) {
            const FieldSums lim{a, b, a / 2};
            if (!same_sums(c, k.ref(src.at(), ref.at(), s.stride, s.height, lim),
                           k.cand(src.at(), ref.at(), s.stride, s.height, lim), s, name))
              return;
          }
      }
      Block a(16, 16, 720, 0, 0, Fill::random, c.rng()), b(16, 16, 720, 0, 0, Fill::random, c.rng());
      c.bench([&] { k.cand(a.at(), b.at(), 720, 16, {UINT32_MAX, UINT32_MAX, UINT32_MAX}); });
    }
  if (const auto k = c.kernel("match_8x8", &MeDsp::match_8x8)) {
    for (const Case& s : cases(c.rng())) {
      Block src(8, 8, s.stride / 2, 0, s.align_src, s.how, c.rng());
      Block ref(8, 8, s.stride / 2, 0, s.align_ref, s.how, c.rng());
      if (s.similar) resemble(ref, src, c.rng());
      for (uint32_t limit : kLimits)
        if (!agree(c, k.ref(src.at(), ref.at(), s.stride / 2, limit), k.cand(src.at(), ref.at(), s.stride / 2, limit),
                   s, "match_8x8"))
          return;
    }
    Block a(8, 8, 360, 0, 0, Fill::random, c.rng()), b(8, 8, 360, 0, 0, Fill::random, c.rng());
    c.bench([&] { k.cand(a.at(), b.at(), 360, UINT32_MAX); });
  }
  if (const auto k = c.kernel("match_8x8_row8", &MeDsp::match_8x8_row8)) {
    for (const Case& s : cases(c.rng())) {
      Block src(8, 8, s.stride / 2, 0, s.align_src, s.how, c.rng());
      Block ref(16, 8, s.stride / 2, 0, s.align_ref, s.how, c.rng());
      if (s.similar) resemble(ref, src, c.rng());
      uint32_t a[8], b[8];
      k.ref(src.at(), ref.at(), s.stride / 2, a);
      k.cand(src.at(), ref.at(), s.stride / 2, b);
      for (int i = 0; i < 8; ++i)
        if (!agree(c, a[i], b[i], s, ("match_8x8_row8 column " + std::to_string(i)).c_str())) return;
    }
    Block a(8, 8, 360, 0, 0, Fill::random, c.rng()), b(16, 8, 360, 0, 0, Fill::random, c.rng());
    uint32_t out[8];
    c.bench([&] { k.cand(a.at(), b.at(), 360, out); });
  }
  if (const auto k = c.kernel("match_8x8_fields", &MeDsp::match_8x8_fields)) {
    for (const Case& s : cases(c.rng())) {
      Block src(8, 8, s.stride / 2, 0, s.align_src, s.how, c.rng());
      Block ref(8, 8, s.stride / 2, 0, s.align_ref, s.how, c.rng());
      if (s.similar) resemble(ref, src, c.rng());
      for (uint32_t a : kLimits)
        for (uint32_t b : {0u, 100u, 16383u}) {
          const FieldSums lim{a, b, a / 3};
          if (!same_sums(c, k.ref(src.at(), ref.at(), s.stride / 2, lim), k.cand(src.at(), ref.at(), s.stride / 2, lim),
                         s, "match_8x8_fields"))
            return;
        }
    }
    Block a(8, 8, 360, 0, 0, Fill::random, c.rng()), b(8, 8, 360, 0, 0, Fill::random, c.rng());
    c.bench([&] { k.cand(a.at(), b.at(), 360, {16383, 16383, 16383}); });
  }
  if (const auto k = c.kernel("match_4x4", &MeDsp::match_4x4)) {
    for (const Case& s : cases(c.rng())) {
      Block src(4, 4, s.stride / 4, 0, s.align_src, s.how, c.rng()), ref(4, 4, s.stride / 4, 0, s.align_ref, s.how, c.rng());
      for (uint32_t limit : kLimits)
        if (!agree(c, k.ref(src.at(), ref.at(), s.stride / 4, limit), k.cand(src.at(), ref.at(), s.stride / 4, limit),
                   s, "match_4x4"))
          return;
    }
  }
  if (const auto k = c.kernel("sad_half9", &MeDsp::sad_half9)) {
    for (const Case& s : cases(c.rng())) {
      Block src(16, s.height, s.stride, 0, s.align_src, s.how, c.rng());
      // One line and column around the block on every side.
      Block ref(17, s.height + 1, s.stride, 1, s.align_ref, s.how, c.rng());
      if (s.similar) resemble(ref, src, c.rng());
      uint32_t a[9], b[9];
      k.ref(src.at(), ref.at(), s.stride, s.height, a);
      k.cand(src.at(), ref.at(), s.stride, s.height, b);
      for (int i = 0; i < 9; ++i)
        if (!agree(c, a[i], b[i], s, ("sad_half9 candidate " + std::to_string(i)).c_str())) return;
    }
    Block a(16, 16, 720, 0, 0, Fill::random, c.rng()), b(17, 17, 720, 1, 0, Fill::random, c.rng());
    uint32_t out[9];
    c.bench([&] { k.cand(a.at(), b.at(), 720, 16, out); });
  }
  if (const auto k = c.kernel("mb_variance", &MeDsp::mb_variance)) {
    for (const Case& s : cases(c.rng())) {
      Block p(16, 16, s.stride, 0, s.align_src, s.how, c.rng());
      if (!agree(c, k.ref(p.at(), s.stride), k.cand(p.at(), s.stride), s, "mb_variance")) return;
    }
    Block a(16, 16, 720, 0, 0, Fill::random, c.rng());
    c.bench([&] { k.cand(a.at(), 720); });
  }
}

checkasm::Family<MeDsp> family("MeDsp", me_dsp_for, check_me);

// MeDsp keeps its two-reference sums in arrays, whose elements a member
// pointer cannot name: the harness sees the same pointers, one member each.
struct MeBiKernels {
  DistBiFn sse_bi0, sse_bi1, sse_bi2, sse_bi3, sse_bi4, sse_bi5, sse_bi6, sse_bi7, sse_bi8, sse_bi9, sse_bi10,
      sse_bi11, sse_bi12, sse_bi13, sse_bi14, sse_bi15;
  DistBiFn sad_bi0, sad_bi1, sad_bi2, sad_bi3, sad_bi4, sad_bi5, sad_bi6, sad_bi7, sad_bi8, sad_bi9, sad_bi10,
      sad_bi11, sad_bi12, sad_bi13, sad_bi14, sad_bi15;
};
// [0] squared, [1] absolute differences.
constexpr DistBiFn MeBiKernels::*kBi[2][16] = {
    {&MeBiKernels::sse_bi0, &MeBiKernels::sse_bi1, &MeBiKernels::sse_bi2, &MeBiKernels::sse_bi3,
     &MeBiKernels::sse_bi4, &MeBiKernels::sse_bi5, &MeBiKernels::sse_bi6, &MeBiKernels::sse_bi7,
     &MeBiKernels::sse_bi8, &MeBiKernels::sse_bi9, &MeBiKernels::sse_bi10, &MeBiKernels::sse_bi11,
     &MeBiKernels::sse_bi12, &MeBiKernels::sse_bi13, &MeBiKernels::sse_bi14, &MeBiKernels::sse_bi15},
    {&MeBiKernels::sad_bi0, &MeBiKernels::sad_bi1, &MeBiKernels::sad_bi2, &MeBiKernels::sad_bi3,
     &MeBiKernels::sad_bi4, &MeBiKernels::sad_bi5, &MeBiKernels::sad_bi6, &MeBiKernels::sad_bi7,
     &MeBiKernels::sad_bi8, &MeBiKernels::sad_bi9, &MeBiKernels::sad_bi10, &MeBiKernels::sad_bi11,
     &MeBiKernels::sad_bi12, &MeBiKernels::sad_bi13, &MeBiKernels::sad_bi14, &MeBiKernels::sad_bi15}};

const MeBiKernels* me_bi_for(CpuLevel level) {
  static const auto tables = [] {
    std::array<std::optional<MeBiKernels>, std::size(checkasm::kLevels)> t;
    for (CpuLevel l : checkasm::kLevels)
      if (const MeDsp* d = me_dsp_for(l)) {
        MeBiKernels k{};
        for (int i = 0; i < 16; ++i) k.*kBi[0][i] = d->sse_bi[i], k.*kBi[1][i] = d->sad_bi[i];
        t[static_cast<size_t>(l)] = k;
      }
    return t;
  }();
  const auto& t = tables[static_cast<size_t>(level)];
  return t ? &*t : nullptr;
}

void check_me_bi(checkasm::Checker<MeBiKernels>& c) {
  static const char* const modes[4] = {"full", "h", "v", "hv"};
  for (int j = 0; j < 32; ++j) {
    const int i = j & 15;
    const std::string name = std::string(j < 16 ? "sse_bi_" : "sad_bi_") + modes[i & 3] + "_" + modes[i >> 2];
    const auto k = c.kernel(name.c_str(), kBi[j >> 4][i]);
    if (!k) continue;
    for (const Case& s : cases(c.rng())) {
      Block src(16, s.height, s.stride, 0, s.align_src, s.how, c.rng());
      Block f(16 + (i & 1), s.height + (i >> 1 & 1), s.stride, 0, s.align_ref, s.how, c.rng());
      Block b(16 + (i >> 2 & 1), s.height + (i >> 3), s.stride, 0, (s.align_ref * 7 + 3) % 64, s.how, c.rng());
      if (s.similar) resemble(f, src, c.rng());
      const uint32_t want = k.ref(src.at(), f.at(), b.at(), s.stride, s.height);
      const uint32_t got = k.cand(src.at(), f.at(), b.at(), s.stride, s.height);
      if (want != got) {
        c.fail("%s: %u, plain %u; stride %d, height %d, %s", name.c_str(), got, want, s.stride, s.height,
               checkasm::fill_name(s.how));
        break;
      }
    }
    Block a(16, 16, 720, 0, 0, Fill::random, c.rng()), f(17, 17, 720, 0, 0, Fill::random, c.rng()),
        b(17, 17, 720, 0, 0, Fill::random, c.rng());
    c.bench([&] { k.cand(a.at(), f.at(), b.at(), 720, 16); });
  }
}

checkasm::Family<MeBiKernels> bi_family("MeBiDsp", me_bi_for, check_me_bi);

}  // namespace
