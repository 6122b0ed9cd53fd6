// The Options sheet's six pages as plain records: each works on its own
// copy of its settings, is modified while the copy differs from them, and
// stores the copy only on OK or Apply (Cancel stores nothing).
#pragma once

#include <string>

#include "app/shell/editor_settings.h"

class OptionsSheetModel {
 public:
  static constexpr int kPages = 6;
  // The copies of the settings now in s; screen_depth 8 offers 8-bit only.
  explicit OptionsSheetModel(EditorSettings* s);

  // Page 1, "Video Display".
  int color = 24;
  int looping = 0;
  bool color24_allowed() const { return settings_->screen_depth != 8; }
  // Page 2, "Image Size".
  int size = 0;
  int field_mode = 0;
  // Page 3, "Video Encoder".
  int me_algorithm = 0;
  int full_scan = 0;
  // Page 4, "Keyboard Controls": the whole keyboard part.
  EditorSettings keys;
  // Page 5, "Default Length".
  double transition_length = 0, image_length = 0;
  // Page 6, "Audio Encoder".
  int audio_crc = 0;

  // The jump edit box: its text for the current format, and a typed text
  // read as a number (non-numbers 0) and corrected to the format's range.
  std::string jump_text() const;
  void set_jump_format(int format);
  void set_jump_text(const std::string& text);
  // The two length boxes ("%.2f"), read as numbers.
  static std::string length_text(double seconds);
  void set_length_texts(const std::string& transition, const std::string& image);

  bool modified(int page) const;
  // OK or Apply of one page / of every page.
  void apply(int page);
  void apply_all();

  // The page the sheet opens on, and the one it closed on.
  int first_page() const;
  void closed_on(int page);

 private:
  EditorSettings* settings_;
};
