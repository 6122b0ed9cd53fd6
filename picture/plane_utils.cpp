#include "picture/plane_utils.h"

#include <cstring>

void utils_copy_plane_padded(uint8_t* target, int tw, int th, const uint8_t* source, int sw, int sh, int fill,
                             int centred) {
  if (!target || !source || tw <= 0 || th <= 0 || sw <= 0 || sh <= 0) return;
  int copy_w, src_x = 0, left = 0, right = 0;
  if (sw >= tw) {
    copy_w = tw;
    if (centred) src_x = (sw - tw) / 2;
  } else {
    copy_w = sw;
    if (centred) {
      left = (tw - sw) / 2;
      right = tw - sw - left;
    }
  }
  int copy_h, src_y = 0, top = 0, bottom = 0;
  if (sh >= th) {
    copy_h = th;
    if (centred) src_y = (sh - th) / 2;
  } else {
    copy_h = sh;
    if (centred) {
      top = (th - sh) / 2;
      bottom = th - sh - top;
    }
  }
  const auto f = static_cast<uint8_t>(fill);
  if (top > 0) std::memset(target, f, static_cast<size_t>(top) * tw);
  const uint8_t* s = source + static_cast<size_t>(src_y) * sw + src_x;
  uint8_t* t = target + static_cast<size_t>(top) * tw;
  if (copy_w == tw && sw == tw) {
    std::memcpy(t, s, static_cast<size_t>(copy_h) * tw);
  } else {
    for (int r = 0; r < copy_h; ++r, s += sw, t += tw) {
      if (left > 0) {
        std::memset(t, f, left);
        std::memset(t + left + copy_w, f, right);
      }
      std::memcpy(t + left, s, copy_w);
    }
  }
  if (bottom > 0) std::memset(target + static_cast<size_t>(top + copy_h) * tw, f, static_cast<size_t>(bottom) * tw);
}

void utils_copy_yuv420_padded(uint8_t* target, int tw, int th, const uint8_t* source, int sw, int sh, int centred) {
  if (!target || !source) return;
  utils_copy_plane_padded(target, tw, th, source, sw, sh, 0, centred);
  const size_t tys = static_cast<size_t>(tw) * th, sys = static_cast<size_t>(sw) * sh;
  const int tcw = tw / 2, tch = th / 2, scw = sw / 2, sch = sh / 2;
  uint8_t* tcb = target + tys;
  const uint8_t* scb = source + sys;
  utils_copy_plane_padded(tcb, tcw, tch, scb, scw, sch, 128, centred);
  utils_copy_plane_padded(tcb + tys / 4, tcw, tch, scb + sys / 4, scw, sch, 128, centred);
}

void utils_copy_yuv422_padded(uint8_t* target, int tw, int th, const uint8_t* source, int sw, int sh, int centred) {
  if (!target || !source) return;
  utils_copy_plane_padded(target, tw, th, source, sw, sh, 0, centred);
  const size_t tys = static_cast<size_t>(tw) * th, sys = static_cast<size_t>(sw) * sh;
  uint8_t* tcb = target + tys;
  const uint8_t* scb = source + sys;
  utils_copy_plane_padded(tcb, tw / 2, th, scb, sw / 2, sh, 128, centred);
  utils_copy_plane_padded(tcb + tys / 2, tw / 2, th, scb + sys / 2, sw / 2, sh, 128, centred);
}

void utils_fill_plane_border(int fill, uint8_t* plane, int width, int height, int inner_width, int inner_height) {
  if (!plane || width <= 0 || height <= 0) return;
  if (inner_width > width) inner_width = width;
  if (inner_height > height) inner_height = height;
  if (inner_width < 0) inner_width = 0;
  if (inner_height < 0) inner_height = 0;
  const auto f = static_cast<uint8_t>(fill);
  const int top = (height - inner_height) / 2;
  if (top > 0) {
    std::memset(plane, f, static_cast<size_t>(top) * width);
    const int below = height - top - inner_height;
    std::memset(plane + static_cast<size_t>(top + inner_height) * width, f, static_cast<size_t>(below) * width);
  }
  const int left = (width - inner_width) / 2;
  if (left >= 1) {
    const int right = width - inner_width - left;
    uint8_t* row = plane + static_cast<size_t>(top) * width;
    for (int r = 0; r < inner_height; ++r, row += width) {
      std::memset(row, f, left);
      std::memset(row + left + inner_width, f, right);
    }
  }
}
