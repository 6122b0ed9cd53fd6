#include "record/recoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "access/dcache.h"
#include "access/dtv.h"
#include "encode/encoder.h"
#include "foundation/bitstream.h"
#include "foundation/pic_header.h"
#include "foundation/rewriters.h"
#include "foundation/seq_header.h"
#include "foundation/start_code.h"
#include "foundation/trace.h"
#include "foundation/video_finders.h"
#include "picture/frame.h"
#include "record/recorder.h"

namespace {

// Offset of the picture coding extension of the first picture, -1 when
// there is none.
int first_coding_ext(const uint8_t* d, int n) {
  StartCodeCursor c(d, n);
  if (!c.find(0x00) || c.offset() + 9 > n) return -1;
  return find_picture_coding_ext(d, n, int(c.offset()));
}

// The top_field_first a picture needs to follow one with these flags.
int next_top_field_first(int fields, int tff) { return fields % 2 ? !tff : tff; }

}  // namespace

// ---- picture types -----------------------------------------------------------

int run_picture_type(int i, int n, int m) {
  if (m <= 1) return i == 0 ? 1 : 2;
  const int o = n % m ? m - n % m + 1 : 1;
  if ((o + i) % m) return 3;
  const int first_ref = (m - o % m) % m;
  return i == first_ref ? 1 : 2;
}

// ---- display-order list ------------------------------------------------------

int build_rf_list(int max, const uint8_t* data, int bytes, int progressive, std::vector<RefFrameEntry>* list) {
  list->assign(size_t(std::max(max, 0)) + 1, RefFrameEntry());
  if (!data || bytes < 12 || max <= 0) {
    list->clear();
    return 0;
  }
  // The limit counts pictures read, the held one too: counting only the
  // entries filled read one picture more and returned max + 1 entries.
  int filled = 0, read = 0;
  bool held = false;
  RefFrameEntry held_entry;
  PicHdr ph;
  StartCodeCursor c(data, bytes);
  while (read < max && c.find(0x00) && c.offset() + 8 <= bytes) {
    const int i = int(c.offset());
    const int left = bytes - i;
    if (ph.decode(data + i, left) <= 0 && ph.errors) {
      trace("ERROR (build_rf_list): PicHdr::decode () failed\n");
      break;
    }
    ++read;
    RefFrameEntry e;
    e.offset = i;
    e.field = ph.get_field_count(progressive);
    e.packed = (e.field * 16 + (ph.get_top_field_first() ? 1 : 0)) * 16 + (ph.get_repeat_first_field() ? 1 : 0);
    if (ph.picture_coding_type == 3) {
      (*list)[size_t(filled++)] = e;
    } else {
      if (held) (*list)[size_t(filled++)] = held_entry;
      held_entry = e;
      held = true;
    }
    c.seek(i + 4);
  }
  if (held) (*list)[size_t(filled++)] = held_entry;
  list->resize(size_t(filled));
  int pos = 0;
  for (RefFrameEntry& e : *list) {
    const int f = e.field;
    e.field = pos;
    pos += f;
  }
  return filled;
}

int set_picture_coding_ext_flags(uint8_t* data, int bytes, int top_field_first, int repeat_first_field) {
  const int e = data ? first_coding_ext(data, bytes) : -1;
  if (e < 0) return 1;
  uint8_t b7 = data[e + 7], b8 = data[e + 8];
  b7 = uint8_t((b7 & ~0x82) | (top_field_first ? 0x80 : 0) | (repeat_first_field ? 0x02 : 0));
  if (repeat_first_field && !(b8 & 0x80)) {
    // chroma_420_type follows progressive_frame where it did before.
    if (!(b7 & 0x01)) b7 = uint8_t(b7 | 0x01);
    b8 = uint8_t(b8 | 0x80);
  }
  if (b7 == data[e + 7] && b8 == data[e + 8]) return 1;
  data[e + 7] = b7;
  data[e + 8] = b8;
  return 0;
}

int adjust_field_count(uint8_t* data, int bytes, int progressive, int max, int all, int delta) {
  if (progressive || delta == 0) return 0;
  int changed = 0;
  const int want = delta > 0 ? 2 : 3;
  for (int round = 0; round < std::abs(delta); ++round) {
    std::vector<RefFrameEntry> list;
    const int n = build_rf_list(max, data, bytes, progressive, &list);
    int pick = -1;
    for (int k = 0; k < n; ++k)
      if (list[size_t(k)].fields() == want) {
        pick = k;
        if (!all) break;
      }
    if (pick < 0) break;
    RefFrameEntry& p = list[size_t(pick)];
    // The picture starts on the field its predecessor leaves; the first
    // picture keeps its own start, which the GOP before it leaves.
    const int tff = pick > 0 ? next_top_field_first(list[size_t(pick) - 1].fields(), list[size_t(pick) - 1].top_field_first())
                             : p.top_field_first();
    if (set_picture_coding_ext_flags(data + p.offset, bytes - p.offset, tff, delta > 0) != 0) break;
    ++changed;
    // Every later picture starts on the other field now.
    for (int k = pick + 1; k < n; ++k) {
      const RefFrameEntry& q = list[size_t(k)];
      if (set_picture_coding_ext_flags(data + q.offset, bytes - q.offset, !q.top_field_first(), q.repeat_first_field()) !=
          0)
        return changed;
    }
  }
  return changed;
}

// ---- output GOP --------------------------------------------------------------

int without_end_code(const uint8_t* d, int n) {
  int e = n;
  // Constant-rate streams pad pictures with long runs of zero bytes: skip
  // them a word at a time.
  for (uint64_t w = 0; e >= 8; e -= 8) {
    std::memcpy(&w, d + e - 8, 8);
    if (w != 0) break;
  }
  while (e > 0 && d[e - 1] == 0) --e;
  if (start_code_at(d, n, e - 4) == 0xB7) return e - 4;
  return n;
}

void OutputGop::append_coded(const uint8_t* data, int n) {
  const int base = int(bytes.size());
  StartCodeCursor c(data, n);
  while (c.find(0x00)) pics.push_back(base + int(c.offset()));
  append(data, n);
}

int copy_pictures(const GOP& gop, int first, int count, int restart, OutputGop* out) {
  const uint8_t* d = gop.data;
  const int n = gop.valid_bytes();
  if (!d || n <= 0 || first < 0 || count <= 0 || first >= gop.pic_count) return 0;
  count = std::min(count, gop.pic_count - first);
  const int end = first + count;
  int fields = 0;
  // A copy from picture 0, or from the GOP's I picture when it starts a new
  // output GOP, brings the GOP's headers along.
  const bool new_gop = first == 0 || (!restart && gop.get_pic_type(first) == 1);
  if (new_gop) out->position = 0;
  for (int i = first; i < end; ++i) {
    const int at = gop.get_pic_entry(i);
    const int from = i == first && new_gop ? 0 : at;
    const int e = std::min(i + 1 < gop.pic_count ? gop.get_pic_entry(i + 1) : gop.byte_length, n);
    if (at < from || at + 6 > e) break;  // the rest of the GOP cannot be read
    const int len = without_end_code(d + from, e - from);
    if (i == first && new_gop) out->start_gop();
    const int pic_at = int(out->bytes.size()) + at - from;
    out->append(d + from, len);
    out->pics.push_back(pic_at);
    // Temporal reference from the picture's place in the output GOP: a B
    // picture shows before the reference ahead of it in coded order, a
    // reference after the B pictures that follow it.
    int tr = out->position - 1;
    if (gop.get_pic_type(i) != 3) {
      int k = 0;
      while (i + 1 + k < end && gop.get_pic_type(i + 1 + k) == 3) ++k;
      tr = out->position + k;
    }
    utils_set_temporal_reference(out->bytes.data() + pic_at, int64_t(out->bytes.size()) - pic_at, tr);
    ++out->position;
    fields += gop.get_pic_fields(i);
  }
  out->fields += fields;
  return fields;
}

int load_seqhdr(const GOP& gop, Encoder* encoder) {
  if (!encoder || !gop.data) return 1;
  const int n = std::min(gop.get_pic_entry(0) > 0 ? gop.get_pic_entry(0) : gop.valid_bytes(), gop.valid_bytes());
  const int at = start_code_find(gop.data, n, 0xB3, 4);
  if (at < 0) return 1;
  SeqHdr s;
  if (s.decode(gop.data + at, n - at) <= 0) return 1;
  if (!encoder->seqhdr || s.get_horizontal_size() != encoder->seqhdr->get_horizontal_size() ||
      s.get_vertical_size() != encoder->seqhdr->get_vertical_size())
    return 1;
  // Re-encoded pictures follow the source's header, matrices included.
  uint8_t m[64];
  if (s.get_intra_matrix(m) == 0 && encoder->load_intra_matrix(m) != 0) return 1;
  if (s.get_non_intra_matrix(m) == 0 && encoder->load_non_intra_matrix(m) != 0) return 1;
  *encoder->seqhdr = s;
  return 0;
}

int longest_output_gop(double frame_rate) { return frame_rate > 25.5 || frame_rate <= 0 ? 18 : 15; }

int recode_I_frame(DTV* dtv, const GOP& gop, int index, int display_index, int temporal_reference, int vbr,
                   Encoder* encoder, OutputGop* out) {
  if (!dtv || !encoder || index < 0 || index >= gop.pic_count) return 0;
  Frame* f = dtv->decode_ip_frames(index + 1);
  if (!f) return 0;
  f->set_stream_frame(display_index);
  const int progressive = encoder->seqhdr && encoder->seqhdr->mpeg2 ? encoder->seqhdr->get_progressive_sequence() : 1;
  // The source picture's field order and count carry over.
  f->set_top_field_first(gop.get_pic_flag(index));
  double q = f->mean_quantiser() > 0 ? f->mean_quantiser() : dtv->get_mean_quant();
  const int quant = std::clamp(int(q), 1, 31);
  const int target = vbr && gop.pic_count > 1 ? gop.get_pic_entry(1) : 0;
  std::vector<uint8_t> buffer(size_t(std::max(4 * f->y_size(), 1 << 20)));
  BitWriter bw(buffer.data(), buffer.size(), 1);
  encoder->pichdr->temporal_reference = temporal_reference;
  const int bytes = encoder->encode_intra(f, bw, quant, target);
  if (bytes <= 0) return 0;
  int len = int(bw.bit_count() / 8);
  utils_set_temporal_reference(buffer.data(), len, temporal_reference);
  const int want = gop.get_pic_fields(index);
  PicHdr ph;
  int fields = ph.decode(buffer.data(), len) > 0 || !ph.errors ? ph.get_field_count(progressive) : 2;
  if (fields != want && encoder->seqhdr && encoder->seqhdr->mpeg2 && !progressive) {
    set_picture_coding_ext_flags(buffer.data(), len, gop.get_pic_flag(index), want == 3);
    if (ph.decode(buffer.data(), len) > 0 || !ph.errors) fields = ph.get_field_count(progressive);
  }
  if (fields != want) trace("ERROR: the recode_I_frame () has different field count\n");
  out->start_gop();
  out->append_coded(buffer.data(), len);
  out->fields += fields;
  return fields;
}

int restructure_copy(DTV* dtv, const GOP& gop, const std::vector<uint8_t>& keep, int longest, int output_frame,
                     int vbr, Encoder* encoder, OutputGop* out) {
  const int end = std::min(gop.pic_count, int(keep.size()));
  int first = 0;
  while (first < end && !keep[size_t(first)]) ++first;
  int fields = 0;
  for (int i = first; i < end;) {
    if (!keep[size_t(i)]) {
      ++i;
      continue;
    }
    // A unit: the picture and the kept B pictures after it in coded order
    // (leading B pictures left out of the copy stay out).
    int unit = 1;
    while (i + unit < end && keep[size_t(i + unit)] && gop.get_pic_type(i + unit) == 3) ++unit;
    const bool starts_gop = i == 0 || (gop.get_pic_type(i) == 1);
    if (out->position > 0 && out->position + unit > longest && gop.get_pic_type(i) != 3 && !starts_gop) {
      const int b = unit - 1;
      const int shown = output_frame + gop.get_pic_display_frame(i);
      const int f = recode_I_frame(dtv, gop, i, shown, b, vbr, encoder, out);
      if (f <= 0) {
        trace("ERROR: encode_next_frame () <= 0\n");
        fields += copy_pictures(gop, i, unit, 1, out);
      } else {
        fields += f;
        out->position = 1;
        if (b > 0) fields += copy_pictures(gop, i + 1, b, 1, out);
      }
    } else {
      fields += copy_pictures(gop, i, unit, i != first || !starts_gop, out);
    }
    i += unit;
  }
  return fields;
}

// ---- luma copy -----------------------------------------------------------------

int luma_blend_weight(int d) {
  d = std::abs(d);
  if (d >= 40) return 256;
  const double dd = double(d) * d;
  return int(std::lround(256.0 * dd / (dd + 3.0)));
}

void copy_frame_luma(Frame* new_frame, const Frame* previous) {
  if (!new_frame || !previous || !new_frame->y_plane() || !previous->y_plane() ||
      new_frame->padded_width() != previous->padded_width() || new_frame->padded_height() != previous->padded_height())
    return;
  static const auto table = [] {
    std::array<uint16_t, 256> t{};
    for (int d = 0; d < 256; ++d) t[size_t(d)] = uint16_t(luma_blend_weight(d));
    return t;
  }();
  uint8_t* n = new_frame->y_plane();
  const uint8_t* p = previous->y_plane();
  const int size = new_frame->y_size();
  for (int i = 0; i < size; ++i) {
    const int w = table[size_t(std::abs(n[i] - p[i]))];
    n[i] = uint8_t(((256 - w) * p[i] + w * n[i] + 128) / 256);
  }
}

void LumaCopy::set_reference_frames(Frame* new_frame, const Frame* previous_frame) {
  if (!active) return;
  if (calls > 0) copy_frame_luma(new_frame, previous_frame);
  ++calls;
}

// ---- scene changes ---------------------------------------------------------------

void SceneStats::init(int width, int height, int scene_option) {
  option = scene_option;
  threshold = int(0.5 * (height / 16.0) * (width / 16.0));
  reset();
}

int SceneStats::is_scene_change(int value) {
  if (!option) return 0;
  const double mean = count > 0 ? double(sum) / count : threshold / 3.0;
  sum += value;
  ++count;
  if (value >= threshold && value > 3 * int(mean)) {
    reset();
    return 1;
  }
  return 0;
}

// ---- inverse telecine ------------------------------------------------------------

long long frame_difference(const Frame& a, const Frame& b) {
  if (!a.y_plane() || !b.y_plane()) return 0;
  const int w = std::min(a.get_width(), b.get_width()) & ~1;
  const int h = std::min(a.get_height(), b.get_height()) & ~1;
  const int sa = a.padded_width(), sb = b.padded_width();
  long long total = 0;
  for (int y = 0; y < h; y += 2) {
    const uint8_t* a0 = a.y_plane() + ptrdiff_t(y) * sa;
    const uint8_t* b0 = b.y_plane() + ptrdiff_t(y) * sb;
    for (int x = 0; x < w; x += 2) {
      const int ma = (a0[x] + a0[x + 1] + a0[x + sa] + a0[x + sa + 1] + 2) / 4;
      const int mb = (b0[x] + b0[x + 1] + b0[x + sb] + b0[x + sb + 1] + 2) / 4;
      total += std::abs(ma - mb);
    }
  }
  return total;
}

TelecineWindow::TelecineWindow() = default;
TelecineWindow::~TelecineWindow() = default;

bool TelecineWindow::alloc(const Frame& like) {
  slots_.clear();
  held = 0;
  for (int i = 0; i < 6; ++i) {
    auto f = std::make_unique<Frame>(like.padded_width(), like.padded_height(), like.chroma_format(), 0);
    if (!f->y_plane()) {
      slots_.clear();
      return false;
    }
    f->set_display_size(like.get_width(), like.get_height());
    slots_.push_back(std::move(f));
  }
  return true;
}

int TelecineWindow::drop_repeated_frame(int k) {
  if (slots_.size() != 6 || k < 1 || k > 5) return -1;
  long long best = 1000000000;
  int drop = 0;
  for (int i = 0; i < k; ++i) {
    const long long d = frame_difference(*slots_[size_t(i)], *slots_[size_t(i == 0 ? 5 : i - 1)]);
    if (d < best) {
      best = d;
      drop = i;
    }
  }
  std::rotate(slots_.begin() + drop, slots_.begin() + drop + 1, slots_.begin() + k);
  if (k >= 2) {
    Frame* last = slots_[size_t(k - 2)].get();
    Frame* keep = slots_[5].get();
    std::memcpy(keep->buffer(), last->buffer(), size_t(last->y_size() + 2 * last->c_size()));
  }
  return drop;
}

namespace {

// Combing of the luminance of the first field of `a` woven with the second
// field of `b`: where a line of one field stands out from both its
// neighbours of the other in the same direction.
long long comb(const Frame& a, const Frame& b, int first_top) {
  const int w = std::min(a.get_width(), b.get_width()), h = std::min(a.get_height(), b.get_height());
  const int sa = a.padded_width(), sb = b.padded_width();
  const int second = first_top ? 1 : 0;  // rows of the second field
  long long total = 0;
  for (int y = 1; y + 1 < h; ++y) {
    const bool from_b = (y & 1) == second;
    const uint8_t* up = from_b ? a.y_plane() + ptrdiff_t(y - 1) * sa : b.y_plane() + ptrdiff_t(y - 1) * sb;
    const uint8_t* mid = from_b ? b.y_plane() + ptrdiff_t(y) * sb : a.y_plane() + ptrdiff_t(y) * sa;
    const uint8_t* down = from_b ? a.y_plane() + ptrdiff_t(y + 1) * sa : b.y_plane() + ptrdiff_t(y + 1) * sb;
    for (int x = 0; x < w; x += 2) {
      const int d1 = mid[x] - up[x], d2 = mid[x] - down[x];
      if ((d1 > 0 && d2 > 0) || (d1 < 0 && d2 < 0)) total += std::min(std::abs(d1), std::abs(d2));
    }
  }
  return total;
}

void copy_rows(const uint8_t* from, int from_stride, uint8_t* to, int to_stride, int width, int rows, int parity) {
  for (int y = parity; y < rows; y += 2)
    std::memcpy(to + ptrdiff_t(y) * to_stride, from + ptrdiff_t(y) * from_stride, size_t(width));
}

}  // namespace

void field_match(const Frame& cur, const Frame* prev, const Frame* next, Frame* out) {
  const int first_top = cur.top_field_first() ? 1 : 0;
  const auto usable = [&cur](const Frame* f) {
    return f && f->y_plane() && f->padded_width() == cur.padded_width() &&
           f->padded_height() == cur.padded_height() && f->chroma_format() == cur.chroma_format();
  };
  // Candidates (first field of, second field of), in order of preference:
  // its own, the second field before it, the first field after it; a later
  // one must comb less than half as much. Two clean ones hold different
  // film frames, and the earlier one is the frame not seen yet.
  const Frame* first = &cur;
  const Frame* second = &cur;
  long long best = comb(cur, cur, first_top);
  if (usable(prev)) {
    const long long c = comb(cur, *prev, first_top);
    if (2 * c < best) best = c, second = prev;
  }
  if (usable(next)) {
    const long long c = comb(*next, cur, first_top);
    if (2 * c < best) best = c, first = next, second = &cur;
  }
  const int first_rows = first_top ? 0 : 1;
  const int pw = cur.padded_width(), ph = cur.padded_height(), cw = cur.c_width(), ch = cur.c_height();
  copy_rows(first->y_plane(), pw, out->y_plane(), out->padded_width(), pw, ph, first_rows);
  copy_rows(second->y_plane(), pw, out->y_plane(), out->padded_width(), pw, ph, 1 - first_rows);
  // 4:2:0 chroma lines alternate fields as luminance lines do.
  copy_rows(first->cb_plane(), cw, out->cb_plane(), out->c_width(), cw, ch, first_rows);
  copy_rows(second->cb_plane(), cw, out->cb_plane(), out->c_width(), cw, ch, 1 - first_rows);
  copy_rows(first->cr_plane(), cw, out->cr_plane(), out->c_width(), cw, ch, first_rows);
  copy_rows(second->cr_plane(), cw, out->cr_plane(), out->c_width(), cw, ch, 1 - first_rows);
}

bool InverseTelecine::push(const Frame& picture, const Emit& emit) {
  if (!ready_) {
    if (!window_.alloc(picture)) return false;
    for (auto& f : raw_) {
      f = std::make_unique<Frame>(picture.padded_width(), picture.padded_height(), picture.chroma_format(), 0);
      f->set_display_size(picture.get_width(), picture.get_height());
    }
    Frame* last = window_.slot(5);
    std::memset(last->buffer(), 0, size_t(last->y_size() + 2 * last->c_size()));
    ready_ = true;
  } else if (raw_[0]->padded_width() != picture.padded_width() ||
             raw_[0]->padded_height() != picture.padded_height() || raw_[0]->chroma_format() != picture.chroma_format()) {
    return false;
  }
  // raw_: 0 the picture before the one waiting, 1 the one waiting, 2 the new one.
  std::memcpy(raw_[2]->buffer(), picture.buffer(), size_t(picture.y_size() + 2 * picture.c_size()));
  raw_[2]->copy_picture_info(&picture);
  const bool ok = raw_count_ == 0 || match_waiting(raw_[2].get(), emit);
  std::swap(raw_[0], raw_[1]);
  std::swap(raw_[1], raw_[2]);
  raw_count_ = std::min(raw_count_ + 1, 2);
  return ok;
}

bool InverseTelecine::match_waiting(const Frame* next, const Emit& emit) {
  Frame* slot = window_.slot(window_.held);
  field_match(*raw_[1], raw_count_ >= 2 ? raw_[0].get() : nullptr, next, slot);
  slot->copy_picture_info(raw_[1].get());
  if (++window_.held < 5) return true;
  return emit_window(5, emit);
}

bool InverseTelecine::finish(const Emit& emit) {
  if (!ready_) return true;
  if (raw_count_ > 0 && !match_waiting(nullptr, emit)) return false;
  raw_count_ = 0;
  return window_.held == 0 || emit_window(window_.held, emit);
}

bool InverseTelecine::emit_window(int k, const Emit& emit) {
  int keep = k;
  if (k >= 3) {
    window_.drop_repeated_frame(k);
    keep = k - 1;
  } else {
    Frame* last = window_.slot(k - 1);
    std::memcpy(window_.slot(5)->buffer(), last->buffer(), size_t(last->y_size() + 2 * last->c_size()));
  }
  window_.held = 0;
  for (int i = 0; i < keep; ++i)
    if (!emit(*window_.slot(i))) return false;
  return true;
}

// ---- the Recorder's restructuring copy -------------------------------------------

bool Recorder::restructure_piece(Save* save, const GopPlan& plan, bool clip_start, bool* ok) {
  *ok = false;
  const int longest = longest_output_gop(out_seq_.get_frame_rate());
  if (plan.copy <= longest) return false;
  int first = 0;
  while (first < gop_.pic_count && !plan.keep[size_t(first)]) ++first;
  int i_pic = 0;
  while (i_pic < gop_.pic_count && gop_.get_pic_type(i_pic) != 1) ++i_pic;
  if (first >= gop_.pic_count || i_pic >= gop_.pic_count || !open_encoder()) return false;
  if (!dtv_) {
    int err = 0;
    dtv_ = std::make_unique<DTV>(clip_, &err, 0);
    if (err) {
      dtv_.reset();
      return false;
    }
  }
  // Frame access on the same GOP: its reference pictures are decoded from it.
  const int rel = gop_.first_frame() + gop_.get_pic_display_frame(i_pic) - clip_->start;
  DCache* c = rel >= 0 && dtv_->search(rel, 1) >= 0 ? dtv_->get_current_gop() : nullptr;
  if (!c || !c->gop || !c->gop->start.equals(gop_.start) || c->gop->pic_count != gop_.pic_count) {
    ++warnings_;
    trace("Recorder (WARNING): clip %d: GOP at frame %d copied whole, frame access cannot reach it\n", clip_index_,
          gop_.first_frame());
    return false;
  }
  const GOP& g = *c->gop;
  load_seqhdr(g, encoder_.get());
  OutputGop out;
  // Output frame of the GOP's first display frame: leading B pictures left
  // out are not shown.
  const int shown_from = output_frame_ - gop_.get_pic_display_frame(first);
  restructure_copy(dtv_.get(), g, plan.keep, longest, shown_from, 1, encoder_.get(), &out);
  if (int(out.pics.size()) != plan.copy || out.gops.empty() || out.gops[0].pic != 0) {
    fail("clip %d frame %d: the GOP cannot be split", clip_index_, gop_.first_frame());
    return true;
  }
  if (plan.dropped_leading_b) set_closed_gop(out.bytes.data(), out.pics[0], 1);
  const int progressive = out_seq_.mpeg2 ? out_seq_.get_progressive_sequence() : 1;
  for (size_t k = 0; k < out.gops.size(); ++k) {
    const int b0 = out.gops[k].byte, b1 = k + 1 < out.gops.size() ? out.gops[k + 1].byte : int(out.bytes.size());
    const int p0 = out.gops[k].pic, p1 = k + 1 < out.gops.size() ? out.gops[k + 1].pic : int(out.pics.size());
    std::unique_ptr<Pending> next = spare_ ? std::move(spare_) : std::make_unique<Pending>();
    next->bytes.clear();
    next->pics.clear();
    // Copied pictures decode with the matrices of their own source.
    StartCodeCursor seq_code(out.bytes.data() + b0, out.pics[size_t(p0)] - b0);
    const bool has_seq = seq_code.find(0xB3);
    if (!has_seq) {
      uint8_t seq[1024];
      const int len = gops_list_->get_seqhdr().encode(seq, sizeof seq, 1);
      if (len > 0) next->bytes.insert(next->bytes.end(), seq, seq + len);
    }
    const int shift = int(next->bytes.size()) - b0;
    next->bytes.insert(next->bytes.end(), out.bytes.begin() + b0, out.bytes.begin() + b1);
    for (int j = p0; j < p1; ++j) next->pics.push_back(out.pics[size_t(j)] + shift);
    std::vector<RefFrameEntry> list;
    const int n = build_rf_list(64, next->bytes.data(), int(next->bytes.size()), progressive, &list);
    next->fields = n ? list[size_t(n) - 1].field + list[size_t(n) - 1].fields() : 0;
    PicHdr ph;
    next->first_tff = ph.decode(next->bytes.data() + next->pics[0], int(next->bytes.size()) - next->pics[0]) > 0
                          ? ph.get_top_field_first()
                          : 1;
    copied_ += p1 - p0 - (k > 0 ? 1 : 0);
    if (k > 0) ++reencoded_;
    if (!push_output(save, std::move(next), clip_start && k == 0)) return true;
  }
  since_copy_ = 0;
  join_open_ = false;
  after_recode_ = false;
  *ok = true;
  return true;
}
