// Byte position in a media file. Seen from outside as a low word below 2^31
// and a count of 2^31 units; held as one 64-bit value. Arithmetic never goes
// below zero: subtraction stops at 0.
#pragma once

#include <compare>
#include <cstdint>

class FileOffset {
 public:
  static constexpr uint32_t kUnit = 0x80000000u;  // 2^31

  constexpr FileOffset() = default;
  // From an unsigned 32-bit value (same as set).
  constexpr FileOffset(uint32_t v) : v_(v) {}  // NOLINT: implicit on purpose, offsets come from sizes
  constexpr FileOffset(const FileOffset&) = default;
  constexpr FileOffset& operator=(const FileOffset&) = default;

  static constexpr FileOffset from_u64(uint64_t v) {
    FileOffset f;
    f.v_ = v;
    return f;
  }
  constexpr uint64_t value() const { return v_; }
  constexpr uint32_t low() const { return static_cast<uint32_t>(v_ & (kUnit - 1)); }
  constexpr uint32_t high() const { return static_cast<uint32_t>(v_ >> 31); }

  void zero() { v_ = 0; }
  void set(uint32_t v) { v_ = v; }
  // One carry only: a low word >= 2^31 moves one unit into the count.
  void set_pair(uint32_t low, uint32_t high) { v_ = (static_cast<uint64_t>(high) << 31) + low; }
  void assign(const FileOffset& other) { v_ = other.v_; }

  void add_offset(const FileOffset& other) { v_ += other.v_; }
  void sub_offset(const FileOffset& other) { v_ = v_ >= other.v_ ? v_ - other.v_ : 0; }
  // Signed step; a result below zero becomes zero. Takes 64 bits so that both
  // signed and unsigned 32-bit steps pass without wrapping.
  void add(int64_t d) {
    if (d >= 0)
      v_ += static_cast<uint64_t>(d);
    else
      v_ = v_ >= static_cast<uint64_t>(-(d + 1)) + 1 ? v_ - (static_cast<uint64_t>(-(d + 1)) + 1) : 0;
  }
  void sub(int64_t d) {
    if (d >= 0)
      v_ = v_ >= static_cast<uint64_t>(d) ? v_ - static_cast<uint64_t>(d) : 0;
    else
      v_ += static_cast<uint64_t>(-(d + 1)) + 1;
  }

  static FileOffset plus(const FileOffset& a, const FileOffset& b) {
    FileOffset r = a;
    r.add_offset(b);
    return r;
  }
  static FileOffset minus(const FileOffset& a, const FileOffset& b) {
    FileOffset r = a;
    r.sub_offset(b);
    return r;
  }
  static FileOffset plus_int(const FileOffset& a, int64_t d) {
    FileOffset r = a;
    r.add(d);
    return r;
  }
  static FileOffset minus_int(const FileOffset& a, int64_t d) {
    FileOffset r = a;
    r.sub(d);
    return r;
  }

  bool equals(const FileOffset& o) const { return v_ == o.v_; }
  bool not_equals(const FileOffset& o) const { return v_ != o.v_; }
  bool greater_or_equal(const FileOffset& o) const { return v_ >= o.v_; }
  bool greater(const FileOffset& o) const { return v_ > o.v_; }
  bool less_or_equal(const FileOffset& o) const { return v_ <= o.v_; }
  bool less(const FileOffset& o) const { return v_ < o.v_; }

  double to_double() const { return static_cast<double>(v_); }
  // Negative (and NaN) gives 0; the fraction is dropped.
  void from_double(double x);
  // Rounds down to a multiple of 2048 (a DVD sector).
  void align_sector() { v_ &= ~static_cast<uint64_t>(2047); }

  friend bool operator==(const FileOffset& a, const FileOffset& b) { return a.v_ == b.v_; }
  friend auto operator<=>(const FileOffset& a, const FileOffset& b) { return a.v_ <=> b.v_; }

 private:
  uint64_t v_ = 0;
};
