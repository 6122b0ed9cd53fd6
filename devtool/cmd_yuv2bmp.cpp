// yuv2bmp IN.yuv WIDTH HEIGHT CHROMA BITS OUT.bmp: one planar frame (CHROMA
// 420 or 422) converted at BITS 8, 16, 24 or 32 and saved as a bitmap.
#include <cstdio>

#include "picture/frame.h"
#include "devtool/command.h"
#include "devtool/raw_frame.h"
#include "picture/bmp.h"

static int run_yuv2bmp(int argc, char** argv) {
  if (argc != 7) return dev_bad_count("yuv2bmp", argc);
  RawFrameArgs in;
  if (const int rc = dev_parse_raw_frame("yuv2bmp", argv + 2, 16384, &in)) return rc;
  long long bits = 0;
  if (!dev_parse_int(argv[5], &bits) || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
    return dev_usage("yuv2bmp", "depth '%s' is not 8, 16, 24 or 32", argv[5]);
  if (dev_check_raw_input(argv[1], in)) return 1;
  Frame frame(in.width, in.height, in.chroma, 0);
  if (dev_load_raw_frame(argv[1], in, &frame)) return 1;
  BMP bmp;
  if (!bmp.set_from_frame(&frame, static_cast<int>(bits), 1)) return dev_fail("conversion failed");
  const long long size = bmp.save(argv[6], 0);
  if (!size) return dev_fail("<%s>: cannot write the bitmap", argv[6]);
  std::printf("bytes=%lld\n", size);
  return 0;
}

TAMSEL_DEV_COMMAND(yuv2bmp, "IN.yuv WIDTH HEIGHT CHROMA BITS OUT.bmp",
                   "converts one planar frame (CHROMA 420 or 422) to a bitmap of BITS 8, 16, 24 or 32", run_yuv2bmp);
