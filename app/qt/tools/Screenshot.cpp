// tarvok-screenshot: shows the dialog burning an image into a simulated chip and saves a
// picture of it in the middle of the burn. Run it under a display (Xvfb will do):
//   tarvok-screenshot OUTPUT.png [PERCENT]
#include <QApplication>
#include <QComboBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <random>

#include "app/qt/TarvokDlg.h"
#include "sim/PtyChip.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: tarvok-screenshot OUTPUT.png [PERCENT]\n";
    return 2;
  }
  const QString output = argv[1];
  const int atPercent = argc > 2 ? std::atoi(argv[2]) : 60;

  tarvok::sim::PtyChipOptions options;
  options.wire.throttle = true;
  std::string error;
  const auto chip = tarvok::sim::PtyChip::Start(options, &error);
  if (!chip) {
    std::cerr << error << "\n";
    return 1;
  }
  setenv("TARVOK_EXTRA_PORTS", chip->Path().c_str(), 1);
  const std::string image = "/tmp/tarvok-screenshot-firmware.bin";
  {
    std::mt19937 random(7);
    std::ofstream out(image, std::ios::binary);
    for (int k = 0; k < 3 * 1024 * 1024; ++k)
      out.put(static_cast<char>(random()));
  }

  QApplication app(argc, argv);
  tarvok::CTarvokDlg dialog;
  dialog.SetFileChooser([&image](QWidget*) { return image; });
  dialog.show();
  dialog.portList->setCurrentIndex(dialog.portList->count() - 1);
  dialog.openButton->click();
  dialog.burnButton->click();

  int status = 1;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (dialog.progressBar->value() >= atPercent) {
      poll.stop();
      const QPixmap shot = dialog.screen()->grabWindow(dialog.winId());
      status = shot.save(output) ? 0 : 1;
      std::cout << "saved " << output.toStdString() << " at " << dialog.progressBar->value() << " %"
                << std::endl;
      std::_Exit(status);  // the burn need not finish for the picture
    }
  });
  poll.start(100);
  app.exec();
  return status;
}
