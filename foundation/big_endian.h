// Big-endian loads of MPEG's byte-aligned fields. Unaligned pointers are
// fine: each load is one memcpy and a byte swap.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t load_be16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return __builtin_bswap16(v);
}

inline uint32_t load_be32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return __builtin_bswap32(v);
}

inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}
