#include "ui/shell/hyperlink_static.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include "platform/services.h"

namespace {

bool g_visited = false;

}  // namespace

HyperLinkStatic::HyperLinkStatic(const QString& text, QWidget* parent) : QLabel(text, parent) {
  QFont f = font();
  f.setUnderline(true);
  setFont(f);
  setCursor(Qt::PointingHandCursor);
}

bool HyperLinkStatic::visited() { return g_visited; }

void HyperLinkStatic::reset_visited() { g_visited = false; }

QColor HyperLinkStatic::link_colour() const { return QColor(g_visited ? kVisited : kUnvisited); }

bool HyperLinkStatic::open() {
  if (target_.empty()) target_ = text().toStdString();
  Desktop* desktop = platform().desktop;
  if (target_.empty() || !desktop || !desktop->open_url(target_)) {
    QApplication::beep();
    return false;
  }
  g_visited = true;
  // Every link of the program changes colour, not only this one.
  for (QWidget* w : QApplication::allWidgets())
    if (qobject_cast<HyperLinkStatic*>(w)) w->update();
  return true;
}

void HyperLinkStatic::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
    open();
  else
    QLabel::mouseReleaseEvent(event);
}

void HyperLinkStatic::paintEvent(QPaintEvent* event) {
  // A picture or an empty label keeps the label's own drawing.
  if (text().isEmpty()) {
    QLabel::paintEvent(event);
    return;
  }
  QPainter p(this);
  p.setFont(font());
  p.setPen(link_colour());
  p.drawText(contentsRect(), static_cast<int>(alignment()), text());
}
