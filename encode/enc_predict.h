// Motion-compensated prediction of one macroblock of a frame picture, by
// the decoder's own routines so that encoder and decoder predict alike.
#pragma once

#include "picture/frame.h"

// mb_type: 8 forward, 4 backward (both: the average); motion_type 1 field,
// 2 frame, 3 dual prime; vectors [first/second][forward/backward][x/y] in
// half samples (field vectors vertically in field lines).
void enc_predict_macroblock(Frame* pred, Frame* fwd, Frame* bwd, int picture_coding_type, bool mpeg1,
                            int top_field_first, int mbx, int mby, int mb_type, int motion_type, int vec[2][2][2],
                            int sel[2][2], const int dmv[2]);
