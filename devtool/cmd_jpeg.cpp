// jpeg IN.yuv WIDTH HEIGHT CHROMA QUALITY OUT.jpg: encodes a planar picture
// (CHROMA 1 = 4:2:0, 2 = 4:2:2; chroma planes of (WIDTH + 1) / 2 columns)
// with the still encoder.
#include <cstdio>
#include <vector>

#include "devtool/command.h"
#include "formats/jpeg_encoder.h"

static int run_jpeg(int argc, char** argv) {
  if (argc != 7) return dev_usage("jpeg");
  long long w = 0, h = 0, chroma = 0, quality = 0;
  if (!dev_parse_int(argv[2], &w) || !dev_parse_int(argv[3], &h) || !dev_parse_int(argv[4], &chroma) ||
      !dev_parse_int(argv[5], &quality) || w < 1 || h < 1 || w > 65535 || h > 65535 || (chroma != 1 && chroma != 2) ||
      quality < 0 || quality > 100)
    return dev_usage("jpeg");
  const size_t ys = static_cast<size_t>(w) * h;
  const size_t cw = static_cast<size_t>((w + 1) / 2), ch = static_cast<size_t>(chroma == 2 ? h : (h + 1) / 2);
  std::vector<uint8_t> yuv(ys + 2 * cw * ch);
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return dev_fail("<%s>: cannot open to read", argv[1]);
  const size_t got = std::fread(yuv.data(), 1, yuv.size(), f);
  std::fclose(f);
  if (got != yuv.size()) return dev_fail("<%s>: %zu bytes, %zu expected", argv[1], got, yuv.size());
  YuvPlanes p;
  p.y = yuv.data();
  p.cb = p.y + ys;
  p.cr = p.cb + cw * ch;
  p.width = static_cast<int>(w);
  p.height = static_cast<int>(h);
  p.y_stride = static_cast<int>(w);
  p.c_stride = static_cast<int>(cw);
  p.chroma_format = static_cast<int>(chroma);
  const long long n = jpeg_save_planes(argv[6], p, static_cast<int>(quality));
  if (!n) return dev_fail("<%s>: encoding failed", argv[6]);
  std::printf("bytes=%lld width=%lld height=%lld quality=%lld\n", n, w, h, quality ? quality : 85);
  return 0;
}

TAMSEL_DEV_COMMAND(jpeg, "IN.yuv WIDTH HEIGHT CHROMA QUALITY OUT.jpg", run_jpeg);
