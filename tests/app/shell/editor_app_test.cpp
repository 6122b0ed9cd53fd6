// The open road and the editor table over fake editors and fake windows:
// what refuses a file and with which words, the table's limit, the
// cascade, the settings new editors get, and the windows' events.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <utility>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/tools.h"
#include "fake_editor.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

struct FakeHost : EditorWindowHost {
  struct Window {
    EditorEntry* entry;
    int x, y;
  };
  std::vector<Window> windows;
  bool refuse = false;
  bool job_running = false;
  int playback_stops = 0;
  int client_width = 0, client_height = 0;  // 0: unknown
  bool client_size(int* w, int* h) override {
    *w = client_width;
    *h = client_height;
    return client_width > 0;
  }
  bool stop_playback_and_find_jobs() override {
    ++playback_stops;
    return job_running;
  }
  bool create_editor_window(EditorEntry* entry, int x, int y) override {
    if (refuse) return false;
    windows.push_back({entry, x, y});
    return true;
  }
  bool editor_window_position(const EditorEntry* entry, int* x, int* y) override {
    for (const auto& w : windows)
      if (w.entry == entry) {
        *x = w.x;
        *y = w.y;
        return true;
      }
    return false;
  }
};

class EditorAppTest : public ::testing::Test {
 protected:
  EditorAppTest() : app_(fake_editor_factory(&made_)) {
    editor_settings() = EditorSettings();
    app_.set_window_host(&host_);
    app_.init_instance();
  }
  ~EditorAppTest() override { editor_settings() = EditorSettings(); }

  std::string movie(const std::string& name, int frames = 100) {
    const std::string path = tsupport::test_dir() + "/" + name;
    EXPECT_TRUE(write_fake_movie(path, frames));
    return path;
  }

  FakePlatform platform_;
  std::vector<FakeEditor*> made_;
  FakeHost host_;
  CEditorApp app_;
};

TEST_F(EditorAppTest, OpenRoadRefusals) {
  const std::string dir = tsupport::test_dir();
  const std::string empty = dir + "/empty.mpg";
  std::ofstream(empty).flush();
  const std::string damaged = dir + "/damaged.mpg";
  std::ofstream(damaged) << "\x00\x00\x01\xb3 not a movie";
  // A fake movie the engine cannot make an editor of.
  const std::string failing = dir + "/failing.mpg";
  std::ofstream(failing) << "FAKE-MOVIE frames=0\n";

  const struct {
    std::string path;
    std::string text;
  } cases[] = {
      {dir + "/missing.mpg", "<" + dir + "/missing.mpg>: cannot open to read\n"},
      {dir, "<" + dir + ">: cannot open to read\n"},
      {empty, "<" + empty + ">: not a valid input file\n"},
      {damaged, "<" + damaged + ">: not a valid input file\n"},
      {failing, "<" + failing + ">: not a valid input file\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    platform_.prompter.shown.clear();
    EXPECT_EQ(app_.open_input_file(c.path, 0, 0, 0), 0);
    ASSERT_EQ(platform_.prompter.shown.size(), 1u);
    EXPECT_EQ(platform_.prompter.shown[0].text, c.text);
    EXPECT_EQ(platform_.prompter.shown[0].icon, PromptIcon::Exclamation);
    EXPECT_EQ(platform_.prompter.shown[0].caption, "MPEG-Tamsel");
  }
  EXPECT_EQ(app_.editor_count(), 0);
  EXPECT_TRUE(host_.windows.empty());
}

TEST_F(EditorAppTest, UnreadableFileCannotBeOpened) {
  if (::geteuid() == 0) GTEST_SKIP() << "a superuser reads every file";
  const std::string path = movie("secret.mpg");
  ::chmod(path.c_str(), 0);
  EXPECT_EQ(app_.open_input_file(path, 0, 0, 0), 0);
  EXPECT_EQ(platform_.prompter.last_text(), "<" + path + ">: cannot open to read\n");
}

TEST_F(EditorAppTest, SeventeenthEditorIsRefused) {
  const std::string path = movie("a.mpg");
  for (int i = 0; i < 16; ++i) ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1) << i;
  EXPECT_EQ(app_.editor_count(), 16);
  EXPECT_TRUE(platform_.prompter.shown.empty());
  EXPECT_EQ(app_.open_input_file(path, 0, 0, 0), 0);
  ASSERT_EQ(platform_.prompter.shown.size(), 1u);
  EXPECT_EQ(platform_.prompter.shown[0].text, "Maximum number of editors: 16");
  EXPECT_EQ(made_.size(), 16u);  // refused before any editor was made

  // The Open command refuses before its dialog.
  platform_.dialogs.push_path(path);
  app_.commands().run(cmd::kOpenMovie);
  EXPECT_TRUE(platform_.dialogs.requests.empty());
  EXPECT_EQ(platform_.prompter.shown.size(), 2u);

  // A closed window frees its slot for the next.
  EditorEntry* third = app_.entry(2);
  third->kind = EditorEntry::kClosing;
  app_.editor_callback(third);
  EXPECT_EQ(app_.editor_count(), 15);
  EXPECT_EQ(app_.entry(2), nullptr);
  ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1);
  EXPECT_NE(app_.entry(2), nullptr);
}

TEST_F(EditorAppTest, WindowsCascadeAndWrap) {
  const std::string path = movie("a.mpg");
  for (int i = 0; i < 9; ++i) ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1);
  std::vector<std::pair<int, int>> at;
  for (const auto& w : host_.windows) at.emplace_back(w.x, w.y);
  const std::vector<std::pair<int, int>> want = {{120, 0},  {145, 25}, {170, 50}, {195, 75}, {220, 0},
                                                 {245, 25}, {270, 50}, {295, 75}, {120, 0}};
  EXPECT_EQ(at, want);
  // A given place is taken as it is, and the cascade still moves on.
  ASSERT_EQ(app_.open_input_file(path, 40, 30, 0), 1);
  EXPECT_EQ(host_.windows.back().x, 40);
  EXPECT_EQ(host_.windows.back().y, 30);
  EXPECT_EQ(app_.cascade_x(), 170);
}

TEST_F(EditorAppTest, EntryCarriesEditorTitleAndSettings) {
  editor_settings().field_mode = 1;
  editor_settings().image_color = 16;
  const std::string path = movie("titled.mpg");
  ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1);
  ASSERT_EQ(host_.windows.size(), 1u);
  EditorEntry* e = host_.windows[0].entry;
  EXPECT_EQ(e->title, path);
  EXPECT_EQ(e->app, &app_);
  EXPECT_EQ(e->slot, 0);
  EXPECT_FALSE(e->trim_window);
  ASSERT_EQ(made_.size(), 1u);
  EXPECT_EQ(e->editor.get(), made_[0]);
  EXPECT_EQ(made_[0]->field_dither, 1);
  EXPECT_EQ(made_[0]->depth, 16);
}

TEST_F(EditorAppTest, ImageColorEightKeepsTheEnginesDepthButAnEightBitScreenForcesIt) {
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  EXPECT_EQ(made_.back()->depth, 24);
  EXPECT_TRUE(made_.back()->calls.empty());

  platform_.screen.bits = 8;
  editor_settings().image_color = 24;
  app_.init_instance();
  EXPECT_EQ(editor_settings().screen_depth, 8);
  EXPECT_EQ(editor_settings().image_color, 8);
  ASSERT_EQ(app_.open_input_file(movie("b.mpg"), 0, 0, 0), 1);
  EXPECT_EQ(made_.back()->depth, 8);
}

TEST_F(EditorAppTest, ProjectNameOnlyForProjects) {
  const std::string project = movie("edit.qme");
  ASSERT_EQ(app_.open_input_file(project, 0, 0, 0), 1);
  EXPECT_EQ(made_.back()->name, project);
  // A movie inside a folder whose name holds ".qme" is no project.
  const std::string folder = tsupport::test_dir() + "/x.qme";
  ::mkdir(folder.c_str(), 0755);
  const std::string inside = folder + "/movie.mpg";
  ASSERT_TRUE(write_fake_movie(inside));
  ASSERT_EQ(app_.open_input_file(inside, 0, 0, 0), 1);
  EXPECT_EQ(made_.back()->name, "");
}

TEST_F(EditorAppTest, HostThatCannotMakeAWindowFreesTheSlot) {
  host_.refuse = true;
  EXPECT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 0);
  EXPECT_EQ(app_.editor_count(), 0);
  EXPECT_EQ(app_.entry(0), nullptr);
  EXPECT_EQ(app_.cascade_x(), 120);
}

TEST_F(EditorAppTest, TrimWindowWhenTheEditorGivesARange) {
  auto e = std::make_unique<FakeEditor>();
  e->trim_file = "/movie.mpg";
  ASSERT_EQ(app_.open_editor_window(std::move(e), "trim", 0, 0), 1);
  EXPECT_TRUE(host_.windows.back().entry->trim_window);
}

TEST_F(EditorAppTest, WindowEvents) {
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  EditorEntry* e = app_.entry(0);

  e->kind = EditorEntry::kImport;
  app_.editor_callback(e);
  EXPECT_EQ(platform_.prompter.last_text(), "editor_callback (): IMPORT");
  e->kind = 7;
  app_.editor_callback(e);
  EXPECT_EQ(platform_.prompter.last_text(), "editor_callback (): Unknow");
  app_.editor_callback(nullptr);
  EXPECT_EQ(platform_.prompter.shown.size(), 2u);

  int copies = 0;
  app_.set_copy_handler([&](EditorEntry* entry) {
    EXPECT_EQ(entry->start_frame, 10);
    ++copies;
  });
  e->kind = EditorEntry::kCopy;
  e->start_frame = 10;
  app_.editor_callback(e);
  EXPECT_EQ(copies, 1);

  // A written file opens beside the window that wrote it.
  const std::string out = movie("written.mpg");
  e->kind = EditorEntry::kFileWritten;
  e->file_name = out;
  app_.editor_callback(e);
  ASSERT_EQ(host_.windows.size(), 2u);
  EXPECT_EQ(host_.windows[1].x, host_.windows[0].x + 24);
  EXPECT_EQ(host_.windows[1].y, host_.windows[0].y + 18);
  EXPECT_EQ(host_.windows[1].entry->title, out);
  e->file_name.clear();
  app_.editor_callback(e);
  EXPECT_EQ(app_.editor_count(), 2);

  e->kind = EditorEntry::kClosing;
  app_.editor_callback(e);
  EXPECT_EQ(app_.editor_count(), 1);
  EXPECT_EQ(app_.entry(0), nullptr);
}

TEST_F(EditorAppTest, OpenCommandAsksThenOpensAndKeepsTheFolder) {
  const std::string path = movie("chosen.mpg");
  editor_settings().open_folder = "/start/";
  platform_.dialogs.push_path(path);
  EXPECT_TRUE(route_command({&app_.commands()}, cmd::kOpenMovie));
  ASSERT_EQ(platform_.dialogs.requests.size(), 1u);
  const FileDialogRequest& r = platform_.dialogs.requests[0];
  EXPECT_EQ(r.title, "Open MPEG Movie");
  EXPECT_EQ(r.folder, "/start/");
  EXPECT_EQ(r.kind, FileDialogKind::Open);
  EXPECT_EQ(app_.editor_count(), 1);
  EXPECT_EQ(editor_settings().open_folder, tsupport::test_dir() + "/");

  platform_.dialogs.push_cancel();
  app_.on_open_movie();
  EXPECT_EQ(app_.editor_count(), 1);
}

TEST_F(EditorAppTest, ExitReleasesEditorsAndWritesSettings) {
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  editor_settings().undo_size = 33;
  EXPECT_TRUE(app_.exit_instance());
  EXPECT_EQ(app_.editor_count(), 0);
  EditorSettings read;
  ASSERT_EQ(read.read(platform_.paths.config + "/MPEG-Tamsel.cfg"), 1);
  EXPECT_EQ(read.undo_size, 33);
}

TEST_F(EditorAppTest, ResetOptionsCommand) {
  editor_settings().undo_size = 20;
  EXPECT_TRUE(route_command({&app_.commands()}, cmd::kResetOptions));
  EXPECT_EQ(editor_settings().undo_size, 16);
  EXPECT_FALSE(editor_settings().program_folder.empty());
}

// A tool or MBS Scan window: busy while its job runs; stop_job ends the
// job (with its keep code) and waits for it.
struct FakeToolWindow : ToolWindow {
  std::function<void()> closed;
  std::string path;
  bool busy = false;
  int stops = 0, close_requests = 0;
  std::vector<std::string>* log = nullptr;
  std::string name;
  bool is_busy() const override { return busy; }
  void stop_job() override {
    ++stops;
    busy = false;
    if (log) log->push_back("stop " + name);
  }
  void close() override {
    ++close_requests;
    if (log) log->push_back("close " + name);
    if (closed) closed();
  }
};

TEST_F(EditorAppTest, DroppedFilesAreCheckedThenOpened) {
  app_.set_input_probe(fake_input_probe());
  const std::string dir = tsupport::test_dir();
  const std::string good = movie("good.mpg");
  const std::string invalid = dir + "/invalid.mpg";
  std::ofstream(invalid) << "not a movie";
  const std::string project = dir + "/p.qme";
  std::ofstream(project) << "not a project";
  app_.open_dropped_files({dir + "/missing.mpg", invalid, "", good, project});
  EXPECT_EQ(platform_.prompter.texts(),
            (std::vector<std::string>{"<" + dir + "/missing.mpg>: cannot open to read\n",
                                      "<" + invalid + ">: not a valid input file\n",
                                      "<" + project + ">: not a valid input file\n"}));
  ASSERT_EQ(host_.windows.size(), 1u);
  EXPECT_EQ(host_.windows[0].entry->title, good);
}

TEST_F(EditorAppTest, RoadsBySegmentsAndAudio) {
  app_.set_input_probe(fake_input_probe());
  const std::string dir = tsupport::test_dir();
  const std::string segmented = movie("seg.mpg"), upper = movie("seg.MBS"), audio = dir + "/a.mp2";
  std::ofstream(audio) << "AUDIO\n";

  // Without an MBS Scan window the file opens as one movie.
  EXPECT_EQ(app_.open_input_file(segmented, 0, 0, 0), 1);

  std::vector<FakeToolWindow> scans(3);
  std::vector<std::string> asked;
  app_.mbs_scans().set_factory([&](const std::string& path, std::function<void()> closed) -> ToolWindow* {
    FakeToolWindow& w = scans[asked.size()];
    asked.push_back(path);
    w.closed = std::move(closed);
    return &w;
  });
  EXPECT_TRUE(route_update({&app_.commands()}, cmd::kMbsScan).enabled);
  EXPECT_EQ(app_.open_input_file(segmented, 0, 0, 0), 0);
  EXPECT_EQ(app_.open_input_file(segmented, 0, 0, 0), 0);  // a second dialog, the first kept
  EXPECT_EQ(asked, (std::vector<std::string>{segmented, segmented}));
  EXPECT_EQ(app_.mbs_scans().count(), 2);
  EXPECT_FALSE(route_update({&app_.commands()}, cmd::kMbsScan).enabled);
  // ".mbs" in any case and the dialog's own results skip the check.
  EXPECT_EQ(app_.open_input_file(upper, 0, 0, 0), 1);
  app_.on_mbs_scan_event(segmented);
  EXPECT_EQ(asked.size(), 2u);
  EXPECT_EQ(app_.editor_count(), 3);
  // Closed in either order, each forgets only itself.
  scans[0].closed();
  EXPECT_EQ(app_.mbs_scans().windows(), std::vector<ToolWindow*>{&scans[1]});
  EXPECT_FALSE(route_update({&app_.commands()}, cmd::kMbsScan).enabled);
  scans[1].closed();
  EXPECT_EQ(app_.mbs_scans().count(), 0);
  EXPECT_TRUE(route_update({&app_.commands()}, cmd::kMbsScan).enabled);
  EXPECT_TRUE(route_command({&app_.commands()}, cmd::kMbsScan));
  EXPECT_EQ(asked.back(), "");

  // A file without video goes to the audio window; until there is one it
  // is refused.
  platform_.prompter.shown.clear();
  EXPECT_EQ(app_.open_input_file(audio, 0, 0, 0), 0);
  EXPECT_EQ(platform_.prompter.last_text(), "<" + audio + ">: not a valid input file\n");
  std::vector<std::string> tracks;
  app_.set_audio_player([&](const std::string& p) { tracks.push_back(p); });
  EXPECT_EQ(app_.open_input_file(audio, 0, 0, 0), 0);
  EXPECT_EQ(tracks, std::vector<std::string>{audio});
  EXPECT_EQ(app_.editor_count(), 3);
}

TEST_F(EditorAppTest, FitToScreen) {
  app_.set_clip_factory(fake_clip_factory(&made_));
  const struct {
    int image_size, w, h, client_w, client_h;
    int shown_w, shown_h;  // the picture of the editor that gets the window
  } cases[] = {
      {0, 1920, 1080, 2000, 1400, 480, 270},  // large pictures at quarter size
      {1, 1920, 1080, 2000, 1400, 480, 270},  // from a half-size setting too
      {0, 704, 576, 700, 500, 352, 288},      // does not fit: half
      {0, 720, 576, 822, 658, 720, 576},      // fits by 8/7
      {0, 720, 576, 821, 658, 360, 288},
      {0, 640, 480, 300, 200, 640, 480},      // half would be under 321 x 241
      {1, 720, 576, 400, 300, 360, 288},      // quarter would be too small: kept at half
      {2, 1920, 1080, 300, 200, 480, 270},    // quarter is kept
      {0, 720, 576, 0, 0, 720, 576},          // no window size known
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.image_size) + " " + std::to_string(c.w) + "x" + std::to_string(c.h) + " in " +
                 std::to_string(c.client_w) + "x" + std::to_string(c.client_h));
    editor_settings().image_size = c.image_size;
    host_.client_width = c.client_w;
    host_.client_height = c.client_h;
    const std::string path = tsupport::test_dir() + "/big.mpg";
    ASSERT_TRUE(write_fake_movie(path, 50, c.w, c.h));
    ASSERT_EQ(app_.open_input_file(path, 0, 0, 0), 1);
    IEditor* e = host_.windows.back().entry->editor.get();
    EXPECT_EQ(e->get_image_width(), c.shown_w);
    EXPECT_EQ(e->get_image_height(), c.shown_h);
    EXPECT_EQ(e->get_total_frames(), 50);
    app_.init_editor_table();
    host_.windows.clear();
  }
  // A rebuilt project keeps its name.
  editor_settings().image_size = 0;
  const std::string project = tsupport::test_dir() + "/hd.qme";
  ASSERT_TRUE(write_fake_movie(project, 50, 1920, 1080));
  ASSERT_EQ(app_.open_input_file(project, 0, 0, 0), 1);
  EXPECT_EQ(host_.windows.back().entry->editor->get_image_width(), 480);
  EXPECT_EQ(host_.windows.back().entry->editor->get_file_name(), project);
}

TEST_F(EditorAppTest, HandedFilesWaitForTheTimerAndOpenOnce) {
  app_.set_input_probe(fake_input_probe());
  std::vector<std::function<void()>> ticks;
  app_.set_timer_starter([&](int ms, std::function<void()> tick) {
    EXPECT_EQ(ms, 500);
    ticks.push_back(std::move(tick));
  });
  std::vector<std::string> tracks;
  app_.set_audio_player([&](const std::string& p) { tracks.push_back(p); });
  const std::string dir = tsupport::test_dir();
  const std::string a = movie("a.mpg"), b = movie("b.mpg"), c = movie("c.mpg"), unknown = dir + "/x.txt",
                    audio = dir + "/s.mp2";
  std::ofstream(unknown) << "text";
  std::ofstream(audio) << "AUDIO\n";

  // Unknown files are skipped; MPEG-1 audio goes to the audio window and
  // ends the list.
  app_.main_frame_file_callback({a, "", unknown, b, audio, c});
  EXPECT_EQ(tracks, std::vector<std::string>{audio});
  EXPECT_EQ(app_.queued_count(), 2);
  ASSERT_EQ(ticks.size(), 1u);
  app_.main_frame_file_callback({c});  // the running timer takes it too
  EXPECT_EQ(ticks.size(), 1u);
  EXPECT_EQ(host_.windows.size(), 0u);

  // A tick arriving while the first file opens (a message box's loop)
  // finds the queue empty: nothing opens twice.
  bool nested = false;
  struct NestingHost : FakeHost {
    std::function<void()> during;
    bool create_editor_window(EditorEntry* entry, int x, int y) override {
      if (during) std::exchange(during, nullptr)();
      return FakeHost::create_editor_window(entry, x, y);
    }
  } nesting;
  nesting.during = [&] {
    nested = true;
    ticks[0]();
  };
  app_.set_window_host(&nesting);
  ticks[0]();
  EXPECT_TRUE(nested);
  ASSERT_EQ(nesting.windows.size(), 3u);
  EXPECT_EQ(nesting.windows[0].entry->title, a);
  EXPECT_EQ(nesting.windows[1].entry->title, b);
  EXPECT_EQ(nesting.windows[2].entry->title, c);
  EXPECT_EQ(app_.queued_count(), 0);

  // The queue holds 16; a new timer starts for the next files.
  std::vector<std::string> many(20, a);
  app_.main_frame_file_callback(many);
  EXPECT_EQ(app_.queued_count(), 16);
  EXPECT_EQ(ticks.size(), 2u);
  app_.init_editor_table();
  app_.set_window_host(&host_);

  // No files: the close check.
  int writes = 0;
  app_.set_clipboard_writer([&] { ++writes; });
  app_.main_frame_file_callback({});
  EXPECT_EQ(writes, 1);
}

TEST_F(EditorAppTest, ClipDropPlacesTheNextWindow) {
  const struct {
    int x, y, bar, w, h;
    int cx, cy;
  } cases[] = {
      {0, 0, 28, 800, 600, 0, 0},          // top-left corner
      {800, 300, 28, 800, 600, 750, 272},  // right edge: client width - 50
      {400, 590, 28, 800, 600, 350, 522},  // bottom: client height - bar - 50
      {30, 20, 28, 40, 60, 0, 0},          // a client area smaller than the margins
  };
  for (const auto& c : cases) {
    app_.place_clip_drop(c.x, c.y, c.bar, c.w, c.h);
    EXPECT_EQ(app_.cascade_x(), c.cx) << c.x << "," << c.y;
    EXPECT_EQ(app_.cascade_y(), c.cy) << c.x << "," << c.y;
  }
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  EXPECT_EQ(host_.windows[0].x, 0);
  EXPECT_EQ(host_.windows[0].y, 0);
}

TEST_F(EditorAppTest, CloseCheck) {
  int clipboard_writes = 0;
  app_.set_clipboard_writer([&] { ++clipboard_writes; });
  std::vector<std::string> log;
  FakeToolWindow mux, batch, list, scan;
  mux.name = "mux", batch.name = "batch", list.name = "list", scan.name = "scan";
  for (FakeToolWindow* w : {&mux, &batch, &list, &scan}) w->log = &log;
  auto factory = [](FakeToolWindow* t) {
    return [t](std::function<void()> closed) -> ToolWindow* {
      t->closed = std::move(closed);
      return t;
    };
  };
  app_.tools().add(cmd::kMultiplexer, factory(&mux), ToolRerun::CloseUnlessBusy);
  app_.tools().add(cmd::kBatchSave, factory(&batch), ToolRerun::CloseUnlessBusy);
  app_.tools().add(cmd::kVideoClipList, factory(&list), ToolRerun::CloseAlways);
  app_.mbs_scans().set_factory([&](const std::string&, std::function<void()> closed) -> ToolWindow* {
    scan.closed = std::move(closed);
    return &scan;
  });
  for (int id : {cmd::kMultiplexer, cmd::kBatchSave, cmd::kVideoClipList}) app_.tools().run(id);
  app_.open_mbs_scan("");

  // Nothing runs: the close goes on without a question.
  EXPECT_TRUE(app_.confirm_close());
  EXPECT_TRUE(platform_.prompter.shown.empty());
  EXPECT_EQ(clipboard_writes, 1);

  // An editor's save or GOP trim refuses the close, tool jobs or not.
  ASSERT_EQ(app_.open_input_file(movie("a.mpg"), 0, 0, 0), 1);
  host_.job_running = true;
  mux.busy = true;
  EXPECT_FALSE(app_.confirm_close());
  EXPECT_EQ(platform_.prompter.texts(), std::vector<std::string>{kSaveJobRunningMessage});
  EXPECT_EQ(platform_.prompter.shown[0].icon, PromptIcon::Exclamation);
  EXPECT_EQ(host_.playback_stops, 1);
  EXPECT_EQ(clipboard_writes, 2);
  EXPECT_EQ(mux.stops, 0);
  host_.job_running = false;

  // Tool jobs: one question; No keeps them running and the program open.
  batch.busy = scan.busy = true;
  platform_.prompter.shown.clear();
  platform_.prompter.answers = {PromptAnswer::No};
  EXPECT_FALSE(app_.confirm_close());
  ASSERT_EQ(platform_.prompter.shown.size(), 1u);
  EXPECT_EQ(platform_.prompter.shown[0].text, kStopToolJobsQuestion);
  EXPECT_EQ(platform_.prompter.shown[0].buttons, PromptButtons::YesNo);
  EXPECT_TRUE(mux.busy && batch.busy && scan.busy);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(clipboard_writes, 3);

  // Yes: every job stopped and joined before any tool window closes.
  platform_.prompter.answers = {PromptAnswer::Yes};
  EXPECT_TRUE(app_.confirm_close());
  EXPECT_EQ(platform_.prompter.shown.size(), 2u);
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 3),
            (std::vector<std::string>{"stop batch", "stop mux", "stop scan"}));
  EXPECT_EQ(list.stops, 0);
  EXPECT_EQ(mux.close_requests + batch.close_requests + list.close_requests + scan.close_requests, 4);
  EXPECT_FALSE(app_.tools().is_open(cmd::kMultiplexer));
  EXPECT_EQ(app_.mbs_scans().count(), 0);
  EXPECT_EQ(clipboard_writes, 4);
}

}  // namespace
