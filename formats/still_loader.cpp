#include "formats/still_loader.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "formats/avi.h"
#include "picture/bmp.h"
#include "formats/jpeg_decoder.h"
#include "formats/qt_decoder.h"
#include "foundation/trace.h"

YuvPlanes StillPicture::allocate(int w, int h) {
  width = height = 0;
  yuv.clear();
  if (w <= 0 || h <= 0) return planes();
  const size_t ys = static_cast<size_t>(w) * h;
  const size_t cs = static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
  try {
    yuv.assign(ys + 2 * cs, 0);
  } catch (const std::bad_alloc&) {
    trace("StillPicture::allocate (ERROR): out of memory (%d x %d)\n", w, h);
    return planes();
  }
  width = w;
  height = h;
  std::memset(yuv.data() + ys, 128, 2 * cs);
  return planes();
}

YuvPlanes StillPicture::planes() {
  YuvPlanes p;
  if (yuv.empty()) return p;
  const size_t ys = static_cast<size_t>(width) * height;
  const size_t cs = static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
  p.y = yuv.data();
  p.cb = p.y + ys;
  p.cr = p.cb + cs;
  p.width = width;
  p.height = height;
  p.y_stride = width;
  p.c_stride = (width + 1) / 2;
  p.chroma_format = 1;
  return p;
}

static int load_bmp_still(const char* name, StillPicture* out) {
  BMP bmp;
  if (!bmp.load(name)) return 0;
  const YuvPlanes p = out->allocate(bmp.get_width(), bmp.get_height());
  if (!p.y || !bmp.rgb2yuv(p, 0, 1)) {
    *out = StillPicture{};
    return 0;
  }
  out->clip_type = 12;
  return 12;
}

int load_still_picture(const char* name, StillPicture* out) {
  if (!name || !out) return 0;
  *out = StillPicture{};
  uint8_t magic[16] = {};
  FILE* f = std::fopen(name, "rb");
  if (!f) {
    trace("load_still_picture (ERROR): <%s>: cannot open to read\n", name);
    return 0;
  }
  const size_t n = std::fread(magic, 1, sizeof magic, f);
  std::fclose(f);
  if (n >= 2 && magic[0] == 'B' && magic[1] == 'M') return load_bmp_still(name, out);
  if (n >= 2 && magic[0] == 0xFF && magic[1] == 0xD8) return jpeg_load_still(name, out);
  if (n >= 12 && !std::memcmp(magic, "RIFF", 4) && !std::memcmp(magic + 8, "AVI ", 4)) return avi_load_still(name, out);
  if (const int type = qt_load_still(name, out)) return type;
  trace("load_still_picture (ERROR): <%s>: unknown picture format\n", name);
  return 0;
}
