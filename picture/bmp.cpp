#include "picture/bmp.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/trace.h"
#include "foundation/partial_output.h"
#include "picture/dither.h"
#include "picture/frame.h"

// ---- RGB to YCbCr tables (1/16 units, linear ramps from 0) ----

namespace {

struct RgbTables {
  int16_t yr[256], yg[256], yb[256];
  int16_t ur[256], ug[256], ub[256];
  int16_t vr[256], vg[256], vb[256];
  RgbTables() {
    // Entry i = i x entry[255] / 255, truncated toward zero. BT.601
    // limited range for all three components, as the decoder's pictures
    // are: 16 x (65.481, 128.553, 24.966), (-37.797, -74.203, 112) and
    // (112, -93.786, -18.214).
    static const int end[9] = {1048, 2057, 399, -605, -1187, 1792, 1792, -1501, -291};
    int16_t* t[9] = {yr, yg, yb, ur, ug, ub, vr, vg, vb};
    for (int k = 0; k < 9; ++k)
      for (int i = 0; i < 256; ++i) t[k][i] = static_cast<int16_t>(i * end[k] / 255);
  }
};

const RgbTables& rgb_tables() {
  static const RgbTables t;
  return t;
}

inline uint8_t clamp8(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

bool write_all(FILE* f, const void* p, size_t n) { return n == 0 || std::fwrite(p, 1, n, f) == n; }

void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint16_t get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void header_from_bytes(const uint8_t* p, BitmapInfoHeader* h) {
  h->biSize = get32(p);
  h->biWidth = static_cast<int32_t>(get32(p + 4));
  h->biHeight = static_cast<int32_t>(get32(p + 8));
  h->biPlanes = get16(p + 12);
  h->biBitCount = get16(p + 14);
  h->biCompression = get32(p + 16);
  h->biSizeImage = get32(p + 20);
  h->biXPelsPerMeter = static_cast<int32_t>(get32(p + 24));
  h->biYPelsPerMeter = static_cast<int32_t>(get32(p + 28));
  h->biClrUsed = get32(p + 32);
  h->biClrImportant = get32(p + 36);
}

void header_to_bytes(const BitmapInfoHeader& h, uint8_t* p) {
  put32(p, h.biSize);
  put32(p + 4, static_cast<uint32_t>(h.biWidth));
  put32(p + 8, static_cast<uint32_t>(h.biHeight));
  put16(p + 12, h.biPlanes);
  put16(p + 14, h.biBitCount);
  put32(p + 16, h.biCompression);
  put32(p + 20, h.biSizeImage);
  put32(p + 24, static_cast<uint32_t>(h.biXPelsPerMeter));
  put32(p + 28, static_cast<uint32_t>(h.biYPelsPerMeter));
  put32(p + 32, h.biClrUsed);
  put32(p + 36, h.biClrImportant);
}

// Rows x bytes per line, or 0 when the geometry is unusable or too large.
uint64_t pixel_bytes(const BitmapInfoHeader& h) {
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return 0;
  const int bpl = bmp_get_bytes_per_line(h.biBitCount, h.biWidth);
  if (bpl <= 0) return 0;
  const uint64_t rows = static_cast<uint64_t>(h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight);
  const uint64_t n = rows * static_cast<uint64_t>(bpl);
  if (rows * static_cast<uint64_t>(h.biWidth) > kBmpMaxPixels) return 0;
  return n > kBmpMaxPixelBytes ? 0 : n;
}

}  // namespace

void rgb_to_ycbcr(int r, int g, int b, uint8_t* y, uint8_t* cb, uint8_t* cr) {
  const RgbTables& t = rgb_tables();
  *y = static_cast<uint8_t>((t.yr[r] + t.yg[g] + t.yb[b] + 264) >> 4);
  *cb = clamp8((t.ur[r] + t.ug[g] + t.ub[b] + 2056) >> 4);
  *cr = clamp8((t.vr[r] + t.vg[g] + t.vb[b] + 2056) >> 4);
}

int bmp_get_bytes_per_line(int bits, int width) {
  const long long w = width;
  long long n;
  switch (bits) {
    case 1: n = (w + 31) / 32 * 4; break;
    case 4: n = (w + 7) / 8 * 4; break;
    case 8: n = (w + 3) / 4 * 4; break;
    case 16: n = (w + 1) / 2 * 4; break;
    case 24: n = (3 * w + 3) / 4 * 4; break;
    case 32: n = 4 * w; break;
    default:
      trace("bmp_get_bytes_per_line (ERROR: %d): Unsupported bitmap color depth\n", bits);
      return 0;
  }
  if (n < 0 || n > 0x7fffffff) return 0;
  return static_cast<int>(n);
}

uint32_t bmp_get_color_count(const BitmapInfoHeader& h) {
  if (h.biClrUsed) return h.biClrUsed;
  return h.biBitCount >= 32 ? 0xffffffffu : (1u << h.biBitCount);
}

void bmp_yuv_palette(RGBQuad* colors) {
  for (int i = 0; i < 256; ++i) {
    // Luminance level minus the black level 16, as the direct-colour tables
    // do: without it the dithered picture is some 19 levels too bright.
    const double y = 1.1643835616438356 * ((i & 240) + 8 - 16);
    const double cb = (((i & 12) * 8 + 80) - 128) * 1.1383928571428572;
    const double cr = (((i & 3) * 32 + 80) - 128) * 1.1383928571428572;
    auto limit = [](double v) {
      const int t = static_cast<int>(v);  // toward zero
      return static_cast<uint8_t>(t < 0 ? 0 : (t > 255 ? 255 : t));
    };
    colors[i].red = limit(y + 1.402 * cr + 0.5);
    colors[i].green = limit(y - 0.34414 * cb - 0.71414 * cr + 0.5);
    colors[i].blue = limit(y + 1.772 * cb + 0.5);
    colors[i].reserved = 0;
  }
}

void bmp_fill_dib_header(BitmapInfo* info, int bits, int width, int height) {
  std::memset(info, 0, sizeof *info);
  BitmapInfoHeader& h = info->header;
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = static_cast<uint16_t>(bits);
  h.biXPelsPerMeter = h.biYPelsPerMeter = 3937;
  h.biClrUsed = bits == 8 ? 256 : 0;
  if (bits == 8) bmp_yuv_palette(info->colors);
}

// ---- BMP ----

BMP::~BMP() {
  clear_name();
  delete dib_header;
  if (dib_data_owned) delete[] dib_data;
  reset();
}

void BMP::reset() {
  dib_header = nullptr;
  dib_data = nullptr;
  dib_data_owned = 0;
  file_name = nullptr;
}

void BMP::clear_name() {
  std::free(file_name);
  file_name = nullptr;
}

int bmp_new_dib_header(BitmapInfo** slot, const char* who, int bits, int width, int height) {
  if (*slot) {
    trace("%s (Warning): DIB_Header exist\n", who);
    return 1;
  }
  *slot = new (std::nothrow) BitmapInfo;
  if (!*slot) {
    trace("%s (ERROR): out of memory\n", who);
    return 1;
  }
  bmp_fill_dib_header(*slot, bits, width, height);
  return 0;
}

int BMP::init_dib_header(int bits, int width, int height) {
  return bmp_new_dib_header(&dib_header, "BMP::init_dib_header", bits, width, height);
}

int BMP::set_dib_header(const BitmapInfo* info) {
  if (!info) {
    trace("BMP::set_dib_header (ERROR): nil input pointer\n");
    return 1;
  }
  if (!dib_header && init_dib_header(8, 0, 0)) return 1;
  if (info == dib_header) return 0;
  dib_header->header = info->header;
  const uint32_t count = bmp_get_color_count(info->header);
  if (count <= 256) std::memcpy(dib_header->colors, info->colors, count * sizeof(RGBQuad));
  clear_name();
  return 0;
}

int BMP::init_dib_data() {
  if (!dib_header) {
    trace("ERROR (BMP::init_dib_data): incorrect steps (dib-hdr = nil)\n");
    return 1;
  }
  const uint64_t bpl = static_cast<uint64_t>(get_bytes_per_line());
  const uint64_t rows = static_cast<uint64_t>((get_height() + 1) & ~1);
  const uint64_t size = bpl * rows;
  if (bpl == 0 || rows == 0 || size > kBmpMaxPixelBytes) return 1;
  if (dib_data && dib_data_owned) {
    if (static_cast<uint64_t>(dib_data_owned) >= size) {
      trace("ERROR (BMP::init_dib_data): already initialized (dib-data != nil)\n");
      return 1;
    }
    delete[] dib_data;
    dib_data = nullptr;
    dib_data_owned = 0;
  }
  return init_dib_data_buffer(static_cast<size_t>(size));
}

int BMP::init_dib_data_buffer(size_t size) {
  if (dib_data && dib_data_owned) {
    trace("BMP::init_dib_data_buffer (ERROR): initialized\n");
    return 1;
  }
  dib_data = new (std::nothrow) uint8_t[size + 32]();
  if (!dib_data) {
    dib_data_owned = 0;
    trace("BMP::init_dib_data_buffer (ERROR): out of memory\n");
    return 1;
  }
  dib_data_owned = static_cast<long long>(size + 32);
  return 0;
}

int BMP::set_dib_data(uint8_t* data, size_t size) {
  if (!data) return init_dib_data();
  if (size < get_dib_data_size()) {
    trace("BMP::set_dib_data (ERROR: %d < %d): input data size too small\n", static_cast<int>(size),
          static_cast<int>(get_dib_data_size()));
    return 1;
  }
  if (dib_data_owned) delete[] dib_data;
  dib_data = data;
  dib_data_owned = 0;
  clear_name();
  return 0;
}

int BMP::get_width() const {
  if (!dib_header) {
    trace("BMP::get_width (ERROR): BITMAPINFO hasn't initialized\n");
    return 0;
  }
  return dib_header->header.biWidth;
}

int BMP::get_height() const {
  if (!dib_header) {
    trace("BMP::get_height (ERROR): BITMAPINFO hasn't initialized\n");
    return 0;
  }
  const int32_t h = dib_header->header.biHeight;
  return h == INT32_MIN ? 0 : (h < 0 ? -h : h);
}

int BMP::get_bits_per_pixel() const {
  if (!dib_header) {
    trace("BMP::get_bits_per_pixel (ERROR): dib-header=nil\n");
    return 0;
  }
  return dib_header->header.biBitCount;
}

int BMP::get_compression() const { return dib_header ? static_cast<int>(dib_header->header.biCompression) : 1; }

int BMP::get_bytes_per_line() const {
  if (!dib_header) {
    trace("BMP::get_bytes_per_line (ERROR): dib-header=nil\n");
    return 0;
  }
  return bmp_get_bytes_per_line(dib_header->header.biBitCount, dib_header->header.biWidth);
}

size_t BMP::get_dib_data_size() const {
  if (!dib_header) return 0;
  return static_cast<size_t>(get_bytes_per_line()) * static_cast<size_t>(get_height());
}

// Colour entries a written file carries: the whole map at palette depths,
// so that bfOffBits points past it.
static uint32_t colors_written(const BitmapInfoHeader& h) {
  const uint32_t n = bmp_get_color_count(h);
  return n <= 256 ? n : 0;
}

uint32_t BMP::get_bmap_offbits() const {
  if (!dib_header) return 0;
  return 54 + 4 * colors_written(dib_header->header);
}

uint32_t BMP::get_bmap_size() const {
  if (!dib_header) return 0;
  return get_bmap_offbits() + static_cast<uint32_t>(get_dib_data_size());
}

uint8_t* BMP::get_dib_data(int* width, int* height, size_t* size) const {
  if (dib_header && dib_data) {
    if (width) *width = get_width();
    if (height) *height = get_height();
    if (size) *size = get_dib_data_size();
  }
  return dib_data;
}

long long BMP::load(const char* name) {
  if (!name) {
    trace("BMP::load (ERROR): fname=nil\n");
    return 0;
  }
  FILE* f = std::fopen(name, "rb");
  if (!f) {
    trace("BMP::load (ERROR: fopen (rb)): <%s>\n", name);
    return 0;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, std::fclose);
  if (std::fseek(f, 0, SEEK_END) != 0) return 0;
  const long long length = std::ftell(f);
  if (length < 54 || std::fseek(f, 0, SEEK_SET) != 0) return 0;
  uint8_t head[54];
  if (std::fread(head, 1, 54, f) != 54) return 0;
  if (head[0] != 'B' || head[1] != 'M' || get32(head + 6) != 0) return 0;
  const uint32_t off_bits = get32(head + 10);
  const uint32_t file_size = get32(head + 2);
  BitmapInfoHeader h;
  header_from_bytes(head + 14, &h);

  if (h.biSize != 40 || h.biPlanes != 1 || h.biCompression != 0 || h.biClrUsed > 256) return 0;
  if (h.biClrUsed && (static_cast<long long>(off_bits) - 54) / 4 != h.biClrUsed) return 0;
  const uint64_t data_bytes = pixel_bytes(h);
  if (data_bytes == 0) {
    trace("BMP::load (ERROR): unusable geometry %d x %d x %d: <%s>\n", h.biWidth, h.biHeight, h.biBitCount, name);
    return 0;
  }
  if (h.biSizeImage < 1) h.biSizeImage = file_size - off_bits;

  // Build the new state aside; the object changes only on success.
  BMP loaded;
  if (loaded.init_dib_header(8, 0, 0)) return 0;
  loaded.dib_header->header = h;
  const uint32_t count = bmp_get_color_count(h);
  long long pos = 54;
  if (count <= 256) {
    if (std::fread(loaded.dib_header->colors, 4, count, f) != count) {
      trace("BMP::load (ERROR: fread ()): <%s>\n", name);
      return 0;
    }
    pos += 4LL * count;
  }
  // Pixels start at bfOffBits when it lies past the colour map inside the file.
  if (off_bits >= pos && off_bits < length) {
    if (std::fseek(f, static_cast<long>(off_bits), SEEK_SET) != 0) return 0;
    pos = off_bits;
  }
  if (static_cast<uint64_t>(length - pos) < data_bytes) {
    trace("BMP::load (ERROR: fread ()): <%s>\n", name);
    return 0;
  }
  if (loaded.init_dib_data()) return 0;
  const int bpl = loaded.get_bytes_per_line();
  const int rows = loaded.get_height();
  if (h.biHeight >= 0) {
    // Bottom-up file: keep the top row first in memory.
    for (int r = rows - 1; r >= 0; --r) {
      if (std::fread(loaded.dib_data + static_cast<size_t>(r) * bpl, 1, bpl, f) != static_cast<size_t>(bpl)) {
        trace("BMP::load (ERROR: fread ()): <%s>\n", name);
        return 0;
      }
    }
  } else if (std::fread(loaded.dib_data, 1, data_bytes, f) != data_bytes) {
    trace("BMP::load (ERROR: fread ()): <%s>\n", name);
    return 0;
  }

  // Take over the loaded header and pixels.
  clear_name();
  delete dib_header;
  if (dib_data_owned) delete[] dib_data;
  dib_header = loaded.dib_header;
  dib_data = loaded.dib_data;
  dib_data_owned = loaded.dib_data_owned;
  loaded.reset();
  file_name = strdup(name);
  return length;
}

long long BMP::save(const char* name, int bottom_up) {
  if (!dib_header || !dib_data) {
    trace("BMP::save (ERROR): %s%s=nil", dib_header ? "" : "dib-header=nil; ", dib_data ? "" : "dib-data");
    return 0;
  }
  if (!name) return 0;
  const int bpl = get_bytes_per_line();
  const int rows = get_height();
  if (bpl <= 0 || rows <= 0) return 0;
  FILE* f = std::fopen(name, "wb");
  if (!f) return 0;
  uint8_t head[54] = {'B', 'M'};
  put32(head + 2, get_bmap_size());
  put32(head + 10, get_bmap_offbits());
  header_to_bytes(dib_header->header, head + 14);
  bool ok = write_all(f, head, 54);
  const uint32_t count = colors_written(dib_header->header);
  if (ok && count) ok = write_all(f, dib_header->colors, 4 * count);
  for (int i = 0; ok && i < rows; ++i) {
    const int r = bottom_up ? rows - 1 - i : i;
    ok = write_all(f, dib_data + static_cast<size_t>(r) * bpl, bpl);
  }
  if (std::fclose(f) != 0) ok = false;
  if (!ok) {
    trace("BMP::save (ERROR: fwrite ()): <%s>\n", name);
    utils_remove_partial_output(name);
    return 0;
  }
  return get_bmap_size();
}

int BMP::read_dib_header(const uint8_t* bytes, size_t length) {
  if (!bytes || length < 40) {
    trace("ERROR (BMP::read_dib_header): %s%s", bytes ? "" : "data=nil; ", length < 40 ? "size<40" : "");
    return 0;
  }
  BitmapInfoHeader h;
  header_from_bytes(bytes, &h);
  if (h.biSize != 40 || h.biPlanes != 1 || h.biClrUsed > 256) {
    trace("BMP::read_dib_header (ERROR): invalid parameter values\n");
    if (h.biSize != 40) trace("\t biSize:    %4d ( != 40)\n", static_cast<int>(h.biSize));
    if (h.biPlanes != 1) trace("\t biPlanes:  %4d ( !=  1)\n", h.biPlanes);
    if (h.biClrUsed > 256) trace("\t biClrUsed: %4d (  > 256)\n", static_cast<int>(h.biClrUsed));
    return 0;
  }
  const uint32_t count = bmp_get_color_count(h);
  if (count <= 256 && length - 40 < 4 * static_cast<size_t>(count)) {
    trace("BMP::read_dib_header (ERROR): not enough data (%d) for colormap (%d)\n", static_cast<int>(length - 40),
          static_cast<int>(count));
    return 0;
  }
  if (!dib_header && init_dib_header(h.biBitCount, h.biWidth, h.biHeight)) return 0;
  dib_header->header = h;
  if (count <= 256) std::memcpy(dib_header->colors, bytes + 40, 4 * static_cast<size_t>(count));
  clear_name();
  return 40;
}

uint8_t* BMP::get_yuv_cmap(int* count) const {
  if (count) *count = 0;
  if (!dib_header || dib_header->header.biBitCount > 8) return nullptr;
  const int bits = dib_header->header.biBitCount;
  const int n = 1 << bits;
  auto* map = new (std::nothrow) uint8_t[3 * n];
  if (!map) return nullptr;
  const uint32_t used = std::min<uint32_t>(bmp_get_color_count(dib_header->header), static_cast<uint32_t>(n));
  for (int i = 0; i < n; ++i) {
    if (static_cast<uint32_t>(i) < used) {
      const RGBQuad& c = dib_header->colors[i];
      rgb_to_ycbcr(c.red, c.green, c.blue, map + 3 * i, map + 3 * i + 1, map + 3 * i + 2);
    } else {
      map[3 * i] = 0;
      map[3 * i + 1] = map[3 * i + 2] = 128;
    }
  }
  if (count) *count = n;
  return map;
}

// Writes the Y, Cb, Cr of a 2x2 block (x, y even, inside the destination).
namespace {

struct BlockWriter {
  const YuvPlanes& d;
  void put(int x, int y, const uint8_t yy[4], int sum_cb, int sum_cr, bool two_cols, bool two_rows) const {
    uint8_t* py = d.y + static_cast<size_t>(y) * d.y_stride + x;
    py[0] = yy[0];
    if (two_cols) py[1] = yy[1];
    if (two_rows) {
      py[d.y_stride] = yy[2];
      if (two_cols) py[d.y_stride + 1] = yy[3];
    }
    const uint8_t cb = static_cast<uint8_t>((sum_cb + 2) >> 2), cr = static_cast<uint8_t>((sum_cr + 2) >> 2);
    if (d.chroma_format == 2) {
      for (int k = 0; k < (two_rows ? 2 : 1); ++k) {
        const size_t o = static_cast<size_t>(y + k) * d.c_stride + x / 2;
        d.cb[o] = cb;
        d.cr[o] = cr;
      }
    } else {
      const size_t o = static_cast<size_t>(y / 2) * d.c_stride + x / 2;
      d.cb[o] = cb;
      d.cr[o] = cr;
    }
  }
};

void fill_rect(const YuvPlanes& d, int x0, int y0, int w, int h) {
  if (w <= 0 || h <= 0) return;
  for (int y = y0; y < y0 + h; ++y) std::memset(d.y + static_cast<size_t>(y) * d.y_stride + x0, 0, w);
  const int cy0 = d.chroma_format == 2 ? y0 : y0 / 2;
  const int cy1 = d.chroma_format == 2 ? y0 + h : (y0 + h + 1) / 2;
  const int cx0 = x0 / 2, cx1 = (x0 + w + 1) / 2;
  for (int y = cy0; y < cy1; ++y) {
    std::memset(d.cb + static_cast<size_t>(y) * d.c_stride + cx0, 128, cx1 - cx0);
    std::memset(d.cr + static_cast<size_t>(y) * d.c_stride + cx0, 128, cx1 - cx0);
  }
}

}  // namespace

long long BMP::rgb2yuv(const YuvPlanes& dst, int bottom_up, int centre) {
  if (!dib_header || !dst.y || !dib_data) {
    trace("BMP::rgb2yuv (ERROR): %s%s%s", dib_header ? "" : "dib-header=nil; ", dst.y ? "" : "yuv=nil; ",
          dib_data ? "" : "dib-data=nil");
    return 0;
  }
  const int bits = get_bits_per_pixel();
  const int sw = get_width(), sh = get_height(), bpl = get_bytes_per_line();
  if (sw <= 0 || sh <= 0 || bpl <= 0 || dst.width <= 0 || dst.height <= 0) return 0;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
    trace("BMP::rgb2yuv_420 (): %d-bit color is not supported\n", bits);
    return 0;
  }
  uint8_t* ymap = nullptr;
  std::unique_ptr<uint8_t[]> cmap_owner;
  const bool palette = bits <= 8;
  if (palette) {
    int n = 0;
    ymap = get_yuv_cmap(&n);
    if (!ymap) return 0;
    cmap_owner.reset(ymap);
    centre = 0;  // palette depths copy from the top-left corner
  }
  // Geometry: copied size, where it starts in the source and the destination.
  int cw = std::min(sw, dst.width), ch = std::min(sh, dst.height);
  int sx = 0, sy = 0, dx = 0, dy = 0;
  if (centre) {
    if (dst.height > sh) dy = ((dst.height - sh) / 2) & ~1;
    else if (sh > dst.height) sy = ((sh - dst.height) / 2) & ~1;
    if (dst.width > sw) dx = ((dst.width - sw) / 2) & ~1;
    else if (sw > dst.width) sx = ((sw - dst.width) / 2) & ~1;
    // Bands around a smaller picture are black.
    fill_rect(dst, 0, 0, dst.width, dy);
    fill_rect(dst, 0, dy + ch, dst.width, dst.height - dy - ch);
    fill_rect(dst, 0, dy, dx, ch);
    fill_rect(dst, dx + cw, dy, dst.width - dx - cw, ch);
  }
  auto src_row = [&](int r) -> const uint8_t* {
    const int row = bottom_up ? sh - 1 - r : r;
    return dib_data + static_cast<size_t>(row) * bpl;
  };
  auto pixel = [&](const uint8_t* row, int x, uint8_t* y, uint8_t* cb, uint8_t* cr) {
    if (palette) {
      int idx;
      if (bits == 8) idx = row[x];
      else if (bits == 4) idx = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
      else idx = (row[x >> 3] >> (7 - (x & 7))) & 1;
      *y = ymap[3 * idx];
      *cb = ymap[3 * idx + 1];
      *cr = ymap[3 * idx + 2];
    } else {
      const uint8_t* p = row + static_cast<size_t>(x) * (bits / 8);
      rgb_to_ycbcr(p[2], p[1], p[0], y, cb, cr);
    }
  };
  const BlockWriter out{dst};
  for (int r = 0; r < ch; r += 2) {
    const bool two_rows = r + 1 < ch;
    const uint8_t* r0 = src_row(sy + r);
    const uint8_t* r1 = two_rows ? src_row(sy + r + 1) : r0;
    for (int c = 0; c < cw; c += 2) {
      const bool two_cols = c + 1 < cw;
      uint8_t yy[4], cb[4], cr[4];
      const int x0 = sx + c, x1 = two_cols ? x0 + 1 : x0;
      pixel(r0, x0, &yy[0], &cb[0], &cr[0]);
      pixel(r0, x1, &yy[1], &cb[1], &cr[1]);
      pixel(r1, x0, &yy[2], &cb[2], &cr[2]);
      pixel(r1, x1, &yy[3], &cb[3], &cr[3]);
      out.put(dx + c, dy + r, yy, cb[0] + cb[1] + cb[2] + cb[3], cr[0] + cr[1] + cr[2] + cr[3], two_cols, two_rows);
    }
  }
  return palette ? static_cast<long long>(dst.width) * dst.height * 3 / 2
                 : static_cast<long long>(get_dib_data_size());
}

// ---- bitmap <-> frame ----

int BMP::set_from_frame(Frame* frame, int bits, int flag) {
  if (!frame || !frame->image()) return 0;
  Dither d(frame->get_width(), frame->get_height(), bits);
  if (!d.dib_header) return 0;
  return d.dither(frame->image(), this, flag) == 0 ? 1 : 0;
}

long long BMP::rgb2yuv_420(Frame* frame, int bottom_up, int centre) {
  if (!frame || !frame->image() || !frame->buffer()) {
    trace("BMP::rgb2yuv (ERROR): %s%s%s", dib_header ? "" : "dib-header=nil; ", "yuv=nil; ",
          dib_data ? "" : "dib-data=nil");
    return 0;
  }
  return rgb2yuv(frame->image()->planes(), bottom_up, centre);
}

Frame* load_bmp_image(const char* name) {
  BMP bmp;
  if (!bmp.load(name)) return nullptr;
  auto* frame = new (std::nothrow) Frame(bmp.get_width(), bmp.get_height(), 1, 0);
  if (!frame) return nullptr;
  if (!frame->buffer() || !bmp.rgb2yuv_420(frame, 0, 1)) {
    delete frame;
    return nullptr;
  }
  return frame;
}
