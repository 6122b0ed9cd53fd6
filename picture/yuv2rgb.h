// Planar YCbCr to device-independent bitmap pixels: 16, 24 and 32 bits by
// packed look-up tables (BT.601 limited range), 8 bits by a fixed palette of
// 16 luminance x 4 Cb x 4 Cr levels with a 4x4 ordered dither.
#pragma once

#include <cstdint>

#include "foundation/cpu.h"
#include "picture/plane_utils.h"

class BMP;
struct BitmapInfo;

// Process-wide tables, built once on first use (thread-safe).
void yuv2rgb_tables_init();
void dither_tables_init();
int yuv2rgb_tables_release();

// Direct-colour tables: three 10-bit lanes per word (R bits 0-9, B 11-20,
// G 22-31) so one addition yields all three channels.
struct Yuv2RgbTables {
  uint32_t y[256];
  uint32_t cb[256];
  uint32_t cr[256];
  uint8_t clamp[1024];   // lane value (10-bit two's complement) -> 0..255
  uint8_t clamp5[1024];  // the same >> 3
};
const Yuv2RgbTables& yuv2rgb_tables();

// Channel contributions the tables hold, by fixed-point rule (Q9 factors
// 1.164, 1.596, 0.813, 0.391, 2.018, rounded as a multiply-high-round).
int yuv2rgb_y_term(int y);
int yuv2rgb_r_cr(int cr);
int yuv2rgb_g_cb(int cb);
int yuv2rgb_g_cr(int cr);
int yuv2rgb_b_cb(int cb);

// Converts two output rows sharing chroma positions: rows y0/y1 with the
// chroma rows cb0/cr0 (row 0) and cb1/cr1 (row 1), width even.
using Yuv2RgbPairFn = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* cb0, const uint8_t* cr0,
                               const uint8_t* cb1, const uint8_t* cr1, uint8_t* d0, uint8_t* d1, int width);
// The pair converters by output depth, one table per processor level, all
// bit-exact with the plain one.
struct Yuv2RgbDsp {
  Yuv2RgbPairFn pair16, pair24, pair32;
};
// The table of one level; null when that level has no variant of its own.
// Builds the look-up tables the kernels read.
const Yuv2RgbDsp* yuv2rgb_dsp_for(CpuLevel level);
// The table for this processor (TAMSEL_CPU honoured), chosen once.
const Yuv2RgbDsp& yuv2rgb_dsp();

// Picture planes laid out as the converters expect: Cb at Y + w x h, Cr at
// Cb + w x h / 4 (4:2:0) or w x h / 2 (4:2:2). 0 on success, 1 on failure.
int yuv2rgb(const uint8_t* y, int width, int height, int chroma_format, BMP* bitmap, int flip, int centre);
int yuv2rgb_8bit(const uint8_t* y, int width, int height, int chroma_format, const uint8_t* cmap, BMP* bitmap,
                 int flip);
int yuv2rgb_8bit_field(int field, const uint8_t* y, int width, int height, int chroma_format, const uint8_t* cmap,
                       BMP* bitmap, int flip);
// Writes the palette behind the header; returns a new 256-byte identity map.
uint8_t* yuv2rgb_8bit_cmap(BitmapInfo* header);
// Palette index rule the dither tables are built from.
int dither_palette_index(int y, int cb, int cr);

// Same conversions from planes with explicit strides (picture size in
// src.width x src.height).
int yuv2rgb_planes(const YuvPlanes& src, BMP* bitmap, int flip, int centre);
int yuv2rgb_8bit_planes(const YuvPlanes& src, BMP* bitmap, int flip, int field);
