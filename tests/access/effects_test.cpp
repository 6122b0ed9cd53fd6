// Effect registry and the picture operations on small synthetic pictures.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "access/effects.h"
#include "picture/image.h"
#include "support/support.h"

namespace {

std::unique_ptr<Image> flat(int w, int h, int y, int c, int chroma = 1) {
  auto im = std::make_unique<Image>(w, h, chroma, 0);
  std::memset(im->get_y(), y, size_t(im->y_size()));
  std::memset(im->get_u(), c, size_t(im->c_size()));
  std::memset(im->get_v(), c, size_t(im->c_size()));
  return im;
}

uint8_t Y(const Image& im, int x, int y) { return im.get_y()[y * im.y_stride() + x]; }
uint8_t U(const Image& im, int x, int y) { return im.get_u()[y * im.c_stride() + x]; }

TEST(EffectRegistry, IdsNamesAndKinds) {
  const char* expected[] = {"None",  "Wipe Horizontal", "Wipe Vertical", "Wipe Rotate", "Blend", "Zoom Circle",
                            "Keying Title Image", "Color Keying Title Image", "Beginning Fade", "Ending Fade"};
  ASSERT_GE(effect_op_get_count(), 10);
  for (int id = 0; id < 10; ++id) {
    EXPECT_STREQ(effect_op_get_name(id), expected[id]);
    char name[512] = {};
    const unsigned kind = effect_op_get(id)(0, 0, nullptr, nullptr, nullptr, name, 0, 0);
    EXPECT_EQ(kind, (id >= 1 && id <= 5) ? 2u : 1u) << id;
  }
  EXPECT_STREQ(effect_op_get_name(-1), "Invalid OP ID");
  EXPECT_STREQ(effect_op_get_name(effect_op_get_count()), "Invalid OP ID");
  EXPECT_EQ(effect_op_get(-1), nullptr);
  EXPECT_EQ(effect_op_check_id(0), 0);
  EXPECT_EQ(effect_op_check_id(4), 4);
  EXPECT_TRUE(effect_op_is_title(6));
  EXPECT_TRUE(effect_op_is_title(7));
  EXPECT_FALSE(effect_op_is_title(8));
  EXPECT_EQ(op_name_next_number("Blend"), "Blend 2");
  EXPECT_EQ(op_name_next_number("Blend 2"), "Blend  3");  // the old blank stays
  EXPECT_EQ(op_name_next_number("X 9"), "X  10");
}

unsigned other_blend(int, int, Image*, Image*, Image*, char* name, int, int) {
  if (name) std::strcpy(name, "Blend");
  return 2;
}

TEST(EffectRegistry, DuplicateNamesGetANumber) {
  EffectOPManager m;
  const int id = m.add_op(other_blend, 0);
  ASSERT_EQ(id, 10);
  EXPECT_EQ(m.entry(id)->name, "Blend 2");
  tsupport::TraceCapture trace;
  EXPECT_EQ(m.add_op(effect_blend, 0), -1);  // same function, kind and name
  EXPECT_EQ(m.add_op(nullptr, 0), -1);
  EXPECT_TRUE(trace.contains("EffectOPManager::add_op (ERROR): invalid input parameters: op_func=nil\n"));
}

TEST(EffectOps, BlendFadeAndWipeArithmetic) {
  auto src = flat(352, 288, 200, 60);
  auto dst = flat(352, 288, 40, 180);
  auto out = flat(352, 288, 0, 0);
  // Position 0 of 9: f = 0.1, a = 25.
  effect_blend(0, 9, out.get(), src.get(), dst.get(), nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 10, 10), (200 * 231 + 40 * 25 + 128) >> 8);
  effect_blend(9, 9, out.get(), src.get(), dst.get(), nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 10, 10), 40);
  EXPECT_EQ(U(*out, 10, 10), 180);
  // Horizontal wipe at 4 of 9: 176 of 352 pels from the destination.
  effect_wipe_horizontal(4, 9, out.get(), src.get(), dst.get(), nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 175, 100), 40);
  EXPECT_EQ(Y(*out, 176, 100), 200);
  EXPECT_EQ(U(*out, 87, 50), 180);
  EXPECT_EQ(U(*out, 88, 50), 60);
  // Beginning fade at 0 of 10: a = 3; ending fade at 10 of 10 likewise.
  auto pic = flat(64, 64, 200, 228);
  effect_fade_beginning(0, 10, out.get(), pic.get(), nullptr, nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 32 + 144, 32 + 112), (200 * 3) >> 8);
  EXPECT_EQ(U(*out, 72 + 16, 56 + 16), ((100 * 3) >> 8) + 128);
  // Bad positions leave the output alone.
  tsupport::TraceCapture trace;
  std::memset(out->get_y(), 7, size_t(out->y_size()));
  effect_blend(11, 10, out.get(), src.get(), dst.get(), nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 0, 0), 7);
  EXPECT_TRUE(trace.contains("ERROR (effect_blend): offset=11 (10=length)\n"));
  EXPECT_EQ(effect_zoom(0, 0, out.get(), src.get(), dst.get(), nullptr, 0, 0), 0u);
}

TEST(EffectOps, ColourKeyingKeepsTheBackgroundWhereTheTitleHasTheKey) {
  auto title = flat(64, 64, 16, 128);
  // A bright square in the middle of the key-coloured title.
  for (int y = 20; y < 40; ++y) std::memset(title->get_y() + y * title->y_stride() + 20, 235, 20);
  auto out = flat(64, 64, 90, 100);
  effect_color_keying_title((16 << 16) | (128 << 8) | 128, 0, out.get(), title.get(), nullptr, nullptr, 0, 0);
  EXPECT_EQ(Y(*out, 30, 30), 235);
  EXPECT_EQ(Y(*out, 5, 5), 90);
  EXPECT_EQ(U(*out, 5, 5), 100);
}

}  // namespace
