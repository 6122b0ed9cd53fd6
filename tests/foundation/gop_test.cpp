#include <gtest/gtest.h>

#include <vector>

#include "foundation/gop.h"

namespace {

struct Pic {
  int type, fields, tff;
};

GOP make_gop(const std::vector<Pic>& pics) {
  GOP g;
  int off = 0;
  for (const auto& p : pics) g.add_pic(p.type, off += 100, p.fields, p.tff);
  g.byte_length = off + 100;
  return g;
}

TEST(GopRecord, EntryPacking) {
  GOP g;
  g.add_pic(1, 0, 2, 0);
  g.add_pic(3, 0x1234, 3, 1);
  EXPECT_EQ(g.pic_table[0] >> 27, 1u << 3);  // I, no field code
  EXPECT_EQ((g.pic_table[1] >> 27) & 7, 5u);
  EXPECT_EQ(g.pic_table[1] >> 30, 3u);
  EXPECT_EQ(g.get_pic_entry(1), 0x1234);
  EXPECT_EQ(g.get_pic_fields(1), 3);
  EXPECT_EQ(g.get_pic_flag(1), 1);
  EXPECT_EQ(g.total_fields, 5);
  g.byte_length = 9999;
  EXPECT_EQ(g.get_pic_entry(g.pic_count), 9999);
  EXPECT_EQ(g.get_pic_type(-1), 1);
  EXPECT_EQ(g.get_pic_fields(7), 2);
  g.remove_last_pic();
  EXPECT_EQ(g.byte_length, 0x1234);
  EXPECT_EQ(g.total_fields, 2);
}

TEST(GopRecord, TableGrowsPastManyPictures) {
  GOP g;
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(g.add_pic(i ? 2 : 1, i * 10, 2, 0), i + 1);
  EXPECT_EQ(g.get_pic_entry(4999), 49990);
  EXPECT_GE(g.list_capacity, 5000);
  EXPECT_LT(g.list_capacity, 20000);
}

TEST(GopRecord, ClosedGopDisplayOrder) {
  GOP g = make_gop({{1, 2, 0}, {2, 2, 0}, {3, 2, 0}, {3, 2, 0}});
  const int expect[] = {0, 6, 2, 4};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g.get_pic_display_field(i), expect[i]) << i;
  EXPECT_EQ(g.field_to_pic(3), 2);
  EXPECT_EQ(g.frame_to_pic(1, 0), 1);
}

TEST(GopRecord, IrregularFieldCountsDisplayOrder) {
  // Pulldown-style open GOP, coded I0(3) B1(2) B2(3) P3(2) B4(3) B5(2),
  // displayed B1 B2 I0 B4 B5 P3.
  GOP g = make_gop({{1, 3, 1}, {3, 2, 0}, {3, 3, 0}, {2, 2, 1}, {3, 3, 1}, {3, 2, 0}});
  EXPECT_EQ(g.total_fields, 15);
  const int display[] = {5, 0, 2, 13, 8, 11};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(g.get_pic_display_field(i), display[i]) << i;
  EXPECT_EQ(g.get_coded_field_offset(3), 8);
  EXPECT_EQ(g.get_field_offset_after_pic(3), 8);  // 3+2+3+2 less the waiting P
  EXPECT_EQ(g.get_last_ref_pic_offset(3), 5);
  // Output walk: shown after k=1..5 is 2, 5, 8, 11, 13.
  EXPECT_EQ(g.field_to_pic(5), 2);
  EXPECT_EQ(g.field_to_pic(6), 3);
  EXPECT_EQ(g.frame_to_pic(4, 0), 3);
  EXPECT_EQ(g.frame_to_pic(4, 1), 3);
  EXPECT_EQ(g.frame_to_pic(7, 0), 5);
}

TEST(GopRecord, LeadingBPictureDoesNotGoNegative) {
  GOP g = make_gop({{3, 2, 0}, {1, 2, 0}});
  EXPECT_EQ(g.get_pic_display_field(0), 0);
}

// Coded bytes of a picture header: 00 00 01 00, temporal_reference (10 bits),
// picture_coding_type (3), vbv_delay (16), padding.
void put_picture(std::vector<uint8_t>& d, int tr, int type) {
  uint8_t b[] = {0, 0, 1, 0, uint8_t(tr >> 2), uint8_t(((tr & 3) << 6) | (type << 3) | 7), 0xFF, 0xF8, 0, 0, 0, 0, 0, 0, 0, 0};
  d.insert(d.end(), b, b + sizeof b);
}

TEST(GopRecord, TemporalReferencesAreRenumbered) {
  std::vector<uint8_t> d;
  GOP g;
  const int tr[] = {5, 6, 7}, type[] = {1, 3, 3};
  for (int i = 0; i < 3; ++i) {
    g.add_pic(type[i], int(d.size()), 2, 0);
    put_picture(d, tr[i], type[i]);
  }
  g.byte_length = int(d.size());
  g.resize_data_buffer(g.byte_length);
  std::copy(d.begin(), d.end(), g.data);
  g.data_valid = g.byte_length;
  EXPECT_EQ(g.reset_temporal_reference(), 3);
  EXPECT_EQ(g.get_pic_temporal_reference(0), 2);
  EXPECT_EQ(g.get_pic_temporal_reference(1), 0);
  EXPECT_EQ(g.get_pic_temporal_reference(2), 1);
  EXPECT_EQ(g.reset_temporal_reference(), 0);
  // A table pointing past the bytes held is not followed.
  g.pic_table[2] = (g.pic_table[2] & ~kPicOffsetMask) | 100000;
  g.set_pic_list(g.pic_table, g.pic_count);
  EXPECT_EQ(g.get_pic_temporal_reference(2), -1);
}

TEST(GopRecord, BuffersAndCopies) {
  GOP g;
  EXPECT_EQ(g.resize_data_buffer(1000), 132072);
  EXPECT_EQ(g.resize_data_buffer(10), 132072);
  g.pts = 1000;
  EXPECT_TRUE(g.has_pts());
  g.no_pts = 1;
  EXPECT_FALSE(g.has_pts());
  g.pts = kNoTime;
  g.no_pts = 0;
  EXPECT_FALSE(g.has_pts());

  // Assigning a GOP without bytes leaves the target with no valid bytes
  // although it keeps its buffer.
  GOP src = make_gop({{1, 2, 0}, {2, 2, 0}});
  src.byte_length = 50000;
  g.data_valid = 100;
  g.byte_length = 100;
  g = src;
  EXPECT_EQ(g.byte_length, 50000);
  EXPECT_EQ(g.valid_bytes(), 0);
  EXPECT_EQ(g.get_pic_temporal_reference(0), -1);
  EXPECT_EQ(g.reset_temporal_reference(), 0);
}

TEST(GopRecord, OrderAndEquality) {
  LGOP a, b;
  a.start = 0, a.end = 100, b.start = 100, b.end = 300;
  EXPECT_EQ(a.compare(b), -1);
  EXPECT_EQ(b.compare(a), 1);
  LGOP c;
  c.start = 50, c.end = 150;
  EXPECT_EQ(c.compare(b), 0);
  LGOP e1, e2;
  e1.start = e1.end = 10;
  e2.start = e2.end = 10;
  e2.vbs_offset = 4;
  EXPECT_EQ(e1.compare(e2), -1);
  EXPECT_TRUE(b.is_contiguous_with(a, 25.0));
  EXPECT_FALSE(a.is_contiguous_with(b, 25.0));
  LGOP d(b);
  EXPECT_EQ(d.equals(b), 0);
  d.first_field = 4;
  EXPECT_EQ(d.equals(b), 1);
}

}  // namespace
