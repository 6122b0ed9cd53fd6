// The macroblock window (MBWindow) reads exactly what the plain reader
// (MBReader) reads, through any mix of peeks, skips and reads: across its
// reloads, after skips past the bits it holds (the skipped slice
// information), at every starting bit, and it writes back the same position.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "decode/picdec_bits.h"

namespace {

enum class Op { show, skip, get, get1 };

TEST(MBWindow, ReadsWhatThePlainReaderReads) {
  std::mt19937 rng(7);
  std::vector<uint8_t> data(4096 + MB_READER_PADDING, 0);
  for (size_t i = 0; i < 4096; ++i) data[i] = static_cast<uint8_t>(rng());
  for (size_t start = 0; start < 16; ++start) {
    MBReader plain{data.data(), start, 4096 * 8};
    MBWindow win(plain);
    for (int step = 0; step < 2000 && plain.pos + 64 < plain.end; ++step) {
      const Op op = static_cast<Op>(rng() % 4);
      const int n = 1 + static_cast<int>(rng() % 32);
      switch (op) {
        case Op::show: ASSERT_EQ(win.show(n), plain.show(n)) << "start " << start << " step " << step; break;
        case Op::skip:
          // runs of skips without a peek between them, like extra slice bytes
          for (int k = 0; k < 1 + static_cast<int>(rng() % 4); ++k) {
            win.skip(n);
            plain.skip(n);
          }
          break;
        case Op::get: ASSERT_EQ(win.get(n), plain.get(n)) << "start " << start << " step " << step; break;
        case Op::get1: ASSERT_EQ(win.get1(), plain.get1()) << "start " << start << " step " << step; break;
      }
      ASSERT_EQ(win.pos, plain.pos);
      ASSERT_EQ(win.overrun(), plain.overrun());
    }
    MBReader back{data.data(), 0, 4096 * 8};
    win.store(back);
    EXPECT_EQ(back.pos, plain.pos);
  }
}

}  // namespace
