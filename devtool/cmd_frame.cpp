// frame FILE N [N...] --out OUT.yuv [--clip FIRST:LAST] [--size full|half|quarter]:
// opens the clip through frame access and, for each N, searches it exactly
// and writes the frame shown (planar YUV at the display size).
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "devtool/command.h"
#include "foundation/probe.h"

// Shared with the walk command.
struct FrameAccessArgs {
  std::string file, out;
  std::vector<long long> numbers;
  int first = 0, last = -1, size_mode = 0, mode = 25;
};

// Parses FILE, numbers and the options; false on a usage error.
bool frame_access_parse(int argc, char** argv, FrameAccessArgs* a) {
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    if (s == "--out" && i + 1 < argc) {
      a->out = argv[++i];
    } else if (s == "--clip" && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%d:%d", &a->first, &a->last) != 2) return false;
    } else if (s == "--size" && i + 1 < argc) {
      const std::string m = argv[++i];
      a->size_mode = m == "half" ? 1 : m == "quarter" ? 2 : m == "full" ? 0 : -1;
      if (a->size_mode < 0) return false;
    } else if (s == "--step" && i + 1 < argc) {
      const std::string m = argv[++i];
      a->mode = m == "ip" ? 16 + 8 + 2 + 1 : m == "gop" ? 16 + 8 + 4 + 1 : m == "frame" ? 25 : -1;
      if (a->mode < 0) return false;
    } else if (a->file.empty()) {
      a->file = s;
    } else {
      long long v = 0;
      if (!dev_parse_int(argv[i], &v)) return false;
      a->numbers.push_back(v);
    }
  }
  return !a->file.empty() && !a->out.empty() && !a->numbers.empty();
}

// Opens the clip; null (with a message) on failure.
std::unique_ptr<DTV> frame_access_open(const FrameAccessArgs& a) {
  MPEG_Clip clip;
  clip.set_file_name(a.file.c_str());
  int bit_rate = 0;
  clip.clip_type = mpegfile_get_stream_type_and_bit_rate(a.file.c_str(), &bit_rate);
  if (!Clip::is_mpeg_video_type(clip.clip_type)) {
    uint8_t m[12] = {};
    if (FILE* f = std::fopen(a.file.c_str(), "rb")) {
      if (std::fread(m, 1, sizeof m, f) != sizeof m) m[0] = 0;
      std::fclose(f);
    }
    const bool atom = !std::memcmp(m + 4, "ftyp", 4) || !std::memcmp(m + 4, "moov", 4) ||
                      !std::memcmp(m + 4, "mdat", 4) || !std::memcmp(m + 4, "wide", 4);
    clip.clip_type = m[0] == 'B' && m[1] == 'M'                            ? 12
                     : m[0] == 0xFF && m[1] == 0xD8                        ? 11
                     : !std::memcmp(m, "RIFF", 4) && !std::memcmp(m + 8, "AVI ", 4) ? 14
                     : atom                                                ? 13
                                                                           : 0;
  }
  clip.start = a.first;
  clip.count = a.last >= a.first ? a.last - a.first + 1 : 0;
  if (Clip::is_still_image_type(clip.clip_type) && clip.count < 1) clip.count = 100;
  int error = 0;
  auto dtv = std::make_unique<DTV>(&clip, &error, a.size_mode);
  if (error) {
    dev_fail("<%s>: cannot open the clip", a.file.c_str());
    return nullptr;
  }
  return dtv;
}

// Writes the shown frame and prints its line; false when the write failed.
bool frame_access_emit(DTV* dtv, FILE* out) {
  Frame* fr = dtv->create_screen();
  if (!fr) return false;
  const int w = fr->get_width(), h = fr->get_height();
  const int cw = (w + 1) / 2, ch = fr->chroma_format() == 2 ? h : (h + 1) / 2;
  bool ok = true;
  auto put = [&](const uint8_t* p, int stride, int rw, int rh) {
    for (int y = 0; y < rh; ++y)
      if (std::fwrite(p + size_t(y) * stride, 1, size_t(rw), out) != size_t(rw)) ok = false;
  };
  put(fr->y_plane(), fr->padded_width(), w, h);
  put(fr->cb_plane(), fr->c_width(), cw, ch);
  put(fr->cr_plane(), fr->c_width(), cw, ch);
  static const char types[] = "?IPB";
  const int t = fr->picture_coding_type() >= 1 && fr->picture_coding_type() <= 3 ? fr->picture_coding_type() : 0;
  std::printf("frame=%d type=%c fields=%d tff=%d\n", dtv->get_position(), types[t], fr->field_count(),
              fr->top_field_first() ? 1 : 0);
  return ok;
}

static int run_frame(int argc, char** argv) {
  FrameAccessArgs a;
  if (!frame_access_parse(argc, argv, &a)) return dev_usage("frame");
  auto dtv = frame_access_open(a);
  if (!dtv) return 1;
  FILE* out = std::fopen(a.out.c_str(), "wb");
  if (!out) return dev_fail("<%s>: cannot open to write", a.out.c_str());
  bool ok = true;
  for (long long n : a.numbers) {
    dtv->search(int(n), 1);
    ok = frame_access_emit(dtv.get(), out) && ok;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) return dev_fail("<%s>: write failed", a.out.c_str());
  return 0;
}

TAMSEL_DEV_COMMAND(frame, "FILE N [N...] --out OUT.yuv [--clip FIRST:LAST] [--size full|half|quarter]", run_frame);
