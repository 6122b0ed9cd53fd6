// readgop FILE K OUT: writes the coded bytes of GOP K (0-based) to OUT.
#include <cstdio>

#include "demux/goplist.h"
#include "devtool/command.h"

static int run_readgop(int argc, char** argv) {
  long long k = 0;
  if (argc != 4 || !dev_parse_int(argv[2], &k) || k < 0) return dev_usage("readgop");
  GOPList list(argv[1]);
  if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", argv[1]);
  GOP g;
  int n = list.get_first_gop(&g, 0);
  for (long long i = 0; i < k && n > 0; ++i) n = list.next_gop(&g, 0);
  if (n <= 0) return dev_fail("<%s>: no GOP %lld", argv[1], k);
  if (list.copy_gop(&g, 1) <= 0 || g.valid_bytes() != g.byte_length) return dev_fail("<%s>: cannot read GOP %lld", argv[1], k);
  FILE* out = std::fopen(argv[3], "wb");
  if (!out) return dev_fail("<%s>: cannot open to write", argv[3]);
  const size_t wrote = std::fwrite(g.data, 1, size_t(g.byte_length), out);
  if (std::fclose(out) != 0 || wrote != size_t(g.byte_length)) return dev_fail("<%s>: cannot write", argv[3]);
  std::printf("readgop index=%lld start=%llu bytes=%d\n", k, (unsigned long long)g.start.value(), g.byte_length);
  return 0;
}

TAMSEL_DEV_COMMAND(readgop, "FILE K OUT", run_readgop);
