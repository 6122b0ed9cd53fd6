#include <QApplication>
#include <QButtonGroup>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QRadioButton>

#include "platform/qt_services.h"

namespace {

QStringList name_filters(const std::string& text) {
  QStringList out;
  for (const auto& f : parse_file_filter(text)) out << QString::fromStdString(name_filter_string(f));
  if (out.isEmpty()) out << QStringLiteral("All (*)");
  return out;
}

// The Snapshot's format choice below the dialog's own controls; the
// non-native dialog lays itself out in a grid that takes another row.
QButtonGroup* add_image_formats(QFileDialog* dialog, ImageFormat initial) {
  auto* grid = qobject_cast<QGridLayout*>(dialog->layout());
  if (!grid) return nullptr;
  auto* box = new QGroupBox(QStringLiteral("Image Format"), dialog);
  box->setObjectName(QStringLiteral("image_format"));
  auto* row = new QHBoxLayout(box);
  auto* group = new QButtonGroup(dialog);
  const char* labels[] = {" Bitmap", " JPEG", " MPEG"};
  for (int i = 0; i < 3; ++i) {
    auto* b = new QRadioButton(QString::fromLatin1(labels[i]), box);
    b->setObjectName(QStringLiteral("image_format_%1").arg(i));
    row->addWidget(b);
    group->addButton(b, i);
  }
  group->button(int(initial))->setChecked(true);
  grid->addWidget(box, grid->rowCount(), 0, 1, grid->columnCount());
  return group;
}

}  // namespace

FileDialogResult QtFileDialogs::run(const FileDialogRequest& r) {
  FileDialogResult result;
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(r.title),
                     QString::fromStdString(r.folder));
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setNameFilters(name_filters(r.filter));
  if (!r.default_ext.empty()) dialog.setDefaultSuffix(QString::fromStdString(r.default_ext));
  if (!r.file_name.empty()) dialog.selectFile(QString::fromStdString(r.file_name));
  const bool save = r.kind == FileDialogKind::Save || r.kind == FileDialogKind::SaveImage;
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  if (save) {
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !r.overwrite_prompt);
  } else if (r.kind == FileDialogKind::OpenMulti) {
    dialog.setFileMode(QFileDialog::ExistingFiles);
  } else {
    dialog.setFileMode(r.must_exist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  }
  QButtonGroup* formats = r.kind == FileDialogKind::SaveImage ? add_image_formats(&dialog, r.image_format) : nullptr;
  if (dialog.exec() != QDialog::Accepted) return result;
  for (const QString& f : dialog.selectedFiles()) {
    if (r.kind == FileDialogKind::OpenMulti && int(result.paths.size()) >= r.max_files) break;
    result.paths.push_back(f.toStdString());
  }
  if (result.paths.empty()) return result;
  if (r.kind != FileDialogKind::OpenMulti) result.paths.resize(1);
  result.image_format = formats && formats->checkedId() >= 0 ? ImageFormat(formats->checkedId()) : r.image_format;
  result.accepted = true;
  return result;
}
