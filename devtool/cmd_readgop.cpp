// readgop FILE K OUT [--stream ID[:PID]]: writes the coded bytes of GOP K
// (0-based) of a video stream to OUT.
#include <cstdio>

#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_key.h"

static int run_readgop(int argc, char** argv) {
  long long k = 0;
  int id = 0, pid = 0;
  if (const int rc = dev_take_stream_option("readgop", &argc, argv, &id, &pid)) return rc;
  if (argc != 4) return dev_bad_count("readgop", argc);
  if (!dev_parse_int(argv[2], &k)) return dev_usage("readgop", "GOP number '%s' is not a number", argv[2]);
  if (dev_input_of(argv[1], {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  GOPList list(argv[1], id, pid);
  if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", argv[1]);
  GOP g;
  int got = list.get_first_gop(&g, 0);
  for (long long i = 0; i < k && got > 0; ++i) got = list.next_gop(&g, 0);
  if (k < 0 || got <= 0) {
    long long count = 0;  // all of them, for the message
    for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0)) ++count;
    return dev_check_range("GOP", k, count);
  }
  if (list.copy_gop(&g, 1) <= 0 || g.valid_bytes() != g.byte_length) return dev_fail("<%s>: cannot read GOP %lld", argv[1], k);
  FILE* out = dev_open_output(argv[3]);
  if (!out) return 1;
  const size_t wrote = std::fwrite(g.data, 1, size_t(g.byte_length), out);
  if (std::fclose(out) != 0 || wrote != size_t(g.byte_length)) return dev_fail("<%s>: cannot write", argv[3]);
  std::printf("readgop index=%lld start=%llu bytes=%d\n", k, (unsigned long long)g.start.value(), g.byte_length);
  return 0;
}

TAMSEL_DEV_COMMAND(readgop, "FILE K OUT [--stream ID[:PID]]", "writes the coded bytes of GOP K (from 0) of a video stream to OUT",
                   run_readgop);
