// The one entry that turns a still file into a planar picture, whatever its
// format (stills, and the first picture of movie files of stills).
#pragma once

#include <cstdint>
#include <vector>

#include "picture/plane_utils.h"

// Planar 4:2:0 at the picture's own size: Y width x height, then Cb and Cr
// of (width + 1) / 2 x (height + 1) / 2 each.
struct StillPicture {
  int width = 0;
  int height = 0;
  int clip_type = 0;  // 12 "Windows Bitmap Image", ...
  std::vector<uint8_t> yuv;

  // Sizes the buffer (black) and returns its planes.
  YuvPlanes allocate(int w, int h);
  YuvPlanes planes();
};

// Loads the file into the picture; returns its clip type, 0 on failure.
int load_still_picture(const char* name, StillPicture* out);
