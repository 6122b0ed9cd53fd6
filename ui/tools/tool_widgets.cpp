#include "ui/tools/tool_widgets.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

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
