// Picture decoder set-up, header parsing and the picture flow (frame
// pictures, field pairs, concealment trigger, picture flags).
#include "decode/picdec.h"

#include <algorithm>
#include <cstring>

#include "decode/conceal.h"
#include "foundation/start_code.h"
#include "foundation/video_vlc.h"
#include "foundation/gop_header.h"
#include "foundation/trace.h"

PicDecoder::PicDecoder(const SeqHdr* s) {
  vlc_tables();
  reset();
  if (s) init(s);
  load_quant_matrices(s);
}

PicDecoder::~PicDecoder() { release(); }

void PicDecoder::reset() {
  mb_info_flag = 0;
  geo = Geometry{};
  reduced = Reduced{};
  quant.scan = nullptr;
  quant.scale_table = nullptr;
  quant.sum = 0;
  quant.mb_tally = 0;
  saved_fcodes = SavedFcodes{};
  pair.second_field = 0;
}

void PicDecoder::release() {
  seq.reset();
  mb_info.reset();
  mb_map.clear();
  reset();
}

void PicDecoder::init(const SeqHdr* s) {
  if (!s) return;
  if (!seq) seq = std::make_unique<SeqHdr>();
  seq->copy(s);
  set_size(seq->get_horizontal_size(), seq->get_vertical_size(), seq->get_chroma_format());
}

int PicDecoder::set_size(int w, int h, int cf) {
  // A damaged header must not make the decoder's tables huge: such a size is
  // refused and the decoder keeps a token one that no frame will match.
  const bool refused = !mpeg_picture_size_ok(w, h) && (w > 0 || h > 0);
  if (refused) {
    trace("PicDecoder::set_size (ERROR): %d x %d is beyond every MPEG level\n", w, h);
    w = h = 16;
  }
  geo.width = w > 0 ? w : 16;
  geo.height = h > 0 ? h : 16;
  geo.chroma_format = cf;
  geo.padded_width = (geo.width + 15) & ~15;
  const bool interlaced = seq && seq->mpeg2 && !seq->get_progressive_sequence();
  geo.padded_height = interlaced ? (geo.height + 31) & ~31 : (geo.height + 15) & ~15;
  geo.mb_cols = geo.padded_width / 16;
  geo.mb_rows = geo.padded_height / 16;
  const int old = geo.mb_count;
  geo.mb_count = geo.mb_cols * geo.mb_rows;
  pair.second_field = 0;
  if (geo.mb_count != old || mb_map.size() != static_cast<size_t>(geo.mb_count))
    mb_map.assign(static_cast<size_t>(geo.mb_count), 0);
  if (mb_info && geo.mb_count != old) {
    mb_info.reset();
    if (mb_info_flag) enable_mb_info(mb_info_flag);
  }
  select_block_size(0);
  quant.scan = kZigZag;
  quant.scale_table = quant_scale_linear;
  const int rc = set_scale(reduced.size_mode);
  return refused ? 1 : rc;
}

int PicDecoder::select_block_size(int mode) {
  int w = geo.padded_width, h = geo.padded_height, s = 16;
  if (mode == 1) {
    w = ((geo.padded_width / 2) + 15) & ~15;
    h = ((geo.padded_height / 2) + 15) & ~15;
    s = 8;
  } else if (mode == 2) {
    w = ((geo.padded_width / 4) + 15) & ~15;
    h = ((geo.padded_height / 4) + 15) & ~15;
    s = 4;
  }
  reduced.scaled_width = w;
  reduced.scaled_height = h;
  reduced.mb_size = s;
  return 2 * s;
}

int PicDecoder::set_scale(int mode) {
  reduced.size_mode = ((mode % 3) + 3) % 3;
  reduced.coef_limit = reduced.size_mode == 1 ? 6 : reduced.size_mode == 2 ? 4 : 63;
  select_block_size(reduced.size_mode);
  if (reduced.size_mode == 0)
    reduced.inverse_transform = reduced.coef_limit < 4 ? idct_reduced : idct_dispatch;
  else
    reduced.inverse_transform = reduced.size_mode == 1 ? idct_half : idct_quarter;
  return mode;
}

int PicDecoder::set_coef_limit(int n) {
  reduced.coef_limit = n < 1 ? 1 : n > 63 ? 63 : n;
  if (reduced.size_mode == 0) reduced.inverse_transform = reduced.coef_limit < 4 ? idct_reduced : idct_dispatch;
  return reduced.coef_limit;
}

void PicDecoder::load_quant_matrices(const SeqHdr* s) {
  uint8_t(&m)[4][64] = quant.matrix;
  if (s) {
    s->get_intra_matrix(m[0]);
    s->get_non_intra_matrix(m[1]);
  } else {
    std::memcpy(m[0], kDefaultIntraMatrix, 64);
    std::memset(m[1], 16, 64);
  }
  std::memcpy(m[2], m[0], 64);
  std::memcpy(m[3], m[1], 64);
}

int PicDecoder::enable_mb_info(int flag) {
  const int previous = mb_info_flag;
  mb_info_flag = flag;
  if (flag && !mb_info && geo.mb_count > 0) {
    mb_info.reset(new MBInfo[static_cast<size_t>(geo.mb_count)]);
    for (int i = 0; i < geo.mb_count; ++i) mb_info[i].mb_number = i;
  }
  return previous;
}

void PicDecoder::load_quant_matrix_ext() {
  const std::vector<uint8_t>& e = pic.ext_copy;
  const int n = static_cast<int>(std::min<size_t>(e.size(), static_cast<size_t>(pic.ext_length > 0 ? pic.ext_length : e.size())));
  StartCodeCursor c(e.data(), n);
  while (c.find(0xB5) && c.offset() + 4 < n) {
    const int i = int(c.offset());
    if ((e[i + 4] >> 4) != 3) continue;
    BS bs(e.data() + i + 4, static_cast<size_t>(n - i - 4));
    bs.skip_bits(4);
    uint8_t(&targets)[4][64] = quant.matrix;
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
      if (m < 2) std::memcpy(targets[m + 2], tmp, 64);
    }
    break;
  }
}

namespace {

constexpr size_t NO_CODE = static_cast<size_t>(-1);

// Offset of the first 00 00 01 xx at or after from whose xx lies within
// length, with *code = 0x100 + xx; NO_CODE when there is none. A 0x01 that
// does not end a prefix lets the next prefix end no sooner than three bytes
// on.
size_t next_start_code(const uint8_t* data, size_t length, size_t from, int* code) {
  StartCodeCursor c(data, static_cast<int64_t>(length));
  c.seek(static_cast<int64_t>(from));
  if (!c.next()) return NO_CODE;
  *code = 0x100 + c.code();
  return static_cast<size_t>(c.offset());
}

// Where the headers in front of a picture's data lie: the first start code
// of all, the first GOP header and the first picture header.
struct HeaderPlaces {
  size_t first = NO_CODE;
  int first_code = 0;
  size_t gop = NO_CODE;
  size_t picture = NO_CODE;
};

HeaderPlaces walk_start_codes(const uint8_t* data, size_t length) {
  HeaderPlaces h;
  int code = 0;
  for (size_t at = next_start_code(data, length, 0, &code); at != NO_CODE;
       at = next_start_code(data, length, at + 3, &code)) {
    if (h.first == NO_CODE) {
      h.first = at;
      h.first_code = code;
    }
    if (code == 0x1B8 && h.gop == NO_CODE) h.gop = at;
    if (code == 0x100) {
      h.picture = at;
      break;
    }
  }
  return h;
}

}  // namespace

// A header whose coding type or f_code was repaired is refused by PicHdr but
// still decodable: the picture data then starts at the next start code.
int PicDecoder::decode_picture_header(const uint8_t* data, int length) {
  const int n = pic.decode(data, length);
  if (n || !pic.is_repaired() || length < 5) return n;
  int code = 0;
  const size_t next = next_start_code(data, static_cast<size_t>(length), 4, &code);
  return next != NO_CODE ? static_cast<int>(next) : 0;
}

// The picture header at data, with the f_codes of a repaired header taken
// from the last sound header of its type.
int PicDecoder::finish_picture_header(const uint8_t* data, int length) {
  const int n = decode_picture_header(data, length);
  if (!n) return 0;
  if (pic.errors == 0) {
    if (pic.picture_coding_type == PIC_TYPE_P) saved_fcodes.p_forward = pic.forward_f_code;
    if (pic.picture_coding_type == PIC_TYPE_B) {
      saved_fcodes.b_forward = pic.forward_f_code;
      saved_fcodes.b_backward = pic.backward_f_code;
    }
  } else if (!(pic.errors & PIC_ERR_CODING_TYPE)) {
    if (pic.errors & PIC_ERR_FORWARD_FCODE) {
      const int saved = pic.picture_coding_type == PIC_TYPE_P ? saved_fcodes.p_forward : saved_fcodes.b_forward;
      if (saved > 0) pic.forward_f_code = saved;
    }
    if ((pic.errors & PIC_ERR_BACKWARD_FCODE) && saved_fcodes.b_backward > 0)
      pic.backward_f_code = saved_fcodes.b_backward;
  }
  return n;
}

int PicDecoder::walk_headers(const uint8_t* data, int length, const uint8_t** gop) {
  if (gop) *gop = nullptr;
  if (!data || length < 4) return 0;
  const HeaderPlaces h = walk_start_codes(data, static_cast<size_t>(length));
  if (h.picture == NO_CODE) return 0;
  const int at = static_cast<int>(h.picture);
  if (h.first_code == 0x1B3 && h.first < h.picture) {
    if (!seq) seq = std::make_unique<SeqHdr>();
    SeqHdr tmp;
    if (tmp.decode(data + h.first, at - static_cast<int>(h.first))) {
      // sizes stay: only the matrices (and extensions) follow the new header
      seq->copy(&tmp);
      load_quant_matrices(seq.get());
    }
  }
  const int n = finish_picture_header(data + at, length - at);
  if (!n) return 0;
  if (gop && h.gop != NO_CODE) *gop = data + h.gop;
  return at + n;
}

int PicDecoder::parse_headers(const uint8_t* data, int length) { return walk_headers(data, length, nullptr); }

// A second field goes with the first when it is a field picture of the other
// parity, and a B field only with a B field; nothing but its picture header
// may come first. Returns the offset of that header, or -1.
static int second_field_at(const PicHdr& first, const uint8_t* data, int length) {
  if (length < 8) return -1;
  int code = 0;
  const size_t at = next_start_code(data, static_cast<size_t>(length), 0, &code);
  if (at == NO_CODE || code != 0x100) return -1;
  PicHdr h;
  if (!h.decode(data + at, length - static_cast<int>(at)) || !h.mpeg2 || !h.coding_ext) return -1;
  const int ps1 = first.get_picture_structure(), ps2 = h.get_picture_structure();
  if (ps2 == PIC_FRAME || ps2 != 3 - ps1) return -1;
  if ((first.picture_coding_type == PIC_TYPE_B) != (h.picture_coding_type == PIC_TYPE_B)) return -1;
  return static_cast<int>(at);
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
  pair.second_field = 0;
  pair.concealed = 0;
  const uint8_t* gop = nullptr;
  const int hdr = walk_headers(data, length, &gop);
  if (!hdr) return 0;
  if ((pic.mpeg2 != 0) != (seq->mpeg2 != 0)) {
    trace("PicDecoder::decode_picture (ERROR): picture syntax does not match the sequence\n");
    return 0;
  }
  const int ptype = pic.picture_coding_type;
  frame->set_user_data(pic.user_data.empty() ? nullptr : pic.user_data.data(), pic.user_length);
  frame->set_picture_coding_type(ptype);
  frame->set_gop_user_data(nullptr, 0);
  if (ptype == PIC_TYPE_I) {
    GopHdr g;
    if (gop && g.decode(gop, hdr - static_cast<int>(gop - data)) && g.user_length > 0)
      frame->set_gop_user_data(g.user_data.data(), g.user_length);
  } else {
    if (!forward) forward = frame;
    if (!backward) backward = forward;
  }
  int fields = pic.how_many_fields();
  int consumed = hdr;
  int decoded = 0;
  const int ps = pic.mpeg2 && pic.coding_ext ? pic.get_picture_structure() : PIC_FRAME;
  if (pic.mpeg2) {
    const int body = decode_body(data + hdr, length - hdr, frame, forward, backward, 0, mb_info.get(), &decoded);
    consumed += body;
    if (ps != PIC_FRAME) {
      pair.field_decoded[0] = decoded;
      consumed += decode_second_field(data + consumed, length - consumed, body, frame, forward, backward, ps);
      fields = 2;
      decoded = pair.field_decoded[0] + pair.field_decoded[1];
    }
    frame->set_progressive_frame(pic.get_progressive_frame());
    if (frame->image()) frame->image()->progressive_frame = frame->progressive_frame();
    frame->set_picture_structure(ps);
    frame->set_progressive_sequence(seq->get_progressive_sequence());
    pic.set_progressive_sequence(frame->progressive_sequence());
  } else {
    const int body = decode_body(data + hdr, length - hdr, frame, forward, backward, 0, mb_info.get(), &decoded);
    consumed += body;
    frame->set_picture_structure(PIC_FRAME);
    frame->set_progressive_sequence(1);
    frame->set_progressive_frame(0);
    if (frame->image()) frame->image()->progressive_frame = 1;
  }
  // concealment of whatever was not decoded
  const int mbs = reduced.mb_size;
  const int frame_mbs = std::min(geo.mb_count, (frame->padded_width() / mbs) * (frame->padded_height() / mbs));
  if (decoded < frame_mbs ||
      (ps != PIC_FRAME && (pair.field_decoded[0] < frame_mbs / 2 || pair.field_decoded[1] < frame_mbs / 2))) {
    pair.concealed = conceal_picture(this, decoded, frame, ptype == PIC_TYPE_I ? nullptr : forward,
                                     ptype == PIC_TYPE_B ? backward : nullptr);
  }
  if (reduced.size_mode == 0) frame->set_display_size(geo.width, geo.height);
  frame->set_mean_quantiser(get_mean_quant());
  if (pic.mpeg2 && frame->image()) set_field_flags(frame, ps, fields < 2 ? 2 : fields);
  return std::min(consumed, length);
}

// The second field of a pair behind the first one's body (first_body bytes),
// or, when there is none, the first field's lines standing in for it.
// Returns the bytes of the second field.
int PicDecoder::decode_second_field(const uint8_t* rest, int left, int first_body, Frame* frame, Frame* forward,
                                    Frame* backward, int ps) {
  pair.second_field = 1;
  pair.first_field_structure = ps;
  const PicHdr first = pic;
  int consumed = 0;
  const int at = first_body >= 5 ? second_field_at(first, rest, left) : -1;
  const int h2 = at >= 0 ? finish_picture_header(rest + at, left - at) : 0;
  if (h2) {
    // an I first field leaves a P second field without references: it
    // predicts from this frame (its first field)
    Frame* f2 = forward ? forward : frame;
    Frame* b2 = backward ? backward : f2;
    const int start = at + h2;
    int decoded = 0;
    consumed = start + decode_body(rest + start, left - start, frame, f2, b2, 0, mb_info.get(), &decoded);
    pair.field_decoded[1] = decoded;
  } else {
    double_field(frame, ps == PIC_BOTTOM_FIELD ? 1 : 0);
    std::memcpy(mb_map.data() + geo.mb_count / 2, mb_map.data(), static_cast<size_t>(geo.mb_count / 2));
    pair.field_decoded[1] = pair.field_decoded[0];
    pic = first;
  }
  pair.second_field = 0;
  return consumed;
}

// Field count, field order, repeat and progressive flags of an MPEG-2 picture.
void PicDecoder::set_field_flags(Frame* frame, int ps, int fields) {
  const int tff = ps == PIC_FRAME ? pic.get_top_field_first() : (pair.first_field_structure == PIC_TOP_FIELD ? 1 : 0);
  Image* img = frame->image();
  img->set_picture_header_flags(fields, tff, ps == PIC_FRAME ? pic.get_repeat_first_field() : 0,
                                pic.coding_ext ? pic.get_progressive_frame() : 1, ps);
  frame->set_displayed_fields(img->field_count);
  frame->set_field_count(img->field_count);
  frame->set_top_field_first(img->top_field_first);
  frame->set_repeat_flag(img->repeat_first_field);
}

int PicDecoder::decode_mb_info(const uint8_t* data, int length, MBInfo* records) {
  if (!data || length < 4) return 0;
  int code = 0;
  size_t at = next_start_code(data, static_cast<size_t>(length), 0, &code);
  while (at != NO_CODE && code != 0x100) at = next_start_code(data, static_cast<size_t>(length), at + 3, &code);
  if (at == NO_CODE) return 0;
  const int n = decode_picture_header(data + at, length - static_cast<int>(at));
  if (!n) return 0;
  if (!records) {
    enable_mb_info(1);
    records = mb_info.get();
  }
  if (!records) return 0;
  const int start = static_cast<int>(at) + n;
  int decoded = 0;
  const int body = decode_body(data + start, length - start, nullptr, nullptr, nullptr, 1, records, &decoded);
  const int ps = pic.mpeg2 && pic.coding_ext ? pic.get_picture_structure() : PIC_FRAME;
  if (ps != PIC_FRAME) pair.second_field ^= 1;
  return start + body;
}
