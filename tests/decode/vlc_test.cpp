// Code tables: every code decodes to its value and length through the lookup
// tables; every window that starts with no code yields "no code"; each table
// is prefix-free and leaves unused exactly the windows the syntax forbids.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/video_vlc.h"
#include "foundation/seq_header.h"

namespace {

struct Code {
  uint32_t bits;
  int len;
};

Code parse(const char* s) {
  Code c{0, 0};
  for (; *s; ++s) {
    if (*s == ' ') continue;
    c.bits = (c.bits << 1) | (*s == '1');
    ++c.len;
  }
  return c;
}

// Kraft sum in units of 2^-window, with a prefix check.
long long kraft(const std::vector<Code>& codes, int window) {
  long long sum = 0;
  for (size_t i = 0; i < codes.size(); ++i) {
    sum += 1ll << (window - codes[i].len);
    for (size_t j = 0; j < codes.size(); ++j) {
      if (i == j || codes[j].len < codes[i].len) continue;
      EXPECT_NE(codes[j].bits >> (codes[j].len - codes[i].len), codes[i].bits)
          << "code " << i << " is a prefix of code " << j;
    }
  }
  return sum;
}

struct VlcCase {
  const char* name;
  const VlcList* list;
  const VlcEntry* table;
  int window;
  long long unused;  // windows (of 2^window) that start with no code
};

void check_vlc(const VlcCase& c) {
  SCOPED_TRACE(c.name);
  std::vector<Code> codes;
  std::vector<int> seen(1u << c.window, 0);
  for (int i = 0; i < c.list->count; ++i) {
    const Code k = parse(c.list->codes[i].bits);
    codes.push_back(k);
    const uint32_t first = k.bits << (c.window - k.len);
    for (uint32_t v = first; v < first + (1u << (c.window - k.len)); ++v) {
      ASSERT_EQ(c.table[v].len, k.len) << "window " << v;
      ASSERT_EQ(c.table[v].value, c.list->codes[i].value) << "window " << v;
      seen[v] = 1;
    }
  }
  long long unused = 0;
  for (uint32_t v = 0; v < seen.size(); ++v)
    if (!seen[v]) {
      EXPECT_EQ(c.table[v].len, 0) << "window " << v << " should be no code";
      ++unused;
    }
  EXPECT_EQ(unused, c.unused);
  EXPECT_EQ(kraft(codes, c.window), (1ll << c.window) - c.unused);
}

TEST(VlcTables, EveryCodeAndNonCode) {
  const VlcTables& t = vlc_tables();
  const VlcCase cases[] = {
      // 0000 0000 xxx, 0000 0001 001..110 and 0000 0010 xxx are no codes.
      {"address increment", &vlc_mb_address_increment, t.mb_addr, 11, 8 + 6 + 8},
      {"I macroblock type", &vlc_mb_type_i, t.mb_type_i, 2, 1},
      {"P macroblock type", &vlc_mb_type_p, t.mb_type_p, 6, 1},
      {"B macroblock type", &vlc_mb_type_b, t.mb_type_b, 6, 1},
      {"coded block pattern", &vlc_coded_block_pattern, t.cbp, 9, 1},
      {"motion code", &vlc_motion_code, t.motion, 11, 24},
      {"dmvector", &vlc_dmvector, t.dmv, 2, 0},
      {"dc size luma", &vlc_dc_size_luma, t.dc_luma, 9, 0},
      {"dc size chroma", &vlc_dc_size_chroma, t.dc_chroma, 10, 0},
  };
  for (const auto& c : cases) check_vlc(c);
}

// Spot values straight from the code tables, independent of the lists'
// order: catches a list entry typed against the wrong value.
TEST(VlcTables, KnownCodes) {
  const VlcTables& t = vlc_tables();
  EXPECT_EQ(t.mb_addr[0x400].value, 1);             // 1
  EXPECT_EQ(t.mb_addr[0b00000011000].value, 33);    // 0000 0011 000
  EXPECT_EQ(t.mb_addr[0b00000001000].value, MB_ADDR_ESCAPE);
  EXPECT_EQ(t.cbp[0b111000000].value, 60);          // 111
  EXPECT_EQ(t.cbp[0b000000001].value, 0);           // 0000 0000 1
  EXPECT_EQ(t.cbp[0b001100000].value, 63);          // 0011 00
  EXPECT_EQ(t.motion[0b00000011001].value, -16);
  EXPECT_EQ(t.motion[0b00000011000].value, 16);
  EXPECT_EQ(t.mb_type_b[0b000100].value, MB_QUANT | MB_FORWARD | MB_BACKWARD | MB_PATTERN);  // 0001 0
  EXPECT_EQ(t.dc_chroma[0b1111111111].value, 11);
  EXPECT_EQ(t.dc_luma[0b100000000].value, 0);
}

struct DctCase {
  const char* name;
  const DctList* list;
  const DctEntry* shrt;
  const DctEntry* lng;
  long long unused;  // 16-bit windows that start with no code
};

void check_dct(const DctCase& c) {
  SCOPED_TRACE(c.name);
  std::vector<Code> codes;
  std::vector<int> seen(65536, 0);
  for (int i = 0; i < c.list->count; ++i) {
    const DctCode& d = c.list->codes[i];
    const Code k = parse(d.bits);
    codes.push_back(k);
    const uint32_t first = k.bits << (16 - k.len);
    for (uint32_t v = first; v < first + (1u << (16 - k.len)); ++v) {
      const DctEntry& e = v >= 1024 ? c.shrt[v >> 8] : c.lng[v];
      ASSERT_EQ(e.len, k.len) << d.bits;
      if (d.level == 0) {
        ASSERT_EQ(e.run, DCT_EOB) << d.bits;
      } else if (d.level < 0) {
        ASSERT_EQ(e.run, DCT_ESC) << d.bits;
      } else {
        ASSERT_EQ(e.run, d.run) << d.bits;
        ASSERT_EQ(e.level, d.level) << d.bits;
      }
      seen[v] = 1;
    }
  }
  long long unused = 0;
  for (uint32_t v = 0; v < 65536; ++v)
    if (!seen[v]) {
      const DctEntry& e = v >= 1024 ? c.shrt[v >> 8] : c.lng[v];
      EXPECT_EQ(e.len, 0) << "window " << v;
      ++unused;
    }
  EXPECT_EQ(unused, c.unused);
  EXPECT_EQ(kraft(codes, 16), 65536 - c.unused);
}

TEST(VlcTables, DctCoefficientTables) {
  const VlcTables& t = vlc_tables();
  // Table zero: only windows below 16 (twelve leading zeros) are no code.
  // Table one leaves six 12-bit and four 13-bit codes of table zero unused.
  const DctCase cases[] = {
      {"table zero", &vlc_dct_zero, t.dct0_short, t.dct0_long, 16},
      {"table one", &vlc_dct_one, t.dct1_short, t.dct1_long, 16 + 6 * 16 + 4 * 8},
  };
  for (const auto& c : cases) check_dct(c);
  // Every (run, level) pair of table zero exists once and only once.
  std::vector<int> pairs(32 * 41, 0);
  for (int i = 0; i < vlc_dct_zero.count; ++i) {
    const DctCode& d = vlc_dct_zero.codes[i];
    if (d.level > 0) {
      EXPECT_EQ(pairs[d.run * 41 + d.level]++, 0) << d.bits;
    }
  }
}

// The coefficient loops test two bits of an entry instead of extracting its
// run: every entry of both fast tables must agree with the run it holds.
TEST(VlcTables, FastCoefficientTestMatchesRun) {
  const VlcTables& t = vlc_tables();
  for (const DctFast* fast : {t.dct0_fast, t.dct1_fast})
    for (int v = 0; v < (1 << DCT_FAST_BITS); ++v)
      EXPECT_EQ(dct_fast_is_coefficient(fast[v]), dct_fast_run(fast[v]) < DCT_EOB) << v;
}

TEST(VlcTables, ScansArePermutations) {
  for (const uint8_t* scan : {kZigZag, scan_alternate}) {
    std::vector<int> hit(64, 0);
    for (int i = 0; i < 64; ++i) hit[scan[i]]++;
    for (int i = 0; i < 64; ++i) EXPECT_EQ(hit[i], 1);
  }
  EXPECT_EQ(kZigZag[63], 63);
  EXPECT_EQ(scan_alternate[4], 1);
}

}  // namespace
