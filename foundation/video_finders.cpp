#include "foundation/video_finders.h"

#include <cstring>

namespace {

// Scans for 00 00 01 xx with xx accepted by `want`; returns the offset of the
// first 00 or -1. Only positions whose xx byte lies inside the data count.
template <typename Want>
inline int scan_start_code(const uint8_t* data, int length, Want want) {
  if (!data || length < 4) return -1;
  // Candidate 0x01 bytes sit at offsets 2 .. length - 2.
  const uint8_t* p = data + 2;
  const uint8_t* last = data + length - 2;  // last allowed position of 0x01
  while (p <= last) {
    p = static_cast<const uint8_t*>(std::memchr(p, 0x01, static_cast<size_t>(last - p + 1)));
    if (!p) return -1;
    if (p[-1] == 0 && p[-2] == 0 && want(p[1])) return static_cast<int>(p - 2 - data);
    // The next candidate's 00 00 must follow this 01: skip by one at least.
    ++p;
  }
  return -1;
}

}  // namespace

int find_next_header_start(const uint8_t* data, int length, int* code) {
  int pos = scan_start_code(data, length, [](uint8_t c) { return c == 0x00 || c == 0xB3 || c == 0xB8; });
  if (pos < 0) {
    if (code) *code = 0xFFF;
    return length < 4 || !data ? 0 : length - 4;
  }
  if (code) *code = 0x100 | data[pos + 3];
  return pos;
}

int find_next_gop_or_picture_start(const uint8_t* data, int length, int* code) {
  int pos = scan_start_code(data, length, [](uint8_t c) { return c == 0x00 || c == 0xB8; });
  if (pos < 0) {
    if (code) *code = 0xFFF;
    return length < 4 || !data ? 0 : length - 4;
  }
  if (code) *code = 0x100 | data[pos + 3];
  return pos;
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
