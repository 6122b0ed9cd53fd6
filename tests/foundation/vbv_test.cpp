// The VBV model: the period of whole bits, picture durations by structure
// and field flags, the VBR latch, snapping to the stream's value, and a
// first vbv_delay of 0.
#include <gtest/gtest.h>

#include <cmath>

#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/vbv.h"

namespace {

SeqHdr mpeg1(int frame_rate_code, int bit_rate_value) {
  SeqHdr s;
  s.mpeg2 = 0;
  s.frame_rate_code = frame_rate_code;
  s.bit_rate = bit_rate_value;
  s.vbv_buffer_size = 20;
  return s;
}

SeqHdr mpeg2(int progressive, int low_delay = 0) {
  SeqHdr s = mpeg1(3, 15000);  // 25 Hz, 6 Mbit/s
  s.mpeg2 = 1;
  s.seq_ext = std::make_unique<SeqExt>();
  s.seq_ext->progressive_sequence = progressive;
  s.seq_ext->low_delay = low_delay;
  return s;
}

PicHdr picture(int type, int vbv_delay, int structure = 3, int repeat = 0, int top_first = 0) {
  PicHdr p;
  p.picture_coding_type = type;
  p.vbv_delay = vbv_delay;
  p.mpeg2 = 1;
  PicCodingExt e;
  e.picture_structure = structure;
  e.repeat_first_field = repeat;
  e.top_field_first = top_first;
  e.progressive_frame = repeat;
  p.set_coding_ext(&e);
  return p;
}

TEST(Vbv, PeriodHoldsAWholeNumberOfBits) {
  VBV v;
  v.init(mpeg1(3, 2875));  // 25 Hz, 1,150,000 bit/s: 46000 bits a period
  EXPECT_DOUBLE_EQ(v.period(), 3600.0);
  v.init(mpeg1(4, 2875));  // 29.97: floor(3003 x 1150000 / 90000) = 38371 bits
  EXPECT_NEAR(v.period(), 38371.0 * 90000.0 / 1150000.0, 1e-9);
  v.init(mpeg2(0));  // interlaced: a field period
  EXPECT_DOUBLE_EQ(v.period(), 1800.0);
  EXPECT_EQ(v.buffer_size(), 20 * 16384);
}

TEST(Vbv, DropFrameOnlyAt2997) {
  VBV v;
  v.init(mpeg1(3, 2875));
  EXPECT_EQ(v.set_drop_frame_flag(1), 0);  // refused, old flag kept
  v.init(mpeg1(4, 2875));
  EXPECT_EQ(v.set_drop_frame_flag(1), 1);
  EXPECT_EQ(v.set_drop_frame_flag(0), 0);
}

TEST(Vbv, VbrFirstPictureLatchesEveryAnswer) {
  VBV v;
  v.init(mpeg1(3, 2875));
  EXPECT_EQ(v.get_vbv_delay(picture(1, 0xFFFF), 0, 0), 0xFFFF);
  for (int d : {0, 1000, 20000}) EXPECT_EQ(v.get_vbv_delay(picture(2, d), 5000, 20), 0xFFFF);
  EXPECT_TRUE(v.is_vbr());
}

TEST(Vbv, VariableRateHeaderGivesNoDelayToConstantRatePictures) {
  // Pictures copied from a constant-rate source under a header whose rate
  // is 0x3FFFF: no rate to count a delay from.
  for (SeqHdr s : {mpeg1(3, 0x3FFFF), mpeg2(1)}) {
    s.bit_rate = 0x3FFFF;
    VBV v;
    v.init(s);
    EXPECT_TRUE(v.is_vbr());
    EXPECT_EQ(v.get_vbv_delay(picture(1, 9000), 0, 0), 0xFFFF);
    EXPECT_EQ(v.get_vbv_delay(picture(2, 9000), 5740, 10), 0xFFFF);
  }
}

TEST(Vbv, ConstantRateCopyGivesEachPictureItsOwnDelay) {
  // 46000 bits a period at 1,150,000 bit/s: a picture of 5750 bytes drains
  // exactly one period, so the delay stays; 1 byte is 0.626 ticks.
  VBV v;
  v.init(mpeg1(3, 2875));
  EXPECT_EQ(v.get_vbv_delay(picture(1, 9000), 0, 0), 9000);
  EXPECT_EQ(v.get_vbv_delay(picture(2, 9000), 5740, 10), 9000);
  // 2 bytes more: 1.25 ticks off, within the 1.5 snap.
  EXPECT_EQ(v.get_vbv_delay(picture(3, 9000), 5752, 0), 9000);
  // A picture 1000 bytes larger drains 626 ticks more: the model says so.
  EXPECT_EQ(v.get_vbv_delay(picture(3, 9000), 6750, 0), 9000 - 626);
  EXPECT_EQ(v.min_delay(), 9000 - 626 - 3600);
}

TEST(Vbv, FirstDelayOfZeroDoesNotReseedLaterPictures) {
  VBV v;
  v.init(mpeg1(3, 2875));
  EXPECT_EQ(v.get_vbv_delay(picture(1, 0), 0, 0), 0);
  EXPECT_TRUE(v.started());
  // Nothing drained, one period added: 3600, not the stream's 20000.
  EXPECT_EQ(v.get_vbv_delay(picture(2, 20000), 0, 0), 3600);
}

struct DurationCase {
  const char* name;
  int progressive, low_delay;
  int type, structure, repeat, top_first;
  double periods;
};

TEST(Vbv, PictureDurationsByStructureAndFieldFlags) {
  // Each case starts from a fresh model: an anchor takes the duration of
  // the anchor before it (none yet: repeat 0).
  const std::vector<DurationCase> cases = {
      {"progressive B", 1, 0, 3, 3, 0, 0, 1},
      {"progressive B repeat", 1, 0, 3, 3, 1, 0, 2},
      {"progressive B repeat top first", 1, 0, 3, 3, 1, 1, 3},
      {"progressive anchor takes the last one's", 1, 0, 1, 3, 1, 1, 1},
      {"progressive low delay", 1, 1, 1, 3, 1, 1, 3},
      {"interlaced B frame", 0, 0, 3, 3, 0, 0, 2},
      {"interlaced B frame repeat", 0, 0, 3, 3, 1, 0, 3},
      {"interlaced anchor frame", 0, 0, 2, 3, 1, 0, 2},
      {"interlaced B field", 0, 0, 3, 1, 0, 0, 1},
      {"interlaced anchor top field", 0, 0, 1, 1, 0, 0, 1},
      {"interlaced anchor bottom field", 0, 0, 1, 2, 0, 0, 1},
      {"interlaced low delay frame repeat", 0, 1, 2, 3, 1, 0, 3},
      {"interlaced low delay field", 0, 1, 2, 2, 0, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    VBV v;
    v.init(mpeg2(c.progressive, c.low_delay));
    EXPECT_DOUBLE_EQ(v.get_pic_duration(picture(c.type, 1000, c.structure, c.repeat, c.top_first)),
                     c.periods * v.period());
    EXPECT_DOUBLE_EQ(v.last_duration(), c.periods * v.period());
  }
  // An anchor after one that repeated a field shows 3 fields.
  VBV v;
  v.init(mpeg2(0));
  (void)v.get_pic_duration(picture(1, 1000, 3, 1, 1));
  EXPECT_DOUBLE_EQ(v.get_pic_duration(picture(2, 1000, 3, 0, 0)), 3 * v.period());
  // A bottom field after a repeating frame anchor: 2 field periods.
  (void)v.get_pic_duration(picture(1, 1000, 3, 1, 1));
  EXPECT_DOUBLE_EQ(v.get_pic_duration(picture(1, 1000, 2, 0, 0)), 2 * v.period());
}

TEST(Vbv, MpegOneTakesOnePeriodAPicture) {
  VBV v;
  v.init(mpeg1(3, 2875));
  PicHdr p;
  p.picture_coding_type = 3;
  p.vbv_delay = 100;
  EXPECT_DOUBLE_EQ(v.get_pic_duration(p), 3600.0);
  (void)v.get_vbv_delay(p, 0, 0);
  (void)v.get_vbv_delay(p, 0, 0);
  EXPECT_DOUBLE_EQ(v.elapsed(), 2 * 3600.0);  // durations asked for alone do not count
}

}  // namespace

// A damaged header's rate of 400 bit/s and a 10 MB picture drive the model
// 1.8e10 ticks below zero: the delays saturate instead of overflowing int.
TEST(Vbv, DelaysFarOutOfRangeSaturate) {
  VBV v;
  v.init(mpeg1(3, 1));
  EXPECT_EQ(v.get_vbv_delay(picture(1, 1000), 0, 0), 1000);
  const int r = v.get_vbv_delay(picture(2, 1000), 10000000, 0);
  EXPECT_GE(r, -1000000000);
  EXPECT_LE(r, 1000);
  EXPECT_GE(v.min_delay(), -1000000000.0);
  EXPECT_LT(v.min_delay(), 0.0);
}
