// yuv2bmp IN.yuv WIDTH HEIGHT CHROMA BITS OUT.bmp: one planar frame (CHROMA
// 420 or 422) converted at BITS 8, 16, 24 or 32 and saved as a bitmap.
#include <cstdio>
#include <cstring>
#include <vector>

#include "picture/frame.h"
#include "devtool/command.h"
#include "picture/bmp.h"

namespace {

bool read_all(const char* path, std::vector<uint8_t>* data) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data->insert(data->end(), buf, buf + n);
  std::fclose(f);
  return true;
}

}  // namespace

// Fills a frame from one raw planar frame at its own size; false when the
// file is too short.
bool dev_load_raw_frame(const char* path, int w, int h, int chroma, Frame* frame) {
  std::vector<uint8_t> data;
  if (!read_all(path, &data)) return false;
  const int cw = (w + 1) / 2, ch = chroma == 2 ? h : (h + 1) / 2;
  const size_t ys = static_cast<size_t>(w) * h, cs = static_cast<size_t>(cw) * ch;
  if (data.size() < ys + 2 * cs || !frame->buffer()) return false;
  for (int r = 0; r < h; ++r)
    std::memcpy(frame->y_plane() + static_cast<size_t>(r) * frame->padded_width(), data.data() + static_cast<size_t>(r) * w, w);
  const int copy_w = std::min(cw, frame->c_width());
  for (int r = 0; r < ch && r < frame->c_height(); ++r) {
    std::memcpy(frame->cb_plane() + static_cast<size_t>(r) * frame->c_width(), data.data() + ys + static_cast<size_t>(r) * cw, copy_w);
    std::memcpy(frame->cr_plane() + static_cast<size_t>(r) * frame->c_width(), data.data() + ys + cs + static_cast<size_t>(r) * cw,
                copy_w);
  }
  return true;
}

bool dev_parse_chroma(const char* text, int* chroma) {
  if (std::strcmp(text, "420") == 0) *chroma = 1;
  else if (std::strcmp(text, "422") == 0) *chroma = 2;
  else return false;
  return true;
}

static int run_yuv2bmp(int argc, char** argv) {
  if (argc != 7) return dev_usage("yuv2bmp");
  long long w, h, bits;
  int chroma;
  if (!dev_parse_int(argv[2], &w) || !dev_parse_int(argv[3], &h) || w <= 0 || h <= 0 || w > 16384 || h > 16384)
    return dev_fail("bad size %s x %s", argv[2], argv[3]);
  if (!dev_parse_chroma(argv[4], &chroma)) return dev_fail("bad chroma format %s (420 or 422)", argv[4]);
  if (!dev_parse_int(argv[5], &bits) || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return dev_fail("bad depth %s (8, 16, 24 or 32)", argv[5]);
  Frame frame(static_cast<int>(w), static_cast<int>(h), chroma, 0);
  if (!dev_load_raw_frame(argv[1], static_cast<int>(w), static_cast<int>(h), chroma, &frame))
    return dev_fail("<%s>: cannot read one %lldx%lld frame", argv[1], w, h);
  BMP bmp;
  if (!bmp.set_from_frame(&frame, static_cast<int>(bits), 1)) return dev_fail("conversion failed");
  const long long size = bmp.save(argv[6], 0);
  if (!size) return dev_fail("<%s>: cannot write the bitmap", argv[6]);
  std::printf("bytes=%lld\n", size);
  return 0;
}

TAMSEL_DEV_COMMAND(yuv2bmp, "IN.yuv WIDTH HEIGHT CHROMA BITS OUT.bmp", run_yuv2bmp);
