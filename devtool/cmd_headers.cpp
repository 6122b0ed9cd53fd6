// headers FILE: every sequence, GOP and picture header of a video elementary
// stream, in file order, one key=value record each:
//   seq offset=N width=N height=N aspect=N frame_rate_code=N bit_rate=N vbv_size=N
//       mpeg2=0|1 profile_level=N progressive=0|1 chroma=420|422|444 header_bit_rate=N|vbr
// bit_rate is the header's field times 400 as coded; header_bit_rate is the
// same value read as the other commands print it (all ones: vbr).
//   gop offset=N tc=HH:MM:SS:FF drop=0|1 closed=0|1 broken=0|1
//   pic offset=N type=I|P|B tref=N vbv_delay=N structure=1|2|3 tff=0|1 rff=0|1
//       progressive_frame=0|1 fields=N
// Headers that do not decode are skipped with a trace.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "devtool/command.h"
#include "devtool/input.h"
#include "devtool/rates.h"
#include "foundation/bsfile.h"
#include "foundation/gop_header.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

namespace {

// Bytes kept in view behind a start code, so that a header with its
// extensions and user data decodes from one buffer.
constexpr size_t kLookahead = 64 * 1024;
constexpr size_t kChunk = 1024 * 1024;

class Reader {
 public:
  explicit Reader(BSFile& f) : file_(f), buf_(kChunk + kLookahead) {}

  // Drops the bytes before pos and tops the buffer up.
  void refill(size_t& pos) {
    if (eof_) return;
    if (pos > 0) {
      std::memmove(buf_.data(), buf_.data() + pos, have_ - pos);
      base_ += pos;
      have_ -= pos;
      pos = 0;
    }
    while (have_ < buf_.size()) {
      const size_t n = file_.read(buf_.data() + have_, buf_.size() - have_);
      if (n == 0) {
        eof_ = true;
        break;
      }
      have_ += n;
    }
  }

  const uint8_t* data() const { return buf_.data(); }
  size_t have() const { return have_; }
  uint64_t base() const { return base_; }
  bool eof() const { return eof_; }

 private:
  BSFile& file_;
  std::vector<uint8_t> buf_;
  size_t have_ = 0;
  uint64_t base_ = 0;
  bool eof_ = false;
};

const char kTypeLetter[4] = {'?', 'I', 'P', 'B'};

}  // namespace

static int run_headers(int argc, char** argv) {
  if (argc != 2) return dev_bad_count("headers", argc);
  if (dev_input_of(argv[1], {InputKind::video}, "a video elementary stream", true)) return 1;
  int error = 0;
  BSFile file(argv[1], 1, &error);
  if (error || !file.is_open()) return dev_fail("<%s>: cannot open to read", argv[1]);

  Reader in(file);
  SeqHdr seq;
  GopHdr gop;
  PicHdr pic;
  int progressive_sequence = -1;
  long long printed = 0;
  size_t pos = 0;
  in.refill(pos);
  for (;;) {
    if (!in.eof() && in.have() - pos < kLookahead + 4) in.refill(pos);
    const size_t left = in.have() - pos;
    if (left < 4) break;
    int code = 0;
    const int64_t k = utils_next_start_code(in.data() + pos, static_cast<int64_t>(left), &code);
    if (!code) {
      if (in.eof()) break;
      pos += static_cast<size_t>(k);  // keep the last bytes: they may begin a code
      in.refill(pos);
      continue;
    }
    size_t at = pos + static_cast<size_t>(k);
    if (code != 0x1B3 && code != 0x1B8 && code != 0x100) {
      pos = at + 4;
      continue;
    }
    if (!in.eof() && in.have() - at < kLookahead) {
      pos = at;
      in.refill(pos);
      at = pos;
    }
    const uint8_t* p = in.data() + at;
    const int avail = static_cast<int>(in.have() - at);
    const uint64_t offset = in.base() + at;
    int used = 0;
    if (code == 0x1B3) {
      used = seq.decode(p, avail);
      if (used > 0) {
        const SeqExt* e = seq.mpeg2 ? seq.seq_ext.get() : nullptr;
        const int64_t rate_value = seq.bit_rate + (e ? int64_t(e->bit_rate_extension) << 18 : 0);
        const int vbv = seq.vbv_buffer_size + (e ? e->vbv_buffer_size_extension << 10 : 0);
        progressive_sequence = seq.get_progressive_sequence();
        std::printf(
            "seq offset=%" PRIu64 " width=%d height=%d aspect=%d frame_rate_code=%d bit_rate=%" PRId64
            " vbv_size=%d mpeg2=%d profile_level=%d progressive=%d chroma=%d header_bit_rate=%s\n",
            offset, seq.get_horizontal_size(), seq.get_vertical_size(), seq.aspect_ratio_information,
            seq.frame_rate_code, rate_value * 400, vbv, seq.mpeg2 ? 1 : 0, seq.get_profile_level(),
            progressive_sequence, dev_chroma_notation(seq.get_chroma_format()), dev_header_bit_rate(seq).c_str());
      }
    } else if (code == 0x1B8) {
      used = gop.decode(p, avail);
      if (used > 0) {
        const uint32_t tc = gop.time_code;
        std::printf("gop offset=%" PRIu64 " tc=%02u:%02u:%02u:%02u drop=%u closed=%u broken=%u\n", offset,
                    (tc >> 19) & 31u, (tc >> 13) & 63u, (tc >> 6) & 63u, tc & 63u, (tc >> 24) & 1u,
                    gop.closed_gop & 1u, gop.broken_link & 1u);
      }
    } else {
      used = pic.decode(p, avail);
      if (used > 0) {
        int structure = 3, tff = 0, rff = 0, progressive_frame = 1, fields = 2;
        if (pic.mpeg2 && pic.coding_ext) {
          structure = pic.get_picture_structure();
          tff = pic.get_top_field_first();
          rff = pic.get_repeat_first_field();
          progressive_frame = pic.get_progressive_frame();
          pic.progressive_sequence = -1;
          pic.set_progressive_sequence(progressive_sequence);
          fields = pic.how_many_fields();
        }
        std::printf(
            "pic offset=%" PRIu64 " type=%c tref=%d vbv_delay=%d structure=%d tff=%d rff=%d progressive_frame=%d "
            "fields=%d\n",
            offset, kTypeLetter[pic.picture_coding_type & 3], pic.temporal_reference, pic.vbv_delay, structure, tff,
            rff, progressive_frame, fields);
      }
    }
    if (used > 0) {
      ++printed;
      pos = at + static_cast<size_t>(used);
    } else {
      trace("headers: no header decoded at offset %" PRIu64 " (start code 0x%03X)\n", offset, code);
      pos = at + 4;
    }
  }
  if (printed == 0) return dev_fail("<%s>: no video headers found", argv[1]);
  return 0;
}

TAMSEL_DEV_COMMAND(headers, "FILE", "every sequence, GOP and picture header of a video elementary stream", run_headers);
