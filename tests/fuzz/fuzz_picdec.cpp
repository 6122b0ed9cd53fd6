// Feeds mutated pictures to the picture decoder: the input is a sequence
// header followed by pictures; every picture is decoded (and parsed into
// MBInfo records) against the previous ones as references, at full size,
// at full size read in place from a padded copy, and at reduced size. No
// call may claim more bytes than it was given.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/frame.h"
#include "decode/picdec.h"
#include "decode/picdec_bits.h"
#include "foundation/seq_header.h"
#include "foundation/utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 16 || size > (1u << 20)) return 0;
  const int len = static_cast<int>(size);
  SeqHdr seq;
  if (!seq.decode(data, len)) return 0;
  const int w = seq.get_horizontal_size(), h = seq.get_vertical_size();
  if (w < 16 || h < 16 || w > 1024 || h > 1024) return 0;  // keep runs short
  const int cf = seq.get_chroma_format() == 2 ? 2 : 1;
  const int round32 = seq.mpeg2 && !seq.get_progressive_sequence();
  std::vector<uint8_t> padded(data, data + size);
  padded.resize(size + MB_READER_PADDING, 0);
  for (int pass = 0; pass < 3; ++pass) {
    const int mode = pass == 2 ? 2 : 0;
    const uint8_t* src = pass == 1 ? padded.data() : data;
    PicDecoder dec(&seq);
    dec.set_scale(mode);
    if (pass == 1) dec.set_input_padding(MB_READER_PADDING);
    const int fw = mode ? dec.get_scaled_width() : w, fh = mode ? dec.get_scaled_height() : h;
    std::unique_ptr<Frame> frames[3];
    for (auto& f : frames) f = std::make_unique<Frame>(fw, fh, cf, mode ? 0 : round32);
    int64_t pos = 0;
    int n = 0;
    while (pos < len && n < 12) {
      uint32_t code = 0;
      const int64_t at = utils_next_usr_start_code(0x100, data + pos, len - pos, &code);
      if (code != 0x100) break;
      int64_t end = pos + at + 4;
      uint32_t c2 = 0;
      const int64_t next = utils_next_usr_start_code(0x100, data + end, len - end, &c2);
      end = c2 == 0x100 ? end + next : len;
      Frame* target = frames[n % 3].get();
      const int used = dec.decode_picture(src + pos, static_cast<int>(end - pos), target, frames[(n + 1) % 3].get(),
                                          frames[(n + 2) % 3].get());
      if (used < 0 || used > end - pos) __builtin_trap();
      if (mode == 0) {
        const int parsed = dec.decode_mb_info(src + pos, static_cast<int>(end - pos), nullptr);
        if (parsed < 0 || parsed > end - pos) __builtin_trap();
      }
      pos = end;
      ++n;
    }
  }
  return 0;
}
