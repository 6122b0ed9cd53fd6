// A field-coded MPEG-2 stream written bit by bit (which our encoders do not
// make): 64x48 at 25 fps, GOP headers, field pictures with one slice of
// filler bytes per macroblock row.
#pragma once

#include <cstdint>
#include <vector>

namespace field_stream {

struct Bits {
  std::vector<uint8_t> out;
  uint32_t acc = 0;
  int held = 0;
  void put(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1);
      if (++held == 8) {
        out.push_back(uint8_t(acc));
        acc = 0;
        held = 0;
      }
    }
  }
  void align() {
    while (held) put(0, 1);
  }
  void start_code(uint8_t c) {
    align();
    put(0x000001, 24);
    put(c, 8);
  }
};

inline void sequence(Bits& b) {
  b.start_code(0xB3);
  b.put(64, 12), b.put(48, 12), b.put(2, 4), b.put(3, 4);  // 64x48, 4:3, 25 fps
  b.put(0x3FFFF, 18), b.put(1, 1), b.put(112, 10), b.put(0, 1), b.put(0, 1), b.put(0, 1);
  b.start_code(0xB5);  // sequence extension: main profile, interlaced 4:2:0
  b.put(1, 4), b.put(0x48, 8), b.put(0, 1), b.put(1, 2), b.put(0, 2), b.put(0, 2);
  b.put(0, 12), b.put(1, 1), b.put(0, 8), b.put(0, 1), b.put(0, 2), b.put(0, 5);
}

inline void gop(Bits& b, int seconds) {
  b.start_code(0xB8);
  // drop 0, hours 0, minutes 0, marker, seconds, pictures 0
  b.put(0, 1), b.put(0, 5), b.put(0, 6), b.put(1, 1), b.put(uint32_t(seconds), 6), b.put(0, 6);
  b.put(1, 1), b.put(0, 1), b.put(0, 5);
}

// One field picture: header, coding extension, one slice of filler bytes.
inline void field(Bits& b, int tr, int type, int structure) {
  b.start_code(0x00);
  b.put(uint32_t(tr), 10), b.put(uint32_t(type), 3), b.put(0xFFFF, 16);
  if (type >= 2) b.put(0, 1), b.put(7, 3);
  if (type == 3) b.put(0, 1), b.put(7, 3);
  b.put(0, 1);
  b.start_code(0xB5);
  b.put(8, 4);
  for (int i = 0; i < 4; ++i) b.put(type == 1 ? 15 : 1, 4);
  b.put(0, 2), b.put(uint32_t(structure), 2);
  // tff, frame_pred_frame_dct, concealment, q_scale_type, intra_vlc, alternate
  // scan, repeat_first_field, chroma_420_type, progressive_frame, composite
  b.put(0, 1), b.put(0, 1), b.put(0, 1), b.put(0, 1), b.put(0, 1), b.put(0, 1), b.put(0, 1), b.put(1, 1),
      b.put(0, 1), b.put(0, 1);
  for (int row = 1; row <= 2; ++row) {  // two macroblock rows per field of 48 lines
    b.start_code(uint8_t(row));
    for (int i = 0; i < 40; ++i) b.put(0x5A, 8);
  }
}

}  // namespace field_stream
