#include "encode/encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "decode/idct.h"
#include "decode/picdec.h"
#include "encode/enc_vlc.h"
#include "foundation/mpeg_fields.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"

const uint8_t kNonLinearQuantScale[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  10, 12, 14, 16, 18,  20,  22,
                                          24, 28, 32, 36, 40, 44, 48, 52, 56, 64, 72, 80, 88, 96, 104, 112};

namespace {

// Code whose value range holds v, by the ranges of the rate control.
constexpr int nonlinear_code(int v) {
  if (v < 8) return v;
  if (v < 24) return 8 + (v - 8) / 2;
  if (v < 54) {
    constexpr int upper[] = {26, 29, 33, 37, 41, 45, 49, 53};
    int c = 16;
    while (v > upper[c - 16]) ++c;
    return c;
  }
  constexpr int upper[] = {60, 67, 75, 83, 90, 100, 107, 112};
  int c = 24;
  while (v > upper[c - 24]) ++c;
  return c;
}

constexpr int kMaxUserData = 1 << 20;

int f_code_for(int r, int fmax) {
  int f = 1, limit = 8;
  while (r >= limit && f < fmax) {
    limit *= 2;
    ++f;
  }
  return f;
}

}  // namespace

const uint8_t kNonLinearQuantCode[113] = {
#define C(v) static_cast<uint8_t>(nonlinear_code(v))
#define C8(b) C(b), C(b + 1), C(b + 2), C(b + 3), C(b + 4), C(b + 5), C(b + 6), C(b + 7)
    C8(0), C8(8), C8(16), C8(24), C8(32), C8(40), C8(48), C8(56), C8(64), C8(72), C8(80), C8(88), C8(96), C8(104),
    C(112)
#undef C8
#undef C
};

Encoder::Encoder(const RecordVideoSetup& params, int* result) {
  clear();
  init_result = init(params);
  if (!init_result) rc_init_seq(0);
  if (result) *result = init_result;
}

Encoder::~Encoder() = default;

void Encoder::clear() {
  constant_mquant = 0;
  mpeg1 = 1;
  gop_size = 15;
  ref_distance = 3;
  me_strategy = 6;
  search_h = search_v = 7;
  closed_gop = 0;
  fieldpic = 0;
  scan = kZigZag;
  rc.clear();
  vbr = 0;
  fixed_mquant = fixed_mq_max_bit_rate = 0;
}

int Encoder::init(const RecordVideoSetup& params) {
  seqhdr = std::make_unique<SeqHdr>();
  pichdr = std::make_unique<PicHdr>();
  pichdr->coding_ext = std::make_unique<PicCodingExt>();
  if (params.mpeg1)
    set_mpeg1_default(params.gop_size, params.ref_distance, params.search_h, params.search_v);
  else
    set_mpeg2_default(params.gop_size, params.ref_distance, params.search_h, params.search_v);
  set_picture_coding_flags();
  if (params.seqhdr) {
    seqhdr->copy(params.seqhdr);
    // The output version follows the copied header both ways; a mixed
    // stream (MPEG-2 picture extensions after an MPEG-1 sequence) is invalid.
    const int want_mpeg1 = seqhdr->mpeg2 ? 0 : 1;
    if (want_mpeg1 != mpeg1) {
      mpeg1 = want_mpeg1;
      apply_version_defaults();
      set_picture_coding_flags();
      set_search_window(search_h, search_v);
    }
    if (seqhdr->is_vbr() || params.fixed_mquant > 0) vbr = 1;
  }
  if (seqhdr->seq_ext) {
    seqhdr->seq_ext->progressive_sequence = params.progressive ? 1 : 0;
  }
  if (params.progressive) {
    pichdr->coding_ext->progressive_frame = 1;
    for (int& f : frame_pred_frame_dct) f = 1;
  }
  if (params.pichdr) copy_picture_coding_ext(params.pichdr);
  if (params.fixed_mquant > 0) vbr = 1;
  if (mpeg1 && seqhdr->get_bit_rate() <= 1152000) {
    seqhdr->vbv_buffer_size = 20;
  } else if (!vbr) {
    const int64_t l = static_cast<int64_t>(seqhdr->get_bit_rate() * 0.7281777777777778);
    if (static_cast<int64_t>(seqhdr->vbv_buffer_size) * 16384 >= l)
      seqhdr->vbv_buffer_size = std::max<int>(1, static_cast<int>(static_cast<int64_t>(0.8 * l) / 16384));
    if (seqhdr->is_hd()) seqhdr->set_default_matrices();
  }
  if (seqhdr->checks()) trace("Encoder::init (): encoder validity checks failed.\n");
  if (init_data()) return 1;
  rc.next_ip_delay = rc.decoding_time = 0;
  me_strategy = (!params.mpeg1 && !seqhdr->get_progressive_sequence()) ? 0x26 : 6;
  mesearch = std::make_unique<MESearch>(me_strategy);
  if (params.me_mode == 1) {
    mesearch->no_half_pel = 1;
    mesearch->set_search_level(1);
  } else if (params.me_mode == 2) {
    me_strategy |= params.mpeg1 ? 0x10 : 0x01;
    mesearch->set_mode(me_strategy);
    mesearch->no_half_pel = 0;
    mesearch->set_search_level(3);
  } else {
    mesearch->no_half_pel = 0;
    mesearch->set_search_level(2);
  }
  if (params.fixed_mquant == 0) return 0;
  fixed_mquant = params.fixed_mquant;
  if (params.fixed_mq_max_bit_rate) {
    seqhdr->set_bit_rate(params.fixed_mq_max_bit_rate);
    fixed_mq_max_bit_rate = params.fixed_mq_max_bit_rate;
  }
  seqhdr->constrained_parameters_flag = 0;
  constant_mquant = params.constant_mquant ? 1 : 0;
  return 0;
}

void Encoder::apply_version_defaults() {
  if (mpeg1) {
    pichdr->mpeg2 = 0;
    pichdr->coding_ext->intra_dc_precision = 0;
    for (int i = 0; i < 3; ++i) {
      q_scale_type[i] = intra_vlc_format[i] = alternate_scan[i] = 0;
      frame_pred_frame_dct[i] = 1;
    }
  } else {
    pichdr->mpeg2 = 1;
    pichdr->coding_ext->intra_dc_precision = 2;
    for (int i = 0; i < 3; ++i) {
      q_scale_type[i] = 1;
      intra_vlc_format[i] = i == 0;
      alternate_scan[i] = 0;
      frame_pred_frame_dct[i] = 0;
    }
  }
}

void Encoder::set_mpeg1_default(int n, int m, int h, int v) { set_defaults(1, n, m, h, v); }

void Encoder::set_mpeg2_default(int n, int m, int h, int v) { set_defaults(0, n, m, h, v); }

void Encoder::set_defaults(int version1, int n, int m, int h, int v) {
  if (version1) seqhdr->set_mpeg1_defaults();
  else seqhdr->set_mpeg2_defaults();
  if (n > 0) gop_size = n;
  if (m >= 0) ref_distance = m;
  mpeg1 = version1;
  fieldpic = 0;
  apply_version_defaults();
  set_search_window(h, v);
  time_code = SMPTE_TimeCode();
  pts_per_picture = 90000.0 / seqhdr->get_frame_rate();
  pts_per_bit = 90000.0 / std::max(1, seqhdr->get_bit_rate());
  if (check_parameters())
    trace(version1 ? "Encoder::set_mpeg1_default (): invalid parameter found\n"
                   : "Encoder::set_mpeg2_default (): invalid parameter found\n");
}

void Encoder::set_picture_coding_flags() {
  PicCodingExt& e = *pichdr->coding_ext;
  e.top_field_first = mpeg1 ? 0 : 1;
  e.repeat_first_field = 0;
  e.progressive_frame = mpeg1 ? 1 : 0;
}

void Encoder::set_search_window(int h, int v) {
  const int bound = mpeg1 ? 511 : 2047;
  h = std::clamp(h, 0, bound);
  v = std::clamp(v, 0, bound);
  if (h == 0 || v == 0)
    mpeg_get_search_range((seqhdr->horizontal_size + 15) & ~15, (seqhdr->vertical_size + 15) & ~15, &h, &v);
  search_h = h;
  search_v = v;
  // M = 0 (I and P pictures only) searches like M = 1.
  const int m = std::max(ref_distance, 1);
  motion_data.assign(static_cast<size_t>(m) + 1, MotionData{});
  const int fmax = mpeg1 ? 7 : 9;
  for (int i = 0; i <= m; ++i) {
    MotionData& d = motion_data[static_cast<size_t>(i)];
    const int fd = (i == 0 || i == m) ? m : i;
    d.sxf = (fd * h) | 1;
    d.syf = (fd * v) | 1;
    d.forw_hor_f_code = f_code_for(d.sxf, fmax);
    d.forw_vert_f_code = f_code_for(d.syf, fmax);
    if (i > 0 && i < m) {
      d.sxb = ((m - i) * h) | 1;
      d.syb = ((m - i) * v) | 1;
      d.back_hor_f_code = f_code_for(d.sxb, fmax);
      d.back_vert_f_code = f_code_for(d.syb, fmax);
    }
    if (mpeg1) {
      d.forw_hor_f_code = d.forw_vert_f_code = std::max(d.forw_hor_f_code, d.forw_vert_f_code);
      d.back_hor_f_code = d.back_vert_f_code = std::max(d.back_hor_f_code, d.back_vert_f_code);
    }
  }
}

void Encoder::set_gop_structure(int n, int m) {
  gop_size = n;
  if (m != ref_distance) {
    ref_distance = m;
    set_search_window(search_h, search_v);
  }
}

int Encoder::set_drop_frame_flag(int flag) {
  time_code.init(flag);
  return time_code.get_drop_frame_flag();
}

int Encoder::set_user_data(const uint8_t* bytes, int length) {
  if (!bytes || length <= 0) {
    user_data.clear();
    return 0;
  }
  // Anything else would be read as another syntax element by decoders.
  if (length < 4 || length > kMaxUserData || start_code_at(bytes, length, 0) != 0xB2) {
    trace("Encoder::set_user_data (ERROR): user data must start with 00 00 01 B2\n");
    return 1;
  }
  // A start code follows the user data: a prefix in its last three bytes
  // would take that code's first byte as its code byte.
  if (StartCodeCursor(bytes + 4, length - 4).next() || start_code_prefix_at_end(bytes + 4, length - 4)) {
    trace("Encoder::set_user_data (ERROR): start code inside user data\n");
    return 1;
  }
  user_data.assign(bytes, bytes + length);
  return 0;
}

static int encoder_check_qmatrix(const int32_t* values) {
  int bad = 0;
  for (int i = 0; i < 64; ++i)
    if (values[i] < 1 || values[i] > 0x7ffffffe) {
      trace("encoder_check_qmatrix (ERROR): entry %d = %d\n", i, values[i]);
      ++bad;
    }
  return bad;
}

int Encoder::load_intra_matrix(const uint8_t* matrix) {
  if (!matrix || seqhdr->set_intra_matrix(matrix)) return 1;
  int32_t t[64];
  scale_quant_matrix(t, matrix);
  if (encoder_check_qmatrix(t)) return 1;
  std::memcpy(intra_q, t, sizeof t);
  return 0;
}

int Encoder::load_non_intra_matrix(const uint8_t* matrix) {
  if (!matrix || seqhdr->set_non_intra_matrix(matrix)) return 1;
  int32_t t[64];
  scale_quant_matrix(t, matrix);
  if (encoder_check_qmatrix(t)) return 1;
  std::memcpy(non_intra_q, t, sizeof t);
  return 0;
}

int Encoder::init_data() {
  const int hs = seqhdr->horizontal_size, vs = seqhdr->vertical_size;
  chroma_format = seqhdr->get_chroma_format();
  // Our frame buffers hold 4:2:0 and 4:2:2 only.
  if (chroma_format != 1 && chroma_format != 2) {
    trace("Encoder::init_data (ERROR): chroma format %d not supported\n", chroma_format);
    return 1;
  }
  if (!mpeg_picture_size_ok(hs, vs)) {
    trace("Encoder::init_data (ERROR): picture size %dx%d not supported\n", hs, vs);
    return 1;
  }
  mb_width = (hs + 15) / 16;
  mb_height = (!mpeg1 && !seqhdr->get_progressive_sequence()) ? 2 * ((vs + 31) / 32) : (vs + 15) / 16;
  width = 16 * mb_width;
  height = 16 * mb_height;
  width2 = fieldpic ? 2 * width : width;
  height2 = fieldpic ? height / 2 : height;
  mb_height2 = height2 / 16;
  mb_count = mb_width * mb_height;
  mb_count2 = mb_width * mb_height2;
  chrom_width = width / 2;
  chrom_height = chroma_format == 1 ? height / 2 : height;
  chrom_width2 = fieldpic ? 2 * chrom_width : chrom_width;
  block_count = 4 + (1 << chroma_format);
  recon = std::make_unique<Frame>(width, height, chroma_format, 0);
  if (!recon->y_plane() || recon->padded_width() != width || recon->padded_height() < height) {
    trace("Encoder::init_data (): out of memory\n");
    return 1;
  }
  mbinfo.assign(static_cast<size_t>(mb_count2), MBInfo{});
  for (int i = 0; i < mb_count2; ++i) mbinfo[static_cast<size_t>(i)].mb_number = i;
  blocks.assign(static_cast<size_t>(mb_count2) * block_count, CoefBlock{});
  uint8_t m[64];
  seqhdr->get_intra_matrix(m);
  scale_quant_matrix(intra_q, m);
  seqhdr->get_non_intra_matrix(m);
  scale_quant_matrix(non_intra_q, m);
  time_code = SMPTE_TimeCode();
  pts_per_picture = 90000.0 / seqhdr->get_frame_rate();
  pts_per_bit = 90000.0 / std::max(1, seqhdr->get_bit_rate());
  return 0;
}
