// Sequence header decoder on arbitrary bytes; a decoded header must survive
// encode and decode unchanged, and the writers' checks must not fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "foundation/seq_header.h"
#include "foundation/video_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  SeqHdr h;
  const int n = h.decode(data, static_cast<int>(size));
  if (n <= 0) return 0;
  if (n > static_cast<int>(size) || h.invalid) std::abort();

  // Values the standard forbids (chroma_format 0, colour description codes
  // 0, subsampling factors 0) can re-encode as 00 00 01 inside an extension;
  // such a stream is broken anyway, so the round trip is only promised for
  // legal values.
  if (h.mpeg2 && (h.get_chroma_format() < 1 || h.get_chroma_format() > 3)) return 0;
  if (h.display_ext && h.display_ext->colour_description &&
      (!h.display_ext->colour_primaries || !h.display_ext->transfer_characteristics ||
       !h.display_ext->matrix_coefficients))
    return 0;
  if (h.scalable_ext && h.scalable_ext->scalable_mode == 1 &&
      (!h.scalable_ext->horizontal_subsampling_factor_m || !h.scalable_ext->horizontal_subsampling_factor_n ||
       !h.scalable_ext->vertical_subsampling_factor_m || !h.scalable_ext->vertical_subsampling_factor_n))
    return 0;
  std::vector<uint8_t> out(static_cast<size_t>(h.get_header_size()) + 64);
  const int m = h.encode(out.data(), static_cast<int>(out.size()));
  if (m <= 0) std::abort();
  SeqHdr back;
  if (back.decode(out.data(), m) != m || back.compare(&h, 1) != 0) std::abort();

  VideoInfo info;
  h.get_video_info(&info);
  SeqHdr copy(h);
  if (copy.compare(&h, 1) != 0) std::abort();
  copy.checks();
  return 0;
}
