// Constant tables of AC-3 decoding: bit allocation, band layout, quantiser
// levels, the transform window and the mix levels.
#pragma once

#include <cstdint>

namespace ac3 {

extern const uint8_t kBandStart[51];   // first bin of each of the 50 bands, and the end
extern const uint8_t kBinToBand[256];  // band of each bin
extern const uint8_t kLogAdd[260];
extern const uint16_t kHearing[3][50];  // threshold by fscod
extern const uint8_t kBap[64];
extern const int16_t kSlowDecay[4], kFastDecay[4], kSlowGain[4], kDbPerBit[4], kFloor[8], kFastGain[8];
extern const double kWindow[256];
extern const uint8_t kRematrixEdge[5];
extern const double kCentreLevel[4], kSurroundLevel[4], kExtLevel[8];
// Ungrouped mantissa levels: three 3-level values from 5 bits (27 codes),
// three 5-level values from 7 bits (128 codes), two 11-level from 7 bits.
extern const float kGroup3[32][3], kGroup5[128][3], kGroup11[128][2];
extern const float kLevel7[8], kLevel15[16];
// Quantised mantissa width of bap 6..15 (bap 1..5 are the grouped or
// symmetric ones above).
extern const uint8_t kMantBits[16];

}  // namespace ac3
