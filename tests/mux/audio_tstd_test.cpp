// The transport muxer's audio decoder-buffer model on real frames: bytes in
// as packets, whole frames out at their times, PES header bytes counted,
// time-stamp jumps reported, the assembly limit kept.
#include <gtest/gtest.h>

#include <vector>

#include "foundation/audio_header.h"
#include "mux/audio_tstd.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

// The first n frames of an MPEG audio file, each as its bytes.
std::vector<Bytes> mpeg_frames(const Bytes& file, int n) {
  std::vector<Bytes> out;
  size_t at = 0;
  while (int(out.size()) < n && at + 4 <= file.size()) {
    FrmHdr h;
    if (h.parse(uint32_t(file[at]) << 24 | uint32_t(file[at + 1]) << 16 | uint32_t(file[at + 2]) << 8 |
                file[at + 3]) != 0 ||
        at + size_t(h.frame_size) > file.size())
      break;
    out.emplace_back(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + size_t(h.frame_size)));
    at += size_t(h.frame_size);
  }
  return out;
}

TEST(AudioTSTD, FramesLeaveWholeAtTheirTimesWithTheirHeaderBytes) {
  const std::vector<Bytes> f = mpeg_frames(read_file(fixture("pm_a48.mp2")), 4);
  ASSERT_EQ(f.size(), 4u);
  const int frame = int(f[0].size());
  AudioTSTD m(1, 48000, frame * 8 * 48000 / 1152, 1152);
  EXPECT_EQ(m.buffer_size(), 2848);
  EXPECT_NEAR(m.nominal_frame_bytes(), frame, 1);
  EXPECT_EQ(m.room(0), 2848);
  // The first frame in two packets, the PES header (14 bytes) with the first.
  const int half = frame / 2;
  ASSERT_EQ(m.add_packet(f[0].data(), half, 14, 9000), 0);
  EXPECT_EQ(m.room(100), 2848 - 14 - half);  // a partial frame holds its bytes
  ASSERT_EQ(m.add_packet(f[0].data() + half, frame - half, 0, -1), 0);
  EXPECT_EQ(m.room(100), 2848 - 14 - frame);
  // The next one unstamped: it follows the first by one frame (2160 ticks).
  ASSERT_EQ(m.add_packet(f[1].data(), frame, 14, -1), 0);
  EXPECT_EQ(m.room(8999), 2848 - 28 - 2 * frame);
  EXPECT_EQ(m.room(9000), 2848 - 14 - frame);  // the first left with its header
  EXPECT_EQ(m.room(11159), 2848 - 14 - frame);
  EXPECT_EQ(m.room(11160), 2848);
  EXPECT_EQ(m.removed(), 2);
  EXPECT_EQ(m.jumps(), 0);
  EXPECT_EQ(m.late(), 0);
  // A stamp off the running time is reported and taken; a frame whose time
  // has passed counts as late.
  ASSERT_EQ(m.add_packet(f[2].data(), frame, 14, 20000), 0);
  EXPECT_EQ(m.jumps(), 1);
  ASSERT_EQ(m.add_packet(f[3].data(), frame, 14, 15000), 0);
  EXPECT_EQ(m.jumps(), 2);
  EXPECT_EQ(m.room(30000), 2848);
  EXPECT_EQ(m.room(10), 2848);  // the clock never goes back
  ASSERT_EQ(m.add_packet(f[0].data(), frame, 14, 100), 0);
  EXPECT_EQ(m.late(), 1);
}

TEST(AudioTSTD, Ac3BufferAndBadInput) {
  const Bytes ac3 = read_file(fixture("pm_a.ac3"));
  ASSERT_GT(ac3.size(), 4096u);
  AudioTSTD m(9, 48000, 192000, 1536);
  EXPECT_EQ(m.buffer_size(), 2592);
  // Stamped ahead of the clock: everything sent stays in.
  int at = 0;
  for (; at + 184 <= 1104; at += 184) ASSERT_EQ(m.add_packet(ac3.data() + at, 184, at == 0 ? 9 : 0, at == 0 ? 9000 : -1), 0);
  EXPECT_EQ(m.room(100), 2592 - 9 - at);
  EXPECT_EQ(m.held(), 9 + at);
  // Bytes where a frame must start but none does: refused, the model goes on.
  const Bytes junk(200, 0x55);
  AudioTSTD j(9, 48000, 192000, 1536);
  EXPECT_EQ(j.add_packet(junk.data(), int(junk.size()), 0, 0), -1);
  EXPECT_EQ(j.room(0), 2592);
  // More than the assembly buffer at once.
  const Bytes big(AudioTSTD::kAssemblyBytes + 1, 0);
  EXPECT_EQ(j.add_packet(big.data(), int(big.size()), 0, -1), -1);
}

}  // namespace
