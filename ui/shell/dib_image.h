// A copy of the engine's display bitmap as a QImage: 8 bits with the
// header's colour table, 16 bits as 5-5-5 (or the 5-6-5 of bit fields),
// 24 bits as blue-green-red; bottom-up rows come out top-down.
#pragma once

#include <QImage>

struct BitmapInfo;

// A null image for a missing or unsupported bitmap.
QImage dib_to_image(const BitmapInfo* info, const uint8_t* bits);
