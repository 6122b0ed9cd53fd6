#include "audio/codec/psy_model2.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "audio/codec/psy_model2_tables.h"
#include "foundation/trace.h"

namespace {

constexpr int kN = 1024;
constexpr int kLines = 513;
// Level of a 16-bit full-scale sine's peak line after the Hann window
// (20 log10(32768 x 256)) less the 96 dB it stands for.
constexpr double kPowerOffset = 42.5;

// The partition table of a rate, 44.1 kHz for any other.
PsyPartitionTable partitions_of(int sample_rate) {
  const PsyPartitionTable t = psy_model2_partitions(sample_rate);
  return t.count ? t : psy_model2_partitions(44100);
}

struct AbsThr {
  double db[3][kLines];
  AbsThr() {
    const int rates[3] = {44100, 48000, 32000};
    for (int r = 0; r < 3; ++r) {
      // Each line takes its partition's threshold in quiet shared over the
      // partition's lines; the table's transform is scaled by 1/N, ours is
      // not (N squared in energy). Lines above the table take its last one.
      const PsyPartitionTable t = psy_model2_partitions(rates[r]);
      int w = 0;
      for (int b = 0; b < t.count; ++b) {
        const PsyPartition& p = t.parts[b];
        const double level = 10.0 * std::log10(p.qthr / p.lines * double(kN) * kN) - kPowerOffset;
        for (int k = 0; k < p.lines && w < kLines; ++k) db[r][w++] = level;
      }
      for (; w < kLines; ++w) db[r][w] = db[r][w - 1];
    }
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

  // The standard's partitions; the lines above its table join the last one.
  const PsyPartitionTable t = partitions_of(sample_rate);
  const int np = t.count;
  line_part_.resize(kLines);
  int line = 0;
  for (int b = 0; b < np; ++b) {
    part_lines_.push_back(t.parts[b].lines);
    for (int k = 0; k < t.parts[b].lines && line < kLines; ++k) line_part_[line++] = b;
  }
  for (; line < kLines; ++line) {
    line_part_[line] = np - 1;
    ++part_lines_.back();
  }
  part_bark_.resize(np);
  tonal_offset_.resize(np);
  minval_.resize(np);
  rnorm_.resize(np);
  spread_.assign(size_t(np) * np, 0.0);
  for (int b = 0; b < np; ++b) {
    const PsyPartition& p = t.parts[b];
    part_bark_[b] = p.bval;
    tonal_offset_[b] = std::max(15.5 + p.bval, 24.5);
    minval_[b] = p.minval;
    rnorm_[b] = p.norm;
  }
  for (int b = 0; b < np; ++b)
    for (int bb = 0; bb < np; ++bb) {
      const double db = spreading_db((part_bark_[b] - part_bark_[bb]) * 1.05);
      spread_[size_t(b) * np + bb] = db <= -100.0 ? 0.0 : std::pow(10.0, db / 10.0);
    }
  for (int k = 0; k < kN / 2; ++k) {
    tw_re_[k] = std::cos(2.0 * M_PI * k / kN);
    tw_im_[k] = -std::sin(2.0 * M_PI * k / kN);
  }
  for (int i = 0; i < kN / 2; ++i) {
    int r = 0;
    for (int b = 0; b < 9; ++b) r |= ((i >> b) & 1) << (8 - b);
    bitrev_[i] = r;
  }
  for (int c = 0; c < 2; ++c)
    for (int a = 0; a < 2; ++a)
      for (int w = 0; w < kLines; ++w) prev_unit_[c][a][0][w] = 1.0;
}

void AudioEncoderPsyModel2::spectrum(const double* in, double* re, double* im) const {
  constexpr int kH = kN / 2;
  double zr[kH], zi[kH];
  for (int n = 0; n < kH; ++n) {
    const int r = bitrev_[n];
    zr[r] = in[2 * n] * window_[2 * n];
    zi[r] = in[2 * n + 1] * window_[2 * n + 1];
  }
  for (int len = 2; len <= kH; len <<= 1) {
    const int half = len / 2, step = kN / len;  // twiddles of the 1024 table
    for (int s = 0; s < kH; s += len)
      for (int k = 0; k < half; ++k) {
        const double wr = tw_re_[k * step], wi = tw_im_[k * step];
        const int a = s + k, b = a + half;
        const double tr = wr * zr[b] - wi * zi[b], ti = wr * zi[b] + wi * zr[b];
        zr[b] = zr[a] - tr;
        zi[b] = zi[a] - ti;
        zr[a] += tr;
        zi[a] += ti;
      }
  }
  // Split the even/odd transform into the real signal's lines.
  for (int k = 0; k <= kH; ++k) {
    const int a = k & (kH - 1), b = (kH - k) & (kH - 1);
    const double er = 0.5 * (zr[a] + zr[b]), ei = 0.5 * (zi[a] - zi[b]);
    const double orr = 0.5 * (zi[a] + zi[b]), oi = -0.5 * (zr[a] - zr[b]);
    const double wr = k < kH ? tw_re_[k] : -1.0, wi = k < kH ? tw_im_[k] : 0.0;
    re[k] = er + wr * orr - wi * oi;
    im[k] = ei + wr * oi + wi * orr;
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
  double re[kLines], im[kLines];
  spectrum(buffer_[channel], re, im);
  double energy[kLines], unpred[kLines];
  double* m1 = prev_mag_[channel][0];
  double* m2 = prev_mag_[channel][1];
  double (&u1)[2][kLines] = prev_unit_[channel][0];
  double (&u2)[2][kLines] = prev_unit_[channel][1];
  for (int w = 0; w < kLines; ++w) {
    const double e = re[w] * re[w] + im[w] * im[w];
    const double r = std::sqrt(e);
    // Predicted line: magnitude 2 r1 - r2, phase 2 f1 - f2 (u1 u1 conj(u2)).
    const double rp = 2.0 * m1[w] - m2[w];
    const double sr = u1[0][w] * u1[0][w] - u1[1][w] * u1[1][w], si = 2.0 * u1[0][w] * u1[1][w];
    const double pr = sr * u2[0][w] + si * u2[1][w], pi = si * u2[0][w] - sr * u2[1][w];
    const double dx = re[w] - rp * pr, dy = im[w] - rp * pi;
    const double den = r + std::fabs(rp);
    unpred[w] = den > 0.0 ? std::sqrt(dx * dx + dy * dy) / den : 1.0;
    energy[w] = e;
    m2[w] = m1[w];
    m1[w] = r;
    u2[0][w] = u1[0][w];
    u2[1][w] = u1[1][w];
    if (r > 0.0) {
      u1[0][w] = re[w] / r;
      u1[1][w] = im[w] / r;
    } else {
      u1[0][w] = 1.0;
      u1[1][w] = 0.0;
    }
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
