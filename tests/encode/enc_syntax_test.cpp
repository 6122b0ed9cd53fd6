// Macroblock and block syntax through our decoder: every coefficient code
// of both tables and the escapes (intra, closed loop), and P and B pictures
// coded from given decisions and coefficients, read back with the
// decoder's macroblock records: types, vectors over every f_code, coded
// block patterns (4:2:2 too) and the skipping rules.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "decode/picdec.h"
#include "foundation/video_vlc.h"
#include "encode/encoder.h"

namespace {

std::unique_ptr<Encoder> make(int mpeg1, int w, int h, int chroma, int quant, int progressive) {
  SeqHdr seq;
  seq.setup(w, h, 0, 25.0, !mpeg1);
  if (chroma == 2) seq.set_chroma_format(2);
  RecordVideoSetup p;
  p.mpeg1 = mpeg1;
  p.gop_size = 1;
  p.ref_distance = 0;
  p.fixed_mquant = quant;
  p.constant_mquant = 1;
  p.progressive = progressive;
  p.seqhdr = &seq;
  int result = 1;
  auto e = std::make_unique<Encoder>(p, &result);
  EXPECT_EQ(result, 0);
  uint8_t flat[64];
  std::memset(flat, 8, sizeof flat);
  e->load_intra_matrix(flat);
  return e;
}

// Transform-domain value whose quantised level at raster position pos is
// exactly `level` (searching upward from the estimate).
int16_t value_for(const Encoder& e, bool intra, int pos, int level, int q, int dc_prec) {
  int16_t src[65] = {}, dst[65];
  const int lim = e.mpeg1 ? 255 : 2047;
  const int32_t* m = intra ? e.intra_q : e.non_intra_q;
  const int a = std::abs(level);
  int x = static_cast<int>(static_cast<int64_t>(a) * m[pos] * q / 32768) - 2;
  for (x = std::max(x, 1); x < 32767; ++x) {
    src[pos] = static_cast<int16_t>(x);
    if (intra) quant_intra(src, m, q, dc_prec, lim, dst);
    else quant_non_intra(src, m, q, lim, dst);
    if (dst[pos] == a) break;
  }
  EXPECT_LT(x, 32767) << "level " << level << " at " << pos;
  return static_cast<int16_t>(level < 0 ? -x : x);
}

struct Pair {
  int run, level;
};

std::vector<Pair> all_pairs(int mpeg1) {
  std::vector<Pair> out;
  for (const DctList* l : {&vlc_dct_zero, &vlc_dct_one})
    for (int i = 0; i < l->count; ++i)
      if (l->codes[i].level > 0) {
        out.push_back({l->codes[i].run, l->codes[i].level});
        out.push_back({l->codes[i].run, -l->codes[i].level});
      }
  // Escapes: long runs, large levels, the MPEG-1 two-byte forms.
  for (int lv : {41, 127, 128, 200, 255, -41, -127, -128, -200, -255}) out.push_back({0, lv});
  for (int r : {32, 40, 50, 61}) out.push_back({r, 3});
  if (!mpeg1)
    for (int lv : {256, 1000, 2047, -2047, -1500}) out.push_back({1, lv});
  return out;
}

struct VlcCase {
  int mpeg1, intra_vlc, alternate, dc_prec;
};

class EncCoefficientCodes : public ::testing::TestWithParam<VlcCase> {};

TEST_P(EncCoefficientCodes, EveryCodeAndEscapeDecodesToTheReconstruction) {
  const VlcCase c = GetParam();
  const std::vector<Pair> pairs = all_pairs(c.mpeg1);
  const int blocks_needed = static_cast<int>(pairs.size());
  const int w = 352, h = 16 * ((blocks_needed / 6 + 21) / 22 + 1);
  auto e = make(c.mpeg1, w, h, 1, 1, 1);
  if (!c.mpeg1) {
    e->intra_vlc_format[0] = c.intra_vlc;
    e->alternate_scan[0] = c.alternate;
    e->q_scale_type[0] = 0;
    e->pichdr->coding_ext->intra_dc_precision = c.dc_prec;
  }
  PicHdr& ph = *e->pichdr;
  ph.picture_coding_type = PIC_TYPE_I;
  ph.coding_ext->picture_structure = PIC_FRAME;
  ph.coding_ext->frame_pred_frame_dct = 1;
  ph.temporal_reference = 0;
  const uint8_t* scan = c.alternate && !c.mpeg1 ? nullptr : kZigZag;
  static const uint8_t alt[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                                  41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                                  51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                                  53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};
  if (!scan) scan = alt;
  const int q = 2;  // linear code 1
  std::mt19937 rng(11);
  const int dc_max = (256 << c.dc_prec) - 1;
  int k = 0;
  for (int mb = 0; mb < e->mb_count2; ++mb) {
    e->mbinfo[static_cast<size_t>(mb)].mb_type = 1;
    e->mbinfo[static_cast<size_t>(mb)].dct_type = 0;
    for (int n = 0; n < e->block_count; ++n, ++k) {
      CoefBlock& b = *e->block(mb, n);
      b = CoefBlock{};
      // DC over the whole range of the precision (all DC sizes).
      const int dc = static_cast<int>(rng() % static_cast<unsigned>(dc_max + 1)) - (128 << c.dc_prec);
      b.c[0] = static_cast<int16_t>(dc * (8 >> c.dc_prec) * 8);
      if (k < blocks_needed) {
        const Pair p = pairs[static_cast<size_t>(k)];
        if (p.run + 1 < 64) b.c[scan[p.run + 1]] = value_for(*e, true, scan[p.run + 1], p.level, q, c.dc_prec);
      }
    }
  }
  std::vector<uint8_t> buf(1 << 22);
  BitWriter bw(buf.data(), buf.size());
  ASSERT_GT(e->vlc_picture(bw, 0, 0), 0);
  ASSERT_FALSE(bw.overflow());
  e->reconstruct_intra_picture();
  const size_t n = bw.flush();
  buf.resize(n + 64);
  PicDecoder dec(nullptr);
  Frame out(w, h, 1, 0);
  ASSERT_GT(dec.decode_picture(buf.data(), static_cast<int>(n), &out, nullptr, nullptr), 0);
  EXPECT_EQ(dec.get_concealed_count(), 0);
  EXPECT_EQ(0, std::memcmp(out.y_plane(), e->recon->y_plane(), static_cast<size_t>(out.y_size())));
  EXPECT_EQ(0, std::memcmp(out.cb_plane(), e->recon->cb_plane(), static_cast<size_t>(2 * out.c_size())));
}

INSTANTIATE_TEST_SUITE_P(Table, EncCoefficientCodes,
                         ::testing::Values(VlcCase{1, 0, 0, 0}, VlcCase{0, 0, 0, 0}, VlcCase{0, 1, 0, 1},
                                           VlcCase{0, 1, 1, 2}, VlcCase{0, 0, 1, 3}));

// P and B pictures from given decisions, read back by the decoder.
struct InterCase {
  int mpeg1, chroma, progressive, type, f_code;
};

class EncInterSyntax : public ::testing::TestWithParam<InterCase> {};

TEST_P(EncInterSyntax, DecisionsReadBackAsCoded) {
  const InterCase c = GetParam();
  const int w = 256, h = 128;
  auto e = make(c.mpeg1, w, h, c.chroma, 3, c.progressive);
  PicHdr& ph = *e->pichdr;
  PicCodingExt& x = *ph.coding_ext;
  ph.picture_coding_type = c.type;
  ph.temporal_reference = 1;
  x.picture_structure = PIC_FRAME;
  x.frame_pred_frame_dct = c.progressive ? 1 : 0;
  for (int s = 0; s < 2; ++s)
    for (int t = 0; t < 2; ++t) x.f_code[s][t] = c.f_code;
  e->frame_pred_frame_dct[c.type - 1] = x.frame_pred_frame_dct;
  for (int& t : e->q_scale_type) t = 0;
  x.q_scale_type = 0;
  const int range = 16 << (c.f_code - 1);  // vectors in -range..range-1
  std::mt19937 rng(static_cast<unsigned>(c.f_code * 31 + c.type));
  const int q = e->rc_start_mb();
  std::vector<MBInfo> want(static_cast<size_t>(e->mb_count2));
  for (int mb = 0; mb < e->mb_count2; ++mb) {
    MBInfo& m = e->mbinfo[static_cast<size_t>(mb)];
    m = MBInfo{};
    m.mb_number = mb;
    const unsigned pick = rng() % 10;
    if (pick == 0) {
      m.mb_type = 1;
    } else if (c.type == PIC_TYPE_P) {
      m.mb_type = pick < 3 ? 0 : 8;  // no motion compensation, or forward
    } else {
      m.mb_type = pick < 4 ? 8 : pick < 7 ? 4 : 12;
    }
    m.motion_type = (!x.frame_pred_frame_dct && (rng() & 1)) ? kMotionField : kMotionFrame;
    for (int r = 0; r < 2; ++r)
      for (int s = 0; s < 2; ++s) {
        // the extremes and zero turn up often; field vectors vertically halve
        const unsigned v = rng() % 6;
        const int h_mv = v == 0 ? -range : v == 1 ? range - 1 : v == 2 ? 0 : static_cast<int>(rng() % (2 * range)) - range;
        const int v_lim = m.motion_type == kMotionField ? range / 2 : range;
        const int v_mv = v == 0 ? -v_lim : static_cast<int>(rng() % (2 * v_lim)) - v_lim;
        mbi_mv(m, r, s, 0) = h_mv;
        mbi_mv(m, r, s, 1) = v_mv;
        mbi_field_sel(m, r, s) = static_cast<int>(rng() & 1);
      }
    if (m.motion_type == kMotionFrame)
      for (int s = 0; s < 2; ++s) mbi_mv(m, 1, s, 0) = mbi_mv(m, 0, s, 0), mbi_mv(m, 1, s, 1) = mbi_mv(m, 0, s, 1);
    // Coded block pattern: every value turns up (blocks with one small
    // coefficient or none).
    const int nb = e->block_count;
    const int cbp = (m.mb_type & 1) ? 0 : mb % (1 << nb);
    for (int n = 0; n < nb; ++n) {
      CoefBlock& b = *e->block(mb, n);
      b = CoefBlock{};
      if (m.mb_type & 1) b.c[0] = static_cast<int16_t>(8 * static_cast<int>(rng() % 200));
      else if ((cbp >> (nb - 1 - n)) & 1) b.c[9] = value_for(*e, false, 9, (rng() & 1) ? 2 : -1, q, 0);
    }
  }
  std::vector<uint8_t> buf(1 << 21);
  BitWriter bw(buf.data(), buf.size());
  // A sequence header first (P and B pictures carry none).
  e->put_sequence_header(bw);
  ASSERT_GT(e->vlc_picture(bw, 0, 0), 0);
  const size_t n = bw.flush();
  buf.resize(n + 64);
  SeqHdr seq;
  ASSERT_GT(seq.decode(buf.data(), static_cast<int>(n)), 0);
  PicDecoder dec(&seq);
  std::vector<MBInfo> got(static_cast<size_t>(dec.get_mb_count() > 0 ? dec.get_mb_count() : e->mb_count2) + 8);
  ASSERT_GT(dec.decode_mb_info(buf.data(), static_cast<int>(n), got.data()), 0);
  for (int mb = 0; mb < e->mb_count2; ++mb) {
    const MBInfo& m = e->mbinfo[static_cast<size_t>(mb)];
    const MBInfo& g = got[static_cast<size_t>(mb)];
    SCOPED_TRACE("macroblock " + std::to_string(mb));
    EXPECT_EQ(g.mb_type & 13, m.mb_type & 13);
    if (m.skipped) continue;
    EXPECT_EQ(g.cbp, (m.mb_type & 1) ? (1 << e->block_count) - 1 : m.cbp);
    EXPECT_EQ(g.quantiser_scale, c.mpeg1 ? q / 2 : q);
    if (m.mb_type & 1) continue;
    const int mt = x.frame_pred_frame_dct ? kMotionFrame : m.motion_type;
    if (!c.mpeg1 && !x.frame_pred_frame_dct) {
      EXPECT_EQ(g.motion_type, mt);
    }
    for (int s = 0; s < 2; ++s) {
      if (!(m.mb_type & (s ? 4 : 8))) continue;
      for (int r = 0; r < (mt == kMotionField ? 2 : 1); ++r)
        for (int t = 0; t < 2; ++t) EXPECT_EQ(mbi_mv(g, r, s, t), mbi_mv(m, r, s, t)) << r << s << t;
    }
  }
}

std::vector<InterCase> inter_cases() {
  std::vector<InterCase> out;
  for (int f = 1; f <= 9; ++f) {
    out.push_back({0, 1, 0, PIC_TYPE_P, f});
    out.push_back({0, 1, 0, PIC_TYPE_B, f});
    if (f <= 7) out.push_back({1, 1, 1, f % 2 ? PIC_TYPE_P : PIC_TYPE_B, f});
  }
  out.push_back({0, 2, 0, PIC_TYPE_P, 3});
  out.push_back({0, 2, 1, PIC_TYPE_B, 2});
  out.push_back({0, 1, 1, PIC_TYPE_B, 1});
  return out;
}

INSTANTIATE_TEST_SUITE_P(Table, EncInterSyntax, ::testing::ValuesIn(inter_cases()));

TEST(EncSkipping, FirstAndLastOfARowAreCodedInnerOnesSkipped) {
  auto e = make(0, 352, 32, 1, 4, 1);
  PicHdr& ph = *e->pichdr;
  ph.picture_coding_type = PIC_TYPE_P;
  ph.coding_ext->frame_pred_frame_dct = 1;
  for (auto& row : ph.coding_ext->f_code) row[0] = row[1] = 1;
  for (int mb = 0; mb < e->mb_count2; ++mb) {
    e->mbinfo[static_cast<size_t>(mb)] = MBInfo{};
    for (int n = 0; n < 6; ++n) *e->block(mb, n) = CoefBlock{};
  }
  std::vector<uint8_t> buf(1 << 16);
  BitWriter bw(buf.data(), buf.size());
  ASSERT_GT(e->vlc_picture(bw, 0, 0), 0);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 22; ++c) {
      const MBInfo& m = e->mbinfo[static_cast<size_t>(r * 22 + c)];
      const bool edge = c == 0 || c == 21;
      EXPECT_EQ(m.skipped, edge ? 0 : 1) << r << "," << c;
      if (edge) {
        EXPECT_EQ(m.mb_type, 8);  // forward with a zero vector
      }
    }
}

TEST(EncSkipping, CopyingBPictureOf352x240CodesTwoMacroblocksPerRow) {
  auto e = make(0, 352, 240, 1, 4, 1);
  Frame f(352, 240, 1, 0);
  std::vector<uint8_t> buf(1 << 16);
  BitWriter bw(buf.data(), buf.size());
  ASSERT_GT(e->vlc_picture_mbi(1, &f, bw), 0);
  int coded = 0;
  for (const MBInfo& m : e->mbinfo) coded += !m.skipped;
  EXPECT_EQ(coded, 2 * 15);
}

}  // namespace
