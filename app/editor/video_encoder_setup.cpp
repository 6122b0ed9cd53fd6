#include "app/editor/video_encoder_setup.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/shell/editor_settings.h"

const char* const kVideoRateTexts[kVideoRateCount] = {"23.97", "24", "25", "29.97", "30", "50", "59.94", "60"};
const double kVideoRates[kVideoRateCount] = {24000.0 / 1001, 24, 25, 30000.0 / 1001, 30, 50, 60000.0 / 1001, 60};
const char* const kVideoAlgorithmTexts[3] = {"Smart Fast", "Maximum Speed", "Maximum Quality"};

namespace {

constexpr int kMaxDefault[2] = {2000000, 6000000};

int32_t* filter_setting(EditorSettings* s, int i) {
  switch (i) {
    case 0: return &s->encoder_temporal_filter;
    case 1: return &s->encoder_deinterlace_filter;
    case 2: return &s->encoder_scene_change;
    default: return &s->encoder_inverse_telecine;
  }
}

bool same_video(const Clip& a, const Clip& b) {
  return a.mpeg2 == b.mpeg2 && a.width == b.width && a.height == b.height && a.video_bit_rate == b.video_bit_rate &&
         a.vbr == b.vbr && std::fabs(a.frame_rate - b.frame_rate) < 0.01;
}

}  // namespace

CVideoEncoderSetupDlg::CVideoEncoderSetupDlg(VideoEncoderData* source, int output_kind, EditorSettings* settings,
                                             bool diagnostic)
    : edited(*source), source_(source), output_kind_(output_kind), settings_(settings), diagnostic_(diagnostic) {
  const int f = edited.mpeg2_format ? 1 : 0;
  if (edited.gop_size < 1 || edited.gop_size > 30) edited.gop_size = 15;
  if (edited.sub_gop_size < 0 || edited.sub_gop_size > 5) edited.sub_gop_size = 3;
  if (edited.fixed_mq_max_bit_rate <= 0) edited.fixed_mq_max_bit_rate = kMaxDefault[f];
  slider = edited.fixed_mquant > 0 ? std::clamp(2 - f - edited.fixed_mquant + 21, 1, 21) : (f ? 20 : 21);
  opening_slider_ = slider;
  constant_quality = edited.fixed_mquant > 0;
  if (settings_)
    for (int i = 0; i < 4; ++i) filters[i] = *filter_setting(settings_, i) != 0;
  if (edited.me[2] < 0 || edited.me[2] > 2) edited.me[2] = 0;
  distances_[f][0] = edited.me[0];
  distances_[f][1] = edited.me[1];

  for (size_t i = 0; i < edited.clips.size(); ++i) {
    const Clip& c = edited.clips[i];
    if (c.video_stream_count <= 0 || c.width <= 0 || c.height <= 0) continue;
    bool seen = false;
    for (int j : clip_entries) seen = seen || same_video(edited.clips[size_t(j)], c);
    if (!seen) clip_entries.push_back(int(i));
  }
  clip_list_enabled = clip_entries.size() > 1;
  int chosen = -1;
  for (size_t e = 0; e < clip_entries.size(); ++e)
    if (clip_entries[e] == edited.clip_select) chosen = int(e);
  if (chosen < 0)
    for (size_t e = 0; e < clip_entries.size() && chosen < 0; ++e)
      if (!edited.clips[size_t(clip_entries[e])].is_still_image()) chosen = int(e);
  if (chosen >= 0 && edited.clip_select >= 0) {
    choose_clip(chosen);
  } else {
    clip_entry = chosen;
  }

  vcd = output_kind_ == 5;
  svcd = output_kind_ == 7;
  fixed_visible = diagnostic_;
  show_rate();
  update();
  baseline_ = edited;
}

int CVideoEncoderSetupDlg::slider_quantiser() const {
  return std::clamp((edited.mpeg2_format ? 1 : 2) - slider + 21, 1, 31);
}

bool CVideoEncoderSetupDlg::differs_from_clip() const {
  if (edited.clip_select < 0 || edited.clip_select >= int(edited.clips.size())) return false;
  const Clip& c = edited.clips[size_t(edited.clip_select)];
  return (c.mpeg2 ? 1 : 0) != edited.mpeg2_format || std::fabs(c.frame_rate - edited.frame_rate) >= 0.01 ||
         c.video_bit_rate != edited.bit_rate || c.width != edited.width || c.height != edited.height ||
         (c.vbr != 0) != constant_quality;
}

void CVideoEncoderSetupDlg::load_clip(int index) {
  if (index < 0 || index >= int(edited.clips.size())) return;
  const Clip& c = edited.clips[size_t(index)];
  if (c.video_stream_count <= 0 || c.width <= 0 || c.height <= 0) return;
  char buf[80];
  std::snprintf(buf, sizeof buf, "Load Parameters from Input Clip: %d/%d", index + 1, int(edited.clips.size()));
  load_text = buf;
  const int old_format = edited.mpeg2_format;
  edited.clip_select = index;
  edited.mpeg2_format = c.mpeg2 ? 1 : 0;
  edited.frame_rate = c.frame_rate;
  if (c.video_bit_rate > 0) edited.bit_rate = c.video_bit_rate;
  constant_quality = c.vbr != 0;
  if (!constant_quality) {
    edited.fixed_mq_max_bit_rate = edited.bit_rate;
    edited.fixed_mquant = 0;
  } else if (edited.fixed_mquant <= 0) {
    edited.fixed_mquant = slider_quantiser();
  }
  edited.set_size(c.width, c.height);
  if (old_format != edited.mpeg2_format) field_order_enabled = edited.mpeg2_format != 0;
  distances_[edited.mpeg2_format][0] = edited.me[0];
  distances_[edited.mpeg2_format][1] = edited.me[1];
  show_rate();
  update();
}

void CVideoEncoderSetupDlg::choose_clip(int entry) {
  if (entry < 0 || entry >= int(clip_entries.size())) return;
  clip_entry = entry;
  load_clip(clip_entries[size_t(entry)]);
}

void CVideoEncoderSetupDlg::reset() {
  if (reset_enabled) load_clip(edited.clip_select);
}

void CVideoEncoderSetupDlg::show_rate() {
  rate_index = 0;
  for (int i = 1; i < kVideoRateCount; ++i)
    if (std::fabs(kVideoRates[i] - edited.frame_rate) < std::fabs(kVideoRates[rate_index] - edited.frame_rate))
      rate_index = i;
}

void CVideoEncoderSetupDlg::show_rate_control() {
  constant_quality = edited.fixed_mquant > 0;
  const int f = edited.mpeg2_format ? 1 : 0;
  if (edited.fixed_mq_max_bit_rate <= 0) edited.fixed_mq_max_bit_rate = kMaxDefault[f];
  if (constant_quality) slider = std::clamp(2 - f - edited.fixed_mquant + 21, 1, 21);
}

void CVideoEncoderSetupDlg::show_target() {
  show_rate();
  show_rate_control();
  update();
}

void CVideoEncoderSetupDlg::update() {
  reset_enabled = edited.clip_select >= 0 && differs_from_clip();
  field_order_enabled = edited.mpeg2_format != 0;
  fixed_enabled = diagnostic_ && constant_quality;
  if (fixed) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "q: %d", slider_quantiser());
    fixed_text = buf;
  } else {
    fixed_text = "Fixed";
  }
}

void CVideoEncoderSetupDlg::set_gop_n(int n) {
  if (n < 1 || n > 30) n = 15;
  edited.gop_size = n;
  if (n == 1) edited.sub_gop_size = 0;
  else if (edited.sub_gop_size == 0) edited.sub_gop_size = std::min(3, n);
  else if (n < edited.sub_gop_size) edited.sub_gop_size = n;
  update();
}

void CVideoEncoderSetupDlg::set_gop_m(int m) {
  if (m < 0 || m > 5) m = 3;
  edited.sub_gop_size = m;
  if (m == 0) edited.gop_size = 1;
  else if (m > edited.gop_size) edited.gop_size = m;
  update();
}

void CVideoEncoderSetupDlg::set_mpeg2(bool mpeg2) {
  const int from = edited.mpeg2_format ? 1 : 0, to = mpeg2 ? 1 : 0;
  if (from == to) return;
  distances_[from][0] = edited.me[0];
  distances_[from][1] = edited.me[1];
  edited.me[0] = distances_[to][0];
  edited.me[1] = distances_[to][1];
  edited.mpeg2_format = to;
  if (to) edited.fixed_mq_max_bit_rate = std::max(edited.fixed_mq_max_bit_rate, kMaxDefault[1]);
  else edited.fixed_mq_max_bit_rate = kMaxDefault[0];
  update();
}

void CVideoEncoderSetupDlg::set_width(int w) {
  if (w > 0) edited.width = w;
  update();
}

void CVideoEncoderSetupDlg::set_height(int h) {
  if (h > 0) edited.height = h;
  update();
}

void CVideoEncoderSetupDlg::choose_rate(int index) {
  if (index < 0 || index >= kVideoRateCount) return;
  rate_index = index;
  const double rate = kVideoRates[index];
  edited.frame_rate = rate;
  // The picture follows the rate's television family.
  const int w = edited.width, h = edited.height;
  if (rate > 25 && ((w == 720 && h == 576) || (w == 352 && h == 288))) edited.height = h == 576 ? 480 : 240;
  else if (rate == 25 && ((w == 720 && h == 480) || (w == 352 && h == 240))) edited.height = h == 480 ? 576 : 288;
  update();
}

void CVideoEncoderSetupDlg::set_constant_quality(bool on) {
  constant_quality = on;
  if (on && edited.fixed_mquant <= 0) edited.fixed_mquant = slider_quantiser();
  update();
}

void CVideoEncoderSetupDlg::set_bit_rate(int bits) {
  if (bits > 0) edited.bit_rate = bits;
  update();
}

void CVideoEncoderSetupDlg::set_max_bit_rate(int bits) {
  if (bits > 0) edited.fixed_mq_max_bit_rate = bits;
  update();
}

void CVideoEncoderSetupDlg::move_slider(int position) {
  slider = std::clamp(position, 1, 21);
  update();
}

void CVideoEncoderSetupDlg::set_algorithm(int algorithm) {
  if (algorithm >= 0 && algorithm <= 2) edited.me[2] = algorithm;
}

void CVideoEncoderSetupDlg::set_distances(int horizontal, int vertical) {
  if (horizontal > 0) edited.me[0] = horizontal;
  if (vertical > 0) edited.me[1] = vertical;
}

void CVideoEncoderSetupDlg::toggle_filter(int filter) {
  if (filter < 0 || filter > 3 || !kFilterEnabled[filter]) return;
  filters[filter] = !filters[filter];
}

void CVideoEncoderSetupDlg::check_dvd() {
  dvd = !dvd;
  if (!dvd) return;
  vcd = svcd = false;
  if (!edited.is_dvd()) edited.fix_dvd();
  if (edited.fixed_mq_max_bit_rate <= 0) edited.fixed_mq_max_bit_rate = edited.bit_rate;
  show_target();
  set_constant_quality(true);
}

void CVideoEncoderSetupDlg::check_vcd() {
  vcd = !vcd;
  if (!vcd) return;
  dvd = svcd = false;
  if (!edited.is_vcd()) edited.fix_vcd();
  show_target();
}

void CVideoEncoderSetupDlg::check_svcd() {
  svcd = !svcd;
  if (!svcd) return;
  dvd = vcd = false;
  if (!edited.is_svcd()) edited.fix_svcd();
  show_target();
}

// The encoder's field order rides in the data's spare word.
void CVideoEncoderSetupDlg::set_field_order(int order) {
  if (!field_order_enabled) return;
  edited.reserved = order == 1 || order == 2 ? order : 0;
  update();
}

void CVideoEncoderSetupDlg::toggle_fixed() {
  if (!fixed_enabled) return;
  fixed = !fixed;
  update();
}

void CVideoEncoderSetupDlg::ok() {
  if (svcd) svcd = edited.is_svcd();
  want_dvd = dvd;
  want_vcd = vcd && !dvd;
  want_svcd = svcd && !dvd && !vcd;
  requested_kind = dvd ? 6 : vcd ? 5 : svcd ? 7 : output_kind_;
  changed = requested_kind != output_kind_ || edited != baseline_ || constant_quality != (baseline_.fixed_mquant > 0) ||
            slider != opening_slider_;
  if (settings_)
    for (int i = 0; i < 4; ++i) *filter_setting(settings_, i) = filters[i] ? 1 : 0;
  if (!changed) return;
  if (reset_enabled) edited.clip_select = -1;
  if (edited.gop_size != source_->gop_size || edited.sub_gop_size != source_->sub_gop_size) {
    gop_changed = true;
    edited.clip_select = -1;
  }
  if (constant_quality && slider != opening_slider_) {
    edited.fixed_mquant = slider_quantiser();
    if (edited.fixed_mq_max_bit_rate > 0) edited.bit_rate = edited.fixed_mq_max_bit_rate;
  } else if (constant_quality) {
    // A slider left where it opened asks for no fixed quantiser.
    edited.fixed_mquant = 0;
  } else {
    edited.fixed_mquant = 0;
    edited.fixed_mq_max_bit_rate = edited.bit_rate;
  }
  if (edited.bit_rate != source_->bit_rate ||
      (edited.fixed_mquant > 0 && edited.fixed_mq_max_bit_rate != source_->fixed_mq_max_bit_rate))
    edited.clip_select = -1;
  if (edited.fixed_mquant <= 0) edited.fixed_mq_max_bit_rate = 0;
  *source_ = edited;
}
