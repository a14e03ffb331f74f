// Tarvok as a library: what a program of its own needs to burn a TR7340 chip.
//
//   #include <tarvok/tarvok.h>
//
// A BurnRequest (the port, the line settings, the image, the loader, a stop token) handed to
// Burn(), which reports progress to a BurnProgressSink and returns a BurnOutcome; the ports
// the machine has (PortDiscovery.h); an image read from its file (ImageFile.h) and a loader
// (BurnFiles.h); and the words for an image and an outcome, for a program that shows them.
// Link libtarvok.a: find_package(Tarvok) gives Tarvok::tarvok, pkg-config names it tarvok.
#pragma once

#include "app/BurnEngine.h"
#include "app/ImageText.h"
#include "app/OutcomeText.h"
#include "burn/BurnFiles.h"
#include "burn/BurnRequest.h"
#include "burn/FlashImage.h"
#include "burn/ImageFile.h"
#include "burn/ImageLayout.h"
#include "serial/PortDiscovery.h"
