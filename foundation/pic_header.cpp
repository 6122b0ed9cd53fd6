#include "foundation/pic_header.h"

#include <cstring>

#include "foundation/start_code.h"
#include "foundation/trace.h"

namespace {

template <class T>
void set_owned(std::unique_ptr<T>& dst, const T* src) {
  if (!src) {
    dst.reset();
    return;
  }
  if (dst.get() == src) return;
  if (!dst) dst = std::make_unique<T>();
  *dst = *src;
}

void set_buffer(std::vector<uint8_t>& buf, int32_t& len, const uint8_t* data, int length) {
  if (!data || length <= 0) {
    buf.clear();
    buf.shrink_to_fit();
    len = 0;
    return;
  }
  buf.assign(data, data + length);
  len = length;
}

}  // namespace

// ---------------------------------------------------------------------------
// PicCodingExt

PicCodingExt& PicCodingExt::operator=(const PicCodingExt& o) {
  if (this == &o) return *this;
  std::memcpy(f_code, o.f_code, sizeof f_code);
  intra_dc_precision = o.intra_dc_precision;
  picture_structure = o.picture_structure;
  top_field_first = o.top_field_first;
  frame_pred_frame_dct = o.frame_pred_frame_dct;
  concealment_motion_vectors = o.concealment_motion_vectors;
  q_scale_type = o.q_scale_type;
  intra_vlc_format = o.intra_vlc_format;
  alternate_scan = o.alternate_scan;
  repeat_first_field = o.repeat_first_field;
  chroma_420_type = o.chroma_420_type;
  progressive_frame = o.progressive_frame;
  composite_display_flag = o.composite_display_flag;
  set_composite_display(o.composite.get());
  return *this;
}

void PicCodingExt::set_composite_display(const CompositeDisplay* record) { set_owned(composite, record); }

int PicCodingExt::decode(const uint8_t* data, int length) {
  const int at = data ? start_code_find_extension(data, length, 8, 9) : -1;
  if (at < 0) {
    trace("PicCodingExt::decode (ERROR): no picture coding extension in %d bytes\n", length);
    return 0;
  }
  const int avail = length - at;
  BS bs(data + at + 4, static_cast<size_t>(avail >= 11 ? 7 : 5));
  bs.skip_bits(4);
  f_code[0][0] = static_cast<int32_t>(bs.get_bits(4));
  f_code[0][1] = static_cast<int32_t>(bs.get_bits(4));
  f_code[1][0] = static_cast<int32_t>(bs.get_bits(4));
  f_code[1][1] = static_cast<int32_t>(bs.get_bits(4));
  intra_dc_precision = static_cast<int32_t>(bs.get_bits(2));
  picture_structure = static_cast<int32_t>(bs.get_bits(2));
  top_field_first = static_cast<int32_t>(bs.get_bits(1));
  frame_pred_frame_dct = static_cast<int32_t>(bs.get_bits(1));
  concealment_motion_vectors = static_cast<int32_t>(bs.get_bits(1));
  q_scale_type = static_cast<int32_t>(bs.get_bits(1));
  intra_vlc_format = static_cast<int32_t>(bs.get_bits(1));
  alternate_scan = static_cast<int32_t>(bs.get_bits(1));
  repeat_first_field = static_cast<int32_t>(bs.get_bits(1));
  chroma_420_type = static_cast<int32_t>(bs.get_bits(1));
  progressive_frame = static_cast<int32_t>(bs.get_bits(1));
  composite_display_flag = static_cast<int32_t>(bs.get_bits(1));
  if (composite_display_flag && avail >= 11) {
    CompositeDisplay c;
    c.v_axis = static_cast<int32_t>(bs.get_bits(1));
    c.field_sequence = static_cast<int32_t>(bs.get_bits(3));
    c.sub_carrier = static_cast<int32_t>(bs.get_bits(1));
    c.burst_amplitude = static_cast<int32_t>(bs.get_bits(7));
    c.sub_carrier_phase = static_cast<int32_t>(bs.get_bits(8));
    set_composite_display(&c);
    return at + 11;
  }
  composite.reset();  // flag set but the record is not in the data
  return at + 9;
}

int PicCodingExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 8);
  bw.put_bits(static_cast<uint32_t>(f_code[0][0]), 4);
  bw.put_bits(static_cast<uint32_t>(f_code[0][1]), 4);
  bw.put_bits(static_cast<uint32_t>(f_code[1][0]), 4);
  bw.put_bits(static_cast<uint32_t>(f_code[1][1]), 4);
  bw.put_bits(static_cast<uint32_t>(intra_dc_precision), 2);
  bw.put_bits(static_cast<uint32_t>(picture_structure), 2);
  bw.put_bits(static_cast<uint32_t>(top_field_first), 1);
  bw.put_bits(static_cast<uint32_t>(frame_pred_frame_dct), 1);
  bw.put_bits(static_cast<uint32_t>(concealment_motion_vectors), 1);
  bw.put_bits(static_cast<uint32_t>(q_scale_type), 1);
  bw.put_bits(static_cast<uint32_t>(intra_vlc_format), 1);
  bw.put_bits(static_cast<uint32_t>(alternate_scan), 1);
  bw.put_bits(static_cast<uint32_t>(repeat_first_field), 1);
  bw.put_bits(static_cast<uint32_t>(chroma_420_type), 1);
  bw.put_bits(static_cast<uint32_t>(progressive_frame), 1);
  const bool with_composite = composite_display_flag && composite;
  bw.put_bits(with_composite ? 1 : 0, 1);
  if (with_composite) {
    bw.put_bits(static_cast<uint32_t>(composite->v_axis), 1);
    bw.put_bits(static_cast<uint32_t>(composite->field_sequence), 3);
    bw.put_bits(static_cast<uint32_t>(composite->sub_carrier), 1);
    bw.put_bits(static_cast<uint32_t>(composite->burst_amplitude), 7);
    bw.put_bits(static_cast<uint32_t>(composite->sub_carrier_phase), 8);
  }
  return start_code_end_unit(bw);
}

// ---------------------------------------------------------------------------
// Scalable extensions

int PicSpatialScalableExt::decode(const uint8_t* data, int length) {
  const int at = data ? start_code_find_extension(data, length, 9, 11) : -1;
  if (at < 0) {
    trace("PicSpatialScalableExt::decode (ERROR): no picture spatial scalable extension in %d bytes\n", length);
    return 0;
  }
  BS bs(data + at + 4, 7);
  bs.skip_bits(4);
  lower_layer_temporal_reference = static_cast<int32_t>(bs.get_bits(10));
  bs.skip_bits(1);  // marker
  lower_layer_horizontal_offset = static_cast<int32_t>(bs.get_bits(15));
  bs.skip_bits(1);  // marker
  lower_layer_vertical_offset = static_cast<int32_t>(bs.get_bits(15));
  spatial_temporal_weight_code_table_index = static_cast<int32_t>(bs.get_bits(2));
  lower_layer_progressive_frame = static_cast<int32_t>(bs.get_bits(1));
  lower_layer_deinterlaced_field_select = static_cast<int32_t>(bs.get_bits(1));
  return at + 11;
}

int PicSpatialScalableExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 9);
  bw.put_bits(static_cast<uint32_t>(lower_layer_temporal_reference), 10);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(lower_layer_horizontal_offset), 15);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(lower_layer_vertical_offset), 15);
  bw.put_bits(static_cast<uint32_t>(spatial_temporal_weight_code_table_index), 2);
  bw.put_bits(static_cast<uint32_t>(lower_layer_progressive_frame), 1);
  bw.put_bits(static_cast<uint32_t>(lower_layer_deinterlaced_field_select), 1);
  return start_code_end_unit(bw);
}

int PicTemporalScalableExt::decode(const uint8_t* data, int length) {
  const int at = data ? start_code_find_extension(data, length, 10, 8) : -1;
  if (at < 0) {
    trace("PicTemporalScalableExt::decode (ERROR): no picture temporal scalable extension in %d bytes\n", length);
    return 0;
  }
  BS bs(data + at + 4, 4);
  bs.skip_bits(4);
  reference_select_code = static_cast<int32_t>(bs.get_bits(2));
  forward_temporal_reference = static_cast<int32_t>(bs.get_bits(10));
  bs.skip_bits(1);  // marker
  backward_temporal_reference = static_cast<int32_t>(bs.get_bits(10));
  return at + 8;
}

int PicTemporalScalableExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 10);
  bw.put_bits(static_cast<uint32_t>(reference_select_code), 2);
  bw.put_bits(static_cast<uint32_t>(forward_temporal_reference), 10);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(backward_temporal_reference), 10);
  return start_code_end_unit(bw);
}

// ---------------------------------------------------------------------------
// PicHdr

void PicHdr::reset() {
  temporal_reference = 0;
  picture_coding_type = 0;
  vbv_delay = 0;
  full_pel_forward_vector = 0;
  forward_f_code = 0;
  full_pel_backward_vector = 0;
  backward_f_code = 0;
  set_buffer(ext_copy, ext_length, nullptr, 0);
  mpeg2 = 0;
  has_quant_matrix_ext = 0;
  has_display_ext = 0;
  has_temporal_ext = 0;
  has_spatial_ext = 0;
  coding_ext.reset();
  spatial_ext.reset();
  temporal_ext.reset();
  set_buffer(user_data, user_length, nullptr, 0);
  errors = 0;
  progressive_sequence = -1;
}

PicHdr& PicHdr::operator=(const PicHdr& o) {
  if (this == &o) return *this;
  temporal_reference = o.temporal_reference;
  picture_coding_type = o.picture_coding_type;
  vbv_delay = o.vbv_delay;
  full_pel_forward_vector = o.full_pel_forward_vector;
  forward_f_code = o.forward_f_code;
  full_pel_backward_vector = o.full_pel_backward_vector;
  backward_f_code = o.backward_f_code;
  mpeg2 = o.mpeg2;
  has_quant_matrix_ext = o.has_quant_matrix_ext;
  has_display_ext = o.has_display_ext;
  has_temporal_ext = o.has_temporal_ext;
  has_spatial_ext = o.has_spatial_ext;
  errors = o.errors;
  progressive_sequence = o.progressive_sequence;
  set_coding_ext(o.coding_ext.get());
  set_spatial_scalable_ext(o.spatial_ext.get());
  set_temporal_scalable_ext(o.temporal_ext.get());
  set_extra_information(o.ext_copy.data(), o.ext_length);
  set_user_data(o.user_data.data(), o.user_length);
  return *this;
}

void PicHdr::set_coding_ext(const PicCodingExt* ext) { set_owned(coding_ext, ext); }
void PicHdr::set_spatial_scalable_ext(const PicSpatialScalableExt* ext) { set_owned(spatial_ext, ext); }
void PicHdr::set_temporal_scalable_ext(const PicTemporalScalableExt* ext) { set_owned(temporal_ext, ext); }
void PicHdr::set_extra_information(const uint8_t* data, int length) { set_buffer(ext_copy, ext_length, data, length); }
void PicHdr::set_user_data(const uint8_t* data, int length) { set_buffer(user_data, user_length, data, length); }

int PicHdr::get_field_count(int prog_sequence) const {
  if (!mpeg2 || !coding_ext) return 2;
  const PicCodingExt& e = *coding_ext;
  if (e.picture_structure != 3) return 1;
  if (!e.repeat_first_field || !e.progressive_frame) return 2;
  if (prog_sequence == 0) return 3;
  return e.top_field_first ? 6 : 4;
}

int PicHdr::decode(const uint8_t* data, int length) {
  errors = 0;
  if (!data || length < 1) {
    trace("PicHdr::decode (ERROR): nil data\n");
    return 0;
  }
  // One cursor carries the walk from the header through its extensions and
  // user data.
  StartCodeCursor sc(data, length);
  if (!sc.find(0x00) || sc.left() < 9) {
    errors |= PIC_ERR_FATAL;
    trace("PicHdr::decode (ERROR): no picture header in %d bytes\n", length);
    return 0;
  }
  const int start = static_cast<int>(sc.offset());

  // Fields of an earlier picture must not survive into this one.
  mpeg2 = 0;
  has_quant_matrix_ext = 0;
  has_display_ext = 0;
  has_temporal_ext = 0;
  has_spatial_ext = 0;

  BS bs(data + start + 4, static_cast<size_t>(length - start - 4));
  temporal_reference = static_cast<int32_t>(bs.get_bits(10));
  picture_coding_type = static_cast<int32_t>(bs.get_bits(3));
  if (picture_coding_type < 1 || picture_coding_type > 3) {
    trace("PicHdr::decode (ERROR): picture_coding_type %d\n", picture_coding_type);
    picture_coding_type = 1;
    errors |= PIC_ERR_CODING_TYPE;
    return 0;
  }
  vbv_delay = static_cast<int32_t>(bs.get_bits(16));
  if (picture_coding_type >= 2) {
    full_pel_forward_vector = static_cast<int32_t>(bs.get_bits(1));
    forward_f_code = static_cast<int32_t>(bs.get_bits(3));
    if (forward_f_code == 0) {
      trace("PicHdr::decode (ERROR): forward_f_code 0\n");
      forward_f_code = 1;
      errors |= PIC_ERR_FORWARD_FCODE;
      return 0;
    }
  }
  if (picture_coding_type == 3) {
    full_pel_backward_vector = static_cast<int32_t>(bs.get_bits(1));
    backward_f_code = static_cast<int32_t>(bs.get_bits(3));
    if (backward_f_code == 0) {
      trace("PicHdr::decode (ERROR): backward_f_code 0\n");
      backward_f_code = 1;
      errors |= PIC_ERR_BACKWARD_FCODE;
      return 0;
    }
  }
  while (bs.bits_left() > 0 && bs.get_bits(1)) bs.skip_bits(8);  // extra_information_picture

  int pos = start + 4 + static_cast<int>((bs.bit_position() + 7) / 8);
  if (pos > length) pos = length;
  sc.seek(pos);
  if (!sc.next()) {
    errors |= PIC_ERR_FATAL;
    trace("PicHdr::decode (ERROR): no start code after the picture header\n");
    return 0;
  }
  int code = sc.code();
  int cur = static_cast<int>(sc.offset());

  const int first_ext = cur;
  bool seen_coding = false, seen_spatial = false, seen_temporal = false;
  while (code == 0xB5) {
    const int left = length - cur;
    if (left < 9) {
      errors |= PIC_ERR_FATAL;
      trace("PicHdr::decode (ERROR): extension cut short (%d bytes)\n", left);
      return 0;
    }
    const int id = data[cur + 4] >> 4;
    switch (id) {
      case 3:
        has_quant_matrix_ext = 1;
        break;
      case 7:
        has_display_ext = 1;
        break;
      case 8:
        mpeg2 = 1;
        if (!coding_ext) coding_ext = std::make_unique<PicCodingExt>();
        if (!coding_ext->decode(data + cur, left)) {
          errors |= PIC_ERR_FATAL;
          trace("PicHdr::decode (ERROR): extension cut short (%d bytes)\n", left);
          return 0;
        }
        seen_coding = true;
        break;
      case 9:
        has_spatial_ext = 1;
        if (left < 11) {
          errors |= PIC_ERR_FATAL;
          trace("PicHdr::decode (ERROR): spatial scalable extension cut short\n");
          return 0;
        }
        if (!spatial_ext) spatial_ext = std::make_unique<PicSpatialScalableExt>();
        if (!spatial_ext->decode(data + cur, left)) {
          errors |= PIC_ERR_FATAL;
          trace("PicHdr::decode (ERROR): extension cut short (%d bytes)\n", left);
          return 0;
        }
        seen_spatial = true;
        break;
      case 10:
        has_temporal_ext = 1;
        if (left < 8) {
          errors |= PIC_ERR_FATAL;
          trace("PicHdr::decode (ERROR): temporal scalable extension cut short\n");
          return 0;
        }
        if (!temporal_ext) temporal_ext = std::make_unique<PicTemporalScalableExt>();
        if (!temporal_ext->decode(data + cur, left)) {
          errors |= PIC_ERR_FATAL;
          trace("PicHdr::decode (ERROR): extension cut short (%d bytes)\n", left);
          return 0;
        }
        seen_temporal = true;
        break;
      default:
        break;
    }
    cur = static_cast<int>(sc.unit_end());
    code = sc.code();
  }
  if (!seen_coding) coding_ext.reset();
  if (!seen_spatial) spatial_ext.reset();
  if (!seen_temporal) temporal_ext.reset();
  set_extra_information(cur > first_ext ? data + first_ext : nullptr, cur - first_ext);

  if (code == 0xB2) {
    const int first_user = cur;
    while (code == 0xB2 && length - cur >= 9) {
      cur = static_cast<int>(sc.unit_end());
      code = sc.code();
    }
    set_user_data(data + first_user, cur - first_user);
  } else {
    set_user_data(nullptr, 0);
  }
  return cur;
}

int PicHdr::encode(uint8_t* buffer, int size) const {
  if (!buffer || size < 8) {
    trace("PicHdr::encode (ERROR): nil buffer or fewer than 8 bytes\n");
    return 0;
  }
  BitWriter bw(buffer, static_cast<size_t>(size), 1);
  bw.put_bits(0x00000100, 32);
  bw.put_bits(static_cast<uint32_t>(temporal_reference), 10);
  bw.put_bits(static_cast<uint32_t>(picture_coding_type), 3);
  bw.put_bits(static_cast<uint32_t>(vbv_delay), 16);
  if (picture_coding_type == 2 || picture_coding_type == 3) {
    bw.put_bits(static_cast<uint32_t>(full_pel_forward_vector), 1);
    bw.put_bits(static_cast<uint32_t>(forward_f_code), 3);
  }
  if (picture_coding_type == 3) {
    bw.put_bits(static_cast<uint32_t>(full_pel_backward_vector), 1);
    bw.put_bits(static_cast<uint32_t>(backward_f_code), 3);
  }
  bw.put_bits(0, 1);  // extra_bit_picture
  if (mpeg2 && coding_ext) coding_ext->encode(bw);
  if (has_spatial_ext && spatial_ext) spatial_ext->encode(bw);
  if (has_temporal_ext && temporal_ext) temporal_ext->encode(bw);
  return start_code_finish(bw, size, "PicHdr::encode");
}
