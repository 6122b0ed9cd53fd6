// Pictures for the motion-estimation tests: smooth textures, pictures that
// a reference predicts exactly at a known vector (by the MPEG half-sample
// rules), and planar clips read into frames.
#pragma once

#include <algorithm>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "picture/frame.h"

namespace metest {

using FramePtr = std::unique_ptr<Frame>;

inline FramePtr blank(int w, int h) { return std::make_unique<Frame>(w, h, 1, 0); }

inline uint8_t& at(Frame* f, int x, int y) { return f->y_plane()[static_cast<size_t>(y) * f->padded_width() + x]; }

// Bilinear between random values every `cell` pixels: smooth, but no two
// places alike.
inline FramePtr texture(int w, int h, uint32_t seed, int cell = 4) {
  FramePtr f = blank(w, h);
  const int gw = f->padded_width() / cell + 2, gh = f->padded_height() / cell + 2;
  std::mt19937 rng(seed);
  std::vector<int> g(static_cast<size_t>(gw * gh));
  for (int& v : g) v = static_cast<int>(rng() % 220) + 16;
  for (int y = 0; y < f->padded_height(); ++y)
    for (int x = 0; x < f->padded_width(); ++x) {
      const int gx = x / cell, gy = y / cell, fx = x % cell, fy = y % cell;
      const int a = g[gy * gw + gx], b = g[gy * gw + gx + 1], c = g[(gy + 1) * gw + gx], d = g[(gy + 1) * gw + gx + 1];
      at(f.get(), x, y) = static_cast<uint8_t>(
          ((a * (cell - fx) + b * fx) * (cell - fy) + (c * (cell - fx) + d * fx) * fy + cell * cell / 2) /
          (cell * cell));
    }
  return f;
}

// Sample of a plane (every `step` lines from line `first`, `lines` of them)
// at half-pel position (hx, hy), clamped to the plane.
inline int half_sample(Frame* f, int first, int step, int lines, int hx, int hy) {
  auto s = [&](int x, int y) {
    x = std::clamp(x, 0, f->padded_width() - 1);
    y = std::clamp(y, 0, lines - 1);
    return static_cast<int>(at(f, x, first + y * step));
  };
  const int x = hx >> 1, y = hy >> 1;
  switch ((hx & 1) | (hy & 1) << 1) {
    case 0: return s(x, y);
    case 1: return (s(x, y) + s(x + 1, y) + 1) >> 1;
    case 2: return (s(x, y) + s(x, y + 1) + 1) >> 1;
    default: return (s(x, y) + s(x + 1, y) + s(x, y + 1) + s(x + 1, y + 1) + 2) >> 2;
  }
}

// The picture `ref` predicts at vector (vx, vy), half-pel units.
inline FramePtr moved(Frame* ref, int vx, int vy) {
  FramePtr f = blank(ref->padded_width(), ref->padded_height());
  for (int y = 0; y < ref->padded_height(); ++y)
    for (int x = 0; x < ref->padded_width(); ++x)
      at(f.get(), x, y) = static_cast<uint8_t>(half_sample(ref, 0, 1, ref->padded_height(), 2 * x + vx, 2 * y + vy));
  return f;
}

// Top field from the reference's bottom field at v1, bottom field from its
// top field at v2 (field lines, half-pel units).
inline FramePtr fields_swapped(Frame* ref, int v1x, int v1y, int v2x, int v2y) {
  FramePtr f = blank(ref->padded_width(), ref->padded_height());
  const int fh = ref->padded_height() / 2;
  for (int k = 0; k < fh; ++k)
    for (int x = 0; x < ref->padded_width(); ++x) {
      at(f.get(), x, 2 * k) = static_cast<uint8_t>(half_sample(ref, 1, 2, fh, 2 * x + v1x, 2 * k + v1y));
      at(f.get(), x, 2 * k + 1) = static_cast<uint8_t>(half_sample(ref, 0, 2, fh, 2 * x + v2x, 2 * k + v2y));
    }
  return f;
}

// Frames of a planar 4:2:0 clip (luma only is read).
inline std::vector<FramePtr> load_clip(const std::string& path, int w, int h) {
  std::vector<FramePtr> out;
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (!fp) return out;
  const size_t bytes = static_cast<size_t>(w) * h * 3 / 2;
  std::vector<uint8_t> buf(bytes);
  while (std::fread(buf.data(), 1, bytes, fp) == bytes) {
    FramePtr f = blank(w, h);
    for (int y = 0; y < h; ++y) std::copy_n(buf.data() + static_cast<size_t>(y) * w, w, &at(f.get(), 0, y));
    out.push_back(std::move(f));
  }
  std::fclose(fp);
  return out;
}

}  // namespace metest
