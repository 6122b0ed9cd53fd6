// Macroblock decisions read from a stream are untrusted: any records, any
// count, coded as P and B pictures. The coded pictures must decode (the
// encoder checks its own output through the decoder) and nothing may
// crash or read past the records.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "encode/encoder.h"

namespace {

struct Setup {
  std::unique_ptr<Encoder> enc;
  std::unique_ptr<Frame> cur;
  std::vector<uint8_t> out;
};

Setup make(int mpeg1, int progressive) {
  Setup s;
  SeqHdr seq;
  seq.setup(64, 48, 0, 25.0, !mpeg1);
  RecordVideoSetup p;
  p.mpeg1 = mpeg1;
  p.gop_size = 15;
  p.ref_distance = 3;
  p.fixed_mquant = 6;
  p.constant_mquant = 1;
  p.progressive = progressive;
  p.seqhdr = &seq;
  int result = 1;
  s.enc = std::make_unique<Encoder>(p, &result);
  if (result) __builtin_trap();
  s.cur = std::make_unique<Frame>(64, 48, 1, progressive ? 0 : 1);
  s.out.resize(1 << 16);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int mpeg1 = data[0] & 1, progressive = (data[0] >> 1) & 1;
  // One encoder per kind, kept across inputs (made once: it is costly).
  static Setup kinds[4];
  Setup& s = kinds[2 * mpeg1 + progressive];
  if (!s.enc) s = make(mpeg1, mpeg1 ? 1 : progressive);
  Encoder& e = *s.enc;
  // A picture to code: a gradient moved by the first byte.
  for (int i = 0; i < s.cur->y_size(); ++i) s.cur->y_plane()[i] = static_cast<uint8_t>(i * 7 + data[1]);
  std::memset(s.cur->cb_plane(), 100, static_cast<size_t>(2 * s.cur->c_size()));
  s.cur->set_progressive_frame(progressive);
  // Records straight from the bytes, as many as they fill (maybe too few).
  const size_t words = (size - 2) / sizeof(int32_t);
  const int count = static_cast<int>(std::min<size_t>(words / 8, 64));
  std::vector<MBInfo> states(static_cast<size_t>(count) + 1);
  for (int k = 0; k < count; ++k) {
    int32_t v[8];
    std::memcpy(v, data + 2 + 32 * static_cast<size_t>(k), sizeof v);
    MBInfo& m = states[static_cast<size_t>(k)];
    m.mb_type = v[0];
    m.motion_type = v[1];
    m.dct_type = v[2];
    m.skipped = v[3] & 1;
    for (int j = 0; j < 14; ++j) m.mv[j] = static_cast<int16_t>(v[4 + (j & 3)] >> (j & 7));
  }
  int bytes = 0;
  for (int type : {1, 2, 3}) {
    BitWriter bw(s.out.data(), s.out.size());
    e.closed_gop = type == 3 && (data[0] & 4) ? 1 : 0;
    bytes = e.encode_picture(s.cur.get(), nullptr, nullptr, type, 1 + (data[1] & 3), bw, 0,
                             type == 1 ? nullptr : states.data(), count, 1);
    if (bytes <= 0) __builtin_trap();  // every sanitised decision set must code and decode
  }
  return 0;
}
