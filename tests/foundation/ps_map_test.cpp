#include <gtest/gtest.h>

#include <vector>

#include "foundation/mpeg_fields.h"
#include "foundation/ps_map.h"
#include "support/support.h"

namespace {

struct Entry {
  uint8_t type;
  uint8_t id;
  std::vector<uint8_t> info;
};

// 00 00 01 BC | map_length(16) | cni 11 version(5) | 7x1 marker |
// info_length(16) | info | es_map_length(16) | (type id info_length info)... | CRC
std::vector<uint8_t> make_psm(const std::vector<uint8_t>& info, const std::vector<Entry>& entries, int version = 3) {
  std::vector<uint8_t> es;
  for (const auto& e : entries) {
    es.insert(es.end(), {e.type, e.id, uint8_t(e.info.size() >> 8), uint8_t(e.info.size())});
    es.insert(es.end(), e.info.begin(), e.info.end());
  }
  const int map_length = 10 + int(info.size()) + int(es.size());
  std::vector<uint8_t> m = {0, 0, 1, 0xBC, uint8_t(map_length >> 8), uint8_t(map_length), uint8_t(0xE0 | version), 0xFF,
                            uint8_t(info.size() >> 8), uint8_t(info.size())};
  m.insert(m.end(), info.begin(), info.end());
  m.insert(m.end(), {uint8_t(es.size() >> 8), uint8_t(es.size())});
  m.insert(m.end(), es.begin(), es.end());
  const uint32_t crc = mpeg_crc32(m.data(), m.size());
  for (int k = 24; k >= 0; k -= 8) m.push_back(uint8_t(crc >> k));
  return m;
}

TEST(PSPSM, DecodesMap) {
  auto m = make_psm({0x0A, 0x02, 'x', 'y'}, {{0x02, 0xE0, {}}, {0x81, 0xBD, {0x05, 0x01, 0x00}}, {0x03, 0xC0, {}}});
  m.insert(m.begin(), {0x00, 0x00, 0x01, 0xE0, 0x00});  // a PES start before: the map must come first
  PSPSM psm;
  EXPECT_EQ(psm.decode(m.data() + 5, int(m.size()) - 5), 0);
  EXPECT_EQ(psm.current_next_indicator, 1);
  EXPECT_EQ(psm.program_stream_map_version, 3);
  EXPECT_EQ(psm.program_stream_info_length, 4);
  EXPECT_EQ(psm.descriptors, (std::vector<uint8_t>{0x0A, 0x02, 'x', 'y'}));
  EXPECT_EQ(psm.entry_count, 3);
  EXPECT_EQ(psm.stream_types, (std::vector<uint8_t>{0x02, 0x81, 0x03}));
  EXPECT_EQ(psm.stream_ids, (std::vector<uint8_t>{0xE0, 0xBD, 0xC0}));
  EXPECT_EQ(psm.info_lengths, (std::vector<int32_t>{0, 3, 0}));
  EXPECT_EQ(psm.entry_descriptors[1], (std::vector<uint8_t>{0x05, 0x01, 0x00}));
  EXPECT_TRUE(psm.entry_descriptors[0].empty());
  EXPECT_EQ(mpeg_crc32(m.data() + 5, m.size() - 5), 0u);
  // Another stream id comes first: no map.
  EXPECT_EQ(psm.decode(m.data(), int(m.size())), 1);
}

TEST(PSPSM, WrongCrcStillDecodes) {
  auto m = make_psm({}, {{0x02, 0xE0, {}}, {0x04, 0xC0, {}}});
  m.back() ^= 0xFF;
  PSPSM psm;
  tsupport::TraceCapture trace;
  EXPECT_EQ(psm.decode(m.data(), int(m.size())), 0);
  EXPECT_EQ(psm.entry_count, 2);
  EXPECT_TRUE(trace.contains("CRC"));
}

TEST(PSPSM, InconsistentLengthsFail) {
  const auto good = make_psm({}, {{0x02, 0xE0, {}}, {0x03, 0xC0, {1, 2, 3, 4}}});
  struct Case {
    const char* what;
    std::vector<uint8_t> m;
  };
  std::vector<Case> cases;
  auto es_len = good;
  es_len[11] += 1;  // elementary_stream_map_length
  cases.push_back({"es map length", es_len});
  auto info_len = good;
  info_len[9] = 0x40;  // program_stream_info_length past the map
  cases.push_back({"info length", info_len});
  auto entry_len = good;
  entry_len[18] = 0x00, entry_len[19] = 0x09;  // second entry's descriptors past the map end
  cases.push_back({"entry length", entry_len});
  auto marker = good;
  marker[7] = 0xFE;
  cases.push_back({"marker", marker});
  auto truncated = good;
  truncated.resize(good.size() - 1);
  cases.push_back({"truncated", truncated});
  auto map_len = good;
  map_len[5] = 8;  // shorter than the fixed fields
  cases.push_back({"map length", map_len});
  for (const auto& c : cases) {
    PSPSM psm;
    EXPECT_EQ(psm.decode(c.m.data(), int(c.m.size())), 1) << c.what;
  }
  PSPSM psm;
  EXPECT_EQ(psm.decode(good.data(), 19), 1);  // fewer than 20 bytes
  EXPECT_EQ(psm.decode(nullptr, 100), 1);
  EXPECT_EQ(psm.decode(good.data(), int(good.size())), 0);
}

}  // namespace
