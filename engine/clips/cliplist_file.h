// Clip-list text file: one or more working clip lists with their
// transitions and overlays (editor projects, the clipboard file, the body
// of save projects).
#pragma once

#include <cstdio>
#include <string>

#include "engine/clips/clip_list.h"

int write_cliplist_id(FILE* f);
// 0 when the identification line is found within the first 500 lines.
int check_cliplist_id(FILE* f);
int check_cliplist_file(const char* name);
int write_cliplist(FILE* f, MPEG_Clip* list, const char* name, int v1, int v2, int v3);
// Clips whose file is missing or unusable are dropped; *dropped counts them.
MPEG_Clip* read_cliplist(FILE* f, std::string* name, int* v1, int* v2, int* v3, int merge, int* dropped = nullptr);
// 0 record read, 1 a "CLIPLIST:" line met, 2 end of file or bad record.
int read_clip(FILE* f, MPEG_Clip* c, int merge);
int clip_save(MPEG_Clip* list, const char* file_name);
MPEG_Clip* clip_load(const char* file_name, int merge, int* dropped = nullptr);
// A working-list record of a whole media file (or the range given), or nil.
MPEG_Clip* mpeg_clip_of_file(const char* file_name, int start, int count);
// An audio clip (type 10) of a WAVE file in frames of 1152 samples, the
// last one completed with silence; its range is kept within the file's
// frames (all of them for a count of 0). 0 on success.
int clip_of_wave_file(const char* file_name, Clip* c);

// Whole lines, however long, up to a sanity cap; false at end of file.
bool read_text_line(FILE* f, std::string* line);
