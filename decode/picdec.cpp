// Picture decoder set-up, header parsing and the picture flow (frame
// pictures, field pairs, concealment trigger, picture flags).
#include "decode/picdec.h"

#include <algorithm>
#include <cstring>

#include "decode/conceal.h"
#include "decode/mc.h"
#include "decode/vlc.h"
#include "foundation/gop_header.h"
#include "foundation/trace.h"
#include "foundation/utils.h"

PicDecoder::PicDecoder(const SeqHdr* s) {
  detect_cpu_features();
  init_prediction_table();
  vlc_tables();
  reset();
  if (s) init(s);
  load_quant_matrices(s);
}

PicDecoder::~PicDecoder() { release(); }

void PicDecoder::reset() {
  mb_info_flag = 0;
  chroma_format = 0;
  second_field = 0;
  width = height = padded_width = padded_height = 0;
  luma_area = chroma_width = chroma_height = chroma_area = 0;
  mb_cols = mb_rows = mb_count = 0;
  size_mode = 0;
  scaled_width = scaled_height = 0;
  mb_size = 16;
  bound_h = bound_v_frame = bound_v_field_half = bound_v_field_full = 0;
  for (auto& b : blocks) b = nullptr;
  block_count = 0;
  quantiser_scale = 0;
  quant_sum = 0;
  mb_tally = 0;
  scan = nullptr;
  qscale_table = nullptr;
  coef_limit = 63;
  inverse_transform = idct_dispatch;
  saved_p_forward_fcode = saved_b_forward_fcode = saved_b_backward_fcode = -1;
}

void PicDecoder::release() {
  seq.reset();
  mb_info.reset();
  mb_map.clear();
  matrices_loaded = 0;
  reset();
}

void PicDecoder::init(const SeqHdr* s) {
  if (!s) return;
  if (!seq) seq = std::make_unique<SeqHdr>();
  seq->copy(s);
  set_size(seq->get_horizontal_size(), seq->get_vertical_size(), seq->get_chroma_format());
}

int PicDecoder::set_size(int w, int h, int cf) {
  width = w > 0 ? w : 16;
  height = h > 0 ? h : 16;
  chroma_format = cf;
  padded_width = (width + 15) & ~15;
  const bool interlaced = seq && seq->mpeg2 && !seq->get_progressive_sequence();
  padded_height = interlaced ? (height + 31) & ~31 : (height + 15) & ~15;
  int nb;
  switch (cf) {
    case 2:
      nb = 8;
      chroma_width = padded_width / 2;
      chroma_height = padded_height;
      break;
    case 3:
      nb = 12;
      chroma_width = padded_width;
      chroma_height = padded_height;
      break;
    default:
      nb = 6;
      chroma_width = padded_width / 2;
      chroma_height = padded_height / 2;
      break;
  }
  if (nb != block_count) {
    block_count = nb;
    std::memset(block_store, 0, sizeof block_store);
  }
  for (int k = 0; k < 12; ++k) blocks[k] = block_store + 64 * k;
  luma_area = padded_width * padded_height;
  chroma_area = chroma_width * chroma_height;
  mb_cols = padded_width / 16;
  mb_rows = padded_height / 16;
  const int old = mb_count;
  mb_count = mb_cols * mb_rows;
  second_field = 0;
  if (mb_count != old || mb_map.size() != static_cast<size_t>(mb_count)) mb_map.assign(static_cast<size_t>(mb_count), 0);
  if (mb_info && mb_count != old) {
    mb_info.reset();
    if (mb_info_flag) enable_mb_info(mb_info_flag);
  }
  select_block_size(this, 0);
  scan = kZigZag;
  qscale_table = quant_scale_linear;
  init_prediction_table();
  return set_scale(size_mode);
}

int select_block_size(PicDecoder* d, int mode) {
  int w = d->padded_width, h = d->padded_height, s = 16;
  if (mode == 1) {
    w = ((d->padded_width / 2) + 15) & ~15;
    h = ((d->padded_height / 2) + 15) & ~15;
    s = 8;
  } else if (mode == 2) {
    w = ((d->padded_width / 4) + 15) & ~15;
    h = ((d->padded_height / 4) + 15) & ~15;
    s = 4;
  }
  d->scaled_width = w;
  d->scaled_height = h;
  d->mb_size = s;
  d->bound_h = (w - s) * 2;
  d->bound_v_frame = (h - s) * 2;
  d->bound_v_field_half = h - s;
  d->bound_v_field_full = (h & ~1) - 2 * s;
  return 2 * s;
}

int PicDecoder::set_scale(int mode) {
  size_mode = ((mode % 3) + 3) % 3;
  coef_limit = size_mode == 1 ? 6 : size_mode == 2 ? 4 : 63;
  select_block_size(this, size_mode);
  if (size_mode == 0)
    inverse_transform = coef_limit < 4 ? idct_reduced : idct_dispatch;
  else
    inverse_transform = size_mode == 1 ? idct_half : idct_quarter;
  return mode;
}

int PicDecoder::set_coef_limit(int n) {
  coef_limit = n < 1 ? 1 : n > 63 ? 63 : n;
  if (size_mode == 0) inverse_transform = coef_limit < 4 ? idct_reduced : idct_dispatch;
  return coef_limit;
}

void PicDecoder::load_quant_matrices(const SeqHdr* s) {
  if (s) {
    s->get_intra_matrix(intra_matrix);
    s->get_non_intra_matrix(non_intra_matrix);
  } else {
    std::memcpy(intra_matrix, kDefaultIntraMatrix, 64);
    std::memset(non_intra_matrix, 16, 64);
  }
  std::memcpy(chroma_intra_matrix, intra_matrix, 64);
  std::memcpy(chroma_non_intra_matrix, non_intra_matrix, 64);
  matrices_loaded = 1;
}

int PicDecoder::enable_mb_info(int flag) {
  const int previous = mb_info_flag;
  mb_info_flag = flag;
  if (flag && !mb_info && mb_count > 0) {
    mb_info.reset(new MBInfo[static_cast<size_t>(mb_count)]);
    for (int i = 0; i < mb_count; ++i) mb_info[i].mb_number = i;
  }
  return previous;
}

void PicDecoder::load_quant_matrix_ext() {
  const std::vector<uint8_t>& e = pic.ext_copy;
  const int n = static_cast<int>(std::min<size_t>(e.size(), static_cast<size_t>(pic.ext_length > 0 ? pic.ext_length : e.size())));
  for (int i = 0; i + 4 < n; ++i) {
    if (e[i] || e[i + 1] || e[i + 2] != 1 || e[i + 3] != 0xB5 || (e[i + 4] >> 4) != 3) continue;
    BS bs(e.data() + i + 4, static_cast<size_t>(n - i - 4));
    bs.skip_bits(4);
    uint8_t* targets[4] = {intra_matrix, non_intra_matrix, chroma_intra_matrix, chroma_non_intra_matrix};
    for (int m = 0; m < 4; ++m) {
      if (!bs.get_bit()) continue;
      if (bs.bits_left() < 64 * 8) break;  // matrix cut short: stop loading
      uint8_t tmp[64];
      bool zero = false;
      for (int k = 0; k < 64; ++k) {
        tmp[kZigZag[k]] = static_cast<uint8_t>(bs.get_bits(8));
        zero |= tmp[kZigZag[k]] == 0;
      }
      if (zero) continue;  // a zero weight is not a matrix
      std::memcpy(targets[m], tmp, 64);
      // A loaded luma matrix also stands for chroma until chroma is loaded.
      if (m == 0) std::memcpy(chroma_intra_matrix, tmp, 64);
      if (m == 1) std::memcpy(chroma_non_intra_matrix, tmp, 64);
    }
    break;
  }
}

// A header whose coding type or f_code was repaired is refused by PicHdr but
// still decodable: the picture data then starts at the next start code.
int PicDecoder::decode_picture_header(const uint8_t* data, int length) {
  const int n = pic.decode(data, length);
  if (n || !pic.is_repaired() || length < 5) return n;
  int code = 0;
  const int64_t next = utils_next_start_code(data + 4, length - 4, &code);
  return code ? static_cast<int>(next) + 4 : 0;
}

int PicDecoder::parse_headers(const uint8_t* data, int length) {
  if (!data || length < 4) return 0;
  uint32_t code = 0;
  const int64_t at = utils_next_usr_start_code(0x100, data, length, &code);
  if (code != 0x100) return 0;
  if (at > 0) {
    int first = 0;
    const int64_t k = utils_next_start_code(data, at + 4, &first);
    if (first == 0x1B3 && k < at) {
      if (!seq) seq = std::make_unique<SeqHdr>();
      SeqHdr tmp;
      if (tmp.decode(data + k, static_cast<int>(at - k))) {
        // sizes stay: only the matrices (and extensions) follow the new header
        seq->copy(&tmp);
        load_quant_matrices(seq.get());
      }
    }
  }
  const int n = decode_picture_header(data + at, static_cast<int>(length - at));
  if (!n) return 0;
  if (pic.errors == 0) {
    if (pic.picture_coding_type == 2) saved_p_forward_fcode = pic.forward_f_code;
    if (pic.picture_coding_type == 3) {
      saved_b_forward_fcode = pic.forward_f_code;
      saved_b_backward_fcode = pic.backward_f_code;
    }
  } else if (!(pic.errors & PIC_ERR_CODING_TYPE)) {
    if (pic.errors & PIC_ERR_FORWARD_FCODE) {
      const int saved = pic.picture_coding_type == 2 ? saved_p_forward_fcode : saved_b_forward_fcode;
      if (saved > 0) pic.forward_f_code = saved;
    }
    if ((pic.errors & PIC_ERR_BACKWARD_FCODE) && saved_b_backward_fcode > 0) pic.backward_f_code = saved_b_backward_fcode;
  }
  return static_cast<int>(at) + n;
}

// A second field goes with the first when it is a field picture of the other
// parity, and a B field only with a B field.
static bool second_field_matches(const PicHdr& first, const uint8_t* data, int length) {
  if (length < 8) return false;
  uint32_t code = 0;
  const int64_t at = utils_next_usr_start_code(0x100, data, length, &code);
  if (code != 0x100) return false;
  // only slices or nothing may lie between the fields
  int first_code = 0;
  const int64_t k = utils_next_start_code(data, at + 4, &first_code);
  if (k < at && first_code != 0x100) return false;
  PicHdr h;
  if (!h.decode(data + at, static_cast<int>(length - at)) || !h.mpeg2 || !h.coding_ext) return false;
  const int ps1 = first.get_picture_structure(), ps2 = h.get_picture_structure();
  if (ps2 == 3 || ps2 != 3 - ps1) return false;
  return (first.picture_coding_type == 3) == (h.picture_coding_type == 3);
}

// Copies the lines of one field over the other (a field pair whose second
// field is missing).
static void double_field(Frame* f, int from_parity) {
  const int W = f->padded_width(), Wc = f->c_width();
  for (int y = 0; y + 1 < f->padded_height(); y += 2)
    std::memcpy(f->y_plane() + (y + 1 - from_parity) * W, f->y_plane() + (y + from_parity) * W, static_cast<size_t>(W));
  for (int p = 0; p < 2; ++p) {
    uint8_t* c = p ? f->cr_plane() : f->cb_plane();
    for (int y = 0; y + 1 < f->c_height(); y += 2)
      std::memcpy(c + (y + 1 - from_parity) * Wc, c + (y + from_parity) * Wc, static_cast<size_t>(Wc));
  }
}

int PicDecoder::decode_picture(const uint8_t* data, int length, Frame* frame, Frame* forward, Frame* backward) {
  if (!data || length < 4 || !frame || !frame->y_plane()) return 0;
  if (!seq) {
    SeqHdr tmp;
    if (!tmp.decode(data, length)) {
      trace("PicDecoder::decode_picture (ERROR): no sequence header\n");
      return 0;
    }
    init(&tmp);
    load_quant_matrices(&tmp);
  }
  second_field = 0;
  concealed = 0;
  const int hdr = parse_headers(data, length);
  if (!hdr) return 0;
  if ((pic.mpeg2 != 0) != (seq->mpeg2 != 0)) {
    trace("PicDecoder::decode_picture (ERROR): picture syntax does not match the sequence\n");
    return 0;
  }
  const int ptype = pic.picture_coding_type;
  frame->set_user_data(pic.user_data.empty() ? nullptr : pic.user_data.data(), pic.user_length);
  frame->set_picture_coding_type(ptype);
  if (ptype == 1) {
    GopHdr g;
    uint32_t code = 0;
    const int64_t at = utils_next_usr_start_code(0x1B8, data, hdr, &code);
    if (code == 0x1B8 && g.decode(data + at, hdr - static_cast<int>(at)) && g.user_length > 0)
      frame->set_gop_user_data(g.user_data.data(), g.user_length);
    else
      frame->set_gop_user_data(nullptr, 0);
  } else {
    frame->set_gop_user_data(nullptr, 0);
    if (!forward) forward = frame;
    if (!backward) backward = forward;
  }
  int fields = pic.how_many_fields();
  int consumed = hdr;
  int decoded = 0;
  const int ps = pic.mpeg2 && pic.coding_ext ? pic.get_picture_structure() : 3;
  int field_pair_missing = 0;
  if (pic.mpeg2) {
    const int body = decode_body(data + hdr, length - hdr, frame, forward, backward, 0, mb_info.get(), &decoded);
    consumed += body;
    if (ps != 3) {
      second_field = 1;
      field_decoded[0] = decoded;
      first_field_structure = ps;
      PicHdr first = pic;
      const uint8_t* rest = data + consumed;
      const int left = length - consumed;
      if (body >= 5 && second_field_matches(first, rest, left)) {
        const int h2 = parse_headers(rest, left);
        if (h2) {
          // an I first field leaves a P second field without references:
          // it predicts from this frame (its first field)
          Frame* f2 = forward ? forward : frame;
          Frame* b2r = backward ? backward : f2;
          const int b2 = decode_body(rest + h2, left - h2, frame, f2, b2r, 0, mb_info.get(), &decoded);
          consumed += h2 + b2;
          field_decoded[1] = decoded;
          fields = 2;
        } else {
          field_pair_missing = 1;
        }
      } else {
        field_pair_missing = 1;
      }
      if (field_pair_missing) {
        // lone first field: its lines stand in for the missing field
        double_field(frame, ps == 2 ? 1 : 0);
        std::memcpy(mb_map.data() + mb_count / 2, mb_map.data(), static_cast<size_t>(mb_count / 2));
        field_decoded[1] = field_decoded[0];
        pic = first;
        fields = 2;
      }
      second_field = 0;
      decoded = field_decoded[0] + field_decoded[1];
    }
    frame->set_progressive_frame(pic.get_progressive_frame());
    if (frame->image()) frame->image()->progressive_frame = frame->progressive_frame();
    frame->set_picture_structure(ps);
    frame->set_progressive_sequence(seq->get_progressive_sequence());
    pic.set_progressive_sequence(frame->progressive_sequence());
  } else {
    const int body = decode_body(data + hdr, length - hdr, frame, forward, backward, 0, mb_info.get(), &decoded);
    consumed += body;
    frame->set_picture_structure(3);
    frame->set_progressive_sequence(1);
    frame->set_progressive_frame(0);
    if (frame->image()) frame->image()->progressive_frame = 1;
  }
  // concealment of whatever was not decoded
  const int frame_mbs = std::min(mb_count, (frame->padded_width() / mb_size) * (frame->padded_height() / mb_size));
  if (decoded < frame_mbs || (ps != 3 && (field_decoded[0] < frame_mbs / 2 || field_decoded[1] < frame_mbs / 2))) {
    concealed = conceal_picture(this, decoded, frame, ptype == 1 ? nullptr : forward, ptype == 3 ? backward : nullptr);
  }
  if (size_mode == 0) frame->set_display_size(width, height);
  frame->set_mean_quantiser(get_mean_quant());
  if (fields < 2) fields = 2;
  if (pic.mpeg2 && frame->image()) {
    const int tff = ps == 3 ? pic.get_top_field_first() : (first_field_structure == 1 ? 1 : 0);
    Image* img = frame->image();
    img->set_picture_header_flags(fields, tff, ps == 3 ? pic.get_repeat_first_field() : 0,
                                  pic.coding_ext ? pic.get_progressive_frame() : 1, ps);
    frame->set_field_count(img->field_count);
    frame->set_displayed_fields(img->field_count);
    frame->set_top_field_first(img->top_field_first);
    frame->set_repeat_flag(img->repeat_first_field);
  }
  return std::min(consumed, length);
}

int PicDecoder::decode_mb_info(const uint8_t* data, int length, MBInfo* records) {
  if (!data || length < 4) return 0;
  uint32_t code = 0;
  const int64_t at = utils_next_usr_start_code(0x100, data, length, &code);
  if (code != 0x100) return 0;
  const int n = decode_picture_header(data + at, static_cast<int>(length - at));
  if (!n) return 0;
  if (!records) {
    enable_mb_info(1);
    records = mb_info.get();
  }
  if (!records) return 0;
  const int start = static_cast<int>(at) + n;
  int decoded = 0;
  const int body = decode_body(data + start, length - start, nullptr, nullptr, nullptr, 1, records, &decoded);
  const int ps = pic.mpeg2 && pic.coding_ext ? pic.get_picture_structure() : 3;
  if (ps != 3) second_field ^= 1;
  return start + body;
}
