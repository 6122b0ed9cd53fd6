// A picture the rate control codes again (finer or coarser to fit the
// decoder buffer) is coded from its transform each pass: the coder
// quantises the blocks in place, so a later pass must not start from the
// levels of the one before.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "decode/picdec.h"
#include "encode/enc_sequence.h"
#include "encode/encoder.h"
#include "support.h"

namespace {

void smooth(Frame& f, int n) {
  for (int y = 0; y < f.padded_height(); ++y)
    for (int x = 0; x < f.padded_width(); ++x)
      f.y_plane()[y * f.padded_width() + x] = uint8_t(60 + std::abs((x + y + 3 * n) % 256 - 128) / 2);
  std::memset(f.cb_plane(), 120, size_t(2 * f.c_size()));
}

TEST(EncoderRateControl, RecodedPicturesDecodeLikeTheirSource) {
  SeqHdr seq;
  seq.setup(352, 288, 0, 25.0, 1);
  seq.seq_ext->profile_and_level_indication = 0x48;
  seq.set_bit_rate(6000000);
  seq.vbv_buffer_size = 112;
  RecordVideoSetup p;
  p.gop_size = 6;
  p.ref_distance = 3;
  p.seqhdr = &seq;
  int result = 1;
  Encoder enc(p, &result);
  ASSERT_EQ(result, 0);
  PicDecoder dec(enc.seqhdr.get());
  dec.load_quant_matrices(enc.seqhdr.get());
  Frame src(352, 288, 1, 0), out(352, 288, 1, 0);
  int recoded_i = 0;
  double worst = 99;
  SequenceEncoder coder(enc, 6, 3, true, false, [&](const CodedPicture& c) {
    if (c.type != PIC_TYPE_I) return true;
    recoded_i += enc.recodes > 0;
    int at = 0;
    while (at + 4 <= int(c.size) && !(c.data[at] == 0 && c.data[at + 1] == 0 && c.data[at + 2] == 1 && c.data[at + 3] == 0))
      ++at;
    EXPECT_GT(dec.decode_picture(c.data + at, int(c.size) - at, &out, &out, &out), 0);
    smooth(src, int(c.number));
    worst = std::min(worst, tsupport::psnr(out.y_plane(), src.y_plane(), size_t(src.y_size())));
    return true;
  });
  Frame f(352, 288, 1, 0);
  for (int n = 0; n < 24; ++n) {
    smooth(f, n);
    f.set_stream_frame(n);
    ASSERT_TRUE(coder.push(f));
  }
  ASSERT_TRUE(coder.finish());
  EXPECT_GT(recoded_i, 0) << "the case codes some I picture again";
  EXPECT_GT(worst, 35.0);
}

}  // namespace
