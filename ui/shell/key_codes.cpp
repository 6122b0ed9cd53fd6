#include "ui/shell/key_codes.h"

#include <Qt>

namespace {

struct KeyPair {
  int qt;
  int vk;
};

// Letters and digits are their upper-case characters in both; the rest
// one by one. "[", "\" and "]" are the OEM codes 219, 220 and 221.
const KeyPair kKeys[] = {
    {Qt::Key_Backspace, 0x08}, {Qt::Key_Tab, 0x09},        {Qt::Key_Return, 0x0D},
    {Qt::Key_Enter, 0x0D},     {Qt::Key_Shift, 0x10},      {Qt::Key_Control, 0x11},
    {Qt::Key_Alt, 0x12},       {Qt::Key_Pause, 0x13},      {Qt::Key_CapsLock, 0x14},
    {Qt::Key_Escape, 0x1B},    {Qt::Key_Space, 0x20},      {Qt::Key_PageUp, 0x21},
    {Qt::Key_PageDown, 0x22},  {Qt::Key_End, 0x23},        {Qt::Key_Home, 0x24},
    {Qt::Key_Left, 0x25},      {Qt::Key_Up, 0x26},         {Qt::Key_Right, 0x27},
    {Qt::Key_Down, 0x28},      {Qt::Key_Print, 0x2C},      {Qt::Key_Insert, 0x2D},
    {Qt::Key_Delete, 0x2E},    {Qt::Key_Help, 0x2F},       {Qt::Key_Semicolon, 0xBA},
    {Qt::Key_Equal, 0xBB},     {Qt::Key_Plus, 0xBB},       {Qt::Key_Comma, 0xBC},
    {Qt::Key_Minus, 0xBD},     {Qt::Key_Period, 0xBE},     {Qt::Key_Slash, 0xBF},
    {Qt::Key_QuoteLeft, 0xC0}, {Qt::Key_BracketLeft, 0xDB}, {Qt::Key_Backslash, 0xDC},
    {Qt::Key_BracketRight, 0xDD}, {Qt::Key_Apostrophe, 0xDE},
};

}  // namespace

int vk_from_qt_key(int qt_key) {
  if (qt_key >= Qt::Key_A && qt_key <= Qt::Key_Z) return 'A' + (qt_key - Qt::Key_A);
  if (qt_key >= Qt::Key_0 && qt_key <= Qt::Key_9) return '0' + (qt_key - Qt::Key_0);
  if (qt_key >= Qt::Key_F1 && qt_key <= Qt::Key_F24) return 0x70 + (qt_key - Qt::Key_F1);
  for (const auto& k : kKeys)
    if (k.qt == qt_key) return k.vk;
  return 0;
}

int qt_key_from_vk(int vk) {
  if (vk >= 'A' && vk <= 'Z') return Qt::Key_A + (vk - 'A');
  if (vk >= '0' && vk <= '9') return Qt::Key_0 + (vk - '0');
  if (vk >= 0x70 && vk <= 0x87) return Qt::Key_F1 + (vk - 0x70);
  // The first pair of a code is its Qt key (Return before Enter).
  for (const auto& k : kKeys)
    if (k.vk == vk) return k.qt;
  return 0;
}
