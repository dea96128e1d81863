// The process-wide owner of the evaluation network: which network is loaded,
// from where, and the messages that tell the front-end about it.
#pragma once

#include "eval/network/network.h"

// Loads the network that "WeightsFile" names, or the built-in one when it is
// empty, and reports the outcome: successes on standard output, errors on
// standard error. Nothing happens when a network is loaded and the name is the
// one of the last attempt. A missing file keeps the network in place; a file
// in the wrong format, or a built-in block that fails, leaves none. Called at
// start-up and by the "WeightsFile" option.
void loadNetwork();

// The network the evaluation uses, or null when none is loaded.
const Network* currentNetwork();

// Destroys the network at shut-down and forgets the last name tried.
void releaseNetwork();
