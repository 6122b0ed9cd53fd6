#include "app/editor/player_view.h"

#include <algorithm>
#include <cmath>

#include "app/editor/playback_thread.h"
#include "app/shell/editor_settings.h"
#include "app/shell/ieditor.h"
#include "app/shell/sound_output.h"
#include "platform/services.h"

namespace {

constexpr int kRetryMs = 300;


}  // namespace

CQuarvelPlayerView::CQuarvelPlayerView(EditorSettings* settings, PlayerViewHost* host, bool read_only)
    : settings_(settings),
      host_(host ? host : &no_host_),
      read_only_(read_only),
      ui_thread_(std::this_thread::get_id()),
      alive_(std::make_shared<int>(0)),
      undo_history_(undo_capacity(settings ? settings->undo_size : 16)),
      redo_history_(undo_capacity(settings ? settings->undo_size : 16)),
      sink_factory_(make_audio_sink) {
  build_commands();
}

CQuarvelPlayerView::~CQuarvelPlayerView() {
  detach_editor();
  alive_.reset();
}

int CQuarvelPlayerView::attach_editor(IEditor* editor, int editor_number, bool trim_window) {
  editor_number_ = editor_number;
  if (editor_ || !editor) return 0;
  editor_ = editor;
  trim_window_ = trim_window;
  toolbar_.set_show_time_code(settings_ ? settings_->display_time_code != 0 : true);
  toolbar_.position_callback = [this](int frame, int precision) { position_changed(frame, precision); };
  toolbar_.timecode_to_frame = [this](const std::string& text) { return editor_ ? editor_->timecode_2_frame(text) : -1; };
  toolbar_.frame_to_timecode = [this](int frame) {
    return editor_ ? editor_->get_frame_offset_timecode(frame) : std::string();
  };
  init_marks();
  update_toolbar_bitmap();
  pick_aspect();
  show_frame(true);
  return 1;
}

void CQuarvelPlayerView::detach_editor() {
  // A cooperative stop: the step in progress ends before the editor goes.
  thread_.reset();
  playing_forward = 0;
  playing_reverse = 0;
  close_audio();
  if (retry_timer_) host_->stop_retry_timer();
  retry_timer_ = false;
  command_ = 0;
  editor_ = nullptr;
}

void CQuarvelPlayerView::init_marks() {
  if (marks_initialised_ || !editor_) return;
  marks_initialised_ = true;
  total_frames = std::max(1, editor_->get_total_frames());
  current_frame = editor_->get_curr_frame_offset();
  mark_in = 0;
  mark_out = total_frames - 1;
  insert_point = total_frames / 2;
  frame_rate = 0.0;
  update_frame_period();
  toolbar_.set_range(total_frames, editor_->get_frame_rate() > 0 ? editor_->get_frame_rate() : 30000.0 / 1001.0);
  toolbar_.set_position(current_frame);
  open_audio();
}

void CQuarvelPlayerView::to_ui(std::function<void()> f) {
  if (on_ui_thread()) {
    f();
    return;
  }
  std::weak_ptr<int> alive = alive_;
  platform().post->post([alive, f = std::move(f)] {
    if (alive.lock()) f();
  });
}

// ---------------------------------------------------------------- commands

void CQuarvelPlayerView::post_command(int code, int arg) {
  command_ = code;
  command_arg_ = arg;
  const bool playing = playing_forward || playing_reverse;
  resume_after = playing ? 1 : 0;
  if (playing) stop_playback(false);
  if (stop_playback_thread()) {
    process_command();
  } else if (!retry_timer_) {
    retry_timer_ = true;
    host_->start_retry_timer(kRetryMs);
  }
}

void CQuarvelPlayerView::on_retry_timer() {
  if (process_command() && retry_timer_) {
    retry_timer_ = false;
    host_->stop_retry_timer();
  }
}

int CQuarvelPlayerView::process_command() {
  if (!stop_playback_thread()) return 0;
  if (retry_timer_) {
    retry_timer_ = false;
    host_->stop_retry_timer();
  }
  const int code = command_, arg = command_arg_;
  if (!editor_) {
    command_ = 0;
    return 1;
  }
  switch (code) {
    case 0:
      break;
    case kCodeStop:
      stop_playback(false);
      toolbar_.set_position(editor_->get_curr_frame_offset());
      break;
    case kCodeGoto:
      go_to_frame(arg);
      break;
    case kCodePlayForward:
    case kCodePlayReverse:
      playing_forward = play_forward_request.load();
      playing_reverse = play_reverse_request.load();
      mode = next_mode.load();
      resume_after = 0;
      update_toolbar_bitmap();
      if (code == kCodePlayForward ? playing_forward.load() : playing_reverse.load())
        start_playback();
      else
        stop_playback(false);
      break;
    case kCodeStepForward:
    case kCodeStepBackward:
      step_command(code == kCodeStepForward);
      break;
    case kCodeSpeedNormal:
    case kCodeSpeedMedium:
    case kCodeSpeedFast: {
      const int bits = code == kCodeSpeedNormal ? kModeNormal : code == kCodeSpeedMedium ? kModeMedium : kModeFast;
      mode = (mode & ~(kModeNormal | kModeMedium | kModeFast)) | bits;
      editor_->set_play_mode(code - kCodeSpeedNormal + 3);
      if (code == kCodeSpeedNormal) goto_exact(editor_->get_curr_frame_offset(), true);
      update_toolbar_bitmap();
      break;
    }
    case kCodeAudioOpen:
      open_audio();
      break;
    case kCodeAudioClose:
      close_audio();
      break;
    case kCodeAudioReopen:
      // The output is made for each run with the editor's format of then.
      if (audio_enabled_) open_audio();
      break;
    case kCodeCut:
      if (cut_frames(kEditCut, mark_in, arg)) {
        adjust_marks(kEditCut, mark_in, arg, true);
        play_segment = 0;
      }
      break;
    case kCodeMerge:
      merge_segment();
      break;
    case kCodeTrimLeft: {
      const int n = mark_in;
      if (cut_frames(kEditCut, 0, n)) adjust_marks(kEditCut, 0, n, true);
      break;
    }
    case kCodeTrimRight: {
      const int start = mark_out + 1, n = arg - mark_out;
      if (cut_frames(kEditCut, start, n)) adjust_marks(kEditCut, start, n, true);
      break;
    }
    case kCodePaste: {
      std::unique_ptr<EClip> clip = editor_->frame_copy(mark_in, mark_out - mark_in + 1);
      if (clip) paste_clip(*clip, insert_point);
      break;
    }
    case kCodeDropClip:
      if (dropped_clip_) {
        std::unique_ptr<EClip> clip = std::move(dropped_clip_);
        insert_dropped_clip(*clip);
      }
      break;
    case kCodeInsert:
      // Cancelled: playback that ran before goes on.
      if (!open_insert_dialog(std::string()) && was_playing_on_insert_) resume_after = 1;
      break;
    case kCodeRefreshInsert:
      // The dialog is modal: nothing can change the list under it.
      break;
    case kCodeRemoveTransition:
      remove_transition(arg);
      break;
    case kCodeCopy:
      host_->notify_copy(mark_in, mark_out - mark_in + 1);
      break;
    case kCodeUndo:
      undo();
      break;
    case kCodeRedo:
      redo();
      break;
    case kCodeSave:
      host_->save();
      break;
    case kCodeGopTrim:
      host_->gop_trim();
      break;
    case kCodeSnapshot:
      take_snapshot();
      break;
    case kCodeResize:
      host_->aspect_changed();
      break;
    case kCodeFileInformation:
      file_information();
      break;
    default:
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "process_command (): unknown command");
      break;
  }
  command_ = 0;
  if (resume_after) {
    resume_after = 0;
    start_playback();
  }
  return 1;
}

void CQuarvelPlayerView::set_mode_direction(std::atomic<int>* m, bool forward) {
  int v = *m;
  v &= ~(kModeForward | kModeReverse);
  v |= forward ? kModeForward : kModeReverse;
  *m = v;
}

int CQuarvelPlayerView::range_start() const { return play_segment ? mark_in.load() : 0; }
int CQuarvelPlayerView::range_end() const { return play_segment ? mark_out.load() : total_frames - 1; }

void CQuarvelPlayerView::step_command(bool forward) {
  const bool showed_play = playing_forward || playing_reverse || resume_after;
  resume_after = 0;
  playing_forward = 0;
  playing_reverse = 0;
  set_mode_direction(&mode, forward);
  if (showed_play) update_toolbar_bitmap();
  const int cur = editor_->get_curr_frame_offset();
  const int start = range_start(), end = range_end();
  if (forward) {
    if (cur < start || cur >= end || editor_->is_at_clip_end()) {
      goto_exact(start, true);
      return;
    }
  } else if (cur <= start || cur > end || editor_->is_at_clip_start()) {
    goto_exact(end, true);
    return;
  }
  step_frames(1, true);
  update_frame_period();
}

void CQuarvelPlayerView::goto_exact(int frame, bool /*force_redraw*/) {
  editor_->search(frame, 1);
  update_frame_period();
  show_frame(true);
}

void CQuarvelPlayerView::go_to_frame(int frame) {
  if (slider_seek) {
    slider_seek = 0;
    if (play_forward_request) {
      set_mode_direction(&mode, false);
      resume_after = 0;
      playing_forward = 0;
      update_toolbar_bitmap();
    } else if (play_reverse_request) {
      set_mode_direction(&mode, true);
      resume_after = 0;
      playing_reverse = 0;
      update_toolbar_bitmap();
    }
    stop_playback(false);
  }
  if (frame < 15 || total_frames - frame < 15) exact_seek = 1;
  editor_->search(frame, exact_seek);
  update_frame_period();
  show_frame(true);
  exact_seek = 1;
  if (play_segment && (current_frame < mark_in || current_frame > mark_out)) play_segment = 0;
}

void CQuarvelPlayerView::position_changed(int frame, int precision) {
  if (precision < 0) {
    host_->take_focus();
    return;
  }
  exact_seek = precision == 0 && total_frames < 101 ? 1 : precision;
  play_forward_request = playing_forward.load();
  play_reverse_request = playing_reverse.load();
  slider_seek = 1;
  post_command(kCodeGoto, frame);
}

int CQuarvelPlayerView::jump_distance() const {
  const EditorSettings dflt;
  const EditorSettings& s = settings_ ? *settings_ : dflt;
  const int total = total_frames;
  switch (s.jump_format) {
    case 1: {
      const double rate = editor_ ? frame_rate.load() : 30.0;
      return std::min(int(s.jump_seconds * rate), total / 10);
    }
    case 2:
      return int(s.jump_percent * total * 0.01);
    default:
      return std::min(int(s.jump_frames), total / 10);
  }
}

void CQuarvelPlayerView::play_forward_command() {
  if (!playing_forward) {
    play_forward_request = 1;
    play_reverse_request = 0;
    next_mode = mode.load();
    set_mode_direction(&next_mode, true);
  } else {
    play_forward_request = 0;
    play_reverse_request = playing_reverse.load();
    next_mode = mode.load();
    set_mode_direction(&next_mode, false);
  }
  post_command(kCodePlayForward);
}

void CQuarvelPlayerView::reverse_play_command() {
  if (!playing_reverse) {
    play_reverse_request = 1;
    play_forward_request = 0;
    next_mode = mode.load();
    set_mode_direction(&next_mode, false);
  } else {
    play_reverse_request = 0;
    play_forward_request = playing_forward.load();
    next_mode = mode.load();
    set_mode_direction(&next_mode, true);
  }
  post_command(kCodePlayReverse);
}

void CQuarvelPlayerView::play_segment_command() {
  play_segment = play_segment ? 0 : 1;
  if (play_segment && (current_frame < mark_in || current_frame > mark_out))
    post_command(kCodeGoto, (mode & kModeForward) ? mark_in.load() : mark_out.load());
}

void CQuarvelPlayerView::mark_in_command() {
  const int old_in = mark_in, old_out = mark_out, v = current_frame;
  mark_in = v;
  if (v > old_out) mark_out = std::min(old_out - old_in + v, total_frames - 1);
  toolbar_marks();
}

void CQuarvelPlayerView::mark_out_command() {
  const int old_in = mark_in, old_out = mark_out, v = current_frame;
  mark_out = v;
  if (v < old_in) mark_in = std::max(v - (old_out - old_in), 0);
  toolbar_marks();
}

void CQuarvelPlayerView::toolbar_marks() {
  toolbar_.set_mark_out(mark_out);
  toolbar_.set_mark_in(mark_in);
  toolbar_.set_insert_point(insert_point);
}

bool CQuarvelPlayerView::run_command(int id) {
  if (!target_.handles(id)) return false;
  CommandState st;
  target_.update(id, &st);
  if (st.enabled) target_.run(id);
  return true;
}

CommandState CQuarvelPlayerView::update_command(int id) const {
  CommandState st;
  if (!target_.update(id, &st)) st.enabled = false;
  return st;
}

void CQuarvelPlayerView::build_commands() {
  using namespace pcmd;
  auto editable = [this] { return CommandState{!read_only_, false}; };
  target_.add(kGotoMarkIn, [this] { post_command(kCodeGoto, mark_in); });
  target_.add(kGotoMarkOut, [this] { post_command(kCodeGoto, mark_out); });
  target_.add(kGotoInsert, [this] { post_command(kCodeGoto, insert_point); });
  target_.add(kMarkIn, [this] { mark_in_command(); });
  target_.add(kMarkOut, [this] { mark_out_command(); });
  target_.add(kMarkInsert, [this] {
    insert_point = current_frame.load();
    toolbar_.set_insert_point(insert_point);
  });
  target_.add(kPlayForward, [this] { play_forward_command(); });
  target_.add(kReversePlay, [this] { reverse_play_command(); });
  target_.add(kStepForward, [this] { post_command(kCodeStepForward); });
  target_.add(kStepBackward, [this] { post_command(kCodeStepBackward); });
  target_.add(kSpeedSwitch, [this] {
    speed_index = speed_index >= 2 ? 0 : speed_index + 1;
    post_command(kCodeSpeedNormal + speed_index);
  });
  target_.add(kPlaySegment, [this] { play_segment_command(); },
              [this] { return CommandState{true, play_segment != 0}; });
  target_.add(kToggleAudio, [this] { post_command(audio_enabled_ ? kCodeAudioClose : kCodeAudioOpen); },
              [this] { return CommandState{true, audio_enabled_}; });
  target_.add(kCut, [this] {
    if (mark_out - mark_in + 1 >= total_frames) return;
    post_command(kCodeCut, mark_out - mark_in + 1);
  }, editable);
  target_.add(kMerge, [this] {
    if (mark_in == mark_out || mark_out - mark_in + 1 >= total_frames) return;
    post_command(kCodeMerge);
  });
  target_.add(kTrimLeft, [this] {
    if (mark_in > 0 && mark_in != mark_out) post_command(kCodeTrimLeft);
  });
  target_.add(kTrimRight, [this] {
    if (mark_in != mark_out && mark_out != total_frames - 1) post_command(kCodeTrimRight, total_frames - 1);
  });
  target_.add(kPaste, [this] {
    if (mark_in != mark_out) post_command(kCodePaste);
  }, editable);
  target_.add(kInsert, [this] {
    if (insert_dialog_open_) return;
    was_playing_on_insert_ = playing_forward || playing_reverse;
    post_command(kCodeInsert);
  }, [this] { return CommandState{!insert_dialog_open_, false}; });
  target_.add(kCopy, [this] {
    if (mark_in != mark_out) post_command(kCodeCopy);
  }, editable);
  target_.add(kClipboardCopy, [this] {
    if (mark_in != mark_out) post_command(kCodeCopy);
  }, editable);
  target_.add(kUndo, [this] {
    if (undo_history_.count() > 0) post_command(kCodeUndo);
  }, [this] { return CommandState{undo_history_.count() > 0, false}; });
  target_.add(kRedo, [this] {
    if (redo_history_.count() > 0) post_command(kCodeRedo);
  }, [this] { return CommandState{redo_history_.count() > 0, false}; });
  target_.add(kSave, [this] { post_command(kCodeSave); }, editable);
  target_.add(kGopTrim, [this] { post_command(kCodeGopTrim); }, [this] {
    int s = 0, n = 0;
    return CommandState{editor_ && !editor_->get_trim_range(&s, &n).empty(), false};
  });
  target_.add(kSnapshot, [this] { post_command(kCodeSnapshot); }, editable);
  target_.add(kFileInformation, [this] { post_command(kCodeFileInformation); });
  const int aspects[4] = {kAspectDefault, kAspect16x9, kAspect4x3, kAspectFit};
  for (int m = 0; m < 4; ++m)
    target_.add(aspects[m], [this, m] { set_aspect_mode(m); },
                [this, m] { return CommandState{true, aspect_mode_ == m}; });
}

void CQuarvelPlayerView::key_down(int vk, bool ctrl, bool shift, bool alt) {
  using namespace pcmd;
  constexpr int kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28, kHome = 0x24, kEnd = 0x23, kPrior = 0x21,
                kNext = 0x22, kSpace = 0x20, kF7 = 0x76, kF8 = 0x77;
  if (ctrl && shift && alt && (vk == kF7 || vk == kF8)) {
    if (vk == kF7) {
      show_decoded_flag = show_decoded_flag ? 0 : 1;
      toolbar_.set_decoded_flag(show_decoded_flag != 0, 0);
    }
    return;
  }
  if (!editor_) return;
  const EditorSettings dflt;
  const EditorSettings& s = settings_ ? *settings_ : dflt;
  auto is = [&](KeyCommand c) { return vk != 0 && vk == s.key(c); };
  if (is(KeyCommand::PlayForward)) {
    last_direction_reverse = 0;
    run_command(kPlayForward);
  } else if (is(KeyCommand::PlayReverse)) {
    last_direction_reverse = 1;
    run_command(kReversePlay);
  } else if (vk == kRight || is(KeyCommand::StepForward)) {
    last_direction_reverse = 0;
    run_command(kStepForward);
  } else if (vk == kLeft || is(KeyCommand::StepBackward)) {
    last_direction_reverse = 1;
    run_command(kStepBackward);
  } else if (is(KeyCommand::PlaySpeed)) {
    run_command(kSpeedSwitch);
  } else if (vk == kHome || is(KeyCommand::Home)) {
    post_command(kCodeGoto, play_segment ? mark_in.load() : 0);
  } else if (vk == kEnd || is(KeyCommand::End)) {
    post_command(kCodeGoto, play_segment ? mark_out.load() : total_frames - 1);
  } else if (vk == kUp || vk == kPrior || is(KeyCommand::PageUp)) {
    const int cur = current_frame, to = std::max(cur - jump_distance(), 0);
    if (to != cur) post_command(kCodeGoto, to);
  } else if (vk == kDown || vk == kNext || is(KeyCommand::PageDown)) {
    const int cur = current_frame, to = std::min(cur + jump_distance(), total_frames - 1);
    if (to != cur) post_command(kCodeGoto, to);
  } else if (vk == kSpace) {
    run_command(last_direction_reverse ? kReversePlay : kPlayForward);
  } else if (is(KeyCommand::MarkIn)) {
    run_command(kMarkIn);
  } else if (is(KeyCommand::MarkOut)) {
    run_command(kMarkOut);
  } else if (is(KeyCommand::MarkInsert)) {
    run_command(kMarkInsert);
  } else if (is(KeyCommand::PlaySegment)) {
    run_command(kPlaySegment);
  } else if (is(KeyCommand::AudioToggle)) {
    run_command(kToggleAudio);
  } else if (is(KeyCommand::Undo)) {
    run_command(kUndo);
  } else if (is(KeyCommand::Redo)) {
    run_command(kRedo);
  } else if (is(KeyCommand::Cut)) {
    run_command(kCut);
  } else if (is(KeyCommand::TrimLeft)) {
    run_command(kTrimLeft);
  } else if (is(KeyCommand::TrimRight)) {
    run_command(kTrimRight);
  } else if (is(KeyCommand::Paste)) {
    run_command(kPaste);
  } else if (is(KeyCommand::Insert)) {
    run_command(kInsert);
  } else if (is(KeyCommand::Copy)) {
    run_command(kCopy);
  } else if (is(KeyCommand::Save)) {
    run_command(kSave);
  } else if (is(KeyCommand::Snapshot)) {
    run_command(kSnapshot);
  } else if (is(KeyCommand::GopTrim)) {
    run_command(kGopTrim);
  } else if (is(KeyCommand::GotoMarkIn) || vk == 219) {
    run_command(kGotoMarkIn);
  } else if (is(KeyCommand::GotoMarkOut) || vk == 221) {
    run_command(kGotoMarkOut);
  } else if (is(KeyCommand::GotoInsert) || vk == 220) {
    run_command(kGotoInsert);
  } else if (is(KeyCommand::FileInformation)) {
    run_command(kFileInformation);
  }
}

void CQuarvelPlayerView::wheel(int delta) {
  if (!editor_) return;
  if (delta >= 0) {
    last_direction_reverse = 1;
    post_command(kCodeStepBackward);
  } else {
    last_direction_reverse = 0;
    post_command(kCodeStepForward);
  }
}

void CQuarvelPlayerView::update_toolbar_bitmap() {
  const int id = toolbar_bitmap_id(playing_forward, playing_reverse, mode, resume_after, speed_index, trim_window_);
  if (id) to_ui([this, id] { toolbar_.set_bitmap(id); });
}

int toolbar_bitmap_id(bool fwd, bool rev, int mode, bool resume_after, int speed_index, bool trim_window) {
  if (fwd && rev) return 0;
  static const int kForward[3] = {141, 147, 144}, kReverse[3] = {142, 148, 145}, kIdle[3] = {140, 146, 143};
  const int s = std::clamp(speed_index, 0, 2);
  int id;
  if (fwd || ((mode & kModeForward) && resume_after))
    id = kForward[s];
  else if (rev || ((mode & kModeReverse) && resume_after))
    id = kReverse[s];
  else
    id = kIdle[s];
  return id + (trim_window ? 10 : 0);
}

// ---------------------------------------------------------------- display

void CQuarvelPlayerView::set_aspect_mode(int m) {
  if (m < 0 || m > 3 || m == aspect_mode_) return;
  aspect_mode_ = m;
  host_->aspect_changed();
}

int aspect_mode_for(int mpeg2, int code, int keep) {
  if ((!mpeg2 && (code == 8 || code == 12)) || (mpeg2 && code == 2)) return 2;
  if (mpeg2 && code == 3) return 1;
  return keep;
}

void CQuarvelPlayerView::pick_aspect() {
  if (!editor_) return;
  VideoInfo info;
  if (editor_->get_longest_video_info(&info) < 0) return;
  aspect_mode_ = aspect_mode_for(info.mpeg2, info.aspect_ratio_information, aspect_mode_);
}

FitRect aspect_fit(int mode, int w, int h, int pw, int ph) {
  FitRect r{0, 0, w, h};
  if (mode == 3 || h < 1) return r;
  int rw = pw, rh = ph;
  if (mode == 1) {
    rw = 16;
    rh = 9;
  } else if (mode == 2) {
    rw = 4;
    rh = 3;
  }
  if (rw < 1 || rh < 1) return r;
  if (int64_t(w) * 4096 / h > int64_t(rw) * 4096 / rh) {
    const int d = int((w - int64_t(h) * rw / rh) / 2);
    r.left += d;
    r.right -= d;
  } else {
    const int d = int((h - int64_t(w) * rh / rw) / 2);
    r.top += d;
    r.bottom -= d;
  }
  return r;
}
