// The editor window's rules in plain C++: one view per movie under edit.
// Every command reaches the view through post_command, which first ends
// playback; a command that cannot run yet (the playback thread is still
// in its step) is kept (one pending command, a newer one replaces it) and
// retried every 300 ms. Keys arrive as virtual-key codes, the mouse wheel
// as its delta. Playback runs play_step on its own thread, which never
// touches a widget: pictures go through the frame slot and the tool bar
// hears of positions through UiPost.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/editor/frame_slot.h"
#include "app/editor/player_toolbar.h"
#include "app/shell/commands.h"
#include "app/shell/edit_history.h"
#include "app/shell/insert_params.h"
#include "platform/audio_sink.h"
#include "platform/dsaudio.h"

class IEditor;
class EditorSettings;
class PlaybackThread;
struct PlatformServices;

// Command codes of process_command.
enum PlayerCode : int {
  kCodeStop = 1,
  kCodeGoto = 2,
  kCodePlayForward = 3,
  kCodePlayReverse = 4,
  kCodeStepForward = 5,
  kCodeStepBackward = 6,
  kCodeSpeedNormal = 7,
  kCodeSpeedMedium = 8,
  kCodeSpeedFast = 9,
  kCodeAudioOpen = 10,
  kCodeAudioClose = 11,
  kCodeAudioReopen = 12,
  kCodeCut = 13,
  kCodeMerge = 14,
  kCodeTrimLeft = 15,
  kCodeTrimRight = 16,
  kCodePaste = 17,
  kCodeDropClip = 18,
  kCodeInsert = 19,
  kCodeRefreshInsert = 20,
  kCodeRemoveTransition = 21,
  kCodeCopy = 22,
  kCodeUndo = 23,
  kCodeRedo = 24,
  kCodeSave = 25,
  kCodeGopTrim = 26,
  kCodeSnapshot = 27,
  kCodeResize = 28,
  kCodeFileInformation = 29,
};

// The view's menu and tool bar commands.
namespace pcmd {
inline constexpr int kGotoMarkIn = 32791;
inline constexpr int kGotoMarkOut = 32789;
inline constexpr int kGotoInsert = 32790;
inline constexpr int kMarkIn = 32798;
inline constexpr int kMarkOut = 32796;
inline constexpr int kMarkInsert = 32797;
inline constexpr int kPlayForward = 32817;
inline constexpr int kReversePlay = 32818;
inline constexpr int kStepForward = 32826;
inline constexpr int kStepBackward = 32825;
inline constexpr int kSpeedSwitch = 32824;
inline constexpr int kPlaySegment = 32795;
inline constexpr int kToggleAudio = 32785;
inline constexpr int kCut = 32787;
inline constexpr int kMerge = 32799;
inline constexpr int kTrimLeft = 32800;
inline constexpr int kTrimRight = 32801;
inline constexpr int kPaste = 32815;
inline constexpr int kInsert = 32794;
inline constexpr int kCopy = 32788;
inline constexpr int kUndo = 32828;
inline constexpr int kRedo = 32820;
inline constexpr int kSave = 32821;
inline constexpr int kGopTrim = 32845;
inline constexpr int kSnapshot = 32823;
inline constexpr int kFileInformation = 32792;
inline constexpr int kClipboardCopy = 32786;
inline constexpr int kAspectDefault = 32854;
inline constexpr int kAspect16x9 = 32855;
inline constexpr int kAspect4x3 = 32856;
inline constexpr int kAspectFit = 32857;
}  // namespace pcmd

// Mode bits.
enum PlayerMode : int {
  kModeForward = 2,
  kModeReverse = 4,
  kModeNormal = 8,
  kModeMedium = 16,
  kModeFast = 32,
};

// The marked segment and the position as times, with the display form,
// handed to the stream information and taken back when it is accepted.
struct FileInfoTimes {
  int time_format = 1;  // 1 time codes, 0 frame numbers
  double frame_rate = 0;
  double start = 0, end = 0, insert = 0, offset = 0;
};

// What the view asks of its window and of the windows not built here.
class PlayerViewHost {
 public:
  virtual ~PlayerViewHost() = default;
  // The 300 ms retry timer: the window calls on_retry_timer while it runs.
  virtual void start_retry_timer(int /*ms*/) {}
  virtual void stop_retry_timer() {}
  // The frame slot holds a new picture (on the user-interface thread).
  virtual void frame_ready() {}
  virtual void take_focus() {}
  // Copy: frames [start, start + count) to the Video Clipboard.
  virtual void notify_copy(int /*start*/, int /*count*/) {}
  // The Save dialog and GOP Trim (false: nothing there to run).
  virtual bool save() { return false; }
  virtual bool gop_trim() { return false; }
  // File Information: the stream information of a copy of the clip list;
  // true with an edited list in *edited (and the times as edited) when
  // accepted.
  virtual bool file_information(const EClip& /*clip*/, FileInfoTimes* /*times*/, std::unique_ptr<EClip>* /*edited*/) {
    return false;
  }
  // The display aspect changed (repaint).
  virtual void aspect_changed() {}
  // The modal Insert dialog on the record with a copy of the clip list;
  // true with OK. folder: offered by its file dialog, and kept. A dropped
  // clip fixes the input. effect_seconds: the default effect length.
  virtual bool run_insert_dialog(InsertParams* /*record*/, const EClip& /*clip*/, std::string* /*folder*/,
                                 bool /*from_drop*/, double /*effect_seconds*/) {
    return false;
  }
};

class CQuarvelPlayerView {
 public:
  // The settings record is read for keys, jumps, looping, undo depth and
  // the snapshot's defaults.
  CQuarvelPlayerView(EditorSettings* settings, PlayerViewHost* host = nullptr, bool read_only = false);
  ~CQuarvelPlayerView();
  CQuarvelPlayerView(const CQuarvelPlayerView&) = delete;
  CQuarvelPlayerView& operator=(const CQuarvelPlayerView&) = delete;

  // 0 when an editor is already attached.
  int attach_editor(IEditor* editor, int editor_number, bool trim_window = false);
  // The editor goes: playback ends (joined) and nothing calls it again.
  void detach_editor();
  IEditor* editor() const { return editor_; }
  PlayerToolBarModel& toolbar() { return toolbar_; }
  const FrameSlot& frame_slot() const { return slot_; }

  // Sound sinks for playback (default: make_audio_sink()).
  void set_audio_sink_factory(std::function<std::unique_ptr<AudioSink>()> f) { sink_factory_ = std::move(f); }

  // ---- commands
  void post_command(int code, int arg = 0);
  int process_command();
  void on_retry_timer();
  bool command_pending() const { return command_ != 0; }
  // A menu or tool bar command by id (its guard first); false when the id
  // is not the view's.
  bool run_command(int id);
  CommandState update_command(int id) const;
  // The view's commands for the window's route.
  const CommandTarget& command_target() const { return target_; }
  // WM_KEYDOWN: a virtual-key code with the modifiers held.
  void key_down(int vk, bool ctrl = false, bool shift = false, bool alt = false);
  void wheel(int delta);
  // The slider and typed-position callback of the tool bar.
  void position_changed(int frame, int precision);
  int jump_distance() const;

  // ---- playback (play_step and the run's begin and end are public for
  // tests, which drive them on a manual clock without a thread)
  // Stops playback; 0 when the thread is still in its step (with release
  // the stop is then retried by the 300 ms timer). Without release the tool
  // bar shows the editor's frame.
  int stop_playback(bool release);
  void begin_run();
  // One step of the run; answers the milliseconds until the next step is
  // due (negative: one frame period).
  int play_step();
  void end_run();
  bool playback_thread_alive() const;
  // Ended on its own or never started.
  bool playback_thread_ended() const;
  int update_frame_period();
  int step_frames(int count, bool redraw);
  void show_frame(bool update_position);
  int open_audio();
  void close_audio();
  int feed_audio();
  DSAudio* audio() const { return audio_.get(); }
  AudioSink* audio_sink() const { return sink_.get(); }
  bool audio_enabled() const { return audio_enabled_; }

  // ---- edits
  int cut_frames(int kind, int start, int count);
  void merge_segment();
  int paste_clip(const EClip& clip, int at);
  void adjust_marks(int kind, int start, int count, bool redraw);
  void undo();
  void redo();
  int remove_transition(int frame);
  void take_snapshot();
  // Insert: the dialog on the insert record (the path of a clip file, or
  // empty), then the insert with undo; 1 when the dialog closed with OK.
  int open_insert_dialog(const std::string& path);
  // Performs the insert record; 1 when the clip list changed.
  int apply_insert_operator();
  // A clip dropped on the window: inserted through the dialog.
  void drop_clip(const EClip& clip);
  int insert_dropped_clip(const EClip& clip);
  bool insert_dialog_open() const { return insert_dialog_open_; }
  const InsertParams* insert_record() const { return insert_record_.get(); }

  // ---- display
  int aspect_mode() const { return aspect_mode_; }
  void set_aspect_mode(int mode);
  void pick_aspect();

  // ---- state (atomic words: the playback thread reads and writes them)
  std::atomic<int> total_frames{1000}, current_frame{0}, mark_in{0}, mark_out{999}, insert_point{500};
  std::atomic<int> mode{11}, next_mode{11}, speed_index{0};
  std::atomic<int> play_forward_request{0}, play_reverse_request{0};
  std::atomic<int> playing_forward{0}, playing_reverse{0};
  std::atomic<int> resume_after{0}, play_segment{0}, last_direction_reverse{0};
  std::atomic<int> first_step{1}, slider_seek{0}, exact_seek{1};
  std::atomic<int> show_decoded_flag{0};
  std::atomic<double> frame_rate{30000.0 / 1001.0};
  std::atomic<int> rounded_rate{30}, frame_period_ms{33};
  std::atomic<int> stall_count{0}, last_frame{0};
  std::atomic<int> frames_played{0}, frames_shown{0}, blocks_written{0};
  std::atomic<int> audio_started{0};
  int64_t start_time = 0;
  double start_position = 0;
  // Seconds the run's clock starts behind start_time (silence first with
  // sound) after a wrap to the range start.
  double lead_in = 0;
  int sample_rate = 44100, channels = 2, bits_per_sample = 16, bytes_per_second = 176400, block_bytes = 4608;
  double seconds_per_block = 1152.0 / 44100;

  EditHistory& undo_history() { return undo_history_; }
  EditHistory& redo_history() { return redo_history_; }
  int command() const { return command_; }
  int command_arg() const { return command_arg_; }
  bool read_only() const { return read_only_; }
  bool trim_window() const { return trim_window_; }

 private:
  void init_marks();
  void start_playback();
  int stop_playback_thread();
  void restart_clock(double lead = 0.0);
  // Milliseconds until the next frame of real-time play is due (elapsed:
  // the run's clock in seconds, read at the millisecond read_at).
  int next_frame_wait(double elapsed, int64_t read_at);
  // Milliseconds until the next frame of reverse or fast play is due.
  int paced_wait();
  void fill_audio();
  void go_to_frame(int frame);
  void goto_exact(int frame, bool force_redraw);
  void step_command(bool forward);
  void update_toolbar_bitmap();
  void toolbar_marks();
  void set_mode_direction(std::atomic<int>* m, bool forward);
  void end_of_range_stop();
  void play_forward_command();
  void reverse_play_command();
  void play_segment_command();
  void mark_in_command();
  void mark_out_command();
  void file_information();
  void reload_after_change();
  void restore_edit(EditRecord& record);
  void step_history(EditHistory& from, EditHistory& to);
  bool on_ui_thread() const { return std::this_thread::get_id() == ui_thread_; }
  // Runs f on the user-interface thread: at once there, else posted (and
  // dropped when the view has gone).
  void to_ui(std::function<void()> f);
  void build_commands();
  int range_start() const;
  int range_end() const;

  EditorSettings* settings_;
  PlayerViewHost* host_;
  PlayerViewHost no_host_;
  bool read_only_;
  bool trim_window_ = false;
  IEditor* editor_ = nullptr;
  int editor_number_ = 0;
  bool marks_initialised_ = false;
  std::thread::id ui_thread_;
  std::shared_ptr<int> alive_;

  int command_ = 0, command_arg_ = 0;
  bool retry_timer_ = false;

  EditHistory undo_history_, redo_history_;
  PlayerToolBarModel toolbar_;
  FrameSlot slot_;
  CommandTarget target_;
  int aspect_mode_ = 3;

  std::unique_ptr<PlaybackThread> thread_;
  bool audio_enabled_ = false;
  std::function<std::unique_ptr<AudioSink>()> sink_factory_;
  std::unique_ptr<AudioSink> sink_;
  std::unique_ptr<DSAudio> audio_;

  std::unique_ptr<InsertParams> insert_record_, last_insert_record_;
  bool insert_dialog_open_ = false;
  bool insert_applied_ = false;
  bool insert_from_drop_ = false;
  bool was_playing_on_insert_ = false;
  std::string insert_folder_;
  int remembered_scale_ = 0, remembered_offset_ = 0;
  std::unique_ptr<EClip> dropped_clip_;
};

// Aspect fit of a picture area in a window:
// mode 3 keeps the window; else 16:9 (1), 4:3 (2) or width : height of the
// picture (0). The rectangle as left, top, right, bottom.
struct FitRect {
  int left, top, right, bottom;
  bool operator==(const FitRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};
FitRect aspect_fit(int mode, int window_w, int window_h, int picture_w, int picture_h);
// The aspect mode a video stream selects (4:3 or 16:9), or keep.
int aspect_mode_for(int mpeg2, int aspect_code, int keep);
// The tool bar bitmap of a play state.
int toolbar_bitmap_id(bool playing_forward, bool playing_reverse, int mode, bool resume_after, int speed_index,
                      bool trim_window);
