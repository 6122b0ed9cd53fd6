// Saves from an editor window's jobs on the real engine: a movie cut
// inside GOPs saved in each kind decodes silently with exactly the marked
// frames; GOP Trim writes what the engine's test driver writes.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/editor/save_dialog.h"
#include "app/editor/save_job.h"
#include "app/editor/video_encoder_setup.h"
#include "app/shell/editor_settings.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

struct Host : SaveJobHost {
  SaveButton kind = SaveButton::program;
  bool dvd = false;  // the video setup asks for DVD output
  std::function<void(EditorRecordData&)> tweak;  // changes the record before Save
  std::string name;
  std::vector<std::string> announced;
  bool run_save_dialog(CSaveDlg& d) override {
    d.choose(kind);
    if (dvd) {
      d.run_video_setup = [](CVideoEncoderSetupDlg& s) {
        s.check_dvd();
        return true;
      };
      d.video();
    }
    d.file_name = name;
    if (tweak) tweak(*d.record());
    return d.on_ok();
  }
  void start_poll_timer(int, int) override {}
  void stop_poll_timer(int) override {}
  void announce(const std::string& path) override { announced.push_back(path); }
};

int decoded_frames(const std::string& path, std::string* errors) {
  tsupport::run("ffmpeg -v error -i " + tsupport::sh_quote(path) + " -f null - 2>&1", errors);
  std::string out;
  tsupport::run("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 " +
                    tsupport::sh_quote(path),
                &out);
  return std::atoi(out.c_str());
}

class EngineSaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!tsupport::have_program("ffmpeg") || !tsupport::have_program("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    movie = tsupport::fixture("ui.mpg");
    editor = MpegEditorAdapter::open(movie, 0);
    ASSERT_TRUE(editor);
    settings.set_defaults();
    jobs = std::make_unique<PlayerSaveJobs>(&settings, &host);
    jobs->set_editor(editor.get());
    dir = tsupport::test_dir();
  }
  void finish(bool trim) {
    for (int i = 0; i < 600000000 && !(trim ? jobs->trim_ended() : jobs->save_ended()); ++i)
      std::this_thread::yield();
    if (trim) jobs->poll_trim_job();
    else jobs->poll_save_job();
  }
  FakePlatform fakes;
  EditorSettings settings;
  Host host;
  std::string movie, dir;
  std::unique_ptr<IEditor> editor;
  std::unique_ptr<PlayerSaveJobs> jobs;
};

TEST_F(EngineSaveTest, CutInsideGopsSavedInEachKind) {
  struct Case {
    const char* source;
    SaveButton kind;
    const char* name;
    int mark_in, mark_out;  // GOPs of 12 (15 for the disc fixtures): both ends inside one
  } cases[] = {{"ui.mpg", SaveButton::video_es, "es.mpv", 5, 60},
               {"ui.mpg", SaveButton::mpeg1, "mpeg1.mpg", 5, 60},
               {"ui.mpg", SaveButton::program, "ps.mpg", 5, 60},
               {"ui.mpg", SaveButton::transport, "ts.m2t", 5, 60},
               {"ui.mpg", SaveButton::edl, "cut.qme", 5, 60},
               {"fields_pal-vcd.mpg", SaveButton::vcd, "vcd.mpg", 3, 20},
               {"fields_pal-svcd.mpg", SaveButton::svcd, "svcd.mpg", 3, 20}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    movie = tsupport::fixture(c.source);
    editor = MpegEditorAdapter::open(movie, 0);
    ASSERT_TRUE(editor);
    jobs->set_editor(editor.get());
    host.kind = c.kind;
    host.name = dir + "/" + c.name;
    host.announced.clear();
    const int frames = c.mark_out - c.mark_in + 1;
    jobs->save_edited_movie(c.mark_in, c.mark_out);
    EXPECT_TRUE(fakes.prompter.shown.empty()) << fakes.prompter.last_text();
    if (c.kind == SaveButton::edl) {
      EXPECT_FALSE(jobs->is_saving());
      auto reopened = MpegEditorAdapter::open(host.name, 0);
      ASSERT_TRUE(reopened);
      EXPECT_EQ(reopened->get_total_frames(), frames);
      continue;
    }
    ASSERT_TRUE(jobs->is_saving());
    // The window goes on editing while the save runs on its own copy.
    EXPECT_EQ(editor->frame_cut(0, 2), 1);
    finish(false);
    EXPECT_FALSE(jobs->is_saving());
    ASSERT_EQ(host.announced, std::vector<std::string>{host.name});
    std::string errors;
    EXPECT_EQ(decoded_frames(host.name, &errors), frames);
    EXPECT_EQ(errors, "");
    EXPECT_FALSE(tsupport::partial_left(host.name));
    if (c.kind == SaveButton::vcd) {
      std::string codec;
      tsupport::run("ffprobe -v error -select_streams v:0 -show_entries stream=codec_name -of csv=p=0 " +
                        tsupport::sh_quote(host.name),
                    &codec);
      EXPECT_EQ(codec, "mpeg1video\n");
    }
  }
}

TEST_F(EngineSaveTest, DvdRequestWritesNavigationPacksDvdauthorAccepts) {
  TSUPPORT_NEED_FIXTURES("cv_dvd.vob");
  if (!tsupport::have_program("dvdauthor")) GTEST_SKIP() << "no dvdauthor";
  movie = tsupport::fixture("cv_dvd.vob");
  editor = MpegEditorAdapter::open(movie, 0);
  ASSERT_TRUE(editor);
  jobs->set_editor(editor.get());
  host.dvd = true;
  host.name = dir + "/dvd.mpg";
  jobs->save_edited_movie(3, 40);
  ASSERT_TRUE(jobs->is_saving()) << fakes.prompter.last_text();
  EXPECT_EQ(jobs->record().dvd, 1);
  finish(false);
  std::string errors;
  EXPECT_EQ(decoded_frames(host.name, &errors), 38);
  EXPECT_EQ(errors, "");
  // A navigation pack (PCI and DSI private stream 2 packets) leads each
  // VOBU.
  const std::vector<uint8_t> bytes = tsupport::read_file(host.name);
  int nav = 0;
  for (size_t i = 0; i + 4 <= bytes.size(); i += 2048)
    if (bytes[i + 14] == 0 && bytes[i + 15] == 0 && bytes[i + 16] == 1 && bytes[i + 17] == 0xBB) {
      const size_t pes = i + 14 + 6 + size_t(bytes[i + 18] << 8 | bytes[i + 19]);
      nav += pes + 4 <= bytes.size() && bytes[pes + 3] == 0xBF;
    }
  EXPECT_GE(nav, 3);
  std::string out;
  const int rc = tsupport::run("VIDEO_FORMAT=PAL dvdauthor -o " + tsupport::sh_quote(dir + "/dvd") + " -t " +
                                   tsupport::sh_quote(host.name) + " 2>&1",
                               &out);
  EXPECT_EQ(rc, 0) << out;
}

// The "Audio CRC Flag" setting: encoded audio frames carry a CRC that
// checks; without it they carry none.
TEST_F(EngineSaveTest, AudioCrcSettingReachesEncodedFrames) {
  host.tweak = [](EditorRecordData& r) {
    r.audio.bit_rate = 192000;  // not the source's: the audio is encoded
    r.audio.clip_select = -1;
  };
  for (const int crc : {1, 0}) {
    SCOPED_TRACE(crc);
    settings.audio_crc = crc;
    host.name = dir + "/crc" + std::to_string(crc) + ".mpg";
    jobs->save_edited_movie(0, 40);
    ASSERT_TRUE(jobs->is_saving()) << fakes.prompter.last_text();
    finish(false);
    const std::string mp2 = host.name + ".mp2";
    ASSERT_EQ(tsupport::run("ffmpeg -v error -y -i " + tsupport::sh_quote(host.name) + " -map 0:a -c copy -f mp2 " +
                            tsupport::sh_quote(mp2)),
              0);
    const std::vector<uint8_t> a = tsupport::read_file(mp2);
    ASSERT_GT(a.size(), 4u);
    ASSERT_EQ(a[0], 0xFF);
    EXPECT_EQ((a[2] >> 4), 0xA) << "192 kbit/s";
    EXPECT_EQ(a[1] & 1, crc ? 0 : 1) << "protection bit";
    std::string errors;
    tsupport::run("ffmpeg -v error -err_detect crccheck -i " + tsupport::sh_quote(mp2) + " -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
  }
}

// A full disk (a file size limit, its signal ignored) ends the save with
// the output's name and the cause: no ".partial", an earlier file at the
// target untouched, nothing announced, the movie in the window as it was;
// a save elsewhere then succeeds.
TEST_F(EngineSaveTest, FullDiskEndsTheSaveWithAMessageAndNoFile) {
  const int total = editor->get_total_frames();
  host.name = dir + "/full.mpg";
  const std::vector<uint8_t> earlier = {'o', 'l', 'd'};
  ASSERT_TRUE(tsupport::write_file(host.name, earlier));
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit lim = old;
  lim.rlim_cur = 64 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  jobs->save_edited_movie(0, total - 1);
  const bool started = jobs->is_saving();
  if (started) finish(false);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, old_handler);
  ASSERT_TRUE(started) << fakes.prompter.last_text();
  EXPECT_FALSE(jobs->is_saving());
  EXPECT_TRUE(host.announced.empty());
  const std::string said = fakes.prompter.last_text();
  EXPECT_EQ(said.rfind("<" + host.name + ">: ", 0), 0u) << said;
  EXPECT_NE(said.find(std::strerror(EFBIG)), std::string::npos) << said;
  EXPECT_EQ(tsupport::read_file(host.name), earlier);
  EXPECT_FALSE(tsupport::partial_left(host.name));
  EXPECT_EQ(editor->get_total_frames(), total);

  host.name = dir + "/after.mpg";
  fakes.prompter.shown.clear();
  jobs->save_edited_movie(0, 30);
  ASSERT_TRUE(jobs->is_saving());
  finish(false);
  EXPECT_EQ(host.announced, std::vector<std::string>{host.name});
  std::string errors;
  EXPECT_EQ(decoded_frames(host.name, &errors), 31);
  EXPECT_TRUE(fakes.prompter.shown.empty()) << fakes.prompter.last_text();
}

// A read-only folder: the dialog refuses it and stays open; a folder that
// became read-only after the dialog ends the save with the output's name
// and the cause, leaving nothing there and the movie as it was.
TEST_F(EngineSaveTest, ReadOnlyFolderRefusedOrEndsTheSaveWithAMessage) {
  if (const int status = tsupport::rerun_unprivileged(); status >= 0) {
    if (status == 127) GTEST_SKIP() << "cannot run as an unprivileged user";
    EXPECT_EQ(status, 0) << "the run as nobody failed (its output is above)";
    return;
  }
  const int total = editor->get_total_frames();
  const std::string ro = dir + "/ro";
  ASSERT_EQ(mkdir(ro.c_str(), 0555), 0);
  host.name = ro + "/out.mpg";
  jobs->save_edited_movie(0, 30);
  EXPECT_FALSE(jobs->is_saving());
  EXPECT_NE(fakes.prompter.last_text().find("<" + host.name + ">"), std::string::npos) << fakes.prompter.last_text();

  fakes.prompter.shown.clear();
  fakes.file_use.allow_write.insert(host.name);
  jobs->save_edited_movie(0, 30);
  ASSERT_TRUE(jobs->is_saving()) << fakes.prompter.last_text();
  finish(false);
  EXPECT_TRUE(host.announced.empty());
  const std::string said = fakes.prompter.last_text();
  EXPECT_EQ(said.rfind("<" + host.name + ">: ", 0), 0u) << said;
  EXPECT_NE(said.find(std::strerror(EACCES)), std::string::npos) << said;
  EXPECT_TRUE(std::filesystem::is_empty(ro));
  EXPECT_EQ(editor->get_total_frames(), total);
}

TEST_F(EngineSaveTest, VideoCdOfMpeg2MovieRefusedWithDialogOpen) {
  host.kind = SaveButton::vcd;
  host.name = dir + "/vcd.mpg";
  jobs->save_edited_movie(0, 20);
  EXPECT_FALSE(jobs->is_saving());
  EXPECT_NE(fakes.prompter.last_text().find("No clip of the movie is MPEG-1 video"), std::string::npos);
  FILE* f = std::fopen(host.name.c_str(), "rb");
  EXPECT_EQ(f, nullptr);
  if (f) std::fclose(f);
}

TEST_F(EngineSaveTest, StopYesLeavesNoOutput) {
  host.kind = SaveButton::program;
  host.name = dir + "/stopped.mpg";
  jobs->save_edited_movie(0, editor->get_total_frames() - 1);
  ASSERT_TRUE(jobs->save_window());
  fakes.prompter.answers = {PromptAnswer::Yes};
  jobs->save_window()->on_stop();
  finish(false);
  EXPECT_EQ(jobs->collect_save_job(), 1);
  EXPECT_TRUE(host.announced.empty());
  EXPECT_FALSE(tsupport::partial_left(host.name));
  std::string errors;
  if (FILE* f = std::fopen(host.name.c_str(), "rb")) {
    // A save that ended before the stop was seen is whole.
    std::fclose(f);
    EXPECT_EQ(decoded_frames(host.name, &errors), editor->get_total_frames());
  }
}

TEST_F(EngineSaveTest, PauseResumeGivesSameBytesStopNoKeepsCleanPrefix) {
  const int last = editor->get_total_frames() - 1;
  host.kind = SaveButton::program;
  host.name = dir + "/plain.mpg";
  jobs->save_edited_movie(3, last);
  finish(false);
  ASSERT_EQ(host.announced.size(), 1u);

  host.name = dir + "/paused.mpg";
  jobs->save_edited_movie(3, last);
  ASSERT_TRUE(jobs->save_window());
  jobs->save_window()->on_pause();
  // Edits in the window meanwhile leave the save's own copy alone.
  EXPECT_EQ(editor->frame_cut(10, 40), 1);
  const double at = jobs->save_control().progress();
  for (int i = 0; i < 1000; ++i) std::this_thread::yield();
  jobs->poll_save_job();
  EXPECT_LE(jobs->save_window()->percent, int(at + 0.5) + 1);  // the job waits while paused
  jobs->save_window()->on_pause();
  finish(false);
  ASSERT_EQ(host.announced.size(), 2u);
  EXPECT_EQ(tsupport::read_file(dir + "/paused.mpg"), tsupport::read_file(dir + "/plain.mpg"));

  host.name = dir + "/kept.mpg";
  jobs->save_edited_movie(3, last);
  ASSERT_TRUE(jobs->save_window());
  for (int i = 0; i < 100000000 && jobs->save_control().progress() < 20; ++i) std::this_thread::yield();
  jobs->save_window()->on_pause();
  fakes.prompter.answers = {PromptAnswer::No};
  jobs->save_window()->on_stop();
  finish(false);
  EXPECT_EQ(jobs->collect_save_job(), 1);
  EXPECT_EQ(host.announced.size(), 2u);  // nothing more announced
  EXPECT_FALSE(tsupport::partial_left(host.name));
  if (FILE* f = std::fopen(host.name.c_str(), "rb")) {
    std::fclose(f);
    std::string errors;
    EXPECT_LE(decoded_frames(host.name, &errors), last - 2);
    EXPECT_EQ(errors, "");
  }
}

TEST_F(EngineSaveTest, GopTrimMatchesTheDriver) {
  int start = 5, count = 56;
  const std::string in = editor->get_trim_range(&start, &count);
  ASSERT_FALSE(in.empty());
  const std::string out = dir + "/trim.mpg", want = dir + "/want.mpg";
  ASSERT_EQ(jobs->start_trim_job(in, out, start, count), 1);
  finish(true);
  EXPECT_FALSE(jobs->is_trimming());
  EXPECT_EQ(host.announced, std::vector<std::string>{out});
  ASSERT_EQ(tsupport::dev("gop-trim " + tsupport::sh_quote(in) + " " + std::to_string(start) + " " +
                              std::to_string(count) + " " + tsupport::sh_quote(want),
                          nullptr),
            0);
  EXPECT_EQ(tsupport::read_file(out), tsupport::read_file(want));
}

}  // namespace
