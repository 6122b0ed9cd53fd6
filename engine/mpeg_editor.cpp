#include "engine/mpeg_editor.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "access/dtv.h"
#include "access/effects.h"
#include "engine/clips/clip_list.h"
#include "engine/clips/cliplist_file.h"
#include "engine/editor_record.h"
#include "foundation/trace.h"

std::unique_ptr<MPEG_Editor> MPEG_Editor::create(const char* file_name, int size_mode, int sample_rate, int channels,
                                                 EngineError* error) {
  EClip project;
  if (!file_name || project.init(file_name, 0) != 0) {
    if (error) {
      error->code = EngineError::no_movie;
      error->message = std::string("<") + (file_name ? file_name : "") +
                       ">: not a movie, editor project or clip list that opens";
    }
    return nullptr;
  }
  return create(project, size_mode, sample_rate, channels, error);
}

std::unique_ptr<MPEG_Editor> MPEG_Editor::create(const EClip& project, int size_mode, int sample_rate, int channels,
                                                 EngineError* error) {
  MPEG_Clip* list = eclip_2_mpeg_clip(project, 0);
  if (!list) {
    if (error) {
      error->code = EngineError::no_movie;
      error->message = "the project holds no clip that opens";
    }
    return nullptr;
  }
  std::unique_ptr<MPEG_Editor> ed(new MPEG_Editor);
  ed->engine_ = DTamsel::create(list, size_mode, error);
  // The sound plays at the caller's format, else at the first clip's.
  if (sample_rate == 0) {
    sample_rate = 44100;
    channels = 2;
    if (list->audio_stream_count > 0 && list->sample_rate > 0) {
      sample_rate = list->sample_rate;
      channels = list->channels > 0 ? list->channels : 2;
    }
  }
  mpeg_clip_list_free(list);
  if (!ed->engine_) return nullptr;
  ed->engine_->set_audio_format(sample_rate, channels);
  if (project.pcm_scale.size() > 1) ed->engine_->set_pcm_scale(project.pcm_scale);
  return ed;
}

static std::unique_ptr<EClip> to_project(MPEG_Clip* list) {
  if (!list) return nullptr;
  std::unique_ptr<EClip> e(mpeg_clip_2_eclip(list));
  mpeg_clip_list_free(list);
  return e;
}

// A copied range carries the player's gain envelope over its span, so that
// pasting it elsewhere keeps the levels it had.
std::unique_ptr<EClip> MPEG_Editor::with_gain(std::unique_ptr<EClip> project, double start, double length) {
  if (project) project->pcm_scale = pcm_scale_range(engine_->get_pcm_scale(), start, length);
  return project;
}

std::unique_ptr<EClip> MPEG_Editor::copy(double start, double length) {
  if (!engine_) return nullptr;
  const double total = get_total_time();
  if (!(start >= 0) || !(length >= 0) || start + length > total) {
    trace("MPEG_Editor::copy (ERROR): start=%.2f, length=%.2f, total=%.2f\n", start, length, total);
    return nullptr;
  }
  return with_gain(to_project(engine_->copy_time(start, length)), start, length);
}

int MPEG_Editor::paste(const EClip& project, double t, int effect_id, double seconds) {
  if (!engine_) return 0;
  const double total = get_total_time();
  if (!(t >= 0) || t > total) {
    if (t != 0) trace("MPEG_Editor::paste (ERROR): insert=%.2f, total=%.2f\n", t, total);
    t = total;
  }
  MPEG_Clip* list = eclip_2_mpeg_clip(project, 1);
  if (!list) return 0;
  const int r = engine_->paste_time(list, t, effect_id, seconds);
  if (!r) mpeg_clip_list_free(list);
  return r;
}

int MPEG_Editor::replace(const EClip& project) {
  if (!engine_) return 0;
  MPEG_Clip* list = eclip_2_mpeg_clip(project, 0);
  if (!list) return 0;
  const int r = engine_->replace(list);
  mpeg_clip_list_free(list);
  return r;
}

double MPEG_Editor::insert_transitions(double t, int effect_id, double seconds) {
  if (!engine_) return 0.0;
  if (effect_id <= 0 || effect_id >= effect_op_get_count()) {
    trace("MPEG_Editor::insert_transitions (ERROR): invalide effect op-id=%d\n", effect_id);
    return 0.0;
  }
  const EffectOp op = effect_op_get(effect_id);
  if (!op) {
    trace("MPEG_Editor::insert_transitions (ERROR): invalid special effect id = %d\n", effect_id);
    return 0.0;
  }
  const double total = get_total_time();
  const unsigned kind = op(0, 0, nullptr, nullptr, nullptr, nullptr, 0, 0);
  if (!(t >= 0) || !(seconds >= 0) || t + seconds > total || (kind == 2 && seconds > t)) {
    trace("MPEG_Editor::insert_transitions (ERROR): insert=%.2f, effect=%d, transitions=%.2f, total=%.2f\n", t,
          effect_id, seconds, total);
    return 0.0;
  }
  return engine_->insert_transitions_time(t, effect_id, seconds);
}

int MPEG_Editor::add_overlay(const char* image_file, int kind, int value, int frame, int length) {
  return engine_ ? engine_->add_overlay(image_file, kind, value, frame, length) : 0;
}

std::unique_ptr<EClip> MPEG_Editor::frame_copy(int start, int count) {
  if (!engine_) return nullptr;
  const int total = get_total_frames();
  if (start < 0 || count < 0 || start + count > total) {
    trace("MPEG_Editor::frame_copy (ERROR): start=%d, count=%d, total=%d\n", start, count, total);
    return nullptr;
  }
  const double from = engine_->frame_2_time(start);
  return with_gain(to_project(engine_->copy(start, count)), from, engine_->frame_2_time(start + count) - from);
}

int MPEG_Editor::frame_cut(int start, int count) {
  if (!engine_) return 0;
  const int total = get_total_frames();
  if (start < 0 || count < 0 || start + count > total) {
    trace("MPEG_Editor::frame_cut (ERROR): start=%d, count=%d, total=%d\n", start, count, total);
    return 0;
  }
  return engine_->cut(start, count);
}

int MPEG_Editor::frame_paste(const EClip& project, int frame) {
  if (!engine_) return 0;
  const int total = get_total_frames();
  if (frame < 0) {
    trace("MPEG_Editor::frame_paste (ERROR): insert=%d, total=%d\n", frame, total);
    return 0;
  }
  frame = std::min(frame, total);
  MPEG_Clip* list = eclip_2_mpeg_clip(project, 0);
  if (!list) return 0;
  const int r = engine_->paste(list, frame, 0, 0);
  if (!r) mpeg_clip_list_free(list);
  return r;
}

int MPEG_Editor::frame_insert_transitions(int frame, int effect_id, int length) {
  if (!engine_) return 0;
  if (effect_id <= 0 || effect_id >= effect_op_get_count() || !effect_op_get(effect_id)) {
    trace("MPEG_Editor::insert_transitions (ERROR): invalide effect op-id=%d\n", effect_id);
    return 0;
  }
  const int total = get_total_frames();
  if (frame < 0 || length < 1 || frame + length > total) {
    trace("MPEG_Editor::insert_transitions (ERROR): insert=%d, effect=%d, transitions=%d, total=%d\n", frame,
          effect_id, length, total);
    return 0;
  }
  return engine_->insert_transitions(frame, effect_id, length);
}

int MPEG_Editor::frame_remove_transitions(int frame) {
  if (!engine_) return 0;
  if (frame < 0 || frame > get_total_frames()) {
    trace("MPEG_Editor::frame_remove_transitions (ERROR): insert=%d\n", frame);
    return 0;
  }
  return engine_->remove_transitions(frame);
}

int MPEG_Editor::save_image(const char* file, int type, int quality) {
  if (!engine_ || !file) return 0;
  if (editor_output_is_source(file, engine_->get_clip_list())) {
    trace("MPEG_Editor::save_image (ERROR): <%s> is a source of the movie\n", file);
    return 0;
  }
  return engine_->save_image(file, type, quality);
}

bool MPEG_Editor::is_at_clip_end() const {
  if (!engine_ || !engine_->get_dtv()) return false;
  return engine_->get_dtv()->is_at_clip_end() && engine_->get_current_clip() &&
         !engine_->get_current_clip()->next;
}

bool MPEG_Editor::is_at_clip_start() const {
  if (!engine_ || !engine_->get_dtv()) return false;
  return engine_->get_dtv()->is_at_clip_start() && engine_->get_current_clip() == engine_->get_clip_list();
}

const char* MPEG_Editor::get_trim_range(int* start, int* count) const {
  if (!engine_ || !start || !count) return nullptr;
  const MPEG_Clip* c = engine_->get_clip_list();
  if (!c || c->next || !Clip::is_mpeg_video_type(c->clip_type) || c->video_stream_count < 1 ||
      !c->overlays.empty())
    return nullptr;
  const bool whole = c->start == 0 && c->count >= c->video_frame_total;
  if (whole && *start < 1 && (*count < 1 || *count >= c->video_frame_total)) return nullptr;
  if (*count < 1) *count = c->count;
  *start += c->start;
  return c->get_file_name();
}

int editor_record_kind(int kind) {
  if ((kind >= 1 && kind <= 6) || kind == 8 || kind == 9) return kind;
  return 0;
}

bool editor_output_is_source(const char* out, const MPEG_Clip* list) {
  struct stat so {};
  if (!out || stat(out, &so) != 0) return false;  // a new file names no source
  for (const MPEG_Clip* c = list; c; c = c->next) {
    struct stat si {};
    if (c->get_file_name() && stat(c->get_file_name(), &si) == 0 && si.st_dev == so.st_dev &&
        si.st_ino == so.st_ino)
      return true;
    for (const OverlayClip& o : c->overlays) {
      if (o.get_image_file() && stat(o.get_image_file(), &si) == 0 && si.st_dev == so.st_dev &&
          si.st_ino == so.st_ino)
        return true;
    }
  }
  return false;
}

// Why no file could be made in the output's folder (an error number; 0
// when one can), without touching an existing file of that name.
static int output_folder_error(const char* out) {
  std::string dir = out;
  const size_t slash = dir.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : dir.substr(0, slash));
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) return errno ? errno : ENOENT;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return access(dir.c_str(), W_OK) == 0 ? 0 : (errno ? errno : EACCES);
}

int MPEG_Editor::save_entry(const char* out, int kind, int start, int count, int* progress, JobControl* control,
                            int n_es, const ESData* es) {
  const int folder_error = out ? output_folder_error(out) : EINVAL;
  if (!engine_ || !out || folder_error) {
    trace("MPEG_Editor::record (ERROR): cannot create <%s>\n", out ? out : "");
    const std::string why = std::string("the output cannot be created") +
                            (folder_error ? std::string(": ") + std::strerror(folder_error) : std::string());
    editor_record_refused(progress, control, why.c_str());
    return 0;
  }
  if (editor_output_is_source(out, engine_->get_clip_list())) {
    trace("MPEG_Editor::record (ERROR): <%s> is a source of the movie\n", out);
    editor_record_refused(progress, control, "the output is a source of the movie");
    return 0;
  }
  const int mapped = editor_record_kind(kind);
  if (mapped == 1 || mapped == 9) {
    // Audio-only outputs belong to the audio editor's writer.
    trace("MPEG_Editor::record (ERROR): audio-only output kind %d\n", kind);
    editor_record_refused(progress, control, "the output kind holds no video");
    return 0;
  }
  if (mapped != 0) return editor_record_save(this, out, mapped, start, count, progress, control, n_es, es);
  auto project = frame_copy(start, count);
  if (!project) {
    editor_record_refused(progress, control, "no frames in that range");
    return 0;
  }
  if (progress) *progress = 100;
  if (control) control->set_progress(100.0);
  // Written beside the target, renamed over it only when whole.
  const std::string partial = std::string(out) + ".partial";
  if (project->save(partial.c_str()) != 0 || std::rename(partial.c_str(), out) != 0) {
    std::remove(partial.c_str());
    trace("MPEG_Editor::record (ERROR): writing <%s> failed\n", out);
    if (control) control->finish(JobOutcome::failed, kSaveFailed, "the output could not be written");
    return 0;
  }
  if (control) control->finish(JobOutcome::done);
  return 1;
}

int MPEG_Editor::record_clip(const char* out, int kind, int selected_clip, int start, int count, int* progress,
                             JobControl* control) {
  if (engine_ && (selected_clip < 0 || selected_clip >= get_clip_count())) {
    trace("DTamsel::record_selected_clip (ERROR): invalid selected_clip=%d\n", selected_clip);
    editor_record_refused(progress, control, "no such clip");
    return 0;
  }
  return save_entry(out, kind, start, count, progress, control);
}

int MPEG_Editor::frame_record(const char* out, int kind, int selected_clip, int start, int count, int* progress) {
  return record_clip(out, kind, selected_clip, start, count, progress, nullptr);
}

int MPEG_Editor::frame_record_status(const char* out, int kind, int selected_clip, int start, int count,
                                     JobControl* control) {
  return record_clip(out, kind, selected_clip, start, count, nullptr, control);
}

int MPEG_Editor::frame_record_range(const char* out, int kind, int start, int count, int* progress) {
  return save_entry(out, kind, start, count, progress, nullptr);
}

int MPEG_Editor::frame_record_range(const char* out, int kind, int n_es, const ESData* es, int start, int count,
                                    int* progress) {
  return save_entry(out, kind, start, count, progress, nullptr, n_es, es);
}

int MPEG_Editor::frame_record_range_status(const char* out, int kind, int n_es, const ESData* es, int start,
                                           int count, JobControl* control) {
  return save_entry(out, kind, start, count, nullptr, control, n_es, es);
}
