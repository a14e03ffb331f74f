// Tarvok's own icon, drawn at 16, 32 and 48 pixels.
#pragma once

#include <QIcon>

namespace tarvok {

QIcon MakeAppIcon();

}  // namespace tarvok
