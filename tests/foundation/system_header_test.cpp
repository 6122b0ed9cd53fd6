#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/system_header.h"
#include "support/support.h"

namespace {

// System header with the given 3-byte entries.
//   00 00 01 BB | header_length(16) | 1 rate_bound(22) 1 | audio_bound(6) fixed CSPS |
//   audio_lock video_lock 1 video_bound(5) | packet_rate_restriction 7x1 | entries
std::vector<uint8_t> sys_header(int rate_bound, int audio_bound, int video_bound,
                                const std::vector<std::vector<uint8_t>>& entries) {
  const int len = 6 + 3 * static_cast<int>(entries.size());
  std::vector<uint8_t> h = {0, 0, 1, 0xBB, uint8_t(len >> 8), uint8_t(len),
                            uint8_t(0x80 | (rate_bound >> 15)), uint8_t(rate_bound >> 7),
                            uint8_t((rate_bound << 1) | 1), uint8_t((audio_bound << 2) | 0x01),
                            uint8_t(0xE0 | video_bound), 0xFF};
  for (const auto& e : entries) h.insert(h.end(), e.begin(), e.end());
  return h;
}

TEST(SysHdr, DecodesFieldsAndEntries) {
  auto h = sys_header(3528, 1, 1, {{0xE0, 0xE0, 0x2E}, {0xC0, 0xC0, 0x20}});
  h.insert(h.begin(), {0x12, 0x34, 0x00});  // junk before the start code
  SysHdr s;
  ASSERT_EQ(s.decode(h.data(), int(h.size())), 2);
  EXPECT_EQ(s.valid, 1);
  EXPECT_EQ(s.header_length, 18);
  EXPECT_EQ(s.rate_bound, 3528 * 400);
  EXPECT_EQ(s.audio_bound, 1);
  EXPECT_EQ(s.video_bound, 1);
  EXPECT_EQ(s.csps_flag, 1);
  EXPECT_EQ(s.fixed_flag, 0);
  EXPECT_EQ(s.system_audio_lock, 1);
  EXPECT_EQ(s.system_video_lock, 1);
  EXPECT_EQ(s.packet_rate_restriction, 1);
  EXPECT_EQ(s.get_stream_id(0), 0xE0);
  EXPECT_EQ(s.get_stream_id(1), 0xC0);
  EXPECT_EQ(s.get_stream_id(2), 0);
  EXPECT_EQ(s.get_stream_id(-1), 0);
  EXPECT_EQ(s.buffer_bound_scales[0], 1);
  EXPECT_EQ(s.buffer_size_bounds[0], 46);
  EXPECT_EQ(s.buffer_bound_scales[1], 0);
  EXPECT_EQ(s.buffer_size_bounds[1], 32);
  EXPECT_EQ(s.raw_length, 18);
  EXPECT_EQ(std::vector<uint8_t>(s.raw.begin(), s.raw.begin() + 18), std::vector<uint8_t>(h.begin() + 3, h.end()));

  SysHdr copy;
  copy = s;
  EXPECT_EQ(copy.stream_ids, s.stream_ids);
  EXPECT_EQ(copy.raw, s.raw);
  SysHdr& same = copy;
  copy = same;  // self-assignment keeps everything
  EXPECT_EQ(copy.stream_count, 2);
}

TEST(SysHdr, EntriesBelow0x80AreSkippedButCounted) {
  // Three announced entries; the middle one is not a stream id.
  auto h = sys_header(100, 1, 1, {{0xE0, 0xE0, 0x2E}, {0x40, 0x00, 0x00}, {0xC0, 0xC0, 0x20}});
  SysHdr s;
  EXPECT_EQ(s.decode(h.data(), int(h.size())), 2);
  EXPECT_EQ(s.get_stream_id(1), 0xC0);
  EXPECT_EQ(s.raw_length, int(h.size()));
}

TEST(SysHdr, BufferEndingInsideEntriesKeepsWhatWasRead) {
  auto h = sys_header(100, 1, 1, {{0xE0, 0xE0, 0x2E}, {0xC0, 0xC0, 0x20}});
  SysHdr s;
  EXPECT_EQ(s.decode(h.data(), int(h.size()) - 1), 1);
  EXPECT_EQ(s.get_stream_id(0), 0xE0);
  EXPECT_EQ(s.raw_length, 15);
}

TEST(SysHdr, StreamCountUsesBoundsForOtherIds) {
  struct Case {
    std::vector<std::vector<uint8_t>> entries;
    int expected;
  } cases[] = {
      {{{0xE0, 0xE0, 0x2E}, {0xBD, 0xE0, 0x3A}}, 2},  // private stream 1: bounds say 2
      {{{0xE0, 0xE0, 0x2E}}, 1},
      {{{0xE0, 0xE0, 0x2E}, {0xC0, 0xC0, 0x20}, {0xC1, 0xC0, 0x20}}, 3},
  };
  for (const auto& c : cases) {
    auto h = sys_header(100, 1, 1, c.entries);
    SysHdr s;
    ASSERT_GT(s.decode(h.data(), int(h.size())), 0);
    EXPECT_EQ(s.get_stream_count(), c.expected);
  }
}

TEST(SysHdr, MalformedInputFails) {
  auto good = sys_header(100, 1, 1, {{0xE0, 0xE0, 0x2E}});
  auto no_entries = sys_header(100, 1, 1, {});
  no_entries.insert(no_entries.end(), {0xFF, 0xFF, 0xFF});  // bytes beyond header_length
  std::vector<uint8_t> garbage(300, 0x55);
  tsupport::TraceCapture trace;
  SysHdr s;
  EXPECT_EQ(s.decode(good.data(), 14), 0);  // shorter than 15 bytes
  EXPECT_EQ(s.decode(no_entries.data(), int(no_entries.size())), 0);
  EXPECT_EQ(s.decode(garbage.data(), int(garbage.size())), 0);
  EXPECT_EQ(s.decode(nullptr, 100), 0);
  EXPECT_EQ(s.valid, 0);
  EXPECT_TRUE(trace.contains("system header"));
  // A failed decode after a good one leaves no stale entries.
  ASSERT_GT(s.decode(good.data(), int(good.size())), 0);
  EXPECT_EQ(s.decode(garbage.data(), int(garbage.size())), 0);
  EXPECT_EQ(s.stream_count, 0);
  EXPECT_EQ(s.get_stream_id(0), 0);
}

// The system headers written by ffmpeg: stream ids as ffprobe lists them and
// a rate bound no lower than the pack rate.
TEST(SysHdr, MatchesFfmpegProgramStreams) {
  for (const char* name : {"st_sys.mpg", "st_vcd.mpg", "st_vob.vob"}) {
    SCOPED_TRACE(name);
    const std::string path = tsupport::fixture(name);
    auto data = tsupport::read_file(path);
    ASSERT_GT(data.size(), 4096u);
    std::string out;
    ASSERT_EQ(tsupport::run("ffprobe -v error -show_entries stream=id -of csv=p=0 " + tsupport::sh_quote(path), &out), 0);
    std::vector<int> ids;
    for (const auto& l : tsupport::split_lines(out))
      if (!l.empty()) ids.push_back(std::stoi(l, nullptr, 16) & 0xFF);
    // Union of the ids of the first few system headers (the Video CD writes
    // one per stream).
    std::vector<int> seen;
    int rate_bound = 0;
    size_t pos = 0;
    for (int k = 0; k < 4 && pos < data.size(); ++k) {
      SysHdr s;
      if (!s.decode(data.data() + pos, int(data.size() - pos))) break;
      for (int i = 0; i < s.stream_count; ++i) seen.push_back(s.get_stream_id(i));
      rate_bound = s.rate_bound;
      // Continue after this header.
      const uint8_t* at = std::search(data.data() + pos, data.data() + data.size(), s.raw.begin(), s.raw.begin() + s.raw_length);
      pos = size_t(at - data.data()) + size_t(s.raw_length);
    }
    for (int id : ids) EXPECT_NE(std::find(seen.begin(), seen.end(), id), seen.end()) << std::hex << id;
    // Pack mux rate of the first pack (MPEG-1 or MPEG-2 layout).
    const uint8_t* p = data.data();
    const int mux = (p[4] & 0xC0) == 0x40 ? ((p[10] << 14) | (p[11] << 6) | (p[12] >> 2)) * 400
                                          : (((p[9] & 0x7F) << 15) | (p[10] << 7) | (p[11] >> 1)) * 400;
    EXPECT_GE(rate_bound, mux);
  }
}

}  // namespace
