#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/mpeg_fields.h"
#include "foundation/seq_header.h"
#include "foundation/utils.h"
#include "foundation/video_info.h"
#include "support/support.h"

namespace {

// MPEG-2 MP@ML 720x576 25 Hz, 6 Mbit/s, vbv 112, aspect 2, then a sequence
// extension (0x48, progressive 1, 4:2:0) and a picture start code.
//   00 00 01 B3  2D0 240 2 3  03A98 1 070 0 0 0
std::vector<uint8_t> mpeg2_header() {
  return {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x02, 0x40, 0x23, 0x0E, 0xA6, 0x23, 0x80,  //
          0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01, 0x00, 0x00,              //
          0x00, 0x00, 0x01, 0x00, 0x00, 0x0F, 0xFF, 0xF8};
}

// Offsets of every 00 00 01 xx with the given xx in data.
std::vector<size_t> start_codes(const std::vector<uint8_t>& d, uint8_t id) {
  std::vector<size_t> at;
  for (size_t i = 0; i + 3 < d.size(); ++i)
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == id) at.push_back(i);
  return at;
}

TEST(SeqHdr, DecodesHandBuiltMpeg2Header) {
  auto d = mpeg2_header();
  SeqHdr h;
  EXPECT_EQ(h.decode(d.data(), int(d.size())), 22);
  EXPECT_EQ(h.invalid, 0);
  EXPECT_EQ(h.get_horizontal_size(), 720);
  EXPECT_EQ(h.get_vertical_size(), 576);
  EXPECT_EQ(h.aspect_ratio_information, 2);
  EXPECT_EQ(h.frame_rate_code, 3);
  EXPECT_EQ(h.bit_rate, 15000);
  EXPECT_EQ(h.vbv_buffer_size, 112);
  EXPECT_EQ(h.mpeg2, 1);
  EXPECT_EQ(h.get_profile_level(), 0x48);
  EXPECT_EQ(h.get_progressive_sequence(), 1);
  EXPECT_EQ(h.get_chroma_format(), 1);
  EXPECT_EQ(h.ext_bytes, 10);
  EXPECT_EQ(h.coded_length, 22);
  EXPECT_EQ(0, std::memcmp(h.get_coded_copy(), d.data(), 22));
  EXPECT_EQ(h.get_vbv_buffer_size(), 112 * 16384);
  // Fault pinned: buffers kept for matrices that are not loaded are not coded.
  EXPECT_EQ(h.get_header_size(), 12 + 10);

  uint8_t out[64];
  EXPECT_EQ(h.encode(out, sizeof out), 22);
  EXPECT_EQ(0, std::memcmp(out, d.data(), 22));
}

TEST(SeqHdr, DecodeOffsetsAndShortBuffers) {
  auto d = mpeg2_header();
  std::vector<uint8_t> shifted = {0xFF, 0x00, 0x00};
  shifted.insert(shifted.end(), d.begin(), d.end());
  SeqHdr h;
  EXPECT_EQ(h.decode(shifted.data(), int(shifted.size())), 3 + 22);

  tsupport::TraceCapture trace;
  EXPECT_EQ(h.decode(d.data(), 11), 0);  // 11 bytes from the start code
  EXPECT_EQ(h.invalid, 1);
  EXPECT_FALSE(trace.messages().empty());
  EXPECT_EQ(h.decode(d.data(), 12), 12);  // header alone: MPEG-1 reading
  EXPECT_EQ(h.mpeg2, 0);
  EXPECT_EQ(h.decode(d.data(), 19), 0);  // sequence extension cut short
  EXPECT_EQ(h.decode(nullptr, 100), 0);
  EXPECT_EQ(h.decode(d.data(), 4), 0);
}

TEST(SeqHdr, FrameRateCodeZeroAndBadSizes) {
  auto d = mpeg2_header();
  d[7] = 0x20;  // aspect 2, frame_rate_code 0
  SeqHdr h;
  ASSERT_GT(h.decode(d.data(), int(d.size())), 0);
  EXPECT_EQ(h.frame_rate_code, 4);
  d = mpeg2_header();
  d[4] = d[5] = 0;
  d[6] &= 0x0F;  // width 0
  EXPECT_EQ(h.decode(d.data(), int(d.size())), 0);
  EXPECT_EQ(h.invalid, 1);
}

TEST(SeqHdr, LoadedMatrices) {
  SeqHdr h;
  h.setup(352, 288, 1150000, 25.0, 0);
  uint8_t m[64];
  for (int i = 0; i < 64; ++i) m[i] = uint8_t(8 + i);
  ASSERT_EQ(h.set_intra_matrix(m), 0);
  EXPECT_EQ(h.intra_loaded, 1);
  uint8_t buf[200];
  const int n = h.encode(buf, sizeof buf);
  ASSERT_EQ(n, 76);
  // The intra matrix starts one bit before a byte boundary.
  SeqHdr back;
  ASSERT_EQ(back.decode(buf, n), 76);
  uint8_t got[64];
  back.get_intra_matrix(got);
  EXPECT_EQ(0, std::memcmp(got, m, 64));
  EXPECT_EQ(back.compare(&h, 1), 0);
  EXPECT_EQ(back.decode(buf, 70), 0);  // loaded matrix but 70 bytes
  {
    // The matrix's last bit and load_non_intra_quantiser_matrix end byte 75.
    tsupport::TraceCapture trace;
    EXPECT_EQ(back.decode(buf, 75), 0);
    EXPECT_TRUE(trace.contains("SeqHdr::decode (ERROR): intra matrix cut short (75 bytes)"));
  }

  // Both matrices: 140 bytes.
  uint8_t ni[64];
  for (int i = 0; i < 64; ++i) ni[i] = uint8_t(200 - i);
  ASSERT_EQ(h.set_non_intra_matrix(ni), 0);
  ASSERT_EQ(h.encode(buf, sizeof buf), 140);
  ASSERT_EQ(back.decode(buf, 140), 140);
  back.get_non_intra_matrix(got);
  EXPECT_EQ(0, std::memcmp(got, ni, 64));
  EXPECT_EQ(back.decode(buf, 139), 0);

  // The ISO default is not "loaded"; a zero entry is refused and changes nothing.
  ASSERT_EQ(h.set_intra_matrix(kDefaultIntraMatrix), 0);
  EXPECT_EQ(h.intra_loaded, 0);
  m[5] = 0;
  EXPECT_EQ(SeqHdr::check_qmatrix(m), 1);
  EXPECT_EQ(h.set_intra_matrix(m), 1);
  EXPECT_EQ(h.set_intra_matrix(nullptr), 1);
  EXPECT_EQ(h.intra_loaded, 0);

  // A non-intra matrix alone also ends with byte 75.
  SeqHdr ni_only;
  ni_only.setup(352, 288, 1150000, 25.0, 0);
  ASSERT_EQ(ni_only.set_non_intra_matrix(ni), 0);
  ASSERT_EQ(ni_only.encode(buf, sizeof buf), 76);
  ASSERT_EQ(back.decode(buf, 76), 76);
  EXPECT_EQ(back.non_intra_loaded, 1);
  {
    tsupport::TraceCapture trace;
    EXPECT_EQ(back.decode(buf, 75), 0);
    EXPECT_TRUE(trace.contains("SeqHdr::decode (ERROR): non-intra matrix cut short (75 bytes)"));
  }

  SeqHdr d2;
  d2.set_mpeg2_defaults();
  EXPECT_EQ(d2.encode(buf, sizeof buf), 22);
  d2.set_intra_matrix(ni);
  EXPECT_EQ(d2.encode(buf, sizeof buf), 86);
  d2.set_default_matrices();
  EXPECT_EQ(d2.intra_loaded + d2.non_intra_loaded, 2);
  d2.get_non_intra_matrix(got);
  EXPECT_EQ(0, std::memcmp(got, kBuiltinNonIntraMatrix, 64));
}

TEST(SeqHdr, ExtensionsRoundTrip) {
  SeqHdr h;
  h.set_mpeg2_defaults();
  h.seq_ext->bit_rate_extension = 0x123;
  h.seq_ext->vbv_buffer_size_extension = 3;
  h.seq_ext->frame_rate_extension_n = 2;
  h.seq_ext->frame_rate_extension_d = 17;
  h.seq_ext->low_delay = 1;
  h.display_ext = std::make_unique<SeqDisplayExt>();
  h.display_ext->colour_description = 1;
  h.display_ext->colour_primaries = 1;
  h.display_ext->transfer_characteristics = 4;
  h.display_ext->matrix_coefficients = 5;
  h.display_ext->display_horizontal_size = 704;
  h.display_ext->display_vertical_size = 480;
  h.has_display_ext = 1;
  h.scalable_ext = std::make_unique<SeqScalableExt>();
  h.scalable_ext->scalable_mode = 1;
  h.scalable_ext->layer_id = 3;
  h.scalable_ext->lower_layer_prediction_horizontal_size = 352;
  h.scalable_ext->lower_layer_prediction_vertical_size = 240;
  h.scalable_ext->horizontal_subsampling_factor_m = 1;
  h.scalable_ext->horizontal_subsampling_factor_n = 2;
  h.scalable_ext->vertical_subsampling_factor_m = 3;
  h.scalable_ext->vertical_subsampling_factor_n = 4;
  h.has_scalable_ext = 1;
  std::vector<uint8_t> buf(128);
  const int n = h.encode(buf.data(), int(buf.size()));
  ASSERT_EQ(n, 12 + 10 + 12 + 12);
  buf.resize(size_t(n));
  buf.insert(buf.end(), {0, 0, 1, 0xB8, 0, 0, 0, 0});
  SeqHdr back;
  ASSERT_EQ(back.decode(buf.data(), int(buf.size())), n);
  EXPECT_EQ(back.compare(&h, 1), 0);
  EXPECT_EQ(back.get_vbv_buffer_size(), int64_t(112 + (3 << 10)) << 14);

  // Display extension without colour (9 bytes) and temporal scalability (7).
  h.display_ext = std::make_unique<SeqDisplayExt>();
  h.display_ext->display_horizontal_size = 704;
  h.display_ext->display_vertical_size = 480;
  h.scalable_ext = std::make_unique<SeqScalableExt>();
  h.scalable_ext->scalable_mode = 3;
  h.scalable_ext->picture_mux_enable = 1;
  h.scalable_ext->mux_to_progressive_sequence = 1;
  h.scalable_ext->picture_mux_order = 5;
  h.scalable_ext->picture_mux_factor = 6;
  buf.assign(128, 0);
  const int m = h.encode(buf.data(), int(buf.size()));
  ASSERT_EQ(m, 12 + 10 + 9 + 7);
  ASSERT_EQ(back.decode(buf.data(), m), m);  // the last extension ends the data
  EXPECT_EQ(back.compare(&h, 1), 0);
  EXPECT_EQ(back.display_ext->colour_primaries, 6);

  // Cut short: the whole decode fails.
  EXPECT_EQ(back.decode(buf.data(), m - 1), 0);

  // Too small a buffer is a failure, not a short header.
  tsupport::TraceCapture trace;
  EXPECT_EQ(h.encode(buf.data(), 30), 0);
}

// Fault pinned: a header object reused for an MPEG-1 header after an MPEG-2
// one kept the old sequence extension (size extension, progressive flag).
TEST(SeqHdr, Mpeg1AfterMpeg2DropsOldExtension) {
  SeqHdr h;
  h.set_mpeg2_defaults();
  h.seq_ext->horizontal_size_extension = 1;
  h.seq_ext->progressive_sequence = 0;
  uint8_t buf[64];
  SeqHdr m1;
  m1.setup(352, 288, 0, 25.0, 0);
  const int n = m1.encode(buf, sizeof buf);
  ASSERT_EQ(h.decode(buf, n), n);
  EXPECT_EQ(h.get_horizontal_size(), 352);
  EXPECT_EQ(h.get_progressive_sequence(), 1);
  EXPECT_EQ(h.get_profile_level(), 72);
  SeqHdr c;
  c.set_mpeg2_defaults();
  c.seq_ext->progressive_sequence = 0;
  c = h;
  EXPECT_EQ(c.get_progressive_sequence(), 1);
}

TEST(SeqHdr, DefaultsAndQueries) {
  SeqHdr h;
  EXPECT_EQ(h.aspect_ratio_information, 12);
  EXPECT_EQ(h.frame_rate_code, 4);
  EXPECT_EQ(h.invalid, 1);
  VideoInfo vi;
  EXPECT_EQ(h.get_video_info(&vi), 1);

  h.setup(720, 576, 0, 0.0, 1);
  EXPECT_EQ(h.frame_rate_code, 3);
  EXPECT_EQ(h.get_bit_rate(), 6000000);
  EXPECT_EQ(h.get_coded_height(), 576);
  h.vertical_size = 578;
  EXPECT_EQ(h.get_coded_height(), 608);  // interlaced: rows of 32
  h.setup(100, 100, 0, 0.0, 0);
  EXPECT_EQ(h.bit_rate, 1250);
  EXPECT_EQ(h.constrained_parameters_flag, 1);
  h.setup(1920, 1080, 25000000, 25.0, 1);
  EXPECT_TRUE(h.is_hd());
  EXPECT_EQ(h.set_bit_rate(25000001), 25000000);
  EXPECT_EQ(h.bit_rate, 62501);
  EXPECT_FALSE(h.is_hd());
  h.setup(720, 480, 0, 23.976, 1);
  EXPECT_EQ(h.frame_rate_code, 1);
  EXPECT_NEAR(h.get_frame_rate(), 24000.0 / 1001, 1e-9);

  h.bit_rate = 0x3FFFF;
  EXPECT_TRUE(h.is_vbr());
  EXPECT_EQ(h.get_bit_rate(), 4000000);
  h.mpeg2 = 0;
  EXPECT_EQ(h.get_bit_rate(), 1150000);
  EXPECT_EQ(h.get_profile_level(), 72);
  h.mpeg2 = 1;
  EXPECT_EQ(h.set_aspect_ratio_information(3), 2);

  EXPECT_EQ(h.set_chroma_format(2), 2);
  EXPECT_EQ(h.seq_ext->get_profile(), 1);
  EXPECT_EQ(h.seq_ext->get_level(), 8);
  EXPECT_EQ(h.seq_ext->set_profile(6), 1);
  EXPECT_EQ(h.set_chroma_format(1), 1);

  auto d = mpeg2_header();
  ASSERT_GT(h.decode(d.data(), int(d.size())), 0);
  ASSERT_EQ(h.get_video_info(&vi), 0);
  EXPECT_EQ(vi.mpeg2, 1);
  EXPECT_EQ(vi.width, 720);
  EXPECT_EQ(vi.height, 576);
  EXPECT_EQ(vi.bit_rate, 6000000);
  EXPECT_NEAR(vi.frame_rate, 25.0, 1e-9);
  EXPECT_EQ(vi.aspect_ratio_information, 2);
  EXPECT_EQ(vi.stream_id, 224);
  EXPECT_EQ(vi.profile_and_level_indication, 0x48);
  EXPECT_TRUE(vi.is_dvd());
  EXPECT_FALSE(vi.is_vcd());
}

TEST(SeqHdr, BitRateIgnoresExtension) {
  auto d = mpeg2_header();
  d[19] = 0x03;  // bit_rate_extension 1, marker
  SeqHdr h;
  ASSERT_EQ(h.decode(d.data(), int(d.size())), 22);
  ASSERT_EQ(h.seq_ext->bit_rate_extension, 1);
  EXPECT_EQ(h.get_bit_rate(), (15000 + (1 << 18)) * 400);
  VideoInfo vi;
  ASSERT_EQ(h.get_video_info(&vi), 0);
  EXPECT_EQ(vi.bit_rate, (15000 + (1 << 18)) * 400);

  // A new rate replaces the extension too, and both parts are coded.
  EXPECT_EQ(h.set_bit_rate(6000000), (15000 + (1 << 18)) * 400);
  EXPECT_EQ(h.get_bit_rate(), 6000000);
  EXPECT_EQ(h.seq_ext->bit_rate_extension, 0);
  EXPECT_EQ(h.set_bit_rate(200000000), 6000000);
  EXPECT_EQ(h.get_bit_rate(), 200000000);
  uint8_t out[64];
  const int n = h.encode(out, sizeof out);
  ASSERT_GT(n, 0);
  SeqHdr back;
  ASSERT_GT(back.decode(out, n), 0);
  EXPECT_EQ(back.get_bit_rate(), 200000000);
  // The writers' check limits the buffer by the whole rate, not its low bits.
  h.set_bit_rate(0x40001 * 400);  // low 18 bits 1
  h.seq_ext->profile_and_level_indication = 0x14;  // High profile, High level
  h.vbv_buffer_size = 500;
  h.checks();
  EXPECT_EQ(h.vbv_buffer_size, 500);

  // Without extension bits nothing changes: VBR and MPEG-1 fall-backs.
  d = mpeg2_header();
  d[8] = 0xFF, d[9] = 0xFF, d[10] = 0xE3;  // bit_rate 0x3FFFF
  ASSERT_GT(h.decode(d.data(), int(d.size())), 0);
  EXPECT_TRUE(h.is_vbr());
  EXPECT_EQ(h.get_bit_rate(), 4000000);
  SeqHdr m1;
  m1.set_mpeg1_defaults();
  m1.seq_ext->bit_rate_extension = 1;  // not coded in MPEG-1
  EXPECT_EQ(m1.get_bit_rate(), 1150000);
}

TEST(SeqHdr, CopyAndCompare) {
  auto d = mpeg2_header();
  SeqHdr a;
  ASSERT_GT(a.decode(d.data(), int(d.size())), 0);
  SeqHdr b(a);
  EXPECT_EQ(b.compare(&a, 1), 0);
  EXPECT_EQ(b.coded_length, a.coded_length);
  EXPECT_EQ(0, std::memcmp(b.get_coded_copy(), a.get_coded_copy(), size_t(a.coded_length)));
  EXPECT_EQ(a.compare(nullptr, 0), 1);
  EXPECT_EQ(b.copy(nullptr), 1);
  SeqHdr& same = b;
  b = same;
  EXPECT_EQ(b.compare(&a, 1), 0);

  b.aspect_ratio_information = 3;  // not compared
  EXPECT_EQ(b.compare(&a, 1), 0);
  b.seq_ext->progressive_sequence = 0;
  EXPECT_NE(b.compare(&a, 0), 0);
  b = a;
  b.bit_rate = 1;
  EXPECT_NE(b.compare(&a, 0), 0);
  b = a;
  uint8_t m[64];
  std::memset(m, 20, 64);
  b.set_intra_matrix(m);
  EXPECT_EQ(b.compare(&a, 0), 0);
  EXPECT_NE(b.compare(&a, 1), 0);
  EXPECT_NE(b.compare_matrices(&a), 0);
  a.set_intra_matrix(m);
  m[63] = 21;
  b.set_intra_matrix(m);
  EXPECT_EQ(a.compare_matrices(&b), -1);
  EXPECT_EQ(b.compare_matrices(&a), 1);
}

struct ChecksCase {
  const char* name;
  int width, height, frame_rate_code, bit_rate, vbv, pl, chroma;
  int errors;
  int vbv_after;
};

TEST(SeqHdr, ChecksProfileLevelTable) {
  const ChecksCase cases[] = {
      {"MP@ML PAL", 720, 576, 3, 15000, 112, 0x48, 1, 0, 112},
      {"MP@ML vbv repaired to level max", 720, 576, 3, 15000, 200, 0x48, 1, 0, 112},
      {"vbv above 0.728 s of the rate", 720, 576, 3, 1000, 100, 0x48, 1, 0, 18},
      {"MP@HL", 1920, 1088, 3, 200000, 597, 0x44, 1, 0, 597},
      {"MP@LL", 352, 288, 3, 10000, 20, 0x4A, 1, 0, 20},
      {"HP@LL not allowed", 352, 288, 3, 10000, 20, 0x1A, 1, 1, 20},
      {"SP@HL not allowed", 720, 576, 3, 15000, 112, 0x54, 1, 1, 112},
      {"Spatial profile", 720, 576, 3, 15000, 112, 0x26, 1, 1, 112},
      {"SNR profile at ML: scalable refused", 720, 576, 3, 15000, 112, 0x38, 1, 1, 112},
      {"profile 0", 720, 576, 3, 15000, 112, 0x08, 1, 1, 112},
      {"level 9", 720, 576, 3, 15000, 112, 0x49, 1, 1, 112},
      {"4:2:2 needs High", 720, 576, 3, 15000, 112, 0x48, 2, 1, 112},
      {"High 4:2:2", 720, 576, 3, 15000, 112, 0x18, 2, 0, 112},
      {"High 4:4:4", 720, 576, 3, 15000, 112, 0x18, 3, 1, 112},
      {"escape profile unchecked", 720, 576, 3, 15000, 112, 0x85, 2, 0, 112},
      {"reserved profile 9", 720, 576, 3, 15000, 112, 0x98, 1, 1, 112},
      {"chroma 0: bad, and Main needs 4:2:0", 720, 576, 3, 15000, 112, 0x48, 0, 2, 112},
      {"width 0", 0, 576, 3, 15000, 112, 0x48, 1, 1, 112},
      {"height low 12 bits zero", 720, 8192, 3, 15000, 112, 0x48, 1, 1, 112},
      {"negative bit rate", 720, 576, 3, -5, 112, 0x48, 1, 1, 112},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SeqHdr h;
    h.setup(c.width, c.height, 0, 0.0, 1);
    h.frame_rate_code = c.frame_rate_code;
    h.bit_rate = c.bit_rate;
    h.vbv_buffer_size = c.vbv;
    h.seq_ext->profile_and_level_indication = c.pl;
    h.seq_ext->chroma_format = c.chroma;
    EXPECT_EQ(h.checks(), c.errors);
    EXPECT_EQ(h.vbv_buffer_size, c.vbv_after);
  }
}

TEST(SeqHdr, ChecksRepairs) {
  SeqHdr h;
  h.setup(719, 575, 6000000, 25.0, 1);
  h.frame_rate_code = 12;
  h.vbv_buffer_size = 0;
  EXPECT_EQ(h.checks(), 0);
  EXPECT_EQ(h.horizontal_size, 720);  // even for 4:2:0
  EXPECT_EQ(h.vertical_size, 576);
  EXPECT_EQ(h.frame_rate_code, 4);
  EXPECT_EQ(h.vbv_buffer_size, 112);  // half a second of the rate, then Main level's maximum


  SeqHdr m1;
  m1.setup(4096, 480, 1150000, 29.97, 0);
  EXPECT_EQ(m1.checks(), 0);
  EXPECT_EQ(m1.horizontal_size, 4095);
  EXPECT_EQ(m1.constrained_parameters_flag, 0);  // too wide for constrained parameters
  m1.setup(352, 240, 1150000, 29.97, 0);
  m1.vbv_buffer_size = 0;
  EXPECT_EQ(m1.checks(), 0);
  EXPECT_EQ(m1.constrained_parameters_flag, 1);
  EXPECT_EQ(m1.vbv_buffer_size, 1150000 / 2 / 16384);
  m1.bit_rate = 0x40000;
  m1.vbv_buffer_size = 1024;
  EXPECT_EQ(m1.checks(), 2);
  m1.setup(5000, 240, 0, 29.97, 0);
  EXPECT_EQ(m1.checks(), 1);
}

// Level limits are reported, not counted; only the VBV size is repaired.
TEST(SeqHdr, ChecksLevelLimitsReportOnly) {
  tsupport::TraceCapture trace;
  SeqHdr h;
  h.setup(1920, 1088, 40000000, 60.0, 1);  // MP@ML header carrying HD at 60 Hz, 40 Mbit/s
  h.vbv_buffer_size = 500;
  EXPECT_EQ(h.checks(), 0);
  EXPECT_EQ(h.vbv_buffer_size, 112);
  EXPECT_GE(trace.messages().size(), 4u);  // rate code, size, samples, bit rate

  SeqHdr bare;
  bare.setup(720, 576, 0, 25.0, 1);
  bare.seq_ext.reset();
  EXPECT_EQ(bare.checks(), 1);  // MPEG-2 without its sequence extension
}

TEST(VideoInfo, EqualityRules) {
  VideoInfo a;
  EXPECT_EQ(a.stream_id, 0xE0);
  EXPECT_EQ(a.frame_rate_code, 4);
  EXPECT_NEAR(a.frame_rate, 30000.0 / 1001, 1e-9);
  EXPECT_EQ(a.chroma_format, 1);
  a.mpeg2 = 1;
  a.width = 720;
  a.height = 576;
  a.frame_rate = 25.0;
  VideoInfo b = a;
  EXPECT_TRUE(a == b);
  b.frame_rate = 25.00009;
  EXPECT_TRUE(a == b);
  b.frame_rate = 25.0002;
  EXPECT_FALSE(a == b);
  b = a;
  b.vbr = 1;
  EXPECT_FALSE(a == b);  // MPEG-2 compares the VBR flag
  a.mpeg2 = b.mpeg2 = 0;
  EXPECT_TRUE(a == b);
  b = a;
  b.profile_and_level_indication = 5;  // not part of the format
  b.length = 12.0;
  EXPECT_TRUE(a == b);
  b.stream_id = 0xE1;
  EXPECT_FALSE(a == b);
  a.pid = b.pid = 0x100;  // the PID decides when set
  EXPECT_TRUE(a == b);
  b.pid = 0x101;
  EXPECT_FALSE(a == b);
  for (auto change : {&VideoInfo::width, &VideoInfo::height, &VideoInfo::chroma_format,
                      &VideoInfo::aspect_ratio_information, &VideoInfo::progressive_sequence, &VideoInfo::drop_frame,
                      &VideoInfo::bit_rate, &VideoInfo::video_type, &VideoInfo::stream_word}) {
    VideoInfo c = a;
    c.*change += 1;
    EXPECT_FALSE(a == c);
  }
}

TEST(VideoInfo, DvdAndVcdRules) {
  VideoInfo v;
  v.mpeg2 = 0;
  v.bit_rate = 1150000;
  v.frame_rate = 25.0;
  v.width = 352;
  v.height = 288;
  EXPECT_TRUE(v.is_vcd());
  EXPECT_TRUE(v.is_dvd());
  v.bit_rate = 1152001;
  EXPECT_FALSE(v.is_vcd());
  v.mpeg2 = 1;
  v.width = 720;
  v.height = 576;
  v.bit_rate = 9800001;
  EXPECT_FALSE(v.is_dvd());
  v.bit_rate = 9800000;
  EXPECT_TRUE(v.is_dvd());
}

// Decode then encode gives back the coded bytes of every sequence header of
// every fixture (user data is not re-emitted).
TEST(SeqHdr, FixtureHeadersRoundTrip) {
  for (const char* name : {"m1c.m1v", "m2c.m2v", "cg.m2v", "m2v.m2v", "il_tff.m2v", "il_bff.m2v", "df.m2v", "422.m2v",
                           "hd.m2v", "pd.m2v"}) {
    SCOPED_TRACE(name);
    const auto data = tsupport::read_file(tsupport::fixture(name));
    const auto at = start_codes(data, 0xB3);
    ASSERT_FALSE(at.empty());
    SeqHdr h;
    for (size_t off : at) {
      const int n = h.decode(data.data() + off, int(data.size() - off));
      ASSERT_GT(n, 0) << off;
      const int body = h.coded_length - h.user_data_bytes;
      std::vector<uint8_t> out(size_t(body) + 16);
      ASSERT_EQ(h.encode(out.data(), int(out.size())), body) << off;
      ASSERT_EQ(0, std::memcmp(out.data(), data.data() + off, size_t(body))) << off;
      SeqHdr again;
      ASSERT_EQ(again.decode(out.data(), body), body);
      EXPECT_EQ(again.compare(&h, 1), 0);
    }
  }
}

}  // namespace
