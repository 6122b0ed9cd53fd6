// Polyphase synthesis filter bank in double precision. The 64-point
// matrixing is a 32-point DCT-II (Lee's recursive split) whose outputs the
// matrix's symmetries spread over the 64 values; each output sample is the
// windowed sum over 16 vectors, truncated toward zero and clipped.
#include <cstring>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_tables.h"

namespace {

// X[m] = sum x[k] cos(pi m (2k+1) / 2N): split into sums and scaled
// differences, each half-size DCT-II, odd outputs as neighbour sums.
template <int N>
inline void dct2(const double* x, double* X, const double* const* factors) {
  double a[N / 2], b[N / 2], A[N / 2], B[N / 2];
  const double* f = factors[0];
  for (int k = 0; k < N / 2; ++k) {
    a[k] = x[k] + x[N - 1 - k];
    b[k] = (x[k] - x[N - 1 - k]) * f[k];
  }
  dct2<N / 2>(a, A, factors + 1);
  dct2<N / 2>(b, B, factors + 1);
  for (int m = 0; m < N / 2 - 1; ++m) {
    X[2 * m] = A[m];
    X[2 * m + 1] = B[m] + B[m + 1];
  }
  X[N - 2] = A[N / 2 - 1];
  X[N - 1] = B[N / 2 - 1];
}

template <>
inline void dct2<1>(const double* x, double* X, const double* const*) {
  X[0] = x[0];
}

// The 64 matrixed values V[i] = sum S[k] cos((16 + i)(2k + 1) pi / 64) from
// the DCT outputs c[m]: V[i] = c[16+i] (i < 16), 0 (i = 16), -c[48-i]
// (17..47), -c[i-48] (48..63).
void polyphase_dct64(const double* s, double* v, const MpaTables& t) {
  const double* factors[5] = {t.dct_factor32, t.dct_factor16, t.dct_factor8, t.dct_factor4, t.dct_factor2};
  double c[32];
  dct2<32>(s, c, factors);
  for (int i = 0; i < 16; ++i) v[i] = c[16 + i];
  v[16] = 0.0;
  for (int i = 17; i < 48; ++i) v[i] = -c[48 - i];
  for (int i = 48; i < 64; ++i) v[i] = -c[i - 48];
}

inline int16_t to_pcm(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<int16_t>(v);  // toward zero
}

}  // namespace

void MpegAudioDecoder::synth_polyphase(const double* subbands, int channel, int16_t* out, int step) {
  const MpaTables& t = mpa_tables();
  SynthState& st = synth_[channel];
  st.pos = (st.pos - 1) & 15;
  polyphase_dct64(subbands, st.ring[st.pos], t);
  double acc[32] = {};
  for (int p = 0; p < 8; ++p) {
    const double* v0 = st.ring[(st.pos + 2 * p) & 15];
    const double* v1 = st.ring[(st.pos + 2 * p + 1) & 15] + 32;
    const double* w0 = t.win[p];
    const double* w1 = t.win_odd[p];
    for (int j = 0; j < 32; ++j) acc[j] += w0[j] * v0[j] + w1[j] * v1[j];
  }
  for (int j = 0; j < 32; ++j) out[j * step] = to_pcm(acc[j]);
}

void MpegAudioDecoder::output_slot(double (*subbands)[32], int channels, int16_t* out) {
  for (int ch = 0; ch < channels; ++ch) {
    equalize_subbands(subbands[ch], ch);
    synth_polyphase(subbands[ch], ch, out + ch, channels);
  }
}
