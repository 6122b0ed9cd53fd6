// Headers, picture/slice/macroblock/block coding, the intra transform and
// the reconstruction of coded intra pictures.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "decode/idct.h"
#include "encode/enc_vlc.h"
#include "encode/encoder.h"
#include "foundation/trace.h"

namespace {

const uint8_t kAltScan[64] = {0,  8,  16, 24, 1,  9,  2,  10, 17, 25, 32, 40, 48, 56, 57, 49,
                              41, 33, 26, 18, 3,  11, 4,  12, 19, 27, 34, 42, 50, 58, 35, 43,
                              51, 59, 20, 28, 5,  13, 6,  14, 21, 29, 36, 44, 52, 60, 37, 45,
                              53, 61, 22, 30, 7,  15, 23, 31, 38, 46, 54, 62, 39, 47, 55, 63};

void put_bytes(BitWriter& bw, const uint8_t* p, int n) {
  for (int i = 0; i < n; ++i) bw.put_bits(p[i], 8);
}

int byte_count(const BitWriter& bw) { return static_cast<int>(bw.bit_count() / 8); }

}  // namespace

int Encoder::type_index() const {
  const int t = pichdr->picture_coding_type;
  return t == PIC_TYPE_P ? 1 : t == PIC_TYPE_B ? 2 : 0;
}

// ---- headers ----------------------------------------------------------------

int Encoder::put_sequence_header(BitWriter& bw) {
  bw.align_zero();
  const int before = byte_count(bw);
  uint8_t buf[1024];
  const int n = seqhdr->encode(buf, sizeof buf, 0);
  put_bytes(bw, buf, n);
  bw.align_zero();
  return byte_count(bw) - before;
}

int Encoder::put_gop_header(BitWriter& bw, int frame_number) {
  bw.align_zero();
  const int before = byte_count(bw);
  const double rate = seqhdr ? seqhdr->get_frame_rate() : 30.0;
  bw.put_bits(0x1B8, 32);
  bw.put_bits(tc25_word_from_frame(frame_number, rate, time_code.get_drop_frame_flag()), 25);
  bw.put_bits(static_cast<uint32_t>(closed_gop & 1), 1);
  bw.put_bits(0, 1);
  bw.align_zero();
  put_bytes(bw, user_data.data(), static_cast<int>(user_data.size()));
  user_data.clear();
  bw.align_zero();
  return byte_count(bw) - before;
}

int Encoder::put_picture_header(BitWriter& bw, const PicHdr& ph) {
  bw.align_zero();
  const int before = byte_count(bw);
  const PicCodingExt& e = *ph.coding_ext;
  bw.put_bits(0x100, 32);
  bw.put_bits(static_cast<uint32_t>(ph.temporal_reference), 10);
  bw.put_bits(static_cast<uint32_t>(ph.picture_coding_type), 3);
  bw.put_bits(static_cast<uint32_t>(ph.vbv_delay), 16);
  if (ph.picture_coding_type == PIC_TYPE_P || ph.picture_coding_type == PIC_TYPE_B) {
    bw.put_bits(mpeg1 ? static_cast<uint32_t>(ph.full_pel_forward_vector) : 0u, 1);
    bw.put_bits(mpeg1 ? static_cast<uint32_t>(e.f_code[0][0]) : 7u, 3);
  }
  if (ph.picture_coding_type == PIC_TYPE_B) {
    bw.put_bits(mpeg1 ? static_cast<uint32_t>(ph.full_pel_backward_vector) : 0u, 1);
    bw.put_bits(mpeg1 ? static_cast<uint32_t>(e.f_code[1][0]) : 7u, 3);
  }
  bw.put_bits(0, 1);
  bw.align_zero();
  if (!mpeg1) put_picture_coding_ext(bw, ph);
  return byte_count(bw) - before;
}

int Encoder::put_picture_coding_ext(BitWriter& bw, const PicHdr& ph) {
  const int before = byte_count(bw);
  const PicCodingExt& e = *ph.coding_ext;
  const int t = ph.picture_coding_type;
  const bool fwd = t == PIC_TYPE_P || (t == PIC_TYPE_B && !closed_gop);
  const int tff = e.picture_structure == PIC_FRAME &&
                  !(seqhdr->get_progressive_sequence() && !e.repeat_first_field) && e.top_field_first;
  bw.put_bits(0x1B5, 32);
  bw.put_bits(8, 4);
  bw.put_bits(fwd ? static_cast<uint32_t>(e.f_code[0][0]) : 15u, 4);
  bw.put_bits(fwd ? static_cast<uint32_t>(e.f_code[0][1]) : 15u, 4);
  bw.put_bits(t == PIC_TYPE_B ? static_cast<uint32_t>(e.f_code[1][0]) : 15u, 4);
  bw.put_bits(t == PIC_TYPE_B ? static_cast<uint32_t>(e.f_code[1][1]) : 15u, 4);
  bw.put_bits(static_cast<uint32_t>(e.intra_dc_precision), 2);
  bw.put_bits(static_cast<uint32_t>(e.picture_structure), 2);
  bw.put_bits(static_cast<uint32_t>(tff), 1);
  bw.put_bits(static_cast<uint32_t>(e.frame_pred_frame_dct), 1);
  bw.put_bits(0, 1);
  bw.put_bits(static_cast<uint32_t>(e.q_scale_type), 1);
  bw.put_bits(static_cast<uint32_t>(e.intra_vlc_format), 1);
  bw.put_bits(static_cast<uint32_t>(e.alternate_scan), 1);
  bw.put_bits(static_cast<uint32_t>(e.repeat_first_field), 1);
  bw.put_bits(chroma_format == 1 ? static_cast<uint32_t>(e.progressive_frame) : 0u, 1);
  bw.put_bits(static_cast<uint32_t>(e.progressive_frame), 1);
  bw.put_bits(0, 1);
  bw.align_zero();
  return byte_count(bw) - before;
}

// ---- quantiser --------------------------------------------------------------

void Encoder::put_quantiser_code(BitWriter& bw, int mquant) {
  const int code = pichdr->coding_ext->q_scale_type ? kNonLinearQuantCode[std::clamp(mquant, 0, 112)] : mquant / 2;
  bw.put_bits(static_cast<uint32_t>(code), 5);
}

void Encoder::put_slice_header(BitWriter& bw, int row, int mquant) {
  bw.align_zero();
  if (!mpeg1 && seqhdr->vertical_size > 2800) {
    bw.put_bits(0x101u + (row & 127), 32);
    bw.put_bits(static_cast<uint32_t>(row >> 7), 3);
  } else {
    bw.put_bits(0x101u + row, 32);
  }
  put_quantiser_code(bw, mquant);
  bw.put_bits(0, 1);
}

// ---- macroblock layer ---------------------------------------------------------

void Encoder::put_motion_vectors(BitWriter& bw, Coder& st, const MBInfo& m, int s) {
  const PicCodingExt& e = *pichdr->coding_ext;
  const int fh = e.f_code[s][0], fv = e.f_code[s][1];
  const int mt = e.frame_pred_frame_dct ? kMotionFrame : m.motion_type;
  if (mt == kMotionField) {
    for (int r = 0; r < 2; ++r) {
      bw.put_bits(static_cast<uint32_t>(mbi_field_sel(m, r, s) & 1), 1);
      const int h = mbi_mv(m, r, s, 0), v = mbi_mv(m, r, s, 1);
      put_mv(h - st.pmv[r][s][0], fh, bw);
      put_mv(v - (st.pmv[r][s][1] >> 1), fv, bw);
      st.pmv[r][s][0] = h;
      st.pmv[r][s][1] = v * 2;
    }
  } else {
    const int h = mbi_mv(m, 0, s, 0), v = mbi_mv(m, 0, s, 1);
    put_mv(h - st.pmv[0][s][0], fh, bw);
    put_mv(v - st.pmv[0][s][1], fv, bw);
    st.pmv[0][s][0] = st.pmv[1][s][0] = h;
    st.pmv[0][s][1] = st.pmv[1][s][1] = v;
  }
}

void Encoder::put_mb_header(BitWriter& bw, Coder& st, const MBInfo& m) {
  const PicCodingExt& e = *pichdr->coding_ext;
  const int type = st.cur_mb_type;
  put_addrinc(st.mb_inc, bw);
  st.mb_inc = 1;
  put_mb_type(pichdr->picture_coding_type, type & 31, bw);
  const bool frame_pic = e.picture_structure == PIC_FRAME;
  if (!mpeg1 && frame_pic && !e.frame_pred_frame_dct && (type & (kMBForward | kMBBackward)))
    bw.put_bits(static_cast<uint32_t>(m.motion_type & 3), 2);
  if (!mpeg1 && frame_pic && !e.frame_pred_frame_dct && (type & (kMBIntra | 2)))
    bw.put_bits(static_cast<uint32_t>(m.dct_type & 1), 1);
  if (type & 16) put_quantiser_code(bw, m.quantiser_scale);
  if (type & kMBForward) put_motion_vectors(bw, st, m, 0);
  if (type & kMBBackward) put_motion_vectors(bw, st, m, 1);
  if (type & 2) {
    if (block_count == 6) {
      put_cbp(st.cur_cbp, bw);
    } else {  // 4:2:2: the first six blocks, then two more bits
      put_cbp(st.cur_cbp >> (block_count - 6), bw);
      bw.put_bits(static_cast<uint32_t>(st.cur_cbp & 3), 2);
    }
  }
}

void Encoder::put_intra_block(BitWriter& bw, Coder& st, const CoefBlock& b, int cc) {
  const int diff = b.c[0] - st.dc_pred[cc];
  st.dc_pred[cc] = b.c[0];
  put_dc(cc, diff, bw);
  const int table = pichdr->coding_ext->intra_vlc_format;
  int left = b.count, run = 0;
  for (int i = 1; i < 64 && left > 0; ++i) {
    const int v = b.c[scan[i]];
    if (!v) {
      ++run;
      continue;
    }
    put_ac(table, run, v, mpeg1, bw);
    run = 0;
    --left;
  }
  if (table) bw.put_bits(6, 4);  // 0110
  else bw.put_bits(2, 2);        // 10
}

void Encoder::put_non_intra_block(BitWriter& bw, const CoefBlock& b) {
  int left = b.count, run = 0;
  bool first = true;
  for (int i = 0; i < 64 && left > 0; ++i) {
    const int v = b.c[scan[i]];
    if (!v) {
      ++run;
      continue;
    }
    if (first && run == 0 && (v == 1 || v == -1)) bw.put_bits(v == 1 ? 2u : 3u, 2);
    else put_ac(0, run, v, mpeg1, bw);
    first = false;
    run = 0;
    --left;
  }
  bw.put_bits(2, 2);
}

bool Encoder::b_skippable(const Coder& st, const MBInfo& m) const {
  const int dirs = st.cur_mb_type & (kMBForward | kMBBackward);
  if (!dirs || (st.cur_mb_type & kMBIntra) || dirs != st.prev_dirs) return false;
  const bool frame_pic = pichdr->coding_ext->picture_structure == PIC_FRAME;
  const int want = frame_pic ? kMotionFrame : kMotionField;
  if (!pichdr->coding_ext->frame_pred_frame_dct && m.motion_type != want) return false;
  for (int s = 0; s < 2; ++s) {
    if (!(dirs & (s ? kMBBackward : kMBForward))) continue;
    if (mbi_mv(m, 0, s, 0) != st.pmv[0][s][0] || mbi_mv(m, 0, s, 1) != st.pmv[0][s][1]) return false;
    if (!frame_pic && mbi_field_sel(m, 0, s) != (pichdr->coding_ext->picture_structure == PIC_BOTTOM_FIELD))
      return false;
  }
  return true;
}

// ---- picture layer -----------------------------------------------------------

int Encoder::vlc_picture(BitWriter& writer, int frame_number, int) {
  PicCodingExt& e = *pichdr->coding_ext;
  const int ti = type_index();
  e.q_scale_type = q_scale_type[ti];
  e.intra_vlc_format = intra_vlc_format[ti];
  e.alternate_scan = alternate_scan[ti];
  scan = e.alternate_scan ? kAltScan : kZigZag;
  writer.align_zero();
  const int64_t start_bits = static_cast<int64_t>(writer.bit_count());
  if (start_bits > 0) trace("Encoder::vlc_picture (ERROR): start_bits = %d > 0\n", static_cast<int>(start_bits));
  int header_bits = 0;
  const int type = pichdr->picture_coding_type;
  if (type == PIC_TYPE_I) {
    header_bits = 8 * put_sequence_header(writer);
    header_bits += 8 * put_gop_header(writer, frame_number);
  }
  calc_vbv_delay(header_bits + 32);
  put_picture_header(writer, *pichdr);
  Coder st;
  st.mquant = rc_start_mb();
  const int limit = mpeg1 ? 255 : 2047;
  const EncDctDsp& dsp = enc_dct_dsp();
  intra_steps.prepare(intra_q, true);
  inter_steps.prepare(non_intra_q, false);
  const QuantSteps* isteps = nullptr;
  const QuantSteps* nsteps = nullptr;
  int steps_q = -1;
  CoefBlock saved[12];
  // Every row is coded, padding rows of interlaced pictures included.
  for (int r = 0; r < mb_height2; ++r) {
    put_slice_header(writer, r, st.mquant);
    st.dc_pred[0] = st.dc_pred[1] = st.dc_pred[2] = 0;
    std::memset(st.pmv, 0, sizeof st.pmv);
    st.mb_inc = 1;
    st.prev_dirs = 0;
    for (int c = 0; c < mb_width; ++c) {
      const int k = r * mb_width + c;
      MBInfo& m = mbinfo[static_cast<size_t>(k)];
      st.cur_mb_type = m.mb_type & (kMBIntra | kMBForward | kMBBackward);
      if (type == PIC_TYPE_I) st.cur_mb_type = kMBIntra;
      const int bits = static_cast<int>(static_cast<int64_t>(writer.bit_count()) - start_bits);
      int q = rc_step ? rc_step_mquant(k, rc_calc_mquant(k, bits), rc_step) : rc_calc_mquant(k, bits);
      m.quantiser_scale = q;
      st.cur_cbp = 0;
      // MPEG-1 levels stop at 255: at its finest steps bright detail would
      // be clipped far off. Unless every macroblock must keep the code, such
      // a macroblock takes the finest step that holds its levels.
      const bool may_clip = mpeg1 && !constant_mquant;
      if (may_clip)
        for (int n = 0; n < block_count; ++n) std::memcpy(&saved[n], block(k, n), sizeof saved[n]);
      for (;;) {
        if (q != steps_q) {
          steps_q = q;
          isteps = intra_steps.get(q);
          nsteps = inter_steps.get(q);
        }
        st.cur_cbp = 0;
        int peak = 0;
        for (int n = 0; n < block_count; ++n) {
          CoefBlock* b = block(k, n);
          if (st.cur_mb_type & kMBIntra) {
            if (isteps) dsp.quant_intra_steps(b->c, isteps, e.intra_dc_precision, limit, b->c);
            else dsp.quant_intra(b->c, intra_q, q, e.intra_dc_precision, limit, b->c);
          } else {
            const int coded = nsteps ? dsp.quant_non_intra_steps(b->c, nsteps, limit, b->c)
                                       : dsp.quant_non_intra(b->c, non_intra_q, q, limit, b->c);
            st.cur_cbp = (st.cur_cbp << 1) | coded;
          }
          if (may_clip)
            for (int i = (st.cur_mb_type & kMBIntra) ? 1 : 0; i < 64; ++i) peak = std::max(peak, std::abs(int(b->c[i])));
        }
        if (peak < limit || q >= 62) break;
        rc.Q += 2;
        q += 2;
        rc.prev_mquant = q;
        m.quantiser_scale = q;
        for (int n = 0; n < block_count; ++n) std::memcpy(block(k, n), &saved[n], sizeof saved[n]);
      }
      if (st.cur_mb_type & kMBIntra) st.cur_cbp = (1 << block_count) - 1;
      else if (st.cur_cbp) st.cur_mb_type |= 2;
      m.cbp = st.cur_cbp;
      if (st.cur_cbp && q != st.mquant) st.cur_mb_type |= 16;
      m.skipped = 0;
      const bool inner = c > 0 && c < mb_width - 1;
      if (inner && !st.cur_cbp && !(st.cur_mb_type & kMBIntra)) {
        bool skip = false;
        if (type == PIC_TYPE_P && !(st.cur_mb_type & kMBForward)) {
          skip = true;
          st.dc_pred[0] = st.dc_pred[1] = st.dc_pred[2] = 0;
          std::memset(st.pmv, 0, sizeof st.pmv);
        } else if (type == PIC_TYPE_B) {
          skip = b_skippable(st, m);
        }
        if (skip) {
          m.mb_type = st.cur_mb_type;
          m.skipped = 1;
          ++st.mb_inc;
          continue;
        }
      }
      if (type == PIC_TYPE_P && !st.cur_cbp && !(st.cur_mb_type & (kMBForward | kMBIntra))) {
        st.cur_mb_type |= kMBForward;  // coded with a zero vector
        mbi_mv(m, 0, 0, 0) = mbi_mv(m, 0, 0, 1) = 0;
        m.motion_type = kMotionFrame;
      }
      // The record says what was coded: no motion compensation is frame
      // prediction with a zero vector.
      if (type == PIC_TYPE_P && !(st.cur_mb_type & (kMBForward | kMBIntra))) {
        m.motion_type = kMotionFrame;
        mbi_mv(m, 0, 0, 0) = mbi_mv(m, 0, 0, 1) = 0;
      }
      put_mb_header(writer, st, m);
      if (st.cur_mb_type & 16) st.mquant = q;
      for (int n = 0; n < block_count; ++n) {
        if (!((st.cur_cbp >> (block_count - 1 - n)) & 1)) continue;
        if (st.cur_mb_type & kMBIntra) put_intra_block(writer, st, *block(k, n), n < 4 ? 0 : 1 + (n & 1));
        else put_non_intra_block(writer, *block(k, n));
      }
      if (!(st.cur_mb_type & kMBIntra)) st.dc_pred[0] = st.dc_pred[1] = st.dc_pred[2] = 0;
      if ((st.cur_mb_type & kMBIntra) || (type == PIC_TYPE_P && !(st.cur_mb_type & kMBForward)))
        std::memset(st.pmv, 0, sizeof st.pmv);
      st.prev_dirs = st.cur_mb_type & (kMBForward | kMBBackward);
      m.mb_type = st.cur_mb_type;
    }
  }
  writer.align_zero();
  return static_cast<int>((static_cast<int64_t>(writer.bit_count()) - start_bits) / 8);
}

int Encoder::vlc_picture_mbi(int forward, Frame* frame, BitWriter& writer) {
  PicHdr& ph = *pichdr;
  PicCodingExt& e = *ph.coding_ext;
  ph.picture_coding_type = PIC_TYPE_B;
  e.picture_structure = PIC_FRAME;
  e.q_scale_type = q_scale_type[2];
  e.intra_vlc_format = intra_vlc_format[2];
  e.alternate_scan = alternate_scan[2];
  e.frame_pred_frame_dct = 1;
  if (frame) {
    e.top_field_first = frame->top_field_first();
    e.repeat_first_field = frame->repeat_flag();
    e.progressive_frame = frame->progressive_frame();
  }
  e.f_code[0][0] = e.f_code[0][1] = e.f_code[1][0] = e.f_code[1][1] = 1;
  ph.full_pel_forward_vector = ph.full_pel_backward_vector = 0;
  writer.align_zero();
  const int64_t start_bits = static_cast<int64_t>(writer.bit_count());
  calc_vbv_delay(32);
  put_picture_header_default(writer);
  const int dir = forward ? kMBForward : kMBBackward;
  const int mquant = rc_start_mb();
  for (int r = 0; r < mb_height2; ++r) {
    put_slice_header(writer, r, mquant);
    int inc = 1;
    for (int c = 0; c < mb_width; ++c) {
      MBInfo& m = mbinfo[static_cast<size_t>(r * mb_width + c)];
      const int number = m.mb_number;
      m = MBInfo{};
      m.mb_number = number;
      m.mb_type = dir;
      m.motion_type = kMotionFrame;
      if (c == 0 || c == mb_width - 1) {
        put_addrinc(inc, writer);
        inc = 1;
        put_mb_type(PIC_TYPE_B, dir, writer);
        writer.put_bits(3, 2);  // both zero differences: motion_code 0 twice ("1", "1")
      } else {
        m.skipped = 1;
        ++inc;
      }
    }
  }
  writer.align_zero();
  const int bytes = static_cast<int>((static_cast<int64_t>(writer.bit_count()) - start_bits) / 8);
  // Its bits leave the decoder buffer like any picture's: the budget and
  // the buffer model count them (the picture says nothing of the scene, so
  // the complexity estimates stay).
  rc.R -= 8 * bytes;
  rc.bits_total += 8 * bytes;
  rc.gop_bits += 8 * bytes;
  return bytes;
}

// ---- intra transform and reconstruction ---------------------------------------

namespace {

struct BlockPos {
  int plane;  // 0 Y, 1 Cb, 2 Cr
  int x, y, stride_lines;  // stride_lines 2: field lines
};

BlockPos block_pos(int n, int mbx, int mby, int chroma_format, int field_dct) {
  if (n < 4) {
    const int x = 16 * mbx + 8 * (n & 1);
    if (field_dct) return {0, x, 16 * mby + ((n & 2) >> 1), 2};
    return {0, x, 16 * mby + 8 * ((n & 2) >> 1), 1};
  }
  const int plane = 1 + (n & 1);
  const int x = 8 * mbx;
  if (chroma_format == 1) return {plane, x, 8 * mby, 1};
  // 4:2:2: blocks 4/5 upper, 6/7 lower
  const int lower = (n - 4) >> 1;
  if (field_dct) return {plane, x, 16 * mby + lower, 2};
  return {plane, x, 16 * mby + 8 * lower, 1};
}

// Intra AC dequantisation of one block, branch-free so that it vectorises:
// saturation, and for MPEG-1 the step of even values toward zero. Returns
// the sum of the AC values (for mismatch control).
template <bool MPEG1>
int dequant_intra_ac(const int16_t* qf, const int* wq, int16_t* f) {
  int sum = 0;
  for (int i = 1; i < 64; ++i) {
    const int q = qf[i];
    const int neg = q < 0;
    int mag = ((neg ? -q : q) * wq[i]) >> 4;
    if (MPEG1) mag -= (mag != 0) & ~mag & 1;
    mag = std::min(mag, 2047 + neg);
    const int v = neg ? -mag : mag;
    f[i] = static_cast<int16_t>(v);
    sum += v;
  }
  return sum;
}

}  // namespace

void Encoder::estimate_dct_type(const Frame* pred, const Frame* cur) {
  const PicCodingExt& e = *pichdr->coding_ext;
  const int stride = cur->padded_width();
  for (int k = 0; k < mb_count2; ++k) {
    MBInfo& m = mbinfo[static_cast<size_t>(k)];
    if (e.frame_pred_frame_dct || e.picture_structure != PIC_FRAME) {
      m.dct_type = 0;
      continue;
    }
    const int mx = 16 * (k % mb_width), my = 16 * (k / mb_width);
    int64_t s0 = 0, s1 = 0, q0 = 0, q1 = 0, s01 = 0;
    for (int j = 0; j < 8; ++j) {
      const uint8_t* c0 = cur->y_plane() + (my + 2 * j) * stride + mx;
      const uint8_t* c1 = c0 + stride;
      const uint8_t* p0 = pred ? pred->y_plane() + (my + 2 * j) * recon->padded_width() + mx : nullptr;
      const uint8_t* p1 = pred ? p0 + recon->padded_width() : nullptr;
      for (int i = 0; i < 16; ++i) {
        const int a = c0[i] - (p0 ? p0[i] : 128), b = c1[i] - (p1 ? p1[i] : 128);
        s0 += a;
        s1 += b;
        q0 += a * a;
        q1 += b * b;
        s01 += a * b;
      }
    }
    const double d = (q0 - s0 * s0 / 128.0) * (q1 - s1 * s1 / 128.0);
    if (d <= 0) {
      m.dct_type = 1;
      continue;
    }
    const double r = (s01 - s0 * s1 / 128.0) / std::sqrt(d);
    m.dct_type = r > 0.5 ? 0 : 1;
  }
}

void Encoder::transform_intra_picture(const Frame* cur) { transform_picture(nullptr, cur); }

void Encoder::transform_picture(const Frame* pred, const Frame* cur) {
  const EncDctDsp& dsp = enc_dct_dsp();
  const uint8_t* planes[3] = {cur->y_plane(), cur->cb_plane(), cur->cr_plane()};
  const uint8_t* pplanes[3] = {};
  if (pred) pplanes[0] = pred->y_plane(), pplanes[1] = pred->cb_plane(), pplanes[2] = pred->cr_plane();
  const int strides[3] = {cur->padded_width(), cur->padded_width() / 2, cur->padded_width() / 2};
  for (int k = 0; k < mb_count2; ++k) {
    const int mbx = k % mb_width, mby = k / mb_width;
    const int field_dct = mbinfo[static_cast<size_t>(k)].dct_type;
    for (int n = 0; n < block_count; ++n) {
      const BlockPos p = block_pos(n, mbx, mby, chroma_format, field_dct);
      const int stride = strides[p.plane] * p.stride_lines;
      const ptrdiff_t at = static_cast<ptrdiff_t>(p.y) * strides[p.plane] + p.x;
      const uint8_t* src = planes[p.plane] + at;
      int16_t* out = block(k, n)->c;
      if (pred) {
        // Intra macroblocks of predicted pictures find 128 in the prediction.
        const uint8_t* ps = pplanes[p.plane] + at;
        for (int r = 0; r < 8; ++r)
          for (int c = 0; c < 8; ++c) out[8 * r + c] = static_cast<int16_t>(src[r * stride + c] - ps[r * stride + c]);
      } else {
        for (int r = 0; r < 8; ++r)
          for (int c = 0; c < 8; ++c) out[8 * r + c] = static_cast<int16_t>(src[r * stride + c] - 128);
      }
      dsp.fdct(out);
    }
  }
}

void Encoder::reconstruct_intra_picture() {
  const IdctDsp& idct = idct_dsp();
  const int dc_mult = 8 >> pichdr->coding_ext->intra_dc_precision;
  uint8_t intra_m[64];
  seqhdr->get_intra_matrix(intra_m);
  uint8_t* planes[3] = {recon->y_plane(), recon->cb_plane(), recon->cr_plane()};
  const int strides[3] = {recon->padded_width(), recon->padded_width() / 2, recon->padded_width() / 2};
  alignas(32) int16_t f[64];
  int wq[64] = {};
  int wq_for = -1;
  for (int k = 0; k < mb_count2; ++k) {
    const MBInfo& m = mbinfo[static_cast<size_t>(k)];
    if (m.quantiser_scale != wq_for) {
      wq_for = m.quantiser_scale;
      for (int i = 0; i < 64; ++i) wq[i] = intra_m[i] * wq_for;
    }
    const int mbx = k % mb_width, mby = k / mb_width;
    for (int n = 0; n < block_count; ++n) {
      const CoefBlock& b = *block(k, n);
      const BlockPos p = block_pos(n, mbx, mby, chroma_format, m.dct_type);
      uint8_t* dst = planes[p.plane] + p.y * strides[p.plane] + p.x;
      const int stride = strides[p.plane] * p.stride_lines;
      const int dc = std::clamp(b.c[0] * (mpeg1 ? 8 : dc_mult), -2048, 2047);
      if (b.count == 0) {
        // DC alone; mismatch control makes coefficient 63 odd when DC is even.
        idct.dc63(dc, !mpeg1 && !(dc & 1) ? 1 : 0, dst, stride, 0);
        continue;
      }
      f[0] = static_cast<int16_t>(dc);
      const int sum = mpeg1 ? dequant_intra_ac<true>(b.c, wq, f) + dc : dequant_intra_ac<false>(b.c, wq, f) + dc;
      if (!mpeg1 && !(sum & 1)) f[63] = static_cast<int16_t>(f[63] ^ 1);
      idct.put(f, dst, stride);
    }
  }
}
