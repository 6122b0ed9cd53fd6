// Reconstruction: the inverse transform of decoded blocks into the frame,
// and motion-compensated prediction, one function per picture structure
// and motion type.
#include <cstddef>
#include <cstring>

#include "decode/picdec_internal.h"

// ---- blocks ----

namespace {

inline void reconstruct_block(BodyCtx& c, int k, uint8_t* dst, int stride, bool add) {
  int16_t* blk = c.blk[k];
  if (c.sm == 0 && c.kind[k] == BLOCK_DC) {
    const int v = idct_dc_value(blk[0]);
    if (add)
      c.idct->add_dc(dst, stride, v);
    else
      c.idct->put_dc(dst, stride, v);
    blk[0] = 0;
  } else if (c.full_idct && c.kind[k] == BLOCK_DC63) {
    c.idct->dc63(blk[0], blk[63], dst, stride, add);
    blk[0] = blk[63] = 0;
  } else if (c.full_idct && c.kind[k] == BLOCK_UPPER) {
    if (add)
      c.idct->add_upper(blk, dst, stride);
    else
      c.idct->put_upper(blk, dst, stride);
  } else if (c.full_idct) {
    if (add)
      c.idct->add(blk, dst, stride);
    else
      c.idct->put(blk, dst, stride);
  } else {
    c.inverse_transform(blk, dst, stride, add);
    std::memset(blk, 0, 64 * sizeof(int16_t));
  }
}

}  // namespace

// Block destinations: luma blocks 0-3 in a 2x2 square whose lower pair
// starts one line down (field DCT, lines interleaved) or a block down;
// chroma blocks 4/5 (and the lower 6/7 of 4:2:2) alike.
void reconstruct_blocks(BodyCtx& c, int pattern, int x, int y, bool add) {
  const int nb = c.nblocks, b = c.bsz;
  const bool field_dct = c.dct_type != 0;
  const bool fields = c.ps != PIC_FRAME;
  uint8_t* luma = c.frame->y_plane() + (fields ? c.parity * c.W : 0) + y * c.lstride + x;
  const int luma_stride = field_dct ? 2 * c.lstride : c.lstride;
  const int luma_lower = field_dct ? c.lstride : b * c.lstride;
  const int chroma_at = (fields ? c.parity * c.Wc : 0) + (c.cf == 1 ? y >> 1 : y) * c.cstride + (x >> 1);
  const int chroma_stride = c.cf != 1 && field_dct ? 2 * c.cstride : c.cstride;
  const int chroma_lower = field_dct ? c.cstride : b * c.cstride;
  for (int k = 0; k < nb; ++k) {
    if (!((pattern >> (nb - 1 - k)) & 1)) continue;
    if (k < 4) {
      reconstruct_block(c, k, luma + (k >> 1) * luma_lower + b * (k & 1), luma_stride, add);
    } else {
      uint8_t* plane = (k & 1) ? c.frame->cr_plane() : c.frame->cb_plane();
      reconstruct_block(c, k, plane + chroma_at + (k >= 6 ? chroma_lower : 0), chroma_stride, add);
    }
  }
}

// ---- prediction ----

namespace {

// One prediction: a region of luma with its chroma from one or two
// references. Vectors in half samples of the current scale; (x, y) in lines
// of the region's own line stride; soff/doff: first line (0 or 1) of the
// field read or written.
struct Ref {
  const Frame* f;
  int mx, my;
  int soff;
};

// Inlined into each caller: the references then stay in registers instead
// of crossing the call on the stack, where a wide reload of narrow stores
// stalled store forwarding on every macroblock.
[[gnu::always_inline]] inline void mc_block(BodyCtx& c, Ref a, const Ref* b, int x, int y, int doff, int lstride,
                                            int w, int h) {
  const int W = c.W;
  const int lines = lstride > W ? c.H / 2 : c.H;
  auto bound = [&](Ref& r) {
    if (2 * x + r.mx < 0 || 2 * x + r.mx > 2 * (W - w)) r.mx = 0;
    if (2 * y + r.my < 0 || 2 * y + r.my > 2 * (lines - h)) r.my = 0;
  };
  bound(a);
  Ref b2 = b ? *b : Ref{nullptr, 0, 0, 0};
  if (b) bound(b2);
  Frame* f = c.frame;
  const McDsp& mc = *c.mc;
  const int Wc = c.Wc;
  const int cs = lstride >> 1;
  const int cx = x >> 1, cw = w >> 1;
  const int cy = c.cf == 1 ? y >> 1 : y, ch = c.cf == 1 ? h >> 1 : h;
  const int cmx1 = a.mx / 2, cmy1 = c.cf == 1 ? a.my / 2 : a.my;
  const int cmx2 = b2.mx / 2, cmy2 = c.cf == 1 ? b2.my / 2 : b2.my;
  const ptrdiff_t off1 = a.soff * Wc + (cy + (cmy1 >> 1)) * cs + cx + (cmx1 >> 1);
  const ptrdiff_t off2 = b2.soff * Wc + (cy + (cmy2 >> 1)) * cs + cx + (cmx2 >> 1);
  const ptrdiff_t doffc = doff * Wc + cy * cs + cx;
  Pred420 p;
  p.dst[0] = f->y_plane() + doff * W + y * lstride + x;
  p.dst[1] = f->cb_plane() + doffc;
  p.dst[2] = f->cr_plane() + doffc;
  p.src1[0] = a.f->y_plane() + a.soff * W + (y + (a.my >> 1)) * lstride + x + (a.mx >> 1);
  p.src1[1] = a.f->cb_plane() + off1;
  p.src1[2] = a.f->cr_plane() + off1;
  p.src2[0] = p.src2[1] = p.src2[2] = nullptr;
  if (b) {
    p.src2[0] = b2.f->y_plane() + b2.soff * W + (y + (b2.my >> 1)) * lstride + x + (b2.mx >> 1);
    p.src2[1] = b2.f->cb_plane() + off2;
    p.src2[2] = b2.f->cr_plane() + off2;
  }
  p.stride = lstride;
  p.luma_mode[0] = (a.mx & 1) | ((a.my & 1) << 1);
  p.luma_mode[1] = (b2.mx & 1) | ((b2.my & 1) << 1);
  p.chroma_mode[0] = (cmx1 & 1) | ((cmy1 & 1) << 1);
  p.chroma_mode[1] = (cmx2 & 1) | ((cmy2 & 1) << 1);
  p.height = h;
  if (c.cf == 1 && w == 16) {
    mc.pred420(p);
    return;
  }
  if (b)
    mc.avg[4 * p.luma_mode[1] + p.luma_mode[0]](p.dst[0], p.src1[0], p.src2[0], lstride, w, h);
  else
    mc.single[p.luma_mode[0]](p.dst[0], p.src1[0], lstride, w, h);
  for (int k = 1; k < 3; ++k) {
    if (b)
      mc.avg[4 * p.chroma_mode[1] + p.chroma_mode[0]](p.dst[k], p.src1[k], p.src2[k], cs, cw, ch);
    else
      mc.single[p.chroma_mode[0]](p.dst[k], p.src1[k], cs, cw, ch);
  }
}

inline int dual_prime_scale(int v, int m) { return (m * v + (v > 0)) >> 1; }

// Directions of a macroblock: r1 the first reference used (forward if any),
// r2 the backward one when both are used, s1 the direction of r1.
struct Dirs {
  Frame* F;
  Frame* B;
  Frame* r1;
  Frame* r2;
  int s1;
};

// ---- frame pictures ----

void predict_frame_frame(BodyCtx& c, const Dirs& d, int x, int y, int vec[2][2][2]) {
  const int sm = c.sm, s = c.mbs;
  const Ref b{d.r2, vec[0][1][0] >> sm, vec[0][1][1] >> sm, 0};
  mc_block(c, Ref{d.r1, vec[0][d.s1][0] >> sm, vec[0][d.s1][1] >> sm, 0}, d.r2 ? &b : nullptr, x, y, 0, c.W, s, s);
}

void predict_frame_field(BodyCtx& c, const Dirs& d, int x, int y, int vec[2][2][2], int sel[2][2]) {
  const int sm = c.sm, s = c.mbs;
  for (int r = 0; r < 2; ++r) {
    const Ref b{d.r2, vec[r][1][0] >> sm, vec[r][1][1] >> sm, sel[r][1]};
    mc_block(c, Ref{d.r1, vec[r][d.s1][0] >> sm, vec[r][d.s1][1] >> sm, sel[r][d.s1]}, d.r2 ? &b : nullptr, x, y / 2,
             r, 2 * c.W, s, s / 2);
  }
}

void predict_frame_dual_prime(BodyCtx& c, const Dirs& d, int x, int y, int vec[2][2][2], const int dmv[2]) {
  const int sm = c.sm, s = c.mbs;
  const int vx = vec[0][0][0], vy = vec[0][0][1];
  for (int r = 0; r < 2; ++r) {
    // field r from the same parity (vector) and the other parity (derived)
    const int m = (r == 0) == (c.tff != 0) ? 1 : 3;
    const int dx = dual_prime_scale(vx, m) + dmv[0];
    const int dy = dual_prime_scale(vy, m) + dmv[1] + (r == 0 ? -1 : 1);
    const Ref b{d.F, dx >> sm, dy >> sm, 1 - r};
    mc_block(c, Ref{d.F, vx >> sm, vy >> sm, r}, &b, x, y / 2, r, 2 * c.W, s, s / 2);
  }
}

// ---- field pictures ----

// Reference of a field select: the first field of this frame for the second
// field of a P pair reading the other parity.
Frame* field_ref(const BodyCtx& c, int dir, int field) {
  if (dir == 1) return c.bwd;
  if (c.second && field != c.parity && c.ptype == PIC_TYPE_P) return c.frame;
  return c.fwd;
}

// Field motion (parts 1, height s) and 16x8 motion (parts 2, height s / 2).
void predict_field_parts(BodyCtx& c, const Dirs& d, int x, int y, int vec[2][2][2], int sel[2][2], int parts) {
  const int sm = c.sm, s = c.mbs;
  const int h = parts == 2 ? s / 2 : s;
  for (int r = 0; r < parts; ++r) {
    Frame* a = field_ref(c, d.s1, sel[r][d.s1]);
    const Ref b{d.r2 ? field_ref(c, 1, sel[r][1]) : nullptr, vec[r][1][0] >> sm, vec[r][1][1] >> sm, sel[r][1]};
    mc_block(c, Ref{a, vec[r][d.s1][0] >> sm, vec[r][d.s1][1] >> sm, sel[r][d.s1]}, d.r2 ? &b : nullptr, x,
             y + r * h, c.parity, 2 * c.W, s, h);
  }
}

void predict_field_dual_prime(BodyCtx& c, int x, int y, int vec[2][2][2], const int dmv[2]) {
  const int sm = c.sm, s = c.mbs, p = c.parity;
  const int vx = vec[0][0][0], vy = vec[0][0][1];
  const int dx = dual_prime_scale(vx, 1) + dmv[0];
  const int dy = dual_prime_scale(vy, 1) + dmv[1] + (p == 0 ? -1 : 1);
  const Ref b{c.second ? c.frame : c.fwd, dx >> sm, dy >> sm, 1 - p};
  mc_block(c, Ref{c.fwd, vx >> sm, vy >> sm, p}, &b, x, y, p, 2 * c.W, s, s);
}

// Zero vectors from r1 (and r2): no reference of the kind named, or a
// motion type that cannot be used.
void predict_zero(BodyCtx& c, Frame* r1, Frame* r2, int x, int y) {
  const int s = c.mbs;
  const Ref b{r2, 0, 0, c.ps == PIC_FRAME ? 0 : c.parity};
  if (c.ps == PIC_FRAME)
    mc_block(c, Ref{r1, 0, 0, 0}, r2 ? &b : nullptr, x, y, 0, c.W, s, s);
  else
    mc_block(c, Ref{r1, 0, 0, c.parity}, r2 ? &b : nullptr, x, y, c.parity, 2 * c.W, s, s);
}

}  // namespace

int predict_mb(BodyCtx& c, int mbx, int mby, int mb_type, int motion_type, int vec[2][2][2], int sel[2][2],
               const int dmv[2]) {
  int dirs = mb_type & (MB_FORWARD | MB_BACKWARD);
  if (c.ptype != PIC_TYPE_B && (dirs & MB_BACKWARD)) {
    // backward prediction outside a B picture: forward only, vector 0
    dirs = MB_FORWARD;
    vec[0][0][0] = vec[0][0][1] = vec[1][0][0] = vec[1][0][1] = 0;
  }
  Dirs d;
  d.F = (dirs & MB_FORWARD) ? c.fwd : nullptr;
  d.B = (dirs & MB_BACKWARD) ? c.bwd : nullptr;
  const int x = mbx * c.mbs, y = mby * c.mbs;
  if (!d.F && !d.B) {
    // no reference: zero-vector copy of whatever reference there is
    Frame* r = c.fwd ? c.fwd : c.bwd;
    if (!r) return 1;
    predict_zero(c, r, nullptr, x, y);
    return 1;
  }
  d.r1 = d.F ? d.F : d.B;
  d.r2 = d.F && d.B ? d.B : nullptr;
  d.s1 = d.F ? 0 : 1;
  const bool forward_only = d.F && !d.B;
  if (c.ps == PIC_FRAME) {
    if (motion_type == MOTION_FRAME || c.mpeg1) {
      predict_frame_frame(c, d, x, y, vec);
      return 0;
    }
    if (motion_type == MOTION_FIELD) {
      predict_frame_field(c, d, x, y, vec, sel);
      return 0;
    }
    if (motion_type == MOTION_DUAL_PRIME && forward_only) {
      predict_frame_dual_prime(c, d, x, y, vec, dmv);
      return 0;
    }
    predict_zero(c, d.r1, d.r2, x, y);
    return 1;
  }
  if (motion_type == MOTION_FIELD || motion_type == MOTION_16X8) {
    predict_field_parts(c, d, x, y, vec, sel, motion_type == MOTION_16X8 ? 2 : 1);
    return 0;
  }
  if (motion_type == MOTION_DUAL_PRIME && forward_only) {
    predict_field_dual_prime(c, x, y, vec, dmv);
    return 0;
  }
  predict_zero(c, d.r1 == c.bwd ? c.bwd : c.fwd, d.r2, x, y);
  return 1;
}

// Straight to the motion function when the references exist; predict_mb's
// fallbacks otherwise.
void predict_skipped_b(BodyCtx& c, int mbx, int mby, int type) {
  const bool fwd = type & MB_FORWARD, bwd = type & MB_BACKWARD;
  if ((fwd || bwd) && (!fwd || c.fwd) && (!bwd || c.bwd)) {
    Dirs d;
    d.F = fwd ? c.fwd : nullptr;
    d.B = bwd ? c.bwd : nullptr;
    d.r1 = fwd ? d.F : d.B;
    d.r2 = fwd && bwd ? d.B : nullptr;
    d.s1 = fwd ? 0 : 1;
    const int x = mbx * c.mbs, y = mby * c.mbs;
    if (c.ps == PIC_FRAME) {
      predict_frame_frame(c, d, x, y, c.pmv);
    } else {
      int sel[2][2] = {{c.parity, c.parity}, {c.parity, c.parity}};
      predict_field_parts(c, d, x, y, c.pmv, sel, 1);
    }
    return;
  }
  int vec[2][2][2];
  int sel[2][2];
  for (int s = 0; s < 2; ++s) {
    vec[0][s][0] = vec[1][s][0] = c.pmv[0][s][0];
    vec[0][s][1] = vec[1][s][1] = c.pmv[0][s][1];
    sel[0][s] = sel[1][s] = c.parity;
  }
  predict_mb(c, mbx, mby, type, c.mpeg1 || c.ps == PIC_FRAME ? MOTION_FRAME : MOTION_FIELD, vec, sel, c.dmv);
}

void copy_mb(BodyCtx& c, int mbx, int mby) {
  const int s = c.mbs, x = mbx * s, y = mby * s;
  const Frame* r = c.fwd;
  Frame* f = c.frame;
  if (r == f) return;
  const int off = c.ps == PIC_FRAME ? 0 : c.parity;
  const size_t lo = static_cast<size_t>(off * c.W + y * c.lstride + x);
  const int cs = c.lstride >> 1;
  const int cy = c.cf == 1 ? y >> 1 : y, ch = c.cf == 1 ? s >> 1 : s;
  const size_t co = static_cast<size_t>(off * c.Wc + cy * cs + (x >> 1));
  if (c.cf == 1 && s == 16) {
    // the fused predictor's full-sample copy: one call for the three planes
    Pred420 p{};
    p.dst[0] = f->y_plane() + lo;
    p.dst[1] = f->cb_plane() + co;
    p.dst[2] = f->cr_plane() + co;
    p.src1[0] = r->y_plane() + lo;
    p.src1[1] = r->cb_plane() + co;
    p.src1[2] = r->cr_plane() + co;
    p.stride = c.lstride;
    p.height = s;
    c.mc->pred420(p);
    return;
  }
  for (int j = 0; j < s; ++j) {
    const size_t o = lo + static_cast<size_t>(j * c.lstride);
    std::memcpy(f->y_plane() + o, r->y_plane() + o, static_cast<size_t>(s));
  }
  for (int j = 0; j < ch; ++j) {
    const size_t o = co + static_cast<size_t>(j * cs);
    std::memcpy(f->cb_plane() + o, r->cb_plane() + o, static_cast<size_t>(s >> 1));
    std::memcpy(f->cr_plane() + o, r->cr_plane() + o, static_cast<size_t>(s >> 1));
  }
}
