// info FILE: what the demultiplexer measured of a stream.
#include <cstdio>
#include <memory>

#include "demux/demuxer_cache.h"
#include "demux/goplist.h"
#include "devtool/command.h"

static int run_info(int argc, char** argv) {
  if (argc != 2) return dev_usage("info");
  std::unique_ptr<DeMuxer> d(demuxer_create(argv[1], 0));
  if (!d) return dev_fail("<%s>: cannot open to read", argv[1]);
  const VideoInfo& v = d->get_video_info();
  int frames = 0;
  if (d->get_video_es_count() > 0) {
    GOPList list(argv[1]);
    if (list.is_open() && list.build_index() == 0) frames = list.get_total_frames();
  }
  std::printf("frames=%d length=%.6f width=%d height=%d frame_rate=%.6f bit_rate=%d\n", frames, d->get_total_length(),
              v.width, v.height, d->get_video_es_count() > 0 ? d->get_frame_rate() : 0.0, d->get_bit_rate());
  return 0;
}

TAMSEL_DEV_COMMAND(info, "FILE", run_info);
