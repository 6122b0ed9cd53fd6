#include "ui/audio/lyrics_editor_dlg.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "platform/services.h"

namespace {

constexpr const char* kFilter = "Lyric Files (*.lyr)|*.lyr|All (*.*)|*.*||";

std::string folder_of(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p);
}

}  // namespace

CLyricsEditorDlg::CLyricsEditorDlg(const std::string& file, const std::string& folder, int at)
    : QWidget(nullptr, Qt::Window), file_(file), folder_(folder) {
  setObjectName(QStringLiteral("d112"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral(" Quarvel Sorvane Lyrics Editor "));
  auto* top = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setObjectName(QStringLiteral("c1159"));
  list_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Text")});
  list_->setColumnWidth(0, 50);
  list_->setColumnWidth(1, 350);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  top->addWidget(list_, 1);
  auto* edits = new QGridLayout;
  time_ = new QLineEdit(this);
  time_->setObjectName(QStringLiteral("c1165"));
  time_->setMaxLength(31);
  text_ = new QLineEdit(this);
  text_->setObjectName(QStringLiteral("c1164"));
  text_->setMaxLength(255);
  edits->addWidget(new QLabel(QStringLiteral("Time"), this), 0, 0);
  edits->addWidget(time_, 1, 0);
  edits->addWidget(new QLabel(QStringLiteral("Text"), this), 0, 1);
  edits->addWidget(text_, 1, 1);
  edits->setColumnStretch(1, 1);
  top->addLayout(edits);
  auto* row = new QHBoxLayout;
  add_ = button(QStringLiteral("Add"), "add");
  add_->setDefault(true);
  replace_ = button(QStringLiteral(" Replace"), "replace");
  reset_ = button(QStringLiteral("Reset"), "reset");
  delete_ = button(QStringLiteral("Delete"), "delete");
  clear_ = button(QStringLiteral("Clear"), "clear");
  QPushButton* load = button(QStringLiteral("Load"), "load");
  save_ = button(QStringLiteral("Save"), "save");
  update_ = button(QStringLiteral("Update"), "update");
  QPushButton* help = button(QStringLiteral("Help"), "help");
  QPushButton* close_button = button(QStringLiteral("Close"), "close");
  // Two rows of five keep the window narrow beside the player.
  auto* row2 = new QHBoxLayout;
  for (QPushButton* b : {add_, replace_, reset_, delete_, clear_}) row->addWidget(b);
  for (QPushButton* b : {load, save_, update_, help, close_button}) row2->addWidget(b);
  top->addLayout(row);
  top->addLayout(row2);
  resize(460, 360);

  if (!file_.empty()) {
    LyricsList l;
    if (l.read(file_) > 0) model_.load(l);
  }
  int select = 0;
  for (size_t i = 0; i < model_.lines().size(); ++i)
    if (model_.lines()[i].time >= at) {
      select = int(i) > 0 && model_.lines()[i].time > at ? int(i) - 1 : int(i);
      break;
    }
  fill(select);
  time_->setFocus();

  connect(time_, &QLineEdit::returnPressed, this, &CLyricsEditorDlg::on_add);
  connect(text_, &QLineEdit::returnPressed, this, &CLyricsEditorDlg::on_add);
  connect(add_, &QPushButton::clicked, this, &CLyricsEditorDlg::on_add);
  connect(time_, &QLineEdit::textChanged, this, &CLyricsEditorDlg::update_buttons);
  connect(text_, &QLineEdit::textChanged, this, &CLyricsEditorDlg::update_buttons);
  connect(replace_, &QPushButton::clicked, this, [this] {
    const int i = list_->currentIndex().row();
    const auto r = model_.replace(i, time_->text().toStdString(), text_->text().toStdString());
    if (r == LyricsEditorModel::Result::Invalid) {
      platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                   "<" + time_->text().toStdString() + ">: NOT a valid time entry");
      return;
    }
    if (r == LyricsEditorModel::Result::Updated) {
      time_->clear();
      text_->clear();
      fill(i);
    }
  });
  connect(reset_, &QPushButton::clicked, this, [this] {
    time_->clear();
    text_->clear();
  });
  connect(delete_, &QPushButton::clicked, this, [this] {
    std::vector<int> rows;
    for (QTreeWidgetItem* it : list_->selectedItems()) rows.push_back(list_->indexOfTopLevelItem(it));
    const int first = rows.empty() ? 0 : *std::min_element(rows.begin(), rows.end());
    model_.remove(rows);
    fill(std::min(first, int(model_.lines().size()) - 1));
  });
  connect(clear_, &QPushButton::clicked, this, [this] {
    model_.clear();
    fill(0);
  });
  connect(load, &QPushButton::clicked, this, [this] {
    FileDialogRequest r;
    r.title = "Load Lyric Text";
    r.filter = kFilter;
    r.folder = folder_;
    const FileDialogResult res = platform().dialogs->run(r);
    if (!res.accepted || res.paths.empty()) return;
    LyricsList l;
    if (l.read(res.paths.front()) == 0) return;
    folder_ = folder_of(res.paths.front());
    model_.load(l);
    model_.set_modified(true);
    fill(0);
  });
  connect(save_, &QPushButton::clicked, this, [this] { write(true); });
  connect(update_, &QPushButton::clicked, this, [this] {
    if (!write(file_.empty())) return;
    if (!by_owner_ && on_saved) on_saved(file_);
    model_.set_modified(false);
  });
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* it) {
    time_->setText(it->text(0));
    text_->setText(it->text(1));
  });
  connect(help, &QPushButton::clicked, this, [] { platform().help->show("help.chm::/htm/chap05-4.htm"); });
  connect(close_button, &QPushButton::clicked, this, [this] {
    closing_ = true;
    close();
  });
}

QPushButton* CLyricsEditorDlg::button(const QString& text, const char* name) {
  auto* b = new QPushButton(text, this);
  b->setObjectName(QString::fromUtf8(name));
  b->setAutoDefault(false);
  return b;
}

void CLyricsEditorDlg::fill(int select) {
  list_->clear();
  for (const LyricsEditorModel::Line& l : model_.lines())
    new QTreeWidgetItem(list_, {QString::fromStdString(LyricsEditorModel::time_text(l.time)),
                                QString::fromStdString(l.text)});
  if (select >= 0 && select < list_->topLevelItemCount()) {
    list_->setCurrentItem(list_->topLevelItem(select));
    list_->scrollToItem(list_->topLevelItem(select));
  }
  update_buttons();
}

void CLyricsEditorDlg::update_buttons() {
  const bool any = !model_.lines().empty();
  const bool words = count_words(time_->text().toStdString()) > 0 || count_words(text_->text().toStdString()) > 0;
  for (QPushButton* b : {save_, delete_, clear_, update_}) b->setEnabled(any);
  add_->setEnabled(words);
  reset_->setEnabled(words);
  replace_->setEnabled(words && any);
}

void CLyricsEditorDlg::on_add() {
  std::string tt;
  int at = -1;
  const auto r = model_.add(time_->text().toStdString(), text_->text().toStdString(), &at, &tt);
  if (r == LyricsEditorModel::Result::Invalid) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok,
                                 "<" + time_->text().toStdString() + ">: NOT a valid time entry");
    time_->clear();
    return;
  }
  if (r == LyricsEditorModel::Result::Nothing) return;
  time_->clear();
  text_->clear();
  fill(at);
  time_->setFocus();
}

bool CLyricsEditorDlg::write(bool ask) {
  if (model_.lines().empty()) return false;
  std::string path = file_;
  if (ask || path.empty()) {
    FileDialogRequest r;
    r.kind = FileDialogKind::Save;
    r.title = "Save Lyric Text";
    r.filter = kFilter;
    r.default_ext = "lyr";
    r.folder = folder_;
    const FileDialogResult res = platform().dialogs->run(r);
    if (!res.accepted || res.paths.empty()) return false;
    path = res.paths.front();
  }
  if (model_.to_list().write(path) == 0) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: cannot open to write");
    return false;
  }
  file_ = path;
  folder_ = folder_of(path);
  return true;
}

void CLyricsEditorDlg::close_by_owner() {
  by_owner_ = true;
  closing_ = true;
  close();
}

void CLyricsEditorDlg::closeEvent(QCloseEvent* event) {
  if (!by_owner_ && !model_.lines().empty() && model_.modified() &&
      platform().prompter->message(PromptIcon::Question, PromptButtons::YesNo, "  Discard the change?  ") ==
          PromptAnswer::No) {
    event->ignore();
    return;
  }
  if (!by_owner_ && on_closed) on_closed(folder_);
  event->accept();
}
