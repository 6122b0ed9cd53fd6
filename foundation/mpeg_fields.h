// Shared MPEG helpers: frame_rate_code table, default GOP length, the DVD /
// Video CD / Super Video CD parameter sets, stream-type names, the time-stamp
// field encoders of program and transport streams, the section CRC-32 and the
// encoder's motion search range. All pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- frame rates -----------------------------------------------------------

// Rate of a frame_rate_code 1..8; any other code gives 30000/1001.
double mpeg_get_frame_rate(int code);
// 1 for codes 1..8, else 0.
int mpeg_is_valid_frame_rate_code(int code);
// First code whose rate is within 0.0001 of rate; 0 when none.
int mpeg_find_frame_rate_code(double rate);
// As mpeg_find_frame_rate_code, but 4 (29.97) when none.
int mpeg_get_frame_rate_code(double rate);
// 12 below 26 fps, 15 up to 49, 25 at 50, 30 above.
int mpeg_get_default_gop_size(double rate);

// ---- stream types ----------------------------------------------------------

// Stream-type codes shared by the probe, the demultiplexer and multiplexer
// factories and the user interface.
enum MpegStreamType {
  STREAM_TYPE_UNKNOWN = 0,
  STREAM_TYPE_MPEG1_AUDIO = 1,
  STREAM_TYPE_MPEG1_VIDEO = 2,
  STREAM_TYPE_MPEG2_VIDEO = 3,
  STREAM_TYPE_MPEG1_SYSTEM = 4,
  STREAM_TYPE_MPEG1_VCD = 5,
  STREAM_TYPE_MPEG2_PROGRAM = 6,
  STREAM_TYPE_MPEG2_SVCD = 7,
  STREAM_TYPE_MPEG2_TRANSPORT = 8,
  STREAM_TYPE_AC3_AUDIO = 9,
  STREAM_TYPE_LPCM = 10,
  STREAM_TYPE_MPEG2_AUDIO = 11,
};

// "MPEG-1 Audio" ... "MPEG-2 Audio"; "Unknown" for any other code.
const char* get_stream_type_name(int code);
// ISO/IEC 13818-1 PMT stream_type -> stream-type code (0 when not handled).
int stream_type_from_pmt_type(int pmt_stream_type);

// ---- compliance sets -------------------------------------------------------
// Video: MPEG-2 flag (0 = MPEG-1), bit rate in bit/s, frame rate, width,
// height. Audio: layer, sample rate in Hz, channel count, bit rate in bit/s.
// check_* return 1 when the values comply; fix_* change their in/out
// arguments (null pointers are skipped).

int check_dvd_video(int mpeg2, int bit_rate, double frame_rate, int width, int height);
void fix_dvd_video(int mpeg2, int* bit_rate, double* frame_rate, int* width, int* height);
int check_dvd_audio(int layer, int sample_rate, int channels, int bit_rate);
void fix_dvd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate);

int check_vcd_video(int bit_rate, double frame_rate, int width, int height);
void fix_vcd_video(int* bit_rate, double* frame_rate, int* width, int* height);
int check_vcd_audio(int layer, int sample_rate, int channels, int bit_rate);
void fix_vcd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate);

int check_svcd_video(int mpeg2, double frame_rate, int width, int height);
void fix_svcd_video(double* frame_rate, int* width, int* height);
int check_svcd_audio(int layer, int sample_rate, int channels, int bit_rate);
void fix_svcd_audio(int* layer, int* sample_rate, int* channels, int* bit_rate);

// ---- time-stamp fields -----------------------------------------------------
// Times are 90 kHz ticks as doubles; the fraction is the 27 MHz part. The
// 33-bit base wraps modulo 2^33, so a negative time gives the field that
// reads back as that negative value.

// Splits a time into bit 32 (returned), the low 32 bits of the base and,
// when extension is given, the 27 MHz extension 0..299.
int split_scr(double time, uint32_t* base_low, int* extension);
// PES PTS/DTS field (5 bytes): 3+15+15 bits with markers; the 4-bit prefix of
// byte 0 is left 0 for the caller. Returns 5.
int encode_pts(double time, uint8_t* out);
// MPEG-2 pack header system_clock_reference (6 bytes, '01' prefix,
// base, extension, markers). Returns 6.
int encode_scr(double time, uint8_t* out);
// Transport adaptation-field PCR (6 bytes: base, 6 reserved 1 bits,
// extension). Returns 6.
int encode_pcr(double time, uint8_t* out);

// ---- CRC-32 of PSI sections (polynomial 0x04C11DB7, MSB first) -------------

// One byte of the CRC; start from 0xFFFFFFFF.
uint32_t mpeg_crc32_byte(uint8_t byte, uint32_t crc);
// The CRC over a buffer (table driven, same result as the byte step). A
// section with its CRC field included gives 0.
uint32_t mpeg_crc32(const uint8_t* data, size_t length, uint32_t crc = 0xFFFFFFFFu);

// ---- encoder ---------------------------------------------------------------

// Motion search range for a picture size, each in 7..15.
void mpeg_get_search_range(int width, int height, int* horizontal, int* vertical);
