#include "encode/enc_vlc.h"

#include <cstdlib>

#include "foundation/video_vlc.h"
#include "foundation/trace.h"

namespace {

EncCode code_of(const char* s) {
  EncCode c;
  for (; *s; ++s) {
    c.code = static_cast<uint16_t>((c.code << 1) | (*s == '1'));
    ++c.len;
  }
  return c;
}

void fill(EncCode* out, int size, int offset, const VlcList& list) {
  for (int i = 0; i < list.count; ++i) {
    const int v = list.codes[i].value + offset;
    if (v >= 0 && v < size) out[v] = code_of(list.codes[i].bits);
  }
}

EncVlcTables build() {
  EncVlcTables t{};
  fill(t.addrinc, 34, 0, vlc_mb_address_increment);
  fill(t.mb_type[1], 32, 0, vlc_mb_type_i);
  fill(t.mb_type[2], 32, 0, vlc_mb_type_p);
  fill(t.mb_type[3], 32, 0, vlc_mb_type_b);
  fill(t.cbp, 64, 0, vlc_coded_block_pattern);
  fill(t.motion, 33, 16, vlc_motion_code);
  fill(t.dc_luma, 12, 0, vlc_dc_size_luma);
  fill(t.dc_chroma, 12, 0, vlc_dc_size_chroma);
  const DctList* lists[2] = {&vlc_dct_zero, &vlc_dct_one};
  for (int k = 0; k < 2; ++k)
    for (int i = 0; i < lists[k]->count; ++i) {
      const DctCode& d = lists[k]->codes[i];
      if (d.level > 0 && d.run < 32 && d.level <= 40) t.dct[k][d.run][d.level] = code_of(d.bits);
    }
  return t;
}

}  // namespace

const EncVlcTables& enc_vlc_tables() {
  static const EncVlcTables t = build();
  return t;
}

void put_addrinc(int increment, BitWriter& bw) {
  const EncVlcTables& t = enc_vlc_tables();
  for (; increment > 33; increment -= 33) bw.put_bits(0x08, 11);  // macroblock_escape
  bw.put_bits(t.addrinc[increment].code, t.addrinc[increment].len);
}

bool put_mb_type(int picture_coding_type, int mb_type, BitWriter& bw) {
  if (picture_coding_type < 1 || picture_coding_type > 3 || mb_type < 0 || mb_type > 31) return false;
  const EncCode c = enc_vlc_tables().mb_type[picture_coding_type][mb_type];
  if (!c.len) return false;
  bw.put_bits(c.code, c.len);
  return true;
}

void put_cbp(int cbp, BitWriter& bw) {
  const EncCode c = enc_vlc_tables().cbp[cbp & 63];
  bw.put_bits(c.code, c.len);
}

void put_dc(int cc, int difference, BitWriter& bw) {
  const int a = std::abs(difference);
  int size = a ? 32 - __builtin_clz(static_cast<unsigned>(a)) : 0;
  if (size > 11) size = 11;
  const EncCode c = cc ? enc_vlc_tables().dc_chroma[size] : enc_vlc_tables().dc_luma[size];
  bw.put_bits(c.code, c.len);
  if (size) bw.put_bits(static_cast<uint32_t>(difference > 0 ? difference : difference + (1 << size) - 1), size);
}

void put_ac(int table, int run, int level, int mpeg1, BitWriter& bw) {
  const int a = std::abs(level);
  if (run < 32 && a <= 40) {
    const EncCode c = enc_vlc_tables().dct[table & 1][run][a];
    if (c.len) {
      bw.put_bits(static_cast<uint32_t>(c.code) << 1 | (level < 0), c.len + 1);
      return;
    }
  }
  bw.put_bits(1, 6);  // escape
  bw.put_bits(static_cast<uint32_t>(run), 6);
  if (!mpeg1) {
    bw.put_bits(static_cast<uint32_t>(level) & 0xFFF, 12);
  } else if (level > 127) {
    bw.put_bits(static_cast<uint32_t>(level) & 0xFF, 16);  // 0x00, then the low byte
  } else if (level < -127) {
    bw.put_bits(0x8000 | (static_cast<uint32_t>(level) & 0xFF), 16);
  } else {
    bw.put_bits(static_cast<uint32_t>(level) & 0xFF, 8);
  }
}

bool put_mv(int difference, int f_code, BitWriter& bw) {
  const int r_size = f_code - 1;
  const int f = 1 << r_size;
  const int high = 16 * f - 1, low = -16 * f, range = 32 * f;
  int d = difference;
  if (d > high) d -= range;
  else if (d < low) d += range;
  if (d < low || d > high) {
    trace("put_mv (ERROR): invalid motion vector\n");
    return false;
  }
  const int a = std::abs(d);
  int code = (a + f - 1) >> r_size;
  if (d < 0) code = -code;
  const EncCode c = enc_vlc_tables().motion[code + 16];
  bw.put_bits(c.code, c.len);
  if (r_size > 0 && code != 0) bw.put_bits(static_cast<uint32_t>((a + f - 1) & (f - 1)), r_size);
  return true;
}
