#include "app/audio/equalizer_dialog.h"

#include <algorithm>
#include <cstdio>

namespace {

bool halves_equal(const GainSet& g) { return std::equal(g.begin(), g.begin() + 32, g.begin() + 32); }

std::string file_name(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? path : path.substr(p + 1);
}

}  // namespace

EqualizerGraph EqualizerGraph::from_size(int w, int h) {
  EqualizerGraph g;
  g.column = w / 36;
  g.x0 = (w - 32 * g.column) / 2 + 3 * g.column / 2;
  g.height = h / 3;
  g.left_base = h / 3 + (h / 2 - h / 3) / 2;
  g.right_base = g.left_base + h / 2;
  g.per_unit = g.height / 24.0;
  return g;
}

EqualizerDialogModel::EqualizerDialogModel(const GainSet& gains, int preamp)
    : gains_(gains), initial_(gains), preamp_(preamp), initial_preamp_(preamp), mode_(halves_equal(gains) ? kBoth : kLeft) {}

std::string EqualizerDialogModel::page_caption(int page) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "Frequency: %.1f-%.1f kHz", 4 * page * 0.625, (4 * page + 4) * 0.625);
  return buf;
}

void EqualizerDialogModel::show_page(int page) {
  page = std::clamp(page, 0, 7);
  if (mode_ & kLeft) page_[0] = page;
  if (mode_ & kRight) page_[1] = page;
}

int EqualizerDialogModel::band_gain(int offset) const {
  const int ch = shown_channel();
  return gains_[size_t(ch * 32 + 4 * page_[ch] + offset)];
}

void EqualizerDialogModel::set_band(int offset, int gain) {
  if (offset < 0 || offset > 3 || gain < 0 || gain > 24) return;
  const int b = 4 * page_[shown_channel()] + offset;
  if (mode_ & kLeft) gains_[size_t(b)] = gain;
  if (mode_ & kRight) gains_[size_t(32 + b)] = gain;
  modified_ = true;
}

bool EqualizerDialogModel::copy_enabled() const { return mode_ != kBoth && !halves_equal(gains_); }

void EqualizerDialogModel::toggle_left() {
  if (mode_ & kLeft) {
    // Unchecking the only channel checks the other instead.
    mode_ = kRight;
  } else {
    mode_ = halves_equal(gains_) ? kBoth : kLeft;
  }
}

void EqualizerDialogModel::toggle_right() {
  if (mode_ & kRight) {
    mode_ = kLeft;
  } else {
    mode_ = halves_equal(gains_) ? kBoth : kRight;
  }
}

void EqualizerDialogModel::left_to_right() {
  if (mode_ == kBoth) return;
  std::copy(gains_.begin(), gains_.begin() + 32, gains_.begin() + 32);
  mode_ = kBoth;
  page_[1] = page_[0];
}

void EqualizerDialogModel::right_to_left() {
  if (mode_ == kBoth) return;
  std::copy(gains_.begin() + 32, gains_.end(), gains_.begin());
  mode_ = kBoth;
  page_[0] = page_[1];
}

void EqualizerDialogModel::set_gains(const GainSet& g) {
  gains_ = g;
  mode_ = halves_equal(g) ? kBoth : kLeft;
  page_[0] = page_[1] = 0;
}

int EqualizerDialogModel::add_preset_file(const std::string& path) {
  const std::string name = file_name(path);
  for (size_t i = 4; i < names_.size(); ++i)
    if (names_[i] == name) return int(i);
  names_.push_back(name);
  paths_.push_back(path);
  return int(names_.size()) - 1;
}

void EqualizerDialogModel::select_preset(int i, const std::function<bool(const std::string&, GainSet*)>& load) {
  if (i < 0 || i >= int(names_.size())) return;
  if (i == preset_ && i != 0) return;
  GainSet g;
  switch (i) {
    case 0:
      g.fill(12);
      if (g != gains_) set_gains(g);
      preamp_ = 12;
      break;
    case 1:
      if (initial_ != gains_) set_gains(initial_);
      preamp_ = initial_preamp_;
      break;
    case 2:
    case 3:
      g = i == 2 ? low_frequency_preset() : high_frequency_preset();
      if (g != gains_) set_gains(g);
      break;
    default:
      if (!load || !load(paths_[size_t(i)], &g)) return;
      set_gains(g);
  }
  preset_ = i;
  modified_ = false;
}

void EqualizerDialogModel::send(int event) {
  if (on_event) on_event(gains_, preamp_, event);
}
