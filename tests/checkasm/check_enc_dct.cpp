// Forward DCT kernels: random blocks over the whole 16-bit range (the
// 32-bit wraps and the 16-bit saturation must agree too), the encoder's
// -255..255 sample differences, basis-sign patterns at the limits and
// single values at every position.
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "checkasm.h"
#include "encode/enc_dct.h"

namespace {

struct Block {
  std::string what;
  int16_t c[64] = {};
};

std::vector<Block> blocks(std::mt19937& rng) {
  std::vector<Block> out;
  for (int i = 0; i < 500; ++i) {
    Block b{"random16 #" + std::to_string(i)};
    for (int16_t& v : b.c) v = static_cast<int16_t>(rng());
    out.push_back(b);
    Block d{"difference #" + std::to_string(i)};
    for (int16_t& v : d.c) v = static_cast<int16_t>(static_cast<int>(rng() % 511) - 255);
    out.push_back(d);
  }
  for (int u = 0; u < 8; ++u)
    for (int v = 0; v < 8; ++v)
      for (int s : {255, -255, 32767, -32768}) {
        Block b{"basis " + std::to_string(u) + "," + std::to_string(v) + " at " + std::to_string(s)};
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) {
            const double c = std::cos((2 * y + 1) * u * M_PI / 16) * std::cos((2 * x + 1) * v * M_PI / 16);
            b.c[8 * y + x] = static_cast<int16_t>(c >= 0 ? s : (s == -32768 ? 32767 : -s));
          }
        out.push_back(b);
      }
  for (int p = 0; p < 64; ++p)
    for (int s : {255, -255, 32767, -32768}) {
      Block b{"single " + std::to_string(p) + " = " + std::to_string(s)};
      b.c[p] = static_cast<int16_t>(s);
      out.push_back(b);
    }
  return out;
}

void check_enc_dct(checkasm::Checker<EncDctDsp>& c) {
  if (auto k = c.kernel("fdct", &EncDctDsp::fdct)) {
    for (const Block& b : blocks(c.rng())) {
      alignas(32) int16_t r[64], x[64];
      std::memcpy(r, b.c, sizeof r);
      std::memcpy(x, b.c, sizeof x);
      k.ref(r);
      k.cand(x);
      for (int i = 0; i < 64; ++i)
        if (r[i] != x[i]) {
          c.fail("%s: coefficient %d is %d, plain %d", b.what.c_str(), i, x[i], r[i]);
          return;
        }
    }
    alignas(32) int16_t t[64];
    for (int i = 0; i < 64; ++i) t[i] = static_cast<int16_t>((i * 37) % 200 - 100);
    c.bench([&] { k.cand(t); });
  }
}

// Quantiser steps of a random 8-bit matrix at a random quantiser.
void random_steps(std::mt19937& rng, QuantSteps* s, int32_t* m, int* mq, bool intra) {
  uint8_t w[64];
  for (uint8_t& v : w) v = static_cast<uint8_t>(1 + rng() % 255);
  scale_quant_matrix(m, w);
  const int qs[] = {1, 2, 4, 8, 31, 62, 112};
  *mq = qs[rng() % 7];
  make_quant_steps(s, m, *mq, intra);
}

void check_quant(checkasm::Checker<EncDctDsp>& c) {
  const int maxes[] = {255, 2047};
  if (auto k = c.kernel("quant_intra_steps", &EncDctDsp::quant_intra_steps)) {
    for (int n = 0; n < 4000; ++n) {
      QuantSteps s;
      int32_t m[64];
      int mq;
      random_steps(c.rng(), &s, m, &mq, true);
      alignas(32) int16_t src[65], r[65], x[65];
      for (int i = 0; i < 64; ++i)
        src[i] = static_cast<int16_t>(n % 3 == 0 ? static_cast<int>(c.rng()()) : n % 3 == 1 ? static_cast<int>(c.rng()() % 4096) - 2048 : static_cast<int>(c.rng()() % 64) - 32);
      const int prec = n & 3, max = maxes[n & 1];
      const int rr = k.ref(src, &s, prec, max, r), rx = k.cand(src, &s, prec, max, x);
      if (rr != rx || std::memcmp(r, x, sizeof r) != 0) {
        c.fail("intra block %d (quantiser %d): results differ", n, mq);
        return;
      }
    }
    QuantSteps s;
    int32_t m[64];
    int mq;
    random_steps(c.rng(), &s, m, &mq, true);
    alignas(32) int16_t t[65];
    for (int i = 0; i < 64; ++i) t[i] = static_cast<int16_t>((i * 37) % 200 - 100);
    c.bench([&] { k.cand(t, &s, 2, 2047, t); });
  }
  if (auto k = c.kernel("quant_non_intra_steps", &EncDctDsp::quant_non_intra_steps)) {
    for (int n = 0; n < 4000; ++n) {
      QuantSteps s;
      int32_t m[64];
      int mq;
      random_steps(c.rng(), &s, m, &mq, false);
      alignas(32) int16_t src[65], r[65], x[65];
      for (int i = 0; i < 64; ++i)
        src[i] = static_cast<int16_t>(n % 3 == 0 ? static_cast<int>(c.rng()()) : n % 3 == 1 ? static_cast<int>(c.rng()() % 4096) - 2048 : static_cast<int>(c.rng()() % 64) - 32);
      const int max = maxes[n & 1];
      const int rr = k.ref(src, &s, max, r), rx = k.cand(src, &s, max, x);
      if (rr != rx || std::memcmp(r, x, sizeof r) != 0) {
        c.fail("non-intra block %d (quantiser %d): results differ", n, mq);
        return;
      }
    }
  }
}

void check_all(checkasm::Checker<EncDctDsp>& c) {
  check_enc_dct(c);
  check_quant(c);
}

checkasm::Family<EncDctDsp> family("EncDctDsp", enc_dct_dsp_for, check_all);

}  // namespace
