// GOP index bookkeeping: building, field-number repair, known GOPs and the
// size measures.
#include <gtest/gtest.h>

#include "demux/goplist.h"
#include "support/support.h"

namespace {

using namespace tsupport;

TEST(GopList, BuiltFromFirstAndLastGop) {
  GOPList list(fixture("long60.m2v").c_str());
  ASSERT_TRUE(list.is_open());
  EXPECT_EQ(list.get_gop_size(), 12);  // half the frame rate before any GOP
  ASSERT_EQ(list.build_index(), 0);
  ASSERT_TRUE(list.first() && list.last());
  EXPECT_EQ(list.first()->next, list.last());
  EXPECT_EQ(list.first()->start.value(), 0u);
  EXPECT_EQ(list.last()->end, list.get_demuxer()->get_file_size());
  EXPECT_EQ(list.get_total_frames(), 1500);
  EXPECT_EQ(list.get_sub_gop_size(), 3);
  EXPECT_NEAR(list.get_duration(), 60.0, 1e-9);
  // A frame of the last GOP needs no search.
  GOP g;
  const int parses = list.get_parse_count();
  EXPECT_EQ(list.get_gop(1499, &g, 0, 0), list.last()->first_frame());
  EXPECT_EQ(list.get_parse_count(), parses);
  EXPECT_TRUE(list.is_end_gop(nullptr));
}

TEST(GopList, RefusesStreamsWithoutVideo) {
  TraceCapture trace;
  for (const char* name : {"mp2_44100.mp2", "ac3_48000_2ch.ac3"}) {
    GOPList list(fixture(name).c_str());
    EXPECT_FALSE(list.is_open()) << name;
  }
  EXPECT_TRUE(trace.contains("only processing MPEG Video and System streams"));
}

TEST(GopList, KnownGopsAreNotAddedTwice) {
  GOPList list(fixture("long60.m2v").c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  GOP g;
  list.get_gop(700, &g, 0, 0);
  const int added = list.get_records_added();
  // Parse the same GOP again.
  DeMuxer* d = list.get_demuxer();
  d->goto_offset(g.start);
  GOP again;
  ASSERT_GT(d->parse_gop(&again, 0, 0, 0), 0);
  EXPECT_EQ(list.add_gop(&again), 0);
  EXPECT_EQ(list.get_records_added(), added);
}

TEST(GopList, ForwardFieldNumbersAreRepaired) {
  // GOPs read one after the other: one field below the expected number is
  // kept as reported, two below are corrected.
  for (int shift : {1, 2}) {
    GOPList list(fixture("m2c.m2v").c_str());
    ASSERT_TRUE(list.is_open());
    ASSERT_EQ(list.build_index(), 0);
    GOP first;
    list.get_first_gop(&first, 0);
    DeMuxer* d = list.get_demuxer();
    d->goto_offset(first.end);
    GOP g;
    ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 0);
    const int expected = first.first_field + first.total_fields;
    // parse_gop numbers absolutely; the index subtracts the first GOP's number.
    g.first_field = d->get_first_field() + expected - shift;
    TraceCapture trace;
    list.add_gop(&g);
    EXPECT_EQ(list.current()->first_field, shift == 1 ? expected - 1 : expected) << shift;
    EXPECT_EQ(trace.contains("field offset"), shift == 2);
  }
}

}  // namespace

namespace {

TEST(GopList, FollowsAGrowingFile) {
  using namespace tsupport;
  // A recording in progress: the file grows by whole GOPs while indexed.
  const auto bytes = read_file(fixture("cg.m2v"));  // closed GOPs of 12 frames
  const std::string path = temp_dir() + "/growing.m2v";
  size_t cut = 0;
  int frames_before = 0;
  {
    GOPList whole(fixture("cg.m2v").c_str());
    ASSERT_TRUE(whole.is_open());
    ASSERT_EQ(whole.build_index(), 0);
    GOP g;
    whole.get_first_gop(&g, 0);
    for (int i = 0; i < 3; ++i) whole.next_gop(&g, 0);
    cut = g.start.value();  // the first three GOPs
    frames_before = g.first_frame();
  }
  ASSERT_TRUE(write_file(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(cut))));
  GOPList list(path.c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  const int before = list.get_total_frames();
  EXPECT_EQ(before, frames_before);
  ASSERT_TRUE(write_file(path, bytes));
  EXPECT_GT(list.get_total_frames(), before);
  GOP g;
  int n = 0;
  for (int p = list.get_first_gop(&g, 0); p > 0; p = list.next_gop(&g, 0)) ++n;
  EXPECT_EQ(n, 8);
}

}  // namespace
