#include "app/tools/clip_list_model.h"

#include <gtest/gtest.h>

#include "support.h"

namespace {

// Files named "*.mpg" are 25 fps movies of 100 frames; anything else has
// no video.
bool fake_maker(const std::string& file, Clip* out) {
  if (file.size() < 4 || file.compare(file.size() - 4, 4, ".mpg") != 0) return false;
  Clip c;
  c.set_file_name(file.c_str());
  c.clip_type = 3;
  c.video_stream_count = 1;
  c.video_frame_total = 100;
  c.frame_rate = 25;
  c.count = 100;
  *out = c;
  return true;
}

Clip clip(const std::string& file, int start, int count, int effect = 0, int length = 0) {
  Clip c;
  fake_maker(file, &c);
  c.start = start;
  c.count = count;
  c.transition_id = effect;
  c.transition_length = length;
  return c;
}

TEST(Vls, WrittenBytesAreTheListFormat) {
  Clip b = clip("/m/b b.mpg", 5, 20, 3, 10);
  b.overlays.push_back(OverlayClip(2, 6, 7));
  OverlayClip titled(0, 4, 9);
  titled.file_name = "/m/title one.bmp";
  titled.has_file = true;
  b.overlays.push_back(titled);
  EXPECT_EQ(write_vls({clip("/m/a.mpg", 0, 100), b}),
            "//\n// video clip list used by MPEG-Tamsel VideoList Manager\n//\n"
            "[ClipList]: 2\n"
            "[Clip]: 0 100 0 0 0 0 0 0 0\n\t/m/a.mpg \n"
            "[Clip]: 5 20 0 0 0 0 3 10 2\n\t/m/b b.mpg \n"
            "\t7 2 6  \n"
            "\t9 0 4 /m/title one.bmp\n"
            "//\n// total: 2\n//\n");
  EXPECT_EQ(write_vls({}), "");
}

TEST(Vls, ReaderTakesEveryFormOfEntry) {
  const std::string text =
      "junk\r\n[ClipList]: 6\r\n"
      "[Clip]: 1 2 3 4 5 6 0\n\ta.mpg \n"             // seven fields: no PIDs
      "[Clip]: 1 2 3 4 5 6 7 8\n  b.mpg\n"          // eight: the count reads 0
      "c.mpg\n"                                     // no values at all
      "[Clip]: 0 10 0 0 0 0 0 0 10\nd.mpg\n"        // ten overlay lines
      "\t1 0 5 /img/with blank.bmp \n\t2 0 5  \n"
      "\t3 0 5 x\n\t4 0 5 x\n\t5 0 5 x\n\t6 0 5 x\n\t7 0 5 x\n\t8 0 5 x\n\t9 0 5 x\n\t10 0 5 x\n"
      "[Clip]: 0 1 0 0 0 0 0 0 0\ne.mpg\n";          // count says 6: five here
  const std::vector<VlsEntry> e = parse_vls(text);
  ASSERT_EQ(e.size(), 5u);
  EXPECT_EQ(e[0].file, "a.mpg");
  EXPECT_EQ(std::vector<int>(e[0].values, e[0].values + 9), (std::vector<int>{1, 2, 3, 0, 4, 0, 5, 6, 0}));
  EXPECT_EQ(std::vector<int>(e[1].values, e[1].values + 9), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 0}));
  EXPECT_EQ(e[1].file, "b.mpg");
  EXPECT_FALSE(e[2].has_values);
  EXPECT_EQ(e[2].file, "c.mpg");
  ASSERT_EQ(e[3].overlays.size(), 8u);
  EXPECT_EQ(e[3].overlays[0].image, "/img/with blank.bmp");
  EXPECT_EQ(e[3].overlays[1].image, "");
  EXPECT_EQ(e[3].overlays[7].effect_id, 8);
  EXPECT_EQ(e[4].file, "e.mpg");  // found after all ten overlay lines

  for (const char* none : {"", "[ClipList]: 0\n[Clip]: 0 1 0 0 0 0 0 0 0\na.mpg\n", "[ClipList]: x\n",
                           "\x01\x02\x03", "[ClipList]: 3\n[Clip]: 99999999999999999999 -5"})
    EXPECT_LE(parse_vls(none).size(), 1u) << none;
}

TEST(VideoClipList, ReadingKeepsTransitionsOnlyAfterTheFirstClipAndSkipsFilesWithoutVideo) {
  VideoClipListModel m(fake_maker);
  const std::string text =
      "[ClipList]: 4\n"
      "[Clip]: 0 50 0 0 0 0 3 10 0\nfirst.mpg\n"
      "[Clip]: 0 50 0 0 0 0 3 10 0\nnovideo.txt\n"
      "[Clip]: 10 40 0 0 0 0 3 0 0\nsecond.mpg\n"
      "[Clip]: 10 40 0 0 0 0 4 12 0\nthird.mpg\n";
  EXPECT_EQ(m.read_clip_list(text, false), 3);
  EXPECT_TRUE(m.clips().empty());
  ASSERT_EQ(m.read_clip_list(text, true), 3);
  EXPECT_EQ(m.clips()[0].transition_id, 0);
  EXPECT_EQ(m.clips()[1].transition_id, 0);  // length 0
  EXPECT_EQ(m.clips()[2].transition_id, 4);
  EXPECT_EQ(m.clips()[2].transition_length, 12);
  EXPECT_EQ(m.clips()[1].start, 10);
}

TEST(VideoClipList, ClearKeepsSixteenUndosThatReturnEachClipToItsPlace) {
  VideoClipListModel m(fake_maker);
  for (int i = 0; i < 20; ++i) m.insert_clip_record(clip("c" + std::to_string(i) + ".mpg", 0, 10), -1);
  m.insert_clip_record(clip("front.mpg", 0, 10), 0);
  m.insert_clip_record(clip("past.mpg", 0, 10), 99);
  EXPECT_EQ(m.clips().front().file_name, "front.mpg");
  EXPECT_EQ(m.clips().back().file_name, "past.mpg");
  m.selected = 21;  // the last row
  m.remove_clip_record(21);
  m.undo();
  EXPECT_EQ(m.clips().back().file_name, "past.mpg");
  m.clear();
  EXPECT_TRUE(m.clips().empty());
  EXPECT_EQ(m.undo_count(), 16);
  while (m.undo()) {
  }
  ASSERT_EQ(m.clips().size(), 16u);
  // The last row went first, then row 0 each time: the newest sixteen are
  // c4..c19, each back at index 0 in turn.
  EXPECT_EQ(m.clips().front().file_name, "c4.mpg");
  EXPECT_EQ(m.clips().back().file_name, "c19.mpg");
}

TEST(VideoClipList, StartAndLengthStayInsideTheClip) {
  VideoClipListModel m(fake_maker);
  m.insert_clip_record(clip("a.mpg", 0, 100), -1);
  m.time_format = 0;
  struct Case {
    bool start_edit;
    double start, length, want_start, want_length;
  } cases[] = {
      {true, 90, 20, 90, 10}, {true, 100, 20, 99, 1}, {true, 10, 20, 10, 20},
      {false, 90, 20, 80, 20}, {false, 10, 150, 0, 100}, {true, -1, 5, -1, 5},
  };
  for (const Case& c : cases) {
    double s = c.start, l = c.length;
    c.start_edit ? m.start_rule(&s, &l) : m.length_rule(&s, &l);
    EXPECT_DOUBLE_EQ(s, c.want_start) << c.start << " " << c.length;
    EXPECT_DOUBLE_EQ(l, c.want_length) << c.start << " " << c.length;
  }
  m.time_format = 1;
  double s = 4.0, l = 1.0;  // the clip lasts 4 s
  m.start_rule(&s, &l);
  EXPECT_DOUBLE_EQ(l, 0.04);
  EXPECT_DOUBLE_EQ(s, 3.96);
  EXPECT_EQ(VideoClipListModel::seconds_to_frames(1.0, 1001.0 / 30000), 30);
}

TEST(VideoClipList, SettingsKeepTheirKeysAndTheList) {
  VideoClipListModel m(fake_maker);
  m.insert_clip_record(clip("a.mpg", 0, 40), -1);
  m.insert_clip_record(clip("b.mpg", 5, 30, 2, 10), -1);
  m.selected = 1;
  m.time_format = 0;
  m.input_folder = "/in put";
  m.window[0] = 10;
  m.window[2] = 500;
  m.columns[1] = 77;
  const std::string text = m.settings_text();
  for (const char* key : {"VideoListWindow: 10 0 500 0\n", "VideoLlistColumns: 0 77 0 0\n",
                          "VideoLlistInitInputPath: /in put\n", "VideoLlistInitLoadPath: \n",
                          "VideoLlistInitSavePath: \n", "VideoLlistInitSelect: 1\n", "VideoLlistTimeFormat: 0\n",
                          "[ClipList]: 2\n"})
    EXPECT_NE(text.find(key), std::string::npos) << key;
  const std::string path = tsupport::test_dir() + "/VidList.cfg";
  ASSERT_TRUE(m.save_settings(path));
  VideoClipListModel back(fake_maker);
  back.load_settings(path);
  EXPECT_EQ(back.input_folder, "/in put");
  EXPECT_EQ(back.selected, 1);
  EXPECT_EQ(back.time_format, 0);
  EXPECT_EQ(back.columns[1], 77);
  ASSERT_EQ(back.clips().size(), 2u);
  EXPECT_EQ(back.clips()[1].transition_id, 2);
  // The list handed over starts at the selected clip.
  EXPECT_EQ(back.hand_over().header[1], 40);
  EXPECT_EQ(back.hand_over().clips.size(), 2u);

  std::string error;
  EXPECT_FALSE(m.save_settings(path + "/inside", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
