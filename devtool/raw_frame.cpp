#include "devtool/raw_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "picture/frame.h"
#include "devtool/command.h"
#include "devtool/input.h"

int dev_parse_raw_frame(const char* name, char** argv, int max_side, RawFrameArgs* a) {
  long long w = 0, h = 0;
  if (!dev_parse_int(argv[0], &w) || !dev_parse_int(argv[1], &h) || w < 1 || h < 1 || w > max_side || h > max_side)
    return dev_usage(name, "size %s x %s is not 1..%d on each side", argv[0], argv[1], max_side);
  if (!dev_parse_chroma(argv[2], &a->chroma)) return dev_usage(name, "chroma '%s' is not 420 or 422", argv[2]);
  a->width = static_cast<int>(w);
  a->height = static_cast<int>(h);
  return 0;
}

size_t dev_raw_frame_bytes(const RawFrameArgs& a) {
  const size_t cw = static_cast<size_t>(a.width + 1) / 2;
  const size_t ch = a.chroma == 2 ? static_cast<size_t>(a.height) : static_cast<size_t>(a.height + 1) / 2;
  return static_cast<size_t>(a.width) * a.height + 2 * cw * ch;
}

int dev_check_raw_input(const char* path, const RawFrameArgs& a) {
  uint64_t have = 0;
  if (dev_input_readable(path, &have)) return 1;
  const size_t need = dev_raw_frame_bytes(a);
  if (have < need)
    return dev_fail("<%s>: %llu bytes, a %dx%d %d frame needs %zu", path, static_cast<unsigned long long>(have), a.width,
                    a.height, dev_chroma_notation(a.chroma), need);
  return 0;
}

int dev_load_raw_frame(const char* path, const RawFrameArgs& a, Frame* frame) {
  const int w = a.width, h = a.height;
  const int cw = (w + 1) / 2, ch = a.chroma == 2 ? h : (h + 1) / 2;
  const size_t ys = static_cast<size_t>(w) * h, cs = static_cast<size_t>(cw) * ch;
  if (!frame->buffer()) return dev_fail("out of memory for a %dx%d frame", w, h);
  std::vector<uint8_t> data(ys + 2 * cs);
  FILE* f = std::fopen(path, "rb");
  if (!f) return dev_fail("<%s>: cannot open to read", path);
  const size_t got = std::fread(data.data(), 1, data.size(), f);
  std::fclose(f);
  if (got != data.size()) return dev_fail("<%s>: read failed", path);
  for (int r = 0; r < h; ++r)
    std::memcpy(frame->y_plane() + static_cast<size_t>(r) * frame->padded_width(), data.data() + static_cast<size_t>(r) * w, w);
  const int copy_w = std::min(cw, frame->c_width());
  for (int r = 0; r < ch && r < frame->c_height(); ++r) {
    std::memcpy(frame->cb_plane() + static_cast<size_t>(r) * frame->c_width(), data.data() + ys + static_cast<size_t>(r) * cw,
                copy_w);
    std::memcpy(frame->cr_plane() + static_cast<size_t>(r) * frame->c_width(),
                data.data() + ys + cs + static_cast<size_t>(r) * cw, copy_w);
  }
  return 0;
}
