#include "demux/header_scan.h"

#include <algorithm>

namespace {

bool is_header_code(uint8_t c) { return c == 0x00 || c == 0xB3 || c == 0xB8; }

bool header_at(const uint8_t* d, int s) { return d[s] == 0 && d[s + 1] == 0 && d[s + 2] == 1 && is_header_code(d[s + 3]); }

}  // namespace

// Slice data holds a 0x01 byte every few dozen bytes, so a search for the
// 01 of 00 00 01 stops very often; two zero bytes in a row hardly occur
// outside start codes. The scan therefore first asks of 32 bytes at a time
// whether they hold a zero pair (a loop the compiler turns into vector
// compares) and looks for codes only in blocks that do.
int find_next_header(const uint8_t* data, int length, int* code) {
  if (!data || length < 4) {
    *code = 0xFFF;
    return 0;
  }
  const int last = length - 4;  // the last offset a whole code fits at
  constexpr int kBlock = 32;
  int s = 0;
  while (s <= last) {
    // The pair test reads one byte past the block.
    if (s + kBlock + 1 <= length) {
      // Zero where some byte and the next are both zero.
      uint8_t low = 0xFF;
      for (int k = 0; k < kBlock; ++k) low = std::min<uint8_t>(low, data[s + k] | data[s + k + 1]);
      if (low != 0) {
        s += kBlock;
        continue;
      }
    }
    // Byte 2 of a code is 01 and bytes 0 and 1 are zero: a byte above 1
    // rules out three places, a nonzero byte two.
    const int end = std::min(s + kBlock, last + 1);
    while (s < end) {
      if (data[s + 2] > 1) {
        s += 3;
      } else if (data[s + 1] != 0) {
        s += 2;
      } else if (header_at(data, s)) {
        *code = 0x100 | data[s + 3];
        return s;
      } else {
        ++s;
      }
    }
  }
  *code = 0xFFF;
  return last;
}
