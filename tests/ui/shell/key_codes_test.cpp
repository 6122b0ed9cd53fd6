// One table between Qt's keys and the virtual-key codes the key maps
// store.
#include <gtest/gtest.h>

#include <Qt>

#include "ui/shell/key_codes.h"

namespace {

TEST(KeyCodes, QtKeysToVirtualKeys) {
  const struct {
    int qt;
    int vk;
  } cases[] = {
      {Qt::Key_A, 'A'},          {Qt::Key_Z, 'Z'},          {Qt::Key_0, '0'},          {Qt::Key_9, '9'},
      {Qt::Key_F1, 0x70},        {Qt::Key_F7, 0x76},        {Qt::Key_F24, 0x87},       {Qt::Key_Left, 0x25},
      {Qt::Key_Up, 0x26},        {Qt::Key_Right, 0x27},     {Qt::Key_Down, 0x28},      {Qt::Key_Home, 0x24},
      {Qt::Key_End, 0x23},       {Qt::Key_PageUp, 0x21},    {Qt::Key_PageDown, 0x22},  {Qt::Key_Space, 0x20},
      {Qt::Key_Delete, 0x2E},    {Qt::Key_Insert, 0x2D},    {Qt::Key_Return, 0x0D},    {Qt::Key_Escape, 0x1B},
      {Qt::Key_BracketLeft, 219}, {Qt::Key_Backslash, 220}, {Qt::Key_BracketRight, 221}, {Qt::Key_Period, 0xBE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(vk_from_qt_key(c.qt), c.vk) << std::hex << c.qt;
    EXPECT_EQ(qt_key_from_vk(c.vk), c.qt) << std::hex << c.vk;
  }
  EXPECT_EQ(vk_from_qt_key(Qt::Key_Enter), 0x0D);
  EXPECT_EQ(qt_key_from_vk(0x0D), Qt::Key_Return);
  EXPECT_EQ(vk_from_qt_key(Qt::Key_Launch0), 0);
  EXPECT_EQ(qt_key_from_vk(0xFF), 0);
}

TEST(KeyCodes, EveryMappedCodeComesBack) {
  for (int vk = 1; vk < 256; ++vk) {
    const int qt = qt_key_from_vk(vk);
    if (qt) EXPECT_EQ(vk_from_qt_key(qt), vk) << vk;
  }
}

}  // namespace
