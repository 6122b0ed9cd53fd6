#include "foundation/video_finders.h"

#include "foundation/pic_header.h"
#include "foundation/start_code.h"

namespace {

bool is_header(uint8_t c) { return c == 0x00 || c == 0xB3 || c == 0xB8; }
bool is_gop_or_picture(uint8_t c) { return c == 0x00 || c == 0xB8; }

// What the finders return when nothing was found: the bytes scanned.
int scanned(const uint8_t* data, int length) { return length < 4 || !data ? 0 : length - 4; }

// The first start code `want` takes; without one, scanned() with
// *code = 0xFFF.
template <typename Want>
int find_first(const uint8_t* data, int length, int* code, Want want) {
  StartCodeCursor c(data, length);
  if (!c.find_if(want)) {
    if (code) *code = 0xFFF;
    return scanned(data, length);
  }
  if (code) *code = 0x100 | c.code();
  return static_cast<int>(c.offset());
}

}  // namespace

int find_next_header_start(const uint8_t* data, int length, int* code) {
  return find_first(data, length, code, is_header);
}

int find_next_gop_or_picture_start(const uint8_t* data, int length, int* code) {
  return find_first(data, length, code, is_gop_or_picture);
}

int find_next_i_picture(const uint8_t* data, int length, int* lead) {
  StartCodeCursor c(data, length);
  int header = -1;  // latest sequence or GOP header not yet followed by a picture
  while (c.find_if(is_header)) {
    const int at = static_cast<int>(c.offset());
    if (c.code() == 0x00) {
      if (at + 5 < length && read_picture_coding_type(data + at) == PIC_TYPE_I) {
        const int start = header >= 0 ? header : at;
        if (lead) *lead = at - start;
        return start;
      }
      if (at + 5 >= length) break;
      header = -1;
    } else if (c.code() == 0xB3 || header < 0) {
      // A sequence header leads the GOP header that follows it.
      header = at;
    }
    // The next header begins behind this one's four bytes.
    c.seek(at + 4);
  }
  if (lead) *lead = -1;
  return scanned(data, length);
}

int find_picture_coding_ext(const uint8_t* data, int length, int picture) {
  constexpr int kPictureCodingExt = 8;
  // Codes whose 5th byte lies outside the data cannot be told apart.
  StartCodeCursor c(data, length);
  c.seek(static_cast<int64_t>(picture) + 4);
  while (c.next() && c.offset() + 5 <= length) {
    const int code = c.code();
    if (code == 0xB5 && (data[c.offset() + 4] >> 4) == kPictureCodingExt)
      return c.offset() + 9 <= length ? static_cast<int>(c.offset()) : -1;
    if (code == 0x00 || code == 0xB3 || code == 0xB8 || code == 0xB7) return -1;
  }
  return -1;
}
