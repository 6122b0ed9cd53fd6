// Filling the macroblocks a picture body could not decode.
#pragma once

#include <cstdint>

class Frame;
class PicDecoder;

// Rings searched around a hole before giving up (bounds the worst case of a
// picture with almost nothing decoded).
constexpr int CONCEAL_MAX_RING = 8;

// Fills every macroblock not marked in the decoder's map; returns how many
// were filled (macroblock count - decoded count for frame pictures).
int conceal_picture(PicDecoder* decoder, int decoded, Frame* frame, Frame* forward, Frame* backward);
// Nearest decoded macroblock: the one above, else the first on rings of
// growing distance (clockwise from the top-left corner). 1 when found.
int find_nearest_marked_mb(const uint8_t* map, int cols, int rows, int col, int row, int* out_col, int* out_row);
// Copies an s x s luma square (s = 1 << log2s) and its chroma within frame.
void conceal_copy_block(Frame* frame, int dst_col, int dst_row, int src_col, int src_row, int log2s);
// Luma 0, chroma 128.
void conceal_zero_block(Frame* frame, int col, int row, int log2s);
