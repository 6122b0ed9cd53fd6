// Small shared helpers: start-code and packet scans over coded bytes, text
// trimming, file-name and file helpers, stream-description comparison.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/file_offset.h"

// Copies text without its leading and trailing white space into out (which
// may be text itself). The trailing white space of text is overwritten with
// terminators on the way.
void utils_strip_spaces(char* out, char* text);

// Offset of the first 00 00 01 xx, with *code = 0x100 + xx. None found:
// length - 3 (the last three bytes may begin a code) with *code = 0. Fewer
// than 4 bytes: 0 with *code = 0; no bytes or no code pointer: 0.
[[nodiscard]] int64_t utils_next_start_code(const uint8_t* bytes, int64_t length, int* code);

// Offset of the first position whose big-endian 32-bit word equals code,
// with *out_code = code. None found: length with *out_code = 0. Fewer than 4
// bytes or no bytes: 0. out_code may be null.
[[nodiscard]] int64_t utils_next_usr_start_code(uint32_t code, const uint8_t* bytes, int64_t length, uint32_t* out_code);

// Size of a file in bytes through a buffered stream; 0 when it cannot be
// opened.
int64_t utils_get_file_size(const char* name);

// Writes 00 00 01 B7 to an open stream; the bytes written (0 without a
// stream).
[[nodiscard]] int utils_write_sequence_end_code(FILE* stream);

// ---- more scans over coded bytes ----------------------------------------------

// Number of picture start codes 00 00 01 00 (0 for no bytes or length <= 0).
int utils_count_pictures(const uint8_t* bytes, int64_t length);

// First offset from which `packets` 188-byte packets all begin with 0x47,
// or -1. Candidates are offsets 0-187, or with `whole` every offset that
// leaves room for the packets. A buffer shorter than packets + 1 packets is
// checked for (length - 188) / 188 packets.
[[nodiscard]] int64_t utils_find_ts_sync(const uint8_t* bytes, int64_t length, int packets, int whole);

// Length of a PES packet header: 6 for the stream ids without the MPEG-2
// header extension (BC, BE, BF, F0, F1, F2, F8, FF), else 9 +
// PES_header_data_length. 0 when there is no 00 00 01 prefix, fewer than 9
// bytes, a stream id below BC, or byte 6 does not start with bits '10'. The
// result can exceed length: callers check it.
[[nodiscard]] int pes_header_length(const uint8_t* bytes, int64_t length);

// ---- stream descriptions ------------------------------------------------------

struct VideoInfo;
// 1 when the two records differ in coding format (kind, MPEG-2 flag, size,
// chroma format, aspect ratio, frame rate by 0.0001 or more); 0 when they
// agree. Bit rate, VBR and drop-frame flags, progressive_sequence, stream id
// and PID do not count.
int utils_same_video_info(const VideoInfo& a, const VideoInfo& b);

// ---- file names and files -----------------------------------------------------

// Text after the last "." of the last path component when not empty; null
// otherwise.
const char* utils_get_extension(const char* name);
// 1 when the name's extension equals extension ignoring case (a leading "."
// of extension is skipped), else 0.
int utils_has_extension(const char* name, const char* extension);
// 0 when both texts are equal ignoring case (null counts as empty), else 1.
int utils_compare_no_case(const char* a, const char* b);

namespace utils {
// Stores source in a malloc'ed target: reuses target when it is long enough,
// else frees it and returns a new copy (target unchanged when that
// allocation fails). Without source the target is returned as it is.
char* replace_string(const char* source, char* target);
}  // namespace utils

// Absolute form of name in out (capacity bytes, terminator included): a name
// starting with "/" is copied as it is; another is completed from the working
// folder (lexically, links are not resolved) and accepted only when that file
// opens for reading. 1 on success; 0 for no name, no out, a path that does not
// fit or a file that does not open (out then unchanged).
int utils_get_full_pathname(const char* name, char* out, size_t capacity);

// Size through the media file layer (mode 1); zero when it does not open.
FileOffset utils_get_file_size64(const char* name);
// Modification time in seconds since 1970; 0 on failure.
int64_t utils_get_file_time(const char* name);
// 1 when the file was deleted, 0 on failure.
int utils_delete_file(const char* name);
// The current local date and time as "Wed Jun 30 21:49:08 1993\n".
std::string utils_get_date_string();
