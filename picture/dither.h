// Converter from a planar picture to bitmap pixels at 8, 16, 24 or 32 bits:
// owns the bitmap header (with the palette at 8 bits) and picks the kernel.
#pragma once

#include <atomic>
#include <cstdint>

#include "picture/bmp.h"

class Image;

class Dither {
 public:
  Dither(int width, int height, int bits);
  ~Dither() { cleanup(); }
  Dither(const Dither&) = delete;
  Dither& operator=(const Dither&) = delete;

  // 0 on success, 1 on failure.
  int init(int width, int height, int bits);
  // Returns the depth set up, 0 for an unsupported one.
  int init_cmap(int bits);
  void cleanup();
  int get_dib_header_size() const;
  BitmapInfo* get_dib_header() const { return dib_header; }
  const uint8_t* get_cmap() const { return cmap; }

  // Converts the whole picture into the bitmap (header and pixels made when
  // missing). flip: rows in bitmap order, bottom row first. 0 on success.
  int dither(const Image* image, BMP* bitmap, int flip);
  // One field at full height at 8 bits (0 bottom, other top); the whole
  // frame at other depths.
  int dither_field(int field, const Image* image, BMP* bitmap, int flip);

  // Live objects, process-wide.
  static std::atomic<int> obj_count;

  BitmapInfo* dib_header = nullptr;
  uint8_t* cmap = nullptr;

 private:
  bool counted_ = false;
};
