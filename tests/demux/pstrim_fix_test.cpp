// tamsel-dev fix on joined recordings whose GOP time codes restart: the
// scan finds one error per GOP of the second piece and changes nothing;
// the fix makes every time code follow from the pictures shown before it,
// in place or into a copy, without changing a size or a picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/pes_stamps.h"
#include "support/support.h"

namespace {

using namespace tsupport;
using Bytes = std::vector<uint8_t>;

std::string q(const std::string& s) { return sh_quote(s); }

Bytes video_of(const std::string& file) {
  if (file.size() > 4 && file.substr(file.size() - 4) == ".m2v") return read_file(file);
  const std::string out = temp_dir() + "/v.m2v";
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -i " + q(file) + " -map 0:v -c copy -f mpeg2video " + q(out)), 0);
  return read_file(out);
}

// Frame number of each GOP time code and the frames each GOP shows (frame
// pictures without repeated fields, as the fixtures are made).
struct Gops {
  std::vector<long> tc;
  std::vector<long> frames;
};

Gops gops_of(const Bytes& b, int fps, bool drop) {
  Gops g;
  for (size_t i = 0; i + 8 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    if (b[i + 3] == 0xB8) {
      const uint8_t* h = &b[i + 4];
      const long hh = (h[0] >> 2) & 31, mm = ((h[0] & 3) << 4) | (h[1] >> 4), ss = ((h[1] & 7) << 3) | (h[2] >> 5),
                 pp = ((h[2] & 31) << 1) | (h[3] >> 7);
      long f = ((hh * 60 + mm) * 60 + ss) * fps + pp;
      if (drop) f -= 2 * ((hh * 60 + mm) - (hh * 60 + mm) / 10);
      g.tc.push_back(f);
      g.frames.push_back(0);
    } else if (b[i + 3] == 0 && !g.frames.empty()) {
      ++g.frames.back();
    }
  }
  return g;
}

void expect_continuous(const Bytes& v, int fps, bool drop) {
  const Gops g = gops_of(v, fps, drop);
  ASSERT_GT(g.tc.size(), 2u);
  long at = g.tc[0];
  for (size_t i = 0; i < g.tc.size(); ++i) {
    EXPECT_EQ(g.tc[i], at) << "GOP " << i;
    at += g.frames[i];
  }
}

std::vector<std::string> frame_md5s(const std::string& file) {
  std::string out;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -i " + q(file) + " -map 0:v -fps_mode passthrough -f framemd5 - 2>&1", &out),
            0);
  std::vector<std::string> md5s;
  for (const auto& l : split_lines(out))
    if (!l.empty() && l[0] != '#') md5s.push_back(l.substr(l.rfind(',') + 1));
  return md5s;
}

struct FixCase {
  const char* file;
  int fps;
  bool drop;
};

TEST(GopFixer, JoinedPiecesGetContinuousTimeCodesInPlaceAndInACopy) {
  for (const FixCase& c : {FixCase{"fix_ab.m2v", 25, false}, FixCase{"fix_ab.vob", 25, false},
                           FixCase{"fix_ab.ts", 25, false},
                           FixCase{"fix_df.m2v", 30, true}}) {
    SCOPED_TRACE(c.file);
    const std::string ext = std::string(c.file).substr(std::string(c.file).rfind('.'));
    const std::string in = temp_dir() + "/in" + ext, copy = temp_dir() + "/copy" + ext;
    const Bytes src = read_file(fixture(c.file));
    write_file(in, src);
    const Gops before = gops_of(video_of(in), c.fps, c.drop);
    const size_t half = before.tc.size() / 2;
    ASSERT_EQ(before.tc[half], before.tc[0]) << "the second piece starts again";

    std::vector<std::string> lines;
    ASSERT_EQ(dev("fix " + q(in) + " --scan-only", &lines), 0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(field_int(lines.back(), "gops"), int64_t(before.tc.size()));
    EXPECT_EQ(field_int(lines.back(), "errors"), int64_t(before.tc.size() - half));
    EXPECT_EQ(read_file(in), src);

    ASSERT_EQ(dev("fix " + q(in) + " --out " + q(copy), &lines), 0);
    EXPECT_EQ(field_int(lines.back(), "records"), int64_t(before.tc.size() - half));
    EXPECT_EQ(read_file(in), src);
    ASSERT_EQ(dev("fix " + q(in), &lines), 0);
    const Bytes fixed = read_file(in);
    EXPECT_EQ(fixed.size(), src.size());
    EXPECT_EQ(read_file(copy), fixed);
    expect_continuous(video_of(in), c.fps, c.drop);
    EXPECT_EQ(frame_md5s(in), frame_md5s(fixture(c.file)));
    // Fixed once, nothing is left.
    ASSERT_EQ(dev("fix " + q(in) + " --scan-only", &lines), 0);
    EXPECT_EQ(field_int(lines.back(), "errors"), 0);
  }
}

struct AudioCase {
  const char* file;
  int id;
};

TEST(GopFixer, MovedAudioTimeStampsOfAProgramStreamAreFoundAndPutBack) {
  for (const AudioCase& c : {AudioCase{"pst_cg.vob", 0xC0}, AudioCase{"pst_dvd.mpg", 0x80}}) {
    SCOPED_TRACE(c.file);
    const Bytes src = read_file(fixture(c.file));
    const auto fields = audio_pts_fields(src, c.id);
    ASSERT_GT(fields.size(), 12u);
    Bytes moved = src;
    std::vector<size_t> changed;
    for (size_t k = 2; changed.size() < 5; k += 2) {
      write_stamp(&moved[fields[k]], read_stamp(&src[fields[k]]) + 3000);
      changed.push_back(fields[k]);
    }
    const std::string in = temp_dir() + "/moved.vob", copy = temp_dir() + "/copy.vob";
    write_file(in, moved);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("fix " + q(in) + " --scan-only", &lines), 0);
    std::vector<size_t> found;
    for (const auto& l : lines)
      if (l.rfind("abserror ", 0) == 0) {
        found.push_back(size_t(field_int(l, "offset")));
        EXPECT_EQ(field_int(l, "pts"), read_stamp(&src[found.back()])) << l;
      }
    EXPECT_EQ(found, changed);
    EXPECT_EQ(field_int(lines.back(), "audio_errors"), 5);
    EXPECT_EQ(field_int(lines.back(), "errors"), 0);
    EXPECT_EQ(read_file(in), moved);
    // The copy and the repair in place both give back the file as made.
    ASSERT_EQ(dev("fix " + q(in) + " --out " + q(copy), &lines), 0);
    EXPECT_EQ(lines.back(), "fixed records=0 audio=5");
    EXPECT_EQ(read_file(copy), src);
    EXPECT_EQ(read_file(in), moved);
    ASSERT_EQ(dev("fix " + q(in), &lines), 0);
    EXPECT_EQ(read_file(in), src);
  }
}

// An MPEG audio frame whose header is damaged still played its time: the
// stamps after it are right and only a stamp really moved is reported.
TEST(GopFixer, DamagedAudioFrameStillCountsItsTime) {
  const Bytes src = read_file(fixture("pst_cg.vob"));
  const auto fields = audio_pts_fields(src);
  ASSERT_GT(fields.size(), 12u);
  Bytes bad = src;
  // A frame header inside the fourth audio packet's payload.
  const size_t pes = fields[4] - 9, payload = pes + 9 + src[pes + 8];
  size_t sync = 0;
  for (size_t i = payload + 1; i + 1 < pes + 6 + (src[pes + 4] << 8 | src[pes + 5]); ++i)
    if (src[i] == 0xFF && (src[i + 1] & 0xFE) == 0xFC) {
      sync = i;
      break;
    }
  ASSERT_GT(sync, 0u);
  bad[sync] = 0x00;
  Bytes moved = bad;
  write_stamp(&moved[fields[9]], read_stamp(&src[fields[9]]) + 3000);
  const std::string in = temp_dir() + "/damaged.vob";
  write_file(in, moved);
  std::vector<std::string> lines;
  ASSERT_EQ(dev("fix " + q(in) + " --scan-only", &lines), 0);
  std::vector<std::string> entries;
  for (const auto& l : lines)
    if (l.rfind("abserror ", 0) == 0) entries.push_back(l);
  ASSERT_EQ(entries.size(), 1u) << (entries.empty() ? std::string() : entries.front());
  EXPECT_EQ(size_t(field_int(entries[0], "offset")), fields[9]);
  EXPECT_EQ(field_int(entries[0], "pts"), read_stamp(&src[fields[9]]));
  ASSERT_EQ(dev("fix " + q(in), &lines), 0);
  EXPECT_EQ(read_file(in), bad);
}

TEST(GopFixer, FullDiskFailsTheFixAndLeavesTheInput) {
  const std::string in = temp_dir() + "/in.m2v";
  const Bytes src = read_file(fixture("fix_ab.m2v"));
  write_file(in, src);
  EXPECT_EQ(dev("fix " + q(in) + " --out /dev/full", nullptr), 1);
  EXPECT_EQ(read_file(in), src);
  EXPECT_EQ(dev("fix " + q(in) + " --out " + q(in), nullptr), 1);
  EXPECT_EQ(read_file(in), src);
}

TEST(GopFixer, DamagedStreamsScanCleanly) {
  const Bytes all = read_file(fixture("fix_ab.vob"));
  for (int round = 0; round < 4; ++round) {
    SCOPED_TRACE(round);
    Bytes b = all;
    if (round < 2) b.resize(b.size() / (round + 2) + 5);
    else
      for (size_t i = 100; i < b.size(); i += 997 + size_t(round)) b[i] ^= 0x40;
    const std::string in = temp_dir() + "/bad.vob";
    write_file(in, b);
    const int rc = dev("fix " + q(in) + " --scan-only", nullptr);
    EXPECT_TRUE(rc == 0 || rc == 1) << rc;
    EXPECT_EQ(read_file(in), b);
  }
}

}  // namespace
