// Bit reader of the macroblock layer. The picture body is copied into a
// buffer with zero bytes behind it, so a peek never needs an end test: past
// the end every code reads as zeros, which no table accepts, and the loops
// stop at the next code. Kept in registers by the inner loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Zero bytes kept behind the data.
constexpr size_t MB_READER_PADDING = 64;

struct MBReader {
  const uint8_t* buf;
  size_t pos;  // bit position
  size_t end;  // bits of data

  inline uint64_t window() const {
    uint64_t v;
    std::memcpy(&v, buf + (pos >> 3), 8);
    return __builtin_bswap64(v) << (pos & 7);
  }
  // n in 1..32
  inline uint32_t show(int n) const { return static_cast<uint32_t>(window() >> (64 - n)); }
  inline void skip(int n) { pos += static_cast<size_t>(n); }
  inline uint32_t get(int n) {
    const uint32_t v = show(n);
    pos += static_cast<size_t>(n);
    return v;
  }
  inline uint32_t get1() {
    const uint32_t v = (buf[pos >> 3] >> (7 - (pos & 7))) & 1;
    ++pos;
    return v;
  }
  inline bool overrun() const { return pos > end; }
  inline void align() { pos = (pos + 7) & ~static_cast<size_t>(7); }
};
