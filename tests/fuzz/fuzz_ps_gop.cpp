// Program streams of arbitrary bytes opened as files (.VOB and .VRO names
// run the segment analyses): GOPs parsed and read in a walk from the start,
// audio spans loaded from several offsets.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "demux/program.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 22)) return 0;
  static int counter = 0;
  const char* ext = (counter++ & 1) ? ".VOB" : ".VRO";
  const std::string path = "/tmp/fuzz_ps_gop_" + std::to_string(getpid()) + ext;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 0;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  int err = 0;
  DeMuxerProgram d(path.c_str(), &err, size && (data[0] & 1) ? 4 : 6, 2000000);
  if (!err) {
    d.goto_offset(FileOffset(0u));
    GOP g;
    for (int n = 0; n < 200; ++n) {
      const FileOffset before = d.current_offset();
      if (d.parse_gop(&g, 0, n & 1, 0) <= 0) break;
      d.read_gop(&g, 0, n & 2);
      if (!g.end.greater(before)) break;
      d.goto_offset(g.end);
    }
    for (int i = 0; i < 4; ++i) {
      ESBuffer span(4096);
      span.start = FileOffset::from_u64(size * uint64_t(i) / 4);
      d.load_abs(&span, 0, 0);
      d.read_abs(&span);
    }
  }
  std::remove(path.c_str());
  return 0;
}
