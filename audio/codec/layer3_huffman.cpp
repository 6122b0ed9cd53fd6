// Builds the two-level Huffman lookup tables from the transcribed codes.
#include "audio/codec/layer3_huffman.h"

#include <mutex>
#include <vector>

namespace {

// Leaf: value in bits 0-15, bits to consume in bits 16-20; 0 means no code
// (value 0 always has a code of its own, so a leaf is never 0: its length
// is at least 1). Link: bit 31 set, index width in bits 24-28, sub-table
// offset in bits 0-23.
constexpr int kRootBits = 8;

struct Built {
  std::vector<uint32_t> store[34];
  HuffLookup lookup[34];
};

Built* g_built = nullptr;
std::once_flag g_once;

void build_table(int t, Built& b) {
  const HuffSource& s = kHuffSources[t];
  if (!s.codes) return;
  const int n = s.size == 4 && t >= 32 ? 16 : s.size * s.size;
  int maxlen = 0;
  for (int i = 0; i < n; ++i) maxlen = s.lengths[i] > maxlen ? s.lengths[i] : maxlen;
  const int root = maxlen < kRootBits ? maxlen : kRootBits;
  std::vector<uint32_t>& e = b.store[t];
  e.assign(size_t{1} << root, 0);
  auto value_of = [&](int i) {
    if (t >= 32) return i;
    return (i / s.size) * 16 + (i % s.size);
  };
  // Short codes fill their range of the root directly.
  for (int i = 0; i < n; ++i) {
    const int len = s.lengths[i];
    if (len > root) continue;
    const uint32_t first = static_cast<uint32_t>(s.codes[i]) << (root - len);
    for (uint32_t k = 0; k < (1u << (root - len)); ++k)
      e[first + k] = static_cast<uint32_t>(value_of(i)) | static_cast<uint32_t>(len) << 16;
  }
  // Longer codes: one sub-table per root prefix, as wide as the longest
  // code under it needs.
  for (uint32_t prefix = 0; prefix < (1u << root); ++prefix) {
    int sub = 0;
    for (int i = 0; i < n; ++i) {
      const int len = s.lengths[i];
      if (len <= root || (static_cast<uint32_t>(s.codes[i]) >> (len - root)) != prefix) continue;
      if (len - root > sub) sub = len - root;
    }
    if (!sub) continue;
    const size_t off = e.size();
    e.resize(off + (size_t{1} << sub), 0);
    e[prefix] = 0x80000000u | static_cast<uint32_t>(sub) << 24 | static_cast<uint32_t>(off);
    for (int i = 0; i < n; ++i) {
      const int len = s.lengths[i];
      if (len <= root || (static_cast<uint32_t>(s.codes[i]) >> (len - root)) != prefix) continue;
      const int rest = len - root;
      const uint32_t low = static_cast<uint32_t>(s.codes[i]) & ((1u << rest) - 1);
      const uint32_t first = low << (sub - rest);
      for (uint32_t k = 0; k < (1u << (sub - rest)); ++k)
        e[off + first + k] = static_cast<uint32_t>(value_of(i)) | static_cast<uint32_t>(rest) << 16;
    }
  }
  b.lookup[t].entries = e.data();
  b.lookup[t].root_bits = root;
  b.lookup[t].linbits = s.linbits;
}

}  // namespace

const HuffLookup* huff_lookup(int table) {
  std::call_once(g_once, [] {
    static Built built;
    for (int t = 0; t < 34; ++t) build_table(t, built);
    g_built = &built;
  });
  if (table < 0 || table > 33 || !g_built->lookup[table].entries) return nullptr;
  return &g_built->lookup[table];
}
