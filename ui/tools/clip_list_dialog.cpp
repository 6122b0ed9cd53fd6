#include "ui/tools/clip_list_dialog.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <fstream>

#include "app/shell/command_ids.h"
#include "app/shell/editor_app.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/kept_file.h"
#include "platform/services.h"
#include "ui/tools/stream_info_dialog.h"
#include "ui/tools/video_effect_dialog.h"

namespace {

const char* const kListFilter =
    "Video Clip List Files (*.vls) |*.vls| Editor Project Files (*.qme) |*.qme|All (*.*)|*.*||";

bool is_project(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = char(std::toupper(static_cast<unsigned char>(c)));
  return tail == ".QME";
}

void error_box(const std::string& text) { platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, text); }

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The file chosen in the list's open or save dialog; empty when cancelled.
std::string list_dialog(FileDialogKind kind, const char* title, const std::string& folder) {
  std::string path;
  return file_dialog(&path, kind == FileDialogKind::Save, 0, kListFilter, "vls", folder, title) ? path : std::string();
}

}  // namespace

ClipListDialog::ClipListDialog(std::function<void(const EClip&)> hand_over, std::function<void()> closed,
                               ClipMaker maker, QWidget* parent)
    : QDialog(parent), model_(std::move(maker)), hand_over_(std::move(hand_over)), closed_(std::move(closed)) {
  setWindowTitle(QStringLiteral(" Video Clip List"));
  setAttribute(Qt::WA_DeleteOnClose);
  setAcceptDrops(true);
  auto button = [this](const char* text, void (ClipListDialog::*slot)()) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setObjectName(QString::fromUtf8(text));
    b->setAutoDefault(false);
    if (slot) connect(b, &QPushButton::clicked, this, slot);
    return b;
  };
  file_ = new QLineEdit(this);
  file_->setObjectName(QStringLiteral("c1351"));
  start_ = new QLineEdit(this);
  start_->setObjectName(QStringLiteral("c1358"));
  length_ = new QLineEdit(this);
  length_->setObjectName(QStringLiteral("c1355"));
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("c1346"));
  list_->setHeaderLabels({QStringLiteral("Clip File"), QStringLiteral("Start"), QStringLiteral("Length"),
                          QStringLiteral("Total")});
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setAllColumnsShowFocus(true);
  list_->header()->resizeSection(0, 220);
  list_->setAcceptDrops(false);

  auto* browse_button = button("...", &ClipListDialog::browse);
  all_ = button("All", nullptr);
  add_ = button("Add", nullptr);
  insert_ = button("Insert", nullptr);
  update_ = button("Update", &ClipListDialog::update_clip);
  delete_ = button("Delete", &ClipListDialog::delete_row);
  clear_ = button("Clear", &ClipListDialog::clear_rows);
  undo_ = button("Undo", &ClipListDialog::undo);
  format_ = button("time", &ClipListDialog::toggle_format);
  format_->setCheckable(true);
  auto* load_button = button("Load", &ClipListDialog::load);
  save_ = button("Save", &ClipListDialog::save);
  info_ = button("Info", &ClipListDialog::show_info);
  effect_ = button("Video Effect", &ClipListDialog::video_effect);
  auto* help = button("Help", nullptr);
  auto* ok_button = button("OK", &ClipListDialog::ok);
  auto* cancel = button("Cancel", nullptr);
  ok_button->setDefault(true);

  connect(add_, &QPushButton::clicked, this, [this] {
    if (add_clip_file(file_->text().toStdString(), true, -1)) model_.clear_undo();
    update_controls();
  });
  connect(insert_, &QPushButton::clicked, this, [this] {
    const int at = list_->currentIndex().isValid() ? list_->currentIndex().row() : -1;
    if (add_clip_file(file_->text().toStdString(), true, at)) model_.clear_undo();
    update_controls();
  });
  connect(all_, &QPushButton::clicked, this, [this] {
    const int row = model_.selected;
    if (row < 0 || row >= int(model_.clips().size())) return;
    guard_ = true;
    start_->setText(QString::fromStdString(model_.field_text(0, row)));
    length_->setText(QString::fromStdString(model_.field_text(model_.clips()[size_t(row)].video_frame_total, row)));
    guard_ = false;
    update_controls();
  });
  connect(help, &QPushButton::clicked, this, [] { show_help("help.chm::/htm/chap02-5-5.htm"); });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(file_, &QLineEdit::textChanged, this, [this] { update_controls(); });
  connect(start_, &QLineEdit::textEdited, this, [this] { field_changed(true); });
  connect(length_, &QLineEdit::textEdited, this, [this] { field_changed(false); });
  connect(list_, &QTreeWidget::itemDoubleClicked, this,
          [this](QTreeWidgetItem* item) { select_row(list_->indexOfTopLevelItem(item)); });

  auto* fields = new QGridLayout;
  fields->addWidget(new QLabel(QStringLiteral("Clip File:")), 0, 0);
  fields->addWidget(file_, 0, 1, 1, 3);
  fields->addWidget(browse_button, 0, 4);
  fields->addWidget(new QLabel(QStringLiteral("Start:")), 1, 0);
  fields->addWidget(start_, 1, 1);
  fields->addWidget(new QLabel(QStringLiteral("Length:")), 1, 2);
  fields->addWidget(length_, 1, 3);
  fields->addWidget(all_, 1, 4);
  auto* edits = new QHBoxLayout;
  for (QPushButton* b : {add_, insert_, update_, delete_, clear_, undo_, format_}) edits->addWidget(b);
  group_ = new QGroupBox(this);
  auto* gl = new QVBoxLayout(group_);
  gl->addWidget(list_);
  auto* bottom = new QHBoxLayout;
  for (QPushButton* b : {load_button, save_, info_, effect_, help}) bottom->addWidget(b);
  bottom->addStretch();
  bottom->addWidget(ok_button);
  bottom->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addLayout(edits);
  layout->addWidget(group_);
  layout->addLayout(bottom);
  resize(620, 420);

  model_.load_settings(settings_path());
  if (model_.window[0] || model_.window[1]) move(model_.window[0], model_.window[1]);
  for (int c = 0; c < 4; ++c)
    if (model_.columns[c] > 0) list_->header()->resizeSection(c, model_.columns[c]);
  if (model_.selected < 0 || model_.selected >= int(model_.clips().size())) model_.selected = 0;
  format_->setChecked(model_.time_format != 0);
  format_->setText(model_.time_format ? QStringLiteral("time") : QStringLiteral("frame"));
  fill_rows();
  select_row(model_.selected);
  update_controls();
  ok_button->setFocus(Qt::OtherFocusReason);
}

ClipListDialog::~ClipListDialog() {
  if (closed_) closed_();
}

std::string ClipListDialog::settings_path() const {
  const std::string folder = editor_settings().program_folder;
  return folder.empty() ? std::string() : folder + "/" + kClipListSettingsFile;
}

void ClipListDialog::fill_rows() {
  list_->clear();
  for (int r = 0; r < int(model_.clips().size()); ++r) {
    auto* item = new QTreeWidgetItem;
    for (int c = 0; c < 4; ++c) item->setText(c, QString::fromStdString(model_.cell(r, c)));
    list_->addTopLevelItem(item);
  }
}

void ClipListDialog::select_row(int row) {
  const int rows = int(model_.clips().size());
  if (row >= 0 && row < rows) {
    model_.selected = row;
    const Clip& c = model_.clips()[size_t(row)];
    guard_ = true;
    file_->setText(QString::fromStdString(c.file_name));
    start_->setText(QString::fromStdString(model_.field_text(c.start, row)));
    length_->setText(QString::fromStdString(model_.field_text(c.count, row)));
    guard_ = false;
    const bool still = Clip::is_still_image_type(c.clip_type);
    start_->setEnabled(!still);
    all_->setEnabled(!still);
    list_->setCurrentItem(list_->topLevelItem(row));
    list_->scrollToItem(list_->topLevelItem(row));
  }
  group_->setTitle(rows ? QStringLiteral("Clip List:  %1/%2").arg(model_.selected + 1).arg(rows)
                        : QStringLiteral("Clip List: "));
}

void ClipListDialog::show_info() {
  if (model_.clips().empty()) return;
  const int row = std::clamp(model_.selected, 0, int(model_.clips().size()) - 1);
  CStreamInfoDlg info(model_.hand_over());
  info.list_mode = true;
  info.time_format = model_.time_format;
  info.current = row;
  const double period = VideoClipListModel::frame_period(model_.clips()[size_t(row)]);
  if (period > 0) info.frame_rate = 1.0 / period;
  if (run_stream_info_dialog(&info, this) && info.current != row) select_row(info.current);
  update_controls();
}

void ClipListDialog::update_controls() {
  const bool clips = !model_.clips().empty();
  const int row = model_.selected;
  add_->setEnabled(!file_->text().isEmpty());
  bool differs = false;
  if (clips && row >= 0 && row < int(model_.clips().size()) &&
      file_->text().toStdString() == model_.clips()[size_t(row)].file_name) {
    const Clip& c = model_.clips()[size_t(row)];
    differs = model_.field_frames(start_->text().toStdString(), row) != c.start ||
              model_.field_frames(length_->text().toStdString(), row) != c.count;
  }
  update_->setEnabled(differs);
  delete_->setEnabled(list_->topLevelItemCount() > 0);
  for (QPushButton* b : {insert_, save_, clear_, info_, effect_}) b->setEnabled(clips);
  undo_->setEnabled(model_.can_undo());
  select_row(-1);  // the group's title
}

void ClipListDialog::write_fields(double start, double length) {
  guard_ = true;
  auto text = [this](double v) {
    return model_.time_format ? QString::asprintf("%.2f", v) : QString::number(static_cast<long long>(v));
  };
  start_->setText(text(start));
  length_->setText(text(length));
  guard_ = false;
}

void ClipListDialog::field_changed(bool start_field) {
  if (guard_) return;
  double s = model_.field_value(start_->text().toStdString()), l = model_.field_value(length_->text().toStdString());
  const double s0 = s, l0 = l;
  start_field ? model_.start_rule(&s, &l) : model_.length_rule(&s, &l);
  if (s != s0 || l != l0) write_fields(s, l);
  update_controls();
}

bool ClipListDialog::add_clip_file(const std::string& name, bool with_fields, int index) {
  if (is_project(name)) {
    EClip project;
    if (project.init(name.c_str(), 0) != 0 || project.clips.empty()) {
      error_box("<" + name + ">: loading project has failed.");
      return false;
    }
    for (const Clip& c : project.clips) model_.insert_clip_record(c, -1);
    fill_rows();
    select_row(model_.selected < int(model_.clips().size()) ? model_.selected : 0);
    update_controls();
    return true;
  }
  Clip c;
  if (name.empty() || !model_.make_clip(name, &c)) {
    error_box("<" + name + ">: not a valid video clip");
    return false;
  }
  const int at = index < 0 || index >= int(model_.clips().size()) ? int(model_.clips().size()) : index;
  const std::string start_text = start_->text().toStdString(), length_text = length_->text().toStdString();
  model_.insert_clip_record(c, at);
  if (with_fields) {
    model_.set_range(at, model_.field_frames(start_text, at), model_.field_frames(length_text, at));
  }
  fill_rows();
  select_row(at);
  update_controls();
  return true;
}

void ClipListDialog::update_clip() {
  const int row = model_.selected;
  if (row < 0 || row >= int(model_.clips().size())) return;
  model_.set_range(row, model_.field_frames(start_->text().toStdString(), row),
                   model_.field_frames(length_->text().toStdString(), row));
  fill_rows();
  select_row(row);
  model_.clear_undo();
  update_controls();
}

void ClipListDialog::delete_row() {
  const int row = list_->currentIndex().isValid() ? list_->currentIndex().row() : model_.selected;
  if (model_.remove_clip_record(row)) {
    fill_rows();
    select_row(row < int(model_.clips().size()) ? row : 0);
  }
  update_controls();
}

void ClipListDialog::clear_rows() {
  model_.clear();
  fill_rows();
  file_->clear();
  update_controls();
}

void ClipListDialog::undo() {
  if (!model_.undo()) {
    undo_->setEnabled(false);
    return;
  }
  fill_rows();
  select_row(model_.selected);
  update_controls();
}

void ClipListDialog::toggle_format() {
  const int row = model_.selected;
  const int start = model_.field_frames(start_->text().toStdString(), row);
  const int length = model_.field_frames(length_->text().toStdString(), row);
  model_.time_format = model_.time_format ? 0 : 1;
  format_->setChecked(model_.time_format != 0);
  format_->setText(model_.time_format ? QStringLiteral("time") : QStringLiteral("frame"));
  if (model_.clips().empty()) return;
  guard_ = true;
  if (start >= 0) start_->setText(QString::fromStdString(model_.field_text(start, row)));
  if (length >= 0) length_->setText(QString::fromStdString(model_.field_text(length, row)));
  guard_ = false;
  fill_rows();
  select_row(row);
  update_controls();
}

void ClipListDialog::browse() {
  FileDialogRequest r;
  r.kind = FileDialogKind::OpenMulti;
  r.title = "Open MPEG Movies";
  r.folder = model_.input_folder;
  r.max_files = 32;
  const FileDialogResult got = platform().dialogs->run(r);
  if (!got.accepted) return;
  for (size_t i = 0; i < got.paths.size(); ++i) {
    add_clip_file(got.paths[i], false, -1);
    if (i == 0) model_.input_folder = folder_of(got.paths[0]);
  }
  update_controls();
}

void ClipListDialog::load() {
  const std::string name = list_dialog(FileDialogKind::Open, "Open Clip List Files", model_.load_folder);
  if (name.empty()) return;
  if (is_project(name)) {
    add_clip_file(name, false, -1);
    return;
  }
  std::string text;
  if (!read_kept_file(name, &text)) {
    error_box("<" + name + ">: cannot open to read");
    return;
  }
  // The clipboard's own list file holds clip lists: its clips are taken.
  if (model_.read_clip_list(text, false) == 0) {
    EClip project;
    if (project.init(name.c_str(), 1) == 0 && !project.clips.empty()) {
      for (const Clip& c : project.clips) model_.insert_clip_record(c, -1);
      fill_rows();
      select_row(0);
      update_controls();
      return;
    }
    error_box("<" + name + ">: no video clip found");
    return;
  }
  if (!model_.clips().empty() &&
      platform().prompter->message(PromptIcon::Question, PromptButtons::YesNo,
                                   "Would you like to save the current project list ?") == PromptAnswer::Yes)
    save();
  model_.remove_all_quietly();
  model_.read_clip_list(text, true);
  model_.load_folder = folder_of(name);
  fill_rows();
  model_.selected = 0;
  select_row(0);
  update_controls();
}

void ClipListDialog::save() {
  const std::string name = list_dialog(FileDialogKind::Save, "Save Clip List Files", model_.save_folder);
  if (name.empty()) return;
  if (!write_kept_file(name, write_vls(model_.clips()))) {
    error_box("<" + name + ">: cannot open to write");
    return;
  }
  model_.save_folder = folder_of(name);
}

void ClipListDialog::ok() {
  if (!model_.clips().empty() && hand_over_) hand_over_(model_.hand_over());
  const QRect g = geometry();
  model_.window[0] = g.left();
  model_.window[1] = g.top();
  model_.window[2] = g.right();
  model_.window[3] = g.bottom();
  for (int c = 0; c < 4; ++c) model_.columns[c] = list_->header()->sectionSize(c);
  std::string error;
  const std::string path = settings_path();
  if (!path.empty() && !model_.save_settings(path, &error)) error_box(error);
  accept();
}

void ClipListDialog::done(int result) {
  QDialog::done(result);
  QDialog::close();
}

void ClipListDialog::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void ClipListDialog::dropEvent(QDropEvent* event) {
  for (const QUrl& u : event->mimeData()->urls()) {
    if (!u.isLocalFile()) continue;
    const std::string path = u.toLocalFile().toStdString();
    // Files that cannot be read are passed over without a word.
    if (!std::ifstream(path).good()) continue;
    add_clip_file(path, false, -1);
  }
  event->acceptProposedAction();
}

void install_clip_list(CEditorApp* app, QWidget* parent) {
  app->tools().add(
      cmd::kVideoClipList,
      [app, parent](std::function<void()> closed) -> ToolWindow* {
        auto* dialog = new ClipListDialog([app](const EClip& list) { app->on_clip_list_event(list); },
                                          std::move(closed), make_video_clip, parent);
        dialog->show();
        return dialog;
      },
      ToolRerun::CloseAlways);
}

void ClipListDialog::video_effect() {
  if (model_.clips().empty()) return;
  const int from = model_.selected;
  VideoEffectDialog dialog(&model_.edit_clips(), from, this);
  if (dialog.exec() == QDialog::Accepted) fill_rows();
  select_row(dialog.current_clip());
  update_controls();
}
