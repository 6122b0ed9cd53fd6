#include "app/tools/video_effect_model.h"

#include <gtest/gtest.h>

#include "platform/fakes.h"
#include "support.h"

namespace {

// A 29.97 fps clip of count frames from start.
Clip clip(const char* file, int start, int count) {
  Clip c;
  c.set_file_name(file);
  c.clip_type = 3;
  c.video_stream_count = 1;
  c.video_frame_total = 1000;
  c.frame_rate = 30000.0 / 1001;
  c.start = start;
  c.count = count;
  return c;
}

// "*.bmp" files are bitmaps, "*.jpg" JPEG pictures, nothing else a picture.
int fake_probe(const std::string& f) {
  if (f.size() > 4 && f.compare(f.size() - 4, 4, ".bmp") == 0) return 12;
  if (f.size() > 4 && f.compare(f.size() - 4, 4, ".jpg") == 0) return 11;
  return 0;
}

int row_named(const VideoEffectModel& m, const std::string& name) {
  for (size_t r = 0; r < m.rows().size(); ++r)
    if (m.rows()[r].name == name) return int(r);
  return -1;
}

struct EffectTest : ::testing::Test {
  EffectTest() : m(fake_probe) {
    clips = {clip("/m/a.mpg", 0, 300), clip("/m/b.mpg", 100, 200), clip("/m/c.mpg", 0, 50)};
    m.set_clips(&clips);
  }
  // Starts on a clip and a tab.
  void open(int index, int tab) {
    m.current_clip = index;
    m.start();
    m.select_tab(tab);
  }
  FakePlatform platform;
  std::vector<Clip> clips;
  VideoEffectModel m;
};

TEST(EffectRows, TheRegisteredEffectsFormTheThreeTabs) {
  const std::vector<std::vector<std::string>> want = {
      {"None", "Wipe Horizontal", "Wipe Vertical", "Wipe Rotate", "Blend", "Zoom Circle"},
      {"None", "Keying Title Image", "Color Keying Title Image"},
      {"None", "Beginning Fade", "Ending Fade"}};
  for (int tab = 0; tab < 3; ++tab) {
    std::vector<std::string> names;
    for (const EffectRow& r : effect_rows(tab)) names.push_back(r.name);
    EXPECT_EQ(names, want[size_t(tab)]) << tab;
  }
  EXPECT_EQ(effect_rows(kFilterTab)[2].id, 9);
}

TEST(EffectImage, OnlyBitmapsAndJpegPicturesAreImages) {
  TSUPPORT_NEED_FIXTURES("fa_title.bmp", "cjpeg_q85.jpg", "ui.mpg");
  EXPECT_EQ(probe_image_kind(tsupport::fixture("fa_title.bmp")), 12);
  EXPECT_EQ(probe_image_kind(tsupport::fixture("cjpeg_q85.jpg")), 11);
  EXPECT_EQ(probe_image_kind(tsupport::fixture("ui.mpg")), 0);
  EXPECT_EQ(probe_image_kind(tsupport::test_dir() + "/none.jpg"), 0);
}

TEST_F(EffectTest, TheFirstClipNeverGetsATransition) {
  open(0, kTransitionTab);
  m.pick_row(row_named(m, "Blend"));
  EXPECT_FALSE(m.buttons().add);
  m.add();
  EXPECT_EQ(m.copy()[0].transition_id, 0);
  // The same clip takes a fade, and the second clip a transition.
  m.select_tab(kFilterTab);
  m.pick_row(1);
  EXPECT_TRUE(m.buttons().add);
  m.select_clip(1);
  m.select_tab(kTransitionTab);
  m.pick_row(row_named(m, "Blend"));
  EXPECT_TRUE(m.buttons().add);
  EXPECT_FALSE(m.buttons().replace);
}

TEST_F(EffectTest, TransitionChangesInPlaceAndOnlyRemoveCutsItsFrames) {
  open(1, kTransitionTab);
  m.pick_row(row_named(m, "Blend"));
  EXPECT_EQ(m.length_text(), "60");  // two seconds at 29.97
  m.length_edited("10");
  m.add();
  EXPECT_EQ(m.copy()[1].transition_id, 4);
  EXPECT_EQ(m.copy()[1].transition_length, 10);
  EXPECT_EQ(m.info(), "\"Blend\":   offset = 0,   length = 10");

  m.length_edited("20");
  ASSERT_TRUE(m.buttons().update);
  m.update();
  m.pick_row(row_named(m, "Wipe Vertical"));
  ASSERT_TRUE(m.buttons().replace);
  m.replace();
  EXPECT_EQ(m.copy()[1].transition_id, 2);
  EXPECT_EQ(m.copy()[1].transition_length, 20);
  EXPECT_EQ(m.copy()[1].start, 100);
  EXPECT_EQ(m.copy()[1].count, 200);

  m.remove();
  EXPECT_EQ(m.copy()[1].transition_id, 0);
  EXPECT_EQ(m.copy()[1].start, 120);
  EXPECT_EQ(m.copy()[1].count, 180);
  EXPECT_EQ(m.applied_row(), 0);
  EXPECT_EQ(m.info(), "\"None\":   offset = 0,   length = 0");
}

TEST_F(EffectTest, RangeFieldsStayInsideTheClip) {
  open(2, kFilterTab);  // 50 frames
  struct Case {
    bool offset_field;
    const char* text;
    int offset, length;
  } cases[] = {
      {true, "50", 49, 1},   // an offset equal to the total
      {true, "30", 30, 1},   // the length kept while it fits
      {false, "40", 10, 40},  // the offset moved back
      {false, "80", 0, 50},  // longer than the clip
      {true, "abc", 0, 50},  // a non-number reads 0
      {false, "-7", 0, 0},
  };
  for (const Case& c : cases) {
    c.offset_field ? m.offset_edited(c.text) : m.length_edited(c.text);
    EXPECT_EQ(m.offset_text(), std::to_string(c.offset)) << c.text;
    EXPECT_EQ(m.length_text(), std::to_string(c.length)) << c.text;
  }
  m.offset_edited("12");
  m.all();
  EXPECT_EQ(m.offset_text(), "0");
  EXPECT_EQ(m.length_text(), "50");
  // The Transition tab shows no offset.
  m.select_tab(kTransitionTab);
  EXPECT_FALSE(m.offset_enabled());
  EXPECT_EQ(m.offset_text(), "0");
}

TEST_F(EffectTest, TitleImageIsStoredAtTheClipsFrame) {
  open(1, kOverlayTab);  // starts at frame 100
  platform.dialogs.push_path("/pics/readme.txt");
  m.pick_row(row_named(m, "Keying Title Image"));
  EXPECT_EQ(platform.prompter.last_text(), "</pics/readme.txt>: not a valid image file");
  EXPECT_EQ(m.image_kind, 0);
  platform.dialogs.push_path("/pics/logo.bmp");
  m.choose_image();
  EXPECT_EQ(platform.dialogs.requests.back().title, "Open Image File");
  EXPECT_EQ(m.image_kind, 12);
  EXPECT_EQ(m.image_folder, "/pics");
  m.offset_edited("10");
  m.length_edited("30");
  m.add();
  ASSERT_EQ(m.copy()[1].overlays.size(), 1u);
  const OverlayClip& o = m.copy()[1].overlays[0];
  EXPECT_EQ(o.position, 110);
  EXPECT_EQ(o.length, 30);
  EXPECT_EQ(o.effect_id, 6);
  EXPECT_EQ(o.kind, 12);
  EXPECT_STREQ(o.get_image_file(), "/pics/logo.bmp");
  EXPECT_EQ(m.info(), "\"Keying Title Image\":  offset = 10,  length = 30,  image = BMP");

  // A refused picture keeps the one chosen before.
  m.take_image("/pics/movie.mpg");
  EXPECT_EQ(m.image_file, "/pics/logo.bmp");
}

TEST_F(EffectTest, AClipsEffectsAreReadBack) {
  clips[1].transition_id = 5;
  clips[1].transition_length = 12;
  clips[1].insert_overlay(8, 105, 10);  // Beginning Fade
  clips[1].insert_overlay(9, 150, 20);  // Ending Fade, later: it wins
  auto title = OverlayClip::with_image("/p/t.jpg", 11, 120, 5, 7);
  ASSERT_TRUE(title);
  clips[1].add_overlay_record(*title);
  m.set_clips(&clips);
  open(1, kTransitionTab);
  EXPECT_EQ(m.rows()[size_t(m.applied_row())].name, "Zoom Circle");
  EXPECT_EQ(m.length_text(), "12");
  m.select_tab(kOverlayTab);
  EXPECT_EQ(m.rows()[size_t(m.selected_row())].name, "Color Keying Title Image");
  EXPECT_EQ(m.info(), "\"Color Keying Title Image\":  offset = 20,  length = 5,  image = JPEG");
  m.select_tab(kFilterTab);
  EXPECT_EQ(m.rows()[size_t(m.applied_row())].name, "Ending Fade");
  EXPECT_EQ(m.offset_text(), "50");
  EXPECT_EQ(m.length_text(), "20");
  // Another clip shows none of them.
  m.select_clip(2);
  EXPECT_EQ(m.applied_row(), 0);
  EXPECT_EQ(m.image_kind, 0);
}

TEST_F(EffectTest, OverlaysMoveOnUpdateUnlessTheyWouldOverlap) {
  open(0, kFilterTab);
  m.pick_row(row_named(m, "Beginning Fade"));
  m.length_edited("30");
  m.add();
  m.select_tab(kOverlayTab);
  m.pick_row(row_named(m, "Keying Title Image"));  // the dialog cancelled: no picture
  m.offset_edited("100");
  m.length_edited("20");
  m.add();
  ASSERT_EQ(m.copy()[0].overlays.size(), 2u);
  EXPECT_EQ(m.copy()[0].overlays[1].kind, 0);

  m.offset_edited("40");  // clear of the fade
  m.update();
  EXPECT_EQ(m.copy()[0].overlays[1].position, 40);
  m.offset_edited("10");  // onto the fade: refused, the title stays
  m.update();
  ASSERT_EQ(m.copy()[0].overlays.size(), 2u);
  EXPECT_EQ(m.copy()[0].overlays[1].position, 40);
  EXPECT_EQ(m.info(), "\"Keying Title Image\":   offset = 40,   length = 20");

  m.remove();
  ASSERT_EQ(m.copy()[0].overlays.size(), 1u);
  EXPECT_EQ(m.copy()[0].overlays[0].effect_id, 8);
}

TEST_F(EffectTest, OkWritesBackTheChangedClipsCancelNothing) {
  const std::vector<Clip> before = clips;
  open(1, kTransitionTab);
  m.pick_row(row_named(m, "Blend"));
  m.add();
  m.select_tab(kFilterTab);
  m.pick_row(row_named(m, "Ending Fade"));
  m.add();
  for (size_t i = 0; i < clips.size(); ++i) EXPECT_FALSE(clips[i] != before[i]) << "cancelled " << i;

  m.ok();
  EXPECT_EQ(clips[1].transition_id, 4);
  EXPECT_EQ(clips[1].overlays.size(), 1u);
  EXPECT_FALSE(clips[0] != before[0]);
  EXPECT_FALSE(clips[2] != before[2]);
}

TEST_F(EffectTest, WithoutClipsNothingHappens) {
  std::vector<Clip> none;
  m.set_clips(&none);
  m.start();
  m.pick_row(1);
  m.add();
  m.all();
  m.offset_edited("5");
  m.ok();
  EXPECT_EQ(m.clip_count(), 0);
  EXPECT_FALSE(m.buttons().add || m.buttons().remove);
  EXPECT_EQ(m.info(), "\"None\":   offset = 0,   length = 0");
  EXPECT_TRUE(none.empty());
}

}  // namespace
