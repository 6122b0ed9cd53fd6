// image FILE OUT.yuv: loads a still and writes it as planar 4:2:0 at its size.
#include <cstdio>

#include "devtool/command.h"
#include "devtool/input.h"
#include "formats/still_loader.h"

static int run_image(int argc, char** argv) {
  if (argc != 3) return dev_bad_count("image", argc);
  if (dev_input_of(argv[1], {InputKind::bmp, InputKind::jpeg, InputKind::quicktime, InputKind::avi},
                   "a still picture or movie", true))
    return 1;
  StillPicture pic;
  if (!load_still_picture(argv[1], &pic)) return dev_fail("<%s>: cannot load the picture", argv[1]);
  FILE* f = dev_open_output(argv[2]);
  if (!f) return 1;
  const bool ok = std::fwrite(pic.yuv.data(), 1, pic.yuv.size(), f) == pic.yuv.size();
  if (std::fclose(f) != 0 || !ok) return dev_fail("<%s>: write failed", argv[2]);
  std::printf("width=%d height=%d\n", pic.width, pic.height);
  return 0;
}

TAMSEL_DEV_COMMAND(image, "FILE OUT.yuv", "first picture of a BMP, JPEG, QuickTime or AVI file as planar 420",
                   run_image);
