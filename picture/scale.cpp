#include "picture/scale.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "picture/frame.h"
#include "picture/scale_kernels.h"
#include "foundation/trace.h"

// ---- ratio chooser ----

namespace {

int round16(int v) { return (v + 15) & ~15; }

// One direction: flag bit (reduction, enlargement) and size.
int choose_axis(int src, int dst, int reduce_bits[3], int enlarge_bits[3], int* size) {
  *size = src;
  if (src == dst || src <= 0 || dst <= 0) return 0;
  const int larger = std::max(src, dst), smaller = std::min(src, dst);
  const int r = (10 * larger) / smaller;
  if (r < 13) return 0;
  const int which = r <= 17 ? 0 : (r <= 30 ? 1 : 2);  // 3:2, 2:1, 4:1 (and mirrors)
  if (src > dst) {
    const int scaled = which == 0 ? (2 * src) / 3 : (which == 1 ? src >> 1 : src >> 2);
    *size = round16(scaled);
    return reduce_bits[which];
  }
  const int scaled = which == 0 ? (3 * src) / 2 : (which == 1 ? 2 * src : 4 * src);
  *size = round16(scaled);
  return enlarge_bits[which];
}

}  // namespace

int scale_choose(int sw, int sh, int tw, int th, int* out_width, int* out_height) {
  int wbits_r[3] = {SCALE_W_3TO2, SCALE_W_2TO1, SCALE_W_4TO1};
  int wbits_e[3] = {SCALE_W_2TO3, SCALE_W_1TO2, SCALE_W_1TO4};
  int hbits_r[3] = {SCALE_H_3TO2, SCALE_H_2TO1, SCALE_H_4TO1};
  int hbits_e[3] = {SCALE_H_2TO3, SCALE_H_1TO2, SCALE_H_1TO4};
  int w = sw, h = sh;
  const int flags = choose_axis(sw, tw, wbits_r, wbits_e, &w) | choose_axis(sh, th, hbits_r, hbits_e, &h);
  if (flags) {
    if (out_width) *out_width = w;
    if (out_height) *out_height = h;
  }
  return flags;
}

int scale_size_for_flags(int n, int flags, int vertical) {
  const int s = vertical ? 0 : 1;  // width bits sit one place above the height bits
  int v = n;
  if (flags & (SCALE_H_2TO1 << s)) v = n >> 1;
  else if (flags & (SCALE_H_3TO2 << s)) v = (2 * n) / 3;
  else if (flags & (SCALE_H_4TO1 << s)) v = n >> 2;
  else if (flags & (SCALE_H_1TO2 << s)) v = 2 * n;
  else if (flags & (SCALE_H_2TO3 << s)) v = (3 * n) / 2;
  else if (flags & (SCALE_H_1TO4 << s)) v = 4 * n;
  else return n;
  return round16(v);
}

// ---- line kernels ----

static int run_line(ScaleKernel k, const uint8_t* x, int n, uint8_t* out) {
  if (!x || !out || n <= 0) return 0;
  const int count = scale_out_count(k, n);
  scale_plane_h(k, x, n, n, 1, out, count, count);
  return count;
}

int decimate_line_4(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_DEC2_H, x, n, out); }
int decimate_line_2(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_DEC2_V, x, n, out); }
int decimate_line(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_DEC4, x, n, out); }
int decimate_3to2_line(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_DEC32, x, n, out); }
int interpolate_line_2(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_INT2, x, n, out); }
int interpolate_group10_line(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_INT23, x, n, out); }
int interpolate_line(const uint8_t* x, int n, uint8_t* out) { return run_line(SK_INT4, x, n, out); }

// ---- plane drivers ----

#define ROW_DRIVER(name, kernel)                                                                          \
  void name(int width, int rows, const uint8_t* src, int ss, uint8_t* dst, int ds, uint8_t*) {            \
    scale_plane_h(kernel, src, ss, width, rows, dst, ds, scale_out_count(kernel, width));                 \
  }
#define COLUMN_DRIVER(name, kernel)                                                                       \
  void name(int columns, int rows, const uint8_t* src, int ss, uint8_t* dst, int ds, uint8_t*) {          \
    scale_plane_v(kernel, src, ss, rows, columns, dst, ds, scale_out_count(kernel, rows));                \
  }

ROW_DRIVER(filter_plane_rows, SK_DEC2_H)
COLUMN_DRIVER(filter_plane_columns, SK_DEC2_V)
ROW_DRIVER(resample_rows, SK_DEC4)
COLUMN_DRIVER(resample_columns, SK_DEC4)
ROW_DRIVER(resample_rows_3to2, SK_DEC32)
COLUMN_DRIVER(resample_columns_3to2, SK_DEC32)
ROW_DRIVER(interpolate_rows, SK_INT2)
COLUMN_DRIVER(interpolate_columns, SK_INT2)
ROW_DRIVER(upsample_rows_2to3, SK_INT23)
COLUMN_DRIVER(upsample_columns_2to3, SK_INT23)
ROW_DRIVER(upsample_rows_4, SK_INT4)
COLUMN_DRIVER(upsample_columns_4, SK_INT4)

void filter_plane_columns_thunk(int columns, int rows, const uint8_t* src, int ss, uint8_t* dst, int ds,
                                uint8_t* line) {
  filter_plane_columns(columns, rows, src, ss, dst, ds, line);
}

uint8_t* plane_halve_vertical(const uint8_t* plane, int width, int rows) {
  if (!plane || width <= 0 || rows <= 0) return nullptr;
  auto* out = new (std::nothrow) uint8_t[static_cast<size_t>(width) * ((rows + 1) / 2) + 5 * rows];
  if (out) filter_plane_columns(width, rows, plane, width, out, width, nullptr);
  return out;
}

uint8_t* plane_double_vertical(const uint8_t* plane, int width, int rows) {
  if (!plane || width <= 0 || rows <= 0) return nullptr;
  auto* out = new (std::nothrow) uint8_t[static_cast<size_t>(rows) * (2 * width + 5)];
  if (out) interpolate_columns(width, rows, plane, width, out, width, nullptr);
  return out;
}

// ---- frame scalers ----

namespace {

struct Axis {
  ScaleKernel k = SK_NONE;
  int src_off = 0, used = 0, dst_off = 0, dst_len = 0;
};

int used_for(ScaleKernel k, int d) {
  switch (k) {
    case SK_DEC2_H:
    case SK_DEC2_V: return 2 * d;
    case SK_DEC32: return (3 * d) / 2;
    case SK_DEC4: return 4 * d;
    case SK_INT2: return d / 2;
    case SK_INT23: return (2 * d) / 3;
    case SK_INT4: return d / 4;
    default: return d;
  }
}

// The middle of a source whose result would be too large, or the whole
// source centred in the destination.
Axis place(ScaleKernel k, int s, int d) {
  Axis a;
  a.k = k;
  const int scaled = scale_out_count(k, s);
  if (scaled > d) {
    a.used = std::min(s, std::max(1, used_for(k, d)));
    a.src_off = (s - a.used) >> 1;
    a.dst_off = 0;
    a.dst_len = d;
  } else {
    a.used = s;
    a.src_off = 0;
    a.dst_off = (d - scaled) >> 1;
    a.dst_len = scaled;
  }
  return a;
}

Axis halve(Axis a) {
  a.src_off >>= 1;
  a.used >>= 1;
  a.dst_off >>= 1;
  a.dst_len >>= 1;
  return a;
}

void scale_plane(const uint8_t* src, int ss, const Axis& h, const Axis& v, uint8_t* dst, int ds, bool vertical_first,
                 std::vector<uint8_t>& work) {
  if (h.used <= 0 || v.used <= 0 || h.dst_len <= 0 || v.dst_len <= 0) return;
  const uint8_t* s = src + static_cast<ptrdiff_t>(v.src_off) * ss + h.src_off;
  uint8_t* d = dst + static_cast<ptrdiff_t>(v.dst_off) * ds + h.dst_off;
  if (v.k == SK_NONE && h.k == SK_NONE) {
    const int w = std::min(h.used, h.dst_len), rows = std::min(v.used, v.dst_len);
    for (int r = 0; r < rows; ++r) std::memcpy(d + static_cast<ptrdiff_t>(r) * ds, s + static_cast<ptrdiff_t>(r) * ss, w);
  } else if (v.k == SK_NONE) {
    scale_plane_h(h.k, s, ss, h.used, std::min(v.used, v.dst_len), d, ds, h.dst_len);
  } else if (h.k == SK_NONE) {
    scale_plane_v(v.k, s, ss, v.used, std::min(h.used, h.dst_len), d, ds, v.dst_len);
  } else if (vertical_first) {
    work.resize(static_cast<size_t>(h.used) * v.dst_len);
    scale_plane_v(v.k, s, ss, v.used, h.used, work.data(), h.used, v.dst_len);
    scale_plane_h(h.k, work.data(), h.used, h.used, v.dst_len, d, ds, h.dst_len);
  } else {
    work.resize(static_cast<size_t>(h.dst_len) * v.used);
    scale_plane_h(h.k, s, ss, h.used, v.used, work.data(), h.dst_len, h.dst_len);
    scale_plane_v(v.k, work.data(), h.dst_len, v.used, h.dst_len, d, ds, v.dst_len);
  }
}

ScaleKernel width_kernel(int flags) {
  if (flags & SCALE_W_2TO1) return SK_DEC2_H;
  if (flags & SCALE_W_3TO2) return SK_DEC32;
  if (flags & SCALE_W_4TO1) return SK_DEC4;
  if (flags & SCALE_W_1TO2) return SK_INT2;
  if (flags & SCALE_W_2TO3) return SK_INT23;
  if (flags & SCALE_W_1TO4) return SK_INT4;
  return SK_NONE;
}

ScaleKernel height_kernel(int flags) {
  if (flags & SCALE_H_2TO1) return SK_DEC2_V;
  if (flags & SCALE_H_3TO2) return SK_DEC32;
  if (flags & SCALE_H_4TO1) return SK_DEC4;
  if (flags & SCALE_H_1TO2) return SK_INT2;
  if (flags & SCALE_H_2TO3) return SK_INT23;
  if (flags & SCALE_H_1TO4) return SK_INT4;
  return SK_NONE;
}

// Scales all three planes of src into dst with the given kernels.
void scale_frame(Frame* src, Frame* dst, ScaleKernel hk, ScaleKernel vk, bool vertical_first) {
  if (!src->buffer() || !dst->buffer()) return;
  std::vector<uint8_t> work;
  const Axis h = place(hk, src->padded_width(), dst->padded_width());
  const Axis v = place(vk, src->padded_height(), dst->padded_height());
  scale_plane(src->y_plane(), src->padded_width(), h, v, dst->y_plane(), dst->padded_width(), vertical_first, work);
  // Chroma: half the luminance geometry across; down as well for 4:2:0 only.
  const Axis ch = halve(h);
  Axis cv;
  if (src->chroma_format() == 2 && dst->chroma_format() == 2) {
    cv = v;
  } else {
    // 4:2:0 (a mixed pair is handled by the caller's format conversion).
    cv = halve(v);
  }
  scale_plane(src->cb_plane(), src->c_width(), ch, cv, dst->cb_plane(), dst->c_width(), vertical_first, work);
  scale_plane(src->cr_plane(), src->c_width(), ch, cv, dst->cr_plane(), dst->c_width(), vertical_first, work);
}

// The filters the masked flags select, from src into dest; 1 when none.
int scale_masked(Frame* src, Frame* dest, int flags, const char* who, bool vertical_first) {
  if (!flags || !dest) {
    trace("%s (ERROR): NO filter selected\n", who);
    return 1;
  }
  scale_frame(src, dest, width_kernel(flags), height_kernel(flags), vertical_first);
  return 0;
}

}  // namespace

int Frame::deci2(Frame* dest, int flags) {
  return scale_masked(this, dest, flags & 0x3, "Frame::deci2", true);
}

int Frame::deci4(Frame* dest, int flags) {
  return scale_masked(this, dest, flags & 0x300, "Frame::deci4", false);
}

int Frame::decimation(Frame* dest, int flags) {
  return scale_masked(this, dest, flags & SCALE_REDUCE_MASK, "Frame::decimation", true);
}

int Frame::interpolation(Frame* dest, int flags) {
  return scale_masked(this, dest, flags & SCALE_ENLARGE_MASK, "Frame::interpolation", true);
}

static Frame* make_scaled(Frame* self, int tw, int th, int mask, int (Frame::*fill)(Frame*, int)) {
  const int flags = scale_choose(self->padded_width(), self->padded_height(), tw, th, nullptr, nullptr);
  if (!flags || !(flags & mask)) return nullptr;
  auto* f = new (std::nothrow) Frame(tw, th, self->chroma_format(), 0);
  if (!f) return nullptr;
  if (!f->buffer()) {
    delete f;
    return nullptr;
  }
  if (fill) {
    (self->*fill)(f, flags & mask);
  } else if (flags & SCALE_REDUCE_MASK) {
    self->decimation(f, flags & SCALE_REDUCE_MASK);
  } else {
    self->interpolation(f, flags & SCALE_ENLARGE_MASK);
  }
  return f;
}

Frame* Frame::create_scaled(int tw, int th) { return make_scaled(this, tw, th, ~0, nullptr); }
Frame* Frame::create_half(int tw, int th) { return make_scaled(this, tw, th, 0x3, &Frame::deci2); }
Frame* Frame::create_quarter(int tw, int th) { return make_scaled(this, tw, th, 0x300, &Frame::deci4); }
Frame* Frame::create_decimated(int tw, int th) {
  return make_scaled(this, tw, th, SCALE_REDUCE_MASK, &Frame::decimation);
}
