// The MPEG Video Encoder Setup dialog's rules: it edits a copy of a save's
// video encoder data, writes it back on OK and tells the Save dialog
// which compliance target was asked for.
#pragma once

#include <string>
#include <vector>

#include "engine/clips/settings.h"

class EditorSettings;

// The frame rate list, in its order.
inline constexpr int kVideoRateCount = 8;
extern const char* const kVideoRateTexts[kVideoRateCount];
extern const double kVideoRates[kVideoRateCount];
// The motion estimation algorithms, in the list's order.
extern const char* const kVideoAlgorithmTexts[3];

class CVideoEncoderSetupDlg {
 public:
  enum Filter : int { kNoiseReduction = 0, kDeinterlace, kSceneChange, kInverseTelecine };

  // The filter boxes come from the settings (none: all off, nothing
  // written back); diagnostic shows the Fixed box.
  CVideoEncoderSetupDlg(VideoEncoderData* source, int output_kind, EditorSettings* settings = nullptr,
                        bool diagnostic = false);

  // ---- the controls
  void choose_clip(int entry);  // an entry of clip_entries
  void reset();
  void set_gop_n(int n);
  void set_gop_m(int m);
  void set_mpeg2(bool mpeg2);
  void set_width(int w);
  void set_height(int h);
  void choose_rate(int index);
  void set_constant_quality(bool on);
  void set_bit_rate(int bits);
  void set_max_bit_rate(int bits);
  void move_slider(int position);
  void set_algorithm(int algorithm);
  void set_distances(int horizontal, int vertical);
  void toggle_filter(int filter);
  void check_dvd();
  void check_vcd();
  void check_svcd();
  void set_field_order(int order);
  void toggle_fixed();
  // OK: results below filled; the copy goes back to the source when
  // something changed.
  void ok();

  // ---- what the widget shows
  std::vector<int> clip_entries;  // clip indexes listed
  int clip_entry = -1;
  bool clip_list_enabled = false;
  std::string load_text = "Load Parameters from Input Clip";
  bool reset_enabled = false;
  int rate_index = 0;
  bool constant_quality = false;
  int slider = 21;  // 1 ("high") to 21 ("low")
  bool filters[4] = {};
  // No engine filter does noise reduction or de-interlacing: their
  // stored choice is kept but cannot be changed here.
  static constexpr bool kFilterEnabled[4] = {false, false, true, true};
  bool dvd = false, vcd = false, svcd = false;
  bool field_order_enabled = false;
  bool fixed_visible = false, fixed_enabled = false, fixed = false;
  std::string fixed_text = "Fixed";

  // ---- results read by the caller
  bool changed = false, gop_changed = false;
  bool want_dvd = false, want_vcd = false, want_svcd = false;
  int requested_kind = 0;

  VideoEncoderData edited;

 private:
  int slider_quantiser() const;
  bool differs_from_clip() const;
  void load_clip(int index);
  void show_rate();
  void show_rate_control();
  // Format, rate, size and rate control after a compliance target.
  void show_target();
  void update();

  VideoEncoderData* source_;
  VideoEncoderData baseline_;
  int output_kind_;
  EditorSettings* settings_;
  bool diagnostic_;
  int opening_slider_ = 21;
  int distances_[2][2] = {{7, 7}, {15, 15}};  // by format: MPEG-1, MPEG-2
};
