// probe FILE: stream type, bit rate, VBR flag and CD sector layout.
#include <cstdio>

#include "devtool/command.h"
#include "devtool/input.h"
#include "foundation/mpeg_fields.h"
#include "foundation/probe.h"

static int run_probe(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("probe", argc);
  if (dev_input_readable(argv[1])) return 1;
  auto rec = MPEGFileList::instance().find(argv[1]);
  MPEGFile none;
  const MPEGFile& f = rec ? *rec : none;
  std::printf("type=%d bit_rate=%d vbr=%d cd_sectors=%d name=%s\n", f.stream_type, f.bit_rate, f.vbr,
              f.is_vcd_sectors(), get_stream_type_name(f.stream_type));
  return 0;
}

TAMSEL_DEV_COMMAND(probe, "FILE", "the stream-type probe's verdict: type, estimated bit rate, VBR flag, CD sectors",
                   run_probe);
