// Variable-length code tables of the video syntax (address increment,
// macroblock types, coded block pattern, motion codes, dual-prime
// differentials, DC sizes, DCT coefficients), the scans and the quantiser
// tables. The code lists below are the source of truth; the lookup tables
// the readers use are built from them once.
#pragma once

#include <cstdint>

// One code of a table: bit string ('0'/'1', spaces ignored) and its value.
struct VlcCode {
  const char* bits;
  int value;
};
// DCT coefficient codes: run and level, sign bit not included.
struct DctCode {
  const char* bits;
  int run;
  int level;  // 0 with run 0: end of block; -1: escape
};

struct VlcList {
  const VlcCode* codes;
  int count;
};
struct DctList {
  const DctCode* codes;
  int count;
};

// Code lists, one per table.
extern const VlcList vlc_mb_address_increment;  // value 34: escape (+33), 35: stuffing
extern const VlcList vlc_mb_type_i;
extern const VlcList vlc_mb_type_p;
extern const VlcList vlc_mb_type_b;
extern const VlcList vlc_coded_block_pattern;  // includes the pattern-0 code
extern const VlcList vlc_motion_code;
extern const VlcList vlc_dmvector;
extern const VlcList vlc_dc_size_luma;
extern const VlcList vlc_dc_size_chroma;
extern const DctList vlc_dct_zero;  // table zero; "11" is run 0 level 1, "10" end of block
extern const DctList vlc_dct_one;   // table one (intra_vlc_format 1)

constexpr int MB_ADDR_ESCAPE = 34;
constexpr int MB_ADDR_STUFFING = 35;

// macroblock_type flags.
enum MbTypeFlag : int {
  MB_INTRA = 1,
  MB_PATTERN = 2,
  MB_BACKWARD = 4,
  MB_FORWARD = 8,
  MB_QUANT = 16,
};
// The flags MBInfo records keep.
constexpr int MB_RECORDED_FLAGS = MB_INTRA | MB_BACKWARD | MB_FORWARD;

// Lookup entries: value and code length; length 0 marks "no code".
struct VlcEntry {
  int8_t value;
  uint8_t len;
};
// DCT entry: run (0..31; 64 = end of block, 65 = escape, 66 = no code),
// level, length without the sign bit (0 = no code), and the bits a table
// code takes with its sign (len + 1; len for end of block and escape).
struct DctEntry {
  uint8_t run;
  uint8_t level;
  uint8_t len;
  uint8_t pad;
};
constexpr int DCT_EOB = 64;
constexpr int DCT_ESC = 65;
constexpr int DCT_BAD = 66;  // no code
constexpr int DCT_LONG = 67;  // code of 11 bits or more: look up by 16 bits

// Fast coefficient entry by the next 11 bits, sign included, so that the
// common codes take one look-up and no branch on the sign: bits 0-7 the
// bits taken (code and sign), 8-15 the run (or DCT_EOB, DCT_ESC, DCT_LONG),
// 16-23 the level, 24-30 twice the level plus one (non-intra blocks
// multiply by it), bit 31 the sign.
using DctFast = uint32_t;
constexpr int DCT_FAST_BITS = 11;
inline int dct_fast_len(DctFast e) { return static_cast<int>(e & 255); }
inline int dct_fast_run(DctFast e) { return static_cast<int>((e >> 8) & 255); }
// A run and level (run below DCT_EOB), tested without extracting the run.
inline bool dct_fast_is_coefficient(DctFast e) { return (e & (0xC0u << 8)) == 0; }
static_assert(DCT_EOB == 64, "dct_fast_is_coefficient tests the run's bits 6 and 7");
inline int dct_fast_level(DctFast e) { return static_cast<int>((e >> 16) & 255); }
inline int dct_fast_level21(DctFast e) { return static_cast<int>((e >> 24) & 127); }
// 0, or -1 for a negative level.
inline int dct_fast_sign(DctFast e) { return static_cast<int32_t>(e) >> 31; }

struct VlcTables {
  VlcEntry mb_addr[2048];   // by the next 11 bits
  VlcEntry mb_type_i[4];    // by the next 2 bits
  VlcEntry mb_type_p[64];   // by the next 6 bits
  VlcEntry mb_type_b[64];
  VlcEntry cbp[512];        // by the next 9 bits
  VlcEntry motion[2048];    // by the next 11 bits
  VlcEntry dmv[4];          // by the next 2 bits
  VlcEntry dc_luma[512];    // by the next 9 bits
  VlcEntry dc_chroma[1024]; // by the next 10 bits
  // Coefficients by the next 16 bits v: v >= 1024 -> [v >> 8] of the short
  // table, else [v] of the long one. Table zero holds "11" = run 0 level 1;
  // the first coefficient of a non-intra block is handled by the reader.
  DctEntry dct0_short[256];
  DctEntry dct0_long[1024];
  DctEntry dct1_short[256];
  DctEntry dct1_long[1024];
  DctFast dct0_fast[1 << DCT_FAST_BITS];
  DctFast dct1_fast[1 << DCT_FAST_BITS];
};

// The lookup tables, built on first call (thread-safe).
const VlcTables& vlc_tables();

// Scan index -> natural (row-major) position; the zig-zag scan is kZigZag
// of the sequence header.
extern const uint8_t scan_alternate[64];
// quantiser_scale by quantiser_scale_code: linear (2 x code) and non-linear.
extern const uint8_t quant_scale_linear[32];
extern const uint8_t quant_scale_nonlinear[32];
