// Psychoacoustic model 1 of the layer I/II encoder: tonal and non-tonal
// maskers found in a power spectrum, their individual masking thresholds
// summed into a global threshold, and the SMR of each subband against the
// threshold's minimum in it.
#pragma once

#include <cstdint>
#include <vector>

class AudioEncoderPsyModel1 {
 public:
  AudioEncoderPsyModel1(int layer, int sample_rate);

  // Takes one frame's new samples of a channel (step `stride` apart) and the
  // largest scale factor of each subband (full scale 1.0); writes the SMR
  // in dB of the 32 subbands.
  void analyse(int channel, const int16_t* samples, int stride, const double scale_max[32], double smr[32]);

  int fft_size() const { return n_; }
  int history_size() const { return history_len_; }

 private:
  struct Masker {
    int line;
    double level;
  };
  void power_spectrum(int channel, double* x);
  void find_maskers(double* x, std::vector<Masker>& tonal, std::vector<Masker>& noise) const;
  void decimate(std::vector<Masker>& tonal, std::vector<Masker>& noise) const;

  int layer_, n_, log2n_, history_len_, fresh_, lead_;
  std::vector<double> history_[2];
  int write_pos_[2] = {0, 0};
  std::vector<double> window_, tw_re_, tw_im_, re_, im_;
  std::vector<int> bitrev_;
  std::vector<double> bark_, absthr_;   // per spectral line
  std::vector<int> band_of_line_;       // critical band of each line
  int bands_ = 0;
  std::vector<int> lines_;              // lines the global threshold is taken at
};
