// Every long job obeys one JobControl the same way: a pause waits through
// the control's sleep (no real time passes) and the job then writes what an
// unpaused run writes; a stop that keeps leaves a file a player reads; a
// stop that deletes leaves nothing. Each scenario is driven from the job's
// own progress reports, so the command lands while the job runs.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <thread>
#include <string>
#include <vector>

#include "audio/track/audio_editor.h"
#include "demux/gop_fixer.h"
#include "demux/timestamp_scan.h"
#include "engine/clips/cliplist_file.h"
#include "engine/gop_trim.h"
#include "foundation/job_control.h"
#include "mux/convertor.h"
#include "mux/demux_job.h"
#include "mux/mux_drivers.h"
#include "record/record_data.h"
#include "support.h"

namespace {

using tsupport::fixture;
using tsupport::read_file;
using tsupport::sh_quote;

bool exists(const std::string& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0;
}

// A player reads at least one stream of the file, without an error.
bool playable(const std::string& file) {
  std::string out;
  const int rc = tsupport::run("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 " + sh_quote(file) +
                                   " 2>&1",
                               &out);
  return rc == 0 && (out.find("video") != std::string::npos || out.find("audio") != std::string::npos);
}

struct Job {
  const char* name;
  std::vector<std::string> fixtures;
  // Runs the job once into dir under the control; the files it writes
  // (none for the scan, which lists). *listing gets what a list-only job
  // found, to compare runs.
  std::function<std::vector<std::string>(JobControl&, const std::string& dir, std::string* listing)> run;
};

std::vector<std::string> run_save(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/save.mpg";
  MPEG_Clip* clip = mpeg_clip_of_file(fixture("sv_open.m2v").c_str(), 0, 100);
  EXPECT_NE(clip, nullptr);
  RecordData d;
  d.kind = 3;
  d.name = out;
  RecordJob job(clip, d, &c);
  delete clip;
  prepare_recording(job);
  return {out};
}

std::vector<std::string> run_trim(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/trim.m2v";
  trim_packet(fixture("fa_sd.m2v").c_str(), out.c_str(), 0, 300, &c);
  return {out};
}

std::vector<std::string> run_convert(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/convert.mpg";
  Convertor conv;
  EXPECT_EQ(conv.load(fixture("cv_dvd.vob").c_str()), 1);
  int ids[16], pids[16];
  const int n = conv.get_es_list(nullptr, ids, pids, 16);
  for (int i = 0; i < n; ++i) conv.select_stream(ids[i], pids[i]);
  conv.save(out.c_str(), 6, &c);
  return {out};
}

std::vector<std::string> run_demux(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/e0.m2v";
  auto job = MPEG_Demuxer::create(fixture("ps_dvd.vob").c_str());
  EXPECT_TRUE(job);
  if (!job) return {};
  const uint32_t video = 0xE0;
  const char* names[1] = {out.c_str()};
  job->save_es_data(1, &video, names, &c);
  return {out};
}

std::vector<std::string> run_mux(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/mux.mpg";
  std::vector<ESData> in(2);
  int err = 0;
  in[0].open(fixture("pm_m2.m2v").c_str(), &err);
  EXPECT_EQ(err, 0);
  in[1].open(fixture("pm_a48.mp2").c_str(), &err);
  EXPECT_EQ(err, 0);
  muxer_encode(out.c_str(), 6, 2, in.data(), &c, 0, 0, 0, 0);
  return {out};
}

std::vector<std::string> run_fix(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/fixed.m2v";
  GopFixer f;
  EXPECT_EQ(f.init(fixture("fix_ab.m2v").c_str()), 0);
  JobControl scan;
  EXPECT_EQ(f.scan_job(&scan), 0);
  EXPECT_GE(f.get_error_count(), 5);  // three fix steps: the command lands between them
  f.set_out_fname(out.c_str());
  f.fix_job(&c);
  return {out};
}

std::vector<std::string> run_scan(JobControl& c, const std::string&, std::string* listing) {
  TimeStampScan s;
  EXPECT_EQ(s.open(fixture("ps_dvd.vob").c_str()), 0);
  const int changes = s.scan(&c);
  *listing = std::to_string(changes) + (s.done() ? " done" : " open");
  for (int kind = 1; kind <= 3; ++kind) {
    const TimeStampEntry* e = nullptr;
    const int n = s.get_list(kind, &e);
    for (int i = 0; i < n; ++i)
      *listing += " " + std::to_string(kind) + ":" + std::to_string(e[i].start) + "-" + std::to_string(e[i].end);
  }
  return {};
}

std::vector<std::string> run_audio_save(JobControl& c, const std::string& dir, std::string*) {
  const std::string out = dir + "/audio.mp2";
  AudioEditor ed;
  int err = 0;
  ed.create(fixture("pm_a48.mp2").c_str(), &err, 0, 0);
  EXPECT_EQ(err, 0);
  AudioRecordSettings s;
  s.sample_rate = 48000;
  ed.record(out.c_str(), s, 0.0, ed.get_length(), &c, nullptr);
  return {out};
}

const Job kJobs[] = {
    {"save", {"sv_open.m2v"}, run_save},
    {"gop_trim", {"fa_sd.m2v"}, run_trim},
    {"convert", {"cv_dvd.vob"}, run_convert},
    {"demux", {"ps_dvd.vob"}, run_demux},
    {"mux", {"pm_m2.m2v", "pm_a48.mp2"}, run_mux},
    {"gop_fix", {"fix_ab.m2v"}, run_fix},
    {"timestamp_scan", {"ps_dvd.vob"}, run_scan},
    {"audio_save", {"pm_a48.mp2"}, run_audio_save},
};

enum class Act { none, pause, stop_keep, stop_delete };

struct JobRun {
  std::vector<std::string> outputs;
  std::string listing;
  std::vector<std::vector<uint8_t>> bytes;
  JobOutcome outcome = JobOutcome::running;
  double progress = 0;
  int reports_below_100 = 0, sleeps = 0;
};

// Runs the job with the act sent at its first progress report from 25 %
// (some output written) below 100; a pause lasts two of the job's polls.
JobRun run_with(const Job& job, Act act, const std::string& dir) {
  EXPECT_EQ(tsupport::run("mkdir -p " + sh_quote(dir)), 0);
  JobControl c;
  JobRun r;
  bool sent = false;
  c.set_progress_callback([&](double p) {
    if (p >= 100.0) return;
    ++r.reports_below_100;
    if (sent || act == Act::none || p < 25.0) return;
    sent = true;
    if (act == Act::pause) c.pause();
    if (act == Act::stop_keep) c.stop(true);
    if (act == Act::stop_delete) c.stop(false);
  });
  c.set_sleep([&](int ms) {
    EXPECT_EQ(ms, JobControl::kPausePollMs);
    if (++r.sleeps == 2) c.resume();
  });
  r.outputs = job.run(c, dir, &r.listing);
  r.outcome = c.outcome();
  r.progress = c.progress();
  for (const std::string& o : r.outputs) r.bytes.push_back(read_file(o));
  return r;
}

TEST(JobControlJobs, EveryJobPausesResumesAndStopsAsAsked) {
  for (const Job& job : kJobs) {
    SCOPED_TRACE(job.name);
    bool have = true;
    for (const std::string& f : job.fixtures) have = have && exists(fixture(f));
    if (!have) {
      ADD_FAILURE() << "fixtures missing";
      continue;
    }
    const std::string base = tsupport::temp_dir() + "/" + job.name;

    const JobRun plain = run_with(job, Act::none, base + "/plain");
    ASSERT_EQ(plain.outcome, JobOutcome::done);
    EXPECT_EQ(plain.progress, 100.0);
    ASSERT_GE(plain.reports_below_100, 2) << "too short to steer";
    for (size_t i = 0; i < plain.outputs.size(); ++i) {
      EXPECT_FALSE(plain.bytes[i].empty()) << plain.outputs[i];
      EXPECT_TRUE(playable(plain.outputs[i])) << plain.outputs[i];
    }

    const JobRun paused = run_with(job, Act::pause, base + "/paused");
    EXPECT_EQ(paused.outcome, JobOutcome::done);
    EXPECT_EQ(paused.sleeps, 2);
    EXPECT_EQ(paused.progress, 100.0);
    EXPECT_EQ(paused.listing, plain.listing);
    ASSERT_EQ(paused.bytes.size(), plain.bytes.size());
    for (size_t i = 0; i < plain.bytes.size(); ++i) EXPECT_TRUE(paused.bytes[i] == plain.bytes[i]) << i;

    const JobRun kept = run_with(job, Act::stop_keep, base + "/kept");
    EXPECT_EQ(kept.outcome, JobOutcome::stopped);
    EXPECT_EQ(kept.sleeps, 0);
    if (!kept.outputs.empty()) EXPECT_EQ(kept.progress, 100.0);  // the window closes its progress
    for (const std::string& o : kept.outputs) {
      EXPECT_TRUE(exists(o)) << o;
      EXPECT_TRUE(playable(o)) << o;
    }
    if (plain.outputs.empty()) EXPECT_NE(kept.listing, plain.listing);  // a stopped scan stays open

    const JobRun deleted = run_with(job, Act::stop_delete, base + "/deleted");
    EXPECT_EQ(deleted.outcome, JobOutcome::stopped);
    if (!deleted.outputs.empty()) EXPECT_EQ(deleted.progress, 100.0);
    for (const std::string& o : deleted.outputs) EXPECT_FALSE(exists(o)) << o;
  }
}

// The window's side from another thread, as the tools run their jobs: it
// reads the progress until the job is under way, stops it with delete and
// reads the outcome and its message once the job has ended. Under
// ThreadSanitizer this shows that nothing else is shared.
TEST(JobControlJobs, StopFromTheWindowThreadEndsEveryJob) {
  for (const Job& job : kJobs) {
    SCOPED_TRACE(job.name);
    const std::string dir = tsupport::temp_dir() + "/" + job.name + "_thread";
    ASSERT_EQ(tsupport::run("mkdir -p " + sh_quote(dir)), 0);
    JobControl c;
    std::vector<std::string> outputs;
    std::string listing;
    std::thread worker([&] { outputs = job.run(c, dir, &listing); });
    while (!c.finished() && c.progress() < 25.0) std::this_thread::yield();
    c.stop(false);
    while (!c.finished()) std::this_thread::yield();
    const JobOutcome outcome = c.outcome();
    const std::string message = c.message();
    worker.join();
    // A stopped scan keeps its position to go on from; every other end is 100.
    if (std::string(job.name) != "timestamp_scan" || outcome == JobOutcome::done) EXPECT_EQ(c.progress(), 100.0);
    ASSERT_TRUE(outcome == JobOutcome::stopped || outcome == JobOutcome::done) << message;
    if (outcome == JobOutcome::stopped)
      for (const std::string& o : outputs) EXPECT_FALSE(exists(o)) << o;
  }
}

}  // namespace
