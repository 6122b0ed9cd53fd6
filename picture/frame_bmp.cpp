// A frame saved as a Windows bitmap (through the colour conversion the
// editor window shows).
#include <cstdio>

#include "foundation/trace.h"
#include "foundation/partial_output.h"
#include "picture/bmp.h"
#include "picture/frame.h"

int Frame::save_bmp(const char* name, int bits) {
  if (!name || !*name || !image_) return 0;
  // Nothing converted for a path that cannot be written.
  FILE* f = std::fopen(name, "wb");
  if (!f) {
    trace("Frame::save_bmp (ERROR): <%s> cannot open to write\n", name);
    return 0;
  }
  std::fclose(f);
  BMP bmp;
  if (!bmp.set_from_frame(this, bits, 1)) {
    utils_remove_partial_output(name);
    return 0;
  }
  return static_cast<int>(bmp.save(name, 0));
}
