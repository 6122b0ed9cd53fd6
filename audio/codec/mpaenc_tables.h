// Tables and table lookups of the MPEG audio layer I/II encoder.
#pragma once

#include <cstdint>

// One allocation entry: quantiser steps (0 for none; at index 0 the bits
// column holds the allocation field width), code bits, group (1 grouped,
// 3 three separate codes), quantiser class.
struct MpaAllocEntry {
  int steps, bits, group, quant;
};
using MpaAllocTable = MpaAllocEntry[32][16];

// Fills table number 0-3 (the 27-, 30-, 8- and 12-subband tables) from the
// decoder's allocation table; returns its sblimit, -1 on a bad number.
int load_bit_alloc_table(int number, MpaAllocTable& table);

// Table for a rate in whole kHz (44, 48, 32) and a bit rate per channel in
// kbit/s; the decoder picks with it too.
int audio_encoder_pick_table(int rate_khz, int kbps_per_channel);

// Joint-stereo bound of a layer (1-3) and mode extension (0-3); -1 with a
// trace outside the table.
int audio_encoder_get_js_bound(int layer, int mode_extension);

// Bit rates in kbit/s by index 0-14 for layer 1 and 2 (index 0: free format).
extern const int kMpaEncBitRates[2][15];

// Scale factors 2^(1 - j/3), j = 0..62, at single precision; entry 63 is 0.
extern const float* mpaenc_scale_factors();

// Signal-to-noise ratio in dB of a layer II quantiser class (-1: none).
double mpaenc_snr_of_class(int quant);

// Layer II scale-factor selection information of one subband from its three
// scale-factor indices (ISO/IEC 11172-3 Table C.4): the classes of the two
// differences pick a transmission pattern; the indices are rewritten as the
// pattern sends them. Returns the scfsi (0 all three, 1 first two shared,
// 2 one for all, 3 last two shared).
int mpaenc_select_scfsi(int scf[3]);
