// JPEG inverse transform: coefficient blocks from small and sparse to
// anything a damaged file holds, single coefficients and the clamp limits
// at every position; dequantisation tables from 1 to 65535; several
// strides and every alignment of the 8 x 8 destination.
#include <cstring>
#include <memory>
#include <vector>

#include "checkasm.h"
#include "formats/jpeg_common.h"
#include "formats/jpeg_idct.h"

namespace {

using checkasm::Canvas;
using checkasm::Source;

constexpr int kKinds = 10;
const char* const kKindNames[kKinds] = {"small",      "sparse",     "any",          "extreme",   "zero",
                                        "dc only",    "one at limit", "all at limit", "near limit", "one extreme"};

void make_block(int kind, int iter, std::mt19937& rng, int16_t* c) {
  std::memset(c, 0, 64 * sizeof *c);
  const int pos = iter % 64;
  const int16_t sign = rng() & 1 ? 1 : -1;
  for (int i = 0; i < 64; ++i) {
    switch (kind) {
      case 0: c[i] = static_cast<int16_t>(static_cast<int>(rng() % 64) - 32); break;
      case 1: if (rng() % 6 == 0) c[i] = static_cast<int16_t>(static_cast<int>(rng() % 2048) - 1024); break;
      case 2: c[i] = static_cast<int16_t>(rng()); break;
      case 3: c[i] = rng() & 1 ? 32767 : -32768; break;
      case 7: c[i] = static_cast<int16_t>(sign * 4096); break;  // the coefficient clamp
      case 8: c[i] = static_cast<int16_t>((rng() & 1 ? 1 : -1) * static_cast<int>(4094 + rng() % 5)); break;
      default: break;
    }
  }
  if (kind == 5) c[0] = static_cast<int16_t>(rng() % 3 == 0 ? sign * 4096 : (rng() & 1 ? 32767 : -32768));
  if (kind == 6) c[pos] = static_cast<int16_t>(sign * 4096);
  if (kind == 9) c[pos] = rng() & 1 ? 32767 : -32768;
}

// Dequantisation tables as the decoder builds them: random, all 1, all
// 65535 (16-bit tables at their largest), and the standard ones at
// qualities 1, 50 and 100.
std::vector<std::unique_ptr<Quant>> tables(std::mt19937& rng) {
  std::vector<std::unique_ptr<Quant>> qs;
  uint16_t v[3][64];
  for (int i = 0; i < 64; ++i) {
    v[0][i] = static_cast<uint16_t>(1 + rng() % 255);
    v[1][i] = 1;
    v[2][i] = 65535;
  }
  auto q = std::make_unique<Quant>(50);
  for (int t = 0; t < 3; ++t) q->add_decode_table(t, v[t]);
  qs.push_back(std::move(q));
  for (int quality : {1, 50, 100}) {
    auto s = std::make_unique<Quant>(quality);
    s->add_decode_table(0, s->encode_table(0));
    s->add_decode_table(1, s->encode_table(1));
    qs.push_back(std::move(s));
  }
  return qs;
}

void check_jpeg_idct(checkasm::Checker<JpegIdctDsp>& c) {
  const auto k = c.kernel("put", &JpegIdctDsp::put);
  if (!k) return;
  const auto qs = tables(c.rng());
  std::vector<const int32_t*> dq;
  for (int t = 0; t < 3; ++t) dq.push_back(qs[0]->decode_table(t));
  for (size_t i = 1; i < qs.size(); ++i)
    for (int t = 0; t < 2; ++t) dq.push_back(qs[i]->decode_table(t));
  const int strides[] = {8, 9, 13, 16, 64};
  for (int iter = 0; iter < 8000; ++iter) {
    const int kind = iter % kKinds;
    // Inputs in their own allocations, at every even (int16) and every
    // fourth (int32) offset.
    Source coef(64 * sizeof(int16_t), 2 * (iter % 32)), quant(64 * sizeof(int32_t), 4 * (iter % 16));
    int16_t* block = reinterpret_cast<int16_t*>(coef.data());
    make_block(kind, iter / kKinds, c.rng(), block);
    const int table = static_cast<int>((iter / kKinds) % dq.size());
    std::memcpy(quant.data(), dq[table], 64 * sizeof(int32_t));
    const int32_t* q = reinterpret_cast<const int32_t*>(quant.data());
    const int stride = strides[(iter / 7) % 5], align = iter % 64;
    const uint32_t seed = c.rng()();
    Canvas ref(8, 8, stride, align, seed), cand(8, 8, stride, align, seed);
    k.ref(block, q, ref.data(), stride);
    k.cand(block, q, cand.data(), stride);
    if (!c.same(ref, cand, "block %s (iteration %d), table %d, stride %d, alignment %d", kKindNames[kind], iter,
                table, stride, align))
      return;
  }
  int16_t block[64];
  make_block(1, 0, c.rng(), block);
  uint8_t out[8 * 8];
  const int32_t* q = qs[2]->decode_table(0);
  c.bench([&] { k.cand(block, q, out, 8); });
}

checkasm::Family<JpegIdctDsp> family("JpegIdctDsp", jpeg_idct_dsp_for, check_jpeg_idct);

}  // namespace
