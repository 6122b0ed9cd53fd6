// Start-code finders of MPEG video elementary data. Shared by the
// demultiplexers' GOP parsers, the writer and the recorder; they are the
// hottest scans of the system: they run on the start-code scan kernel
// chosen for this processor (start_code_dsp()).
#pragma once

#include <cstdint>

// Offset of the next 00 00 01 followed by 00 (picture), B3 (sequence header)
// or B8 (GOP header); *code = 0x100 | that byte. None: *code = 0xFFF and the
// result is length - 4 (the bytes scanned); fewer than 4 bytes: 0 and 0xFFF.
[[nodiscard]] int find_next_header_start(const uint8_t* data, int length, int* code);

// The same for a picture (00) or GOP header (B8) only.
[[nodiscard]] int find_next_gop_or_picture_start(const uint8_t* data, int length, int* code);

// Offset of the sequence or GOP header that leads the next I picture (the
// picture's own offset when no header precedes it). *lead = distance from
// that header to the picture start code, or -1 when no I picture was found
// (the result is then the bytes scanned).
[[nodiscard]] int find_next_i_picture(const uint8_t* data, int length, int* lead);

// Offset of the picture coding extension (00 00 01 B5, id 8) of the picture
// whose start code is at `picture`: searched before the next picture, GOP,
// sequence header or sequence end; -1 when the picture has none or fewer
// than its 9 bytes lie inside the data.
[[nodiscard]] int find_picture_coding_ext(const uint8_t* data, int length, int picture);
