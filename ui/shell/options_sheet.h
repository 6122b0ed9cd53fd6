// The " Options..." sheet: six pages over OptionsSheetModel with OK,
// Cancel, Apply and Help; Apply is enabled while a page differs from the
// settings. Controls are named "c<page>_<what>" for tests.
#pragma once

#include <QDialog>
#include <initializer_list>
#include <utility>

#include "app/shell/options_model.h"

class QTabWidget;
class QPushButton;
class QLineEdit;

class OptionsSheet : public QDialog {
  Q_OBJECT

 public:
  explicit OptionsSheet(EditorSettings* settings, QWidget* parent = nullptr);
  ~OptionsSheet() override;
  OptionsSheetModel& model() { return model_; }
  QTabWidget* pages() const { return tabs_; }
  // OK: every page stored, then closed. Apply: stored, stays open.
  void ok();
  void apply();
  // "View Keyboard Key Mapping": the keys edited on the page's copy.
  void view_key_map();

 private:
  // Radio buttons of values and one check box.
  QWidget* choice_page(const char* name, std::initializer_list<std::pair<const char*, int>> items, int* choice,
                       const char* check_name, const char* check_text, int* flag);
  QWidget* display_page();
  QWidget* size_page();
  QWidget* encoder_page();
  QWidget* keys_page();
  QWidget* length_page();
  QWidget* audio_page();
  void refresh();
  OptionsSheetModel model_;
  QTabWidget* tabs_;
  QPushButton* apply_;
  QLineEdit* jump_ = nullptr;
  bool filling_ = false;
};
