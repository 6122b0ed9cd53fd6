// The player tool bar's rules: a slider of 0..1000 spanning the movie
// with ticks at the marks and a selection from mark in to mark out, and a
// position field showing the current frame as a time code or a number
// and taking a typed position. The widget paints and forwards; it knows
// the view only through the callbacks.
#pragma once

#include <functional>
#include <string>

class PlayerToolBarModel {
 public:
  static constexpr int kRange = 1000;

  // (frame, precision): precision 1 typed, 0 slider, -1 end of a drag
  // (focus only).
  std::function<void(int frame, int precision)> position_callback;
  // The editor's time-code reading and writing; without them the field
  // counts at frame_rate.
  std::function<int(const std::string& text)> timecode_to_frame;
  std::function<std::string(int frame)> frame_to_timecode;
  // The widget repaints after a change.
  std::function<void()> changed;

  void set_range(int total_frames, double frame_rate);
  void set_position(int frame);
  // set_position with a text made elsewhere (the playback thread makes
  // it while it owns the editor).
  void set_position_text(int frame, const std::string& text);
  void set_mark_in(int frame);
  void set_mark_out(int frame);
  void set_insert_point(int frame);
  void set_show_time_code(bool on);
  void set_decoded_flag(bool show, int flag);

  // The field's text for a frame.
  std::string field_text(int frame) const { return field_text(frame, show_decoded_flag_, decoded_flag_); }
  // ... with the decoded flag given (the playback thread makes texts while
  // the flag may change).
  std::string field_text(int frame, bool show_decoded, int decoded_flag) const;
  // Enter in the field: reads up to 19 characters; garbage is ignored.
  // True when the position moved.
  bool type_position(const std::string& text);
  // The field takes only digits, ":", Delete, Left, Right and Backspace.
  static bool field_accepts(char c) { return (c >= '0' && c <= '9') || c == ':'; }
  // A slider position while dragging (or of a click) reported as a frame.
  void slider_moved(int position);
  void slider_released();
  int frame_of_position(int position) const;
  // Where a click on the channel puts the thumb.
  static int click_position(int point, int thumb_length, int channel_start, int channel_length);

  int slider_position() const { return slider_pos_; }
  int mark_in_pos() const { return mark_in_pos_; }
  int mark_out_pos() const { return mark_out_pos_; }
  int insert_pos() const { return insert_pos_; }
  double scale() const { return scale_; }
  double frame_rate() const { return frame_rate_; }
  int total_frames() const { return total_frames_; }
  bool show_time_code() const { return show_time_code_; }
  const std::string& text() const { return text_; }
  // The button bitmap the view chose (140-158).
  int bitmap() const { return bitmap_; }
  void set_bitmap(int id);

 private:
  int pos_of(int frame) const;
  void notify() {
    if (changed) changed();
  }
  double frame_rate_ = 24.0;
  int total_frames_ = 1000;
  double scale_ = 1.0;
  int mark_in_pos_ = 0, mark_out_pos_ = kRange, insert_pos_ = 500;
  int slider_pos_ = 0;
  bool show_time_code_ = true;
  bool show_decoded_flag_ = false;
  int decoded_flag_ = 0;
  std::string text_;
  int bitmap_ = 140;
};
