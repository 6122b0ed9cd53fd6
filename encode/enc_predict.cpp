#include "encode/enc_predict.h"

#include "decode/mc.h"
#include "decode/picdec_internal.h"

void enc_predict_macroblock(Frame* pred, Frame* fwd, Frame* bwd, int picture_coding_type, bool mpeg1,
                            int top_field_first, int mbx, int mby, int mb_type, int motion_type, int vec[2][2][2],
                            int sel[2][2], const int dmv[2]) {
  BodyCtx c{};
  c.mc = &mc_dsp();
  c.mpeg1 = mpeg1;
  c.ptype = picture_coding_type;
  c.ps = PIC_FRAME;
  c.tff = top_field_first;
  c.mbs = 16;
  c.cf = pred->chroma_format();
  c.frame = pred;
  c.fwd = fwd;
  c.bwd = bwd;
  c.W = pred->padded_width();
  c.Wc = pred->c_width();
  c.H = pred->padded_height();
  c.lstride = c.W;
  c.cstride = c.Wc;
  predict_mb(c, mbx, mby, mb_type, motion_type, vec, sel, dmv);
}
