// Raw planar frames given to the picture commands (IN.yuv WIDTH HEIGHT CHROMA).
#pragma once

#include <cstddef>

class Frame;

struct RawFrameArgs {
  int width = 0, height = 0, chroma = 1;  // chroma_format: 1 4:2:0, 2 4:2:2
};

// Reads WIDTH, HEIGHT (1..max_side) and CHROMA from argv[0..2]; 0, or 2
// after a usage error naming what was wrong.
int dev_parse_raw_frame(const char* name, char** argv, int max_side, RawFrameArgs* a);
// Bytes of one frame of that size.
size_t dev_raw_frame_bytes(const RawFrameArgs& a);
// Checks, before anything is allocated, that path is readable and holds one
// frame of that size; 0, or 1 with the cause.
int dev_check_raw_input(const char* path, const RawFrameArgs& a);
// Fills the frame from the first planar frame of path; 0, or 1 with the cause.
int dev_load_raw_frame(const char* path, const RawFrameArgs& a, Frame* frame);
