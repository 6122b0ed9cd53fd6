// The audio window's player: the play list, the open track and its sound
// output, fed on the window's 100 ms timer (no thread). The widget shows
// this state and forwards its events; every rule lives here.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/audio/audio_track_port.h"
#include "app/audio/lyrics.h"
#include "app/audio/player_config.h"
#include "app/audio/play_list.h"
#include "app/audio/time_record.h"
#include "platform/audio_sink.h"
#include "platform/dsaudio.h"

class Clock;

class AudioPlayer {
 public:
  static constexpr int kInterval = 100;  // timer interval, ms
  static constexpr int kSlider = 1000;   // position units over a track

  struct Deps {
    AudioTrackOpener open_track = open_engine_track;
    AudioStreamLister list_streams = list_engine_streams;
    std::function<std::unique_ptr<AudioSink>()> make_sink;  // null: make_audio_sink
    Clock* clock = nullptr;                                 // null: platform()'s
    Random15 random;                                        // null: default_random15()
  };
  AudioPlayer();
  explicit AudioPlayer(Deps deps);
  ~AudioPlayer();
  AudioPlayer(const AudioPlayer&) = delete;
  AudioPlayer& operator=(const AudioPlayer&) = delete;

  // The widget's hooks: the timer runs while playing; changed() asks for a
  // redraw of everything the state shows.
  std::function<void(bool run)> on_timer;
  std::function<void()> on_changed;
  // The edit commands of the editor layout pause and resume through these.
  std::function<void(double seconds)> on_insert_time;

  // Play list.
  const std::vector<AudioTrackEntry>& entries() const { return list_; }
  // Index of the listed entry of path (stream 0), or the new entries'
  // first; *added 1 when entries were added. -1 without sound.
  int AddFileToPlayList(const std::string& path, int* added);
  // Adds the files (the Add tracks button after its dialog): the last
  // added entry opens, reporting a file without sound, and plays.
  void AddTracks(const std::vector<std::string>& paths);
  // A file sent by the application.
  void OpenTrack(const std::string& path);
  void RemoveEntry(int index);
  void ClearList();
  void TickAll();
  bool any_unticked() const;
  void SetPlayFlag(int index, int play);
  void SetLabel(int index, const std::string& label);
  // A double click: ticked and played from 0.
  void PlayEntry(int index);
  // Adds an entry as read from a play list (not opened); false when it is
  // already listed.
  bool AppendEntry(const AudioTrackEntry& e);

  // 1 when the track opened.
  int OpenPlayTrack(int index, bool play, bool report_only);
  int FeedSound();
  void PlayTick();
  void StartPlay();
  void StopPlay();
  void TogglePlay();
  void Seek(int p);
  void CycleLoop();
  void MarkButton();
  void SetVolume(int volume);
  void SetChannel(int left, int right);
  // The Left or Right box clicked: the other comes back when both go.
  void ToggleLeft();
  void ToggleRight();

  // State the widget shows.
  bool has_track() const { return track_ != nullptr; }
  bool playing() const { return playing_; }
  int current() const { return current_; }
  int slider() const { return slider_; }
  int volume() const { return volume_; }
  int channels() const { return channel_sel_; }
  LoopMode loop() const { return loop_; }
  void set_loop(LoopMode m) { loop_ = m; }
  LoopMode saved_player_loop() const { return player_loop_; }
  void set_saved_player_loop(LoopMode m) { player_loop_ = m; }
  LoopMode segment_saved_loop() const { return segment_loop_; }
  int mark_state() const { return mark_state_; }
  int mark_start() const { return mark_start_; }
  int mark_end() const { return mark_end_; }
  // Restores a segment read from the configuration.
  void RestoreSegment(int start, int end, int position);
  double length() const { return length_; }
  int rounded_length() const { return rounded_; }
  const TimeRecord& time() const { return time_; }
  const std::string& display_text() const { return display_; }
  AudioTrackPort* track() { return track_.get(); }
  DSAudio* output() { return out_.get(); }
  AudioSink* sink() { return sink_.get(); }
  // The play time heard now: the track's time less what is queued.
  double heard_time() const;
  // "Stereo"/"Mono", "%.1f kHz", "%d kbps" (empty without a track).
  std::vector<std::string> info_lines(bool with_bit_rate) const;
  // "MarkIn", "Segment", "Loop-One", "Loop-All", "Shuffle" or empty.
  std::string status_text() const;
  std::string index_text() const;

  // The gains the equalizer hands over at every output open (2 x 32, then
  // the preamp); set by the equalizer's owner.
  std::function<void(AudioTrackPort*)> on_output_open;

  // Lyrics of the current track: the line shown now ("" without lyrics).
  const std::string& lyric_line() const { return lyric_text_; }
  int lyric_count() const { return lyric_count_; }
  const LyricsList& lyrics() const { return lyrics_; }
  // Loads a lyrics file for the current track; the line count, 0 with a
  // message when the file holds no line or no track plays.
  int LoadLyricsText(const std::string& path);
  // Moves the line shown on to the heard time (every redraw).
  void UpdateLyric();

  // Folders the dialogs start in, kept between runs.
  struct Folders {
    std::string track, list, lyrics, insert, save;
    int insert_scale[2] = {0, 0};
  } folders;

  // The editor layout: entered only with a track; loop mode One there.
  bool editor_mode() const { return editor_mode_; }
  void set_editor_mode(bool on) { editor_mode_ = on; }
  bool EnterEditor();
  void LeaveEditor();

  // The equalizer selection (kept with the play list), handed to every
  // track as its output opens.
  EqualizerSelection equalizer;
  // Takes a selection; true when any of the 65 values changed.
  bool StoreEqualizerGains(const EqualizerSelection& sel);
  // Hands the selection to the open track (nothing without one).
  void ApplyEqualizer();
  // The equalizer dialog's events: 0 OK, 1 Apply, 2 Cancel. OK and Apply
  // store the selection and apply it when it changed.
  void HandleEqualizerEvent(const EqualizerSelection& sel, int event);

  // Files. The configuration lives in the per-user configuration folder.
  std::string config_path() const;
  // Writes "Sorvane.cfg" with the window rectangle (left, top, right,
  // bottom) and the date `when`; false when it could not be written.
  bool SaveConfig(const std::array<int, 4>& window, std::time_t when);
  // Reads "Sorvane.cfg" and its play list, opens the track read (without
  // playing) and restores loop mode, segment and position. The rectangle
  // read, when one was.
  PlayerConfig LoadConfig();
  // Entries written (0 when the file cannot be written: the old file
  // stays whole).
  int WriteTrackList(const std::string& path);
  // The entry count afterwards; 0 and the list unchanged when the file
  // cannot be read or holds no valid entry while the list had entries.
  int ReadTrackList(const std::string& path);
  // A play list chosen by the user: the track playing stays open when it
  // is listed there, else the first playable entry opens.
  int LoadPlayList(const std::string& path);

  // Closes the track and the output (the window goes).
  void Shutdown();

 private:
  // The editor layout's commands work on the marks, slider and track.
  friend class AudioEditCommands;
  void CloseTrack();
  void OpenSoundOutput();
  void OnFormatChanged(int code);
  void PreFill();
  void ClearOutput();
  void SetLength(double seconds);
  void SeekSeconds(int p);
  void EndSegment();
  void Remove(int index);
  void changed();
  int64_t now_ms() const;
  bool report_failure(const std::string& path, bool report_only);

  Deps deps_;
  std::vector<AudioTrackEntry> list_;
  int current_ = -1;
  std::string display_;
  std::unique_ptr<AudioTrackPort> track_;
  std::unique_ptr<AudioSink> sink_;
  std::unique_ptr<DSAudio> out_;
  int out_rate_ = 0, out_channels_ = 0;

  bool playing_ = false;
  int64_t start_tick_ = 0;
  double start_offset_ = 0.0;
  int last_pos_ = 0;
  int slider_ = 0;
  bool rewind_ = false, restart_ = false, first_feed_ = false;
  double length_ = 60.0, unit_ = 0.06, inverse_ = 1000.0 / 60.0;
  int rounded_ = 60;
  TimeRecord time_;

  int volume_ = 40;
  int channel_sel_ = 3;
  LoopMode loop_ = LoopMode::All, player_loop_ = LoopMode::All, segment_loop_ = LoopMode::All;
  bool editor_mode_ = false;
  LyricsList lyrics_;
  int lyric_count_ = 0, lyric_due_ = 0;
  std::string lyric_text_;
  void OpenLyrics(const std::string& path);
  void SeekLyric(int seconds);
  int mark_state_ = 0, mark_start_ = 0, mark_end_ = kSlider;
};
