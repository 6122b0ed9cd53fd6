#include "app/tools/video_effect_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "access/effects.h"
#include "app/shell/file_utils.h"
#include "app/tools/clip_list_model.h"
#include "engine/clips/clip_streams.h"
#include "engine/clips/clip_verify.h"
#include "platform/services.h"

namespace {

// The effect's kind (1 one picture, 2 transition); asked with a name
// buffer so the query draws nothing.
int effect_kind(int id) {
  const EffectOp op = effect_op_get(id);
  if (!op) return 0;
  char name[512] = {};
  return int(op(0, 0, nullptr, nullptr, nullptr, name, 0, 0));
}

bool belongs(int tab, int id) {
  const int kind = effect_kind(id);
  const char* name = effect_op_get_name(id);
  switch (tab) {
    case kTransitionTab:
      return kind == 2;
    case kOverlayTab:
      return kind == 1 && std::strstr(name, "Title");
    case kFilterTab:
      return kind == 1 && std::strstr(name, "Fade");
  }
  return false;
}

int row_of(const std::vector<EffectRow>& rows, int id) {
  for (size_t r = 1; r < rows.size(); ++r)
    if (rows[r].id == id) return int(r);
  return 0;
}

// Typed text as a number; non-numbers read 0.
int number(const std::string& text) {
  const double v = std::strtod(text.c_str(), nullptr);
  if (!(v > -2e9)) return 0;
  return v > 2e9 ? 2000000000 : int(v);
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

std::vector<EffectRow> effect_rows(int tab) {
  std::vector<EffectRow> rows{{0, effect_op_get_name(0)}};
  for (int id = 1; id < effect_op_get_count(); ++id)
    if (belongs(tab, id)) rows.push_back({id, effect_op_get_name(id)});
  return rows;
}

int probe_image_kind(const std::string& file) {
  const std::optional<Clip> c = clip_ctor(file.c_str(), 0, 0, 0, 0);
  return c && (c->clip_type == 11 || c->clip_type == 12) ? c->clip_type : 0;
}

VideoEffectModel::VideoEffectModel(ImageProbe probe) : probe_(std::move(probe)) {}

void VideoEffectModel::set_clips(std::vector<Clip>* clips) {
  copy_.clear();
  caller_ = nullptr;
  if (clips && !clips->empty()) {
    copy_ = *clips;
    caller_ = clips;
  }
}

void VideoEffectModel::start() {
  if (tab < kTransitionTab || tab > kFilterTab) tab = kTransitionTab;
  fill_effect_list();
  if (current_clip < 0 || current_clip >= clip_count()) current_clip = 0;
  load_clip();
}

void VideoEffectModel::select_tab(int t) {
  if (t < kTransitionTab || t > kFilterTab) return;
  tab = t;
  fill_effect_list();
}

void VideoEffectModel::select_clip(int index) {
  if (index < 0 || index >= clip_count()) return;
  current_clip = index;
  load_clip();
}

void VideoEffectModel::fill_effect_list() {
  rows_ = effect_rows(tab);
  TabState& s = state();
  if (s.selected_row < 0 || s.selected_row >= int(rows_.size())) s.selected_row = 0;
  if (s.selected_row == 0 && s.applied_row != 0) s.selected_row = s.applied_row;
}

double VideoEffectModel::frame_period() const {
  const double p = copy_.empty() ? 0 : VideoClipListModel::frame_period(copy_[size_t(current_clip)]);
  return p > 0 ? p : 1001.0 / 30000;
}

void VideoEffectModel::load_clip() {
  for (TabState& s : tabs_) s = TabState{};
  image_kind = 0;
  image_file.clear();
  Clip* c = clip();
  if (!c) {
    total_ = 0;
    return;
  }
  total_ = c->count;
  if (total_ == 0) total_ = int(clip_get_video_time_of(c) / frame_period() + 0.5);

  // The transition begins where the clip begins: its offset is always 0.
  TabState& t = tabs_[kTransitionTab];
  if (c->transition_id) {
    t.applied_row = t.selected_row = row_of(effect_rows(kTransitionTab), c->transition_id);
    t.applied_length = t.length = c->transition_length;
  }

  const std::vector<EffectRow> titles = effect_rows(kOverlayTab), fades = effect_rows(kFilterTab);
  for (int id = 1; id < effect_op_get_count(); ++id) {
    const int title_row = row_of(titles, id), fade_row = row_of(fades, id);
    if (!title_row && !fade_row) continue;
    for (const OverlayClip& o : c->overlays) {
      if (o.effect_id != id) continue;
      TabState& s = tabs_[title_row ? kOverlayTab : kFilterTab];
      s.applied_row = s.selected_row = title_row ? title_row : fade_row;
      s.applied_offset = s.offset = o.position - c->start;
      s.applied_length = s.length = o.length;
      if (title_row && (o.kind == 11 || o.kind == 12) && o.get_image_file()) {
        image_kind = o.kind;
        image_file = o.file_name;
      }
    }
  }
  fill_effect_list();
}

std::string VideoEffectModel::offset_text() const {
  return std::to_string(offset_enabled() ? state().offset : 0);
}

std::string VideoEffectModel::length_text() const { return std::to_string(state().length); }

VideoEffectModel::Buttons VideoEffectModel::buttons() const {
  Buttons b;
  if (copy_.empty()) return b;
  const TabState& s = state();
  b.add = s.applied_row == 0 && s.selected_row != 0 && transition_allowed();
  b.update = s.selected_row != 0 && s.selected_row == s.applied_row &&
             (s.offset != s.applied_offset || s.length != s.applied_length);
  b.replace = s.applied_row != 0 && transition_allowed() && s.selected_row != s.applied_row;
  b.remove = s.applied_row != 0;
  return b;
}

int VideoEffectModel::selected_effect(int* offset, int* length) {
  TabState& s = state();
  const int id = s.selected_row >= 0 && s.selected_row < int(rows_.size()) ? rows_[size_t(s.selected_row)].id : 0;
  const Clip* c = clip();
  if (c && (s.offset < 0 || s.length < 0 || s.offset + s.length > c->count)) {
    s.offset = 0;
    s.length = c->count;
  }
  *offset = s.offset;
  *length = s.length;
  return id;
}

bool VideoEffectModel::apply_selected() {
  Clip* c = clip();
  int offset = 0, length = 0;
  const int id = selected_effect(&offset, &length);
  if (!c || id == 0 || length < 1 || !transition_allowed()) return false;
  bool stored = false;
  if (tab == kTransitionTab) {
    c->transition_id = id;
    c->transition_length = length;
    stored = true;
  } else if (tab == kOverlayTab && image_kind) {
    const std::optional<OverlayClip> o =
        OverlayClip::with_image(image_file.c_str(), image_kind, c->start + offset, length, id);
    stored = o && c->add_overlay_record(*o);
  } else {
    stored = c->insert_overlay(id, c->start + offset, length) != 0;
  }
  if (!stored) return false;
  TabState& s = state();
  s.applied_row = s.selected_row;
  s.applied_offset = offset;
  s.applied_length = length;
  return true;
}

void VideoEffectModel::add() {
  if (buttons().add) apply_selected();
}

void VideoEffectModel::remove_effect() {
  Clip* c = clip();
  if (!c) return;
  if (tab == kTransitionTab)
    c->cut_transition();
  else
    c->remove_overlay_at(c->start + state().applied_offset);
}

void VideoEffectModel::remove() {
  if (!buttons().remove) return;
  remove_effect();
  TabState& s = state();
  s.applied_row = s.applied_offset = s.applied_length = 0;
}

void VideoEffectModel::update() {
  if (!buttons().update) return;
  if (tab == kTransitionTab) {
    // Changed in place: only Remove takes the transition's frames away.
    apply_selected();
    return;
  }
  const TabState before = state();
  Clip* c = clip();
  const Clip kept = *c;
  remove_effect();
  state().applied_row = 0;
  if (!apply_selected()) {
    // Refused (an overlap): the clip keeps its former effect.
    *c = kept;
    state() = before;
  }
}

void VideoEffectModel::replace() {
  if (!buttons().replace) return;
  Clip* c = clip();
  if (tab == kTransitionTab && state().selected_row == 0) {
    // "None" in place of a transition: no transition, the frames kept.
    c->transition_id = c->transition_length = 0;
    TabState& s = state();
    s.applied_row = s.applied_offset = s.applied_length = 0;
    return;
  }
  if (tab == kTransitionTab) {
    apply_selected();
    return;
  }
  const TabState before = state();
  const Clip kept = *c;
  remove_effect();
  state().applied_row = 0;
  if (state().selected_row == 0) {
    state().applied_offset = state().applied_length = 0;
    return;
  }
  if (!apply_selected()) {
    *c = kept;
    state() = before;
  }
}

void VideoEffectModel::all() {
  if (copy_.empty()) return;
  state().offset = 0;
  state().length = total_;
}

void VideoEffectModel::pick_row(int row) {
  TabState& s = state();
  if (copy_.empty() || row < 0 || row >= int(rows_.size()) || row == s.selected_row) return;
  s.selected_row = row;
  if (s.length == 0) s.length = 2 * int(1 / frame_period() + 0.5);
  if (tab == kOverlayTab && row != 0) choose_image();
}

void VideoEffectModel::choose_image() {
  std::string path = image_file;
  if (!file_dialog(&path, 0, 0, "Image Files (*.bmp;*.jpg) |*.bmp|*.jpg|All (*.*)|*.*||", nullptr, image_folder,
                   "Open Image File"))
    return;
  take_image(path);
}

void VideoEffectModel::take_image(const std::string& path) {
  const int kind = probe_ ? probe_(path) : 0;
  if (kind != 11 && kind != 12) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: not a valid image file");
    return;
  }
  image_kind = kind;
  image_file = path;
  image_folder = folder_of(path);
}

void VideoEffectModel::offset_edited(const std::string& text) {
  if (copy_.empty()) return;
  TabState& s = state();
  int offset = std::max(0, number(text));
  // An offset at or past the end leaves at least its last frame.
  if (offset + s.length > total_ || offset >= total_) {
    int length = total_ - offset;
    if (length < 1) {
      offset = std::max(0, total_ - 1);
      length = 1;
    }
    s.length = length;
  }
  s.offset = offset;
}

void VideoEffectModel::length_edited(const std::string& text) {
  if (copy_.empty()) return;
  TabState& s = state();
  int length = std::max(0, number(text));
  if (s.offset + length > total_) {
    int offset = total_ - length;
    if (offset < 0) {
      length = total_;
      offset = 0;
    }
    s.offset = offset;
  }
  s.length = length;
}

std::string VideoEffectModel::info() {
  const TabState& s = state();
  if (copy_.empty() || s.applied_row == 0) return "\"None\":   offset = 0,   length = 0";
  int offset = 0, length = 0;
  selected_effect(&offset, &length);
  const char* name = rows_[size_t(s.applied_row)].name.c_str();
  char text[600];
  if (tab == kOverlayTab && image_kind)
    std::snprintf(text, sizeof text, "\"%s\":  offset = %d,  length = %d,  image = %s", name, s.applied_offset,
                  s.applied_length, image_kind == 12 ? "BMP" : "JPEG");
  else
    std::snprintf(text, sizeof text, "\"%s\":   offset = %d,   length = %d", name, s.applied_offset,
                  s.applied_length);
  return text;
}

std::string VideoEffectModel::range_title() const {
  char text[64];
  std::snprintf(text, sizeof text, "Effect Range (total: %d)", total_);
  return text;
}

void VideoEffectModel::ok() {
  if (!caller_) return;
  for (size_t i = 0; i < copy_.size() && i < caller_->size(); ++i)
    if (copy_[i] != (*caller_)[i]) (*caller_)[i] = copy_[i];
}
