// Test-only writer of small MPEG-2 video streams made of field pictures:
// intra fields with textured blocks (escape-coded coefficients), P fields
// whose macroblocks use field, 16x8 or dual-prime prediction with zero
// residual. Vectors are chosen so that every prediction stays inside the
// reference fields (decoders differ outside).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "foundation/video_vlc.h"
#include "foundation/bitstream.h"

namespace fieldstream {

class Writer {
 public:
  explicit Writer(size_t capacity = 1 << 20) : buf_(capacity), bw_(buf_.data(), capacity, 1) {}

  void bits(uint32_t v, int n) { bw_.put_bits(v, n); }
  void code(const char* s) {
    for (; *s; ++s)
      if (*s != ' ') bw_.put_bits(*s == '1', 1);
  }
  void start(uint32_t c) {
    bw_.align_zero();
    bits(0x000001, 24);
    bits(c, 8);
  }
  std::vector<uint8_t> finish() {
    start(0xB7);
    const size_t n = bw_.flush();
    return std::vector<uint8_t>(buf_.begin(), buf_.begin() + static_cast<long>(n));
  }

 private:
  std::vector<uint8_t> buf_;
  BitWriter bw_;
};

inline const char* motion_code_bits(int v) {
  for (int i = 0; i < vlc_motion_code.count; ++i)
    if (vlc_motion_code.codes[i].value == v) return vlc_motion_code.codes[i].bits;
  return nullptr;
}

// Kinds of P-field macroblocks.
enum MbKind { FIELD_MC = 1, MC_16X8 = 2, DUAL_PRIME = 3 };

struct Stream {
  int width = 128, height = 96;  // frame size; fields are height / 2 lines
  std::vector<uint8_t> bytes;
};

// Frames: 0 = I field then P field (the P field predicts only from the I
// field); later frames are P field pairs. first_parity[f]: 0 top first,
// 1 bottom first.
inline Stream make_stream(int frames, const std::vector<int>& first_parity, uint32_t seed) {
  Stream st;
  Writer w;
  std::mt19937 rng(seed);
  const int cols = st.width / 16, frows = st.height / 32;
  // sequence header + extension
  w.start(0xB3);
  w.bits(st.width, 12);
  w.bits(st.height, 12);
  w.bits(1, 4);      // aspect
  w.bits(3, 4);      // 25 fps
  w.bits(5000, 18);  // bit rate
  w.bits(1, 1);
  w.bits(112, 10);   // vbv
  w.bits(0, 1);
  w.bits(0, 1);
  w.bits(0, 1);
  w.start(0xB5);
  w.bits(1, 4);
  w.bits(0x48, 8);  // main profile, main level
  w.bits(0, 1);     // progressive_sequence
  w.bits(1, 2);     // 4:2:0
  w.bits(0, 2);
  w.bits(0, 2);
  w.bits(0, 12);
  w.bits(1, 1);
  w.bits(0, 8);
  w.bits(0, 1);
  w.bits(0, 2);
  w.bits(0, 5);
  // GOP
  w.start(0xB8);
  w.bits(0, 1);
  w.bits(0, 5);
  w.bits(0, 6);
  w.bits(1, 1);
  w.bits(0, 6);
  w.bits(0, 6);
  w.bits(1, 1);  // closed
  w.bits(0, 1);
  const int field_lines = st.height / 2;
  for (int f = 0; f < frames; ++f) {
    const int firstp = f < static_cast<int>(first_parity.size()) ? first_parity[f] : 0;
    for (int half = 0; half < 2; ++half) {
      const int parity = half ? 1 - firstp : firstp;
      const int type = (f == 0 && half == 0) ? 1 : 2;
      w.start(0x00);
      w.bits(static_cast<uint32_t>(f), 10);
      w.bits(static_cast<uint32_t>(type), 3);
      w.bits(0xFFFF, 16);
      if (type == 2) {
        w.bits(0, 1);
        w.bits(7, 3);
      }
      w.bits(0, 1);
      w.start(0xB5);
      w.bits(8, 4);
      w.bits(type == 2 ? 1 : 15, 4);  // forward f_codes 1: vectors -16..15 half samples
      w.bits(type == 2 ? 1 : 15, 4);
      w.bits(15, 4);
      w.bits(15, 4);
      w.bits(0, 2);                    // intra_dc_precision 8
      w.bits(parity ? 2 : 1, 2);       // picture_structure
      w.bits(0, 1);                    // top_field_first (0 for fields)
      w.bits(0, 1);                    // frame_pred_frame_dct
      w.bits(0, 1);
      w.bits(0, 1);
      w.bits(0, 1);
      w.bits(0, 1);
      w.bits(0, 1);
      w.bits(0, 1);
      w.bits(0, 1);                    // progressive_frame
      w.bits(0, 1);
      for (int r = 0; r < frows; ++r) {
        w.start(static_cast<uint32_t>(r + 1));
        w.bits(8, 5);  // quantiser_scale_code 8 (scale 16)
        w.bits(0, 1);
        int pmv[2][2] = {};
        for (int c = 0; c < cols; ++c) {
          w.code("1");  // address increment 1
          if (type == 1) {
            w.code("1");  // intra
            for (int k = 0; k < 6; ++k) {
              w.code(k < 4 ? "100" : "00");  // DC differential 0
              const int n = k < 4 ? 3 : 1;
              int pos = 0;
              for (int j = 0; j < n; ++j) {
                const int run = static_cast<int>(rng() % 4);
                if (pos + run + 1 > 20) break;
                pos += run + 1;
                int level = static_cast<int>(rng() % 24) + 2;
                if (rng() & 1) level = -level;
                w.code("000001");
                w.bits(static_cast<uint32_t>(run), 6);
                w.bits(static_cast<uint32_t>(level) & 4095, 12);
              }
              w.code("10");  // end of block
            }
            continue;
          }
          // P field macroblock, no residual: "MC, not coded"
          int kind = 1 + static_cast<int>(rng() % 3);
          // dual prime needs a same-parity field in the previous frame and
          // room for the +-1 line of the other parity: middle rows only
          const bool second = half == 1;
          if (kind == DUAL_PRIME && (f == 0 || r == 0 || r == frows - 1)) kind = FIELD_MC;
          w.code("001");
          w.bits(static_cast<uint32_t>(kind), 2);
          const int x = c * 16, y = r * 16;
          auto inside = [&](int vx, int vy, int h, int yoff) {
            const int xs = 2 * x + vx, ys = 2 * (y + yoff) + vy;
            return xs >= 0 && xs <= 2 * (st.width - 16) && ys >= 0 && ys <= 2 * (field_lines - h);
          };
          // selects: the first frame's P field has only the I field (other
          // parity) to predict from
          auto pick_sel = [&]() { return (f == 0 && second) ? 1 - parity : static_cast<int>(rng() & 1); };
          auto put_vec = [&](int r2, int vx, int vy) {
            const int dx = vx - pmv[r2][0], dy = vy - pmv[r2][1];
            w.code(motion_code_bits(dx));
            w.code(motion_code_bits(dy));
            pmv[r2][0] = vx;
            pmv[r2][1] = vy;
          };
          auto rnd = [&]() { return static_cast<int>(rng() % 13) - 6; };
          // keeps vector differences within the code range of f_code 1
          auto near = [&](int v, int p) { return std::max(p - 15, std::min(p + 15, v)); };
          if (kind == FIELD_MC) {
            int vx = near(rnd(), pmv[0][0]), vy = near(rnd(), pmv[0][1]);
            if (!inside(vx, vy, 16, 0)) vx = vy = 0;
            if (!inside(vx, vy, 16, 0)) vx = pmv[0][0], vy = pmv[0][1];
            w.bits(static_cast<uint32_t>(pick_sel()), 1);
            put_vec(0, vx, vy);
            pmv[1][0] = vx;
            pmv[1][1] = vy;
          } else if (kind == MC_16X8) {
            for (int r2 = 0; r2 < 2; ++r2) {
              int vx = near(rnd(), pmv[r2][0]), vy = near(rnd(), pmv[r2][1]);
              if (!inside(vx, vy, 8, 8 * r2)) vx = vy = 0;
              w.bits(static_cast<uint32_t>(pick_sel()), 1);
              put_vec(r2, vx, vy);
            }
          } else {
            // vector, then dmvector after each component
            int vx = near(rnd(), pmv[0][0]), vy = near(rnd(), pmv[0][1]);
            int dmx = static_cast<int>(rng() % 3) - 1, dmy = static_cast<int>(rng() % 3) - 1;
            const int e = parity == 0 ? -1 : 1;
            auto half_round = [](int v) { return (v + (v > 0)) >> 1; };
            if (!inside(vx, vy, 16, 0) || !inside(half_round(vx) + dmx, half_round(vy) + dmy + e, 16, 0)) {
              vx = vy = 0;
              dmx = 0;
              dmy = 0;
            }
            const int ddx = vx - pmv[0][0], ddy = vy - pmv[0][1];
            w.code(motion_code_bits(ddx));
            w.code(dmx == 0 ? "0" : dmx == 1 ? "10" : "11");
            w.code(motion_code_bits(ddy));
            w.code(dmy == 0 ? "0" : dmy == 1 ? "10" : "11");
            pmv[0][0] = pmv[1][0] = vx;
            pmv[0][1] = pmv[1][1] = vy;
          }
        }
      }
    }
  }
  st.bytes = w.finish();
  return st;
}

}  // namespace fieldstream
