// audio FILE: every MPEG audio frame of an elementary stream, one line each:
//   frame offset=N layer=N rate=N channels=N bit_rate=N size=N
// Junk between frames is skipped by resynchronising on the stream's header;
// a frame cut off by the end of the file is reported in the trace, not
// listed.
#include <cstdio>

#include "devtool/audio_frames.h"
#include "devtool/command.h"
#include "devtool/file_window.h"
#include "devtool/input.h"
#include "foundation/audio_header.h"
#include "foundation/bsfile.h"
#include "foundation/trace.h"

namespace {

int run_audio(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("audio", argc);
  if (dev_input_of(argv[1], {InputKind::mpeg_audio}, "an MPEG audio elementary stream", true)) return 1;
  int err = 0;
  BSFile file(argv[1], 1, &err);
  if (err || !file.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);
  FileWindow w(file);
  const long long frames = walk_audio_frames(w, [](uint64_t pos, const FrmHdr& h) {
    std::printf("frame offset=%llu layer=%d rate=%d channels=%d bit_rate=%d size=%d\n",
                static_cast<unsigned long long>(pos), h.layer, h.sample_rate, h.channels, h.bit_rate, h.frame_size);
    return true;
  });
  if (frames < 0) {
    trace("audio: no MPEG audio frame found in <%s>\n", argv[1]);
    return dev_fail("<%s>: no MPEG audio frame found", argv[1]);
  }
  if (!frames) return dev_fail("<%s>: no whole MPEG audio frame found", argv[1]);
  trace("audio: %lld frames\n", frames);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(audio, "FILE", "every frame of an MPEG audio elementary stream", run_audio);
