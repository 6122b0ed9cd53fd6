#include "support/planar.h"

namespace tsupport {

YuvPlanes Planar::planes() {
  YuvPlanes p;
  p.y = b.data();
  p.cb = p.y + static_cast<size_t>(w) * h;
  p.cr = p.cb + static_cast<size_t>(w) * h / 4;
  p.width = w;
  p.height = h;
  p.y_stride = w;
  p.c_stride = w / 2;
  return p;
}

}  // namespace tsupport
