// Byte layouts of the program-stream muxer (system headers, Video CD
// sectors, SVCD end pack, LPCM and AC-3 sub-stream headers), its rates, the
// audio offset, the factory and the stream-id table, and failures.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "foundation/es_data.h"
#include "ps_reader.h"
#include "mux/dts_log.h"
#include "mux/es.h"
#include "mux/mux_drivers.h"
#include "mux/muxer.h"
#include "mux/psmux.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

std::string mux_to(const std::string& name, const std::string& options, const std::vector<std::string>& inputs,
                   std::vector<std::string>* lines, int* status = nullptr) {
  const std::string out = temp_dir() + "/" + name;
  std::string args = "mux " + options + " " + sh_quote(out);
  for (const std::string& in : inputs) args += " " + sh_quote(in);
  const int rc = dev(args, lines);
  if (status)
    *status = rc;
  else
    EXPECT_EQ(rc, 0) << args;
  return out;
}

// The record of a fixture stream with a stream id.
ESData open_es(const char* name, int id) {
  ESData e;
  int err = 0;
  e.open(fixture(name).c_str(), &err);
  EXPECT_EQ(err, 0) << name;
  e.stream_id = id;
  return e;
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

TEST(PSMuxLayout, ProgramSystemHeaderHasTheFixedEntries) {
  std::vector<std::string> lines;
  const Bytes d = read_file(mux_to("a.mpg", "--kind ps", {fixture("pm_m2.m2v"), fixture("pm_a48.mp2")}, &lines));
  ASSERT_GT(d.size(), 2048u);
  // pack header (14 bytes), then the system header:
  //   00 00 01 BB | header_length 18 | rate_bound 25200 with markers |
  //   audio_bound 1, fixed 0, CSPS 0 | locks, marker, video_bound 1 | 0x7F |
  //   B9 E0 E8 | B8 C0 20 | BD E0 3A | BF E0 02
  const uint8_t want[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x12, 0x80 | (25200 >> 15), uint8_t(25200 >> 7),
                          uint8_t((25200 << 1) | 1), 0x04, 0xE1, 0x7F, 0xB9, 0xE0, 0xE8, 0xB8, 0xC0, 0x20,
                          0xBD, 0xE0, 0x3A, 0xBF, 0xE0, 0x02};
  EXPECT_EQ(Bytes(d.begin() + 14, d.begin() + 14 + 24), Bytes(want, want + sizeof want));
  EXPECT_EQ(field_int(lines.back(), "mux_rate"), 25200 * 400);
  // The first video packet shares that pack: PTS and DTS, then the P-STD
  // field (0x1E; '01', scale 1, 232 units).
  //   00 00 01 E0 | length | 81 | C1 | 0D | PTS | DTS | 1E 60 E8
  EXPECT_EQ(Bytes(d.begin() + 38, d.begin() + 42), (Bytes{0, 0, 1, 0xE0}));
  EXPECT_EQ(((d[42] << 8) | d[43]) + 6 + 38, 2048);
  EXPECT_EQ(Bytes(d.begin() + 44, d.begin() + 47), (Bytes{0x81, 0xC1, 0x0D}));
  EXPECT_EQ(d[47] >> 4, 3);
  EXPECT_EQ(d[52] >> 4, 1);
  EXPECT_EQ(Bytes(d.begin() + 57, d.begin() + 60), (Bytes{0x1E, 0x60, 0xE8}));
  // The first video packet: P-STD field of 232 units of 1024 bytes.
  const psr::File f = psr::read(d);
  ASSERT_EQ(f.error, "");
  EXPECT_EQ(f.streams.at(0xE0).std_bytes, 232 * 1024);
  EXPECT_EQ(f.streams.at(0xC0).std_bytes, 4096);
}

TEST(PSMuxLayout, VideoCdSectors) {
  std::vector<std::string> lines;
  const Bytes d = read_file(mux_to("v.mpg", "--kind vcd", {fixture("pm_m1.m1v"), fixture("pm_a44.mp2")}, &lines));
  EXPECT_EQ(field(lines.back(), "kind"), "5");
  ASSERT_GT(d.size(), 3 * 2324u);
  // Sector 1: the video system header E0 E0 2E, padding 00 00 01 BE 08 F3.
  const uint8_t s1[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09, 0x80, 0x1B, 0x91, 0x01, 0xE1, 0xFF, 0xE0, 0xE0, 0x2E,
                        0x00, 0x00, 0x01, 0xBE, 0x08, 0xF3};
  EXPECT_EQ(Bytes(d.begin() + 12, d.begin() + 12 + sizeof s1), Bytes(s1, s1 + sizeof s1));
  // Sector 2: the audio system header C0 C0 20, padding 08 DF, 20 zero bytes.
  const uint8_t s2[] = {0x00, 0x00, 0x01, 0xBB, 0x00, 0x09, 0x80, 0x1B, 0x91, 0x05, 0xE0, 0xFF, 0xC0, 0xC0, 0x20,
                        0x00, 0x00, 0x01, 0xBE, 0x08, 0xDF};
  EXPECT_EQ(Bytes(d.begin() + 2324 + 12, d.begin() + 2324 + 12 + sizeof s2), Bytes(s2, s2 + sizeof s2));
  EXPECT_EQ(Bytes(d.begin() + 2 * 2324 - 20, d.begin() + 2 * 2324), Bytes(20, 0));
  const psr::File f = psr::read(d);
  ASSERT_EQ(f.error, "");
  for (int r : f.mux_rate) ASSERT_EQ(r, 3528);
  // Every audio sector ends in 20 zero bytes.
  EXPECT_EQ(f.vcd_audio_tails_ok.size(), size_t(f.streams.at(0xC0).packets.size()) + 1);
  for (auto ok : f.vcd_audio_tails_ok) EXPECT_EQ(ok, 1);
  // SCR moves one sector period (1200 ticks) per sector.
  for (size_t i = 1; i < f.scr.size(); ++i) ASSERT_NEAR(f.scr[i] - f.scr[i - 1], 1200.0, 0.01) << i;
  // The last sector ends with the program end code.
  EXPECT_EQ(d.size() % 2324, 0u);
  EXPECT_EQ(Bytes(d.end() - 4, d.end()), (Bytes{0, 0, 1, 0xB9}));
}

TEST(PSMuxLayout, NotAVideoCdPairBecomesMpeg1System) {
  std::vector<std::string> lines;
  mux_to("nv.mpg", "--kind vcd", {fixture("pm_m1.m1v"), fixture("pm_a48.mp2")}, &lines);
  EXPECT_EQ(field(lines.back(), "kind"), "4");
  EXPECT_EQ(field(lines.back(), "status"), "done");
}

TEST(PSMuxLayout, SvcdEndsWithTheEndCodeInsideItsLastPack) {
  std::vector<std::string> lines;
  const Bytes d = read_file(mux_to("s.mpg", "--kind svcd", {fixture("pm_svcd.m2v"), fixture("pm_a44.mp2")}, &lines));
  EXPECT_EQ(field(lines.back(), "svcd"), "1");
  EXPECT_EQ(field_int(lines.back(), "mux_rate"), 6972 * 400);
  ASSERT_EQ(d.size() % 2324, 0u);
  const Bytes last(d.end() - 2324, d.end());
  EXPECT_EQ(Bytes(last.begin(), last.begin() + 4), (Bytes{0, 0, 1, 0xBA}));
  EXPECT_EQ(Bytes(last.end() - 4, last.end()), (Bytes{0, 0, 1, 0xB9}));
}

TEST(PSMuxLayout, Mpeg1RateHasItsFloor) {
  // 1.0 Mbit/s video with 224 kbit/s audio needs less than 1.5 Mbit/s.
  std::vector<std::string> lines;
  const Bytes d = read_file(mux_to("m.mpg", "--kind mpeg1", {fixture("pm_m1low.m1v"), fixture("pm_a44.mp2")}, &lines));
  EXPECT_EQ(field_int(lines.back(), "mux_rate"), 1500000);
  const psr::File f = psr::read(d);
  ASSERT_EQ(f.error, "");
  for (int r : f.mux_rate) ASSERT_EQ(r, 1500000 / 400);
  EXPECT_EQ(f.streams.at(0xE0).std_bytes, 46 * 1024);  // 47104 rounded up to whole units
}

TEST(PSMuxLayout, AudioOffsetAddsSilenceOrDropsFrames) {
  const Bytes src = read_file(fixture("pm_a44.mp2"));
  // 44.1 kHz layer II at 224 kbit/s: 26.12 ms frames; 100 ms is 4 frames.
  for (int offset : {-100, 100}) {
    std::vector<std::string> lines;
    const Bytes d = read_file(mux_to("o.mpg", "--kind mpeg1 --offset " + std::to_string(offset),
                                     {fixture("pm_m1.m1v"), fixture("pm_a44.mp2")}, &lines));
    const psr::File f = psr::read(d);
    ASSERT_EQ(f.error, "");
    const Bytes& a = f.streams.at(0xC0).es;
    if (offset < 0) {
      const size_t silent = 731;  // no padding slot
      ASSERT_EQ(a.size(), src.size() + 4 * silent);
      for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(a[k * silent], 0xFF);
        EXPECT_EQ(a[k * silent + 1] & 0xF6, 0xF4);  // layer II
        EXPECT_EQ(a[k * silent + 2], src[2] & ~0x02);  // same rate, no padding slot
      }
      // They decode to silence.
      const std::string dir = temp_dir();
      ASSERT_TRUE(write_file(dir + "/s.mp2", Bytes(a.begin(), a.begin() + long(4 * silent))));
      std::string level;
      run("ffmpeg -nostdin -v info -i " + sh_quote(dir + "/s.mp2") +
              " -af astats=measure_overall=Peak_level:measure_perchannel=none -f null - 2>&1 | grep -i 'peak level'",
          &level);
      EXPECT_NE(level.find("-inf"), std::string::npos) << level;
      EXPECT_TRUE(std::equal(src.begin(), src.end(), a.begin() + 4 * silent));
    } else {
      // Four whole frames of the input are gone.
      size_t at = 0;
      for (int k = 0; k < 4; ++k) at += 144 * 224000 / 44100 + ((src[at + 2] >> 1) & 1);
      EXPECT_TRUE(a == Bytes(src.begin() + long(at), src.end()));
    }
  }
}

TEST(PSMuxLayout, LpcmHeaderAndRefusal) {
  // 48 kHz stereo LPCM: frames of 1/600 s, 320 bytes.
  ESData d;
  d.set_lpcm_header(0xA0, 48000, 2);
  d.stream_id = 0xA0;
  ES es(MUX_MPEG2_PROGRAM, d, 2013, 1);
  ASSERT_EQ(es.error(), 0);
  EXPECT_EQ(es.bit_rate(), 48000 * 2 * 16);
  EXPECT_EQ(es.get_buffer_size(), 59392);
  Bytes pcm(5000, 0x11);
  ASSERT_EQ(es.store_data(pcm.data(), int(pcm.size())), int(pcm.size()));
  uint8_t h[7];
  // First packet: starts on a frame, 2008 bytes hold 7 frame starts.
  es.pcm_header(h, 2008, 0);
  EXPECT_EQ(Bytes(h, h + 7), (Bytes{0xA0, 7, 0x00, 0x00, 0x00, 0x01, 0x80}));
  Bytes tmp(2008);
  ASSERT_EQ(es.take(tmp.data(), 2008), 2008);
  // Second: 88 bytes of a frame carried over, so frames start 232, 552, ...
  // 1832 bytes in (6, plus one by the count rule); pointer 232 + 4; frame 7.
  es.pcm_header(h, 2008, 1);
  EXPECT_EQ(Bytes(h, h + 7), (Bytes{0xA0, 7, 0x00, 0xEC, 0x07, 0x01, 0x80}));

  ESData d44;
  d44.set_lpcm_header(0xA0, 44100, 2);
  d44.stream_id = 0xA0;
  TraceCapture cap;
  ES refused(MUX_MPEG2_PROGRAM, d44, 2013, 1);
  EXPECT_NE(refused.error(), 0);
  EXPECT_EQ(refused.payload_size(), 0);
}

TEST(PSMuxLayout, Ac3SubStreamHeaderOnlyInMpeg2) {
  std::vector<std::string> lines;
  const Bytes d = read_file(mux_to("c.mpg", "--kind ps", {fixture("pm_m2.m2v"), fixture("pm_a.ac3")}, &lines));
  // The first AC-3 packet: 00 00 01 BD, then after the PES header 80, the
  // number of frames that start, and the first unit pointer (1 = at once).
  size_t p = 0;
  while (p + 4 < d.size() && !(d[p] == 0 && d[p + 1] == 0 && d[p + 2] == 1 && d[p + 3] == 0xBD)) ++p;
  ASSERT_LT(p + 16, d.size());
  const size_t q = p + 9 + d[p + 8];
  EXPECT_EQ(d[q], 0x80);
  EXPECT_GE(d[q + 1], 2);
  EXPECT_EQ((d[q + 2] << 8) | d[q + 3], 1);
  EXPECT_EQ(d[q + 4], 0x0B);
  EXPECT_EQ(d[q + 5], 0x77);
  // AC-3 is refused in MPEG-1 outputs.
  int rc = 0;
  mux_to("c1.mpg", "--kind mpeg1", {fixture("pm_m1.m1v"), fixture("pm_a.ac3")}, &lines, &rc);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(field(lines.back(), "status"), "failed");
}

TEST(PSMuxFailure, OutputNamingAnInputIsRefused) {
  const std::string dir = temp_dir();
  const std::string v = dir + "/v.m2v";
  ASSERT_TRUE(write_file(v, read_file(fixture("pm_m2.m2v"))));
  const Bytes before = read_file(v);
  std::vector<std::string> lines;
  const int rc = dev("mux --kind ps " + sh_quote(v) + " " + sh_quote(v) + " " + sh_quote(fixture("pm_a48.mp2")), &lines);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(field(lines.back(), "status"), "failed");
  EXPECT_TRUE(read_file(v) == before);
}

TEST(PSMuxFailure, FullDiskFailsTheMuxAndLeavesNoOutput) {
  // A file-size limit makes the writes come up short, as a full disk does.
  const std::string out = temp_dir() + "/full.mpg";
  std::string text;
  const int rc = run("sh -c " +
                         sh_quote("trap '' XFSZ; ulimit -f 256; " + sh_quote(dev_tool()) + " mux --kind ps " +
                                  sh_quote(out) + " " + sh_quote(fixture("pm_m2.m2v")) + " " +
                                  sh_quote(fixture("pm_a48.mp2"))),
                     &text);
  EXPECT_NE(rc, 0);
  const std::vector<std::string> lines = split_lines(text);
  ASSERT_FALSE(lines.empty());
  std::string last;
  for (const std::string& l : lines)
    if (l.rfind("mux ", 0) == 0) last = l;
  EXPECT_EQ(field(last, "status"), "failed");
  EXPECT_LT(field_int(last, "result"), 0);
  EXPECT_FALSE(file_exists(out));
  EXPECT_FALSE(file_exists(out + ".part"));

  // A file of that name from before is left as it was.
  const Bytes before(5000, 0x5A);
  ASSERT_TRUE(write_file(out, before));
  EXPECT_NE(run("sh -c " + sh_quote("trap '' XFSZ; ulimit -f 256; " + sh_quote(dev_tool()) + " mux --kind ps " +
                                    sh_quote(out) + " " + sh_quote(fixture("pm_m2.m2v")) + " " +
                                    sh_quote(fixture("pm_a48.mp2"))),
                &text),
            0);
  EXPECT_TRUE(read_file(out) == before);
  EXPECT_FALSE(file_exists(out + ".part"));
}

TEST(PSMuxFailure, DamagedInputsEndCleanly) {
  const Bytes v = read_file(fixture("pm_m1.m1v"));
  const Bytes a = read_file(fixture("pm_a44.mp2"));
  std::mt19937 rng(11);
  const std::string dir = temp_dir();
  for (int round = 0; round < 4; ++round) {
    Bytes bv(v.begin(), v.begin() + long(v.size() * (round + 1) / 5));
    Bytes ba(a.begin(), a.begin() + long(a.size() * (4 - round) / 5));
    for (int k = 0; k < 300; ++k) bv[rng() % bv.size()] ^= uint8_t(1u << (rng() % 8));
    for (int k = 0; k < 50; ++k) ba[rng() % ba.size()] ^= uint8_t(1u << (rng() % 8));
    ASSERT_TRUE(write_file(dir + "/v.m1v", bv));
    ASSERT_TRUE(write_file(dir + "/a.mp2", ba));
    std::vector<std::string> lines;
    int rc = 0;
    const std::string out = mux_to("d.mpg", round & 1 ? "--kind ps" : "--kind mpeg1",
                                   {dir + "/v.m1v", dir + "/a.mp2"}, &lines, &rc);
    if (rc == 0) {
      const psr::File f = psr::read(read_file(out));
      EXPECT_EQ(f.error, "") << round;
    }
  }
}

TEST(Muxer, FactoryAndPacketSizes) {
  ESData v = open_es("pm_m2.m2v", 0xE0);
  ASSERT_TRUE(v.is_video());
  const std::string dir = temp_dir();
  // A lone MPEG-2 video asked for as MPEG audio output is an MPEG-2 video
  // elementary output.
  std::unique_ptr<Muxer> m(muxer_create(1, 1, &v, (dir + "/e.m2v").c_str(), 0, 0));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->get_type(), 3);
  EXPECT_EQ(m->set_video_packet_size(255), 0);
  EXPECT_EQ(m->set_video_packet_size(10241), 0);
  EXPECT_EQ(m->set_video_packet_size(256), 1);
  EXPECT_EQ(m->set_video_packet_size(10240), 1);
  m.reset();
  const ESData pair[2] = {v, open_es("pm_a.ac3", 0x80)};
  for (int type : {4, 5}) EXPECT_EQ(muxer_create(type, 2, pair, (dir + "/x.mpg").c_str(), 0, 0), nullptr) << type;
  std::unique_ptr<Muxer> ps(muxer_create(6, 2, pair, (dir + "/y.mpg").c_str(), 0, 0));
  EXPECT_TRUE(ps);
  std::unique_ptr<Muxer> ts(muxer_create(8, 2, pair, (dir + "/z.ts").c_str(), 0, 0));
  EXPECT_TRUE(ts);  // a transport stream takes AC-3
}

TEST(StreamIdTable, SeventeenthVideoIsRefused) {
  StreamIdTable t;
  for (int i = 0; i < 16; ++i) {
    ASSERT_GT(t.add_es(("v" + std::to_string(i)).c_str(), 1), 0);
    int id = 0, pid = 0;
    ASSERT_EQ(t.get_es_id(("v" + std::to_string(i)).c_str(), &id, &pid), 1);
    EXPECT_EQ(id, 0xE0 + i);
    EXPECT_EQ(pid, 0x20 + i);
  }
  EXPECT_EQ(t.add_es("v16", 1), 0);
  EXPECT_EQ(t.add_es("a0", 2), 17);
  EXPECT_EQ(t.add_es("c0", 3), 18);
  int id = 0, pid = 0;
  t.get_es_id("c0", &id, &pid);
  EXPECT_EQ(id, 0x80);
  EXPECT_EQ(pid, 0x41);
  EXPECT_EQ(t.set_es_stream_id("a0", 0x80), 0);  // the audio kinds share one pool
  EXPECT_EQ(t.set_es_stream_id("a0", 0xC5), 1);
  EXPECT_EQ(t.add_es("x", 5), 0);
}

TEST(MuxDrivers, DefaultIdsOffsetsAndRates) {
  ESData list[4] = {open_es("pm_a48.mp2", 0), open_es("pm_m2.m2v", 0), open_es("pm_a.ac3", 0),
                    open_es("pm_a44.mp2", 0xC0)};  // a preset id: the counter moves on
  assign_default_stream_ids(4, list);
  EXPECT_EQ(list[0].stream_id, 0xC0);
  EXPECT_EQ(list[1].stream_id, 0xE0);
  EXPECT_EQ(list[2].stream_id, 0x80);
  EXPECT_EQ(list[3].stream_id, 0xC0);

  ESData a = list[3];
  struct Case {
    int ms, frames;
  };
  for (const Case c : {Case{-100, -4}, Case{100, 4}, Case{13, 0}, Case{14, 1}, Case{-14, -1}, Case{0, 0}}) {
    a.audio_offset = c.ms;
    EXPECT_EQ(get_offset_frames(&a), c.frames) << c.ms;
  }
  EXPECT_EQ(make_es_mute_frame(&a).size(), 731u);

  std::vector<std::string> lines;
  ASSERT_EQ(dev("muxrates " + sh_quote(fixture("pm_m1low.m1v")) + " " + sh_quote(fixture("pm_a44.mp2")), &lines), 0);
  EXPECT_EQ(field_int(lines[0], "video"), 1000000);
  EXPECT_EQ(field_int(lines[0], "vcd"), 1411200);
  EXPECT_GT(field_int(lines[0], "mpeg1"), 1224000);
  EXPECT_GT(field_int(lines[0], "ps"), 1224000);
  EXPECT_GT(field_int(lines[0], "ts"), 1224000);
  ASSERT_EQ(dev("muxrates " + sh_quote(fixture("pm_m2.m2v")) + " " + sh_quote(fixture("pm_a48.mp2")), &lines), 0);
  EXPECT_EQ(field_int(lines[0], "mpeg1"), 0);
  EXPECT_EQ(field_int(lines[0], "vcd"), 0);

  // Sizes: 4 s at each rate.
  ESData pair[2] = {open_es("pm_m1low.m1v", 0), open_es("pm_a44.mp2", 0)};
  double sizes[5];
  estimate_sizes(sizes, 2, pair);
  int rates[5];
  mux_rates_for_es_list(rates, 2, pair);
  const double longest = std::max(pair[0].get_duration(), pair[1].get_duration());
  EXPECT_NEAR(longest, 4.0, 0.1);
  for (int k = 0; k < 5; ++k) EXPECT_DOUBLE_EQ(sizes[k], longest * rates[k] / 8.0) << k;
  EXPECT_NEAR(sizes[2], 4.0 * 1411200 / 8, 0.1 * 1411200 / 8);
}

TEST(EsFilterCommand, JoinedStreamsAndFeedSizes) {
  const std::string dir = temp_dir();
  const Bytes one = read_file(fixture("pm_m1.m1v"));
  Bytes two = one;
  two.insert(two.end(), one.begin(), one.end());
  ASSERT_TRUE(write_file(dir + "/j.m2v", two));
  std::vector<std::string> lines;
  ASSERT_EQ(dev("esfilter " + sh_quote(fixture("pm_m1.m1v")) + " " + sh_quote(dir + "/o.m2v"), &lines), 0);
  EXPECT_EQ(field_int(lines[0], "rewritten"), 0);
  EXPECT_TRUE(read_file(dir + "/o.m2v") == one);
  Bytes first;
  for (const char* chunk : {"1", "7", "65536"}) {
    ASSERT_EQ(dev("esfilter " + sh_quote(dir + "/j.m2v") + " " + sh_quote(dir + "/p.m2v") + " --chunk " + chunk, &lines),
              0);
    EXPECT_GT(field_int(lines[0], "rewritten"), 0);
    EXPECT_EQ(field_int(lines[0], "bytes_out"), static_cast<long long>(two.size()));
    const Bytes out = read_file(dir + "/p.m2v");
    if (first.empty()) first = out;
    EXPECT_TRUE(out == first) << chunk;
  }
}

TEST(DtsLog, OffUnlessAFolderIsNamedThenOneLogForTheProcess) {
  ESData v = open_es("pm_m2.m2v", 0xE0);
  ASSERT_TRUE(v.is_video());
  const std::string dir = temp_dir();
  {
    // Off: nothing is written anywhere.
    dts_log_set_folder(nullptr);
    std::unique_ptr<Muxer> m(muxer_create(6, 1, &v, (dir + "/0.mpg").c_str(), 0, 0));
    ASSERT_TRUE(m);
    m->add_dts_correction(1800);
    EXPECT_FALSE(dts_logger().is_open());
  }
  // A file already there is never written over: the log takes the next name.
  const std::string folder = dir + "/logs";
  ASSERT_EQ(run("mkdir -p " + sh_quote(folder) + " && ln -s /nonexistent " + sh_quote(folder + "/dts-muxer.log")), 0);
  dts_log_set_folder(folder.c_str());
  for (int save = 0; save < 2; ++save) {
    std::unique_ptr<Muxer> m(muxer_create(6, 1, &v, (dir + "/" + std::to_string(save) + ".mpg").c_str(), 0, 0));
    ASSERT_TRUE(m);
    m->add_dts_correction(-3600.0 * (save + 1));
  }
  ASSERT_TRUE(dts_logger().is_open());
  EXPECT_EQ(dts_logger().path(), folder + "/dts-muxer-1.log");
  dts_logger().close();
  dts_log_set_folder(nullptr);
  const std::vector<std::string> lines = split_lines(std::string(
      reinterpret_cast<const char*>(read_file(folder + "/dts-muxer-1.log").data()), read_file(folder + "/dts-muxer-1.log").size()));
  ASSERT_GE(lines.size(), 10u);
  EXPECT_EQ(lines[1], "// Logger started: <dts-muxer.log>");
  EXPECT_EQ(lines[3].substr(0, 14), "000000    0 42");
  EXPECT_NE(lines[3].find("video PTS:"), std::string::npos);
  EXPECT_EQ(lines[4], "000001    0 21        -3600.000          1");
  EXPECT_EQ(lines[6], "000003    0 21        -7200.000          2");
  EXPECT_EQ(lines[8], "// Logger ended: 4 events");
}

// A stream that cannot drain (its partner is never fed) stops the job at
// its store limit instead of growing without end.
TEST(PSMuxFailure, StreamAtItsStoreLimitFailsTheFeed) {
  const ESData list[2] = {open_es("pm_m2.m2v", 0xE0), open_es("pm_a48.mp2", 0xC0)};
  std::unique_ptr<Muxer> m(muxer_create(6, 2, list, (temp_dir() + "/l.mpg").c_str(), 0, 0));
  ASSERT_TRUE(m);
  m->stream(0)->set_limit(100000);
  const Bytes v = read_file(fixture("pm_m2.m2v"));
  int accepted = 0, refused = 0;
  for (size_t at = 0; at + 65536 <= v.size() && !refused; at += 65536) {
    if (m->add_es_data(0xE0, v.data() + at, 65536, 0) == 65536)
      ++accepted;
    else
      ++refused;
  }
  EXPECT_EQ(refused, 1);
  EXPECT_LE(accepted, 4);
}

// A paused job waits through the injected sleep and then goes on; its
// output equals that of a job never paused. Stop -1 leaves no output.
TEST(MuxDrivers, PauseResumesAndStopDeletes) {
  const std::string dir = temp_dir();
  auto inputs = [] { return std::vector<ESData>{open_es("pm_m2.m2v", 0), open_es("pm_a48.mp2", 0)}; };
  std::vector<ESData> a = inputs();
  JobControl plain;
  ASSERT_GT(muxer_encode((dir + "/plain.mpg").c_str(), 6, 2, a.data(), &plain, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(plain.result(), 0);
  EXPECT_EQ(plain.progress(), 100.0);

  std::vector<ESData> b = inputs();
  JobControl st;
  int sleeps = 0;
  bool paused = false;
  st.set_progress_callback([&](double pct) {
    if (pct >= 30 && pct < 100 && !paused) {
      paused = true;
      st.pause();
    }
  });
  st.set_sleep([&](int ms) {
    EXPECT_EQ(ms, 1000);
    if (++sleeps == 3) st.resume();
  });
  ASSERT_GT(muxer_encode((dir + "/paused.mpg").c_str(), 6, 2, b.data(), &st, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(sleeps, 3);
  EXPECT_TRUE(read_file(dir + "/paused.mpg") == read_file(dir + "/plain.mpg"));

  std::vector<ESData> c = inputs();
  JobControl stop;
  stop.set_progress_callback([&stop](double pct) {
    if (pct >= 30 && pct < 100) stop.stop(false);
  });
  EXPECT_EQ(muxer_encode((dir + "/stopped.mpg").c_str(), 6, 2, c.data(), &stop, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(stop.result(), kMuxStopped);
  EXPECT_EQ(stop.outcome(), JobOutcome::stopped);
  EXPECT_FALSE(file_exists(dir + "/stopped.mpg"));
  EXPECT_FALSE(file_exists(dir + "/stopped.mpg.part"));
}

// Audio was read in 256 KiB pieces beside one second of video, so on a long
// file it piled up in the muxer ten times faster than it left, until its
// store limit failed the job. Each input is now read in step.
TEST(MuxDrivers, AudioReadInStepWithVideoRegression) {
  std::vector<ESData> l{open_es("pm_m2.m2v", 0), open_es("pm_a48long.mp2", 0)};
  JobControl st;
  MuxReport report;
  ASSERT_GT(muxer_encode((temp_dir() + "/s.mpg").c_str(), 6, 2, l.data(), &st, 0, 0, 0, 0, &report), 0.0);
  ASSERT_EQ(report.streams.size(), 2u);
  for (const MuxStreamReport& s : report.streams)
    if (s.stream_id == 0xC0) {
      EXPECT_LT(s.peak_held, 100 * 1024);  // 4 s of 192 kbit/s is 96000 bytes
    }
}

// DVD LPCM (big-endian 16-bit, 48 kHz stereo) beside MPEG-2 video: private
// stream 1 with sub-stream 0xA0, read back clean and byte for byte.
TEST(PSMuxLayout, LpcmMuxReadsBackUnchanged) {
  const std::string dir = temp_dir();
  Bytes pcm(48000 * 4 * 3);  // 3 s of a slow ramp
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    const int16_t v = int16_t((i / 4) % 2000 - 1000);
    pcm[i] = uint8_t(uint16_t(v) >> 8), pcm[i + 1] = uint8_t(v);
  }
  ASSERT_TRUE(write_file(dir + "/a.pcm", pcm));
  std::vector<ESData> l{open_es("pm_m2.m2v", 0xE0), ESData()};
  l[1].set_lpcm_header(0xA0, 48000, 2);
  l[1].set_name((dir + "/a.pcm").c_str());
  l[1].file_size = FileOffset::from_u64(pcm.size());
  JobControl st;
  const std::string out = dir + "/l.mpg";
  ASSERT_GT(muxer_encode(out.c_str(), 6, 2, l.data(), &st, 0, 0, 0, 0), 0.0);
  EXPECT_EQ(st.result(), 0);
  std::string err;
  run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
  EXPECT_EQ(err, "");
  std::string codec;
  run("ffprobe -v error -select_streams a -show_entries stream=codec_name,sample_rate,channels -of csv=p=0 " +
          sh_quote(out),
      &codec);
  EXPECT_EQ(codec, "pcm_dvd,48000,2\n");
  const psr::File f = psr::read(read_file(out));
  ASSERT_EQ(f.error, "");
  ASSERT_TRUE(f.streams.count(0xA0));
  EXPECT_TRUE(f.streams.at(0xA0).es == pcm);
  EXPECT_EQ(f.streams.at(0xA0).std_bytes, 58 * 1024);
}

// Sound alone started its first frame at SCR 0 with PTS 0, so that frame
// could never arrive in time (the muxer counted one buffer underflow).
TEST(PSMuxLayout, AudioAloneStartsLateEnoughRegression) {
  for (const char* kind : {"ps", "mpeg1"}) {
    std::vector<std::string> lines;
    const std::string in = fixture(std::string(kind) == "ps" ? "pm_a48.mp2" : "pm_a44.mp2");
    const std::string out = mux_to(std::string("ao_") + kind + ".mpg", std::string("--kind ") + kind, {in}, &lines);
    EXPECT_EQ(field(lines.back(), "result"), "0") << kind;
    const psr::File f = psr::read(read_file(out));
    ASSERT_EQ(f.error, "");
    const psr::Stream& s = f.streams.at(0xC0);
    EXPECT_TRUE(s.es == read_file(in));
    const psr::StdResult r = psr::replay_std(s, psr::audio_units(s, false));
    EXPECT_EQ(r.overflows + r.underflows, 0) << r.first_fault;
  }
}

}  // namespace
