// vbv FILE [--stream ID[:PID]]: runs the VBV model over the stream copied
// unchanged, pictures in coded order through the GOP index; each picture's
// own vbv_delay against the model's.
#include <cstdio>
#include <string>

#include "demux/goplist.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_option.h"
#include "foundation/pic_header.h"
#include "foundation/vbv.h"
#include "foundation/video_finders.h"

namespace {

int run_vbv(int argc, char** argv) {
  if (argc != 2 && argc != 4) return dev_bad_count("vbv", argc);
  int id = 0, pid = 0;
  if (argc == 4) {
    if (std::string(argv[2]) != "--stream") return dev_usage("vbv", "unknown option '%s'", argv[2]);
    if (!dev_parse_stream(argv[3], &id, &pid)) return dev_usage("vbv", "bad stream '%s'", argv[3]);
  }
  const char* name = argv[1];
  DevInput in;
  if (dev_input_of(name, {InputKind::video, InputKind::program, InputKind::transport},
                   "a video elementary, program or transport stream", false, &in))
    return 1;
  // The GOPs of a system stream start at packets: the video's own bytes are
  // counted instead, so distances across GOPs leave the packet headers out.
  const bool packets = in.kind != InputKind::video;
  int64_t video_bytes = 0;
  GOPList list(name, id, pid);
  if (!list.is_open() || list.build_index()) return dev_fail("<%s>: cannot index", name);
  VBV vbv;
  vbv.init(list.get_seqhdr());

  long long pictures = 0, equal = 0;
  int64_t prev_pic = -1;  // video offset of the previous picture start code
  int64_t prev_end = -1;  // the first header start code after it
  GOP g;
  PicHdr pic;
  for (int n = list.get_first_gop(&g, 0); n > 0; n = list.next_gop(&g, 0)) {
    if (list.copy_gop(&g, 1) <= 0 || g.valid_bytes() != g.byte_length)
      return dev_fail("<%s>: cannot read the GOP at %llu", name, (unsigned long long)g.start.value());
    const int64_t base = packets ? video_bytes : int64_t(g.start.value());
    video_bytes += g.byte_length;
    int pos = 0;
    while (pos < g.byte_length) {
      int code = 0;
      const int at = pos + find_next_header_start(g.data + pos, g.byte_length - pos, &code);
      if (code == 0xFFF) break;
      const int64_t x = base + at;
      if (prev_pic >= 0 && prev_end < 0) prev_end = x;
      pos = at + 4;
      if (code != 0x100) continue;
      pic.decode(g.data + at, g.byte_length - at);
      if (pic.errors & (PIC_ERR_FATAL | PIC_ERR_CODING_TYPE)) continue;
      const int64_t previous = prev_pic >= 0 ? prev_end - prev_pic : 0;
      const int64_t headers = prev_pic >= 0 ? x - prev_end : 0;
      const int model = vbv.get_vbv_delay(pic, previous, headers);
      std::printf("pic index=%lld type=%c stream=%d model=%d\n", pictures, "?IPB"[pic.picture_coding_type & 3],
                  pic.vbv_delay, model);
      ++pictures;
      equal += model == pic.vbv_delay;
      prev_pic = x;
      prev_end = -1;
    }
  }
  std::printf("vbv pictures=%lld equal=%lld vbr=%d\n", pictures, equal, vbv.is_vbr() ? 1 : 0);
  return 0;
}

}  // namespace

TAMSEL_DEV_COMMAND(vbv, "FILE [--stream ID[:PID]]",
                   "the VBV model over a video stream copied unchanged: each picture's vbv_delay and the model's",
                   run_vbv);
