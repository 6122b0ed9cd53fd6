// describe FILE: what the program knows about a media file so far.
#include <sys/stat.h>

#include <cstdio>

#include "devtool/command.h"

static int run_describe(int argc, char** argv) {
  if (argc != 2) return dev_usage("describe");
  struct stat st;
  if (stat(argv[1], &st) != 0) return dev_fail("<%s>: cannot open to read", argv[1]);
  std::printf("file size=%lld\n", static_cast<long long>(st.st_size));
  return 0;
}

TAMSEL_DEV_COMMAND(describe, "FILE", run_describe);
