#include "app/tools/batch_save.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/kept_file.h"
#include "app/shell/text_lines.h"
#include "app/tools/tool_text.h"
#include "engine/clips/text_fields.h"
#include "engine/editor_record.h"
#include "engine/mpeg_editor.h"
#include "platform/services.h"

namespace {

CBatchSaveDlg* g_open_manager = nullptr;
std::function<void()> g_opener;

PromptAnswer say(PromptIcon icon, PromptButtons buttons, const std::string& text) {
  return platform().prompter->message(icon, buttons, text);
}

std::string formatted(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// The batch's own percentage is shown in the manager: its job makes no
// progress window.
class InlineProgress : public JobProgressView {
 public:
  void set_percent(int) override {}
  bool paused() const override { return false; }
  void finish() override {}
};

ProgressViewFactory inline_progress() {
  return [](const ProgressViewSpec&, JobProgressView::Report) { return std::make_unique<InlineProgress>(); };
}

bool valid_save_kind(int kind) { return kind == 0 || (kind >= 2 && kind <= 6) || kind == 8; }

constexpr const char* kTrailerKey = "// total:";

}  // namespace

BatchFolders& batch_folders() {
  static BatchFolders folders;
  return folders;
}

// ------------------------------------------------------------------ list files

std::string write_batch_entries(const std::vector<BatchRow>& rows) {
  std::string out;
  for (const BatchRow& r : rows) {
    out += "BatchSave:\n    " + r.project + "\n    " + r.output + "\n" + formatted("    %.3f\n", r.estimate_mb);
  }
  return out + "//\n" + kTrailerKey + " " + std::to_string(rows.size()) + "\n//\n";
}

std::vector<BatchRow> read_batch_entries(const std::string& text) {
  const std::vector<std::string> lines = text_lines(text);
  std::vector<BatchRow> rows;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (!key_line(lines[i], "BatchSave:")) continue;
    if (i + 3 >= lines.size()) break;
    BatchRow r;
    r.project = utils_strip_spaces(lines[i + 1]);
    r.output = utils_strip_spaces(lines[i + 2]);
    char* end = nullptr;
    const std::string mb = utils_strip_spaces(lines[i + 3]);
    const double v = std::strtod(mb.c_str(), &end);
    // A size that is no number is only a display value: it reads 0.
    r.estimate_mb = end != mb.c_str() && std::isfinite(v) && v >= 0 && v < 1e12 ? v : 0.0;
    i += 3;
    if (!r.project.empty()) rows.push_back(std::move(r));
  }
  return rows;
}

std::string append_batch_entry(const std::string& text, const BatchRow& row) {
  std::vector<std::string> lines = text_lines(text);
  // The old trailer goes; the new one counts every entry.
  const size_t n = lines.size();
  if (n >= 3 && lines[n - 1] == "//" && key_line(lines[n - 2], kTrailerKey) && lines[n - 3] == "//") lines.resize(n - 3);
  std::string head;
  for (const std::string& l : lines) head += l + "\n";
  std::vector<BatchRow> rows = read_batch_entries(head);
  rows.push_back(row);
  const std::string entries = write_batch_entries(rows);
  // Everything but the entries is kept as it was, then the entries.
  std::string kept;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (key_line(lines[i], "BatchSave:")) {
      // An entry cut short at the end goes with it.
      if (i + 3 >= lines.size()) break;
      i += 3;
      continue;
    }
    kept += lines[i] + "\n";
  }
  return kept + entries;
}

// ------------------------------------------------------------------ engine

bool engine_load_project(const std::string& project, EditorRecordData* record) {
  std::unique_ptr<MPEG_Editor> editor;
  return editor_record_load(record, project.c_str(), &editor, 0) == 0;
}

ToolJob::Work engine_batch_work(const EditorRecordData& record, std::string* why) {
  std::shared_ptr<MPEG_Editor> editor(MPEG_Editor::create(record.project, 0));
  if (!editor) {
    if (why) *why = "the project's clips cannot be opened";
    return {};
  }
  auto rec = std::make_shared<EditorRecordData>(record);
  return [editor, rec](JobControl& control) { rec->record(editor.get(), &control); };
}

bool save_project_file(const EditorRecordData& record, const std::string& path) {
  if (path.empty()) return false;
  const std::string temp = path + ".tmp";
  if (record.save(temp.c_str(), path.c_str()) != 0) {
    std::remove(temp.c_str());
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) std::remove(temp.c_str());
  return !ec;
}

// ------------------------------------------------------------------ manager

CBatchSaveDlg::CBatchSaveDlg(BatchProjectLoader loader, BatchWorkFactory factory)
    : loader_(std::move(loader)), factory_(std::move(factory)), job_(inline_progress()) {
  job_.set_on_end([this](const ToolJob::End& e) { job_ended(e); });
  g_open_manager = this;
}

CBatchSaveDlg::~CBatchSaveDlg() {
  job_.set_on_end(nullptr);
  job_.stop_and_join();
  if (g_open_manager == this) g_open_manager = nullptr;
}

CBatchSaveDlg* CBatchSaveDlg::open_manager() { return g_open_manager; }

void CBatchSaveDlg::changed() {
  if (on_changed) on_changed();
}

std::string CBatchSaveDlg::estimate_text(double estimate_mb) { return formatted(" %.1f MB", estimate_mb); }

int CBatchSaveDlg::find_row(const std::string& project, const std::string& output) const {
  for (size_t i = 0; i < rows_.size(); ++i)
    if (rows_[i].project == project && rows_[i].output == output) return int(i);
  return -1;
}

bool CBatchSaveDlg::add_row(const std::string& project, const std::string& output, double estimate_mb,
                            bool select) {
  if (project.empty()) return false;
  if (const int at = find_row(project, output); at >= 0) {
    char head[96];
    std::snprintf(head, sizeof head, "Save project is already in the list: \n    Item No: %d\n", at);
    say(PromptIcon::Stop, PromptButtons::Ok,
        std::string(head) + "    Input:   <" + project + ">\n    Output:  <" + output + ">\n");
    return false;
  }
  rows_.push_back({project, output, estimate_mb, {}});
  if (select) select_row(int(rows_.size()) - 1);
  changed();
  return true;
}

void CBatchSaveDlg::select_row(int row) {
  if (row < 0 || row >= int(rows_.size())) return;
  selected_ = row;
  input_text = rows_[size_t(row)].project;
  output_text = rows_[size_t(row)].output;
  current_estimate_ = rows_[size_t(row)].estimate_mb * 1e6;
  record_edited_ = false;
  update_buttons();
}

void CBatchSaveDlg::update_buttons() {
  add_enabled = !input_text.empty() && find_row(input_text, output_text) < 0;
  update_enabled = false;
  if (!rows_.empty() && selected_ >= 0 && selected_ < int(rows_.size())) {
    const BatchRow& r = rows_[size_t(selected_)];
    const bool input_differs = input_text.size() >= 2 && input_text != r.project;
    update_enabled = output_text != r.output || std::fabs(current_estimate_ - r.estimate_mb * 1e6) > 100000.0 ||
                     input_differs || record_edited_;
  }
  delete_enabled = !rows_.empty();
  // Emptying the list under a running batch would pull its rows away.
  clear_enabled = !rows_.empty() && !job_mode_;
  encoders_enabled = !input_text.empty();
  if (job_mode_) add_enabled = update_enabled = delete_enabled = encoders_enabled = false;
  changed();
}

bool CBatchSaveDlg::load(const std::string& project) {
  if (!loader_ || !loader_(project, &record_)) {
    loaded_.clear();
    return false;
  }
  loaded_ = project;
  record_edited_ = false;
  return true;
}

double CBatchSaveDlg::record_estimate_mb() { return record_.estimate_output_size() * 1e-6; }

// ------------------------------------------------------------------ settings

std::string CBatchSaveDlg::config_text() const {
  const BatchFolders& f = batch_folders();
  char line[128];
  std::string out = "//\n// multiple save project batch job\n//\n";
  std::snprintf(line, sizeof line, "%s %d %d %d %d\n", "BatchWindow:", f.window[0], f.window[1], f.window[2],
                f.window[3]);
  out += line;
  std::snprintf(line, sizeof line, "%s %d %d %d\n", "BatchColumns:", columns[0], columns[1], columns[2]);
  out += line;
  out += "BatchInitInputPath: " + f.input + "\n";
  out += "BatchInitOutputPath: " + f.output + "\n";
  out += "BatchInitOpenPath: " + f.open + "\n";
  out += "BatchInitSavePath: " + f.save + "\n";
  std::snprintf(line, sizeof line, "%s %d\n%s %d\n", "BatchInitSelect:", selected_, "BatchSaveType:",
                record_.output_type);
  return out + line + write_batch_entries(rows_);
}

void CBatchSaveDlg::read_batch_config(const std::string& path) {
  BatchFolders& f = batch_folders();
  f = BatchFolders{};
  std::string text;
  if (!read_kept_file(path, &text)) return;
  for (const std::string& line : text_lines(text)) {
    int kind = -1;
    read_keyed_line(line,
                    {{"BatchInitInputPath:", &f.input},
                     {"BatchInitOutputPath:", &f.output},
                     {"BatchInitOpenPath:", &f.open},
                     {"BatchInitSavePath:", &f.save}},
                    {{"BatchWindow:", f.window, 4},
                     {"BatchColumns:", columns, 3},
                     {"BatchInitSelect:", &stored_select_, 1},
                     {"BatchSaveType:", &kind, 1}});
    if (valid_save_kind(kind)) record_.output_type = kind;
  }
  for (int& c : columns)
    if (c < 0 || c > 10000) c = 0;
  for (const BatchRow& r : read_batch_entries(text)) add_row(r.project, r.output, r.estimate_mb, false);
  if (!rows_.empty()) select_row(stored_select_ >= 0 && stored_select_ < int(rows_.size()) ? stored_select_ : 0);
}

bool CBatchSaveDlg::write_batch_config(const std::string& path, std::string* error) {
  return write_kept_file(path, config_text(), error);
}

// ------------------------------------------------------------------ buttons

void CBatchSaveDlg::browse_input() {
  std::string path;
  if (!file_dialog(&path, 0, 0, kProjectFilter, ".rec", batch_folders().input, "Open Save Project Files")) return;
  batch_folders().input = split_path(path);
  input_text = path;
  update_buttons();
}

void CBatchSaveDlg::browse_output() {
  std::string path;
  if (!file_dialog(&path, 1, 0, nullptr, nullptr, batch_folders().output, "Save MPEG Stream")) return;
  batch_folders().output = split_path(path);
  output_text = path;
  update_buttons();
}

void CBatchSaveDlg::add() {
  if (job_mode_ || input_text.empty()) return;
  const std::string project = input_text;
  if (!load(project)) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: is NOT a valid editor save project", project));
    input_text.clear();
    update_buttons();
    return;
  }
  // Without an output the project's own is taken.
  if (output_text.empty()) output_text = record_.second_file_name;
  if (check_file_sharing(output_text)) return;
  add_row(project, output_text, record_estimate_mb(), true);
}

void CBatchSaveDlg::update() {
  if (job_mode_ || input_text.empty() || selected_ < 0 || selected_ >= int(rows_.size())) return;
  BatchRow& r = rows_[size_t(selected_)];
  const auto load_failed = [this] {
    say(PromptIcon::Stop, PromptButtons::Ok,
        text_with_name("<%s>: loading an editor save project has failed", input_text));
  };
  if (input_text != r.project) {
    if (!load(input_text)) return load_failed();
    r.project = input_text;
    r.output = output_text;
    r.estimate_mb = record_estimate_mb();
    r.failure.clear();
    current_estimate_ = r.estimate_mb * 1e6;
    update_buttons();
    return;
  }
  // The record may hold another row's project: only this one's is
  // written back into this file.
  if (loaded_ != r.project && !load(r.project)) return load_failed();
  if (!output_text.empty()) record_.second_file_name = output_text;
  if (!save_project_file(record_, r.project)) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: cannot open to write", r.project));
    return;
  }
  r.output = output_text;
  r.estimate_mb = record_estimate_mb();
  r.failure.clear();
  current_estimate_ = r.estimate_mb * 1e6;
  record_edited_ = false;
  update_buttons();
}

void CBatchSaveDlg::remove() {
  if (job_mode_ || selected_ < 0 || selected_ >= int(rows_.size())) return;
  const int at = selected_;
  rows_.erase(rows_.begin() + at);
  selected_ = -1;
  if (!rows_.empty()) select_row(at < int(rows_.size()) ? at : 0);
  else update_buttons();
}

void CBatchSaveDlg::clear_list() {
  if (job_mode_ || rows_.empty()) return;
  if (say(PromptIcon::Question, PromptButtons::YesNo, "Would you like to clear the project list ?") !=
      PromptAnswer::Yes)
    return;
  rows_.clear();
  selected_ = -1;
  update_buttons();
}

void CBatchSaveDlg::encoders() {
  if (job_mode_ || input_text.empty()) return;
  if (!load(input_text)) {
    say(PromptIcon::Stop, PromptButtons::Ok,
        text_with_name("<%s>: loading an editor save project has failed", input_text));
    input_text.clear();
    update_buttons();
    return;
  }
  if (!output_text.empty()) record_.second_file_name = output_text;
  const EditorRecordData copy = record_;
  if (!run_encoders || !run_encoders(record_)) return;
  if (record_.second_file_name != output_text) output_text = record_.second_file_name;
  const bool selected_project =
      selected_ >= 0 && selected_ < int(rows_.size()) && rows_[size_t(selected_)].project == input_text;
  if (selected_project) {
    record_edited_ = record_ != copy;
    current_estimate_ = record_.estimate_output_size();
  }
  update_buttons();
}

void CBatchSaveDlg::open_project_list() {
  if (job_mode_) return;
  std::string path;
  if (!file_dialog(&path, 0, 0, kProjectListFilter, ".edl", batch_folders().open, "Open Project List")) return;
  std::string text;
  if (!read_kept_file(path, &text)) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: cannot open to read", path));
    return;
  }
  const std::vector<BatchRow> entries = read_batch_entries(text);
  if (entries.empty()) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: no project record found", path));
    return;
  }
  if (!rows_.empty() && say(PromptIcon::Question, PromptButtons::YesNo,
                            "Would you like to save the current project list ?") == PromptAnswer::Yes)
    save_project_list();
  rows_.clear();
  selected_ = -1;
  for (const BatchRow& r : entries) add_row(r.project, r.output, r.estimate_mb, false);
  batch_folders().open = split_path(path);
  select_row(0);
  update_buttons();
}

void CBatchSaveDlg::save_project_list() {
  std::string path;
  if (!file_dialog(&path, 1, 0, kProjectListFilter, ".edl", batch_folders().save, "Save Project List")) return;
  if (!write_kept_file(path, write_batch_entries(rows_))) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: cannot open to write", path));
    return;
  }
  batch_folders().save = split_path(path);
}

void CBatchSaveDlg::drop_files(const std::vector<std::string>& files) {
  if (job_mode_) return;
  for (const std::string& file : files) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) {
      say(PromptIcon::Exclamation, PromptButtons::Ok, text_with_name("<%s>: cannot open to read\n", file));
      return;
    }
    std::fclose(f);
    if (!load(file)) {
      say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: is NOT a valid editor save project", file));
      continue;
    }
    add_row(file, record_.second_file_name, record_estimate_mb(), true);
  }
}

// ------------------------------------------------------------------ the job

std::string CBatchSaveDlg::percent_text() const { return std::to_string(percent_) + "%"; }

void CBatchSaveDlg::save_one() {
  if (job_.running()) {
    if (say(PromptIcon::Question, PromptButtons::YesNo, "Stop the Save job ?") == PromptAnswer::Yes)
      job_.control().set_command(JobCommand::stop_delete);
    return;
  }
  if (input_text.empty()) return;
  if (!load(input_text)) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: is NOT a valid editor save project", input_text));
    return;
  }
  // Without an output the project's own is saved.
  if (output_text.empty()) output_text = record_.second_file_name;
  if (check_file_sharing(output_text)) return;
  record_.second_file_name = output_text;
  next_row_ = int(rows_.size());
  save_one_flag_ = true;
  job_row_ = selected_ >= 0 && selected_ < int(rows_.size()) && rows_[size_t(selected_)].project == input_text &&
                     rows_[size_t(selected_)].output == output_text
                 ? selected_
                 : -1;
  if (!start_batch_thread()) return;
  set_job_mode(true);
  if (job_row_ >= 0) select_row(job_row_);
}

void CBatchSaveDlg::save_all() {
  if (job_.running()) {
    if (say(PromptIcon::Question, PromptButtons::YesNo, "Stop the batch job ?") == PromptAnswer::Yes) {
      job_.control().set_command(JobCommand::stop_delete);
      next_row_ = int(rows_.size());
    }
    return;
  }
  if (rows_.empty()) return;
  save_one_flag_ = false;
  next_row_ = 0;
  for (BatchRow& r : rows_) r.failure.clear();
  set_job_mode(true);
  if (!start_next_batch_job()) end_batch_job();
}

bool CBatchSaveDlg::start_next_batch_job() {
  while (next_row_ < int(rows_.size())) {
    const int row = next_row_++;
    select_row(row);
    job_row_ = row;
    const BatchRow r = rows_[size_t(row)];
    std::string why;
    if (check_file_sharing(r.output)) {
      why = "the output cannot be written";
    } else if (!load(r.project)) {
      why = "is NOT a valid editor save project";
    } else {
      record_.second_file_name = r.output;
      if (start_batch_thread()) return true;
      why = rows_[size_t(row)].failure;
    }
    rows_[size_t(row)].failure = why;
    if (next_row_ >= int(rows_.size())) return false;
    if (say(PromptIcon::Question, PromptButtons::YesNo, "Would you like to continue ?") != PromptAnswer::Yes)
      return false;
  }
  return false;
}

bool CBatchSaveDlg::start_batch_thread() {
  record_.audio_crc = editor_settings().audio_crc ? 1 : 0;
  std::string why;
  ToolJob::Work work = factory_ ? factory_(record_, &why) : ToolJob::Work{};
  if (!work || !job_.start(std::move(work), {"Saving", record_.second_file_name, 0.0, 0})) {
    if (job_row_ >= 0) rows_[size_t(job_row_)].failure = why.empty() ? "the save cannot start" : why;
    if (save_one_flag_)
      say(PromptIcon::Stop, PromptButtons::Ok,
          "<" + record_.second_file_name + ">: " + (why.empty() ? "the save cannot start" : why));
    return false;
  }
  percent_ = 0;
  changed();
  return true;
}

void CBatchSaveDlg::poll() {
  if (!job_.running()) return;
  job_.poll();
  if (job_.running() && job_.shown_percent() > percent_) {
    percent_ = job_.shown_percent();
    changed();
  }
}

void CBatchSaveDlg::job_ended(const ToolJob::End& e) {
  // The thread is joined: the record may take the next project now.
  percent_ = 100;
  if (job_row_ >= 0 && job_row_ < int(rows_.size())) {
    BatchRow& r = rows_[size_t(job_row_)];
    if (e.outcome == JobOutcome::failed) r.failure = e.message.empty() ? "the save has failed" : e.message;
    else r.failure.clear();
  } else if (e.outcome == JobOutcome::failed) {
    say(PromptIcon::Stop, PromptButtons::Ok,
        "<" + record_.second_file_name + ">: " + (e.message.empty() ? "the save has failed" : e.message));
  }
  if (save_one_flag_ || !start_next_batch_job()) end_batch_job();
}

void CBatchSaveDlg::end_batch_job() {
  job_row_ = -1;
  set_job_mode(false);
  std::string failed;
  for (size_t i = 0; i < rows_.size(); ++i)
    if (!rows_[i].failure.empty())
      failed += "    Item No: " + std::to_string(i) + "  <" + rows_[i].output + ">: " + rows_[i].failure + "\n";
  if (!failed.empty()) say(PromptIcon::Exclamation, PromptButtons::Ok, "These saves have failed:\n" + failed);
}

void CBatchSaveDlg::set_job_mode(bool on) {
  job_mode_ = on;
  percent_ = 0;
  if (save_one_flag_) save_one_caption_ = on ? "Stop" : "Save";
  else save_all_caption_ = on ? "Stop" : "Save All";
  if (!on && !save_one_flag_ && selected_ >= 0) select_row(selected_);
  update_buttons();
}

void CBatchSaveDlg::stop_and_join() {
  if (!job_.running()) return;
  next_row_ = int(rows_.size());
  job_.stop_and_join();
}

// ------------------------------------------------------------------ from the Save dialog

void set_batch_manager_opener(std::function<void()> opener) { g_opener = std::move(opener); }

bool add_batch_job(const EditorRecordData& record, std::string project, const std::string& config_path) {
  if (project.empty()) {
    if (!file_dialog(&project, 1, 0, kProjectFilter, ".rec", batch_folders().input,
                     "Open Record Configuration Files"))
      return false;
    batch_folders().input = split_path(project);
  }
  if (!save_project_file(record, project)) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: cannot open to write", project));
    return false;
  }
  EditorRecordData copy = record;
  const BatchRow row{project, record.second_file_name, copy.estimate_output_size() * 1e-6, {}};
  std::string text;
  const bool had = read_kept_file(config_path, &text);
  if (!write_kept_file(config_path, append_batch_entry(had ? text : std::string(), row))) {
    say(PromptIcon::Stop, PromptButtons::Ok, text_with_name("<%s>: cannot open to update", config_path));
    return false;
  }
  if (CBatchSaveDlg* m = CBatchSaveDlg::open_manager()) {
    // A running batch reaches the new row too; the manager writes it back
    // at its close.
    m->add_row(row.project, row.output, row.estimate_mb, !m->is_job_running());
  } else if (g_opener) {
    g_opener();
  }
  return true;
}
