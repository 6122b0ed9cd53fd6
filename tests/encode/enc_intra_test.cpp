// Intra pictures end to end inside the library: the encoder's
// reconstruction must equal our decoder's picture byte for byte, over a
// table of versions, sizes, chroma formats and coding settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "decode/picdec.h"
#include "encode/encoder.h"
#include "support.h"

namespace {

struct IntraCase {
  const char* name;
  int mpeg1, width, height, chroma, interlaced, quant;
  int q_scale_type, intra_vlc, alternate_scan, dc_precision;  // -1: default
  bool custom_matrix;
};

// Texture with edges, gradients and grain: every run/level region of the
// coefficient tables and the escapes get used at fine quantisers.
void paint(Frame& f, int seed) {
  std::mt19937 rng(static_cast<unsigned>(seed));
  std::uniform_int_distribution<int> noise(-40, 40);
  for (int y = 0; y < f.padded_height(); ++y)
    for (int x = 0; x < f.padded_width(); ++x) {
      int v = ((x / 8 + y / 8) & 1 ? 200 : 40) + ((x * 3 + y) & 63) + (x > f.padded_width() / 2 ? noise(rng) : 0);
      f.y_plane()[y * f.padded_width() + x] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
  for (int y = 0; y < f.c_height(); ++y)
    for (int x = 0; x < f.c_width(); ++x) {
      f.cb_plane()[y * f.c_width() + x] = static_cast<uint8_t>((x * 5 + noise(rng)) & 255);
      f.cr_plane()[y * f.c_width() + x] = static_cast<uint8_t>(std::clamp(128 + (y - x) + noise(rng), 0, 255));
    }
}

std::unique_ptr<Encoder> make_encoder(const IntraCase& c) {
  SeqHdr seq;
  seq.setup(c.width, c.height, 0, 25.0, !c.mpeg1);
  if (c.chroma == 2) seq.set_chroma_format(2);
  if (!c.mpeg1) seq.seq_ext->profile_and_level_indication = c.chroma == 2 ? 0x14 : (c.width > 720 ? 0x44 : 0x48);
  seq.set_bit_rate(c.mpeg1 ? 8000000 : 60000000);
  RecordVideoSetup p;
  p.mpeg1 = c.mpeg1;
  p.gop_size = 1;
  p.ref_distance = 0;
  p.fixed_mquant = c.quant;
  p.progressive = !c.interlaced;
  p.seqhdr = &seq;
  p.constant_mquant = 1;
  int result = 1;
  auto e = std::make_unique<Encoder>(p, &result);
  EXPECT_EQ(result, 0);
  for (int i = 0; i < 3; ++i) {
    if (c.q_scale_type >= 0) e->q_scale_type[i] = c.q_scale_type;
    if (c.alternate_scan >= 0) e->alternate_scan[i] = c.alternate_scan;
  }
  if (c.intra_vlc >= 0) e->intra_vlc_format[0] = c.intra_vlc;
  if (c.dc_precision >= 0) e->pichdr->coding_ext->intra_dc_precision = c.dc_precision;
  if (c.custom_matrix) {
    uint8_t m[64];
    for (int i = 0; i < 64; ++i) m[i] = static_cast<uint8_t>(i ? 8 + (i * 7) % 50 : 8);
    EXPECT_EQ(e->load_intra_matrix(m), 0);
  }
  return e;
}

class EncIntraRoundTrip : public ::testing::TestWithParam<IntraCase> {};

TEST_P(EncIntraRoundTrip, ReconstructionEqualsDecoderOutput) {
  const IntraCase& c = GetParam();
  auto enc = make_encoder(c);
  ASSERT_TRUE(enc);
  Frame cur(c.width, c.height, c.chroma, c.interlaced);
  ASSERT_EQ(cur.padded_width(), enc->width);
  ASSERT_EQ(cur.padded_height(), enc->height);
  std::vector<uint8_t> buf(static_cast<size_t>(enc->width) * enc->height * 4 + 65536);
  for (int pic = 0; pic < 2; ++pic) {
    paint(cur, pic + 3);
    cur.set_top_field_first(pic == 0);
    cur.set_progressive_frame(!c.interlaced);
    BitWriter bw(buf.data(), buf.size());
    const int bytes = enc->encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1);
    ASSERT_GT(bytes, 0);
    const size_t n = bw.flush();
    ASSERT_EQ(static_cast<size_t>(bytes), n);
    std::vector<uint8_t> es(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(n));
    es.resize(es.size() + 64, 0);  // readable padding behind the picture
    PicDecoder dec(nullptr);
    Frame out(c.width, c.height, c.chroma, c.interlaced);
    ASSERT_GT(dec.decode_picture(es.data(), static_cast<int>(n), &out, nullptr, nullptr), 0);
    EXPECT_EQ(dec.get_concealed_count(), 0);
    const Frame& r = *enc->recon;
    for (int y = 0; y < c.height; ++y)
      ASSERT_EQ(0, std::memcmp(r.y_plane() + y * r.padded_width(), out.y_plane() + y * out.padded_width(),
                               static_cast<size_t>(c.width)))
          << "luma line " << y;
    const int ch = c.chroma == 2 ? c.height : c.height / 2;
    for (int y = 0; y < ch; ++y) {
      ASSERT_EQ(0, std::memcmp(r.cb_plane() + y * r.c_width(), out.cb_plane() + y * out.c_width(),
                               static_cast<size_t>(c.width / 2)));
      ASSERT_EQ(0, std::memcmp(r.cr_plane() + y * r.c_width(), out.cr_plane() + y * out.c_width(),
                               static_cast<size_t>(c.width / 2)));
    }
    // The picture resembles its source (not merely self-consistent).
    double err = 0;
    for (int y = 0; y < c.height; ++y)
      for (int x = 0; x < c.width; ++x) {
        const int d = r.y_plane()[y * r.padded_width() + x] - cur.y_plane()[y * cur.padded_width() + x];
        err += d * d;
      }
    const double psnr = 10 * std::log10(255.0 * 255.0 * c.width * c.height / std::max(err, 1.0));
    EXPECT_GT(psnr, c.quant <= 2 ? 38.0 : c.quant <= 8 ? 28.0 : 18.0) << c.name;
  }
}

const IntraCase kCases[] = {
    {"m1_352x288_q1", 1, 352, 288, 1, 0, 1, -1, -1, -1, -1, false},
    {"m1_352x288_q8", 1, 352, 288, 1, 0, 8, -1, -1, -1, -1, false},
    {"m1_768x576_q31", 1, 768, 576, 1, 0, 31, -1, -1, -1, -1, false},
    {"m2_720x576_prog_q2", 0, 720, 576, 1, 0, 2, -1, -1, -1, -1, false},
    {"m2_720x576_int_q8", 0, 720, 576, 1, 1, 8, -1, -1, -1, -1, false},
    {"m2_720x576_int_q1_linear_b14", 0, 720, 576, 1, 1, 1, 0, 0, -1, -1, false},
    {"m2_422_q4", 0, 720, 576, 2, 1, 4, -1, -1, -1, -1, false},
    {"m2_352x240_int_q8", 0, 352, 240, 1, 1, 8, -1, -1, -1, -1, false},
    {"m2_720x486_int_q31", 0, 720, 486, 1, 1, 31, 1, 1, -1, -1, false},
    {"m2_altscan_dc8", 0, 352, 288, 1, 0, 2, 0, 1, 1, 0, false},
    {"m2_dc9", 0, 352, 288, 1, 1, 1, 1, 0, 0, 1, false},
    {"m2_dc11", 0, 352, 288, 1, 0, 1, 1, 1, 1, 3, false},
    {"m2_matrix", 0, 352, 288, 1, 0, 4, -1, -1, -1, -1, true},
    {"m1_matrix", 1, 352, 288, 1, 0, 2, -1, -1, -1, -1, true},
};

INSTANTIATE_TEST_SUITE_P(Table, EncIntraRoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<IntraCase>& i) { return std::string(i.param.name); });

TEST(EncIntra, FullWriterFailsThePictureInsteadOfTruncatingIt) {
  const IntraCase c{"small", 0, 352, 288, 1, 0, 1, -1, -1, -1, -1, false};
  auto enc = make_encoder(c);
  Frame cur(352, 288, 1, 0);
  paint(cur, 1);
  std::vector<uint8_t> buf(4000);
  BitWriter bw(buf.data(), buf.size());
  EXPECT_EQ(enc->encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1), 0);
}

// Field-picture coding is not offered: an encoder told to use it codes
// nothing rather than a stream whose second fields mispredict.
TEST(EncIntra, FieldPictureCodingIsRefused) {
  const IntraCase c{"fields", 0, 352, 288, 1, 1, 1, -1, -1, -1, -1, false};
  auto enc = make_encoder(c);
  Frame cur(352, 288, 1, 0);
  paint(cur, 1);
  std::vector<uint8_t> buf(1 << 20);
  BitWriter bw(buf.data(), buf.size());
  enc->fieldpic = 1;
  tsupport::TraceCapture tc;
  EXPECT_EQ(enc->encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1), 0);
  EXPECT_EQ(bw.bit_count(), 0u);
  EXPECT_TRUE(tc.contains("field pictures are not supported"));
  enc->fieldpic = 0;
  EXPECT_GT(enc->encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1), 0);
}

TEST(EncIntra, InterlacedPictureCodesEveryMacroblockRow) {
  // 352x240 interlaced: 16 rows of which the last is padding; all are coded.
  const IntraCase c{"rows", 0, 352, 240, 1, 1, 8, -1, -1, -1, -1, false};
  auto enc = make_encoder(c);
  EXPECT_EQ(enc->mb_height2, 16);
  Frame cur(352, 240, 1, 1);
  paint(cur, 2);
  std::vector<uint8_t> buf(1 << 20);
  BitWriter bw(buf.data(), buf.size());
  ASSERT_GT(enc->encode_picture(&cur, nullptr, nullptr, PIC_TYPE_I, 0, bw, 0, nullptr, 1), 0);
  const size_t n = bw.flush();
  int slices = 0, last = 0;
  for (size_t i = 0; i + 3 < n; ++i)
    if (!buf[i] && !buf[i + 1] && buf[i + 2] == 1 && buf[i + 3] >= 1 && buf[i + 3] <= 0xAF) {
      ++slices;
      last = buf[i + 3];
    }
  EXPECT_EQ(slices, 16);
  EXPECT_EQ(last, 16);
}

}  // namespace
