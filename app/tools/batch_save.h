// The Batch Save Manager's rules: a list of editor save projects (".rec")
// paired with their output files, kept in "BatchSav.cfg" and in ".edl"
// lists, saved one after the other (or one alone) on a tool job. A row's
// save loads its project into the manager's record, gives the record the
// row's output and runs only after the previous save's thread was joined.
// Saves that fail are marked and reported when the batch ends.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app/tools/tool_job.h"
#include "engine/clips/settings.h"

inline constexpr const char* kBatchSaveCaption = " MPEG-Tamsel Batch Save Manager ";
inline constexpr const char* kBatchSettingsFile = "BatchSav.cfg";
inline constexpr const char* kBatchHelp = "help.chm::/htm/chap02-5-4.htm";
inline constexpr const char* kProjectFilter = "Editor Save Project Files (*.rec) |*.rec|All (*.*)|*.*||";
inline constexpr const char* kProjectListFilter = "Editor Save Project List (*.edl) |*.edl|All (*.*)|*.*||";

struct BatchRow {
  std::string project, output;
  double estimate_mb = 0.0;
  // Why the row's last save failed (empty: it did not); not stored.
  std::string failure;
};

// Values kept across openings of the manager (and in its settings file).
struct BatchFolders {
  std::string input, output, open, save;
  int window[4] = {0, 0, 0, 0};
};
BatchFolders& batch_folders();

// The entries and the trailer: the text of an ".edl" list.
std::string write_batch_entries(const std::vector<BatchRow>& rows);
// The complete entries of a text; an entry cut short, or one without a
// project, is not one.
std::vector<BatchRow> read_batch_entries(const std::string& text);
// A settings or list text with one more entry (its trailer recounted).
std::string append_batch_entry(const std::string& text, const BatchRow& row);

// Loads a save project into a record; false when it is no usable project.
using BatchProjectLoader = std::function<bool(const std::string& project, EditorRecordData* record)>;
// The save of a loaded record, built before its thread starts; empty (with
// *why) when it cannot run.
using BatchWorkFactory = std::function<ToolJob::Work(const EditorRecordData& record, std::string* why)>;
bool engine_load_project(const std::string& project, EditorRecordData* record);
ToolJob::Work engine_batch_work(const EditorRecordData& record, std::string* why);
// Writes a record as a save project through a temporary file and a
// rename (an old project stays whole when the write fails).
bool save_project_file(const EditorRecordData& record, const std::string& path);

class CBatchSaveDlg {
 public:
  static constexpr int kPollMs = 200;

  explicit CBatchSaveDlg(BatchProjectLoader loader = engine_load_project,
                         BatchWorkFactory factory = engine_batch_work);
  // Stops a running save (keeping what it wrote) and joins it.
  ~CBatchSaveDlg();
  CBatchSaveDlg(const CBatchSaveDlg&) = delete;
  CBatchSaveDlg& operator=(const CBatchSaveDlg&) = delete;

  // The open manager (at most one), or null.
  static CBatchSaveDlg* open_manager();

  // Called when what the window shows may have changed.
  std::function<void()> on_changed;
  // Runs the Save dialog in its batch mode on the record; true on Save.
  std::function<bool(EditorRecordData& record)> run_encoders;

  // ---- the list
  const std::vector<BatchRow>& rows() const { return rows_; }
  bool add_row(const std::string& project, const std::string& output, double estimate_mb, bool select);
  int find_row(const std::string& project, const std::string& output) const;
  void select_row(int row);
  int selected() const { return selected_; }
  static std::string estimate_text(double estimate_mb);

  // ---- the edits (the widget writes them, then calls update_buttons)
  std::string input_text, output_text;
  void update_buttons();
  bool add_enabled = false, update_enabled = false, delete_enabled = false, clear_enabled = false,
       encoders_enabled = false;

  // ---- settings file
  int columns[3] = {0, 0, 0};
  std::string config_text() const;
  void read_batch_config(const std::string& path);
  bool write_batch_config(const std::string& path, std::string* error = nullptr);
  int stored_select() const { return stored_select_; }

  // ---- buttons
  void browse_input();
  void browse_output();
  void add();
  void update();
  void remove();
  void clear_list();
  void encoders();
  void open_project_list();
  void save_project_list();
  void drop_files(const std::vector<std::string>& files);
  void save_one();
  void save_all();

  // ---- the job
  // The 200 ms timer: the percentage, and the end of a save once its
  // thread has returned.
  void poll();
  bool is_job_running() const { return job_.running(); }
  // The program closes: stop with the keep code, join, end the batch.
  void stop_and_join();
  bool job_mode() const { return job_mode_; }
  int percent() const { return percent_; }
  std::string percent_text() const;
  bool controls_enabled() const { return !job_mode_; }
  bool save_one_enabled() const { return !(job_mode_ && !save_one_flag_); }
  bool save_all_enabled() const { return !(job_mode_ && save_one_flag_); }
  const std::string& save_one_caption() const { return save_one_caption_; }
  const std::string& save_all_caption() const { return save_all_caption_; }
  EditorRecordData& record() { return record_; }
  const std::string& loaded_project() const { return loaded_; }

 private:
  bool load(const std::string& project);
  double record_estimate_mb();
  bool start_next_batch_job();
  bool start_batch_thread();
  void end_batch_job();
  void set_job_mode(bool on);
  void job_ended(const ToolJob::End& e);
  void changed();

  BatchProjectLoader loader_;
  BatchWorkFactory factory_;
  EditorRecordData record_;
  std::string loaded_;  // the project the record holds
  bool record_edited_ = false;  // Encoders changed the record of the selected row
  std::vector<BatchRow> rows_;
  int selected_ = -1;
  int stored_select_ = 0;
  double current_estimate_ = 0.0;  // bytes
  ToolJob job_;
  int job_row_ = -1;
  int next_row_ = 0;
  bool save_one_flag_ = false;
  bool job_mode_ = false;
  int percent_ = 0;
  std::string save_one_caption_ = "Save One", save_all_caption_ = "Save All";
};

// The Save dialog's Batch button: the record stored as a save project
// (asked for when project is empty) and entered in the batch list: in
// "BatchSav.cfg" at config_path, and in the open manager even while it
// saves; without an open manager the opener (set by the program) opens
// it. true when the entry was made.
bool add_batch_job(const EditorRecordData& record, std::string project, const std::string& config_path);
void set_batch_manager_opener(std::function<void()> opener);
