// The Batch Save Manager's rules over a fake project loader and fake
// saves: its settings and list files, the list and button rules, and the
// batch walk.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "app/shell/kept_file.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "app/tools/batch_save.h"
#include "engine/editor_record.h"
#include "engine/mpeg_editor.h"
#include "platform/fakes.h"
#include "support.h"

namespace {

using namespace tsupport;

// Projects named "*.rec" load unless listed as bad; each gives an output
// "<project>.mpg" and 1 MB per 10 frames of program stream.
struct FakeProjects {
  std::set<std::string> bad;
  std::vector<std::string> loads;
  int frames = 10;
  BatchProjectLoader loader() {
    return [this](const std::string& p, EditorRecordData* r) {
      loads.push_back(p);
      if (bad.count(p) || p.size() < 4 || p.compare(p.size() - 4, 4, ".rec") != 0) return false;
      r->second_file_name = p + ".mpg";
      r->output_type = 6;
      r->count = frames;
      r->rates.program = 100000;
      // A clip, so that the record can be written as a project.
      r->project.clips.assign(1, Clip{});
      r->project.clips[0].set_file_name((p + ".m2v").c_str());
      r->project.clips[0].clip_type = 2;
      r->project.clips[0].count = frames;
      return true;
    };
  }
};

// Saves that wait for a release; an output containing "fail" fails.
struct FakeSaves {
  std::atomic<int> released{0};
  std::atomic<int> running{0};
  std::vector<std::string> started;  // outputs, in order
  bool gate = false;
  BatchWorkFactory factory() {
    return [this](const EditorRecordData& r, std::string*) -> ToolJob::Work {
      started.push_back(r.second_file_name);
      const int ticket = int(started.size());
      const bool fail = r.second_file_name.find("fail") != std::string::npos;
      return [this, ticket, fail](JobControl& c) {
        ++running;
        while (gate && released.load() < ticket && !c.stop_requested())
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        c.set_progress(100.0);
        if (c.stop_requested()) c.finish(JobOutcome::stopped);
        else c.finish(fail ? JobOutcome::failed : JobOutcome::done, 0, fail ? "disk full" : "");
        --running;
      };
    };
  }
};

void run_until_idle(CBatchSaveDlg& m) {
  for (int i = 0; i < 20000 && m.is_job_running(); ++i) {
    m.poll();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_FALSE(m.is_job_running());
}

TEST(BatchSaveFiles, SettingsTextHasItsExactBytesAndReadsBack) {
  FakePlatform fp;
  FakeProjects projects;
  CBatchSaveDlg m(projects.loader(), nullptr);
  batch_folders() = BatchFolders{};
  batch_folders().input = "/p/in";
  batch_folders().output = "/p/out dir";
  batch_folders().window[0] = 10;
  batch_folders().window[1] = 20;
  batch_folders().window[2] = 610;
  batch_folders().window[3] = 420;
  m.columns[0] = 200;
  m.columns[1] = 210;
  m.columns[2] = 75;
  m.record().output_type = 8;
  ASSERT_TRUE(m.add_row("/p/a.rec", "/o/a.mpg", 12.3456, false));
  ASSERT_TRUE(m.add_row("/p/b c.rec", "/o/b c.m2t", 0.5, true));
  const std::string want =
      "//\n// multiple save project batch job\n//\n"
      "BatchWindow: 10 20 610 420\n"
      "BatchColumns: 200 210 75\n"
      "BatchInitInputPath: /p/in\n"
      "BatchInitOutputPath: /p/out dir\n"
      "BatchInitOpenPath: \n"
      "BatchInitSavePath: \n"
      "BatchInitSelect: 1\n"
      "BatchSaveType: 8\n"
      "BatchSave:\n    /p/a.rec\n    /o/a.mpg\n    12.346\n"
      "BatchSave:\n    /p/b c.rec\n    /o/b c.m2t\n    0.500\n"
      "//\n// total: 2\n//\n";
  EXPECT_EQ(m.config_text(), want);

  const std::string path = temp_dir() + "/BatchSav.cfg";
  ASSERT_TRUE(m.write_batch_config(path));
  batch_folders() = BatchFolders{};
  CBatchSaveDlg back(projects.loader(), nullptr);
  back.read_batch_config(path);
  EXPECT_EQ(back.config_text(), want);
  EXPECT_EQ(back.stored_select(), 1);
  EXPECT_EQ(back.record().output_type, 8);
  EXPECT_EQ(batch_folders().output, "/p/out dir");
  // No prompt: a clean file holds no duplicate.
  EXPECT_TRUE(fp.prompter.shown.empty());
  // The list file holds the entries and the trailer only.
  EXPECT_EQ(write_batch_entries(back.rows()),
            want.substr(want.find("BatchSave:")));
}

TEST(BatchSaveFiles, DamagedTextsKeepOnlyCompleteEntries) {
  struct Case {
    const char* name;
    std::string text;
    size_t rows;
  };
  const std::vector<Case> cases = {
      {"empty", "", 0},
      {"cut after the project", "BatchSave:\n    /a.rec\n", 0},
      {"cut before the estimate", "BatchSave:\n    /a.rec\n    /a.mpg\n", 0},
      {"CRLF", "BatchSave:\r\n    /a.rec\r\n    /a.mpg\r\n    1.5\r\n//\r\n", 1},
      {"estimate no number", "BatchSave:\n    /a.rec\n    /a.mpg\n    lots\n", 1},
      {"blank project", "BatchSave:\n    \n    /a.mpg\n    1\n", 0},
      {"noise between entries", "x\nBatchSave:\n /a.rec\n /a.mpg\n 1\n\xff\xfe\nBatchSave:\n /b.rec\n /b.mpg\n nan\n", 2},
      {"second entry cut", "BatchSave:\n /a.rec\n /a.mpg\n 1\nBatchSave:\n /b.rec\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<BatchRow> rows = read_batch_entries(c.text);
    ASSERT_EQ(rows.size(), c.rows);
    for (const BatchRow& r : rows) {
      EXPECT_EQ(r.project.find('\r'), std::string::npos);
      EXPECT_TRUE(r.estimate_mb >= 0 && r.estimate_mb < 1e12);
    }
  }
  EXPECT_EQ(read_batch_entries(cases[3].text)[0].output, "/a.mpg");
  EXPECT_EQ(read_batch_entries(cases[3].text)[0].estimate_mb, 1.5);

  // Settings lines with bad values keep the defaults.
  FakePlatform fp;
  const std::string path = temp_dir() + "/bad.cfg";
  ASSERT_TRUE(write_kept_file(path, "BatchColumns: -5 x 99999\nBatchSaveType: 7\nBatchWindow:\nBatchInitSelect"));
  CBatchSaveDlg m(FakeProjects().loader(), nullptr);
  m.record().output_type = 4;
  m.read_batch_config(path);
  EXPECT_EQ(m.columns[0], 0);
  EXPECT_EQ(m.columns[2], 0);
  EXPECT_EQ(m.record().output_type, 4);
  EXPECT_TRUE(m.rows().empty());
  // A missing file leaves everything empty and makes nothing.
  m.read_batch_config(temp_dir() + "/none.cfg");
  EXPECT_FALSE(std::filesystem::exists(temp_dir() + "/none.cfg"));
}

TEST(BatchSaveFiles, AppendRecountsTheTrailerAndKeepsSettings) {
  const std::string base = "//\n// multiple save project batch job\n//\nBatchSaveType: 6\n"
                           "BatchSave:\n    /a.rec\n    /a.mpg\n    1.000\n//\n// total: 1\n//\n";
  const std::string out = append_batch_entry(base, {"/b.rec", "/b.mpg", 2.0, {}});
  EXPECT_EQ(out, "//\n// multiple save project batch job\n//\nBatchSaveType: 6\n"
                 "BatchSave:\n    /a.rec\n    /a.mpg\n    1.000\n"
                 "BatchSave:\n    /b.rec\n    /b.mpg\n    2.000\n//\n// total: 2\n//\n");
  EXPECT_EQ(append_batch_entry("", {"/b.rec", "/b.mpg", 2.0, {}}),
            "BatchSave:\n    /b.rec\n    /b.mpg\n    2.000\n//\n// total: 1\n//\n");
}

TEST(BatchSaveList, DuplicatesAndButtons) {
  FakePlatform fp;
  FakeProjects projects;
  CBatchSaveDlg m(projects.loader(), nullptr);
  EXPECT_TRUE(m.add_row("/a.rec", "/a.mpg", 1.0, false));
  EXPECT_TRUE(m.add_row("/a.rec", "/b.mpg", 1.0, false));  // another output: another row
  EXPECT_FALSE(m.add_row("/a.rec", "/b.mpg", 1.0, false));
  EXPECT_EQ(fp.prompter.last_text(),
            "Save project is already in the list: \n    Item No: 1\n    Input:   </a.rec>\n    Output:  </b.mpg>\n");
  EXPECT_FALSE(m.add_row("", "/x.mpg", 1.0, false));
  EXPECT_EQ(m.rows().size(), 2u);

  m.select_row(0);
  EXPECT_EQ(m.input_text, "/a.rec");
  EXPECT_FALSE(m.add_enabled);  // that pair is listed
  EXPECT_FALSE(m.update_enabled);
  EXPECT_TRUE(m.delete_enabled && m.clear_enabled && m.encoders_enabled);
  struct Case {
    const char* input;
    const char* output;
    bool add, update;
  };
  const Case cases[] = {
      {"/a.rec", "/a.mpg", false, false},
      {"/a.rec", "/c.mpg", true, true},  // output differs
      {"/", "/a.mpg", true, false},      // fewer than 2 characters: no difference
      {"/z.rec", "/a.mpg", true, true},
      {"", "/a.mpg", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.output);
    m.input_text = c.input;
    m.output_text = c.output;
    m.update_buttons();
    EXPECT_EQ(m.add_enabled, c.add);
    EXPECT_EQ(m.update_enabled, c.update);
    EXPECT_EQ(m.encoders_enabled, !std::string(c.input).empty());
  }

  // Delete selects the row now at that index, or row 0 after the last.
  m.select_row(1);
  m.remove();
  EXPECT_EQ(m.selected(), 0);
  // Clear List asks first.
  fp.prompter.answers = {PromptAnswer::No};
  m.clear_list();
  EXPECT_EQ(m.rows().size(), 1u);
  fp.prompter.answers = {PromptAnswer::Yes};
  m.clear_list();
  EXPECT_TRUE(m.rows().empty());
  EXPECT_FALSE(m.delete_enabled || m.clear_enabled);
}

TEST(BatchSaveList, AddLoadsTheProjectAndRefusesABadOne) {
  FakePlatform fp;
  FakeProjects projects;
  projects.bad = {"/bad.rec"};
  CBatchSaveDlg m(projects.loader(), nullptr);
  const std::string dir = temp_dir();
  m.input_text = dir + "/a.rec";
  m.add();
  ASSERT_EQ(m.rows().size(), 1u);
  EXPECT_EQ(m.rows()[0].output, dir + "/a.rec.mpg");  // the project's own output
  EXPECT_DOUBLE_EQ(m.rows()[0].estimate_mb, 1.0);
  EXPECT_EQ(CBatchSaveDlg::estimate_text(m.rows()[0].estimate_mb), " 1.0 MB");
  m.input_text = "/bad.rec";
  m.output_text = dir + "/x.mpg";
  m.add();
  EXPECT_EQ(fp.prompter.last_text(), "</bad.rec>: is NOT a valid editor save project");
  EXPECT_TRUE(m.input_text.empty());
  EXPECT_EQ(m.rows().size(), 1u);
}

TEST(BatchSaveList, UpdateWritesOnlyTheProjectTheRecordHolds) {
  FakePlatform fp;
  const std::string dir = temp_dir();
  // Projects read back what save_project_file wrote, so the file shows
  // which record went where.
  FakeProjects projects;
  CBatchSaveDlg m(
      [&](const std::string& p, EditorRecordData* r) {
        if (!projects.loader()(p, r)) return false;
        r->start = p == dir + "/a.rec" ? 1 : 2;
        return true;
      },
      nullptr);
  for (const char* n : {"/a.rec", "/b.rec"}) {
    m.input_text = dir + n;
    m.output_text.clear();
    m.add();
  }
  ASSERT_EQ(m.rows().size(), 2u);
  // The record now holds b; row a is selected and its output edited.
  ASSERT_EQ(m.loaded_project(), dir + "/b.rec");
  m.select_row(0);
  m.output_text = dir + "/a-new.mpg";
  m.update_buttons();
  ASSERT_TRUE(m.update_enabled);
  m.update();
  EXPECT_EQ(m.rows()[0].output, dir + "/a-new.mpg");
  EXPECT_EQ(m.loaded_project(), dir + "/a.rec");
  std::string text;
  ASSERT_TRUE(read_kept_file(dir + "/a.rec", &text));
  EXPECT_NE(text.find(dir + "/a-new.mpg"), std::string::npos);
  EXPECT_NE(text.find(" 6 1 10 "), std::string::npos) << text;  // a's own range, not b's
  EXPECT_FALSE(std::filesystem::exists(dir + "/b.rec"));
}

TEST(BatchSaveList, EncodersChangesReachTheProjectThroughUpdateAndDropsAddProjects) {
  FakePlatform fp;
  FakeProjects projects;
  const std::string dir = temp_dir();
  CBatchSaveDlg m(projects.loader(), nullptr);
  m.input_text = dir + "/a.rec";
  m.add();
  ASSERT_EQ(m.rows().size(), 1u);
  int runs = 0;
  m.run_encoders = [&](EditorRecordData& r) {
    ++runs;
    EXPECT_EQ(r.second_file_name, dir + "/a.rec.mpg");
    r.second_file_name = dir + "/renamed.mpg";
    r.count = 40;  // four times the size
    return true;
  };
  m.encoders();
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(m.output_text, dir + "/renamed.mpg");
  EXPECT_TRUE(m.update_enabled);
  m.update();
  EXPECT_EQ(m.rows()[0].output, dir + "/renamed.mpg");
  EXPECT_DOUBLE_EQ(m.rows()[0].estimate_mb, 4.0);
  std::string text;
  ASSERT_TRUE(read_kept_file(dir + "/a.rec", &text));
  EXPECT_NE(text.find(dir + "/renamed.mpg\n"), std::string::npos) << text;
  EXPECT_FALSE(m.update_enabled);

  // Drops: an unreadable file ends the drop, a file that is no project is
  // passed over.
  ASSERT_TRUE(write_kept_file(dir + "/b.rec", "x"));
  ASSERT_TRUE(write_kept_file(dir + "/bad.rec", "x"));
  projects.bad = {dir + "/bad.rec"};
  m.drop_files({dir + "/bad.rec", dir + "/b.rec", dir + "/missing.rec", dir + "/c.rec"});
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_EQ(m.rows()[1].project, dir + "/b.rec");
  EXPECT_EQ(m.selected(), 1);
  EXPECT_EQ(fp.prompter.texts(),
            (std::vector<std::string>{"<" + dir + "/bad.rec>: is NOT a valid editor save project",
                                      "<" + dir + "/missing.rec>: cannot open to read\n"}));
}

TEST(BatchSaveWalk, SavesEveryRowAfterThePreviousThreadEnded) {
  FakePlatform fp;
  FakeProjects projects;
  FakeSaves saves;
  saves.gate = true;
  CBatchSaveDlg m(projects.loader(), saves.factory());
  const std::string dir = temp_dir();
  for (const char* n : {"/a.rec", "/b.rec", "/c.rec"}) ASSERT_TRUE(m.add_row(dir + n, dir + n + ".out", 1, false));
  m.save_all();
  ASSERT_TRUE(m.is_job_running());
  EXPECT_TRUE(m.job_mode());
  EXPECT_EQ(m.save_all_caption(), "Stop");
  EXPECT_FALSE(m.save_one_enabled());
  EXPECT_FALSE(m.controls_enabled() || m.clear_enabled);
  for (int i = 0; i < 50; ++i) m.poll();
  // The second project is not loaded while the first save runs.
  EXPECT_EQ(projects.loads.size(), 1u);
  EXPECT_EQ(saves.started, std::vector<std::string>{dir + "/a.rec.out"});
  saves.released = 3;
  run_until_idle(m);
  EXPECT_EQ(saves.started, (std::vector<std::string>{dir + "/a.rec.out", dir + "/b.rec.out", dir + "/c.rec.out"}));
  EXPECT_FALSE(m.job_mode());
  EXPECT_EQ(m.save_all_caption(), "Save All");
  EXPECT_TRUE(fp.prompter.shown.empty());
}

TEST(BatchSaveWalk, FailuresAskToContinueAndAreReported) {
  FakePlatform fp;
  FakeProjects projects;
  FakeSaves saves;
  const std::string dir = temp_dir();
  projects.bad = {dir + "/bad.rec"};
  CBatchSaveDlg m(projects.loader(), saves.factory());
  ASSERT_TRUE(m.add_row(dir + "/bad.rec", dir + "/x.mpg", 1, false));
  ASSERT_TRUE(m.add_row(dir + "/a.rec", dir + "/fail.mpg", 1, false));
  ASSERT_TRUE(m.add_row(dir + "/b.rec", dir + "/b.mpg", 1, false));
  fp.prompter.answers = {PromptAnswer::Yes};
  m.save_all();
  run_until_idle(m);
  EXPECT_EQ(saves.started, (std::vector<std::string>{dir + "/fail.mpg", dir + "/b.mpg"}));
  ASSERT_EQ(fp.prompter.shown.size(), 2u);
  EXPECT_EQ(fp.prompter.shown[0].text, "Would you like to continue ?");
  const std::string report = fp.prompter.shown[1].text;
  EXPECT_EQ(report.rfind("These saves have failed:\n", 0), 0u) << report;
  EXPECT_NE(report.find("Item No: 0"), std::string::npos);
  EXPECT_NE(report.find("<" + dir + "/fail.mpg>: disk full"), std::string::npos);
  EXPECT_EQ(report.find("b.mpg"), std::string::npos);
  EXPECT_TRUE(m.rows()[2].failure.empty());

  // No ends the batch; a failing last row asks nothing.
  fp.prompter.shown.clear();
  fp.prompter.answers = {PromptAnswer::No};
  saves.started.clear();
  m.save_all();
  run_until_idle(m);
  EXPECT_TRUE(saves.started.empty());
  EXPECT_EQ(fp.prompter.shown.size(), 2u);  // the question, then the report
}

TEST(BatchSaveWalk, StopEndsTheBatchAfterThisSaveAndSaveOneRunsOneRow) {
  FakePlatform fp;
  FakeProjects projects;
  FakeSaves saves;
  saves.gate = true;
  CBatchSaveDlg m(projects.loader(), saves.factory());
  const std::string dir = temp_dir();
  for (const char* n : {"/a.rec", "/b.rec"}) ASSERT_TRUE(m.add_row(dir + n, dir + n + ".out", 1, false));
  m.save_all();
  fp.prompter.answers = {PromptAnswer::Yes};
  m.save_all();  // Stop
  EXPECT_EQ(fp.prompter.shown.back().text, "Stop the batch job ?");
  run_until_idle(m);
  EXPECT_EQ(saves.started.size(), 1u);
  EXPECT_TRUE(m.rows()[0].failure.empty());  // a stop is no failure

  saves.started.clear();
  saves.gate = false;
  m.select_row(1);
  m.save_one();
  EXPECT_EQ(m.save_one_caption(), "Stop");
  EXPECT_FALSE(m.save_all_enabled());
  run_until_idle(m);
  EXPECT_EQ(saves.started, std::vector<std::string>{dir + "/b.rec.out"});
  EXPECT_EQ(m.save_one_caption(), "Save");
  EXPECT_EQ(m.selected(), 1);
  // Without an output the project's own is taken.
  m.output_text.clear();
  m.save_one();
  run_until_idle(m);
  EXPECT_EQ(saves.started.back(), dir + "/b.rec.mpg");
}

TEST(BatchSaveWalk, AJobAddedDuringABatchIsSavedAndKept) {
  FakePlatform fp;
  FakeProjects projects;
  FakeSaves saves;
  saves.gate = true;
  const std::string dir = temp_dir();
  const std::string cfg = dir + "/BatchSav.cfg";
  CBatchSaveDlg m(projects.loader(), saves.factory());
  ASSERT_TRUE(m.add_row(dir + "/a.rec", dir + "/a.out", 1, false));
  m.save_all();
  EditorRecordData r;
  ASSERT_TRUE(projects.loader()(dir + "/new.rec", &r));
  r.second_file_name = dir + "/new.out";
  ASSERT_TRUE(add_batch_job(r, dir + "/new.rec", cfg));
  ASSERT_EQ(m.rows().size(), 2u);
  EXPECT_TRUE(std::filesystem::exists(dir + "/new.rec"));
  std::string text;
  ASSERT_TRUE(read_kept_file(cfg, &text));
  EXPECT_EQ(read_batch_entries(text).size(), 1u);
  saves.released = 2;
  run_until_idle(m);
  EXPECT_EQ(saves.started, (std::vector<std::string>{dir + "/a.out", dir + "/new.out"}));
  // Closing the program stops a running batch and joins it.
  saves.released = 0;
  m.save_all();
  ASSERT_TRUE(m.is_job_running());
  m.stop_and_join();
  EXPECT_FALSE(m.is_job_running());
  EXPECT_EQ(saves.running.load(), 0);
}

}  // namespace

namespace {

using namespace tsupport;

// The editor's own save of a record: a fresh editor on a copy of the
// window's list, as the window's save job runs it.
void editor_save(MPEG_Editor* window, const EditorRecordData& record) {
  std::unique_ptr<EClip> list = window->frame_copy(0, 0);
  ASSERT_TRUE(list);
  std::unique_ptr<MPEG_Editor> own = MPEG_Editor::create(*list, 0);
  ASSERT_TRUE(own);
  EditorRecordData copy = record;
  JobControl control;
  copy.record(own.get(), &control);
  ASSERT_EQ(control.outcome(), JobOutcome::done) << control.message();
}

TEST(BatchSaveEngine, SaveAllWritesWhatTheEditorsOwnSavesWrite) {
  TSUPPORT_NEED_FIXTURES("ui.mpg");
  FakePlatform fp;
  const std::string dir = test_dir();
  std::unique_ptr<IEditor> window = MpegEditorAdapter::open(fixture("ui.mpg"), 0);
  ASSERT_TRUE(window);
  MPEG_Editor* facade = dynamic_cast<MpegEditorAdapter*>(window.get())->facade();
  CBatchSaveDlg m;
  struct Job {
    const char* name;
    int kind, start, count;
  } jobs[] = {{"ps", 6, 5, 40}, {"ts", 8, 13, 30}};
  for (const Job& j : jobs) {
    EditorRecordData rec;
    editor_record_set_editor(&rec, facade);
    rec.output_type = j.kind;
    rec.start = j.start;
    rec.count = j.count;
    rec.second_file_name = dir + "/" + j.name + "_editor.mpg";
    editor_save(facade, rec);
    ASSERT_TRUE(add_batch_job(rec, dir + "/" + j.name + ".rec", dir + "/BatchSav.cfg"));
  }
  ASSERT_EQ(m.rows().size(), 2u);
  // Each row saves under its own output, not the project's.
  for (const Job& j : jobs) {
    m.select_row(j.kind == 6 ? 0 : 1);
    m.output_text = dir + "/" + j.name + "_batch.mpg";
    m.update();
  }
  m.save_all();
  run_until_idle(m);
  EXPECT_TRUE(fp.prompter.shown.empty()) << fp.prompter.last_text();
  for (const Job& j : jobs) {
    SCOPED_TRACE(j.name);
    const std::vector<uint8_t> a = read_file(dir + "/" + j.name + "_editor.mpg");
    ASSERT_GT(a.size(), 10000u);
    EXPECT_TRUE(a == read_file(dir + "/" + j.name + "_batch.mpg"));
    EXPECT_FALSE(partial_left(dir + "/" + j.name + "_batch.mpg"));
  }
}

}  // namespace
