// patch FILE [--bit-rate BITS] [--vbv-size BITS] [--vbv-delay-add TICKS]
// [--stream ID]: the in-place modifiers over a finished file.
#include <cstdio>
#include <memory>
#include <string>

#include "demux/demuxer_cache.h"
#include "devtool/command.h"
#include "devtool/input.h"

namespace {

int run_patch(int argc, char** argv) {
  if (argc < 2 || argc % 2 != 0) return dev_bad_count("patch", argc);
  long long bit_rate = -1, vbv_size = -1, delay_add = 0, id = 0xE0;
  bool delay_given = false;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string opt = argv[i];
    long long v = 0;
    if (!dev_parse_int(argv[i + 1], &v)) return dev_usage("patch", "%s needs a number, not '%s'", argv[i], argv[i + 1]);
    if (opt == "--bit-rate" && v > 0 && v <= 0x7FFFFFFF) bit_rate = v;
    else if (opt == "--vbv-size" && v > 0 && v <= 0x7FFFFFFF) vbv_size = v;
    else if (opt == "--vbv-delay-add" && v >= -65535 && v <= 65535) delay_add = v, delay_given = true;
    else if (opt == "--stream" && v >= 0xE0 && v <= 0xEF) id = v;
    else return dev_usage("patch", "bad option or value '%s %s'", argv[i], argv[i + 1]);
  }
  const char* name = argv[1];
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false))
    return 1;
  std::unique_ptr<DeMuxer> dmx(demuxer_create(name, 0));
  if (!dmx) return dev_fail("<%s>: cannot open", name);
  int sequences = 0, pictures = 0;
  if (bit_rate > 0) {
    sequences = dmx->seqhdr_modifier(int(id), int(bit_rate));
    if (sequences < 0) return dev_fail("<%s>: cannot patch the bit rate (open for update or write failed)", name);
  }
  if (vbv_size > 0 || delay_given) {
    pictures = dmx->vbv_modifier(int(id), vbv_size > 0 ? int(vbv_size) : 0, int(delay_add));
    if (pictures < 0) return dev_fail("<%s>: cannot patch the VBV values (open for update or write failed)", name);
  }
  std::printf("patch sequence_headers=%d pictures=%d\n", sequences, pictures);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(patch, "FILE [--bit-rate BITS] [--vbv-size BITS] [--vbv-delay-add TICKS] [--stream ID]",
                   "rewrites bit rate, VBV buffer size and vbv_delay of a video stream in place", run_patch);
