// In-place rewriters of single fields of coded video (sequence bit rate, GOP
// time code, temporal_reference, top_field_first), renumbering of a GOP's
// temporal references, the sequence end code of a file, and the two Video CD
// header sectors. Each rewriter finds the first header of its kind in a
// buffer that holds coded data from anywhere before it, and changes only the
// bits of its field; when the header is missing or cut short the buffer is
// left untouched.
#pragma once

#include <cstdint>

class BSFile;

// bit_rate_value of the first sequence header: bit_rate itself when raw is
// set, else (bit_rate + 399) / 400. Values beyond the 18-bit field become
// 0x3FFFE (0x3FFFF stays reserved for VBR: only a raw 0x3FFFF writes it); a
// bit rate below 1 is refused. The sequence extension's high bits are not
// touched. 1 when the field was rewritten, 0 when it already held the value
// or nothing was done.
int utils_set_seq_bit_rate(uint8_t* buffer, int64_t length, int64_t bit_rate, int raw);

// The first GOP header's 25-bit time code becomes word (marker bit set). 1
// when it changed, else 0.
int utils_set_gop_time_code(uint8_t* buffer, int64_t length, uint32_t word);

// Moves the first GOP header's time code by frames, keeping its drop-frame
// flag. A GOP header does not carry the frame rate: the counting uses
// frame_rate when it is an MPEG rate, else 29.97 (so pass the stream's rate
// for anything but 29.97). 1 when a header was rewritten, else 0.
int utils_shift_gop_time_code(uint8_t* buffer, int64_t length, int frames, double frame_rate = 0.0);

// The first picture header's 10-bit temporal_reference (value & 0x3FF). 1
// when it changed, 0 when it already held the value or there is no whole
// field.
int utils_set_temporal_reference(uint8_t* buffer, int64_t length, int value);

// top_field_first of the picture coding extension of the first picture: set
// for flag >= 1, else cleared. The extension must be the next start code
// after the picture header (user data may come between). 0 on success; 1 when
// there is no picture header or no such extension.
int utils_set_top_field_first(uint8_t* buffer, int64_t length, int flag);

// Renumbers the temporal references of the pictures of one or more GOPs in
// coded order (a B picture gets the count of pictures before it in its GOP
// minus 1; an I or P picture gets it when the next anchor, GOP or sequence
// header, or the end arrives; the second field of a pair takes its first
// field's). Returns the fields covered by the B pictures directly after the
// first I picture. Per-anchor field counts are not provided: out is left as
// it is.
int utils_gop_temporal_reference(uint8_t* buffer, int64_t length, int* out = nullptr, int maximum = 0);

// Write 00 00 01 B9 / 00 00 01 B7 at the file's position; the bytes written
// (0 without a file).
[[nodiscard]] int utils_bsf_write_program_end_code(BSFile* file);
[[nodiscard]] int utils_bsf_write_sequence_end_code(BSFile* file);

// Appends 00 00 01 B7 to a file whose last 128 bytes hold none (overwriting
// four zero bytes at the very end instead, when there are). The bytes
// written: 4, or 0 when nothing was written.
int check_sequence_end(const char* name);

// Bytes needed by vcd_mux_system_headers.
constexpr int kVcdSystemHeaderBytes = 4648;
// The two Video CD header sectors (video, then audio system header) with
// their pack headers at scr and scr + 1200 (90 kHz ticks), padded, and 20
// zero bytes. Returns 4648, or 0 when length is shorter.
int vcd_mux_system_headers(uint8_t* buffer, int64_t length, double scr);
