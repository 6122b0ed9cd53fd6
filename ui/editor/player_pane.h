// The editor window's widgets over the view's rules (app/editor): the
// tool bar with the position slider ("c32822") and position field
// ("c32827"), and the picture (QtPlayerView: keys, wheel, painting with
// the aspect modes and a grey border, the context menu). PlayerPane holds
// both and is what an editor window shows.
#pragma once

#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/editor/player_view.h"
#include "app/editor/save_job.h"
#include "ui/shell/editor_view.h"

struct EditorEntry;
class QtPlayerView;

// The slider: the selection from mark in to mark out and ticks at the
// marks painted over it; a click beside the thumb moves the thumb there.
class PlayerSlider : public QSlider {
  Q_OBJECT

 public:
  PlayerSlider(PlayerToolBarModel* model, QWidget* parent = nullptr);
  // Window x of a slider position.
  int x_of(int position) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  PlayerToolBarModel* model_;
};

// The position field: digits, ":", Delete, Left, Right and Backspace;
// Enter moves there.
class PositionField : public QLineEdit {
  Q_OBJECT

 public:
  PositionField(PlayerToolBarModel* model, QWidget* parent = nullptr);

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  PlayerToolBarModel* model_;
};

class QtPlayerToolBar : public QWidget {
  Q_OBJECT

 public:
  QtPlayerToolBar(PlayerToolBarModel* model, QWidget* parent = nullptr);
  PlayerSlider* slider() const { return slider_; }
  PositionField* field() const { return field_; }
  // Shows the model's state (slider, field, button bitmap).
  void refresh();

 private:
  PlayerToolBarModel* model_;
  PlayerSlider* slider_;
  PositionField* field_;
};

class QtPlayerView : public QWidget {
  Q_OBJECT

 public:
  QtPlayerView(CQuarvelPlayerView* model, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  // Where the picture goes in a window of this size.
  QRect picture_rect() const;
  QRect picture_rect(const FrameSlot::Picture& pic) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  CQuarvelPlayerView* model_;
};

class PlayerPane : public QWidget, public EditorView, public PlayerViewHost, public SaveJobHost {
  Q_OBJECT

 public:
  // The entry's editor, attached at once; entry may be null in tests that
  // attach an editor themselves.
  explicit PlayerPane(EditorEntry* entry, QWidget* parent = nullptr);
  ~PlayerPane() override;

  CQuarvelPlayerView* model() { return model_.get(); }
  QtPlayerView* view() const { return view_; }
  QtPlayerToolBar* toolbar() const { return toolbar_; }
  const CommandTarget* command_target() const override { return &model_->command_target(); }
  void detach_editor() override;
  void stop_playback() override { model_->stop_playback(true); }
  bool job_running() const override { return jobs_->is_saving() || jobs_->is_trimming(); }
  bool may_close() override { return jobs_->check_close() != 0; }
  PlayerSaveJobs* jobs() const { return jobs_.get(); }
  QSize sizeHint() const override;

  // PlayerViewHost
  void start_retry_timer(int ms) override;
  void stop_retry_timer() override;
  void frame_ready() override;
  void take_focus() override;
  void notify_copy(int start, int count) override;
  void aspect_changed() override;
  bool save() override;
  bool gop_trim() override;
  bool run_insert_dialog(InsertParams* record, const EClip& clip, std::string* folder, bool from_drop,
                         double effect_seconds) override;

  // The clip a clip-list drag names (the Video Clipboard's rows); null when
  // the drag is not one of this program's or its row is gone.
  using ClipResolver = std::function<std::unique_ptr<EClip>(const std::string& drag)>;
  static void set_clip_resolver(ClipResolver resolver);
  static std::unique_ptr<EClip> resolve_clip(const std::string& drag);
  bool file_information(const EClip& clip, FileInfoTimes* times, std::unique_ptr<EClip>* edited) override;

  // SaveJobHost
  bool run_save_dialog(CSaveDlg& dialog) override;
  void start_poll_timer(int id, int ms) override;
  void stop_poll_timer(int id) override;
  void announce(const std::string& path) override;

 private:
  EditorEntry* entry_;
  std::unique_ptr<CQuarvelPlayerView> model_;
  QtPlayerToolBar* toolbar_;
  QtPlayerView* view_;
  QTimer retry_;
  QTimer save_poll_, trim_poll_;
  std::unique_ptr<PlayerSaveJobs> jobs_;
};
