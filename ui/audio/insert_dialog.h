// The Insert dialog over the insert record's rules (app/shell) and its
// strips' arithmetic (app/audio). Audio mode: modeless, " Sorvane: Insert ",
// a 500 ms timer follows the caller's play position. Video mode: modal,
// " MPEG-Tamsel: Insert ", "OK" and "Cancel", no preview or removal.
#pragma once

#include <QDialog>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/audio/insert_views.h"
#include "app/shell/insert_params.h"
#include "engine/clips/project.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class InsertStrip;

class CAudioInsertDlg : public QDialog {
  Q_OBJECT

 public:
  // Codes of the action callback.
  enum Action { kTest = 0, kApply = 1, kRemove = 2 };
  using Callback = std::function<void(int code)>;

  // The record stays the caller's; the dialog works on a copy and writes
  // it back on Apply, Test, Remove and Close.
  CAudioInsertDlg(InsertParams* record, QWidget* parent, InsertMode mode);
  ~CAudioInsertDlg() override;

  // Set-up before Create or run_modal.
  void set_action_callback(Callback cb) { action_ = std::move(cb); }
  void set_close_callback(Callback cb) { close_ = std::move(cb); }
  void set_position(int x, int y) {
    pos_x_ = x;
    pos_y_ = y;
  }
  void set_folder(const std::string& folder) { folder_ = folder; }
  const std::string& folder() const { return folder_; }
  void set_file_controls_locked(bool locked) { locked_ = locked; }
  void set_suppress_close_callback(bool on) { suppress_close_ = on; }
  void set_default_effect_length(double seconds) { default_length_ = seconds; }
  void set_input_loader(InsertInputLoader loader) { loader_ = std::move(loader); }
  // The edited track; while the dialog runs its length is taken from the
  // record again and both strips are redrawn.
  void SetInputClip(const EClip& clip);

  // Audio: shows the modeless dialog (it deletes itself when closed).
  void Create();
  // Video: runs the modal dialog; true with OK.
  bool run_modal();
  // Set-up of the controls (Create and run_modal call it).
  void OnInitDialog();

  // The 500 ms timer's step (audio mode).
  void on_timer();

  // State for the caller's tests.
  const InsertParams& working() const { return work_; }
  const InsertViews& views() const { return views_; }
  const std::vector<TrackBar>& bars() const { return bars_; }
  int operator_count() const { return count_; }
  bool still_image() const { return still_; }
  InsertContext context() const;
  QWidget* overview() const;
  QWidget* insertion_view() const;

  // Strip painting (the strips call these).
  void paint_overview(class QPainter& p);
  void paint_insertion(class QPainter& p);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void build();
  void fill_effect_lists();
  bool load_input(const std::string& name, bool quiet);
  void set_input_file(const std::string& name, bool from_setup);
  void after_input_change(const InsertParams& before);
  void show_fields(const InsertParams& before, QLineEdit* except = nullptr, double typed = 0);
  void show_all_fields();
  void show_field(QLineEdit* e, double v);
  void update_input_controls();
  void update_apply_button();
  void update_end_effect();
  void update_readouts();
  void redraw();
  void redraw_window();
  bool read(QLineEdit* e, double* v) const;

  void on_file_edited();
  void on_offset_edited();
  void on_length_edited();
  void on_insertion_edited();
  void on_start_length_edited();
  void on_end_length_edited();
  void on_all();
  void on_browse();
  void on_start_list(int index);
  void on_end_list(int index);
  void on_scale(int position);
  void on_offset_slider(int position);
  void on_insertion_slider(int position);
  void on_apply();
  void on_test();
  void on_remove();
  void on_close(bool from_close_event = false);

  InsertParams* record_;
  InsertParams work_;
  InsertMode mode_;
  InsertOperators ops_;
  int count_ = 0;
  bool still_ = false;
  bool guard_ = false;
  bool locked_ = false;
  bool suppress_close_ = false;
  bool closed_ = false;
  bool running_ = false;
  int pos_x_ = 0, pos_y_ = 0;
  double default_length_ = 5.0;
  std::string folder_, last_loaded_;
  InsertInputLoader loader_;
  Callback action_, close_;
  std::unique_ptr<EClip> clip_;
  std::vector<TrackBar> bars_;
  InsertViews views_;
  QTimer timer_;

  QLineEdit *file_ = nullptr, *offset_ = nullptr, *length_ = nullptr, *insertion_ = nullptr, *total_ = nullptr;
  QLineEdit *start_length_ = nullptr, *end_length_ = nullptr;
  QComboBox *start_list_ = nullptr, *end_list_ = nullptr;
  QSlider *scale_ = nullptr, *offset_slider_ = nullptr, *insertion_slider_ = nullptr;
  QLabel *offset_readout_ = nullptr, *length_readout_ = nullptr, *scale_readout_ = nullptr;
  QPushButton *apply_ = nullptr, *close_button_ = nullptr, *help_ = nullptr, *browse_ = nullptr, *all_ = nullptr;
  QPushButton *test_ = nullptr, *remove_ = nullptr;
  InsertStrip *overview_ = nullptr, *insertion_view_ = nullptr;
};
