// cut, patch and vbv on program streams: cuts keep the source's sectors and
// decode to the source's pictures, patches reach every header also where
// packets split it.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/support.h"
#include "cut_oracles.h"

namespace {

using namespace tsupport;
using namespace cut_oracles;
using Bytes = std::vector<uint8_t>;

std::string q(const std::string& s) { return sh_quote(s); }

struct Gop {
  int first_field, fields;
  std::string types;
};

std::vector<Gop> gops_of(const std::string& file) {
  std::vector<std::string> lines;
  EXPECT_EQ(dev("gops " + q(file), &lines), 0) << file;
  std::vector<Gop> out;
  for (const auto& l : lines)
    if (l.rfind("gop ", 0) == 0)
      out.push_back({int(field_int(l, "first_field")), int(field_int(l, "fields")), field(l, "types")});
  return out;
}


// The video elementary stream of a program stream, as ffmpeg copies it.
Bytes video_of(const std::string& file) {
  const std::string out = temp_dir() + "/v.m2v";
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -i " + q(file) + " -map 0:v -c copy -f mpeg2video " + q(out)), 0);
  return read_file(out);
}

std::string first_time_code(const Bytes& b) {
  for (size_t i = 0; i + 8 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB8) {
      const uint8_t* h = &b[i + 4];
      return std::to_string((((h[0] >> 2) & 31) * 60 + (((h[0] & 3) << 4) | (h[1] >> 4))) * 60 +
                            (((h[1] & 7) << 3) | (h[2] >> 5))) +
             ":" + std::to_string(((h[2] & 31) << 1) | (h[3] >> 7));
    }
  return "";
}

// Seconds:frames of a time code moved on by n frames at 25 frames a second.
std::string tc_plus(const std::string& tc, int n) {
  int s = 0, f = 0;
  std::sscanf(tc.c_str(), "%d:%d", &s, &f);
  f += n;
  return std::to_string(s + f / 25) + ":" + std::to_string(f % 25);
}

struct CutCase {
  const char* file;
  int pack;
  bool dvd;  // with navigation packs: the authoring tool takes the cut
};

TEST(ProgramStreamCut, WholePacksOfTheSourceAndItsPictures) {
  const std::vector<CutCase> files = {
      {"pst_dvd.mpg", 2048, true},  {"pst_author.vob", 2048, true}, {"pst_svcd.mpg", 2324, false},
      {"pst_vcd.mpg", 2324, false}, {"pst_cg.vob", 2048, false},    {"ps_vob.vob", 2048, false},
  };
  for (const auto& c : files) {
    const std::string src = fixture(c.file);
    const auto gops = gops_of(src);
    ASSERT_GT(gops.size(), 4u) << c.file;
    const auto src_md5 = frame_md5s(src);
    const Bytes src_video = video_of(src);
    const int n = int(gops.size());
    for (const auto& [first, last] : std::vector<std::pair<int, int>>{{1, 2}, {1, 3}, {n - 2, -1}}) {
      SCOPED_TRACE(std::string(c.file) + " " + std::to_string(first) + ".." + std::to_string(last));
      const std::string out = temp_dir() + "/cut.mpg";
      std::vector<std::string> lines;
      ASSERT_EQ(dev("cut " + q(src) + " " + std::to_string(first) + " " + std::to_string(last) + " " + q(out), &lines),
                0);
      const Bytes got = read_file(out);
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got.size() % size_t(c.pack), 0u) << got.size();
      for (size_t at = 0; at + 4 <= got.size(); at += size_t(c.pack))
        ASSERT_TRUE(got[at] == 0 && got[at + 1] == 0 && got[at + 2] == 1 && got[at + 3] == 0xBA) << "pack at " << at;
      EXPECT_EQ(oracle_errors(out), "");

      const int upto = last < 0 ? n - 1 : last;
      const int blanked = c.file == std::string("pst_cg.vob") ? 0 : leading_b(gops[size_t(first)].types);
      size_t count = 0;
      for (int k = first; k <= upto; ++k) count += size_t(gops[size_t(k)].fields / 2);
      count -= size_t(blanked);
      const size_t from = size_t(gops[size_t(first)].first_field / 2 + blanked);
      const auto out_md5 = frame_md5s(out);
      ASSERT_EQ(out_md5.size(), count);
      ASSERT_LE(from + count, src_md5.size());
      EXPECT_TRUE(std::equal(out_md5.begin(), out_md5.end(), src_md5.begin() + long(from)));

      // The first time code moves on by the blanked frames.
      const Bytes v = video_of(out);
      size_t seen = 0, at = 0;
      for (size_t i = 0; i + 4 <= src_video.size(); ++i)
        if (src_video[i] == 0 && src_video[i + 1] == 0 && src_video[i + 2] == 1 && src_video[i + 3] == 0xB8 &&
            seen++ == size_t(first)) {
          at = i;
          break;
        }
      EXPECT_EQ(first_time_code(v), tc_plus(first_time_code(Bytes(src_video.begin() + long(at), src_video.end())),
                                            blanked));
      // Also a cut ending mid-file: the next video unit's navigation pack
      // must not trail it, or the authoring tool refuses the cut.
      if (c.dvd) {
        const std::string d = temp_dir() + "/dvd";
        EXPECT_EQ(run("rm -rf " + q(d) + " && VIDEO_FORMAT=PAL dvdauthor -o " + q(d) + " -t " + q(out) +
                      " >/dev/null 2>&1"),
                  0);
      }
    }
  }
}

TEST(ProgramStreamCut, ClosedGopStartBlanksThePreviousGopsTail) {
  // The GOP's first header starts inside a packet whose payload begins
  // with the end of the previous GOP: those bytes become zero.
  const std::string src = fixture("pst_cg.vob");
  const std::string out = temp_dir() + "/cg.mpg";
  ASSERT_EQ(dev("cut " + q(src) + " 2 3 " + q(out), nullptr), 0);
  const Bytes v = video_of(out);
  size_t i = 0;
  while (i < v.size() && v[i] == 0) ++i;
  ASSERT_GE(i, 2u);
  ASSERT_LT(i + 1, v.size());
  EXPECT_EQ(v[i], 1);
  EXPECT_EQ(v[i + 1], 0xB3);
}

TEST(ProgramStreamCut, DamagedStreamsGiveCleanCutsOrRefusals) {
  const Bytes all = read_file(fixture("pst_dvd.mpg"));
  std::mt19937 rng(5);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    Bytes b = all;
    if (round < 2) b.resize(b.size() / (round + 2) + 17);
    else
      for (int i = 0; i < 300; ++i) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));
    const std::string in = temp_dir() + "/bad.mpg";
    write_file(in, b);
    const int rc = dev("cut " + q(in) + " 1 -1 " + q(temp_dir() + "/o.mpg"), nullptr);
    EXPECT_TRUE(rc == 0 || rc == 1) << rc;
  }
  EXPECT_EQ(dev("cut " + q(fixture("pst_dvd.mpg")) + " 1 2 /dev/full", nullptr), 1);
}

// ---- patch and vbv ---------------------------------------------------------------

struct Fields {
  std::vector<int> sizes, delays;
};

Fields fields_of(const Bytes& b) {
  Fields f;
  for (size_t i = 0; i + 12 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const uint8_t* h = &b[i];
    if (h[3] == 0xB3) f.sizes.push_back(((h[10] & 0x1F) << 5) | (h[11] >> 3));
    if (h[3] == 0x00) f.delays.push_back(((h[5] & 7) << 13) | (h[6] << 5) | (h[7] >> 3));
  }
  return f;
}

// A picture header whose bytes lie in two video packets with other
// packets between exists in the fixture (else the test shows nothing).
bool has_split_picture_header(const Bytes& b) {
  for (size_t i = 0; i + 4 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1 || b[i + 3] != 0xE0) continue;
    const size_t len = size_t(b[i + 4] << 8 | b[i + 5]);
    const size_t end = i + 6 + len;
    if (end > b.size()) break;
    for (size_t k = end - 7; k < end - 3; ++k)
      if (b[k] == 0 && b[k + 1] == 0 && b[k + 2] == 1 && b[k + 3] == 0) return true;
  }
  return false;
}

TEST(ProgramStreamPatch, EverySequenceAndPictureHeaderAlsoSplitOnes) {
  const std::string src = fixture("pst_cbr.vob");
  const std::string file = temp_dir() + "/p.vob";
  const Bytes before = read_file(src);
  write_file(file, before);
  EXPECT_TRUE(has_split_picture_header(before));
  const Fields old = fields_of(video_of(file));
  const auto md5 = frame_md5s(file);
  std::vector<std::string> lines;
  ASSERT_EQ(dev("patch " + q(file) + " --vbv-size 1000000 --vbv-delay-add 900", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(field_int(lines[0], "pictures"), int64_t(old.delays.size()));
  EXPECT_EQ(read_file(file).size(), before.size());
  const Fields now = fields_of(video_of(file));
  ASSERT_EQ(now.sizes.size(), old.sizes.size());
  for (int s : now.sizes) EXPECT_EQ(s, (1000000 + 16383) / 16384);
  ASSERT_EQ(now.delays.size(), old.delays.size());
  for (size_t i = 0; i < old.delays.size(); ++i)
    EXPECT_EQ(now.delays[i], old.delays[i] == 0xFFFF ? 0xFFFF : std::min(old.delays[i] + 900, 0xFFFE)) << i;
  EXPECT_EQ(frame_md5s(file), md5);
}

// --bit-rate on a program stream rewrites every sequence header of the
// video (it exited 0 and changed nothing); the pictures stay as they were.
TEST(ProgramStreamPatch, BitRateReachesEverySequenceHeader) {
  const auto rates_of = [](const Bytes& b) {
    std::vector<int> r;
    for (size_t i = 0; i + 12 <= b.size(); ++i)
      if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB3)
        r.push_back(b[i + 8] << 10 | b[i + 9] << 2 | b[i + 10] >> 6);
    return r;
  };
  for (const char* name : {"pst_cbr.vob", "ps_vob.vob"}) {
    SCOPED_TRACE(name);
    const std::string file = temp_dir() + "/rate.vob";
    const Bytes before = read_file(fixture(name));
    write_file(file, before);
    const Fields old = fields_of(video_of(file));
    const auto md5 = frame_md5s(file);
    const size_t headers = rates_of(video_of(file)).size();
    ASSERT_GT(headers, 1u);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("patch " + q(file) + " --bit-rate 7000000", &lines), 0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(field_int(lines[0], "sequence_headers"), int64_t(headers));
    EXPECT_EQ(read_file(file).size(), before.size());
    EXPECT_EQ(rates_of(video_of(file)), std::vector<int>(headers, 17500));
    const Fields now = fields_of(video_of(file));
    EXPECT_EQ(now.sizes, old.sizes);
    EXPECT_EQ(now.delays, old.delays);
    EXPECT_EQ(frame_md5s(file), md5);
    // The same rate again changes nothing.
    ASSERT_EQ(dev("patch " + q(file) + " --bit-rate 7000000", &lines), 0);
    EXPECT_EQ(field_int(lines[0], "sequence_headers"), 0);
  }
}

TEST(ProgramStreamPatch, VbrPicturesKeepTheirMarker) {
  const std::string file = temp_dir() + "/vbr.vob";
  write_file(file, read_file(fixture("ps_vob.vob")));
  const Fields old = fields_of(video_of(file));
  ASSERT_EQ(dev("patch " + q(file) + " --vbv-delay-add 900", nullptr), 0);
  const Fields now = fields_of(video_of(file));
  ASSERT_EQ(now.delays.size(), old.delays.size());
  for (size_t i = 0; i < old.delays.size(); ++i)
    if (old.delays[i] == 0xFFFF) EXPECT_EQ(now.delays[i], 0xFFFF) << i;
}

TEST(ProgramStreamVbv, ModelRunsOverTheVideoOfAProgramStream) {
  std::vector<std::string> ps, es;
  ASSERT_EQ(dev("vbv " + q(fixture("pst_cbr.vob")), &ps), 0);
  const std::string v = temp_dir() + "/cbr.m2v";
  write_file(v, video_of(fixture("pst_cbr.vob")));
  ASSERT_EQ(dev("vbv " + q(v), &es), 0);
  // The same pictures and the same model values as the video alone.
  EXPECT_EQ(ps, es);
}

}  // namespace
