// Picture body: slice headers, macroblock modes, motion vectors and the
// macroblock walk with its skipped macroblocks, for MPEG-1 and MPEG-2 frame
// and field pictures at full and reduced size, and the parse-only pass
// that fills MBInfo records. Blocks are decoded in picdec_block.cpp and
// reconstructed in picdec_recon.cpp.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decode/picdec.h"
#include "decode/picdec_internal.h"
#include "foundation/start_code.h"

namespace {

// ---- variable-length codes ----

int get_mb_address_increment(MBReader& bs, const VlcTables& t) {
  int add = 0;
  for (;;) {
    const uint32_t v = bs.show(11);
    if (v >= 1024) {
      bs.skip(1);
      return add + 1;
    }
    const VlcEntry e = t.mb_addr[v];
    if (!e.len) return 0;
    bs.skip(e.len);
    if (e.value == MB_ADDR_ESCAPE) {
      add += 33;
    } else if (e.value != MB_ADDR_STUFFING) {
      return add + e.value;
    }
    if (bs.overrun()) return 0;
  }
}

int get_mb_type(MBWindow& bs, const VlcTables& t, int ptype) {
  if (ptype == PIC_TYPE_I) {
    const uint32_t v = bs.show(2);
    if (v & 2) {
      bs.skip(1);
      return MB_INTRA;
    }
    if (v == 1) {
      bs.skip(2);
      return MB_INTRA | MB_QUANT;
    }
    return 0;
  }
  const VlcEntry e = (ptype == PIC_TYPE_P ? t.mb_type_p : t.mb_type_b)[bs.show(6)];
  if (!e.len) return 0;
  bs.skip(e.len);
  return e.value;
}

// Returns -1 for no code; the pattern-0 code gives 0.
int get_coded_block_pattern(MBReader& bs, const VlcTables& t) {
  const VlcEntry e = t.cbp[bs.show(9)];
  if (!e.len) return -1;
  bs.skip(e.len);
  return e.value;
}

// motion_code -16..16; false for a code not in the table.
[[gnu::always_inline]] inline bool get_motion_code(MBWindow& bs, const VlcTables& t, int* code) {
  if (bs.show(1)) {
    bs.skip(1);
    *code = 0;
    return true;
  }
  const VlcEntry e = t.motion[bs.show(11)];
  if (!e.len) return false;
  bs.skip(e.len);
  *code = e.value;
  return true;
}

// New vector component (wrapped into [-16 f, 16 f - 1]); halve: the
// prediction is halved before and the result doubled after (MPEG-1
// full_pel vectors, vertical field vectors of frame pictures).
inline int reconstruct_mv_component(int prediction, int r_size, int motion_code, int motion_residual, bool halve) {
  int pred = halve ? prediction >> 1 : prediction;
  if (motion_code) {
    const int f = 1 << r_size;
    int delta = ((std::abs(motion_code) - 1) << r_size) + motion_residual + 1;
    if (motion_code < 0) delta = -delta;
    int v = pred + delta;
    if (v < -16 * f) v += 32 * f;
    if (v > 16 * f - 1) v -= 32 * f;
    pred = v;
  }
  return halve ? pred * 2 : pred;
}

// One component: code, residual, reconstruction into *pmv. False on a bad code.
[[gnu::always_inline]] inline bool read_mv_component(MBWindow& bs, const VlcTables& t, int r_size, bool halve,
                                                     int* pmv) {
  int code;
  if (!get_motion_code(bs, t, &code)) return false;
  const int residual = code && r_size ? static_cast<int>(bs.get(r_size)) : 0;
  *pmv = reconstruct_mv_component(*pmv, r_size, code, residual, halve);
  return true;
}

int get_dmvector(MBWindow& bs) {
  if (!bs.show(1)) {
    bs.skip(1);
    return 0;
  }
  const int v = static_cast<int>(bs.show(2));
  bs.skip(2);
  return v == 2 ? 1 : -1;
}

// ---- the walk over slices and macroblocks ----

// What the walk keeps besides the decoding state: the macroblock grid of
// this body, the map of decoded macroblocks, the records and the tallies.
struct Walk {
  int cols = 0, rows = 0, to_decode = 0;
  uint8_t* map = nullptr;
  int map_base = 0;  // second field of a pair: the map's second half
  int count = 0;     // macroblocks marked in the map
  MBInfo* rec = nullptr;
  bool parse_only = false;
  bool recon = false;
  long long quant_sum = 0;
  int mb_tally = 0;
  int prev_type = 0;  // macroblock_type of the last coded macroblock
  bool dirty = false; // blocks hold coefficients not yet consumed
  // quantiser weights of the picture
  uint16_t (*weights)[4][64] = nullptr;
  uint8_t* weights_valid = nullptr;
  const uint8_t (*matrix)[64] = nullptr;
};

void set_quantiser(BodyCtx& c, Walk& w, int qs) {
  c.quantiser_scale = qs;
  const int q = std::clamp(qs, 0, 112);
  if (!w.weights_valid[q]) {
    for (int m = 0; m < 4; ++m)
      for (int i = 0; i < 64; ++i) w.weights[q][m][i] = static_cast<uint16_t>(q * w.matrix[m][c.scan[i]]);
    w.weights_valid[q] = 1;
  }
  c.qw = w.weights[q];
}

template <class Bits>
void read_quantiser(BodyCtx& c, Walk& w, Bits& bs) {
  const int qcode = static_cast<int>(bs.get(5));
  set_quantiser(c, w, c.mpeg1 ? qcode : c.qtab[qcode]);
}

void clear_blocks(BodyCtx& c, int n) {
  for (int k = 0; k < n; ++k) std::memset(c.blk[k], 0, 64 * sizeof(int16_t));
}

void mark_decoded(Walk& w, int mb, int qs) {
  if (!w.map[w.map_base + mb]) {
    w.map[w.map_base + mb] = 1;
    ++w.count;
  }
  w.quant_sum += qs;
  ++w.mb_tally;
}

enum class SliceStart { found, retry, stop };

// Finds the next slice from the reader's position and reads its header up
// to the first macroblock address. found: *mb is the first macroblock.
SliceStart slice_header(BodyCtx& c, Walk& w, size_t length, int padded_height, int* last_row, int* mb) {
  c.bs.align();
  StartCodeCursor sc(c.bs.buf, static_cast<int64_t>(length));
  sc.seek(static_cast<int64_t>(c.bs.pos >> 3));
  if (!sc.next()) {
    c.bs.pos = c.bs.end;
    return SliceStart::stop;
  }
  const size_t i = static_cast<size_t>(sc.offset());
  const int code = sc.code();
  if (code < 0x01 || code > 0xAF) {
    c.bs.pos = i * 8;
    return SliceStart::stop;
  }
  c.bs.pos = (i + 4) * 8;
  int row = code - 1;
  if (!c.mpeg1 && padded_height > 2800) row += static_cast<int>(c.bs.get(3)) << 7;
  if (row < *last_row || row >= w.rows) return SliceStart::stop;  // a slice below the picture ends it
  *last_row = row;
  read_quantiser(c, w, c.bs);
  while (c.bs.get1()) {
    c.bs.skip(8);
    if (c.bs.overrun()) break;
  }
  const int inc = get_mb_address_increment(c.bs, *c.t);
  if (!inc || c.bs.overrun()) return SliceStart::retry;
  if (inc - 1 >= w.cols && !c.mpeg1) return SliceStart::retry;
  *mb = row * w.cols + inc - 1;
  return SliceStart::found;
}

// macroblock_type, motion_type, dct_type and quantiser_scale_code. False
// when no macroblock type is coded.
bool macroblock_modes(BodyCtx& c, Walk& w, MbModes& m, MBWindow& bs) {
  m.type = get_mb_type(bs, *c.t, c.ptype);
  if (!m.type) return false;
  c.dct_type = 0;
  if (!c.mpeg1) {
    if (m.type & (MB_FORWARD | MB_BACKWARD)) {
      if (c.ps == PIC_FRAME && c.fpfd)
        m.motion_type = MOTION_FRAME;
      else
        m.motion_type = static_cast<int>(bs.get(2));
    } else if ((m.type & MB_INTRA) && c.cmv) {
      m.motion_type = c.ps == PIC_FRAME ? MOTION_FRAME : MOTION_FIELD;
    }
    m.dual = m.motion_type == MOTION_DUAL_PRIME;
    if (c.ps != PIC_FRAME) {
      m.mv_count = m.motion_type == MOTION_16X8 ? 2 : 1;
      m.mv_field = true;
    } else {
      m.mv_count = m.motion_type == MOTION_FIELD ? 2 : 1;
      m.mv_field = m.motion_type == MOTION_FIELD || m.dual;
    }
    if (c.ps == PIC_FRAME && !c.fpfd && (m.type & (MB_INTRA | MB_PATTERN))) c.dct_type = static_cast<int>(bs.get1());
  }
  if (m.type & MB_QUANT) read_quantiser(c, w, bs);
  m.halve = !c.mpeg1 && c.ps == PIC_FRAME && m.mv_field;
  return true;
}

// Motion vectors of direction s; false on a bad code.
[[gnu::always_inline]] inline bool motion_vectors(BodyCtx& c, const MbModes& m, int s, MBWindow& bs) {
  const VlcTables& t = *c.t;
  int(&pmv)[2][2][2] = c.pmv;
  if (c.mpeg1) {
    const bool full_pel = c.full_pel[s] != 0;
    const bool ok = read_mv_component(bs, t, c.r_size[s][0], full_pel, &pmv[0][s][0]) &&
                    read_mv_component(bs, t, c.r_size[s][1], full_pel, &pmv[0][s][1]);
    pmv[1][s][0] = pmv[0][s][0];
    pmv[1][s][1] = pmv[0][s][1];
    return ok;
  }
  if (m.mv_count == 1) {
    if (m.mv_field && !m.dual) c.sel[0][s] = c.sel[1][s] = static_cast<int>(bs.get1());
    if (!read_mv_component(bs, t, c.r_size[s][0], false, &pmv[0][s][0])) return false;
    if (m.dual) c.dmv[0] = get_dmvector(bs);
    if (!read_mv_component(bs, t, c.r_size[s][1], m.halve, &pmv[0][s][1])) return false;
    if (m.dual) c.dmv[1] = get_dmvector(bs);
    pmv[1][s][0] = pmv[0][s][0];
    pmv[1][s][1] = pmv[0][s][1];
    return true;
  }
  for (int r = 0; r < 2; ++r) {
    c.sel[r][s] = static_cast<int>(bs.get1());
    if (!read_mv_component(bs, t, c.r_size[s][0], false, &pmv[r][s][0]) ||
        !read_mv_component(bs, t, c.r_size[s][1], m.halve, &pmv[r][s][1]))
      return false;
  }
  return true;
}

bool all_motion_vectors(BodyCtx& c, MbModes& m, MBWindow& bs) {
  const bool forward = (m.type & MB_FORWARD) || ((m.type & MB_INTRA) && c.cmv && !c.mpeg1);
  if (forward && !motion_vectors(c, m, 0, bs)) return false;
  if ((m.type & MB_BACKWARD) && !motion_vectors(c, m, 1, bs)) return false;
  for (int r = 0; r < 2; ++r)
    for (int s = 0; s < 2; ++s) {
      m.vec[r][s][0] = c.pmv[r][s][0];
      m.vec[r][s][1] = m.halve ? c.pmv[r][s][1] >> 1 : c.pmv[r][s][1];
    }
  return true;
}

// Blocks of an intra macroblock. False when the slice must end; *partial:
// an MPEG-1 macroblock cut short after block 0 keeps its blocks up to the
// failed one.
bool intra_blocks(BodyCtx& c, Walk& w, int* partial) {
  if (!c.mpeg1 && c.cmv) c.bs.skip(1);  // marker
  if (!c.mpeg1 && !c.cmv) std::memset(c.pmv, 0, sizeof c.pmv);
  w.dirty = true;
  if (!c.mpeg1) return decode_mpeg2_intra_blocks(c);
  for (int k = 0; k < c.nblocks; ++k) {
    if (decode_mpeg1_block(c, k, c.qw[0], true) || c.bs.overrun()) {
      if (k == 0) return false;
      *partial = k;
      break;
    }
  }
  std::memset(c.pmv, 0, sizeof c.pmv);
  return true;
}

inline bool coded(const BodyCtx& c, int cbp, int k) { return (cbp >> (c.nblocks - 1 - k)) & 1; }

// Coded block pattern and blocks of a non-intra macroblock, and the zero
// vector of a P macroblock without motion compensation. False when the
// slice must end.
bool inter_blocks(BodyCtx& c, Walk& w, MbModes& m) {
  c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
  if (m.type & MB_PATTERN) {
    int cbp = get_coded_block_pattern(c.bs, *c.t);
    if (cbp < 0) return false;
    if (c.cf == 2 && !c.mpeg1) cbp = (cbp << 2) | static_cast<int>(c.bs.get(2));
    if (cbp == 0) return false;
    if (c.cf == 1 && c.mpeg1) cbp &= 63;
    m.cbp = cbp;
    w.dirty = true;
    if (!c.mpeg1 && !decode_mpeg2_inter_blocks(c, cbp)) return false;
    for (int k = 0; c.mpeg1 && k < c.nblocks; ++k)
      if (coded(c, cbp, k) && (decode_mpeg1_block(c, k, c.qw[1], false) || c.bs.overrun())) return false;
  }
  if (c.ptype == PIC_TYPE_P && !(m.type & MB_FORWARD)) {
    std::memset(c.pmv[0][0], 0, sizeof c.pmv[0][0]);
    std::memset(c.pmv[1][0], 0, sizeof c.pmv[1][0]);
    m.vec[0][0][0] = m.vec[0][0][1] = m.vec[1][0][0] = m.vec[1][0][1] = 0;
    m.motion_type = c.ps == PIC_FRAME ? MOTION_FRAME : MOTION_FIELD;
    if (c.ps != PIC_FRAME) c.sel[0][0] = c.sel[1][0] = c.parity;
  }
  return true;
}

void reconstruct_mb(BodyCtx& c, Walk& w, MbModes& m, int mbx, int mby, int partial) {
  const int x = mbx * c.mbs, y = mby * c.mbs;
  const int nb = c.nblocks;
  if (m.type & MB_INTRA) {
    // an MPEG-1 macroblock cut short keeps the failed block as it stands
    // and zero blocks after it
    if (partial) {
      c.kind[partial] = BLOCK_FULL;
      for (int k = partial + 1; k < nb; ++k) {
        std::memset(c.blk[k], 0, 64 * sizeof(int16_t));
        c.kind[k] = BLOCK_DC;
      }
    }
    reconstruct_blocks(c, (1 << nb) - 1, x, y, false);
    w.dirty = false;
    return;
  }
  int type = m.type;
  if (c.ptype == PIC_TYPE_P && !(type & MB_FORWARD)) type |= MB_FORWARD;
  const int mt = c.mpeg1 ? static_cast<int>(MOTION_FRAME) : m.motion_type;
  const int drop = predict_mb(c, mbx, mby, type, mt, m.vec, c.sel, c.dmv);
  if (!drop && m.cbp) {
    reconstruct_blocks(c, m.cbp, x, y, true);
    w.dirty = false;
  }
}

void record_mb(BodyCtx& c, Walk& w, const MbModes& m, int mb) {
  const int nb = c.nblocks;
  MBInfo& r = w.rec[mb];
  r.reset();
  r.mb_type = m.type & MB_RECORDED_FLAGS;
  r.motion_type = c.mpeg1 && !(m.type & MB_INTRA) ? static_cast<int>(MOTION_FRAME) : m.motion_type;
  r.dct_type = c.dct_type;
  r.quantiser_scale = c.quantiser_scale;
  r.cbp = (m.type & MB_INTRA) ? (1 << nb) - 1 : m.cbp;
  for (int rr = 0; rr < 2; ++rr)
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) r.mv[rr * 4 + s * 2 + t] = m.vec[rr][s][t];
  if (!w.parse_only) {
    r.mv[8] = c.sel[0][0];
    r.mv[9] = c.sel[0][1];
    r.mv[10] = c.sel[1][0];
    r.mv[11] = c.sel[1][1];
    r.mv[12] = c.dmv[0];
    r.mv[13] = c.dmv[1];
  } else {
    double act = 0;
    for (int k = 0; k < nb; ++k) {
      if (!coded(c, r.cbp, k)) continue;
      if (c.mpeg1 && (m.type & MB_INTRA)) continue;
      int s = 0;
      for (int i = 0; i < 64; ++i) s += std::abs(c.blk[k][i]);
      act += s;
    }
    r.activity = act;
  }
  r.valid = 1;
}

// One coded macroblock. False when the slice ends with it (or before it).
bool decode_macroblock(BodyCtx& c, Walk& w, int mb, int mbx, int mby) {
  MbModes m;
  MBWindow bs(c.bs);
  const bool modes_ok = macroblock_modes(c, w, m, bs) && all_motion_vectors(c, m, bs);
  bs.store(c.bs);
  if (!modes_ok) return false;
  int partial = 0;
  if (m.type & MB_INTRA) {
    if (!intra_blocks(c, w, &partial)) return false;
  } else if (!inter_blocks(c, w, m)) {
    return false;
  }
  if (w.recon) reconstruct_mb(c, w, m, mbx, mby, partial);
  if (w.rec) record_mb(c, w, m, mb);
  if (w.dirty) {  // parsed only, or residual dropped
    clear_blocks(c, c.nblocks);
    w.dirty = false;
  }
  mark_decoded(w, mb, c.quantiser_scale);
  w.prev_type = m.type;
  return !partial;
}

// Skipped macroblock smb at (sx, sy): P pictures copy the forward reference,
// B pictures repeat the last macroblock's prediction.
void skipped_macroblock(BodyCtx& c, Walk& w, int smb, int sx, int sy) {
  c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
  int stype = w.prev_type & ~(MB_INTRA | MB_PATTERN | MB_QUANT);
  if (c.ptype == PIC_TYPE_P) {
    std::memset(c.pmv, 0, sizeof c.pmv);
    stype = MB_FORWARD;
  }
  if (!stype) stype = MB_FORWARD;
  if (w.recon) {
    if (c.ptype == PIC_TYPE_P) {
      copy_mb(c, sx, sy);
    } else {
      predict_skipped_b(c, sx, sy, stype);
    }
  }
  if (w.rec) {
    MBInfo& r = w.rec[smb];
    if (w.parse_only) {
      const int n = r.mb_number;
      r.assign(w.rec[smb - 1 >= 0 ? smb - 1 : 0]);
      r.mb_number = n;
      r.skipped = 1;
    } else {
      r.reset();
      if (smb > 0) {
        if (c.mpeg1)
          r.set_from_mpeg1_mb(&w.rec[smb - 1]);
        else
          r.set_from_mpeg2_mb(&w.rec[smb - 1]);
      }
      r.mb_type = stype & MB_RECORDED_FLAGS;
      if (c.mpeg1) r.motion_type = MOTION_FRAME;
      r.skipped = 1;
      r.valid = 1;
    }
  }
  mark_decoded(w, smb, c.quantiser_scale);
}

// Macroblocks of one slice from mb on, until the slice ends or fails.
void decode_slice(BodyCtx& c, Walk& w, int mb) {
  c.dc_pred[0] = c.dc_pred[1] = c.dc_pred[2] = 0;
  std::memset(c.pmv, 0, sizeof c.pmv);
  int mbx = mb % w.cols, mby = mb / w.cols;
  for (;;) {
    if (mb >= w.to_decode || c.bs.overrun()) return;
    if (!decode_macroblock(c, w, mb, mbx, mby)) return;
    // next macroblock address
    if (c.bs.show(23) == 0 || c.bs.overrun()) return;
    int inc = get_mb_address_increment(c.bs, *c.t);
    if (!inc) return;
    if (c.ptype == PIC_TYPE_I) inc = 1;
    if (!c.mpeg1 && inc > w.cols - mbx) return;
    for (int k = 1; k < inc; ++k) {
      if (mb + k >= w.to_decode) return;
      if (++mbx == w.cols) {
        mbx = 0;
        ++mby;
      }
      skipped_macroblock(c, w, mb + k, mbx, mby);
    }
    mb += inc;
    if (++mbx == w.cols) {
      mbx = 0;
      ++mby;
    }
  }
}

}  // namespace

// ---- the body ----

void PicDecoder::setup_body(BodyCtx& c, Frame* frame, Frame* forward, Frame* backward, int parse_only) {
  c.t = &vlc_tables();
  c.idct = &idct_dsp();
  c.mc = &mc_dsp();
  c.mpeg1 = !pic.mpeg2;
  c.ptype = pic.picture_coding_type;
  const PicCodingExt* ext = pic.mpeg2 ? pic.coding_ext.get() : nullptr;
  c.ps = ext ? ext->picture_structure : PIC_FRAME;
  if (c.ps < PIC_TOP_FIELD || c.ps > PIC_FRAME) c.ps = PIC_FRAME;
  c.parity = c.ps == PIC_BOTTOM_FIELD ? 1 : 0;
  c.second = c.ps != PIC_FRAME && pair.second_field;
  if (ext) {
    c.fpfd = ext->frame_pred_frame_dct;
    c.cmv = ext->concealment_motion_vectors;
    c.ivlc = ext->intra_vlc_format;
    c.dcprec = ext->intra_dc_precision & 3;
    c.tff = ext->top_field_first;
    for (int s = 0; s < 2; ++s)
      for (int t = 0; t < 2; ++t) {
        const int f = ext->f_code[s][t];
        c.r_size[s][t] = (f >= 1 && f <= 9 ? f : 1) - 1;
      }
    quant.scan = ext->alternate_scan ? scan_alternate : kZigZag;
    quant.scale_table = ext->q_scale_type ? quant_scale_nonlinear : quant_scale_linear;
    if (pic.has_quant_matrix_ext) load_quant_matrix_ext();
  } else {
    c.fpfd = 1;
    const int ff = pic.forward_f_code >= 1 && pic.forward_f_code <= 7 ? pic.forward_f_code : 1;
    const int bf = pic.backward_f_code >= 1 && pic.backward_f_code <= 7 ? pic.backward_f_code : 1;
    c.r_size[0][0] = c.r_size[0][1] = ff - 1;
    c.r_size[1][0] = c.r_size[1][1] = bf - 1;
    c.full_pel[0] = pic.full_pel_forward_vector;
    c.full_pel[1] = pic.full_pel_backward_vector;
    quant.scan = kZigZag;
  }
  c.scan = quant.scan;
  c.qtab = quant.scale_table;
  c.sm = reduced.size_mode;
  c.bsz = 8 >> reduced.size_mode;
  c.mbs = 16 >> reduced.size_mode;
  c.cf = geo.chroma_format == 2 ? 2 : 1;
  c.nblocks = c.cf == 2 ? 8 : 6;
  c.limit = reduced.size_mode ? -1 : reduced.coef_limit;
  c.limited = reduced.coef_limit < 63 || reduced.size_mode > 0;
  c.inverse_transform = reduced.inverse_transform;
  c.full_idct = reduced.size_mode == 0 && reduced.inverse_transform == idct_dispatch;
  c.frame = frame;
  c.fwd = forward;
  c.bwd = backward;
  for (int k = 0; k < 12; ++k) c.blk[k] = work->block_store + 64 * k;
  if (frame && !parse_only) {
    c.W = frame->padded_width();
    c.Wc = frame->c_width();
    c.H = frame->padded_height();
    c.lstride = c.ps == PIC_FRAME ? c.W : 2 * c.W;
    c.cstride = c.ps == PIC_FRAME ? c.Wc : 2 * c.Wc;
  }
}

int PicDecoder::decode_body(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward,
                            int parse_only, MBInfo* records, int* decoded) {
  *decoded = 0;
  if (length < 0) length = 0;
  const size_t n = static_cast<size_t>(length);
  // In place when the caller's padding holds and a start code (or zeros)
  // follows: every peek past the end then sees zero bits, as in a copy.
  const bool in_place = input_padding >= MB_READER_PADDING && data && data[n] == 0 && data[n + 1] == 0 &&
                        data[n + 2] <= 1;
  const uint8_t* body = data;
  if (!in_place) {
    work->padded_data.resize(n + MB_READER_PADDING);
    if (n) std::memcpy(work->padded_data.data(), data, n);
    std::memset(work->padded_data.data() + n, 0, MB_READER_PADDING);
    body = work->padded_data.data();
  }

  BodyCtx c{};
  c.bs.buf = body;
  c.bs.pos = 0;
  c.bs.end = n * 8;
  setup_body(c, frame, forward, backward, parse_only);

  Walk w;
  w.parse_only = parse_only != 0;
  w.recon = !parse_only && frame;
  w.weights = work->weights;
  w.weights_valid = work->weights_valid;
  w.matrix = quant.matrix;
  std::memset(work->weights_valid, 0, sizeof work->weights_valid);  // matrices or scan may have changed
  // Macroblocks of this picture body, bounded by the frame's own grid.
  w.cols = geo.mb_cols;
  w.rows = c.ps == PIC_FRAME ? geo.mb_rows : geo.mb_rows / 2;
  if (w.recon) {
    w.cols = std::min(w.cols, c.W / c.mbs);
    w.rows = std::min(w.rows, (c.ps == PIC_FRAME ? c.H : c.H / 2) / c.mbs);
  }
  w.to_decode = w.cols * w.rows;
  w.map = mb_map.data();
  w.map_base = c.second ? geo.mb_count / 2 : 0;
  if (c.ps == PIC_FRAME || !c.second) std::memset(w.map, 0, mb_map.size());
  if (records) w.rec = records + (parse_only ? 0 : w.map_base);
  if (c.ps == PIC_FRAME) pair.second_field = 0;

  int last_row = -1;
  while (true) {
    if (w.dirty) {
      clear_blocks(c, 12);
      w.dirty = false;
    }
    if (w.count >= w.to_decode) break;
    int mb = 0;
    const SliceStart s = slice_header(c, w, n, geo.padded_height, &last_row, &mb);
    if (s == SliceStart::stop) break;
    if (s == SliceStart::found) decode_slice(c, w, mb);
  }
  if (w.dirty) clear_blocks(c, 12);
  quant.sum = w.quant_sum;
  quant.mb_tally = w.mb_tally;
  *decoded = w.count;
  size_t consumed = (std::min(c.bs.pos, c.bs.end) + 7) >> 3;
  if (consumed > n) consumed = n;
  return static_cast<int>(consumed);
}
