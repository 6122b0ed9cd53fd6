#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "foundation/ts_packet.h"
#include "support/support.h"

namespace {

// Packet header: 0x47 | TEI PUSI prio PID(13) | scrambling(2) afc(2) cc(4)
std::vector<uint8_t> packet(int pid, int afc, int cc, bool pusi = false) {
  std::vector<uint8_t> p(188, 0xFF);
  p[0] = 0x47;
  p[1] = uint8_t((pusi ? 0x40 : 0) | ((pid >> 8) & 0x1F));
  p[2] = uint8_t(pid);
  p[3] = uint8_t((afc << 4) | cc);
  return p;
}

TEST(TSPacket, DecodesHeaderFields) {
  auto p = packet(0x1234 & 0x1FFF, 1, 9, true);
  p[1] |= 0xA0;  // transport_error_indicator, transport_priority
  p[3] |= 0x80;  // scrambling 2
  TSPacket t;
  ASSERT_EQ(t.decode(p.data(), 1), 0);
  EXPECT_EQ(t.PID, 0x1234 & 0x1FFF);
  EXPECT_EQ(t.transport_error_indicator, 1);
  EXPECT_EQ(t.payload_unit_start_indicator, 1);
  EXPECT_EQ(t.transport_priority, 1);
  EXPECT_EQ(t.transport_scrambling_control, 2);
  EXPECT_EQ(t.adaptation_field_control, 1);
  EXPECT_EQ(t.continuity_counter, 9);
  EXPECT_EQ(t.payload_length, 184);
  EXPECT_EQ(t.payload_start(), 4);
  ASSERT_TRUE(t.packet_copy);
  EXPECT_EQ(std::memcmp(t.packet_copy.get(), p.data(), 188), 0);
}

TEST(TSPacket, MissingSyncByteLeavesPreviousFields) {
  TSPacket t;
  auto good = packet(256, 1, 3);
  ASSERT_EQ(t.decode(good.data(), 0), 0);
  auto bad = packet(300, 1, 7);
  bad[0] = 0x46;
  EXPECT_EQ(t.decode(bad.data(), 0), 2);
  EXPECT_EQ(t.PID, 256);
  EXPECT_EQ(t.continuity_counter, 3);
}

TEST(TSPacket, PayloadLengthByAdaptationField) {
  struct Case {
    int afc;
    int af_length;
    int payload;
  } cases[] = {
      {2, 183, 0},    // adaptation field only
      {3, 183, 0},    // field fills the packet
      {3, 0, 183},    // empty field: one length byte
      {3, 7, 176},    // PCR-sized field
      {3, 200, 0},    // too long: taken as 183
      {0, 0, 0},      // reserved: no payload
  };
  for (const auto& c : cases) {
    auto p = packet(100, c.afc, 0);
    p[4] = uint8_t(c.af_length);
    p[5] = 0;
    TSPacket t;
    ASSERT_EQ(t.decode(p.data(), 0), 0);
    EXPECT_EQ(t.payload_length, c.payload) << "afc " << c.afc << " length " << c.af_length;
    if (c.afc & 2) {
      ASSERT_TRUE(t.adaptation);
      EXPECT_EQ(t.adaptation->adaptation_field_length, c.af_length > 183 ? 183 : c.af_length);
    }
  }
}

// PCR: base(33) reserved(6) extension(9) in bytes 2-7 of the field.
TEST(TSAdaptationField, PcrKeepsAll33Bits) {
  uint8_t f[184] = {7, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x2B};
  TSAdaptationField a;
  EXPECT_EQ(a.decode(f, 1), 8);
  EXPECT_EQ(a.PCR_flag, 1);
  EXPECT_EQ(a.pcr_base, 8589934591.0);  // 2^33 - 1, above 2^32
  EXPECT_EQ(a.pcr_extension, 0x12B);
  ASSERT_TRUE(a.raw);
  EXPECT_EQ(std::memcmp(a.raw.get(), f, 8), 0);
}

TEST(TSAdaptationField, FlagsAndZeroLength) {
  uint8_t f[184] = {1, 0xEF};
  TSAdaptationField a;
  EXPECT_EQ(a.decode(f, 0), 2);
  EXPECT_EQ(a.discontinuity_indicator, 1);
  EXPECT_EQ(a.random_access_indicator, 1);
  EXPECT_EQ(a.elementary_stream_priority_indicator, 1);
  EXPECT_EQ(a.PCR_flag, 0);
  EXPECT_EQ(a.OPCR_flag, 1);
  EXPECT_EQ(a.adaptation_field_extension_flag, 1);
  uint8_t z[184] = {0};
  EXPECT_EQ(a.decode(z, 0), 1);
}

// A packet whose adaptation field is a lone stuffing byte has no PCR, even
// when the record's previous packet had one.
TEST(TSPacket, ZeroLengthFieldClearsStalePcrFlag) {
  uint8_t with_pcr[188] = {0x47, 0x01, 0x00, 0x30, 7, 0x10, 0, 0, 0, 1, 0x7E, 0};
  uint8_t stuffing[188] = {0x47, 0x01, 0x00, 0x31, 0};
  TSPacket t;
  ASSERT_EQ(t.decode(with_pcr, 0), 0);
  EXPECT_TRUE(t.has_pcr());
  ASSERT_EQ(t.decode(stuffing, 0), 0);
  EXPECT_FALSE(t.has_pcr());
  EXPECT_EQ(t.payload_length, 183);
}

// A field too short for a PCR must not yield one (it would feed the
// bit-rate probe with bytes of the payload).
TEST(TSAdaptationField, PcrFlagInShortFieldIsIgnored) {
  uint8_t f[184] = {3, 0x10, 0x12, 0x34, 0x47, 0x47, 0x47, 0x47};
  TSAdaptationField a;
  tsupport::TraceCapture trace;
  EXPECT_EQ(a.decode(f, 0), 4);
  EXPECT_EQ(a.PCR_flag, 0);
  EXPECT_TRUE(trace.contains("PCR_flag"));
}

// Every packet of a transport stream from ffmpeg decodes; PCRs rise on the
// PCR PID.
TEST(TSPacket, WalksFfmpegStream) {
  auto data = tsupport::read_file(tsupport::fixture("st_ts.ts"));
  ASSERT_EQ(data.size() % 188, 0u);
  TSPacket t;
  double last_pcr = -1;
  int pcrs = 0;
  for (size_t pos = 0; pos + 188 <= data.size(); pos += 188) {
    ASSERT_EQ(t.decode(data.data() + pos, 0), 0);
    if (t.has_pcr()) {
      EXPECT_EQ(t.PID, 256);
      EXPECT_GT(t.adaptation->pcr(), last_pcr);
      last_pcr = t.adaptation->pcr();
      ++pcrs;
    }
  }
  EXPECT_GT(pcrs, 10);
}

}  // namespace
