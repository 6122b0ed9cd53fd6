#include "demux/slice_walk.h"

#include "foundation/bitstream.h"
#include "foundation/start_code.h"
#include "foundation/video_vlc.h"

namespace {

constexpr int kNoCode = -1000;  // below every value the tables hold
// picture_coding_type values.
constexpr int kPicI = 1, kPicP = 2, kPicB = 3, kPicD = 4;

// One VLC by its lookup window; kNoCode when no code matches.
int read_vlc(BS& bs, const VlcEntry* table, int window) {
  const VlcEntry e = table[bs.show_bits(window)];
  if (e.len == 0) return kNoCode;
  bs.skip_bits(e.len);
  return e.value;
}

bool skip_motion(BS& bs, const VlcTables& t, int f_code) {
  for (int k = 0; k < 2; ++k) {
    const int code = read_vlc(bs, t.motion, 11);
    if (code == kNoCode) return false;
    if (f_code > 1 && code != 0) bs.skip_bits(f_code - 1);
  }
  return true;
}

// The coefficients after the first of a block, through end of block.
bool skip_coefficients(BS& bs, const VlcTables& t, int count) {
  for (; count <= 64; ++count) {
    const uint32_t v = bs.show_bits(16);
    const DctEntry e = v >= 1024 ? t.dct0_short[v >> 8] : t.dct0_long[v];
    if (e.run == DCT_EOB) {
      bs.skip_bits(2);
      return true;
    }
    if (e.run == DCT_BAD) return false;
    if (e.run == DCT_ESC) {
      bs.skip_bits(6 + 6);
      const uint32_t level = bs.get_bits(8);
      if (level == 0 || level == 128) bs.skip_bits(8);  // MPEG-1 long escape
    } else {
      bs.skip_bits(e.len + 1);
    }
  }
  return false;
}

}  // namespace

int mpeg1_slice_last_address(const uint8_t* slice, int length, int mb_cols, int mb_count, int coding_type,
                             int forward_f_code, int backward_f_code) {
  if (length < 5 || mb_cols <= 0 || coding_type < kPicI || coding_type > kPicD) return -1;
  const int code = start_code_at(slice, length, 0);
  if (code < 1 || code > 0xAF) return -1;
  // The slice ends at the next start code, or at a prefix cut off by the
  // end of the data.
  StartCodeCursor c(slice, length);
  c.seek(4);
  int end = c.next() ? int(c.offset()) : length;
  if (end == length && length >= 7 && start_code_prefix_at_end(slice, length)) end = length - 3;
  const VlcTables& t = vlc_tables();
  BS bs(slice + 4, static_cast<size_t>(end - 4));
  int address = (slice[3] - 1) * mb_cols - 1;
  int last = -1;
  bs.skip_bits(5);  // quantiser_scale
  for (int guard = 0; bs.get_bit(); ++guard) {
    if (guard > 4096 || bs.error()) return -1;
    bs.skip_bits(8);  // extra_information_slice
  }
  while (bs.bits_left() > 0 && bs.show_bits(23) != 0) {
    int increment = 0;
    for (;;) {
      const int v = read_vlc(bs, t.mb_addr, 11);
      if (v == kNoCode || bs.error()) return -1;
      if (v == MB_ADDR_STUFFING) continue;
      if (v == MB_ADDR_ESCAPE) {
        increment += 33;
        continue;
      }
      increment += v;
      break;
    }
    address += increment;
    if (address >= mb_count) return -1;
    int type = 0;
    switch (coding_type) {
      case kPicI: type = read_vlc(bs, t.mb_type_i, 2); break;
      case kPicP: type = read_vlc(bs, t.mb_type_p, 6); break;
      case kPicB: type = read_vlc(bs, t.mb_type_b, 6); break;
      default: type = bs.get_bit() ? MB_INTRA : kNoCode; break;
    }
    if (type == kNoCode) return -1;
    if (type & MB_QUANT) bs.skip_bits(5);
    if ((type & MB_FORWARD) && !skip_motion(bs, t, forward_f_code)) return -1;
    if ((type & MB_BACKWARD) && !skip_motion(bs, t, backward_f_code)) return -1;
    int cbp = 0;
    if (type & MB_INTRA) {
      cbp = 63;
    } else if (type & MB_PATTERN) {
      cbp = read_vlc(bs, t.cbp, 9);
      if (cbp < 0) return -1;
    }
    for (int b = 0; b < 6; ++b) {
      if (!(cbp & (32 >> b))) continue;
      if (type & MB_INTRA) {
        const int size = b < 4 ? read_vlc(bs, t.dc_luma, 9) : read_vlc(bs, t.dc_chroma, 10);
        if (size < 0) return -1;
        bs.skip_bits(size);
        if (coding_type == kPicD) continue;  // D pictures carry DC only
        if (!skip_coefficients(bs, t, 1)) return -1;
      } else if (bs.show_bits(1)) {
        bs.skip_bits(2);  // first coefficient "1s": run 0, level 1
        if (!skip_coefficients(bs, t, 1)) return -1;
      } else if (!skip_coefficients(bs, t, 0)) {
        return -1;
      }
    }
    if (coding_type == kPicD && !bs.get_bit()) return -1;  // end_of_macroblock
    if (bs.error()) return -1;
    last = address;
  }
  return last;
}
