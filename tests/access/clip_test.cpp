// Clip records: type names, overlay placement rules, deep copies.
#include <gtest/gtest.h>

#include "access/clip.h"
#include "support/support.h"

namespace {

TEST(ClipRecord, TypeNamesAndPredicates) {
  EXPECT_STREQ(Clip::get_clip_name(2), "MPEG-1 Video Stream");
  EXPECT_STREQ(Clip::get_clip_name(8), "MPEG-2 Transport Stream");
  EXPECT_STREQ(Clip::get_clip_name(14), "AVI DIB (RGB) Sequence");
  tsupport::TraceCapture trace;
  EXPECT_STREQ(Clip::get_clip_name(0), "Unknown");
  EXPECT_STREQ(Clip::get_clip_name(15), "Unknown");
  EXPECT_TRUE(trace.contains("Clip::get_clip_name (ERROR): invalid clip type=15\n"));
  for (int t = 0; t <= 15; ++t) {
    EXPECT_EQ(Clip::is_mpeg_video_type(t), t >= 2 && t <= 8) << t;
    EXPECT_EQ(Clip::is_not_mpeg_video_type(t), !(t >= 2 && t <= 8)) << t;
  }
  Clip c;
  EXPECT_EQ(c.first_time_code, 4096u);
  ClipInfo info;
  EXPECT_EQ(info.chroma, 1);
  EXPECT_EQ(info.ac3_language, -1);
  EXPECT_EQ(info.ac3_language2, -1);
}

TEST(ClipRecord, OverlayPlacement) {
  Clip c;
  c.start = 0;
  c.count = 100;
  ASSERT_EQ(c.insert_overlay(9, 10, 10), 1);
  struct Case {
    int position, length, accepted;
  } cases[] = {{15, 3, 0}, {5, 6, 0}, {5, 5, 0}, {5, 4, 1}, {99, 1, 1}, {100, 1, 0}, {50, 0, 0}, {-1, 2, 0}};
  for (const Case& k : cases) {
    Clip d = c;
    EXPECT_EQ(d.insert_overlay(8, k.position, k.length), k.accepted) << k.position << "+" << k.length;
  }
  // Kept sorted by position.
  ASSERT_EQ(c.insert_overlay(8, 40, 5), 1);
  ASSERT_EQ(c.insert_overlay(8, 2, 3), 1);
  int n = 0;
  const OverlayClip* list = c.get_field_pair(&n);
  ASSERT_EQ(n, 3);
  EXPECT_EQ(list[0].position, 2);
  EXPECT_EQ(list[1].position, 10);
  EXPECT_EQ(list[2].position, 40);
  EXPECT_EQ(c.remove_overlay_at(12), 10);
  EXPECT_EQ(c.remove_overlay_at(-1), 0);
  c.get_field_pair(&n);
  EXPECT_EQ(n, 0);
}

TEST(ClipRecord, CopiesAreDeepAndCompared) {
  MPEG_Clip a;
  a.clip_type = 3;
  a.set_file_name("/tmp/a.m2v");
  a.set_range(37, 412);
  a.insert_overlay(9, 40, 10);
  MPEG_Clip b;
  b = a;
  EXPECT_TRUE(a.equals(b));
  EXPECT_EQ(b.end_frame(), 412);
  b.overlays[0].length = 5;
  EXPECT_FALSE(a.equals(b));
  EXPECT_EQ(a.overlays[0].length, 10);
  b = a;
  b.set_file_name("/tmp/b.m2v");
  EXPECT_TRUE(a != b);
}

TEST(ClipRecord, OverlayImageMustBeAPicture) {
  const std::string dir = tsupport::temp_dir();
  const std::string text = dir + "/note.txt";
  ASSERT_TRUE(tsupport::write_file(text, {'h', 'e', 'l', 'l', 'o', '\n'}));
  OverlayClip o;
  EXPECT_EQ(o.set_image_file(text.c_str()), 1);
  EXPECT_EQ(o.kind, 0);
  EXPECT_EQ(o.get_image_file(), nullptr);
  EXPECT_FALSE(OverlayClip::with_image(text.c_str(), 0, 5, 10, 7));
  const auto made = OverlayClip::with_image(tsupport::fixture("fa_title.bmp").c_str(), 0, 5, 10, 7);
  ASSERT_TRUE(made);
  const OverlayClip& t = *made;
  EXPECT_EQ(t.kind, 12);
  EXPECT_EQ(t.effect_span, 10);
  OverlayClip u = t;
  EXPECT_TRUE(u.equals(t));
  EXPECT_STREQ(u.get_image_file(), t.get_image_file());
}

}  // namespace
