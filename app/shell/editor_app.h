// The application: settings at start and exit, the table of open editor
// windows (16 at most) and the road by which a file becomes an editor
// window. Windows are made by a host (the main window, or a test's fake);
// everything here is plain C++ over the platform seams.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/shell/commands.h"
#include "app/shell/ieditor.h"
#include "app/shell/tools.h"

class CEditorApp;

// One open editor window. It is also the event record a window fills
// before calling CEditorApp::editor_callback.
struct EditorEntry {
  enum Kind : int { kClosing = 1, kCopy = 2, kImport = 3, kFileWritten = 11 };
  int kind = 0;
  int start_frame = 0;  // kCopy: frames [start_frame, start_frame + frame_count)
  int frame_count = 0;
  std::unique_ptr<IEditor> editor;  // owned by the entry
  CEditorApp* app = nullptr;
  std::string file_name;  // kFileWritten: the file
  // The window's title (the path as opened) and its slot in the table.
  std::string title;
  int slot = -1;
  // The editor gives a GOP-trim range: the window is a trim window.
  bool trim_window = false;
  int file_use_token = 0;
};

// Makes and places the windows of editor entries.
class EditorWindowHost {
 public:
  virtual ~EditorWindowHost() = default;
  // Makes the window of a new entry with its top-left corner at (x, y)
  // of the main window's client area, active and focused; false when it
  // cannot.
  virtual bool create_editor_window(EditorEntry* entry, int x, int y) = 0;
  // Where an entry's window stands (client coordinates); false when it
  // has none.
  virtual bool editor_window_position(const EditorEntry* entry, int* x, int* y) = 0;
  // Stops every editor window's playback; true when a save or a GOP trim
  // of one still runs.
  virtual bool stop_playback_and_find_jobs() { return false; }
  // The size of the area editor windows stand in; false when unknown.
  virtual bool client_size(int* width, int* height) {
    (void)width;
    (void)height;
    return false;
  }
};

// What the open road asks of a file before it chooses a window for it.
struct InputProbe {
  // The stream type (0 unknown, 1 MPEG-1 audio, ...).
  std::function<int(const std::string&)> stream_type;
  // Changes of time base, video or audio within the file (segments for
  // the MBS Scan); 0 when none or when the file cannot be described.
  std::function<int(const std::string&)> segment_changes;
  // Number of video streams; negative when the file cannot be described.
  std::function<int(const std::string&)> video_streams;
  // The engine's answers.
  static InputProbe engine();
};

class CEditorApp {
 public:
  static constexpr int kEditorCapacity = 16;
  static constexpr int kCascadeStartX = 120;
  static constexpr int kCascadeStartY = 0;

  explicit CEditorApp(EditorFactory factory);
  ~CEditorApp();
  CEditorApp(const CEditorApp&) = delete;
  CEditorApp& operator=(const CEditorApp&) = delete;

  // Start-up: the settings file (false, with *error, when there is no
  // configuration folder: the defaults stay), the screen depth, the
  // editor table.
  bool init_instance(std::string* error = nullptr);
  // Exit: every editor released, the settings written (false when they
  // could not be).
  bool exit_instance();

  void set_window_host(EditorWindowHost* host) { host_ = host; }

  void init_editor_table();
  // 1 (after the message) when the table is full.
  int check_editor_limit();
  // Opens one file as an editor window at (x, y) ((0, 0): the cascade
  // position); 1 when a window stands.
  int open_input_file(const std::string& path, int x, int y, int no_segment_check);
  // The same editor, or one rebuilt at a smaller size step when its
  // picture would not fit the main window (never below 321 x 241).
  std::unique_ptr<IEditor> fit_editor_to_screen(std::unique_ptr<IEditor> editor);
  // Editors of a clip list in memory (rebuilding at a smaller size).
  void set_clip_factory(EditorClipFactory factory) { clip_factory_ = std::move(factory); }
  // Gives an editor a window; 1 when it stands (else the editor is gone).
  int open_editor_window(std::unique_ptr<IEditor> editor, const std::string& title, int x, int y);
  // Events of an editor window (the entry's kind says which).
  void editor_callback(EditorEntry* entry);
  // Deletes the entry's editor and frees its slot.
  void release_editor(EditorEntry* entry);

  int editor_count() const { return editor_count_; }
  int editor_capacity() const { return editor_capacity_; }
  EditorEntry* entry(int slot) const;
  int cascade_x() const { return cascade_x_; }
  int cascade_y() const { return cascade_y_; }

  // The application's commands: the last target of every route.
  CommandTarget& commands() { return commands_; }
  ToolRegistry& tools() { return tools_; }
  // The Video Clipboard's copy (event kind 2), installed with the
  // clipboard window.
  void set_copy_handler(std::function<void(EditorEntry*)> handler) { copy_handler_ = std::move(handler); }

  // A clip of the Video Clipboard as a new editor window at the cascade
  // position; false when no editor could be made of it (or the table is
  // full).
  bool open_clipboard_clip(const EClip& clip);

  // A list handed over by the Video Clip List: a new editor window titled
  // "Clip List #N" at the list's current frame; false when none opened.
  bool on_clip_list_event(const EClip& clip);

  // Command 32780: the open dialog, then the file.
  void on_open_movie();

  void set_input_probe(InputProbe probe) { probe_ = std::move(probe); }
  // 1 when a dropped file may be opened; else 0 after the message.
  int check_input_file(const std::string& path);
  // Files dropped on the main window, in order: each one that passes
  // check_input_file is opened.
  void open_dropped_files(const std::vector<std::string>& paths);
  // A clip dropped at (x, y) of the main window's client area: the next
  // editor window goes there (kept inside the client area below the
  // main tool bar of height bar_height).
  void place_clip_drop(int x, int y, int bar_height, int client_width, int client_height);

  // Files handed over by other windows (main_frame_file_callback with
  // files): MPEG-1 audio goes to the audio window and ends the list,
  // unknown files are skipped, the rest wait (16 at most) for the open
  // timer. An empty list is the close check.
  void main_frame_file_callback(const std::vector<std::string>& files);
  // Starts the 500 ms open timer through the host; its tick calls
  // on_open_timer. false when none could be started or one runs.
  bool start_open_timer();
  // The tick: the queue is taken and the timer stopped before anything
  // opens, so a message box's own event loop cannot open it twice.
  void on_open_timer();
  int queued_count() const { return static_cast<int>(open_queue_.size()); }
  static constexpr int kOpenQueueCapacity = 16;
  // Starts a one-shot timer of ms milliseconds that calls tick; the host's.
  void set_timer_starter(std::function<void(int ms, std::function<void()> tick)> start) {
    timer_starter_ = std::move(start);
  }

  // MBS Scan dialogs: several may be open.
  ToolSet& mbs_scans() { return mbs_scans_; }
  // A new MBS Scan dialog, for the path when one is given.
  void open_mbs_scan(const std::string& path);
  // A segment file chosen in an MBS Scan dialog opens without a second
  // segment check.
  void on_mbs_scan_event(const std::string& path);
  // The audio player window, given the file (until it exists the file is
  // refused as not valid).
  void send_to_audio_player(const std::string& path);
  void set_audio_player(std::function<void(const std::string&)> open_track) {
    audio_player_ = std::move(open_track);
  }

  // The close check: false when the program must stay open (a save or GOP
  // trim of an editor runs, or the user keeps running tool jobs). When
  // tool jobs run, one question: Yes stops and joins each and closes the
  // tool windows. The clipboard is written in every case.
  bool confirm_close();
  void set_clipboard_writer(std::function<void()> write) { clipboard_writer_ = std::move(write); }

  // The main window's volume slider shows the current "Audio Volume".
  void set_volume_display(std::function<void(int)> show) { volume_display_ = std::move(show); }
  void UpdateVolumeSlider();

 private:
  void add_commands();
  void advance_cascade();
  EditorFactory factory_;
  EditorClipFactory clip_factory_;
  EditorWindowHost* host_ = nullptr;
  std::array<std::unique_ptr<EditorEntry>, kEditorCapacity> entries_;
  int editor_count_ = 0;
  int editor_capacity_ = kEditorCapacity;
  int cascade_x_ = kCascadeStartX;
  int cascade_y_ = kCascadeStartY;
  CommandTarget commands_;
  ToolRegistry tools_;
  std::function<void(EditorEntry*)> copy_handler_;
  InputProbe probe_ = InputProbe::engine();
  ToolSet mbs_scans_;
  std::function<void(const std::string&)> audio_player_;
  std::function<void()> clipboard_writer_;
  std::function<void(int)> volume_display_;
  std::vector<std::string> open_queue_;
  bool open_timer_running_ = false;
  std::function<void(int, std::function<void()>)> timer_starter_;
};

// The question of the close check while tool jobs run.
inline constexpr const char* kStopToolJobsQuestion =
    "A tool job has not been completed.\nStop it and close MPEG-Tamsel?\n";
// The refusal while an editor saves or trims.
inline constexpr const char* kSaveJobRunningMessage =
    "There is a Save job that has not been completed.\nPlease stop the Save process before closing the editor.\n";
