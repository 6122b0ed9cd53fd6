#include "ui/audio/insert_dialog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

#include "app/shell/file_utils.h"
#include "platform/services.h"

// One of the two black strips; the dialog paints it.
class InsertStrip : public QWidget {
 public:
  InsertStrip(CAudioInsertDlg* dlg, bool overview, int w, int h) : QWidget(dlg), dlg_(dlg), overview_(overview) {
    setFixedSize(w, h);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    if (overview_) dlg_->paint_overview(p);
    else dlg_->paint_insertion(p);
  }

 private:
  CAudioInsertDlg* dlg_;
  bool overview_;
};

namespace {

constexpr int kStripWidth = 440;
constexpr int kOverviewHeight = 48;
constexpr int kInsertionHeight = 64;

QLineEdit* edit(const char* id, QWidget* parent) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(QString::fromLatin1(id));
  return e;
}

QPushButton* button(const QString& text, const char* id, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QString::fromLatin1(id));
  b->setAutoDefault(false);
  b->setDefault(false);
  return b;
}

QSlider* slider(const char* id, int max, QWidget* parent) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(QString::fromLatin1(id));
  s->setRange(0, max);
  s->setPageStep(2);
  s->setTickInterval(10);
  s->setTickPosition(QSlider::TicksBelow);
  return s;
}

QString one_decimal(double v) { return QString::asprintf("%.1f", v); }

bool readable_file(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

const QColor kGreen(0, 255, 0), kYellow(255, 255, 0), kRed(255, 0, 0), kWhite(255, 255, 255);

void draw_segments(QPainter& p, const std::vector<StripSegment>& segs, const StripGeometry& g,
                   const std::function<int(double)>& x) {
  for (int pass = 0; pass < 2; ++pass) {
    for (const StripSegment& s : segs) {
      if (s.yellow != (pass == 1)) continue;
      const int x0 = x(s.t0), x1 = x(s.t1);
      const int y = g.row_y + s.row * g.thickness;
      p.fillRect(QRect(x0, y, std::max(1, x1 - x0), std::max(1, g.thickness)), s.yellow ? kYellow : kGreen);
    }
  }
}

}  // namespace

CAudioInsertDlg::CAudioInsertDlg(InsertParams* record, QWidget* parent, InsertMode mode)
    : QDialog(parent), record_(record), mode_(mode) {
  work_ = *record_;
  ops_ = insert_operators(mode_);
  loader_ = insert_input_loader(mode_);
  views_.set_play_position(work_.insertion);
  timer_.setInterval(500);
  connect(&timer_, &QTimer::timeout, this, [this] { on_timer(); });
  build();
}

CAudioInsertDlg::~CAudioInsertDlg() {
  timer_.stop();
  // The remembered zoom goes back with the working copy.
  work_.scale_position = views_.scale_position();
  work_.offset_position = views_.offset_position();
}

InsertContext CAudioInsertDlg::context() const { return InsertContext{&ops_, still_, default_length_}; }

QWidget* CAudioInsertDlg::overview() const { return overview_; }
QWidget* CAudioInsertDlg::insertion_view() const { return insertion_view_; }

void CAudioInsertDlg::build() {
  auto* top = new QVBoxLayout(this);
  auto* grid = new QGridLayout;
  top->addLayout(grid);
  int row = 0;
  grid->addWidget(new QLabel(QStringLiteral("File"), this), row, 0);
  file_ = edit("c1370", this);
  grid->addWidget(file_, row, 1, 1, 4);
  browse_ = button(QStringLiteral("..."), "c1365", this);
  grid->addWidget(browse_, row, 5);
  ++row;
  grid->addWidget(new QLabel(QStringLiteral("Offset (sec)"), this), row, 0);
  offset_ = edit("c1377", this);
  grid->addWidget(offset_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Length (sec)"), this), row, 2);
  length_ = edit("c1373", this);
  grid->addWidget(length_, row, 3);
  all_ = button(QStringLiteral("All"), "c1363", this);
  grid->addWidget(all_, row, 4);
  ++row;
  grid->addWidget(new QLabel(QStringLiteral("Insertion (sec)"), this), row, 0);
  insertion_ = edit("c1372", this);
  grid->addWidget(insertion_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Total (sec)"), this), row, 2);
  total_ = edit("c1374", this);
  grid->addWidget(total_, row, 3);
  ++row;
  grid->addWidget(new QLabel(QStringLiteral("Start"), this), row, 0);
  start_list_ = new QComboBox(this);
  start_list_->setObjectName(QStringLiteral("c1369"));
  grid->addWidget(start_list_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Length (sec)"), this), row, 2);
  start_length_ = edit("c1380", this);
  grid->addWidget(start_length_, row, 3);
  ++row;
  grid->addWidget(new QLabel(QStringLiteral("End"), this), row, 0);
  end_list_ = new QComboBox(this);
  end_list_->setObjectName(QStringLiteral("c1368"));
  grid->addWidget(end_list_, row, 1);
  grid->addWidget(new QLabel(QStringLiteral("Length (sec)"), this), row, 2);
  end_length_ = edit("c1379", this);
  grid->addWidget(end_length_, row, 3);

  overview_ = new InsertStrip(this, true, kStripWidth, kOverviewHeight);
  overview_->setObjectName(QStringLiteral("c1386"));
  top->addWidget(overview_);
  auto* zoom = new QGridLayout;
  top->addLayout(zoom);
  zoom->addWidget(new QLabel(QStringLiteral("Scale"), this), 0, 0);
  scale_ = slider("c1385", 100, this);
  zoom->addWidget(scale_, 0, 1);
  scale_readout_ = new QLabel(this);
  scale_readout_->setObjectName(QStringLiteral("c1384"));
  zoom->addWidget(scale_readout_, 0, 2);
  zoom->addWidget(new QLabel(QStringLiteral("Offset"), this), 1, 0);
  offset_slider_ = slider("c1383", 100, this);
  zoom->addWidget(offset_slider_, 1, 1);
  offset_readout_ = new QLabel(this);
  offset_readout_->setObjectName(QStringLiteral("c1382"));
  zoom->addWidget(offset_readout_, 1, 2);
  length_readout_ = new QLabel(this);
  length_readout_->setObjectName(QStringLiteral("c1381"));
  zoom->addWidget(length_readout_, 1, 3);
  insertion_view_ = new InsertStrip(this, false, kStripWidth, kInsertionHeight);
  insertion_view_->setObjectName(QStringLiteral("c1367"));
  top->addWidget(insertion_view_);
  insertion_slider_ = slider("c1376", 200, this);
  top->addWidget(insertion_slider_);

  auto* buttons = new QHBoxLayout;
  top->addLayout(buttons);
  apply_ = button(QStringLiteral("Apply"), "c1364", this);
  test_ = button(QStringLiteral("Test"), "c1378", this);
  remove_ = button(QStringLiteral("Remove"), "c1375", this);
  close_button_ = button(QStringLiteral("Close"), "c1366", this);
  help_ = button(QStringLiteral("Help"), "c1371", this);
  for (QPushButton* b : {apply_, test_, remove_, close_button_, help_}) buttons->addWidget(b);

  views_.set_overview_size(kStripWidth, kOverviewHeight);
  views_.set_insertion_size(kStripWidth, kInsertionHeight);

  connect(file_, &QLineEdit::textEdited, this, [this] { on_file_edited(); });
  connect(offset_, &QLineEdit::textEdited, this, [this] { on_offset_edited(); });
  connect(length_, &QLineEdit::textEdited, this, [this] { on_length_edited(); });
  connect(insertion_, &QLineEdit::textEdited, this, [this] { on_insertion_edited(); });
  connect(start_length_, &QLineEdit::textEdited, this, [this] { on_start_length_edited(); });
  connect(end_length_, &QLineEdit::textEdited, this, [this] { on_end_length_edited(); });
  connect(all_, &QPushButton::clicked, this, [this] { on_all(); });
  connect(browse_, &QPushButton::clicked, this, [this] { on_browse(); });
  connect(start_list_, &QComboBox::activated, this, [this](int i) { on_start_list(i); });
  connect(end_list_, &QComboBox::activated, this, [this](int i) { on_end_list(i); });
  connect(scale_, &QSlider::valueChanged, this, [this](int v) { on_scale(v); });
  connect(offset_slider_, &QSlider::valueChanged, this, [this](int v) { on_offset_slider(v); });
  connect(insertion_slider_, &QSlider::valueChanged, this, [this](int v) { on_insertion_slider(v); });
  connect(apply_, &QPushButton::clicked, this, [this] { on_apply(); });
  connect(test_, &QPushButton::clicked, this, [this] { on_test(); });
  connect(remove_, &QPushButton::clicked, this, [this] { on_remove(); });
  connect(close_button_, &QPushButton::clicked, this, [this] { on_close(); });
  connect(help_, &QPushButton::clicked, this, [] { platform().help->show("help.chm::/htm/chap06-1.htm"); });
}

void CAudioInsertDlg::SetInputClip(const EClip& clip) {
  clip_ = std::make_unique<EClip>(clip);
  bars_ = track_bars(*clip_, mode_);
  if (!running_) return;
  work_.track_length = record_->track_length;
  const InsertParams before = work_;
  if (work_.insertion > work_.track_length) work_.insertion = work_.track_length;
  show_fields(before);
  show_field(total_, work_.track_length);
  views_.recompute_overview(&work_);
  views_.recompute_window(&work_);
  redraw();
}

void CAudioInsertDlg::OnInitDialog() {
  setWindowTitle(mode_ == InsertMode::audio ? QStringLiteral(" Sorvane: Insert ")
                                            : QStringLiteral(" MPEG-Tamsel: Insert "));
  total_->setReadOnly(true);
  fill_effect_lists();
  if (work_.start_operator >= count_) insert_clear_start(&work_);
  if (work_.end_operator >= count_) insert_clear_end(&work_);
  show_all_fields();
  const bool lengths = count_ >= 2;
  start_length_->setEnabled(lengths);
  end_length_->setEnabled(lengths);
  update_end_effect();
  views_.setup(&work_);
  views_.set_play_position(work_.play_position);
  {
    const bool g = guard_;
    guard_ = true;
    scale_->setValue(views_.scale_position());
    offset_slider_->setValue(views_.offset_position());
    insertion_slider_->setValue(views_.insertion_slider());
    guard_ = g;
  }
  offset_slider_->setEnabled(views_.offset_slider_enabled());
  update_readouts();
  show_field(insertion_, work_.insertion);
  if (pos_x_ || pos_y_) move(pos_x_, pos_y_);
  if (!work_.file_name.empty()) set_input_file(work_.file_name, true);
  if (mode_ == InsertMode::video) {
    apply_->setText(QStringLiteral("OK"));
    close_button_->setText(QStringLiteral("Cancel"));
    test_->setEnabled(false);
    remove_->setEnabled(false);
  } else {
    timer_.start();
  }
  update_input_controls();
  update_apply_button();
  if (locked_)
    for (QWidget* w : std::initializer_list<QWidget*>{file_, browse_, offset_, length_, all_}) w->setEnabled(false);
  running_ = true;
}

void CAudioInsertDlg::Create() {
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  OnInitDialog();
  show();
}

bool CAudioInsertDlg::run_modal() {
  OnInitDialog();
  return exec() == QDialog::Accepted;
}

void CAudioInsertDlg::fill_effect_lists() {
  const int registry = int(ops_.size());
  count_ = offered_operator_count(mode_, registry, !work_.file_name.empty());
  const bool g = guard_;
  guard_ = true;
  for (QComboBox* list : {start_list_, end_list_}) {
    while (list->count() > count_) list->removeItem(list->count() - 1);
    for (int i = list->count(); i < count_; ++i) list->addItem(QString::fromStdString(ops_[size_t(i)].name));
  }
  start_list_->setCurrentIndex(work_.start_operator < count_ ? work_.start_operator : 0);
  end_list_->setCurrentIndex(work_.end_operator < count_ ? work_.end_operator : 0);
  guard_ = g;
}

bool CAudioInsertDlg::read(QLineEdit* e, double* v) const {
  const std::string text = e->text().trimmed().toStdString();
  if (text.empty()) {
    *v = 0;
    return true;
  }
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || !std::isfinite(d)) return false;
  *v = d;
  return true;
}

void CAudioInsertDlg::show_field(QLineEdit* e, double v) {
  const bool g = guard_;
  guard_ = true;
  e->setText(QString::fromStdString(insert_seconds_text(v)));
  guard_ = g;
}

void CAudioInsertDlg::show_all_fields() {
  const bool g = guard_;
  guard_ = true;
  file_->setText(QString::fromStdString(work_.file_name));
  guard_ = g;
  show_field(offset_, work_.offset);
  show_field(length_, work_.length);
  show_field(insertion_, work_.insertion);
  show_field(total_, work_.track_length);
  show_field(start_length_, work_.start_length);
  show_field(end_length_, work_.end_length);
}

// Shows the fields a rule changed; the field being typed in only when the
// rule corrected what was typed.
void CAudioInsertDlg::show_fields(const InsertParams& before, QLineEdit* except, double typed) {
  const std::pair<QLineEdit*, double InsertParams::*> fields[] = {
      {offset_, &InsertParams::offset},           {length_, &InsertParams::length},
      {insertion_, &InsertParams::insertion},     {total_, &InsertParams::track_length},
      {start_length_, &InsertParams::start_length}, {end_length_, &InsertParams::end_length},
  };
  for (const auto& [e, field] : fields) {
    const double was = e == except ? typed : before.*field;
    if (work_.*field != was) show_field(e, work_.*field);
  }
  const bool g = guard_;
  guard_ = true;
  if (start_list_->currentIndex() != work_.start_operator && work_.start_operator < start_list_->count())
    start_list_->setCurrentIndex(work_.start_operator);
  if (end_list_->currentIndex() != work_.end_operator && work_.end_operator < end_list_->count())
    end_list_->setCurrentIndex(work_.end_operator);
  guard_ = g;
}

void CAudioInsertDlg::update_end_effect() {
  const bool on = insert_end_effect_available(work_);
  if (!on && work_.end_operator) {
    insert_clear_end(&work_);
    show_field(end_length_, 0);
  }
  end_list_->setEnabled(on);
  end_length_->setEnabled(on && count_ >= 2);
  if (!on) {
    const bool g = guard_;
    guard_ = true;
    end_list_->setCurrentIndex(0);
    guard_ = g;
  }
}

void CAudioInsertDlg::update_input_controls() {
  if (locked_) return;
  const InsertInputControls c = insert_input_controls(work_, context());
  offset_->setEnabled(c.offset);
  length_->setEnabled(c.length);
  all_->setEnabled(c.all);
}

void CAudioInsertDlg::update_apply_button() {
  const bool on = insert_apply_enabled(work_);
  apply_->setEnabled(on);
  if (mode_ == InsertMode::audio) test_->setEnabled(on);
}

void CAudioInsertDlg::update_readouts() {
  offset_readout_->setText(one_decimal(views_.readout_offset()));
  length_readout_->setText(one_decimal(views_.readout_length()));
  scale_readout_->setText(one_decimal(views_.readout_scale()));
}

void CAudioInsertDlg::redraw_window() {
  const double before = work_.insertion;
  views_.recompute_window(&work_);
  if (work_.insertion != before) show_field(insertion_, work_.insertion);
  const bool g = guard_;
  guard_ = true;
  insertion_slider_->setValue(views_.insertion_slider());
  guard_ = g;
  redraw();
}

void CAudioInsertDlg::redraw() {
  overview_->update();
  insertion_view_->update();
}

bool CAudioInsertDlg::load_input(const std::string& name, bool quiet) {
  if (name.empty()) return false;
  if (name == last_loaded_) return true;
  double seconds = 0;
  bool still = false;
  if (!loader_ || !loader_(name, &seconds, &still)) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, insert_invalid_input_message(mode_, name));
    return false;
  }
  const InsertParams before = work_;
  work_.input_length = seconds;
  still_ = mode_ == InsertMode::video && still;
  work_.file_name = name;
  last_loaded_ = name;
  folder_ = split_path(name);
  insert_fit_to_input(&work_);
  if (!quiet) show_fields(before);
  return true;
}

void CAudioInsertDlg::after_input_change(const InsertParams& before) {
  if (work_.length != before.length && (before.length == 0 || work_.length == 0)) update_end_effect();
  redraw_window();
  update_input_controls();
  update_apply_button();
}

void CAudioInsertDlg::set_input_file(const std::string& name, bool from_setup) {
  const InsertParams before = work_;
  if (!load_input(name, false)) return;
  if (from_setup) folder_.clear();
  const bool g = guard_;
  guard_ = true;
  file_->setText(QString::fromStdString(name));
  guard_ = g;
  if (still_) {
    const InsertParams pre = work_;
    insert_still_image_loaded(&work_, context());
    show_fields(pre);
  }
  fill_effect_lists();
  after_input_change(before);
}

void CAudioInsertDlg::on_file_edited() {
  if (guard_) return;
  const std::string name = file_->text().trimmed().toStdString();
  if (name == work_.file_name) return;
  const InsertParams before = work_;
  if (name.empty()) {
    work_.file_name.clear();
    last_loaded_.clear();
    still_ = false;
    insert_clear_input(&work_);
    show_fields(before);
  } else if (readable_file(name)) {
    if (!load_input(name, false)) return;
  } else {
    return;
  }
  fill_effect_lists();
  after_input_change(before);
}

void CAudioInsertDlg::on_offset_edited() {
  double v = 0;
  if (guard_ || !read(offset_, &v) || v == work_.offset) return;
  const InsertParams before = work_;
  insert_set_offset(&work_, v);
  show_fields(before, offset_, v);
  after_input_change(before);
}

void CAudioInsertDlg::on_length_edited() {
  double v = 0;
  if (guard_ || !read(length_, &v) || v == work_.length) return;
  const InsertParams before = work_;
  insert_set_length(&work_, v, context());
  show_fields(before, length_, v);
  after_input_change(before);
}

void CAudioInsertDlg::on_insertion_edited() {
  double v = 0;
  if (guard_ || !read(insertion_, &v) || v == work_.insertion) return;
  // Outside the window the text stays and the point keeps its value.
  if (!views_.accept_insertion(&work_, v, context())) return;
  if (work_.insertion != v) show_field(insertion_, work_.insertion);
  redraw_window();
}

void CAudioInsertDlg::on_start_length_edited() {
  double v = 0;
  if (guard_ || !read(start_length_, &v) || v == work_.start_length) return;
  const InsertParams before = work_;
  insert_set_start_length(&work_, v, context());
  show_fields(before, start_length_, v);
  redraw_window();
  update_apply_button();
}

void CAudioInsertDlg::on_end_length_edited() {
  double v = 0;
  if (guard_ || !read(end_length_, &v) || v == work_.end_length) return;
  insert_set_end_length(&work_, v);
  redraw_window();
  update_apply_button();
}

void CAudioInsertDlg::on_all() {
  const InsertParams before = work_;
  insert_select_all(&work_);
  show_fields(before);
  after_input_change(before);
}

void CAudioInsertDlg::on_browse() {
  FileDialogRequest req;
  req.kind = FileDialogKind::Open;
  req.folder = folder_;
  req.filter = mode_ == InsertMode::audio ? "Audio File (*.mp2;*.mp3;*.mpa;*.wav)|*.mp2;*.mp3;*.mpa;*.wav|All (*.*)|*.*||"
                                          : "Movie File (*.mpg;*.m2v;*.vob;*.bmp;*.jpg)|*.mpg;*.m2v;*.vob;*.bmp;*.jpg|All (*.*)|*.*||";
  const FileDialogResult res = platform().dialogs->run(req);
  if (!res.accepted || res.paths.empty()) return;
  set_input_file(res.paths[0], false);
}

void CAudioInsertDlg::on_start_list(int index) {
  if (guard_ || index == work_.start_operator) return;
  const InsertParams before = work_;
  insert_select_start(&work_, index, context());
  show_fields(before);
  if (index == 0) {
    const bool g = guard_;
    guard_ = true;
    start_list_->setCurrentIndex(0);
    guard_ = g;
  }
  if (still_) update_input_controls();
  redraw_window();
  update_apply_button();
}

void CAudioInsertDlg::on_end_list(int index) {
  if (guard_ || index == work_.end_operator) return;
  const InsertParams before = work_;
  insert_select_end(&work_, index, context());
  show_fields(before);
  redraw_window();
  update_apply_button();
}

void CAudioInsertDlg::on_scale(int position) {
  if (guard_) return;
  const InsertParams before = work_;
  views_.scale_moved(&work_, position);
  const bool g = guard_;
  guard_ = true;
  offset_slider_->setValue(views_.offset_position());
  guard_ = g;
  offset_slider_->setEnabled(views_.offset_slider_enabled());
  update_readouts();
  if (work_.insertion != before.insertion) show_field(insertion_, work_.insertion);
  redraw_window();
}

void CAudioInsertDlg::on_offset_slider(int position) {
  if (guard_) return;
  const InsertParams before = work_;
  views_.offset_moved(&work_, position);
  update_readouts();
  if (work_.insertion != before.insertion) show_field(insertion_, work_.insertion);
  redraw_window();
}

void CAudioInsertDlg::on_insertion_slider(int position) {
  if (guard_) return;
  const InsertParams before = work_;
  views_.insertion_slider_moved(&work_, position, context());
  if (work_.insertion != before.insertion) show_field(insertion_, work_.insertion);
  redraw();
}

void CAudioInsertDlg::on_apply() {
  // Enter in an edit field must not apply: only the focused button acts.
  if (!apply_->hasFocus()) return;
  const std::string name = file_->text().trimmed().toStdString();
  if (!name.empty() && !load_input(name, true)) return;
  InsertContext ctx = context();
  if (!insert_prepare_apply(&work_, ctx)) {
    platform().prompter->message(PromptIcon::Question, PromptButtons::Ok, "No selection");
    return;
  }
  const InsertParams keep = *record_;
  *record_ = work_;
  record_->play_position = keep.play_position;
  insert_clear_for_next(&work_);
  still_ = false;
  last_loaded_.clear();
  fill_effect_lists();
  show_all_fields();
  update_end_effect();
  redraw_window();
  update_input_controls();
  update_apply_button();
  if (action_) action_(kApply);
  if (mode_ == InsertMode::video) accept();
}

void CAudioInsertDlg::on_test() {
  const double play = record_->play_position;
  *record_ = work_;
  record_->play_position = play;
  if (action_) action_(kTest);
  const double p = insert_test_position(work_, context());
  if (p != views_.play_position()) {
    views_.set_play_position(p);
    insertion_view_->update();
  }
}

void CAudioInsertDlg::on_remove() {
  record_->insertion = work_.insertion;
  if (action_) action_(kRemove);
}

void CAudioInsertDlg::on_timer() {
  if (std::fabs(record_->play_position - views_.play_position()) >= 0.5) {
    views_.set_play_position(record_->play_position);
    insertion_view_->update();
    overview_->update();
  }
}

void CAudioInsertDlg::on_close(bool from_close_event) {
  if (closed_) return;
  closed_ = true;
  timer_.stop();
  record_->scale_position = views_.scale_position();
  record_->offset_position = views_.offset_position();
  if (!suppress_close_ && close_) close_(1);
  if (mode_ == InsertMode::video) QDialog::reject();
  else if (!from_close_event) close();
}

void CAudioInsertDlg::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();  // Enter alone does nothing
    return;
  }
  QDialog::keyPressEvent(event);
}

void CAudioInsertDlg::reject() { on_close(); }

void CAudioInsertDlg::closeEvent(QCloseEvent* event) {
  // QDialog's own handling would call reject() again and keep the window.
  on_close(true);
  event->accept();
}

void CAudioInsertDlg::paint_overview(QPainter& p) {
  const StripGeometry& g = views_.overview_geometry();
  p.fillRect(overview_->rect(), Qt::black);
  draw_segments(p, views_.overview_segments(bars_), g, [this](double t) { return views_.overview_x(t); });
  int x0 = 0, x1 = 0;
  views_.zoom_window_x(&x0, &x1);
  p.setPen(kRed);
  p.drawRect(QRect(QPoint(x0, g.height / 8), QPoint(x1, g.height - g.height / 8 - 1)));
  const int xi = views_.overview_x(work_.insertion);
  p.drawLine(xi, 0, xi, g.height - 1);
  p.setPen(kWhite);
  const int xp = views_.overview_x(views_.play_position());
  p.drawLine(xp, 0, xp, g.height - 1);
}

void CAudioInsertDlg::paint_insertion(QPainter& p) {
  const StripGeometry& g = views_.insertion_geometry();
  p.fillRect(insertion_view_->rect(), Qt::black);
  draw_segments(p, views_.insertion_segments(bars_, work_, context()), g,
                [this](double t) { return views_.insertion_x(t); });
  p.setPen(kRed);
  const int xi = views_.insertion_x(work_.insertion);
  p.drawLine(xi, 0, xi, g.height - 1);
  if (views_.play_line_visible()) {
    p.setPen(kWhite);
    const int xp = views_.insertion_x(views_.play_position());
    p.drawLine(xp, 0, xp, g.height - 1);
  }
}
