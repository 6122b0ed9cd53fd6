// The elementary-stream demultiplexer: opening, packet sizes, positioning,
// selection and copies.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "demux/demuxer.h"
#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "foundation/timecode.h"
#include "support/support.h"

namespace {

using namespace tsupport;

std::unique_ptr<DeMuxer> open_es(const std::string& name) {
  int err = 1;
  auto d = std::make_unique<DeMuxer>(fixture(name).c_str(), &err, 0, 0);
  EXPECT_EQ(err, 0) << name;
  return d;
}

TEST(Demuxer, ElementaryStreamTables) {
  struct Case {
    const char* name;
    int type, id;
  } cases[] = {{"m2c.m2v", 3, 0xE0}, {"m1c.m1v", 2, 0xE0}, {"mp2_44100.mp2", 1, 0xC0}, {"ac3_48000_2ch.ac3", 9, 0x80}};
  for (const auto& c : cases) {
    auto d = open_es(c.name);
    int n = 0;
    ESData* es = d->get_es_data(&n);
    ASSERT_EQ(n, 1) << c.name;
    EXPECT_EQ(es[0].stream_id, c.id) << c.name;
    EXPECT_EQ(d->get_stream_type(), c.type) << c.name;
    EXPECT_EQ(d->next_packet(), c.id);
    EXPECT_EQ(d->get_video_es_count(), c.type == 2 || c.type == 3 ? 1 : 0);
  }
}

TEST(Demuxer, PacketSizesFollowTheFrames) {
  // MPEG audio: twice the frame size of the first header (at least 1024).
  auto mp2 = open_es("mp2_44100.mp2");
  const FrmHdr* h = mp2->get_audio_header(0, 0);
  ASSERT_TRUE(h);
  EXPECT_EQ(mp2->get_payload_size(), 2 * h->frame_size);
  // AC-3: twice the frame size, or three times below 2048.
  auto ac3 = open_es("ac3_48000_2ch.ac3");
  const AC3FrmHdr* a = ac3->get_ac3_header(0, 0);
  ASSERT_TRUE(a);
  EXPECT_EQ(ac3->get_payload_size(), 2 * a->frame_size >= 2048 ? 2 * a->frame_size : 3 * a->frame_size);
  EXPECT_NEAR(ac3->get_audio_frame_ticks(), 1536.0 / 48000 * 90000, 1e-9);
  EXPECT_EQ(open_es("m2c.m2v")->get_payload_size(), 2048);
}

TEST(Demuxer, SeeksInsideTheBufferKeepTheFile) {
  auto d = open_es("m2c.m2v");
  d->goto_offset(FileOffset(100000u));
  const FileOffset seek = d->get_last_seek();
  EXPECT_EQ(seek.value(), 100000u);
  d->goto_offset(FileOffset(130000u));  // inside the 73,728 buffered bytes
  EXPECT_EQ(d->get_last_seek().value(), 100000u);
  EXPECT_EQ(d->current_offset().value(), 130000u);
  uint8_t b[4];
  const auto file = read_file(fixture("m2c.m2v"));
  ASSERT_EQ(d->get_payload(b, 4), 4);
  EXPECT_EQ(b[0], file[130000]);
  EXPECT_EQ(b[3], file[130003]);
  d->goto_offset(FileOffset::from_u64(1ull << 40));
  EXPECT_EQ(d->current_offset().value(), file.size());
}

TEST(Demuxer, SelectingTheSelectedStreamKeepsTheLength) {
  auto d = open_es("m2c.m2v");
  const double len = d->get_total_length();
  EXPECT_NEAR(len, 3.0, 1e-9);
  const long parsed = DeMuxer::parse_gop_count();
  EXPECT_EQ(d->select_video_es(0xE0, 0), 0xE0);
  EXPECT_EQ(DeMuxer::parse_gop_count(), parsed);  // no new length scan
  EXPECT_EQ(d->get_total_length(), len);
}

TEST(Demuxer, CopiesReopenTheFile) {
  auto d = open_es("m2c.m2v");
  DeMuxer copy(*d);
  EXPECT_TRUE(copy.is_open());
  EXPECT_EQ(copy.get_total_length(), d->get_total_length());
  EXPECT_EQ(copy.get_file_size(), d->get_file_size());
  GOP a, b;
  d->goto_offset(FileOffset(0u));
  copy.goto_offset(FileOffset(0u));
  EXPECT_EQ(d->parse_gop(&a, 0, 0, 0), copy.parse_gop(&b, 0, 0, 0));
  EXPECT_EQ(a.end, b.end);
  TraceCapture trace;
  DeMuxer& same = copy;
  copy = same;
  EXPECT_TRUE(trace.contains("copy to itself"));
  DeMuxer empty;
  DeMuxer target(*d);
  target = empty;  // a source without a file is refused
  EXPECT_TRUE(target.is_open());
  EXPECT_TRUE(trace.contains("invalid operand (BSFile)"));
}

TEST(Demuxer, ClosedAndReopened) {
  auto d = open_es("m2c.m2v");
  d->close_file();
  EXPECT_FALSE(d->is_open());
  EXPECT_EQ(d->open_file(), 0);
  GOP g;
  d->goto_offset(FileOffset(0u));
  EXPECT_EQ(d->parse_gop(&g, 0, 0, 0), 10);
}

TEST(Demuxer, FreshGopGrowingItsBufferKeepsItsFirstBytes) {
  // The first GOP is 4 s long: a fresh GOP's buffer, sized for 0.75 s,
  // grows while it is read, and lost its leading bytes (header and time code).
  const std::string name = fixture("longgop.m2v");
  const auto file = read_file(name);
  auto d = open_es("longgop.m2v");
  GOP g;
  d->goto_offset(FileOffset(0u));
  ASSERT_EQ(d->parse_gop(&g, 0, 0, 0), 100);
  ASSERT_LE(size_t(g.byte_length), file.size());
  EXPECT_TRUE(std::equal(g.data, g.data + g.byte_length, file.begin()));
  GOPList list(name.c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  char text[SMPTE_TEXT_SIZE];
  EXPECT_STREQ(time_code_to_string(list.get_time_code_word(), text), "0:01:00:00");
}

TEST(Demuxer, ReadingOnlyTheFirstPicture) {
  auto d = open_es("m2c.m2v");
  GOP g;
  d->goto_offset(FileOffset(242656u));
  ASSERT_EQ(d->parse_gop(&g, 0, 0, 0), 12);
  EXPECT_EQ(d->read_gop(&g, 0, 1), g.get_pic_entry(1));
  EXPECT_EQ(d->read_gop(&g, 0, 0), g.byte_length);
  EXPECT_FALSE(g.has_pts());
}

}  // namespace
