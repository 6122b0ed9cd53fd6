#pragma once
#include <cstddef>
#include <cstdint>

// CRC-16 with the generator x^16 + x^15 + x^2 + 1 (0x8005), most significant
// bit first, no final inversion: the check word of MPEG audio and AC-3.
// Callers pass the register's start value (0xFFFF for MPEG audio, 0 for AC-3).

// The register after the bytes p[0..n).
uint16_t crc16_8005(uint16_t crc, const uint8_t* p, size_t n);

// The register after the 16-bit word w, high byte first.
uint16_t crc16_8005_word(uint16_t crc, uint16_t w);

// The register after the low `bits` bits of value (0..32), high bit first.
uint16_t crc16_8005_bits(uint16_t crc, uint32_t value, int bits);
