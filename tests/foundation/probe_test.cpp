#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/mpeg_fields.h"
#include "foundation/probe.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "support/support.h"

namespace {

using tsupport::field;
using tsupport::field_int;
using tsupport::fixture;
using tsupport::sh_quote;

struct Expect {
  const char* file;
  int type;
  int vbr;
  int cd;
  const char* ffprobe_format;  // what ffprobe calls it, as a cross-check
};

const Expect kFixtures[] = {
    {"st_m1.m1v", 2, 0, 0, "mpegvideo"},
    {"st_m2.m2v", 3, 0, 0, "mpegvideo"},
    {"st_m2vbr.m2v", 3, 1, 0, "mpegvideo"},
    {"st_a48.mp2", 1, 0, 0, "mp3"},
    {"st_a.mp3", 1, 0, 0, "mp3"},
    {"st_a.ac3", 9, 0, 0, "ac3"},
    {"st_sys.mpg", 4, 0, 0, "mpeg"},
    {"st_vcd.mpg", 4, 0, 1, "mpeg"},      // 2324-byte packs: Video CD sector layout
    {"st_vcd_raw.bin", 4, 0, 1, "mpeg"},  // raw 2352-byte sectors
    {"st_svcd.mpg", 6, 1, 0, "mpeg"},     // MPEG-2 in CD sectors: flag 2, not a Video CD
    {"st_dvd.vob", 6, 1, 0, "mpeg"},
    {"st_vob.vob", 6, 0, 0, "mpeg"},      // 2048-byte packs
    {"st_ts.ts", 8, 0, 0, "mpegts"},
    {"st_ts2p.ts", 8, 0, 0, "mpegts"},
    {"st_tsm1.ts", 8, 0, 0, "mpegts"},
    {"st_tsac3.ts", 8, 0, 0, "mpegts"},
    {"st_tsac3b.ts", 8, 0, 0, "mpegts"},
    {"st_random.bin", 0, 0, 0, ""},
};

std::string probe_line(const std::string& path) {
  std::vector<std::string> lines;
  EXPECT_EQ(tsupport::dev("probe " + sh_quote(path), &lines), 0);
  return lines.size() == 1 ? lines[0] : std::string();
}

std::string ffprobe_format(const std::string& path, const char* entry) {
  std::string out;
  tsupport::run(std::string("ffprobe -v error -show_entries format=") + entry + " -of csv=p=0 " + sh_quote(path) + " 2>/dev/null", &out);
  auto lines = tsupport::split_lines(out);
  return lines.empty() ? std::string() : lines[0];
}

TEST(Probe, NamesEveryFixture) {
  for (const auto& e : kFixtures) {
    SCOPED_TRACE(e.file);
    const std::string path = fixture(e.file);
    const std::string line = probe_line(path);
    EXPECT_EQ(field_int(line, "type"), e.type);
    EXPECT_EQ(field_int(line, "vbr"), e.vbr);
    EXPECT_EQ(field_int(line, "cd_sectors"), e.cd);
    // name= is last and may hold spaces.
    const auto at = line.find(" name=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(line.substr(at + 6), get_stream_type_name(e.type));
    EXPECT_EQ(ffprobe_format(path, "format_name"), e.ffprobe_format);
  }
}

// The raw CD sector flag: 1 for MPEG-1 packs a CD sector apart, 2 for
// MPEG-2 ones (which is not a Video CD), 0 for 2048-byte packs.
TEST(Probe, CdSectorFlag) {
  const struct {
    const char* file;
    int flag;
  } cases[] = {{"st_vcd.mpg", 1}, {"st_vcd_raw.bin", 1}, {"st_svcd.mpg", 2}, {"st_vob.vob", 0}, {"st_sys.mpg", 0}};
  for (const auto& c : cases) {
    auto rec = MPEGFileList::instance().find(fixture(c.file).c_str());
    ASSERT_TRUE(rec) << c.file;
    EXPECT_EQ(rec->cd_sectors, c.flag) << c.file;
  }
}

TEST(Probe, BitRatesAgreeWithOracles) {
  // Constant-rate files: ffprobe's format bit rate within 1 %.
  for (const char* name : {"st_m1.m1v", "st_m2.m2v", "st_a48.mp2", "st_a.mp3", "st_a.ac3"}) {
    SCOPED_TRACE(name);
    const std::string path = fixture(name);
    const double expected = std::stod(ffprobe_format(path, "bit_rate"));
    EXPECT_NEAR(field_int(probe_line(path), "bit_rate"), expected, expected * 0.01);
  }
  // Transport stream muxed at 8 Mbit/s: the PCRs give it within 0.1 %.
  EXPECT_NEAR(field_int(probe_line(fixture("st_ts.ts")), "bit_rate"), 8000000, 8000);
  // Program streams report their pack rate: the -muxrate given to ffmpeg,
  // and 75 sectors of 2352 bytes a second for the Video CD.
  EXPECT_EQ(field_int(probe_line(fixture("st_sys.mpg")), "bit_rate"), 1600000);
  EXPECT_EQ(field_int(probe_line(fixture("st_vob.vob")), "bit_rate"), 10080000);
  EXPECT_EQ(field_int(probe_line(fixture("st_vcd.mpg")), "bit_rate"), 75 * 2352 * 8);
  EXPECT_EQ(field_int(probe_line(fixture("st_vcd_raw.bin")), "bit_rate"), 75 * 2352 * 8);
  // Every transport stream gets a positive rate.
  for (const char* name : {"st_ts2p.ts", "st_tsm1.ts", "st_tsac3.ts", "st_tsac3b.ts"})
    EXPECT_GT(field_int(probe_line(fixture(name)), "bit_rate"), 100000) << name;
}

TEST(Probe, FailuresAreReported) {
  std::vector<std::string> lines;
  EXPECT_NE(tsupport::dev("probe /nonexistent/file.mpg", &lines), 0);
  const std::string dir = tsupport::temp_dir();
  tsupport::write_file(dir + "/empty.mpg", {});
  EXPECT_EQ(probe_line(dir + "/empty.mpg"), "type=0 bit_rate=0 vbr=0 cd_sectors=0 name=Unknown");
  EXPECT_EQ(mpegfile_get_stream_type((dir + "/missing.mpg").c_str()), 0);
  int rate = -1;
  EXPECT_EQ(mpegfile_get_stream_type_and_bit_rate((dir + "/empty.mpg").c_str(), &rate), 0);
  EXPECT_EQ(rate, -1);  // no bit rate for a file that cannot be probed
}

// Truncations and garbage: a type or a refusal, never a fault (exact-size
// buffers so the sanitizer sees any overread).
TEST(Probe, TruncatedAndGarbageData) {
  for (const auto& e : kFixtures) {
    auto data = tsupport::read_file(fixture(e.file));
    for (size_t len : {size_t(0), size_t(3), size_t(64), size_t(189), size_t(1000), size_t(2400), size_t(40000)}) {
      if (len > data.size()) continue;
      std::vector<uint8_t> cut(data.begin(), data.begin() + long(len));
      MPEGFile f;
      const int failed = f.detect_type(cut.data(), int(cut.size()));
      if (failed) {
        EXPECT_TRUE(f.stream_type == 0 || f.stream_type == 8);
      } else {
        EXPECT_GT(f.stream_type, 0);
        EXPECT_GT(f.bit_rate, 0) << e.file << " cut at " << len;
      }
      mpegfile_detect_vbr(cut.data(), int(cut.size()));
    }
  }
  std::vector<uint8_t> zeros(100000, 0), prefixes(100000, 0);
  for (size_t i = 0; i + 4 < prefixes.size(); i += 7) prefixes[i + 2] = 1, prefixes[i + 3] = uint8_t(0xB3 + i % 80);
  for (auto* v : {&zeros, &prefixes}) {
    MPEGFile f;
    EXPECT_EQ(f.detect_type(v->data(), int(v->size())), 1);
  }
}

TEST(Probe, AudioStartingWithPackCodeIsNotAudio) {
  auto mp2 = tsupport::read_file(fixture("st_a48.mp2"));
  std::vector<uint8_t> data = {0, 0, 1, 0xBA};
  data.insert(data.end(), mp2.begin(), mp2.end());
  MPEGFile f;
  EXPECT_EQ(f.is_audio_es(data.data(), int(data.size())), 0);
  EXPECT_EQ(f.is_audio_es(data.data() + 4, int(data.size()) - 4), 1);
  EXPECT_EQ(f.stream_type, 1);
}

TEST(Probe, ShortTransportStreamNeedsFewerPackets) {
  auto ts = tsupport::read_file(fixture("st_ts.ts"));
  // 150 packets: (n - 188) / 188 = 149 syncs in a row are enough.
  std::vector<uint8_t> cut(ts.begin(), ts.begin() + 150 * 188);
  MPEGFile f;
  EXPECT_EQ(f.is_transport(cut.data(), int(cut.size())), 1);
  EXPECT_EQ(f.stream_type, 8);
  // A broken sync byte inside them refuses the data.
  cut[70 * 188] = 0x48;
  MPEGFile g;
  EXPECT_EQ(g.is_transport(cut.data(), int(cut.size())), 0);
}

// A transport packet on pid carrying only a PCR (adaptation field 183).
std::vector<uint8_t> pcr_packet(int pid, double pcr) {
  std::vector<uint8_t> p(188, 0xFF);
  p[0] = 0x47;
  p[1] = uint8_t(pid >> 8);
  p[2] = uint8_t(pid);
  p[3] = 0x20;
  p[4] = 183;
  p[5] = 0x10;
  encode_pcr(pcr, p.data() + 6);
  return p;
}

// Repeated, backward and foreign-PID PCRs used to give a division by zero
// or a negative rate; they are now skipped until a sound pair of one PID.
TEST(Probe, TransportRateSkipsBadPcrPairs) {
  const double step = 188.0 * 8 * 90000 / 2000000;  // ticks per packet at 2 Mbit/s
  std::vector<uint8_t> ts;
  for (int i = 0; i < 300; ++i) {
    std::vector<uint8_t> p;
    if (i == 0) p = pcr_packet(0x100, 100000);
    else if (i == 5) p = pcr_packet(0x200, 7);            // another program's clock
    else if (i == 10) p = pcr_packet(0x100, 100000);      // repeated: difference 0
    else if (i == 20) p = pcr_packet(0x100, 50);          // went backwards
    else if (i == 25) p = pcr_packet(0x100, 50 + 90000);  // jumped a whole second
    else if (i == 45) p = pcr_packet(0x100, 50 + 90000 + 20 * step);
    else {
      p.assign(188, 0);
      p[0] = 0x47, p[1] = 0x01, p[2] = 0x00, p[3] = 0x10;
    }
    ts.insert(ts.end(), p.begin(), p.end());
  }
  EXPECT_NEAR(mpegfile_probe_ts_bit_rate(ts.data(), int(ts.size())), 2000000, 1);
  // Only bad pairs: no PCR rate, and the payload holds nothing known.
  std::vector<uint8_t> bad(ts.begin(), ts.begin() + 25 * 188);
  EXPECT_EQ(mpegfile_probe_ts_bit_rate(bad.data(), int(bad.size())), 0);
}

TEST(Probe, EstimateReplacesImplausibleRates) {
  const std::string m2v = fixture("st_m2.m2v");
  // Kept within the plausible range, without reading the file.
  EXPECT_EQ(mpegfile_estimate_bit_rate(6, 6000000, "/nonexistent"), 6000000);
  EXPECT_EQ(mpegfile_estimate_bit_rate(4, 1411200, "/nonexistent"), 1411200);
  EXPECT_EQ(mpegfile_estimate_bit_rate(1, 5, "/nonexistent"), 5);
  // 900,000 is implausible for MPEG-2: measured from the pictures instead.
  const int r = mpegfile_estimate_bit_rate(6, 900000, m2v.c_str());
  EXPECT_NEAR(r, 6000000, 6000000 * 0.2);
  EXPECT_EQ(mpegfile_estimate_bit_rate(6, 900000, "/nonexistent"), 900000);
}

// The estimate walked over the whole sample in one buffer: every sequence
// header that decodes sets rate and frame rate, every picture start code
// counts.
int estimate_over_whole_sample(int bit_rate, const std::string& name, int bytes) {
  auto data = mpegfile::load_data(name.c_str(), &bytes);
  if (!data) return bit_rate;
  double frame_rate = 30000.0 / 1001.0;
  int pictures = 0, last_picture = 0, rate = bit_rate;
  StartCodeCursor c(data.get(), bytes);
  while (c.next()) {
    const int at = int(c.offset());
    if (c.code() == 0xB3) {
      SeqHdr h;
      if (h.decode(data.get() + at, bytes - at) > 0 && !h.invalid) {
        rate = h.get_bit_rate();
        frame_rate = h.get_frame_rate();
      }
    } else if (c.code() == 0x00) {
      ++pictures;
      last_picture = at;
    }
  }
  if (pictures >= 10) return int(std::min(double(last_picture) * 8.0 / pictures * frame_rate, double(INT_MAX)));
  return rate;
}

// An MPEG-1 sequence header: 352x288, frame rate code frc, rate in 400 bit/s.
std::vector<uint8_t> seq_header(int frc, int rate400) {
  return {0x00, 0x00, 0x01, 0xB3, 0x16, 0x01, 0x20, uint8_t(0x10 | frc), uint8_t(rate400 >> 10),
          uint8_t(rate400 >> 2), uint8_t(((rate400 & 3) << 6) | 0x20 | 0x01), 0x00};
}

// The estimate reads its 10 MiB sample in pieces: start codes straddling
// the pieces, a sequence header whose user data outruns the window it is
// first decoded from, and a last header cut off by the sample's end give
// what a walk over the whole sample gives.
TEST(Probe, EstimateInPiecesAgreesWithTheWholeSample) {
  std::mt19937 rng(5);
  auto put = [](std::vector<uint8_t>& d, size_t at, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(), d.begin() + std::ptrdiff_t(at));
  };
  const std::vector<uint8_t> picture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x08};
  for (int pictures_every : {30011, 4000000}) {  // many pictures, then fewer than 10
    SCOPED_TRACE(pictures_every);
    std::vector<uint8_t> d(0xB00000);
    for (auto& b : d) b = uint8_t(1 + rng() % 255);  // no stray start codes
    for (size_t at = 500; at + 8 < d.size(); at += size_t(pictures_every)) put(d, at, picture);
    // Runs of codes 5 bytes apart around every 256 KiB: wherever a piece
    // ends there, some code straddles it.
    if (pictures_every < 1000000)
      for (size_t piece = 0x40000; piece < 0xA00000; piece += 0x40000)
        for (size_t at = piece - 300; at < piece + 20; at += 5) put(d, at, {0x00, 0x00, 0x01, 0x00});
    put(d, 100, seq_header(3, 15000));
    put(d, 0x40000 - 7, seq_header(4, 16000));
    // User data of 100 KiB behind this header: its unit runs past 64 KiB.
    put(d, 0x500000, seq_header(5, 17000));
    put(d, 0x500000 + 12, {0x00, 0x00, 0x01, 0xB2});
    put(d, 0xA00000 - 6, seq_header(2, 18000));  // cut off by the end of the sample
    for (int user_tail : {0, 1}) {
      if (user_tail) put(d, 0x500000 + 16 + 100 * 1024, {0x00, 0x00, 0x01, 0xB8});
      const std::string name = tsupport::temp_dir() + "/est" + std::to_string(pictures_every) +
                               std::to_string(user_tail) + ".mpg";
      ASSERT_TRUE(tsupport::write_file(name, d));
      const int want = estimate_over_whole_sample(900000, name, 0xA00000);
      EXPECT_EQ(mpegfile_estimate_bit_rate(6, 900000, name.c_str()), want);
      if (pictures_every > 1000000) EXPECT_EQ(want, 17000 * 400);
    }
  }
}

TEST(Probe, RecorderFileMustNotBeElementaryVideo) {
  const std::string dir = tsupport::temp_dir();
  const std::string es = dir + "/clip.DvR-Ms", ts = dir + "/clip2.dvr-ms";
  tsupport::write_file(es, tsupport::read_file(fixture("st_m2.m2v")));
  tsupport::write_file(ts, tsupport::read_file(fixture("st_ts.ts")));
  EXPECT_EQ(mpegfile_get_stream_type(es.c_str()), 0);
  EXPECT_EQ(mpegfile_get_stream_type(ts.c_str()), 8);
}

void set_mtime(const std::string& path, time_t sec) {
  struct timespec t[2] = {{sec, 0}, {sec, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

// Same size, new content and modification time: probed again (the size
// alone used to decide, so the old type stayed).
TEST(Probe, ChangedFileIsProbedAgain) {
  const std::string dir = tsupport::temp_dir();
  const std::string path = dir + "/clip.mpg";
  auto audio = tsupport::read_file(fixture("st_a48.mp2"));
  auto video = tsupport::read_file(fixture("st_m2.m2v"));
  video.resize(audio.size());
  tsupport::write_file(path, video);
  set_mtime(path, 1000000000);
  EXPECT_EQ(mpegfile_get_stream_type(path.c_str()), 3);
  const int listed = MPEGFileList::instance().count();
  // Unchanged: the list answers (no new record).
  EXPECT_EQ(mpegfile_get_stream_type(path.c_str()), 3);
  EXPECT_EQ(MPEGFileList::instance().count(), listed);

  tsupport::write_file(path, audio);
  set_mtime(path, 1000000005);
  EXPECT_EQ(mpegfile_get_stream_type(path.c_str()), 1);
  EXPECT_EQ(MPEGFileList::instance().count(), listed);  // replaced, not added

  // A size change alone is noticed too.
  auto longer = audio;
  longer.insert(longer.end(), audio.begin(), audio.end());
  tsupport::write_file(path, longer);
  set_mtime(path, 1000000005);
  int rate = 0;
  EXPECT_EQ(mpegfile_get_stream_type_and_bit_rate(path.c_str(), &rate), 1);
  EXPECT_EQ(rate, 192000);

  // A relative name finds the same record.
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  auto rec = MPEGFileList::instance().find("clip.mpg");
  ASSERT_EQ(chdir(cwd), 0);
  ASSERT_TRUE(rec);
  EXPECT_EQ(rec->name, path);
  EXPECT_EQ(MPEGFileList::instance().count(), listed);
  EXPECT_EQ(rec->size.value(), longer.size());
  EXPECT_EQ(rec->time, 1000000005);
}

TEST(Probe, ConcurrentQueriesAgree) {
  std::vector<std::thread> threads;
  std::vector<int> wrong(8, 0);
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int round = 0; round < 3; ++round)
        for (const auto& e : kFixtures) {
          const std::string path = tsupport::fixtures_dir() + "/" + e.file;
          if (mpegfile_get_stream_type(path.c_str()) != e.type) ++wrong[size_t(t)];
          if (mpegfile_is_vbr(path.c_str()) != e.vbr) ++wrong[size_t(t)];
          if (mpegfile_is_vcd_sectors(path.c_str()) != e.cd) ++wrong[size_t(t)];
        }
    });
  }
  for (auto& th : threads) th.join();
  for (int w : wrong) EXPECT_EQ(w, 0);
  // One record per probed file, however many threads raced for it.
  int probed = 0;
  for (const auto& e : kFixtures) probed += e.type != 0;
  int listed = 0;
  for (const auto& e : kFixtures) {
    const std::string path = tsupport::fixtures_dir() + "/" + e.file;
    if (MPEGFileList::instance().find(path.c_str())) ++listed;
  }
  EXPECT_EQ(listed, probed);
}

}  // namespace
