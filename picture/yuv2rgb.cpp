#include "picture/yuv2rgb.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "foundation/cpu.h"
#include "foundation/trace.h"
#include "picture/bmp.h"
#include "picture/yuv2rgb_kernels.h"

// ---- direct-colour tables ----

namespace {

constexpr int kY = 596, kRCr = 817, kGCb = -200, kGCr = -416, kBCb = 1033;  // x 512

inline int q9(int x, int coef) { return (x * 64 * coef + 16384) >> 15; }
inline int chroma_d(int c) { return std::clamp(c, 16, 240) - 128; }

Yuv2RgbTables g_tables;
std::once_flag g_tables_once;

void build_tables() {
  for (int i = 0; i < 256; ++i) {
    const uint32_t t = static_cast<uint32_t>(yuv2rgb_y_term(i));
    g_tables.y[i] = t * 0x400801u;
    const uint32_t b = static_cast<uint32_t>(yuv2rgb_b_cb(i)), gb = static_cast<uint32_t>(yuv2rgb_g_cb(i));
    g_tables.cb[i] = ((b & 0x3ffu) | (gb << 11)) << 11;
    const uint32_t r = static_cast<uint32_t>(yuv2rgb_r_cr(i)), gr = static_cast<uint32_t>(yuv2rgb_g_cr(i));
    g_tables.cr[i] = (r & 0x3ffu) | (gr << 22);
  }
  for (int i = 0; i < 1024; ++i) {
    const int v = i < 512 ? std::min(i, 255) : 0;
    g_tables.clamp[i] = static_cast<uint8_t>(v);
    g_tables.clamp5[i] = static_cast<uint8_t>(v >> 3);
  }
}

}  // namespace

int yuv2rgb_y_term(int y) { return q9(std::clamp(y, 16, 235) - 16, kY); }
int yuv2rgb_r_cr(int cr) { return q9(chroma_d(cr), kRCr); }
int yuv2rgb_g_cb(int cb) { return q9(chroma_d(cb), kGCb); }
int yuv2rgb_g_cr(int cr) { return q9(chroma_d(cr), kGCr); }
int yuv2rgb_b_cb(int cb) { return q9(chroma_d(cb), kBCb); }

void yuv2rgb_tables_init() { std::call_once(g_tables_once, build_tables); }
int yuv2rgb_tables_release() { return 0; }

const Yuv2RgbTables& yuv2rgb_tables() {
  yuv2rgb_tables_init();
  return g_tables;
}

// ---- plain kernels ----

namespace {

constexpr uint32_t kLaneOverflow = 0xc0180300u;

template <int Bits>
inline void store_pixel(const Yuv2RgbTables& t, uint32_t s, uint8_t* d) {
  uint32_t r, g, b;
  if (!(s & kLaneOverflow)) {
    if constexpr (Bits == 16) {
      const uint16_t w = static_cast<uint16_t>(((s & 248) << 7) | ((s >> 20) & 0x3e0) | ((s >> 14) & 31));
      std::memcpy(d, &w, 2);
      return;
    }
    r = s & 255;
    b = (s >> 11) & 255;
    g = (s >> 22) & 255;
  } else {
    if constexpr (Bits == 16) {
      const uint16_t w = static_cast<uint16_t>((t.clamp5[s & 0x3ff] << 10) | (t.clamp5[s >> 22] << 5) |
                                               t.clamp5[(s >> 11) & 0x3ff]);
      std::memcpy(d, &w, 2);
      return;
    }
    r = t.clamp[s & 0x3ff];
    b = t.clamp[(s >> 11) & 0x3ff];
    g = t.clamp[s >> 22];
  }
  if constexpr (Bits == 24) {
    d[0] = static_cast<uint8_t>(b);
    d[1] = static_cast<uint8_t>(g);
    d[2] = static_cast<uint8_t>(r);
  } else {
    const uint32_t w = (r << 16) | (g << 8) | b;  // memory B, G, R, 0
    std::memcpy(d, &w, 4);
  }
}

template <int Bits>
void pair_c(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb0, const uint8_t* cr0, const uint8_t* cb1,
            const uint8_t* cr1, uint8_t* d0, uint8_t* d1, int width) {
  const Yuv2RgbTables& t = g_tables;
  constexpr int px = Bits / 8;
  for (int x = 0; x < width; x += 2) {
    const uint32_t c0 = t.cb[cb0[x >> 1]] + t.cr[cr0[x >> 1]];
    const uint32_t c1 = t.cb[cb1[x >> 1]] + t.cr[cr1[x >> 1]];
    store_pixel<Bits>(t, t.y[y0[x]] + c0, d0 + x * px);
    store_pixel<Bits>(t, t.y[y0[x + 1]] + c0, d0 + (x + 1) * px);
    store_pixel<Bits>(t, t.y[y1[x]] + c1, d1 + x * px);
    store_pixel<Bits>(t, t.y[y1[x + 1]] + c1, d1 + (x + 1) * px);
  }
}

const Yuv2RgbDsp yuv2rgb_dsp_c = {pair_c<16>, pair_c<24>, pair_c<32>};

}  // namespace

const Yuv2RgbDsp* yuv2rgb_dsp_for(CpuLevel level) {
  yuv2rgb_tables_init();  // the plain kernels, and the SIMD ones' tails, read them
  switch (level) {
    case CpuLevel::c: return &yuv2rgb_dsp_c;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse41: return &yuv2rgb_dsp_sse41;
    case CpuLevel::avx2: return &yuv2rgb_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const Yuv2RgbDsp& yuv2rgb_dsp() {
  static const Yuv2RgbDsp& dsp = cpu_pick(yuv2rgb_dsp_for);
  return dsp;
}

// ---- direct-colour driver ----

namespace {

bool bitmap_ready(BMP* bmp) { return bmp && bmp->dib_header && bmp->dib_data; }

}  // namespace

int yuv2rgb_planes(const YuvPlanes& src, BMP* bmp, int flip, int centre) {
  yuv2rgb_tables_init();
  if (!src.y || !bitmap_ready(bmp)) {
    trace("yuv2rgb (ERROR): no input (nil pointers)\n");
    return 1;
  }
  const int bits = bmp->get_bits_per_pixel();
  Yuv2RgbPairFn fn;
  const Yuv2RgbDsp& dsp = yuv2rgb_dsp();
  if (bits == 16) fn = dsp.pair16;
  else if (bits == 24) fn = dsp.pair24;
  else if (bits == 32) fn = dsp.pair32;
  else {
    trace("yuv2rgb (ERROR): %d-bit color image is NOT supported\n", bits);
    return 1;
  }
  const int px = bits / 8;
  const int bw = bmp->get_width(), bh = bmp->get_height(), bpl = bmp->get_bytes_per_line();
  if (bw <= 0 || bh <= 0 || bpl <= 0) return 1;
  const int pw = src.width & ~1, ph = src.height & ~1;
  const int w = std::min(bw & ~1, pw), h = std::min(bh & ~1, ph);
  const int ox = bw > pw ? (bw - pw) / 2 : 0;
  const int oy = bh > ph ? (bh - ph) / 2 : 0;
  int sx = 0, sy = 0;
  if (centre) {
    if (pw > bw) sx = ((pw - bw) >> 1) & ~1;
    if (ph > bh) sy = ((ph - bh) >> 1) & ~1;
  }
  uint8_t* out = bmp->dib_data;
  // Everything outside the converted area is black.
  for (int r = 0; r < bh; ++r) {
    uint8_t* row = out + static_cast<size_t>(r) * bpl;
    if (r < oy || r >= oy + h) {
      std::memset(row, 0, bpl);
    } else {
      std::memset(row, 0, static_cast<size_t>(ox) * px);
      std::memset(row + static_cast<size_t>(ox + w) * px, 0, bpl - static_cast<size_t>(ox + w) * px);
    }
  }
  const bool c422 = src.chroma_format == 2;
  for (int j = 0; j < h; j += 2) {
    // Source rows of this output pair; with flip the picture is walked upward.
    const int s0 = flip ? sy + h - 1 - j : sy + j;
    const int s1 = flip ? s0 - 1 : s0 + 1;
    const int c0 = c422 ? s0 : s0 / 2, c1 = c422 ? s1 : s1 / 2;
    const size_t cx = static_cast<size_t>(sx / 2);
    fn(src.y + static_cast<size_t>(s0) * src.y_stride + sx, src.y + static_cast<size_t>(s1) * src.y_stride + sx,
       src.cb + static_cast<size_t>(c0) * src.c_stride + cx, src.cr + static_cast<size_t>(c0) * src.c_stride + cx,
       src.cb + static_cast<size_t>(c1) * src.c_stride + cx, src.cr + static_cast<size_t>(c1) * src.c_stride + cx,
       out + static_cast<size_t>(oy + j) * bpl + static_cast<size_t>(ox) * px,
       out + static_cast<size_t>(oy + j + 1) * bpl + static_cast<size_t>(ox) * px, w);
  }
  return 0;
}

static YuvPlanes packed_planes(const uint8_t* y, int width, int height, int chroma_format) {
  YuvPlanes p;
  p.y = const_cast<uint8_t*>(y);
  p.width = width;
  p.height = height;
  p.y_stride = width;
  p.c_stride = width / 2;
  p.chroma_format = chroma_format == 2 ? 2 : 1;
  const size_t ys = static_cast<size_t>(width) * height;
  p.cb = p.y + ys;
  p.cr = p.cb + (p.chroma_format == 2 ? ys / 2 : ys / 4);
  return p;
}

int yuv2rgb(const uint8_t* y, int width, int height, int chroma_format, BMP* bitmap, int flip, int centre) {
  if (!y) {
    trace("yuv2rgb (ERROR): no input (nil pointers)\n");
    return 1;
  }
  return yuv2rgb_planes(packed_planes(y, width, height, chroma_format), bitmap, flip, centre);
}

// ---- 8-bit palette and ordered dither ----

namespace {

struct DitherTables {
  uint8_t luma[288];
  uint8_t cb[288];
  uint8_t cr[288];
};
DitherTables g_dither;
std::once_flag g_dither_once;

int luma_level(int v) { return v < 24 ? 1 : std::min((v - 8) >> 4, 14); }
int chroma_level(int c) { return std::clamp((c - 40) >> 4, 0, 3); }

void build_dither() {
  for (int v = 0; v < 288; ++v) {
    g_dither.luma[v] = static_cast<uint8_t>(luma_level(v) << 4);
    g_dither.cb[v] = static_cast<uint8_t>(chroma_level(v >> 1) << 2);
    g_dither.cr[v] = static_cast<uint8_t>(chroma_level(v >> 1));
  }
}

const uint8_t kDither[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};

// One output row of palette indexes.
void dither_row(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width, int drow) {
  const uint8_t* dm = kDither[drow & 3];
  const int extra = (drow & 3) >= 2 ? 1 : 0;
  for (int x = 0; x < width; ++x) {
    const int d = dm[x & 3];
    const int dc = 2 * d + extra;
    out[x] = static_cast<uint8_t>(g_dither.luma[y[x] + d] | g_dither.cb[cb[x >> 1] + dc] | g_dither.cr[cr[x >> 1] + dc]);
  }
}

}  // namespace

void dither_tables_init() { std::call_once(g_dither_once, build_dither); }

// The index the tables give without dither offset (chroma tables are
// indexed by twice the chroma level step).
int dither_palette_index(int y, int cb, int cr) {
  return luma_level(y) << 4 | chroma_level(cb >> 1) << 2 | chroma_level(cr >> 1);
}

uint8_t* yuv2rgb_8bit_cmap(BitmapInfo* header) {
  if (!header) {
    trace("yuv2rgb_8bit_cmap (ERROR): nil dib_header pointer\n");
    return nullptr;
  }
  auto* map = new (std::nothrow) uint8_t[256];
  if (!map) {
    trace("yuv2rgb_8bit_cmap (ERROR): out of memory\n");
    return nullptr;
  }
  bmp_yuv_palette(header->colors);
  for (int i = 0; i < 256; ++i) map[i] = static_cast<uint8_t>(i);
  return map;
}

// field < 0: whole frame; 0 bottom field; > 0 top field.
int yuv2rgb_8bit_planes(const YuvPlanes& src, BMP* bmp, int flip, int field) {
  dither_tables_init();
  const char* who = field < 0 ? "yuv2rgb_8bit" : "yuv2rgb_8bit_field";
  if (!src.y || !bitmap_ready(bmp)) {
    trace("%s (ERROR): no input (nil pointers)\n", who);
    return 1;
  }
  if (bmp->get_bits_per_pixel() != 8) {
    trace("%s (ERROR): only processing 8-bit colors (%d-bits requested)\n", who, bmp->get_bits_per_pixel());
    return 1;
  }
  const int bw = bmp->get_width(), bh = bmp->get_height(), bpl = bmp->get_bytes_per_line();
  if (bw <= 0 || bh <= 0 || bpl <= 0) return 1;
  const int pw = src.width, ph = src.height;
  const int w = std::min(bw, pw) & ~1, h = std::min(bh, ph);
  const int ox = bw > pw ? (bw - pw) / 2 : 0;
  const int oy = bh > ph ? (bh - ph) / 2 : 0;
  uint8_t* out = bmp->dib_data;
  for (int r = 0; r < bh; ++r) {
    uint8_t* row = out + static_cast<size_t>(r) * bpl;
    if (r < oy || r >= oy + h) std::memset(row, 0, bpl);
    else {
      std::memset(row, 0, ox);
      std::memset(row + ox + w, 0, bpl - ox - w);
    }
  }
  const bool c422 = src.chroma_format == 2;
  const int crows = c422 ? ph : ph / 2;
  const bool top = field > 0;
  const int field_rows = top ? (ph + 1) / 2 : ph / 2;
  for (int j = 0; j < h; ++j) {
    const int pr = flip ? h - 1 - j : j;  // picture row shown on this output row
    int yrow = pr, crow;
    if (field < 0) {
      crow = c422 ? pr : pr / 2;
    } else {
      // The chosen field at full height: rows of the other field borrow the
      // field row just below (top) or just above (bottom).
      int fr = top ? (pr + 1) / 2 : (pr + 1) / 2 - 1;
      fr = std::clamp(fr, 0, std::max(field_rows - 1, 0));
      yrow = top ? 2 * fr : 2 * fr + 1;
      if (yrow >= ph) yrow = ph - 1;
      const int g = pr / 4;  // one chroma row of the field per four output rows
      crow = c422 ? 4 * g + (top ? 0 : 1) : 2 * g + (top ? 0 : 1);
      crow = std::min(crow, crows - 1);
    }
    dither_row(src.y + static_cast<size_t>(yrow) * src.y_stride, src.cb + static_cast<size_t>(crow) * src.c_stride,
               src.cr + static_cast<size_t>(crow) * src.c_stride, out + static_cast<size_t>(oy + j) * bpl + ox, w, j);
  }
  return 0;
}

// The palette map yuv2rgb_8bit_cmap hands out is the identity: the indexes
// are written as they are.
int yuv2rgb_8bit(const uint8_t* y, int width, int height, int chroma_format, const uint8_t* /*cmap*/, BMP* bitmap,
                 int flip) {
  if (!y) {
    trace("yuv2rgb_8bit (ERROR): no input (nil pointers)\n");
    return 1;
  }
  return yuv2rgb_8bit_planes(packed_planes(y, width, height, chroma_format), bitmap, flip, -1);
}

int yuv2rgb_8bit_field(int field, const uint8_t* y, int width, int height, int chroma_format,
                       const uint8_t* /*cmap*/, BMP* bitmap, int flip) {
  if (!y) {
    trace("yuv2rgb_8bit_field (ERROR): no input (nil pointers)\n");
    return 1;
  }
  return yuv2rgb_8bit_planes(packed_planes(y, width, height, chroma_format), bitmap, flip, field == 0 ? 0 : 1);
}
