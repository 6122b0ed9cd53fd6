// Picture header (00 00 01 00) with the picture extensions that follow it.
// Readers learn a picture's coding type, temporal reference, vbv_delay and,
// for MPEG-2, its structure and field flags; the GOP records and frame
// access count displayed fields with it. Decoding records its faults as
// error bits and repairs some fields in place.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/bitstream.h"

// Error bits of PicHdr::errors.
// picture_coding_type values.
enum PicCodingType : int32_t { PIC_TYPE_I = 1, PIC_TYPE_P = 2, PIC_TYPE_B = 3, PIC_TYPE_D = 4 };
// picture_structure values.
enum PicStructure : int32_t { PIC_TOP_FIELD = 1, PIC_BOTTOM_FIELD = 2, PIC_FRAME = 3 };

// Fields of the picture header's bytes 4-5 behind its start code at p:
// temporal_reference (10 bits), then picture_coding_type (3 bits). The
// caller makes sure p[5] is inside its buffer.
inline int read_temporal_reference(const uint8_t* p) { return (p[4] << 2) | (p[5] >> 6); }
inline void write_temporal_reference(uint8_t* p, int value) {
  p[4] = static_cast<uint8_t>(value >> 2);
  p[5] = static_cast<uint8_t>((p[5] & 0x3F) | ((value & 3) << 6));
}
inline int read_picture_coding_type(const uint8_t* p) { return (p[5] >> 3) & 7; }

enum PicHdrError {
  PIC_ERR_FATAL = 1,           // no picture start code, nothing after it, extension cut short
  PIC_ERR_CODING_TYPE = 2,     // picture_coding_type out of 1..3 (set to 1)
  PIC_ERR_FORWARD_FCODE = 4,   // forward_f_code 0 (set to 1)
  PIC_ERR_BACKWARD_FCODE = 8,  // backward_f_code 0 (set to 1)
};

struct CompositeDisplay {
  int32_t v_axis = 0;
  int32_t field_sequence = 0;
  int32_t sub_carrier = 0;
  int32_t burst_amplitude = 0;
  int32_t sub_carrier_phase = 0;
};

class PicCodingExt {
 public:
  PicCodingExt() = default;
  PicCodingExt(const PicCodingExt& o) { *this = o; }
  PicCodingExt& operator=(const PicCodingExt& o);

  // Copies the record, or frees it for null.
  void set_composite_display(const CompositeDisplay* record);

  // Slides to 00 00 01 B5 with id 8; needs 9 bytes from it (11 with the
  // composite display part). Returns the offset after the extension, or 0.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  int encode(BitWriter& bw) const;

  int32_t f_code[2][2] = {{15, 15}, {15, 15}};
  int32_t intra_dc_precision = 0;
  int32_t picture_structure = 3;
  int32_t top_field_first = 0;
  int32_t frame_pred_frame_dct = 0;
  int32_t concealment_motion_vectors = 0;
  int32_t q_scale_type = 0;
  int32_t intra_vlc_format = 0;
  int32_t alternate_scan = 0;
  int32_t repeat_first_field = 0;
  int32_t chroma_420_type = 0;
  int32_t progressive_frame = 0;
  int32_t composite_display_flag = 0;
  std::unique_ptr<CompositeDisplay> composite;
};

struct PicSpatialScalableExt {
  // id 9, 11 bytes. Returns the offset after it, or 0.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  int encode(BitWriter& bw) const;

  int32_t lower_layer_temporal_reference = 0;
  int32_t lower_layer_horizontal_offset = 0;  // raw 15-bit field
  int32_t lower_layer_vertical_offset = 0;    // raw 15-bit field
  int32_t spatial_temporal_weight_code_table_index = 0;
  int32_t lower_layer_progressive_frame = 0;
  int32_t lower_layer_deinterlaced_field_select = 0;
};

struct PicTemporalScalableExt {
  // id 10, 8 bytes. Returns the offset after it, or 0.
  [[nodiscard]] int decode(const uint8_t* data, int length);
  int encode(BitWriter& bw) const;

  int32_t reference_select_code = 0;
  int32_t forward_temporal_reference = 0;
  int32_t backward_temporal_reference = 0;
};

class PicHdr {
 public:
  PicHdr() { reset(); }
  PicHdr(const PicHdr& o) : PicHdr() { *this = o; }
  PicHdr& operator=(const PicHdr& o);
  ~PicHdr() = default;

  // All fields 0, no buffers or extensions, progressive_sequence -1.
  void reset();
  void destroy() { reset(); }

  // Copy into an owned extension (created when missing); null deletes it.
  void set_coding_ext(const PicCodingExt* ext);
  void set_spatial_scalable_ext(const PicSpatialScalableExt* ext);
  void set_temporal_scalable_ext(const PicTemporalScalableExt* ext);
  // Copy into the owned buffer; null or length <= 0 frees it.
  void set_extra_information(const uint8_t* data, int length);
  void set_user_data(const uint8_t* data, int length);

  // Finds the next picture header and reads it with its extensions and user
  // data. Returns the offset of the start code after them, or 0 (errors
  // says why; repaired fields stay set).
  int decode(const uint8_t* data, int length);
  // Writes the header and the coding and scalable extensions it holds (not
  // the user data). Returns the bytes written, 0 when they do not fit.
  [[nodiscard]] int encode(uint8_t* buffer, int size) const;

  bool is_repaired() const { return errors != 0 && !(errors & PIC_ERR_FATAL); }
  int get_picture_structure() const { return coding_ext ? coding_ext->picture_structure : 3; }
  int get_top_field_first() const { return mpeg2 && coding_ext ? coding_ext->top_field_first : 1; }
  int get_repeat_first_field() const { return mpeg2 && coding_ext ? coding_ext->repeat_first_field : 0; }
  int get_progressive_frame() const { return mpeg2 && coding_ext ? coding_ext->progressive_frame : 1; }
  // Accepts 0 or 1 only.
  void set_progressive_sequence(int p) {
    if (p == 0 || p == 1) progressive_sequence = p;
  }
  // Fields this picture displays (repeated fields included).
  int get_field_count(int prog_sequence) const;
  int how_many_fields() const { return get_field_count(progressive_sequence < 0 ? 0 : progressive_sequence); }

  int32_t temporal_reference;
  int32_t picture_coding_type;
  int32_t vbv_delay;
  int32_t full_pel_forward_vector;
  int32_t forward_f_code;
  int32_t full_pel_backward_vector;
  int32_t backward_f_code;
  int32_t ext_length;
  std::vector<uint8_t> ext_copy;
  int32_t mpeg2;
  int32_t has_quant_matrix_ext;
  int32_t has_display_ext;
  int32_t has_temporal_ext;
  int32_t has_spatial_ext;
  std::unique_ptr<PicCodingExt> coding_ext;
  std::unique_ptr<PicSpatialScalableExt> spatial_ext;
  std::unique_ptr<PicTemporalScalableExt> temporal_ext;
  int32_t user_length;
  std::vector<uint8_t> user_data;
  int32_t errors;
  int32_t progressive_sequence;
};
