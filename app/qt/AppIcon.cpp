#include "app/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <vector>

namespace tarvok {
namespace {

struct Shape {
  QColor color;
  QPainterPath outline;  // on a 16-unit square
};

QPainterPath Rect(double x, double y, double width, double height) {
  QPainterPath path;
  path.addRect(QRectF(x, y, width, height));
  return path;
}

// A chip with pins on two sides and a downward arrow: an image going into flash.
std::vector<Shape> IconShapes() {
  std::vector<Shape> shapes;
  const QColor pinColor(0x9a, 0xa4, 0xae);
  for (int pin = 0; pin < 4; ++pin) {
    const double y = 3.0 + pin * 3.0;
    shapes.push_back({pinColor, Rect(0.5, y, 2.0, 1.2)});
    shapes.push_back({pinColor, Rect(13.5, y, 2.0, 1.2)});
  }
  QPainterPath body;
  body.addRoundedRect(QRectF(2.5, 1.5, 11, 13), 1.5, 1.5);
  shapes.push_back({QColor(0x1f, 0x3b, 0x57), body});
  QPainterPath arrow;
  arrow.moveTo(6.5, 3.5);
  arrow.lineTo(9.5, 3.5);
  arrow.lineTo(9.5, 7.5);
  arrow.lineTo(11.5, 7.5);
  arrow.lineTo(8.0, 11.5);
  arrow.lineTo(4.5, 7.5);
  arrow.lineTo(6.5, 7.5);
  arrow.closeSubpath();
  shapes.push_back({QColor(0xf5, 0xa6, 0x23), arrow});
  shapes.push_back({QColor(0x7f, 0xd3, 0x8c), Rect(4.5, 12.2, 7, 1.2)});
  return shapes;
}

// An outline as SVG path data: moves, lines and cubic curves.
QByteArray SvgPathData(const QPainterPath& path) {
  QByteArray data;
  const auto point = [](const QPainterPath::Element& e) {
    return QByteArray::number(e.x, 'g', 6) + ' ' + QByteArray::number(e.y, 'g', 6);
  };
  for (int i = 0; i < path.elementCount(); ++i) {
    const QPainterPath::Element e = path.elementAt(i);
    if (e.isMoveTo()) {
      data += (data.isEmpty() ? "M" : " Z M") + point(e);
    } else if (e.isLineTo()) {
      data += " L" + point(e);
    } else if (e.isCurveTo() && i + 2 < path.elementCount()) {
      data +=
          " C" + point(e) + ' ' + point(path.elementAt(i + 1)) + ' ' + point(path.elementAt(i + 2));
      i += 2;
    }
  }
  return data + " Z";
}

}  // namespace

QImage DrawAppIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  for (const Shape& shape : IconShapes()) {
    painter.fillPath(shape.outline, shape.color);
  }
  return image;
}

QByteArray AppIconSvg() {
  QByteArray svg =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"48\" "
      "viewBox=\"0 0 16 16\">\n";
  for (const Shape& shape : IconShapes()) {
    svg += "  <path fill=\"" + shape.color.name().toLatin1() + "\" d=\"" +
           SvgPathData(shape.outline) + "\"/>\n";
  }
  return svg + "</svg>\n";
}

QIcon MakeAppIcon() {
  QIcon icon;
  for (const int size : {16, 32, 48}) {
    icon.addPixmap(QPixmap::fromImage(DrawAppIcon(size)));
  }
  return icon;
}

}  // namespace tarvok
