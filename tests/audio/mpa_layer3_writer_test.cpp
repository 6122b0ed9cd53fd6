// Layer III features no encoder here writes: a test-only frame writer
// codes random spectra through the standard's Huffman tables into
// self-contained MPEG-1 and lower-sampling-frequency frames (pure short,
// mixed and long blocks; intensity with legal and illegal positions, with
// and without mid/side; unused bits after the spectrum), and our decode is
// compared with the peers'.
#include <gtest/gtest.h>

#include <random>

#include "audio/codec/layer3_huffman.h"
#include "audio/codec/layer3_tables.h"
#include "foundation/bitstream.h"
#include "mpa_compare.h"
#include "support.h"

namespace {

using tsupport::sh_quote;

// MPEG-1: 48 kHz at 320 kbit/s; lower sampling frequencies: 24 kHz at
// 160 kbit/s, one granule.
struct Format {
  bool lsf;
  int sampling;    // index into the band tables
  int frame_size;  // bytes
};
constexpr Format kMpeg1 = {false, 1, 960};
constexpr Format kLsf = {true, 4, 480};

struct Granule {
  int ws = 0, block_type = 0, mixed = 0;
  int table[3] = {0, 0, 0};
  int r0 = 0, r1 = 0;
  int subblock_gain[3] = {0, 0, 0};
  int global_gain = 170, sfc = 0, preflag = 0, sf_scale = 0, count1_table = 0;
  int big = 0;     // big_values
  int count1 = 0;  // lines coded as quadruples after the big values
  int spec[576] = {};
  int sf_long[22] = {};
  int sf_short[13][3] = {};
  int part23 = 0;
  int slack = 0;            // unused bits after the last quadruple, counted in part23
  uint32_t slack_bits = 0;
  std::vector<uint8_t> main;  // scale factors and Huffman codes
  Format format = kMpeg1;
  int slen[4] = {0, 0, 0, 0};  // lower frequencies: widths of the four partitions
  int parts = 0;               // their value counts, by kParts
};

// Values per partition of the lower-frequency scale factors, by table
// (0 plain, 3 intensity positions) and block kind (long, short, mixed).
const uint8_t kParts[6][3][4] = {
    {{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}}, {}, {}, {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}}, {}, {}};

// The lower-frequency scale factors in stream order: long bands, short
// bands by window, or six long bands and short bands from 3 on.
template <class F>
void for_each_lsf_value(Granule& g, int table, F&& f) {
  const int kind = g.block_type == 2 ? (g.mixed ? 2 : 1) : 0;
  int long_sfb = 0, short_sfb = kind == 2 ? 3 : 0, win = 0;
  for (int p = 0; p < 4; ++p)
    for (int i = 0; i < kParts[table][kind][p]; ++i) {
      if (kind == 0 || (kind == 2 && long_sfb < 6)) {
        f(g.sf_long[long_sfb++], g.slen[p]);
      } else {
        f(g.sf_short[short_sfb][win], g.slen[p]);
        if (++win == 3) {
          win = 0;
          ++short_sfb;
        }
      }
    }
}

const int kSlen[2][16] = {{0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4}, {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3}};
const int kTables[] = {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 18, 24, 25, 26};

int table_max(int t) {
  const HuffSource& s = kHuffSources[t];
  if (!s.linbits) return s.size - 1;
  return std::min(15 + (1 << s.linbits) - 1, 40);
}

void put_pair(BitWriter& w, int t, int x, int y) {
  const HuffSource& s = kHuffSources[t];
  const int ax = std::abs(x), ay = std::abs(y);
  const int cx = std::min(ax, 15), cy = std::min(ay, 15);
  const int i = cx * s.size + cy;
  w.put_bits(s.codes[i], s.lengths[i]);
  if (s.linbits && cx == 15) w.put_bits(static_cast<uint32_t>(ax - 15), s.linbits);
  if (ax) w.put_bits(x < 0, 1);
  if (s.linbits && cy == 15) w.put_bits(static_cast<uint32_t>(ay - 15), s.linbits);
  if (ay) w.put_bits(y < 0, 1);
}

// Region ends (lines) of a granule, as the decoder derives them.
void regions(const Granule& g, int* r1, int* r2) {
  const Layer3Tables& t = layer3_tables();
  const int si = g.format.sampling;
  if (g.ws) {
    *r1 = g.block_type == 2 ? 3 * t.sfb_short[si][3] : t.sfb_long[si][8];
    *r2 = 576;
  } else {
    *r1 = t.sfb_long[si][std::min(g.r0 + 1, 22)];
    *r2 = t.sfb_long[si][std::min(g.r0 + g.r1 + 2, 22)];
  }
}

// Writes scale factors and spectrum; part23 is the bits used.
void code_main(Granule& g, bool reuse[4]) {
  std::vector<uint8_t> buf(4096);
  BitWriter w(buf.data(), buf.size(), 0);
  const int s1 = kSlen[0][g.sfc & 15], s2 = kSlen[1][g.sfc & 15];
  if (g.format.lsf) {
    for_each_lsf_value(g, g.parts, [&](int& v, int bits) { w.put_bits(static_cast<uint32_t>(v), bits); });
  } else if (g.block_type == 2) {
    int sfb = 0;
    if (g.mixed) {
      for (; sfb < 8; ++sfb) w.put_bits(static_cast<uint32_t>(g.sf_long[sfb]), s1);
      sfb = 3;
    }
    for (; sfb < 12; ++sfb)
      for (int win = 0; win < 3; ++win) w.put_bits(static_cast<uint32_t>(g.sf_short[sfb][win]), sfb < 6 ? s1 : s2);
  } else {
    static const int kGroup[5] = {0, 6, 11, 16, 21};
    for (int k = 0; k < 4; ++k) {
      if (reuse[k]) continue;
      for (int sfb = kGroup[k]; sfb < kGroup[k + 1]; ++sfb) w.put_bits(static_cast<uint32_t>(g.sf_long[sfb]), k < 2 ? s1 : s2);
    }
  }
  int r1, r2;
  regions(g, &r1, &r2);
  const int big = g.big * 2;
  for (int i = 0; i < big; i += 2) {
    const int r = i < r1 ? 0 : i < r2 ? 1 : 2;
    if (g.table[r]) put_pair(w, g.table[r], g.spec[i], g.spec[i + 1]);
  }
  const HuffSource& q = kHuffSources[32 + g.count1_table];
  for (int i = big; i < big + g.count1; i += 4) {
    int idx = 0;
    for (int k = 0; k < 4; ++k) idx = idx << 1 | (g.spec[i + k] != 0);
    w.put_bits(q.codes[idx], q.lengths[idx]);
    for (int k = 0; k < 4; ++k)
      if (g.spec[i + k]) w.put_bits(g.spec[i + k] < 0, 1);
  }
  if (g.slack) w.put_bits(g.slack_bits, g.slack);
  g.part23 = static_cast<int>(w.bit_count());
  w.flush();
  buf.resize((static_cast<size_t>(g.part23) + 7) / 8);
  g.main = buf;
}

// A random spectrum of `lines` possibly non-zero lines in stream order.
// to_end: quadruples fill the spectrum up to line 576, so that the decoder
// stops there with bits of part2_3_length left over.
void fill_spectrum(Granule& g, int lines, std::mt19937& rng, bool to_end = false) {
  std::fill(std::begin(g.spec), std::end(g.spec), 0);
  int r1, r2;
  regions(g, &r1, &r2);
  g.big = std::min(288, static_cast<int>(rng() % static_cast<uint32_t>(lines / 2 + 1)));
  if (to_end) {
    g.big = 2 * static_cast<int>(rng() % 40);
    lines = 576;
  }
  for (int i = 0; i < g.big * 2; ++i) {
    const int r = i < r1 ? 0 : i < r2 ? 1 : 2;
    if (!g.table[r]) continue;
    const int m = table_max(g.table[r]);
    const int v = static_cast<int>(rng() % static_cast<uint32_t>(m + 1));
    g.spec[i] = rng() % 3 == 0 ? 0 : (rng() & 1 ? -v : v);
  }
  g.count1 = std::max(0, ((lines - g.big * 2) / 4) * 4);
  g.count1 = std::min(g.count1, 576 - g.big * 2);
  g.count1 -= g.count1 % 4;
  for (int i = g.big * 2; i < g.big * 2 + g.count1; ++i) g.spec[i] = rng() % 3 == 0 ? (rng() & 1 ? -1 : 1) : 0;
}

struct Kind {
  const char* name;
  int block_type;  // 0 long, 2 short
  int mixed;
  int mode_ext;    // bit 1 mid/side, bit 0 intensity
  bool lsf = false;
  bool slack = false;  // spectra to the last line, then unused bits
};

void random_granule(Granule& g, const Kind& k, const Format& fm, std::mt19937& rng, bool right, bool intensity) {
  g.format = fm;
  g.block_type = k.block_type;
  g.mixed = k.mixed;
  g.ws = k.block_type == 2;
  for (int& t : g.table) t = kTables[rng() % (sizeof kTables / sizeof kTables[0])];
  g.r0 = static_cast<int>(rng() % 16);
  g.r1 = static_cast<int>(rng() % 8);
  if (g.ws) g.table[2] = 0;
  for (int& s : g.subblock_gain) s = g.ws ? static_cast<int>(rng() % 4) : 0;
  g.global_gain = 150 + static_cast<int>(rng() % 30);
  // The right channel of an intensity pair needs room for position 7.
  g.sfc = right && intensity ? 11 + static_cast<int>(rng() % 5) : static_cast<int>(rng() % 16);
  g.preflag = g.ws ? 0 : static_cast<int>(rng() % 2);
  g.sf_scale = static_cast<int>(rng() % 2);
  g.count1_table = static_cast<int>(rng() % 2);
  const int s1 = kSlen[0][g.sfc], s2 = kSlen[1][g.sfc];
  auto pick = [&](int bits) { return bits ? static_cast<int>(rng() % (1u << bits)) : 0; };
  for (int b = 0; b < 21; ++b) g.sf_long[b] = pick(b < 11 ? s1 : s2);
  for (int b = 0; b < 12; ++b)
    for (int w = 0; w < 3; ++w) g.sf_short[b][w] = pick(b < 6 ? s1 : s2);
  if (fm.lsf) {
    g.preflag = 0;
    std::fill(std::begin(g.sf_long), std::end(g.sf_long), 0);
    for (auto& row : g.sf_short) std::fill(std::begin(row), std::end(row), 0);
    if (right && intensity) {  // scalefac_compress / 2 below 180: table 3
      g.slen[0] = 1 + static_cast<int>(rng() % 4);
      g.slen[1] = 1 + static_cast<int>(rng() % 5);
      g.slen[2] = 1 + static_cast<int>(rng() % 5);
      g.slen[3] = 0;
      g.parts = 3;
      g.sfc = (g.slen[0] * 36 + g.slen[1] * 6 + g.slen[2]) << 1 | static_cast<int>(rng() % 2);
    } else {  // below 400: table 0
      g.slen[0] = static_cast<int>(rng() % 5);
      g.slen[1] = static_cast<int>(rng() % 5);
      g.slen[2] = static_cast<int>(rng() % 4);
      g.slen[3] = static_cast<int>(rng() % 4);
      g.parts = 0;
      g.sfc = (g.slen[0] * 5 + g.slen[1]) << 4 | g.slen[2] << 2 | g.slen[3];
    }
    for_each_lsf_value(g, g.parts, [&](int& v, int bits) { v = pick(bits); });
  }
  if (right && intensity && !fm.lsf) {
    // Position 6 (all left) is the tangent's pole; one peer turns it into
    // NaN. Positions 0-5 and the illegal 7 stay.
    for (int b = 0; b < 21; ++b)
      if (g.sf_long[b] == 6) g.sf_long[b] = 7;
    for (int b = 0; b < 12; ++b)
      for (int w = 0; w < 3; ++w)
        if (g.sf_short[b][w] == 6) g.sf_short[b][w] = 7;
  }
  if (!intensity || !right) {
    // Scale factors shift the spectrum down: keep them small for the left.
    for (int b = 0; b < 21; ++b) g.sf_long[b] = std::min(g.sf_long[b], 3);
    for (int b = 0; b < 12; ++b)
      for (int w = 0; w < 3; ++w) g.sf_short[b][w] = std::min(g.sf_short[b][w], 3);
  }
}

std::vector<uint8_t> frame(const Kind& k, const Format& fm, std::mt19937& rng) {
  const bool intensity = k.mode_ext & 1;
  Granule gr[2][2];
  int scfsi[2][4] = {};
  const int granules = fm.lsf ? 1 : 2;
  const int side_bytes = fm.lsf ? 17 : 32;
  for (int attempt = 0;; ++attempt) {
    for (int g = 0; g < granules; ++g)
      for (int ch = 0; ch < 2; ++ch) {
        Granule& x = gr[g][ch];
        x = Granule{};
        random_granule(x, k, fm, rng, ch == 1, intensity);
        // The right channel stops early so that intensity bands follow.
        // The top band (long band 21, short band 12) holds no intensity
        // position of its own, and the peers fill it in three different
        // ways: with intensity on, the left channel stays below it.
        const int lines = ch == 1 && intensity ? 20 + static_cast<int>(rng() % 200)
                                               : 200 + static_cast<int>(rng() % (intensity ? 170 : 300));
        fill_spectrum(x, std::max(0, lines - 60 * attempt), rng, k.slack);
        if (k.slack) {
          x.slack = 1 + static_cast<int>(rng() % 24);
          x.slack_bits = static_cast<uint32_t>(rng());
        }
        // Coders end the coded lines with a non-zero one; a decoder may
        // take the last coded line for the last non-zero one.
        const int coded = x.big * 2 + x.count1;
        if (coded > 0 && x.spec[coded - 1] == 0) x.spec[coded - 1] = 1;
      }
    for (int ch = 0; ch < 2; ++ch)
      for (int b = 0; b < 4; ++b)
        scfsi[ch][b] = !fm.lsf && k.block_type == 0 && (rng() & 1);
    int total = 0;
    for (int g = 0; g < granules; ++g)
      for (int ch = 0; ch < 2; ++ch) {
        bool reuse[4] = {};
        if (g == 1)
          for (int b = 0; b < 4; ++b) reuse[b] = scfsi[ch][b];
        if (g == 1) {  // shared bands hold granule 0's values
          static const int kGroup[5] = {0, 6, 11, 16, 21};
          for (int b = 0; b < 4; ++b)
            if (reuse[b])
              for (int s = kGroup[b]; s < kGroup[b + 1]; ++s) gr[1][ch].sf_long[s] = gr[0][ch].sf_long[s];
        }
        code_main(gr[g][ch], reuse);
        total += gr[g][ch].part23;
      }
    if (total <= (fm.frame_size - 4 - side_bytes) * 8) break;
  }
  std::vector<uint8_t> f(static_cast<size_t>(fm.frame_size), 0);
  BitWriter w(f.data(), f.size(), 1);
  // Layer III, no CRC, joint stereo; MPEG-1 320 kbit/s at 48 kHz or MPEG-2
  // 160 kbit/s at 24 kHz (bit-rate index 14, sampling frequency 01 both).
  w.put_bits(fm.lsf ? 0xFFF3 : 0xFFFB, 16);
  w.put_bits(0xE4, 8);
  w.put_bits(static_cast<uint32_t>(1 << 6 | k.mode_ext << 4), 8);
  // main_data_begin 0: every frame stands alone
  if (fm.lsf) {
    w.put_bits(0, 8);
    w.put_bits(0, 2);
  } else {
    w.put_bits(0, 9);
    w.put_bits(0, 3);
    for (int ch = 0; ch < 2; ++ch)
      for (int b = 0; b < 4; ++b) w.put_bits(static_cast<uint32_t>(scfsi[ch][b]), 1);
  }
  for (int g = 0; g < granules; ++g)
    for (int ch = 0; ch < 2; ++ch) {
      const Granule& x = gr[g][ch];
      w.put_bits(static_cast<uint32_t>(x.part23), 12);
      w.put_bits(static_cast<uint32_t>(x.big), 9);
      w.put_bits(static_cast<uint32_t>(x.global_gain), 8);
      w.put_bits(static_cast<uint32_t>(x.sfc), fm.lsf ? 9 : 4);
      w.put_bits(static_cast<uint32_t>(x.ws), 1);
      if (x.ws) {
        w.put_bits(static_cast<uint32_t>(x.block_type), 2);
        w.put_bits(static_cast<uint32_t>(x.mixed), 1);
        w.put_bits(static_cast<uint32_t>(x.table[0]), 5);
        w.put_bits(static_cast<uint32_t>(x.table[1]), 5);
        for (int s : x.subblock_gain) w.put_bits(static_cast<uint32_t>(s), 3);
      } else {
        for (int t : x.table) w.put_bits(static_cast<uint32_t>(t), 5);
        w.put_bits(static_cast<uint32_t>(x.r0), 4);
        w.put_bits(static_cast<uint32_t>(x.r1), 3);
      }
      if (!fm.lsf) w.put_bits(static_cast<uint32_t>(x.preflag), 1);
      w.put_bits(static_cast<uint32_t>(x.sf_scale), 1);
      w.put_bits(static_cast<uint32_t>(x.count1_table), 1);
    }
  for (int g = 0; g < granules; ++g)
    for (int ch = 0; ch < 2; ++ch) {
      const Granule& x = gr[g][ch];
      BS r(x.main.data(), x.main.size());
      for (int left = x.part23; left > 0; left -= 16) {
        const int n = std::min(left, 16);
        w.put_bits(r.get_bits(n), n);
      }
    }
  w.flush();
  return f;
}

class MpaLayer3Writer : public ::testing::TestWithParam<Kind> {};

TEST_P(MpaLayer3Writer, RandomFramesDecodeAsThePeersDo) {
  const Kind& k = GetParam();
  std::mt19937 rng(77u + static_cast<uint32_t>(k.block_type * 8 + k.mixed * 4 + k.mode_ext));
  std::vector<uint8_t> s;
  const Format& fm = k.lsf ? kLsf : kMpeg1;
  for (int i = 0; i < 30; ++i) {
    const std::vector<uint8_t> f = frame(k, fm, rng);
    s.insert(s.end(), f.begin(), f.end());
  }
  const std::string file = tsupport::temp_dir() + "/l3.mp3";
  ASSERT_TRUE(tsupport::write_file(file, s));
  std::vector<std::string> lines;
  ASSERT_EQ(tsupport::dev("mpa-decode " + sh_quote(file) + " " + sh_quote(file + ".pcm"), &lines), 0);
  const std::vector<int16_t> pcm = mpa_read_pcm(file + ".pcm");
  ASSERT_EQ(pcm.size(), 30u * (k.lsf ? 1152u : 2304u)) << (lines.empty() ? "" : lines.back());
  // Random intensity positions reach corners where the peers part ways
  // (mpg123 departs from ffmpeg and madplay on them): a lone peer outside
  // the bound is outvoted when the two others meet it.
  const std::vector<PeerDecode> peers = mpa_peer_decodes(file, 3, 2);
  if (!mpa_expect_peers(pcm, peers, true, k.name)) GTEST_SKIP() << "no peer decoder installed";
}

// Lower-frequency intensity streams from this writer are left out: on them
// the three peers differ from one another by hundreds of LSB, so they
// decide nothing.
INSTANTIATE_TEST_SUITE_P(Blocks, MpaLayer3Writer,
                         ::testing::Values(Kind{"long_ms", 0, 0, 2}, Kind{"short", 2, 0, 0},
                                           Kind{"mixed", 2, 1, 0}, Kind{"mixed_ms", 2, 1, 2},
                                           Kind{"long_intensity", 0, 0, 1}, Kind{"long_intensity_ms", 0, 0, 3},
                                           Kind{"short_intensity", 2, 0, 1}, Kind{"mixed_intensity", 2, 1, 1},
                                           Kind{"mixed_intensity_ms", 2, 1, 3}, Kind{"lsf_long_ms", 0, 0, 2, true},
                                           Kind{"lsf_mixed", 2, 1, 0, true}, Kind{"lsf_mixed_ms", 2, 1, 2, true},
                                           Kind{"unused_bits_long", 0, 0, 2, false, true},
                                           Kind{"unused_bits_short", 2, 0, 0, false, true}),
                         [](const ::testing::TestParamInfo<Kind>& i) { return std::string(i.param.name); });

}  // namespace
