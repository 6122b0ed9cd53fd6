// Start codes: one scan kernel family, one cursor that walks a byte span
// from start code to start code, and the writer steps shared by the video
// header records (sequence, GOP, picture). Every finder in the system (the
// utils_* scans, the video finders, the header decoders, the GOP walks) is
// a thin layer over the cursor, so they all agree on where a code is.
#pragma once

#include <cstdint>

#include "foundation/bitstream.h"
#include "foundation/cpu.h"

// Scan kernels, one table per CPU level (see cpu.h). `scan` returns the
// offset of the first 00 00 01 whose code byte lies inside the data (so at
// most length - 4), or -1; no data or fewer than 4 bytes give -1. Every level
// returns the same offset.
struct StartCodeDsp {
  int64_t (*scan)(const uint8_t* data, int64_t length);
};
const StartCodeDsp* start_code_dsp_for(CpuLevel level);
const StartCodeDsp& start_code_dsp();

// Cursor over data[0, length): yields the start codes in order as (offset,
// code byte). Before the first move offset() is -1; after a move that finds
// nothing offset() is length() and code() is -1. Reads no byte outside the
// span.
class StartCodeCursor {
 public:
  StartCodeCursor(const uint8_t* data, int64_t length)
      : data_(data), length_(data && length > 0 ? length : 0), scan_(start_code_dsp().scan) {}

  // The next start code: the first one of the span, then the one after the
  // current. A prefix cannot begin inside the current one's first three
  // bytes, so the search resumes at its code byte.
  bool next() { return land([](uint8_t) { return true; }); }
  // The next start code whose code byte is `code` (0..255).
  bool find(int code) {
    const uint8_t want = static_cast<uint8_t>(code);
    return land([want](uint8_t c) { return c == want; });
  }
  // The next start code whose code byte `want` takes.
  template <class Want>
  bool find_if(Want want) {
    return land(want);
  }
  // Moves to the end of the current unit: the first start code that begins
  // behind its four bytes. Returns its offset, or length() when the unit
  // runs to the end of the span.
  int64_t unit_end() {
    if (at_ >= 0 && from_ < at_ + 4) seek(at_ + 4);
    next();
    return at_;
  }
  // The next move searches from `pos` (clamped to the span).
  void seek(int64_t pos) { from_ = pos < 0 ? 0 : pos > length_ ? length_ : pos; }

  int64_t offset() const { return at_; }
  int code() const { return code_; }
  bool found() const { return code_ >= 0; }
  // Bytes from the current start code to the end of the span.
  int64_t left() const { return at_ < 0 ? length_ : length_ - at_; }
  const uint8_t* data() const { return data_; }
  int64_t length() const { return length_; }

 private:
  template <class Want>
  bool land(Want want) {
    while (length_ - from_ >= 4) {
      const int64_t k = scan_(data_ + from_, length_ - from_);
      if (k < 0) break;
      const int64_t at = from_ + k;
      from_ = at + 3;
      if (want(data_[at + 3])) {
        at_ = at;
        code_ = data_[at + 3];
        return true;
      }
    }
    from_ = at_ = length_;
    code_ = -1;
    return false;
  }

  const uint8_t* data_;
  int64_t length_;
  int64_t (*scan_)(const uint8_t*, int64_t);
  int64_t from_ = 0;
  int64_t at_ = -1;
  int code_ = -1;
};

// Offset of the first 00 00 01 xx with want(xx) true, or -1 (also for no
// data or fewer than 4 bytes).
template <class Want>
inline int64_t start_code_scan(const uint8_t* data, int64_t length, Want want) {
  StartCodeCursor c(data, length);
  return c.find_if(want) ? c.offset() : -1;
}

// The code byte xx when data[at, at + 4) lies inside [0, length) and reads
// 00 00 01 xx; -1 otherwise. For tests at a known place (a pack's first
// bytes, the end of a unit); walks go through the cursor.
inline int start_code_at(const uint8_t* data, int64_t length, int64_t at) {
  if (!data || at < 0 || at + 4 > length) return -1;
  const uint8_t* p = data + at;
  return p[0] == 0 && p[1] == 0 && p[2] == 1 ? p[3] : -1;
}

// True when the span's last three bytes are 00 00 01: a prefix whose code
// byte lies behind the span (for data that a start code will follow).
inline bool start_code_prefix_at_end(const uint8_t* data, int64_t length) {
  if (!data || length < 3) return false;
  const uint8_t* p = data + length - 3;
  return p[0] == 0 && p[1] == 0 && p[2] == 1;
}

// Offset of the first 00 00 01 xx in data with *code = xx; -1 with
// *code = -1 when there is none.
[[nodiscard]] int start_code_next(const uint8_t* data, int length, int* code);

// Offset of the first 00 00 01 `code` with at least `need` bytes from it
// (need >= 4); -1 when there is none.
[[nodiscard]] int start_code_find(const uint8_t* data, int length, int code, int need);

// The same for an extension: 00 00 01 B5 whose next byte carries `id` in
// its high nibble (need >= 5).
[[nodiscard]] int start_code_find_extension(const uint8_t* data, int length, int id, int need);

// End of the unit whose start code is at `at`: the offset of the next start
// code behind it (its xx in *code), or length with *code = -1.
[[nodiscard]] int start_code_unit_end(const uint8_t* data, int length, int at, int* code);

// Aligns the writer with zero bits and puts the 32-bit start code.
void start_code_put(BitWriter& bw, uint32_t code);
// 00 00 01 B5 and the 4-bit extension id.
void start_code_put_extension(BitWriter& bw, int id);
// Aligns the writer with zero bits; the bytes it holds so far.
int start_code_end_unit(BitWriter& bw);
// Aligns and flushes a header written into a buffer of `size` bytes.
// Returns the bytes written, or 0 (traced under `who`) when the header did
// not fit: a cut-off header must not pass for a whole one.
[[nodiscard]] int start_code_finish(BitWriter& bw, int size, const char* who);
