// Mean quantiser per picture type of a video elementary stream, sampled
// from a few GOPs (start, middle, end), in quantiser_scale value units:
// MPEG-2 values as coded, MPEG-1 codes doubled, so that both read alike.
#pragma once

#include <cstddef>
#include <cstdint>

class MeanQuantizer {
 public:
  // *error: 0 when at least one picture was measured, else 1 (a trace
  // says why).
  MeanQuantizer(const uint8_t* data, size_t length, int* error);

  double sum[3] = {};     // I, P, B
  uint32_t count[3] = {};
  double mean(int type_index) const { return count[type_index] ? sum[type_index] / count[type_index] : 0.0; }
};
