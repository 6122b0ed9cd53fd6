// The tool windows' controls by object name, for their widget tests.
#pragma once

#include <QString>
#include <QWidget>

template <class W>
W* child(QWidget* w, const char* name) {
  return w->findChild<W*>(QString::fromLatin1(name));
}
