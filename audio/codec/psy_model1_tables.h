// Tables of psychoacoustic model 1: for each layer and sample rate the
// spectral lines the masking threshold is evaluated at, with their critical
// band rate and absolute threshold, and the critical band boundaries.
#pragma once

#include <cstdint>

struct MpaPsyLine {
  int16_t line;  // of the layer's spectrum (512 lines for layer II, 256 for layer I)
  double bark;   // critical band rate
  double hear;   // absolute threshold, dB
};

struct MpaPsyTable {
  const MpaPsyLine* lines;
  int count;
  const int16_t* bounds;  // first line of each critical band, then the end of the last
  int bound_count;
};

// The tables of layer 1 or 2 at 44100, 48000 or 32000 Hz; false with a
// trace for any other pair.
bool audio_encoder_get_indice(int layer, int sample_rate, MpaPsyTable* out);
