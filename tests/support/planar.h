// A planar 4:2:0 picture in one buffer (rows without padding, chroma w/2
// wide), for readers that write through YuvPlanes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "picture/plane_utils.h"

namespace tsupport {

struct Planar {
  int w, h;
  std::vector<uint8_t> b;
  Planar(int w_, int h_) : w(w_), h(h_), b(static_cast<size_t>(w_) * h_ * 3 / 2) {}
  YuvPlanes planes();
};

}  // namespace tsupport
