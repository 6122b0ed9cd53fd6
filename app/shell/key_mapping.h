// The "Keyboard Key Mapping" dialog's rules: the player's keys on two
// copies of the keyboard part (as opened, and as edited). A key is a letter
// or a digit and belongs to one command only; a key already in use is
// refused with a message.
#pragma once

#include <string>

#include "app/shell/editor_settings.h"

class KeyMappingModel {
 public:
  // The commands in the order of the dialog's boxes.
  static constexpr int kOrder[kKeyCount] = {1,  2,  3,  6,  7,  8,  5,  4,  9,  10, 11, 12, 13, 14, 15,
                                            16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29};
  explicit KeyMappingModel(const EditorSettings& keys);

  // A command's key as its box shows it ("%c").
  std::string key_text(int code) const;
  // A typed character for a command: letters read as capitals. False
  // (after a message for a key in use) when refused.
  bool set_key(int code, char typed);
  // Whether the edited copy differs from the one opened.
  bool changed() const { return EditorSettings::compare_key_map(opened_, edited_) != 0; }
  // Escape or Cancel: true when the dialog may close (nothing changed, or
  // the user discards the changes).
  bool may_discard() const;
  const EditorSettings& edited() const { return edited_; }

 private:
  EditorSettings opened_, edited_;
};
