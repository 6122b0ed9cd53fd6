// MPEG audio decoder (layers I, II and III; MPEG-1, the lower sampling
// frequencies and MPEG 2.5): one frame in, interleaved 16-bit PCM out.
//
// A decoder belongs to one stream and one thread at a time. It locks onto
// the first frame it decodes (version, layer, sampling frequency and, for
// layers I and II, bit rate) and skips anything else as junk until clear().
// While unlocked it takes a header only when a header of the same stream
// follows one frame later, or when the buffer ends exactly with its frame,
// so that a false header in a tag or other junk does not lock it.
#pragma once

#include <cstdint>

#include "foundation/audio_header.h"
#include "foundation/bitstream.h"

struct MpaDsp;

class MpegAudioDecoder {
 public:
  // 16-bit values of the largest frame (1152 samples x 2 channels).
  static constexpr int kMaxOutput = 2304;

  MpegAudioDecoder();

  // Forgets the stream: synthesis, overlap and reservoir history, the lock
  // and the layer II table. The equalizer stays. Returns 0.
  int clear();

  // Decodes the first frame found in data into out (room for kMaxOutput
  // values). Returns the 16-bit values written, 0 when no frame was
  // decoded. consumed() tells how far the call got.
  int decode_frame(const uint8_t* data, int length, int16_t* out);

  int next_frame_header(BS* reader, int16_t* out);
  // 0 when a header was found (the reader then stands on it), else 1.
  int decode_header(BS* reader);
  int get_frame(BS* reader, int16_t* out);

  // gains[0..31] channel 0, gains[32..63] channel 1. Gains from 1.00 up to,
  // not including, 1.01 count as unity; all unity switches the equalizer
  // off (returns 0), otherwise it is switched on with these gains (1).
  int set_equalizer(const double* gains);
  bool equalizer_on() const { return eq_flags_ & 1; }
  // Multiplies one time slot of 32 subband samples by the channel's gains
  // when the equalizer is on.
  void equalize_subbands(double* samples, int channel) const;

  // Rewrites the scale factors of a layer I or II frame so that it sounds
  // gain times as loud, keeping its size, samples and CRC; layer III frames
  // are copied unchanged. Returns the frame size, 0 on failure.
  static int rescale_frame(const uint8_t* input, int input_length, double gain, uint8_t* output,
                           int output_size);

  // Header of the frame in hand and the header the decoder is locked to.
  const FrmHdr& header() const { return header_; }
  const FrmHdr& reference() const { return reference_; }

  // Bytes of the last decode_frame buffer the caller may drop: up to the end
  // of the frame decoded, else up to a header whose frame needs more bytes,
  // else the bytes searched in vain.
  int consumed() const { return consumed_; }
  // Size of the frame the last decode_frame used up, 0 when none.
  int frame_bytes() const { return frame_bytes_; }

  // Layer entries; each returns the 16-bit values written.
  int decode_layer1(BS& reader, int16_t* out);
  int decode_layer2(BS& reader, int16_t* out);
  int III_frame(BS& reader, int16_t* out);

 private:
  // Synthesis of one time slot: 32 subband samples of one channel into 32
  // PCM samples at every step-th slot of out.
  void synth_polyphase(const double* subbands, int channel, int16_t* out, int step);
  // Equalizer, then synthesis, for one slot of every output channel.
  void output_slot(double (*subbands)[32], int channels, int16_t* out);

  int find_unlocked(const uint8_t* data, int length, bool* need_more);

  FrmHdr header_;
  FrmHdr reference_;

  // Synthesis: per channel a ring of the last 16 matrixed vectors, the
  // newest at pos.
  struct SynthState {
    double ring[16][64];
    int pos;
  };
  SynthState synth_[2];

  uint32_t eq_flags_ = 0;
  double eq_gains_[2][32];

  int layer2_table_ = -1;

  // Layer III state kept between frames.
  double overlap_[2][576];
  static constexpr int kReservoirSize = 2528;
  static constexpr int kReservoirWrite = 512;
  uint8_t reservoir_[kReservoirSize];
  int32_t main_data_received_ = 0;
  int32_t prev_main_data_ = 0;
  // Per-frame work areas, kept here so that no frame allocates.
  double xr_[2][576];
  double hybrid_[2][576];

  const MpaDsp* dsp_;
  int consumed_ = 0;
  int frame_bytes_ = 0;
  const uint8_t* frame_data_ = nullptr;  // the frame in hand, for layer III

  friend struct Layer3Frame;
};
