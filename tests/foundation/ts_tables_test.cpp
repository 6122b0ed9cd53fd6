#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "foundation/mpeg_fields.h"
#include "foundation/ts_packet.h"
#include "foundation/ts_tables.h"
#include "support/support.h"

namespace {

void append_crc(std::vector<uint8_t>& s) {
  const uint32_t crc = mpeg_crc32(s.data(), s.size());
  for (int k = 24; k >= 0; k -= 8) s.push_back(uint8_t(crc >> k));
}

// PAT: table_id 0 | 1 0 11 00 section_length(10) | tsid | 11 version(5) cni |
// section_number | last_section_number | (program_number, 111 PID(13))... | CRC
std::vector<uint8_t> make_pat(int tsid, const std::vector<std::pair<int, int>>& programs) {
  const int len = 5 + 4 * int(programs.size()) + 4;
  std::vector<uint8_t> s = {0x00, uint8_t(0xB0 | (len >> 8)), uint8_t(len), uint8_t(tsid >> 8), uint8_t(tsid), 0xC1, 0, 0};
  for (auto [number, pid] : programs)
    s.insert(s.end(), {uint8_t(number >> 8), uint8_t(number), uint8_t(0xE0 | (pid >> 8)), uint8_t(pid)});
  append_crc(s);
  return s;
}

struct Es {
  int type;
  int pid;
  std::vector<uint8_t> info;
};

// PMT: table_id 2 | 1 0 11 section_length(12) | program | 11 version cni | 0 | 0 |
// 111 PCR_PID(13) | 1111 program_info_length(12) | descriptors | ES loop | CRC
std::vector<uint8_t> make_pmt(int program, int pcr_pid, const std::vector<uint8_t>& descriptors,
                              const std::vector<Es>& es) {
  std::vector<uint8_t> body;
  for (const auto& e : es) {
    const int n = int(e.info.size());
    body.insert(body.end(), {uint8_t(e.type), uint8_t(0xE0 | (e.pid >> 8)), uint8_t(e.pid), uint8_t(0xF0 | (n >> 8)), uint8_t(n)});
    body.insert(body.end(), e.info.begin(), e.info.end());
  }
  const int pil = int(descriptors.size());
  const int len = 9 + pil + int(body.size()) + 4;
  std::vector<uint8_t> s = {0x02, uint8_t(0xB0 | (len >> 8)), uint8_t(len), uint8_t(program >> 8), uint8_t(program), 0xC1, 0, 0,
                            uint8_t(0xE0 | (pcr_pid >> 8)), uint8_t(pcr_pid), uint8_t(0xF0 | (pil >> 8)), uint8_t(pil)};
  s.insert(s.end(), descriptors.begin(), descriptors.end());
  s.insert(s.end(), body.begin(), body.end());
  append_crc(s);
  return s;
}

TEST(PAT, DecodesAndRebuildsOnePacket) {
  auto s = make_pat(7, {{1, 0x1000}});
  ASSERT_EQ(s.size(), 16u);  // section_length 13
  PAT pat;
  ASSERT_EQ(pat.decode(s.data(), int(s.size())), 16);
  EXPECT_EQ(pat.error_count, 0);
  EXPECT_EQ(pat.section_length, 13);
  EXPECT_EQ(pat.transport_stream_id, 7);
  EXPECT_EQ(pat.version_number, 0);
  EXPECT_EQ(pat.current_next_indicator, 1);
  EXPECT_EQ(pat.get_program_number(), 1);
  EXPECT_EQ(pat.get_pmt_pid(), 0x1000);
  // 5 header bytes, 16 section bytes, 167 bytes of 0xFF.
  const uint8_t* p = pat.get_packet();
  ASSERT_NE(p, nullptr);
  const uint8_t head[] = {0x47, 0x40, 0x00, 0x10, 0x00};
  EXPECT_EQ(std::memcmp(p, head, 5), 0);
  EXPECT_EQ(std::memcmp(p + 5, s.data(), 16), 0);
  for (int i = 21; i < 188; ++i) ASSERT_EQ(p[i], 0xFF) << i;
  EXPECT_EQ(mpeg_crc32(p + 5, 16), 0u);

  PAT copy;
  copy = pat;
  EXPECT_EQ(copy.pmt_pids, pat.pmt_pids);
  EXPECT_EQ(std::memcmp(copy.get_packet(), p, 188), 0);
}

TEST(PAT, FaultsAreCountedNotFatal) {
  auto s = make_pat(0, {{0, 0x10}, {5, 0x100}, {6, 0x200}});
  s.back() ^= 1;  // wrong CRC
  s[5] &= 0x3F;   // reserved bits before version_number
  PAT pat;
  tsupport::TraceCapture trace;
  EXPECT_EQ(pat.decode(s.data(), int(s.size())), int(s.size()));
  EXPECT_EQ(pat.error_count, 2);
  EXPECT_TRUE(trace.contains("CRC"));
  EXPECT_EQ(pat.program_count, 2);
  EXPECT_EQ(pat.network_pid_count, 1);
  EXPECT_EQ(pat.network_pids[0], 0x10);
  EXPECT_EQ(pat.get_transport_stream_id(), 16);  // 0 reads as 16
}

TEST(PAT, Failures) {
  PAT pat;
  // Only a network entry: decodes, no program, default PMT PID 48.
  auto net = make_pat(1, {{0, 0x10}});
  EXPECT_EQ(pat.decode(net.data(), int(net.size())), 16);
  EXPECT_EQ(pat.program_count, 0);
  EXPECT_EQ(pat.network_pids.at(0), 0x10);
  EXPECT_EQ(pat.get_pmt_pid(), 48);
  EXPECT_EQ(pat.get_program_number(), 3);
  auto s = make_pat(1, {{1, 0x1000}});
  EXPECT_EQ(pat.decode(s.data(), 15), 0);  // section longer than the data
  EXPECT_EQ(pat.get_packet(), nullptr);
  s[0] = 2;
  EXPECT_EQ(pat.decode(s.data(), int(s.size())), 0);  // not a PAT
  auto empty = make_pat(1, {});
  EXPECT_EQ(pat.decode(empty.data(), int(empty.size())), 0);  // no entry
  EXPECT_EQ(pat.decode(s.data(), 2), 0);
}

TEST(TSPMT, MapsStreamTypesAndKeepsDescriptors) {
  const std::vector<uint8_t> ac3_desc = {0x05, 0x04, 'A', 'C', '-', '3'};
  auto s = make_pmt(1, 0x100, {0x0E, 0x03, 0xC0, 0x10, 0x00},
                    {{0x01, 0x100, {}}, {0x03, 0x101, {0x0A, 0x04, 'e', 'n', 'g', 0}}, {0x81, 0x102, ac3_desc},
                     {0x06, 0x103, {0x6A, 0x01, 0x00}}, {0x1B, 0x104, {}}, {0x04, 0x105, {}}, {0x81, 0x106, {}}});
  TSPMT pmt;
  ASSERT_EQ(pmt.decode(s.data(), int(s.size()) + 0, 0x1000), int(s.size()));
  EXPECT_EQ(pmt.error_count, 0);
  EXPECT_EQ(pmt.program_number, 1);
  EXPECT_EQ(pmt.PCR_PID, 0x100);
  EXPECT_EQ(pmt.pmt_pid, 0x1000);
  EXPECT_EQ(pmt.program_descriptor_count, 1);
  EXPECT_EQ(pmt.program_descriptor_lengths[0], 5);
  EXPECT_EQ(pmt.es_type_codes, (std::vector<int32_t>{2, 1, 9, 11, 9}));
  EXPECT_EQ(pmt.es_pids, (std::vector<int32_t>{0x100, 0x101, 0x102, 0x105, 0x106}));
  EXPECT_EQ(pmt.es_info_lengths, (std::vector<int32_t>{0, 6, 0, 0, 0}));
  ASSERT_EQ(pmt.es_descriptors.size(), 5u);
  EXPECT_EQ(pmt.es_descriptors[1].size(), 6u);
  EXPECT_EQ(pmt.es_descriptors[2], ac3_desc);  // kept for a copy of the table
  EXPECT_EQ(pmt.ac3_es_count, 2);
  EXPECT_EQ(pmt.first_ac3_pid, 0x102);
  const uint8_t* p = pmt.get_packet();
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[1], 0x50);  // PUSI, top PID bits of 0x1000
  EXPECT_EQ(p[2], 0x00);
  EXPECT_EQ(std::memcmp(p + 5, s.data(), s.size()), 0);
  EXPECT_EQ(mpeg_crc32(p + 5, s.size()), 0u);

  TSPMT copy;
  copy = pmt;
  EXPECT_EQ(copy.error_count, 0);
  EXPECT_EQ(copy.es_pids, pmt.es_pids);
  EXPECT_EQ(copy.es_descriptors, pmt.es_descriptors);
  EXPECT_EQ(std::memcmp(copy.get_packet(), p, 188), 0);
}

// The same PMT arrives again and again: decoding it twice must not count
// its AC-3 streams twice, and a copy keeps the AC-3 fields.
TEST(TSPMT, RepeatedSectionCountsAc3Once) {
  const std::vector<uint8_t> ac3_desc = {0x81, 0x06, 0x48, 0x3C, 0x0E, 'e', 0x1F, 0x00};
  auto s = make_pmt(1, 0x100, {}, {{0x02, 0x100, {}}, {0x81, 0x101, ac3_desc}, {0x81, 0x102, {}}});
  TSPMT pmt;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(pmt.decode(s.data(), int(s.size()), 0x30), int(s.size())) << round;
    EXPECT_EQ(pmt.ac3_es_count, 2) << round;
    EXPECT_EQ(pmt.first_ac3_pid, 0x101) << round;
    EXPECT_EQ(pmt.ac3_descriptor.valid, 1) << round;
  }
  TSPMT copy;
  copy = pmt;
  EXPECT_EQ(copy.ac3_es_count, 2);
  EXPECT_EQ(copy.first_ac3_pid, 0x101);
  EXPECT_EQ(copy.ac3_descriptor.bsid, pmt.ac3_descriptor.bsid);
}

// A section that does not fit one packet keeps no stored packet: before,
// the length said 188 over a packet that was never built.
TEST(TSPMT, LongSectionStoresNoPacket) {
  std::vector<Es> es;
  for (int i = 0; i < 40; ++i) es.push_back({0x03, 0x200 + i, {}});
  auto s = make_pmt(1, 0x200, {}, es);
  ASSERT_GT(s.size(), 183u);
  TSPMT pmt;
  EXPECT_EQ(pmt.decode(s.data(), int(s.size()), 0x30), int(s.size()));
  EXPECT_EQ(pmt.es_count, 40);
  EXPECT_EQ(pmt.stored_packet_length, 0);
  EXPECT_EQ(pmt.get_packet(), nullptr);
}

TEST(TSPMT, AnyFaultRefusesTheTable) {
  auto good = make_pmt(1, 0x100, {}, {{0x02, 0x100, {}}});
  struct Case {
    const char* what;
    std::vector<uint8_t> s;
    int length;
  };
  std::vector<Case> cases;
  auto bad_crc = good;
  bad_crc.back() ^= 0x80;
  cases.push_back({"crc", bad_crc, int(bad_crc.size())});
  auto bad_id = good;
  bad_id[0] = 3;
  cases.push_back({"table_id", bad_id, int(bad_id.size())});
  cases.push_back({"short", good, int(good.size()) - 1});
  auto bad_reserved = good;
  bad_reserved[13] &= 0x1F;  // reserved bits of the ES entry
  cases.push_back({"es reserved", bad_reserved, int(bad_reserved.size())});
  auto long_info = make_pmt(1, 0x100, {}, {{0x02, 0x100, {}}});
  long_info[16] = 0x20;  // ES_info_length past the loop
  cases.push_back({"es info", long_info, int(long_info.size())});
  auto long_pil = good;
  long_pil[11] = 0x40;  // program_info_length past the section
  cases.push_back({"program info", long_pil, int(long_pil.size())});
  for (auto& c : cases) {
    TSPMT pmt;
    EXPECT_EQ(pmt.decode(c.s.data(), c.length, 0x1000), 0) << c.what;
    EXPECT_NE(pmt.error_count, 0) << c.what;
    EXPECT_EQ(pmt.get_packet(), nullptr) << c.what;
    TSPMT copy;
    copy = pmt;  // a faulty table is not copied
    EXPECT_EQ(copy.es_count, 0) << c.what;
  }
  TSPMT never;
  EXPECT_EQ(never.error_count, 1);
}

TEST(TSPMT, SetPmtPicksVideoForPcr) {
  const int pids[] = {0x101, 0x100, 0x102};
  const int codes[] = {1, 3, 2};
  TSPMT pmt;
  pmt.set_pmt(3, pids, codes);
  EXPECT_EQ(pmt.es_count, 3);
  EXPECT_EQ(pmt.PCR_PID, 0x100);
  EXPECT_EQ(pmt.es_info_lengths, (std::vector<int32_t>{0, 0, 0}));
  TSPMT copy;
  copy = pmt;  // a scanned table is usable, so it copies
  EXPECT_EQ(copy.es_pids, pmt.es_pids);
  pmt.set_pmt(0, pids, codes);  // nothing changes
  EXPECT_EQ(pmt.es_count, 3);
}

// First packet of pid with a unit start, from the file.
std::vector<uint8_t> first_unit(const std::vector<uint8_t>& ts, int pid) {
  TSPacket t;
  for (size_t pos = 0; pos + 188 <= ts.size(); pos += 188)
    if (t.decode(ts.data() + pos, 0) == 0 && t.PID == pid && t.payload_unit_start_indicator)
      return std::vector<uint8_t>(ts.begin() + long(pos), ts.begin() + long(pos) + 188);
  return {};
}

// ffmpeg's tables decode without faults and are rebuilt byte for byte,
// but for the continuity counter.
TEST(TSTables, RebuildFfmpegPackets) {
  for (const char* name : {"st_ts.ts", "st_ts2p.ts", "st_tsac3.ts", "st_tsac3b.ts"}) {
    SCOPED_TRACE(name);
    auto ts = tsupport::read_file(tsupport::fixture(name));
    auto pat_packet = first_unit(ts, 0);
    ASSERT_EQ(pat_packet.size(), 188u);
    PAT pat;
    ASSERT_GT(pat.decode(pat_packet.data() + 5, 183), 0);
    EXPECT_EQ(pat.error_count, 0);
    auto mask_cc = [](std::vector<uint8_t> p) {
      p[3] &= 0xF0;
      return p;
    };
    EXPECT_EQ(std::vector<uint8_t>(pat.get_packet(), pat.get_packet() + 188), mask_cc(pat_packet));
    for (int i = 0; i < pat.program_count; ++i) {
      auto pmt_packet = first_unit(ts, pat.pmt_pids[i]);
      ASSERT_EQ(pmt_packet.size(), 188u);
      TSPMT pmt;
      ASSERT_EQ(pmt.decode(pmt_packet.data() + 5, 183, pat.pmt_pids[i]), 183);
      EXPECT_EQ(pmt.error_count, 0);
      EXPECT_EQ(std::vector<uint8_t>(pmt.get_packet(), pmt.get_packet() + 188), mask_cc(pmt_packet));
      EXPECT_EQ(mpeg_crc32(pmt.get_packet() + 5, size_t(pmt.section_length) + 3), 0u);
    }
  }
}

// AC-3 as ffmpeg signals it: stream_type 0x81 is kept (as code 9); with
// system B it is 0x06 with descriptors and is passed over.
TEST(TSTables, Ac3Signalling) {
  auto ts = tsupport::read_file(tsupport::fixture("st_tsac3.ts"));
  auto pkt = first_unit(ts, 0x1000);
  ASSERT_EQ(pkt.size(), 188u);
  TSPMT pmt;
  ASSERT_GT(pmt.decode(pkt.data() + 5, 183, 0x1000), 0);
  EXPECT_EQ(pmt.ac3_es_count, 1);
  EXPECT_EQ(pmt.first_ac3_pid, 257);
  EXPECT_EQ(pmt.es_type_codes, (std::vector<int32_t>{3, 9}));

  ts = tsupport::read_file(tsupport::fixture("st_tsac3b.ts"));
  pkt = first_unit(ts, 0x1000);
  ASSERT_EQ(pkt.size(), 188u);
  // The raw ES loop holds the 0x06 entry with its descriptors.
  const uint8_t* sec = pkt.data() + 5;
  const int pil = ((sec[10] & 15) << 8) | sec[11];
  bool private_with_descriptors = false;
  for (int at = 12 + pil; at + 5 <= ((sec[1] & 15) << 8 | sec[2]) - 1;) {
    const int info = ((sec[at + 3] & 15) << 8) | sec[at + 4];
    if (sec[at] == 0x06 && info > 0) private_with_descriptors = true;
    at += 5 + info;
  }
  EXPECT_TRUE(private_with_descriptors);
  TSPMT b;
  ASSERT_GT(b.decode(sec, 183, 0x1000), 0);
  EXPECT_EQ(b.ac3_es_count, 0);
  EXPECT_EQ(b.es_type_codes, (std::vector<int32_t>{3}));
}

// tamsel-dev tables against ffprobe -show_programs.
TEST(TSTables, DevToolAgreesWithFfprobe) {
  // codec -> our code as ffmpeg signals it (MPEG-1 video goes out as 0x02).
  const std::map<std::string, int> code = {{"mpeg2video", 3}, {"mpeg1video", 3}, {"mp2", 1}, {"ac3", 9}};
  // and the PMT's stream_type it writes.
  const std::map<std::string, std::string> pmt_type = {
      {"mpeg2video", "0x02"}, {"mpeg1video", "0x02"}, {"mp2", "0x03"}, {"ac3", "0x81"}};
  for (const char* name : {"st_ts.ts", "st_ts2p.ts", "st_tsm1.ts", "st_tsac3.ts", "st_tsac3b.ts"}) {
    SCOPED_TRACE(name);
    const std::string path = tsupport::fixture(name);
    std::string out;
    ASSERT_EQ(tsupport::run("ffprobe -v error -show_programs -of compact=nk=0 " + tsupport::sh_quote(path) +
                                " | grep -o 'program_num=[0-9]*\\|pmt_pid=[0-9]*\\|pcr_pid=[0-9]*\\|codec_name=[a-z0-9]*\\|id=0x[0-9a-f]*'",
                            &out),
              0);
    // Expected lines in our format; ac3 as stream_type 0x06 (system B) is not kept.
    const bool system_b = std::string(name) == "st_tsac3b.ts";
    std::vector<std::string> pat_lines, pmt_lines;
    std::string program, pmt_pid, codec;
    for (const auto& l : tsupport::split_lines(out)) {
      const auto eq = l.find('=');
      if (eq == std::string::npos) continue;
      const std::string k = l.substr(0, eq), v = l.substr(eq + 1);
      if (k == "program_num") program = v;
      if (k == "pmt_pid") {
        pmt_pid = v;
        pat_lines.push_back("pat program=" + program + " pmt_pid=" + v);
      }
      if (k == "pcr_pid") pmt_lines.push_back("pmt program=" + program + " pid=" + pmt_pid + " pcr_pid=" + v);
      if (k == "codec_name") codec = v;
      if (k == "id") {
        if (system_b && codec == "ac3") continue;
        ASSERT_TRUE(code.count(codec)) << codec;
        pmt_lines.push_back("es pid=" + std::to_string(std::stoi(v, nullptr, 16)) + " type=" + std::to_string(code.at(codec)) +
                            " stream_type=" + pmt_type.at(codec));
      }
    }
    std::vector<std::string> expected = pat_lines;
    expected.insert(expected.end(), pmt_lines.begin(), pmt_lines.end());
    std::vector<std::string> lines;
    ASSERT_EQ(tsupport::dev("tables " + tsupport::sh_quote(path), &lines), 0);
    EXPECT_EQ(lines, expected);
  }
}

TEST(TSTables, DevToolRefusesOtherFiles) {
  std::vector<std::string> lines;
  EXPECT_NE(tsupport::dev("tables " + tsupport::sh_quote(tsupport::fixture("st_vob.vob")), &lines), 0);
  EXPECT_NE(tsupport::dev("tables " + tsupport::sh_quote(tsupport::fixture("st_random.bin")), &lines), 0);
  EXPECT_TRUE(lines.empty());
}

}  // namespace

namespace {

// Payloads of a section cut into packets of `room` bytes: the first starts
// with a pointer_field of `pointer` bytes skipped (the end of an earlier
// section), the others continue it.
std::vector<std::vector<uint8_t>> cut_section(const std::vector<uint8_t>& s, int room, int pointer) {
  std::vector<std::vector<uint8_t>> out;
  std::vector<uint8_t> first = {uint8_t(pointer)};
  first.insert(first.end(), size_t(pointer), 0xAA);
  size_t at = std::min(s.size(), size_t(room) - first.size());
  first.insert(first.end(), s.begin(), s.begin() + long(at));
  out.push_back(first);
  while (at < s.size()) {
    const size_t n = std::min(s.size() - at, size_t(room));
    out.emplace_back(s.begin() + long(at), s.begin() + long(at + n));
    at += n;
  }
  return out;
}

}  // namespace

// Sections gathered over packets: whole in one, spread over three, behind a
// pointer_field; cut off by the next unit start or claiming more than a
// section may hold, they never complete; stuffing after a section is left.
TEST(SectionAssembler, GathersSectionsOverPackets) {
  std::vector<Es> es;
  for (int i = 0; i < 80; ++i) es.push_back({0x03, 0x200 + i, {}});
  const auto pmt = make_pmt(1, 0x200, {}, es);
  ASSERT_GT(pmt.size(), 2 * 184u);
  for (int pointer : {0, 7}) {
    SCOPED_TRACE(pointer);
    const auto parts = cut_section(pmt, 184, pointer);
    ASSERT_EQ(parts.size(), 3u);
    SectionAssembler a;
    EXPECT_FALSE(a.start(parts[0].data(), int(parts[0].size())));
    EXPECT_TRUE(a.growing());
    EXPECT_FALSE(a.add(parts[1].data(), int(parts[1].size()), false));
    std::vector<uint8_t> last = parts[2];
    last.resize(184, 0xFF);  // stuffing behind the section
    EXPECT_TRUE(a.add(last.data(), int(last.size()), false));
    ASSERT_EQ(a.size(), int(pmt.size()));
    EXPECT_TRUE(std::equal(pmt.begin(), pmt.end(), a.data()));
    TSPMT t;
    EXPECT_EQ(t.decode(a.data(), a.size(), 0x30), a.size());
    EXPECT_EQ(t.es_count, 80);
  }
  // A PAT fits one payload.
  const auto pat = make_pat(1, {{1, 0x30}});
  auto one = cut_section(pat, 184, 0);
  ASSERT_EQ(one.size(), 1u);
  SectionAssembler a;
  EXPECT_TRUE(a.start(one[0].data(), int(one[0].size())));
  EXPECT_EQ(a.size(), int(pat.size()));
  // The next unit starts before the section is whole: given up.
  const auto parts = cut_section(pmt, 184, 0);
  const uint8_t next_unit[4] = {1, 0xAB, 0x02, 0xB0};
  EXPECT_FALSE(a.start(parts[0].data(), int(parts[0].size())));
  EXPECT_FALSE(a.add(next_unit, 4, true));
  EXPECT_FALSE(a.growing());
  EXPECT_FALSE(a.add(parts[1].data(), int(parts[1].size()), false));
  // A length field beyond 4093, a pointer past the payload, empty payloads.
  const uint8_t huge[6] = {0, 0x02, 0xBF, 0xFF, 0, 0};
  EXPECT_FALSE(a.start(huge, 6));
  EXPECT_FALSE(a.growing());
  const uint8_t past[3] = {5, 0x02, 0xB0};
  EXPECT_FALSE(a.start(past, 3));
  EXPECT_FALSE(a.start(nullptr, 0));
  EXPECT_FALSE(a.add(nullptr, 0, false));
}
