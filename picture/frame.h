// Decoded-picture object passed along every video path: wraps one Image
// (owned or borrowed), mirrors its planes and sizes for the inner loops, and
// adds stream position, time, field bookkeeping, MBInfo records and reduced
// luminance layers for the encoder's motion search.
#pragma once

#include <cstddef>
#include <cstdint>

#include "picture/image.h"
#include "picture/mbinfo.h"

class Frame {
 public:
  // A frame without picture; give it one with attach_image.
  Frame() { clear(); }
  // A frame owning a new Image of this size and chroma format.
  Frame(int width, int height, int chroma_format, int round_height_32);
  ~Frame() { cleanup(); }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  // Borrows the image and takes its picture flags.
  void attach_image(Image* img);
  // Frees what the frame owns, then clear().
  void cleanup();
  // Sets the defaults; frees nothing.
  void clear();
  // Re-reads buffer, sizes and plane pointers from the image.
  void update_planes();

  int get_width() const { return image ? image->display_width : padded_width; }
  int get_height() const { return image ? image->display_height : padded_height; }
  void set_display_size(int width, int height);
  Image* get_image() const { return image; }

  void set_picture_coding_type(int type);
  void reset_field_count();
  void set_top_field_first(int value);
  void set_user_data(const uint8_t* bytes, int length);
  void set_gop_user_data(const uint8_t* bytes, int length);
  void set_time_code_rate(double rate);
  void init_time_code(int drop_frame);
  void set_time_code_frame(int frame_number);
  void copy_picture_info(const Frame* other);
  void set_mb_info(const MBInfo* records, int count);
  int get_color_key();

  // Half (and quarter, and per-field half) luminance layers.
  void get_layer2(int quarter, int per_field);

  // Whole picture with chroma-format conversion, optional scaling, centring.
  void copy_from(Frame* source, int allow_scaling, int scale_flags, int centre);
  // Image data only.
  void copy_data(Frame* source, int centre);

  // Scaled copies (null when no ratio fits); the caller owns the result.
  Frame* create_scaled(int target_width, int target_height);
  Frame* create_half(int target_width, int target_height);
  Frame* create_quarter(int target_width, int target_height);
  Frame* create_decimated(int target_width, int target_height);
  // Scale this frame's planes into dest, which already has its size.
  // 0 on success, 1 when the flags hold no bit the scaler handles.
  int deci2(Frame* dest, int flags);
  int deci4(Frame* dest, int flags);
  int decimation(Frame* dest, int flags);
  int interpolation(Frame* dest, int flags);

  // Still output, defined with the still writers.
  int save_bmp(const char* name, int bits);
  int save_jpeg(const char* name, int quality);

  // Fields, in the record's order.
  uint8_t* y_plane = nullptr;
  uint8_t* cb_plane = nullptr;
  uint8_t* cr_plane = nullptr;
  uint8_t* layer2 = nullptr;         // W/2 x H/2, stride W/2
  uint8_t* layer4 = nullptr;         // W/4 x H/4, stride W/4
  int per_field_layers = 0;
  uint8_t* layer2_fields = nullptr;  // H/4 rows of W: halved top then bottom field row
  int stream_field = 0;
  int color_key = -1;
  Image* image = nullptr;
  int owns_image = 0;
  uint8_t* buffer = nullptr;
  int padded_width = 0;
  int padded_height = 0;
  int y_size = 0;
  int c_width = 0;
  int c_height = 0;
  int c_size = 0;
  int chroma_format = 1;
  int8_t picture_coding_type = -1;
  uint8_t picture_flags = 0;
  int stream_frame = -1;
  int frame_number_copy = 0;
  double time = -1.0;
  int carried[5] = {-1, 0, -1, -1, 0};
  MBInfo* mb_info = nullptr;
  int mb_capacity = 0;
  int mb_count = 0;
  int carried2[4] = {};
  double mean_quantiser = 3.0;
  int field_count = 2;
  int displayed_fields = 2;
  int top_field_first = 0;
  int repeat_flag = 0;
  int progressive_frame = 0;
  int picture_structure = 3;
  int progressive_sequence = 1;
};

// 4:2:0 <-> 4:2:2 copies between frames (luma copied, chroma rows doubled or
// halved, field by field for interlaced pictures).
void convert_420_to_422(Frame* dest, const Frame* source, int centre);
void convert_422_to_420(Frame* dest, const Frame* source, int centre);
