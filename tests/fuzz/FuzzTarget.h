// What each fuzz target writes: one run against the scripted line, from the input's decisions.
// The shared entry point (FuzzTarget.cpp) takes the input's first decision, what the far end
// does once the script has run out, and hands the rest to the target.
#pragma once

#include "tests/fuzz/FuzzInput.h"
#include "tests/fuzz/ScriptedLine.h"

namespace tarvok::fuzz {

// Defined once by every target; a broken property aborts through Require.
void RunTarget(FuzzInput& input, WhenScriptEnds end);

}  // namespace tarvok::fuzz
