// Decoded-picture object passed along every video path: wraps one Image
// (owned or borrowed), mirrors its planes and sizes for the inner loops, and
// adds stream position, field bookkeeping, MBInfo records and reduced
// luminance layers for the encoder's motion search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "picture/image.h"
#include "picture/mbinfo.h"

class Frame {
 public:
  // A frame without picture; give it one with attach_image.
  Frame() = default;
  // A frame owning a new Image of this size and chroma format.
  Frame(int width, int height, int chroma_format, int round_height_32);
  ~Frame() = default;
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;

  // Borrows the image and takes its picture flags.
  void attach_image(Image* img);
  // Frees what the frame owns and returns to the defaults.
  void cleanup();
  // Re-reads buffer, sizes and plane pointers from the image.
  void update_planes();

  int get_width() const { return image_ ? image_->display_width : geo_.padded_width; }
  int get_height() const { return image_ ? image_->display_height : geo_.padded_height; }
  void set_display_size(int width, int height);

  // The picture and its planes (mirrors of the image, for the inner loops).
  Image* image() const { return image_; }
  bool owns_image() const { return owned_ != nullptr; }
  uint8_t* buffer() const { return geo_.buffer; }
  uint8_t* y_plane() const { return geo_.y_plane; }
  uint8_t* cb_plane() const { return geo_.cb_plane; }
  uint8_t* cr_plane() const { return geo_.cr_plane; }
  int padded_width() const { return geo_.padded_width; }
  int padded_height() const { return geo_.padded_height; }
  int y_size() const { return geo_.y_size; }
  int c_width() const { return geo_.c_width; }
  int c_height() const { return geo_.c_height; }
  int c_size() const { return geo_.c_size; }
  int chroma_format() const { return geo_.chroma_format; }

  // Where the picture sits in its stream and how it is displayed.
  int picture_coding_type() const { return info_.picture_coding_type; }
  void set_picture_coding_type(int type);
  int stream_frame() const { return info_.stream_frame; }
  void set_stream_frame(int n) { info_.stream_frame = n; }
  // Stream frame of the picture decoded into this frame (-1: none).
  int frame_number_copy() const { return info_.frame_number_copy; }
  void set_frame_number_copy(int n) { info_.frame_number_copy = n; }
  int field_count() const { return info_.field_count; }
  void set_field_count(int n) { info_.field_count = n; }
  int displayed_fields() const { return info_.displayed_fields; }
  void set_displayed_fields(int n) { info_.displayed_fields = n; }
  int top_field_first() const { return info_.top_field_first; }
  void set_top_field_first(int value);
  int repeat_flag() const { return info_.repeat_flag; }
  void set_repeat_flag(int value) { info_.repeat_flag = value; }
  int progressive_frame() const { return info_.progressive_frame; }
  void set_progressive_frame(int value) { info_.progressive_frame = value; }
  int picture_structure() const { return info_.picture_structure; }
  void set_picture_structure(int value) { info_.picture_structure = value; }
  int progressive_sequence() const { return info_.progressive_sequence; }
  void set_progressive_sequence(int value) { info_.progressive_sequence = value; }
  double mean_quantiser() const { return mean_quantiser_; }
  void set_mean_quantiser(double q) { mean_quantiser_ = q; }

  void reset_field_count();
  void set_user_data(const uint8_t* bytes, int length);
  void set_gop_user_data(const uint8_t* bytes, int length);
  void set_time_code_rate(double rate);
  void init_time_code(int drop_frame);
  void set_time_code_frame(int frame_number);
  void copy_picture_info(const Frame* other);

  // Macroblock records for the encoder (null and 0 without).
  MBInfo* mb_info() const { return mb_info_.get(); }
  int mb_count() const { return mb_count_; }
  void set_mb_info(const MBInfo* records, int count);
  int get_color_key();
  // Four values the encoder hands along with the records (its search costs).
  const int* picture_values() const { return picture_values_; }
  void set_picture_values(int a, int b, int c, int d);

  // Half (and quarter, and per-field half) luminance layers.
  void get_layer2(int quarter, int per_field);
  uint8_t* layer2() const { return layer2_.get(); }                // W/2 x H/2, stride W/2
  uint8_t* layer4() const { return layer4_.get(); }                // W/4 x H/4, stride W/4
  uint8_t* layer2_fields() const { return layer2_fields_.get(); }  // H/4 rows of W: halved top then bottom field row

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

 private:
  // What update_planes derives from the image.
  struct Geometry {
    uint8_t* buffer = nullptr;
    uint8_t* y_plane = nullptr;
    uint8_t* cb_plane = nullptr;
    uint8_t* cr_plane = nullptr;
    int padded_width = 0;
    int padded_height = 0;
    int y_size = 0;
    int c_width = 0;
    int c_height = 0;
    int c_size = 0;
    int chroma_format = 1;
  };
  // What copy_picture_info hands from frame to frame.
  struct PictureInfo {
    int picture_coding_type = -1;
    int stream_frame = -1;
    int frame_number_copy = 0;
    int field_count = 2;
    int displayed_fields = 2;
    int top_field_first = 0;
    int repeat_flag = 0;
    int progressive_frame = 0;
    int picture_structure = 3;
    int progressive_sequence = 1;
  };

  Image* image_ = nullptr;
  std::unique_ptr<Image> owned_;  // image_ when the frame made it
  Geometry geo_;
  PictureInfo info_;
  double mean_quantiser_ = 3.0;
  int color_key_ = -1;  // of the current planes; -1 until asked for
  std::unique_ptr<MBInfo[]> mb_info_;
  int mb_capacity_ = 0;
  int mb_count_ = 0;
  int picture_values_[4] = {};
  std::unique_ptr<uint8_t[]> layer2_, layer4_, layer2_fields_;
};

// 4:2:0 <-> 4:2:2 copies between frames (luma copied, chroma rows doubled or
// halved, field by field for interlaced pictures).
void convert_420_to_422(Frame* dest, const Frame* source, int centre);
void convert_422_to_420(Frame* dest, const Frame* source, int centre);
