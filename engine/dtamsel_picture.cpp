// The window's bitmap of the shown picture and the lowest output rates.
#include <cmath>
#include <memory>

#include "access/dtv.h"
#include "access/dtv_rates.h"
#include "engine/dtamsel.h"
#include "foundation/trace.h"
#include "picture/bmp.h"
#include "picture/dither.h"
#include "picture/frame.h"

int DTamsel::set_bmp_depth(int bits) {
  const int old = bmp_depth_;
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) {
    trace("DTamsel::set_bmp_depth (ERROR): unsupported depth %d\n", bits);
    return old;
  }
  if (bits != old || !bmp_) {
    bmp_.reset();
    dither_.reset();
    bmp_depth_ = bits;
    init_bmp(bits);
  }
  return old;
}

int DTamsel::init_bmp(int bits) {
  Frame* screen = dtv_ ? get_dtv_screen() : nullptr;
  int w = 352, h = 240;
  if (screen) {
    w = screen->get_width();
    h = screen->get_height();
  } else {
    trace("DTamsel::init_bmp (Warning): no picture, %dx%d\n", w, h);
  }
  auto bmp = std::make_unique<BMP>();
  auto dither = std::make_unique<Dither>(w, h, bits);
  if (!dither->get_dib_header()) {
    trace("DTamsel::init_bmp (ERROR): no converter for %dx%d at %d bits\n", w, h, bits);
    bmp_.reset();
    dither_.reset();
    return 1;
  }
  bmp_ = std::move(bmp);
  dither_ = std::move(dither);
  bmp_depth_ = bits;
  if (screen) get_decoded_image_dib_data();
  return 0;
}

uint8_t* DTamsel::get_decoded_image_dib_data() {
  if ((!bmp_ || !dither_) && init_bmp(bmp_depth_)) return nullptr;
  Frame* frame = dtv_ ? get_dtv_screen() : nullptr;
  if (!frame || !frame->image()) return bmp_->dib_data;
  const BitmapInfoHeader& h = dither_->get_dib_header()->header;
  const int bw = h.biWidth, bh = h.biHeight < 0 ? -h.biHeight : h.biHeight;
  std::unique_ptr<Frame> scaled;
  if (frame->get_width() != bw || frame->get_height() != bh) {
    scaled.reset(frame->create_scaled(bw, bh));
    if (!scaled) {
      trace("DTamsel::get_decoded_image_dib_data (ERROR): no %dx%d picture of %dx%d\n", bw, bh, frame->get_width(),
            frame->get_height());
      return bmp_->dib_data;
    }
    frame = scaled.get();
  }
  // One field at full height keeps interlaced motion from combing.
  const bool progressive = frame->picture_structure() == 3 && frame->progressive_frame();
  if (field_dither_ && !progressive && !frame->progressive_sequence())
    dither_->dither_field(frame->top_field_first() ? 1 : 0, frame->image(), bmp_.get(), 1);
  else
    dither_->dither(frame->image(), bmp_.get(), 1);
  return bmp_->dib_data;
}

BitmapInfo* DTamsel::get_decoded_image_dib_header() {
  if (!bmp_ || !bmp_->dib_header) get_decoded_image_dib_data();
  return bmp_ ? bmp_->dib_header : nullptr;
}

int DTamsel::get_image_width() {
  if (bmp_ && bmp_->dib_header)
    return bmp_->get_bits_per_pixel() == 8 ? bmp_->get_bytes_per_line() : bmp_->get_width();
  return get_decoded_image_width();
}

int DTamsel::get_image_height() {
  if (bmp_ && bmp_->dib_header) return bmp_->get_height();
  return get_decoded_image_height();
}

int DTamsel::get_minimum_output_bit_rate(int kind) {
  if (!list_) return 0;
  if (!min_rates_known_) {
    int r[5] = {};
    const int failed = (current_ == list_ && dtv_) ? dtv_minimum_output_bit_rate_of_dtv(dtv_.get(), list_, r)
                                                   : dtv_minimum_output_bit_rate(list_, r);
    if (failed) return 0;
    const double per_frame = 8.0 * (frame_rate_ > 0 ? frame_rate_ : 30000.0 / 1001.0);
    for (int i = 0; i < 5; ++i) min_rates_[i] = int(std::lround(r[i] / per_frame));
    min_rates_known_ = true;
  }
  const int index = kind == 4 ? 1 : kind == 5 ? 2 : kind == 6 ? 3 : kind == 8 ? 4 : 0;
  return min_rates_[index];
}

Image* DTamsel::get_decoded_frame_image() {
  Frame* f = get_decoded_frame();
  return f ? f->image() : nullptr;
}

int DTamsel::get_decoded_frame_flag() {
  Frame* f = get_decoded_frame();
  return f && f->image() ? f->picture_coding_type() : 0;
}

int DTamsel::get_decoded_image_width() {
  Frame* f = get_decoded_frame();
  return f ? f->get_width() : 352;
}

int DTamsel::get_decoded_image_height() {
  Frame* f = get_decoded_frame();
  return f ? f->get_height() : 240;
}
