#include "foundation/start_code.h"

#include "foundation/trace.h"
#include "foundation/utils.h"

int start_code_next(const uint8_t* data, int length, int* code) {
  int c = 0;
  const int64_t k = utils_next_start_code(data, length, &c);
  if (!c) {
    *code = -1;
    return -1;
  }
  *code = c & 0xFF;
  return static_cast<int>(k);
}

int start_code_find(const uint8_t* data, int length, int code, int need) {
  if (!data || length < need) return -1;
  uint32_t found = 0;
  const int at = static_cast<int>(utils_next_usr_start_code(0x100u | static_cast<uint32_t>(code & 0xFF), data, length, &found));
  // A later copy would have even fewer bytes behind it.
  if (!found || length - at < need) return -1;
  return at;
}

int start_code_find_extension(const uint8_t* data, int length, int id, int need) {
  for (int at = 0;;) {
    const int k = start_code_find(data + at, length - at, 0xB5, need);
    if (k < 0) return -1;
    if ((data[at + k + 4] >> 4) == id) return at + k;
    at += k + 1;
  }
}

int start_code_unit_end(const uint8_t* data, int length, int at, int* code) {
  const int k = start_code_next(data + at + 4, length - at - 4, code);
  return k < 0 ? length : at + 4 + k;
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
  if (wanted > static_cast<uint64_t>(size)) {
    trace("%s (ERROR): header needs %d bytes, buffer has %d\n", who, static_cast<int>(wanted), size);
    return 0;
  }
  return written;
}
