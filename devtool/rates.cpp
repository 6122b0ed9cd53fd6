#include "devtool/rates.h"

#include <cmath>

#include "foundation/seq_header.h"

std::string dev_header_bit_rate(const SeqHdr& seq) {
  const int64_t ext = seq.mpeg2 && seq.seq_ext ? seq.seq_ext->bit_rate_extension & 0xFFF : 0;
  if (ext == 0 && seq.is_vbr()) return "vbr";
  return std::to_string(((ext << 18) + (seq.bit_rate & 0x3FFFF)) * 400);
}

long long dev_measured_bit_rate(uint64_t bytes, double seconds) {
  if (!(seconds > 0)) return 0;
  return std::llround(static_cast<double>(bytes) * 8.0 / seconds);
}
