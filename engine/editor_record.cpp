#include "engine/editor_record.h"

#include "engine/clips/clip_list.h"
#include "engine/clips/clip_streams.h"
#include "engine/dtamsel.h"
#include "foundation/trace.h"
#include "mux/es.h"
#include "record/record_data.h"
#include "record/save_request.h"

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
  if (editor->get_clip_mux_rates(rec->video.clip_select, &rec->rates) != 0) rec->rates = MuxRates{};
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
    auto made = MPEG_Editor::create(loaded.project, size_mode);
    if (!made) return 2;
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
  auto engine = DTamsel::create(list, 0);
  if (!engine) return nullptr;
  engine->disable_audio();
  return std::make_unique<EngineFrames>(std::move(engine));
}

// The engine's save options and the caller's stream descriptions in the
// options of one save. Defaults leave the options as they are.
static void apply_save_settings(const EngineSettings& s, OutputKind kind, int n_es, const ESData* es,
                                RecordData* data) {
  data->gop_size = s.gop_size;
  data->sub_gop_size = s.sub_gop_size;
  data->gop_structure = s.gop_option;
  data->set_aspect_ratio(s.index_option);
  data->restructure = s.gop_fix ? 1 : 0;
  data->audio_crc = s.audio.crc ? 1 : 0;
  data->ref_clip = s.ref_clip;
  // Filter parameters 3 and 4: scene-change detection and 24-frame output.
  data->scene_change = s.filter[2];
  data->film_output = s.filter[3];
  // ME parameters 1 and 2 are the search ranges, 3 the search effort.
  data->encoder.search_h = s.me[0];
  data->encoder.search_v = s.me[1];
  data->encoder.me_mode = s.me[2];
  data->encoder.fixed_mquant = s.fixed_mquant;
  data->encoder.fixed_mq_max_bit_rate = s.fixed_mquant > 0 ? s.fixed_mq_max_bit_rate : 0;
  if (data->n_es >= 2) data->pcm_scale = s.gain;
  if (kind == OutputKind::ts) {
    data->pmt_pid = s.program_pid;
    data->video_pid = s.video_pid;
    data->audio_pid = s.audio_pid;
  }
  const ESData* video = nullptr;
  const ESData* audio = nullptr;
  for (int i = 0; es && i < n_es; ++i) {
    if (es[i].is_video()) video = &es[i];
    else if (es[i].is_audio()) audio = &es[i];
  }
  // A multiple of 400 bit/s, as the sequence header holds it.
  if (video && video->bit_rate > 0) data->video.bit_rate = (video->bit_rate + 399) / 400 * 400;
  if (video && video->vbr) data->video.vbr = 1;
  if (data->n_es < 2 || s.audio.copy) return;
  int layer = 0, rate = 0, channels = 0, bit_rate = 0;
  if (s.audio.set) {
    layer = s.audio.layer;
    rate = s.audio.sample_rate;
    channels = s.audio.channels;
    bit_rate = s.audio.bit_rate;
  } else if (audio) {
    layer = audio->layer;
    rate = audio->sample_rate;
    channels = audio->channels;
    bit_rate = audio->audio_bit_rate;
  } else {
    return;
  }
  ESData& a = data->audio;
  if (layer > 0 && a.ac3) {
    // AC-3 in, MPEG audio out: encoded, not copied.
    a.ac3 = 0;
    a.kind = ES_KIND_MPEG_AUDIO;
    a.stream_id = 0xC0;
    data->audio_copy = -1;
  }
  if (layer > 0) a.layer = layer;
  if (rate > 0) a.sample_rate = rate;
  if (channels > 0) a.channels = channels;
  if (bit_rate > 0) a.audio_bit_rate = bit_rate;
  data->check_audio_params();
}

void editor_record_refused(int* progress, JobControl* control, const char* why) {
  if (progress) *progress = 100;
  if (!control) return;
  control->set_progress(100.0);
  control->finish(JobOutcome::failed, kSaveFailed, why);
}

int editor_record_save(MPEG_Editor* editor, const char* out, int kind, int start, int count, int* progress,
                       JobControl* control, int n_es, const ESData* es) {
  if (progress) *progress = 0;
  DTamsel* engine = editor ? editor->engine() : nullptr;
  const int total = engine ? engine->get_total_frames() : 0;
  MPEG_Clip* list = nullptr;
  if (out && engine && start >= 0 && count >= 0 && start + count <= total && start < total)
    list = engine->copy(start, count);
  if (!list) {
    trace("editor_record_save (ERROR): start=%d, count=%d, total=%d\n", start, count, total);
    editor_record_refused(progress, control, "no frames in that range");
    return 0;
  }
  const EngineSettings& settings = engine->get_settings();
  const auto output = output_kind_of_code(kind, settings.svcd, settings.dvd);
  if (!output) {
    mpeg_clip_list_free(list);
    editor_record_refused(progress, control, "the output kind holds no video");
    return 0;
  }
  SaveRequest request;
  request.kind = *output;
  request.output = out;
  request.clips = list;
  request.gop_only = settings.gop_only != 0;
  if (*output != OutputKind::es) save_request_take_audio(&request);
  apply_save_settings(settings, *output, n_es, es, &request.options);
  if (check_record_data(kind, list, &request.options)) {
    mpeg_clip_list_free(list);
    editor_record_refused(progress, control, "the save has no output stream");
    return 0;
  }
  // The window's control when it gave one: its pause and stop reach the save.
  request.control = control;
  // Only mixed or overlaid pictures need the engine's rendering.
  bool rendered = false;
  for (const MPEG_Clip* c = list; c; c = c->next)
    rendered = rendered || (c != list && c->transition_length > 0) || !c->overlays.empty();
  if (rendered) request.frames = editor_record_frame_source(list);
  SaveRun run;
  save_run(request, &run);
  mpeg_clip_list_free(list);
  if (progress) *progress = 100;
  return run.report.failed || run.report.stopped ? 0 : 1;
}

int EditorRecordData::record(MPEG_Editor* editor, JobControl* control) {
  if (!editor || !editor->engine()) {
    editor_record_refused(&progress, control, "no movie to save");
    return 1;
  }
  DTamsel* engine = editor->engine();
  EngineSettings s = engine->get_settings();
  for (int k = 0; k < 4; ++k) s.filter[k] = video.filter[k];
  for (int k = 0; k < 3; ++k) s.me[k] = video.me[k];
  s.gop_size = video.gop_size;
  s.sub_gop_size = video.sub_gop_size;
  s.gop_option = video.gop_option;
  s.fixed_mquant = video.fixed_mquant;
  s.fixed_mq_max_bit_rate = video.fixed_mq_max_bit_rate;
  s.reserved_word = video.reserved;
  if (output_type == 6 && svcd) s.svcd = 1;
  s.dvd = output_type == 6 && dvd && !svcd ? 1 : 0;
  if (video.index_option > 0) s.index_option = video.index_option;
  if (video.chroma_format > 0) s.output_chroma_format = video.chroma_format;
  if (audio.copy_flag) s.audio.copy = 1;
  s.audio.crc = audio_crc ? 1 : 0;
  engine->set_settings(s);
  if (audio.has_audio && (audio.clip_select < 0 || audio.clip_select != video.clip_select))
    editor->set_audio_encoder(audio.layer, audio.sample_rate, audio.channels, audio.bit_rate, audio.clip_select);
  if (output_type == 8) {
    editor->set_program_pid(program_pid);
    editor->set_video_pid(video_pid);
    editor->set_audio_pid(audio_pid);
  }
  const char* out = second_file_name.c_str();
  int* value = control ? nullptr : &progress;
  // A clip whose video already has the output's parameters: saved as it is.
  if (video.clip_select >= 0 && video.fixed_mquant == 0) {
    if (control) editor->frame_record_status(out, output_type, video.clip_select, start, count, control);
    else editor->frame_record(out, output_type, video.clip_select, start, count, value);
    return 0;
  }
  ESData es[2];
  es[0].kind = video.mpeg2_format ? ES_KIND_MPEG2_VIDEO : ES_KIND_MPEG1_VIDEO;
  es[0].stream_id = 0xE0;
  es[0].bit_rate = video.bit_rate;
  es[0].pid = video_pid;
  int n = 1, kind = output_type;
  if (kind == 2 || kind == 3) {
    kind = 2 + video.mpeg2_format;
  } else if (editor->has_audio()) {
    ESData& a = es[1];
    a.kind = audio.layer ? ES_KIND_MPEG_AUDIO : ES_KIND_AC3;
    a.ac3 = audio.layer ? 0 : 1;
    a.stream_id = audio.layer ? 0xC0 : 0x80;
    a.layer = audio.layer;
    a.sample_rate = audio.sample_rate;
    a.channels = audio.channels;
    a.audio_bit_rate = audio.bit_rate;
    a.pid = audio_pid;
    n = 2;
  }
  if (control) editor->frame_record_range_status(out, kind, n, es, start, count, control);
  else editor->frame_record_range(out, kind, n, es, start, count, value);
  return 0;
}
