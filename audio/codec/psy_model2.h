// Psychoacoustic model 2 of the layer I/II encoder: signal-to-mask ratio per
// subband from a 1024-point spectrum, its predictability and spreading over
// critical-band partitions.
#pragma once

#include <cstdint>
#include <vector>

// Absolute threshold in dB (full-scale sine = 96 dB) of the 513 lines of a
// 1024-point spectrum at 32000, 44100 or 48000 Hz, from the thresholds in
// quiet of the standard's partitions; null with a trace for any other rate.
const double* audio_encoder_tables_get_absthr(int sample_rate);

class AudioEncoderPsyModel2 {
 public:
  AudioEncoderPsyModel2(int layer, int sample_rate);

  // Takes one frame's new samples of a channel (384 for layer I, 1152 for
  // layer II, step `stride` apart) and writes the SMR in dB of the 32
  // subbands (layer II: the larger of its two halves).
  void analyse(int channel, const int16_t* samples, int stride, double smr[32]);

  int partitions() const { return static_cast<int>(part_lines_.size()); }

 private:
  void analyse_block(int channel, double smr[32]);
  // Spectrum of buffer x window (lines 0-512) from one 512-point complex
  // transform of the even and odd samples.
  void spectrum(const double* in, double* re, double* im) const;

  int layer_;
  double window_[1024];
  double buffer_[2][1024] = {};
  // The two previous spectra per channel: magnitudes and unit phasors, so
  // that the predicted line needs no trigonometry.
  double prev_mag_[2][2][513] = {};
  double prev_unit_[2][2][2][513] = {};  // [channel][age][re, im][line]
  double absthr_[513];
  std::vector<int> line_part_;            // partition of each line
  std::vector<int> part_lines_;           // lines per partition
  std::vector<double> part_bark_, tonal_offset_, minval_, rnorm_;
  std::vector<double> spread_;            // partitions x partitions
  double tw_re_[512], tw_im_[512];  // e^(-2 pi i k / 1024)
  int bitrev_[512];
};
