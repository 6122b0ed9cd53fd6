#include "app/editor/player_toolbar.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/editor/timecode_text.h"

int PlayerToolBarModel::pos_of(int frame) const {
  const double p = frame * scale_;
  if (p >= 2e9) return int(2e9);
  return int(p);
}

void PlayerToolBarModel::set_range(int total, double rate) {
  const double old_scale = scale_;
  int in = 0, out = 0, ins = 0;
  if (!(rate != 0) || !std::isfinite(rate)) {
    // The marks keep their frames.
    in = int(mark_in_pos_ / old_scale);
    out = int(mark_out_pos_ / old_scale);
    ins = int(insert_pos_ / old_scale);
  } else {
    frame_rate_ = rate;
    in = 0;
    out = total - 1;
    ins = total / 2;
  }
  total_frames_ = total;
  scale_ = total > 1 ? double(kRange) / (total - 1) : double(kRange);
  mark_in_pos_ = 0;
  mark_out_pos_ = kRange;
  set_mark_out(out);
  set_mark_in(in);
  insert_pos_ = std::clamp(pos_of(ins), 0, kRange);
  notify();
}

void PlayerToolBarModel::set_position(int frame) { set_position_text(frame, field_text(frame)); }

void PlayerToolBarModel::set_position_text(int frame, const std::string& text) {
  slider_pos_ = std::clamp(pos_of(frame), 0, kRange);
  text_ = text;
  notify();
}

void PlayerToolBarModel::set_mark_in(int frame) {
  const int p = pos_of(frame);
  if (p > mark_out_pos_) mark_out_pos_ = std::min(mark_out_pos_ + (p - mark_in_pos_), kRange);
  mark_in_pos_ = p;
  notify();
}

void PlayerToolBarModel::set_mark_out(int frame) {
  const int p = pos_of(frame);
  if (p < mark_in_pos_) mark_in_pos_ = std::max(mark_in_pos_ - (mark_out_pos_ - p), 0);
  mark_out_pos_ = p;
  notify();
}

void PlayerToolBarModel::set_insert_point(int frame) {
  const int p = pos_of(frame);
  if (p == insert_pos_) return;
  insert_pos_ = p;
  notify();
}

void PlayerToolBarModel::set_show_time_code(bool on) {
  show_time_code_ = on;
  notify();
}

void PlayerToolBarModel::set_decoded_flag(bool show, int flag) {
  show_decoded_flag_ = show;
  decoded_flag_ = flag;
}

void PlayerToolBarModel::set_bitmap(int id) {
  if (id == bitmap_) return;
  bitmap_ = id;
  notify();
}

std::string PlayerToolBarModel::field_text(int frame, bool show_decoded, int decoded_flag) const {
  if (show_time_code_) {
    if (frame_to_timecode) return frame_to_timecode(frame);
    return frame_to_timecode_text(frame, frame_rate_);
  }
  char buf[64];
  if (frame < 1000)
    std::snprintf(buf, sizeof buf, "%8d", frame);
  else if (frame < 1000000)
    std::snprintf(buf, sizeof buf, "%4d,%03d", frame / 1000, frame % 1000);
  else
    std::snprintf(buf, sizeof buf, "%d,%03d,%03d", frame / 1000000, frame / 1000 % 1000, frame % 1000);
  std::string out = buf;
  if (show_decoded && decoded_flag >= 1 && decoded_flag <= 3) out += "-" + std::to_string(decoded_flag);
  return out;
}

bool PlayerToolBarModel::type_position(const std::string& typed) {
  const std::string text = typed.substr(0, 19);
  int frame = -1;
  if (text.find_first_of(":;") != std::string::npos) {
    const std::string tc = normalize_time_code(text);
    frame = timecode_to_frame ? timecode_to_frame(tc) : timecode_text_to_frame(tc, frame_rate_);
  } else {
    const size_t b = text.find_first_not_of(' ');
    if (b == std::string::npos) return false;
    long long v = 0;
    size_t i = b;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) v = std::min(v * 10 + (text[i] - '0'), 1LL << 40);
    if (i == b || text.find_first_not_of(' ', i) != std::string::npos) return false;
    frame = int(std::min<long long>(v, 2000000000));
  }
  if (frame < 0) return false;
  const double p = frame * scale_;
  if (p > kRange) {
    slider_pos_ = kRange;
    frame = int(kRange / scale_);
  } else {
    slider_pos_ = int(p);
  }
  if (position_callback) position_callback(frame, 1);
  text_ = field_text(frame);
  notify();
  return true;
}

int PlayerToolBarModel::frame_of_position(int position) const { return int(position / scale_ + 0.5); }

void PlayerToolBarModel::slider_moved(int position) {
  slider_pos_ = std::clamp(position, 0, kRange);
  if (position_callback) position_callback(frame_of_position(slider_pos_), 0);
}

void PlayerToolBarModel::slider_released() {
  if (position_callback) position_callback(0, -1);
}

int PlayerToolBarModel::click_position(int point, int thumb_length, int channel_start, int channel_length) {
  const int span = channel_length - thumb_length;
  if (span <= 0) return 0;
  const int p = (point - thumb_length / 2 - channel_start) * kRange / span;
  return std::clamp(p, 0, kRange);
}
