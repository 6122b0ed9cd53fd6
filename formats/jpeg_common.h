// Records shared by the JPEG decoder and encoder: marker-segment headers,
// the byte buffer the encoder writes into, and the quantisation tables.
#pragma once

#include <cstddef>
#include <cstdint>

// Marker codes used here.
enum : uint16_t {
  kJpegSOF0 = 0xFFC0,
  kJpegSOF2 = 0xFFC2,
  kJpegDHT = 0xFFC4,
  kJpegRST0 = 0xFFD0,
  kJpegSOI = 0xFFD8,
  kJpegEOI = 0xFFD9,
  kJpegSOS = 0xFFDA,
  kJpegDQT = 0xFFDB,
  kJpegDRI = 0xFFDD,
  kJpegAPP0 = 0xFFE0,
  kJpegCOM = 0xFFFE,
};

// SOF record. Defaults: baseline, 3 components (ids 1, 2, 3), the first
// 2 x 1 (2 x 2 with four_two_zero), the others 1 x 1, tables 0, 1, 1.
struct JpegFrameHeader {
  JpegFrameHeader() = default;
  JpegFrameHeader(int width, int height, int four_two_zero);

  uint16_t marker = kJpegSOF0;
  uint16_t length = 17;
  uint8_t precision = 8;
  uint16_t height = 0;
  uint16_t width = 0;
  uint8_t components = 3;
  struct Component {
    uint8_t id, h, v, tq;
  } comp[3] = {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
};

// SOS record. Defaults: 3 components (1: tables 0/0; 2, 3: 1/1), Ss 0,
// Se 63, Ah 0, Al 0.
struct JpegScanHeader {
  uint16_t length = 12;
  uint8_t components = 3;
  struct Component {
    uint8_t id, td, ta;
  } comp[3] = {{1, 0, 0}, {2, 1, 1}, {3, 1, 1}};
  uint8_t ss = 0, se = 63, ah = 0, al = 0;

  // 1 sequential, 2 DC first, 3 DC refinement, 4 AC first, 5 AC refinement,
  // 0 unsupported; progressive frames have no kind-1 scans.
  int kind(bool progressive) const;
};

// Byte buffer bound for the encoder's output (start, current, end, bit
// position, size). The encoder appends through it and never past its end.
struct JpegBitReader {
  void init(uint8_t* buffer, size_t size);
  void reset();
  size_t used() const { return static_cast<size_t>(current - start); }

  uint8_t* start = nullptr;
  uint8_t* current = nullptr;
  uint8_t* end = nullptr;
  int bits = 0;
  size_t size = 0;
};

// Quantisation tables. Encoding: two tables (luminance 0, chrominance 1,
// index 2 meaning 1) scaled by quality with their divisors. Decoding: one
// dequantisation table per table id 0..3, scaled for the fast inverse DCT.
class Quant {
 public:
  // Fractional bits of the dequantisation tables (q x AAN scale), and of
  // the dequantised coefficients the inverse transform works on.
  static constexpr int kTableBits = 8;
  static constexpr int kDequantBits = 2;

  explicit Quant(int quality);

  // Scale factor of a quality (percent): 5000 below 1, 5000 / q below 50,
  // else 200 - 2q (q above 100 counts as 100).
  static int quality_scaling(int quality);

  const uint16_t* encode_table(int id) const { return table_[id >= 2 ? 1 : (id < 0 ? 0 : id)]; }
  // Level-shifted samples in; quantised coefficients (natural order) out.
  void quantize(int id, const int16_t* samples, int16_t* out) const;

  // Stores a decoding table for id 0..3 (values in natural order); 1 when
  // the id is out of range.
  int add_decode_table(int id, const uint16_t* values);
  const int32_t* decode_table(int id) const { return dequant_[id & 3]; }
  bool has_decode_table(int id) const { return id >= 0 && id < 4 && have_[id]; }

  int quality = 85;
  int tables = 2;

 private:
  uint16_t table_[2][64] = {};
  int32_t divisor_[2][64] = {};
  int32_t dequant_[4][64] = {};
  bool have_[4] = {};
};

// Forward 8 x 8 DCT of level-shifted samples, AAN-scaled output with the
// overall factor 8 (a constant block v gives 64 v at DC before scaling).
void jpeg_fdct_8x8(int32_t* block);
