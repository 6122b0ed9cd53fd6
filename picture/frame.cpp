#include "picture/frame.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "picture/scale.h"
#include "picture/scale_kernels.h"
#include "picture/plane_utils.h"
#include "foundation/trace.h"

Frame::Frame(int width, int height, int format, int round_height_32) {
  owned_.reset(new (std::nothrow) Image(width, height, format, round_height_32));
  image_ = owned_.get();
  update_planes();
}

void Frame::attach_image(Image* img) {
  std::unique_ptr<Image> keep;
  if (img && img == owned_.get()) keep = std::move(owned_);
  cleanup();
  owned_ = std::move(keep);
  image_ = img;
  update_planes();
  if (img) {
    info_.field_count = info_.displayed_fields = img->field_count;
    info_.top_field_first = img->top_field_first;
    info_.repeat_flag = img->repeat_first_field;
    info_.progressive_frame = img->progressive_frame;
    info_.picture_structure = img->picture_structure;
  }
}

void Frame::cleanup() {
  image_ = nullptr;
  owned_.reset();
  geo_ = Geometry();
  info_ = PictureInfo();
  mean_quantiser_ = 3.0;
  color_key_ = -1;
  mb_info_.reset();
  mb_capacity_ = mb_count_ = 0;
  layer2_.reset();
  layer4_.reset();
  layer2_fields_.reset();
}

void Frame::update_planes() {
  if (!image_) return;
  Geometry& g = geo_;
  g.buffer = image_->buffer;
  g.padded_width = image_->padded_width;
  g.padded_height = image_->padded_height;
  g.chroma_format = image_->chroma_format;
  g.y_size = g.padded_width * g.padded_height;
  g.c_width = g.chroma_format == 3 ? g.padded_width : g.padded_width / 2;
  g.c_height = g.chroma_format == 1 ? g.padded_height / 2 : g.padded_height;
  g.c_size = g.c_width * g.c_height;
  g.y_plane = g.buffer;
  g.cb_plane = g.buffer ? g.buffer + g.y_size : nullptr;
  g.cr_plane = g.buffer ? g.cb_plane + g.c_size : nullptr;
  color_key_ = -1;
}

void Frame::set_display_size(int width, int height) {
  if (!image_) return;
  if (width > 0 && width < geo_.padded_width) image_->display_width = width;
  if (height > 0 && height < geo_.padded_height) image_->display_height = height;
}

void Frame::set_picture_coding_type(int type) {
  if (type < 1 || type > 3) return;
  info_.picture_coding_type = type;
  if (image_) image_->picture_coding_type = type;
}

void Frame::reset_field_count() {
  info_.field_count = info_.displayed_fields = 2;
  if (image_) image_->field_count = 2;
}

void Frame::set_top_field_first(int value) {
  info_.top_field_first = value;
  if (image_) image_->top_field_first = value;
}

void Frame::set_user_data(const uint8_t* bytes, int length) {
  if (image_) image_->set_user_data(bytes, length);
}

void Frame::set_gop_user_data(const uint8_t* bytes, int length) {
  if (image_) image_->set_gop_user_data(bytes, length);
}

void Frame::set_time_code_rate(double rate) {
  if (image_) image_->time_code.set_frame_rate(rate);
}

void Frame::init_time_code(int drop_frame) {
  if (image_) image_->time_code.init(drop_frame);
}

void Frame::set_time_code_frame(int frame_number) {
  if (image_) image_->time_code.smpte_4_gop(frame_number);
}

void Frame::copy_picture_info(const Frame* other) {
  if (!other || other == this) return;
  info_ = other->info_;
  if (image_ && other->image_) {
    image_->copy_flags(*other->image_);
    image_->time_code = other->image_->time_code;
  }
}

void Frame::set_mb_info(const MBInfo* records, int count) {
  if (records && count > 0) {
    if (records == mb_info_.get()) {  // own array handed back
      mb_count_ = std::min(count, mb_capacity_);
      return;
    }
    if (mb_capacity_ < count) {
      mb_info_.reset(new (std::nothrow) MBInfo[count]);
      mb_capacity_ = mb_info_ ? count : 0;
      if (!mb_info_) {
        mb_count_ = 0;
        return;
      }
    }
    for (int i = 0; i < count; ++i) mb_info_[i].assign(records[i]);
    mb_count_ = count;
  } else {
    mb_info_.reset();
    mb_capacity_ = mb_count_ = 0;
  }
}

void Frame::set_picture_values(int a, int b, int c, int d) {
  picture_values_[0] = a;
  picture_values_[1] = b;
  picture_values_[2] = c;
  picture_values_[3] = d;
}

int Frame::get_color_key() {
  if (!image_) {
    trace("Frame::get_color_key (ERROR): _image=nil\n");
    return 0;
  }
  if (color_key_ == -1) color_key_ = image_->get_color_key(0.368, 5);
  return color_key_;
}

void Frame::get_layer2(int quarter, int per_field) {
  const int W = geo_.padded_width, H = geo_.padded_height;
  const uint8_t* y = geo_.y_plane;
  if (geo_.y_size <= 0 || W > 4096 || H > 4096 || !y) {
    trace("Frame::get_layer2 (ERROR): frame size = %d x %d, Ysz = %d, Csz = %d\n", W, H, geo_.y_size, geo_.c_size);
    return;
  }
  const size_t half_bytes = static_cast<size_t>(geo_.y_size) / 4 + W / 2 + 32;
  if (!layer2_) layer2_.reset(new (std::nothrow) uint8_t[half_bytes]);
  if (per_field && !layer2_fields_) layer2_fields_.reset(new (std::nothrow) uint8_t[half_bytes]);
  std::vector<uint8_t> work(static_cast<size_t>(geo_.y_size) / 2 + 3 * H);
  if (layer2_) {
    filter_plane_rows(W, H, y, W, work.data(), W / 2, nullptr);
    filter_plane_columns(W / 2, H, work.data(), W / 2, layer2_.get(), W / 2, nullptr);
  }
  if (per_field && layer2_fields_) {
    // A row of each field side by side: halve the pair as one 2W line, then
    // halve the H/2 work rows vertically.
    filter_plane_rows(2 * W, H / 2, y, 2 * W, work.data(), W, nullptr);
    filter_plane_columns(W, H / 2, work.data(), W, layer2_fields_.get(), W, nullptr);
  }
  if (quarter && layer2_) {
    if (!layer4_) layer4_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(geo_.y_size) / 16 + W / 4 + 32]);
    if (layer4_) {
      filter_plane_rows(W / 2, H / 2, layer2_.get(), W / 2, work.data(), W / 4, nullptr);
      filter_plane_columns(W / 4, H / 2, work.data(), W / 4, layer4_.get(), W / 4, nullptr);
    }
  }
}

void Frame::copy_from(Frame* source, int allow_scaling, int flags, int centre) {
  if (!source || source == this) return;
  if (image_ && !geo_.buffer) update_planes();
  if (source->image_ && !source->geo_.buffer) source->update_planes();
  copy_picture_info(source);
  if (geo_.padded_width == source->geo_.padded_width && geo_.padded_height == source->geo_.padded_height)
  {
    set_mb_info(source->mb_info_.get(), source->mb_count_);
    std::memcpy(picture_values_, source->picture_values_, sizeof picture_values_);
  }
  mean_quantiser_ = source->mean_quantiser_;
  if (get_width() == source->get_width() && get_height() == source->get_height()) {
    copy_data(source, 0);
    return;
  }
  if (allow_scaling) {
    int tw = 0, th = 0;
    const int sw = source->geo_.padded_width, sh = source->geo_.padded_height;
    if (flags) {
      tw = scale_size_for_flags(sw, flags, 0);
      th = scale_size_for_flags(sh, flags, 1);
    } else {
      flags = scale_choose(sw, sh, geo_.padded_width, geo_.padded_height, &tw, &th);
    }
    if (flags) {
      Frame tmp(tw, th, source->geo_.chroma_format, 0);
      if (tmp.buffer()) {
        tmp.copy_picture_info(source);
        if (flags & SCALE_REDUCE_MASK) source->decimation(&tmp, flags & SCALE_REDUCE_MASK);
        else source->interpolation(&tmp, flags & SCALE_ENLARGE_MASK);
        copy_data(&tmp, centre);
        return;
      }
    }
  }
  copy_data(source, centre);
}

void Frame::copy_data(Frame* source, int centre) {
  if (!source || !source->geo_.buffer) {
    trace("Frame::copy_data (Aborted): can't access source image buffer (0x%08x).\n",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(source ? source->geo_.buffer : nullptr)));
    return;
  }
  if (!geo_.buffer || source == this) return;
  const Geometry& s = source->geo_;
  Geometry& d = geo_;
  if (s.chroma_format != d.chroma_format) {
    if (s.chroma_format == 1 && d.chroma_format == 2) {
      convert_420_to_422(this, source, centre);
    } else if (s.chroma_format == 2 && d.chroma_format == 1) {
      convert_422_to_420(this, source, centre);
    } else {
      trace("Frame::copy_data (ERROR): cannot handle chroma format from %s to %s\n",
            chroma_format_name(s.chroma_format), chroma_format_name(d.chroma_format));
    }
    return;
  }
  if (d.padded_width == s.padded_width && d.padded_height == s.padded_height) {
    std::memcpy(d.buffer, s.buffer, static_cast<size_t>(d.y_size) + 2 * static_cast<size_t>(d.c_size));
  } else if (d.chroma_format == 2) {
    utils_copy_yuv422_padded(d.buffer, d.padded_width, d.padded_height, s.buffer, s.padded_width, s.padded_height,
                             centre);
  } else {
    utils_copy_yuv420_padded(d.buffer, d.padded_width, d.padded_height, s.buffer, s.padded_width, s.padded_height,
                             centre);
  }
}

namespace {

// Column range shared by two chroma planes of different widths.
void column_span(int sw, int dw, int centre, int* sx, int* dx, int* cols) {
  *cols = std::min(sw, dw);
  *sx = *dx = 0;
  if (centre && sw != dw) {
    if (sw > dw) *sx = (sw - dw) / 2;
    else *dx = (dw - sw) / 2;
  }
}

// Runs a vertical kernel over a frame-wise or field-wise area.
void vertical(ScaleKernel k, const uint8_t* s, int ss, int rows_in, int cols, uint8_t* d, int ds, int rows_out,
              bool fieldwise) {
  if (!fieldwise) {
    scale_plane_v(k, s, ss, rows_in, cols, d, ds, rows_out);
    return;
  }
  for (int f = 0; f < 2; ++f) {
    const int in = (rows_in - f + 1) / 2, out = (rows_out - f + 1) / 2;
    scale_plane_v(k, s + static_cast<ptrdiff_t>(f) * ss, 2 * ss, in, cols, d + static_cast<ptrdiff_t>(f) * ds,
                  2 * ds, out);
  }
}

void chroma_plane_up(uint8_t* d, int dcw, int dch, const uint8_t* s, int scw, int sch, bool fieldwise, int centre) {
  int sx, dx, cols;
  column_span(scw, dcw, centre, &sx, &dx, &cols);
  const int used = std::min(sch, dch / 2);
  int sy = 0, dy = 0;
  if (centre) {
    if (sch > dch / 2) sy = (sch - dch / 2) / 2;
    else if (2 * used < dch) dy = (dch - 2 * used) / 2;
  }
  vertical(SK_INT2, s + static_cast<ptrdiff_t>(sy) * scw + sx, scw, used, cols, d + static_cast<ptrdiff_t>(dy) * dcw + dx,
           dcw, 2 * used, fieldwise);
}

void chroma_plane_down(uint8_t* d, int dcw, int dch, const uint8_t* s, int scw, int sch, bool fieldwise, int centre) {
  int sx, dx, cols;
  column_span(scw, dcw, centre, &sx, &dx, &cols);
  const int used = std::min(sch, 2 * dch);
  int sy = 0, dy = 0;
  if (centre) {
    if (sch / 2 < dch) dy = (dch - sch / 2) / 2;
    else if (sch > 2 * dch) sy = (sch - 2 * dch) / 2;
  }
  vertical(SK_DEC2_V, s + static_cast<ptrdiff_t>(sy) * scw + sx, scw, used, cols, d + static_cast<ptrdiff_t>(dy) * dcw + dx,
           dcw, (used + 1) / 2, fieldwise);
}

bool fieldwise_source(const Frame* s) {
  return s->progressive_sequence() == 0 && (s->picture_structure() != 3 || s->progressive_frame() == 0);
}

// Luminance copied, both chroma planes through the given resampler.
void convert_chroma_format(Frame* d, const Frame* s, int centre,
                           void (*chroma)(uint8_t*, int, int, const uint8_t*, int, int, bool, int)) {
  const bool fw = fieldwise_source(s);
  utils_copy_plane_padded(d->y_plane(), d->padded_width(), d->padded_height(), s->y_plane(), s->padded_width(),
                          s->padded_height(), 0, centre);
  chroma(d->cb_plane(), d->c_width(), d->c_height(), s->cb_plane(), s->c_width(), s->c_height(), fw, centre);
  chroma(d->cr_plane(), d->c_width(), d->c_height(), s->cr_plane(), s->c_width(), s->c_height(), fw, centre);
}

}  // namespace

void convert_420_to_422(Frame* d, const Frame* s, int centre) { convert_chroma_format(d, s, centre, chroma_plane_up); }

void convert_422_to_420(Frame* d, const Frame* s, int centre) {
  convert_chroma_format(d, s, centre, chroma_plane_down);
}
