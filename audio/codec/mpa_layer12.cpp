// Layer I and layer II frames: allocation, scale factors, requantisation.
#include "audio/codec/mpa_layer12.h"

#include <cstring>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_tables.h"
#include "audio/codec/mpaenc_tables.h"
#include "foundation/trace.h"

namespace {

// Classes by allocation code for each kind of subband.
const Layer2Row kRowA4a = {4, {0, 0, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
const Layer2Row kRowA4b = {4, {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 16}};
const Layer2Row kRowA3 = {3, {0, 0, 1, 2, 3, 4, 5, 16}};
const Layer2Row kRowA2 = {2, {0, 0, 1, 16}};
const Layer2Row kRowC4 = {4, {0, 0, 1, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
const Layer2Row kRowC3 = {3, {0, 0, 1, 3, 4, 5, 6, 7}};
const Layer2Row kRowL4 = {4, {0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}};
const Layer2Row kRowL2 = {2, {0, 0, 1, 3}};

Layer2Table make_table(int sblimit, int kind) {
  Layer2Table t{};
  t.sblimit = sblimit;
  for (int sb = 0; sb < 32; ++sb) {
    const Layer2Row* r = nullptr;
    if (sb < sblimit) {
      switch (kind) {
        case 0:  // 27 and 30 subbands
          r = sb < 3 ? &kRowA4a : sb < 11 ? &kRowA4b : sb < 23 ? &kRowA3 : &kRowA2;
          break;
        case 1:  // 8 and 12 subbands
          r = sb < 2 ? &kRowC4 : &kRowC3;
          break;
        default:  // lower sampling frequencies
          r = sb < 4 ? &kRowL4 : sb < 11 ? &kRowC3 : &kRowL2;
          break;
      }
    }
    t.rows[sb] = r;
  }
  return t;
}

const Layer2Table kTables[5] = {make_table(27, 0), make_table(30, 0), make_table(8, 1), make_table(12, 1),
                                make_table(30, 2)};

inline double requant(uint32_t v, int cls, int sf, const MpaTables& t) {
  return (2.0 * static_cast<double>(v) - t.levels[cls] + 1.0) * t.multiplier[cls][sf];
}

}  // namespace

int joint_bound(const FrmHdr& h, int sblimit) {
  if (h.mode != 1) return sblimit;
  const int b = audio_encoder_get_js_bound(h.layer, h.mode_extension);
  return b < 0 || b > sblimit ? sblimit : b;
}

int layer2_choose_table(const FrmHdr& h) {
  if (h.lsf) return 4;
  if (h.sampling_index < 0 || h.sampling_index > 2 || h.channels < 1 || h.channels > 2 || h.bitrate_index < 0 ||
      h.bitrate_index > 15) {
    trace("Illegal index values (BAD FrmHdr): sf=%d, ch=%d, br=%d\n", h.sampling_index, h.channels, h.bitrate_index);
    return -1;
  }
  return audio_encoder_pick_table(h.sample_rate / 1000, h.bit_rate / 1000 / h.channels);
}

const Layer2Table& layer2_table(int index) { return kTables[index]; }

int MpegAudioDecoder::decode_layer1(BS& bs, int16_t* out) {
  const MpaTables& t = mpa_tables();
  const int nch = header_.channels;
  const int bound = joint_bound(header_, 32);
  uint8_t alloc[2][32] = {};
  uint8_t sf[2][32] = {};
  read_allocation(nch, bound, 32, nullptr, [&](int bits) { return bs.get_bits(bits); }, alloc);
  for (int ch = 0; ch < nch; ++ch)
    for (int sb = 0; sb < 32; ++sb)
      if (alloc[ch][sb] == 15) return 0;  // forbidden code: a damaged frame
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) sf[ch][sb] = static_cast<uint8_t>(bs.get_bits(6));
  // Class of an allocation of nb = code + 1 bits: levels 2^nb - 1.
  auto cls_of = [](int code) { return code == 1 ? 0 : code == 2 ? 2 : code + 1; };
  double s[2][32];
  for (int slot = 0; slot < 12; ++slot) {
    for (int sb = 0; sb < 32; ++sb) {
      if (sb < bound) {
        for (int ch = 0; ch < nch; ++ch) {
          const int a = alloc[ch][sb];
          s[ch][sb] = a ? requant(bs.get_bits(a + 1), cls_of(a), sf[ch][sb], t) : 0.0;
        }
      } else {
        const int a = alloc[0][sb];
        if (a) {
          const uint32_t v = bs.get_bits(a + 1);
          for (int ch = 0; ch < nch; ++ch) s[ch][sb] = requant(v, cls_of(a), sf[ch][sb], t);
        } else {
          for (int ch = 0; ch < nch; ++ch) s[ch][sb] = 0.0;
        }
      }
    }
    output_slot(s, nch, out + slot * 32 * nch);
  }
  return 384 * nch;
}

int MpegAudioDecoder::decode_layer2(BS& bs, int16_t* out) {
  if (layer2_table_ < 0 || layer2_table_ > 4) {
    layer2_table_ = layer2_choose_table(header_);
    if (layer2_table_ < 0) return 0;
  }
  const MpaTables& t = mpa_tables();
  const Layer2Table& table = layer2_table(layer2_table_);
  const int nch = header_.channels;
  const int sblimit = table.sblimit;
  const int bound = joint_bound(header_, sblimit);
  uint8_t alloc[2][32] = {};
  int8_t cls[2][32];  // quantisation class, -1 for no allocation
  uint8_t scfsi[2][32] = {};
  uint8_t sf[2][32][3] = {};
  std::memset(cls, -1, sizeof cls);
  read_allocation(nch, bound, sblimit, &table, [&](int bits) { return bs.get_bits(bits); }, alloc);
  for (int ch = 0; ch < 2; ++ch)
    for (int sb = 0; sb < sblimit; ++sb)
      if (alloc[ch][sb]) cls[ch][sb] = table.rows[sb]->cls[alloc[ch][sb]];
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (cls[ch][sb] >= 0) scfsi[ch][sb] = static_cast<uint8_t>(bs.get_bits(2));
  for (int sb = 0; sb < sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch) {
      if (cls[ch][sb] < 0) continue;
      uint8_t* f = sf[ch][sb];
      switch (scfsi[ch][sb]) {
        case 0:
          f[0] = static_cast<uint8_t>(bs.get_bits(6));
          f[1] = static_cast<uint8_t>(bs.get_bits(6));
          f[2] = static_cast<uint8_t>(bs.get_bits(6));
          break;
        case 1:
          f[0] = f[1] = static_cast<uint8_t>(bs.get_bits(6));
          f[2] = static_cast<uint8_t>(bs.get_bits(6));
          break;
        case 2:
          f[0] = f[1] = f[2] = static_cast<uint8_t>(bs.get_bits(6));
          break;
        default:
          f[0] = static_cast<uint8_t>(bs.get_bits(6));
          f[1] = f[2] = static_cast<uint8_t>(bs.get_bits(6));
          break;
      }
    }

  double s[3][2][32];
  for (int gr = 0; gr < 12; ++gr) {
    const int part = gr >> 2;
    for (int sb = 0; sb < sblimit; ++sb) {
      const int shared = sb >= bound;
      for (int ch = 0; ch < nch; ++ch) {
        const int c = cls[ch][sb];
        if (c < 0) {
          s[0][ch][sb] = s[1][ch][sb] = s[2][ch][sb] = 0.0;
          continue;
        }
        uint32_t v[3];
        if (!shared || ch == 0) {
          if (layer2_grouped(c)) {
            const uint32_t code = bs.get_bits(layer2_code_bits(c));
            const uint16_t g = c == 0 ? t.group3[code & 31] : c == 1 ? t.group5[code & 127] : t.group9[code & 1023];
            v[0] = g & 15;
            v[1] = (g >> 4) & 15;
            v[2] = (g >> 8) & 15;
          } else {
            const int bits = layer2_code_bits(c);
            v[0] = bs.get_bits(bits);
            v[1] = bs.get_bits(bits);
            v[2] = bs.get_bits(bits);
          }
          for (int k = 0; k < 3; ++k) s[k][ch][sb] = requant(v[k], c, sf[ch][sb][part], t);
          if (shared && nch == 2) {
            for (int k = 0; k < 3; ++k) s[k][1][sb] = requant(v[k], c, sf[1][sb][part], t);
            break;
          }
        }
      }
    }
    for (int k = 0; k < 3; ++k) {
      for (int ch = 0; ch < nch; ++ch)
        for (int sb = sblimit; sb < 32; ++sb) s[k][ch][sb] = 0.0;
      output_slot(s[k], nch, out + (gr * 3 + k) * 32 * nch);
    }
  }
  return 1152 * nch;
}
