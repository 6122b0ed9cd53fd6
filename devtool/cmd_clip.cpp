// clip FILE [--start N] [--count N]: the verified clip of a media file:
//   clip type=N start=N count=N frames=N width=N height=N frame_rate=R
//        audio_streams=N audio_id=N layer=N channels=N sample_rate=N
//        audio_bit_rate=N audio_frames=N audio_frame_period=R name=TYPE NAME
// A file that is refused exits 1.
#include <cstdio>
#include <cstring>

#include "devtool/command.h"
#include "engine/clips/clip_verify.h"
#include "foundation/trace.h"

namespace {

int run_clip(int argc, char** argv) {
  const char* file = nullptr;
  long long start = 0, count = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--start") == 0 || std::strcmp(argv[i], "--count") == 0) {
      long long* to = argv[i][2] == 's' ? &start : &count;
      if (i + 1 >= argc || !dev_parse_int(argv[i + 1], to) || *to < 0 || *to > 0x7fffffff)
        return dev_usage("clip", "%s takes a frame number", argv[i]);
      ++i;
    } else if (!file) {
      file = argv[i];
    } else {
      return dev_usage("clip", "one FILE only");
    }
  }
  if (!file) return dev_usage("clip", "no FILE");
  auto made = clip_ctor(file, int(start), int(count), 0, 0);
  if (!made) return dev_fail("clip: <%s>: refused (not a media file this editor opens)", file);
  Clip& c = *made;
  if (c.audio_stream_count > 0 && c.audio_frame_total == 0) clip_set_abs_parameters(&c);
  std::printf(
      "clip type=%d start=%d count=%d frames=%d width=%d height=%d frame_rate=%.6f audio_streams=%d audio_id=%d "
      "layer=%d channels=%d sample_rate=%d audio_bit_rate=%d audio_frames=%d audio_frame_period=%.6f name=%s\n",
      c.clip_type, c.start, c.count, c.video_frame_total, c.width, c.height, c.frame_rate, c.audio_stream_count,
      c.audio_stream_id, c.audio_layer, c.channels, c.sample_rate, c.audio_bit_rate, c.audio_frame_total,
      c.audio_frame_period, Clip::get_clip_name(c.clip_type));
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(clip, "FILE [--start N] [--count N]", "the verified clip of a media file: type, range, streams",
                   run_clip);
