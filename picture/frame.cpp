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
  clear();
  image = new (std::nothrow) Image(width, height, format, round_height_32);
  if (image) {
    owns_image = 1;
    update_planes();
  }
}

void Frame::attach_image(Image* img) {
  clear();
  image = img;
  owns_image = 0;
  update_planes();
  if (img) {
    field_count = displayed_fields = img->field_count;
    top_field_first = img->top_field_first;
    repeat_flag = img->repeat_first_field;
    progressive_frame = img->progressive_frame;
    picture_structure = img->picture_structure;
  }
}

void Frame::cleanup() {
  if (image && owns_image) {
    image->reset_buffers();
    delete image;
  }
  delete[] layer2;
  delete[] layer4;
  delete[] layer2_fields;
  delete[] mb_info;
  clear();
}

void Frame::clear() {
  y_plane = cb_plane = cr_plane = nullptr;
  layer2 = layer4 = layer2_fields = nullptr;
  per_field_layers = 0;
  stream_field = 0;
  color_key = -1;
  image = nullptr;
  owns_image = 0;
  buffer = nullptr;
  padded_width = padded_height = y_size = 0;
  c_width = c_height = c_size = 0;
  chroma_format = 1;
  picture_coding_type = -1;
  picture_flags = 0;
  stream_frame = -1;
  frame_number_copy = 0;
  time = -1.0;
  const int c1[5] = {-1, 0, -1, -1, 0};
  std::copy(c1, c1 + 5, carried);
  mb_info = nullptr;
  mb_capacity = mb_count = 0;
  std::fill(carried2, carried2 + 4, 0);
  mean_quantiser = 3.0;
  field_count = displayed_fields = 2;
  top_field_first = 0;
  repeat_flag = 0;
  progressive_frame = 0;
  picture_structure = 3;
  progressive_sequence = 1;
}

void Frame::update_planes() {
  if (!image) return;
  buffer = image->buffer;
  padded_width = image->padded_width;
  padded_height = image->padded_height;
  chroma_format = image->chroma_format;
  y_size = padded_width * padded_height;
  c_width = chroma_format == 3 ? padded_width : padded_width / 2;
  c_height = chroma_format == 1 ? padded_height / 2 : padded_height;
  c_size = c_width * c_height;
  y_plane = buffer;
  cb_plane = buffer ? buffer + y_size : nullptr;
  cr_plane = buffer ? cb_plane + c_size : nullptr;
  color_key = -1;
}

void Frame::set_display_size(int width, int height) {
  if (!image) return;
  if (width > 0 && width < padded_width) image->display_width = width;
  if (height > 0 && height < padded_height) image->display_height = height;
}

void Frame::set_picture_coding_type(int type) {
  if (type < 1 || type > 3) return;
  picture_coding_type = static_cast<int8_t>(type);
  if (image) image->picture_coding_type = type;
}

void Frame::reset_field_count() {
  field_count = displayed_fields = 2;
  if (image) image->field_count = 2;
}

void Frame::set_top_field_first(int value) {
  top_field_first = value;
  if (image) image->top_field_first = value;
}

void Frame::set_user_data(const uint8_t* bytes, int length) {
  if (image) image->set_user_data(bytes, length);
}

void Frame::set_gop_user_data(const uint8_t* bytes, int length) {
  if (image) image->set_gop_user_data(bytes, length);
}

void Frame::set_time_code_rate(double rate) {
  if (image) image->time_code.set_frame_rate(rate);
}

void Frame::init_time_code(int drop_frame) {
  if (image) image->time_code.init(drop_frame);
}

void Frame::set_time_code_frame(int frame_number) {
  if (image) image->time_code.smpte_4_gop(frame_number);
}

void Frame::copy_picture_info(const Frame* other) {
  if (!other || other == this) return;
  stream_field = other->stream_field;
  picture_coding_type = other->picture_coding_type;
  stream_frame = other->stream_frame;
  picture_flags = other->picture_flags;
  frame_number_copy = other->frame_number_copy;
  field_count = other->field_count;
  displayed_fields = other->displayed_fields;
  top_field_first = other->top_field_first;
  repeat_flag = other->repeat_flag;
  progressive_frame = other->progressive_frame;
  picture_structure = other->picture_structure;
  progressive_sequence = other->progressive_sequence;
  if (image && other->image) {
    image->copy_flags(*other->image);
    image->time_code = other->image->time_code;
  }
}

void Frame::set_mb_info(const MBInfo* records, int count) {
  if (records && count > 0) {
    if (records == mb_info) {  // own array handed back
      mb_count = std::min(count, mb_capacity);
      return;
    }
    if (mb_capacity < count) {
      delete[] mb_info;
      mb_info = new (std::nothrow) MBInfo[count];
      mb_capacity = mb_info ? count : 0;
      if (!mb_info) {
        mb_count = 0;
        return;
      }
    }
    for (int i = 0; i < count; ++i) mb_info[i].assign(records[i]);
    mb_count = count;
  } else {
    delete[] mb_info;
    mb_info = nullptr;
    mb_capacity = mb_count = 0;
  }
}

int Frame::get_color_key() {
  if (!image) {
    trace("Frame::get_color_key (ERROR): _image=nil\n");
    return 0;
  }
  if (color_key == -1) color_key = image->get_color_key(0.368, 5);
  return color_key;
}

void Frame::get_layer2(int quarter, int per_field) {
  const int W = padded_width, H = padded_height;
  if (y_size <= 0 || W > 4096 || H > 4096 || !y_plane) {
    trace("Frame::get_layer2 (ERROR): frame size = %d x %d, Ysz = %d, Csz = %d\n", W, H, y_size, c_size);
    return;
  }
  per_field_layers = per_field;
  const size_t half_bytes = static_cast<size_t>(y_size) / 4 + W / 2 + 32;
  if (!layer2) layer2 = new (std::nothrow) uint8_t[half_bytes];
  if (per_field && !layer2_fields) layer2_fields = new (std::nothrow) uint8_t[half_bytes];
  std::vector<uint8_t> work(static_cast<size_t>(y_size) / 2 + 3 * H);
  if (layer2) {
    filter_plane_rows(W, H, y_plane, W, work.data(), W / 2, nullptr);
    filter_plane_columns(W / 2, H, work.data(), W / 2, layer2, W / 2, nullptr);
  }
  if (per_field && layer2_fields) {
    // A row of each field side by side: halve the pair as one 2W line, then
    // halve the H/2 work rows vertically.
    filter_plane_rows(2 * W, H / 2, y_plane, 2 * W, work.data(), W, nullptr);
    filter_plane_columns(W, H / 2, work.data(), W, layer2_fields, W, nullptr);
  }
  if (quarter && layer2) {
    if (!layer4) layer4 = new (std::nothrow) uint8_t[static_cast<size_t>(y_size) / 16 + W / 4 + 32];
    if (layer4) {
      filter_plane_rows(W / 2, H / 2, layer2, W / 2, work.data(), W / 4, nullptr);
      filter_plane_columns(W / 4, H / 2, work.data(), W / 4, layer4, W / 4, nullptr);
    }
  }
}

void Frame::copy_from(Frame* source, int allow_scaling, int flags, int centre) {
  if (!source || source == this) return;
  if (image && !buffer) update_planes();
  if (source->image && !source->buffer) source->update_planes();
  copy_picture_info(source);
  if (padded_width == source->padded_width && padded_height == source->padded_height) {
    std::copy(source->carried, source->carried + 5, carried);
    set_mb_info(source->mb_info, source->mb_count);
    std::copy(source->carried2, source->carried2 + 4, carried2);
  }
  mean_quantiser = source->mean_quantiser;
  if (get_width() == source->get_width() && get_height() == source->get_height()) {
    copy_data(source, 0);
    return;
  }
  if (allow_scaling) {
    int tw = 0, th = 0;
    if (flags) {
      tw = scale_size_for_flags(source->padded_width, flags, 0);
      th = scale_size_for_flags(source->padded_height, flags, 1);
    } else {
      flags = scale_choose(source->padded_width, source->padded_height, padded_width, padded_height, &tw, &th);
    }
    if (flags) {
      Frame tmp(tw, th, source->chroma_format, 0);
      if (tmp.buffer) {
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
  if (!source || !source->buffer) {
    trace("Frame::copy_data (Aborted): can't access source image buffer (0x%08x).\n",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(source ? source->buffer : nullptr)));
    return;
  }
  if (!buffer || source == this) return;
  if (source->chroma_format != chroma_format) {
    if (source->chroma_format == 1 && chroma_format == 2) {
      convert_420_to_422(this, source, centre);
    } else if (source->chroma_format == 2 && chroma_format == 1) {
      convert_422_to_420(this, source, centre);
    } else {
      trace("Frame::copy_data (ERROR): cannot handle chroma format from %s to %s\n",
            chroma_format_name(source->chroma_format), chroma_format_name(chroma_format));
    }
    return;
  }
  if (padded_width == source->padded_width && padded_height == source->padded_height) {
    std::memcpy(buffer, source->buffer, static_cast<size_t>(y_size) + 2 * static_cast<size_t>(c_size));
  } else if (chroma_format == 2) {
    utils_copy_yuv422_padded(buffer, padded_width, padded_height, source->buffer, source->padded_width,
                             source->padded_height, centre);
  } else {
    utils_copy_yuv420_padded(buffer, padded_width, padded_height, source->buffer, source->padded_width,
                             source->padded_height, centre);
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
  return s->progressive_sequence == 0 && (s->picture_structure != 3 || s->progressive_frame == 0);
}

// Luminance copied, both chroma planes through the given resampler.
void convert_chroma_format(Frame* d, const Frame* s, int centre,
                           void (*chroma)(uint8_t*, int, int, const uint8_t*, int, int, bool, int)) {
  const bool fw = fieldwise_source(s);
  utils_copy_plane_padded(d->y_plane, d->padded_width, d->padded_height, s->y_plane, s->padded_width,
                          s->padded_height, 0, centre);
  chroma(d->cb_plane, d->c_width, d->c_height, s->cb_plane, s->c_width, s->c_height, fw, centre);
  chroma(d->cr_plane, d->c_width, d->c_height, s->cr_plane, s->c_width, s->c_height, fw, centre);
}

}  // namespace

void convert_420_to_422(Frame* d, const Frame* s, int centre) { convert_chroma_format(d, s, centre, chroma_plane_up); }

void convert_422_to_420(Frame* d, const Frame* s, int centre) {
  convert_chroma_format(d, s, centre, chroma_plane_down);
}
