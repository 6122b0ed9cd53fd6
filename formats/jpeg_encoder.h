// Baseline JPEG encoder: one planar YCbCr picture (4:2:0, or 4:2:2) to a
// SOF0 Huffman-coded picture in memory, with the example tables of the
// standard scaled by quality.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/jpeg_common.h"
#include "picture/plane_utils.h"

// Huffman code tables for ids 0..3 (DC and AC luminance, DC and AC
// chrominance), built from the example tables.
struct Huff {
  Huff();
  struct Table {
    uint8_t counts[16];
    const uint8_t* symbols;
    int count;
    uint16_t code[256];
    uint8_t size[256];
  } table[4];
  // DHT class/id byte of ids 0..3.
  static constexpr uint8_t kClassId[4] = {0x00, 0x10, 0x01, 0x11};
};

class JEncoder {
 public:
  // chroma_format 2 codes 4:2:2 (2 x 1 luminance sampling), anything else
  // 4:2:0; quality 0 means 85.
  JEncoder(int chroma_format, int quality);
  ~JEncoder() = default;
  JEncoder(const JEncoder&) = delete;
  JEncoder& operator=(const JEncoder&) = delete;

  // Picture as one buffer: Y (padded width x padded height, padded to whole
  // 16 x 16 units), then Cb, then Cr at half width (and half height for
  // 4:2:0). Returns the bytes written, 0 when they did not fit (nothing of
  // a partial picture is then to be used).
  size_t encode(JpegBitReader* out, const uint8_t* picture, int width, int height);
  // The same from planes with their own strides; samples beyond the
  // picture's edge repeat the last row and column.
  size_t encode_planes(JpegBitReader* out, const YuvPlanes& src);
  // Frees the tables; encode() then fails.
  void reset();

  // Largest output of a width x height picture, for sizing buffers.
  static size_t max_output_size(int width, int height);

  uint16_t marker = kJpegSOF0;
  int quality = 85;
  int width = 0, height = 0;
  int sampling = 1;  // 1: 2 x 2 luminance, 2: 2 x 1
  std::unique_ptr<Huff> huff;
  std::unique_ptr<Quant> quant;
  JpegScanHeader scan;
  JpegFrameHeader frame;
};

// Encodes the planes and writes the JPEG file; the byte count, or 0 on
// failure (no partial file is left behind).
long long jpeg_save_planes(const char* name, const YuvPlanes& src, int quality);
