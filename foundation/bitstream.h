// Big-endian bit reader and bit writer over caller-owned memory.
// Neither allocates nor does I/O; both sit in the decoders' and encoders'
// inner loops, so everything here is inline.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// mask[n] = 2^n - 1 for n = 0..32.
extern const uint32_t bs_mask[33];

inline uint64_t bs_load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

// Reader. The window holds `held` valid bits in its low end; the next bit to
// read is bit held-1. A 64-bit window lets any read of up to 32 bits be served
// by one fill, and bits past the end of the range read as zeros.
class BS {
 public:
  BS() = default;
  BS(const uint8_t* start, size_t length) { init(start, length); }

  // Binds the range and loads the window (the constructor's work).
  void init(const uint8_t* start, size_t length) {
    start_ = start;
    end_ = start + length;
    refill();
  }

  // Restarts at the beginning of the range.
  void refill() {
    pos_ = start_;
    held_ = 0;
    window_ = 0;
    fill_window();
  }

  // Tops the window up to at least 57 bits while data remain.
  void fill_window() {
    if (held_ > 56) return;
    if (end_ - pos_ >= 8) {
      const int take = (64 - held_) >> 3;
      const uint64_t v = bs_load_be64(pos_);
      window_ = take == 8 ? v : (window_ << (take * 8)) | (v >> (64 - take * 8));
      pos_ += take;
      held_ += take * 8;
    } else {
      while (held_ <= 56 && pos_ < end_) {
        window_ = (window_ << 8) | *pos_++;
        held_ += 8;
      }
    }
  }

  // n bits (0..32) as an unsigned value; out-of-range n returns 0 and
  // consumes nothing. Bits beyond the end read as zeros.
  uint32_t get_bits(int n) {
    if (static_cast<unsigned>(n) > 32u || n == 0) return 0;
    if (n > held_) {
      fill_window();
      if (n > held_) {  // end of data: pad with zeros
        window_ <<= (n - held_);
        held_ = n;
      }
    }
    held_ -= n;
    return static_cast<uint32_t>(window_ >> held_) & bs_mask[n];
  }

  // Peeks n bits (0..32) without consuming them.
  uint32_t show_bits(int n) {
    if (static_cast<unsigned>(n) > 32u || n == 0) return 0;
    if (n > held_) {
      fill_window();
      if (n > held_) return static_cast<uint32_t>((window_ << (n - held_))) & bs_mask[n];
    }
    return static_cast<uint32_t>(window_ >> (held_ - n)) & bs_mask[n];
  }

  uint32_t get_bit() { return get_bits(1); }

  // Skips n bits (0..32); out-of-range n does nothing. Stops at the end.
  void skip_bits(int n) {
    if (static_cast<unsigned>(n) > 32u) return;
    if (n <= held_) {
      held_ -= n;
      return;
    }
    n -= held_;
    held_ = 0;
    fill_window();
    held_ -= n < held_ ? n : held_;
  }

  // Copies up to n bytes from the next byte boundary (a partial byte in the
  // window is dropped). Returns the bytes delivered; the window stays empty
  // of what was copied and is not refilled.
  int read_bytes(uint8_t* dst, int n) {
    if (n < 1) return 0;
    held_ &= ~7;
    int done = 0;
    while (held_ >= 8 && done < n) {
      held_ -= 8;
      dst[done++] = static_cast<uint8_t>(window_ >> held_);
    }
    if (done < n) {
      size_t left = static_cast<size_t>(end_ - pos_);
      size_t want = static_cast<size_t>(n - done);
      size_t take = want < left ? want : left;
      if (take) std::memcpy(dst + done, pos_, take);
      pos_ += take;
      done += static_cast<int>(take);
    }
    return done;
  }

  // Skips up to n bytes from the next byte boundary; returns the bytes
  // skipped.
  int skip_bytes(int n) {
    if (n < 1) return 0;
    const int in_window = held_ >> 3;
    if (in_window >= n) {
      held_ = (in_window - n) * 8;
      return n;
    }
    held_ = 0;
    size_t left = static_cast<size_t>(end_ - pos_);
    size_t want = static_cast<size_t>(n - in_window);
    size_t take = want < left ? want : left;
    pos_ += take;
    return in_window + static_cast<int>(take);
  }

  // Drops bits up to the next byte boundary.
  void align() { held_ &= ~7; }

  // Bits consumed since the start of the range.
  uint64_t bit_position() const {
    return static_cast<uint64_t>(pos_ - start_) * 8 - static_cast<uint64_t>(held_);
  }
  // Bits not yet consumed (excluding zero padding).
  int64_t bits_left() const { return static_cast<int64_t>(end_ - pos_) * 8 + held_; }
  bool at_end() const { return pos_ >= end_ && held_ == 0; }

  const uint8_t* start() const { return start_; }
  size_t length() const { return static_cast<size_t>(end_ - start_); }
  int held() const { return held_; }

 private:
  const uint8_t* start_ = nullptr;
  const uint8_t* pos_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint64_t window_ = 0;
  int held_ = 0;
};

// Writer. Bits are gathered from bit 31 of a 32-bit accumulator down and
// stored big-endian. Nothing is ever written at or past end; bytes that do
// not fit are dropped, and flush() reports the bytes actually in the buffer.
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
      for (int shift = 24; shift >= 0 && pos_ < end_; shift -= 8) *pos_++ = static_cast<uint8_t>(acc_ >> shift);
    }
    acc_ = 0;
    free_ = 32;
  }

  // Writes the pending bits as whole bytes, the last padded with zeros.
  void flush_bytes() {
    const int bytes = (32 - free_ + 7) / 8;
    for (int i = 0; i < bytes && pos_ < end_; ++i) *pos_++ = static_cast<uint8_t>(acc_ >> (24 - 8 * i));
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

  // Bits written so far, pending accumulator bits included (exact even
  // when the buffer has overflowed: counts what was asked to be written).
  uint64_t bit_count() const {
    return static_cast<uint64_t>(pos_ - start_) * 8 + static_cast<uint64_t>(32 - free_);
  }
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
};
