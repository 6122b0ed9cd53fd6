// Lowest output rates of a clip for each output kind, and the minimum
// multiplex rates of program and transport streams they are built from.
#pragma once

#include "mux/mux_rates.h"

class DTV;
class MPEG_Clip;

// out[0] video bit rate, [1] kind 4, [2] Video CD (0 when not conformant),
// [3] kind 6, [4] transport. 0 success, 1 failure.
int dtv_minimum_output_bit_rate(const MPEG_Clip* clip, int out[5]);
int dtv_minimum_output_bit_rate_of_dtv(DTV* dtv, const MPEG_Clip* clip, int out[5]);
