#include "eval/network/embedded_network.h"

// Placeholder until the generated network block is in place: an empty block,
// which the loader refuses.
const uint8_t EmbeddedNetworkBlock[1] = {0};
const size_t EmbeddedNetworkBlockSize = 0;
