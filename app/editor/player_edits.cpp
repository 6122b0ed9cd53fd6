// Edits of the player view with undo and redo, the snapshot of the shown
// frame and the stream-information reload.
#include <algorithm>
#include <cmath>

#include "app/editor/player_view.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/ieditor.h"
#include "platform/services.h"

int CQuarvelPlayerView::cut_frames(int kind, int start, int count) {
  if (!editor_ || start < 0 || count <= 0 || start >= total_frames || start + count - 1 >= total_frames) return 0;
  std::unique_ptr<EClip> snapshot = editor_->frame_copy(0, 0);
  if (!snapshot) return 0;
  if (!editor_->frame_cut(start, count)) return 0;
  undo_history_.push(EditRecord(kind, std::move(snapshot), mark_in, mark_out, insert_point, current_frame));
  redo_history_.clear();
  return 1;
}

void CQuarvelPlayerView::merge_segment() {
  const int in = mark_in, out = mark_out, total = total_frames;
  if (in == 0) {
    const int n = total - out - 1;
    if (cut_frames(kEditCut, out + 1, n)) adjust_marks(kEditCut, out + 1, n, true);
    return;
  }
  if (out == total - 1) {
    if (cut_frames(kEditCut, 0, in)) adjust_marks(kEditCut, 0, in, true);
    return;
  }
  std::unique_ptr<EClip> snapshot = editor_->frame_copy(0, 0);
  if (!snapshot) return;
  const int tail = editor_->frame_cut(out + 1, total - out - 1);
  const int head = editor_->frame_cut(0, in);
  if (!tail && !head) return;
  undo_history_.push(EditRecord(kEditPaste, std::move(snapshot), in, out, insert_point, current_frame));
  redo_history_.clear();
  total_frames = std::max(1, editor_->get_total_frames());
  mark_in = 0;
  mark_out = total_frames - 1;
  // Keep the current frame and insert point inside the new movie, on the
  // same source frame where it survived.
  auto inside = [&](int v) { return std::clamp(v - (head ? in : 0), 0, total_frames - 1); };
  insert_point = inside(insert_point);
  current_frame = inside(current_frame);
  toolbar_.set_range(total_frames, 0.0);
  toolbar_marks();
  goto_exact(current_frame, true);
}

int CQuarvelPlayerView::paste_clip(const EClip& clip, int at) {
  std::unique_ptr<EClip> snapshot = editor_->frame_copy(0, 0);
  if (!snapshot) return 0;
  int n = 0;
  for (const auto& c : clip.clips) n += c.count;
  if (!editor_->frame_paste(clip, at)) return 0;
  undo_history_.push(EditRecord(kEditPaste, std::move(snapshot), mark_in, mark_out, insert_point, current_frame));
  redo_history_.clear();
  adjust_marks(kEditPaste, at, n, true);
  mark_in = insert_point.load();
  mark_out = std::min(insert_point + n - 1, total_frames - 1);
  toolbar_marks();
  return 1;
}

void CQuarvelPlayerView::adjust_marks(int kind, int start, int count, bool redraw) {
  const int delta = kind == kEditCut ? -count : count;
  const int end = start + count - 1;
  auto move = [&](std::atomic<int>& v) {
    const int x = v;
    if (x > start) v = (kind == kEditPaste || x > end) ? x + delta : start;
  };
  move(mark_out);
  move(mark_in);
  move(insert_point);
  bool force = false;
  const int cur = current_frame;
  if (cur > start && (kind == kEditPaste || cur > end)) {
    current_frame = cur + delta;
  } else if (cur >= start) {
    current_frame = start;
    force = true;
  }
  total_frames = std::max(1, editor_->get_total_frames());
  mark_out = std::min(mark_out.load(), total_frames - 1);
  // Keep every position inside the movie (a cut may end at its last frame).
  insert_point = std::clamp(insert_point.load(), 0, total_frames - 1);
  current_frame = std::clamp(current_frame.load(), 0, total_frames - 1);
  if (mark_out < mark_in) {
    mark_in = 0;
    mark_out = total_frames - 1;
    force = true;
  } else if (!redraw) {
    return;
  }
  toolbar_.set_range(total_frames, 0.0);
  toolbar_marks();
  toolbar_.set_position(current_frame);
  goto_exact(current_frame, force);
}

void CQuarvelPlayerView::restore_edit(EditRecord& record) {
  editor_->replace(*record.snapshot);
  record.snapshot.reset();
  total_frames = std::max(1, editor_->get_total_frames());
  mark_in = std::clamp(record.mark_in, 0, total_frames - 1);
  mark_out = std::clamp(record.mark_out, mark_in.load(), total_frames - 1);
  insert_point = std::clamp(record.insert_point, 0, total_frames - 1);
  current_frame = std::clamp(record.current_frame, 0, total_frames - 1);
  toolbar_.set_range(total_frames, 0.0);
  toolbar_marks();
  goto_exact(current_frame, true);
}

// Takes the newest step of one history back, keeping the state it leaves
// as a step of the other; a state that cannot be copied keeps the step.
void CQuarvelPlayerView::step_history(EditHistory& from, EditHistory& to) {
  EditRecord r = from.pop();
  if (r.kind == kEditEmpty || !r.snapshot) return;
  std::unique_ptr<EClip> now = editor_->frame_copy(0, 0);
  if (!now) {
    from.push(std::move(r));
    return;
  }
  to.push(EditRecord(kEditState, std::move(now), mark_in, mark_out, insert_point, current_frame));
  restore_edit(r);
}

void CQuarvelPlayerView::undo() { step_history(undo_history_, redo_history_); }

void CQuarvelPlayerView::redo() { step_history(redo_history_, undo_history_); }

int CQuarvelPlayerView::remove_transition(int frame) {
  std::unique_ptr<EClip> snapshot = editor_->copy(0, 0);
  if (!snapshot) return 0;
  if (!editor_->frame_remove_transitions(frame)) return 0;
  undo_history_.push(EditRecord(kEditCut, std::move(snapshot), mark_in, mark_out, insert_point, current_frame));
  redo_history_.clear();
  const int total = std::max(1, editor_->get_total_frames());
  if (total != total_frames) {
    total_frames = total;
    if (mark_out >= total) {
      mark_in = total - 1;
      mark_out = total - 1;
    }
    if (current_frame >= total) current_frame = 0;
    insert_point = std::min(insert_point.load(), total - 1);
    toolbar_.set_range(total, 0.0);
    toolbar_marks();
    goto_exact(current_frame, true);
  }
  return 1;
}

namespace {

struct ImageType {
  ImageFormat format;
  const char* ext;
  int kind;  // save_image's
  const char* filter;
};

const ImageType kImageTypes[3] = {
    {ImageFormat::Bitmap, ".bmp", 12, "Image File (*.bmp;*.jpg;*.mpv)|*.bmp;*.jpg;*.mpv|All (*.*)|*.*||"},
    {ImageFormat::Jpeg, ".jpg", 11, "Image File (*.jpg;*.bmp;*.mpv)|*.jpg;*.bmp;*.mpv|All (*.*)|*.*||"},
    {ImageFormat::Mpeg, ".mpv", 2, "Image File (*.mpv;*.bmp;*.jpg)|*.mpv;*.bmp;*.jpg|All (*.*)|*.*||"},
};

int type_of_setting(const std::string& ext) {
  if (ext.find("jpg") != std::string::npos) return 1;
  if (ext.find("mpv") != std::string::npos) return 2;
  return 0;
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

void CQuarvelPlayerView::take_snapshot() {
  if (!editor_) return;
  EditorSettings fallback;
  EditorSettings& s = settings_ ? *settings_ : fallback;
  const int preferred = type_of_setting(s.image_extension);
  FileDialogRequest req;
  req.kind = FileDialogKind::SaveImage;
  req.title = "Save Image";
  req.folder = s.save_folder;
  req.filter = kImageTypes[preferred].filter;
  req.must_exist = false;
  req.overwrite_prompt = true;
  req.image_format = kImageTypes[preferred].format;
  const FileDialogResult res = platform().dialogs->run(req);
  if (!res.accepted || res.paths.empty()) return;
  std::string path = res.paths[0];
  int type = std::clamp(int(res.image_format), 0, 2);
  const std::string name = path_file_name(path);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) {
    path += kImageTypes[type].ext;
    if (!confirm_replace(path)) return;
  } else {
    // A typed known extension says the type.
    const std::string ext = lower(name.substr(dot));
    for (int t = 0; t < 3; ++t)
      if (ext == kImageTypes[t].ext) type = t;
  }
  s.image_extension = kImageTypes[type].ext;
  s.set_save_folder(path);
  // Never over a movie being read, nor where nothing can be written.
  bool refused = platform().file_use->in_use(path) || !platform().file_use->writable(path);
  for (const std::string& f : editor_->source_files()) refused = refused || f == path;
  if (refused || editor_->save_image(path, kImageTypes[type].kind, 85) != 1) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: cannot write");
    return;
  }
  s.set_save_folder(path);
}

void CQuarvelPlayerView::reload_after_change() {
  const int total = std::max(1, editor_->get_total_frames());
  const double rate = editor_->get_frame_rate();
  if (total == total_frames && std::fabs(rate - frame_rate) <= 0.01) return;
  total_frames = total;
  mark_out = std::min(mark_out.load(), total - 1);
  if (!(mark_in < mark_out)) {
    mark_in = 0;
    mark_out = total - 1;
  }
  if (insert_point >= mark_out) insert_point = total / 2;
  current_frame = 0;
  frame_rate = 0.0;
  update_frame_period();
  toolbar_.set_range(total, rate > 0 ? rate : 30000.0 / 1001.0);
  toolbar_marks();
  goto_exact(0, true);
}

void CQuarvelPlayerView::file_information() {
  std::unique_ptr<EClip> clip = editor_->copy(0, 0);
  if (!clip) return;
  const double old_rate = frame_rate > 0 ? frame_rate.load() : 30000.0 / 1001.0;
  FileInfoTimes times;
  times.time_format = toolbar_.show_time_code() ? 1 : 0;
  times.frame_rate = old_rate;
  times.start = mark_in / old_rate;
  times.end = mark_out / old_rate;
  times.insert = insert_point / old_rate;
  times.offset = current_frame / old_rate;
  const int old_frames = total_frames;
  std::unique_ptr<EClip> edited;
  if (!host_->file_information(*clip, &times, &edited) || !edited) return;
  if (!editor_->replace(*edited)) return;
  reload_after_change();
  pick_aspect();
  host_->aspect_changed();
  const double rate = frame_rate > 0 ? frame_rate.load() : old_rate;
  // Times typed as frames come back as frame / rate: a hair added keeps
  // the truncation on that frame.
  auto frame_of = [rate](double t) { return int(t * rate + 1e-6); };
  const int last = total_frames - 1;
  const int len = mark_out - mark_in;
  int out = std::clamp(frame_of(times.end), 0, last);
  if (out == mark_in) mark_in = std::max(out - len, 0);
  mark_out = out;
  int in = std::clamp(frame_of(times.start), 0, last);
  if (in == mark_out) mark_out = std::min(in + len, last);
  mark_in = std::min(in, mark_out.load());
  insert_point = std::clamp(frame_of(times.insert), 0, last);
  toolbar_.set_show_time_code(times.time_format != 0);
  if (settings_) settings_->display_time_code = times.time_format;
  toolbar_marks();
  // The list kept its frames: a position typed in the window is gone to.
  const int at = std::clamp(frame_of(times.offset), 0, last);
  if (total_frames == old_frames && at != current_frame) goto_exact(at, true);
}
