#include "foundation/seq_header.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "foundation/mpeg_fields.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_info.h"

const uint8_t kDefaultIntraMatrix[64] = {
    8,  16, 19, 22, 26, 27, 29, 34,  //
    16, 16, 22, 24, 27, 29, 34, 37,  //
    19, 22, 26, 27, 29, 34, 34, 38,  //
    22, 22, 26, 27, 29, 34, 37, 40,  //
    22, 26, 27, 29, 32, 35, 40, 48,  //
    26, 27, 29, 32, 35, 40, 48, 58,  //
    26, 27, 29, 34, 38, 46, 56, 69,  //
    27, 29, 35, 38, 46, 56, 69, 83,
};

const uint8_t kBuiltinNonIntraMatrix[64] = {
    16, 17, 18, 19, 20, 21, 22, 23,  //
    17, 18, 19, 20, 21, 22, 23, 24,  //
    18, 19, 20, 21, 22, 23, 24, 25,  //
    19, 20, 21, 22, 23, 24, 26, 27,  //
    20, 21, 22, 23, 25, 26, 27, 28,  //
    21, 22, 23, 24, 26, 27, 28, 30,  //
    22, 23, 24, 26, 27, 28, 30, 31,  //
    23, 24, 25, 27, 28, 30, 31, 33,
};

const uint8_t kZigZag[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
};

namespace {

bool has_start_code(const uint8_t* p, uint8_t id) { return start_code_at(p, 4, 0) == id; }

// The copy() of the extension records: 1 for a null source.
template <class T>
int copy_record(T& dst, const T* src) {
  if (!src) return 1;
  dst = *src;
  return 0;
}

// The compare() of the extension records: bit i set where fields[i]
// differs.
template <class T, size_t N>
int differing_fields(const T& a, const T& b, int32_t T::* const (&fields)[N]) {
  int r = 0;
  for (size_t i = 0; i < N; ++i)
    if (a.*fields[i] != b.*fields[i]) r |= 1 << i;
  return r;
}

// Copies a raster-order matrix into a header's buffer, made when missing.
void store_matrix(std::unique_ptr<uint8_t[]>& dst, const uint8_t* m) {
  if (!dst) dst = std::make_unique<uint8_t[]>(64);
  std::memcpy(dst.get(), m, 64);
}

// Level limits by level code 4, 6, 8, 10.
struct LevelLimits {
  int level;
  int max_width;
  int max_height;
  double max_samples;
  int max_mbps;
  int max_vbv;
};
const LevelLimits kLevels[] = {
    {4, 1920, 1152, 62668800.0, 80, 597},
    {6, 1440, 1152, 47001600.0, 60, 448},
    {8, 720, 576, 10368000.0, 15, 112},
    {10, 352, 288, 3041280.0, 4, 29},
};
const LevelLimits* find_level(int level) {
  for (const auto& l : kLevels)
    if (l.level == level) return &l;
  return nullptr;
}

// Allowed profile/level pairs: rows profile 1..5, columns level 4, 6, 8, 10.
const uint8_t kProfileLevelAllowed[5][4] = {
    {1, 1, 1, 0},  // High
    {0, 1, 0, 0},  // Spatially scalable
    {0, 0, 1, 1},  // SNR scalable
    {1, 1, 1, 1},  // Main
    {0, 0, 1, 0},  // Simple
};

}  // namespace

// ---------------------------------------------------------------------------
// SeqExt

int SeqExt::copy(const SeqExt* src) { return copy_record(*this, src); }

int SeqExt::compare(const SeqExt* o) const {
  if (!o) return 1;
  static constexpr int32_t SeqExt::* const kFields[] = {
      &SeqExt::profile_and_level_indication,
      &SeqExt::progressive_sequence,
      &SeqExt::chroma_format,
      &SeqExt::horizontal_size_extension,
      &SeqExt::vertical_size_extension,
      &SeqExt::bit_rate_extension,
      &SeqExt::vbv_buffer_size_extension,
      &SeqExt::low_delay,
      &SeqExt::frame_rate_extension_n,
      &SeqExt::frame_rate_extension_d,
  };
  return differing_fields(*this, *o, kFields);
}

int SeqExt::decode(const uint8_t* data, int length) {
  if (!data || length < 10 || !has_start_code(data, 0xB5) || (data[4] >> 4) != 1) {
    trace("SeqExt::decode (ERROR): no sequence extension in %d bytes\n", length);
    return 0;
  }
  *this = SeqExt();
  BS bs(data + 4, 6);
  bs.skip_bits(4);
  profile_and_level_indication = static_cast<int32_t>(bs.get_bits(8));
  progressive_sequence = static_cast<int32_t>(bs.get_bits(1));
  chroma_format = static_cast<int32_t>(bs.get_bits(2));
  horizontal_size_extension = static_cast<int32_t>(bs.get_bits(2));
  vertical_size_extension = static_cast<int32_t>(bs.get_bits(2));
  bit_rate_extension = static_cast<int32_t>(bs.get_bits(12));
  bs.skip_bits(1);  // marker
  vbv_buffer_size_extension = static_cast<int32_t>(bs.get_bits(8));
  low_delay = static_cast<int32_t>(bs.get_bits(1));
  frame_rate_extension_n = static_cast<int32_t>(bs.get_bits(2));
  frame_rate_extension_d = static_cast<int32_t>(bs.get_bits(5));
  return 10;
}

int SeqExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 1);
  bw.put_bits(static_cast<uint32_t>(profile_and_level_indication), 8);
  bw.put_bits(static_cast<uint32_t>(progressive_sequence), 1);
  bw.put_bits(static_cast<uint32_t>(chroma_format), 2);
  bw.put_bits(static_cast<uint32_t>(horizontal_size_extension), 2);
  bw.put_bits(static_cast<uint32_t>(vertical_size_extension), 2);
  bw.put_bits(static_cast<uint32_t>(bit_rate_extension), 12);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(vbv_buffer_size_extension), 8);
  bw.put_bits(static_cast<uint32_t>(low_delay), 1);
  bw.put_bits(static_cast<uint32_t>(frame_rate_extension_n), 2);
  bw.put_bits(static_cast<uint32_t>(frame_rate_extension_d), 5);
  return start_code_end_unit(bw);
}

int SeqExt::set_profile(int p) {
  if (p >= 1 && p <= 5) profile_and_level_indication = (p << 4) | (profile_and_level_indication & 15);
  return get_profile();
}

// ---------------------------------------------------------------------------
// SeqDisplayExt

int SeqDisplayExt::copy(const SeqDisplayExt* src) { return copy_record(*this, src); }

int SeqDisplayExt::compare(const SeqDisplayExt* o) const {
  if (!o) return 1;
  static constexpr int32_t SeqDisplayExt::* const kFields[] = {
      &SeqDisplayExt::video_format,
      &SeqDisplayExt::colour_description,
      &SeqDisplayExt::colour_primaries,
      &SeqDisplayExt::transfer_characteristics,
      &SeqDisplayExt::matrix_coefficients,
      &SeqDisplayExt::display_horizontal_size,
      &SeqDisplayExt::display_vertical_size,
  };
  return differing_fields(*this, *o, kFields);
}

int SeqDisplayExt::decode(const uint8_t* data, int length) {
  if (!data || length < 9 || !has_start_code(data, 0xB5) || (data[4] >> 4) != 2) {
    trace("SeqDisplayExt::decode (ERROR): no sequence display extension in %d bytes\n", length);
    return 0;
  }
  const int need = (data[4] & 1) ? 12 : 9;
  if (length < need) {
    trace("SeqDisplayExt::decode (ERROR): extension cut short (%d of %d bytes)\n", length, need);
    return 0;
  }
  *this = SeqDisplayExt();  // uncoded colour values take their defaults
  BS bs(data + 4, static_cast<size_t>(need - 4));
  bs.skip_bits(4);
  video_format = static_cast<int32_t>(bs.get_bits(3));
  colour_description = static_cast<int32_t>(bs.get_bits(1));
  if (colour_description) {
    colour_primaries = static_cast<int32_t>(bs.get_bits(8));
    transfer_characteristics = static_cast<int32_t>(bs.get_bits(8));
    matrix_coefficients = static_cast<int32_t>(bs.get_bits(8));
  }
  display_horizontal_size = static_cast<int32_t>(bs.get_bits(14));
  bs.skip_bits(1);  // marker
  display_vertical_size = static_cast<int32_t>(bs.get_bits(14));
  return need;
}

int SeqDisplayExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 2);
  bw.put_bits(static_cast<uint32_t>(video_format), 3);
  bw.put_bits(colour_description ? 1 : 0, 1);
  if (colour_description) {
    bw.put_bits(static_cast<uint32_t>(colour_primaries), 8);
    bw.put_bits(static_cast<uint32_t>(transfer_characteristics), 8);
    bw.put_bits(static_cast<uint32_t>(matrix_coefficients), 8);
  }
  bw.put_bits(static_cast<uint32_t>(display_horizontal_size), 14);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(display_vertical_size), 14);
  return start_code_end_unit(bw);
}

// ---------------------------------------------------------------------------
// SeqScalableExt

int SeqScalableExt::copy(const SeqScalableExt* src) { return copy_record(*this, src); }

int SeqScalableExt::compare(const SeqScalableExt* o) const {
  if (!o) return 1;
  static constexpr int32_t SeqScalableExt::* const kFields[] = {
      &SeqScalableExt::scalable_mode,
      &SeqScalableExt::layer_id,
      &SeqScalableExt::lower_layer_prediction_horizontal_size,
      &SeqScalableExt::lower_layer_prediction_vertical_size,
      &SeqScalableExt::horizontal_subsampling_factor_m,
      &SeqScalableExt::horizontal_subsampling_factor_n,
      &SeqScalableExt::vertical_subsampling_factor_m,
      &SeqScalableExt::vertical_subsampling_factor_n,
      &SeqScalableExt::picture_mux_enable,
      &SeqScalableExt::mux_to_progressive_sequence,
      &SeqScalableExt::picture_mux_order,
      &SeqScalableExt::picture_mux_factor,
  };
  return differing_fields(*this, *o, kFields);
}

// scalable_mode: 0 data partitioning, 1 spatial, 2 SNR, 3 temporal.
int SeqScalableExt::decode(const uint8_t* data, int length) {
  if (!data || length < 6 || !has_start_code(data, 0xB5) || (data[4] >> 4) != 5) {
    trace("SeqScalableExt::decode (ERROR): no sequence scalable extension in %d bytes\n", length);
    return 0;
  }
  const int mode = (data[4] >> 2) & 3;
  const int need = mode == 1 ? 12 : mode == 3 ? 7 : 6;
  if (length < need) {
    trace("SeqScalableExt::decode (ERROR): extension cut short (%d of %d bytes)\n", length, need);
    return 0;
  }
  *this = SeqScalableExt();
  BS bs(data + 4, static_cast<size_t>(need - 4));
  bs.skip_bits(4);
  scalable_mode = static_cast<int32_t>(bs.get_bits(2));
  layer_id = static_cast<int32_t>(bs.get_bits(4));
  if (mode == 1) {
    lower_layer_prediction_horizontal_size = static_cast<int32_t>(bs.get_bits(14));
    bs.skip_bits(1);  // marker
    lower_layer_prediction_vertical_size = static_cast<int32_t>(bs.get_bits(14));
    horizontal_subsampling_factor_m = static_cast<int32_t>(bs.get_bits(5));
    horizontal_subsampling_factor_n = static_cast<int32_t>(bs.get_bits(5));
    vertical_subsampling_factor_m = static_cast<int32_t>(bs.get_bits(5));
    vertical_subsampling_factor_n = static_cast<int32_t>(bs.get_bits(5));
    return 12;
  }
  if (mode == 3) {
    picture_mux_enable = static_cast<int32_t>(bs.get_bits(1));
    if (picture_mux_enable) mux_to_progressive_sequence = static_cast<int32_t>(bs.get_bits(1));
    picture_mux_order = static_cast<int32_t>(bs.get_bits(3));
    picture_mux_factor = static_cast<int32_t>(bs.get_bits(3));
    return 7;
  }
  return length;
}

int SeqScalableExt::encode(BitWriter& bw) const {
  start_code_put_extension(bw, 5);
  bw.put_bits(static_cast<uint32_t>(scalable_mode), 2);
  bw.put_bits(static_cast<uint32_t>(layer_id), 4);
  if (scalable_mode == 1) {
    bw.put_bits(static_cast<uint32_t>(lower_layer_prediction_horizontal_size), 14);
    bw.put_bits(1, 1);
    bw.put_bits(static_cast<uint32_t>(lower_layer_prediction_vertical_size), 14);
    bw.put_bits(static_cast<uint32_t>(horizontal_subsampling_factor_m), 5);
    bw.put_bits(static_cast<uint32_t>(horizontal_subsampling_factor_n), 5);
    bw.put_bits(static_cast<uint32_t>(vertical_subsampling_factor_m), 5);
    bw.put_bits(static_cast<uint32_t>(vertical_subsampling_factor_n), 5);
  } else if (scalable_mode == 3) {
    bw.put_bits(static_cast<uint32_t>(picture_mux_enable), 1);
    if (picture_mux_enable) bw.put_bits(static_cast<uint32_t>(mux_to_progressive_sequence), 1);
    bw.put_bits(static_cast<uint32_t>(picture_mux_order), 3);
    bw.put_bits(static_cast<uint32_t>(picture_mux_factor), 3);
  }
  return start_code_end_unit(bw);
}

// ---------------------------------------------------------------------------
// SeqHdr: life cycle and copying

void SeqHdr::reset() {
  horizontal_size = 0;
  vertical_size = 0;
  aspect_ratio_information = 12;
  frame_rate_code = 4;
  vbv_buffer_size = 0;
  constrained_parameters_flag = 0;
  intra_loaded = 0;
  non_intra_loaded = 0;
  intra_matrix.reset();
  non_intra_matrix.reset();
  mpeg2 = 0;
  has_display_ext = 0;
  has_scalable_ext = 0;
  seq_ext.reset();
  display_ext.reset();
  scalable_ext.reset();
  ext_bytes = 0;
  user_data_bytes = 0;
  coded_copy.reset();
  coded_capacity = 0;
  coded_length = 0;
  bit_rate = 0;
  invalid = 1;
}

namespace {
template <class T>
void mirror(std::unique_ptr<T>& dst, const std::unique_ptr<T>& src) {
  if (!src) {
    dst.reset();
    return;
  }
  if (!dst) dst = std::make_unique<T>();
  dst->copy(src.get());
}
}  // namespace

int SeqHdr::copy(const SeqHdr* src) {
  if (!src) return 1;
  if (src == this) return 0;
  horizontal_size = src->horizontal_size;
  vertical_size = src->vertical_size;
  aspect_ratio_information = src->aspect_ratio_information;
  frame_rate_code = src->frame_rate_code;
  vbv_buffer_size = src->vbv_buffer_size;
  constrained_parameters_flag = src->constrained_parameters_flag;
  intra_loaded = src->intra_loaded;
  non_intra_loaded = src->non_intra_loaded;
  mpeg2 = src->mpeg2;
  has_display_ext = src->has_display_ext;
  has_scalable_ext = src->has_scalable_ext;
  ext_bytes = src->ext_bytes;
  user_data_bytes = src->user_data_bytes;
  coded_length = src->coded_length;
  bit_rate = src->bit_rate;
  invalid = src->invalid;
  // A target without a matrix of its own takes a buffer; one the source
  // lacks is kept (its load flag says it is not in use).
  if (src->intra_matrix) store_matrix(intra_matrix, src->intra_matrix.get());
  if (src->non_intra_matrix) store_matrix(non_intra_matrix, src->non_intra_matrix.get());
  coded_capacity = src->coded_copy ? src->coded_capacity : 0;
  if (coded_capacity > 0) {
    coded_copy = std::make_unique<uint8_t[]>(static_cast<size_t>(coded_capacity));
    std::memcpy(coded_copy.get(), src->coded_copy.get(), static_cast<size_t>(coded_capacity));
  } else {
    coded_copy.reset();
    coded_length = 0;
  }
  // The extensions are mirrored whatever the mpeg2 flag says: keeping the
  // target's old ones would leave a stale size extension or progressive
  // flag behind a copied MPEG-1 header.
  mirror(seq_ext, src->seq_ext);
  mirror(display_ext, src->display_ext);
  mirror(scalable_ext, src->scalable_ext);
  return 0;
}

int SeqHdr::compare_matrices(const SeqHdr* o) const {
  if (!o) return 1;
  if (intra_loaded != o->intra_loaded || non_intra_loaded != o->non_intra_loaded) return 1;
  int r = 0;
  if (intra_loaded && intra_matrix && o->intra_matrix) {
    const int c = std::memcmp(intra_matrix.get(), o->intra_matrix.get(), 64);
    if (c) r |= c < 0 ? -1 : 1;
  }
  if (non_intra_loaded && non_intra_matrix && o->non_intra_matrix) {
    const int c = std::memcmp(non_intra_matrix.get(), o->non_intra_matrix.get(), 64);
    if (c) r |= c < 0 ? -1 : 1;
  }
  return r;
}

int SeqHdr::compare(const SeqHdr* o, int with_matrices) const {
  if (!o) return 1;
  int r = 0;
  if (bit_rate != o->bit_rate) r |= 1 << 0;
  if (frame_rate_code != o->frame_rate_code) r |= 1 << 1;
  if (horizontal_size != o->horizontal_size) r |= 1 << 2;
  if (vertical_size != o->vertical_size) r |= 1 << 3;
  if (mpeg2 != o->mpeg2) r |= 1 << 4;
  if (with_matrices && compare_matrices(o)) r |= 1 << 5;
  if (mpeg2) {
    if (!o->mpeg2) r |= 1 << 4;
    if (!seq_ext || seq_ext->compare(o->seq_ext.get())) r |= 1 << 6;
    if (has_display_ext && (!display_ext || display_ext->compare(o->display_ext.get()))) r |= 1 << 7;
    if (has_scalable_ext && (!scalable_ext || scalable_ext->compare(o->scalable_ext.get()))) r |= 1 << 8;
  }
  return r;
}

// ---------------------------------------------------------------------------
// Queries

int SeqHdr::get_horizontal_size() const {
  return (horizontal_size & 0xFFF) + (seq_ext ? seq_ext->horizontal_size_extension << 12 : 0);
}

int SeqHdr::get_vertical_size() const {
  return (vertical_size & 0xFFF) + (seq_ext ? seq_ext->vertical_size_extension << 12 : 0);
}

int SeqHdr::get_coded_height() const {
  const int h = get_vertical_size();
  return get_progressive_sequence() == 1 ? (h + 15) & ~15 : (h + 31) & ~31;
}

int SeqHdr::get_profile_level() const {
  if (!mpeg2 || !seq_ext) return 72;
  return seq_ext->profile_and_level_indication;
}

double SeqHdr::get_frame_rate() const { return mpeg_get_frame_rate(frame_rate_code); }

int SeqHdr::get_bit_rate() const {
  // MPEG-2 carries the top 12 bits of the rate in the sequence extension;
  // without them rates above 104,857,200 bit/s come out wrong.
  const int64_t ext = mpeg2 && seq_ext ? seq_ext->bit_rate_extension & 0xFFF : 0;
  if (ext == 0) {
    if (bit_rate == 0 || bit_rate == 0x3FFFF) return mpeg2 ? 4000000 : 1150000;
    return static_cast<int>(std::min<int64_t>(static_cast<int64_t>(bit_rate) * 400, INT32_MAX));
  }
  const int64_t units = (ext << 18) + (bit_rate & 0x3FFFF);
  if (units == 0x3FFFFFFF) return 4000000;  // all ones: no real rate
  return static_cast<int>(std::min<int64_t>(units * 400, INT32_MAX));
}

int SeqHdr::set_bit_rate(int bps) {
  const int old = get_bit_rate();
  const int64_t units = (static_cast<int64_t>(bps) + 399) / 400;
  bit_rate = static_cast<int32_t>(units);
  // Split as MPEG-2 codes it, so that an old extension does not inflate
  // the new rate and encode writes both parts.
  if (mpeg2 && seq_ext && units >= 0 && units < (int64_t{1} << 30)) {
    bit_rate = static_cast<int32_t>(units & 0x3FFFF);
    seq_ext->bit_rate_extension = static_cast<int32_t>(units >> 18);
  }
  return old;
}

int SeqHdr::set_aspect_ratio_information(int v) {
  const int old = aspect_ratio_information;
  aspect_ratio_information = v;
  return old;
}

int64_t SeqHdr::get_vbv_buffer_size() const {
  int64_t v = vbv_buffer_size;
  if (mpeg2 && seq_ext && seq_ext->vbv_buffer_size_extension) v += static_cast<int64_t>(seq_ext->vbv_buffer_size_extension) << 10;
  return v << 14;
}

int SeqHdr::get_header_size() const {
  // Counts the matrices the header carries: decode and the defaults keep a
  // buffer of each even when it is not loaded, which is not coded.
  int n = 12;
  if (intra_loaded && intra_matrix) n += 64;
  if (non_intra_loaded && non_intra_matrix) n += 64;
  if (mpeg2) n += ext_bytes;
  return n;
}

bool SeqHdr::is_hd() const {
  return !is_vbr() && get_bit_rate() == 25000000 && get_horizontal_size() >= 1440 && get_vertical_size() >= 1080;
}

int SeqHdr::get_video_info(VideoInfo* info) const {
  if (!info || invalid) return 1;
  *info = VideoInfo();
  info->video_type = 0;
  info->drop_frame = 0;
  info->progressive_sequence = get_progressive_sequence();
  info->mpeg2 = mpeg2;
  info->vbr = is_vbr() ? 1 : 0;
  info->bit_rate = get_bit_rate();
  info->frame_rate = get_frame_rate();
  info->frame_rate_code = frame_rate_code;
  info->width = get_horizontal_size();
  info->height = get_vertical_size();
  info->chroma_format = get_chroma_format();
  info->aspect_ratio_information = aspect_ratio_information;
  info->stream_id = 224;
  info->profile_and_level_indication = get_profile_level();
  return 0;
}

// ---------------------------------------------------------------------------
// Matrices

int SeqHdr::get_intra_matrix(uint8_t* out) const {
  if (!out) return 0;
  std::memcpy(out, intra_loaded && intra_matrix ? intra_matrix.get() : kDefaultIntraMatrix, 64);
  return 1;
}

int SeqHdr::get_non_intra_matrix(uint8_t* out) const {
  if (!out) return 0;
  if (non_intra_loaded && non_intra_matrix)
    std::memcpy(out, non_intra_matrix.get(), 64);
  else
    std::memset(out, 16, 64);
  return 1;
}

int SeqHdr::check_qmatrix(const uint8_t* m) {
  int zeros = 0;
  for (int i = 0; i < 64; ++i) zeros += m[i] == 0;
  return zeros;
}

int SeqHdr::set_intra_matrix(const uint8_t* m) {
  if (!m || check_qmatrix(m)) {
    trace("SeqHdr::set_intra_matrix (ERROR): missing matrix or zero entry\n");
    return 1;
  }
  store_matrix(intra_matrix, m);
  intra_loaded = std::memcmp(m, kDefaultIntraMatrix, 64) != 0;
  return 0;
}

int SeqHdr::set_non_intra_matrix(const uint8_t* m) {
  if (!m || check_qmatrix(m)) {
    trace("SeqHdr::set_non_intra_matrix (ERROR): missing matrix or zero entry\n");
    return 1;
  }
  store_matrix(non_intra_matrix, m);
  int all16 = 1;
  for (int i = 0; i < 64; ++i) all16 &= m[i] == 16;
  non_intra_loaded = !all16;
  return 0;
}

void SeqHdr::set_default_matrices() {
  store_matrix(intra_matrix, kDefaultIntraMatrix);
  store_matrix(non_intra_matrix, kBuiltinNonIntraMatrix);
  intra_loaded = 1;
  non_intra_loaded = 1;
}

// ---------------------------------------------------------------------------
// Set-up for writing

namespace {
void default_matrix_buffers(SeqHdr& h) {
  store_matrix(h.intra_matrix, kDefaultIntraMatrix);
  if (!h.non_intra_matrix) h.non_intra_matrix = std::make_unique<uint8_t[]>(64);
  std::memset(h.non_intra_matrix.get(), 16, 64);
  h.intra_loaded = 0;
  h.non_intra_loaded = 0;
}
}  // namespace

void SeqHdr::set_mpeg1_defaults() {
  horizontal_size = 352;
  vertical_size = 240;
  aspect_ratio_information = 12;
  frame_rate_code = 4;
  bit_rate = 2875;
  vbv_buffer_size = 20;
  constrained_parameters_flag = 1;
  default_matrix_buffers(*this);
  if (!seq_ext) seq_ext = std::make_unique<SeqExt>();
  seq_ext->progressive_sequence = 1;
  seq_ext->chroma_format = 1;
  mpeg2 = 0;
}

void SeqHdr::set_mpeg2_defaults() {
  horizontal_size = 720;
  vertical_size = 480;
  aspect_ratio_information = 2;
  frame_rate_code = 4;
  bit_rate = 15000;
  vbv_buffer_size = 112;
  constrained_parameters_flag = 0;
  default_matrix_buffers(*this);
  if (!seq_ext) seq_ext = std::make_unique<SeqExt>();
  *seq_ext = SeqExt();
  seq_ext->profile_and_level_indication = 0x48;
  seq_ext->progressive_sequence = 0;
  seq_ext->chroma_format = 1;
  mpeg2 = 1;
  has_display_ext = 0;
  has_scalable_ext = 0;
  coded_copy.reset();
  coded_length = 0;
  ext_bytes = 0;
  user_data_bytes = 0;
  coded_capacity = 0;
}

void SeqHdr::setup(int width, int height, int bps, double frame_rate, int mpeg2_flag) {
  if (mpeg2_flag) {
    set_mpeg2_defaults();
  } else {
    set_mpeg1_defaults();
    if (bps == 0 && width <= 160 && height <= 128) bit_rate = 1250;
  }
  horizontal_size = width;
  vertical_size = height;
  if (bps) bit_rate = bps / 400;
  if (frame_rate != 0.0)
    frame_rate_code = mpeg_get_frame_rate_code(frame_rate);
  else if (height == 576)
    frame_rate_code = 3;
}

int SeqHdr::set_chroma_format(int f) {
  if (f == 2) {
    mpeg2 = 1;
    if (!seq_ext) seq_ext = std::make_unique<SeqExt>();
    seq_ext->chroma_format = 2;
    seq_ext->set_profile(1);
  } else if (f == 1 && seq_ext) {
    seq_ext->chroma_format = 1;
  }
  return get_chroma_format();
}

// ---------------------------------------------------------------------------
// Coding

int SeqHdr::decode(const uint8_t* data, int length) {
  invalid = 1;
  if (!data || length < 5) {
    trace("SeqHdr::decode (ERROR): nil data or fewer than 5 bytes\n");
    return 0;
  }
  // One cursor carries the walk from the header through its extensions.
  StartCodeCursor sc(data, length);
  if (!sc.find(0xB3) || sc.left() < 12) {
    trace("SeqHdr::decode (ERROR): no sequence header in %d bytes\n", length);
    return 0;
  }
  const int start = static_cast<int>(sc.offset());

  // 12 + 12 + 4 + 4 + 18 + 1 + 10 + 1 + 1 bits after the start code: the
  // intra matrix then straddles the byte boundaries by one bit.
  BS bs(data + start + 4, static_cast<size_t>(length - start - 4));
  horizontal_size = static_cast<int32_t>(bs.get_bits(12));
  vertical_size = static_cast<int32_t>(bs.get_bits(12));
  aspect_ratio_information = static_cast<int32_t>(bs.get_bits(4));
  frame_rate_code = static_cast<int32_t>(bs.get_bits(4));
  bit_rate = static_cast<int32_t>(bs.get_bits(18));
  bs.skip_bits(1);  // marker
  vbv_buffer_size = static_cast<int32_t>(bs.get_bits(10));
  constrained_parameters_flag = static_cast<int32_t>(bs.get_bits(1));
  const int load_intra = static_cast<int>(bs.get_bits(1));

  if (check_sizes()) {
    trace("SeqHdr::decode (ERROR): bad picture size %dx%d\n", horizontal_size, vertical_size);
    return 0;
  }

  uint8_t intra[64];
  uint8_t non_intra[64];
  std::memcpy(intra, kDefaultIntraMatrix, 64);
  std::memset(non_intra, 16, 64);
  // Zig-zag order; a zero entry, which no matrix may hold, keeps the default.
  auto read_matrix = [&bs](uint8_t* m) {
    for (int i = 0; i < 64; ++i) {
      const uint8_t v = static_cast<uint8_t>(bs.get_bits(8));
      if (v) m[kZigZag[i]] = v;
    }
  };
  // The reader's error flag tells a matrix that runs past the data; the
  // matrices are read into locals, so nothing is stored before the check.
  const int avail = length - start;
  if (load_intra) read_matrix(intra);
  const int load_non_intra = static_cast<int>(bs.get_bits(1));
  if (bs.error()) {
    trace("SeqHdr::decode (ERROR): intra matrix cut short (%d bytes)\n", avail);
    return 0;
  }
  int pos = start + 12 + (load_intra ? 64 : 0);
  if (load_non_intra) {
    read_matrix(non_intra);
    if (bs.error()) {
      trace("SeqHdr::decode (ERROR): non-intra matrix cut short (%d bytes)\n", avail);
      return 0;
    }
    pos += 64;
  }

  // Extensions and user data up to the next other start code.
  mpeg2 = 0;
  has_display_ext = 0;
  has_scalable_ext = 0;
  ext_bytes = 0;
  user_data_bytes = 0;
  bool seen_seq = false, seen_display = false, seen_scalable = false;
  int cur = pos;
  int code = -1;
  sc.seek(pos);
  if (length - pos >= 4 && sc.next()) {
    cur = static_cast<int>(sc.offset());
    code = sc.code();
  }
  while (code == 0xB5) {
    const int left = length - cur;
    if (left < 5) break;
    const int id = data[cur + 4] >> 4;
    if (id == 1) {
      if (left < 10) {
        trace("SeqHdr::decode (ERROR): sequence extension cut short\n");
        return 0;
      }
      if (!seq_ext) seq_ext = std::make_unique<SeqExt>();
      if (!seq_ext->decode(data + cur, left)) {
        trace("SeqHdr::decode (ERROR): sequence extension cut short\n");
        return 0;
      }
      mpeg2 = 1;
      seen_seq = true;
    } else if (id == 2) {
      if (!display_ext) display_ext = std::make_unique<SeqDisplayExt>();
      if (!display_ext->decode(data + cur, left)) {
        trace("SeqHdr::decode (ERROR): sequence display extension cut short\n");
        return 0;
      }
      has_display_ext = 1;
      seen_display = true;
    } else if (id == 5) {
      if (!scalable_ext) scalable_ext = std::make_unique<SeqScalableExt>();
      if (!scalable_ext->decode(data + cur, left)) {
        trace("SeqHdr::decode (ERROR): sequence scalable extension cut short\n");
        return 0;
      }
      has_scalable_ext = 1;
      seen_scalable = true;
    }
    const int next = static_cast<int>(sc.unit_end());
    code = sc.code();
    ext_bytes += next - cur;
    cur = next;
  }
  // Extensions this header does not carry must not survive from an earlier
  // decode into the same object (an MPEG-1 header after an MPEG-2 one).
  if (!seen_seq) seq_ext.reset();
  if (!seen_display) display_ext.reset();
  if (!seen_scalable) scalable_ext.reset();

  if (code == 0xB2) {
    const int next = static_cast<int>(sc.unit_end());
    code = sc.code();
    user_data_bytes = next - cur;
    cur = next;
  }

  intra_loaded = load_intra;
  non_intra_loaded = load_non_intra;
  store_matrix(intra_matrix, intra);
  store_matrix(non_intra_matrix, non_intra);

  coded_length = cur - start;
  if (coded_length == 0) {
    coded_copy.reset();
    coded_capacity = 0;
  } else {
    if (coded_capacity < coded_length || !coded_copy) {
      coded_copy = std::make_unique<uint8_t[]>(static_cast<size_t>(coded_length));
      coded_capacity = coded_length;
    }
    std::memcpy(coded_copy.get(), data + start, static_cast<size_t>(coded_length));
  }
  invalid = 0;
  return cur;
}

int SeqHdr::encode(uint8_t* buffer, int size, int keep) const {
  if (!buffer || size < 12) {
    trace("SeqHdr::encode (ERROR): nil buffer or fewer than 12 bytes\n");
    return 0;
  }
  BitWriter bw(buffer, static_cast<size_t>(size), keep);
  start_code_put(bw, 0x000001B3);
  bw.put_bits(static_cast<uint32_t>(horizontal_size), 12);
  bw.put_bits(static_cast<uint32_t>(vertical_size), 12);
  bw.put_bits(static_cast<uint32_t>(aspect_ratio_information), 4);
  bw.put_bits(static_cast<uint32_t>(frame_rate_code), 4);
  bw.put_bits(static_cast<uint32_t>(bit_rate), 18);
  bw.put_bits(1, 1);
  bw.put_bits(static_cast<uint32_t>(vbv_buffer_size), 10);
  bw.put_bits(static_cast<uint32_t>(constrained_parameters_flag), 1);
  uint8_t m[64];
  auto put_matrix = [&bw, &m] {
    for (int i = 0; i < 64; ++i) bw.put_bits(m[kZigZag[i]], 8);
  };
  bw.put_bits(intra_loaded ? 1 : 0, 1);
  if (intra_loaded) {
    get_intra_matrix(m);
    put_matrix();
  }
  bw.put_bits(non_intra_loaded ? 1 : 0, 1);
  if (non_intra_loaded) {
    get_non_intra_matrix(m);
    put_matrix();
  }
  if (mpeg2) {
    if (seq_ext) seq_ext->encode(bw);
    if (has_display_ext && display_ext) display_ext->encode(bw);
    if (has_scalable_ext && scalable_ext) scalable_ext->encode(bw);
  }
  return start_code_finish(bw, size, "SeqHdr::encode");
}

// ---------------------------------------------------------------------------
// Conformance checks

int SeqHdr::check_size_fields(int* errors) {
  if (horizontal_size < 1 || horizontal_size > 16383) ++*errors;
  if (!mpeg2 && horizontal_size > 4095) {
    if (horizontal_size == 4096)
      horizontal_size = 4095;
    else
      ++*errors;
  }
  if (horizontal_size > 0 && (horizontal_size & 0xFFF) == 0) {
    if (horizontal_size == 4096)
      horizontal_size = 4095;
    else
      ++*errors;
  }
  if (vertical_size < 1 || vertical_size > 16383) ++*errors;
  if (!mpeg2 && vertical_size > 4095) ++*errors;
  if (vertical_size > 0 && (vertical_size & 0xFFF) == 0) ++*errors;
  if (frame_rate_code < 1 || frame_rate_code > 8) frame_rate_code = 4;
  return *errors;
}

int SeqHdr::check_sizes() {
  int errors = 0;
  return check_size_fields(&errors);
}

int SeqHdr::checks() {
  int errors = 0;
  if (check_size_fields(&errors)) trace("SeqHdr::checks (ERROR): bad picture size %dx%d\n", horizontal_size, vertical_size);

  if (bit_rate < 0) {
    trace("SeqHdr::checks (ERROR): negative bit_rate\n");
    ++errors;
  }
  if (!mpeg2 && bit_rate >= 0x40000) {
    trace("SeqHdr::checks (ERROR): bit_rate %d too large for MPEG-1\n", bit_rate);
    ++errors;
  }

  if (vbv_buffer_size < 1) {
    const int v = get_bit_rate() / 2 / 16384;
    vbv_buffer_size = v ? v : 1;
  }
  if (!mpeg2 ? vbv_buffer_size >= 1024 : vbv_buffer_size >= 0x40000) {
    trace("SeqHdr::checks (ERROR): vbv_buffer_size %d too large\n", vbv_buffer_size);
    ++errors;
  }

  // The whole rate: set_bit_rate keeps the MPEG-2 bits above 18 in the extension.
  const int64_t rate_units =
      bit_rate + (mpeg2 && seq_ext && bit_rate >= 0 ? int64_t(seq_ext->bit_rate_extension & 0xFFF) << 18 : 0);
  if (rate_units > 0) {
    const int64_t limit = static_cast<int64_t>(static_cast<double>(rate_units) * 400.0 * 0.7281777777777778);
    if (static_cast<int64_t>(vbv_buffer_size) * 16384 >= limit) vbv_buffer_size = static_cast<int32_t>(limit / 15360);
  }

  if (horizontal_size < 0 || horizontal_size > 16383 || vertical_size < 0 || vertical_size > 16383) {
    trace("SeqHdr::checks (ERROR): size out of range\n");
    ++errors;
  }

  const double rate = get_frame_rate();
  if (!mpeg2) {
    if (constrained_parameters_flag) {
      const int w = horizontal_size, h = vertical_size;
      const int mbs = ((w + 15) / 16) * ((h + 15) / 16);
      if (w > 768 || h > 576 || mbs > 396 || rate * mbs > 9900.0 || rate > 30.0) constrained_parameters_flag = 0;
    }
    return errors;
  }

  if (!seq_ext) {
    trace("SeqHdr::checks (ERROR): MPEG-2 header without sequence extension\n");
    return errors + 1;
  }
  const int chroma = seq_ext->chroma_format;
  if (chroma != 3 && (horizontal_size & 1)) ++horizontal_size;
  if (chroma == 1 && (vertical_size & 1)) ++vertical_size;
  if (chroma < 1 || chroma > 3) {
    trace("SeqHdr::checks (ERROR): chroma_format %d\n", chroma);
    ++errors;
  }

  const int profile = seq_ext->get_profile();
  const int level = seq_ext->get_level();
  if (profile > 15) ++errors;
  if (level > 15) ++errors;
  if (profile == 8) return errors;  // escape: 4:2:2 and multiview, not checked here
  if (profile > 8) {
    trace("SeqHdr::checks (ERROR): reserved profile %d\n", profile);
    return errors + 1;
  }

  const bool known_profile = profile >= 1 && profile <= 5;
  const LevelLimits* lim = find_level(level);
  if (!known_profile) {
    trace("SeqHdr::checks (ERROR): profile %d\n", profile);
    ++errors;
  }
  if (profile == 2 || profile == 3) {
    trace("SeqHdr::checks (ERROR): scalable profile %d not supported\n", profile);
    ++errors;
  }
  if (!lim) {
    trace("SeqHdr::checks (ERROR): level %d\n", level);
    ++errors;
  }
  if (known_profile && lim && !kProfileLevelAllowed[profile - 1][(level - 4) / 2]) {
    trace("SeqHdr::checks (ERROR): profile %d at level %d not allowed\n", profile, level);
    ++errors;
  }
  if (profile != 1 && chroma != 1) {
    trace("SeqHdr::checks (ERROR): chroma_format %d needs High profile\n", chroma);
    ++errors;
  }
  if (profile == 1 && chroma == 3) {
    trace("SeqHdr::checks (ERROR): 4:4:4 not allowed in High profile\n");
    ++errors;
  }

  if (known_profile && lim) {
    const int w = get_horizontal_size(), h = get_vertical_size();
    if (frame_rate_code >= 6 && (level == 8 || level == 10))
      trace("SeqHdr::checks: frame_rate_code %d above level %d\n", frame_rate_code, level);
    if (w > lim->max_width || h > lim->max_height) trace("SeqHdr::checks: size %dx%d above level %d\n", w, h, level);
    if (static_cast<double>(w) * h * rate > lim->max_samples)
      trace("SeqHdr::checks: sample rate above level %d\n", level);
    if (static_cast<int64_t>(get_bit_rate()) > static_cast<int64_t>(lim->max_mbps) * 1000000)
      trace("SeqHdr::checks: bit rate %d above level %d\n", get_bit_rate(), level);
    if (vbv_buffer_size > lim->max_vbv) vbv_buffer_size = lim->max_vbv;
  }
  return errors;
}
