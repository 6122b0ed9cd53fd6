#include "app/audio/audio_save_dialog.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/shell/file_utils.h"
#include "engine/clips/clip_streams.h"
#include "platform/file_use.h"
#include "platform/services.h"

namespace {

constexpr int kLayer1Rates[14] = {32000,  64000,  96000,  128000, 160000, 192000, 224000,
                                  256000, 288000, 320000, 352000, 384000, 416000, 448000};
constexpr int kLayer2Rates[14] = {32000,  48000,  56000,  64000,  80000,  96000,  112000,
                                  128000, 160000, 192000, 224000, 256000, 320000, 384000};
constexpr const char* kBrowseFilter = "MPEG Audio Only Files (*.mpa) |*.mpa|All (*.*)|*.*||";

std::string seconds_text(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, " %.1f ", v);
  return buf;
}

// A decimal number at the start of the text; 0 when it does not begin
// with one.
double read_number(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

void stop_message(const std::string& text) {
  platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text);
}

}  // namespace

AudioRecordSettings to_record_settings(const AudioSaveSettings& s) {
  AudioRecordSettings r;
  r.layer = s.layer;
  r.sample_rate = s.sample_rate;
  r.channels = s.channels;
  r.bit_rate = s.bit_rate;
  return r;
}

bool read_clip_audio_format(const Clip& clip, ClipAudioFormat* out) {
  Clip c = clip;
  ClipInfo info;
  if (clip_get_audio_es_info(&c, &info, 1) < 1) return false;
  out->sample_rate = info.sample_rate;
  out->channels = info.channels;
  out->layer = info.audio_layer;
  out->bit_rate = info.audio_bit_rate;
  return true;
}

const int* CAudioSaveDlg::bit_rate_row(int layer) { return layer == 1 ? kLayer1Rates : kLayer2Rates; }

CAudioSaveDlg::CAudioSaveDlg(AudioSaveSettings* s, ClipAudioReader reader) : s_(s), reader_(std::move(reader)) {
  folder = s_->suggested_folder;
  if (s_->length == 0.0) s_->length = s_->total;
  selected_ = s_->input_clip >= 0 ? s_->input_clip : 0;
}

void CAudioSaveDlg::changed() {
  if (on_changed) on_changed();
}

void CAudioSaveDlg::OnInitDialog() {
  names_.clear();
  name_clip_.clear();
  if (s_->clips)
    for (size_t i = 0; i < s_->clips->clips.size(); ++i) {
      const char* f = s_->clips->clips[i].get_file_name();
      const std::string name = f ? f : std::string();
      bool seen = false;
      for (const std::string& n : names_) seen = seen || n == name;
      if (seen) continue;
      names_.push_back(name);
      name_clip_.push_back(int(i));
    }
  if (selected_ >= int(names_.size())) selected_ = 0;
  if (s_->sample_rate == 0) {
    LoadClipParameters();
  } else {
    fill_sample_rate();
    fill_channels();
    fill_layer_and_bit_rate();
  }
  UpdateResetButton();
  start_text_ = seconds_text(s_->start);
  length_text_ = seconds_text(s_->length);
  UpdateDiskList();
  changed();
}

const Clip* CAudioSaveDlg::selected_clip_record() const {
  if (!s_->clips || selected_ < 0 || selected_ >= int(name_clip_.size())) return nullptr;
  return &s_->clips->clips[size_t(name_clip_[size_t(selected_)])];
}

void CAudioSaveDlg::fill_sample_rate() {
  bool listed = false;
  for (int r : kSampleRates) listed = listed || r == s_->sample_rate;
  if (!listed) s_->sample_rate = kSampleRates[0];
}

void CAudioSaveDlg::fill_channels() { s_->channels = s_->channels == 1 ? 1 : 2; }

void CAudioSaveDlg::fill_layer_and_bit_rate() {
  if (s_->layer != 1) s_->layer = 2;
  const int* row = bit_rate_row(s_->layer);
  if (s_->bit_rate < row[0]) s_->bit_rate = 128000;
  int pick = row[0];
  for (int i = 0; i < 14; ++i)
    if (row[i] == s_->bit_rate) pick = row[i];
  s_->bit_rate = pick;
}

std::vector<std::string> CAudioSaveDlg::sample_rate_texts() const {
  std::vector<std::string> out;
  for (int r : kSampleRates) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.1f kHz ", r * 0.001);
    out.push_back(buf);
  }
  return out;
}

int CAudioSaveDlg::sample_rate_index() const {
  for (int i = 0; i < 3; ++i)
    if (kSampleRates[i] == s_->sample_rate) return i;
  return 0;
}

std::vector<std::string> CAudioSaveDlg::bit_rate_texts() const {
  std::vector<std::string> out;
  const int* row = bit_rate_row(s_->layer);
  for (int i = 0; i < 14; ++i) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " %.f kbs ", row[i] * 0.001);
    out.push_back(buf);
  }
  return out;
}

int CAudioSaveDlg::bit_rate_index() const {
  const int* row = bit_rate_row(s_->layer);
  for (int i = 0; i < 14; ++i)
    if (row[i] == s_->bit_rate) return i;
  return 0;
}

void CAudioSaveDlg::SelectClip(int index) {
  if (index == selected_ || index < 0 || index >= int(names_.size())) return;
  selected_ = index;
  LoadClipParameters();
  changed();
}

void CAudioSaveDlg::LoadClipParameters() {
  const Clip* c = selected_clip_record();
  ClipAudioFormat f;
  if (!c || !reader_ || !reader_(*c, &f) || f.sample_rate == 0) {
    // Nothing to take: the record keeps its values, made valid.
    fill_sample_rate();
    fill_channels();
    fill_layer_and_bit_rate();
    return;
  }
  s_->sample_rate = f.sample_rate;
  s_->channels = f.channels;
  s_->bit_rate = f.bit_rate;
  s_->layer = f.layer == 3 ? 2 : f.layer;
  fill_sample_rate();
  fill_channels();
  fill_layer_and_bit_rate();
  reset_enabled_ = false;
  changed();
}

void CAudioSaveDlg::UpdateResetButton() {
  const Clip* c = selected_clip_record();
  ClipAudioFormat f;
  if (!c || !reader_ || !reader_(*c, &f)) return;
  const int layer = f.layer == 3 ? 2 : f.layer;
  reset_enabled_ = f.sample_rate != s_->sample_rate || f.channels != s_->channels || f.bit_rate != s_->bit_rate ||
                   layer != s_->layer;
}

void CAudioSaveDlg::SelectSampleRate(int index) {
  if (index < 0 || index > 2) return;
  s_->sample_rate = kSampleRates[index];
  UpdateResetButton();
  changed();
}

void CAudioSaveDlg::SetChannels(int channels) {
  s_->channels = channels == 1 ? 1 : 2;
  UpdateResetButton();
  changed();
}

void CAudioSaveDlg::SetLayer(int layer) {
  s_->layer = layer == 1 ? 1 : 2;
  fill_layer_and_bit_rate();
  UpdateResetButton();
  changed();
}

void CAudioSaveDlg::SelectBitRate(int index) {
  if (index < 0 || index > 13) return;
  s_->bit_rate = bit_rate_row(s_->layer)[index];
  UpdateResetButton();
  changed();
}

void CAudioSaveDlg::SetFormat(int format) {
  format = format == 0 ? 0 : 1;
  if (format == s_->format) return;
  s_->format = format;
  if (format == 1) UpdateResetButton();
  changed();
}

std::string CAudioSaveDlg::estimate_text() const {
  double bytes = 0.0;
  if (s_->format == 1) bytes = std::trunc(s_->bit_rate * 0.125 * s_->length);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", bytes * 1e-6);
  return buf;
}

void CAudioSaveDlg::StartChanged(const std::string& text) {
  const double v = read_number(text);
  if (v == s_->start) return;
  s_->start = v;
  if (s_->start + s_->length > s_->total) {
    if (s_->start >= s_->total) {
      s_->start = 0.0;
      // The range saved is the one shown.
      start_text_ = seconds_text(s_->start);
    }
    s_->length = s_->total - s_->start;
    length_text_ = seconds_text(s_->length);
    changed();
  }
}

void CAudioSaveDlg::LengthChanged(const std::string& text) {
  const double v = read_number(text);
  if (v == s_->length) return;
  s_->length = v;
  changed();
}

void CAudioSaveDlg::All() {
  bool any = false;
  if (s_->start > 0) {
    s_->start = 0.0;
    start_text_ = seconds_text(0.0);
    any = true;
  }
  if (s_->length < s_->total) {
    s_->length = s_->total;
    length_text_ = seconds_text(s_->length);
    any = true;
  }
  if (any) changed();
}

void CAudioSaveDlg::UpdateDiskList() {
  std::vector<Volume> now;
  list_fixed_drives(&now, 32);
  drives_ = now;
  disk_lines_.clear();
  for (const Volume& v : drives_) {
    char buf[320];
    std::snprintf(buf, sizeof buf, "%s:%6.1f MB", v.mount.c_str(), v.free_bytes * 1e-6);
    disk_lines_.push_back(buf);
  }
  if (drive_ >= int(drives_.size())) drive_ = 0;
}

void CAudioSaveDlg::Browse() {
  std::string path;
  if (!file_dialog(&path, 1, 10, kBrowseFilter, "mpa", folder, "Save MPEG Audio Stream")) return;
  s_->file_name = path;
  folder = split_path(path);
  UpdateDiskList();
  // The disk holding the file: the longest mount point over its path.
  size_t best = 0;
  for (size_t i = 0; i < drives_.size(); ++i) {
    const std::string& m = drives_[i].mount;
    const bool under = path.compare(0, m.size(), m) == 0 &&
                       (path.size() == m.size() || m.back() == '/' || path[m.size()] == '/');
    if (under && m.size() >= best) {
      best = m.size();
      drive_ = int(i);
    }
  }
  changed();
}

bool CAudioSaveDlg::OnSave(const std::string& file_name_text) {
  s_->file_name = trim_blanks(file_name_text);
  const std::string& name = s_->file_name;
  if (name.empty()) {
    stop_message("No file name specified");
    return false;
  }
  // A source of the track or a file in use is never written over; the
  // test is made without touching the file.
  bool source = false;
  if (s_->clips)
    for (const Clip& c : s_->clips->clips)
      if (c.get_file_name() && same_file(c.get_file_name(), name)) source = true;
  if (source || platform().file_use->in_use(name)) {
    stop_message("File sharing error:\n\t<" + name + "> is in use.\nPlease select a new file name.\n");
    return false;
  }
  if (!platform().file_use->writable(name)) {
    stop_message("<" + name + ">: cannot open for writing");
    return false;
  }
  if (s_->format == 1) {
    const double needed = s_->bit_rate * 0.125 * s_->length;
    if (platform().disk->free_bytes(name) < needed) {
      stop_message("Not enough space left on the disk.\nPlease check again.");
      return false;
    }
  }
  if (reset_enabled_) s_->input_clip = -1;
  if (on_save) {
    on_save(folder);
    save_enabled_ = false;
    s_->file_name.clear();
    changed();
  }
  return true;
}

bool CAudioSaveDlg::OnOK(const std::string& file_name_text) {
  const bool saved = OnSave(file_name_text);
  if (saved) Close();
  return saved;
}

void CAudioSaveDlg::Close() {
  if (closed_) return;
  closed_ = true;
  if (!suppress_close_callback && on_close) on_close(folder);
}
