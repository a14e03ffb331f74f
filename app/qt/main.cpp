// tarvok-gui: the Tarvok dialog.
#include "app/qt/TarvokApp.h"

int main(int argc, char** argv) {
  tarvok::CTarvokApp app(argc, argv);
  app.InitInstance();
  return 0;
}
