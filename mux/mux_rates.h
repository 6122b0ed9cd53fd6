// The minimum multiplex rates of program and transport streams for a set
// of elementary streams.
#pragma once

// Lowest program-stream rate (bit/s) for n elementary streams of the given
// bit rates and stream types (2/3 video, 1 MPEG audio, 9 AC-3, 10 LPCM) in
// output kind 4 (MPEG-1 System), 5 (Video CD) or 6 (MPEG-2 Program); 0 when
// refused (no video stream, bad input).
int program_min_mux_rate(int kind, int n, const int* rates, const int* types);
// Lowest transport-stream rate for the same streams.
int transport_min_mux_rate(int n, const int* rates, const int* types);
