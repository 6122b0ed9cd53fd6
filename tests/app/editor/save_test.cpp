// The Save dialog's rules and the save and trim jobs' protocol, over a
// FakeEditor, fake platform seams and fake jobs.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/editor/audio_encoder_setup.h"
#include "app/editor/save_dialog.h"
#include "app/editor/save_job.h"
#include "app/editor/video_encoder_setup.h"
#include "app/shell/editor_settings.h"
#include "fake_editor.h"
#include "platform/fakes.h"

namespace {

class SaveDialogTest : public ::testing::Test {
 protected:
  SaveDialogTest() : editor(100, 64, 48, 25.0) {
    rec.start = 10;
    rec.count = 20;
    rec.total = 100;
    rec.output_type = 6;
    rec.audio.has_audio = 1;
    rec.video.mpeg2_format = 1;
    rec.rates.video_es = 1000;
    rec.rates.mpeg1_system = 2000;
    rec.rates.vcd = 3000;
    rec.rates.program = 10000;
    rec.rates.transport = 11000;
    Clip c;
    c.clip_type = 6;
    c.video_stream_count = 1;
    c.mpeg2 = 1;
    c.width = rec.video.width;
    c.height = rec.video.height;
    c.frame_rate = rec.video.frame_rate;
    rec.project.clips.push_back(c);
  }
  FakePlatform fakes;
  FakeEditor editor;
  EditorRecordData rec;
};

TEST_F(SaveDialogTest, RangeTextsAndClamps) {
  struct Case {
    const char* start;   // typed into Start (null: untouched)
    const char* length;  // typed into Length
    int want_start, want_length;
  } cases[] = {
      {"50", nullptr, 50, 20},      // fits
      {"90", nullptr, 90, 10},      // length shortened to the rest
      {"200", nullptr, 99, 1},      // past the end: the last frame
      {"2.0", nullptr, 50, 20},     // seconds
      {"0;01;05", nullptr, 30, 20},  // time code
      {nullptr, "95", 5, 95},       // start moved back
      {nullptr, "1000", 0, 100},    // the whole movie
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.start ? c.start : c.length);
    EditorRecordData r = rec;
    CSaveDlg dlg(&r, &editor);
    dlg.init();
    ASSERT_EQ(dlg.start(), 10);
    ASSERT_EQ(dlg.length(), 20);
    EXPECT_EQ(dlg.start_text, "0;10");
    EXPECT_EQ(dlg.toggle_text, "All");
    if (c.start) dlg.set_start_text(c.start);
    if (c.length) dlg.set_length_text(c.length);
    EXPECT_EQ(dlg.start(), c.want_start);
    EXPECT_EQ(dlg.length(), c.want_length);
  }
}

TEST_F(SaveDialogTest, ToggleSwitchesBetweenSegmentAndWholeMovie) {
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  EXPECT_TRUE(dlg.toggle_enabled);
  dlg.toggle_range();
  EXPECT_EQ(dlg.start(), 0);
  EXPECT_EQ(dlg.length(), 100);
  EXPECT_EQ(dlg.toggle_text, "Seg");
  EXPECT_EQ(dlg.length_text, "4;00");
  dlg.toggle_range();
  EXPECT_EQ(dlg.start(), 10);

  // A record on the whole movie, or one without a range: toggle disabled.
  EditorRecordData whole = rec;
  whole.count = 0;
  CSaveDlg d2(&whole, &editor);
  d2.init();
  EXPECT_FALSE(d2.toggle_enabled);
  EXPECT_EQ(d2.length(), 100);
}

TEST_F(SaveDialogTest, AllowedKindsAndFallback) {
  struct Case {
    int audio, mpeg2, kind;
    bool vcd, ts, mpeg1;
    SaveButton checked;
  } cases[] = {
      {1, 1, 8, true, true, true, SaveButton::transport},
      {0, 0, 8, false, false, true, SaveButton::svcd},  // falls back in order
      {0, 1, 4, false, false, false, SaveButton::svcd},
      {0, 0, 4, false, false, true, SaveButton::mpeg1},
      {1, 0, 7, true, true, true, SaveButton::svcd},  // requested SVCD
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.audio << c.mpeg2 << c.kind);
    EditorRecordData r = rec;
    r.audio.has_audio = c.audio;
    r.video.mpeg2_format = c.mpeg2;
    r.output_type = c.kind;
    CSaveDlg dlg(&r, &editor);
    dlg.init();
    EXPECT_EQ(dlg.enabled[int(SaveButton::vcd)], c.vcd);
    EXPECT_EQ(dlg.enabled[int(SaveButton::transport)], c.ts);
    EXPECT_EQ(dlg.enabled[int(SaveButton::mpeg1)], c.mpeg1);
    EXPECT_EQ(dlg.checked, c.checked);
    EXPECT_EQ(r.output_type, save_kind_of(c.checked));
    EXPECT_EQ(r.svcd, c.checked == SaveButton::svcd ? 1 : 0);
    EXPECT_EQ(dlg.audio_enabled, c.audio == 1);
    if (!c.ts) EXPECT_EQ(dlg.estimates[int(SaveButton::transport)], 0.0);
  }
}

TEST_F(SaveDialogTest, EstimateAndButtons) {
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  EXPECT_EQ(dlg.estimate_text, "0.200");
  EXPECT_FALSE(dlg.save_enabled);
  EXPECT_FALSE(dlg.select_pid_visible);
  dlg.choose(SaveButton::transport);
  EXPECT_EQ(dlg.estimate_text, "0.220");
  EXPECT_TRUE(dlg.select_pid_visible);
  dlg.choose(SaveButton::edl);
  EXPECT_EQ(dlg.estimate_text, "0.000");
  EXPECT_FALSE(dlg.video_enabled);
  dlg.set_file_name("x");
  EXPECT_TRUE(dlg.save_enabled);
  EXPECT_TRUE(dlg.batch_enabled);
  dlg.from_batch = 1;
  dlg.set_file_name("y");
  EXPECT_FALSE(dlg.batch_enabled);
}

TEST_F(SaveDialogTest, SelectPidAndBatchHandTheirValuesOn) {
  CSaveDlg dlg(&rec, &editor);
  int asked = 0;
  bool answer = true;
  dlg.run_select_pid = [&](int* program, int* video, int* audio) {
    ++asked;
    EXPECT_EQ(*program, rec.program_pid);
    *program = 100;
    *video = 101;
    *audio = 102;
    return answer;
  };
  dlg.init();
  dlg.select_pid();  // hidden outside transport streams
  EXPECT_EQ(asked, 0);
  dlg.choose(SaveButton::transport);
  answer = false;  // Cancel keeps the PIDs
  dlg.select_pid();
  EXPECT_NE(rec.video_pid, 101);
  answer = true;
  dlg.select_pid();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(rec.program_pid, 100);
  EXPECT_EQ(rec.video_pid, 101);
  EXPECT_EQ(rec.audio_pid, 102);

  std::vector<std::pair<EditorRecordData, std::string>> handed;
  dlg.add_batch = [&](const EditorRecordData& r, const std::string& project) {
    handed.emplace_back(r, project);
    return true;
  };
  EXPECT_FALSE(dlg.batch());  // no name yet
  const std::string dir = fakes.paths.temp;
  dlg.set_file_name(dir + "/job");
  dlg.set_start_text("12");
  ASSERT_TRUE(dlg.batch());
  ASSERT_EQ(handed.size(), 1u);
  EXPECT_EQ(handed[0].second, dir + "/job.m2t.rec");
  EXPECT_EQ(handed[0].first.second_file_name, dir + "/job.m2t");
  EXPECT_EQ(handed[0].first.output_type, 8);
  EXPECT_EQ(handed[0].first.start, 12);
  EXPECT_EQ(handed[0].first.program_pid, 100);
  EXPECT_EQ(rec.start, 10);  // the window's record is not the batch's
  dlg.from_batch = 1;
  dlg.set_file_name(dir + "/job2");
  EXPECT_FALSE(dlg.batch());
}

TEST_F(SaveDialogTest, SaveChecksNameExtensionAndDisk) {
  const std::string dir = fakes.paths.temp;
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  EXPECT_FALSE(dlg.on_ok());
  EXPECT_EQ(fakes.prompter.last_text(), "No file name specified");

  // A transport stream name without extension gets ".m2t".
  dlg.choose(SaveButton::transport);
  dlg.file_name = dir + "/out";
  ASSERT_TRUE(dlg.on_ok());
  EXPECT_EQ(rec.second_file_name, dir + "/out.m2t");
  EXPECT_EQ(rec.output_type, 8);
  EXPECT_EQ(rec.start, 10);
  EXPECT_EQ(rec.count, 20);

  // The disk list: the save folder's disk selected from the start.
  fakes.disk.volume_list = {{"/", 5e9}, {dir, 2e6}};
  EditorRecordData r2 = rec;
  r2.file_name = dir + "/";
  CSaveDlg d2(&r2, &editor);
  d2.init();
  EXPECT_EQ(d2.disks, (std::vector<std::string>{"/:5000.0 MB", dir + ":   2.0 MB"}));
  EXPECT_EQ(d2.disk_selected, 1);

  // Too little space: Abort keeps the dialog; Retry asks again; Ignore saves.
  fakes.disk.free[dir] = 1000;
  fakes.disk.volume_list = {{dir, 1000}};
  fakes.prompter.answers = {PromptAnswer::Abort};
  dlg.file_name = dir + "/a.mpg";
  EXPECT_FALSE(dlg.on_ok());
  EXPECT_NE(fakes.prompter.last_text().find("disk may not have enough space.\nPlease check again."),
            std::string::npos);
  const size_t shown = fakes.prompter.shown.size();
  fakes.prompter.answers = {PromptAnswer::Retry, PromptAnswer::Ignore};
  EXPECT_TRUE(dlg.on_ok());
  EXPECT_EQ(fakes.prompter.shown.size(), shown + 2);
}

TEST_F(SaveDialogTest, VideoSetupNoClipHasIsRefused) {
  // The Video CD rules ask for MPEG-1 pictures: no clip has them.
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  dlg.choose(SaveButton::vcd);
  EXPECT_EQ(rec.video.mpeg2_format, 0);
  dlg.file_name = fakes.paths.temp + "/v.mpg";
  EXPECT_FALSE(dlg.on_ok());
  EXPECT_NE(fakes.prompter.last_text().find("No clip of the movie is MPEG-1 video of 352x"), std::string::npos);
  // The video alone is taken as it is.
  dlg.choose(SaveButton::video_es);
  EXPECT_TRUE(dlg.on_ok());
}

TEST_F(SaveDialogTest, AudioSetupOkTakesItsValuesCancelKeeps) {
  rec.audio.layer = 2;
  rec.audio.sample_rate = 48000;
  rec.audio.bit_rate = 192000;
  rec.audio.channels = 2;
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  ASSERT_TRUE(dlg.audio_enabled);
  bool accept = false;
  dlg.run_audio_setup = [&](CAudioEncoderSetupDlg& setup) {
    setup.vcd();
    return accept;
  };
  dlg.audio();
  EXPECT_EQ(rec.audio.bit_rate, 192000);
  accept = true;
  dlg.audio();
  EXPECT_EQ(rec.audio.bit_rate, 224000);
  EXPECT_EQ(rec.audio.sample_rate, 44100);
}

TEST_F(SaveDialogTest, VideoSetupTargetsSetTheKindOnlyWhenMet) {
  rec.audio.layer = 2;
  rec.audio.sample_rate = 44100;
  rec.audio.bit_rate = 224000;
  rec.audio.channels = 2;
  rec.video.set_size(720, 576);
  rec.video.frame_rate = 25;
  rec.video.bit_rate = 6000000;
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  ASSERT_TRUE(dlg.video_enabled);
  std::function<void(CVideoEncoderSetupDlg&)> act;
  dlg.run_video_setup = [&](CVideoEncoderSetupDlg& setup) {
    act(setup);
    return true;
  };
  // DVD asked for: the audio is brought to 48 kHz and the flag set.
  act = [](CVideoEncoderSetupDlg& s) { s.check_dvd(); };
  dlg.video();
  EXPECT_EQ(rec.output_type, 6);
  EXPECT_EQ(rec.dvd, 1);
  EXPECT_EQ(rec.audio.sample_rate, 48000);
  EXPECT_EQ(dlg.checked, SaveButton::program);
  // SVCD asked for: kind 6 with the SVCD flag, no DVD flag.
  act = [](CVideoEncoderSetupDlg& s) { s.check_svcd(); };
  dlg.video();
  EXPECT_EQ(rec.svcd, 1);
  EXPECT_EQ(rec.dvd, 0);
  EXPECT_EQ(dlg.checked, SaveButton::svcd);
  // A picture outside the SVCD rules leaves the SVCD kind.
  act = [](CVideoEncoderSetupDlg& s) { s.set_width(720); };
  dlg.video();
  EXPECT_EQ(rec.svcd, 0);
  EXPECT_EQ(dlg.checked, SaveButton::program);
  // No request: the DVD flag is never taken as a fallback.
  act = [](CVideoEncoderSetupDlg& s) { s.set_bit_rate(5000000); };
  dlg.video();
  EXPECT_EQ(rec.dvd, 0);
  EXPECT_EQ(rec.video.bit_rate, 5000000);
}

TEST_F(SaveDialogTest, SourceOfTheEditorIsRefused) {
  const std::string src = fakes.paths.temp + "/src.mpg";
  FILE* f = std::fopen(src.c_str(), "wb");
  ASSERT_TRUE(f);
  std::fclose(f);
  editor.file = src;
  const int token = fakes.file_use.add_inputs([&] { return editor.source_files(); });
  CSaveDlg dlg(&rec, &editor);
  dlg.init();
  dlg.file_name = src;
  EXPECT_FALSE(dlg.on_ok());
  fakes.file_use.release(token);
}

// ---------------------------------------------------------------- jobs

struct JobHost : SaveJobHost {
  std::vector<int> timers;
  std::vector<std::string> announced;
  bool dialog_result = true;
  std::function<void(CSaveDlg&)> in_dialog;
  bool run_save_dialog(CSaveDlg& d) override {
    if (in_dialog) in_dialog(d);
    return dialog_result && d.on_ok();
  }
  void start_poll_timer(int id, int ms) override {
    EXPECT_EQ(ms, 1000);
    timers.push_back(id);
  }
  void stop_poll_timer(int id) override { timers.push_back(-id); }
  void announce(const std::string& path) override { announced.push_back(path); }
};

// A job the test drives: it reports `target` as its progress and ends at
// 100 with `outcome`.
struct FakeJob {
  std::atomic<int> target{0};
  std::atomic<int> outcome{int(JobOutcome::done)};
  std::string message;
  JobWork work() {
    return [this](JobControl& c) {
      c.set_sleep([](int) { std::this_thread::yield(); });
      for (;;) {
        if (c.checkpoint()) {
          c.finish(JobOutcome::stopped);
          return;
        }
        const int t = target.load();
        if (t > c.progress()) c.set_progress(t);
        if (t >= 100) {
          c.finish(JobOutcome(outcome.load()), 0, message);
          return;
        }
        std::this_thread::yield();
      }
    };
  }
};

template <class F>
void wait_for(F done) {
  for (int i = 0; i < 20000000 && !done(); ++i) std::this_thread::yield();
  ASSERT_TRUE(done());
}

class SaveJobTest : public ::testing::Test {
 protected:
  SaveJobTest() : editor(100, 64, 48, 25.0), jobs(&settings, &host) {
    settings.set_defaults();
    jobs.set_editor(&editor);
    jobs.set_record_filler([](IEditor*, EditorRecordData* r) {
      r->audio.has_audio = 1;
      r->rates.program = 100;
      Clip c;
      c.clip_type = 6;
      c.video_stream_count = 1;
      c.mpeg2 = r->video.mpeg2_format;
      c.width = r->video.width;
      c.height = r->video.height;
      c.frame_rate = r->video.frame_rate;
      r->project.clips = {c};
      return true;
    });
    jobs.set_save_work_factory([this](IEditor*, const EditorRecordData& r, std::string*) {
      saved_record = r;
      return job.work();
    });
    jobs.set_trim_work_factory([this](const std::string&, const std::string&, int, int) { return trim.work(); });
    out = fakes.paths.temp + "/out.mpg";
  }
  void start_save(int kind = 6) {
    settings.save_type = kind;
    host.in_dialog = [this](CSaveDlg& d) { d.file_name = out; };
    jobs.save_edited_movie(10, 29);
    ASSERT_TRUE(jobs.is_saving());
  }
  void end_job(FakeJob& j) {
    j.target = 100;
    wait_for([&] { return &j == &job ? jobs.save_ended() : jobs.trim_ended(); });
  }
  FakePlatform fakes;
  EditorSettings settings;
  FakeEditor editor;
  JobHost host;
  FakeJob job, trim;
  EditorRecordData saved_record;
  PlayerSaveJobs jobs;
  std::string out;
};

TEST_F(SaveJobTest, PauseCloseReshowAndCompletion) {
  start_save();
  EXPECT_EQ(saved_record.start, 10);
  EXPECT_EQ(saved_record.count, 20);
  EXPECT_EQ(saved_record.second_file_name, out);
  EXPECT_EQ(settings.save_type, 6);
  ASSERT_TRUE(jobs.save_window());
  EXPECT_EQ(jobs.save_window()->title(), out);
  EXPECT_EQ(jobs.save_window()->job_text(), "Saving is in progress ......");

  job.target = 40;
  wait_for([&] { return jobs.save_control().progress() >= 40; });
  jobs.poll_save_job();
  EXPECT_EQ(jobs.save_window()->percent, 40);

  jobs.save_window()->on_pause();
  EXPECT_EQ(jobs.save_control().command(), JobCommand::pause);
  EXPECT_EQ(jobs.save_window()->pause_text(), "Resume");
  job.target = 60;  // paused: no progress reaches the window
  jobs.poll_save_job();
  EXPECT_EQ(jobs.save_window()->percent, 40);
  jobs.save_window()->on_pause();
  EXPECT_EQ(jobs.save_control().command(), JobCommand::run);

  // Close leaves the job running; Save shows a window that goes on.
  fakes.clock.advance(7000);
  jobs.save_window()->on_close();
  EXPECT_EQ(jobs.save_window(), nullptr);
  EXPECT_TRUE(jobs.is_saving());
  wait_for([&] { return jobs.save_control().progress() >= 60; });
  jobs.save_edited_movie(10, 29);
  ASSERT_TRUE(jobs.save_window());
  EXPECT_GE(jobs.save_window()->percent, 60);
  EXPECT_EQ(jobs.save_window()->time_text(), "Time:   0:00:07");

  EXPECT_EQ(jobs.check_close(), 0);
  EXPECT_EQ(fakes.prompter.last_text(), kSaveNotCompletedMessage);

  end_job(job);
  jobs.poll_save_job();  // 100 %: the headless window closes at once
  EXPECT_EQ(jobs.save_window(), nullptr);
  EXPECT_FALSE(jobs.is_saving());
  ASSERT_EQ(host.announced.size(), 1u);
  EXPECT_EQ(host.announced[0], out);
  EXPECT_EQ(jobs.check_close(), 1);
}

TEST_F(SaveJobTest, StopAnswersAndFailuresAnnounceNothing) {
  struct Case {
    PromptAnswer answer;  // to the Stop question; Ok: no stop, the job fails
    JobCommand command;
  } cases[] = {{PromptAnswer::Yes, JobCommand::stop_delete},
               {PromptAnswer::No, JobCommand::stop_keep},
               {PromptAnswer::Ok, JobCommand::run}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.answer));
    job.target = 0;
    host.announced.clear();
    start_save();
    job.target = 30;
    if (c.answer != PromptAnswer::Ok) {
      fakes.prompter.answers = {c.answer};
      jobs.save_window()->on_stop();
      EXPECT_EQ(fakes.prompter.last_text(), "Delete the partially saved MPEG file ?");
      EXPECT_EQ(jobs.save_control().command(), c.command);
      EXPECT_EQ(jobs.save_window(), nullptr);
      wait_for([&] { return jobs.save_ended(); });
    } else {
      job.outcome = int(JobOutcome::failed);
      job.message = "cannot write";
      end_job(job);
      jobs.poll_save_job();
      EXPECT_EQ(fakes.prompter.last_text(), "<" + out + ">: cannot write");
      job.outcome = int(JobOutcome::done);
    }
    // Collected once its thread ended, below 100 as well.
    EXPECT_EQ(jobs.collect_save_job(), 1);
    EXPECT_FALSE(jobs.is_saving());
    EXPECT_TRUE(host.announced.empty());
  }
}

TEST_F(SaveJobTest, StopCancelResumesOnlyWhatItPaused) {
  start_save();
  fakes.prompter.answers = {PromptAnswer::Cancel};
  jobs.save_window()->on_stop();
  EXPECT_EQ(jobs.save_control().command(), JobCommand::run);
  jobs.save_window()->on_pause();
  fakes.prompter.answers = {PromptAnswer::Cancel};
  jobs.save_window()->on_stop();
  EXPECT_EQ(jobs.save_control().command(), JobCommand::pause);
  EXPECT_EQ(jobs.save_window()->paused, 1);
  jobs.save_window()->on_pause();
  end_job(job);
  jobs.poll_save_job();
}

TEST_F(SaveJobTest, CloseRefusedDuringTrim) {
  const std::string src = fakes.paths.temp + "/src.mpg";
  ASSERT_EQ(jobs.start_trim_job(src, out, 0, 10), 1);
  EXPECT_TRUE(jobs.is_trimming());
  ASSERT_TRUE(jobs.trim_window());
  EXPECT_EQ(jobs.trim_window()->job_text(), "Trimming is in progress ......");
  EXPECT_EQ(jobs.check_close(), 0);
  EXPECT_EQ(fakes.prompter.last_text(), kSaveNotCompletedMessage);
  end_job(trim);
  jobs.poll_trim_job();
  EXPECT_EQ(jobs.check_close(), 1);
  EXPECT_EQ(host.announced, std::vector<std::string>{out});
}

TEST_F(SaveJobTest, ProjectNameGivesDefaultOutputOnlyAsEnding) {
  struct Case {
    const char* editor_name;
    const char* want;
  } cases[] = {{"/p/cut.qme", "/p/cut.mpg"}, {"/p/x.qme/movie.mpg", ""}, {"/p/cut.QME", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.editor_name);
    PlayerSaveJobs fresh(&settings, &host);
    fresh.set_editor(&editor);
    editor.name = c.editor_name;
    std::string shown = "unset";
    host.in_dialog = [&](CSaveDlg& d) { shown = d.file_name; };
    host.dialog_result = false;
    fresh.save_edited_movie(0, 9);
    EXPECT_EQ(shown, c.want);
  }
  host.dialog_result = true;
}

TEST_F(SaveJobTest, ProjectKindIsWrittenAtOnceWithoutWindow) {
  job.target = 100;
  settings.save_type = 0;
  host.in_dialog = [this](CSaveDlg& d) {
    d.choose(SaveButton::edl);
    d.file_name = fakes.paths.temp + "/p.qme";
  };
  jobs.save_edited_movie(0, 99);
  EXPECT_FALSE(jobs.is_saving());
  EXPECT_EQ(jobs.save_window(), nullptr);
  EXPECT_EQ(saved_record.output_type, 0);
  EXPECT_TRUE(host.timers.empty());
}

}  // namespace
