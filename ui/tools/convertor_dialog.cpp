#include "ui/tools/convertor_dialog.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
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

constexpr int kSystemsFilter = 6;

QTreeWidget* make_list(QWidget* parent, const char* name) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName(QString::fromLatin1(name));
  list->setHeaderLabels({QStringLiteral(" ID"), QStringLiteral("Type"), QStringLiteral("PID")});
  list->setRootIsDecorated(false);
  list->setColumnWidth(0, 40);
  list->setColumnWidth(1, 85);
  list->setColumnWidth(2, 85);
  return list;
}

}  // namespace

bool run_select_pid_dialog(QWidget* parent, TransportPids* pids) {
  QDialog d(parent);
  d.setWindowTitle(QStringLiteral(" MPEG-2 Transport Stream: Select PID"));
  const TransportPids shown = select_pid_shown(*pids);
  auto* video = new QLineEdit(QString::number(shown.video), &d);
  auto* audio = new QLineEdit(QString::number(shown.audio), &d);
  auto* pmt = new QLineEdit(QString::number(shown.pmt), &d);
  video->setObjectName(QStringLiteral("video_pid"));
  audio->setObjectName(QStringLiteral("audio_pid"));
  pmt->setObjectName(QStringLiteral("pmt_pid"));
  auto* form = new QFormLayout(&d);
  form->addRow(QStringLiteral("Video Elementary Stream"), video);
  form->addRow(QStringLiteral("Audio Elementary Stream"), audio);
  form->addRow(QStringLiteral("Program Map Table"), pmt);
  auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &d);
  form->addRow(box);
  QObject::connect(box, &QDialogButtonBox::accepted, &d, &QDialog::accept);
  QObject::connect(box, &QDialogButtonBox::rejected, &d, &QDialog::reject);
  if (d.exec() != QDialog::Accepted) return false;
  *pids = select_pid_accept(shown, pmt->text().toStdString(), video->text().toStdString(),
                            audio->text().toStdString());
  return true;
}

ConvertorDialog::ConvertorDialog(std::function<void()> closed, QWidget* parent)
    : ToolDialog(std::move(closed), ToolJob::kPollMs, parent) {
  setObjectName(QStringLiteral("stream_convertor"));
  setWindowTitle(QString::fromLatin1(kConvertorCaption));
  build();
  refresh();
}

ConvertorDialog::~ConvertorDialog() = default;

void ConvertorDialog::build() {
  auto* rows = new QVBoxLayout(this);
  auto* in_row = new QHBoxLayout;
  input_edit_ = new QLineEdit(this);
  input_edit_->setObjectName(QStringLiteral("input_file"));
  input_edit_->setReadOnly(true);
  input_browse_ = tool_button("...", "input_browse", this);
  in_row->addWidget(input_edit_);
  in_row->addWidget(input_browse_);
  rows->addLayout(in_row);

  input_group_ = new QGroupBox(QStringLiteral("MPEG Systems Stream"), this);
  auto* grid = new QGridLayout(input_group_);
  in_list_ = make_list(input_group_, "input_list");
  out_list_ = make_list(input_group_, "output_list");
  add_ = tool_button("Add", "add", this);
  all_ = tool_button("All", "all", this);
  remove_ = tool_button("Remove", "remove", this);
  clear_ = tool_button("Clear", "clear", this);
  grid->addWidget(new QLabel(QStringLiteral("Input"), input_group_), 0, 0);
  grid->addWidget(new QLabel(QStringLiteral("Output"), input_group_), 0, 2);
  grid->addWidget(in_list_, 1, 0);
  auto* mid = new QVBoxLayout;
  mid->addWidget(add_);
  mid->addWidget(all_);
  mid->addStretch();
  mid->addWidget(remove_);
  mid->addWidget(clear_);
  grid->addLayout(mid, 1, 1);
  grid->addWidget(out_list_, 1, 2);
  rows->addWidget(input_group_);

  auto* out_row = new QHBoxLayout;
  output_edit_ = new QLineEdit(this);
  output_edit_->setObjectName(QStringLiteral("output_file"));
  output_edit_->setReadOnly(true);
  output_browse_ = tool_button("...", "output_browse", this);
  out_row->addWidget(output_edit_);
  out_row->addWidget(output_browse_);
  rows->addLayout(out_row);

  auto* formats = new QGroupBox(this);
  auto* fl = new QGridLayout(formats);
  const char* names[5] = {nullptr, "  MPEG-1 System Stream", "  MPEG-1 System Stream Video CD",
                          "  MPEG-2 Program Stream", "  MPEG-2 Transport Stream"};
  for (int f = 1; f <= 4; ++f) {
    radios_[f] = new QRadioButton(QString::fromLatin1(names[f]), formats);
    radios_[f]->setObjectName(QStringLiteral("format_%1").arg(f));
    fl->addWidget(radios_[f], f - 1, 0);
    connect(radios_[f], &QRadioButton::clicked, this, [this, f] {
      model_.set_format(f);
      refresh();
    });
  }
  select_pid_ = tool_button("Select PID", "select_pid", formats);
  fl->addWidget(select_pid_, 3, 1);
  estimate_ = new QLineEdit(formats);
  estimate_->setObjectName(QStringLiteral("estimate"));
  estimate_->setReadOnly(true);
  disks_ = new QComboBox(formats);
  disks_->setObjectName(QStringLiteral("disk_space"));
  fl->addWidget(new QLabel(QStringLiteral("Estimated Size (MB)"), formats), 0, 1);
  fl->addWidget(estimate_, 0, 2);
  fl->addWidget(new QLabel(QStringLiteral("Disk Space"), formats), 1, 1);
  fl->addWidget(disks_, 1, 2);
  rows->addWidget(formats);

  auto* buttons = new QHBoxLayout;
  convert_ = tool_button("Convert", "convert", this);
  close_ = tool_button("Close", "close", this);
  auto* help = tool_button("Help", "help", this);
  buttons->addStretch();
  buttons->addWidget(convert_);
  buttons->addWidget(close_);
  buttons->addWidget(help);
  rows->addLayout(buttons);

  connect(input_browse_, &QPushButton::clicked, this, [this] { browse_input(); });
  connect(output_browse_, &QPushButton::clicked, this, [this] { browse_output(); });
  auto row_of = [](QTreeWidget* list) { return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : 0; };
  connect(add_, &QPushButton::clicked, this, [this, row_of] {
    model_.add(row_of(in_list_));
    refresh();
  });
  connect(in_list_, &QTreeWidget::itemDoubleClicked, this, [this, row_of] {
    model_.add(row_of(in_list_));
    refresh();
  });
  connect(all_, &QPushButton::clicked, this, [this] {
    model_.add_all();
    refresh();
  });
  connect(remove_, &QPushButton::clicked, this, [this, row_of] {
    model_.remove(row_of(out_list_));
    refresh();
  });
  connect(out_list_, &QTreeWidget::itemDoubleClicked, this, [this, row_of] {
    model_.remove(row_of(out_list_));
    refresh();
  });
  connect(clear_, &QPushButton::clicked, this, [this] {
    model_.clear();
    refresh();
  });
  connect(select_pid_, &QPushButton::clicked, this, [this] { select_pid(); });
  connect(convert_, &QPushButton::clicked, this, [this] {
    if (model_.convert()) timer_->start();
    refresh();
  });
  connect(close_, &QPushButton::clicked, this, [this] { close(); });
  connect(help, &QPushButton::clicked, this, [] { show_help(kConvertorHelp); });
}

void ConvertorDialog::fill_lists() {
  auto fill = [](QTreeWidget* list, const std::vector<ConvertRow>& rows, auto pid_text) {
    const int current = list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : 0;
    list->clear();
    for (size_t i = 0; i < rows.size(); ++i) {
      char id[16];
      std::snprintf(id, sizeof id, "%4d", rows[i].stream_id);
      auto* item = new QTreeWidgetItem(list, {QString::fromLatin1(id),
                                              rows[i].video() ? QStringLiteral("Video") : QStringLiteral("Audio"),
                                              QString::fromStdString(pid_text(int(i)))});
      item->setData(0, Qt::UserRole, uint(rows[i].key()));
    }
    if (list->topLevelItemCount() > 0)
      list->setCurrentItem(list->topLevelItem(std::min(current, list->topLevelItemCount() - 1)));
  };
  const auto& in = model_.input_rows();
  fill(in_list_, in, [&in](int i) { return in[size_t(i)].pid >= 1 ? " " + std::to_string(in[size_t(i)].pid) : std::string(); });
  fill(out_list_, model_.output_rows(), [this](int i) { return model_.output_pid_text(i); });
}

void ConvertorDialog::refresh() {
  refreshing_ = true;
  const bool busy = model_.busy();
  fill_lists();
  input_edit_->setText(QString::fromStdString(model_.input_name()));
  input_group_->setTitle(model_.input_name().empty() ? QStringLiteral("MPEG Systems Stream")
                                                     : QString::fromStdString(model_.group_caption()));
  output_edit_->setText(QString::fromStdString(model_.output_name()));
  const bool has_in = !model_.input_rows().empty(), has_out = !model_.output_rows().empty();
  // Nothing that changes the job's inputs while it runs.
  input_browse_->setEnabled(!busy);
  output_browse_->setEnabled(!busy);
  add_->setEnabled(!busy && has_in);
  all_->setEnabled(!busy && has_in);
  remove_->setEnabled(!busy && has_out);
  clear_->setEnabled(!busy && has_out);
  in_list_->setEnabled(!busy);
  out_list_->setEnabled(!busy);
  for (int f = 1; f <= 4; ++f) {
    radios_[f]->setEnabled(!busy && model_.format_enabled(f));
    radios_[f]->setChecked(model_.format() == f);
  }
  select_pid_->setVisible(model_.select_pid_shown());
  select_pid_->setEnabled(!busy);
  estimate_->setText(QString::fromStdString(model_.estimate_text()));
  fill_disk_list(disks_, model_.disks(), model_.disk_index());
  convert_->setEnabled(model_.convert_enabled());
  close_->setEnabled(!busy);
  refreshing_ = false;
}

bool ConvertorDialog::load_input(const std::string& path) {
  const bool ok = model_.load(path);
  if (ok) editor_settings().convertor_in_folder = split_path(path);
  refresh();
  return ok;
}

bool ConvertorDialog::set_output(const std::string& path) {
  const bool ok = model_.choose_output(path);
  if (ok) editor_settings().convertor_out_folder = split_path(model_.output_name());
  refresh();
  return ok;
}

void ConvertorDialog::browse_input() {
  std::string path;
  if (open_mpeg_file_dialog(&path, editor_settings().convertor_in_folder)) load_input(path);
}

void ConvertorDialog::browse_output() {
  std::string path;
  if (file_dialog(&path, 1, kSystemsFilter, nullptr, model_.output_extension(), editor_settings().convertor_out_folder,
                  "Output File"))
    set_output(path);
}

void ConvertorDialog::select_pid() {
  TransportPids p = model_.pids();
  if (run_select_pid_dialog(this, &p)) model_.set_pids(p);
  refresh();
}


