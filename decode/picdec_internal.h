// State shared by the stages of the picture body decoder (slices and
// macroblocks, blocks, prediction and reconstruction), which live in
// picdec_body.cpp, picdec_block.cpp and picdec_recon.cpp.
#pragma once

#include <cstdint>

#include "picture/frame.h"
#include "decode/idct.h"
#include "decode/mc.h"
#include "decode/picdec_bits.h"
#include "foundation/video_vlc.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"

// motion_type values; 2 means frame motion in frame pictures, 16x8 in fields.
enum MotionType : int {
  MOTION_NONE = 0,
  MOTION_FIELD = 1,
  MOTION_FRAME = 2,
  MOTION_16X8 = 2,
  MOTION_DUAL_PRIME = 3,
};

// How a decoded block is to be transformed.
enum BlockKind : uint8_t {
  BLOCK_FULL = 0,  // any coefficients: the full transform
  BLOCK_DC = 1,    // DC alone: a constant block
  BLOCK_DC63 = 2,  // DC and the mismatch coefficient 63 alone
  BLOCK_UPPER = 3, // rows 0-3, and 0 or 1 at 63 (IdctDsp::put_upper)
};

struct BodyCtx {
  // picture constants
  const VlcTables* t;
  const IdctDsp* idct;
  const McDsp* mc;
  MBReader bs;
  bool mpeg1;
  int ptype;   // PicCodingType
  int ps;      // PicStructure
  int parity;  // 0 top, 1 bottom (field pictures)
  bool second; // second field of a pair
  int fpfd, cmv, ivlc, dcprec, tff;
  int r_size[2][2];
  int full_pel[2];
  const uint8_t* scan;
  const uint8_t* qtab;
  int sm;          // size mode shift
  int bsz;         // output block size 8 >> sm
  int mbs;         // macroblock size 16 >> sm
  int cf;          // chroma format (1 or 2)
  int nblocks;
  int limit;       // coefficient limit; -1 keeps the 4x4 low-frequency square
  bool limited;
  bool full_idct;  // full-size output through the full transform
  IdctFn inverse_transform;
  // destination geometry
  Frame* frame;
  Frame* fwd;
  Frame* bwd;
  int W, Wc;             // frame line strides (luma, chroma)
  int H;                 // frame padded height
  int lstride, cstride;  // line strides of the picture (doubled for fields)
  // slice and macroblock state
  int quantiser_scale;
  const uint16_t (*qw)[64];  // weights of quantiser_scale
  int dc_pred[3];
  int pmv[2][2][2];
  int sel[2][2];
  int dmv[2];
  int dct_type;
  int16_t* blk[12];
  uint8_t kind[12];  // BlockKind per block
};

// Decoded modes and vectors of one macroblock.
struct MbModes {
  int type = 0;  // MbTypeFlag bits
  int motion_type = MOTION_NONE;
  int mv_count = 1;
  bool mv_field = false;
  bool dual = false;
  bool halve = false;  // field vectors of a frame picture: vertical in field lines
  int cbp = 0;
  int vec[2][2][2] = {};  // [first/second][forward/backward][x/y]
};

// Blocks (picdec_block.cpp). The MPEG-2 ones decode every block of an intra
// macroblock, or the blocks cbp names, and give false on a bad code or a
// read past the end; the MPEG-1 one decodes block k and returns 0, or 1 on
// a bad code.
bool decode_mpeg2_intra_blocks(BodyCtx& c);
bool decode_mpeg2_inter_blocks(BodyCtx& c, int cbp);
int decode_mpeg1_block(BodyCtx& c, int k, const uint16_t* qm, bool intra);

// Reconstruction (picdec_recon.cpp).
// Stores (intra) or adds the blocks of the macroblock at (x, y) that the
// coded block pattern names, and leaves them zeroed.
void reconstruct_blocks(BodyCtx& c, int pattern, int x, int y, bool add);
// Prediction of the macroblock at (mbx, mby); 0 when the residual is to be
// added, 1 when a zero-vector fallback was used.
int predict_mb(BodyCtx& c, int mbx, int mby, int mb_type, int motion_type, int vec[2][2][2], int sel[2][2],
               const int dmv[2]);
// Zero-vector copy from the forward reference (skipped P macroblocks).
void copy_mb(BodyCtx& c, int mbx, int mby);
// A skipped macroblock of a B picture: the directions of type (forward,
// backward or both) with the motion vector predictors as vectors.
void predict_skipped_b(BodyCtx& c, int mbx, int mby, int type);
