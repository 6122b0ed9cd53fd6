// Fixed JPEG tables shared by the decoder and the encoder: zig-zag order,
// the Arai-Agui-Nakajima scale factors, the example quantisation and
// Huffman tables of the standard.
#pragma once

#include <cstdint>

// Natural (row-major) position of zig-zag index k. Sixteen extra entries of
// 63 let a damaged run land harmlessly past the end of a block.
extern const uint8_t kJpegNatural[64 + 16];

// Products of the one-dimensional AAN factors, units of 2^14, natural order.
extern const uint16_t kJpegAanScale[64];

// Example luminance and chrominance quantisation tables, natural order.
extern const uint8_t kJpegStdLumaQuant[64];
extern const uint8_t kJpegStdChromaQuant[64];

// Example Huffman tables: 16 code-length counts, then the symbols.
struct JpegStdHuffman {
  uint8_t bits[16];
  const uint8_t* values;
  int count;
};
extern const JpegStdHuffman kJpegStdDcLuma;
extern const JpegStdHuffman kJpegStdAcLuma;
extern const JpegStdHuffman kJpegStdDcChroma;
extern const JpegStdHuffman kJpegStdAcChroma;
