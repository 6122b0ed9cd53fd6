#include "engine/editor_record.h"

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/dtamsel.h"
#include "foundation/trace.h"
#include "record/es.h"
#include "record/record_data.h"

void editor_record_set_editor(EditorRecordData* rec, MPEG_Editor* editor) {
  if (!rec || !editor) return;
  auto whole = editor->frame_copy(0, 0);
  if (!whole) return;
  rec->set_project(*whole);
  editor_record_update_range(rec, editor);
}

void editor_record_update_range(EditorRecordData* rec, MPEG_Editor* editor) {
  if (!rec || !editor || !editor->engine()) return;
  rec->total = editor->get_total_frames();
  if (rec->start >= rec->total || rec->start < 0) rec->start = 0;
  if (rec->count <= 0 || rec->count > rec->total - rec->start) rec->count = rec->total - rec->start;
  if (editor->get_clip_mux_rates(rec->video.clip_select, rec->rates) != 0)
    for (int& r : rec->rates) r = 0;
}

int check_record_data(int kind, MPEG_Clip* list, RecordData* data) {
  if (!data || data->n_es < 1) return 1;
  bool audio = false;
  for (const MPEG_Clip* c = list; c; c = c->next) audio = audio || c->audio_stream_count > 0;
  if (kind == 2 || kind == 3 || !audio) {
    if (data->n_es != 1) trace("check_record_data: kind %d saves video only (%d streams asked)\n", kind, data->n_es);
    for (MPEG_Clip* c = list; c; c = c->next) c->audio_stream_id = -1;
    data->n_es = 1;
  }
  return 0;
}

int editor_record_load(EditorRecordData* rec, const char* file_name, std::unique_ptr<MPEG_Editor>* editor,
                       int size_mode) {
  if (!rec || !editor) return 2;
  EditorRecordData loaded;
  const int r = loaded.load(file_name);
  if (r) return r;
  // A save project without clips saves nothing: it is no valid job.
  if (loaded.project.clips.empty()) {
    trace("EditorRecordData::load (ERROR): no clips\n");
    return 2;
  }
  if (!*editor) {
    int err = 0;
    auto made = std::make_unique<MPEG_Editor>(loaded.project, &err, size_mode, 0, 0);
    if (err) return 2;
    *editor = std::move(made);
  } else if (!(*editor)->replace(loaded.project)) {
    return 2;
  }
  *rec = loaded;
  editor_record_update_range(rec, editor->get());
  return 0;
}

namespace {

class EngineFrames : public FrameSource {
 public:
  explicit EngineFrames(std::unique_ptr<DTamsel> engine) : engine_(std::move(engine)) {}
  Frame* render(int n) override {
    // A save asks for runs of frames in order: a step is cheaper than a
    // search, which decodes from the GOP's start.
    bool there = shown_ >= 0 && n == shown_ + 1 && engine_->forward(1) == 1 && engine_->get_curr_frame_offset() == n;
    if (!there) there = engine_->search(n, 0, 0) == n && engine_->get_curr_frame_offset() == n;
    shown_ = there ? n : -1;
    if (!there) {
      trace("editor_record_frame_source (ERROR): frame %d cannot be shown\n", n);
      return nullptr;
    }
    return engine_->get_dtv_screen();
  }

 private:
  std::unique_ptr<DTamsel> engine_;
  int shown_ = -1;
};

}  // namespace

std::unique_ptr<FrameSource> editor_record_frame_source(const MPEG_Clip* list) {
  int err = 0;
  auto engine = std::make_unique<DTamsel>(list, &err, 0);
  if (err) return nullptr;
  engine->disable_audio();
  return std::make_unique<EngineFrames>(std::move(engine));
}

int editor_record_save(MPEG_Editor* editor, const char* out, int kind, int start, int count, int* progress,
                       SaveStatus* status) {
  if (progress) *progress = 0;
  auto complete = [&] {
    if (progress) *progress = 100;
    if (status && status->progress_callback) status->progress_callback(100.0, status->user);
  };
  DTamsel* engine = editor ? editor->engine() : nullptr;
  const int total = engine ? engine->get_total_frames() : 0;
  MPEG_Clip* list = nullptr;
  if (out && engine && start >= 0 && count >= 0 && start + count <= total && start < total)
    list = engine->copy(start, count);
  if (!list) {
    trace("editor_record_save (ERROR): start=%d, count=%d, total=%d\n", start, count, total);
    complete();
    return 0;
  }
  RecordData data;
  data.kind = kind;
  data.name = out;
  ESData audio;
  if (kind > MUX_MPEG2_VIDEO_ES && mpeg_clip_get_audio_es_data(list, &audio)) {
    data.n_es = 2;
    data.audio = audio;
    data.audio_copy = audio.ac3 ? 0 : -1;
    data.check_audio_params();
  }
  if (check_record_data(kind, list, &data)) {
    mpeg_clip_list_free(list);
    complete();
    return 0;
  }
  SaveStatus own;
  SaveReport report;
  auto* job = new RecordJob(list, data, status ? status : &own);
  job->report = &report;
  // Only mixed or overlaid pictures need the engine's rendering.
  bool rendered = false;
  for (const MPEG_Clip* c = list; c; c = c->next)
    rendered = rendered || (c != list && c->transition_length > 0) || !c->overlays.empty();
  if (rendered) job->frames = editor_record_frame_source(list);
  mpeg_clip_list_free(list);
  prepare_recording(job);
  if (progress) *progress = 100;
  return report.failed || report.stopped ? 0 : 1;
}
