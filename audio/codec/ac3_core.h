// AC-3 decoding core: one syncframe in, six blocks of 256 samples per output
// channel out, as doubles in -1.0 ... 0.999999999. Driven through one command
// entry over a state record that the caller owns; knows nothing of files or
// 16-bit PCM.
#pragma once

#include <complex>
#include <cstdint>

#include "foundation/ac3.h"

constexpr uint16_t kAC3CoreVersion = 0x0701;

// Commands of ac3_dec_command (the low half of the command word).
enum AC3Command : int16_t {
  AC3_CMD_RESET = 0,  // forget the concealment state at the next block
  AC3_CMD_SYNC = 1,   // syncinfo and bit stream information
  AC3_CMD_CRC = 2,    // CRC-16 over words; argument: initial register
  AC3_CMD_BLOCK = 3,  // decode one block; argument: error input
};

// Block status returned by AC3_CMD_BLOCK.
enum AC3BlockStatus : int16_t {
  AC3_BLOCK_OK = 0,
  AC3_BLOCK_REPEAT = 1,
  AC3_BLOCK_MUTE = 2,
  AC3_BLOCK_BAD_BSID = 3,
  AC3_BLOCK_TOO_MANY_CHANNELS = 4,
};

struct ac3_dec_result {
  uint32_t word0;     // version low, status or value high
  const void* word1;  // AC3_CMD_SYNC: the frame information record
};

// Mode word of AC3_CMD_BLOCK.
constexpr uint16_t ac3_mode_word(int output_mode, int lfe, int dual_mono, int stereo_mode, int compression) {
  return static_cast<uint16_t>((output_mode & 7) | (lfe & 1) << 3 | (dual_mono & 3) << 8 | (stereo_mode & 3) << 10 |
                               (compression & 3) << 12);
}

struct ac3_dec_params {
  uint32_t unused0 = 0;
  // Frame as big-endian 16-bit words. The array must hold 4 words past the
  // frame: the bit reader loads ahead (it never uses what it loads there).
  const uint16_t* words = nullptr;
  uint16_t bit_pos = 0;
  uint16_t unused1 = 0, unused2 = 0;
  uint16_t word_count = 0;          // AC3_CMD_CRC
  double* const* out = nullptr;     // six output pointers, by slot
  const int16_t* stride = nullptr;  // six strides in doubles
  const int16_t* spare = nullptr;   // six words per slot, kept only
  uint16_t modes = 0;               // ac3_mode_word
  uint16_t block = 0;               // 0-5
  double cut_scale = 1.0, boost_scale = 1.0, pcm_scale = 1.0;
  uint16_t gap = 0;
  uint16_t repeat_limit = 0;              // 0: repeat without limit
  const double (*downmix)[6] = nullptr;   // [slot][input channel], or null
  const void* karaoke = nullptr;          // kept; karaoke panning is not built
};

struct ac3_dec_frame_info {
  uint16_t count;  // 10
  uint16_t word[10];
};

struct ac3_dec_state;

ac3_dec_state* ac3_dec_create();
void ac3_dec_destroy(ac3_dec_state* state);
void ac3_dec_init(ac3_dec_state* state);
void ac3_dec_reset(ac3_dec_state* state);
void ac3_dec_clear_state(ac3_dec_state* state);
void ac3_dec_command(ac3_dec_state* state, ac3_dec_result* result, int32_t command_word,
                     const ac3_dec_params* params);
// The bit stream information of the last AC3_CMD_SYNC or block 0, and the
// bit where that frame's block 0 starts.
const AC3Bsi& ac3_dec_bsi(const ac3_dec_state* state);
uint32_t ac3_dec_audio_start(const ac3_dec_state* state);
// The bit where block 0-5 of the last decoded frame started (blocks that were
// not parsed keep the value of an earlier frame).
uint32_t ac3_dec_block_start(const ac3_dec_state* state, int block);

// CRC-16 (x^16 + x^15 + x^2 + 1) of count words, register starting at crc.
uint16_t ac3_dec_crc(uint16_t crc, const uint16_t* words, int count);
