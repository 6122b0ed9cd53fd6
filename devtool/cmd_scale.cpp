// scale IN.yuv WIDTH HEIGHT CHROMA OUT_WIDTH OUT_HEIGHT OUT.yuv: copies one
// planar frame into a frame of the output size with scaling and centring.
#include <cstdio>

#include "picture/frame.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/raw_frame.h"

static int run_scale(int argc, char** argv) {
  if (argc != 8) return dev_bad_count("scale", argc);
  RawFrameArgs in;
  if (const int rc = dev_parse_raw_frame("scale", argv + 2, 8192, &in)) return rc;
  long long ow, oh;
  if (!dev_parse_int(argv[5], &ow) || !dev_parse_int(argv[6], &oh) || ow <= 0 || oh <= 0 || ow > 8192 || oh > 8192)
    return dev_usage("scale", "output size %s x %s is not 1..8192 on each side", argv[5], argv[6]);
  if (dev_check_raw_input(argv[1], in)) return 1;
  Frame src(in.width, in.height, in.chroma, 0);
  if (dev_load_raw_frame(argv[1], in, &src)) return 1;
  Frame dst(static_cast<int>(ow), static_cast<int>(oh), in.chroma, 0);
  if (!dst.buffer()) return dev_fail("out of memory");
  dst.copy_from(&src, 1, 0, 1);
  FILE* f = dev_open_output(argv[7]);
  if (!f) return 1;
  bool ok = true;
  const int cw = static_cast<int>(ow + 1) / 2, ch = in.chroma == 2 ? static_cast<int>(oh) : static_cast<int>(oh + 1) / 2;
  for (int r = 0; r < oh && ok; ++r)
    ok = std::fwrite(dst.y_plane() + static_cast<size_t>(r) * dst.padded_width(), 1, ow, f) == static_cast<size_t>(ow);
  for (uint8_t* plane : {dst.cb_plane(), dst.cr_plane()})
    for (int r = 0; r < ch && ok; ++r)
      ok = std::fwrite(plane + static_cast<size_t>(r) * dst.c_width(), 1, cw, f) == static_cast<size_t>(cw);
  if (std::fclose(f) != 0 || !ok) return dev_fail("<%s>: write failed", argv[7]);
  std::printf("width=%lld height=%lld\n", ow, oh);
  return 0;
}

TAMSEL_DEV_COMMAND(scale, "IN.yuv WIDTH HEIGHT CHROMA OUT_WIDTH OUT_HEIGHT OUT.yuv",
                   "scales and centres one planar frame (CHROMA 420 or 422) into a frame of the output size",
                   run_scale);
