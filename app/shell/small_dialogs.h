// Three small dialogs that edit one value each for their caller: the
// audio/video synchronization offset (Multiplexer), the encoder's field
// order (Video Encoder Setup) and the compatibility caution with its "do
// not show again" box (Multiplexer). Their rules; the widgets are in
// ui/shell/small_dialogs.*.
#pragma once

#include <functional>
#include <string>

// The caller's offset record.
struct AVSyncSetting {
  int range_ms = 1000;  // the slider's span
  int offset_ms = 0;    // audio offset; negative: earlier
  std::function<void(void* context, int offset_ms)> apply_callback;
  void* apply_context = nullptr;
};

class CAVSyncDlg {
 public:
  static constexpr int kSliderMax = 1000;
  explicit CAVSyncDlg(AVSyncSetting* setting);

  // Typed texts (seconds), taken when the edit changes.
  void set_range_text(const std::string& text);
  void set_offset_text(const std::string& text);
  void slider_moved(int position);
  // "N/A": the caller's callback with the offset.
  void apply();
  // Done: the range goes into the record; true when the dialog closes.
  bool done();

  int range_ms() const { return range_ms_; }
  int offset_ms() const { return offset_ms_; }
  int slider() const { return slider_; }
  bool apply_enabled() const { return apply_enabled_; }
  // Slider units between ticks (one a second) and its page size.
  int tick_interval() const { return tick_; }
  int page_size() const { return tick_ / 2; }
  // Texts shown: the edits and the slider's end labels.
  std::string range_text, offset_text, left_text, right_text;

 private:
  void show_range();
  void show_offset();
  void store_offset(int ms);

  AVSyncSetting* setting_;
  int range_ms_ = 1000, offset_ms_ = 0, slider_ = 500, tick_ = 1000;
  bool apply_enabled_ = false;
};

class CFieldOrderDlg {
 public:
  enum : int { kDefault = 0, kBottomFirst = 1, kTopFirst = 2 };
  explicit CFieldOrderDlg(int v) : value(v == kBottomFirst || v == kTopFirst ? v : kDefault) {}
  int value;
};
inline constexpr const char* kFieldOrderTexts[3] = {"Use Default (Input)", "Bottom Field First", "Top Field First"};

class CCompatCautionDlg {
 public:
  int dont_show_again = 0;
};
inline constexpr const char* kCompatCautionText =
    "Information about output file size minimization:\n\n  (1) This option will reduce the file size by 1.2 to 1.5 %. "
    "\n\n  (2) The output file will not be compatible with DVD file format, \n       and it may become unacceptable "
    "to some DVD authoring software.";
