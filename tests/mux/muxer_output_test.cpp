// The multiplexer's output layer: chunks of any size, held or written
// straight through, reach the file whole and in order; a failed write
// fails the call and every later one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mux/muxer.h"
#include "support/support.h"

namespace {

using namespace tsupport;

// The output's one stream (stream id 0 when the fixture did not open).
ESData video_es() {
  ESData video;
  int err = 0;
  video.open(fixture("pm_m2.m2v").c_str(), &err);
  video.stream_id = err ? 0 : 0xE0;
  return video;
}

TEST(MuxerOutput, ChunksOfEverySizeArriveInOrder) {
  const ESData video = video_es();
  ASSERT_GT(video.stream_id, 0);
  // Small chunks are held, chunks of half the buffer and more go straight
  // to the file: every mix of the two.
  const std::vector<std::vector<int>> cases = {
      {100, 300000, 5, 600000, 70000, 1},
      {262144, 262143, 262145, 1 << 20},
      {1, 1, 524288, 524287, 3},
  };
  for (const auto& sizes : cases) {
    const std::string out = temp_dir() + "/out.m2v";
    std::vector<uint8_t> want;
    {
      int failed = 1;
      Muxer m(MUX_MPEG2_VIDEO_ES, 1, &video, out.c_str(), &failed);
      ASSERT_EQ(failed, 0);
      for (int n : sizes) {
        std::vector<uint8_t> chunk(static_cast<size_t>(n));
        for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = uint8_t(want.size() + i * 7);
        ASSERT_EQ(m.mux_output(chunk.data(), n), n);
        want.insert(want.end(), chunk.begin(), chunk.end());
      }
      m.finish();
    }
    EXPECT_EQ(read_file(out), want) << sizes.size() << " chunks";
  }
}

TEST(MuxerOutput, FullDiskFailsLargeAndSmallChunks) {
  const ESData video = video_es();
  ASSERT_GT(video.stream_id, 0);
  for (int first : {100, 400000}) {
    int failed = 1;
    Muxer m(MUX_MPEG2_VIDEO_ES, 1, &video, "/dev/full", &failed);
    ASSERT_EQ(failed, 0);
    std::vector<uint8_t> chunk(600000, 0x55);
    m.mux_output(chunk.data(), first);
    EXPECT_EQ(m.mux_output(chunk.data(), 600000), 0) << first;
    EXPECT_EQ(m.mux_output(chunk.data(), 10), 0) << first;
  }
}

}  // namespace
