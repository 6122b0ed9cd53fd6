// image FILE OUT.yuv: loads a still and writes it as planar 4:2:0 at its size.
#include <cstdio>

#include "devtool/command.h"
#include "formats/still_loader.h"

static int run_image(int argc, char** argv) {
  if (argc != 3) return dev_usage("image");
  StillPicture pic;
  if (!load_still_picture(argv[1], &pic)) return dev_fail("<%s>: cannot load the picture", argv[1]);
  FILE* f = std::fopen(argv[2], "wb");
  if (!f) return dev_fail("<%s>: cannot open to write", argv[2]);
  const bool ok = std::fwrite(pic.yuv.data(), 1, pic.yuv.size(), f) == pic.yuv.size();
  if (std::fclose(f) != 0 || !ok) return dev_fail("<%s>: write failed", argv[2]);
  std::printf("width=%d height=%d\n", pic.width, pic.height);
  return 0;
}

TAMSEL_DEV_COMMAND(image, "FILE OUT.yuv", run_image);
