// Concealment works on a frame grid of macroblocks with the frame's own
// chroma layout. A field pair's map (first field, then second field) is
// merged: a frame macroblock counts as decoded only when the field
// macroblocks covering it were decoded in both fields.
#include "decode/conceal.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "picture/frame.h"
#include "decode/mc.h"
#include "decode/picdec.h"

namespace {

struct Geo {
  int s, cs_w, cs_h;  // luma square, chroma width and height of a macroblock
};

Geo geometry(const Frame* f, int log2s) {
  const int s = 1 << log2s;
  return Geo{s, s / 2, f->chroma_format() == 2 ? s : s / 2};
}

// Applies fn(plane, stride, x, y, w, h) to the luma and both chroma areas
// of a macroblock.
template <typename Fn>
void for_planes(Frame* f, int col, int row, int log2s, Fn fn) {
  const Geo g = geometry(f, log2s);
  fn(0, f->padded_width(), col * g.s, row * g.s, g.s, g.s);
  fn(1, f->c_width(), col * g.cs_w, row * g.cs_h, g.cs_w, g.cs_h);
  fn(2, f->c_width(), col * g.cs_w, row * g.cs_h, g.cs_w, g.cs_h);
}

uint8_t* plane_of(Frame* f, int p) { return p == 0 ? f->y_plane() : p == 1 ? f->cb_plane() : f->cr_plane(); }

}  // namespace

int find_nearest_marked_mb(const uint8_t* map, int cols, int rows, int col, int row, int* out_col, int* out_row) {
  *out_col = col;
  *out_row = row;
  if (row > 0 && map[(row - 1) * cols + col]) {
    *out_row = row - 1;
    return 1;
  }
  const int larger = std::max(cols, rows);
  if (larger < 2) return 0;
  const int rings = std::min(larger - 1, CONCEAL_MAX_RING);
  static const int dx[4] = {1, 0, -1, 0}, dy[4] = {0, 1, 0, -1};
  for (int d = 1; d <= rings; ++d) {
    int c = col - d, r = row - d;
    for (int side = 0; side < 4; ++side)
      for (int k = 0; k < 2 * d; ++k) {
        if (c >= 0 && c < cols && r >= 0 && r < rows && map[r * cols + c]) {
          *out_col = c;
          *out_row = r;
          return 1;
        }
        c += dx[side];
        r += dy[side];
      }
  }
  return 0;
}

void conceal_copy_block(Frame* f, int dc, int dr, int sc, int sr, int log2s) {
  const Geo g = geometry(f, log2s);
  for (int p = 0; p < 3; ++p) {
    const int stride = p ? f->c_width() : f->padded_width();
    const int w = p ? g.cs_w : g.s, h = p ? g.cs_h : g.s;
    uint8_t* base = plane_of(f, p);
    for (int y = 0; y < h; ++y)
      std::memmove(base + (dr * h + y) * stride + dc * w, base + (sr * h + y) * stride + sc * w, static_cast<size_t>(w));
  }
}

void conceal_zero_block(Frame* f, int col, int row, int log2s) {
  for_planes(f, col, row, log2s, [&](int p, int stride, int x, int y, int w, int h) {
    uint8_t* base = plane_of(f, p);
    for (int j = 0; j < h; ++j) std::memset(base + (y + j) * stride + x, p ? 128 : 0, static_cast<size_t>(w));
  });
}

int conceal_picture(PicDecoder* d, int decoded, Frame* frame, Frame* forward, Frame* backward) {
  if (!frame || !frame->y_plane()) return 0;
  const int log2s = 4 - d->get_size_mode();
  const int s = 1 << log2s;
  const int mb_cols = d->get_mb_cols();
  const int cols = std::min(mb_cols, frame->padded_width() / s);
  const int rows = std::min(d->get_mb_rows(), frame->padded_height() / s);
  // frame-grid map
  std::vector<uint8_t> map(static_cast<size_t>(cols) * rows, 0);
  const uint8_t* m = d->get_mb_map();
  const bool fields = frame->picture_structure() != PIC_FRAME;
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      if (!fields) {
        map[r * cols + c] = m[r * mb_cols + c];
      } else {
        const int fi = (r / 2) * mb_cols + c;
        map[r * cols + c] = m[fi] && m[d->get_mb_count() / 2 + fi];
      }
    }
  int missing = 0;
  for (uint8_t v : map) missing += !v;
  if (!missing) return 0;
  if (decoded == 0 && forward && forward != frame && forward->padded_width() == frame->padded_width() &&
      forward->padded_height() == frame->padded_height() && forward->chroma_format() == frame->chroma_format()) {
    std::memcpy(frame->y_plane(), forward->y_plane(), static_cast<size_t>(frame->y_size()));
    std::memcpy(frame->cb_plane(), forward->cb_plane(), static_cast<size_t>(frame->c_size()));
    std::memcpy(frame->cr_plane(), forward->cr_plane(), static_cast<size_t>(frame->c_size()));
    return missing;
  }
  const int ptype = d->get_picture_header().picture_coding_type;
  auto usable = [&](Frame* r) {
    return r && r != frame && r->y_plane() && r->padded_width() == frame->padded_width() &&
           r->padded_height() == frame->padded_height() && r->chroma_format() == frame->chroma_format();
  };
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < cols; ++c) {
      if (map[r * cols + c]) continue;
      if (ptype == PIC_TYPE_B && usable(forward) && usable(backward)) {
        for_planes(frame, c, r, log2s, [&](int p, int stride, int x, int y, int w, int h) {
          const size_t off = static_cast<size_t>(y) * stride + x;
          for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i) {
              const size_t o = off + static_cast<size_t>(j) * stride + i;
              plane_of(frame, p)[o] =
                  static_cast<uint8_t>((plane_of(forward, p)[o] + plane_of(backward, p)[o] + 1) >> 1);
            }
        });
      } else if (ptype != PIC_TYPE_I && usable(forward)) {
        for_planes(frame, c, r, log2s, [&](int p, int stride, int x, int y, int w, int h) {
          for (int j = 0; j < h; ++j)
            std::memcpy(plane_of(frame, p) + (y + j) * stride + x, plane_of(forward, p) + (y + j) * stride + x,
                        static_cast<size_t>(w));
        });
      } else {
        int sc, sr;
        if (find_nearest_marked_mb(map.data(), cols, rows, c, r, &sc, &sr))
          conceal_copy_block(frame, c, r, sc, sr, log2s);
        else
          conceal_zero_block(frame, c, r, log2s);
      }
    }
  return missing;
}
