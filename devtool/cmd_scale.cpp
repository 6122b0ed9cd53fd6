// scale IN.yuv WIDTH HEIGHT CHROMA OUT_WIDTH OUT_HEIGHT OUT.yuv: copies one
// planar frame into a frame of the output size with scaling and centring.
#include <cstdio>
#include <cstring>

#include "picture/frame.h"
#include "devtool/command.h"

bool dev_load_raw_frame(const char* path, int w, int h, int chroma, Frame* frame);
bool dev_parse_chroma(const char* text, int* chroma);

static int run_scale(int argc, char** argv) {
  if (argc != 8) return dev_usage("scale");
  long long w, h, ow, oh;
  int chroma;
  if (!dev_parse_int(argv[2], &w) || !dev_parse_int(argv[3], &h) || w <= 0 || h <= 0 || w > 8192 || h > 8192)
    return dev_fail("bad size %s x %s", argv[2], argv[3]);
  if (!dev_parse_int(argv[5], &ow) || !dev_parse_int(argv[6], &oh) || ow <= 0 || oh <= 0 || ow > 8192 || oh > 8192)
    return dev_fail("bad output size %s x %s", argv[5], argv[6]);
  if (!dev_parse_chroma(argv[4], &chroma)) return dev_fail("bad chroma format %s (420 or 422)", argv[4]);
  Frame src(static_cast<int>(w), static_cast<int>(h), chroma, 0);
  if (!dev_load_raw_frame(argv[1], static_cast<int>(w), static_cast<int>(h), chroma, &src))
    return dev_fail("<%s>: cannot read one %lldx%lld frame", argv[1], w, h);
  Frame dst(static_cast<int>(ow), static_cast<int>(oh), chroma, 0);
  if (!dst.buffer()) return dev_fail("out of memory");
  dst.copy_from(&src, 1, 0, 1);
  FILE* f = std::fopen(argv[7], "wb");
  if (!f) return dev_fail("<%s>: cannot open to write", argv[7]);
  bool ok = true;
  const int cw = static_cast<int>(ow + 1) / 2, ch = chroma == 2 ? static_cast<int>(oh) : static_cast<int>(oh + 1) / 2;
  for (int r = 0; r < oh && ok; ++r)
    ok = std::fwrite(dst.y_plane() + static_cast<size_t>(r) * dst.padded_width(), 1, ow, f) == static_cast<size_t>(ow);
  for (uint8_t* plane : {dst.cb_plane(), dst.cr_plane()})
    for (int r = 0; r < ch && ok; ++r)
      ok = std::fwrite(plane + static_cast<size_t>(r) * dst.c_width(), 1, cw, f) == static_cast<size_t>(cw);
  if (std::fclose(f) != 0 || !ok) return dev_fail("<%s>: write failed", argv[7]);
  std::printf("width=%lld height=%lld\n", ow, oh);
  return 0;
}

TAMSEL_DEV_COMMAND(scale, "IN.yuv WIDTH HEIGHT CHROMA OUT_WIDTH OUT_HEIGHT OUT.yuv", run_scale);
