// GOPs of a transport stream from arbitrary bytes: parse_gop from the start
// and from offsets inside the file, read_gop of what was found, and audio
// spans.
#include <cstdint>
#include <cstdio>

#include "demux/transport_demuxer.h"
#include "tests/fuzz/fuzz_temp_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  const FuzzTempFile file(data, size);
  if (!file.path()) return 0;
  int err = 0;
  DeMuxerTransport d(file.path(), &err, 4000000);
  if (!err) {
    GOP g;
    d.goto_offset(FileOffset(0u));
    for (int k = 0; k < 1000; ++k) {
      const FileOffset before = d.current_offset();
      if (d.parse_gop(&g, 0, 0, 0) > 0) d.read_gop(&g, 0, k & 1);
      d.goto_offset(g.end);
      if (!d.current_offset().greater(before)) break;
    }
    for (uint64_t at = 0; at < size; at += size / 7 + 1) {
      d.goto_offset(FileOffset::from_u64(at));
      g.end = FileOffset::from_u64(size);
      d.parse_gop(&g, 0, 0, 1);
      ESBuffer span(4096);
      span.start = FileOffset::from_u64(at);
      d.load_abs(&span, 0, 0);
      d.read_abs(&span);
    }
  }
  return 0;
}
