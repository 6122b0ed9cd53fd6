#include "foundation/start_code.h"

#include <algorithm>
#include <cstring>

#include "foundation/start_code_kernels.h"
#include "foundation/trace.h"

// Slice data holds a 0x01 byte every few dozen bytes, so a search for the
// 01 of 00 00 01 would stop very often, while two zero bytes in a row hardly
// occur outside start codes. The scan therefore asks of 32 bytes at a time
// whether they hold a zero pair (a loop the compiler turns into vector
// compares) and looks for the prefix only in blocks that do.
int64_t start_code_scan_c(const uint8_t* data, int64_t length) {
  if (!data || length < 4) return -1;
  const int64_t last = length - 4;  // the last offset a whole code fits at
  constexpr int kBlock = 32;
  int64_t s = 0;
  while (s <= last) {
    if (s + kBlock + 1 <= length) {  // the pair test reads one byte past the block
      uint8_t low = 0xFF;
      for (int k = 0; k < kBlock; ++k) low = std::min<uint8_t>(low, data[s + k] | data[s + k + 1]);
      if (low != 0) {
        s += kBlock;
        continue;
      }
    }
    // Byte 2 of a prefix is 01 and bytes 0 and 1 are zero: a byte above 1
    // rules out three places, a nonzero byte two.
    const int64_t end = std::min<int64_t>(s + kBlock, last + 1);
    while (s < end) {
      if (data[s + 2] > 1) {
        s += 3;
      } else if (data[s + 1] != 0) {
        s += 2;
      } else if (data[s] == 0 && data[s + 2] == 1) {
        return s;
      } else {
        ++s;
      }
    }
  }
  return -1;
}

namespace {
const StartCodeDsp kPlain = {start_code_scan_c};
}  // namespace

const StartCodeDsp* start_code_dsp_for(CpuLevel level) {
  switch (level) {
    case CpuLevel::c: return &kPlain;
#if TAMSEL_X86_SIMD
    case CpuLevel::sse2: return &start_code_dsp_sse2;
    case CpuLevel::avx2: return &start_code_dsp_avx2;
#endif
    default: return nullptr;
  }
}

const StartCodeDsp& start_code_dsp() {
  static const StartCodeDsp& dsp = cpu_pick(start_code_dsp_for);
  return dsp;
}

int start_code_next(const uint8_t* data, int length, int* code) {
  StartCodeCursor c(data, length);
  c.next();
  *code = c.code();
  return c.found() ? static_cast<int>(c.offset()) : -1;
}

int start_code_find(const uint8_t* data, int length, int code, int need) {
  if (!data || length < need) return -1;
  StartCodeCursor c(data, length);
  // A later copy would have even fewer bytes behind it.
  if (!c.find(code) || c.left() < need) return -1;
  return static_cast<int>(c.offset());
}

int start_code_find_extension(const uint8_t* data, int length, int id, int need) {
  if (!data || length < need) return -1;
  StartCodeCursor c(data, length);
  while (c.find(0xB5) && c.left() >= need)
    if ((data[c.offset() + 4] >> 4) == id) return static_cast<int>(c.offset());
  return -1;
}

int start_code_unit_end(const uint8_t* data, int length, int at, int* code) {
  StartCodeCursor c(data, length);
  c.seek(static_cast<int64_t>(at) + 4);
  c.next();
  *code = c.code();
  return c.found() ? static_cast<int>(c.offset()) : length;
}

void start_code_put(BitWriter& bw, uint32_t code) {
  bw.align_zero();
  bw.put_bits(code, 32);
}

void start_code_put_extension(BitWriter& bw, int id) {
  start_code_put(bw, 0x000001B5);
  bw.put_bits(static_cast<uint32_t>(id), 4);
}

int start_code_end_unit(BitWriter& bw) {
  bw.align_zero();
  return static_cast<int>((bw.bit_count() + 7) / 8);
}

int start_code_finish(BitWriter& bw, int size, const char* who) {
  bw.align_zero();
  const uint64_t wanted = (bw.bit_count() + 7) / 8;
  const int written = static_cast<int>(bw.flush());
  if (bw.overflow()) {
    trace("%s (ERROR): header needs %d bytes, buffer has %d\n", who, static_cast<int>(wanted), size);
    return 0;
  }
  return written;
}
