#include "app/audio/audio_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/shell/file_utils.h"
#include "platform/file_use.h"
#include "platform/services.h"

namespace {
constexpr int kSlider = AudioPlayer::kSlider;
}

AudioEditCommands::AudioEditCommands(AudioPlayer* player) : p_(player) {
  job_.on_end = [this](const AudioSaveJob::End& e) { OnSaveEnd(e); };
  job_.on_progress_failed = [] {
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, "Progress Dialog Create Failed");
  };
}

AudioEditCommands::~AudioEditCommands() {
  // Nothing may write after the window has gone: a save still running
  // keeps what it wrote.
  closing_ = true;
  job_.stop_and_join(true);
}

// ---- mask and marks

int AudioEditCommands::UpdateMask() {
  const int s = p_->mark_start_, e = p_->mark_end_;
  const double unit = p_->unit_;
  int m = 0;
  if (!undo_.empty()) m |= kMaskUndo;
  if (!redo_.empty()) m |= kMaskRedo;
  if (p_->track_) {
    if ((s - e + 999) * unit >= kMinRemain && (s > 0 || e < kSlider)) m |= kMaskCut;
    if ((kSlider - s) * unit >= kMinRemain && s >= 1 && s < kSlider) m |= kMaskCutLeft;
    if (e * unit >= kMinRemain && e >= 1 && e < kSlider) m |= kMaskCutRight;
  }
  mask_ = m;
  return m;
}

std::vector<int> AudioEditCommands::ticks() const {
  const int s = p_->mark_start_, e = p_->mark_end_;
  std::vector<int> t{s};
  if ((e - s) * p_->unit_ >= kMinRemain)
    for (int k = s + 4; k < e; k += 4) t.push_back(k);
  if (e != s) t.push_back(e);
  return t;
}

void AudioEditCommands::SegmentOn() {
  if (p_->mark_state_ != 2) {
    p_->segment_loop_ = p_->loop_;
    p_->loop_ = LoopMode::One;
  }
  p_->mark_state_ = 2;
  if (p_->slider_ < p_->mark_start_ || p_->slider_ > p_->mark_end_) SeekTo(p_->mark_start_);
}

void AudioEditCommands::SegmentOff() {
  if (p_->mark_state_ == 2) p_->loop_ = p_->segment_loop_;
  p_->mark_state_ = 0;
}

void AudioEditCommands::DrawTicks(bool by_edit) {
  const int s = p_->mark_start_, e = p_->mark_end_;
  if ((e - s) * p_->unit_ < kMinRemain) {
    SegmentOff();
    return;
  }
  const bool whole = s == 0 && e >= kSlider;
  if (p_->mark_state_ == 0 && !(whole && !by_edit)) SegmentOn();
}

void AudioEditCommands::SegmentSwitch() {
  const int s = p_->mark_start_, e = p_->mark_end_;
  if ((e - s) * p_->unit_ < kMinRemain || (s == 0 && e == kSlider) || p_->mark_state_ != 0)
    SegmentOff();
  else
    SegmentOn();
  UpdateMask();
  p_->changed();
}

void AudioEditCommands::MarkIn() {
  const int p = p_->slider_;
  int& s = p_->mark_start_;
  int& e = p_->mark_end_;
  if (p == s) return;
  if (p >= e) {
    if (e - s != 0) {
      e = std::min(p + (e - s), kSlider);
      s = p;
    } else {
      s = e;
      e = p;
    }
  } else {
    s = p;
  }
  if (s == e) SegmentSwitch();
  DrawTicks(false);
  UpdateMask();
  p_->changed();
}

void AudioEditCommands::MarkOut() {
  const int p = p_->slider_;
  int& s = p_->mark_start_;
  int& e = p_->mark_end_;
  if (p == e) return;
  if (p <= s) {
    if (e - s != 0) {
      s = std::max(p - (e - s), 0);
      e = p;
    } else {
      e = s;
      s = p;
    }
  } else {
    e = p;
  }
  if (s == e) SegmentSwitch();
  DrawTicks(false);
  UpdateMask();
  p_->changed();
}

// ---- edits

void AudioEditCommands::Relength() { p_->SetLength(p_->track_->get_length()); }

void AudioEditCommands::SeekTo(int p) {
  p_->SeekSeconds(std::clamp(p, 0, kSlider));
  // The sound queued before the edit is gone: playback refills.
  p_->first_feed_ = true;
}

void AudioEditCommands::Push(int kind, std::unique_ptr<EClip> snapshot) {
  undo_.push(EditRecord(kind, std::move(snapshot), p_->mark_start_, p_->mark_end_, p_->mark_state_, p_->slider_));
  redo_.clear();
}

int AudioEditCommands::CutRange(double start, double length) {
  AudioTrackPort* t = p_->track_.get();
  if (!t) return 0;
  const int r = p_->rounded_;
  if (start >= r) return 0;
  if (start + length > r) {
    length = r - start;
    if (length < 0) return 0;
  }
  if (r - length < kMinRemain) return 0;
  // The rounded length may lie past the track's end.
  length = std::min(length, t->get_length() - start);
  if (length <= 0) return 0;
  std::unique_ptr<EClip> snapshot = t->copy(0.0, 0.0);
  if (!snapshot || !t->cut(start, length)) return 0;
  Push(kEditCut, std::move(snapshot));
  Relength();
  return 1;
}

int AudioEditCommands::Cut() {
  const int p = p_->slider_, s = p_->mark_start_, e = p_->mark_end_;
  const double unit = p_->unit_;
  const int n = p < s ? p : p <= e ? s : p - (e - s + 1);
  const double start = s * unit;
  if (!CutRange(start, (e - s + 1) * unit)) return 0;
  Relength();
  p_->mark_start_ = p_->mark_end_ = std::clamp(int(start / p_->unit_), 0, kSlider);
  DrawTicks(true);
  SeekTo(int(n * unit / p_->unit_));
  return 1;
}

int AudioEditCommands::CutLeft() {
  const int p = p_->slider_, s = p_->mark_start_, e = p_->mark_end_;
  const double unit = p_->unit_;
  const double position = (p >= s ? p - s : 0) * unit, segment = (e - s + 1) * unit;
  if (!CutRange(0.0, (s - 1) * unit)) return 0;
  Relength();
  p_->mark_start_ = 0;
  p_->mark_end_ = std::clamp(int(segment / p_->unit_), 0, kSlider);
  DrawTicks(true);
  SeekTo(int(position / p_->unit_));
  return 1;
}

int AudioEditCommands::CutRight() {
  const int p = std::min(p_->slider_, p_->mark_end_), s = p_->mark_start_, e = p_->mark_end_;
  const double unit = p_->unit_;
  if (!CutRange(e * unit, (kSlider - e) * unit)) return 0;
  Relength();
  p_->mark_start_ = std::clamp(int(s * unit / p_->unit_), 0, kSlider);
  p_->mark_end_ = kSlider;
  DrawTicks(true);
  SeekTo(int(p * unit / p_->unit_));
  return 1;
}

int AudioEditCommands::RemoveEffects() {
  AudioTrackPort* t = p_->track_.get();
  if (!t) return 0;
  const double before = t->get_length();
  std::unique_ptr<EClip> snapshot = t->copy(0.0, 0.0);
  if (!snapshot || !t->remove_effects(insert_point, 0.0)) return 0;
  Push(kEditCut, std::move(snapshot));
  if (t->get_length() != before) Relength();
  return 1;
}

int AudioEditCommands::Undo(EditHistory& from, EditHistory& to) {
  AudioTrackPort* t = p_->track_.get();
  if (!t || from.empty()) return 0;
  EditRecord r = from.pop();
  if (!r.kind || !r.snapshot) return 0;
  std::unique_ptr<EClip> now = t->copy(0.0, 0.0);
  if (!now || !t->replace(*r.snapshot)) {
    // The track could not take it back: the entry stays where it was.
    from.push(std::move(r));
    return 0;
  }
  to.push(EditRecord(kEditState, std::move(now), p_->mark_start_, p_->mark_end_, p_->mark_state_, p_->slider_));
  Relength();
  p_->mark_start_ = r.mark_in;
  p_->mark_end_ = r.mark_out;
  if (r.insert_point == 2 && p_->mark_state_ != 2) {
    p_->segment_loop_ = p_->loop_;
    p_->loop_ = LoopMode::One;
  } else if (r.insert_point != 2 && p_->mark_state_ == 2) {
    p_->loop_ = p_->segment_loop_;
  }
  p_->mark_state_ = r.insert_point;
  SeekTo(r.current_frame);
  if (on_track_restored) on_track_restored();
  return 1;
}

int AudioEditCommands::CommitInsert(AudioInsertOutcome outcome) {
  if (!outcome.kind || !outcome.snapshot || !p_->track_) return 0;
  Push(outcome.kind, std::move(outcome.snapshot));
  Relength();
  MarkPiece(outcome.piece_start, outcome.piece_length);
  return 1;
}

void AudioEditCommands::MarkPiece(double start, double length) {
  if (!p_->track_) return;
  const double k = kSlider / p_->length_;
  p_->mark_start_ = std::clamp(int(start * k), 0, kSlider);
  p_->mark_end_ = std::clamp(int((start + length) * k), 0, kSlider);
  if (p_->mark_state_ != 2) {
    p_->segment_loop_ = p_->loop_;
    p_->loop_ = LoopMode::One;
  }
  p_->mark_state_ = 2;
  SeekTo(p_->mark_start_);
}

void AudioEditCommands::ClearHistories() {
  undo_.clear();
  redo_.clear();
  UpdateMask();
}

int AudioEditCommands::ExecuteAudioEditCommand(int command) {
  const bool was_playing = p_->playing_;
  if (was_playing) p_->StopPlay();
  int r = 0;
  bool refresh = false;
  switch (command) {
    case kAudioUndo:
      r = Undo(undo_, redo_);
      refresh = true;
      break;
    case kAudioRedo:
      r = Undo(redo_, undo_);
      refresh = true;
      break;
    case kAudioCut:
      r = Cut();
      refresh = r != 0;
      break;
    case kAudioCutLeft:
      r = CutLeft();
      refresh = r != 0;
      break;
    case kAudioCutRight:
      r = CutRight();
      refresh = r != 0;
      break;
    case kAudioInsert:
      r = insert_operator ? insert_operator() : 0;
      refresh = r != 0;
      break;
    case kAudioRemoveEffects:
      r = RemoveEffects();
      refresh = r != 0;
      break;
    case kAudioSave:
      r = StartSave();
      break;
    default: {
      char buf[80];
      std::snprintf(buf, sizeof buf, "Unknown audio editing command: %d", command);
      platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, buf);
      break;
    }
  }
  if (refresh) UpdateMask();
  if (was_playing) p_->StartPlay();
  p_->changed();
  return r;
}

// ---- save

void AudioEditCommands::PrepareSaveSettings(const std::string& suggested_folder) {
  save_ = AudioSaveSettings();
  if (p_->track_) {
    save_.clips = p_->track_->copy(0.0, 0.0);
    save_.total = p_->track_->get_length();
  }
  save_.suggested_folder = suggested_folder;
  save_.format = 1;
}

int AudioEditCommands::StartSave() {
  const AudioSaveSettings& s = save_;
  const std::string file = s.file_name;
  if (file.empty()) return 0;
  p_->folders.save = split_path(file);
  if (s.format == 0) {
    if (!s.clips || s.clips->save(file.c_str()) != 0) {
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + file + ">: cannot open for writing");
      return 0;
    }
    return 1;
  }
  if (job_.running() || !p_->track_) return 0;
  job_.control().reset();
  std::function<int()> work =
      p_->track_->make_save(file, to_record_settings(s), s.start, s.length, job_.control());
  if (!work) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                 "<" + file + ">: the audio save failed: " + job_.control().message());
    job_.control().reset();
    if (on_save_ended) on_save_ended();
    return 0;
  }
  save_file_ = file;
  // No other save or tool writes here while the job runs.
  output_token_ = platform().file_use->add_output(file);
  job_.start(std::move(work), file, std::trunc(s.bit_rate * 0.125 * s.length));
  return 1;
}

void AudioEditCommands::OnSaveEnd(const AudioSaveJob::End& e) {
  if (output_token_ >= 0) platform().file_use->release(output_token_);
  output_token_ = -1;
  if (!closing_) {
    if (e.outcome == JobOutcome::failed)
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                   e.message.empty() ? "<" + save_file_ + ">: the audio save failed" : e.message);
    else if (e.outcome == JobOutcome::stopped)
      platform().prompter->message(PromptIcon::Information, PromptButtons::Ok,
                                   "<" + save_file_ + ">: the audio save was stopped");
  }
  if (on_save_ended) on_save_ended();
}

bool AudioEditCommands::ConfirmCloseDuringSave() {
  // A job whose thread has already returned is over: nothing to ask.
  job_.poll();
  if (!job_.running()) return true;
  if (platform().prompter->message(PromptIcon::Exclamation, PromptButtons::YesNo, kAudioSaveRunningQuestion) !=
      PromptAnswer::Yes)
    return false;
  closing_ = true;
  job_.stop_and_join(false);
  return true;
}
