// Lowest output rates of a clip for each output kind, and the minimum
// multiplex rates of program and transport streams they are built from.
#pragma once

class DTV;
class MPEG_Clip;

// Lowest program-stream rate (bit/s) for n elementary streams of the given
// bit rates and stream types (2/3 video, 1 MPEG audio, 9 AC-3, 10 LPCM) in
// output kind 4 (MPEG-1 System), 5 (Video CD) or 6 (MPEG-2 Program); 0 when
// refused (no video stream, bad input).
int program_min_mux_rate(int kind, int n, const int* rates, const int* types);
// Lowest transport-stream rate for the same streams.
int transport_min_mux_rate(int n, const int* rates, const int* types);

// out[0] video bit rate, [1] kind 4, [2] Video CD (0 when not conformant),
// [3] kind 6, [4] transport. 0 success, 1 failure.
int dtv_minimum_output_bit_rate(const MPEG_Clip* clip, int out[5]);
int dtv_minimum_output_bit_rate_of_dtv(DTV* dtv, const MPEG_Clip* clip, int out[5]);
