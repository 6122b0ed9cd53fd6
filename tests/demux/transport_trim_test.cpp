// Transport cuts at the packet level: whole-packet copies, the sequence
// header put in front of a cut (in place or as new packets that must fit the
// caller's buffer) and the counters those packets carry.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/transport_demuxer.h"
#include "foundation/bsfile.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

std::unique_ptr<DeMuxerTransport> open_cut_source(const std::string& path) {
  int err = 1;
  auto d = std::make_unique<DeMuxerTransport>(path.c_str(), &err);
  if (err) return nullptr;
  // The GOP walk leaves the video's sequence header with the demultiplexer.
  GOP g;
  d->goto_offset(FileOffset());
  if (d->parse_gop(&g, 0xE0, 0, 0) <= 0) return nullptr;
  return d;
}

// A packet of pid with a full payload of byte fill.
Bytes video_packet(int pid, int cc, bool start, uint8_t fill) {
  Bytes p(188, fill);
  p[0] = 0x47;
  p[1] = uint8_t((start ? 0x40 : 0) | (pid >> 8));
  p[2] = uint8_t(pid);
  p[3] = uint8_t(0x10 | cc);
  return p;
}

}  // namespace

TEST(TransportTrim, CopyBytesHandsOutWholePacketsBeforeTheEnd) {
  auto d = open_cut_source(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  uint8_t buf[4096];
  struct Case {
    int ask, room, want;
  } cases[] = {{1000, 500, 376}, {1000, 187, 0}, {1000, 188, 188}, {300, 5000, 188}, {4000, 4000, 3948}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.room);
    d->goto_offset(FileOffset::from_u64(188 * 10));
    const FileOffset at = d->current_offset();
    EXPECT_EQ(d->copy_bytes(buf, c.ask, FileOffset::plus_int(at, c.room)), c.want);
  }
}

TEST(TransportTrim, InsertedSequenceHeaderNeedsTheBuffersCapacity) {
  auto d = open_cut_source(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  const int pid = d->get_video_pid();
  // One video packet whose payload is a GOP header and an I picture header
  // right at its start: no room in front, so new packets are needed.
  Bytes pk = video_packet(pid, 5, false, 0);
  const uint8_t gop[] = {0, 0, 1, 0xB8, 0, 8, 0, 0x40, 0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8};
  std::memcpy(pk.data() + 4, gop, sizeof gop);

  // Exactly the existing packet's size: nothing inserted, nothing written past it.
  Bytes tight(188 + 64, 0xAA);
  std::memcpy(tight.data(), pk.data(), 188);
  EXPECT_EQ(d->insert_seqhdr(tight.data(), 188, 188, pid), 0);
  EXPECT_TRUE(std::equal(tight.begin(), tight.begin() + 188, pk.begin()));
  for (size_t i = 188; i < tight.size(); ++i) ASSERT_EQ(tight[i], 0xAA) << i;

  Bytes room(188 * 4, 0);
  std::memcpy(room.data(), pk.data(), 188);
  const int grow = d->insert_seqhdr(room.data(), 188, int(room.size()), pid);
  ASSERT_GT(grow, 0);
  ASSERT_EQ(grow % 188, 0);
  const int n = grow / 188;
  // The old packet moved behind the new ones, unchanged.
  EXPECT_TRUE(std::equal(pk.begin(), pk.end(), room.begin() + grow));
  // New packets: unit start on the first only, counters ending at 4.
  for (int k = 0; k < n; ++k) {
    const uint8_t* p = room.data() + k * 188;
    EXPECT_EQ(p[0], 0x47);
    EXPECT_EQ(((p[1] & 0x1F) << 8) | p[2], pid);
    EXPECT_EQ((p[1] & 0x40) != 0, k == 0);
    EXPECT_EQ(p[3] & 15, (5 - n + k) & 15);
  }
  // The first payload is a PES without time stamps holding a sequence header
  // whose length its PES length gives.
  const uint8_t* p = room.data();
  const int payload = (p[3] & 0x20) ? 188 - 5 - p[4] : 184;
  const uint8_t* pes = p + 188 - payload;
  ASSERT_EQ(pes[0] | pes[1], 0);
  EXPECT_EQ(pes[2], 1);
  EXPECT_EQ(pes[3] & 0xF0, 0xE0);
  EXPECT_EQ(pes[7], 0);
  EXPECT_EQ(pes[9] | pes[10], 0);
  EXPECT_EQ(pes[11], 1);
  EXPECT_EQ(pes[12], 0xB3);
  const int pes_len = (pes[4] << 8) | pes[5];
  // The last packet's stuffing sits in its adaptation field: the PES ends
  // exactly with the payload.
  const uint8_t* last = room.data() + (n - 1) * 188;
  const int last_payload = (last[3] & 0x20) ? 188 - 5 - last[4] : 184;
  EXPECT_EQ(pes_len + 6, (n - 1) * 184 + last_payload);
}

TEST(TransportTrim, SequenceHeaderGoesIntoZeroedBytesWhenThereIsRoom) {
  auto d = open_cut_source(fixture("ts_m2.ts"));
  ASSERT_TRUE(d);
  const int pid = d->get_video_pid();
  // 300 bytes of the GOP before, then the GOP header and an I picture.
  Bytes buf;
  Bytes a = video_packet(pid, 3, false, 0x11), b = video_packet(pid, 4, false, 0x11);
  const uint8_t gop[] = {0, 0, 1, 0xB8, 0, 8, 0, 0x40, 0, 0, 1, 0, 0, 0x0F, 0xFF, 0xF8};
  std::memcpy(b.data() + 4 + 116, gop, sizeof gop);
  buf.insert(buf.end(), a.begin(), a.end());
  buf.insert(buf.end(), b.begin(), b.end());
  const Bytes before = buf;
  ASSERT_EQ(d->insert_seqhdr(buf.data(), int(buf.size()), int(buf.size()), pid), 0);
  // Headers, counters and the GOP stay; the payload in front ends with the
  // sequence header and is zero before it.
  Bytes es;
  for (int k = 0; k < 2; ++k) es.insert(es.end(), buf.begin() + k * 188 + 4, buf.begin() + k * 188 + 188);
  const int gop_at = 184 + 116;
  ASSERT_EQ(es[size_t(gop_at) + 3], 0xB8);
  int seq = -1;
  for (int i = 0; i + 4 <= gop_at; ++i)
    if (es[size_t(i)] == 0 && es[size_t(i) + 1] == 0 && es[size_t(i) + 2] == 1 && es[size_t(i) + 3] == 0xB3) seq = i;
  ASSERT_GT(seq, 0);
  for (int i = 0; i < seq; ++i) ASSERT_EQ(es[size_t(i)], 0) << i;
  for (int k = 0; k < 2; ++k) EXPECT_TRUE(std::equal(buf.begin() + k * 188, buf.begin() + k * 188 + 4,
                                                     before.begin() + k * 188));
}
