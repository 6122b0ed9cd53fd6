// The Lyrics Editor: a list of (time, text) lines over LyricsEditorModel,
// saved to a ".lyr" file and handed to the audio window on Update.
#pragma once

#include <QWidget>
#include <functional>
#include <string>

#include "app/audio/lyrics_editor.h"

class QLineEdit;
class QPushButton;
class QTreeWidget;

class CLyricsEditorDlg : public QWidget {
  Q_OBJECT

 public:
  // file: the track's lyrics (may be empty); at: the time to select.
  CLyricsEditorDlg(const std::string& file, const std::string& folder, int at);
  LyricsEditorModel& model() { return model_; }
  // Called with the folder when the editor closes, and with the file
  // written by Update.
  std::function<void(const std::string& folder)> on_closed;
  std::function<void(const std::string& file)> on_saved;
  void close_by_owner();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QPushButton* button(const QString& text, const char* name);
  void fill(int select);
  void update_buttons();
  void on_add();
  bool write(bool ask);
  LyricsEditorModel model_;
  QTreeWidget* list_ = nullptr;
  QLineEdit* time_ = nullptr;
  QLineEdit* text_ = nullptr;
  QPushButton *add_ = nullptr, *replace_ = nullptr, *reset_ = nullptr, *delete_ = nullptr, *clear_ = nullptr,
              *save_ = nullptr, *update_ = nullptr;
  std::string file_, folder_;
  bool by_owner_ = false;
  bool closing_ = false;
};
