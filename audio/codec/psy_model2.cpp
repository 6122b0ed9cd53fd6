#include "audio/codec/psy_model2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "foundation/trace.h"

namespace {

constexpr int kN = 1024;
constexpr int kLines = 513;
// Level of a 16-bit full-scale sine's peak line after the Hann window
// (20 log10(32768 x 256)) less the 96 dB it stands for.
constexpr double kPowerOffset = 42.5;

double bark(double hz) {
  return 13.0 * std::atan(0.00076 * hz) + 3.5 * std::atan((hz / 7500.0) * (hz / 7500.0));
}

double threshold_in_quiet(double hz) {
  const double f = std::max(hz, 20.0) / 1000.0;
  return 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 1e-3 * f * f * f * f;
}

struct AbsThr {
  double db[3][kLines];
  AbsThr() {
    const int rates[3] = {44100, 48000, 32000};
    for (int r = 0; r < 3; ++r)
      for (int w = 0; w < kLines; ++w) db[r][w] = threshold_in_quiet(w * rates[r] / double(kN));
  }
};

// Spreading of masking from bark distance d (masker minus maskee, scaled).
double spreading_db(double d) {
  double x = 0.0;
  if (d >= 0.5 && d <= 2.5) x = 8.0 * ((d - 0.5) * (d - 0.5) - 2.0 * (d - 0.5));
  const double t = d + 0.474;
  return 15.811389 + 7.5 * t - 17.5 * std::sqrt(1.0 + t * t) + x;
}

}  // namespace

double audio_encoder_atan2(double y, double x) { return std::atan2(y, x); }

const double* audio_encoder_tables_get_absthr(int sample_rate) {
  static const AbsThr tables;
  switch (sample_rate) {
    case 44100: return tables.db[0];
    case 48000: return tables.db[1];
    case 32000: return tables.db[2];
  }
  trace("audio_encoder_tables_get_absthr (ERROR): sample_rate=%d\n", sample_rate);
  return nullptr;
}

AudioEncoderPsyModel2::AudioEncoderPsyModel2(int layer, int sample_rate) : layer_(layer) {
  for (int i = 0; i < kN; ++i) window_[i] = 0.5 * (1.0 - std::cos((i + 0.5) * 2.0 * M_PI / kN));
  const double* thr = audio_encoder_tables_get_absthr(sample_rate);
  if (!thr) thr = audio_encoder_tables_get_absthr(44100);
  for (int w = 0; w < kLines; ++w) absthr_[w] = std::pow(10.0, (thr[w] + kPowerOffset) / 10.0);

  // Partitions: runs of lines no wider than a third of a bark.
  line_part_.resize(kLines);
  double start_bark = bark(0.0);
  int first = 0;
  for (int w = 0; w < kLines; ++w) {
    const double b = bark(w * sample_rate / double(kN));
    if (w > first && b - start_bark > 0.33) {
      part_lines_.push_back(w - first);
      first = w;
      start_bark = b;
    }
    line_part_[w] = static_cast<int>(part_lines_.size());
  }
  part_lines_.push_back(kLines - first);
  const int np = partitions();
  part_bark_.assign(np, 0.0);
  for (int w = 0; w < kLines; ++w) part_bark_[line_part_[w]] += bark(w * sample_rate / double(kN));
  tonal_offset_.resize(np);
  minval_.assign(np, 0.0);
  rnorm_.resize(np);
  spread_.assign(size_t(np) * np, 0.0);
  for (int b = 0; b < np; ++b) {
    part_bark_[b] /= part_lines_[b];
    tonal_offset_[b] = std::max(15.5 + part_bark_[b], 24.5);
  }
  for (int b = 0; b < np; ++b) {
    double sum = 0.0;
    for (int bb = 0; bb < np; ++bb) {
      const double db = spreading_db((part_bark_[b] - part_bark_[bb]) * 1.05);
      const double v = db <= -100.0 ? 0.0 : std::pow(10.0, db / 10.0);
      spread_[size_t(b) * np + bb] = v;
      sum += v;
    }
    rnorm_[b] = sum > 0.0 ? 1.0 / sum : 1.0;
  }
  for (int k = 0; k < kN / 2; ++k) twiddle_[k] = std::polar(1.0, -2.0 * M_PI * k / kN);
  for (int i = 0; i < kN; ++i) {
    int r = 0;
    for (int b = 0; b < 10; ++b) r |= ((i >> b) & 1) << (9 - b);
    bitrev_[i] = r;
  }
}

void AudioEncoderPsyModel2::fft(std::complex<double>* x) const {
  for (int i = 0; i < kN; ++i)
    if (bitrev_[i] > i) std::swap(x[i], x[bitrev_[i]]);
  for (int len = 2; len <= kN; len <<= 1) {
    const int half = len / 2, step = kN / len;
    for (int s = 0; s < kN; s += len)
      for (int k = 0; k < half; ++k) {
        const std::complex<double> t = twiddle_[k * step] * x[s + k + half];
        x[s + k + half] = x[s + k] - t;
        x[s + k] += t;
      }
  }
}

void AudioEncoderPsyModel2::analyse(int channel, const int16_t* samples, int stride, double smr[32]) {
  channel &= 1;
  const int blocks = layer_ == 1 ? 1 : 2;
  const int fresh = layer_ == 1 ? 384 : 576;
  double* buf = buffer_[channel];
  for (int i = 0; i < 32; ++i) smr[i] = -1e9;
  for (int blk = 0; blk < blocks; ++blk) {
    std::memmove(buf, buf + fresh, sizeof(double) * (kN - fresh));
    for (int i = 0; i < fresh; ++i) buf[kN - fresh + i] = samples[(blk * fresh + i) * stride];
    double part[32];
    analyse_block(channel, part);
    for (int i = 0; i < 32; ++i) smr[i] = std::max(smr[i], part[i]);
  }
}

void AudioEncoderPsyModel2::analyse_block(int channel, double smr[32]) {
  std::complex<double> x[kN];
  for (int i = 0; i < kN; ++i) x[i] = buffer_[channel][i] * window_[i];
  fft(x);
  double energy[kLines], unpred[kLines];
  double (&m1)[kLines] = prev_mag_[channel][0];
  double (&m2)[kLines] = prev_mag_[channel][1];
  double (&f1)[kLines] = prev_phase_[channel][0];
  double (&f2)[kLines] = prev_phase_[channel][1];
  for (int w = 0; w < kLines; ++w) {
    const double r = std::abs(x[w]);
    const double f = audio_encoder_atan2(x[w].imag(), x[w].real());
    const double rp = 2.0 * m1[w] - m2[w];
    const double fp = 2.0 * f1[w] - f2[w];
    const double dx = r * std::cos(f) - rp * std::cos(fp);
    const double dy = r * std::sin(f) - rp * std::sin(fp);
    const double den = r + std::fabs(rp);
    unpred[w] = den > 0.0 ? std::sqrt(dx * dx + dy * dy) / den : 1.0;
    energy[w] = r * r;
    m2[w] = m1[w];
    m1[w] = r;
    f2[w] = f1[w];
    f1[w] = f;
  }
  const int np = partitions();
  double eb[80] = {}, cb[80] = {};
  for (int w = 0; w < kLines; ++w) {
    eb[line_part_[w]] += energy[w];
    cb[line_part_[w]] += energy[w] * unpred[w];
  }
  double nb[80];
  for (int b = 0; b < np; ++b) {
    double ecb = 0.0, ct = 0.0;
    const double* row = &spread_[size_t(b) * np];
    for (int bb = 0; bb < np; ++bb) {
      ecb += eb[bb] * row[bb];
      ct += cb[bb] * row[bb];
    }
    const double c = ecb > 0.0 ? std::clamp(ct / ecb, 0.05, 0.5) : 0.5;
    const double t = std::clamp(-0.301 - 0.434 * std::log(c), 0.0, 1.0);
    const double snr = std::max(minval_[b], t * tonal_offset_[b] + (1.0 - t) * 5.5);
    nb[b] = ecb * rnorm_[b] * std::pow(10.0, -snr / 10.0);
  }
  double thr[kLines];
  for (int w = 0; w < kLines; ++w) {
    const int b = line_part_[w];
    thr[w] = std::max(nb[b] / part_lines_[b], absthr_[w]);
  }
  for (int sb = 0; sb < 32; ++sb) {
    const int lo = sb * 16, hi = std::min(lo + 17, kLines);
    double e = 0.0, sum = 0.0, mn = 1e300;
    for (int w = lo; w < hi; ++w) {
      e += energy[w];
      sum += thr[w];
      mn = std::min(mn, thr[w]);
    }
    const double npart = lo < 192 ? mn * (hi - lo) : sum;
    smr[sb] = 10.0 * std::log10(std::max(e, 1e-30) / npart);
  }
}
