// tarvok-station --self-test: two simulated fixtures, each seeing three boards in turn on a
// port of its own, run through the real window offscreen; the tiles, the records list and the
// log are checked once every board has passed and left, then one tile's Stop must stop its port
// alone.
#pragma once

#include <string>

namespace tarvok {

// The exit status: 0 when every check held, 1 after saying on standard error which did not.
// With `screenshot` the window is pictured there in the middle of a burn.
int RunStationSelfTest(int argc, char** argv, const std::string& screenshot);

}  // namespace tarvok
