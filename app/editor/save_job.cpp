#include "app/editor/save_job.h"

#include "app/editor/save_dialog.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/ieditor.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "engine/editor_record.h"
#include "engine/gop_trim.h"
#include "engine/mpeg_editor.h"
#include "platform/services.h"

namespace {

MPEG_Editor* facade_of(IEditor* editor) {
  auto* adapter = dynamic_cast<MpegEditorAdapter*>(editor);
  return adapter ? adapter->facade() : nullptr;
}

// The save gets an editor of its own on a copy of the edit list, so the
// window's edits and playback during the save leave the output alone.
JobWork engine_save_work(IEditor* editor, const EditorRecordData& record, std::string* why) {
  MPEG_Editor* facade = facade_of(editor);
  std::unique_ptr<EClip> list = facade ? facade->frame_copy(0, 0) : nullptr;
  std::shared_ptr<MPEG_Editor> own = list ? std::shared_ptr<MPEG_Editor>(MPEG_Editor::create(*list, 0)) : nullptr;
  if (!own) {
    if (why) *why = "The movie cannot be opened for saving.";
    return {};
  }
  auto rec = std::make_shared<EditorRecordData>(record);
  return [own, rec](JobControl& control) { rec->record(own.get(), &control); };
}

JobWork engine_trim_work(const std::string& in, const std::string& out, int start, int count) {
  return [in, out, start, count](JobControl& control) {
    trim_packet(in.c_str(), out.c_str(), start, count, &control);
  };
}

bool engine_fill_record(IEditor* editor, EditorRecordData* record) {
  MPEG_Editor* facade = facade_of(editor);
  if (!facade) return false;
  editor_record_set_editor(record, facade);
  return true;
}

bool ends_with(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

PlayerSaveJobs::PlayerSaveJobs(EditorSettings* settings, SaveJobHost* host)
    : settings_(settings),
      host_(host),
      save_factory_(engine_save_work),
      trim_factory_(engine_trim_work),
      filler_(engine_fill_record) {}

PlayerSaveJobs::~PlayerSaveJobs() { stop_and_join(); }

// ---------------------------------------------------------------- save

void PlayerSaveJobs::save_edited_movie(int mark_in, int mark_out) {
  if (!editor_) return;
  if (save_running_ && !collect_save_job()) {
    show_save_progress(true);
    return;
  }
  const int saved_kind = record_.output_type;
  const int saved_svcd = record_.svcd;
  const bool had_source = record_ready_ && record_.video.clip_select >= 0;
  if (filler_ && !filler_(editor_, &record_)) {
    // Without an engine behind the window (tests), the record keeps
    // what the caller put in.
  }
  record_ready_ = true;
  if (had_source) {
    record_.output_type = saved_kind;
    record_.svcd = saved_svcd;
  }
  record_.file_name = settings_->save_folder;
  record_.total = editor_->get_total_frames();
  record_.start = mark_in;
  record_.count = mark_out - mark_in + 1;
  record_.program_pid = settings_->pmt_pid;
  record_.video_pid = settings_->video_pid;
  record_.audio_pid = settings_->audio_pid;
  if (record_.video.clip_select < 0) record_.output_type = settings_->save_type;
  // A transport source gives its own PIDs.
  record_.get_source_type();
  if (record_.second_file_name.empty()) {
    const std::string name = editor_->get_file_name();
    if (ends_with(name, ".qme")) record_.second_file_name = name.substr(0, name.size() - 4) + ".mpg";
  }

  CSaveDlg dialog(&record_, editor_);
  dialog.from_batch = 0;
  dialog.file_name = record_.second_file_name;
  dialog.init();
  if (!host_->run_save_dialog(dialog)) return;
  settings_->save_type = record_.output_type;
  settings_->set_save_folder(record_.second_file_name);
  if (record_.output_type == 8) {
    settings_->pmt_pid = record_.program_pid;
    settings_->video_pid = record_.video_pid;
    settings_->audio_pid = record_.audio_pid;
  }
  start_save_job();
}

int PlayerSaveJobs::start_save_job() {
  record_.audio_crc = settings_->audio_crc ? 1 : 0;
  std::string why;
  JobWork work = save_factory_ ? save_factory_(editor_, record_, &why) : JobWork{};
  if (!work) {
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok,
                                 why.empty() ? "The movie cannot be saved." : why);
    return 0;
  }
  const std::string out = record_.second_file_name;
  if (!save_kind_threaded(record_.output_type)) {
    // A project is written at once.
    JobControl control;
    work(control);
    if (control.outcome() != JobOutcome::done) {
      save_.output = out;
      report_failure_text(control.message(), out);
    }
    record_.second_file_name.clear();
    return 0;
  }
  save_running_ = true;
  start(save_, std::move(work), out);
  show_save_progress(false);
  return 1;
}

void PlayerSaveJobs::report_failure_text(const std::string& why, const std::string& out) {
  std::string text = "<" + out + ">: ";
  text += why.empty() ? "the save has failed" : why;
  platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, text);
}

void PlayerSaveJobs::start(Job& job, JobWork work, const std::string& output) {
  job.control.reset();
  job.ended = false;
  job.paused = false;
  job.stopped = 0;
  job.time_offset = 0;
  job.last_percent = 0;
  job.announced = false;
  job.output = output;
  job.started_ms = platform().clock->now_ms();
  job.file_use = platform().file_use->add_output(output);
  job.thread = std::thread([&job, work = std::move(work)] {
    work(job.control);
    if (!job.control.finished()) job.control.finish(JobOutcome::failed, 0, "the job ended without a result");
    job.ended.store(true, std::memory_order_release);
  });
}

void PlayerSaveJobs::show_save_progress(bool reshow) {
  show_progress(save_, kSaveTimer, "Saving", "Progress Dialog Create Failed", reshow);
}

void PlayerSaveJobs::show_progress(Job& job, int timer, const char* job_name, const char* failed, bool reshow) {
  job.retired.reset();
  if (job.window) return;
  if (!job.paused) {
    const int p = static_cast<int>(job.control.progress());
    if (p > job.last_percent) job.last_percent = p;
  }
  job.time_offset = static_cast<int>((platform().clock->now_ms() - job.started_ms) / 1000);
  job.window = std::make_unique<CSaveProgressDlg>(0, 0, host_->progress_owner(),
                                                  [this, &job, timer](void*, int code) {
                                                    return on_event(job, timer, code);
                                                  });
  CSaveProgressDlg& w = *job.window;
  w.percent = job.last_percent;
  w.time_offset = job.time_offset;
  w.paused = job.paused;
  w.pausable = 1;
  w.set_job_name(job_name);
  w.set_file_name(job.output);
  if (reshow) {
    w.position_x = job.window_x;
    w.position_y = job.window_y;
  }
  if (!w.Create()) {
    job.window.reset();
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, failed);
  }
  if (!job.polling) {
    job.polling = true;
    host_->start_poll_timer(timer, kPollMs);
  }
}

void PlayerSaveJobs::poll_save_job() { poll(save_, kSaveTimer); }

void PlayerSaveJobs::poll(Job& job, int timer) {
  job.retired.reset();
  const bool ended = job.ended.load(std::memory_order_acquire);
  if (!job.window) {
    // Polling goes on without a window until the thread ends, so the job
    // is collected (and its file announced) without a further command.
    if (ended || !job.thread.joinable()) {
      job.polling = false;
      host_->stop_poll_timer(timer);
      collect(job);
    }
    return;
  }
  if (ended && job.control.outcome() != JobOutcome::done) {
    job.window->Finish();
    return;
  }
  const int p = static_cast<int>(job.control.progress() + 0.5);
  if (!job.paused && p > job.last_percent) job.last_percent = p;
  if (job.last_percent >= 100 && !ended) job.last_percent = 99;  // 100 only once the outcome is known
  job.window->SetPercent(job.last_percent);
}

int PlayerSaveJobs::on_save_progress_event(int code) { return on_event(save_, kSaveTimer, code); }

int PlayerSaveJobs::on_event(Job& job, int timer, int code) {
  if (code == kProgressPause) {
    if (!job.window) return 0;
    job.paused = job.window->paused != 0;
    if (job.paused) job.control.pause();
    else job.control.resume();
    return 0;
  }
  if (job.window) {
    if (code == kProgressClosed) {
      job.time_offset = job.window->shown_seconds();
      job.window_x = job.window->position_x;
      job.window_y = job.window->position_y;
    }
    job.retired = std::move(job.window);
  }
  if (code != kProgressClosed) {
    job.stopped = code;
    job.control.stop(code == kProgressStopKeep);
  }
  (void)timer;
  if (code == kProgressClosed && job.ended.load(std::memory_order_acquire)) collect(job);
  return 0;
}

int PlayerSaveJobs::collect_save_job() { return collect(save_); }

int PlayerSaveJobs::collect(Job& job) {
  if (!job.thread.joinable()) return 1;
  if (!job.ended.load(std::memory_order_acquire)) return 0;
  job.thread.join();
  platform().file_use->release(job.file_use);
  job.file_use = 0;
  job.paused = false;
  if (&job == &save_) save_running_ = false;
  else trim_running_ = false;
  if (job.control.outcome() == JobOutcome::done) {
    if (!job.window && !job.announced) announce(job);
  } else if (job.control.outcome() == JobOutcome::failed && !job.stopped) {
    report_failure_text(job.control.message(), job.output);
  }
  if (job.window) job.window->Finish();
  if (&job == &save_) record_.second_file_name.clear();
  return 1;
}

void PlayerSaveJobs::announce(Job& job) {
  job.announced = true;
  if (!job.stopped) host_->announce(job.output);
}

// ---------------------------------------------------------------- trim

void PlayerSaveJobs::update_trim_range(int mark_in, int mark_out) {
  int s = mark_in, n = mark_out - mark_in + 1;
  trim_range_valid_ = !trim_running_ && editor_ && !editor_->get_trim_range(&s, &n).empty();
}

void PlayerSaveJobs::trim_to_file(int mark_in, int mark_out) {
  if (!editor_) return;
  if (trim_running_ && !collect_trim_job()) {
    show_trim_progress(true);
    return;
  }
  int s = mark_in, n = mark_out - mark_in + 1;
  const std::string in = editor_->get_trim_range(&s, &n);
  if (in.empty()) return;
  std::string ext;
  get_extension(in, &ext);
  std::string filter;
  if (ext != "ts") filter = "Output Files (*." + ext + ") |*." + ext + "|";
  std::string out;
  if (!file_dialog(&out, 1, 0, filter.empty() ? nullptr : filter.c_str(), ext.c_str(), settings_->trim_folder,
                   "Save Trim File"))
    return;
  if (start_trim_job(in, out, s, n)) settings_->set_trim_folder(out);
}

int PlayerSaveJobs::start_trim_job(const std::string& in, const std::string& out, int start_frame, int count) {
  JobWork work = trim_factory_ ? trim_factory_(in, out, start_frame, count) : JobWork{};
  if (!work) return 0;
  trim_running_ = true;
  trim_range_valid_ = false;
  start(trim_, std::move(work), out);
  show_trim_progress(false);
  return 1;
}

void PlayerSaveJobs::show_trim_progress(bool reshow) {
  show_progress(trim_, kTrimTimer, "Trimming", "Creating Progress Dialog for Trim has failed", reshow);
}

void PlayerSaveJobs::poll_trim_job() { poll(trim_, kTrimTimer); }
int PlayerSaveJobs::on_trim_progress_event(int code) { return on_event(trim_, kTrimTimer, code); }
int PlayerSaveJobs::collect_trim_job() { return collect(trim_); }

// ---------------------------------------------------------------- close

int PlayerSaveJobs::check_close() {
  const bool save_done = collect(save_);
  const bool trim_done = collect(trim_);
  if (save_done && trim_done) return 1;
  platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, kSaveNotCompletedMessage);
  return 0;
}

void PlayerSaveJobs::stop_and_join() {
  for (Job* job : {&save_, &trim_}) {
    if (!job->thread.joinable()) continue;
    job->control.stop(false);
    job->thread.join();
    platform().file_use->release(job->file_use);
    job->file_use = 0;
    job->window.reset();
  }
  save_running_ = trim_running_ = false;
}
