// Video sequence header (00 00 01 B3) with the MPEG-2 sequence, display and
// scalable extensions. Readers decode it from coded data; writers fill it
// from settings, check it with checks() and encode it. Beyond the syntax it
// keeps the program's defaults, the conformance repairs and a copy of the
// coded bytes as found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "foundation/bitstream.h"

struct VideoInfo;

// ISO default intra matrix and the built-in non-intra matrix of
// set_default_matrices, both in raster order.
extern const uint8_t kDefaultIntraMatrix[64];
extern const uint8_t kBuiltinNonIntraMatrix[64];
// Zig-zag scan: kZigZag[i] is the raster position of coefficient i.
extern const uint8_t kZigZag[64];

class SeqExt {
 public:
  SeqExt() = default;

  // 0 on success, 1 for a null source.
  int copy(const SeqExt* src);
  // 0 when equal, else the OR of the differing fields' bits (1 for null).
  int compare(const SeqExt* other) const;

  // data starts at 00 00 01 B5 with id 1; needs 10 bytes. Returns 10, or 0.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  // Returns the writer's byte count so far.
  int encode(BitWriter& bw) const;

  int get_profile() const { return (profile_and_level_indication >> 4) & 15; }
  int get_level() const { return profile_and_level_indication & 15; }
  // p in 1..5 replaces the profile and keeps the level; returns the profile.
  int set_profile(int p);

  int32_t profile_and_level_indication = 0;
  int32_t progressive_sequence = 0;
  int32_t chroma_format = 0;
  int32_t horizontal_size_extension = 0;
  int32_t vertical_size_extension = 0;
  int32_t bit_rate_extension = 0;
  int32_t vbv_buffer_size_extension = 0;
  int32_t low_delay = 0;
  int32_t frame_rate_extension_n = 0;
  int32_t frame_rate_extension_d = 0;
};

class SeqDisplayExt {
 public:
  SeqDisplayExt() = default;

  int copy(const SeqDisplayExt* src);
  int compare(const SeqDisplayExt* other) const;

  // id 2; 12 bytes with a colour description, else 9. Returns those, or 0.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  int encode(BitWriter& bw) const;

  int32_t video_format = 2;
  int32_t colour_description = 0;
  int32_t colour_primaries = 6;
  int32_t transfer_characteristics = 6;
  int32_t matrix_coefficients = 6;
  int32_t display_horizontal_size = 0;
  int32_t display_vertical_size = 0;
};

class SeqScalableExt {
 public:
  SeqScalableExt() = default;

  int copy(const SeqScalableExt* src);
  int compare(const SeqScalableExt* other) const;

  // id 5; 12 bytes for spatial, 7 for temporal scalability; the other modes
  // carry nothing more here and take the whole length. 0 when refused.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  int encode(BitWriter& bw) const;

  int32_t scalable_mode = 0;
  int32_t layer_id = 0;
  int32_t lower_layer_prediction_horizontal_size = 0;
  int32_t lower_layer_prediction_vertical_size = 0;
  int32_t horizontal_subsampling_factor_m = 0;
  int32_t horizontal_subsampling_factor_n = 0;
  int32_t vertical_subsampling_factor_m = 0;
  int32_t vertical_subsampling_factor_n = 0;
  int32_t picture_mux_enable = 0;
  int32_t mux_to_progressive_sequence = 0;
  int32_t picture_mux_order = 0;
  int32_t picture_mux_factor = 0;
};

// A picture larger than 4096 in either direction is beyond every MPEG-2
// level: a header claiming one is damage, not a picture to allocate for.
inline bool mpeg_picture_size_ok(int width, int height) {
  return width >= 1 && height >= 1 && width <= 4096 && height <= 4096;
}

class SeqHdr {
 public:
  SeqHdr() { reset(); }
  SeqHdr(const SeqHdr& other) : SeqHdr() { copy(&other); }
  SeqHdr& operator=(const SeqHdr& other) {
    if (this != &other) copy(&other);
    return *this;
  }
  ~SeqHdr() = default;

  // Defaults: no size, aspect 12, frame_rate_code 4, invalid, no buffers
  // kept (reset keeps nothing: the buffers are freed too).
  void reset();
  // Frees matrices, extensions and the coded copy, then resets.
  void destroy() { reset(); }

  // 0 on success, 1 for a null source.
  int copy(const SeqHdr* src);
  // 0 when equal (aspect ratio not compared), non-zero otherwise.
  int compare(const SeqHdr* other, int with_matrices) const;
  int compare_matrices(const SeqHdr* other) const;

  // ---- queries ----
  int get_horizontal_size() const;
  int get_vertical_size() const;
  int get_coded_width() const { return (get_horizontal_size() + 15) & ~15; }
  int get_coded_height() const;
  int get_progressive_sequence() const { return seq_ext ? seq_ext->progressive_sequence : 1; }
  int get_chroma_format() const { return seq_ext ? seq_ext->chroma_format : 1; }
  int get_profile_level() const;
  int get_frame_rate_code() const { return frame_rate_code; }
  double get_frame_rate() const;
  bool is_vbr() const { return bit_rate == 0x3FFFF; }
  // bit/s, with the MPEG-2 bit_rate_extension on top of the 18 bits.
  int get_bit_rate() const;
  // bit_rate = (bps + 399) / 400 (for MPEG-2 the bits above 18 go to the
  // extension); returns the previous get_bit_rate().
  int set_bit_rate(int bps);
  int get_aspect_ratio_information() const { return aspect_ratio_information; }
  int set_aspect_ratio_information(int v);
  // In bits.
  int64_t get_vbv_buffer_size() const;
  int get_header_size() const;
  bool is_hd() const;
  // 1 while invalid; else fills info and returns 0.
  int get_video_info(VideoInfo* info) const;

  // ---- matrices (raster order) ----
  int get_intra_matrix(uint8_t* out) const;
  int get_non_intra_matrix(uint8_t* out) const;
  // 1 (refused) for null or a matrix with a zero entry, else 0.
  int set_intra_matrix(const uint8_t* m);
  int set_non_intra_matrix(const uint8_t* m);
  static int check_qmatrix(const uint8_t* m);
  void set_default_matrices();

  // ---- set-up for writing ----
  void set_mpeg1_defaults();
  void set_mpeg2_defaults();
  void setup(int width, int height, int bps, double frame_rate, int mpeg2);
  int set_chroma_format(int f);

  // ---- coding ----
  // Finds the next sequence header in data and reads it with the extensions
  // and user data after it. Returns the bytes from data to its end, 0 on
  // failure (invalid stays 1).
  [[nodiscard]] int decode(const uint8_t* data, int length);
  // Writes the header, matrices and (MPEG-2) the extensions; keep = 0
  // zeroes the buffer first. Returns the bytes written.
  [[nodiscard]] int encode(uint8_t* buffer, int size, int keep = 1) const;

  // Writers' conformance check: the number of errors (0 = acceptable); some
  // faults are repaired in place and not counted.
  int checks();
  // The size part of checks(), as used by decode.
  int check_sizes();

  const uint8_t* get_coded_copy() const { return coded_copy.get(); }

  int32_t horizontal_size;
  int32_t vertical_size;
  int32_t aspect_ratio_information;
  int32_t frame_rate_code;
  int32_t vbv_buffer_size;
  int32_t constrained_parameters_flag;
  int32_t intra_loaded;
  int32_t non_intra_loaded;
  std::unique_ptr<uint8_t[]> intra_matrix;
  std::unique_ptr<uint8_t[]> non_intra_matrix;
  int32_t mpeg2;
  int32_t has_display_ext;
  int32_t has_scalable_ext;
  std::unique_ptr<SeqExt> seq_ext;
  std::unique_ptr<SeqDisplayExt> display_ext;
  std::unique_ptr<SeqScalableExt> scalable_ext;
  int32_t ext_bytes;
  int32_t user_data_bytes;
  std::unique_ptr<uint8_t[]> coded_copy;
  int32_t coded_capacity;
  int32_t coded_length;
  int32_t bit_rate;
  int32_t invalid;

 private:
  int check_size_fields(int* errors);
};
