// Windows device-independent bitmap held in memory: header with colour map
// and pixel rows. Loads and saves uncompressed .bmp files, converts bitmaps
// to planar YCbCr and receives converted frames.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/plane_utils.h"

class Frame;

// The 40-byte BITMAPINFOHEADER, little-endian in files.
struct BitmapInfoHeader {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // negative: top-down rows in a file
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BitmapInfoHeader) == 40, "BITMAPINFOHEADER is 40 bytes");

struct RGBQuad {
  uint8_t blue, green, red, reserved;
};

// Header block of 1068 bytes: the header and room for 257 colour entries.
struct BitmapInfo {
  BitmapInfoHeader header;
  RGBQuad colors[257];
};
static_assert(sizeof(BitmapInfo) == 1068, "header block is 1068 bytes");

// Largest pixel block and picture a file may declare; beyond them the file
// is refused.
constexpr uint64_t kBmpMaxPixelBytes = 256u << 20;
constexpr uint64_t kBmpMaxPixels = 1u << 26;  // 8192 x 8192

// Bytes of one pixel row padded to 4 bytes; 0 (with a trace) for depths
// other than 1, 4, 8, 16, 24, 32.
int bmp_get_bytes_per_line(int bits, int width);
// biClrUsed when non-zero, else 2^biBitCount.
uint32_t bmp_get_color_count(const BitmapInfoHeader& h);
// The header frames are converted with: size 40, width, height, 1 plane,
// the depth, no compression, 3937 pixels per metre, 256 colours used at 8
// bits with the fixed YCbCr palette.
void bmp_fill_dib_header(BitmapInfo* info, int bits, int width, int height);
// A new header so filled in *slot; 1 (traced under who) when one is there
// already or memory is short.
int bmp_new_dib_header(BitmapInfo** slot, const char* who, int bits, int width, int height);
// The fixed 256-entry palette of 16 luminance x 4 Cb x 4 Cr levels.
void bmp_yuv_palette(RGBQuad* colors);
// One RGB triple to limited-range Y, Cb, Cr.
void rgb_to_ycbcr(int r, int g, int b, uint8_t* y, uint8_t* cb, uint8_t* cr);

class BMP {
 public:
  BMP() = default;
  ~BMP();
  BMP(const BMP&) = delete;
  BMP& operator=(const BMP&) = delete;

  void reset();

  int init_dib_header(int bits, int width, int height);
  int set_dib_header(const BitmapInfo* info);
  int init_dib_data();
  int init_dib_data_buffer(size_t size);
  int set_dib_data(uint8_t* data, size_t size);

  int get_width() const;
  int get_height() const;
  int get_bits_per_pixel() const;
  int get_compression() const;
  int get_bytes_per_line() const;
  size_t get_dib_data_size() const;
  uint32_t get_bmap_offbits() const;
  uint32_t get_bmap_size() const;
  uint8_t* get_dib_data(int* width = nullptr, int* height = nullptr, size_t* size = nullptr) const;
  BitmapInfo* get_dib_header() const { return dib_header; }

  // File length on success, 0 on failure (the previous header is kept).
  long long load(const char* name);
  // bfSize on success, 0 on failure (a partial file is removed).
  long long save(const char* name, int bottom_up);
  // 40 on success, 0 on failure.
  int read_dib_header(const uint8_t* bytes, size_t length);

  // Converts the bitmap into planar YCbCr at the destination's area; returns
  // the pixel bytes used, 0 on failure.
  long long rgb2yuv(const YuvPlanes& dst, int bottom_up, int centre);
  // New array of 2^bits (Y, Cb, Cr) triples for palette depths; null above 8.
  uint8_t* get_yuv_cmap(int* count) const;

  // Frame-facing operations.
  long long rgb2yuv_420(Frame* frame, int bottom_up, int centre);
  int set_from_frame(Frame* frame, int bits, int flag);

  BitmapInfo* dib_header = nullptr;
  uint8_t* dib_data = nullptr;
  long long dib_data_owned = 0;  // bytes allocated here; 0 when borrowed
  char* file_name = nullptr;

 private:
  void clear_name();
};

// Loads a bitmap file into a new 4:2:0 frame of its size (the caller owns
// it); null on failure.
Frame* load_bmp_image(const char* name);
