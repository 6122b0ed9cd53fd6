// An I picture coded to a size: the re-encoded first picture of a piece
// keeps about the bytes of the source picture it replaces, so the copied
// pictures after it meet the decoder buffer they were coded for.
#include <cstring>

#include "encode/encoder.h"

int Encoder::encode_intra(Frame* frame, BitWriter& writer, int quantiser, int target_bytes) {
  const int saved_fixed = fixed_mquant;
  fixed_mquant = quantiser;
  pichdr->picture_coding_type = PIC_TYPE_I;
  int bytes = encode_picture(frame, frame, frame, PIC_TYPE_I, 0, writer, 0, nullptr, 1);
  if (bytes > 0 && target_bytes > 0) {
    const auto deviation = [&](int size) { return (size - target_bytes) * 100.0 / target_bytes; };
    double e = deviation(bytes);
    int step = 0;
    // One quantiser step per pass, coarser when too large, finer when too
    // small; a pass that changes nothing or crosses the target ends it.
    while ((e < -5.0 || e > 5.0) && step > -31 && step < 31) {
      const int q_before = rc.Q;
      step += e >= 0 ? 1 : -1;
      apply_pending_params(1);
      writer.reset(1);
      // The coder quantises the blocks in place: each pass starts from the
      // transform again.
      estimate_dct_type(nullptr, frame);
      transform_picture(nullptr, frame);
      rc_step = step;
      const int size = vlc_picture(writer, frame->stream_frame(), step);
      rc_step = 0;
      writer.flush_bytes();
      const double e2 = deviation(size);
      const bool same = size == bytes || rc.Q == q_before;
      const bool crossed = (e < 0 && e2 > 0) || (e > 0 && e2 < 0);
      bytes = size;
      e = e2;
      if (same || crossed) break;
    }
    // What a decoder shows is the last coding.
    reconstruct_intra_picture();
    if (ref_newer)
      std::memcpy(ref_newer->buffer(), recon->buffer(), static_cast<size_t>(recon->y_size() + 2 * recon->c_size()));
  }
  fixed_mquant = saved_fixed;
  return bytes;
}
