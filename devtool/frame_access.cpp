#include "devtool/frame_access.h"

#include <cstring>

#include "access/dtv.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "foundation/probe.h"

int frame_access_parse(const char* name, int argc, char** argv, FrameAccessArgs* a) {
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    const bool has_value = i + 1 < argc;
    if (s == "--out" && has_value) {
      a->out = argv[++i];
    } else if (s == "--clip" && has_value) {
      char extra = 0;
      if (std::sscanf(argv[++i], "%d:%d%c", &a->first, &a->last, &extra) != 2)
        return dev_usage(name, "clip '%s' is not FIRST:LAST", argv[i]);
      if (a->first < 0 || a->last < a->first)
        return dev_usage(name, "clip %d:%d is not a range of frames", a->first, a->last);
      a->has_clip = true;
    } else if (s == "--size" && has_value) {
      const std::string m = argv[++i];
      a->size_mode = m == "half" ? 1 : m == "quarter" ? 2 : m == "full" ? 0 : -1;
      if (a->size_mode < 0) return dev_usage(name, "size '%s' is not full, half or quarter", argv[i]);
    } else if (s == "--step" && has_value) {
      const std::string m = argv[++i];
      a->mode = m == "ip" ? 16 + 8 + 2 + 1 : m == "gop" ? 16 + 8 + 4 + 1 : m == "frame" ? 25 : -1;
      if (a->mode < 0) return dev_usage(name, "step '%s' is not frame, ip or gop", argv[i]);
    } else if (s.rfind("--", 0) == 0) {
      return dev_usage(name, has_value ? "unknown option '%s'" : "option '%s' without its value", argv[i]);
    } else if (a->file.empty()) {
      a->file = s;
    } else {
      long long v = 0;
      if (!dev_parse_int(argv[i], &v)) return dev_usage(name, "frame '%s' is not a number", argv[i]);
      a->numbers.push_back(v);
    }
  }
  if (a->file.empty()) return dev_usage(name, "no FILE given");
  if (a->out.empty()) return dev_usage(name, "no --out OUT.yuv given");
  if (a->numbers.empty()) return dev_usage(name, "no frame number given");
  return 0;
}

namespace {

int clip_type_of(const DevInput& in) {
  switch (in.kind) {
    case InputKind::video:
    case InputKind::program: return in.stream_type;
    case InputKind::transport: return 8;
    case InputKind::jpeg: return 11;
    case InputKind::bmp: return 12;
    case InputKind::quicktime: return 13;
    case InputKind::avi: return 14;
    default: return 0;
  }
}

}  // namespace

std::unique_ptr<DTV> frame_access_open(const FrameAccessArgs& a) {
  DevInput in;
  if (dev_input_of(a.file.c_str(),
                   {InputKind::video, InputKind::program, InputKind::transport, InputKind::jpeg, InputKind::bmp,
                    InputKind::quicktime, InputKind::avi},
                   "a video elementary, program or transport stream, still or movie", false, &in))
    return nullptr;
  MPEG_Clip clip;
  clip.set_file_name(a.file.c_str());
  clip.clip_type = clip_type_of(in);
  clip.start = a.first;
  clip.count = a.has_clip ? a.last - a.first + 1 : 0;
  if (Clip::is_still_image_type(clip.clip_type) && clip.count < 1) clip.count = 100;
  int error = 0;
  auto dtv = std::make_unique<DTV>(&clip, &error, a.size_mode);
  if (error) {
    dev_fail("<%s>: cannot open the clip", a.file.c_str());
    return nullptr;
  }
  // Frame access clamps a clip or a search beyond the ends; the tool says so.
  if (a.has_clip && Clip::is_mpeg_video_type(clip.clip_type) &&
      (dev_check_range("clip first frame", a.first, dtv->get_stream_frames()) ||
       dev_check_range("clip last frame", a.last, dtv->get_stream_frames())))
    return nullptr;
  for (long long n : a.numbers)
    if (dev_check_range("frame", n, dtv->get_clip_frames())) return nullptr;
  return dtv;
}

bool frame_write_planar(const Frame* fr, FILE* out) {
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
  return ok;
}

bool frame_access_emit(DTV* dtv, FILE* out) {
  Frame* fr = dtv->create_screen();
  if (!fr) return false;
  const bool ok = frame_write_planar(fr, out);
  static const char types[] = "?IPB";
  const int t = fr->picture_coding_type() >= 1 && fr->picture_coding_type() <= 3 ? fr->picture_coding_type() : 0;
  std::printf("frame=%d type=%c fields=%d tff=%d\n", dtv->get_position(), types[t], fr->field_count(),
              fr->top_field_first() ? 1 : 0);
  return ok;
}
