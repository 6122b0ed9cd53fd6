// gops FILE [--stream ID[:PID]]: walks the GOP index of a video stream from
// the first GOP with next_gop, one line per GOP, then the totals.
#include <cstdio>
#include <string>

#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_key.h"

static int run_gops(int argc, char** argv) {
  int id = 0, pid = 0;
  if (const int rc = dev_take_stream_option("gops", &argc, argv, &id, &pid)) return rc;
  if (argc != 2) return dev_bad_count("gops", argc);
  if (dev_input_of(argv[1], {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  GOPList list(argv[1], id, pid);
  if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", argv[1]);
  GOP g;
  int count = 0;
  std::string types;
  for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0), ++count) {
    types.clear();
    for (int i = 0; i < g.pic_count; ++i) types += "?IPB"[g.get_pic_type(i) & 3];
    const uint32_t tc = g.time_code;
    char pts[32] = "none";
    if (g.pts > kNoTime) std::snprintf(pts, sizeof pts, "%.0f", g.pts);
    std::printf(
        "gop index=%d start=%llu end=%llu bytes=%d first_field=%d fields=%d pictures=%d types=%s "
        "tc=%02u:%02u:%02u:%02u pts=%s\n",
        count, (unsigned long long)g.start.value(), (unsigned long long)g.end.value(), g.byte_length, g.first_field,
        g.total_fields, g.pic_count, types.c_str(), (tc >> 19) & 31, (tc >> 13) & 63, (tc >> 6) & 63, tc & 63, pts);
  }
  std::printf("total gops=%d frames=%d\n", count, list.get_total_frames());
  return 0;
}

TAMSEL_DEV_COMMAND(gops, "FILE [--stream ID[:PID]]", "every GOP of the index of a video stream, then the totals",
                   run_gops);
