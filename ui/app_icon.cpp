#include "ui/app_icon.h"

#include <QPainter>
#include <QPainterPath>

namespace {

// A phone with a downward arrow: something is being written into it.
QPixmap Draw(int size) {
  QPixmap image(size, size);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 32.0, size / 32.0);
  p.setPen(QPen(QColor(0x20, 0x30, 0x40), 1.5));
  p.setBrush(QColor(0x2b, 0x6c, 0xb0));
  p.drawRoundedRect(QRectF(7, 2, 18, 28), 3, 3);
  p.setBrush(QColor(0xe8, 0xf1, 0xfa));
  p.drawRect(QRectF(9.5, 5, 13, 19));
  QPainterPath arrow;
  arrow.moveTo(14, 7);
  arrow.lineTo(18, 7);
  arrow.lineTo(18, 14);
  arrow.lineTo(21, 14);
  arrow.lineTo(16, 20);
  arrow.lineTo(11, 14);
  arrow.lineTo(14, 14);
  arrow.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xe0, 0x5a, 0x1e));
  p.drawPath(arrow);
  p.setBrush(QColor(0xe8, 0xf1, 0xfa));
  p.drawEllipse(QPointF(16, 27), 1.5, 1.5);
  return image;
}

}  // namespace

QIcon AppIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) icon.addPixmap(Draw(size));
  return icon;
}
