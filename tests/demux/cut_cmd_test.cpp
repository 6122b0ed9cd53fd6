// tamsel-dev cut, patch, vbv and read against the oracles: ffmpeg decodes
// every cut cleanly with the source's pictures, an independent header
// reader sees the patched fields, ffmpeg's constant-rate streams replay
// through the VBV model, and lists of files read like their cat.
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

std::string copy_to_temp(const std::string& src, const std::string& name) {
  const std::string p = temp_dir() + "/" + name;
  write_file(p, read_file(src));
  return p;
}

struct GopLine {
  uint64_t start, end;
  int first_field, fields;
  std::string types;
  std::string tc;
};

std::vector<GopLine> gops_of(const std::string& file, std::vector<std::string>* raw = nullptr) {
  std::vector<std::string> lines;
  EXPECT_EQ(dev("gops " + q(file), &lines), 0) << file;
  if (raw) *raw = lines;
  std::vector<GopLine> out;
  for (const auto& l : lines) {
    if (l.rfind("gop ", 0) != 0) continue;
    out.push_back({uint64_t(field_int(l, "start")), uint64_t(field_int(l, "end")), int(field_int(l, "first_field")),
                   int(field_int(l, "fields")), field(l, "types"), field(l, "tc")});
  }
  return out;
}


// Time code of the first GOP header: "HH:MM:SS:PP".
std::string first_time_code(const Bytes& b) {
  for (size_t i = 0; i + 8 <= b.size(); ++i)
    if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1 && b[i + 3] == 0xB8) {
      //   byte 4: d h h h h h m m   byte 5: m m m m 1 s s s   byte 6: s s s p p p p p   byte 7: p ...
      const uint8_t* h = &b[i + 4];
      char s[32];
      std::snprintf(s, sizeof s, "%02d:%02d:%02d:%02d", (h[0] >> 2) & 31, ((h[0] & 3) << 4) | (h[1] >> 4),
                    ((h[1] & 7) << 3) | (h[2] >> 5), ((h[2] & 31) << 1) | (h[3] >> 7));
      return s;
    }
  return "";
}

std::string add_frames(const std::string& tc, int frames, int rate) {
  int h, m, s, p;
  std::sscanf(tc.c_str(), "%d:%d:%d:%d", &h, &m, &s, &p);
  long total = ((h * 60L + m) * 60 + s) * rate + p + frames;
  char out[64];
  std::snprintf(out, sizeof out, "%02ld:%02ld:%02ld:%02ld", total / (rate * 3600L), total / (rate * 60L) % 60,
                total / rate % 60, total % rate);
  return out;
}

// The stream with every sequence header but the first removed (12 bytes
// each: no matrices).
Bytes one_sequence_header(const Bytes& all) {
  Bytes one;
  bool first = true;
  for (size_t i = 0; i < all.size();) {
    if (i + 4 <= all.size() && all[i] == 0 && all[i + 1] == 0 && all[i + 2] == 1 && all[i + 3] == 0xB3) {
      if (!first) {
        i += 12;
        continue;
      }
      first = false;
    }
    one.push_back(all[i++]);
  }
  return one;
}

struct CutCase {
  const char* file;
  int rate;  // time-code frames per second
  int first, last;
};

TEST(CutCommand, OpenGopCutsDecodeCleanlyWithTheSourcePictures) {
  const std::vector<CutCase> cases = {
      {"cut_i2.m2v", 25, 0, 2},  {"cut_i2.m2v", 25, 1, 3}, {"cut_i2.m2v", 25, 3, -1}, {"cut_i2.m2v", 25, 1, -1},
      {"cut_i3.m2v", 25, 0, 1},  {"cut_i3.m2v", 25, 1, 2}, {"cut_i3.m2v", 25, 2, -1}, {"cut_m1.m1v", 30, 0, 3},
      {"cut_m1.m1v", 30, 1, 4},  {"cut_m1.m1v", 30, 3, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.first) + ".." + std::to_string(c.last));
    const std::string src = fixture(c.file);
    const auto gops = gops_of(src);
    ASSERT_GT(gops.size(), 4u);
    const int last = c.last < 0 ? int(gops.size()) - 1 : c.last;
    const std::string out = temp_dir() + "/cut" + (c.file + std::string(c.file).rfind('.'));
    std::vector<std::string> lines;
    ASSERT_EQ(dev("cut " + q(src) + " " + std::to_string(c.first) + " " + std::to_string(c.last) + " " + q(out), &lines),
              0);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(oracle_errors(out), "");

    // Bytes: the slice, less blanked pictures and the time code, plus the end code.
    const Bytes all = read_file(src), got = read_file(out);
    const uint64_t a = gops[size_t(c.first)].start, b = gops[size_t(last)].end;
    ASSERT_EQ(got.size(), b - a + 4);
    EXPECT_EQ(field_int(lines[0], "bytes"), int64_t(got.size()));
    EXPECT_EQ(field_int(lines[0], "end_bytes"), 4);
    EXPECT_EQ(Bytes(got.end() - 4, got.end()), (Bytes{0, 0, 1, 0xB7}));
    size_t gop_at = 0;
    while (!(all[a + gop_at] == 0 && all[a + gop_at + 1] == 0 && all[a + gop_at + 2] == 1 && all[a + gop_at + 3] == 0xB8))
      ++gop_at;
    size_t zeroed = 0;
    for (size_t i = 0; i + 4 < got.size(); ++i) {
      if (got[i] == all[a + i]) continue;
      if (i >= gop_at + 4 && i < gop_at + 8) continue;
      ASSERT_EQ(got[i], 0) << "byte " << i;
      ++zeroed;
    }

    // Pictures: the source's of GOPs first..last less the blanked ones.
    const int blanked = c.first == 0 ? 0 : leading_b(gops[size_t(c.first)].types);
    EXPECT_EQ(zeroed > 0, blanked > 0);
    const auto src_md5 = frame_md5s(src), out_md5 = frame_md5s(out);
    const size_t from = size_t(gops[size_t(c.first)].first_field / 2 + blanked);
    size_t count = 0;
    for (int k = c.first; k <= last; ++k) count += size_t(gops[size_t(k)].fields / 2);
    count -= size_t(blanked);
    ASSERT_EQ(out_md5.size(), count);
    ASSERT_LE(from + count, src_md5.size());
    EXPECT_TRUE(std::equal(out_md5.begin(), out_md5.end(), src_md5.begin() + long(from)));

    // The time code moves on by the blanked frames.
    EXPECT_EQ(first_time_code(got), add_frames(first_time_code(Bytes(all.begin() + long(a), all.end())), blanked, c.rate));
  }
}

TEST(CutCommand, StreamWithOneSequenceHeaderGetsItInFrontOfTheCut) {
  // cut_m1.m1v with every sequence header but the first removed (12 bytes
  // each: no matrices).
  const Bytes all = read_file(fixture("cut_m1.m1v"));
  const Bytes one = one_sequence_header(all);
  const std::string dir = temp_dir();
  write_file(dir + "/one.m1v", one);
  ASSERT_EQ(dev("cut " + q(dir + "/one.m1v") + " 2 -1 " + q(dir + "/a.m1v"), nullptr), 0);
  ASSERT_EQ(dev("cut " + q(fixture("cut_m1.m1v")) + " 2 -1 " + q(dir + "/b.m1v"), nullptr), 0);
  const Bytes got = read_file(dir + "/a.m1v");
  ASSERT_GT(got.size(), 12u);
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 12, all.begin()));
  EXPECT_EQ(oracle_errors(dir + "/a.m1v"), "");
  EXPECT_EQ(frame_md5s(dir + "/a.m1v"), frame_md5s(dir + "/b.m1v"));
}

TEST(CutCommand, ClosedGopCutIsTheSliceAndTheEndCode) {
  const std::string src = fixture("cut_cg.m2v");
  const auto gops = gops_of(src);
  ASSERT_GT(gops.size(), 3u);
  const Bytes all = read_file(src);
  for (const auto& [first, last] : std::vector<std::pair<int, int>>{{0, 0}, {1, 2}, {2, -1}}) {
    SCOPED_TRACE(first);
    const std::string out = temp_dir() + "/cg.m2v";
    ASSERT_EQ(dev("cut " + q(src) + " " + std::to_string(first) + " " + std::to_string(last) + " " + q(out), nullptr),
              0);
    const uint64_t a = gops[size_t(first)].start, b = gops[last < 0 ? gops.size() - 1 : size_t(last)].end;
    Bytes want(all.begin() + long(a), all.begin() + long(b));
    for (int x : {0, 0, 1, 0xB7}) want.push_back(uint8_t(x));
    EXPECT_EQ(read_file(out), want);
  }
}

TEST(CutCommand, RefusesBadRangesAndTheInputAsOutput) {
  const std::string src = copy_to_temp(fixture("cut_cg.m2v"), "in.m2v");
  const Bytes before = read_file(src);
  EXPECT_EQ(dev("cut " + q(src) + " 0 -1 " + q(src), nullptr), 1);
  const std::string link = temp_dir() + "/link.m2v";
  ASSERT_EQ(::link(src.c_str(), link.c_str()), 0);
  EXPECT_EQ(dev("cut " + q(src) + " 0 -1 " + q(link), nullptr), 1);
  EXPECT_EQ(read_file(src), before);
  const std::string out = temp_dir() + "/o.m2v";
  EXPECT_EQ(dev("cut " + q(src) + " 500 -1 " + q(out), nullptr), 1);
  EXPECT_EQ(dev("cut " + q(src) + " 3 1 " + q(out), nullptr), 2);
  EXPECT_EQ(dev("cut " + q(src) + " x 1 " + q(out), nullptr), 2);
  // A full disk: the short write fails the cut.
  EXPECT_EQ(dev("cut " + q(src) + " 0 -1 /dev/full", nullptr), 1);
}

TEST(CutCommand, DamagedStreamsGiveCleanCutsOrRefusals) {
  const Bytes all = read_file(fixture("cut_i2.m2v"));
  std::mt19937 rng(11);
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    Bytes b = all;
    if (round < 2) b.resize(b.size() / (round + 2) + 17);  // truncated
    else
      for (int i = 0; i < 200; ++i) b[rng() % b.size()] ^= uint8_t(1u << (rng() % 8));  // flipped bits
    const std::string in = temp_dir() + "/bad.m2v";
    write_file(in, b);
    const std::string out = temp_dir() + "/o.m2v";
    const int rc = dev("cut " + q(in) + " 1 -1 " + q(out), nullptr);
    EXPECT_TRUE(rc == 0 || rc == 1) << rc;
  }
}

// ---- patch ------------------------------------------------------------------------

struct Header {
  size_t at;
  int value;
};

// Every sequence header's bit_rate_value and vbv_buffer_size_value, every
// picture's vbv_delay, read straight from the bytes.
void read_headers(const Bytes& b, std::vector<Header>* rates, std::vector<Header>* sizes, std::vector<Header>* delays) {
  for (size_t i = 0; i + 12 <= b.size(); ++i) {
    if (b[i] != 0 || b[i + 1] != 0 || b[i + 2] != 1) continue;
    const uint8_t* h = &b[i];
    if (h[3] == 0xB3) {
      rates->push_back({i, (h[8] << 10) | (h[9] << 2) | (h[10] >> 6)});
      sizes->push_back({i, ((h[10] & 0x1F) << 5) | (h[11] >> 3)});
    } else if (h[3] == 0x00) {
      delays->push_back({i, ((h[5] & 7) << 13) | (h[6] << 5) | (h[7] >> 3)});
    }
  }
}

// Offsets at which a and b differ all lie in sequence headers (bytes 8-11)
// or picture headers (bytes 5-7).
void expect_only_header_bytes_differ(const Bytes& a, const Bytes& b) {
  ASSERT_EQ(a.size(), b.size());
  std::vector<Header> r, s, d;
  read_headers(a, &r, &s, &d);
  std::vector<char> allowed(a.size(), 0);
  for (const auto& h : r)
    for (size_t k = 8; k < 12; ++k) allowed[h.at + k] = 1;
  for (const auto& h : d)
    for (size_t k = 5; k < 8; ++k) allowed[h.at + k] = 1;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) {
      ASSERT_TRUE(allowed[i]) << "byte " << i;
    }
}

TEST(PatchCommand, RewritesEveryHeaderInPlace) {
  const std::string src = fixture("cut_i2.m2v");
  const Bytes orig = read_file(src);
  std::vector<Header> r0, s0, d0;
  read_headers(orig, &r0, &s0, &d0);
  ASSERT_GT(r0.size(), 3u);

  const std::string f = copy_to_temp(src, "p.m2v");
  std::vector<std::string> lines;
  ASSERT_EQ(dev("patch " + q(f) + " --bit-rate 3000000 --vbv-size 1000000 --vbv-delay-add 900", &lines), 0);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "patch sequence_headers=" + std::to_string(r0.size()) + " pictures=" + std::to_string(d0.size()));
  const Bytes after = read_file(f);
  std::vector<Header> r, s, d;
  read_headers(after, &r, &s, &d);
  for (const auto& h : r) EXPECT_EQ(h.value, 7500);
  for (const auto& h : s) EXPECT_EQ(h.value, 62);
  ASSERT_EQ(d.size(), d0.size());
  for (size_t i = 0; i < d.size(); ++i) EXPECT_EQ(d[i].value, d0[i].value + 900) << i;
  expect_only_header_bytes_differ(orig, after);
  EXPECT_EQ(frame_md5s(f), frame_md5s(src));

  // Fault 3.7: a file whose first header already holds the rate still gets
  // every later header fixed.
  Bytes joined(after.begin(), after.begin() + long(r0[1].at));
  joined.insert(joined.end(), orig.begin() + long(r0[1].at), orig.end());
  const std::string j = temp_dir() + "/joined.m2v";
  write_file(j, joined);
  ASSERT_EQ(dev("patch " + q(j) + " --bit-rate 3000000", &lines), 0);
  EXPECT_EQ(lines[0], "patch sequence_headers=" + std::to_string(r0.size() - 1) + " pictures=0");
  r.clear();
  read_headers(read_file(j), &r, &s, &d);
  for (const auto& h : r) EXPECT_EQ(h.value, 7500);
  // Nothing to add: every picture visited, no byte changed.
  const Bytes before = read_file(j);
  ASSERT_EQ(dev("patch " + q(j) + " --vbv-delay-add 0", &lines), 0);
  EXPECT_EQ(lines[0], "patch sequence_headers=0 pictures=" + std::to_string(d0.size()));
  EXPECT_EQ(read_file(j), before);
  // Patched again: nothing to change, and that is no failure.
  ASSERT_EQ(dev("patch " + q(j) + " --bit-rate 3000000", &lines), 0);
  EXPECT_EQ(lines[0], "patch sequence_headers=0 pictures=0");
}

TEST(PatchCommand, VbrDelaysStayAndValuesClamp) {
  const std::string f = copy_to_temp(fixture("vbv_vbr.m2v"), "v.m2v");
  const Bytes orig = read_file(f);
  ASSERT_EQ(dev("patch " + q(f) + " --vbv-delay-add 900", nullptr), 0);
  EXPECT_EQ(read_file(f), orig);  // 0xFFFF marks variable bit rate
  ASSERT_EQ(dev("patch " + q(f) + " --bit-rate 200000000 --vbv-size 100000000", nullptr), 0);
  std::vector<Header> r, s, d;
  const Bytes after = read_file(f);
  read_headers(after, &r, &s, &d);
  for (const auto& h : r) EXPECT_EQ(h.value, 0x3FFFE);
  for (const auto& h : s) EXPECT_EQ(h.value, 1023);
  for (const auto& h : d) EXPECT_EQ(h.value, 0xFFFF);
  expect_only_header_bytes_differ(orig, after);
}

TEST(PatchCommand, FileThatCannotBeUpdatedFails) {
  // A list of files is read-only.
  const std::string a = copy_to_temp(fixture("cut_cg.m2v"), "a.m2v");
  const std::string list = temp_dir() + "/l.mbs";
  const std::string text = "[MBSFile]\nNumFile= 2\nFile= " + a + "\nFile= " + a + "\n";
  write_file(list, Bytes(text.begin(), text.end()));
  EXPECT_EQ(dev("patch " + q(list) + " --bit-rate 3000000", nullptr), 1);
  EXPECT_EQ(dev("patch " + q(a) + " --bit-rate x", nullptr), 2);
  EXPECT_EQ(dev("patch " + q(a) + " --colour 3", nullptr), 2);
}

// ---- vbv ---------------------------------------------------------------------------

TEST(VbvCommand, ConstantRateStreamsReplayExactly) {
  for (const char* name : {"vbv_m1.m1v", "vbv_p.m2v", "cut_i2.m2v", "vbv_ntsc.m2v", "cut_m1.m1v"}) {
    SCOPED_TRACE(name);
    std::vector<std::string> lines;
    ASSERT_EQ(dev("vbv " + q(fixture(name)), &lines), 0);
    ASSERT_FALSE(lines.empty());
    const std::string& total = lines.back();
    EXPECT_GT(field_int(total, "pictures"), 50);
    EXPECT_EQ(field_int(total, "equal"), field_int(total, "pictures")) << total;
    EXPECT_EQ(field(total, "vbr"), "0");
  }
  std::vector<std::string> lines;
  ASSERT_EQ(dev("vbv " + q(fixture("vbv_vbr.m2v")), &lines), 0);
  for (size_t i = 0; i + 1 < lines.size(); ++i) ASSERT_EQ(field(lines[i], "model"), "65535") << lines[i];
  EXPECT_EQ(field(lines.back(), "vbr"), "1");
}

// ---- lists of files ------------------------------------------------------------------

std::string write_list(const std::string& dir, const std::vector<std::string>& files, const std::string& extra = "",
                       int count = -1) {
  std::string text = "[MBSFile]\nNumFile= " + std::to_string(count < 0 ? int(files.size()) : count) + "\n";
  for (const auto& f : files) text += "File= " + f + "\n";
  text += extra;
  const std::string p = dir + "/list.mbs";
  write_file(p, Bytes(text.begin(), text.end()));
  return p;
}

// Without the name= and file= parts, which differ between the two files.
std::vector<std::string> without_names(std::vector<std::string> lines) {
  for (auto& l : lines) {
    std::string out;
    for (size_t pos = 0; pos < l.size();) {
      size_t sp = l.find(' ', pos);
      if (sp == std::string::npos) sp = l.size();
      const std::string word = l.substr(pos, sp - pos);
      if (word.rfind("file=", 0) != 0 && word.rfind("name=", 0) != 0) out += word + " ";
      pos = sp + 1;
    }
    l = out;
  }
  return lines;
}

TEST(ListFiles, ThreeMembersReadIndexAndDescribeLikeTheirCat) {
  const std::string src = fixture("cut_m1.m1v");
  const Bytes all = read_file(src);
  const auto gops = gops_of(src);
  ASSERT_GT(gops.size(), 6u);
  const std::string dir = temp_dir();
  // Cut at GOP 2 and inside GOP 5.
  const size_t cuts[] = {0, size_t(gops[2].start), size_t(gops[5].start) + 777, all.size()};
  std::vector<std::string> members;
  for (int i = 0; i < 3; ++i) {
    members.push_back(dir + "/m" + std::to_string(i) + ".m1v");
    write_file(members.back(), Bytes(all.begin() + long(cuts[i]), all.begin() + long(cuts[i + 1])));
  }
  const std::string list = write_list(dir, members);
  std::mt19937 rng(5);
  for (int i = 0; i < 60; ++i) {
    uint64_t off = rng() % (all.size() + 100), n = rng() % 300000;
    if (i < 6) off = cuts[1 + i % 2] - 50 + uint64_t(i) * 20, n = 200;  // across member ends
    const std::string out = dir + "/r.bin";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("read " + q(list) + " " + std::to_string(off) + " " + std::to_string(n) + " " + q(out), &lines), 0);
    const uint64_t want = off >= all.size() ? 0 : std::min<uint64_t>(n, all.size() - off);
    EXPECT_EQ(field_int(lines[0], "got"), int64_t(want));
    EXPECT_EQ(field_int(lines[0], "size"), int64_t(all.size()));
    const Bytes got = read_file(out);
    ASSERT_EQ(got.size(), want) << off << " " << n;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), all.begin() + long(std::min<uint64_t>(off, all.size()))));
  }
  std::vector<std::string> a, b;
  gops_of(list, &a);
  gops_of(src, &b);
  EXPECT_EQ(a, b);
  ASSERT_EQ(dev("info " + q(list), &a), 0);
  ASSERT_EQ(dev("info " + q(src), &b), 0);
  EXPECT_EQ(without_names(a), without_names(b));

  // The other readers of a file take the list as they take the cat.
  const std::string cat = dir + "/cat.m1v";
  write_file(cat, all);
  for (const char* args : {"probe X", "gop-of X 40 100", "readgop X 3 OUT", "frame X 50 100 --out OUT"}) {
    SCOPED_TRACE(args);
    std::string outputs[2];
    Bytes files[2];
    for (int i = 0; i < 2; ++i) {
      std::string cmd = args;
      cmd.replace(cmd.find('X'), 1, q(i ? cat : list));
      const size_t o = cmd.find("OUT");
      if (o != std::string::npos) cmd.replace(o, 3, q(dir + "/out" + std::to_string(i)));
      std::vector<std::string> l;
      ASSERT_EQ(dev(cmd, &l), 0);
      for (const auto& x : without_names(l)) outputs[i] += x + "\n";
      if (o != std::string::npos) files[i] = read_file(dir + "/out" + std::to_string(i));
    }
    EXPECT_EQ(outputs[0], outputs[1]);
    EXPECT_EQ(files[0], files[1]);
  }

  // Two of three announced files open: refused.
  const std::string short_list = write_list(dir, {members[0], members[1], dir + "/missing.m1v"});
  EXPECT_EQ(dev("read " + q(short_list) + " 0 10 " + q(dir + "/r.bin"), nullptr), 1);
}

TEST(ListFiles, SegmentReadsAndIndexesLikeItsSlice) {
  const std::string src = fixture("cut_m1.m1v");
  const Bytes all = read_file(src);
  const auto gops = gops_of(src);
  const std::string dir = temp_dir();
  const uint64_t a = gops[2].start, b = gops[6].end;
  const std::string list =
      write_list(dir, {src}, "Segment= " + std::to_string(a) + " " + std::to_string(b) + "\n");
  const std::string slice = dir + "/slice.m1v";
  write_file(slice, Bytes(all.begin() + long(a), all.begin() + long(b)));
  const std::string out = dir + "/r.bin";
  ASSERT_EQ(dev("read " + q(list) + " 0 100000000 " + q(out), nullptr), 0);
  EXPECT_EQ(read_file(out), read_file(slice));
  ASSERT_EQ(dev("read " + q(list) + " 1000 50 " + q(out), nullptr), 0);
  EXPECT_EQ(read_file(out), Bytes(all.begin() + long(a) + 1000, all.begin() + long(a) + 1050));
  std::vector<std::string> x, y;
  gops_of(list, &x);
  gops_of(slice, &y);
  EXPECT_EQ(x, y);
  // A segment beyond its file is refused.
  const std::string beyond =
      write_list(dir, {src}, "Segment= 100 " + std::to_string(all.size() + 1) + "\n");
  EXPECT_EQ(dev("read " + q(beyond) + " 0 10 " + q(out), nullptr), 1);
}

}  // namespace

// ---- transport streams ----

namespace {

std::string hex_pid(int pid) {
  char s[16];
  std::snprintf(s, sizeof s, "0x%x", pid);
  return s;
}

std::vector<std::string> ts_frame_md5s(const std::string& file, int pid) {
  std::string out;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -i " + q(file) + " -map 0:i:" + hex_pid(pid) +
                    " -fps_mode passthrough -f framemd5 - 2>&1",
                &out),
            0);
  std::vector<std::string> md5s;
  for (const auto& l : split_lines(out))
    if (!l.empty() && l[0] >= '0' && l[0] <= '9') md5s.push_back(l.substr(l.rfind(',') + 1));
  return md5s;
}

// The video of pid as ffmpeg takes it out of the packets.
Bytes ts_video_es(const std::string& file, int pid) {
  const std::string es = temp_dir() + "/ts_es.bin";
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -i " + q(file) + " -map 0:i:" + hex_pid(pid) +
                " -c copy -f rawvideo " + q(es) + " 2>&1"),
            0);
  return read_file(es);
}

std::string ts_mux(const std::string& es, const std::string& rate, const std::string& name) {
  const std::string out = temp_dir() + "/" + name;
  EXPECT_EQ(run("ffmpeg -nostdin -v error -y -fflags +genpts -r " + rate + " -i " + q(es) +
                " -map 0:v -c copy -f mpegts " + q(out) + " 2>&1"),
            0);
  return out;
}

// Decoding the video and audio of the cut says nothing, not even at debug
// level about packet counters.
// other_programs: a second program's video starts without its headers and
// ffmpeg's probe says so.
void expect_clean_ts(const std::string& file, int video_pid, bool other_programs = false) {
  std::string err, debug;
  run("ffmpeg -nostdin -v error -i " + q(file) + " -map 0:i:" + hex_pid(video_pid) + " -f null - 2>&1", &err);
  if (!other_programs) EXPECT_EQ(err, "");
  run("ffmpeg -nostdin -v debug -i " + q(file) + " -f null - 2>&1", &debug);
  EXPECT_EQ(debug.find("Continuity check failed"), std::string::npos) << file;
}

std::string stream_ids(const std::string& file) {
  std::string out;
  run("ffprobe -v error -show_entries stream=id,codec_name -of csv=p=0 " + q(file), &out);
  return out;
}

Bytes strip_leading_zeros(const Bytes& b) {
  size_t i = 0;
  while (i < b.size() && b[i] == 0) ++i;
  // Keep the two zeros of the start code found behind them.
  return Bytes(b.begin() + long(i >= 2 ? i - 2 : 0), b.end());
}

}  // namespace

TEST(TransportCut, GopRangesDecodeCleanlyWithTheSourcePictures) {
  struct Case {
    const char* file;
    const char* stream;
    int video_pid;
    int first, last;
  } cases[] = {
      {"ts_m2.ts", "", 256, 2, 4},   {"ts_m2.ts", "", 256, 0, 1},          {"ts_m2.ts", "", 256, 1, -1},
      {"ts_m1.ts", "", 256, 1, 3},   {"ts_late.ts", "", 256, 1, 2},        {"ts_2p.ts", "0xE0:258", 258, 1, 2},
      {"ts_ac3.ts", "", 256, 3, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.first) + ".." + std::to_string(c.last));
    const std::string src = fixture(c.file);
    const std::string opt = *c.stream ? std::string(" --stream ") + c.stream : "";
    std::vector<std::string> lines;
    ASSERT_EQ(dev("gops " + q(src) + opt, &lines), 0);
    std::vector<GopLine> gops;
    for (const auto& l : lines)
      if (l.rfind("gop ", 0) == 0)
        gops.push_back({uint64_t(field_int(l, "start")), uint64_t(field_int(l, "end")),
                        int(field_int(l, "first_field")), int(field_int(l, "fields")), field(l, "types"),
                        field(l, "tc")});
    ASSERT_GT(gops.size(), 4u);
    const std::string out = temp_dir() + "/cut.ts";
    ASSERT_EQ(dev("cut " + q(src) + " " + std::to_string(c.first) + " " + std::to_string(c.last) + " " + q(out) + opt,
                  nullptr),
              0);
    const Bytes got = read_file(out);
    EXPECT_EQ(got.size() % 188, 0u);
    expect_clean_ts(out, c.video_pid, *c.stream != 0);
    EXPECT_EQ(stream_ids(out), stream_ids(src));
    const GopLine& a = gops[size_t(c.first)];
    const GopLine& z = gops[c.last < 0 ? gops.size() - 1 : size_t(c.last)];
    const int lead = c.first > 0 ? leading_b(a.types) : 0;
    const auto all = ts_frame_md5s(src, c.video_pid);
    const size_t from = size_t(a.first_field / 2 + lead), to = size_t((z.first_field + z.fields) / 2);
    ASSERT_LE(to, all.size());
    EXPECT_EQ(ts_frame_md5s(out, c.video_pid), std::vector<std::string>(all.begin() + long(from), all.begin() + long(to)));
    // The first GOP's time code counts the blanked pictures.
    EXPECT_EQ(first_time_code(ts_video_es(out, c.video_pid)), add_frames(a.tc, lead, 25));
  }
}

TEST(TransportCut, ClosedGopCutZeroesTheBytesBeforeItsFirstHeader) {
  // The packet where a closed GOP starts also carries the end of the GOP
  // before: a decoder takes those bytes for a broken picture.
  const std::string es = fixture("cut_cg.m2v");
  const std::string src = ts_mux(es, "25", "cg.ts");
  const auto es_gops = gops_of(es);
  ASSERT_GT(es_gops.size(), 3u);
  const Bytes all = read_file(es);
  const std::string out = temp_dir() + "/cgcut.ts";
  ASSERT_EQ(dev("cut " + q(src) + " 1 2 " + q(out), nullptr), 0);
  expect_clean_ts(out, 256);
  const Bytes video = strip_leading_zeros(ts_video_es(out, 256));
  const Bytes want(all.begin() + long(es_gops[1].start), all.begin() + long(es_gops[2].end));
  ASSERT_GT(video.size(), want.size() + 4);
  EXPECT_TRUE(std::equal(want.begin(), want.end(), video.begin()));
  EXPECT_EQ(Bytes(video.begin() + long(want.size()), video.begin() + long(want.size()) + 4), Bytes({0, 0, 1, 0xB7}));
  const auto frames = ts_frame_md5s(src, 256);
  const size_t from = size_t(es_gops[1].first_field / 2), to = size_t((es_gops[2].first_field + es_gops[2].fields) / 2);
  EXPECT_EQ(ts_frame_md5s(out, 256), std::vector<std::string>(frames.begin() + long(from), frames.begin() + long(to)));
}

TEST(TransportCut, StreamWithOneSequenceHeaderGetsOneInserted) {
  const Bytes all = read_file(fixture("cut_m1.m1v"));
  const Bytes one = one_sequence_header(all);
  const std::string dir = temp_dir();
  write_file(dir + "/one.m1v", one);
  const std::string one_ts = ts_mux(dir + "/one.m1v", "30000/1001", "one.ts");
  const std::string full_ts = ts_mux(fixture("cut_m1.m1v"), "30000/1001", "full.ts");
  ASSERT_EQ(dev("cut " + q(one_ts) + " 2 4 " + q(dir + "/a.ts"), nullptr), 0);
  ASSERT_EQ(dev("cut " + q(full_ts) + " 2 4 " + q(dir + "/b.ts"), nullptr), 0);
  expect_clean_ts(dir + "/a.ts", 256);
  std::string probe;
  run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 " + q(dir + "/a.ts") + " 2>&1", &probe);
  EXPECT_NE(probe.find("352,240"), std::string::npos) << probe;
  const Bytes video = strip_leading_zeros(ts_video_es(dir + "/a.ts", 256));
  ASSERT_GT(video.size(), 12u);
  EXPECT_TRUE(std::equal(video.begin(), video.begin() + 12, all.begin()));
  EXPECT_EQ(ts_frame_md5s(dir + "/a.ts", 256), ts_frame_md5s(dir + "/b.ts", 256));
}

TEST(TransportCut, EndWithoutANextIPictureKeepsTheRestOfTheFile) {
  const std::string src = fixture("ts_m2.ts");
  const Bytes all = read_file(src);
  const std::string out = temp_dir() + "/rest.ts";
  std::vector<std::string> lines;
  ASSERT_EQ(dev("cut " + q(src) + " 1 -1 " + q(out), &lines), 0);
  ASSERT_FALSE(lines.empty());
  const long long end_bytes = field_int(lines.back(), "end_bytes");
  EXPECT_GT(end_bytes, 0);
  const Bytes got = read_file(out);
  // The closing packets follow the source's last packets unchanged.
  const size_t tail = 188 * 50;
  ASSERT_GT(got.size(), tail + size_t(end_bytes));
  EXPECT_TRUE(std::equal(all.end() - long(tail), all.end(), got.end() - long(end_bytes) - long(tail)));
  // The closing packet ends the program.
  EXPECT_EQ(Bytes(got.end() - 4, got.end()), Bytes({0, 0, 1, 0xB9}));
  EXPECT_EQ(dev("cut " + q(src) + " 1 -1 /dev/full", nullptr), 1);
}

TEST(TransportPatch, RewritesTheSameFieldsAsInItsElementaryStream) {
  const std::string ts = copy_to_temp(fixture("ts_m2.ts"), "p.ts");
  const std::string es = copy_to_temp(fixture("ts_v.m2v"), "p.m2v");
  const Bytes before = read_file(ts);
  const std::string args = " --bit-rate 7000000 --vbv-size 1000000 --vbv-delay-add 100";
  std::vector<std::string> a, b;
  ASSERT_EQ(dev("patch " + q(ts) + args, &a), 0);
  ASSERT_EQ(dev("patch " + q(es) + args, &b), 0);
  EXPECT_EQ(a, b);
  EXPECT_EQ(ts_video_es(ts, 256), read_file(es));
  const Bytes after = read_file(ts);
  ASSERT_EQ(after.size(), before.size());
  // Only payload bytes change: every packet header stays.
  for (size_t i = 0; i < after.size(); i += 188)
    ASSERT_TRUE(std::equal(after.begin() + long(i), after.begin() + long(i) + 4, before.begin() + long(i))) << i;
  expect_clean_ts(ts, 256);
}

TEST(TransportVbv, ModelReadsLikeTheElementaryStream) {
  // Distances across GOPs count video bytes, not the packets around them.
  for (const auto& [ts, es] : std::vector<std::pair<const char*, const char*>>{{"ts_m2.ts", "ts_v.m2v"},
                                                                               {"ts_m1.ts", "ts_v.m1v"}}) {
    SCOPED_TRACE(ts);
    std::vector<std::string> a, b;
    ASSERT_EQ(dev("vbv " + q(fixture(ts)), &a), 0);
    ASSERT_EQ(dev("vbv " + q(fixture(es)), &b), 0);
    EXPECT_EQ(a, b);
  }
}

TEST(TransportCut, DamagedStreamsGiveCutsOrRefusalsWithoutCrashing) {
  const Bytes all = read_file(fixture("ts_m2.ts"));
  std::mt19937 rng(7);
  std::vector<std::pair<std::string, Bytes>> variants;
  variants.push_back({"truncated", Bytes(all.begin(), all.begin() + long(all.size() * 6 / 10) + 77)});
  Bytes flipped = all;
  for (int k = 0; k < 300; ++k) flipped[rng() % flipped.size()] ^= uint8_t(1 << (rng() % 8));
  variants.push_back({"flipped", flipped});
  Bytes junk(100, 0x47);
  junk.insert(junk.end(), all.begin(), all.end());
  variants.push_back({"junk", junk});
  Bytes shuffled = all;
  for (int k = 0; k < 40; ++k) {
    const size_t a = 188 * (rng() % (all.size() / 188)), b = 188 * (rng() % (all.size() / 188));
    std::swap_ranges(shuffled.begin() + long(a), shuffled.begin() + long(a) + 188, shuffled.begin() + long(b));
  }
  variants.push_back({"shuffled", shuffled});
  for (const auto& [name, bytes] : variants) {
    SCOPED_TRACE(name);
    const std::string in = temp_dir() + "/bad.ts", out = temp_dir() + "/badcut.ts";
    write_file(in, bytes);
    const int rc = dev("cut " + q(in) + " 1 3 " + q(out), nullptr);
    EXPECT_TRUE(rc == 0 || rc == 1) << rc;
    if (rc == 0) EXPECT_EQ(read_file(out).size() % 188, 0u);
  }
}
