// Save jobs tied to an editor: the job's project and range follow the
// editor's movie, and loading a save project gives an editor on its clips.
#pragma once

#include <memory>

#include "engine/clips/settings.h"
#include "engine/mpeg_editor.h"
#include "record/frame_source.h"
#include "record/record_data.h"

// The job takes the editor's whole movie as its project (output type and
// encoder defaults from its clips) and its range.
void editor_record_set_editor(EditorRecordData* rec, MPEG_Editor* editor);
// Fits the job's range to the editor's movie.
void editor_record_update_range(EditorRecordData* rec, MPEG_Editor* editor);
// Reads a save project; a missing editor is created from its clips, an
// existing one gets them (replace). 0 on success, 1 when the file does not
// open, 2 when its content is invalid or gives no movie (the editor is then
// unchanged).
int editor_record_load(EditorRecordData* rec, const char* file_name, std::unique_ptr<MPEG_Editor>* editor,
                       int size_mode);

// The pictures of a saved clip list as the engine shows them (transitions
// mixed, overlays drawn), for the Recorder; null when the list does not
// open.
std::unique_ptr<FrameSource> editor_record_frame_source(const MPEG_Clip* list);

// Saves movie frames [start, start + count) of the editor (count 0: to the
// end) as output kind 2..6 or 8 through the save pipeline, the first
// clip's audio with it where the kind holds audio. 1 saved, 0 failed;
// *progress (and the control, when given) ends at 100 either way, the
// control with the save's outcome.
// es: stream descriptions of the output (the video's bit rate, the audio's
// format); the engine's save options (EngineSettings) apply as well.
int editor_record_save(MPEG_Editor* editor, const char* out, int kind, int start, int count, int* progress,
                       JobControl* control = nullptr, int n_es = 0, const ESData* es = nullptr);
// Ends a save that never ran: *progress and the control at 100, the
// control failed with why.
void editor_record_refused(int* progress, JobControl* control, const char* why);

// Fits a save's streams to its kind before it runs: video-only kinds (2, 3)
// and movies without sound save no audio (every clip's audio stream id -1,
// one output stream). 1 when the save has no output stream, else 0.
int check_record_data(int kind, MPEG_Clip* list, RecordData* data);
