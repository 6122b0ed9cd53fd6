#include "access/dcache.h"

#include <algorithm>
#include <new>

#include "foundation/trace.h"
#include "foundation/utils.h"

DCache::DCache(const SeqHdr* seq, int* error, int mode) {
  if (!error) {
    trace("DCache::ctor (): error=nil\n");
    return;
  }
  size_mode = mode < 0 || mode > 2 ? 0 : mode;
  *error = setup(seq);
  if (*error) {
    pool.clear();
    decoder.reset();
    gop.reset();
  }
}

DCache::~DCache() = default;

bool DCache::round32() const { return seqhdr.mpeg2 && !seqhdr.get_progressive_sequence() && size_mode == 0; }

Frame* DCache::make_frame() const {
  auto* f = new (std::nothrow) Frame(pool_width, pool_height, pool_chroma, round32());
  if (!f) return nullptr;
  if (!f->image() || !f->buffer()) {
    delete f;
    return nullptr;
  }
  f->set_display_size(display_width, display_height);
  f->image()->size_mode = size_mode;
  f->set_time_code_rate(seqhdr.get_frame_rate());
  f->set_stream_frame(-1);
  f->set_frame_number_copy(-1);
  return f;
}

bool DCache::fits(const Frame* f) const {
  if (!f || !f->buffer() || !decoder) return false;
  const int pw = (pool_width + 15) & ~15;
  const int ph = round32() ? (pool_height + 31) & ~31 : (pool_height + 15) & ~15;
  return f->padded_width() == pw && f->padded_height() == ph && f->chroma_format() == pool_chroma;
}

size_t DCache::pool_bytes() const {
  size_t n = 0;
  for (const auto* v : {&pool, &retired_})
    for (const auto& f : *v)
      if (f->image() && f->buffer()) n += f->image()->buffer_size();
  return n;
}

Frame* DCache::grow_to(int k) {
  while (int(pool.size()) <= k) {
    Frame* f = make_frame();
    if (!f) {
      trace("DCache::grow_to (ERROR): no memory for pool frame %d of %d x %d\n", int(pool.size()), pool_width,
            pool_height);
      return nullptr;
    }
    pool.emplace_back(f);
  }
  return pool[size_t(k)].get();
}

int DCache::setup(const SeqHdr* seq) {
  if (!seq) return 1;
  const int hs = seq->get_horizontal_size(), vs = seq->get_vertical_size();
  if (!mpeg_picture_size_ok(hs, vs)) {
    // Refused before the decoder or any frame is made for the claimed size.
    trace("DCache::setup (ERROR): picture size %d x %d is beyond every MPEG level\n", hs, vs);
    return 1;
  }
  seqhdr = *seq;
  decoder = std::make_unique<PicDecoder>(&seqhdr);
  if (size_mode) decoder->set_scale(size_mode);
  if (coef_limit < 64) decoder->set_coef_limit(coef_limit);
  const int chroma = seqhdr.get_chroma_format() == 2 ? 2 : 1;
  int w = hs, h = vs;
  if (size_mode) {
    w = decoder->get_scaled_width();
    h = decoder->get_scaled_height();
  }
  display_width = hs >> size_mode;
  display_height = vs >> size_mode;
  if (w != pool_width || h != pool_height || chroma != pool_chroma) {
    pool_width = w;
    pool_height = h;
    pool_chroma = chroma;
    // A frame shown now may still be one of them: kept until drop_retired.
    for (auto& f : pool) retired_.push_back(std::move(f));
    pool.clear();
  }
  for (auto& f : pool) {
    f->set_stream_frame(-1);
    f->set_frame_number_copy(-1);
    f->set_display_size(display_width, display_height);
  }
  if (!gop) gop = std::make_unique<GOP>();
  loaded_ = false;
  return 0;
}

namespace {

// The sequence header in front of the GOP's first picture, when the GOP
// data starts with one.
bool leading_sequence_header(const GOP* g, SeqHdr* out) {
  if (!g || !g->data || g->valid_bytes() < 12) return false;
  const int n = std::min(g->valid_bytes(), 1 << 16);
  uint32_t code = 0;
  const int64_t pic = utils_next_usr_start_code(0x100, g->data, n, &code);
  if (code != 0x100 || pic < 12) return false;
  int first = 0;
  const int64_t at = utils_next_start_code(g->data, int(pic) + 4, &first);
  if (first != 0x1B3 || at >= pic) return false;
  return out->decode(g->data + at, int(pic - at)) > 0 && !out->invalid;
}

bool same_geometry(const SeqHdr& a, const SeqHdr& b) {
  return a.get_horizontal_size() == b.get_horizontal_size() && a.get_vertical_size() == b.get_vertical_size() &&
         a.get_chroma_format() == b.get_chroma_format() &&
         a.get_progressive_sequence() == b.get_progressive_sequence() && (a.mpeg2 != 0) == (b.mpeg2 != 0);
}

}  // namespace

void DCache::invalidate() {
  loaded_ = false;
  if (gop) gop->reset_info();
}

int DCache::reset(Frame* forward) {
  loaded_ = false;
  SeqHdr in_force;
  if (leading_sequence_header(gop.get(), &in_force) && !same_geometry(in_force, seqhdr)) {
    const int hs = in_force.get_horizontal_size(), vs = in_force.get_vertical_size();
    if (!mpeg_picture_size_ok(hs, vs)) {
      trace("DCache::reset (ERROR): GOP's picture size %d x %d is beyond every MPEG level\n", hs, vs);
      return 1;
    }
    if (setup(&in_force)) return 1;
  }
  references = 0;
  for (int i = 0; gop && i < gop->pic_count; ++i)
    if (gop->get_pic_type(i) != 3) ++references;
  if (max_pool > 0 && references > max_pool) {
    trace("DCache::reset (ERROR): cannot grow the pool to %d frames\n", references);
    return 1;
  }
  pic_index = start_pic = all_decoded = decoded = 0;
  end_pic = gop ? gop->pic_count : 0;
  forward_ref = fits(forward) ? forward : nullptr;
  loaded_ = gop && gop->pic_count > 0;
  return 0;
}

int DCache::count_frames(int end) {
  if (!gop) return 0;
  if (end < 0) {
    trace("DCache::count_frames (ERROR): end_pic=%d < 0\n", end);
    return references;
  }
  if (end > gop->pic_count) {
    trace("DCache::count_frames (ERROR): end_pic=%d > pics=%d\n", end, gop->pic_count);
    end = gop->pic_count;
  }
  int n = 0;
  for (int i = 0; i < end; ++i)
    if (gop->get_pic_type(i) != 3) ++n;
  return n;
}

void DCache::stamp(int i, Frame* f) {
  const int type = gop->get_pic_type(i);
  f->set_picture_coding_type(type);
  f->set_stream_frame(gop->get_pic_stream_frame(i));
  f->set_field_count(gop->get_pic_fields(i));
  f->set_top_field_first(gop->get_pic_flag(i));
  f->set_displayed_fields(f->field_count());
  f->set_repeat_flag(f->field_count() > 2);
}

void DCache::decode_into(int i, Frame* f, Frame* r1, Frame* r2) {
  if (!fits(f)) {
    trace("DCache::decode_into (ERROR): frame does not fit the GOP's pictures\n");
    return;
  }
  // A reference of another geometry (a GOP before a size change) would be
  // read out of its bounds: the picture predicts from itself instead.
  if (!fits(r1)) r1 = nullptr;
  if (!fits(r2)) r2 = r1;
  // Picture 0 is decoded from the GOP's start so its headers are parsed.
  const int offset = i == 0 ? 0 : int(gop->pic_table[i] & kPicOffsetMask);
  const int length = gop->valid_bytes() - offset;
  ++decode_count_;
  if (length > 0) decoder->decode_picture(gop->data + offset, length, f, r1, r2);
  stamp(i, f);
  f->set_frame_number_copy(f->stream_frame());
  const PicHdr& h = decoder->get_picture_header();
  const int hf = h.how_many_fields();
  if (hf > f->field_count()) {
    f->set_field_count(hf);
    f->set_displayed_fields(hf);
  }
  if (f->image()) {
    f->image()->set_picture_header_flags(f->field_count(), f->top_field_first(), h.get_repeat_first_field(),
                                       h.get_progressive_frame(), h.get_picture_structure());
    f->image()->size_mode = size_mode;
  }
}

int DCache::decoder_all_ip_frames(int up_to) {
  if (!loaded()) return 0;
  const int pics = gop->pic_count;
  int target = up_to == 0 ? std::min(end_pic, pics) : up_to;
  if (target < 0) {
    trace("DCache::decoder_all_ip_frames (): negative frame_count=%d (set:%d)\n", target, pics);
    target = pics;
  } else if (target > pics) {
    trace("DCache::decoder_all_ip_frames (): frame_count too large = %d (set:%d)\n", target, pics);
    target = pics;
  }
  if (all_decoded) {
    pic_index = target;
    decoded = count_frames(target);
    return decoded;
  }
  int k = 0;
  for (int i = 0; i < target; ++i) {
    if (gop->get_pic_type(i) == 3) continue;
    Frame* f = grow_to(k);
    if (!f) break;
    if (f->frame_number_copy() != gop->get_pic_stream_frame(i)) {
      // A P picture that opens the GOP predicts from the GOP before.
      Frame* fwd = k == 0 ? (gop->get_pic_type(i) == 2 && forward_ref ? forward_ref : f) : pool[size_t(k) - 1].get();
      decode_into(i, f, fwd, f);
    } else {
      stamp(i, f);
    }
    ++k;
  }
  pic_index = target;
  decoded = k;
  all_decoded = k == references;
  return decoded;
}

void DCache::decode_one_frame(Frame* f, Frame* r1, Frame* r2, int reuse) {
  if (!gop || gop->pic_count < 1) {
    trace("ERROR (DCache::decode_one_frame): EMPTY gop\n");
    return;
  }
  if (pic_index < 0 || pic_index >= gop->pic_count) {
    trace("ERROR (DCache::decode_one_frame): invalid state: gop_pic = %d\n", pic_index);
    pic_index = std::clamp(pic_index, 0, gop->pic_count - 1);
  }
  const int i = pic_index;
  const int type = gop->get_pic_type(i);
  if (!f || (type != 1 && !r1) || (type == 3 && !r2)) {
    trace("ERROR (DCache::decode_one_frame): invalid input(s)\n");
    return;
  }
  const int sf = gop->get_pic_stream_frame(i);
  // Restamp only a frame that already holds this very picture.
  if (f->frame_number_copy() == sf && (type != 3 || reuse)) {
    stamp(i, f);
    return;
  }
  decode_into(i, f, r1, r2);
}

int DCache::pic_of_field(int stream_field) const {
  if (!loaded()) return -1;
  for (int i = 0; i < gop->pic_count; ++i) {
    const int s = gop->get_pic_stream_field(i);
    if (stream_field >= s && stream_field < s + gop->get_pic_fields(i)) return i;
  }
  return -1;
}

int DCache::get_next_pic_field_offset() {
  if (!gop) return 0;
  int i = pic_index;
  if (i < 0 || i >= gop->pic_count) {
    trace("DCache::get_next_pic_field_offset (ERROR): gop_pic = %d\n", i);
    i = std::clamp(i, 0, std::max(0, gop->pic_count - 1));
  }
  return gop->first_field + gop->get_field_offset_after_pic(i);
}

int DCache::get_displayed_field_count(int after_next) {
  if (!gop) return 0;
  return after_next ? gop->get_field_offset_after_next_pic(pic_index) : gop->get_last_ref_pic_offset(pic_index);
}

double DCache::get_mean_quant() {
  if (pool.empty() || pool[0]->frame_number_copy() < 0) return 3.0;
  return pool[0]->mean_quantiser();
}
