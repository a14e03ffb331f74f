// The image table of tarvok-bench: how long reading an image file takes in each form, and how
// much memory it needs beyond the process's own.
#pragma once

namespace tarvok::bench {

void PrintImageTable();

}  // namespace tarvok::bench
