// The "Video Clipboard" window: one item model over the clipboard's rows,
// shown as 48 x 48 icons or as a report of name, length and size whose
// selected row is highlighted across every column. Rows are dragged out
// under the clip MIME type; they never drop onto this window.
#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/shell/clipboard_model.h"
#include "app/shell/commands.h"

class CEditorApp;
class MainWindow;
class QListView;
class QTreeView;
class QStackedWidget;

class ClipboardItemModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ClipboardItemModel(VideoClipboard* board, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  QStringList mimeTypes() const override;
  QMimeData* mimeData(const QModelIndexList& indexes) const override;
  Qt::DropActions supportedDragActions() const override { return Qt::CopyAction | Qt::MoveAction; }
  // Follows a change of the clipboard.
  void changed(VideoClipboard::Change change, int row);
  int view_id() const { return view_id_; }

 private:
  VideoClipboard* board_;
  int view_id_;
};

// Report rows drawn whole: the highlight spans every column and the
// texts are cut with "..." to their column.
class FullRowDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class ClipboardWindow : public QWidget {
  Q_OBJECT

 public:
  // Opens a row's clip as an editor window; false when it could not.
  using OpenClip = std::function<bool(const EClip& clip)>;

  ClipboardWindow(VideoClipboard* board, OpenClip open, QWidget* parent = nullptr);
  ~ClipboardWindow() override;

  VideoClipboard* board() const { return board_; }
  ClipboardItemModel* item_model() const { return model_; }
  int view_id() const { return model_->view_id(); }
  QListView* icon_view() const { return icons_; }
  QTreeView* report_view() const { return report_; }
  bool report_shown() const;
  void show_icons();
  void show_report();

  // A row opened (double click, or a drop on the main window); a clip that
  // cannot be opened loses its row, undoably, with the reason.
  void open_row(int row);
  // The clipboard's commands: delete, undo, icons, report, load, save.
  void add_commands(CommandTarget* target);
  void load_project();
  void save_project();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void switch_to(QWidget* view);
  void selection_to_board();
  void board_to_selection();
  VideoClipboard* board_;
  OpenClip open_;
  ClipboardItemModel* model_;
  QStackedWidget* stack_;
  QListView* icons_;
  QTreeView* report_;
  QSize icon_size_, report_size_;
};

// The clipboard's window in the main window, its list and thumbnails read
// from the configuration folder and written at the close check, the
// editors' copies and the clips dropped on the main window.
ClipboardWindow* install_clipboard(CEditorApp* app, MainWindow* main, VideoClipboard* board);
