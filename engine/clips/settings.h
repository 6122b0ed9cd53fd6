// Save settings: how a save re-encodes video and audio, and the save job
// that ties them to a project and an output file. Each record reads and
// writes its section of a save project (".rec").
#pragma once

#include <cstdio>
#include <string>

#include "engine/clips/project.h"

class MPEG_Editor;
class JobControl;

// Multiplex rates of the five output families, in bytes per frame of the
// movie's video.
struct MuxRates {
  int video_es = 0;      // video elementary stream
  int mpeg1_system = 0;  // MPEG-1 system stream
  int vcd = 0;           // Video CD
  int program = 0;       // MPEG-2 program stream
  int transport = 0;     // transport stream
};

class VideoEncoderData : public EClip {
 public:
  VideoEncoderData() { set_default_values(0); }
  bool operator==(const VideoEncoderData& o) const;
  bool operator!=(const VideoEncoderData& o) const { return !(*this == o); }

  void set_default_values(int mpeg2);
  void set_size(int w, int h);
  void set_index_option(int v) {
    if (v >= 1 && v < 15) index_option = v;
  }
  // Defaults from a clip of the project: the one named, else the clip with
  // the longest video.
  void init_data(const EClip& project, int index);
  void select_default_clip();
  int get_selected_clip_type() const;
  // 1 (4:2:0) or 2 (4:2:2), taken only for MPEG-2 output and, with a clip
  // selected, only when that clip's video has that chroma format (its GOPs
  // are copied as they are). 1 taken, 0 refused.
  int set_chroma_format(int v);
  // For a selected transport-stream clip: the program's PID (of its PMT)
  // and the PIDs of its chosen video and audio streams (0 when it has
  // none). 1 when a transport clip is selected, else 0 and nothing set.
  int get_transport_pids(int* program_pid, int* video_pid, int* audio_pid) const;

  bool is_vcd() const;
  void fix_vcd();
  bool is_svcd() const;
  void fix_svcd();
  bool is_dvd() const;
  void fix_dvd();

  int write(FILE* f) const;
  // 0 on success, 2 on a missing or invalid section.
  int load(FILE* f);

  int clip_select = -1;
  int mpeg2_format = 0;
  int width = 352, height = 240;
  int bit_rate = 1120000;
  double frame_rate = 30000.0 / 1001.0;
  int filter[4] = {1, 0, 0, 0};
  int gop_size = 15, sub_gop_size = 3, gop_option = 0;
  int fixed_mquant = 0, fixed_mq_max_bit_rate = 0;
  int reserved = 0;
  int me[3] = {7, 7, 0};
  int chroma_format = 0;
  int index_option = 0;

 private:
  void recompute_clip_select();
};

class AudioEncoderData : public EClip {
 public:
  bool equals(const AudioEncoderData& o) const;
  void init_data(const EClip& project, int index);

  bool is_vcd() const;
  void fix_vcd();
  bool is_svcd() const;
  void fix_svcd();
  void fix_dvd();

  int write(FILE* f) const;
  int load(FILE* f);

  int clip_select = -1;
  int has_audio = 0;
  int layer = 0, sample_rate = 0, channels = 0, bit_rate = 0;
  int copy_flag = 0, second_flag = 0, third_flag = 0;

 private:
  void recompute_clip_select();
};

// A save job without an editor attached: the project it saves is kept as
// an EClip (the editor-linked operations belong to the editor facade).
class EditorRecordData {
 public:
  bool operator!=(const EditorRecordData& o) const;
  // Settings defaulted from a project: output type from the video clip.
  void set_project(const EClip& project);
  void update_range();
  // Type of the clip whose video the save takes (the first movie clip when
  // none is chosen); a transport clip's PIDs become the save's.
  int get_source_type();
  void set_second_file_name(const std::string& name) { second_file_name = name; }
  // Saves the job through the editor: its encoder options, audio encoder,
  // PIDs and SVCD flag go into the editor's engine, then the selected clip
  // or the range is saved under second_file_name (progress, or the control
  // when given, ends at 100). 1 when there is no editor, else 0.
  // Built with the editor facade (engine/editor_record.cpp).
  int record(MPEG_Editor* editor, JobControl* control = nullptr);
  // Bytes the output is expected to take: the estimated rate of the output
  // type's family times the frame count; 0.0 for other types.
  double estimate_output_size();
  // The Video CD and SVCD rules over both streams (audio only when the
  // save has sound).
  bool is_vcd() const { return video.is_vcd() && (!audio.has_audio || audio.is_vcd()); }
  void fix_vcd();
  bool is_svcd() const { return video.is_svcd() && (!audio.has_audio || audio.is_svcd()); }
  void fix_svcd();

  int save(const char* file_name, const char* title) const;
  int write(FILE* f, const char* title) const;
  // 0 on success, 1 when the file does not open, 2 on invalid content.
  int load(const char* file_name);

  int output_type = 0;
  int start = 0, count = 0, total = 0;
  int progress = 0;
  std::string file_name, second_file_name;
  int svcd = 0;
  // Kind 6 with DVD navigation packs: set only on a DVD request whose
  // streams meet the DVD rules.
  int dvd = 0;
  // Encoded audio frames carry a CRC (the "Audio CRC Flag" setting at the
  // save's start; not kept in the project file).
  int audio_crc = 0;
  VideoEncoderData video;
  AudioEncoderData audio;
  int program_pid = 16, video_pid = 17, audio_pid = 20;
  EClip project;
  // Estimated output rates (set with the editor's range).
  MuxRates rates;
};
