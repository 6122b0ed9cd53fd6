// Fixed-ratio separable scaling filters on 8-bit planes: 2:1, 3:2 and 4:1
// reductions, 1:2, 2:3 and 1:4 enlargements, per direction.
#pragma once

#include <cstdint>

// Scaling flags: at most one height bit and one width bit.
enum : int {
  SCALE_H_2TO1 = 0x1, SCALE_W_2TO1 = 0x2,
  SCALE_H_3TO2 = 0x10, SCALE_W_3TO2 = 0x20,
  SCALE_H_4TO1 = 0x100, SCALE_W_4TO1 = 0x200,
  SCALE_H_1TO2 = 0x1000, SCALE_W_1TO2 = 0x2000,
  SCALE_H_1TO4 = 0x10000, SCALE_W_1TO4 = 0x20000,
  SCALE_H_2TO3 = 0x100000, SCALE_W_2TO3 = 0x200000,
  SCALE_REDUCE_MASK = 0x333,
  SCALE_ENLARGE_MASK = 0x333000,
};

// Flags for scaling a source to a target (0 = no ratio fits) and, when
// flags result and the out pointers are given, the scaled size.
int scale_choose(int source_width, int source_height, int target_width, int target_height, int* out_width,
                 int* out_height);
// Scaled size of one direction for the flag bits of that direction.
int scale_size_for_flags(int length, int flags, int vertical);

// Line kernels: x[0..n-1] in, return the number of outputs written.
int decimate_line_4(const uint8_t* x, int n, uint8_t* out);        // 2:1, 7 taps
int decimate_line_2(const uint8_t* x, int n, uint8_t* out);        // 2:1, 4 taps
int decimate_line(const uint8_t* x, int n, uint8_t* out);          // 4:1, 12 taps
int decimate_3to2_line(const uint8_t* x, int n, uint8_t* out);     // 3:2
int interpolate_line_2(const uint8_t* x, int n, uint8_t* out);     // 1:2
int interpolate_group10_line(const uint8_t* x, int n, uint8_t* out);  // 2:3
int interpolate_line(const uint8_t* x, int n, uint8_t* out);       // 1:4

// Plane drivers (explicit strides). The line buffer of the column drivers is
// accepted for callers that keep one; the drivers need none.
void filter_plane_rows(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                       uint8_t* unused);
void filter_plane_columns(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                          uint8_t* line_buffer);
void filter_plane_columns_thunk(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst,
                                int dst_stride, uint8_t* line_buffer);
void resample_rows(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                   uint8_t* line_buffer);
void resample_columns(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                      uint8_t* line_buffer);
void resample_rows_3to2(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                        uint8_t* line_buffer);
void resample_columns_3to2(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                           uint8_t* line_buffer);
void interpolate_rows(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                      uint8_t* line_buffer);
void interpolate_columns(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                         uint8_t* line_buffer);
void upsample_rows_2to3(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                        uint8_t* line_buffer);
void upsample_columns_2to3(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                           uint8_t* line_buffer);
void upsample_rows_4(int width, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                     uint8_t* line_buffer);
void upsample_columns_4(int columns, int rows, const uint8_t* src, int src_stride, uint8_t* dst, int dst_stride,
                        uint8_t* line_buffer);

// New planes halved / doubled vertically; the caller frees them with delete[].
uint8_t* plane_halve_vertical(const uint8_t* plane, int width, int rows);
uint8_t* plane_double_vertical(const uint8_t* plane, int width, int rows);
