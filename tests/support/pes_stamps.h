// PES time stamps in test files: reading and rewriting the 33-bit PTS/DTS
// fields, and finding the audio packets that carry one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace tsupport {

// The 33-bit time stamp in the five bytes at p.
inline int64_t read_stamp(const uint8_t* p) {
  return (int64_t(p[0] >> 1 & 7) << 30) | (int64_t(p[1]) << 22) | (int64_t(p[2] >> 1) << 15) |
         (int64_t(p[3]) << 7) | (p[4] >> 1);
}

// Writes v (modulo 2^33) keeping the field's 4-bit prefix.
inline void write_stamp(uint8_t* p, int64_t v) {
  v &= (int64_t(1) << 33) - 1;
  p[0] = uint8_t((p[0] & 0xF1) | ((v >> 30 & 7) << 1) | 1);
  p[1] = uint8_t(v >> 22);
  p[2] = uint8_t((v >> 15 & 0x7F) << 1 | 1);
  p[3] = uint8_t(v >> 7);
  p[4] = uint8_t((v & 0x7F) << 1 | 1);
}

// Offsets of the PTS fields of audio PES with a PTS, the first of each
// 2048-byte pack. id is a PES stream id, or an AC-3 sub-stream id
// (0x80-0x87) of private stream 1.
inline std::vector<size_t> audio_pts_fields(const std::vector<uint8_t>& b, int id = 0xC0) {
  const bool sub = id >= 0x80 && id <= 0x87;
  std::vector<size_t> at;
  for (size_t i = 0; i + 14 <= b.size(); i += 2048)
    for (size_t j = i; j + 14 <= std::min(b.size(), i + 2048); ++j)
      if (b[j] == 0 && b[j + 1] == 0 && b[j + 2] == 1 && b[j + 3] == (sub ? 0xBD : id) && (b[j + 7] & 0x80) &&
          (!sub || (j + 9 + b[j + 8] < b.size() && b[j + 9 + b[j + 8]] == id))) {
        at.push_back(j + 9);
        break;
      }
  return at;
}

}  // namespace tsupport
