// The Equalizer dialog's rules: band pages per channel, linked or
// separate channels, presets and the graph's geometry. The dialog hands
// its gain set and preamp back through one callback: 0 OK, 1 Apply,
// 2 Cancel.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/audio/equalizer.h"

struct EqualizerGraph {
  int x0 = 0, left_base = 0, right_base = 0, column = 0, height = 0;
  double per_unit = 0;
  // From the graph area's size (integer divisions as drawn).
  static EqualizerGraph from_size(int w, int h);
  int column_x(int band) const { return x0 + band * column; }
  int bar(int gain) const { return int(per_unit * gain + 0.5); }
};

class EqualizerDialogModel {
 public:
  enum Mode { kLeft = 1, kRight = 2, kBoth = 3 };
  EqualizerDialogModel(const GainSet& gains, int preamp);

  std::function<void(const GainSet&, int preamp, int event)> on_event;

  const GainSet& gains() const { return gains_; }
  int preamp() const { return preamp_; }
  void set_preamp(int p) { preamp_ = p; }
  int mode() const { return mode_; }
  // The channel whose page the sliders show (left unless right only).
  int shown_channel() const { return mode_ == kRight ? 1 : 0; }
  int page(int channel) const { return page_[channel]; }
  void show_page(int page);
  // Slider `offset` (0..3) of the page moved to gain g.
  void set_band(int offset, int gain);
  int band_gain(int offset) const;
  bool copy_enabled() const;
  void toggle_left();
  void toggle_right();
  void left_to_right();
  void right_to_left();
  void set_gains(const GainSet& g);
  bool modified() const { return modified_; }

  // Presets: "None", "Initially Used", the two tables, then files.
  const std::vector<std::string>& preset_names() const { return names_; }
  int selected_preset() const { return preset_; }
  // A file preset's index (the one listed under that name when there is one).
  int add_preset_file(const std::string& path);
  const std::vector<std::string>& preset_paths() const { return paths_; }
  // Takes preset i; load reads a file preset's gains (false: it failed).
  void select_preset(int i, const std::function<bool(const std::string&, GainSet*)>& load);
  void reset() { select_preset(0, nullptr); }

  void ok() { send(0); }
  void apply() { send(1); }
  void cancel() { send(2); }
  // "Frequency: %.1f-%.1f kHz" of a page.
  static std::string page_caption(int page);

 private:
  void send(int event);
  void after_preset();
  GainSet gains_, initial_;
  int preamp_, initial_preamp_;
  int mode_;
  int page_[2] = {0, 0};
  int preset_ = 1;
  bool modified_ = false;
  std::vector<std::string> names_{"None", "Initially Used", "Low Freq. (< 5kHz)", "High Freq. (> 5kHz)"};
  std::vector<std::string> paths_{"", "", "", ""};
};
