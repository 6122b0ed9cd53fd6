#include "ui/tools/tool_widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QComboBox>
#include <QPushButton>
#include <cstdio>

QPushButton* tool_button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(QString::fromLatin1(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

void tell_closed_once(std::function<void()>* closed) {
  if (!*closed) return;
  auto call = std::move(*closed);
  *closed = nullptr;
  call();
}

void add_file_row(QGridLayout* grid, int row, const char* label, QWidget* parent, const char* edit_name,
                  QLineEdit** edit, const char* browse_name, QPushButton** browse) {
  *edit = new QLineEdit(parent);
  (*edit)->setObjectName(QString::fromLatin1(edit_name));
  *browse = tool_button("...", browse_name, parent);
  grid->addWidget(new QLabel(QString::fromLatin1(label), parent), row, 0);
  grid->addWidget(*edit, row, 1);
  grid->addWidget(*browse, row, 2);
}

void fill_disk_list(QComboBox* box, const std::vector<Volume>& disks, int index) {
  box->clear();
  for (const Volume& v : disks) {
    char t[300];
    std::snprintf(t, sizeof t, "%s %6.1f MB", v.mount.c_str(), v.free_bytes * 1e-6);
    box->addItem(QString::fromUtf8(t));
  }
  if (index < box->count()) box->setCurrentIndex(index);
}
