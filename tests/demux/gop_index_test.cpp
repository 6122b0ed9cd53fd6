// The GOP index against ffprobe: GOP starts, picture types, field counts and
// field numbering of whole streams, the coded bytes of GOPs, and searches.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "demux/goplist.h"
#include "support/support.h"

namespace {

using namespace tsupport;

struct ProbePacket {
  long long pos;
  bool key;
};

struct Oracle {
  std::vector<ProbePacket> packets;      // coded order
  std::map<long long, char> type_at;     // packet pos -> picture type
  std::map<long long, int> field_at;     // packet pos -> first display field
  std::map<long long, int> fields_of;    // packet pos -> 2 + repeat_pict
  int total_fields = 0;
};

std::vector<std::string> csv(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream ss(line);
  std::string item;
  while (std::getline(ss, item, ',')) out.push_back(item);
  return out;
}

Oracle probe(const std::string& file) {
  Oracle o;
  std::string out;
  run("ffprobe -v error -select_streams v -show_entries packet=pos,flags -of csv=p=0 " + sh_quote(file), &out);
  for (const auto& l : split_lines(out)) {
    auto f = csv(l);
    if (f.size() >= 2) o.packets.push_back({std::stoll(f[0]), f[1].find('K') != std::string::npos});
  }
  // Frames come in display order.
  run("ffprobe -v error -select_streams v -show_entries frame=pkt_pos,pict_type,repeat_pict -of csv=p=0 " +
          sh_quote(file),
      &out);
  for (const auto& l : split_lines(out)) {
    auto f = csv(l);
    if (f.size() < 3) continue;
    long long pos = std::stoll(f[0]);
    o.type_at[pos] = f[1][0];
    o.field_at[pos] = o.total_fields;
    o.fields_of[pos] = 2 + std::stoi(f[2]);
    o.total_fields += 2 + std::stoi(f[2]);
  }
  return o;
}

struct DevGop {
  long long start, end;
  int bytes, first_field, fields, pictures;
  std::string types;
};

std::vector<DevGop> dev_gops(const std::string& file, int* total_frames) {
  std::vector<std::string> lines;
  EXPECT_EQ(dev("gops " + sh_quote(file), &lines), 0);
  std::vector<DevGop> g;
  for (const auto& l : lines) {
    if (l.rfind("gop ", 0) == 0)
      g.push_back({field_int(l, "start"), field_int(l, "end"), int(field_int(l, "bytes")), int(field_int(l, "first_field")),
                   int(field_int(l, "fields")), int(field_int(l, "pictures")), field(l, "types")});
    else if (l.rfind("total ", 0) == 0)
      *total_frames = int(field_int(l, "frames"));
  }
  return g;
}

// Cold searches (gop-of) for frames land on the GOP of the walk whose
// display frames hold them, parsing at most max_parses GOPs each.
void expect_gop_of_lands(const std::string& file, const std::vector<DevGop>& gops, const std::vector<int>& frames,
                         int max_parses) {
  std::string args;
  for (int f : frames) args += " " + std::to_string(f);
  std::vector<std::string> lines;
  ASSERT_EQ(dev("gop-of " + sh_quote(file) + args, &lines), 0);
  ASSERT_EQ(lines.size(), frames.size());
  for (size_t i = 0; i < frames.size(); ++i) {
    const int f = frames[i];
    auto it = std::find_if(gops.begin(), gops.end(), [&](const DevGop& g) {
      return (g.first_field + 1) / 2 <= f && f < (g.first_field + g.fields + 1) / 2;
    });
    ASSERT_NE(it, gops.end()) << f;
    EXPECT_EQ(field_int(lines[i], "gop_start"), it->start) << lines[i];
    EXPECT_EQ(field_int(lines[i], "first_frame"), (it->first_field + 1) / 2) << lines[i];
    EXPECT_LE(field_int(lines[i], "parses"), max_parses) << lines[i];
  }
}

class GopWalk : public ::testing::TestWithParam<const char*> {};

TEST_P(GopWalk, AgreesWithFfprobe) {
  const std::string file = fixture(GetParam());
  Oracle o = probe(file);
  int total = -1;
  auto gops = dev_gops(file, &total);
  std::vector<long long> keys;
  for (auto& p : o.packets)
    if (p.key) keys.push_back(p.pos);
  ASSERT_EQ(gops.size(), keys.size());
  for (size_t k = 0; k < gops.size(); ++k) {
    SCOPED_TRACE("GOP " + std::to_string(k));
    EXPECT_EQ(gops[k].start, keys[k]);
    const long long next = k + 1 < keys.size() ? keys[k + 1] : (1LL << 62);
    std::string types;
    int fields = 0, first = 1 << 30;
    for (auto& p : o.packets) {
      if (p.pos < keys[k] || p.pos >= next) continue;
      types += o.type_at[p.pos];
      fields += o.fields_of[p.pos];
      first = std::min(first, o.field_at[p.pos]);
    }
    EXPECT_EQ(gops[k].types, types);
    EXPECT_EQ(gops[k].pictures, int(types.size()));
    EXPECT_EQ(gops[k].fields, fields);
    EXPECT_EQ(gops[k].first_field, first);
    if (k + 1 < gops.size()) {
      EXPECT_EQ(gops[k].end, gops[k + 1].start);
    }
  }
  EXPECT_EQ(total, o.total_fields / 2);
}

INSTANTIATE_TEST_SUITE_P(Streams, GopWalk,
                         ::testing::Values("m1c.m1v", "m2c.m2v", "cg.m2v", "m2v.m2v", "il_tff.m2v", "il_bff.m2v",
                                           "422.m2v", "hd.m2v", "pd.m2v", "df.m2v", "tcr.m2v", "join2.m2v",
                                           "join3.m2v", "joinlow.m2v", "m1slices.m1v"),
                         [](const auto& p) {
                           std::string n = p.param;
                           for (char& c : n)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return n;
                         });

// Clips joined with cat whose time codes restart at each join: every frame
// must be counted and searchable by its place in the whole file.
struct JoinCase {
  const char* name;
  std::vector<int> part_frames;
};

class TimeCodeRestart : public ::testing::TestWithParam<JoinCase> {};

TEST_P(TimeCodeRestart, EveryFrameIsCountedAndFound) {
  const std::string file = fixture(GetParam().name);
  std::string out;
  run("ffprobe -v error -count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 " +
          sh_quote(file),
      &out);
  const int want = std::stoi(out);
  int sum = 0;
  for (int n : GetParam().part_frames) sum += n;
  ASSERT_EQ(want, sum);

  std::vector<std::string> info;
  ASSERT_EQ(dev("info " + sh_quote(file), &info), 0);
  EXPECT_EQ(field_int(info[0], "frames"), want);
  EXPECT_NEAR(std::stod(field(info[0], "length")), want / 25.0, 1.0 / 25);
  int total = 0;
  auto gops = dev_gops(file, &total);
  EXPECT_EQ(total, want);

  // Both sides of every join, the ends, and random frames.
  std::vector<int> frames = {0, want - 1};
  int join = 0;
  for (size_t k = 0; k + 1 < GetParam().part_frames.size(); ++k) {
    join += GetParam().part_frames[k];
    for (int d : {-13, -1, 0, 1, 13}) frames.push_back(join + d);
  }
  std::mt19937 rng(11);
  for (int i = 0; i < 50; ++i) frames.push_back(int(rng() % unsigned(want)));
  expect_gop_of_lands(file, gops, frames, 1 << 30);
}

INSTANTIATE_TEST_SUITE_P(Joins, TimeCodeRestart,
                         ::testing::Values(JoinCase{"join2.m2v", {175, 100}}, JoinCase{"join3.m2v", {175, 100, 125}},
                                           JoinCase{"joinlow.m2v", {175, 100}}, JoinCase{"tcr.m2v", {50, 50}},
                                           JoinCase{"join24.m2v", std::vector<int>(24, 25)}),
                         [](const auto& p) {
                           std::string n = p.param.name;
                           return n.substr(0, n.find('.'));
                         });

TEST(GopRead, BytesAreTheFileSlice) {
  for (const char* name : {"m2c.m2v", "pd.m2v", "m1c.m1v"}) {
    const std::string file = fixture(name);
    int total = 0;
    auto gops = dev_gops(file, &total);
    const auto whole = read_file(file);
    for (size_t k = 0; k < gops.size(); ++k) {
      const std::string out = temp_dir() + "/g.bin";
      ASSERT_EQ(dev("readgop " + sh_quote(file) + " " + std::to_string(k) + " " + sh_quote(out), nullptr), 0);
      const auto bytes = read_file(out);
      ASSERT_EQ(bytes.size(), size_t(gops[k].end - gops[k].start)) << name << " GOP " << k;
      EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), whole.begin() + gops[k].start)) << name << " GOP " << k;
    }
  }
}

TEST(GopRead, LoadDataRebuildsTheTable) {
  GOPList list(fixture("il_tff.m2v").c_str());
  ASSERT_TRUE(list.is_open());
  ASSERT_EQ(list.build_index(), 0);
  GOP g, rebuilt;
  for (int n = list.get_first_gop(&g, 1); n > 0; n = list.next_gop(&g, 1)) {
    ASSERT_EQ(g.valid_bytes(), g.byte_length);
    ASSERT_EQ(rebuilt.load_data(g.data, g.byte_length, 3), g.pic_count);
    for (int i = 0; i < g.pic_count; ++i) EXPECT_EQ(rebuilt.pic_table[i], g.pic_table[i]) << i;
    EXPECT_EQ(rebuilt.total_fields, g.total_fields);
  }
}

TEST(GopSearch, ColdSearchesLandOnTheRightGop) {
  const std::string file = fixture("long60.m2v");
  int total = 0;
  auto gops = dev_gops(file, &total);
  ASSERT_EQ(total, 1500);
  std::mt19937 rng(60);
  std::vector<int> frames;
  for (int i = 0; i < 300; ++i) frames.push_back(int(rng() % unsigned(total)));
  expect_gop_of_lands(file, gops, frames, 12);
}

TEST(GopSearch, ForwardAndBackwardWalksVisitEveryGopOnce) {
  const std::string file = fixture("long60.m2v");
  std::vector<long long> forward, backward;
  {
    GOPList list(file.c_str());
    ASSERT_TRUE(list.is_open());
    ASSERT_EQ(list.build_index(), 0);
    GOP g;
    for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0)) forward.push_back(g.start.value());
  }
  {
    // A fresh index knows only both ends: the backward walk fills the gap.
    GOPList list(file.c_str());
    ASSERT_TRUE(list.is_open());
    ASSERT_EQ(list.build_index(), 0);
    GOP g;
    for (int n = list.get_last_gop(&g, 0); n > 0; n = list.prev_gop(&g, 0)) backward.push_back(g.start.value());
  }
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(forward.size(), 126u);
  EXPECT_EQ(backward, forward);
}

TEST(GopSearch, SearchModesAgree) {
  const std::string file = fixture("long60.m2v");
  for (int frame : {0, 11, 400, 777, 1200, 1497, 1499}) {
    int first[2];
    long long start[2];
    for (int mode = 0; mode < 2; ++mode) {
      GOPList list(file.c_str());
      ASSERT_TRUE(list.is_open());
      ASSERT_EQ(list.build_index(), 0);
      GOP g;
      const int before = list.get_parse_count();
      first[mode] = list.get_gop(frame, &g, 0, mode);
      EXPECT_LE(list.get_parse_count() - before, 12) << frame << " mode " << mode;
      start[mode] = (long long)g.start.value();
      EXPECT_LE(first[mode], frame);
      EXPECT_LT(frame, g.end_frame());
    }
    EXPECT_EQ(first[0], first[1]) << frame;
    EXPECT_EQ(start[0], start[1]) << frame;
  }
}

}  // namespace
