// span FILE OFFSET [--stream ID[:PID]]: one audio span loaded at OFFSET, with
// the time stamp of its first whole frame. In program streams ID is the
// audio stream's key (0xC0, 0x80, 0xA0, ...; the default audio stream
// without it).
#include <cstdio>
#include <memory>

#include "demux/demuxer_cache.h"
#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/stream_key.h"

static int run_span(int argc, char** argv) {
  long long offset = 0;
  int id = 0, pid = 0;
  if (const int rc = dev_take_stream_option("span", &argc, argv, &id, &pid)) return rc;
  if (argc != 3) return dev_bad_count("span", argc);
  if (!dev_parse_int(argv[2], &offset) || offset < 0)
    return dev_usage("span", "offset '%s' is not a byte offset", argv[2]);
  DevInput in;
  if (dev_input_of(argv[1], {InputKind::mpeg_audio, InputKind::ac3, InputKind::program, InputKind::transport},
                   "an audio elementary, program or transport stream", false, &in))
    return 1;
  std::unique_ptr<DeMuxer> d(demuxer_create(argv[1], 0));
  if (!d) return dev_fail("<%s>: cannot read %s", argv[1], dev_kind_text(in));
  if (in.kind == InputKind::program) {
    if (!id) id = d->get_audio_selection(nullptr);
    int n = 0;
    const ESData* es = d->get_es_data(&n);
    bool known = false;
    for (int i = 0; i < n; ++i) known |= es[i].is_audio() && es[i].stream_id == id;
    if (!known) return dev_fail("<%s>: no audio stream 0x%x", argv[1], id);
  }
  ESBuffer span(16384);
  span.start = FileOffset::from_u64(uint64_t(offset));
  span.stream_id = id;
  span.pid = pid;
  const double t = d->load_abs(&span, 0, 0);
  char pts[32] = "none";
  if (t > kNoTime) std::snprintf(pts, sizeof pts, "%.0f", t);
  std::printf("span start=%llu first_frame=%llu pts=%s bytes=%d\n", (unsigned long long)span.start.value(),
              (unsigned long long)(span.start.value() + uint64_t(span.first_frame)), pts, span.bytes);
  return 0;
}

TAMSEL_DEV_COMMAND(span, "FILE OFFSET [--stream ID[:PID]]", "the audio span of an audio stream loaded at byte OFFSET",
                   run_span);
