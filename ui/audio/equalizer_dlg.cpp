#include "ui/audio/equalizer_dlg.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <ctime>

#include "app/shell/kept_file.h"
#include "platform/services.h"

namespace {

constexpr const char* kFilter = "Equalizer Files (*.eqz) |*.eqz|All (*.*)|*.*||";

std::string list_path() {
  const std::string folder = platform().paths ? platform().paths->config_folder() : std::string();
  return folder.empty() ? std::string() : folder + "/" + kEqualizerListName;
}

std::string folder_of(const std::string& path) {
  const size_t p = path.find_last_of('/');
  return p == std::string::npos ? std::string() : path.substr(0, p);
}

}  // namespace

// Yellow columns per band on a black ground, a red frame round the page
// each edited channel shows.
class EqualizerGraphView : public QWidget {
 public:
  EqualizerGraphView(EqualizerDialogModel* m, QWidget* parent) : QWidget(parent), m_(m) {
    setObjectName(QStringLiteral("c1114"));
    setMinimumSize(252, 150);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    const EqualizerGraph g = EqualizerGraph::from_size(width(), height());
    QFont f = font();
    f.setPixelSize(12);
    p.setFont(f);
    const QFontMetrics fm(f);
    const int cx = fm.horizontalAdvance(QStringLiteral("R")), cy = fm.height();
    for (int ch = 0; ch < 2; ++ch) {
      const int base = ch ? g.right_base : g.left_base;
      p.setPen(QPen(QColor(255, 255, 0), 2));
      for (int i = 0; i < 32; ++i) {
        const int x = g.column_x(i);
        p.drawLine(x, base, x, base - g.bar(m_->gains()[size_t(ch * 32 + i)]));
      }
      if (m_->mode() & (ch + 1)) {
        p.setPen(QPen(QColor(255, 0, 0), 1));
        const int x = g.x0 + 4 * g.column * m_->page(ch) - g.column / 2;
        p.drawRect(QRect(QPoint(x, base - g.height - 3), QPoint(x + 4 * g.column, base + 3)));
      }
      p.setPen(QColor(0, 255, 10));
      p.drawText(g.x0 - g.column - cx, base - g.height + 5 * cy / 4, ch ? QStringLiteral("R") : QStringLiteral("L"));
      p.setPen(QColor(255, 10, 10));
      p.drawText(QRect(0, base - cy / 3 - g.height - cy, g.x0 - cx / 2, cy), Qt::AlignRight | Qt::AlignBottom,
                 QStringLiteral("+6"));
      p.drawText(QRect(0, base - cy / 3 - cy, g.x0 - cx / 2, cy), Qt::AlignRight | Qt::AlignBottom, QStringLiteral("-6"));
    }
  }

 private:
  EqualizerDialogModel* m_;
};

CEqualizerDlg::CEqualizerDlg(const GainSet& gains, int preamp) : QWidget(nullptr, Qt::Window), model_(gains, preamp) {
  setObjectName(QStringLiteral("d108"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Quarvel MPEG Audio Player Equalizer"));
  setWindowIcon(QIcon(QStringLiteral(":/icons/audio/eqzr.svg")));
  auto* top = new QVBoxLayout(this);
  view_ = new EqualizerGraphView(&model_, this);
  top->addWidget(view_, 1);

  auto* middle = new QHBoxLayout;
  pages_ = new QListWidget(this);
  pages_->setObjectName(QStringLiteral("c1113"));
  for (const char* t : {"Band  1- 4", "Band  5- 8", "Band  9-12", "Band 13-16", "Band 17-20", "Band 21-24", "Band 25-28",
                        "Band 29-32"})
    pages_->addItem(QString::fromUtf8(t));
  pages_->setMaximumWidth(110);
  middle->addWidget(pages_);
  auto* bandbox = new QVBoxLayout;
  caption_ = new QLabel(this);
  caption_->setObjectName(QStringLiteral("c1120"));
  bandbox->addWidget(caption_);
  auto* grid = new QGridLayout;
  for (int i = 0; i < 4; ++i) {
    bands_[i] = new QSlider(Qt::Vertical, this);
    bands_[i]->setObjectName(QStringLiteral("c%1").arg(1121 + i));
    bands_[i]->setRange(0, 24);  // top: +6 dB
    bands_[i]->setPageStep(1);
    bands_[i]->setTickInterval(2);
    bands_[i]->setTickPosition(QSlider::TicksRight);
    numbers_[i] = new QLabel(this);
    numbers_[i]->setObjectName(QStringLiteral("c%1").arg(1109 + i));
    grid->addWidget(bands_[i], 0, i);
    grid->addWidget(numbers_[i], 1, i, Qt::AlignHCenter);
    connect(bands_[i], &QSlider::valueChanged, this, [this, i](int v) {
      if (filling_) return;
      model_.set_band(i, v);
      show_model();
    });
  }
  bandbox->addLayout(grid);
  middle->addLayout(bandbox);
  presets_ = new QListWidget(this);
  presets_->setObjectName(QStringLiteral("c1119"));
  middle->addWidget(presets_, 1);
  top->addLayout(middle);

  auto* routing = new QHBoxLayout;
  left_ = button(1115, QStringLiteral("L"));
  right_ = button(1117, QStringLiteral("R"));
  left_->setCheckable(true);
  right_->setCheckable(true);
  to_right_ = button(1116, QStringLiteral("->R"));
  to_left_ = button(1118, QStringLiteral("->L"));
  for (QPushButton* b : {left_, to_right_, to_left_, right_}) routing->addWidget(b);
  routing->addWidget(new QLabel(QStringLiteral("Preamp:"), this));
  preamp_ = new QSlider(Qt::Horizontal, this);
  preamp_->setObjectName(QStringLiteral("c1127"));
  preamp_->setRange(0, 24);
  preamp_->setPageStep(1);
  preamp_->setTickInterval(2);
  preamp_->setTickPosition(QSlider::TicksBelow);
  routing->addWidget(preamp_, 1);
  top->addLayout(routing);

  auto* row = new QHBoxLayout;
  QPushButton* ok = button(1, QStringLiteral("OK"));
  QPushButton* cancel = button(2, QStringLiteral("Cancel"));
  QPushButton* apply = button(1108, QStringLiteral("Apply"));
  QPushButton* reset = button(1128, QStringLiteral("Reset"));
  QPushButton* load = button(1126, QStringLiteral("Load"));
  save_ = button(1129, QStringLiteral("Save"));
  QPushButton* help = button(1125, QStringLiteral("Help"));
  for (QPushButton* b : {ok, cancel, apply, reset, load, save_, help}) row->addWidget(b);
  top->addLayout(row);

  for (const std::string& n : model_.preset_names()) presets_->addItem(QString::fromStdString(n));
  // Filter files listed last time.
  std::string text;
  const std::string lp = list_path();
  if (!lp.empty() && read_kept_file(lp, &text)) {
    const FilterList fl = parse_filter_list(text);
    folder_ = fl.folder;
    for (const std::string& p : fl.paths) {
      GainSet scratch;
      if (load_file(p, &scratch, false)) {
        const int before = presets_->count();
        if (model_.add_preset_file(p) >= before)
          presets_->addItem(QString::fromStdString(model_.preset_names().back()));
      }
    }
  }

  connect(pages_, &QListWidget::currentRowChanged, this, [this](int r) {
    if (filling_ || r < 0) return;
    model_.show_page(r);
    show_model();
  });
  connect(presets_, &QListWidget::currentRowChanged, this, [this](int r) {
    if (filling_ || r < 0) return;
    model_.select_preset(r, [this](const std::string& p, GainSet* g) { return load_file(p, g, true); });
    show_model();
  });
  connect(preamp_, &QSlider::valueChanged, this, [this](int v) {
    if (!filling_) model_.set_preamp(v);
  });
  connect(left_, &QPushButton::clicked, this, [this] {
    model_.toggle_left();
    show_model();
  });
  connect(right_, &QPushButton::clicked, this, [this] {
    model_.toggle_right();
    show_model();
  });
  connect(to_right_, &QPushButton::clicked, this, [this] {
    model_.left_to_right();
    show_model();
  });
  connect(to_left_, &QPushButton::clicked, this, [this] {
    model_.right_to_left();
    show_model();
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    done_ = true;
    model_.ok();
    close();
  });
  connect(cancel, &QPushButton::clicked, this, &QWidget::close);
  connect(apply, &QPushButton::clicked, this, [this] { model_.apply(); });
  connect(reset, &QPushButton::clicked, this, [this] {
    model_.reset();
    show_model();
  });
  connect(load, &QPushButton::clicked, this, [this] { on_load(); });
  connect(save_, &QPushButton::clicked, this, [this] { on_save(); });
  connect(help, &QPushButton::clicked, this, [] { platform().help->show("help.chm::/htm/chap05-3.htm"); });
  show_model();
}

CEqualizerDlg::~CEqualizerDlg() {
  const std::string lp = list_path();
  std::vector<std::string> files(model_.preset_paths().begin() + 4, model_.preset_paths().end());
  if (!lp.empty()) write_kept_file(lp, format_filter_list(files, folder_, std::time(nullptr)));
}

QPushButton* CEqualizerDlg::button(int id, const QString& text) {
  auto* b = new QPushButton(text, this);
  b->setObjectName(QStringLiteral("c%1").arg(id));
  b->setAutoDefault(false);
  return b;
}

EqualizerGraph CEqualizerDlg::graph() const { return EqualizerGraph::from_size(view_->width(), view_->height()); }
QWidget* CEqualizerDlg::graph_widget() const { return view_; }

void CEqualizerDlg::show_model() {
  filling_ = true;
  const int ch = model_.shown_channel();
  const int page = model_.page(ch);
  caption_->setText(QString::fromStdString(EqualizerDialogModel::page_caption(page)));
  for (int i = 0; i < 4; ++i) {
    numbers_[i]->setText(QString::number(4 * page + i + 1));
    bands_[i]->setValue(model_.band_gain(i));
  }
  pages_->setCurrentRow(page);
  presets_->setCurrentRow(model_.selected_preset());
  preamp_->setValue(model_.preamp());
  left_->setChecked(model_.mode() & EqualizerDialogModel::kLeft);
  right_->setChecked(model_.mode() & EqualizerDialogModel::kRight);
  to_right_->setEnabled(model_.copy_enabled());
  to_left_->setEnabled(model_.copy_enabled());
  save_->setEnabled(model_.modified());
  filling_ = false;
  view_->update();
}

bool CEqualizerDlg::load_file(const std::string& path, GainSet* g, bool report) {
  std::string text;
  if (!read_kept_file(path, &text)) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: can't open to read");
    return false;
  }
  int bands = 0;
  if (!parse_filter_file(text, g, &bands) && report) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + path + ">: NOT a valid file or ERROR in data");
    return false;
  }
  folder_ = folder_of(path);
  return true;
}

void CEqualizerDlg::on_load() {
  FileDialogRequest r;
  r.kind = FileDialogKind::OpenMulti;
  r.title = "Load Audio Equalizer Filter(s)";
  r.filter = kFilter;
  r.folder = folder_;
  r.max_files = 4096;
  const FileDialogResult res = platform().dialogs->run(r);
  int last = -1;
  for (const std::string& p : res.accepted ? res.paths : std::vector<std::string>{}) {
    GainSet g;
    if (!load_file(p, &g, true)) continue;
    const int before = presets_->count();
    last = model_.add_preset_file(p);
    if (last >= before) presets_->addItem(QString::fromStdString(model_.preset_names().back()));
  }
  if (last >= 0) {
    model_.select_preset(last, [this](const std::string& p, GainSet* g) { return load_file(p, g, true); });
    show_model();
  }
}

void CEqualizerDlg::on_save() {
  FileDialogRequest r;
  r.kind = FileDialogKind::Save;
  r.title = "Save Audio Equalizer Filter";
  r.filter = kFilter;
  r.default_ext = "eqz";
  r.folder = folder_;
  const FileDialogResult res = platform().dialogs->run(r);
  if (!res.accepted || res.paths.empty()) return;
  const std::string& p = res.paths.front();
  if (!write_kept_file(p, format_filter_file(p, model_.gains(), model_.preamp()))) {
    platform().prompter->message(PromptIcon::Stop, PromptButtons::Ok, "<" + p + ">: can't open to write");
    return;
  }
  folder_ = folder_of(p);
  const int before = presets_->count();
  if (model_.add_preset_file(p) >= before) presets_->addItem(QString::fromStdString(model_.preset_names().back()));
}

void CEqualizerDlg::closeEvent(QCloseEvent* event) {
  // A close that is not OK ends in Cancel.
  if (!done_) {
    done_ = true;
    model_.cancel();
  }
  event->accept();
}
