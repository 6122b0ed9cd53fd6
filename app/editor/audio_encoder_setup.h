// The MPEG Audio Encoder Setup dialog's rules: it edits a copy of a
// save's audio encoder data and writes it back on OK.
#pragma once

#include <string>
#include <vector>

#include "engine/clips/settings.h"

// Bit rates (bit/s) of a layer, free format left out.
const std::vector<int>& audio_layer_bit_rates(int layer);
// The sample rates offered, in the list's order.
inline constexpr int kAudioSampleRates[3] = {44100, 48000, 32000};

class CAudioEncoderSetupDlg {
 public:
  explicit CAudioEncoderSetupDlg(AudioEncoderData* source);

  // ---- the controls
  void choose_clip(int entry);  // an entry of clip_entries
  void reset();
  void set_channels(int channels);  // 1 mono, 2 stereo
  void set_layer(int layer);        // 1 or 2
  void set_sample_rate(int rate);
  void set_bit_rate(int bits);
  void vcd();
  void svcd();
  void toggle_ac3();
  // OK: the copy goes back to the source.
  void ok();

  // ---- what the widget shows
  std::vector<int> clip_entries;  // clip indexes listed
  int clip_entry = -1;            // the entry selected
  bool clip_list_enabled = false;
  bool reset_enabled = false;
  bool ac3_available = false;
  bool ac3_on = false;
  std::vector<std::string> sample_rate_texts() const;
  std::vector<std::string> bit_rate_texts() const;

  AudioEncoderData edited;

 private:
  void load_clip(int index);
  bool differs_from_clip() const;
  void fit_bit_rate();
  void update();

  AudioEncoderData* source_;
  AudioEncoderData ac3_backup_;
};
