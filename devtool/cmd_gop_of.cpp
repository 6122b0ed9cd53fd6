// gop-of FILE FRAME... [--stream ID[:PID]]: for each frame a cold search on a fresh index: the
// GOP found and how many GOPs were parsed to find it.
#include <cstdio>

#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_key.h"

static int run_gop_of(int argc, char** argv) {
  int id = 0, pid = 0;
  if (const int rc = dev_take_stream_option("gop-of", &argc, argv, &id, &pid)) return rc;
  if (argc < 3) return dev_bad_count("gop-of", argc);
  for (int a = 2; a < argc; ++a) {
    long long frame = 0;
    if (!dev_parse_int(argv[a], &frame)) return dev_usage("gop-of", "frame '%s' is not a number", argv[a]);
  }
  if (dev_input_of(argv[1], {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  for (int a = 2; a < argc; ++a) {
    long long frame = 0;
    dev_parse_int(argv[a], &frame);
    GOPList list(argv[1], id, pid);
    if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", argv[1]);
    GOP g;
    const int before = list.get_parse_count();
    const int first = list.get_gop(int(frame), &g, 0, 0);
    const int parses = list.get_parse_count() - before;
    // Checked after the search, which must find the index cold.
    if (dev_check_range("frame", frame, list.get_total_frames())) return 1;
    std::printf("frame=%lld gop_start=%llu first_frame=%d parses=%d\n", frame, (unsigned long long)g.start.value(),
                first, parses);
  }
  return 0;
}

TAMSEL_DEV_COMMAND(gop-of, "FILE FRAME... [--stream ID[:PID]]", "the GOP holding each frame, found by a cold search on a fresh index",
                   run_gop_of);
