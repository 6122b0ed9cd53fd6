// describe FILE: what the file is and what the engine can tell about it, one
// record whose first word is the kind and whose last key is the format's
// name; only the fields that apply to the kind:
//   video frames=N length=S width=N height=N frame_rate=F chroma=420|422|444
//         header_bit_rate=N|vbr measured_bit_rate=N type=N name=TEXT
//   audio length=S rate=HZ channels=N header_bit_rate=N measured_bit_rate=N type=N name=TEXT
//   stream bytes=N type=N name=TEXT                      (program, transport)
//   still width=N height=N bytes=N name=BMP|JPEG
//   movie samples=N frame_rate=F width=N height=N bytes=N name=QuickTime|AVI
//         (bytes and name only when the readers cannot read its samples)
// A file it cannot name is an error.
#include <cstdio>
#include <string>

#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/summary.h"
#include "formats/avi.h"
#include "formats/qt_decoder.h"
#include "formats/still_loader.h"
#include "foundation/mpeg_fields.h"

namespace {

int describe_still(const char* path, const DevInput& in) {
  StillPicture pic;
  if (!load_still_picture(path, &pic)) return dev_fail("<%s>: %s that does not load", path, dev_kind_text(in));
  std::printf("still width=%d height=%d bytes=%llu name=%s\n", pic.width, pic.height,
              static_cast<unsigned long long>(in.size), in.kind == InputKind::bmp ? "BMP" : "JPEG");
  return 0;
}

int describe_movie(const char* path, const DevInput& in) {
  int samples = 0, width = 0, height = 0;
  double rate = 0;
  int status = 1;
  if (in.kind == InputKind::avi) {
    Avi avi(path, &status);
    if (!status) {
      samples = avi.video_samples;
      rate = avi.get_frame_rate();
      width = avi.get_width();
      height = avi.get_height();
    }
  } else {
    QT_Decoder qt(path, &status);
    if (!status) {
      samples = qt.get_total_samples();
      rate = qt.frame_rate;
      width = qt.width;
      height = qt.height;
    }
  }
  const char* name = in.kind == InputKind::avi ? "AVI" : "QuickTime";
  if (status) {
    // Named all the same; only its samples are out of reach.
    std::printf("movie bytes=%llu name=%s\n", static_cast<unsigned long long>(in.size), name);
    std::fprintf(stderr, "tamsel-dev: <%s>: samples not readable (QuickTime JPEG and AVI DIB movies are)\n", path);
    return 0;
  }
  std::printf("movie samples=%d frame_rate=%.6f width=%d height=%d bytes=%llu name=%s\n", samples, rate, width, height,
              static_cast<unsigned long long>(in.size), name);
  return 0;
}

}  // namespace

static int run_describe(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("describe", argc);
  DevInput in;
  if (!dev_input(argv[1], &in)) return 1;
  const std::string tail = " type=" + std::to_string(in.stream_type) + " name=" + get_stream_type_name(in.stream_type);
  switch (in.kind) {
    case InputKind::video:
    case InputKind::mpeg_audio:
    case InputKind::ac3:
      return dev_print_stream_summary(argv[1], in, in.kind == InputKind::video ? "video " : "audio ", tail.c_str());
    case InputKind::program:
    case InputKind::transport:
      std::printf("stream bytes=%llu%s\n", static_cast<unsigned long long>(in.size), tail.c_str());
      return 0;
    case InputKind::bmp:
    case InputKind::jpeg:
      return describe_still(argv[1], in);
    case InputKind::quicktime:
    case InputKind::avi:
      return describe_movie(argv[1], in);
    case InputKind::empty:
    case InputKind::unknown:
      break;
  }
  return dev_fail("<%s>: cannot tell what this is: %s, not an MPEG stream, still or movie", argv[1],
                  dev_kind_text(in));
}

TAMSEL_DEV_COMMAND(describe, "FILE", "what a file is (stream, still or movie) and its main values", run_describe);
