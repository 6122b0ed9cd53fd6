// The Audio Configuration dialog's rules: the channels heard and the
// volume, written to the process-wide settings as they change.
#pragma once

#include <functional>

class AudioConfigModel {
 public:
  // Copies the current settings.
  AudioConfigModel();
  int left() const { return left_; }
  int right() const { return right_; }
  int volume() const { return volume_; }
  // One channel always stays selected.
  void toggle_left();
  void toggle_right();
  // Every slider move (also while dragging): a new volume goes to the
  // settings and to the main window's slider.
  void set_volume(int v);
  std::function<void()> on_volume_changed;

 private:
  int left_, right_, volume_;
};
