#include "access/dcache.h"

#include <algorithm>

#include "foundation/trace.h"

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

Frame* DCache::make_frame() const {
  const int round32 = seqhdr.mpeg2 && !seqhdr.get_progressive_sequence() && size_mode == 0;
  auto* f = new (std::nothrow) Frame(pool_width, pool_height, pool_chroma, round32);
  if (!f) return nullptr;
  if (!f->image || !f->buffer) {
    delete f;
    return nullptr;
  }
  f->set_display_size(display_width, display_height);
  f->image->size_mode = size_mode;
  f->set_time_code_rate(seqhdr.get_frame_rate());
  f->stream_frame = -1;
  f->frame_number_copy = -1;
  return f;
}

int DCache::setup(const SeqHdr* seq) {
  if (!seq) return 1;
  seqhdr = *seq;
  decoder = std::make_unique<PicDecoder>(&seqhdr);
  if (size_mode) decoder->set_scale(size_mode);
  if (coef_limit < 64) decoder->set_coef_limit(coef_limit);
  const int chroma = seqhdr.get_chroma_format() == 2 ? 2 : 1;
  int w = seqhdr.get_horizontal_size(), h = seqhdr.get_vertical_size();
  int dw = w >> size_mode, dh = h >> size_mode;
  if (size_mode) {
    w = decoder->get_scaled_width();
    h = decoder->get_scaled_height();
  }
  display_width = dw;
  display_height = dh;
  if (w != pool_width || h != pool_height || chroma != pool_chroma || pool.empty()) {
    pool_width = w;
    pool_height = h;
    pool_chroma = chroma;
    pool.clear();
    for (int i = 0; i < 4; ++i) {
      Frame* f = make_frame();
      if (!f) return 1;
      pool.emplace_back(f);
    }
  }
  if (!gop) gop = std::make_unique<GOP>();
  for (auto& f : pool) f->stream_frame = f->frame_number_copy = -1;
  loaded_ = false;
  return 0;
}

void DCache::invalidate() {
  loaded_ = false;
  if (gop) gop->reset_info();
}

int DCache::reset(Frame* forward) {
  references = 0;
  for (int i = 0; gop && i < gop->pic_count; ++i)
    if (gop->get_pic_type(i) != 3) ++references;
  while (int(pool.size()) < references) {
    Frame* f = max_pool > 0 && int(pool.size()) >= max_pool ? nullptr : make_frame();
    if (!f) {
      trace("DCache::reset (ERROR): cannot grow the pool to %d frames\n", references);
      loaded_ = false;
      return 1;
    }
    pool.emplace_back(f);
  }
  pic_index = start_pic = all_decoded = decoded = 0;
  end_pic = gop ? gop->pic_count : 0;
  forward_ref = forward ? forward : pool[0].get();
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
  f->stream_frame = gop->get_pic_stream_frame(i);
  f->stream_field = gop->get_pic_stream_field(i);
  f->time = gop->get_pic_time(i, seqhdr.get_frame_rate());
  f->field_count = gop->get_pic_fields(i);
  f->top_field_first = gop->get_pic_flag(i);
  f->displayed_fields = f->field_count;
  f->repeat_flag = f->field_count > 2;
}

void DCache::decode_into(int i, Frame* f, Frame* r1, Frame* r2) {
  // Picture 0 is decoded from the GOP's start so its headers are parsed.
  const int offset = i == 0 ? 0 : int(gop->pic_table[i] & kPicOffsetMask);
  const int length = gop->valid_bytes() - offset;
  ++decode_count_;
  if (length > 0) decoder->decode_picture(gop->data + offset, length, f, r1, r2);
  stamp(i, f);
  f->frame_number_copy = f->stream_frame;
  const PicHdr& h = decoder->get_picture_header();
  const int hf = h.how_many_fields();
  if (hf > f->field_count) f->field_count = f->displayed_fields = hf;
  if (f->image) {
    f->image->set_picture_header_flags(f->field_count, f->top_field_first, h.get_repeat_first_field(),
                                       h.get_progressive_frame(), h.get_picture_structure());
    f->image->size_mode = size_mode;
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
  for (int i = 0; i < target && k < int(pool.size()); ++i) {
    if (gop->get_pic_type(i) == 3) continue;
    Frame* f = pool[size_t(k)].get();
    if (f->frame_number_copy != gop->get_pic_stream_frame(i)) {
      // A P picture that opens the GOP predicts from the GOP before.
      Frame* fwd = k == 0 ? (gop->get_pic_type(i) == 2 ? forward_ref : pool[0].get()) : pool[size_t(k) - 1].get();
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
  if (f->frame_number_copy == sf && (type != 3 || reuse)) {
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
  if (pool.empty() || pool[0]->frame_number_copy < 0) return 3.0;
  return pool[0]->mean_quantiser;
}
