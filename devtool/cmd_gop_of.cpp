// gop-of FILE FRAME...: for each frame a cold search on a fresh index: the
// GOP found and how many GOPs were parsed to find it.
#include <cstdio>

#include "demux/goplist.h"
#include "devtool/command.h"

static int run_gop_of(int argc, char** argv) {
  if (argc < 3) return dev_usage("gop-of");
  for (int a = 2; a < argc; ++a) {
    long long frame = 0;
    if (!dev_parse_int(argv[a], &frame)) return dev_usage("gop-of");
    GOPList list(argv[1]);
    if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", argv[1]);
    GOP g;
    const int before = list.get_parse_count();
    const int first = list.get_gop(int(frame), &g, 0, 0);
    std::printf("frame=%lld gop_start=%llu first_frame=%d parses=%d\n", frame, (unsigned long long)g.start.value(),
                first, list.get_parse_count() - before);
  }
  return 0;
}

TAMSEL_DEV_COMMAND(gop-of, "FILE FRAME...", run_gop_of);
