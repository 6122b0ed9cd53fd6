// Insert of a clip file, a dropped clip or effects alone through the
// Insert dialog, with undo like every other edit.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "access/effects.h"
#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/ieditor.h"
#include "engine/clips/clip_streams.h"
#include "platform/services.h"

namespace {

void say(const char* text) { platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, text); }

// 1 an overlay of the picture, 2 a transition between two; 0 unknown.
int effect_kind(int id) {
  if (id <= 0 || !effect_op_get(id)) return 0;
  const OPEntry* e = effect_op_manager()->entry(id);
  return e ? e->kind : 0;
}

}  // namespace

int CQuarvelPlayerView::open_insert_dialog(const std::string& path) {
  if (!editor_) return 0;
  if (!insert_record_) {
    insert_record_ = std::make_unique<InsertParams>();
    last_insert_record_ = std::make_unique<InsertParams>();
  } else {
    *insert_record_ = InsertParams();
  }
  InsertParams& r = *insert_record_;
  // The insert goes after the frame shown (before the first one).
  double t = editor_->get_current_time();
  const double rate = editor_->get_frame_rate();
  if (rate > 0 && t > 0.5 / rate) t += 1.0 / rate;
  r.insertion = std::min(t, editor_->get_total_time());
  r.play_position = r.insertion;
  r.track_length = editor_->get_total_time();
  r.scale_position = remembered_scale_;
  r.offset_position = remembered_offset_;
  r.file_name = path;
  insert_applied_ = false;
  if (resume_after) {
    // Playback must not restart behind the dialog.
    const bool reverse = play_reverse_request && !play_forward_request;
    playing_forward = 0;
    playing_reverse = 0;
    set_mode_direction(&mode, !reverse);
    resume_after = 0;
    update_toolbar_bitmap();
  }
  std::unique_ptr<EClip> list = editor_->copy(0, 0);
  if (!list) return 0;
  const double effect_seconds = settings_ ? settings_->transition_length : 5.0;
  insert_dialog_open_ = true;
  const bool ok = host_->run_insert_dialog(&r, *list, &insert_folder_, insert_from_drop_, effect_seconds);
  insert_dialog_open_ = false;
  remembered_scale_ = r.scale_position;
  remembered_offset_ = r.offset_position;
  if (ok) apply_insert_operator();
  insert_from_drop_ = false;
  return ok ? 1 : 0;
}

int CQuarvelPlayerView::apply_insert_operator() {
  if (!editor_ || !insert_record_) return 0;
  if (insert_applied_) {
    insert_applied_ = false;
    undo();
  }
  InsertParams r = *insert_record_;
  if (!r.file_name.empty()) insert_folder_ = split_path(r.file_name);
  const double total = editor_->get_total_time();
  std::unique_ptr<EClip> snapshot = editor_->copy(0, 0);
  if (!snapshot) return 0;
  const int frames_before = editor_->get_total_frames();
  double t = std::clamp(r.insertion, 0.0, total);
  double inserted = 0;
  int kind = kEditEmpty;
  bool applied = false;

  if (r.file_name.empty()) {
    if (!r.start_operator && r.end_operator) {
      r.start_operator = r.end_operator;
      r.start_length = r.end_length;
    }
    if (!r.start_operator) {
      say("No proper insert operator selected");
      return 0;
    }
    if (r.start_length <= 0) {
      say("Zero insert length");
      return 0;
    }
    const int k = effect_kind(r.start_operator);
    if (!k) {
      say("Selected operator not found");
      return 0;
    }
    double length = std::min(r.start_length, total - t);
    if (k > 1) length = std::min(length, t);
    if (length <= 0) {
      say("No proper insertion point selected");
      return 0;
    }
    applied = editor_->insert_transitions(t, r.start_operator, length) != 0;
    inserted = length;
    kind = kEditEffects;
  } else {
    int start_kind = 0, end_kind = 0;
    if (r.start_operator && r.start_length > 0) {
      start_kind = effect_kind(r.start_operator);
      if (!start_kind) {
        say("Selected start operator not found");
        r.start_operator = 0;
      }
    } else {
      r.start_operator = 0;
    }
    if (r.end_operator && r.end_length > 0) {
      end_kind = effect_kind(r.end_operator);
      if (!end_kind) {
        say("Selected ending operator not found");
        r.end_operator = 0;
      }
    } else {
      r.end_operator = 0;
    }
    // Effects fitted to the room around the point and to the piece.
    if (r.start_operator) {
      if (start_kind > 1) r.start_length = std::min(r.start_length, t);
      r.start_length = std::min(r.start_length, r.length);
      if (r.start_length <= 0) r.start_operator = r.end_operator = 0;
    }
    if (r.end_operator) {
      if (end_kind > 1) r.end_length = std::min(r.end_length, total - t);
      r.end_length = std::min(r.end_length, r.length - (r.start_operator ? r.start_length : 0.0));
      if (r.end_length <= 0) r.end_operator = 0;
    }
    EClip clip;
    if (clip.init(r.file_name.c_str(), 0) != 0 || clip.clips.empty()) return 0;
    Clip& first = clip.clips[0];
    const double period = clip_get_video_frame_period(&first);
    const double fps = period > 0 ? 1.0 / period : 1.0;
    auto frames = [fps](double seconds) { return int(std::lround(seconds * fps)); };
    if (!insert_from_drop_) {
      // The chosen stretch of the file's first clip.
      const int from = std::clamp(frames(r.offset), 0, std::max(0, first.count - 1));
      const int to = std::clamp(frames(r.offset + r.length), from + 1, first.is_still_image() ? INT32_MAX : first.count);
      first.start += from;
      first.count = to - from;
      first.clip_overlays();
    }
    if (r.start_operator && start_kind == 1) {
      applied = editor_->add_overlay(r.file_name, first.clip_type, r.start_operator, editor_->time_2_frame(t),
                                     frames(r.start_length)) != 0;
    } else if (r.start_operator) {
      first.transition_id = r.start_operator;
      first.transition_length = frames(r.start_length);
      t = std::max(0.0, t - r.start_length);
    }
    if (r.end_operator && end_kind == 1) {
      const int n = frames(r.end_length);
      first.insert_overlay(r.end_operator, first.end_frame() - n + 1, n);
      r.end_operator = 0;
      r.end_length = 0;
    }
    if (!(r.start_operator && start_kind == 1))
      applied = editor_->paste(clip, t, r.end_operator, r.end_operator ? r.end_length : 0.0) != 0;
    inserted = r.length;
    kind = kEditPaste;
  }
  if (!applied) return 0;

  undo_history_.push(EditRecord(kind, std::move(snapshot), mark_in, mark_out, insert_point, current_frame));
  redo_history_.clear();
  total_frames = std::max(1, editor_->get_total_frames());
  const int at = std::clamp(editor_->time_2_frame(t), 0, total_frames - 1);
  int out = editor_->time_2_frame(t + inserted);
  if (kind == kEditPaste) out = at + std::max(1, total_frames - frames_before) - 1;
  mark_in = at;
  current_frame = at;
  mark_out = std::clamp(out, at, total_frames - 1);
  if (insert_point == mark_in || insert_point == mark_out) insert_point = (mark_in + mark_out) / 2;
  insert_point = std::clamp(insert_point.load(), 0, total_frames - 1);
  toolbar_.set_range(total_frames, 0.0);
  toolbar_marks();
  goto_exact(current_frame, true);
  insert_applied_ = true;
  *last_insert_record_ = *insert_record_;
  return 1;
}

void CQuarvelPlayerView::drop_clip(const EClip& clip) {
  dropped_clip_ = std::make_unique<EClip>(clip);
  post_command(kCodeDropClip);
}

int CQuarvelPlayerView::insert_dropped_clip(const EClip& clip) {
  std::string folder = settings_ ? settings_->program_folder : std::string();
  if (folder.empty()) folder = std::filesystem::temp_directory_path().string();
  const std::string path = folder + "/editor-" + std::to_string(editor_number_) + ".tmp";
  if (clip.save(path.c_str()) != 0) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: cannot write");
    return 0;
  }
  insert_from_drop_ = true;
  const int ok = open_insert_dialog(path);
  // The pasted list holds the clips themselves, not this file.
  ::unlink(path.c_str());
  return ok;
}
