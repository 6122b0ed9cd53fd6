// Constant data of the silent AC-3 frames: whole frames for a few common
// formats, and for each rate and channel count a base frame at its lowest bit
// rate with byte patches that turn it into the frame of a higher rate.
#pragma once

#include <cstdint>

// A frame: its first bytes and its CRC word; the bytes between are zero.
struct AC3MuteFrameData {
  int32_t sample_rate, channels, bit_rate, size;
  int32_t prefix_len;
  const uint8_t* prefix;
  uint8_t tail[2];
};

// Patches: byte offset in the low 16 bits, a value added to that byte
// (mod 256) in the high 16.
struct AC3MutePatchRow {
  const uint32_t* patches;
  int32_t count;
  int32_t frame_size;
};

struct AC3MuteBase {
  int32_t sample_rate, channels, base_index;  // index into the nominal bit-rate list
  AC3MuteFrameData base;
  const AC3MutePatchRow* rows;  // one per bit rate above the base
  int32_t row_count;
};

extern const AC3MuteFrameData kAC3StoredFrames[5];
extern const AC3MuteBase kAC3MuteBases[6];
