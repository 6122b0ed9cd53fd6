#include "ui/shell/dib_image.h"

#include <cstring>

#include "picture/bmp.h"

QImage dib_to_image(const BitmapInfo* info, const uint8_t* bits) {
  if (!info || !bits) return {};
  const BitmapInfoHeader& h = info->header;
  const int width = h.biWidth;
  const bool bottom_up = h.biHeight > 0;
  const int height = bottom_up ? h.biHeight : -h.biHeight;
  if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return {};
  QImage::Format format;
  switch (h.biBitCount) {
    case 8:
      format = QImage::Format_Indexed8;
      break;
    case 16: {
      // Bit fields follow the header as three masks; 5-6-5 has green 0x07E0.
      uint32_t green = 0x03E0;
      if (h.biCompression == 3) std::memcpy(&green, reinterpret_cast<const uint8_t*>(info->colors) + 4, 4);
      format = green == 0x07E0 ? QImage::Format_RGB16 : QImage::Format_RGB555;
      break;
    }
    case 24:
      format = QImage::Format_BGR888;
      break;
    case 32:
      format = QImage::Format_RGB32;
      break;
    default:
      return {};
  }
  const int stride = bmp_get_bytes_per_line(h.biBitCount, width);
  if (stride <= 0) return {};
  QImage image(width, height, format);
  if (image.isNull()) return {};
  const int row_bytes = (width * h.biBitCount + 7) / 8;
  for (int y = 0; y < height; ++y) {
    const uint8_t* src = bits + size_t(bottom_up ? height - 1 - y : y) * size_t(stride);
    std::memcpy(image.scanLine(y), src, size_t(row_bytes));
  }
  if (h.biBitCount == 8) {
    const uint32_t used = h.biClrUsed && h.biClrUsed <= 256 ? h.biClrUsed : 256;
    QList<QRgb> table(256, qRgb(0, 0, 0));
    for (uint32_t i = 0; i < used; ++i)
      table[int(i)] = qRgb(info->colors[i].red, info->colors[i].green, info->colors[i].blue);
    image.setColorTable(table);
  }
  return image;
}
