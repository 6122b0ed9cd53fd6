#include "foundation/vbv.h"

#include <algorithm>
#include <cmath>

#include "foundation/pic_header.h"
#include "foundation/seq_header.h"
#include "foundation/trace.h"

namespace {
constexpr double kTicks = 90000.0;
constexpr int kVbrDelay = 0xFFFF;

// A delay in ticks rounded to an int. A model driven far off its range (a
// damaged rate or size field) saturates instead of overflowing the int.
int rounded(double ticks) {
  if (std::isnan(ticks)) return 0;
  return int(std::clamp(ticks + 0.5, -1e9, 1e9));
}
}  // namespace

void VBV::reset() {
  period_ = ticks_per_byte_ = ticks_per_byte_low_ = 0.0;
  first_delay_ = min_delay_ = max_delay_ = last_duration_ = delay_ = elapsed_ = 0.0;
  buffer_size_ = 0;
  frame_rate_code_ = 0;
  mpeg1_ = vbr_ = started_ = false;
  progressive_sequence_ = low_delay_ = 0;
  last_structure_ = last_repeat_ = last_top_first_ = 0;
  drop_frame_ = 0;
}

void VBV::init(const SeqHdr& seq) {
  reset();
  mpeg1_ = true;
  progressive_sequence_ = 1;
  if (seq.mpeg2 && seq.seq_ext) {
    mpeg1_ = false;
    progressive_sequence_ = seq.seq_ext->progressive_sequence;
    low_delay_ = seq.seq_ext->low_delay;
  }
  // A header without a rate (0x3FFFF) makes every picture variable-rate:
  // a delay counted from a stand-in rate would be invented.
  vbr_ = seq.is_vbr();
  const double bit_rate = seq.get_bit_rate();
  frame_rate_code_ = seq.get_frame_rate_code();
  const double rate = seq.get_frame_rate();
  period_ = rate > 0 ? kTicks / rate : 0.0;
  if (!progressive_sequence_) period_ /= 2;  // a field period
  // Whole bits per period at a constant rate.
  if (!vbr_ && bit_rate > 0) period_ = std::floor(period_ / kTicks * bit_rate) * kTicks / bit_rate;
  buffer_size_ = seq.get_vbv_buffer_size();
  last_structure_ = PIC_FRAME;
  min_delay_ = 2147483647.0;
  ticks_per_byte_ = bit_rate > 0 ? 720000.0 / bit_rate : 0.0;
  ticks_per_byte_low_ = bit_rate > 399 ? 720000.0 / (bit_rate - 399) : ticks_per_byte_;
}

int VBV::set_drop_frame_flag(int flag) {
  if (flag && frame_rate_code_ != 4) {
    trace("VBV::set_drop_frame_flag (ERROR): drop frame at frame_rate_code %d\n", frame_rate_code_);
    return drop_frame_;
  }
  drop_frame_ = flag ? 1 : 0;
  return drop_frame_;
}

double VBV::get_pic_duration(const PicHdr& pic) {
  const int type = pic.picture_coding_type;
  const bool anchor = type == PIC_TYPE_I || type == PIC_TYPE_P;
  const int structure = pic.get_picture_structure();
  const int repeat = pic.get_repeat_first_field();
  const int top_first = pic.get_top_field_first();
  double d;
  if (mpeg1_) {
    d = period_;
  } else if (progressive_sequence_) {
    if (low_delay_ || !anchor) {
      d = frames_shown(repeat, top_first) * period_;
    } else {
      // An anchor is displayed when the next one arrives: it shows for as
      // long as the previous anchor did.
      d = frames_shown(last_repeat_, last_top_first_) * period_;
      last_repeat_ = repeat;
      last_top_first_ = top_first;
    }
  } else if (low_delay_) {
    d = structure == PIC_FRAME ? (repeat + 2) * period_ : period_;
  } else if (structure == PIC_FRAME) {
    if (anchor) {
      d = (last_repeat_ + 2) * period_;
      last_structure_ = structure;
      last_repeat_ = repeat;
    } else {
      d = (repeat + 2) * period_;
    }
  } else if (anchor) {
    const int prev_structure = last_structure_;
    const int prev_repeat = last_repeat_;
    last_structure_ = structure;
    last_repeat_ = repeat;
    d = structure != PIC_TOP_FIELD ? (1 + (prev_structure == PIC_FRAME && prev_repeat == 1 ? 1 : 0)) * period_
                                   : period_;
  } else {
    d = period_;
  }
  last_duration_ = d;
  return d;
}

int VBV::get_vbv_delay(const PicHdr& pic, int64_t previous_picture_bytes, int64_t header_bytes) {
  elapsed_ += get_pic_duration(pic);
  if (vbr_) return kVbrDelay;
  const double stream = pic.vbv_delay;
  if (!started_) {
    started_ = true;
    first_delay_ = delay_ = stream;
    if (pic.vbv_delay == kVbrDelay) {
      vbr_ = true;
      return kVbrDelay;
    }
    if (pic.mpeg2 && pic.coding_ext) {
      last_structure_ = pic.coding_ext->picture_structure;
      last_repeat_ = pic.coding_ext->repeat_first_field;
      last_top_first_ = pic.coding_ext->top_field_first;
    }
    min_delay_ = stream;
  } else {
    delay_ -= double(previous_picture_bytes) * ticks_per_byte_;
    if (rounded(delay_) < min_delay_) min_delay_ = rounded(delay_);
    delay_ = delay_ - double(header_bytes) * ticks_per_byte_ + last_duration_;
  }
  if (std::fabs(delay_ - stream) < 1.5) delay_ = stream;
  const int r = rounded(delay_);
  max_delay_ = std::max(max_delay_, double(r));
  if (r >= pic.vbv_delay) return r;
  // Keep the stream's value when a rate 399 bit/s lower (the rate field's
  // rounding) would reach it.
  const double low = std::ceil((ticks_per_byte_low_ - ticks_per_byte_) * double(previous_picture_bytes + header_bytes));
  if (rounded(low + delay_) < pic.vbv_delay) return r;
  return pic.vbv_delay;
}
