// Field-coded MPEG-2 pictures (which our encoders do not make): a stream
// written here bit by bit, one GOP of I/I, P/P and B/B field pairs and one
// of an I/P pair and a B/B pair.
#include <gtest/gtest.h>

#include <vector>

#include "demux/goplist.h"
#include "field_stream.h"
#include "support/support.h"

namespace {

using namespace tsupport;

using namespace field_stream;

TEST(FieldPictures, PairsAreOneEntryButIIPairsTwo) {
  Bits b;
  sequence(b);
  gop(b, 0);
  field(b, 2, 1, 1), field(b, 2, 1, 2);  // I/I
  field(b, 5, 2, 1), field(b, 5, 2, 2);  // P/P
  field(b, 0, 3, 1), field(b, 0, 3, 2);  // B/B
  sequence(b);
  gop(b, 1);
  field(b, 1, 1, 1), field(b, 1, 2, 2);  // I/P
  field(b, 0, 3, 1), field(b, 0, 3, 2);  // B/B
  b.start_code(0xB7);
  const std::string path = temp_dir() + "/fields.m2v";
  ASSERT_TRUE(write_file(path, b.out));

  GOPList list(path.c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  GOP g;
  ASSERT_EQ(list.get_first_gop(&g, 1), 4);
  const int types1[] = {1, 1, 2, 3};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(g.get_pic_type(i), types1[i]) << i;
  EXPECT_EQ(g.total_fields, 8);
  ASSERT_EQ(list.next_gop(&g, 1), 2);
  EXPECT_EQ(g.get_pic_type(0), 1);
  EXPECT_EQ(g.get_pic_type(1), 3);
  EXPECT_EQ(g.total_fields, 4);
  EXPECT_EQ(g.end.value(), b.out.size());
  EXPECT_EQ(list.next_gop(&g, 1), 0);
}

}  // namespace
