// Clip-list text files: write then read gives equal records; older and
// hand-written records read as the format says; damaged files give the
// records before the damage or nothing, never an unusable clip.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "engine/clips/clip_verify.h"
#include "engine/clips/cliplist_file.h"
#include "support/support.h"

namespace {

std::string copy_fixture(const std::string& name, const std::string& to) {
  EXPECT_TRUE(tsupport::write_file(to, tsupport::read_file(tsupport::fixture(name))));
  return to;
}

MPEG_Clip* append(MPEG_Clip* list, MPEG_Clip* c) {
  if (!c) return list;
  MPEG_Clip* tail = clip_list_tail(list);
  clip_list_link(&list, &tail, c);
  return clip_update(list);
}

void write_text(const std::string& path, const std::string& text) {
  ASSERT_TRUE(tsupport::write_file(path, std::vector<uint8_t>(text.begin(), text.end())));
}

const char* const kId = "1/100.1/99.1/98.1/97....1/5.1/4.1/3.1/2.2/3.3/4.4/5.5/6....97/98.98/99.99/100.1";

TEST(ClipListFile, WriteThenReadIsEqual) {
  const std::string dir = tsupport::temp_dir();
  // A folder name with spaces, the whole path over 300 characters.
  std::string deep = dir + "/a folder with spaces";
  while (deep.size() < 320) deep += "/and another level";
  ASSERT_EQ(tsupport::run("mkdir -p " + tsupport::sh_quote(deep)), 0);
  const std::string movie = copy_fixture("fa_sd.m2v", deep + "/my movie.m2v");
  ASSERT_GT(movie.size(), 300u);
  MPEG_Clip* list = nullptr;
  list = append(list, mpeg_clip_of_file(movie.c_str(), 10, 100));
  list = append(list, mpeg_clip_of_file(tsupport::fixture("st_m1.m1v").c_str(), 0, 0));
  list = append(list, mpeg_clip_of_file(tsupport::fixture("fa_title.bmp").c_str(), 0, 0));
  list = append(list, mpeg_clip_of_file(tsupport::fixture("mp2_44100.mp2").c_str(), 0, 0));
  ASSERT_EQ(clip_list_count(list), 4);
  ASSERT_EQ(clip_insert_transitions(list, 100, 4, 12), 12);
  ASSERT_EQ(clip_add_overlay(list, 8, 20, 30), 1);
  ASSERT_EQ(clip_add_overlay_at(list, tsupport::fixture("fa_title.bmp").c_str(), 0, 6, 150, 40), 1);
  const int total = mpeg_clip_list_total_frames(list, 1);

  const std::string qme = deep + "/saved list.qme";
  ASSERT_EQ(clip_save(list, qme.c_str()), 4);
  int dropped = -1;
  MPEG_Clip* back = clip_load(qme.c_str(), 0, &dropped);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(dropped, 0);
  EXPECT_FALSE(mpeg_clip_list_differs(list, back));
  EXPECT_EQ(mpeg_clip_list_total_frames(back, 1), total);
  int overlays = 0;
  for (const MPEG_Clip* c = back; c; c = c->next) overlays += int(c->overlays.size());
  EXPECT_GE(overlays, 3);
  EXPECT_STREQ(back->get_file_name(), movie.c_str());
  mpeg_clip_list_free(list);
  mpeg_clip_list_free(back);
}

TEST(ClipListFile, HandWrittenRecords) {
  const std::string dir = tsupport::temp_dir();
  const std::string m1 = tsupport::fixture("st_m1.m1v"), bmp = tsupport::fixture("fa_title.bmp");
  const std::string qme = dir + "/hand.qme";
  // 13 integers: type start count audio_count audio_id video_count video_id
  // effect length full offset overlays audio_pid. The second record's offset
  // is past its full length; the still starts at 5; the overlay has no image.
  write_text(qme, std::string(kId) + "\n#\n# comment\nLIST created on today\n#\n" +
                      "CLIP: " + m1 + "\n\t2 0 40 0 0 1 224 0 0 0 0 1 77\n" +
                      "  OLCLIP 0 8 2 5 5 0 \n\t \n" +
                      "CLIP:  " + m1 + "  \n\t2 50 20 0 0 1 224 4 5 5 5 0 0\n" +
                      "some line that is no record\n" +
                      "CLIP: " + bmp + "\n\t12 5 30 0 0 1 0 0 0 0 0 0 0 0 \n#\n");
  tsupport::TraceCapture trace;
  MPEG_Clip* l = clip_load(qme.c_str(), 0);
  ASSERT_NE(l, nullptr);
  ASSERT_EQ(clip_list_count(l), 3);
  EXPECT_EQ(l->audio_pid, 77);
  EXPECT_EQ(l->video_pid, 0);
  EXPECT_EQ(l->count, 40);
  ASSERT_EQ(l->overlays.size(), 1u);
  EXPECT_EQ(l->overlays[0].kind, 0);
  EXPECT_EQ(l->overlays[0].get_image_file(), nullptr);
  EXPECT_EQ(l->next->start, 50);
  EXPECT_EQ(l->next->transition_length, 0);
  EXPECT_EQ(l->next->transition_id, 0);
  EXPECT_EQ(l->next->next->start, 0);
  EXPECT_EQ(l->next->next->clip_type, 12);
  EXPECT_TRUE(trace.contains("read_clip (): invalid 'start' value (5) for a still image\n"));
  mpeg_clip_list_free(l);
}

TEST(ClipListFile, TwoListsWithAndWithoutMerge) {
  const std::string dir = tsupport::temp_dir();
  const std::string m1 = tsupport::fixture("st_m1.m1v");
  const std::string body = "CLIPLIST: first\n 1 2 3\n#\nCLIP: " + m1 + "\n\t2 0 10 0 0 0 1 224 0 0 0 0 0 0 \n" +
                           "CLIPLIST: second\n 4 5 6\nCLIP: " + m1 + "\n\t2 30 10 0 0 0 1 224 0 0 0 0 0 0 \n";
  const std::string path = dir + "/two.qme";
  write_text(path, std::string(kId) + "\n#\n" + body);
  FILE* f = std::fopen(path.c_str(), "r");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(check_cliplist_id(f), 0);
  std::string name;
  int a = 0, b = 0, c = 0;
  MPEG_Clip* first = read_cliplist(f, &name, &a, &b, &c, 0);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(name, "first");
  EXPECT_EQ(a + b + c, 6);
  EXPECT_EQ(clip_list_count(first), 1);
  std::string line;
  ASSERT_TRUE(read_text_line(f, &line));
  EXPECT_EQ(line, "CLIPLIST: second");
  std::fclose(f);
  MPEG_Clip* both = clip_load(path.c_str(), 1);
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(clip_list_count(both), 2);
  mpeg_clip_list_free(first);
  mpeg_clip_list_free(both);
}

// A clip whose file is gone used to join the list with type 0 after enough
// failures in a row; it is dropped and counted instead.
TEST(ClipListFile, MissingMediaIsDroppedNeverTypeZero) {
  const std::string dir = tsupport::temp_dir();
  const std::string m1 = tsupport::fixture("st_m1.m1v");
  std::string text = std::string(kId) + "\n";
  for (int i = 0; i < 120; ++i) text += "CLIP: " + dir + "/gone.m2v\n\t3 0 10 0 0 0 1 224 0 0 0 0 0 0 \n";
  text += "CLIP: " + m1 + "\n\t2 0 10 0 0 0 1 224 0 0 0 0 0 0 \n";
  const std::string path = dir + "/gone.qme";
  write_text(path, text);
  int dropped = 0;
  MPEG_Clip* l = clip_load(path.c_str(), 0, &dropped);
  ASSERT_NE(l, nullptr);
  EXPECT_EQ(dropped, 120);
  EXPECT_EQ(clip_list_count(l), 1);
  for (const MPEG_Clip* c = l; c; c = c->next) EXPECT_NE(c->clip_type, 0);
  mpeg_clip_list_free(l);
}

TEST(ClipListFile, IdentificationSearchLimits) {
  const std::string dir = tsupport::temp_dir();
  struct Case {
    int lines_before;
    int found;
  } cases[] = {{0, 0}, {10, 0}, {499, 0}, {500, 1}};
  for (const Case& k : cases) {
    std::string text;
    for (int i = 0; i < k.lines_before; ++i) text += "#\n";
    text += std::string(kId) + "\n";
    const std::string p = dir + "/id.txt";
    write_text(p, text);
    EXPECT_EQ(check_cliplist_file(p.c_str()), k.found) << k.lines_before;
  }
  EXPECT_EQ(check_cliplist_file((dir + "/none").c_str()), 1);
}

TEST(ClipListFile, DamagedFilesNeverCrashOrGiveUnusableClips) {
  const std::string dir = tsupport::temp_dir();
  MPEG_Clip* list = nullptr;
  for (const char* f : {"st_m1.m1v", "fa_title.bmp", "st_m2.m2v", "mp2_48000.mp2"})
    list = append(list, mpeg_clip_of_file(tsupport::fixture(f).c_str(), 0, 0));
  clip_insert_transitions(list, 40, 4, 8);
  clip_add_overlay(list, 8, 10, 20);
  const std::string good = dir + "/good.qme";
  const int records = clip_list_count(list);
  ASSERT_EQ(clip_save(list, good.c_str()), records);
  const auto bytes = tsupport::read_file(good);
  std::mt19937 rng(7);
  auto check = [&](const std::vector<uint8_t>& data) {
    const std::string p = dir + "/bad.qme";
    ASSERT_TRUE(tsupport::write_file(p, data));
    MPEG_Clip* l = clip_load(p.c_str(), int(rng() % 2));
    for (const MPEG_Clip* c = l; c; c = c->next) {
      EXPECT_GE(c->clip_type, 1);
      EXPECT_GE(c->count, 1);
      EXPECT_LE(c->transition_length, c->count);
    }
    EXPECT_LE(clip_list_count(l), records);
    mpeg_clip_list_free(l);
  };
  for (size_t n = 0; n < bytes.size(); n += 7) check(std::vector<uint8_t>(bytes.begin(), bytes.begin() + long(n)));
  for (int i = 0; i < 200; ++i) {
    auto d = bytes;
    d[rng() % d.size()] ^= uint8_t(1u << (rng() % 8));
    check(d);
  }
  for (int i = 0; i < 20; ++i) {
    std::vector<uint8_t> d(rng() % 4000);
    for (auto& b : d) b = uint8_t(rng());
    check(d);
  }
  // A line of eight megabytes after the identification line.
  std::vector<uint8_t> huge(bytes.begin(), bytes.begin() + 83);
  huge.insert(huge.end(), 8u << 20, 'x');
  check(huge);
  mpeg_clip_list_free(list);
}

}  // namespace
