// YUV4MPEG2 stream header and frame reading for the encoder's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct Y4mHeader {
  int width = 0, height = 0;
  int rate_num = 0, rate_den = 0;
  char interlace = 'p';  // p, t (top first), b (bottom first), m (mixed)
  int chroma_format = 1; // 1 4:2:0, 2 4:2:2
  size_t header_bytes = 0;  // through the newline
  size_t frame_bytes() const {
    const size_t y = static_cast<size_t>(width) * height;
    const size_t c = static_cast<size_t>((width + 1) / 2) * (chroma_format == 2 ? height : (height + 1) / 2);
    return y + 2 * c;
  }
};

// Parses the stream header at the start of data. Returns false (with a
// trace naming the fault) for a missing signature, a bad or missing size,
// an unknown chroma or interlace tag, or a header without its newline.
bool y4m_parse_header(const uint8_t* data, size_t length, Y4mHeader* out);
// Bytes of the FRAME line at data (through its newline), 0 when there is none.
size_t y4m_frame_line(const uint8_t* data, size_t length);
