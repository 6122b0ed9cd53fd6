// The encoder's YUV4MPEG2 header and frame-line readers on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "encode/enc_y4m.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Y4mHeader h;
  if (y4m_parse_header(data, size, &h) && h.header_bytes <= size) {
    const size_t line = y4m_frame_line(data + h.header_bytes, size - h.header_bytes);
    if (line > size - h.header_bytes || h.frame_bytes() == 0) __builtin_trap();
  }
  return 0;
}
