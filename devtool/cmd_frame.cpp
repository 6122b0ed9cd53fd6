// frame FILE N [N...] --out OUT.yuv [--clip FIRST:LAST] [--size full|half|quarter]:
// opens the clip through frame access and, for each N, searches it exactly
// and writes the frame shown (planar YUV at the display size).
#include <cstdio>

#include "access/dtv.h"
#include "devtool/command.h"
#include "devtool/frame_access.h"
#include "devtool/input.h"

static int run_frame(int argc, char** argv) {
  FrameAccessArgs a;
  if (const int rc = frame_access_parse("frame", argc, argv, &a)) return rc;
  auto dtv = frame_access_open(a);
  if (!dtv) return 1;
  FILE* out = dev_open_output(a.out.c_str());
  if (!out) return 1;
  bool ok = true;
  for (long long n : a.numbers) {
    dtv->search(int(n), 1);
    ok = frame_access_emit(dtv.get(), out) && ok;
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) return dev_fail("<%s>: write failed", a.out.c_str());
  return 0;
}

TAMSEL_DEV_COMMAND(frame, "FILE N [N...] --out OUT.yuv [--clip FIRST:LAST] [--size full|half|quarter]",
                   "frames N of a clip found by exact search through frame access, as planar YUV", run_frame);
