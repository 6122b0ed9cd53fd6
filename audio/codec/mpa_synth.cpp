// Polyphase synthesis filter bank in double precision. The 64-point
// matrixing is a 32-point DCT-II (mpa_dct32.h) whose outputs the matrix's
// symmetries spread over the 64 values; each output sample is the
// windowed sum over 16 vectors, truncated toward zero and clipped.
#include <cstring>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_dsp.h"
#include "audio/codec/mpa_tables.h"

namespace {

// The 64 matrixed values V[i] = sum S[k] cos((16 + i)(2k + 1) pi / 64) from
// the DCT outputs c[m]: V[i] = c[16+i] (i < 16), 0 (i = 16), -c[48-i]
// (17..47), -c[i-48] (48..63).
void polyphase_dct64(const double* s, double* v, const MpaTables& t, const MpaDsp& dsp) {
  const double* factors[5] = {t.dct_factor32, t.dct_factor16, t.dct_factor8, t.dct_factor4, t.dct_factor2};
  double c[32];
  dsp.dct32(s, c, factors);
  for (int i = 0; i < 16; ++i) v[i] = c[16 + i];
  v[16] = 0.0;
  for (int i = 17; i < 48; ++i) v[i] = -c[48 - i];
  for (int i = 48; i < 64; ++i) v[i] = -c[i - 48];
}

inline int16_t to_pcm(double v) {
  const double c = v > 32767.0 ? 32767.0 : v < -32768.0 ? -32768.0 : v;
  return static_cast<int16_t>(static_cast<int>(c));  // toward zero
}

}  // namespace

void MpegAudioDecoder::synth_polyphase(const double* subbands, int channel, int16_t* out, int step) {
  const MpaTables& t = mpa_tables();
  SynthState& st = synth_[channel];
  st.pos = (st.pos - 1) & 15;
  polyphase_dct64(subbands, st.ring[st.pos], t, *dsp_);
  // Vector 2p contributes its first half, vector 2p+1 its second.
  const double* v[16];
  for (int p = 0; p < 8; ++p) {
    v[2 * p] = st.ring[(st.pos + 2 * p) & 15];
    v[2 * p + 1] = st.ring[(st.pos + 2 * p + 1) & 15] + 32;
  }
  double acc[32];
  dsp_->synth_window(v, t.win, t.win_odd, acc);
  for (int j = 0; j < 32; ++j) out[j * step] = to_pcm(acc[j]);
}

void MpegAudioDecoder::output_slot(double (*subbands)[32], int channels, int16_t* out) {
  for (int ch = 0; ch < channels; ++ch) {
    equalize_subbands(subbands[ch], ch);
    synth_polyphase(subbands[ch], ch, out + ch, channels);
  }
}
