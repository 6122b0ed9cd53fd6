#include "foundation/video_finders.h"

#include "foundation/start_code.h"

namespace {

// The first start code whose xx `want` takes; without one, length - 4 (0
// for short or no data) with *code = 0xFFF.
template <typename Want>
int find_first(const uint8_t* data, int length, int* code, Want want) {
  const int pos = int(start_code_scan(data, length, want));
  if (pos < 0) {
    if (code) *code = 0xFFF;
    return length < 4 || !data ? 0 : length - 4;
  }
  if (code) *code = 0x100 | data[pos + 3];
  return pos;
}

}  // namespace

int find_next_header_start(const uint8_t* data, int length, int* code) {
  return find_first(data, length, code, [](uint8_t c) { return c == 0x00 || c == 0xB3 || c == 0xB8; });
}

int find_next_gop_or_picture_start(const uint8_t* data, int length, int* code) {
  return find_first(data, length, code, [](uint8_t c) { return c == 0x00 || c == 0xB8; });
}

int find_next_i_picture(const uint8_t* data, int length, int* lead) {
  int pos = 0;
  int header = -1;  // latest sequence or GOP header not yet followed by a picture
  while (pos < length) {
    int code = 0;
    int off = find_next_header_start(data + pos, length - pos, &code);
    if (code == 0xFFF) break;
    int at = pos + off;
    if (code == 0x100) {
      // picture_coding_type: bits 5..3 of the second byte after the start code
      if (at + 5 < length && ((data[at + 5] >> 3) & 7) == 1) {
        int start = header >= 0 ? header : at;
        if (lead) *lead = at - start;
        return start;
      }
      if (at + 5 >= length) break;
      header = -1;
    } else if (code == 0x1B3 || header < 0) {
      // A sequence header leads the GOP header that follows it.
      header = at;
    }
    pos = at + 4;
  }
  if (lead) *lead = -1;
  return length < 4 || !data ? 0 : length - 4;
}
