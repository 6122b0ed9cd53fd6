// Big-endian bit reader and bit writer over caller-owned memory.
// Neither allocates nor does I/O; both sit in the decoders' and encoders'
// inner loops, so everything here is inline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "foundation/big_endian.h"

// mask[n] = 2^n - 1 for n = 0..32.
extern const uint32_t bs_mask[33];

// Reader. Keeps only the count of bits consumed: each read loads the eight
// bytes that hold its bits with one unaligned big-endian load, so the calls
// depend on each other through one addition and run in parallel. Reads in
// the last seven bytes take a byte-wise path; bits past the end read as
// zeros and the position stops at the end.
//
// A read, skip or byte copy that runs past the end sets a sticky error flag
// (peeks do not), so a header parser can read all its fields and check
// error() once at the end. Only the byte-wise path can run past the end, so
// the flag costs the fast path nothing.
class BS {
 public:
  BS() = default;
  BS(const uint8_t* start, size_t length) { init(start, length); }

  // Binds the range and starts at its beginning (the constructor's work).
  void init(const uint8_t* start, size_t length) {
    start_ = start;
    end_ = start + length;
    bits_ = static_cast<uint64_t>(length) * 8;
    fast_end_ = length >= 8 ? static_cast<uint64_t>(length - 7) * 8 : 0;
    bit_ = 0;
    error_ = false;
  }

  // Restarts at the beginning of the range and clears the error flag.
  void refill() {
    bit_ = 0;
    error_ = false;
  }

  // True once a read has run past the end; stays set until init or refill.
  bool error() const { return error_; }

  // Every read loads its own bytes: there is no window to top up. Kept so
  // that callers written against a window reader need no change.
  void fill_window() {}

  // n bits (0..32) as an unsigned value; out-of-range n returns 0 and
  // consumes nothing. Bits beyond the end read as zeros.
  uint32_t get_bits(int n) {
    if (static_cast<unsigned>(n) - 1u > 31u) return 0;
    if (__builtin_expect(bit_ < fast_end_, 1)) {
      const uint64_t v = load_be64(start_ + (bit_ >> 3)) << (bit_ & 7);
      bit_ += static_cast<unsigned>(n);
      return static_cast<uint32_t>(v >> (64 - n));
    }
    const uint32_t r = static_cast<uint32_t>(load_tail() >> (64 - n));
    advance(static_cast<unsigned>(n));
    return r;
  }

  // Peeks n bits (0..32) without consuming them.
  uint32_t show_bits(int n) const {
    if (static_cast<unsigned>(n) - 1u > 31u) return 0;
    if (__builtin_expect(bit_ < fast_end_, 1))
      return static_cast<uint32_t>((load_be64(start_ + (bit_ >> 3)) << (bit_ & 7)) >> (64 - n));
    return static_cast<uint32_t>(load_tail() >> (64 - n));
  }

  uint32_t get_bit() { return get_bits(1); }

  // Skips n bits (0..32); out-of-range n does nothing. Stops at the end.
  void skip_bits(int n) {
    if (static_cast<unsigned>(n) > 32u) return;
    advance(static_cast<unsigned>(n));
  }

  // Copies up to n bytes from the next byte boundary (a partial byte is
  // dropped). Returns the bytes delivered; fewer than n sets the error flag.
  int read_bytes(uint8_t* dst, int n) {
    if (n < 1) return 0;
    align();
    const size_t at = static_cast<size_t>(bit_ >> 3);
    const size_t left = static_cast<size_t>(end_ - start_) - at;
    const size_t take = static_cast<size_t>(n) < left ? static_cast<size_t>(n) : left;
    if (take) std::memcpy(dst, start_ + at, take);
    bit_ += static_cast<uint64_t>(take) * 8;
    if (take < static_cast<size_t>(n)) error_ = true;
    return static_cast<int>(take);
  }

  // Skips up to n bytes from the next byte boundary; returns the bytes
  // skipped (fewer than n sets the error flag).
  int skip_bytes(int n) {
    if (n < 1) return 0;
    align();
    const uint64_t left = (bits_ - bit_) >> 3;
    const uint64_t take = static_cast<uint64_t>(n) < left ? static_cast<uint64_t>(n) : left;
    bit_ += take * 8;
    if (take < static_cast<uint64_t>(n)) error_ = true;
    return static_cast<int>(take);
  }

  // Drops bits up to the next byte boundary.
  void align() { bit_ = (bit_ + 7) & ~static_cast<uint64_t>(7); }

  // Bits consumed since the start of the range.
  uint64_t bit_position() const { return bit_; }
  // Bits not yet consumed (excluding zero padding).
  int64_t bits_left() const { return static_cast<int64_t>(bits_ - bit_); }
  bool at_end() const { return bit_ >= bits_; }

  const uint8_t* start() const { return start_; }
  size_t length() const { return static_cast<size_t>(end_ - start_); }
  // Bits a window reader would hold here: what is left, at most 64.
  int held() const { return bits_ - bit_ < 64 ? static_cast<int>(bits_ - bit_) : 64; }

 private:
  // The 64 bits from the position, byte-wise, zeros past the end.
  uint64_t load_tail() const {
    const size_t at = static_cast<size_t>(bit_ >> 3);
    const size_t len = static_cast<size_t>(end_ - start_);
    uint64_t v = 0;
    for (size_t i = 0; i < 8; ++i) v = (v << 8) | (at + i < len ? start_[at + i] : 0u);
    return v << (bit_ & 7);
  }
  void advance(unsigned n) {
    if (bits_ - bit_ >= n) {
      bit_ += n;
    } else {
      bit_ = bits_;
      error_ = true;
    }
  }

  const uint8_t* start_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t bit_ = 0;       // bits consumed
  uint64_t bits_ = 0;      // bits in the range
  uint64_t fast_end_ = 0;  // positions below this can load 8 bytes
  bool error_ = false;
};

// Writer. Bits are gathered from bit 31 of a 32-bit accumulator down and
// stored big-endian. Nothing is ever written at or past end: bytes that do
// not fit are dropped and set the sticky overflow flag. flush() reports the
// bytes actually in the buffer, bit_count() the bits asked for, dropped ones
// included, so a caller can tell how much room a whole record needs.
class BitWriter {
 public:
  BitWriter() = default;
  BitWriter(uint8_t* buffer, size_t size, int keep = 1) { init(buffer, size, keep); }
  ~BitWriter() = default;

  void init(uint8_t* buffer, size_t size, int keep) {
    start_ = buffer;
    end_ = buffer + size;
    reset(keep);
  }

  // keep == 0 zeroes the whole buffer first.
  void reset(int keep) {
    if (!keep && start_ && end_ > start_) std::memset(start_, 0, static_cast<size_t>(end_ - start_));
    acc_ = 0;
    pos_ = start_;
    free_ = 32;
    dropped_ = 0;
  }

  // Appends the low n bits (0..32) of value.
  void put_bits(uint32_t value, int n) {
    if (static_cast<unsigned>(n) > 32u || n == 0) return;
    const uint32_t v = value & bs_mask[n];
    if (free_ < n) {
      const int r = n - free_;
      acc_ |= v >> r;
      write_word();
      acc_ = r ? static_cast<uint32_t>((static_cast<uint64_t>(v & bs_mask[r])) << (32 - r)) : 0;
      free_ = 32 - r;
    } else {
      free_ -= n;
      acc_ |= static_cast<uint32_t>(static_cast<uint64_t>(v) << free_);
      if (free_ == 0) write_word();
    }
  }

  // Writes all four accumulator bytes (as many as fit), then empties it.
  void write_word() {
    if (end_ - pos_ >= 4) {
      const uint32_t be = __builtin_bswap32(acc_);
      std::memcpy(pos_, &be, 4);
      pos_ += 4;
    } else {
      int shift = 24;
      for (; shift >= 0 && pos_ < end_; shift -= 8) *pos_++ = static_cast<uint8_t>(acc_ >> shift);
      dropped_ += static_cast<uint64_t>(shift + 8) / 8;
    }
    acc_ = 0;
    free_ = 32;
  }

  // Writes the pending bits as whole bytes, the last padded with zeros.
  void flush_bytes() {
    const int bytes = (32 - free_ + 7) / 8;
    int i = 0;
    for (; i < bytes && pos_ < end_; ++i) *pos_++ = static_cast<uint8_t>(acc_ >> (24 - 8 * i));
    dropped_ += static_cast<uint64_t>(bytes - i);
    acc_ = 0;
    free_ = 32;
  }

  // flush_bytes, then advances pos by skip (clamped); returns bytes used.
  size_t flush(size_t skip = 0) {
    flush_bytes();
    const size_t room = static_cast<size_t>(end_ - pos_);
    pos_ += skip < room ? skip : room;
    return static_cast<size_t>(pos_ - start_);
  }

  // Flushes and detaches from the buffer.
  void finish() {
    flush_bytes();
    start_ = pos_ = end_ = nullptr;
    acc_ = 0;
    free_ = 32;
  }

  // Bits asked to be written so far, pending accumulator bits included; exact
  // after an overflow too. A flush pads to a whole byte, fitting or not.
  uint64_t bit_count() const {
    return (static_cast<uint64_t>(pos_ - start_) + dropped_) * 8 + static_cast<uint64_t>(32 - free_);
  }
  // True once a byte did not fit; stays set until init or reset.
  bool overflow() const { return dropped_ != 0; }
  // Pads with zero bits up to the next byte boundary.
  void align_zero() {
    const int pad = free_ & 7;
    if (pad) put_bits(0, pad);
  }

  uint8_t* start() const { return start_; }
  uint8_t* pos() const { return pos_; }
  uint8_t* end() const { return end_; }
  int free_bits() const { return free_; }

 private:
  uint8_t* start_ = nullptr;
  uint8_t* pos_ = nullptr;
  uint8_t* end_ = nullptr;
  uint32_t acc_ = 0;
  int free_ = 32;
  uint64_t dropped_ = 0;  // bytes that did not fit
};
