// Loudness change of a layer I or II frame by rewriting its scale factors:
// allocation, selection and samples stay, so the frame keeps its size and
// its CRC (which covers allocation and selection only).
#include <cmath>
#include <cstring>

#include "audio/codec/mpa_decoder.h"
#include "audio/codec/mpa_layer12.h"
#include "audio/codec/mpa_tables.h"
#include "foundation/trace.h"

namespace {

struct RescaleTable {
  double v[64];  // 2 x 2^(-j/3); index 63 stands for silence
  RescaleTable() {
    for (int j = 0; j < 63; ++j) v[j] = 2.0 * std::exp2(-j / 3.0);
    v[63] = 1e-20;
  }
};

const RescaleTable& rescale_table() {
  static const RescaleTable t;  // thread-safe static initialisation
  return t;
}

// Index of the table entry nearest to x: successive halving from the
// middle, then a look at both neighbours.
int nearest_index(double x, const RescaleTable& t) {
  int j = 31;
  for (int step = 16; step >= 1; step >>= 1) j += t.v[j] > x ? step : -step;
  int best = j;
  for (int k = j - 1; k <= j + 1; ++k) {
    if (k < 0 || k > 63) continue;
    if (std::fabs(t.v[k] - x) < std::fabs(t.v[best] - x)) best = k;
  }
  return best;
}

class ScaleRewriter {
 public:
  ScaleRewriter(const uint8_t* in, uint8_t* out, int size, int skip, double gain)
      : in_(in, static_cast<size_t>(size)), size_(static_cast<size_t>(size)), gain_(gain), table_(rescale_table()) {
    out_.init(out, static_cast<size_t>(size), 1);
    in_.skip_bytes(skip);
    // The writer starts at the same byte; the bytes before it are copied.
    for (int i = 0; i < skip; ++i) out_.put_bits(out[i], 8);
  }
  uint32_t copy(int bits) {
    const uint32_t v = in_.get_bits(bits);
    out_.put_bits(v, bits);
    return v;
  }
  void scale_factor() {
    const int i = static_cast<int>(in_.get_bits(6));
    const int j = gain_ == 0.0 ? 63 : nearest_index(gain_ * table_.v[i], table_);
    out_.put_bits(static_cast<uint32_t>(j), 6);
  }
  // Writes the pending bits; the rest of their last byte keeps its copied
  // bits.
  void finish(uint8_t* out) {
    const uint64_t bits = out_.bit_count();
    const size_t last = static_cast<size_t>(bits >> 3);
    const int used = static_cast<int>(bits & 7);
    // A damaged frame's side information can run past its end, where the
    // writer drops what does not fit.
    const bool inside = last < size_;
    const uint8_t keep = used && inside ? out[last] : 0;
    out_.flush_bytes();
    if (used && inside) {
      const uint8_t low = static_cast<uint8_t>(0xFF >> used);
      out[last] = static_cast<uint8_t>((out[last] & ~low) | (keep & low));
    }
  }

 private:
  BS in_;
  size_t size_;
  BitWriter out_;
  double gain_;
  const RescaleTable& table_;
};

void rescale_layer1(const FrmHdr& h, ScaleRewriter& rw) {
  const int nch = h.channels;
  const int bound = h.mode == 1 ? 4 * h.mode_extension + 4 : 32;
  uint8_t alloc[2][32] = {};
  for (int sb = 0; sb < 32; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = static_cast<uint8_t>(rw.copy(4));
    } else {
      alloc[0][sb] = alloc[1][sb] = static_cast<uint8_t>(rw.copy(4));
    }
  }
  for (int sb = 0; sb < 32; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) rw.scale_factor();
}

bool rescale_layer2(const FrmHdr& h, ScaleRewriter& rw) {
  const int index = layer2_choose_table(h);
  if (index < 0) return false;
  const Layer2Table& table = layer2_table(index);
  const int nch = h.channels;
  const int bound = joint_bound(h, table.sblimit);
  bool alloc[2][32] = {};
  uint8_t scfsi[2][32] = {};
  for (int sb = 0; sb < table.sblimit; ++sb) {
    if (sb < bound) {
      for (int ch = 0; ch < nch; ++ch) alloc[ch][sb] = rw.copy(table.rows[sb]->bits) != 0;
    } else {
      alloc[0][sb] = alloc[1][sb] = rw.copy(table.rows[sb]->bits) != 0;
    }
  }
  for (int sb = 0; sb < table.sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb]) scfsi[ch][sb] = static_cast<uint8_t>(rw.copy(2));
  static const int kCount[4] = {3, 2, 1, 2};
  for (int sb = 0; sb < table.sblimit; ++sb)
    for (int ch = 0; ch < nch; ++ch)
      if (alloc[ch][sb])
        for (int k = 0; k < kCount[scfsi[ch][sb]]; ++k) rw.scale_factor();
  return true;
}

}  // namespace

int MpegAudioDecoder::rescale_frame(const uint8_t* input, int input_length, double gain, uint8_t* output,
                                    int output_size) {
  if (!input || input_length < 4 || !output) return 0;
  FrmHdr h;
  const int off = h.parse_buffer(input, input_length);
  if (!h.valid) return 0;
  if (input_length - off < h.frame_size) {
    trace("MpegAudioDecoder::rescale_frame (): incomplete frame %d < %d=frame_size\n", input_length - off,
          h.frame_size);
    return 0;
  }
  if (output_size < h.frame_size) {
    trace("MpegAudioDecoder::rescale_frame (): output buffer size %d < %d=frame_size\n", output_size, h.frame_size);
    return 0;
  }
  std::memmove(output, input + off, static_cast<size_t>(h.frame_size));
  if (h.layer == 3) {
    trace("MpegAudioDecoder::scale_frame (): not implemented for layer-3\n");
    return h.frame_size;
  }
  if (!(gain >= 0.0) || std::isinf(gain)) return h.frame_size;  // nothing sensible to scale by
  // Read from the copy: the writer stays behind the reader, and input may
  // be output itself.
  ScaleRewriter rw(output, output, h.frame_size, 4 + (h.error_protection ? 2 : 0), gain);
  if (h.layer == 1) {
    rescale_layer1(h, rw);
  } else if (!rescale_layer2(h, rw)) {
    return h.frame_size;
  }
  rw.finish(output);
  return h.frame_size;
}
