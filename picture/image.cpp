#include "picture/image.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/trace.h"
#include "picture/plane_memory.h"

const char* chroma_format_name(int format) {
  static const char* const names[5] = {"unknwon", "420", "422", "444", "CCIR"};
  int i = format % 5;
  if (i < 0) i += 5;
  return names[i];
}

Image::Image(int width, int height, int format, int round_height_32) {
  if (format != 1 && format != 2) {
    trace("ERROR (Image::ctor): %s has NOT implemented yet!\n", chroma_format_name(format));
    trace("\treset to %s\n", chroma_format_name(1));
    format = 1;
  }
  chroma_format = format;
  init(width, height, round_height_32);
}

Image::~Image() { reset_buffers(); }

void Image::init(int width, int height, int round_height_32) {
  if (width <= 0 || height <= 0) {
    trace("ERROR (Image::init): wd = %d, ht = %d\n", width, height);
    if (width <= 0) width = 16;
    if (height <= 0) height = 16;
  }
  // Pictures beyond any MPEG level would overflow the size arithmetic.
  if (width > 16384) width = 16384;
  if (height > 16384) height = 16384;
  display_width = width;
  display_height = height;
  padded_width = (width + 15) & ~15;
  padded_height = round_height_32 ? (height + 31) & ~31 : (height + 15) & ~15;
  planes_free(buffer, storage_);
  // fresh zero pages: luma and the tail need no clearing pass
  buffer = planes_alloc(buffer_size(), &storage_);
  if (!buffer) return;
  std::memset(buffer + y_size(), 128, 2 * c_size());
}

void Image::reset_buffers() {
  planes_free(buffer, storage_);
  storage_ = 0;
  delete[] user_data;
  delete[] gop_user_data;
  buffer = user_data = gop_user_data = nullptr;
  user_data_length = gop_user_data_length = 0;
  padded_width = padded_height = 0;
  chroma_format = 0;
  time_code = SMPTE_TimeCode();
  display_width = display_height = 0;
  size_mode = picture_coding_type = 0;
  field_count = 2;
  top_field_first = repeat_first_field = 0;
  progressive_frame = 1;
  picture_structure = 3;
}

YuvPlanes Image::planes() const {
  YuvPlanes p;
  if (!buffer) return p;
  p.y = get_y();
  p.cb = get_u();
  p.cr = get_v();
  p.width = display_width;
  p.height = display_height;
  p.y_stride = y_stride();
  p.c_stride = c_stride();
  p.chroma_format = chroma_format == 2 ? 2 : 1;
  return p;
}

int Image::set_picture_header_flags(int fc, int tff, int rff, int pf, int ps) {
  const bool ok = fc >= 1 && fc <= 6 && (tff == 0 || tff == 1) && (rff == 0 || rff == 1) && (pf == 0 || pf == 1) &&
                  ps >= 1 && ps <= 3;
  if (!ok) {
    trace("ERROR (IMAGE::set_picture_header_flags): invalid input(s)\n");
    trace("%-30s = %d\n", "field_count", fc);
    trace("%-30s = %d\n", "top_field_first", tff);
    trace("%-30s = %d\n", "repeat_first_field", rff);
    trace("%-30s = %d\n", "progressive_frame", pf);
    trace("%-30s = %d\n", "picture_structure", ps);
    return 1;
  }
  field_count = fc;
  top_field_first = tff;
  repeat_first_field = rff;
  progressive_frame = pf;
  picture_structure = ps;
  return 0;
}

void Image::copy_flags(const Image& other) {
  if (&other == this) return;
  size_mode = other.size_mode;
  picture_coding_type = other.picture_coding_type;
  field_count = other.field_count;
  top_field_first = other.top_field_first;
  repeat_first_field = other.repeat_first_field;
  progressive_frame = other.progressive_frame;
  picture_structure = other.picture_structure;
  set_user_data(other.user_data, other.user_data_length);
  set_gop_user_data(other.gop_user_data, other.gop_user_data_length);
}

static void store_user_data(uint8_t*& block, int& recorded, const uint8_t* bytes, int length) {
  if (!bytes || length <= 0) {
    delete[] block;
    block = nullptr;
    recorded = 0;
    return;
  }
  if (block == bytes) {  // same block handed back: nothing to copy
    recorded = length;
    return;
  }
  if (!block || recorded < length) {
    delete[] block;
    block = new (std::nothrow) uint8_t[static_cast<size_t>(length) + 8];
    if (!block) {
      recorded = 0;
      return;
    }
    std::memset(block + length, 0, 8);
  }
  recorded = length;
  std::memcpy(block, bytes, length);
}

void Image::set_user_data(const uint8_t* bytes, int length) {
  store_user_data(user_data, user_data_length, bytes, length);
}

void Image::set_gop_user_data(const uint8_t* bytes, int length) {
  store_user_data(gop_user_data, gop_user_data_length, bytes, length);
}

static int histogram_peak(const uint32_t* h) {
  int best = 0;
  for (int v = 1; v < 256; ++v)
    if (h[v] > h[best]) best = v;
  return best;
}

int Image::get_color_key(double ratio, int window) {
  if (!buffer) {
    trace("Image::get_color_key (ERROR): not initialized\n");
    return 0;
  }
  uint32_t hy[256] = {}, hu[256] = {}, hv[256] = {};
  const int W = padded_width, H = padded_height, cs = c_stride();
  const uint8_t* y = get_y();
  const uint8_t* u = get_u();
  const uint8_t* v = get_v();
  // One chroma sample per 2x2 luminance block; 4:2:2 has two chroma rows per
  // block row, of which the first is taken.
  const int crow_step = chroma_format == 2 ? 2 : 1;
  for (int r = 0; r < H; r += 2) {
    const uint8_t* y0 = y + static_cast<size_t>(r) * W;
    const uint8_t* y1 = y0 + W;
    const size_t crow = static_cast<size_t>(r / 2) * crow_step * cs;
    for (int c = 0; c < W; c += 2) {
      ++hy[y0[c]];
      ++hy[y0[c + 1]];
      ++hy[y1[c]];
      ++hy[y1[c + 1]];
      ++hu[u[crow + c / 2]];
      ++hv[v[crow + c / 2]];
    }
  }
  int ky = histogram_peak(hy), ku = histogram_peak(hu), kv = histogram_peak(hv);
  if (ratio > 0.0 && ratio < 1.0) {
    if (window <= 0) window = 4;
    uint64_t sum = hy[ky];
    for (int d = 1; d <= window; ++d) {
      if (ky - d >= 0) sum += hy[ky - d];
      if (ky + d <= 255) sum += hy[ky + d];
    }
    const auto need = static_cast<uint64_t>(static_cast<double>(W) * H * ratio);
    if (sum < need) {
      ky = 0;
      ku = kv = 128;
    }
  }
  const int key = (ky << 16) | (ku << 8) | kv;
  if (display_width < W || display_height < H) {
    if (ky != 0) utils_fill_plane_border(ky, get_y(), W, H, display_width, display_height);
    const int ch = c_height();
    const int inner_h = chroma_format == 2 ? display_height : display_height / 2;
    if (ku != 128) utils_fill_plane_border(ku, get_u(), W / 2, ch, display_width / 2, inner_h);
    if (kv != 128) utils_fill_plane_border(kv, get_v(), W / 2, ch, display_width / 2, inner_h);
  }
  return key;
}

// MBInfo

void MBInfo::reset() {
  const int number = mb_number;
  *this = MBInfo();
  mb_number = number;
}

void MBInfo::reset_mpeg1() {
  mb_type = motion_type = 0;
  quantiser_scale = cbp = skipped = 0;
  for (int i = 0; i < 4; ++i) mv[i] = 0;
  for (auto& x : values) x = 0;
  valid = extra = 0;
}

static void copy_from_previous(MBInfo* self, const MBInfo* prev, int vector_words) {
  if (!prev || prev == self) return;
  self->mb_type = prev->mb_type & 13;
  self->motion_type = prev->motion_type;
  for (int i = 0; i < vector_words; ++i) self->mv[i] = prev->mv[i];
  for (int i = 0; i < 4; ++i) self->values[i] = prev->values[i];
  self->valid = 1;
}

void MBInfo::set_from_mpeg1_mb(const MBInfo* previous) { copy_from_previous(this, previous, 4); }
void MBInfo::set_from_mpeg2_mb(const MBInfo* previous) { copy_from_previous(this, previous, 14); }

void MBInfo::assign(const MBInfo& other) {
  if (&other != this) *this = other;
}
