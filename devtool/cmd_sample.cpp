// sample FILE N OUT.yuv: picture N of a QuickTime JPEG movie or an AVI DIB
// file, written as planar 420 at the reader's picture size.
#include <cstdio>
#include <cstring>
#include <vector>

#include "devtool/command.h"
#include "devtool/input.h"
#include "formats/avi.h"
#include "formats/qt_decoder.h"

namespace {

struct Planar {
  std::vector<uint8_t> bytes;
  YuvPlanes p;
  Planar(int w, int h) : bytes(static_cast<size_t>(w) * h + 2 * static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2)) {
    p.y = bytes.data();
    p.cb = p.y + static_cast<size_t>(w) * h;
    p.cr = p.cb + static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2);
    p.width = w;
    p.height = h;
    p.y_stride = w;
    p.c_stride = (w + 1) / 2;
  }
};

int write_out(const char* name, const Planar& pic, int n) {
  FILE* f = dev_open_output(name);
  if (!f) return 1;
  const bool ok = std::fwrite(pic.bytes.data(), 1, pic.bytes.size(), f) == pic.bytes.size();
  if (std::fclose(f) != 0 || !ok) return dev_fail("<%s>: write failed", name);
  std::printf("sample=%d width=%d height=%d\n", n, pic.p.width, pic.p.height);
  return 0;
}

}  // namespace

static int run_sample(int argc, char** argv) {
  long long n = 0;
  if (argc != 4) return dev_bad_count("sample", argc);
  if (!dev_parse_int(argv[2], &n)) return dev_usage("sample", "sample '%s' is not a number", argv[2]);
  DevInput in;
  if (dev_input_of(argv[1], {InputKind::quicktime, InputKind::avi}, "a QuickTime or AVI movie", true, &in)) return 1;
  if (in.kind == InputKind::avi) {
    int status = 1;
    Avi avi(argv[1], &status);
    if (status) return dev_fail("<%s>: not a readable AVI DIB file", argv[1]);
    if (dev_check_range("sample", n, avi.video_samples)) return 1;
    Planar pic(avi.get_width(), avi.get_height());
    const int used = avi.goto_sample_planes(static_cast<int>(n), pic.p);
    return write_out(argv[3], pic, used);
  }
  int status = 1;
  QT_Decoder qt(argv[1], &status);
  if (status) return dev_fail("<%s>: not a readable QuickTime JPEG movie", argv[1]);
  if (dev_check_range("sample", n, qt.get_total_samples())) return 1;
  Planar pic(qt.width, qt.height);
  if (qt.goto_sample_planes(static_cast<int>(n), &pic.p) != 0) return dev_fail("sample %lld: decoding failed", n);
  return write_out(argv[3], pic, qt.current_sample);
}

TAMSEL_DEV_COMMAND(sample, "FILE N OUT.yuv", "picture N (from 0) of a QuickTime JPEG or AVI DIB movie as planar 420",
                   run_sample);
