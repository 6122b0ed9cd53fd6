#include "picture/dither.h"

#include <new>

#include "picture/image.h"
#include "picture/yuv2rgb.h"
#include "foundation/trace.h"

std::atomic<int> Dither::obj_count{0};

Dither::Dither(int width, int height, int bits) {
  if (init(width, height, bits) == 0) {
    ++obj_count;
    counted_ = true;
  }
}

int Dither::init(int width, int height, int bits) {
  if (bmp_new_dib_header(&dib_header, "Dither::init", bits, width, height)) return 1;
  return init_cmap(bits) ? 0 : 1;
}

int Dither::init_cmap(int bits) {
  delete[] cmap;
  cmap = nullptr;
  if (!dib_header) return 0;
  switch (bits) {
    case 8:
      dib_header->header.biBitCount = 8;
      dither_tables_init();
      cmap = yuv2rgb_8bit_cmap(dib_header);
      return cmap ? 8 : 0;
    case 16:
    case 24:
    case 32:
      dib_header->header.biBitCount = static_cast<uint16_t>(bits);
      yuv2rgb_tables_init();
      return bits;
    default:
      trace("Dither::init_cmap (ERROR): %d-bit colors is NOT supported\n", bits);
      return 0;
  }
}

void Dither::cleanup() {
  delete dib_header;
  delete[] cmap;
  dib_header = nullptr;
  cmap = nullptr;
  if (counted_) {
    counted_ = false;
    if (--obj_count == 0) yuv2rgb_tables_release();
  }
}

int Dither::get_dib_header_size() const {
  if (!dib_header) return 1068;
  const int bits = dib_header->header.biBitCount;
  return bits > 8 ? 44 : 44 + (4 << bits);
}

static int prepare_bitmap(const Dither& d, BMP* bitmap) {
  if (!bitmap->dib_header && (!d.dib_header || bitmap->set_dib_header(d.dib_header))) return 1;
  if (!bitmap->dib_data && bitmap->set_dib_data(nullptr, 0)) return 1;
  return 0;
}

// The whole padded picture: the bitmap takes what fits.
static YuvPlanes whole_picture(const Image* image) {
  YuvPlanes p = image->planes();
  p.width = image->padded_width;
  p.height = image->padded_height;
  return p;
}

int Dither::dither(const Image* image, BMP* bitmap, int flip) {
  if (!image || !bitmap || !image->buffer) {
    trace("Dither::dither (ERROR): no input (nil pointers)\n");
    return 1;
  }
  if (prepare_bitmap(*this, bitmap)) return 1;
  if (bitmap->get_bits_per_pixel() == 8) return yuv2rgb_8bit_planes(whole_picture(image), bitmap, flip, -1);
  return yuv2rgb_planes(whole_picture(image), bitmap, flip, 0);
}

int Dither::dither_field(int field, const Image* image, BMP* bitmap, int flip) {
  if (!image || !bitmap || !image->buffer) {
    trace("Dither::dither_field (ERROR): no input (nil pointers)\n");
    return 1;
  }
  if (prepare_bitmap(*this, bitmap)) return 1;
  if (bitmap->get_bits_per_pixel() == 8)
    return yuv2rgb_8bit_planes(whole_picture(image), bitmap, flip, field == 0 ? 0 : 1);
  return dither(image, bitmap, flip);
}
