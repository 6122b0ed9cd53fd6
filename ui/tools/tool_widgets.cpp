#include "ui/tools/tool_widgets.h"

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
