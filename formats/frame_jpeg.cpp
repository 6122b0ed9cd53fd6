// A frame saved as a baseline JPEG still. JPEG pictures are full-range
// YCbCr, frames video range: the shown area is mapped out on a copy.
#include <cstdio>
#include <cstring>
#include <vector>

#include "formats/jpeg_decoder.h"
#include "formats/jpeg_encoder.h"
#include "foundation/trace.h"
#include "foundation/partial_output.h"
#include "picture/frame.h"

int Frame::save_jpeg(const char* name, int quality) {
  if (!name || !*name || !image_ || !image_->buffer) return 0;
  FILE* f = std::fopen(name, "wb");
  if (!f) {
    trace("Frame::save_jpeg (ERROR): <%s> cannot open to write\n", name);
    return 0;
  }
  std::fclose(f);
  const YuvPlanes src = image_->planes();
  const int cw = (src.width + 1) / 2, ch = src.chroma_format == 2 ? src.height : (src.height + 1) / 2;
  const size_t ys = static_cast<size_t>(src.width) * src.height, cs = static_cast<size_t>(cw) * ch;
  std::vector<uint8_t> copy(ys + 2 * cs);
  YuvPlanes p = src;
  p.y = copy.data();
  p.cb = p.y + ys;
  p.cr = p.cb + cs;
  p.y_stride = src.width;
  p.c_stride = cw;
  for (int r = 0; r < src.height; ++r)
    std::memcpy(p.y + static_cast<size_t>(r) * src.width, src.y + static_cast<size_t>(r) * src.y_stride,
                static_cast<size_t>(src.width));
  for (int r = 0; r < ch; ++r) {
    std::memcpy(p.cb + static_cast<size_t>(r) * cw, src.cb + static_cast<size_t>(r) * src.c_stride,
                static_cast<size_t>(cw));
    std::memcpy(p.cr + static_cast<size_t>(r) * cw, src.cr + static_cast<size_t>(r) * src.c_stride,
                static_cast<size_t>(cw));
  }
  video_range_to_full_range(p);
  // The encoder's output is bounded by its worst case; a write that falls
  // short leaves no file.
  const long long n = jpeg_save_planes(name, p, quality);
  if (n <= 0) {
    utils_remove_partial_output(name);
    return 0;
  }
  return static_cast<int>(n);
}
