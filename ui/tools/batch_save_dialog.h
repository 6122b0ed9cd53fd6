// The Batch Save Manager window over CBatchSaveDlg: the project editor
// edits, the list of projects and outputs, Save One / Save All with the
// percentage shown in the window while a save runs.
#pragma once

#include <QDialog>
#include <functional>

#include "app/shell/tools.h"
#include "app/tools/batch_save.h"

class CEditorApp;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class QTreeWidget;

// "BatchSav.cfg" in the program folder (empty when there is none).
std::string batch_settings_path();
// Runs the Save dialog in its batch mode on a loaded project's record.
bool run_batch_save_dialog(QWidget* parent, EditorRecordData& record);

class BatchSaveDialog : public QDialog, public ToolWindow {
 public:
  explicit BatchSaveDialog(std::function<void()> closed, QWidget* parent = nullptr,
                           BatchProjectLoader loader = engine_load_project,
                           BatchWorkFactory factory = engine_batch_work);
  ~BatchSaveDialog() override;

  bool is_busy() const override { return model_.is_job_running(); }
  void close() override { QDialog::close(); }
  void stop_job() override { model_.stop_and_join(); }

  CBatchSaveDlg& model() { return model_; }
  void tick();
  void refresh();

 protected:
  void closeEvent(QCloseEvent* event) override;
  void reject() override { close(); }
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void fill_rows();
  void close_writing();

  CBatchSaveDlg model_;
  std::function<void()> closed_;
  bool writing_ = false;
  QLineEdit *input_ = nullptr, *output_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QProgressBar* bar_ = nullptr;
  QLabel* percent_ = nullptr;
  QPushButton *input_browse_ = nullptr, *output_browse_ = nullptr, *add_ = nullptr, *update_ = nullptr,
              *delete_ = nullptr, *encoders_ = nullptr, *load_ = nullptr, *save_list_ = nullptr, *clear_ = nullptr,
              *save_one_ = nullptr, *save_all_ = nullptr, *close_ = nullptr, *cancel_ = nullptr, *help_ = nullptr;
  QTimer* timer_ = nullptr;
};

// Registers the manager with the program's tool registry (F5) and lets the
// Save dialog's Batch button open it.
void install_batch_save(CEditorApp* app, QWidget* owner);
