// The search for the next sequence, GOP or picture header in coded video,
// as find_next_header_start does it, for the GOP walk's hot loop.
#pragma once

#include <cstdint>

// Offset of the first 00 00 01 xx with xx 00 (picture), B3 (sequence) or B8
// (GOP), *code = 0x100 | xx; without one, length - 4 (0 for short or no
// data) with *code = 0xFFF.
int find_next_header(const uint8_t* data, int length, int* code);
