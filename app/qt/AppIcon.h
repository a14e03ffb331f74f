// Tarvok's own icon: the window's icon at 16, 32 and 48 pixels, and the same drawing as
// pictures for the desktop's icon theme.
#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace tarvok {

QIcon MakeAppIcon();

// The icon drawn into a square of size by size pixels.
QImage DrawAppIcon(int size);

// The icon as an SVG document, 16 units square, from the same shapes.
QByteArray AppIconSvg();

}  // namespace tarvok
