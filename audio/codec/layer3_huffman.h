// Layer III Huffman tables: the code words as transcribed, and the lookup
// tables the decoder builds from them once per process.
#pragma once

#include <cstdint>

#include "foundation/bitstream.h"

// One code table as transcribed: codes[x * size + y] of lengths[...] bits.
// Tables 32 and 33 are the quadruple tables A and B (size 4: v*8+w*4+x*2+y
// as a 16-entry row).
struct HuffSource {
  const uint16_t* codes;
  const uint8_t* lengths;
  int size;      // values per axis: 2, 3, 4, 6, 8 or 16 (4 for A and B)
  int linbits;   // bits of the escape extension for a value of 15
};
extern const HuffSource kHuffSources[34];

// Lookup tables: a first level indexed by the next root_bits bits, then
// sub-tables for longer codes. A leaf holds the value in bits 0-15 and the
// bits to consume in bits 16-20 (0: no such code); a link has bit 31 set,
// the sub-table's index width in bits 24-28 and its offset in bits 0-23.
struct HuffLookup {
  const uint32_t* entries = nullptr;
  int root_bits = 0;
  int linbits = 0;
};

// The lookup for table 0..33; null entries for the unused tables 0, 4, 14.
const HuffLookup* huff_lookup(int table);

// Decodes one code word: the value (x * 16 + y for pairs, the 4-bit
// quadruple for tables 32/33). Returns -1 for a bit pattern that is no code.
inline int huff_decode(BS& bs, const HuffLookup& t) {
  uint32_t e = t.entries[bs.show_bits(t.root_bits)];
  if (e & 0x80000000u) {
    bs.skip_bits(t.root_bits);
    const int sub_bits = static_cast<int>((e >> 24) & 0x1F);
    e = t.entries[(e & 0xFFFFFFu) + bs.show_bits(sub_bits)];
  }
  if (e == 0) return -1;
  bs.skip_bits(static_cast<int>((e >> 16) & 0x1F));
  return static_cast<int>(e & 0xFFFF);
}
