#include "record/record_data.h"

#include <sys/stat.h>

#include <algorithm>

#include "foundation/audio_header.h"
#include "foundation/mpeg_fields.h"
#include "foundation/trace.h"
#include "mux/es.h"
#include "record/record_audio.h"
#include "record/recorder.h"
#include "mux/save.h"
#include "record/save_request.h"

// ---- video set-up ------------------------------------------------------------

void record_video_setup_init(RecordVideoSetup* setup, const SeqHdr& seq) {
  *setup = RecordVideoSetup();
  setup->mpeg1 = seq.mpeg2 ? 0 : 1;
  setup->gop_size = mpeg_get_default_gop_size(seq.get_frame_rate());
  const int w = (seq.get_horizontal_size() + 15) & ~15, h = (seq.get_vertical_size() + 15) & ~15;
  mpeg_get_search_range(w, h, &setup->search_h, &setup->search_v);
  setup->progressive = seq.mpeg2 ? seq.get_progressive_sequence() : 1;
  setup->seqhdr = &seq;
}

RecordVideo::RecordVideo(const SeqHdr& s) : seq(std::make_unique<SeqHdr>(s)) { record_video_setup_init(&setup, *seq); }

RecordVideo& RecordVideo::operator=(const RecordVideo& o) {
  if (this == &o) return *this;
  setup = o.setup;
  seq = o.seq ? std::make_unique<SeqHdr>(*o.seq) : nullptr;
  setup.seqhdr = seq.get();
  setup.pichdr = nullptr;
  return *this;
}

void RecordVideo::set_vcd_aspect() {
  if (seq) seq->set_aspect_ratio_information(seq->get_vertical_size() < 241 ? 12 : 8);
}

// ---- RecordData ------------------------------------------------------------------

RecordData::RecordData(int k, const char* file_name, const RecordVideo* v, int n, const ESData* es)
    : kind(k), name(file_name ? file_name : ""), n_es(n) {
  if (v) video_setup = std::make_unique<RecordVideo>(*v);
  bool have_video = false, have_audio = false;
  for (int i = 0; es && i < n; ++i) {
    if (es[i].is_video() && !have_video) {
      video = es[i];
      have_video = true;
    } else if (!es[i].is_video() && !have_audio) {
      audio = es[i];
      have_audio = true;
    }
  }
  if (n_es > 2) {
    trace("RecordData::ctor (ERROR): n_es=%d > 2\n", n_es);
    n_es = 2;
  }
  if (n_es < 1) n_es = 1;
  if (n_es == 2) check_audio_params();
}

RecordData& RecordData::operator=(const RecordData& o) {
  if (this == &o) return *this;
  kind = o.kind;
  name = o.name;
  n_es = o.n_es;
  ref_clip = o.ref_clip;
  video_setup = o.video_setup ? std::make_unique<RecordVideo>(*o.video_setup) : nullptr;
  video = o.video;
  audio = o.audio;
  audio_copy = o.audio_copy;
  audio_option = o.audio_option;
  mix_audio = o.mix_audio;
  pmt_pid = o.pmt_pid;
  video_pid = o.video_pid;
  audio_pid = o.audio_pid;
  luma_copy = o.luma_copy;
  reserved_option2 = o.reserved_option2;
  scene_change = o.scene_change;
  film_output = o.film_output;
  reserved_option5 = o.reserved_option5;
  gop_size = o.gop_size;
  sub_gop_size = o.sub_gop_size;
  gop_structure = o.gop_structure;
  keep_structure = o.keep_structure;
  aspect_ratio = o.aspect_ratio;
  field_order = o.field_order;
  pcm_scale = o.pcm_scale;
  svcd = o.svcd;
  dvd = o.dvd;
  audio_crc = o.audio_crc;
  restructure = o.restructure;
  encoder = o.encoder;
  return *this;
}

void RecordData::check_audio_params() {
  if (n_es < 2) return;
  ESData& a = audio;
  if (a.sample_rate != 44100 && a.sample_rate != 48000 && a.sample_rate != 32000) {
    trace("RecordData::ctor (ERROR): sample-rate=%d not supported (set to 44100)\n", a.sample_rate);
    a.sample_rate = 44100;
  }
  if (a.channels != 1 && a.channels != 2) {
    trace("RecordData::ctor (ERROR): channels=%d not supported (set to 2)\n", a.channels);
    a.channels = 2;
  }
  if (a.layer < 0 || a.layer > 3) {
    trace("ERROR (RecordData::ctor): invalid layer = %d\n", a.layer);
    a.layer = 2;
  }
  if (a.layer > 0) {
    a.audio_bit_rate = mpeg_audio_nearest_bit_rate(a.audio_bit_rate, a.layer);
  } else if ((a.ac3 || a.kind == ES_KIND_AC3) && audio_copy < 0) {
    a.layer = 2;
    if (a.sample_rate == 0) a.sample_rate = 44100;
    if (a.channels == 0) a.channels = 2;
    if (a.audio_bit_rate == 0) a.audio_bit_rate = 224000;
    a.audio_bit_rate = mpeg_audio_nearest_bit_rate(a.audio_bit_rate, 2);
  }
}

bool record_wants_vbr(const RecordData& d) {
  return d.video.vbr || (d.video_setup && d.video_setup->seq && d.video_setup->seq->is_vbr());
}

// ---- RecordJob -----------------------------------------------------------------

MPEG_Clip* record_copy_clips(const MPEG_Clip* list) {
  MPEG_Clip* head = nullptr;
  MPEG_Clip* tail = nullptr;
  for (const MPEG_Clip* c = list; c; c = c->next) {
    auto* copy = new MPEG_Clip(*c);
    copy->prev = tail;
    copy->next = nullptr;
    (tail ? tail->next : head) = copy;
    tail = copy;
  }
  return head;
}

void record_free_clips(MPEG_Clip* list) {
  while (list) {
    MPEG_Clip* n = list->next;
    delete list;
    list = n;
  }
}

RecordJob::RecordJob(const MPEG_Clip* list, const RecordData& d, JobControl* c)
    : clips(record_copy_clips(list)), name(d.name), kind(d.kind), data(d), control(c) {}

RecordJob::~RecordJob() { record_free_clips(clips); }

// ---- the pipeline ------------------------------------------------------------------

namespace {

bool same_file(const char* a, const char* b) {
  struct stat sa {}, sb {};
  if (!a || !b || stat(a, &sa) != 0 || stat(b, &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// The muxer type of a save kind: lone video in an elementary kind follows
// the source's MPEG version.
int output_type(int kind, const ESData& es) {
  if (kind <= MUX_MPEG2_VIDEO_ES) return es.is_video_mpeg2() ? MUX_MPEG2_VIDEO_ES : MUX_MPEG1_VIDEO_ES;
  return kind;
}

}  // namespace

int prepare_recording(RecordJob& job) {
  JobControl own_control;
  JobControl* st = job.control;
  JobControl& ctl = st ? *st : own_control;
  SaveReport rep;
  int32_t result = 0;
  const RecordData& d = job.data;
  auto failure = [&rep](const std::string& why) {
    if (!rep.failed) rep.message = why;
    rep.failed = 1;
  };
  for (const MPEG_Clip* c = job.clips; c; c = c->next)
    if (same_file(d.name.c_str(), c->get_file_name())) {
      failure("the output \"" + d.name + "\" is one of the inputs");
      break;
    }
  if (d.name.empty()) failure("no output name");
  // Audio-only kinds have no place for the video a save writes.
  if (d.kind == 1 || d.kind > MUX_TRANSPORT) failure("output kind " + std::to_string(d.kind) + " holds no video");

  std::unique_ptr<Recorder> rec;
  std::unique_ptr<Save> save;
  if (!rep.failed) {
    EngineError why;
    rec = Recorder::create(job.clips, d, &why, job.frames.get());
    if (rec) {
      rec->set_copy_only(job.copy_only);
      rec->set_whole_gops(job.whole_gops);
    } else {
      failure(why.message);
    }
  }
  // The audio streams (none for an elementary output or a video-only save).
  std::unique_ptr<SaveAudioSet> audio;
  double field_time = 0.5 / 25.0;
  if (!rep.failed && d.n_es >= 2 && output_type(d.kind, rec->output_es()) > MUX_MPEG2_VIDEO_ES) {
    const double rate = rec->output_seqhdr().get_frame_rate();
    field_time = 0.5 / (rate > 0.1 ? rate : 30.0);
    audio = std::make_unique<SaveAudioSet>();
    if (audio->open(job.clips, d, rate > 0.1 ? rate : 30.0) == 0) audio.reset();
  }
  if (!rep.failed) {
    ESData es = rec->output_es();
    if (d.video_pid > 0) es.pid = d.video_pid;
    std::vector<ESData> es_list(1, es);
    if (audio) es_list.insert(es_list.end(), audio->es().begin(), audio->es().end());
    rep.kind = output_type(d.kind, es);
    EngineError why;
    save = Save::create(d.name.c_str(), rep.kind, es_list.data(), int(es_list.size()), &why, d.dvd ? 1 : 0);
    if (!save) {
      failure(why.message);
    } else {
      // Program streams carry only what their streams need.
      const auto kind = output_kind_of_code(d.kind, d.svcd, d.dvd);
      const bool vbr = record_wants_vbr(d) || rec->vbr_flag();
      if (vbr || (kind && output_profile(*kind).vbr)) save->set_vbr();
      if (d.svcd) save->set_svcd();
      if (d.aspect_ratio > 0) save->set_aspect_ratio(d.aspect_ratio);
      if (rep.kind == MUX_TRANSPORT && d.pmt_pid > 0) {
        save->set_pmt_pid(d.pmt_pid);
      } else if (rep.kind == MUX_TRANSPORT && d.ref_clip >= 0) {
        const MPEG_Clip* ref = job.clips;
        for (int i = 0; i < d.ref_clip && ref; ++i) ref = ref->next;
        if (ref && ref->get_file_name()) save->set_psi_sections(ref->get_file_name());
      }
      save->set_drop_frame_flag(es.drop_frame);
      if (audio) audio->bind(*save);
    }
  }

  bool stopped = false;
  if (!rep.failed) {
    const int total = std::max(rec->get_total_frames(), 1);
    const double step = 100.0 / (2.0 * total);
    int64_t fields = 0;
    double last_p = -1.0;
    int stored = -1;
    bool retried = false;
    for (;;) {
      if (ctl.checkpoint()) {
        stopped = true;
        break;
      }
      int f = rec->recode_next_gop(save.get());
      if (rec->failed()) break;
      if (f == 0 && fields == 0 && !retried && !rec->at_end()) {
        retried = true;
        f = 1;
      }
      fields += f;
      // Audio follows the video the writer holds, never leads it in.
      if (audio && save->get_fields() > 0 && audio->pump(save.get(), save->get_fields() * field_time) < 0)
        failure("the writer refused the audio");
      if (rep.failed) break;
      if (ctl.checkpoint()) {
        stopped = true;
        save->set_abort(1);
        break;
      }
      const double p = std::min(99.0, double(fields) * step);
      if (p >= last_p + 0.1 && st) {
        last_p = p;
        if (int(p) > stored) stored = int(p);
        ctl.set_progress(std::max(p, ctl.progress()));
      }
      if (f == 0 || rec->at_end()) break;
    }
    if (rec->failed()) failure(rec->message());
    if (stopped) save->set_abort(1);
  }
  const bool remove = stopped && !ctl.keep_output();
  if (rec && save && !rep.failed && !remove) {
    rec->flush(save.get());
    if (rec->failed()) failure(rec->message());
    // The audio runs to the video's end.
    if (audio && !rep.failed && audio->finish(save.get()) < 0) failure("the writer refused the audio");
  }
  if (save) {
    if (!rep.failed && st) save->report_stdb_error_status(&result);
    rep.bytes = save->bytes_written();
    const int keep = !rep.failed && !remove;
    if (save->close(keep) != 0 && keep) failure(save->write_failure());
    if (!rep.failed && keep) {
      struct stat sb {};
      if (stat(d.name.c_str(), &sb) == 0) rep.bytes = double(sb.st_size);
    } else {
      rep.bytes = 0;
    }
  }
  if (rec) {
    rep.fields = rec->total_fields();
    rep.frames = rep.fields / 2;
    rep.gops = rec->gops();
    rep.copied = rec->copied();
    rep.reencoded = rec->reencoded();
    rep.decoded = rec->decoded();
    rep.warnings = rec->warnings();
    rep.joins = rec->joins();
  }
  if (audio) rep.audio = audio->report();
  rep.stopped = stopped && !rep.failed;
  if (rep.failed)
    result = kSaveFailed;
  else if (rep.stopped && remove)
    result = kSaveStopped;
  rep.result = result;
  if (rep.failed) trace("prepare_recording (ERROR): %s\n", rep.message.c_str());
  save.reset();
  rec.reset();
  if (job.report) *job.report = rep;
  if (!rep.stopped && job.done) job.done(job.done_arg1, job.done_arg2);
  ctl.set_progress(100.0);
  ctl.finish(rep.failed ? JobOutcome::failed : rep.stopped ? JobOutcome::stopped : JobOutcome::done, result,
             rep.message);
  return rep.failed ? 1 : 0;
}
