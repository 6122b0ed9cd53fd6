// jpeg IN.yuv WIDTH HEIGHT CHROMA QUALITY OUT.jpg: encodes a planar picture
// (CHROMA 420 or 422; chroma planes of (WIDTH + 1) / 2 columns) with the
// still encoder.
#include <cstdio>
#include <vector>

#include "devtool/command.h"
#include "devtool/raw_frame.h"
#include "formats/jpeg_encoder.h"

static int run_jpeg(int argc, char** argv) {
  if (argc != 7) return dev_bad_count("jpeg", argc);
  RawFrameArgs in;
  if (const int rc = dev_parse_raw_frame("jpeg", argv + 2, 8192, &in)) return rc;
  long long quality = 0;
  if (!dev_parse_int(argv[5], &quality) || quality < 0 || quality > 100)
    return dev_usage("jpeg", "quality '%s' is not 0..100", argv[5]);
  // The picture is allocated only once the input is known to hold it.
  if (dev_check_raw_input(argv[1], in)) return 1;
  std::vector<uint8_t> yuv(dev_raw_frame_bytes(in));
  FILE* f = std::fopen(argv[1], "rb");
  if (!f) return dev_fail("<%s>: cannot open to read", argv[1]);
  const size_t got = std::fread(yuv.data(), 1, yuv.size(), f);
  std::fclose(f);
  if (got != yuv.size()) return dev_fail("<%s>: %zu bytes, %zu expected", argv[1], got, yuv.size());
  const size_t ys = static_cast<size_t>(in.width) * in.height;
  const int cw = (in.width + 1) / 2, ch = in.chroma == 2 ? in.height : (in.height + 1) / 2;
  YuvPlanes p;
  p.y = yuv.data();
  p.cb = p.y + ys;
  p.cr = p.cb + static_cast<size_t>(cw) * ch;
  p.width = in.width;
  p.height = in.height;
  p.y_stride = in.width;
  p.c_stride = cw;
  p.chroma_format = in.chroma;
  const long long n = jpeg_save_planes(argv[6], p, static_cast<int>(quality));
  if (!n) return dev_fail("<%s>: encoding failed", argv[6]);
  std::printf("bytes=%lld width=%d height=%d quality=%lld\n", n, in.width, in.height, quality ? quality : 85);
  return 0;
}

TAMSEL_DEV_COMMAND(jpeg, "IN.yuv WIDTH HEIGHT CHROMA QUALITY OUT.jpg",
                   "encodes one planar frame (CHROMA 420 or 422) as a JPEG picture of QUALITY 0..100 (0: 85)", run_jpeg);
