// The audio player and editor window: a parentless window over the
// AudioPlayer model, fed by a 100 ms timer on the UI thread.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "app/audio/audio_edit.h"
#include "app/audio/audio_player.h"
#include "app/shell/insert_params.h"

class QCheckBox;
class QSlider;
class QTimer;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class AudioDisplay;
class AudioSaveDialogWidget;
class CAudioInsertDlg;
class CEqualizerDlg;
class CLyricsEditorDlg;

class CAudioEditorDlg : public QWidget {
  Q_OBJECT

 public:
  explicit CAudioEditorDlg(AudioPlayer::Deps deps = {});
  ~CAudioEditorDlg() override;

  // Called once when the window closes.
  void SetCloseCallback(std::function<void()> cb) { close_cb_ = std::move(cb); }
  void OpenTrack(const std::string& path);
  AudioPlayer& player() { return *player_; }
  QToolButton* button(int id) const;
  // The picture a button shows now ("play", "stop_no", ...).
  QString icon_name(int id) const;
  void refresh();
  AudioEditCommands& edits() { return *edit_; }
  AudioSaveDialogWidget* save_dialog() const { return save_dlg_; }
  CAudioInsertDlg* insert_dialog() const { return insert_dlg_; }
  // An applied insertion the Insert dialog may still take back.
  bool insert_preview() const { return preview_; }
  // The program's close check: a save runs; stop it keeping what it wrote.
  bool save_running() {
    edit_->SaveTick();  // a job that has just returned is collected first
    return edit_->save_running();
  }
  void stop_save() { edit_->StopSaveAndJoin(); }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QToolButton* make_button(int id, const QString& tip);
  void set_icon(int id, const char* name, bool enabled);
  void on_add_tracks();
  void on_editor_button();
  void fill_list();
  void on_item_changed(QTreeWidgetItem* item, int column);
  void apply_layout();
  void show_about();
  void on_load_list();
  void on_equalizer();
  void on_lyrics_editor();
  void on_save_list();
  void on_save_button();
  void close_save_dialog(bool by_owner);
  void on_insert_button();
  void close_insert_dialog(bool by_owner);
  void on_insert_action(int code);
  void on_insert_closed(int code);
  int insert_now();
  void refresh_insert_dialog();

  std::unique_ptr<AudioPlayer> player_;
  // Goes before the player it edits.
  std::unique_ptr<AudioEditCommands> edit_;
  AudioSaveDialogWidget* save_dlg_ = nullptr;
  CAudioInsertDlg* insert_dlg_ = nullptr;
  // The dialog's record and the settings last inserted from it.
  InsertParams insert_, insert_applied_;
  bool preview_ = false;
  QTimer* save_timer_ = nullptr;
  std::map<int, QToolButton*> buttons_;
  std::map<int, QString> icons_;
  AudioDisplay* display_ = nullptr;
  QSlider* position_ = nullptr;
  QSlider* volume_ = nullptr;
  QCheckBox* left_ = nullptr;
  QCheckBox* right_ = nullptr;
  QTreeWidget* list_ = nullptr;
  QWidget* editor_panel_ = nullptr;
  QTimer* timer_ = nullptr;
  CEqualizerDlg* equalizer_ = nullptr;
  CLyricsEditorDlg* lyrics_editor_ = nullptr;
  bool filling_ = false;
  bool closed_ = false;
  bool shown_ = false;
  bool focus_given_ = false;
  std::function<void()> close_cb_;
};
