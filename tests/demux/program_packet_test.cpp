// Program-stream packet layer on small hand-built streams: pack and PES
// header layouts, time stamps, filtering, sub-streams, size checks and
// damaged headers.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "demux/program.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

// 33-bit time stamp with marker bits, prefix in the top nibble of byte 0:
//   pppp ttt1 | tttttttt | ttttttt1 | tttttttt | ttttttt1
void put_ts(Bytes& b, int prefix, uint64_t t) {
  b.push_back(uint8_t(prefix << 4 | ((t >> 30) & 7) << 1 | 1));
  b.push_back(uint8_t(t >> 22));
  b.push_back(uint8_t(((t >> 15) & 0x7F) << 1 | 1));
  b.push_back(uint8_t(t >> 7));
  b.push_back(uint8_t((t & 0x7F) << 1 | 1));
}

// MPEG-2 pack header, 14 bytes, no stuffing:
//   00 00 01 BA | 01 sss 1 ss ... (SCR base, 9-bit extension) | mux rate | 0xF8
void pack2(Bytes& b, uint64_t base, int ext = 0) {
  b.insert(b.end(), {0, 0, 1, 0xBA});
  b.push_back(uint8_t(0x44 | ((base >> 30) & 7) << 3 | ((base >> 28) & 3)));
  b.push_back(uint8_t(base >> 20));
  b.push_back(uint8_t(((base >> 15) & 0x1F) << 3 | 4 | ((base >> 13) & 3)));
  b.push_back(uint8_t(base >> 5));
  b.push_back(uint8_t((base & 0x1F) << 3 | 4 | ((ext >> 7) & 3)));
  b.push_back(uint8_t((ext & 0x7F) << 1 | 1));
  b.insert(b.end(), {0x01, 0x89, 0xC3, 0xF8});
}

// MPEG-1 pack header, 12 bytes: 0010 SCR | mux rate.
void pack1(Bytes& b, uint64_t scr) {
  b.insert(b.end(), {0, 0, 1, 0xBA});
  put_ts(b, 2, scr);
  b.insert(b.end(), {0x80, 0x1B, 0x83});
}

// MPEG-2 PES packet: 10 flags, PTS (and DTS) when given, then payload.
void pes2(Bytes& b, int id, const Bytes& payload, int64_t pts = -1, int64_t dts = -1, int lie_len = -1) {
  Bytes h;
  int hl = pts >= 0 ? (dts >= 0 ? 10 : 5) : 0;
  h.push_back(0x81);
  h.push_back(uint8_t(pts >= 0 ? (dts >= 0 ? 0xC0 : 0x80) : 0));
  h.push_back(uint8_t(hl));
  if (pts >= 0) put_ts(h, dts >= 0 ? 3 : 2, uint64_t(pts));
  if (dts >= 0) put_ts(h, 1, uint64_t(dts));
  const int len = lie_len >= 0 ? lie_len : int(h.size() + payload.size());
  b.insert(b.end(), {0, 0, 1, uint8_t(id), uint8_t(len >> 8), uint8_t(len)});
  b.insert(b.end(), h.begin(), h.end());
  b.insert(b.end(), payload.begin(), payload.end());
}

// MPEG-1 PES: stuffing, STD buffer fields, 0010 PTS or 0x0F.
void pes1(Bytes& b, int id, const Bytes& payload, int64_t pts = -1, int stuffing = 0, bool std_fields = false) {
  Bytes h(size_t(stuffing), 0xFF);
  if (std_fields) h.insert(h.end(), {0x60, 0x2E});
  if (pts >= 0)
    put_ts(h, 2, uint64_t(pts));
  else
    h.push_back(0x0F);
  const int len = int(h.size() + payload.size());
  b.insert(b.end(), {0, 0, 1, uint8_t(id), uint8_t(len >> 8), uint8_t(len)});
  b.insert(b.end(), h.begin(), h.end());
  b.insert(b.end(), payload.begin(), payload.end());
}

Bytes fill(int n, uint8_t v = 0x55) { return Bytes(size_t(n), v); }

// A demultiplexer over the bytes, positioned at the start. The source
// set-up finds no video in these streams; the packet layer works alike.
std::unique_ptr<DeMuxerProgram> over(const Bytes& b, int type = 6, const char* name = "s.mpg") {
  const std::string path = temp_dir() + "/" + name;
  EXPECT_TRUE(write_file(path, b));
  int err = 0;
  auto d = std::make_unique<DeMuxerProgram>(path.c_str(), &err, type, 8000000, 1);
  d->goto_offset(FileOffset(0u));
  return d;
}

constexpr double kTwo33 = 8589934592.0;

// One private stream 1 packet with this payload, read.
std::unique_ptr<DeMuxerProgram> private1_packet(const Bytes& pay) {
  Bytes b;
  pack2(b, 0);
  pes2(b, 0xBD, pay, 3600);
  b.resize(b.size() + 64, 0);
  auto d = over(b);
  EXPECT_TRUE(d->next_ps_packet(0) & 1);
  return d;
}

TEST(ProgramPacket, Mpeg2PackThenPesWithPtsAndDts) {
  Bytes b;
  pack2(b, 900000, 150);
  pes2(b, 0xE0, fill(1000), 903600, 900000);
  b.resize(b.size() + 64, 0);
  auto d = over(b);
  const int r = d->next_ps_packet(0);
  const auto& k = d->packet();
  EXPECT_EQ(r, 0x01 | 0x02 | 0x08);
  EXPECT_DOUBLE_EQ(k.scr, 900000 + 150 / 300.0);
  EXPECT_DOUBLE_EQ(k.pts, 903600);
  EXPECT_DOUBLE_EQ(k.dts, 900000);
  EXPECT_EQ(k.packet_offset.value(), 0u);
  EXPECT_EQ(k.start_code_offset, 14);
  EXPECT_EQ(k.payload_offset, 14 + 9 + 10);
  EXPECT_EQ(k.payload_size, 1000);
  EXPECT_EQ(k.packet_size, 14 + 6 + 13 + 1000);
}

TEST(ProgramPacket, HeaderLayoutsAndTimeStamps) {
  struct Case {
    const char* what;
    Bytes bytes;
    double pts, dts, scr;
    int payload_offset, payload_size;
    uint32_t flags;
  };
  std::vector<Case> cases;
  {
    Bytes b;
    pack1(b, 3600);
    pes1(b, 0xC0, fill(500), 7200, 3, true);
    cases.push_back({"mpeg-1 stuffing, STD fields, PTS only sets DTS too", b, 7200, 7200, 3600, 12 + 6 + 3 + 2 + 5, 500,
                     0x0B});
  }
  {
    Bytes b;
    pack1(b, 3600);
    pes1(b, 0xE0, fill(700));
    cases.push_back({"mpeg-1 without time stamp (0x0F)", b, kNoTime, kNoTime, 3600, 12 + 7, 700, 0x03});
  }
  {
    Bytes b;
    pack2(b, 0);
    pes2(b, 0xE0, fill(300), int64_t(0x1FFFFFF00ull));
    cases.push_back({"a PTS with its top bit set is negative", b, double(0x1FFFFFF00ull) - kTwo33, kNoTime, 0,
                     14 + 9 + 5, 300, 0x0B});
  }
  {
    Bytes b;
    pack2(b, 0);
    pes2(b, 0xC0, fill(300), 5000);
    cases.push_back({"mpeg-2 PTS only leaves DTS unset", b, 5000, kNoTime, 0, 14 + 14, 300, 0x0B});
  }
  for (const Case& c : cases) {
    Bytes b = c.bytes;
    b.resize(b.size() + 64, 0);
    auto d = over(b, 6);
    const int r = d->next_ps_packet(0);
    const auto& k = d->packet();
    EXPECT_EQ(uint32_t(r), c.flags) << c.what;
    EXPECT_DOUBLE_EQ(k.pts, c.pts) << c.what;
    EXPECT_DOUBLE_EQ(k.dts, c.dts) << c.what;
    EXPECT_DOUBLE_EQ(k.scr, c.scr) << c.what;
    EXPECT_EQ(k.payload_offset, c.payload_offset) << c.what;
    EXPECT_EQ(k.payload_size, c.payload_size) << c.what;
  }
}

TEST(ProgramPacket, PacksSystemHeadersAndPacketsInRow) {
  Bytes b;
  pack2(b, 1000);
  pack2(b, 2000);
  const size_t second_pack = 14;
  // System header: 12 fixed bytes and one stream entry.
  b.insert(b.end(), {0, 0, 1, 0xBB, 0, 9, 0x80, 0x01, 0x01, 0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0xE8});
  pes2(b, 0xE0, fill(100));
  const size_t second_pes = b.size();
  pes2(b, 0xE0, fill(120));
  pes2(b, 0xF0, fill(50));  // never returned
  pes2(b, 0xC0, fill(80));
  b.resize(b.size() + 64, 0);
  auto d = over(b);
  int r = d->next_ps_packet(0);
  EXPECT_EQ(r, 0x01 | 0x02 | 0x04);
  EXPECT_EQ(d->packet().packet_offset.value(), second_pack);
  EXPECT_DOUBLE_EQ(d->packet().scr, 2000);
  ASSERT_TRUE(d->skip_packet());
  // Directly behind: no pack header, the SCR stays.
  r = d->next_ps_packet(0);
  EXPECT_EQ(r, 0x01);
  EXPECT_EQ(d->packet().packet_offset.value(), second_pes);
  EXPECT_DOUBLE_EQ(d->packet().scr, 2000);
  EXPECT_EQ(d->packet().payload_size, 120);
  ASSERT_TRUE(d->skip_packet());
  r = d->next_ps_packet(0);
  EXPECT_EQ(d->packet().stream_id, 0xC0);
}

TEST(ProgramPacket, SelectedOnlySkipsPrivateAndPaddingStreams) {
  Bytes b;
  pack1(b, 0);
  pes1(b, 0xBD, fill(200));
  pes1(b, 0xBE, fill(300, 0xFF));
  pes1(b, 0xC1, fill(100));
  b.resize(b.size() + 64, 0);
  auto d = over(b, 4);
  ASSERT_TRUE(d->next_ps_packet(1) & 1);
  EXPECT_EQ(d->packet().stream_id, 0xC1);
  d->goto_offset(FileOffset(0u));
  d->set_wanted_ids({0xBD});
  ASSERT_TRUE(d->next_ps_packet(1) & 1);
  EXPECT_EQ(d->packet().stream_id, 0xBD);
}

TEST(ProgramPacket, LyingLengthAmongEvenPacketsIsCutAtTheNextUnit) {
  Bytes b;
  std::vector<size_t> starts;
  for (int i = 0; i < 6; ++i) {
    starts.push_back(b.size());
    pack2(b, 1000u * unsigned(i));
    // The fourth packet claims 60,000 bytes but holds 2,000.
    pes2(b, 0xE0, fill(2000), -1, -1, i == 3 ? 60000 : -1);
  }
  b.resize(b.size() + 64, 0);
  auto d = over(b);
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(d->next_ps_packet(0) & 1) << i;
    EXPECT_EQ(d->packet().packet_offset.value(), starts[size_t(i)]) << i;
    EXPECT_EQ(d->packet().size_resync, i == 3 ? 1 : 0) << i;
    if (i == 3) {
      EXPECT_EQ(size_t(d->packet().packet_size), starts[4] - starts[3]);
    }
    ASSERT_TRUE(d->skip_packet());
  }
}

TEST(ProgramPacket, UnboundedVideoPacketEndsAtTheNextUnit) {
  Bytes b;
  pack2(b, 0);
  pes2(b, 0xE0, fill(5000), 3600, -1, 0);
  const size_t next = b.size();
  pack2(b, 100);
  pes2(b, 0xC0, fill(100));
  b.resize(b.size() + 64, 0);
  auto d = over(b);
  ASSERT_TRUE(d->next_ps_packet(0) & 1);
  EXPECT_EQ(d->packet().unbounded, 1);
  EXPECT_EQ(size_t(d->packet().packet_size), next);
  EXPECT_EQ(d->packet().payload_size, 5000);
  ASSERT_TRUE(d->skip_packet());
  ASSERT_TRUE(d->next_ps_packet(0) & 1);
  EXPECT_EQ(d->packet().stream_id, 0xC0);
}

TEST(ProgramPacket, SubStreamsOfPrivateStream1) {
  struct Case {
    Bytes head;
    int sub, ac3, lpcm, raw;
    int payload;  // get_payload_size
  };
  const std::vector<Case> cases = {
      {{0x80, 1, 0, 1}, 0x80, 1, 0, 0, 2000 - 4},
      {{0xA0, 1, 0, 4, 0, 0, 0x80}, 0xA0, 0, 1, 0, 2000 - 7},
      {{0x0B, 0x77, 0, 0}, 0xBD, 0, 0, 1, 2000},
      {{0x20, 0, 0, 0}, 0, 0, 0, 0, 2000},
  };
  for (const Case& c : cases) {
    Bytes pay = c.head;
    pay.resize(2000, 0x11);
    auto d = private1_packet(pay);
    EXPECT_EQ(d->detect_sub_stream(), c.sub);
    EXPECT_EQ(d->packet().ac3_sub_stream, c.ac3);
    EXPECT_EQ(d->packet().lpcm_sub_stream, c.lpcm);
    EXPECT_EQ(d->packet().raw_ac3, c.raw);
    EXPECT_EQ(d->get_payload_size(), c.payload);
  }
}

TEST(ProgramPacket, LpcmPayloadLosesItsSevenHeaderBytes) {
  Bytes pay = {0xA0, 1, 0, 4, 0, 0, 0x80};
  for (int i = 0; i < 2006; ++i) pay.push_back(uint8_t(i));
  auto d = private1_packet(pay);
  d->detect_sub_stream();
  EXPECT_EQ(d->packet().payload_size, 2013);
  EXPECT_EQ(d->get_payload_size(), 2006);
  std::vector<uint8_t> out(4096);
  ASSERT_EQ(d->get_payload(out.data(), 4096), 2006);
  for (int i = 0; i < 2006; ++i) ASSERT_EQ(out[size_t(i)], uint8_t(i)) << i;
}

TEST(ProgramPacket, LpcmHeaderRateCodeInBits5To4) {
  struct Case {
    uint8_t byte5;
    int ok, rate, channels;
  };
  // byte 5: qq rr 0 ccc (quantisation, rate, channels - 1)
  const Case cases[] = {{0x00, 1, 48000, 1}, {0x01, 1, 48000, 2}, {0x11, 1, 96000, 2}, {0x21, 0, 0, 0},
                        {0x41, 0, 0, 0},     {0x81, 0, 0, 0},     {0x05, 1, 48000, 6}};
  for (const Case& c : cases) {
    const uint8_t h[8] = {0xA0, 1, 0, 4, 0, c.byte5, 0x80, 0};
    ESData r;
    EXPECT_EQ(DeMuxerProgram::get_pcm_es_data(&r, 0xA0, h, 7), c.ok) << int(c.byte5);
    if (!c.ok) continue;
    EXPECT_EQ(r.kind, ES_KIND_LPCM);
    EXPECT_EQ(r.sample_rate, c.rate);
    EXPECT_EQ(r.get_channel_count(), c.channels);
    EXPECT_EQ(r.bit_rate, c.rate * c.channels * 16);
  }
  ESData r;
  EXPECT_EQ(DeMuxerProgram::get_pcm_es_data(&r, 0xA0, nullptr, 7), 0);
}

// Header fields read beyond the bytes held or the packet's own length.
TEST(ProgramPacket, LyingPesHeaderLengthsNeverReadOutside) {
  {
    Bytes b;
    pack2(b, 0);
    b.insert(b.end(), {0, 0, 1, 0xE0, 0, 8, 0x81, 0xC0, 0xF0, 1, 2, 3, 4, 5});  // header 240 bytes in an 8-byte packet
    pes2(b, 0xC0, fill(100));
    b.resize(b.size() + 64, 0);
    auto d = over(b);
    const int r = d->next_ps_packet(0);
    EXPECT_TRUE(r & 0x10);
    EXPECT_EQ(d->packet().payload_size, 0);
  }
  {
    // Cut inside the header at the very end of the file.
    Bytes b;
    pack2(b, 0);
    pes2(b, 0xE0, fill(100));
    b.insert(b.end(), {0, 0, 1, 0xE0, 0x07, 0xD0, 0x81, 0xC0, 0x0A, 0x31});
    auto d = over(b);
    int packets = 0;
    while (d->next_ps_packet(0) & 1) {
      ++packets;
      if (!d->skip_packet()) break;
      ASSERT_LT(packets, 10);
    }
    EXPECT_GE(packets, 1);
  }
  {
    // MPEG-1 stuffing that never ends.
    Bytes b;
    pack1(b, 0);
    b.insert(b.end(), {0, 0, 1, 0xE0, 0, 40});
    b.resize(b.size() + 40, 0xFF);
    pes1(b, 0xC0, fill(100));
    b.resize(b.size() + 64, 0);
    auto d = over(b, 4);
    const int r = d->next_ps_packet(0);
    EXPECT_TRUE(r & 0x10);
  }
}

TEST(ProgramPacket, StartCodeSearch) {
  const uint8_t a[] = {1, 2, 0, 0, 1, 0xB3, 0, 0, 1, 0xBA, 9};
  int code = 0;
  EXPECT_EQ(ps_next_start_code(a, sizeof a, &code), 6);
  EXPECT_EQ(code, 0x1BA);
  EXPECT_EQ(ps_next_start_code(a, 3, &code), 0);
  EXPECT_EQ(ps_next_start_code(a, 9, &code), 5);
  EXPECT_EQ(code, 0xFFF);
}

TEST(ProgramPacket, RandomBytesEndCleanly) {
  std::vector<uint8_t> b(300000);
  uint32_t x = 12345;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = uint8_t(x >> 24);
    if ((x >> 8) % 97 == 0) v = 0;
  }
  // Sprinkle start codes of every kind.
  for (size_t i = 1000; i + 8 < b.size(); i += 1500) {
    b[i] = 0, b[i + 1] = 0, b[i + 2] = 1, b[i + 3] = uint8_t(0xBA + (i / 1500) % 70);
  }
  auto d = over(b);
  int n = 0;
  for (int r = d->next_packet(); r && n < 100000; r = d->next_packet(), ++n)
    if (!d->skip_packet()) break;
  EXPECT_LT(n, 100000);
}

}  // namespace
