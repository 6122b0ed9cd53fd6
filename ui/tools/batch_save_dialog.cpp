#include "ui/tools/batch_save_dialog.h"

#include <algorithm>

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app/editor/save_dialog.h"
#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/mpeg_editor_adapter.h"
#include "engine/mpeg_editor.h"
#include "platform/services.h"
#include "ui/editor/save_dialog_widget.h"
#include "ui/shell/clipboard_window.h"
#include "ui/tools/tool_widgets.h"

std::string batch_settings_path() {
  const std::string folder = editor_settings().program_folder;
  return folder.empty() ? std::string() : folder + "/" + kBatchSettingsFile;
}

bool run_batch_save_dialog(QWidget* parent, EditorRecordData& record) {
  std::unique_ptr<MPEG_Editor> made = MPEG_Editor::create(record.project, 0);
  if (!made) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "The project's clips cannot be opened.");
    return false;
  }
  MpegEditorAdapter editor(std::move(made));
  CSaveDlg dialog(&record, &editor);
  dialog.from_batch = 1;
  dialog.file_name = record.second_file_name;
  dialog.init();
  SaveDialogWidget widget(&dialog, parent);
  return widget.exec() == QDialog::Accepted;
}

BatchSaveDialog::BatchSaveDialog(std::function<void()> closed, QWidget* parent, BatchProjectLoader loader,
                                 BatchWorkFactory factory)
    : QDialog(parent, Qt::Window), model_(std::move(loader), std::move(factory)), closed_(std::move(closed)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setObjectName(QStringLiteral("batch_save"));
  setWindowTitle(QString::fromLatin1(kBatchSaveCaption));
  setAcceptDrops(true);

  auto* editor_box = new QGroupBox(QStringLiteral("Project Editor "), this);
  auto* eg = new QGridLayout(editor_box);
  add_file_row(eg, 0, "Input", editor_box, "input", &input_, "input_browse", &input_browse_);
  add_file_row(eg, 1, "Output", editor_box, "output", &output_, "output_browse", &output_browse_);
  auto* eb = new QHBoxLayout;
  add_ = tool_button("Add", "add", editor_box);
  update_ = tool_button("Update", "update", editor_box);
  delete_ = tool_button("Delete", "delete", editor_box);
  encoders_ = tool_button("Encoders", "encoders", editor_box);
  for (QPushButton* b : {add_, update_, delete_, encoders_}) eb->addWidget(b);
  eg->addLayout(eb, 2, 0, 1, 3);

  auto* list_box = new QGroupBox(QStringLiteral(" Project List "), this);
  auto* lv = new QVBoxLayout(list_box);
  list_ = new QTreeWidget(list_box);
  list_->setObjectName(QStringLiteral("list"));
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHeaderLabels({QStringLiteral("Clip List"), QStringLiteral("Output File"), QStringLiteral("Estimate")});
  list_->headerItem()->setTextAlignment(2, Qt::AlignCenter);
  list_->setItemDelegate(new FullRowDelegate(list_));
  list_->setAcceptDrops(false);
  lv->addWidget(list_);
  bar_ = new QProgressBar(list_box);
  bar_->setObjectName(QStringLiteral("progress"));
  bar_->setRange(0, 100);
  percent_ = new QLabel(list_box);
  percent_->setObjectName(QStringLiteral("percent"));
  auto* pr = new QHBoxLayout;
  pr->addWidget(bar_, 1);
  pr->addWidget(percent_);
  lv->addLayout(pr);
  auto* lb = new QHBoxLayout;
  load_ = tool_button("Load List", "load_list", list_box);
  save_list_ = tool_button("Save List", "save_list", list_box);
  clear_ = tool_button("Clear List", "clear_list", list_box);
  for (QPushButton* b : {load_, save_list_, clear_}) lb->addWidget(b);
  lv->addLayout(lb);

  auto* buttons = new QHBoxLayout;
  save_one_ = tool_button("Save One", "save_one", this);
  save_all_ = tool_button("Save All", "save_all", this);
  close_ = tool_button("Close", "close", this);
  cancel_ = tool_button("Cancel", "cancel", this);
  help_ = tool_button("Help", "help", this);
  for (QPushButton* b : {save_one_, save_all_, close_, cancel_, help_}) buttons->addWidget(b);
  auto* rows = new QVBoxLayout(this);
  rows->addWidget(editor_box);
  rows->addWidget(list_box, 1);
  rows->addLayout(buttons);

  auto act = [this](QPushButton* b, void (CBatchSaveDlg::*op)()) {
    connect(b, &QPushButton::clicked, this, [this, op] {
      (model_.*op)();
      if (model_.is_job_running()) timer_->start();
      refresh();
    });
  };
  act(input_browse_, &CBatchSaveDlg::browse_input);
  act(output_browse_, &CBatchSaveDlg::browse_output);
  act(add_, &CBatchSaveDlg::add);
  act(update_, &CBatchSaveDlg::update);
  act(delete_, &CBatchSaveDlg::remove);
  act(encoders_, &CBatchSaveDlg::encoders);
  act(load_, &CBatchSaveDlg::open_project_list);
  act(save_list_, &CBatchSaveDlg::save_project_list);
  act(clear_, &CBatchSaveDlg::clear_list);
  act(save_one_, &CBatchSaveDlg::save_one);
  act(save_all_, &CBatchSaveDlg::save_all);
  connect(help_, &QPushButton::clicked, this, [] { show_help(kBatchHelp); });
  connect(close_, &QPushButton::clicked, this, [this] { close_writing(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { QDialog::close(); });
  for (QLineEdit* e : {input_, output_})
    connect(e, &QLineEdit::textEdited, this, [this] {
      model_.input_text = input_->text().toStdString();
      model_.output_text = output_->text().toStdString();
      model_.update_buttons();
    });
  connect(list_, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) {
    model_.select_row(list_->indexOfTopLevelItem(item));
  });
  model_.run_encoders = [this](EditorRecordData& record) { return run_batch_save_dialog(this, record); };

  timer_ = new QTimer(this);
  timer_->setInterval(CBatchSaveDlg::kPollMs);
  connect(timer_, &QTimer::timeout, this, [this] { tick(); });

  resize(640, 420);
  model_.read_batch_config(batch_settings_path());
  const int* w = batch_folders().window;
  if (w[0] != 0 || w[1] != 0) move(w[0], w[1]);
  const int* c = model_.columns;
  if (c[0] <= 0 && c[1] <= 0 && c[2] <= 0) {
    // A hidden list has its width only once every nested layout has run
    // (its viewport is sized when it is shown).
    layout()->activate();
    for (QWidget* child : findChildren<QWidget*>())
      if (child->layout()) child->layout()->activate();
    const int half = std::max(40, (list_->width() - 2 * list_->frameWidth() - 75 - 5) / 2);
    list_->setColumnWidth(0, half);
    list_->setColumnWidth(1, half);
    list_->setColumnWidth(2, 75);
  } else {
    for (int i = 0; i < 3; ++i)
      if (c[i] > 0) list_->setColumnWidth(i, c[i]);
  }
  fill_rows();
  model_.on_changed = [this] { refresh(); };
  model_.update_buttons();
  refresh();
}

BatchSaveDialog::~BatchSaveDialog() {
  model_.on_changed = nullptr;
  model_.run_encoders = nullptr;
  model_.stop_and_join();
  tell_closed_once(&closed_);
}

void BatchSaveDialog::tick() {
  model_.poll();
  if (!model_.is_job_running() && !model_.job_mode()) timer_->stop();
  refresh();
}

void BatchSaveDialog::fill_rows() {
  list_->clear();
  for (const BatchRow& r : model_.rows()) {
    auto* item = new QTreeWidgetItem;
    item->setText(0, QString::fromStdString(r.project));
    item->setText(1, QString::fromStdString(r.output));
    item->setText(2, QString::fromStdString(CBatchSaveDlg::estimate_text(r.estimate_mb)));
    item->setTextAlignment(2, Qt::AlignCenter);
    if (!r.failure.empty()) item->setToolTip(1, QString::fromStdString(r.failure));
    list_->addTopLevelItem(item);
  }
}

void BatchSaveDialog::refresh() {
  if (list_->topLevelItemCount() != int(model_.rows().size())) fill_rows();
  else
    for (int i = 0; i < int(model_.rows().size()); ++i) {
      const BatchRow& r = model_.rows()[size_t(i)];
      QTreeWidgetItem* item = list_->topLevelItem(i);
      item->setText(0, QString::fromStdString(r.project));
      item->setText(1, QString::fromStdString(r.output));
      item->setText(2, QString::fromStdString(CBatchSaveDlg::estimate_text(r.estimate_mb)));
      item->setToolTip(1, QString::fromStdString(r.failure));
    }
  if (const int s = model_.selected(); s >= 0 && s < list_->topLevelItemCount()) {
    list_->setCurrentItem(list_->topLevelItem(s));
    list_->scrollToItem(list_->topLevelItem(s));
  }
  if (input_->text().toStdString() != model_.input_text) input_->setText(QString::fromStdString(model_.input_text));
  if (output_->text().toStdString() != model_.output_text)
    output_->setText(QString::fromStdString(model_.output_text));
  const bool idle = model_.controls_enabled();
  for (QWidget* w : {static_cast<QWidget*>(input_), static_cast<QWidget*>(output_),
                     static_cast<QWidget*>(input_browse_), static_cast<QWidget*>(output_browse_),
                     static_cast<QWidget*>(close_), static_cast<QWidget*>(cancel_), static_cast<QWidget*>(load_),
                     static_cast<QWidget*>(save_list_), static_cast<QWidget*>(help_)})
    w->setEnabled(idle);
  add_->setEnabled(model_.add_enabled);
  update_->setEnabled(model_.update_enabled);
  delete_->setEnabled(model_.delete_enabled);
  clear_->setEnabled(model_.clear_enabled);
  encoders_->setEnabled(model_.encoders_enabled);
  save_one_->setText(QString::fromStdString(model_.save_one_caption()));
  save_all_->setText(QString::fromStdString(model_.save_all_caption()));
  save_one_->setEnabled(model_.save_one_enabled());
  save_all_->setEnabled(model_.save_all_enabled());
  bar_->setVisible(model_.job_mode());
  percent_->setVisible(model_.job_mode());
  bar_->setValue(model_.percent());
  percent_->setText(QString::fromStdString(model_.percent_text()));
}

void BatchSaveDialog::close_writing() {
  writing_ = true;
  QDialog::close();
}

void BatchSaveDialog::closeEvent(QCloseEvent* event) {
  if (model_.is_job_running()) {
    if (platform().prompter->message(PromptIcon::Question, PromptButtons::YesNo, kStopCurrentProcess) !=
        PromptAnswer::Yes) {
      writing_ = false;
      event->ignore();
      return;
    }
    model_.stop_and_join();
    writing_ = true;
  }
  if (writing_) {
    for (int i = 0; i < 3; ++i) model_.columns[i] = list_->columnWidth(i);
    if (!isMinimized()) {
      const QRect g = geometry();
      int* w = batch_folders().window;
      w[0] = g.left();
      w[1] = g.top();
      w[2] = g.right() + 1;
      w[3] = g.bottom() + 1;
    }
    std::string why;
    const std::string path = batch_settings_path();
    if (!path.empty() && !model_.write_batch_config(path, &why))
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: " + why);
  }
  event->accept();
  tell_closed_once(&closed_);
}

void BatchSaveDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && model_.controls_enabled()) event->acceptProposedAction();
}

void BatchSaveDialog::dropEvent(QDropEvent* event) {
  std::vector<std::string> files;
  for (const QUrl& u : event->mimeData()->urls())
    if (u.isLocalFile()) files.push_back(u.toLocalFile().toStdString());
  model_.drop_files(files);
  refresh();
}

void install_batch_save(CEditorApp* app, QWidget* owner) {
  app->tools().add(
      cmd::kBatchSave,
      [owner](std::function<void()> closed) -> ToolWindow* {
        auto* w = new BatchSaveDialog(std::move(closed), owner);
        w->show();
        return w;
      },
      ToolRerun::CloseUnlessBusy);
  set_batch_manager_opener([app] { app->tools().run(cmd::kBatchSave); });
}
