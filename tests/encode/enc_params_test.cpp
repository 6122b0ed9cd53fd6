// Parameter set-up and checks: defaults, search windows and f_codes,
// geometry, and one case per check rule.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "encode/encoder.h"
#include "support.h"

namespace {

std::unique_ptr<Encoder> make(int mpeg1, int m = 3, int sh = 0, int sv = 0, const SeqHdr* seq = nullptr,
                              int progressive = 0) {
  RecordVideoSetup p;
  p.mpeg1 = mpeg1;
  p.gop_size = 15;
  p.ref_distance = m;
  p.search_h = sh;
  p.search_v = sv;
  p.seqhdr = seq;
  p.progressive = progressive;
  int result = 1;
  auto e = std::make_unique<Encoder>(p, &result);
  EXPECT_EQ(result, 0);
  return e;
}

TEST(EncParams, SearchWindowExamples) {
  auto e1 = make(1);
  EXPECT_EQ(e1->search_h, 7);
  EXPECT_EQ(e1->search_v, 7);
  EXPECT_EQ(e1->motion_data[0].sxf, 21);
  EXPECT_EQ(e1->motion_data[0].forw_hor_f_code, 3);
  EXPECT_EQ(e1->check_parameters(), 0);
  auto e2 = make(0);
  EXPECT_EQ(e2->search_h, 15);
  EXPECT_EQ(e2->motion_data[0].sxf, 45);
  EXPECT_EQ(e2->motion_data[0].forw_hor_f_code, 4);
  // A B picture at distance 2 of M = 3: forward 2h | 1, backward h | 1.
  EXPECT_EQ(e2->motion_data[2].sxf, 31);
  EXPECT_EQ(e2->motion_data[2].sxb, 15);
  auto big2 = make(0, 3, 3000, 3000);
  EXPECT_EQ(big2->search_h, 2047);
  auto big1 = make(1, 3, 3000, 3000);
  EXPECT_EQ(big1->search_h, 511);
  auto one = make(0, 1);
  EXPECT_EQ(one->motion_data.size(), 2u);
}

TEST(EncParams, ZeroRefDistanceSearchesLikeOne) {
  auto e = make(0, 0, 10, 10);
  ASSERT_EQ(e->motion_data.size(), 2u);
  EXPECT_EQ(e->motion_data[0].sxf, 11);  // not (0 x h) | 1 = 1
  EXPECT_EQ(e->motion_data[1].sxf, 11);
}

TEST(EncParams, InterlacedGeometry) {
  SeqHdr s;
  s.setup(720, 480, 0, 29.97, 1);
  auto e = make(0, 3, 0, 0, &s);
  EXPECT_EQ(e->mb_height, 30);
  s.setup(720, 486, 0, 29.97, 1);
  auto f = make(0, 3, 0, 0, &s);
  EXPECT_EQ(f->mb_height, 32);
  EXPECT_EQ(f->block_count, 6);
  s.set_chroma_format(2);
  auto g = make(0, 3, 0, 0, &s);
  EXPECT_EQ(g->block_count, 8);
}

TEST(EncParams, OutputVersionFollowsTheCopiedHeader) {
  SeqHdr m1;
  m1.setup(352, 288, 0, 25.0, 0);
  auto e = make(0, 3, 0, 0, &m1);
  EXPECT_EQ(e->mpeg1, 1);
  EXPECT_EQ(e->pichdr->mpeg2, 0);
  EXPECT_EQ(e->q_scale_type[0], 0);
  EXPECT_EQ(e->pichdr->coding_ext->intra_dc_precision, 0);
  SeqHdr m2;
  m2.setup(720, 576, 0, 25.0, 1);
  auto f = make(1, 3, 0, 0, &m2);
  EXPECT_EQ(f->mpeg1, 0);
  EXPECT_EQ(f->pichdr->mpeg2, 1);
  EXPECT_EQ(f->intra_vlc_format[0], 1);
}

TEST(EncParams, FourFourFourHeaderFailsInitCleanly) {
  SeqHdr s;
  s.setup(720, 576, 0, 25.0, 1);
  s.seq_ext->chroma_format = 3;
  RecordVideoSetup p;
  p.seqhdr = &s;
  int result = 0;
  Encoder e(p, &result);
  EXPECT_EQ(result, 1);
}

struct RuleCase {
  const char* message;
  int mpeg1;
  std::function<void(Encoder&)> spoil;
};

TEST(EncParams, EachCheckRuleCountsWithItsMessage) {
  const RuleCase cases[] = {
      {"_seqhdr->horizontal_size must be between 1 and 16383", 0, [](Encoder& e) { e.seqhdr->horizontal_size = 0; }},
      {"_seqhdr->horizontal_size must be less than 4096 (MPEG-1)", 1,
       [](Encoder& e) { e.seqhdr->horizontal_size = 4100; }},
      {"_seqhdr->horizontal_size must not be a multiple of 4096", 0,
       [](Encoder& e) { e.seqhdr->horizontal_size = 8192; }},
      {"_seqhdr->horizontal_size must be a even (4:2:0 / 4:2:2)", 0,
       [](Encoder& e) { e.seqhdr->horizontal_size = 721; }},
      {"_seqhdr->vertical_size must be between 1 and 16383", 0, [](Encoder& e) { e.seqhdr->vertical_size = 20000; }},
      {"vertical size must be less than 4096 (MPEG-1)", 1, [](Encoder& e) { e.seqhdr->vertical_size = 4098; }},
      {"_seqhdr->vertical_size must not be a multiple of 4096", 0, [](Encoder& e) { e.seqhdr->vertical_size = 4096; }},
      {"_seqhdr->vertical_size must be a even (4:2:0)", 0, [](Encoder& e) { e.seqhdr->vertical_size = 481; }},
      {"pel_pel_aspect_ratio must be between 1 and 14 (MPEG-1)", 1,
       [](Encoder& e) { e.seqhdr->aspect_ratio_information = 15; }},
      {"_seqhdr->pel_aspect_ratio_information must be 1, 2, 3 or 4", 0,
       [](Encoder& e) { e.seqhdr->aspect_ratio_information = 5; }},
      {"frame_rate code must be between 1 and 8", 0, [](Encoder& e) { e.seqhdr->frame_rate_code = 9; }},
      {"bit_rate must be positive", 0, [](Encoder& e) { e.seqhdr->bit_rate = 0; }},
      {"bit_rate must be less than 104 Mbit/s (MPEG-1)", 1, [](Encoder& e) { e.seqhdr->bit_rate = 262144; }},
      {"_seqhdr->vbv_buffer_size must be in range 1..(2^18-1)", 0, [](Encoder& e) { e.seqhdr->vbv_buffer_size = 0; }},
      {"_seqhdr->vbv_buffer_size must be less than 1024 (MPEG-1)", 1,
       [](Encoder& e) { e.seqhdr->vbv_buffer_size = 1024; }},
      {"intra__pichdr->pce->intra_dc_precisionision must be in range 0...3", 0,
       [](Encoder& e) { e.pichdr->coding_ext->intra_dc_precision = 4; }},
      {"f_code must be between 1 and 9", 0, [](Encoder& e) { e.motion_data[0].forw_hor_f_code = 10; }},
      {"f_code must be le less than 8", 1, [](Encoder& e) { e.motion_data[1].back_hor_f_code = 8; }},
      {"search window must be positive", 0, [](Encoder& e) { e.motion_data[1].syb = 0; }},
      {"undefined Profile", 0, [](Encoder& e) { e.seqhdr->seq_ext->profile_and_level_indication = 0x68; }},
      {"This encoder currently generates no scalable bitstreams", 0,
       [](Encoder& e) { e.seqhdr->seq_ext->profile_and_level_indication = 0x26; }},
      {"undefined Level", 0, [](Encoder& e) { e.seqhdr->seq_ext->profile_and_level_indication = 0x49; }},
      {"undefined profile@level combination", 0,
       [](Encoder& e) { e.seqhdr->seq_ext->profile_and_level_indication = 0x5A; }},
      {"Simple Profile does not allow B pictures", 0,
       [](Encoder& e) { e.seqhdr->seq_ext->profile_and_level_indication = 0x58; }},
      {"chroma format must be 4:2:0 in specified Profile", 0, [](Encoder& e) { e.seqhdr->seq_ext->chroma_format = 2; }},
      {"chroma format must be 4:2:0 or 4:2:2 in High Profile", 0,
       [](Encoder& e) {
         e.seqhdr->seq_ext->profile_and_level_indication = 0x18;
         e.seqhdr->seq_ext->chroma_format = 3;
       }},
      {"11 bit DC precision only allowed in High Profile", 0,
       [](Encoder& e) { e.pichdr->coding_ext->intra_dc_precision = 3; }},
      {"Picture rate greater than permitted in specified Level", 0, [](Encoder& e) { e.seqhdr->frame_rate_code = 6; }},
      {"forward horizontal f_code greater than permitted in specified Level", 0,
       [](Encoder& e) { e.motion_data[0].forw_hor_f_code = 9; }},
      {"forward vertical f_code greater than permitted in specified Level", 0,
       [](Encoder& e) { e.motion_data[0].forw_vert_f_code = 6; }},
      {"backward horizontal f_code greater than permitted in specified Level", 0,
       [](Encoder& e) { e.motion_data[1].back_hor_f_code = 9; }},
      {"backward vertical f_code greater than permitted in specified Level", 0,
       [](Encoder& e) { e.motion_data[1].back_vert_f_code = 6; }},
      {"Horizontal size is greater than permitted in specified Level", 0,
       [](Encoder& e) { e.seqhdr->horizontal_size = 736; }},
      {"Sample rate is greater than permitted in specified Level", 0,
       [](Encoder& e) { e.seqhdr->frame_rate_code = 5; e.seqhdr->vertical_size = 576; }},
      {"Bit rate is greater than permitted in specified Level", 0, [](Encoder& e) { e.seqhdr->bit_rate = 40000; }},
      {"_seqhdr->vbv_buffer_size exceeds High Level limit", 0, [](Encoder& e) { e.seqhdr->vbv_buffer_size = 113; }},
      {"field pictures are not supported: frame pictures are coded", 0, [](Encoder& e) { e.fieldpic = 1; }},
  };
  for (const RuleCase& c : cases) {
    auto e = make(c.mpeg1);
    ASSERT_EQ(e->check_parameters(), 0) << c.message;
    c.spoil(*e);
    tsupport::TraceCapture tc;
    EXPECT_GE(e->check_parameters(), 1) << c.message;
    EXPECT_TRUE(tc.contains(c.message)) << c.message;
    EXPECT_EQ(e->fieldpic, 0) << c.message;
  }
}

TEST(EncParams, UndefinedLevelNeverIndexesTheLevelTable) {
  auto e = make(0);
  for (int pl : {0x40, 0x4F, 0x49, 0x0F, 0x90, 0x4B}) {
    e->seqhdr->seq_ext->profile_and_level_indication = pl;
    tsupport::TraceCapture tc;
    EXPECT_GE(e->check_parameters(), 1);
    EXPECT_FALSE(tc.contains("permitted in specified Level")) << std::hex << pl;
  }
}

TEST(EncParams, Mpeg1LargePictureClearsConstrainedFlagWithoutAnError) {
  auto e = make(1);
  e->seqhdr->horizontal_size = 720;
  e->seqhdr->vertical_size = 576;
  e->seqhdr->constrained_parameters_flag = 1;
  EXPECT_EQ(e->check_parameters(), 0);
  EXPECT_EQ(e->seqhdr->constrained_parameters_flag, 0);
}

TEST(EncParams, UserDataMustBeOneUserDataElement) {
  auto e = make(0);
  const uint8_t good[] = {0, 0, 1, 0xB2, 'h', 'i'};
  const uint8_t no_code[] = {'h', 'i', 0, 0};
  const uint8_t inner[] = {0, 0, 1, 0xB2, 'a', 0, 0, 1, 0xB3};
  EXPECT_EQ(e->set_user_data(good, sizeof good), 0);
  EXPECT_EQ(e->user_data.size(), sizeof good);
  EXPECT_EQ(e->set_user_data(no_code, sizeof no_code), 1);
  EXPECT_EQ(e->set_user_data(inner, sizeof inner), 1);
  EXPECT_EQ(e->user_data.size(), sizeof good);
  EXPECT_EQ(e->set_user_data(nullptr, 0), 0);
  EXPECT_TRUE(e->user_data.empty());
}

TEST(EncParams, MatrixWithZeroEntryIsRefused) {
  auto e = make(0);
  int32_t before[64];
  std::memcpy(before, e->intra_q, sizeof before);
  uint8_t m[64];
  std::memset(m, 20, sizeof m);
  m[10] = 0;
  EXPECT_EQ(e->load_intra_matrix(m), 1);
  EXPECT_EQ(0, std::memcmp(before, e->intra_q, sizeof before));
  m[10] = 30;
  EXPECT_EQ(e->load_intra_matrix(m), 0);
  EXPECT_EQ(e->intra_q[10], 30 * kAanScale[10]);
}

}  // namespace
