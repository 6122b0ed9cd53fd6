#include "app/shell/small_dialogs.h"

#include <cstdio>

namespace {
std::string seconds_text(double seconds) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", seconds);
  return buf;
}
double read_seconds(const std::string& text, bool* ok) {
  double v = 0;
  *ok = std::sscanf(text.c_str(), " %lf", &v) == 1;
  return v;
}
}  // namespace

CAVSyncDlg::CAVSyncDlg(AVSyncSetting* setting) : setting_(setting) {
  apply_enabled_ = setting && setting->apply_callback && setting->apply_context;
  if (setting) {
    range_ms_ = setting->range_ms >= 100 ? setting->range_ms : 100;
    offset_ms_ = setting->offset_ms;
  }
  show_range();
  show_offset();
  slider_ = static_cast<int>(offset_ms_ / (range_ms_ * 0.001) + 500);
  if (slider_ < 0) slider_ = 0;
  if (slider_ > kSliderMax) slider_ = kSliderMax;
}

void CAVSyncDlg::show_range() {
  range_text = seconds_text(range_ms_ * 0.001);
  // In doubles: an integer 1000 / ms is 0 for every range above a second.
  tick_ = static_cast<int>(1000.0 / (range_ms_ * 0.001) + 0.5);
  if (tick_ < 1) tick_ = 1;
  left_text = seconds_text(-range_ms_ * 0.0005);
  right_text = seconds_text(range_ms_ * 0.0005);
}

void CAVSyncDlg::show_offset() { offset_text = seconds_text(offset_ms_ * 0.001); }

void CAVSyncDlg::store_offset(int ms) {
  offset_ms_ = ms;
  if (setting_) setting_->offset_ms = ms;
}

void CAVSyncDlg::set_range_text(const std::string& text) {
  bool ok = false;
  const double seconds = read_seconds(text, &ok);
  if (!ok) return;
  int ms = static_cast<int>(seconds * 1000);
  if (ms < 100) ms = 100;
  if (ms != range_ms_) {
    const int half = ms / 2;
    const int p = static_cast<int>((offset_ms_ + half) * (1000.0 / ms) + 0.5);
    if (p < 0 || p > kSliderMax) {
      // The offset moves to the nearer end of the new range.
      store_offset(p < 0 ? -half : half);
      show_offset();
      slider_ = p < 0 ? 0 : kSliderMax;
    } else {
      slider_ = p;
    }
    range_ms_ = ms;
  }
  show_range();
}

void CAVSyncDlg::slider_moved(int position) {
  if (position < 0) position = 0;
  if (position > kSliderMax) position = kSliderMax;
  slider_ = position;
  const int ms = static_cast<int>(position * 0.001 * range_ms_) - range_ms_ / 2;
  if (ms != offset_ms_) {
    store_offset(ms);
    show_offset();
  }
}

void CAVSyncDlg::set_offset_text(const std::string& text) {
  bool ok = false;
  const double seconds = read_seconds(text, &ok);
  if (!ok) return;
  const int ms = static_cast<int>(seconds * 1000);
  if (ms == offset_ms_) return;
  store_offset(ms);
  int p = static_cast<int>(ms / (range_ms_ * 0.001) + 500);
  if (p < 0) p = 0;
  if (p > kSliderMax) p = kSliderMax;
  slider_ = p;
}

void CAVSyncDlg::apply() {
  if (apply_enabled_) setting_->apply_callback(setting_->apply_context, setting_->offset_ms);
}

bool CAVSyncDlg::done() {
  if (setting_) setting_->range_ms = range_ms_;
  return true;
}
