#include "audio/codec/psy_model1.h"

#include <algorithm>
#include <cmath>

#include "audio/codec/psy_model1_tables.h"

namespace {

constexpr double kMinusInf = -200.0;

inline double db_to_power(double db) { return std::pow(10.0, db * 0.1); }

// Masking index and spreading of one masker of level x at bark z on a line
// dz bark above it (-3 <= dz < 8).
double masking_function(double dz, double x) {
  if (dz < -1.0) return 17.0 * (dz + 1.0) - (0.4 * x + 6.0);
  if (dz < 0.0) return (0.4 * x + 6.0) * dz;
  if (dz < 1.0) return -17.0 * dz;
  return -(dz - 1.0) * (17.0 - 0.15 * x) - 17.0;
}

}  // namespace

AudioEncoderPsyModel1::AudioEncoderPsyModel1(int layer, int sample_rate) : layer_(layer == 1 ? 1 : 2) {
  n_ = layer_ == 1 ? 512 : 1024;
  log2n_ = layer_ == 1 ? 9 : 10;
  history_len_ = layer_ == 1 ? 640 : 1408;
  fresh_ = layer_ == 1 ? 384 : 1152;
  lead_ = 192;  // the window starts this far before the frame's new samples
  for (auto& h : history_) h.assign(size_t(history_len_), 0.0);
  // Hann window with the model's scale sqrt(8/3), for samples of full scale 1.
  window_.resize(size_t(n_));
  const float two_pi = 6.2831855f;
  for (int i = 0; i < n_; ++i)
    window_[size_t(i)] = std::sqrt(8.0 / 3.0) * 0.5 * (1.0 - std::cos(double(two_pi) * i / n_)) / (double(n_) * 32768.0);
  tw_re_.resize(size_t(n_ / 2));
  tw_im_.resize(size_t(n_ / 2));
  for (int k = 0; k < n_ / 2; ++k) {
    tw_re_[size_t(k)] = std::cos(2.0 * M_PI * k / n_);
    tw_im_[size_t(k)] = -std::sin(2.0 * M_PI * k / n_);
  }
  re_.resize(size_t(n_));
  im_.resize(size_t(n_));
  bitrev_.resize(size_t(n_));
  for (int i = 0; i < n_; ++i) {
    int r = 0;
    for (int b = 0; b < log2n_; ++b) r |= ((i >> b) & 1) << (log2n_ - 1 - b);
    bitrev_[size_t(i)] = r;
  }
  const int half = n_ / 2;
  MpaPsyTable t{};
  if (!audio_encoder_get_indice(layer_, sample_rate, &t)) audio_encoder_get_indice(layer_, 44100, &t);
  // Each spectral line takes the rate and threshold of the first table line
  // at or above it.
  bark_.resize(size_t(half));
  absthr_.resize(size_t(half));
  for (int k = 0, e = 0; k < half; ++k) {
    while (e + 1 < t.count && t.lines[e].line < k) ++e;
    bark_[size_t(k)] = t.lines[e].bark;
    absthr_[size_t(k)] = t.lines[e].hear;
  }
  for (int e = 0; e < t.count; ++e)
    if (t.lines[e].line < half) lines_.push_back(t.lines[e].line);
  // Critical bands; lines outside the first and last boundary are in none.
  band_of_line_.assign(size_t(half), -1);
  bands_ = t.bound_count - 1;
  for (int b = 0; b < bands_; ++b)
    for (int k = t.bounds[b]; k < t.bounds[b + 1] && k < half; ++k) band_of_line_[size_t(k)] = b;
}

void AudioEncoderPsyModel1::power_spectrum(int channel, double* x) {
  std::vector<double>& h = history_[size_t(channel)];
  int start = write_pos_[channel] - lead_;
  if (start < 0) start += history_len_;
  std::vector<double>& re = re_;
  std::vector<double>& im = im_;
  std::fill(im.begin(), im.end(), 0.0);
  for (int i = 0; i < n_; ++i) re[size_t(bitrev_[size_t(i)])] = h[size_t((start + i) % history_len_)] * window_[size_t(i)];
  for (int len = 2; len <= n_; len <<= 1) {
    const int hl = len / 2, step = n_ / len;
    for (int s = 0; s < n_; s += len)
      for (int k = 0; k < hl; ++k) {
        const double wr = tw_re_[size_t(k * step)], wi = tw_im_[size_t(k * step)];
        const size_t a = size_t(s + k), b = a + size_t(hl);
        const double tr = wr * re[b] - wi * im[b], ti = wr * im[b] + wi * re[b];
        re[b] = re[a] - tr;
        im[b] = im[a] - ti;
        re[a] += tr;
        im[a] += ti;
      }
  }
  // Levels in dB with full scale at 96 dB; -200 dB stands for nothing.
  for (int k = 0; k < n_ / 2; ++k) {
    const double e = re[size_t(k)] * re[size_t(k)] + im[size_t(k)] * im[size_t(k)];
    x[k] = e > 1e-30 ? std::max(96.0 + 10.0 * std::log10(e), kMinusInf) : kMinusInf;
  }
}

void AudioEncoderPsyModel1::find_maskers(double* x, std::vector<Masker>& tonal, std::vector<Masker>& noise) const {
  const int half = n_ / 2;
  const int scale = 1024 / n_;
  std::vector<bool> taken(size_t(half), false);
  for (int k = 3; k < half - 12 / scale - 1; ++k) {
    if (!(x[k] > x[k - 1] && x[k] >= x[k + 1])) continue;
    const int f = k * scale;
    const int reach = f < 126 ? 2 : f < 254 ? 3 : f < 510 ? 6 : 12;
    const int r = std::max(2, reach / scale);
    bool tone = true;
    for (int j = 2; j <= r && tone; ++j)
      if (x[k] - x[k - j] < 7.0 || (k + j < half && x[k] - x[k + j] < 7.0)) tone = false;
    if (!tone) continue;
    const double level = 10.0 * std::log10(db_to_power(x[k - 1]) + db_to_power(x[k]) + db_to_power(x[k + 1]));
    tonal.push_back({k, level});
    for (int j = -r; j <= r; ++j)
      if (k + j >= 0 && k + j < half) taken[size_t(k + j)] = true;
  }
  // What is left of each critical band forms one noise masker at the
  // band's geometric-mean line.
  std::vector<double> power(size_t(bands_), 0.0);
  std::vector<int> first(size_t(bands_), -1), last(size_t(bands_), -1);
  for (int k = 1; k < half; ++k) {
    if (band_of_line_[size_t(k)] < 0) continue;
    const size_t b = size_t(band_of_line_[size_t(k)]);
    if (first[b] < 0) first[b] = k;
    last[b] = k;
    if (taken[size_t(k)]) continue;
    power[b] += db_to_power(x[k]);
  }
  for (int b = 0; b < bands_; ++b) {
    if (first[size_t(b)] < 0 || power[size_t(b)] <= 0.0) continue;
    const int line = int(std::lround(std::sqrt(double(first[size_t(b)]) * double(last[size_t(b)]))));
    noise.push_back({std::clamp(line, 1, half - 1), 10.0 * std::log10(power[size_t(b)])});
  }
}

void AudioEncoderPsyModel1::decimate(std::vector<Masker>& tonal, std::vector<Masker>& noise) const {
  auto below = [&](const Masker& m) { return m.level < absthr_[size_t(m.line)]; };
  tonal.erase(std::remove_if(tonal.begin(), tonal.end(), below), tonal.end());
  noise.erase(std::remove_if(noise.begin(), noise.end(), below), noise.end());
  // Of two tonal maskers closer than half a bark the weaker goes.
  for (size_t i = 0; i + 1 < tonal.size();) {
    if (bark_[size_t(tonal[i + 1].line)] - bark_[size_t(tonal[i].line)] < 0.5) {
      tonal.erase(tonal.begin() + long(tonal[i].level < tonal[i + 1].level ? i : i + 1));
    } else {
      ++i;
    }
  }
}

void AudioEncoderPsyModel1::analyse(int channel, const int16_t* samples, int stride, const double scale_max[32],
                                    double smr[32]) {
  channel &= 1;
  std::vector<double>& h = history_[size_t(channel)];
  const int before = write_pos_[channel];
  for (int i = 0; i < fresh_; ++i) h[size_t((before + i) % history_len_)] = samples[i * stride];
  double x[512];
  power_spectrum(channel, x);
  write_pos_[channel] = (before + fresh_) % history_len_;

  std::vector<Masker> tonal, noise;
  find_maskers(x, tonal, noise);
  decimate(tonal, noise);

  const int half = n_ / 2, per_band = half / 32;
  double lt_min[32];
  std::fill(lt_min, lt_min + 32, 1e9);
  for (int i : lines_) {
    const double zi = bark_[size_t(i)];
    double sum = db_to_power(absthr_[size_t(i)]);
    for (const Masker& m : tonal) {
      const double dz = zi - bark_[size_t(m.line)];
      if (dz < -3.0 || dz >= 8.0) continue;
      const double z = bark_[size_t(m.line)];
      sum += db_to_power(m.level - 1.525 - 0.275 * z - 4.5 + masking_function(dz, m.level));
    }
    for (const Masker& m : noise) {
      const double dz = zi - bark_[size_t(m.line)];
      if (dz < -3.0 || dz >= 8.0) continue;
      const double z = bark_[size_t(m.line)];
      sum += db_to_power(m.level - 1.525 - 0.175 * z - 0.5 + masking_function(dz, m.level));
    }
    const int sb = i / per_band;
    lt_min[sb] = std::min(lt_min[sb], 10.0 * std::log10(sum));
  }
  for (int sb = 0; sb < 32; ++sb) {
    double level = kMinusInf;
    for (int k = sb * per_band; k < (sb + 1) * per_band; ++k) level = std::max(level, x[k]);
    const double from_scale = 20.0 * std::log10(std::max(scale_max[sb], 1e-20) * 32768.0) - 10.0;
    level = std::max(level, from_scale);
    if (lt_min[sb] > 1e8) lt_min[sb] = absthr_[size_t(sb * per_band)];
    smr[sb] = level - lt_min[sb];
  }
}
