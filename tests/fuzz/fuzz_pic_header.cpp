// Picture header decoder on arbitrary bytes; a decoded header must survive
// encode and decode with the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "foundation/pic_header.h"

namespace {
bool same(const PicHdr& a, const PicHdr& b) {
  if (a.temporal_reference != b.temporal_reference || a.picture_coding_type != b.picture_coding_type ||
      a.vbv_delay != b.vbv_delay || a.mpeg2 != b.mpeg2)
    return false;
  if (a.picture_coding_type >= 2 && (a.forward_f_code != b.forward_f_code || a.full_pel_forward_vector != b.full_pel_forward_vector))
    return false;
  if (a.picture_coding_type == 3 && (a.backward_f_code != b.backward_f_code || a.full_pel_backward_vector != b.full_pel_backward_vector))
    return false;
  for (int ps = 0; ps < 2; ++ps)
    if (a.get_field_count(ps) != b.get_field_count(ps)) return false;
  if (a.coding_ext && b.coding_ext) {
    const PicCodingExt &x = *a.coding_ext, &y = *b.coding_ext;
    if (x.picture_structure != y.picture_structure || x.top_field_first != y.top_field_first ||
        x.repeat_first_field != y.repeat_first_field || x.progressive_frame != y.progressive_frame ||
        x.alternate_scan != y.alternate_scan || x.intra_dc_precision != y.intra_dc_precision ||
        x.f_code[1][1] != y.f_code[1][1])
      return false;
  }
  return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  PicHdr h;
  h.set_progressive_sequence(static_cast<int>(size & 1));
  const int n = h.decode(data, static_cast<int>(size));
  h.how_many_fields();
  if (n <= 0) return 0;
  if (n > static_cast<int>(size) || h.errors) std::abort();

  // An f_code of 0 is forbidden and can re-encode as 00 00 01 inside the
  // coding extension; the round trip is only promised for legal values.
  if (h.coding_ext)
    for (const auto& dir : h.coding_ext->f_code)
      for (int v : dir)
        if (v == 0) return 0;
  std::vector<uint8_t> out(96);
  const int m = h.encode(out.data(), static_cast<int>(out.size()));
  if (m <= 0) std::abort();
  out.resize(static_cast<size_t>(m));
  const uint8_t slice[] = {0, 0, 1, 1, 0};
  out.insert(out.end(), slice, slice + sizeof slice);
  PicHdr back;
  if (back.decode(out.data(), static_cast<int>(out.size())) != m || !same(h, back)) std::abort();
  PicHdr copy(h);
  if (!same(copy, h) || copy.user_length != h.user_length || copy.ext_length != h.ext_length) std::abort();
  return 0;
}
