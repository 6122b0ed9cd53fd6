#include "ui/shell/clipboard_window.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QListView>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPointer>
#include <QMimeData>
#include <QPainter>
#include <QStackedWidget>
#include <QTreeView>
#include <QVBoxLayout>
#include <filesystem>

#include "app/shell/clip_drag.h"
#include "app/shell/editor_app.h"
#include "app/shell/command_ids.h"
#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "app/shell/text_fit.h"
#include "platform/services.h"
#include "ui/editor/player_pane.h"
#include "ui/shell/main_window.h"

namespace {

QImage picture(const Thumbnail& t) {
  if (t.empty()) return {};
  return QImage(t.rgb.data(), kThumbSize, kThumbSize, kThumbSize * 3, QImage::Format_RGB888).copy();
}

int next_view_id() {
  static int id = 0;
  return ++id;
}

// The clipboard's frame stays while the program runs: only the exit
// closes it.
class KeepOpen : public QObject {
 public:
  KeepOpen(QWidget* main, QObject* parent) : QObject(parent), main_(main) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Close && main_->isVisible()) {
      event->ignore();
      return true;
    }
    return false;
  }

 private:
  QWidget* main_;
};

const char* const kProjectFilter = "MPEG Editor Project (*.qme)|*.qme|All Files (*.*)|*.*||";

}  // namespace

// ClipboardItemModel

ClipboardItemModel::ClipboardItemModel(VideoClipboard* board, QObject* parent)
    : QAbstractTableModel(parent), board_(board), view_id_(next_view_id()) {}

int ClipboardItemModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : board_->count();
}

int ClipboardItemModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant ClipboardItemModel::data(const QModelIndex& index, int role) const {
  const ClipNode* n = board_->row(index.row());
  if (!n) return {};
  if (role == Qt::DisplayRole || role == Qt::EditRole) {
    switch (index.column()) {
      case 0:
        return QString::fromStdString(n->text);
      case 1:
        return QString::fromStdString(length_text(n->length));
      case 2:
        return QString::fromStdString(size_text(n->size));
    }
  }
  if (role == Qt::DecorationRole && index.column() == 0) return picture(n->thumbnail);
  if (role == Qt::TextAlignmentRole)
    return index.column() == 0 ? int(Qt::AlignLeft | Qt::AlignVCenter) : int(Qt::AlignCenter);
  return {};
}

bool ClipboardItemModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::EditRole || index.column() != 0 || !board_->row(index.row())) return false;
  board_->set_row_text(index.row(), value.toString().toStdString());
  return true;
}

QVariant ClipboardItemModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  static const char* const names[] = {"Name", "Length (h:m:s:f)", "Size (MB)"};
  return section >= 0 && section < 3 ? QString::fromLatin1(names[section]) : QVariant();
}

Qt::ItemFlags ClipboardItemModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
  if (index.column() == 0) f |= Qt::ItemIsEditable;
  return f;
}

QStringList ClipboardItemModel::mimeTypes() const { return {QString::fromLatin1(kClipDragMimeType)}; }

QMimeData* ClipboardItemModel::mimeData(const QModelIndexList& indexes) const {
  if (indexes.isEmpty()) return nullptr;
  auto* data = new QMimeData;
  const std::string payload = encode_clip_drag(make_clip_drag(view_id_, indexes.first().row()));
  data->setData(QString::fromLatin1(kClipDragMimeType), QByteArray::fromStdString(payload));
  return data;
}

void ClipboardItemModel::changed(VideoClipboard::Change change, int row) {
  switch (change) {
    case VideoClipboard::Change::Reset:
      beginResetModel();
      endResetModel();
      break;
    case VideoClipboard::Change::Inserted:
      // The row is already there: a reset of that one row's neighbourhood
      // would lose the selection, so announce it as inserted.
      beginInsertRows({}, row, row);
      endInsertRows();
      break;
    case VideoClipboard::Change::Removed:
      beginRemoveRows({}, row, row);
      endRemoveRows();
      break;
    case VideoClipboard::Change::Changed:
      emit dataChanged(index(row, 0), index(row, 2));
      break;
    case VideoClipboard::Change::Selected:
      break;
  }
}

// FullRowDelegate

void FullRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QStyleOptionViewItem o = option;
  initStyleOption(&o, index);
  const bool selected = o.state & QStyle::State_Selected;
  const QPalette::ColorGroup group = o.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
  painter->save();
  painter->fillRect(o.rect, selected ? o.palette.color(group, QPalette::Highlight) : o.palette.color(QPalette::Base));
  QRect r = o.rect.adjusted(2, 0, -2, 0);
  if (!o.icon.isNull()) {
    const QSize s = o.decorationSize;
    o.icon.paint(painter, QRect(r.left(), r.top() + (r.height() - s.height()) / 2, s.width(), s.height()));
    r.setLeft(r.left() + s.width() + 4);
  }
  const QFontMetrics fm(o.font);
  const std::string cut = fit_text_ellipsis(o.text.toStdString(), r.width(), 0, [&fm](const std::string& s) {
    return fm.horizontalAdvance(QString::fromStdString(s));
  });
  painter->setPen(selected ? o.palette.color(group, QPalette::HighlightedText) : o.palette.color(QPalette::Text));
  painter->setFont(o.font);
  painter->drawText(r, int(o.displayAlignment) | Qt::TextSingleLine, QString::fromStdString(cut));
  painter->restore();
}

// ClipboardWindow

ClipboardWindow::ClipboardWindow(VideoClipboard* board, OpenClip open, QWidget* parent)
    : QWidget(parent), board_(board), open_(std::move(open)) {
  setWindowTitle(QStringLiteral("Video Clipboard"));
  model_ = new ClipboardItemModel(board_, this);
  board_->set_observer([this](VideoClipboard::Change change, int row) {
    model_->changed(change, row);
    if (change == VideoClipboard::Change::Selected || change == VideoClipboard::Change::Inserted)
      board_to_selection();
  });

  icons_ = new QListView;
  icons_->setObjectName(QStringLiteral("clip_icons"));
  icons_->setViewMode(QListView::IconMode);
  icons_->setIconSize(QSize(kThumbSize, kThumbSize));
  icons_->setMovement(QListView::Static);
  icons_->setResizeMode(QListView::Adjust);
  icons_->setWordWrap(true);
  icons_->setModel(model_);

  report_ = new QTreeView;
  report_->setObjectName(QStringLiteral("clip_report"));
  report_->setRootIsDecorated(false);
  report_->setUniformRowHeights(true);
  report_->setAllColumnsShowFocus(true);
  report_->setIconSize(QSize(16, 16));
  report_->setItemDelegate(new FullRowDelegate(report_));
  report_->setModel(model_);
  report_->header()->resizeSection(0, 150);
  report_->header()->resizeSection(1, 100);
  report_->header()->resizeSection(2, 100);
  // The highlight reaches the client's right edge.
  report_->header()->setStretchLastSection(true);

  for (QAbstractItemView* v : {static_cast<QAbstractItemView*>(icons_), static_cast<QAbstractItemView*>(report_)}) {
    v->setSelectionMode(QAbstractItemView::SingleSelection);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setDragEnabled(true);
    v->setDragDropMode(QAbstractItemView::DragOnly);
    v->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    v->setContextMenuPolicy(Qt::NoContextMenu);
    v->setSelectionModel(v == icons_ ? v->selectionModel() : icons_->selectionModel());
    connect(v, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex& i) { open_row(i.row()); });
  }
  connect(icons_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
          [this] { selection_to_board(); });

  stack_ = new QStackedWidget;
  stack_->addWidget(icons_);
  stack_->addWidget(report_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(stack_);
  show_icons();
}

ClipboardWindow::~ClipboardWindow() { board_->set_observer(nullptr); }

bool ClipboardWindow::report_shown() const { return stack_->currentWidget() == report_; }

void ClipboardWindow::switch_to(QWidget* view) {
  if (stack_->currentWidget() == view) return;
  // Each view keeps the frame's size it was last given.
  auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
  if (frame) {
    (report_shown() ? report_size_ : icon_size_) = frame->size();
    const QSize next = view == report_ ? report_size_ : icon_size_;
    if (next.isValid()) frame->resize(next);
    else if (view == report_) frame->resize(frame->width() + 300, frame->height());
  }
  stack_->setCurrentWidget(view);
}

void ClipboardWindow::show_icons() { switch_to(icons_); }

void ClipboardWindow::show_report() { switch_to(report_); }

void ClipboardWindow::selection_to_board() {
  const QModelIndex i = icons_->selectionModel()->currentIndex();
  if (i.isValid() && i.row() != board_->selected()) board_->select(i.row());
}

void ClipboardWindow::board_to_selection() {
  const int row = board_->selected();
  QItemSelectionModel* s = icons_->selectionModel();
  if (row < 0) {
    s->clearSelection();
    return;
  }
  const QModelIndex i = model_->index(row, 0);
  if (s->currentIndex().row() != row || !s->isSelected(i))
    s->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  (report_shown() ? static_cast<QAbstractItemView*>(report_) : icons_)->scrollTo(i);
}

void ClipboardWindow::open_row(int row) {
  const ClipNode* n = board_->row(row);
  if (!n || !open_) return;
  const int id = n->id;
  // The file that could not be read, not the row's name.
  const std::string file = n->clip.clips.empty() ? n->clip.file_name : n->clip.clips[0].get_file_name();
  const EClip clip = n->clip;  // the row may go while the editor is made
  if (open_(clip)) return;
  board_->remove_node(id);
  platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, "<" + file + ">: cannot open to read\n");
}

void ClipboardWindow::add_commands(CommandTarget* target) {
  // The main window's commands can outlive this window at exit: a command of
  // a window that is gone is off and does nothing.
  QPointer<ClipboardWindow> self(this);
  auto run = [self](auto f) {
    return [self, f] {
      if (self) f(*self.data());
    };
  };
  auto state = [self](auto f) {
    return [self, f] { return self ? f(*self.data()) : CommandState{false, false}; };
  };
  target->add(cmd::kDeleteClip, run([](ClipboardWindow& w) { w.board_->delete_selected(); }),
              state([](ClipboardWindow& w) { return CommandState{w.board_->selected() >= 0, false}; }));
  target->add(cmd::kUndoClipboard, run([](ClipboardWindow& w) { w.board_->undo_delete(); }),
              state([](ClipboardWindow& w) { return CommandState{w.board_->has_undo(), false}; }));
  target->add(cmd::kClipIcons, run([](ClipboardWindow& w) { w.show_icons(); }),
              state([](ClipboardWindow& w) { return CommandState{true, !w.report_shown()}; }));
  target->add(cmd::kDetailsReport, run([](ClipboardWindow& w) { w.show_report(); }),
              state([](ClipboardWindow& w) { return CommandState{true, w.report_shown()}; }));
  target->add(cmd::kLoadProject, run([](ClipboardWindow& w) { w.load_project(); }));
  target->add(cmd::kSaveClipboard, run([](ClipboardWindow& w) { w.save_project(); }),
              state([](ClipboardWindow& w) { return CommandState{w.board_->count() > 0, false}; }));
}

namespace {

// The chosen project file of an open or save dialog; empty when cancelled.
std::string project_dialog(FileDialogKind kind, const char* title, const std::string& folder) {
  std::string path;
  return file_dialog(&path, kind == FileDialogKind::Save, 0, kProjectFilter, "qme", folder, title) ? path
                                                                                               : std::string();
}

}  // namespace

void ClipboardWindow::load_project() {
  EditorSettings& s = editor_settings();
  const std::string path = project_dialog(FileDialogKind::Open, "Load MPEG Editor Project", s.load_folder);
  if (path.empty()) return;
  s.set_load_folder(path);
  board_->read_project_list(path, "");
}

void ClipboardWindow::save_project() {
  if (board_->count() == 0) return;
  EditorSettings& s = editor_settings();
  const std::string path = project_dialog(FileDialogKind::Save, "Save As An MPEG Editor Project", s.save_folder);
  if (path.empty()) return;
  s.set_save_folder(path);
  std::string error;
  if (!board_->write_project_list(path, "", &error))
    platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, error);
}

void ClipboardWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete && !(event->modifiers() & Qt::ControlModifier)) {
    board_->delete_selected();
    return;
  }
  QWidget::keyPressEvent(event);
}

void ClipboardWindow::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  const bool rows = board_->count() > 0;
  menu.addAction(QStringLiteral("&Load...\tCtrl+L"), this, [this] { load_project(); });
  menu.addAction(QStringLiteral("&Save As...\tCtrl+S"), this, [this] { save_project(); })->setEnabled(rows);
  menu.addAction(QStringLiteral("Delete\tDEL"), this, [this] { board_->delete_selected(); })
      ->setEnabled(rows && board_->selected() >= 0);
  menu.addAction(QStringLiteral("Delete All\tCtrl+X"), this, [this] { board_->delete_all(); })->setEnabled(rows);
  menu.addAction(QStringLiteral("Undo\tCtrl+Z"), this, [this] { board_->undo_delete(); })
      ->setEnabled(board_->has_undo());
  menu.exec(event->globalPos());
}

// The Video Clipboard: its window, its files in the configuration folder,
// the editors' copies, and clips dropped on the main window.
ClipboardWindow* install_clipboard(CEditorApp* app, MainWindow* main, VideoClipboard* board) {
  auto* window = new ClipboardWindow(board, [app](const EClip& clip) { return app->open_clipboard_clip(clip); });
  QMdiSubWindow* sub = main->add_child_window(window, QStringLiteral("Video Clipboard"));
  sub->setWindowFlags(Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint);
  sub->installEventFilter(new KeepOpen(main, sub));
  sub->setGeometry(0, 0, 120, 260);
  sub->show();
  window->add_commands(&main->commands());
  const std::string folder = editor_settings().program_folder;
  const std::string list = folder.empty() ? std::string() : folder + "/mpeg-tamsel.vls";
  const std::string strip = folder.empty() ? std::string() : folder + "/mpeg-tamsel.bmp";
  if (!list.empty()) board->read_project_list(list, strip);
  app->set_copy_handler([board](EditorEntry* entry) { copy_to_clipboard(entry, board); });
  app->set_clipboard_writer([board, list, strip] {
    std::string error;
    // An empty clipboard is written too: deleted clips stay deleted.
    if (!list.empty()) board->write_project_list(list, strip, &error);
    if (!error.empty()) platform().prompter->message(PromptIcon::Exclamation, PromptButtons::Ok, error);
  });
  // A row dropped on an editor window is inserted there.
  PlayerPane::set_clip_resolver([window = QPointer<ClipboardWindow>(window)](const std::string& drag) {
    ClipDragPayload payload;
    if (!window || !decode_clip_drag(drag, &payload) || payload.view_id != window->view_id()) return std::unique_ptr<EClip>();
    const ClipNode* node = window->board()->row(payload.row);
    return node ? std::make_unique<EClip>(node->clip) : std::unique_ptr<EClip>();
  });
  main->set_clip_drop_handler([window](const ClipDragPayload& payload) {
    if (payload.view_id != window->view_id() || !window->board()->row(payload.row)) return false;
    window->open_row(payload.row);
    return true;
  });
  return window;
}

