// GOP index bookkeeping: building, field-number repair, known GOPs and the
// size measures.
#include <gtest/gtest.h>

#include <map>

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

namespace {

using namespace tsupport;

// Two recordings of one picture size joined, or of two sizes.
std::string joined_vob(const std::string& name, const char* second_size) {
  const std::string dir = temp_dir(), a = dir + "/a_" + name, b = dir + "/b_" + name, out = dir + "/" + name;
  auto make = [](const std::string& path, const char* size, int offset) {
    return run(std::string("ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=size=") + size +
               ":rate=25:duration=4 -c:v mpeg2video -g 12 -output_ts_offset " + std::to_string(offset) +
               " -f vob " + sh_quote(path)) == 0;
  };
  if (!make(a, "176x144", 0) || !make(b, second_size, 4)) return "";
  auto bytes = read_file(a);
  const auto more = read_file(b);
  bytes.insert(bytes.end(), more.begin(), more.end());
  return write_file(out, bytes) ? out : "";
}

TEST(GopList, LastSequenceHeaderIsComparedWithTheFirst) {
  struct Case {
    const char* size;
    int agrees;
  };
  for (const Case& c : {Case{"176x144", 1}, Case{"352x288", 0}}) {
    const std::string file = joined_vob(std::string("j") + c.size + ".vob", c.size);
    ASSERT_FALSE(file.empty());
    GOPList list(file.c_str());
    ASSERT_TRUE(list.is_open());
    ASSERT_EQ(list.build_index(), 0);
    EXPECT_EQ(list.last_seqhdr_agrees(), c.agrees) << c.size;
    if (c.agrees) EXPECT_EQ(list.get_total_frames(), 200);
  }
  // Elementary streams have no such check.
  GOPList es(fixture("m2c.m2v").c_str());
  ASSERT_EQ(es.build_index(), 0);
  EXPECT_EQ(es.last_seqhdr_agrees(), -1);
}

TEST(GopList, VobFieldJumpIsRenumbered) {
  const std::string file = joined_vob("jump.vob", "176x144");
  ASSERT_FALSE(file.empty());
  GOPList list(file.c_str());
  ASSERT_EQ(list.build_index(), 0);
  const int frames = list.get_total_frames();
  // The records the build found after the first, read again numbered 5000
  // fields late, as from a recorder that restarted its clock.
  std::vector<FileOffset> starts;
  std::map<uint64_t, int> fields;  // the numbers before the jump
  for (const LGOP* r = list.first(); r; r = r->next) fields[r->start.value()] = r->first_field;
  for (const LGOP* r = list.first()->next; r; r = r->next) starts.push_back(r->start);
  ASSERT_GE(starts.size(), 2u);
  DeMuxer* d = list.get_demuxer();
  // Last first: no GOP is read just after the cursor, so none is mended.
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    const FileOffset at = *it;
    GOP g;
    list.get_first_gop(&g, 0);
    d->goto_offset(at);
    ASSERT_GT(d->parse_gop(&g, 0, 0, 0), 0);
    g.first_field += 5000;
    list.add_gop(&g);
  }
  ASSERT_GT(list.last()->first_field, 5000);
  list.fix_vob_field_numbers();
  for (const LGOP* r = list.first(); r; r = r->next)
    if (fields.count(r->start.value())) EXPECT_EQ(r->first_field, fields[r->start.value()]) << r->start.value();
  EXPECT_EQ(list.get_total_frames(), frames);
}

}  // namespace
