// Bit patterns of the element writers where the layout is fixed by hand:
// escapes, out-of-range vectors, address escapes.
#include <gtest/gtest.h>

#include <vector>

#include "encode/enc_vlc.h"
#include "support.h"

namespace {

std::vector<uint8_t> bits_of(void (*write)(BitWriter&)) {
  std::vector<uint8_t> buf(16, 0);
  BitWriter bw(buf.data(), buf.size());
  write(bw);
  buf.resize(bw.flush());
  return buf;
}

TEST(EncVlc, Mpeg1EscapesOfLargeLevels) {
  // 000001 rrrrrr then 0x00 LL (level above 127) or 0x80 LL (below -127):
  //   000001 000000 | 00000000 | 11001000 (0xC8)  -> 04 00 0C 80
  //   000001 000000 | 10000000 | 00111000 (0x38)  -> 04 08 03 80
  EXPECT_EQ(bits_of([](BitWriter& bw) { put_ac_b14(0, 200, 1, bw); }),
            (std::vector<uint8_t>{0x04, 0x00, 0x0C, 0x80}));
  EXPECT_EQ(bits_of([](BitWriter& bw) { put_ac_b14(0, -200, 1, bw); }),
            (std::vector<uint8_t>{0x04, 0x08, 0x03, 0x80}));
  // MPEG-2: 12-bit two's complement level.
  //   000001 000011 | 100000000001 -> 04 3 8 0 1
  EXPECT_EQ(bits_of([](BitWriter& bw) { put_ac_b14(3, -2047, 0, bw); }),
            (std::vector<uint8_t>{0x04, 0x38, 0x01}));
}

TEST(EncVlc, OutOfRangeVectorIsNeverWritten) {
  // f_code 1: differences fold into -16..15; beyond one fold nothing is
  // written and the call says so (the decoder would predict elsewhere).
  std::vector<uint8_t> buf(16, 0);
  BitWriter bw(buf.data(), buf.size());
  tsupport::TraceCapture tc;
  EXPECT_TRUE(put_mv(20, 1, bw));   // folds to -12
  const uint64_t before = bw.bit_count();
  EXPECT_FALSE(put_mv(60, 1, bw));  // still outside after the fold
  EXPECT_EQ(bw.bit_count(), before);
  EXPECT_TRUE(tc.contains("put_mv (ERROR): invalid motion vector"));
}

TEST(EncVlc, AddressIncrementEscapes) {
  // 34 = macroblock_escape (00000001000) then increment 1 ("1").
  EXPECT_EQ(bits_of([](BitWriter& bw) { put_addrinc(34, bw); }), (std::vector<uint8_t>{0x01, 0x10}));
}

}  // namespace
