#include "ui/shell/about_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "app/shell/program_title.h"
#include "platform/help.h"
#include "platform/services.h"
#include "ui/shell/hyperlink_static.h"

#ifndef TAMSEL_BUILD_DATE
#define TAMSEL_BUILD_DATE "unknown"
#endif

namespace {

const char* const kFormats[] = {
    "  MPEG-2 Video Streams",    "  MPEG-2 Program Streams", "  MPEG-2 Transport Streams",
    "  MPEG-1 Video Streams",    "  MPEG-1 System Streams",  "  AC-3 Audio Streams",
    "  DVD Movie (VOB) Files",   " JPEG and Windows Bitmap Images", " Linear PCM in MPEG-2 Program Streams",
};

}  // namespace

std::string about_link_target() {
  const std::string file = help_page_file(platform().paths->data_folder(), "help.chm::/htm/chap00-1.htm");
  return file.empty() ? std::string() : QUrl::fromLocalFile(QString::fromStdString(file)).toString().toStdString();
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("d100"));
  const QString title = QString::fromStdString(program_title());
  setWindowTitle(title);
  setWindowIcon(QIcon(QStringLiteral(":/icons/tamsel.svg")));

  auto* layout = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/icons/tamsel.svg")).pixmap(48, 48));
  top->addWidget(icon);
  auto* names = new QVBoxLayout;
  auto* name = new QLabel(title, this);
  name->setObjectName(QStringLiteral("c1011"));
  names->addWidget(name);
  auto* date = new QLabel(QStringLiteral("[ build %1 ]").arg(QLatin1String(TAMSEL_BUILD_DATE)), this);
  date->setObjectName(QStringLiteral("c1010"));
  date->setVisible(true);
  names->addWidget(date);
  top->addLayout(names, 1);
  layout->addLayout(top);

  auto* group = new QGroupBox(QStringLiteral(" Supported Video and Audio Formats:  "), this);
  auto* boxes = new QVBoxLayout(group);
  int id = 1001;
  for (const char* f : kFormats) {
    auto* box = new QCheckBox(QString::fromLatin1(f), group);
    box->setObjectName(QStringLiteral("c%1").arg(id++));
    box->setChecked(true);
    box->setEnabled(false);
    boxes->addWidget(box);
  }
  layout->addWidget(group);

  link_ = new HyperLinkStatic(QStringLiteral("MPEG-Tamsel help"), this);
  link_->setObjectName(QStringLiteral("c1000"));
  link_->set_target(about_link_target());
  layout->addWidget(link_);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("c1"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}
