// Picture decoder: one coded MPEG-1 or MPEG-2 picture (or field pair) into a
// Frame, or a parse-only pass into MBInfo records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/frame.h"
#include "decode/idct.h"
#include "picture/mbinfo.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"

class PicDecoder {
 public:
  explicit PicDecoder(const SeqHdr* seq);
  virtual ~PicDecoder();
  PicDecoder(const PicDecoder&) = delete;
  PicDecoder& operator=(const PicDecoder&) = delete;

  void reset();
  void release();
  void init(const SeqHdr* seq);
  int set_size(int width, int height, int chroma_format);
  int set_scale(int mode);
  int set_coef_limit(int n);
  void load_quant_matrices(const SeqHdr* seq);
  // Bytes from data to the end of the picture header with its extensions and
  // user data; 0 without a picture header.
  int parse_headers(const uint8_t* data, int length);
  // pic.decode, accepting a repaired header (see picdec.cpp).
  int decode_picture_header(const uint8_t* data, int length);
  // One picture (and the second field of a field pair that follows it) into
  // frame. Returns the bytes consumed, 0 when nothing was decoded.
  int decode_picture(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward);
  int decode_mb_info(const uint8_t* data, int length, MBInfo* records);
  double get_mean_quant() const { return mb_tally < 1 ? 0.0 : static_cast<double>(quant_sum) / mb_tally; }
  int enable_mb_info(int flag);
  void load_quant_matrix_ext();

  // Queries for callers and tests.
  int get_padded_width() const { return padded_width; }
  int get_padded_height() const { return padded_height; }
  int get_mb_count() const { return mb_count; }
  int get_coef_limit() const { return coef_limit; }
  IdctFn get_inverse_transform() const { return inverse_transform; }
  int get_second_field_pending() const { return second_field; }
  const uint8_t* get_mb_map() const { return mb_map.data(); }
  const PicHdr& get_picture_header() const { return pic; }
  const SeqHdr* get_sequence_header() const { return seq.get(); }
  // Scaled padded size of the current size mode (the frame size to allocate).
  int get_scaled_width() const { return scaled_width; }
  int get_scaled_height() const { return scaled_height; }
  // Macroblocks left undecoded (then concealed) by the last picture.
  int get_concealed_count() const { return concealed; }

  // Fields, in the record's order.
  std::unique_ptr<MBInfo[]> mb_info;
  int mb_info_flag = 0;
  int chroma_format = 0;
  int second_field = 0;
  int width = 0, height = 0;
  int padded_width = 0, padded_height = 0;
  int luma_area = 0;
  int chroma_width = 0, chroma_height = 0, chroma_area = 0;
  int mb_cols = 0, mb_rows = 0, mb_count = 0;
  int size_mode = 0;
  // Reduced geometry (select_block_size).
  int scaled_width = 0, scaled_height = 0, mb_size = 16;
  int bound_h = 0, bound_v_frame = 0, bound_v_field_half = 0, bound_v_field_full = 0;
  // Coefficient blocks (64 coefficients each, natural order).
  int16_t* blocks[12] = {};
  int block_count = 0;
  int quantiser_scale = 0;
  long long quant_sum = 0;
  int mb_tally = 0;
  PicHdr pic;
  std::unique_ptr<SeqHdr> seq;
  uint8_t intra_matrix[64] = {}, non_intra_matrix[64] = {};
  uint8_t chroma_intra_matrix[64] = {}, chroma_non_intra_matrix[64] = {};
  int matrices_loaded = 0;
  const uint8_t* scan = nullptr;
  const uint8_t* qscale_table = nullptr;
  std::vector<uint8_t> mb_map;
  int coef_limit = 63;
  IdctFn inverse_transform = nullptr;
  int saved_p_forward_fcode = -1;
  int saved_b_forward_fcode = -1, saved_b_backward_fcode = -1;

  // Working state (not part of the record).
  std::vector<uint8_t> padded_data;  // picture body with zero padding behind it
  alignas(32) int16_t block_store[12 * 64];
  int concealed = 0;
  int field_decoded[2] = {};  // decoded macroblocks per field of a pair
  int first_field_structure = 0;

  // quantiser_scale x weight matrix in scan order, per quantiser_scale,
  // made when first used in a picture body: 0 intra, 1 non-intra,
  // 2 chroma intra, 3 chroma non-intra.
  uint16_t qweights[113][4][64];
  uint8_t qweights_valid[113] = {};
  const uint16_t* quant_weights(int which) {
    const int qs = quantiser_scale < 0 ? 0 : quantiser_scale > 112 ? 112 : quantiser_scale;
    if (!qweights_valid[qs]) {
      const uint8_t* m[4] = {intra_matrix, non_intra_matrix, chroma_intra_matrix, chroma_non_intra_matrix};
      for (int w = 0; w < 4; ++w)
        for (int i = 0; i < 64; ++i) qweights[qs][w][i] = static_cast<uint16_t>(qs * m[w][scan[i]]);
      qweights_valid[qs] = 1;
    }
    return qweights[qs][which];
  }

  // One picture body (frame or field); returns the bytes consumed.
  int decode_body(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward, int parse_only,
                  MBInfo* records, int* decoded);
};

// Reduced geometry for a size mode; returns 2 x macroblock size.
int select_block_size(PicDecoder* decoder, int mode);
