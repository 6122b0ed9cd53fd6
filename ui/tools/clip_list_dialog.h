// The " Video Clip List" tool window over VideoClipListModel: files and
// ranges collected into a list, kept in "VidList.cfg" and ".vls" files,
// handed on OK to a new editor window. Files dropped on the list are added.
#pragma once

#include <QDialog>
#include <functional>

#include "app/shell/tools.h"
#include "app/tools/clip_list_model.h"

class CEditorApp;
class QLineEdit;
class QPushButton;
class QTreeWidget;
class QGroupBox;

class ClipListDialog : public QDialog, public ToolWindow {
  Q_OBJECT

 public:
  // hand_over gets the list on OK; closed is called once when the window
  // goes.
  ClipListDialog(std::function<void(const EClip&)> hand_over, std::function<void()> closed,
                 ClipMaker maker = make_video_clip, QWidget* parent = nullptr);
  ~ClipListDialog() override;
  void close() override { QDialog::close(); }

  VideoClipListModel& model() { return model_; }
  // Adds a file (a ".qme" project appends its clips) at index (-1: the
  // end), with the fields' range or its own; false after the message.
  bool add_clip_file(const std::string& name, bool with_fields, int index);
  void select_row(int row);
  void ok();

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  void done(int result) override;

 private:
  void fill_rows();
  void update_controls();
  // The start or length rule after an edit of that field.
  void field_changed(bool start_field);
  void update_clip();
  void delete_row();
  void clear_rows();
  void undo();
  void toggle_format();
  // The stream information of the list, on the selected clip.
  void show_info();
  void load();
  void save();
  void browse();
  // Transitions, titles and fades of the clips, in their modal dialog.
  void video_effect();
  void write_fields(double start, double length);
  std::string settings_path() const;

  VideoClipListModel model_;
  std::function<void(const EClip&)> hand_over_;
  std::function<void()> closed_;
  QLineEdit* start_;
  QLineEdit* length_;
  QLineEdit* file_;
  QTreeWidget* list_;
  QGroupBox* group_;
  QPushButton* add_;
  QPushButton* insert_;
  QPushButton* update_;
  QPushButton* delete_;
  QPushButton* clear_;
  QPushButton* undo_;
  QPushButton* format_;
  QPushButton* save_;
  QPushButton* all_;
  QPushButton* info_ = nullptr;
  QPushButton* effect_ = nullptr;
  bool guard_ = false;
};

// The F6 tool of the application: its window over parent, the lists it
// hands over opened as editor windows.
void install_clip_list(CEditorApp* app, QWidget* parent);
