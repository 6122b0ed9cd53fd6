// Picture decoder: one coded MPEG-1 or MPEG-2 picture (or field pair) into a
// Frame, or a parse-only pass into MBInfo records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/frame.h"
#include "decode/idct.h"
#include "picture/mbinfo.h"
#include "foundation/pic_header.h"
#include "foundation/seq_header.h"

struct BodyCtx;

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
  [[nodiscard]] int parse_headers(const uint8_t* data, int length);
  // pic.decode, accepting a repaired header (see picdec.cpp).
  [[nodiscard]] int decode_picture_header(const uint8_t* data, int length);
  // One picture (and the second field of a field pair that follows it) into
  // frame. Returns the bytes consumed, 0 when nothing was decoded.
  int decode_picture(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward);
  [[nodiscard]] int decode_mb_info(const uint8_t* data, int length, MBInfo* records);
  double get_mean_quant() const { return quant.mb_tally < 1 ? 0.0 : static_cast<double>(quant.sum) / quant.mb_tally; }
  int enable_mb_info(int flag);
  // The records of the last decoded picture (null unless enabled).
  const MBInfo* get_mb_info() const { return mb_info.get(); }
  void load_quant_matrix_ext();
  // The caller promises this many readable bytes behind every buffer it
  // passes; with MB_READER_PADDING or more, a picture body followed by a
  // start code (or zeros) is read in place instead of being copied.
  void set_input_padding(size_t bytes) { input_padding = bytes; }

  // Queries for callers and tests.
  int get_padded_width() const { return geo.padded_width; }
  int get_padded_height() const { return geo.padded_height; }
  int get_mb_cols() const { return geo.mb_cols; }
  int get_mb_rows() const { return geo.mb_rows; }
  int get_mb_count() const { return geo.mb_count; }
  int get_size_mode() const { return reduced.size_mode; }
  int get_coef_limit() const { return reduced.coef_limit; }
  IdctFn get_inverse_transform() const { return reduced.inverse_transform; }
  int get_second_field_pending() const { return pair.second_field; }
  const uint8_t* get_mb_map() const { return mb_map.data(); }
  const PicHdr& get_picture_header() const { return pic; }
  void set_picture_header(const PicHdr& h) { pic = h; }
  const SeqHdr* get_sequence_header() const { return seq.get(); }
  // 0 intra, 1 non-intra, 2 chroma intra, 3 chroma non-intra (natural order).
  const uint8_t* get_quant_matrix(int which) const { return quant.matrix[which & 3]; }
  // Scaled padded size of the current size mode (the frame size to allocate).
  int get_scaled_width() const { return reduced.scaled_width; }
  int get_scaled_height() const { return reduced.scaled_height; }
  // Macroblocks left undecoded (then concealed) by the last picture.
  int get_concealed_count() const { return pair.concealed; }

 private:
  // Coded size and the macroblock grid.
  struct Geometry {
    int width = 0, height = 0;
    int padded_width = 0, padded_height = 0;
    int chroma_format = 0;
    int mb_cols = 0, mb_rows = 0, mb_count = 0;
  };
  // Output size mode: 0 full, 1 half, 2 quarter.
  struct Reduced {
    int size_mode = 0;
    int scaled_width = 0, scaled_height = 0, mb_size = 16;
    int coef_limit = 63;
    IdctFn inverse_transform = idct_dispatch;
  };
  // Matrices, quantiser scale and the per-picture weights made from them.
  struct Quant {
    uint8_t matrix[4][64] = {};  // intra, non-intra, chroma intra, chroma non-intra
    const uint8_t* scan = nullptr;
    const uint8_t* scale_table = nullptr;
    long long sum = 0;  // quantiser_scale over the macroblocks of the picture
    int mb_tally = 0;
  };
  // f_codes of the last sound P and B headers, for repaired headers.
  struct SavedFcodes {
    int p_forward = -1, b_forward = -1, b_backward = -1;
  };
  // Field pair progress.
  struct Pair {
    int second_field = 0;
    int field_decoded[2] = {};  // decoded macroblocks per field
    int first_field_structure = 0;
    int concealed = 0;
  };
  // Buffers the body decoder works in.
  struct Work {
    std::vector<uint8_t> padded_data;  // a picture body with zeros behind it
    alignas(32) int16_t block_store[12 * 64] = {};
    // quantiser_scale x weight in scan order per quantiser_scale, made when
    // first used in a picture body: [qs][matrix][scan index].
    uint16_t weights[113][4][64];
    uint8_t weights_valid[113] = {};
  };

  int select_block_size(int mode);
  void set_quant_matrices(const uint8_t* intra, const uint8_t* non_intra);
  const uint16_t (*weights_for(int qs))[64];
  // Start-code walk of decode_picture: headers before the picture, the
  // picture header and the GOP header if any. Returns the bytes up to the
  // picture data, 0 without a usable picture header.
  int walk_headers(const uint8_t* data, int length, const uint8_t** gop);
  int finish_picture_header(const uint8_t* data, int length);
  int decode_second_field(const uint8_t* rest, int left, int first_body, Frame* frame, Frame* forward,
                          Frame* backward, int ps);
  void set_field_flags(Frame* frame, int ps, int fields);
  // One picture body (frame or field); returns the bytes consumed.
  int decode_body(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward, int parse_only,
                  MBInfo* records, int* decoded);
  void setup_body(BodyCtx& c, Frame* frame, Frame* forward, Frame* backward, int parse_only);

  Geometry geo;
  Reduced reduced;
  Quant quant;
  SavedFcodes saved_fcodes;
  Pair pair;
  PicHdr pic;
  std::unique_ptr<SeqHdr> seq;
  std::unique_ptr<MBInfo[]> mb_info;
  int mb_info_flag = 0;
  std::vector<uint8_t> mb_map;
  size_t input_padding = 0;
  std::unique_ptr<Work> work = std::make_unique<Work>();
};
