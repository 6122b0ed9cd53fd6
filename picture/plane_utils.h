// Helpers on 8-bit picture planes, and the plain description of a planar
// YCbCr picture that code below the decoder (still loaders, converters) writes
// through without knowing the decoder's picture classes.
#pragma once

#include <cstdint>

// Where the samples of one planar picture live. Strides are explicit: the
// planes of a decoded picture are padded to multiples of 16.
struct YuvPlanes {
  uint8_t* y = nullptr;
  uint8_t* cb = nullptr;
  uint8_t* cr = nullptr;
  int width = 0;          // area to fill, in luminance samples
  int height = 0;
  int y_stride = 0;       // bytes from one luminance row to the next
  int c_stride = 0;       // same for the chroma planes
  int chroma_format = 1;  // 1 = 4:2:0 (chroma rows halved), 2 = 4:2:2
};

// Copies the overlapping part of a source plane into a target plane of
// another size (rows without padding). Centred: the smaller picture sits in
// the middle (odd surplus to the far side) with `fill` around it, the larger
// one is cropped equally on both sides; else both are anchored top-left and
// target samples the source does not reach are left alone.
void utils_copy_plane_padded(uint8_t* target, int target_width, int target_height, const uint8_t* source,
                             int source_width, int source_height, int fill, int centred);

// The same for a planar 4:2:0 frame: luma with fill 0, then both chroma
// planes (a quarter of the luma plane each, following it) with fill 128.
void utils_copy_yuv420_padded(uint8_t* target, int target_width, int target_height, const uint8_t* source,
                              int source_width, int source_height, int centred);

// 4:2:2 counterpart: chroma planes at half width and full height, placed
// like the luminance rows.
void utils_copy_yuv422_padded(uint8_t* target, int target_width, int target_height, const uint8_t* source,
                              int source_width, int source_height, int centred);

// Fills the border around a centred inner area of a plane.
void utils_fill_plane_border(int fill, uint8_t* plane, int width, int height, int inner_width, int inner_height);
