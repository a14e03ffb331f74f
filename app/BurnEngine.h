// Burns one chip as a request asks: opens and configures the port, wakes the boot ROM and
// downloads the RAM loader, streams the image, puts the port back and closes it, and says
// what came of it. Every front end burns through here.
//
//   tarvok::BurnRequest request;
//   request.portName = request.devicePath = "/dev/ttyUSB0";
//   request.image = image;  // a FlashImage read with ReadImage
//   tarvok::BurnOutcome outcome = tarvok::Burn(request, sink);
//
// It runs on the calling thread and returns when the chip has been left alone; the sink hears
// of progress on that thread. A stop through the request's token ends the burn at the next
// byte boundary: nothing more is sent, the port is set back to its settings and closed, and
// the outcome says "interrupted".
#pragma once

#include "app/PortSetup.h"
#include "burn/BurnRequest.h"

namespace tarvok {

BurnOutcome Burn(const BurnRequest& request, BurnProgressSink& sink,
                 const DeviceOpener& open = OpenSerialDevice);

}  // namespace tarvok
