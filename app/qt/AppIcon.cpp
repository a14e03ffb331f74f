#include "app/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace tarvok {
namespace {

// A chip with pins on two sides and a downward arrow: an image going into flash.
QPixmap DrawIcon(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  const double unit = size / 16.0;
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x9a, 0xa4, 0xae));
  for (int pin = 0; pin < 4; ++pin) {
    const double y = (3.0 + pin * 3.0) * unit;
    painter.drawRect(QRectF(0.5 * unit, y, 2.0 * unit, 1.2 * unit));
    painter.drawRect(QRectF(13.5 * unit, y, 2.0 * unit, 1.2 * unit));
  }
  painter.setBrush(QColor(0x1f, 0x3b, 0x57));
  painter.drawRoundedRect(QRectF(2.5 * unit, 1.5 * unit, 11 * unit, 13 * unit), 1.5 * unit,
                          1.5 * unit);
  QPainterPath arrow;
  arrow.moveTo(6.5 * unit, 3.5 * unit);
  arrow.lineTo(9.5 * unit, 3.5 * unit);
  arrow.lineTo(9.5 * unit, 7.5 * unit);
  arrow.lineTo(11.5 * unit, 7.5 * unit);
  arrow.lineTo(8.0 * unit, 11.5 * unit);
  arrow.lineTo(4.5 * unit, 7.5 * unit);
  arrow.lineTo(6.5 * unit, 7.5 * unit);
  arrow.closeSubpath();
  painter.setBrush(QColor(0xf5, 0xa6, 0x23));
  painter.drawPath(arrow);
  painter.setBrush(QColor(0x7f, 0xd3, 0x8c));
  painter.drawRect(QRectF(4.5 * unit, 12.2 * unit, 7 * unit, 1.2 * unit));
  return pixmap;
}

}  // namespace

QIcon MakeAppIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addPixmap(DrawIcon(size));
  }
  return icon;
}

}  // namespace tarvok
