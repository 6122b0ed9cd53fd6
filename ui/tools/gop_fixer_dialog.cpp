#include "ui/tools/gop_fixer_dialog.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "app/shell/file_utils.h"
#include "ui/tools/tool_widgets.h"

namespace {

const char* const kModeTexts[4] = {
    " Scan for (1) GOP time code, (2) audio PTS, and (3) GOP size errors    (Read-ONLY)",
    " Fix (1) GOP time code and (2) audio PTS errors    (Read + Write)",
    " Fix (3) GOP size errors for DVD GOP size compliance   (Read + Encode + Write)",
    " All above:  Scan  ==>  Fix  ==>  GOP resize",
};

}  // namespace

GopFixerDialog::GopFixerDialog(std::function<void()> closed, QWidget* parent)
    : ToolDialog(std::move(closed), ToolJob::kAdapterPollMs, parent) {
  setObjectName(QStringLiteral("gop_fixer"));
  auto* rows = new QVBoxLayout(this);
  auto* files = new QGridLayout;
  add_file_row(files, 0, "Input", this, "input", &input_, "input_browse", &input_browse_);
  add_file_row(files, 1, "Output", this, "output", &output_, "output_browse", &output_browse_);
  input_->setReadOnly(true);
  output_->setReadOnly(true);
  rows->addLayout(files);

  auto* box = new QGroupBox(this);
  auto* bl = new QVBoxLayout(box);
  for (int m = 0; m < 4; ++m) {
    modes_[m] = new QRadioButton(QString::fromLatin1(kModeTexts[m]), box);
    modes_[m]->setObjectName(QStringLiteral("mode_%1").arg(m));
    bl->addWidget(modes_[m]);
    connect(modes_[m], &QRadioButton::clicked, this, [this, m] {
      model_.set_mode(m);
      refresh();
    });
  }
  rows->addWidget(box);
  status_ = new QLabel(this);
  status_->setObjectName(QStringLiteral("status"));
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  rows->addWidget(status_);
  rows->addWidget(bar_);

  auto* buttons = new QHBoxLayout;
  go_ = tool_button("Scan", "go", this);
  pause_ = tool_button("Pause", "pause", this);
  abort_ = tool_button("Abort", "abort", this);
  auto* help = tool_button("Help", "help", this);
  close_ = tool_button("Close", "close", this);
  for (QPushButton* b : {go_, pause_, abort_, help, close_}) buttons->addWidget(b);
  rows->addLayout(buttons);

  connect(input_browse_, &QPushButton::clicked, this, [this] {
    std::string p;
    if (file_dialog(&p, 0, 4, nullptr, "mpg", split_path(model_.input()), " Open MPEG Video ")) open_input(p);
  });
  connect(output_browse_, &QPushButton::clicked, this, [this] {
    std::string p;
    if (file_dialog(&p, 1, 4, nullptr, "mpg", split_path(model_.output()), " Save MPEG Video ")) model_.set_output(p);
    refresh();
  });
  connect(go_, &QPushButton::clicked, this, [this] {
    if (model_.run()) timer_->start();
    refresh();
  });
  connect(pause_, &QPushButton::clicked, this, [this] {
    model_.pause();
    refresh();
  });
  connect(abort_, &QPushButton::clicked, this, [this] {
    model_.abort();
    refresh();
  });
  connect(help, &QPushButton::clicked, this, [] { show_help(kGopFixerHelp); });
  connect(close_, &QPushButton::clicked, this, [this] { close(); });

  refresh();
  resize(620, 300);
}

GopFixerDialog::~GopFixerDialog() = default;

bool GopFixerDialog::open_input(const std::string& path) {
  const bool ok = model_.open_input(path);
  refresh();
  return ok;
}

void GopFixerDialog::polled() {
  bar_->setValue(model_.percent());
  status_->setText(QString::fromStdString(model_.progress_status()));
}

void GopFixerDialog::refresh() {
  const bool busy = model_.busy();
  setWindowTitle(QString::fromStdString(model_.title()));
  input_->setText(QString::fromStdString(model_.input()));
  output_->setText(QString::fromStdString(model_.output()));
  status_->setText(QString::fromStdString(model_.status()));
  bar_->setValue(model_.percent());
  for (int m = 0; m < 4; ++m) {
    modes_[m]->setEnabled(model_.mode_enabled(m) || (m == model_.mode() && !busy));
    modes_[m]->setChecked(model_.mode() == m);
  }
  go_->setText(QString::fromStdString(model_.button_text()));
  go_->setEnabled(model_.button_enabled());
  pause_->setText(model_.paused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  pause_->setEnabled(busy);
  abort_->setEnabled(busy);
  input_browse_->setEnabled(!busy);
  output_browse_->setEnabled(!busy);
  close_->setEnabled(!busy);
}

