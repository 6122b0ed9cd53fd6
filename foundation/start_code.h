// Start-code scans and writer steps shared by the video header records
// (sequence, GOP, picture): finding a header with enough bytes behind it,
// walking from one coded unit to the next, and opening and closing units in
// a BitWriter.
#pragma once

#include <cstdint>
#include <cstring>

#include "foundation/bitstream.h"

// Offset of the first 00 00 01 xx with want(xx) true, or -1 (also for no
// data or fewer than 4 bytes). memchr finds each 0x01 at memory speed; after
// one that is not taken the next prefix can end no sooner than three bytes on.
template <class Want>
inline int64_t start_code_scan(const uint8_t* data, int64_t length, Want want) {
  if (!data || length < 4) return -1;
  const uint8_t* p = data + 2;
  const uint8_t* const last = data + length - 1;  // the 0x01 needs a byte after it
  while (p < last) {
    p = static_cast<const uint8_t*>(std::memchr(p, 1, static_cast<size_t>(last - p)));
    if (!p) break;
    if (p[-1] == 0 && p[-2] == 0 && want(p[1])) return p - 2 - data;
    p += 3;
  }
  return -1;
}

// Offset of the first 00 00 01 xx in data with *code = xx; -1 with
// *code = -1 when there is none.
int start_code_next(const uint8_t* data, int length, int* code);

// Offset of the first 00 00 01 `code` with at least `need` bytes from it
// (need >= 4); -1 when there is none.
int start_code_find(const uint8_t* data, int length, int code, int need);

// The same for an extension: 00 00 01 B5 whose next byte carries `id` in
// its high nibble (need >= 5).
int start_code_find_extension(const uint8_t* data, int length, int id, int need);

// End of the unit whose start code is at `at`: the offset of the next start
// code behind it (its xx in *code), or length with *code = -1.
int start_code_unit_end(const uint8_t* data, int length, int at, int* code);

// Aligns the writer with zero bits and puts the 32-bit start code.
void start_code_put(BitWriter& bw, uint32_t code);
// 00 00 01 B5 and the 4-bit extension id.
void start_code_put_extension(BitWriter& bw, int id);
// Aligns the writer with zero bits; the bytes it holds so far.
int start_code_end_unit(BitWriter& bw);
// Aligns and flushes a header written into a buffer of `size` bytes.
// Returns the bytes written, or 0 (traced under `who`) when the header did
// not fit: a cut-off header must not pass for a whole one.
int start_code_finish(BitWriter& bw, int size, const char* who);
