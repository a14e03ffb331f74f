// tarvok-write-icons DIR: writes the application icon into DIR as a hicolor icon theme
// holds it: DIR/16x16/apps/tarvok.png, 32x32, 48x48 and DIR/scalable/apps/tarvok.svg.
#include <QDir>
#include <QFile>
#include <QString>
#include <cstdio>

#include "app/qt/AppIcon.h"

namespace {

bool WriteFile(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarvok-write-icons DIR\n");
    return 2;
  }
  const QDir theme(QString::fromLocal8Bit(argv[1]));
  for (const int size : {16, 32, 48}) {
    const QString apps = QString("%1x%1/apps").arg(size);
    if (!theme.mkpath(apps) ||
        !tarvok::DrawAppIcon(size).save(theme.filePath(apps + "/tarvok.png"))) {
      std::fprintf(stderr, "tarvok-write-icons: cannot write the %d px icon\n", size);
      return 1;
    }
  }
  if (!theme.mkpath("scalable/apps") ||
      !WriteFile(theme.filePath("scalable/apps/tarvok.svg"), tarvok::AppIconSvg())) {
    std::fprintf(stderr, "tarvok-write-icons: cannot write the scalable icon\n");
    return 1;
  }
  return 0;
}
