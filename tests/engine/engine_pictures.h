// The picture an engine shows, as one packed 4:2:0 buffer like the raw
// decodes of the fixture script.
#pragma once

#include <cstdint>
#include <vector>

#include "picture/frame.h"

inline std::vector<uint8_t> packed_420(const Frame* f) {
  std::vector<uint8_t> got;
  const int w = f->get_width(), h = f->get_height();
  for (int y = 0; y < h; ++y)
    got.insert(got.end(), f->y_plane() + y * f->padded_width(), f->y_plane() + y * f->padded_width() + w);
  for (const uint8_t* p : {f->cb_plane(), f->cr_plane()})
    for (int y = 0; y < h / 2; ++y) got.insert(got.end(), p + y * f->c_width(), p + y * f->c_width() + w / 2);
  return got;
}
