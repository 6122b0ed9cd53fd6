// DVD navigation packs: tamsel-dev mux --kind dvd read back by a
// navigation-pack reader written here from the DVD layouts (PCI_GI at pack
// byte 45, DSI_GI at 1031, VOBU_SRI at DSI packet byte 241, SYNCI at 409),
// by ffmpeg, and by dvdauthor; the list's own rules on synthetic tables.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "foundation/es_data.h"
#include "mux/muxer.h"
#include "mux/nvpack.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }
uint32_t be16(const uint8_t* p) { return uint32_t(p[0]) << 8 | p[1]; }

// SCR base of an MPEG-2 pack header (low 32 bits).
uint32_t pack_scr(const uint8_t* p) {
  const uint64_t b = (uint64_t(p[4] >> 3) & 7) << 30 | uint64_t(p[4] & 3) << 28 | uint64_t(p[5]) << 20 |
                     uint64_t(p[6] >> 3) << 15 | uint64_t(p[6] & 3) << 13 | uint64_t(p[7]) << 5 | (p[8] >> 3);
  return uint32_t(b);
}

double pes_pts(const uint8_t* p) {
  return double((uint64_t(p[0] >> 1) & 7) << 30 | uint64_t(p[1]) << 22 | uint64_t(p[2] >> 1) << 15 |
                uint64_t(p[3]) << 7 | uint64_t(p[4] >> 1));
}

struct Pack {
  bool nav = false;
  std::set<int> streams;            // stream ids (0xBD sub-stream ids for private ones)
  std::vector<double> video_pts;    // stamps of video packets
  int64_t video_from = -1, video_to = -1;  // video ES byte range it carries
};

struct Dvd {
  std::vector<Pack> packs;
  Bytes video;  // the video ES reassembled
};

Dvd read_dvd(const Bytes& d) {
  Dvd out;
  for (size_t at = 0; at + 2048 <= d.size(); at += 2048) {
    const uint8_t* p = d.data() + at;
    Pack k;
    size_t q = 14 + (p[13] & 7);
    k.nav = p[38] == 0 && p[39] == 0 && p[40] == 1 && p[41] == 0xBF && p[44] == 0 && p[1027] == 0xBF && p[1030] == 1;
    while (q + 6 <= 2048 && p[q] == 0 && p[q + 1] == 0 && p[q + 2] == 1) {
      const int id = p[q + 3];
      const size_t len = be16(p + q + 4);
      if (id == 0xB9) break;
      if (id == 0xBB || id == 0xBE || id == 0xBF) {
        q += 6 + len;
        continue;
      }
      const size_t hl = p[q + 8];
      const size_t data = q + 9 + hl;
      const int sid = id == 0xBD ? p[data] : id;
      k.streams.insert(sid);
      if (id >= 0xE0 && id <= 0xEF) {
        if (p[q + 7] & 0x80) k.video_pts.push_back(pes_pts(p + q + 9));
        k.video_from = int64_t(out.video.size());
        out.video.insert(out.video.end(), p + data, p + q + 6 + len);
        k.video_to = int64_t(out.video.size());
      }
      q += 6 + len;
    }
    out.packs.push_back(k);
  }
  return out;
}

struct NavCase {
  const char* name;
  const char* video;
  const char* audio;
  int audio_id;  // stream id, or the private sub-stream id
  int rate_flag;  // frame-rate bits of the BCD times
  const char* format;
  const char* extra;  // more mux options
};

TEST(NavPacks, EveryPackHoldsTheTrueAddressesAndTimes) {
  const NavCase cases[] = {
      {"nav_pal_mp2", "pm_m2.m2v", "pm_a48.mp2", 0xC0, 1, "PAL", ""},
      {"nav_ntsc_ac3", "pm_ntsc.m2v", "pm_a.ac3", 0x80, 3, "NTSC", ""},
      // Variable rate: several pictures share a packet, only the first
      // stamped; the reference picture ends must still be found.
      {"nav_pal_vbr", "pm_m2.m2v", "pm_a48.mp2", 0xC0, 1, "PAL", "--vbr "},
  };
  for (const NavCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = temp_dir() + "/" + c.name + ".mpg";
    std::vector<std::string> lines;
    ASSERT_EQ(dev(std::string("mux --kind dvd --chapters 0,2 ") + c.extra + sh_quote(out) + " " + sh_quote(fixture(c.video)) + " " +
                      sh_quote(fixture(c.audio)),
                  &lines),
              0);
    EXPECT_EQ(field(lines.back(), "status"), "done");
    const Bytes d = read_file(out);
    ASSERT_EQ(d.size() % 2048, 0u);
    const Dvd dvd = read_dvd(d);
    std::vector<uint32_t> nav;
    for (size_t i = 0; i < dvd.packs.size(); ++i) {
      ASSERT_EQ(be32(d.data() + i * 2048), 0x000001BAu) << "pack " << i;
      if (dvd.packs[i].nav) nav.push_back(uint32_t(i));
    }
    ASSERT_FALSE(nav.empty());
    EXPECT_EQ(nav[0], 0u);
    // One NV pack per GOP of the input.
    const Bytes src = read_file(fixture(c.video));
    int gops = 0;
    for (size_t i = 0; i + 3 < src.size(); ++i)
      if (src[i] == 0 && src[i + 1] == 0 && src[i + 2] == 1 && src[i + 3] == 0xB8) ++gops;
    EXPECT_EQ(int(nav.size()), gops);
    int nav_lines = 0;
    for (const std::string& l : lines) nav_lines += l.rfind("nav lbn=", 0) == 0;
    EXPECT_EQ(nav_lines, gops);

    // Earliest PTS of each VOBU's pictures.
    std::vector<double> start(nav.size(), 1e18);
    for (size_t v = 0; v < nav.size(); ++v) {
      const uint32_t end = v + 1 < nav.size() ? nav[v + 1] : uint32_t(dvd.packs.size());
      for (uint32_t k = nav[v]; k < end; ++k)
        for (double t : dvd.packs[k].video_pts) start[v] = std::min(start[v], t);
    }
    const double first = start[0];
    int last_cell = 0;
    for (size_t v = 0; v < nav.size(); ++v) {
      SCOPED_TRACE("VOBU " + std::to_string(v));
      const uint32_t L = nav[v];
      const uint8_t* p = d.data() + size_t(L) * 2048;
      const uint8_t* pci = p + 45;
      const uint8_t* dsi = p + 1031;
      const uint32_t next = v + 1 < nav.size() ? nav[v + 1] : uint32_t(dvd.packs.size());
      EXPECT_EQ(be32(pci), L);
      EXPECT_EQ(be32(dsi + 4), L);
      EXPECT_EQ(be32(dsi), pack_scr(p));
      EXPECT_EQ(be32(dsi + 8), next - L - 1);
      EXPECT_EQ(be32(pci + 12), uint32_t(start[v]));
      const int cell = start[v] - first < 2 * 90000 - 1 ? 1 : 2;
      EXPECT_EQ(dsi[27], cell);
      const bool cell_ends = v + 1 == nav.size() || (start[v + 1] - first < 2 * 90000 - 1 ? 1 : 2) != cell;
      if (v + 1 < nav.size() && !cell_ends) EXPECT_EQ(be32(pci + 16), uint32_t(start[v + 1]));
      // Elapsed time in the cell, in BCD with the rate flag.
      EXPECT_EQ(be32(pci + 24), be32(dsi + 28));
      EXPECT_EQ(dsi[31] >> 6, c.rate_flag);
      if (cell != last_cell) EXPECT_EQ(be32(dsi + 28) & 0xFFFFFF3Fu, 0u) << "a cell starts at 0";
      last_cell = cell;
      // The I picture's last byte: just before the VOBU's second picture.
      const Pack& first_video = dvd.packs[L + 1 < dvd.packs.size() ? L + 1 : L];
      int64_t from = first_video.video_from;
      for (uint32_t k = L; k < next && from < 0; ++k) from = dvd.packs[k].video_from;
      int seen = 0;
      int64_t second = -1;
      for (int64_t b = from; b + 3 < int64_t(dvd.video.size()); ++b)
        if (dvd.video[b] == 0 && dvd.video[b + 1] == 0 && dvd.video[b + 2] == 1 && dvd.video[b + 3] == 0 && ++seen == 2) {
          second = b;
          break;
        }
      ASSERT_GT(second, 0);
      uint32_t holder = 0;
      for (uint32_t k = L; k < dvd.packs.size(); ++k)
        if (dvd.packs[k].video_from <= second - 1 && second - 1 < dvd.packs[k].video_to) holder = k;
      EXPECT_EQ(be32(dsi + 12), holder - L);
      // Search words: next and previous, cell and stream ends, and every
      // other word on an NV pack.
      const uint8_t* sri = p + 1024 + 241;
      const uint32_t fwd_next = be32(sri + 4 * 20), fwd_video = be32(sri);
      const uint32_t bwd_prev = be32(sri + 4 * 21), bwd_video = be32(sri + 4 * 41);
      if (cell_ends)
        EXPECT_EQ(fwd_next, 0x3FFFFFFFu);
      else
        EXPECT_EQ(fwd_next, 0x80000000u | (next - L));
      if (v + 1 == nav.size()) EXPECT_EQ(fwd_video, 0xBFFFFFFFu);
      if (v == 0) EXPECT_EQ(bwd_video, 0xBFFFFFFFu);
      if (v > 0 && last_cell == (start[v - 1] - first < 2 * 90000 - 1 ? 1 : 2))
        EXPECT_EQ(bwd_prev, 0x80000000u | (L - nav[v - 1]));
      for (int w = 0; w < 42; ++w) {
        const uint32_t word = be32(sri + 4 * w);
        if (word == 0x3FFFFFFF || word == 0xBFFFFFFF) continue;
        const uint32_t dist = word & 0x3FFFFFFF;
        const uint32_t target = w < 21 ? L + dist : L - dist;
        EXPECT_TRUE(std::binary_search(nav.begin(), nav.end(), target)) << "word " << w;
      }
      // The audio sync address lands on a pack of that stream.
      const uint32_t a = be16(p + 1024 + 409);
      if (a) {
        ASSERT_LT(L + a, dvd.packs.size());
        EXPECT_TRUE(dvd.packs[L + a].streams.count(c.audio_id)) << "audio at +" << a;
      }
    }

    std::string err;
    run("ffmpeg -nostdin -v error -i " + sh_quote(out) + " -map 0 -f null - 2>&1", &err);
    EXPECT_EQ(err, "");
    // dvdauthor takes the stream and finds every VOBU.
    const std::string dir = temp_dir() + "/" + c.name + "_dvd";
    run("rm -rf " + sh_quote(dir));
    std::string log;
    run(std::string("VIDEO_FORMAT=") + c.format + " dvdauthor -o " + sh_quote(dir) + " -t " + sh_quote(out) + " 2>&1",
        &log);
    EXPECT_EQ(log.find("ERR:"), std::string::npos) << log;
    EXPECT_EQ(log.find("Skipping sector"), std::string::npos) << log;
    EXPECT_NE(log.find("fixed " + std::to_string(nav.size()) + " VOBUs"), std::string::npos) << log;
    const std::string vob = dir + "/VIDEO_TS/VTS_01_1.VOB";
    run("ffmpeg -nostdin -v error -i " + sh_quote(vob) + " -map 0 -f null - 2>&1", &err);
    EXPECT_EQ(err, "");
    std::string frames, want;
    run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
            sh_quote(vob),
        &frames);
    run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
            sh_quote(fixture(c.video)),
        &want);
    EXPECT_EQ(frames, want);
  }
}

NVPackList synthetic(int n, uint32_t step_ticks) {
  NVPackList l;
  for (int i = 0; i < n; ++i) {
    NVPackEntry e;
    e.lbn = uint32_t(i) * 10;
    e.next_lbn = e.lbn + 10;
    e.s_ptm = 3600 + uint32_t(i) * step_ticks;
    e.e_ptm = e.s_ptm + step_ticks;
    l.add(e);
  }
  return l;
}

TEST(NavPacks, ChapterTablesMustFitTheCells) {
  std::vector<double> ch;
  for (int k = 0; k < 128; ++k) ch.push_back(k * 0.5);
  NVPackList a = synthetic(130, 45000);
  EXPECT_EQ(a.prepare(ch.data(), 127), 1);
  EXPECT_EQ(a.entry(129).cell, 127);
  NVPackList b = synthetic(130, 45000);
  EXPECT_EQ(b.prepare(ch.data(), 128), 0);
  // Two chapters between the same two VOBUs leave a chapter without a cell.
  const double tight[3] = {0, 1.2, 1.5};
  NVPackList c = synthetic(10, 90000);
  EXPECT_EQ(c.prepare(tight, 3), 0);
  // Past the end.
  const double late[2] = {0, 100};
  EXPECT_EQ(c.prepare(late, 2), 0);
  NVPackList empty;
  EXPECT_EQ(empty.prepare(ch.data(), 1), 0);
  NVPackList far = synthetic(3, 45000);
  far.entry(2).lbn = kNavMaxLbn;
  EXPECT_EQ(far.prepare(ch.data(), 1), 0);
}

TEST(NavPacks, SearchWordsAtTheEnds) {
  NVPackList l = synthetic(30, 45000);
  const double ch[2] = {0, 5.0};
  ASSERT_EQ(l.prepare(ch, 2), 1);
  EXPECT_EQ(l.entry(29).fwd[20], 0xBFFFFFFFu);
  EXPECT_EQ(l.entry(0).bwd[20], 0xBFFFFFFFu);
  EXPECT_EQ(l.entry(0).fwd[0], 0x80000000u | 10);
  EXPECT_EQ(l.entry(0).fwd[16], 0x3FFFFFFFu);  // 20 VOBUs on lies in the next cell
  const int last_of_first = 9;                          // 10 x 0.5 s
  EXPECT_EQ(l.entry(last_of_first).fwd[0], 0x3FFFFFFFu);
  EXPECT_EQ(l.entry(last_of_first + 1).bwd[0], 0x3FFFFFFFu);
  EXPECT_EQ(l.entry(last_of_first + 1).c_eltm, 0u);
  EXPECT_EQ(l.SetSRIParam(30), 0);
  NVPackList one = synthetic(30, 45000);
  ASSERT_EQ(one.prepare(ch, 1), 1);
  EXPECT_EQ(one.entry(0).fwd[16], 0xC0000000u | 200);
  EXPECT_EQ(one.entry(29).bwd[16], 0xC0000000u | 200);
  EXPECT_EQ(one.entry(29).fwd[0], 0x3FFFFFFFu);
}

// VOBUs longer than a search unit (1 s) still leave every search word on an
// NV pack of the same cell.
TEST(NavPacks, LongVobusKeepSearchWordsOnPacks) {
  NVPackList l = synthetic(40, 3 * 90000);
  const double ch[2] = {0, 60.0};
  ASSERT_EQ(l.prepare(ch, 2), 1);
  for (int i = 0; i < l.size(); ++i) {
    const NVPackEntry& e = l.entry(i);
    for (int j = 0; j < 21; ++j)
      for (int dir : {1, -1}) {
        const uint32_t w = dir > 0 ? e.fwd[j] : e.bwd[j];
        if ((w & 0x3FFFFFFFu) == 0x3FFFFFFFu) continue;
        const uint32_t distance = w & 0x3FFFFFFFu;
        ASSERT_EQ(distance % 10, 0u) << "entry " << i << " word " << j;
        const int target = i + dir * int(distance / 10);
        ASSERT_TRUE(target >= 0 && target < l.size());
        ASSERT_EQ(l.entry(target).cell, e.cell);
      }
  }
  EXPECT_EQ(l.entry(0).fwd[0], 0x80000000u | 10);
  EXPECT_EQ(l.entry(5).bwd[0], 0x80000000u | 10);
}

// The chapter table reaches the navigation packs through the muxer's
// navigation entry; other outputs have none to take it.
TEST(NavPacks, ChaptersThroughTheMuxer) {
  ESData video;
  int err = 0;
  video.open(fixture("pm_m2.m2v").c_str(), &err);
  ASSERT_EQ(err, 0);
  video.stream_id = 0xE0;
  std::vector<double> ch;
  for (int k = 0; k < 128; ++k) ch.push_back(k);
  const std::string dvd = temp_dir() + "/nav_op20.vob";
  std::unique_ptr<Muxer> m(muxer_create(6, 1, &video, dvd.c_str(), 0, 1));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->nav_entry(ch.data(), 128), 0);
  EXPECT_EQ(m->nav_entry(ch.data(), 0), 0);
  EXPECT_EQ(m->nav_entry(ch.data(), 127), 1);
  const std::string plain = temp_dir() + "/nav_op20.mpg";
  std::unique_ptr<Muxer> p(muxer_create(6, 1, &video, plain.c_str(), 0, 0));
  ASSERT_TRUE(p);
  EXPECT_EQ(p->nav_entry(ch.data(), 2), 0);
}

TEST(NavPacks, BcdTimes) {
  EXPECT_EQ(NVPackList::bcd_time(uint32_t(3723.5 * 90000), 25.0), 0x01020353u);
  EXPECT_EQ(NVPackList::bcd_time(0, 29.97), 0x000000C0u);
  EXPECT_EQ(NVPackList::bcd_time(89999, 25.0), 0x00000140u);  // 24.99 frames round up into the next second
}

// A patch that cannot write (read-only output, short file) fails instead of
// leaving placeholder packs reported as done.
TEST(NavPacks, FailedPatchIsReported) {
  const std::string path = temp_dir() + "/nav_patch.bin";
  Bytes pack(2048 * 3, 0);
  const uint8_t ph[14] = {0, 0, 1, 0xBA, 0x44, 0, 4, 0, 4, 1, 1, 0x89, 0xC3, 0xF8};
  uint8_t sh[24] = {0, 0, 1, 0xBB, 0, 18};
  ASSERT_EQ(NVPackList::placeholder(pack.data(), ph, 14, sh, 24), 2048);
  ASSERT_TRUE(write_file(path, pack));
  NVPackList l = synthetic(1, 45000);
  const double ch[1] = {0};
  ASSERT_EQ(l.prepare(ch, 1), 1);
  int fd = open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(l.patch(fd), -1);
  close(fd);
  fd = open(path.c_str(), O_RDWR);
  EXPECT_EQ(l.patch(fd), 0);
  EXPECT_EQ(ftruncate(fd, 100), 0);
  EXPECT_EQ(l.patch(fd), -1);
  close(fd);
}

}  // namespace

namespace {

// Chapter tables the cells cannot hold fail the job and leave no output.
TEST(NavPacks, JobRefusesChaptersThatDoNotFit) {
  std::string many;
  for (int k = 0; k < 128; ++k) many += (k ? "," : "") + std::to_string(k * 0.01);
  for (const std::string& chapters : {many, std::string("0,100")}) {
    const std::string out = temp_dir() + "/nav_refused.mpg";
    std::vector<std::string> lines;
    EXPECT_NE(dev("mux --kind dvd --chapters " + chapters + " " + sh_quote(out) + " " + sh_quote(fixture("pm_m2.m2v")) +
                      " " + sh_quote(fixture("pm_a48.mp2")),
                  &lines),
              0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field(lines.back(), "status"), "failed");
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    EXPECT_NE(access((out + ".part").c_str(), F_OK), 0);
  }
}

}  // namespace
