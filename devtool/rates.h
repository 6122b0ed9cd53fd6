// The two bit rates the commands print, under one name each wherever they
// appear: header_bit_rate, what the stream's header says (a sequence header
// of all ones: vbr), and measured_bit_rate, the file's size x 8 over its
// duration.
#pragma once

#include <cstdint>
#include <string>

class SeqHdr;

std::string dev_header_bit_rate(const SeqHdr& seq);
// 0 when the duration is not known.
long long dev_measured_bit_rate(uint64_t bytes, double seconds);
