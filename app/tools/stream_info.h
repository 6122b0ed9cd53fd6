// The Stream Info window's rules: the clips of a copy of a project, the
// streams each clip's file holds, the description of the chosen ones, and
// the marked segment's four values shown as time codes or frame numbers.
#pragma once

#include <string>
#include <vector>

#include "access/clip.h"
#include "engine/clips/project.h"

inline constexpr const char* kStreamInfoCaption = "  MPEG Stream Info ";
inline constexpr const char* kStreamInfoHelp = "help.chm::/htm/chap02-3-5.htm";

// "%d,%03d,%03d" from a million up, "%d,%03d" from a thousand, else "%d".
std::string grouped_frames(int frames);

// One stream of a clip's file with the program it belongs to.
struct StreamRecord {
  ClipInfo info;
  int program = 0;
};
// The video and audio streams of a clip's file (at most 8 each), in file
// order.
void clip_stream_records(Clip* clip, std::vector<StreamRecord>* video, std::vector<StreamRecord>* audio);

class CStreamInfoDlg {
 public:
  enum Value : int { kStart = 0, kEnd = 1, kInsert = 2, kOffset = 3 };

  explicit CStreamInfoDlg(const EClip& project);

  // Set by the caller before init().
  int time_format = 1;  // 1 time codes, 0 frame numbers
  double frame_rate = 30000.0 / 1001.0;
  double values[4] = {0, 0, 0, 0};  // seconds: Start, End, Insert, Offset
  int current = -1;
  bool list_mode = false;

  void init();
  // The copy, with the stream choices made here; read after OK.
  EClip& project() { return project_; }
  int clip_count() const { return int(project_.clips.size()); }
  std::vector<std::string> clip_names() const;
  bool clip_selector_enabled() const { return clip_count() >= 2; }
  int pmt_pid(int clip) const;

  void choose_clip(int index);
  void choose_video(int line);
  void choose_audio(int line);

  void set_time_format(int on) { time_format = on ? 1 : 0; }
  // An edit's text in the chosen form.
  std::string value_text(int which) const;
  // Typed text read in the form shown; false (value unchanged) when it is
  // not one.
  bool set_value_text(int which, const std::string& text);
  std::string segment_caption();

  // What the window shows.
  std::string clip_group, clip_line;
  std::string video_group, video_format, video_text;
  std::string audio_group, audio_format, audio_text;
  std::vector<std::string> video_lines, audio_lines;
  int video_line = 0, audio_line = 0;
  bool video_enabled() const { return video_.size() >= 2; }
  bool audio_enabled() const { return audio_.size() >= 2; }

 private:
  Clip* clip();
  void show_clip();
  void show_clip_line();
  void show_video_info(int stream_id, int pid);
  void show_audio_info(int stream_id, int pid);

  EClip project_;
  std::vector<int> pmt_;
  std::vector<StreamRecord> video_, audio_;
};
