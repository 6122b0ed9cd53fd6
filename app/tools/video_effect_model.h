// The Video Effect Setup's rules without its window: a transition into a
// clip, a title overlay (optionally with a BMP or JPEG picture) and a fade,
// chosen per clip on a private copy of the Video Clip List's clips; OK
// writes the changed clips back, Cancel leaves them untouched.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "access/clip.h"

enum EffectTab { kTransitionTab = 0, kOverlayTab = 1, kFilterTab = 2 };

struct EffectRow {
  int id = 0;
  std::string name;
};
// The effect list of a tab: row 0 is the first registered effect ("None"),
// then the tab's registered effects in registration order.
std::vector<EffectRow> effect_rows(int tab);

// The picture kind of a file: 11 JPEG, 12 Windows bitmap, 0 anything else.
using ImageProbe = std::function<int(const std::string& file)>;
int probe_image_kind(const std::string& file);

class VideoEffectModel {
 public:
  explicit VideoEffectModel(ImageProbe probe = probe_image_kind);

  // Takes a copy of the caller's clips (null or empty: no clips).
  void set_clips(std::vector<Clip>* clips);
  int clip_count() const { return int(copy_.size()); }
  const std::vector<Clip>& copy() const { return copy_; }
  int current_clip = 0;
  int tab = kTransitionTab;

  // The dialog's start: the index checked, the current clip loaded.
  void start();
  void select_tab(int t);
  void select_clip(int index);
  // A row picked in the effect list; on the Overlay tab a row other than
  // 0 asks for a picture through the open dialog.
  void pick_row(int row);
  void choose_image();
  // A chosen picture file: taken when it is a BMP or JPEG, else refused
  // with a message and the previous one kept.
  void take_image(const std::string& path);
  void offset_edited(const std::string& text);
  void length_edited(const std::string& text);
  void all();
  void add();
  void remove();
  void update();
  void replace();
  // Every copied clip that differs goes back into the caller's array.
  void ok();

  // What the window shows.
  const std::vector<EffectRow>& rows() const { return rows_; }
  int selected_row() const { return state().selected_row; }
  int applied_row() const { return state().applied_row; }
  std::string offset_text() const;
  std::string length_text() const;
  bool offset_enabled() const { return tab != kTransitionTab; }
  struct Buttons {
    bool add = false, update = false, replace = false, remove = false;
  };
  Buttons buttons() const;
  // The effect-info line (fits the fields to the clip first).
  std::string info();
  std::string range_title() const;
  int total() const { return total_; }
  int image_kind = 0;  // 0 none, 11 JPEG, 12 BMP
  std::string image_folder, image_file;

 private:
  struct TabState {
    int applied_row = 0, applied_offset = 0, applied_length = 0;
    int selected_row = 0, offset = 0, length = 0;
  };
  TabState& state() { return tabs_[tab]; }
  const TabState& state() const { return tabs_[tab]; }
  Clip* clip() { return copy_.empty() ? nullptr : &copy_[size_t(current_clip)]; }
  void fill_effect_list();
  void load_clip();
  // The selected row's effect id with the fields fitted to the clip.
  int selected_effect(int* offset, int* length);
  // Stores the selected effect; false when the clip refuses it.
  bool apply_selected();
  void remove_effect();
  double frame_period() const;
  bool transition_allowed() const { return tab != kTransitionTab || current_clip != 0; }

  ImageProbe probe_;
  std::vector<Clip>* caller_ = nullptr;
  std::vector<Clip> copy_;
  std::vector<EffectRow> rows_;
  TabState tabs_[3];
  int total_ = 0;
};
