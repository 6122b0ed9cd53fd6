// The editor layout's commands on the audio window's track: marks, the
// three cuts, effect removal, undo and redo over whole-track snapshots,
// and the save (a project file at once, MPEG audio through the save job).
// Every edit runs on the user-interface thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/audio/audio_insert_operator.h"
#include "app/audio/audio_player.h"
#include "app/audio/audio_save_dialog.h"
#include "app/audio/audio_save_job.h"
#include "app/shell/edit_history.h"

// Command numbers of ExecuteAudioEditCommand.
enum AudioEditCommand : int {
  kAudioUndo = 1,
  kAudioRedo = 2,
  kAudioCut = 4,
  kAudioCutLeft = 8,
  kAudioCutRight = 16,
  kAudioInsert = 32,
  kAudioRemoveEffects = 64,
  kAudioSave = 128,
};

// Bits of the enabled-command mask.
enum AudioEditMask : int {
  kMaskUndo = 0x01,
  kMaskRedo = 0x02,
  kMaskCut = 0x04,
  kMaskCutLeft = 0x08,
  kMaskCutRight = 0x10,
};

inline constexpr const char* kAudioSaveRunningQuestion =
    "The saving of your MPEG has not been completed.\nClose the Editor now will stop the processing.\n\nDo you want "
    "to close the Editor ?\n";

class AudioEditCommands {
 public:
  static constexpr int kHistoryDepth = 16;
  static constexpr double kMinRemain = 2.0;  // seconds a track keeps

  explicit AudioEditCommands(AudioPlayer* player);
  ~AudioEditCommands();
  AudioEditCommands(const AudioEditCommands&) = delete;
  AudioEditCommands& operator=(const AudioEditCommands&) = delete;

  // Stops playback, runs the command, refreshes the mask where it should,
  // resumes playback; 1 when the command did something.
  int ExecuteAudioEditCommand(int command);
  // [start, start + length) seconds cut with an undo entry; 0 when refused.
  int CutRange(double start, double length);

  void MarkIn();
  void MarkOut();
  // The Mark button in the editor layout: segment play on or off.
  void SegmentSwitch();
  int UpdateMask();
  int mask() const { return mask_; }
  // The slider positions that carry ticks.
  std::vector<int> ticks() const;

  // Leaving the editor layout: both histories go.
  void ClearHistories();
  const EditHistory& undo_history() const { return undo_; }
  const EditHistory& redo_history() const { return redo_; }

  // The insertion point (seconds) effect removal works at.
  double insert_point = 0.0;
  // The insert command, when the window has one: 1 when it applied.
  std::function<int()> insert_operator;
  // What follows a successful ApplyAudioInsertOperator: the undo entry and
  // the inserted piece marked and played; 1 when the outcome holds an edit.
  int CommitInsert(AudioInsertOutcome outcome);
  // [start, start + length) seconds marked, segment play on, seek to it.
  void MarkPiece(double start, double length);
  // After undo and redo: the open Insert dialog follows the track.
  std::function<void()> on_track_restored;

  // ---- save
  AudioSaveSettings& save_settings() { return save_; }
  // Makes the settings afresh for a new Save dialog: the whole track, the
  // suggested folder, format 1, the track's length.
  void PrepareSaveSettings(const std::string& suggested_folder);
  // Command 128: reads the settings.
  int StartSave();
  AudioSaveJob& job() { return job_; }
  // The save timer's tick.
  void SaveTick() { job_.poll(); }
  bool save_running() const { return job_.running(); }
  // The window closes (or the program exits) during a save: the question,
  // then a stop with delete and a join. False when the user keeps it.
  bool ConfirmCloseDuringSave();
  // Stop, keep what was written, join (the program's close check).
  void StopSaveAndJoin() {
    closing_ = true;
    job_.stop_and_join(true);
  }
  // The job ended (after its join): the Save dialog's buttons come back.
  std::function<void()> on_save_ended;

 private:
  int Undo(EditHistory& from, EditHistory& to);
  int Cut();
  int CutLeft();
  int CutRight();
  int RemoveEffects();
  void DrawTicks(bool by_edit);
  void SegmentOn();
  void SegmentOff();
  void Relength();
  void SeekTo(int p);
  void Push(int kind, std::unique_ptr<EClip> snapshot);
  void OnSaveEnd(const AudioSaveJob::End& e);

  AudioPlayer* p_;
  EditHistory undo_{kHistoryDepth};
  EditHistory redo_{kHistoryDepth};
  int mask_ = 0;
  AudioSaveSettings save_;
  AudioSaveJob job_;
  std::string save_file_;
  int output_token_ = -1;
  bool closing_ = false;  // the window goes: no messages
};
