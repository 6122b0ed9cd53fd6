// Planar YCbCr picture buffer under every decoded, scaled, converted or
// encoded picture: one block holding Y, then Cb, then Cr, then 32 spare bytes.
//
// Geometry (padded_width is the luma stride, padded_width / 2 the chroma one):
//   4:2:0  chroma planes padded_width / 2 x padded_height / 2
//   4:2:2  chroma planes padded_width / 2 x padded_height
//   Cb = buffer + y_size(), Cr = Cb + c_size().
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/mbinfo.h"
#include "picture/plane_utils.h"
#include "foundation/timecode.h"

// Name of a chroma format code for messages ("unknwon", "420", "422", "444", "CCIR").
const char* chroma_format_name(int format);

class Image {
 public:
  // chroma_format 2 is kept, anything else becomes 1 (4:2:0) with a trace.
  Image(int width, int height, int chroma_format, int round_height_32);
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Allocates and clears the buffer (Y 0, chroma 128); called by the constructor.
  void init(int width, int height, int round_height_32);
  // Frees everything and restores the defaults; only on the way to destruction.
  void reset_buffers();

  uint8_t* get_y() const { return buffer; }
  uint8_t* get_u() const { return buffer ? buffer + y_size() : nullptr; }
  uint8_t* get_v() const { return buffer ? buffer + y_size() + c_size() : nullptr; }

  // Explicit geometry for every reader and writer of the planes.
  int y_stride() const { return padded_width; }
  int c_stride() const { return padded_width / 2; }
  int c_width() const { return padded_width / 2; }
  int c_height() const { return chroma_format == 2 ? padded_height : padded_height / 2; }
  size_t y_size() const { return static_cast<size_t>(padded_width) * padded_height; }
  size_t c_size() const { return chroma_format == 2 ? y_size() / 2 : y_size() / 4; }
  size_t buffer_size() const { return y_size() + 2 * c_size() + 32; }
  // Offsets of the planes from the start of the buffer.
  size_t cb_offset() const { return y_size(); }
  size_t cr_offset() const { return y_size() + c_size(); }
  // The displayed area with its strides (all null without a buffer).
  YuvPlanes planes() const;

  // Returns 0 when all five are valid and stored, 1 (nothing stored) otherwise.
  int set_picture_header_flags(int field_count, int top_field_first, int repeat_first_field, int progressive_frame,
                               int picture_structure);
  // Size mode, coding type, the five flags and both user-data blocks.
  void copy_flags(const Image& other);
  void set_user_data(const uint8_t* bytes, int length);
  void set_gop_user_data(const uint8_t* bytes, int length);
  // (Y key << 16) | (Cb key << 8) | Cr key of the dominant colour; paints the
  // padding around the displayed area with it.
  int get_color_key(double ratio, int window);

  // Buffer and picture state, read and written directly by the decoder,
  // the converters and the writers.
  uint8_t* buffer = nullptr;
  int padded_width = 0;
  int padded_height = 0;
  int chroma_format = 1;
  uint8_t* user_data = nullptr;
  int user_data_length = 0;
  uint8_t* gop_user_data = nullptr;
  int gop_user_data_length = 0;
  SMPTE_TimeCode time_code;
  int display_width = 0;
  int display_height = 0;
  int size_mode = 0;            // 0 full, 1 half, 2 quarter
  int picture_coding_type = 0;  // 1 I, 2 P, 3 B
  int field_count = 2;
  int top_field_first = 0;
  int repeat_first_field = 0;
  int progressive_frame = 1;
  int picture_structure = 3;    // 1 top field, 2 bottom field, 3 frame

 private:
  size_t storage_ = 0;  // how planes_alloc gave buffer, for planes_free
};

// Same class under the name some callers use for the flag setter.
using IMAGE = Image;
