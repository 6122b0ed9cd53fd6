#include "ui/shell/frame_view.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

#include "app/shell/ieditor.h"
#include "ui/shell/dib_image.h"

FrameView::FrameView(IEditor* editor, QWidget* parent) : QWidget(parent), editor_(editor) {
  setObjectName(QStringLiteral("frame_view"));
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QSize FrameView::sizeHint() const {
  int w = 352, h = 240;
  if (editor_) {
    if (const BitmapInfo* info = editor_->get_decoded_image_dib_header()) {
      w = std::max(w, int(info->header.biWidth));
      h = std::max(h, std::abs(int(info->header.biHeight)));
    }
  }
  return {w, h};
}

void FrameView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QImage image;
  if (editor_) {
    const uint8_t* bits = editor_->get_decoded_image_dib_data();
    image = dib_to_image(editor_->get_decoded_image_dib_header(), bits);
  }
  if (image.isNull()) {
    p.fillRect(rect(), QColor(0x80, 0x80, 0x80));
    return;
  }
  p.drawImage(rect(), image);
}
