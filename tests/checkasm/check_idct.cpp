// Inverse transform kernels: random, sparse and saturating coefficient
// blocks, one coefficient at either limit at every position, DC-only and
// DC+63 blocks over the whole DC range; every line stride the decoder
// writes blocks with, every alignment of block and destination, and
// destinations at 0, 255 and in between for the kernels that add. The
// kernels for blocks in rows 0-3 meet the same blocks cut to those rows,
// each with 0 and 1 at 63, against the plain full transform.
#include <cmath>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "checkasm.h"
#include "decode/idct.h"

namespace {

using checkasm::Canvas;
using checkasm::Fill;
using checkasm::Source;

// Scratch blocks (8), small pictures, 720 and 1920 wide frames with their
// chroma, each doubled for field lines.
constexpr int kStrides[] = {8, 16, 32, 64, 360, 720, 960, 1440, 1920, 3840};
constexpr int kStrideCount = static_cast<int>(std::size(kStrides));
constexpr int kFillCount = static_cast<int>(std::size(checkasm::kFills));

// The coefficient range the kernels accept.
constexpr int kLow = -2048, kHigh = 2047;

struct Block {
  std::string what;
  int16_t c[64] = {};
};

// Sign of basis function u at sample x.
int basis_sign(int u, int x) { return std::cos((2 * x + 1) * u * M_PI / 16) < 0 ? -1 : 1; }

// What the timed calls transform: a coded block's few low frequencies.
Block typical_block() {
  Block b{"typical"};
  b.c[0] = 120;
  b.c[1] = -37;
  b.c[2] = 4;
  b.c[8] = 22;
  b.c[9] = 5;
  b.c[16] = -9;
  return b;
}

std::vector<Block> blocks(std::mt19937& rng) {
  std::vector<Block> out;
  auto add = [&](std::string what) -> int16_t* {
    out.push_back(Block{std::move(what)});
    return out.back().c;
  };
  auto coef = [&] { return static_cast<int16_t>(kLow + static_cast<int>(rng() % 4096)); };
  auto limit = [](int sign) { return static_cast<int16_t>(sign > 0 ? kHigh : kLow); };
  for (int i = 0; i < 600; ++i) {
    int16_t* b = add("random #" + std::to_string(i));
    for (int k = 0; k < 64; ++k) b[k] = coef();
  }
  // Coded blocks: a few coefficients, most of them in the first rows.
  for (int i = 0; i < 600; ++i) {
    int16_t* b = add("sparse #" + std::to_string(i));
    for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n) b[rng() % (n > 2 ? 64 : 16)] = coef();
  }
  for (int pos = 0; pos < 64; ++pos)
    for (int v : {kLow, kHigh, -1, 1})
      add(std::to_string(v) + " alone at " + std::to_string(pos))[pos] = static_cast<int16_t>(v);
  // Every coefficient at the limit with the sign of its basis at (x, y):
  // the largest sum that output can get, which saturates the row pass and
  // the final clamp.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      for (int sign : {1, -1}) {
        int16_t* b = add("extreme towards " + std::string(sign > 0 ? "+" : "-") + " at (" + std::to_string(x) + ", " +
                         std::to_string(y) + ")");
        for (int v = 0; v < 8; ++v)
          for (int u = 0; u < 8; ++u) b[8 * v + u] = limit(sign * basis_sign(u, x) * basis_sign(v, y));
      }
  for (int i = 0; i < 200; ++i) {
    int16_t* b = add("random limits #" + std::to_string(i));
    for (int k = 0; k < 64; ++k) b[k] = limit(rng() & 1 ? 1 : -1);
  }
  for (int sign : {1, -1}) {
    int16_t* b = add(sign > 0 ? "all high" : "all low");
    for (int k = 0; k < 64; ++k) b[k] = limit(sign);
  }
  // Steps prime to 8 meet every rounding phase of (dc + 4) >> 3.
  for (int dc = kLow; dc <= kHigh; dc += 5) add("dc " + std::to_string(dc))[0] = static_cast<int16_t>(dc);
  for (int dc = kLow; dc <= kHigh; dc += 3)
    for (int c63 : {1, -1}) {
      int16_t* b = add("dc " + std::to_string(dc) + " c63 " + std::to_string(c63));
      b[0] = static_cast<int16_t>(dc);
      b[63] = static_cast<int16_t>(c63);
    }
  return out;
}

// The blocks put_upper and add_upper take: rows 0-3 of every block above,
// with 0 and with 1 at 63.
std::vector<Block> upper_blocks(std::mt19937& rng) {
  std::vector<Block> out;
  for (const Block& from : blocks(rng))
    for (int c63 : {0, 1}) {
      Block b{from.what + " in rows 0-3, c63 " + std::to_string(c63)};
      std::memcpy(b.c, from.c, 32 * sizeof(int16_t));
      b.c[63] = static_cast<int16_t>(c63);
      out.push_back(b);
    }
  return out;
}

bool zeroed(const int16_t* b) {
  for (int k = 0; k < 64; ++k)
    if (b[k]) return false;
  return true;
}

// The same fill in the 8 x 8 areas of both canvases.
void fill_area(Canvas& a, Canvas& b, Fill how, std::mt19937& rng) {
  for (int y = 0; y < 8; ++y) {
    uint8_t* row = a.data() + static_cast<ptrdiff_t>(y) * a.stride();
    checkasm::fill(row, 8, how, rng);
    std::memcpy(b.data() + static_cast<ptrdiff_t>(y) * b.stride(), row, 8);
  }
}

// A block in an allocation of its own that ends with it.
int16_t* copy_block(Source& s, const int16_t* from) {
  std::memcpy(s.data(), from, 64 * sizeof(int16_t));
  return reinterpret_cast<int16_t*>(s.data());
}

using StoreFn = void (*)(int16_t* block, uint8_t* dst, int stride);

// put or add on every block: the i-th block at the i-th stride, alignment
// and destination fill, so each kind of block meets them all.
void check_store(checkasm::Checker<IdctDsp>& c, const checkasm::Kernel<StoreFn>& k, const std::vector<Block>& set) {
  for (size_t i = 0; i < set.size(); ++i) {
    const int stride = kStrides[i % kStrideCount], align = static_cast<int>(i % 64);
    const int block_align = static_cast<int>(2 * (i / 64 % 32));
    const Fill how = checkasm::kFills[i % kFillCount];
    const uint32_t seed = c.rng()();
    Canvas ref(8, 8, stride, align, seed), cand(8, 8, stride, align, seed);
    fill_area(ref, cand, how, c.rng());
    Source ref_block(128, block_align), cand_block(128, block_align);
    int16_t* rb = copy_block(ref_block, set[i].c);
    int16_t* cb = copy_block(cand_block, set[i].c);
    k.ref(rb, ref.data(), stride);
    k.cand(cb, cand.data(), stride);
    const char* what = set[i].what.c_str();
    const char* fill = checkasm::fill_name(how);
    if (!c.same(ref, cand, "block %s, stride %d, destination %s at alignment %d", what, stride, fill, align)) return;
    if (!zeroed(rb)) {
      c.fail("the plain kernel left block %s uncleared", what);
      return;
    }
    if (!zeroed(cb)) {
      c.fail("left block %s uncleared (stride %d, block alignment %d)", what, stride, block_align);
      return;
    }
  }
  const Block typical = typical_block();
  std::vector<uint8_t> frame(7 * 720 + 8);
  int16_t work[64];
  c.bench([&] {
    std::memcpy(work, typical.c, sizeof work);
    k.cand(work, frame.data(), 720);
  });
}

void check_transform(checkasm::Checker<IdctDsp>& c) {
  const auto k = c.kernel("transform", &IdctDsp::transform);
  if (!k) return;
  const std::vector<Block> set = blocks(c.rng());
  // The block is the destination: 128 bytes with guards on both sides.
  for (size_t i = 0; i < set.size(); ++i) {
    const int align = static_cast<int>(2 * (i % 32));
    const uint32_t seed = c.rng()();
    Canvas ref(128, 1, 128, align, seed), cand(128, 1, 128, align, seed);
    std::memcpy(ref.data(), set[i].c, 128);
    std::memcpy(cand.data(), set[i].c, 128);
    k.ref(reinterpret_cast<int16_t*>(ref.data()));
    k.cand(reinterpret_cast<int16_t*>(cand.data()));
    if (!c.same(ref, cand, "block %s at alignment %d (bytes: two per coefficient)", set[i].what.c_str(), align)) return;
  }
  const Block typical = typical_block();
  int16_t work[64];
  c.bench([&] {
    std::memcpy(work, typical.c, sizeof work);
    k.cand(work);
  });
}

using DcFn = void (*)(uint8_t* dst, int stride, int v);

// put_dc / add_dc: every value of the DC range on every destination fill.
void check_dc(checkasm::Checker<IdctDsp>& c, const checkasm::Kernel<DcFn>& k) {
  int i = 0;
  for (int v = -256; v <= 255; ++v)
    for (Fill how : checkasm::kFills) {
      const int stride = kStrides[i % kStrideCount], align = i % 64;
      ++i;
      const uint32_t seed = c.rng()();
      Canvas ref(8, 8, stride, align, seed), cand(8, 8, stride, align, seed);
      fill_area(ref, cand, how, c.rng());
      k.ref(ref.data(), stride, v);
      k.cand(cand.data(), stride, v);
      if (!c.same(ref, cand, "value %d, stride %d, destination %s at alignment %d", v, stride, checkasm::fill_name(how),
                  align))
        return;
    }
  uint8_t frame[7 * 720 + 8];
  c.bench([&] { k.cand(frame, 720, 37); });
}

// dc63: the whole DC range with c63 = +-1 (the case mismatch control
// makes), storing and adding; other c63 values on a sample of DCs.
void check_dc63(checkasm::Checker<IdctDsp>& c) {
  const auto k = c.kernel("dc63", &IdctDsp::dc63);
  if (!k) return;
  struct Input {
    int dc, c63, mode;
  };
  std::vector<Input> inputs;
  for (int dc = kLow; dc <= kHigh; ++dc)
    for (int c63 : {1, -1})
      for (int mode : {0, 1}) inputs.push_back({dc, c63, mode});
  for (int dc = kLow; dc <= kHigh; dc += 31)
    for (int c63 : {kLow, -7, -2, 2, 3, kHigh})
      for (int mode : {0, 1}) inputs.push_back({dc, c63, mode});
  for (size_t i = 0; i < inputs.size(); ++i) {
    const Input& in = inputs[i];
    // Content is what varies here: small strides mostly, every stride now and then.
    const int stride = i % 16 ? kStrides[i % 4] : kStrides[i / 16 % kStrideCount];
    const int align = static_cast<int>(i % 64);
    const Fill how = checkasm::kFills[i / 4 % kFillCount];
    const uint32_t seed = c.rng()();
    Canvas ref(8, 8, stride, align, seed), cand(8, 8, stride, align, seed);
    fill_area(ref, cand, how, c.rng());
    k.ref(in.dc, in.c63, ref.data(), stride, in.mode);
    k.cand(in.dc, in.c63, cand.data(), stride, in.mode);
    if (!c.same(ref, cand, "dc %d, c63 %d, %s, stride %d, destination %s at alignment %d", in.dc, in.c63,
                in.mode ? "adding" : "storing", stride, checkasm::fill_name(how), align))
      return;
  }
  uint8_t frame[7 * 720 + 8];
  c.bench([&] { k.cand(1000, -1, frame, 720, 0); });
}

void check_idct(checkasm::Checker<IdctDsp>& c) {
  check_transform(c);
  if (auto k = c.kernel("put", &IdctDsp::put)) check_store(c, k, blocks(c.rng()));
  if (auto k = c.kernel("add", &IdctDsp::add)) check_store(c, k, blocks(c.rng()));
  if (auto k = c.kernel("put_upper", &IdctDsp::put_upper)) check_store(c, k, upper_blocks(c.rng()));
  if (auto k = c.kernel("add_upper", &IdctDsp::add_upper)) check_store(c, k, upper_blocks(c.rng()));
  if (auto k = c.kernel("put_dc", &IdctDsp::put_dc)) check_dc(c, k);
  if (auto k = c.kernel("add_dc", &IdctDsp::add_dc)) check_dc(c, k);
  check_dc63(c);
}

checkasm::Family<IdctDsp> family("IdctDsp", idct_dsp_for, check_idct);

}  // namespace
