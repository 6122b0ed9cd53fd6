// describe FILE: what the engine can tell about a media file today: its
// stream type, then the stream's own summary where a reader for it exists.
#include <cstdio>

#include "devtool/command.h"
#include "foundation/mpeg_fields.h"
#include "foundation/probe.h"

static int run_describe(int argc, char** argv) {
  if (argc != 2) return dev_usage("describe");
  char* args[] = {argv[0], argv[1], nullptr};
  int rc = dev_run("probe", 2, args);
  if (rc != 0) return rc;
  auto rec = MPEGFileList::instance().find(argv[1]);
  const int type = rec ? rec->stream_type : 0;
  std::fflush(stdout);
  switch (type) {
    case 1: case 2: case 3: case 9:
      return dev_run("info", 2, args);
    default:
      return 0;
  }
}

TAMSEL_DEV_COMMAND(describe, "FILE", run_describe);
