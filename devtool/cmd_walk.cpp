// walk FILE FROM TO [TO...] --out OUT.yuv [--clip FIRST:LAST] [--step frame|ip|gop]:
// searches FROM, then steps one frame (or one I/P picture, or one GOP) at a
// time forward or backward to TO, and on to every further TO, writing each
// frame shown, FROM included.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "access/dtv.h"
#include "devtool/command.h"
#include "devtool/frame_access.h"
#include "devtool/input.h"

static int run_walk(int argc, char** argv) {
  FrameAccessArgs a;
  if (const int rc = frame_access_parse("walk", argc, argv, &a)) return rc;
  if (a.numbers.size() < 2) return dev_usage("walk", "no frame TO walk to");
  auto dtv = frame_access_open(a);
  if (!dtv) return 1;
  FILE* out = dev_open_output(a.out.c_str());
  if (!out) return 1;
  dtv->search(int(a.numbers[0]), 1);
  dtv->set_play_mode(a.mode);
  bool ok = frame_access_emit(dtv.get(), out);
  for (size_t k = 1; k < a.numbers.size(); ++k) {
    const int to = int(a.numbers[k]);
    while (dtv->get_position() != to) {
      const bool fwd = to > dtv->get_position();
      const int before = dtv->get_position();
      if (fwd) dtv->forward(1);
      else dtv->backward(1);
      // Stop at the clip's ends, or where a coarse step would pass TO.
      if (dtv->get_position() == before) break;
      ok = frame_access_emit(dtv.get(), out) && ok;
      if (fwd ? dtv->get_position() > to : dtv->get_position() < to) break;
    }
  }
  ok = std::fclose(out) == 0 && ok;
  if (!ok) return dev_fail("<%s>: write failed", a.out.c_str());
  return 0;
}

TAMSEL_DEV_COMMAND(walk, "FILE FROM TO [TO...] --out OUT.yuv [--clip FIRST:LAST] [--step frame|ip|gop]",
                   "steps frame access from FROM to each TO, writing every frame shown as planar YUV", run_walk);
