#include "app/editor/audio_encoder_setup.h"

#include <cstdio>
#include <cstdlib>

const std::vector<int>& audio_layer_bit_rates(int layer) {
  static const std::vector<int> layer1 = {32000,  64000,  96000,  128000, 160000, 192000, 224000,
                                          256000, 288000, 320000, 352000, 384000, 416000, 448000};
  static const std::vector<int> layer2 = {32000,  48000,  56000,  64000,  80000,  96000,  112000,
                                          128000, 160000, 192000, 224000, 256000, 320000, 384000};
  return layer == 1 ? layer1 : layer2;
}

CAudioEncoderSetupDlg::CAudioEncoderSetupDlg(AudioEncoderData* source) : edited(*source), source_(source) {
  if (edited.layer == 0) edited.layer = 2;
  if (edited.layer == 3) edited.layer = 2;  // layer III is not offered
  if (edited.channels != 1) edited.channels = 2;
  bool known_rate = false;
  for (int r : kAudioSampleRates) known_rate = known_rate || r == edited.sample_rate;
  if (!known_rate) edited.sample_rate = kAudioSampleRates[0];
  // One entry per clip with audio; a file listed already with the same
  // sound is not listed again.
  for (size_t i = 0; i < edited.clips.size(); ++i) {
    const Clip& c = edited.clips[i];
    if (c.audio_stream_count <= 0 || c.sample_rate <= 0) continue;
    bool seen = false;
    for (int j : clip_entries) {
      const Clip& o = edited.clips[size_t(j)];
      seen = seen || (o.file_name == c.file_name && o.sample_rate == c.sample_rate && o.channels == c.channels &&
                      o.audio_bit_rate == c.audio_bit_rate && o.audio_layer == c.audio_layer);
    }
    if (!seen) clip_entries.push_back(int(i));
  }
  if (edited.clip_select >= 0 && differs_from_clip()) edited.clip_select = -1;
  for (size_t e = 0; e < clip_entries.size(); ++e)
    if (clip_entries[e] == edited.clip_select) clip_entry = int(e);
  clip_list_enabled = clip_entries.size() > 1;
  fit_bit_rate();
  // AC-3 pass-through when the first clip's sound is AC-3.
  if (edited.has_audio && !edited.clips.empty() && edited.clips[0].audio_stream_count > 0 &&
      edited.clips[0].ac3_channels > 0) {
    ac3_available = true;
    clip_list_enabled = false;
    ac3_on = edited.copy_flag != 0;
  }
  update();
}

bool CAudioEncoderSetupDlg::differs_from_clip() const {
  if (edited.clip_select < 0 || edited.clip_select >= int(edited.clips.size())) return false;
  const Clip& c = edited.clips[size_t(edited.clip_select)];
  const int layer = c.audio_layer ? c.audio_layer : 2;
  return c.sample_rate != edited.sample_rate || (c.channels == 1 ? 1 : 2) != edited.channels ||
         c.audio_bit_rate != edited.bit_rate || layer != edited.layer;
}

void CAudioEncoderSetupDlg::fit_bit_rate() {
  const std::vector<int>& rates = audio_layer_bit_rates(edited.layer);
  if (edited.bit_rate < rates.front() || edited.bit_rate > rates.back())
    edited.bit_rate = edited.sample_rate == 48000 ? 384000 : 224000;
  int best = rates.front();
  for (int r : rates)
    if (std::abs(r - edited.bit_rate) < std::abs(best - edited.bit_rate)) best = r;
  edited.bit_rate = best;
}

void CAudioEncoderSetupDlg::update() { reset_enabled = edited.clip_select >= 0 && differs_from_clip(); }

void CAudioEncoderSetupDlg::load_clip(int index) {
  if (index < 0 || index >= int(edited.clips.size())) return;
  const Clip& c = edited.clips[size_t(index)];
  edited.clip_select = index;
  edited.sample_rate = c.sample_rate;
  edited.bit_rate = c.audio_bit_rate;
  edited.channels = c.channels == 1 ? 1 : 2;
  edited.layer = c.audio_layer == 1 ? 1 : 2;
  fit_bit_rate();
  update();
}

void CAudioEncoderSetupDlg::choose_clip(int entry) {
  if (entry < 0 || entry >= int(clip_entries.size())) return;
  clip_entry = entry;
  load_clip(clip_entries[size_t(entry)]);
}

void CAudioEncoderSetupDlg::reset() { load_clip(edited.clip_select); }

void CAudioEncoderSetupDlg::set_channels(int channels) {
  edited.channels = channels == 1 ? 1 : 2;
  update();
}

void CAudioEncoderSetupDlg::set_layer(int layer) {
  edited.layer = layer == 1 ? 1 : 2;
  fit_bit_rate();
  update();
}

void CAudioEncoderSetupDlg::set_sample_rate(int rate) {
  for (int r : kAudioSampleRates)
    if (r == rate) edited.sample_rate = rate;
  update();
}

void CAudioEncoderSetupDlg::set_bit_rate(int bits) {
  edited.bit_rate = bits;
  fit_bit_rate();
  update();
}

void CAudioEncoderSetupDlg::vcd() {
  edited.sample_rate = 44100;
  edited.layer = 2;
  edited.channels = 2;
  edited.bit_rate = 224000;
  update();
}

void CAudioEncoderSetupDlg::svcd() {
  edited.sample_rate = 44100;
  edited.layer = 2;
  fit_bit_rate();
  update();
}

void CAudioEncoderSetupDlg::toggle_ac3() {
  if (!ac3_available) return;
  ac3_on = !ac3_on;
  if (ac3_on) {
    ac3_backup_ = edited;
    const Clip& c = edited.clips[0];
    edited.sample_rate = c.sample_rate;
    edited.bit_rate = c.audio_bit_rate;
    edited.channels = c.channels == 1 ? 1 : 2;
  } else {
    edited = ac3_backup_;
  }
  edited.copy_flag = ac3_on ? 1 : 0;
  update();
}

void CAudioEncoderSetupDlg::ok() {
  if (ac3_available) edited.clip_select = ac3_on ? 0 : -1;
  else if (differs_from_clip()) edited.clip_select = -1;
  *source_ = edited;
}

std::vector<std::string> CAudioEncoderSetupDlg::sample_rate_texts() const {
  std::vector<std::string> out;
  for (int r : kAudioSampleRates) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.1f kHz ", r / 1000.0);
    out.push_back(buf);
  }
  return out;
}

std::vector<std::string> CAudioEncoderSetupDlg::bit_rate_texts() const {
  std::vector<std::string> out;
  for (int r : audio_layer_bit_rates(edited.layer)) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.f kbps ", r / 1000.0);
    out.push_back(buf);
  }
  return out;
}
