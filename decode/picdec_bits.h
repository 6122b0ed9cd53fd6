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

// The reader's next bits held in a register across a run of short codes
// (macroblock modes, vectors): one load serves several codes, and a code's
// look-up waits for a shift rather than for a load. Made from an MBReader
// and written back to it with store().
// pos and end are kept apart: side by side, the compiler copies them from
// the reader with one 16-byte load, which stalls on the reader's 8-byte
// store of pos from the macroblock before.
struct MBWindow {
  const uint8_t* buf;
  size_t pos;  // bit position of w's first bit
  uint64_t w;  // the bits from pos on, left-aligned
  size_t end;
  int avail;   // valid bits in w (negative after a skip past them)

  explicit MBWindow(const MBReader& r) : buf(r.buf), pos(r.pos), end(r.end) { load(); }
  inline void load() {
    uint64_t v;
    std::memcpy(&v, buf + (pos >> 3), 8);
    w = __builtin_bswap64(v) << (pos & 7);
    avail = 64 - static_cast<int>(pos & 7);
  }
  // n in 1..32
  inline uint32_t show(int n) {
    if (avail < n) load();
    return static_cast<uint32_t>(w >> (64 - n));
  }
  // n in 0..32
  inline void skip(int n) {
    pos += static_cast<size_t>(n);
    w <<= n;
    avail -= n;
  }
  inline uint32_t get(int n) {
    const uint32_t v = show(n);
    skip(n);
    return v;
  }
  inline uint32_t get1() { return get(1); }
  inline bool overrun() const { return pos > end; }
  inline void store(MBReader& r) const { r.pos = pos; }
};

