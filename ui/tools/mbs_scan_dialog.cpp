#include "ui/tools/mbs_scan_dialog.h"

#include <QCheckBox>
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
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdio>

#include "app/shell/editor_settings.h"
#include "app/shell/file_utils.h"
#include "ui/tools/tool_widgets.h"

namespace {

QString number(double v) {
  char t[32];
  std::snprintf(t, sizeof t, "%10.0f", v);
  return QString::fromLatin1(t);
}

}  // namespace

MbsScanDialog::MbsScanDialog(const std::string& path, std::function<void(const std::string&)> open_file,
                             std::function<void()> closed, QWidget* parent)
    : ToolDialog(std::move(closed), ToolJob::kAdapterPollMs, parent), open_file_(std::move(open_file)) {
  setObjectName(QStringLiteral("mbs_scan"));
  setWindowTitle(QStringLiteral("scan"));
  auto* rows = new QVBoxLayout(this);
  auto* in_row = new QHBoxLayout;
  input_ = new QLineEdit(this);
  input_->setObjectName(QStringLiteral("input"));
  input_->setReadOnly(true);
  browse_ = tool_button(" ... ", "browse", this);
  in_row->addWidget(input_);
  in_row->addWidget(browse_);
  rows->addLayout(in_row);

  auto* run_row = new QHBoxLayout;
  scan_ = tool_button("Scan", "scan", this);
  stop_ = tool_button("Stop", "stop", this);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 100);
  run_row->addWidget(scan_);
  run_row->addWidget(stop_);
  run_row->addWidget(bar_, 1);
  rows->addLayout(run_row);
  auto_start_ = new QCheckBox(QStringLiteral("Start the scanning process automatically."), this);
  auto_start_->setChecked(editor_settings().mbs_scan_auto_start != 0);
  rows->addWidget(auto_start_);

  auto* kinds = new QGroupBox(QStringLiteral("change type:"), this);
  auto* kl = new QHBoxLayout(kinds);
  for (int k = 1; k <= 3; ++k) {
    kinds_[k] = new QRadioButton(QString::fromLatin1(mbs_kind_name(k)), kinds);
    kinds_[k]->setObjectName(QStringLiteral("kind_%1").arg(k));
    kl->addWidget(kinds_[k]);
    connect(kinds_[k], &QRadioButton::clicked, this, [this, k] {
      model_.select_kind(k);
      refresh();
    });
  }
  info_ = tool_button("Encoder Info", "info", kinds);
  kl->addWidget(info_);
  rows->addWidget(kinds);

  list_box_ = new QGroupBox(QStringLiteral("List of Segment Files"), this);
  auto* ll = new QVBoxLayout(list_box_);
  list_ = new QTreeWidget(list_box_);
  list_->setObjectName(QStringLiteral("segments"));
  list_->setHeaderLabels({QStringLiteral("Segment File"), QStringLiteral("Start"), QStringLiteral("Length")});
  list_->setRootIsDecorated(false);
  ll->addWidget(list_);
  rows->addWidget(list_box_);

  auto* buttons = new QHBoxLayout;
  ok_ = tool_button("OK", "ok", this);
  cancel_ = tool_button("Cancel", "cancel", this);
  buttons->addStretch();
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  rows->addLayout(buttons);

  connect(browse_, &QPushButton::clicked, this, [this] {
    std::string p;
    if (open_mpeg_file_dialog(&p) && set_input(p) && auto_start_->isChecked()) start_scan();
  });
  connect(scan_, &QPushButton::clicked, this, [this] { start_scan(); });
  connect(stop_, &QPushButton::clicked, this, [this] {
    model_.stop();
    refresh();
  });
  connect(info_, &QPushButton::clicked, this, [this] { show_info(); });
  connect(ok_, &QPushButton::clicked, this, [this] { accept_files(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { close(); });

  if (!path.empty()) set_input(path);
  refresh();
  resize(520, 420);
}

MbsScanDialog::~MbsScanDialog() = default;

bool MbsScanDialog::set_input(const std::string& path) {
  const bool ok = model_.set_input(path);
  refresh();
  return ok;
}

void MbsScanDialog::start_scan() {
  model_.scan_or_pause();
  if (model_.busy()) timer_->start();
  refresh();
}

void MbsScanDialog::polled() { bar_->setValue(model_.percent()); }

void MbsScanDialog::refresh() {
  const bool busy = model_.busy();
  input_->setText(QString::fromStdString(model_.input()));
  bar_->setValue(model_.percent());
  browse_->setEnabled(!busy);
  stop_->setEnabled(busy);
  scan_->setEnabled(!model_.input().empty());
  scan_->setText(!busy ? QStringLiteral("Scan") : model_.paused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
  for (int k = 1; k <= 3; ++k) {
    const size_t n = model_.segments(k).size();
    kinds_[k]->setText(n ? QStringLiteral("%1 (%2)").arg(QString::fromLatin1(mbs_kind_name(k))).arg(n)
                         : QString::fromLatin1(mbs_kind_name(k)));
    kinds_[k]->setEnabled(n > 0 && !busy);
    kinds_[k]->setChecked(model_.kind() == k);
  }
  list_->clear();
  for (const MbsSegment& s : model_.segments(model_.kind()))
    new QTreeWidgetItem(list_, {QString::fromStdString(s.file), number(s.start), number(s.end - s.start)});
  if (list_->topLevelItemCount()) list_->setCurrentItem(list_->topLevelItem(0));
  list_box_->setTitle(list_->topLevelItemCount()
                          ? QStringLiteral("List of Segment Files (%1)").arg(list_->topLevelItemCount())
                          : QStringLiteral("List of Segment Files"));
  info_->setEnabled(list_->topLevelItemCount() > 0);
  ok_->setEnabled(!busy && !model_.input().empty());
  cancel_->setEnabled(!busy);
}

void MbsScanDialog::show_info() {
  const auto& segs = model_.segments(model_.kind());
  if (segs.empty()) return;
  QDialog d(this);
  d.setWindowTitle(QStringLiteral("Info"));
  auto* rows = new QVBoxLayout(&d);
  auto* box = new QGroupBox(QStringLiteral("MPEG File: <%1>;  number of segments: %2 ")
                                .arg(QString::fromStdString(model_.input()))
                                .arg(segs.size()),
                            &d);
  auto* bl = new QVBoxLayout(box);
  std::vector<QLabel*> lines;
  for (int i = 0; i < 10; ++i) {
    lines.push_back(new QLabel(box));
    bl->addWidget(lines.back());
  }
  rows->addWidget(box);
  auto* nav = new QHBoxLayout;
  auto* prev = tool_button("Prev", "prev", &d);
  auto* next = tool_button("Next", "next", &d);
  nav->addWidget(prev);
  nav->addWidget(next);
  rows->addLayout(nav);
  auto index = std::make_shared<int>(0);
  auto show = [&segs, lines, prev, next, index] {
    const std::vector<std::string> text = mbs_info_lines(segs[size_t(*index)], *index);
    for (size_t i = 0; i < lines.size() && i < text.size(); ++i) lines[i]->setText(QString::fromStdString(text[i]));
    const int n = int(segs.size());
    next->setEnabled(n >= 2 && *index < n - 1);
    prev->setEnabled(n >= 2 && *index > 0);
  };
  connect(next, &QPushButton::clicked, &d, [show, index, &segs] {
    if (*index + 1 < int(segs.size())) ++*index;
    show();
  });
  connect(prev, &QPushButton::clicked, &d, [show, index] {
    if (*index > 0) --*index;
    show();
  });
  show();
  d.exec();
}

void MbsScanDialog::accept_files() {
  if (model_.busy()) return;
  const std::vector<std::string> files = model_.ok_files();
  editor_settings().mbs_scan_auto_start = auto_start_->isChecked() ? 1 : 0;
  if (open_file_)
    for (const std::string& f : files) open_file_(f);
  close();
}

