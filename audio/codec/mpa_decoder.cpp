// The decoder object and the frame road: header search with locking, frame
// bounds, dispatch to the layers, the equalizer.
#include "audio/codec/mpa_decoder.h"

#include <cstring>

#include "audio/codec/layer3_tables.h"
#include "audio/codec/mpa_dsp.h"
#include "audio/codec/mpa_tables.h"
#include "foundation/trace.h"

namespace {

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

}  // namespace

MpegAudioDecoder::MpegAudioDecoder() : dsp_(&mpa_dsp()) {
  header_.clear();
  reference_.clear();
  mpa_tables();
  layer3_tables();
  clear();
  eq_flags_ = 0;
  std::memset(eq_gains_, 0, sizeof eq_gains_);
}

int MpegAudioDecoder::clear() {
  std::memset(synth_, 0, sizeof synth_);
  synth_[0].pos = synth_[1].pos = 1;
  reference_.valid = 0;
  layer2_table_ = -1;
  std::memset(overlap_, 0, sizeof overlap_);
  std::memset(reservoir_, 0, sizeof reservoir_);
  main_data_received_ = 0;
  prev_main_data_ = 0;
  return 0;
}

int MpegAudioDecoder::decode_frame(const uint8_t* data, int length, int16_t* out) {
  consumed_ = 0;
  frame_bytes_ = 0;
  if (!data || length <= 0) return 0;
  BS reader(data, static_cast<size_t>(length));
  return next_frame_header(&reader, out);
}

int MpegAudioDecoder::next_frame_header(BS* reader, int16_t* out) {
  if (decode_header(reader) != 0 || !out) return 0;
  reference_ = header_;
  const int at = static_cast<int>(reader->bit_position() >> 3);
  if (header_.frame_size > static_cast<int>(reader->length()) - at) {
    consumed_ = at;
    return 0;
  }
  return get_frame(reader, out);
}

// First header of the data confirmed by a same-stream header one frame
// later, or whose frame ends the data exactly. need_more is set when a
// header was found whose frame or successor lies beyond the data.
int MpegAudioDecoder::find_unlocked(const uint8_t* data, int length, bool* need_more) {
  int pos = 0;
  for (;;) {
    const int off = pos + header_.parse_buffer(data + pos, length - pos);
    if (!header_.valid) return off;
    const int end = off + header_.frame_size;
    if (end == length) return off;
    if (end + 4 > length) {
      header_.valid = 0;
      *need_more = true;
      return off;
    }
    FrmHdr next;
    if (next.parse(be32(data + end)) == 0 && header_.same_stream(next) == 0) return off;
    pos = off + 1;
  }
}

int MpegAudioDecoder::decode_header(BS* reader) {
  if (!reader) {
    trace("MpegAudioDecoder::decode_header (bs=nil): _bs=nil\n");
    return 1;
  }
  reader->align();
  const int at = static_cast<int>(reader->bit_position() >> 3);
  const int left = static_cast<int>(reader->length()) - at;
  if (left < 4) {
    header_.valid = 0;
    consumed_ = at;
    return 1;
  }
  const uint8_t* data = reader->start() + at;
  int off;
  if (reference_.valid) {
    off = header_.find_matching(data, left, reference_);
  } else {
    bool need_more = false;
    off = find_unlocked(data, left, &need_more);
  }
  consumed_ = at + off;
  if (!header_.valid) return 1;
  reader->skip_bytes(off);
  return 0;
}

int MpegAudioDecoder::get_frame(BS* reader, int16_t* out) {
  if (!reader) {
    trace("MpegAudioDecoder::get_frame (ERROR): nil BS pointer");
    return 0;
  }
  const int at = static_cast<int>(reader->bit_position() >> 3);
  const int size = header_.frame_size;
  if (size > static_cast<int>(reader->length()) - at) return 0;
  // The layers read from a reader bounded by the frame, so damaged side
  // information can never reach into the next frame.
  frame_data_ = reader->start() + at;
  BS frame(frame_data_, static_cast<size_t>(size));
  frame.skip_bytes(4);
  if (header_.error_protection) frame.skip_bits(16);
  int n = 0;
  switch (header_.layer) {
    case 1: n = decode_layer1(frame, out); break;
    case 2: n = decode_layer2(frame, out); break;
    case 3: n = III_frame(frame, out); break;
    default: break;
  }
  reader->skip_bytes(size);
  consumed_ = at + size;
  frame_bytes_ = size;
  return n;
}

int MpegAudioDecoder::set_equalizer(const double* gains) {
  if (!gains) return 0;
  bool unity = true;
  // gain x -100 truncated toward zero is -100, without an undefined cast
  // of huge or NaN gains.
  for (int i = 0; i < 64 && unity; ++i) {
    const double v = gains[i] * -100.0;
    unity = v > -101.0 && v <= -100.0;
  }
  if (unity) {
    eq_flags_ &= ~1u;
    return 0;
  }
  std::memcpy(eq_gains_, gains, sizeof eq_gains_);
  eq_flags_ |= 1u;
  return 1;
}

void MpegAudioDecoder::equalize_subbands(double* samples, int channel) const {
  if (!(eq_flags_ & 1)) return;
  const double* g = eq_gains_[channel & 1];
  for (int i = 0; i < 32; ++i) samples[i] *= g[i];
}
