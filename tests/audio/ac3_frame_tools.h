// Test-side helpers for AC-3 frames: recompute both CRC words after a frame
// was edited. Header-only, so that fuzz targets can use it too.
#pragma once

#include <cstdint>
#include <vector>

#include "audio/codec/ac3_core.h"

#include "foundation/ac3.h"
#include "foundation/bitstream.h"

namespace ac3test {

struct FrameSpan {
  size_t offset;
  int size;
  AC3FrmHdr header;
};

// The whole frames of an elementary stream, found by their headers without
// a CRC check; the walk ends at the first gap or cut-off frame.
inline std::vector<FrameSpan> split_frames(const std::vector<uint8_t>& s) {
  std::vector<FrameSpan> out;
  size_t pos = 0;
  while (pos + 5 < s.size()) {
    AC3FrmHdr h;
    const int skip = h.decode(s.data() + pos, static_cast<int>(s.size() - pos), 0);
    if (!h.valid) break;
    pos += static_cast<size_t>(skip);
    if (pos + static_cast<size_t>(h.frame_size) > s.size()) break;
    out.push_back({pos, h.frame_size, h});
    pos += static_cast<size_t>(h.frame_size);
  }
  return out;
}

inline std::vector<uint16_t> to_words(const uint8_t* f, int bytes) {
  std::vector<uint16_t> w(static_cast<size_t>(bytes / 2));
  for (size_t i = 0; i < w.size(); ++i) w[i] = static_cast<uint16_t>(f[2 * i] << 8 | f[2 * i + 1]);
  return w;
}

// Sets crc1 (word 1) so that the words after the sync word up to the 5/8
// point check, and crc2 (the last word) so that the rest checks too. The CRC
// is linear, so crc1 is the solution of a 16 x 16 system over GF(2).
inline void fix_crcs(uint8_t* f, int bytes) {
  const int words = bytes / 2;
  if (words < 8) return;
  const int n = words / 8 + words / 2 - 1;
  std::vector<uint16_t> w = to_words(f, bytes);
  w[1] = 0;
  const uint16_t target = ac3_dec_crc(0, w.data() + 1, n);
  // Column i: the CRC of the span with only bit i of crc1 set.
  uint16_t col[16];
  std::vector<uint16_t> unit(static_cast<size_t>(n), 0);
  for (int i = 0; i < 16; ++i) {
    unit[0] = static_cast<uint16_t>(1u << i);
    col[i] = ac3_dec_crc(0, unit.data(), n);
  }
  // Solve sum(c_i col[i]) = target by elimination on augmented rows.
  uint32_t rows[16];
  for (int r = 0; r < 16; ++r) {
    uint32_t row = 0;
    for (int i = 0; i < 16; ++i) row |= static_cast<uint32_t>((col[i] >> r) & 1) << i;
    rows[r] = row | static_cast<uint32_t>((target >> r) & 1) << 16;
  }
  int rank = 0;
  int pivot_col[16];
  for (int c = 0; c < 16 && rank < 16; ++c) {
    int p = -1;
    for (int r = rank; r < 16; ++r)
      if ((rows[r] >> c) & 1) {
        p = r;
        break;
      }
    if (p < 0) continue;
    std::swap(rows[rank], rows[p]);
    for (int r = 0; r < 16; ++r)
      if (r != rank && ((rows[r] >> c) & 1)) rows[r] ^= rows[rank];
    pivot_col[rank++] = c;
  }
  uint16_t crc1 = 0;
  for (int r = 0; r < rank; ++r)
    if ((rows[r] >> 16) & 1) crc1 = static_cast<uint16_t>(crc1 | 1u << pivot_col[r]);
  f[2] = static_cast<uint8_t>(crc1 >> 8);
  f[3] = static_cast<uint8_t>(crc1);
  w[1] = crc1;
  // crc2 ends the frame: the remainder of the rest followed by 16 zero bits.
  w[words - 1] = 0;
  const uint16_t crc2 = ac3_dec_crc(0, w.data() + n + 1, words - n - 1);
  f[bytes - 2] = static_cast<uint8_t>(crc2 >> 8);
  f[bytes - 1] = static_cast<uint8_t>(crc2);
}

}  // namespace ac3test

namespace ac3test {

inline uint32_t bit_at(const uint8_t* f, size_t i) { return (f[i >> 3] >> (7 - (i & 7))) & 1; }

// A copy of the frame at f (bytes long) whose block 0 carries the
// dynamic-range word code, the blocks after it shifted by the 8 bits, in a
// frame two frame-size codes larger (its end zero-filled), with both CRCs
// recomputed. audio_start: the bit where block 0 starts; nfchans: its
// full-band channels. Empty when block 0 already has a dynamic-range word.
inline std::vector<uint8_t> with_dynrng(const uint8_t* f, int bytes, uint32_t audio_start, int nfchans, int code,
                                        int new_bytes) {
  const size_t at = audio_start + 2u * static_cast<unsigned>(nfchans);  // after blksw and dithflag
  if (bit_at(f, at)) return {};
  std::vector<uint8_t> out(static_cast<size_t>(new_bytes));
  BitWriter w(out.data(), out.size(), 0);  // zeroed: the end stays zero
  for (size_t i = 0; i < at; ++i) w.put_bits(bit_at(f, i), 1);
  w.put_bits(1, 1);
  w.put_bits(static_cast<uint32_t>(code) & 0xFF, 8);
  const size_t old_end = static_cast<size_t>(bytes) * 8 - 18;  // auxdatae, crcrsv, crc2 follow
  for (size_t i = at + 1; i < old_end; ++i) w.put_bits(bit_at(f, i), 1);
  w.flush();
  out[4] = static_cast<uint8_t>(out[4] + 2);  // frmsizecod, in the low 6 bits
  fix_crcs(out.data(), new_bytes);
  return out;
}

}  // namespace ac3test


namespace ac3test {

// A silent AC-3 frame written from scratch: bsid 8, no dither, every
// exponent ramping to 24 and SNR offsets 0, so that every bap is 0 and no
// mantissa follows; blocks 1-5 reuse block 0. The rest of the frame is zero
// auxiliary space; both CRCs are set.
// Levels for silent_frame: dialogue levels and block 0's dynamic-range
// words (-1: none).
struct FrameLevels {
  int dialnorm = 31, dialnorm2 = 31;
  int dynrng = -1, dynrng2 = -1;
};

inline std::vector<uint8_t> silent_frame(int fscod, int frmsizecod, int acmod, int lfeon,
                                         const FrameLevels& lv = FrameLevels()) {
  AC3Bsi b;
  b.fscod = static_cast<uint16_t>(fscod);
  b.frmsizecod = static_cast<uint16_t>(frmsizecod);
  const int bytes = b.get_frame_size();
  static const int kFull[8] = {2, 1, 2, 3, 3, 4, 4, 5};
  const int nf = kFull[acmod];
  std::vector<uint8_t> f(static_cast<size_t>(bytes));
  BitWriter w(f.data(), f.size(), 0);  // zeroed: the auxiliary space stays zero
  w.put_bits(0x0B77, 16);
  w.put_bits(0, 16);  // crc1
  w.put_bits(static_cast<uint32_t>(fscod), 2);
  w.put_bits(static_cast<uint32_t>(frmsizecod), 6);
  w.put_bits(8, 5);  // bsid
  w.put_bits(0, 3);  // bsmod
  w.put_bits(static_cast<uint32_t>(acmod), 3);
  if ((acmod & 1) && acmod != 1) w.put_bits(0, 2);  // cmixlev
  if (acmod & 4) w.put_bits(0, 2);                  // surmixlev
  if (acmod == 2) w.put_bits(0, 2);                 // dsurmod
  w.put_bits(static_cast<uint32_t>(lfeon), 1);
  w.put_bits(static_cast<uint32_t>(lv.dialnorm), 5);  // 31 (-31 dB): no attenuation
  w.put_bits(0, 3);                                     // compre, langcode, audprodie
  if (acmod == 0) {
    w.put_bits(static_cast<uint32_t>(lv.dialnorm2), 5);
    w.put_bits(0, 3);
  }
  w.put_bits(0, 1);  // copyrightb
  w.put_bits(1, 1);  // origbs
  w.put_bits(0, 3);  // timecod1e, timecod2e, addbsie
  for (int blk = 0; blk < 6; ++blk) {
    const bool first = blk == 0;
    w.put_bits(0, nf);  // blksw
    w.put_bits(0, nf);  // dithflag
    for (int word : {lv.dynrng, acmod == 0 ? lv.dynrng2 : -2}) {
      if (word == -2) continue;  // no second word outside 1+1
      const bool send = first && word >= 0;
      w.put_bits(send ? 1 : 0, 1);  // dynrnge, dynrng2e
      if (send) w.put_bits(static_cast<uint32_t>(word), 8);
    }
    w.put_bits(first ? 1 : 0, 1);  // cplstre
    if (first) w.put_bits(0, 1);   // cplinu
    if (acmod == 2) {
      w.put_bits(first ? 1 : 0, 1);  // rematstr
      if (first) w.put_bits(0, 4);
    }
    for (int ch = 0; ch < nf; ++ch) w.put_bits(first ? 3 : 0, 2);  // D45 once, then reuse
    if (lfeon) w.put_bits(first ? 1 : 0, 1);
    if (first) {
      for (int ch = 0; ch < nf; ++ch) w.put_bits(0, 6);  // chbwcod 0: 73 bins
      for (int ch = 0; ch < nf; ++ch) {
        w.put_bits(15, 4);
        // 6 groups of three deltas: +1 nine times (to 24), then 0.
        for (int g = 0; g < 6; ++g) w.put_bits(g < 3 ? 93 : 62, 7);
        w.put_bits(0, 2);  // gainrng
      }
      if (lfeon) {
        w.put_bits(15, 4);
        w.put_bits(93, 7);
        w.put_bits(93, 7);
      }
      w.put_bits(1, 1);  // baie
      w.put_bits(2, 2);
      w.put_bits(1, 2);
      w.put_bits(1, 2);
      w.put_bits(3, 2);
      w.put_bits(0, 3);  // floorcod
      w.put_bits(1, 1);  // snroffste
      w.put_bits(0, 6);  // csnroffst
      for (int ch = 0; ch < nf + lfeon; ++ch) {
        w.put_bits(0, 4);
        w.put_bits(4, 3);
      }
    } else {
      w.put_bits(0, 2);  // baie, snroffste
    }
    w.put_bits(0, 2);  // deltbaie, skiple
  }
  w.flush();
  fix_crcs(f.data(), bytes);
  return f;
}

}  // namespace ac3test
