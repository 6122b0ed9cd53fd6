// Per-macroblock record the picture decoder fills on request and the video
// encoder stores and reuses.
#pragma once

#include <cstdint>

class MBInfo {
 public:
  // Every field cleared, macroblock number 0.
  MBInfo() = default;

  // Clears every field but the macroblock number.
  void reset();
  // Clears what an MPEG-1 skipped macroblock must not inherit; keeps the number.
  void reset_mpeg1();
  // Copy from the record of the macroblock before a skipped one.
  void set_from_mpeg1_mb(const MBInfo* previous);
  void set_from_mpeg2_mb(const MBInfo* previous);
  // Copies every field, the macroblock number included.
  void assign(const MBInfo& other);

  int mb_type = 0;      // 1 intra, 4 motion backward, 8 motion forward (masked with 13)
  int motion_type = 0;  // the decoder's motion-type word
  int dct_type = 0;
  int quantiser_scale = 0;
  int cbp = 0;          // coded block pattern
  int skipped = 0;
  // Forward/backward, first/second vector, horizontal/vertical (8 words, half
  // samples), then the four field selects, then the two dmvector components.
  int mv[14] = {};
  double activity = 0.0;  // sum of absolute dequantised coefficients
  int last_word = 0;
  int mb_number = 0;      // index in the picture; kept by the resets
  int16_t values[4] = {}; // carried for the encoder, never set by the decoder
  int valid = 0;          // 1 once a setter filled the record
  int extra = 0;
};
