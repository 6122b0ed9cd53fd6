// Project record: the clips of one movie with its name, the header values
// of its clip-list file and the PCM scale (audio gain) points; and the
// sectioned text of save projects that carries it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "access/clip.h"
#include "engine/clips/clip_list.h"

struct PCMScalePoint {
  float time = 0.0f;  // seconds
  float gain = 1.0f;
};

// The points in time order; a point not later than the last one kept is
// dropped. Empty for an empty input.
std::vector<PCMScalePoint> copy_pcm_scale(const std::vector<PCMScalePoint>& points);
// Gain of an envelope at time t: linear between points, the end gains
// outside them, 1.0 with fewer than two points.
double pcm_scale_gain_at(const std::vector<PCMScalePoint>& points, double t);
// The envelope of the span [start, start + length] counted from its start:
// the gains at both ends and the points between. Empty when there is no
// envelope of two or more points.
std::vector<PCMScalePoint> pcm_scale_range(const std::vector<PCMScalePoint>& points, double start, double length);
int save_pcm_scale(FILE* f, const PCMScalePoint* points, int n);
// From the current position; the position is restored afterwards.
std::vector<PCMScalePoint> load_pcm_scale(FILE* f);

class EClip {
 public:
  EClip() = default;
  virtual ~EClip() = default;
  EClip(const EClip&) = default;
  EClip& operator=(const EClip&) = default;

  void clear() { *this = EClip(); }
  // Loads a clip-list file or, failing that, one media file; 0 on success.
  int init(const char* file_name, int merge);
  // Reads a clip list (and its PCM scale) from an open file; 0 on success.
  int ctor(FILE* f, int merge);
  // Writes the project as a clip-list file; 0 on success.
  int save(const char* file_name) const;
  int write_clip_list(FILE* f) const;
  // The clip block of a save project; 0 on success (5: empty project).
  int file_save(FILE* f) const;
  // Reads the clip block (and its PCM scale); 0 on success, 2 on failure.
  int file_load(FILE* f);

  int get_total_frames();
  double get_total_time() const;

  std::string name;
  std::string file_name;
  std::vector<Clip> clips;
  int header[3] = {0, 0, 0};  // third, first and second value of the list header
  std::vector<PCMScalePoint> pcm_scale;
};

MPEG_Clip* eclip_2_mpeg_clip(const EClip& project, int keep_head_transition);
EClip* mpeg_clip_2_eclip(const MPEG_Clip* list);

// Sectioned text files: whole lines, comments and blanks skipped.
bool rec_next_line(FILE* f, std::string* line);
bool rec_find_section(FILE* f, const char* section, int max_lines = 1000);
int read_clip_section(FILE* f, Clip* c);
int write_video_filter(FILE* f, const Clip& c);
// Replaces the clip's overlays with the "[VideoFilter]" section that
// follows, if any; the number read.
int read_video_filter(FILE* f, Clip* c);
