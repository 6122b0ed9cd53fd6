// Overlay section reader: every overlay kept lies inside the clip.
#include <cstdint>
#include <cstdio>

#include "engine/clips/project.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "r");
  if (!f) return 0;
  Clip c;
  c.start = data[0] % 16;
  c.count = 100;
  read_video_filter(f, &c);
  for (const OverlayClip& o : c.overlays)
    if (o.position < c.start || o.position + o.length > c.start + c.count || o.length < 1) __builtin_trap();
  std::fclose(f);
  return 0;
}
